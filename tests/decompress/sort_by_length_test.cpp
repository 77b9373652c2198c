#include "decompress/sort_by_length.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace acekit {
namespace {

struct SortCase {
  const char* name;
  std::vector<uint8_t> lengths;
  std::vector<uint8_t> sorted;
  std::vector<uint16_t> symbols;  // the order among equal lengths is part of the format
};

class SortByLengthExact : public testing::TestWithParam<SortCase> {};

TEST_P(SortByLengthExact, LeavesTheFormatsOrder) {
  const SortCase& c = GetParam();
  std::vector<uint8_t> l = c.lengths;
  std::vector<uint16_t> s(l.size());
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint16_t>(i);
  SortByLength(l.data(), s.data(), static_cast<int>(l.size()) - 1);
  EXPECT_EQ(l, c.sorted);
  EXPECT_EQ(s, c.symbols);
}

INSTANTIATE_TEST_SUITE_P(
    HandTraced, SortByLengthExact,
    testing::Values(SortCase{"AllEqualReverses", {3, 3, 3, 3}, {3, 3, 3, 3}, {3, 2, 1, 0}},
                    SortCase{"Interleaved", {1, 2, 1, 2, 1}, {2, 2, 1, 1, 1}, {3, 1, 4, 2, 0}},
                    SortCase{
                        "ZerosSinkToTheEnd", {0, 5, 0, 5, 3}, {5, 5, 3, 0, 0}, {3, 1, 4, 2, 0}},
                    SortCase{"FinalPairSwap", {2, 1, 3, 3}, {3, 3, 2, 1}, {3, 2, 0, 1}},
                    SortCase{"SingleEntryUntouched", {7}, {7}, {0}}),
    [](const testing::TestParamInfo<SortCase>& info) { return std::string(info.param.name); });

// Alphabet-sized random inputs: always a non-increasing permutation, and the
// ranges never step outside 0..n.
TEST(SortByLength, RandomInputsSortAndPermute) {
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    // A few inputs beyond any alphabet of the format take the unpacked path.
    const int n = static_cast<int>(round % 100 == 0 ? 1024 + rng() % 500 : rng() % 300);
    const uint32_t spread = 1 + rng() % 16;
    std::vector<uint8_t> l(static_cast<size_t>(n) + 1);
    std::vector<uint16_t> s(l.size());
    for (size_t i = 0; i < l.size(); ++i) {
      l[i] = static_cast<uint8_t>(rng() % spread);
      s[i] = static_cast<uint16_t>(i);
    }
    const std::vector<uint8_t> original = l;
    SortByLength(l.data(), s.data(), n);
    ASSERT_TRUE(std::is_sorted(l.rbegin(), l.rend()));
    for (size_t i = 0; i < l.size(); ++i) ASSERT_EQ(l[i], original[s[i]]);
    std::sort(s.begin(), s.end());
    for (size_t i = 0; i < s.size(); ++i) ASSERT_EQ(s[i], i);
  }
}

}  // namespace
}  // namespace acekit
