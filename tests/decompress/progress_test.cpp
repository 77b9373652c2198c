#include "decompress/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "api/status.h"

namespace acekit {
namespace {

struct Calls {
  std::vector<std::pair<int32_t, int32_t>> seen;
  int32_t answer = 1;
};

int32_t Record(ArcContext ctx, int32_t percent, int32_t bytes) {
  auto* c = reinterpret_cast<Calls*>(ctx);
  c->seen.emplace_back(percent, bytes);
  return c->answer;
}

struct PercentCase {
  const char* name;
  int32_t done;
  int32_t total;
  int32_t percent;
};

class ReportPercent : public testing::TestWithParam<PercentCase> {};

// Counts from 20 MB up are halved together before the 32-bit product; the
// byte count passed along stays unscaled.
TEST_P(ReportPercent, ScalesLargeCounts) {
  const PercentCase& c = GetParam();
  Calls calls;
  ProgressState st;
  st.hook = {Record, reinterpret_cast<ArcContext>(&calls)};
  EXPECT_EQ(ReportProgress(st, c.done, c.total), kOk);
  ASSERT_EQ(calls.seen.size(), 1u);
  EXPECT_EQ(calls.seen[0], std::make_pair(c.percent, c.done));
}

INSTANTIATE_TEST_SUITE_P(
    Counts, ReportPercent,
    testing::Values(PercentCase{"Small", 1000, 4000, 25},
                    PercentCase{"JustBelowHalving", 0x13FFFFF, 0x2800000, 49},
                    PercentCase{"HalvedOnce", 0x1400001, 0x2800000, 50},
                    PercentCase{"HalvedUntilItFits", 0x7FFFFFFF, 0x7FFFFFFF, 100},
                    PercentCase{"EmptyTotal", 0, 0, 100}),
    [](const testing::TestParamInfo<PercentCase>& info) { return std::string(info.param.name); });

TEST(ReportProgress, PhaseOnceThenDeltasAndCancel) {
  Calls calls;
  ProgressState st;
  st.hook = {Record, reinterpret_cast<ArcContext>(&calls)};
  st.pending_phase = -2;
  EXPECT_EQ(ReportProgress(st, 100, 400), kOk);
  EXPECT_EQ(ReportProgress(st, 300, 400), kOk);
  calls.answer = 0;
  EXPECT_EQ(ReportProgress(st, 400, 400), kCancelled);
  using P = std::pair<int32_t, int32_t>;
  EXPECT_EQ(calls.seen, (std::vector<P>{{-2, 0}, {25, 100}, {75, 200}, {100, 100}}));
}

TEST(ReportProgress, NoProcedureNeverCancels) {
  ProgressState st;
  EXPECT_EQ(ReportProgress(st, 5, 10), kOk);
}

}  // namespace
}  // namespace acekit
