#include "common/progress.h"

#include "common/status.h"

namespace acekit {

uint32_t ReportProgress(ProgressState& state, int32_t done, int32_t total) {
  if (!state.hook) return kOk;
  if (state.pending_phase != 0) {
    state.hook.Call(state.pending_phase, 0);
    state.pending_phase = 0;
  }
  int64_t p = done;
  int64_t s = total;
  while (p >= 0x1400000) {
    p >>= 1;
    s >>= 1;
  }
  // An empty total has no meaningful percentage; report it as complete.
  const int32_t percent = s != 0 ? static_cast<int32_t>(p * 100 / s) : 100;
  const int32_t delta = static_cast<int32_t>(static_cast<uint32_t>(done) -
                                             static_cast<uint32_t>(state.last_reported));
  const int32_t answer = state.hook.Call(percent, delta);
  state.last_reported = done;
  return answer == 0 ? kCancelled : kOk;
}

}  // namespace acekit
