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
    testing::Values(
        SortCase{"AllEqualReverses", {3, 3, 3, 3}, {3, 3, 3, 3}, {3, 2, 1, 0}},
        // Equal lengths do not keep a symbol order either way, so
        // no counting sort can stand in for the steps.
        SortCase{"FiveEqualInNoSymbolOrder", {3, 3, 3, 3, 3}, {3, 3, 3, 3, 3}, {2, 3, 0, 1, 4}},
        SortCase{"Interleaved", {1, 2, 1, 2, 1}, {2, 2, 1, 1, 1}, {3, 1, 4, 2, 0}},
        SortCase{"ZerosSinkToTheEnd", {0, 5, 0, 5, 3}, {5, 5, 3, 0, 0}, {3, 1, 4, 2, 0}},
        SortCase{"FinalPairSwap", {2, 1, 3, 3}, {3, 3, 2, 1}, {3, 2, 0, 1}},
        SortCase{"SingleEntryUntouched", {7}, {7}, {0}}),
    [](const testing::TestParamInfo<SortCase>& info) { return std::string(info.param.name); });

// Inputs shaped like real code sets (long runs of one length, many unused
// symbols) and plain random ones, at every size an alphabet can have.
TEST(SortByLength, MatchesTheStepsOnRandomInputs) {
  std::mt19937 rng(31);
  for (int round = 0; round < 20000; ++round) {
    const int n = 1 + static_cast<int>(rng() % 520);
    const uint32_t spread = 1 + rng() % 16;
    const uint32_t zero_share = rng() % 101;  // percent
    const uint32_t run_share = rng() % 101;   // percent of entries repeating the previous length
    std::vector<uint8_t> l(static_cast<size_t>(n) + 1);
    for (size_t i = 0; i < l.size(); ++i) {
      if (i > 0 && rng() % 100 < run_share) {
        l[i] = l[i - 1];
      } else {
        l[i] = rng() % 100 < zero_share ? 0 : static_cast<uint8_t>(1 + rng() % spread);
      }
    }
    std::vector<uint16_t> s(l.size());
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint16_t>(i);
    std::vector<uint8_t> want_l = l;
    std::vector<uint16_t> want_s = s;
    SortByLengthSteps(want_l.data(), want_s.data(), 0, n);
    SortByLength(l.data(), s.data(), n);
    ASSERT_EQ(l, want_l) << round;
    ASSERT_EQ(s, want_s) << round;
  }
}

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

// The table builder's variants must agree with the full sort wherever a
// table can look: every length, entry 0 and each symbol that has a code.
// Alphabets mostly without codes are the case they are there for.
TEST(SortUsedByLength, AgreesWithTheFullSortWhereTablesLook) {
  std::mt19937 rng(23);
  for (int round = 0; round < 20000; ++round) {
    const int n = static_cast<int>(rng() % 520);
    const uint32_t spread = 1 + rng() % 16;
    const uint32_t zero_share = rng() % 101;  // percent
    std::vector<uint8_t> full(static_cast<size_t>(n) + 1);
    for (uint8_t& v : full) v = rng() % 100 < zero_share ? 0 : static_cast<uint8_t>(rng() % spread);
    std::vector<uint8_t> used = full;
    std::vector<uint16_t> fs(full.size());
    for (size_t i = 0; i < fs.size(); ++i) fs[i] = static_cast<uint16_t>(i);
    std::vector<uint16_t> us = fs;
    std::vector<uint32_t> keys(full.size());
    for (size_t i = 0; i < keys.size(); ++i) keys[i] = static_cast<uint32_t>(full[i]) << 16 | i;
    SortByLength(full.data(), fs.data(), n);
    SortUsedByLength(used.data(), us.data(), n);
    SortUsedKeys(keys.data(), n);
    ASSERT_EQ(used, full) << round;
    ASSERT_EQ(us[0], fs[0]) << round;
    ASSERT_EQ(keys[0] & 0xFFFF, fs[0]) << round;
    for (size_t i = 0; i < full.size(); ++i) {
      ASSERT_EQ(keys[i] >> 16, full[i]) << round << " at " << i;
      if (full[i] != 0) {
        ASSERT_EQ(us[i], fs[i]) << round << " at " << i;
        ASSERT_EQ(keys[i] & 0xFFFF, fs[i]) << round << " at " << i;
      }
    }
    std::sort(us.begin(), us.end());
    for (size_t i = 0; i < us.size(); ++i) ASSERT_EQ(us[i], i);
  }
}

}  // namespace
}  // namespace acekit
