// What an archive operation works with. The api layer builds one from the
// process-wide state for each export call; tests build their own, so every
// operation can run against a state that no other test shares.
#pragma once

#include <cstdint>

#include "common/callbacks.h"
#include "common/status.h"
#include "format/arc_state.h"

namespace acekit::ops {

// Words of the extra-features block that change what operations do.
inline constexpr int kReadComments = 1;  // 1: entry walks read file comments
inline constexpr int kComputeInfo = 2;   // 1: every walk computes arc_info

struct Context {
  format::ArcState& arc;
  format::Settings& settings;
  const HostHooks& hooks;
  int32_t* arc_info;        // 23 words, filled when an entry walk computes them
  int32_t* extra_features;  // 12 words; word 2 asks every walk for arc_info
};

// Operations return their Status; the caller that owns the status word (an
// export, the handle interface, a test) stores it. The entry walk is the
// exception: it keeps its status in the word, where a status left over
// from an earlier call ends the next walk at once.
//
// A run the host's skip procedure ended without a failure: the operation
// stops short of finishing its archive but leaves the status word 0.
inline constexpr Status kStopped = static_cast<Status>(UINT32_MAX - 2);

// What an operation that may be stopped that way leaves in the status word.
inline Status Finished(Status status) {
  return status == kStopped ? kOk : status;
}

}  // namespace acekit::ops
