#include "decompress/huffman_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "common/sort_by_length.h"
#include "stream_builder.h"

namespace acekit::decompress::test {
namespace {

TEST(BuildDecodeTable, FillsShortestCodesFirst) {
  struct Case {
    int width;
    std::vector<uint8_t> lengths;
    bool ok;
    std::vector<uint16_t> table;         // checked when ok
    std::vector<uint8_t> lengths_after;  // the builder may give a lone code length 1
  };
  const Case cases[] = {
      {3, {2, 1, 3, 3}, true, {1, 1, 1, 1, 0, 0, 2, 3}, {2, 1, 3, 3}},  // codes 10, 0, 110, 111
      {2, {2, 2, 2, 2}, true, {0, 1, 2, 3}, {2, 2, 2, 2}},
      {2, {0, 1, 2}, true, {1, 1, 2, 0}, {0, 1, 2}},  // an under-full tail decodes as 0
      {3, {0, 0, 2, 0}, true, {2, 2, 0, 0, 0, 0, 0, 0}, {0, 0, 1, 0}},  // a lone code
      {2, {0, 0, 0}, true, {2, 2, 2, 2}, {0, 0, 1}},  // no code: the first sorted fills
      {2, {3, 1}, false, {}, {}},                     // longer than the table
      // Shortest codes are placed first, so an over-full set cannot overrun
      // the table: once it is full the longer codes are simply dropped.
      {2, {2, 1, 1}, true, {1, 1, 2, 2}, {2, 1, 1}},
      {2, {1, 1, 5}, true, {0, 0, 1, 1}, {1, 1, 5}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> lengths = c.lengths;
    std::vector<uint16_t> table(1u << c.width, 0xEEEE);
    const int n = static_cast<int>(lengths.size()) - 1;
    ASSERT_EQ(BuildDecodeTable(c.width, n, lengths.data(), table.data()), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(table, c.table);
    EXPECT_EQ(lengths, c.lengths_after);
  }
}

// A transmitted set written symbol by symbol: `items` are code-length
// symbols, and each run symbol (== upper) is followed by its 4-bit count.
struct SetCase {
  int highest;
  uint32_t count, lower, upper;
  std::vector<uint8_t> cl_lengths;  // upper + 1 entries
  std::vector<uint32_t> items;
  bool ok;
  std::vector<uint8_t> lengths;  // entries 0..highest after the read
};

std::vector<uint8_t> WriteSet(const SetCase& c) {
  BitWriter w;
  w.Put(9, c.count);
  w.Put(4, c.lower);
  w.Put(4, c.upper);
  for (uint8_t l : c.cl_lengths) w.Put(3, l);
  std::vector<uint8_t> cl = c.cl_lengths;
  // A lone code-length symbol is read with a 1-bit code.
  int used = 0;
  for (uint8_t l : cl) used += l != 0;
  if (used == 1) {
    for (uint8_t& l : cl) l = l != 0 ? 1 : 0;
  }
  const Code code(cl);
  for (size_t i = 0; i < c.items.size(); ++i) {
    code.Put(w, static_cast<int>(c.items[i]));
    if (c.items[i] == c.upper) w.Put(4, c.items[++i]);
  }
  w.Put(8, 0xA5);  // marker: the reader must stop exactly before it
  return w.Finish();
}

TEST(ReadCodeLengths, UndoesDifferencesAndRuns) {
  const std::vector<uint8_t> flat(13, 4);
  const SetCase cases[] = {
      // 3, 3+11=14→2, 3, 3+9=12→0, 0, 2; then lower 1 on the non-zero ones.
      {5, 5, 1, 12, flat, {3, 11, 1, 9, 0, 2}, true, {4, 3, 4, 0, 0, 3}},
      // Upper 5: the run symbol is 5, and a run repeats the previous length.
      // A 19-long run at position 2 stops after the last symbol; the
      // shortest run, 4, leaves the symbols after it to be read.
      {5, 5, 0, 5, {3, 3, 3, 3, 3, 3}, {2, 1, 5, 15}, true, {2, 3, 3, 3, 3, 3}},
      {7, 7, 0, 5, {3, 3, 3, 3, 3, 3}, {2, 5, 0, 1, 1, 1}, true, {2, 2, 2, 2, 2, 3, 4, 0}},
      // Entries past the transmitted count are cleared.
      {6, 2, 2, 12, flat, {1, 0, 1}, true, {3, 3, 4, 0, 0, 0, 0}},
      // A count above the alphabet is clamped: four values are read, not ten.
      {3, 9, 0, 12, flat, {2, 0, 0, 0}, true, {2, 2, 2, 2}},
      {3, 1, 3, 12, flat, {11, 0}, false, {}},  // a length above the width
      {3, 1, 1, 12, flat, {11, 0}, false, {}},  // the lower limit pushes past it
  };
  for (const SetCase& c : cases) {
    Reader r(WriteSet(c));
    // Two guard entries past the alphabet catch a run written too far.
    std::vector<uint8_t> lengths(static_cast<size_t>(c.highest) + 3, 0xEE);
    std::vector<uint16_t> table(1u << kMainTableWidth);
    ASSERT_EQ(ReadCodeLengths(r.in, kMainTableWidth, table.data(), lengths.data(), c.highest),
              c.ok);
    EXPECT_EQ(lengths[c.highest + 1], 0xEE);
    EXPECT_EQ(lengths[c.highest + 2], 0xEE);
    if (!c.ok) continue;
    lengths.resize(static_cast<size_t>(c.highest) + 1);
    EXPECT_EQ(lengths, c.lengths);
    EXPECT_EQ(r.in.Read(8), 0xA5u);
  }
}

// Upper limit 0: symbol 0 is the run symbol, nothing is undone (no modulo by
// zero), and the all-zero set becomes one code of length 1 filling the table.
TEST(ReadCodeLengths, UpperLimitZeroOnlyRuns) {
  SetCase c{9, 7, 0, 0, {3}, {0, 0, 0, 15}, true, {}};
  Reader r(WriteSet(c));
  std::vector<uint8_t> lengths(10, 0xEE);
  std::vector<uint16_t> table(1u << kMainTableWidth);
  ASSERT_TRUE(ReadCodeLengths(r.in, kMainTableWidth, table.data(), lengths.data(), 9));
  EXPECT_EQ(r.in.Read(8), 0xA5u);

  std::vector<uint8_t> zeros(8, 0);
  std::vector<uint16_t> order = {0, 1, 2, 3, 4, 5, 6, 7};
  SortByLength(zeros.data(), order.data(), 7);
  for (int s = 0; s < 8; ++s) EXPECT_EQ(lengths[s], s == order[0] ? 1 : 0) << s;
  EXPECT_EQ(lengths[8], 0);
  EXPECT_EQ(lengths[9], 0);
  for (uint16_t e : table) ASSERT_EQ(e, order[0]);
}

// A set of code lengths for up to `symbols` symbols, mostly over- or
// under-full; every tenth round has one code or none.
std::vector<uint8_t> RandomLengths(std::mt19937& rng, int round, uint32_t symbols) {
  std::vector<uint8_t> lengths(1 + rng() % symbols, 0);
  const uint32_t used = round % 10 == 0 ? round % 3 : 1 + rng() % symbols;
  for (uint32_t i = 0; i < used; ++i) lengths[rng() % lengths.size()] = 1 + rng() % 11;
  return lengths;
}

// A set written by the encoder's rules, then read twice: as the packed
// table, the reference, and by `read` into a table of `Entry`. The two
// reads must agree on whether a table can be built, and the packed one must
// end at the set's last bit.
template <typename Entry>
struct TwoReads {
  bool ok = false;
  std::vector<uint16_t> packed;
  std::vector<uint8_t> packed_lengths;
  std::vector<Entry> table;
  std::vector<uint8_t> table_lengths;
};

template <typename Entry, typename Read>
TwoReads<Entry> ReadTwice(const std::vector<uint8_t>& lengths, int highest, Read read) {
  BitWriter w;
  PutCodeLengths(w, lengths);
  w.Put(8, 0xA5);
  Reader packed_reader(w.Finish());
  Reader reader(w.Finish());
  TwoReads<Entry> r;
  r.packed.assign(1u << kMainTableWidth, 0);
  r.table.assign(1u << kMainTableWidth, 0);
  r.packed_lengths.assign(static_cast<size_t>(highest) + 1, 0);
  r.table_lengths.assign(static_cast<size_t>(highest) + 1, 0);
  r.ok = ReadPackedCodeLengths(packed_reader.in, kMainTableWidth, r.packed.data(),
                               r.packed_lengths.data(), highest);
  EXPECT_EQ(read(reader.in, r.table.data(), r.table_lengths.data(), highest), r.ok);
  EXPECT_TRUE(!r.ok || packed_reader.in.Read(8) == 0xA5u);
  return r;
}

// Sets written by the encoder's rules read back unchanged, up to the last
// bit they take, and the decoder's main table decodes exactly what the
// packed table decodes: the same code length at every entry (with a new
// distance's extra bits counted in the bits the entry takes), and the
// symbol's meaning spelled out. Random sets are mostly over- or under-full,
// and sets with one or no code take the lone-symbol rule.
TEST(ReadMainCodeLengths, AgreesWithThePackedTable) {
  std::mt19937 rng(5);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> lengths = RandomLengths(rng, round, 283);
    const auto r = ReadTwice<uint32_t>(lengths, 282, ReadMainCodeLengths);
    if (!r.ok) continue;
    const std::vector<uint16_t>& packed = r.packed;
    const std::vector<uint8_t>& packed_lengths = r.packed_lengths;
    const std::vector<uint32_t>& main = r.table;
    ASSERT_EQ(r.table_lengths, packed_lengths) << round;
    if (std::count(lengths.begin(), lengths.end(), 0) + 2 <=
        static_cast<ptrdiff_t>(lengths.size())) {
      lengths.resize(283, 0);
      ASSERT_EQ(packed_lengths, lengths) << round;
    }
    for (size_t i = 0; i < main.size(); ++i) {
      const uint32_t e = main[i];
      const uint32_t symbol = packed[i] >> kPackedSymbolShift;
      const uint32_t code_length = packed[i] & kPackedLengthMask;
      const uint32_t value = (e >> kMainValueShift) & 0xFF;
      if (symbol < 256) {
        ASSERT_TRUE((e & kMainLiteral) != 0 && (e & kMainRepeat) == 0 && value == symbol);
        ASSERT_EQ(e & kMainLengthMask, code_length);
      } else if (symbol < 260) {
        ASSERT_TRUE((e & kMainLiteral) == 0 && (e & kMainRepeat) != 0 && value == symbol - 256);
        ASSERT_EQ(e & kMainLengthMask, code_length);
        // The two oldest places of the history make matches one longer.
        EXPECT_EQ((e >> kMainBaseShift) & 3, symbol >= 258 ? 1u : 0u) << symbol;
      } else {
        ASSERT_EQ(e & (kMainLiteral | kMainRepeat), 0u);
        const uint32_t c = symbol - 260;
        const uint32_t extra = c < 2 || c > 22 ? 0 : c - 1;
        EXPECT_EQ(63 - ((e >> kMainExtraShift) & 63), extra) << symbol;
        ASSERT_EQ(e & kMainLengthMask, code_length + extra) << round << " " << i;
        ASSERT_EQ(value & kMainLengthMask, code_length) << round << " " << i;
        // The smallest and largest distance code of the class, and what a
        // match's length gains for them.
        const uint32_t low = c < 2 || c > 22 ? (c == 1 ? 1 : 0) : 1u << (c - 1);
        const uint32_t high = low + (extra != 0 ? (1u << extra) - 1 : 0);
        EXPECT_EQ((e >> kMainBaseShift) & 3, (low > 255) + (low > 8191)) << symbol;
        EXPECT_EQ((high > 255) + (high > 8191), (low > 255) + (low > 8191)) << symbol;
        EXPECT_EQ((e >> kMainLeadShift) & 1, low != 0 ? 1u : 0u) << symbol;
      }
    }
  }
}

// The length table is the packed table with the shortest match length
// added to every symbol, whatever the set.
TEST(ReadLengthCodeLengths, IsThePackedTableFromTwo) {
  std::mt19937 rng(11);
  for (int round = 0; round < 100; ++round) {
    const auto r = ReadTwice<uint16_t>(RandomLengths(rng, round, 256), 255, ReadLengthCodeLengths);
    if (!r.ok) continue;
    ASSERT_EQ(r.table_lengths, r.packed_lengths);
    const std::vector<uint16_t>& table = r.table;
    const std::vector<uint16_t>& packed = r.packed;
    for (size_t i = 0; i < table.size(); ++i) {
      ASSERT_EQ(table[i] & kPackedLengthMask, packed[i] & kPackedLengthMask) << i;
      ASSERT_EQ(table[i] >> kPackedSymbolShift, (packed[i] >> kPackedSymbolShift) + 2u) << i;
    }
  }
}

}  // namespace
}  // namespace acekit::decompress::test
