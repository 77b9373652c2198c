#include "common/progress.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "common/status.h"

namespace acekit {
namespace {

using Seen = std::vector<std::pair<int32_t, int32_t>>;

struct Calls {
  Seen seen;
  int32_t answer = 1;
};

int32_t Record(ArcContext ctx, int32_t percent, int32_t bytes) {
  auto* c = reinterpret_cast<Calls*>(ctx);
  c->seen.emplace_back(percent, bytes);
  return c->answer;
}

// Counts from 20 MB up are halved together before the 32-bit product; the
// byte count passed along stays unscaled.
TEST(ReportProgress, ScalesLargeCounts) {
  const int32_t cases[][3] = {
      {1000, 4000, 25},          {0x13FFFFF, 0x2800000, 49},    {0x1400001, 0x2800000, 50},
      {41943041, 41943043, 100}, {0x7FFFFFFF, 0x7FFFFFFF, 100}, {0, 0, 100}};
  for (const auto& c : cases) {
    Calls calls;
    ProgressState st;
    st.hook = {Record, reinterpret_cast<ArcContext>(&calls)};
    EXPECT_EQ(ReportProgress(st, c[0], c[1]), kOk);
    EXPECT_EQ(calls.seen, (Seen{{c[2], c[0]}})) << c[0] << " of " << c[1];
  }
}

TEST(ReportProgress, PhaseOnceThenDeltasAndCancel) {
  Calls calls;
  ProgressState st;
  st.hook = {Record, reinterpret_cast<ArcContext>(&calls)};
  st.pending_phase = -2;
  EXPECT_EQ(ReportProgress(st, 100, 400), kOk);
  EXPECT_EQ(ReportProgress(st, 300, 400), kOk);
  calls.answer = 0;
  EXPECT_EQ(ReportProgress(st, 400, 400), kCancelled);
  EXPECT_EQ(calls.seen, (Seen{{-2, 0}, {25, 100}, {75, 200}, {100, 100}}));
}

}  // namespace
}  // namespace acekit
