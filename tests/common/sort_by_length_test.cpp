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
    std::vector<uint32_t> portable = keys;
    SortByLength(full.data(), fs.data(), n);
    SortUsedByLength(used.data(), us.data(), n);
    SortUsedKeys(keys.data(), n);
    SortUsedKeysPortable(portable.data(), n);
    ASSERT_EQ(portable, keys) << round;
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

// Shapes that steer the partitions: runs of unused symbols on either side of
// a pivot, all one length, alternations, ramps; at sizes on both sides of
// the 16- and 64-entry blocks the scans are listed in and at the alphabets.
TEST(SortUsedByLength, MatchesTheStepsOnShapedInputsAtEverySize) {
  std::vector<int> sizes;
  for (int n = 1; n <= 140; ++n) sizes.push_back(n);
  for (int n : {191, 192, 193, 255, 256, 257, 271, 282, 283, 383, 384, 385, 511, 512, 1023, 1024})
    sizes.push_back(n);
  for (int n : sizes) {
    for (int shape = 0; shape < 8; ++shape) {
      std::vector<uint8_t> l(static_cast<size_t>(n) + 1);
      for (int i = 0; i <= n; ++i) {
        const uint8_t ramp = static_cast<uint8_t>(1 + i % 11);
        const uint8_t options[] = {0,
                                   7,
                                   static_cast<uint8_t>(i % 2 ? 0 : 9),
                                   ramp,
                                   static_cast<uint8_t>(i < n / 3 ? ramp : 0),
                                   static_cast<uint8_t>(i > 2 * n / 3 ? ramp : 0),
                                   static_cast<uint8_t>(i % 7 == 3 ? 255 : i % 5 == 0),
                                   static_cast<uint8_t>(i % 17 == 0 ? 12 - i % 3 : 0)};
        l[static_cast<size_t>(i)] = options[shape];
      }
      std::vector<uint8_t> want = l;
      std::vector<uint16_t> want_s = Identity(l.size());
      SortByLengthSteps(want.data(), want_s.data(), 0, n);
      std::vector<uint8_t> full = l;
      std::vector<uint16_t> fs = Identity(l.size());
      SortByLength(full.data(), fs.data(), n);
      ASSERT_EQ(fs, want_s) << n << " shape " << shape;
      std::vector<uint32_t> keys(l.size());
      for (size_t i = 0; i < keys.size(); ++i) keys[i] = static_cast<uint32_t>(l[i]) << 16 | i;
      std::vector<uint32_t> portable = keys;
      SortUsedKeys(keys.data(), n);
      SortUsedKeysPortable(portable.data(), n);
      ASSERT_EQ(portable, keys) << n << " shape " << shape;
      for (size_t i = 0; i < keys.size(); ++i) {
        ASSERT_EQ(keys[i] >> 16, want[i]) << n << " shape " << shape << " at " << i;
        if (want[i] != 0 || i == 0) {
          ASSERT_EQ(keys[i] & 0xFFFF, want_s[i]) << n << " at " << i;
        }
      }
    }
  }
}

}  // namespace
}  // namespace acekit
