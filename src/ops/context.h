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
  ArcState& arc;
  Settings& settings;
  const HostHooks& hooks;
  int32_t* arc_info;        // 23 words, filled when an entry walk computes them
  int32_t* extra_features;  // 12 words; word 2 asks every walk for arc_info
};

// Stores an operation's failure in the status word. False, so that a step
// that returns whether it succeeded can end with `return Fail(...)`.
inline bool Fail(ArcState& arc, Status status) {
  arc.status = status;
  return false;
}
inline bool Fail(const Context& ctx, Status status) {
  return Fail(ctx.arc, status);
}

}  // namespace acekit::ops
