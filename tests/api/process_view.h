// The state behind the exports, for tests that check what a call left in it
// (which settings survive which reset, what a path was stored as). Seen as
// the Context an operation works on, so that no test reaches into the api
// layer's own headers; the api layer defines it over its one state object.
#pragma once

#include <cstdint>
#include <span>

#include "ops/context.h"

namespace acekit::testing {

ops::Context ProcessState();

// The 23 words of arc_info the exports keep.
inline std::span<const int32_t, 23> ArcInfoWords() {
  return std::span<const int32_t, 23>(ProcessState().arc_info, 23);
}

}  // namespace acekit::testing
