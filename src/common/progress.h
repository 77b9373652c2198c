// Progress reports to the host while an entry is decoded, with the host's
// chance to cancel. The caller owns the state; nothing here is process-wide.
#pragma once

#include <cstdint>

#include "common/callbacks.h"

namespace acekit {

struct ProgressState {
  ProgressHook hook;          // empty: reports are skipped
  int32_t pending_phase = 0;  // set by an operation (-1, -2) to announce a phase
  int32_t last_reported = 0;  // `done` at the previous report
};

// Tells the host how far `done` of `total` bytes have come. The percentage is
// computed in 32-bit signed arithmetic; counts of 20 MB and more are halved
// together until they fit, so the product cannot overflow. A pending phase is
// announced first, as (phase, 0). Returns kCancelled when the host answers 0,
// kOk otherwise (also when no procedure is registered).
uint32_t ReportProgress(ProgressState& state, int32_t done, int32_t total);

}  // namespace acekit
