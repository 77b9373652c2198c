#include "common/sort_by_length.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace acekit {
namespace {

std::vector<uint16_t> Identity(size_t n) {
  std::vector<uint16_t> s(n);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<uint16_t>(i);
  return s;
}

// The order among equal lengths is part of the format: traced by hand.
TEST(SortByLength, LeavesTheFormatsOrder) {
  struct Case {
    std::vector<uint8_t> lengths, sorted;
    std::vector<uint16_t> symbols;
  };
  const Case cases[] = {
      {{3, 3, 3, 3}, {3, 3, 3, 3}, {3, 2, 1, 0}},
      // Equal lengths keep no symbol order either way, so no counting sort
      // can stand in for the steps.
      {{3, 3, 3, 3, 3}, {3, 3, 3, 3, 3}, {2, 3, 0, 1, 4}},
      {{1, 2, 1, 2, 1}, {2, 2, 1, 1, 1}, {3, 1, 4, 2, 0}},
      {{0, 5, 0, 5, 3}, {5, 5, 3, 0, 0}, {3, 1, 4, 2, 0}},
      {{2, 1, 3, 3}, {3, 3, 2, 1}, {3, 2, 0, 1}},
      {{7}, {7}, {0}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> l = c.lengths;
    std::vector<uint16_t> s = Identity(l.size());
    SortByLength(l.data(), s.data(), static_cast<int>(l.size()) - 1);
    EXPECT_EQ(l, c.sorted);
    EXPECT_EQ(s, c.symbols);
  }
}

// Inputs shaped like real code sets (long runs of one length, many unused
// symbols) and plain random ones, at every size an alphabet can have and a
// few beyond, which take the unpacked path.
TEST(SortByLength, MatchesTheStepsOnRandomInputs) {
  std::mt19937 rng(31);
  for (int round = 0; round < 20000; ++round) {
    const int n = static_cast<int>(round % 500 == 0 ? 1024 + rng() % 500 : 1 + rng() % 520);
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
    std::vector<uint16_t> s = Identity(l.size());
    std::vector<uint8_t> want_l = l;
    std::vector<uint16_t> want_s = s;
    SortByLengthSteps(want_l.data(), want_s.data(), 0, n);
    SortByLength(l.data(), s.data(), n);
    ASSERT_EQ(l, want_l) << round;
    ASSERT_EQ(s, want_s) << round;
    ASSERT_TRUE(std::is_sorted(l.rbegin(), l.rend())) << round;
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
    std::vector<uint16_t> fs = Identity(full.size());
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
    ASSERT_EQ(us, Identity(us.size())) << round;
  }
}

}  // namespace
}  // namespace acekit
