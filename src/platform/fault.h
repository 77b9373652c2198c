// The fault-injection seam (internal). A primitive that can be made to fail
// asks FaultFires() once per call; unarmed that is one load and one branch
// that is almost never taken.
#pragma once

#include "platform/platform.h"

namespace acekit::platform::detail {

// True once a test has called ArmFault or DisarmFaults: from then on calls
// are counted and the armed countdowns run. Never set in production use.
extern bool g_fault_active;

// Counts the call and tells whether it is the armed one (which disarms it).
bool FaultHit(Fault which);

inline bool FaultFires(Fault which) {
  if (__builtin_expect(g_fault_active, false)) return FaultHit(which);
  return false;
}

}  // namespace acekit::platform::detail
