// Code construction, the repeat-distance rules and block emission, checked
// against values worked out by hand from the construction rules.
#include "compress/huffman.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support.h"

namespace acekit::compress_test {
namespace {

using compress::BlockCoder;
using compress::BuildHuffmanCode;
using compress::HuffmanCode;
using compress::HuffmanWork;
using compress::StreamIo;

struct Built {
  std::vector<int> lengths;
  std::vector<int> codes;
  int highest;
};

Built Build(const std::vector<uint32_t>& freq, int n, int max_len) {
  auto code = std::make_unique<HuffmanCode>();
  auto work = std::make_unique<HuffmanWork>();
  for (int s = 0; s < n; ++s) code->freq[s] = s < static_cast<int>(freq.size()) ? freq[s] : 0;
  BuildHuffmanCode(*code, n, max_len, *work);
  Built b{{}, {}, code->highest};
  for (int s = 0; s <= code->highest; ++s) {
    b.lengths.push_back(code->len[s]);
    b.codes.push_back(code->len[s] ? code->code[s] : -1);
  }
  return b;
}

TEST(BuildHuffmanCode, SmallAlphabetsByHand) {
  struct Case {
    const char* name;
    std::vector<uint32_t> freq;
    int n;
    std::vector<int> lengths;
    std::vector<int> codes;
  };
  std::vector<uint32_t> lone65(66);
  lone65[65] = 9;
  std::vector<int> lone65_lengths(66), lone65_codes(66, -1);
  lone65_lengths[0] = lone65_lengths[65] = 1;
  lone65_codes[0] = 0;
  lone65_codes[65] = 1;
  const Case cases[] = {
      {"no symbols: 0 and 1 are added", {}, 256, {1, 1}, {0, 1}},
      {"lone 0 gets partner 1", {5}, 282, {1, 1}, {0, 1}},
      {"lone 1 gets partner 2", {0, 5}, 282, {0, 1, 1}, {-1, 0, 1}},
      {"lone 65 gets partner 0", lone65, 282, lone65_lengths, lone65_codes},
      // 2 and 1 tie; the sort leaves them so that 1 is numbered first.
      {"three symbols", {3, 1, 1}, 13, {1, 2, 2}, {0, 2, 3}},
      // All 13 code-length symbols, as sent for a one-byte file's main code.
      {"code lengths of a lone literal",
       {64, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 1},
       13,
       {1, 3, 5, 5, 5, 5, 5, 5, 5, 5, 5, 4, 5},
       {0, 4, 25, 24, 23, 22, 29, 30, 31, 26, 27, 10, 28}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Built b = Build(c.freq, c.n, c.n == 13 ? 7 : 11);
    EXPECT_EQ(b.highest + 1, static_cast<int>(c.lengths.size()));
    EXPECT_EQ(b.lengths, c.lengths);
    EXPECT_EQ(b.codes, c.codes);
  }
}

TEST(BuildHuffmanCode, OverlongCodesAreRepairedIntoACompleteCode) {
  struct Case {
    const char* name;
    std::vector<uint32_t> freq;
    int n;
    int max_len;
  };
  std::vector<uint32_t> fib{1, 1};
  while (fib.size() < 24) fib.push_back(fib[fib.size() - 1] + fib[fib.size() - 2]);
  std::vector<uint32_t> steep13;
  for (int i = 0; i < 13; ++i) steep13.push_back(1u << i);
  std::vector<uint32_t> wide(282, 1);
  for (size_t i = 0; i < fib.size(); ++i) wide[i + 200] = fib[i] * 50;
  const Case cases[] = {{"fibonacci main", fib, 282, 11},
                        {"powers of two, code lengths", steep13, 13, 7},
                        {"a deep tree among many equals", wide, 282, 11}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Built b = Build(c.freq, c.n, c.max_len);
    uint64_t kraft = 0;
    int longest = 0;
    for (int l : b.lengths) {
      if (l != 0) kraft += uint64_t{1} << (c.max_len - l);
      longest = std::max(longest, l);
    }
    EXPECT_EQ(longest, c.max_len);
    EXPECT_EQ(kraft, uint64_t{1} << c.max_len);  // complete: decodes every bit pattern
    // Less frequent symbols never get shorter codes.
    for (size_t a = 0; a < c.freq.size(); ++a) {
      for (size_t z = 0; z < c.freq.size(); ++z) {
        if (c.freq[a] < c.freq[z]) {
          EXPECT_GE(b.lengths[a], b.lengths[z]) << a << " " << z;
        }
      }
    }
    // Canonical: codes of one length are consecutive and prefix-free.
    for (size_t a = 0; a < b.codes.size(); ++a) {
      for (size_t z = a + 1; z < b.codes.size(); ++z) {
        const int la = b.lengths[a], lz = b.lengths[z];
        if (la == 0 || lz == 0) continue;
        const int shorter = std::min(la, lz);
        EXPECT_NE(b.codes[a] >> (la - shorter), b.codes[z] >> (lz - shorter)) << a << " " << z;
      }
    }
  }
}

struct Coder {
  StreamIo io;
  BlockCoder blocks;
  MemSink sink;
  Coder() {
    EXPECT_TRUE(io.AllocBuffer());
    EXPECT_TRUE(blocks.AllocTables());
    io.Bind(nullptr, &sink);
    io.ResetCompressState();
    io.totals().input_size = 1 << 30;
  }
  compress::BlockSymbol Last() const { return blocks.symbols()[blocks.count() - 1]; }
};

TEST(RepeatDistances, EntryRules) {
  struct Step {
    uint32_t length, distance;
    uint32_t symbol, length_code, extra;  // extra: distance - 1 of a new distance
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"the ring starts as four zeros: distance 1 is a repeat", {{5, 1, 256, 3, 0}}},
      {"new distance 70000", {{10, 70000, 277, 6, 69999}}},
      {"distance 1, length 256, not in the ring",
       {{4, 10, 264, 2, 9},
        {4, 20, 265, 2, 19},
        {4, 30, 265, 2, 29},
        {4, 40, 266, 2, 39},
        {256, 1, 260, 254, 0}}},
      {"most recent and second most recent",
       {{4, 10, 264, 2, 9},
        {4, 20, 265, 2, 19},
        {6, 20, 256, 4, 0},
        {7, 10, 257, 5, 0},
        {7, 20, 257, 5, 0}}},
      {"third and fourth most recent cost one more length unit",
       {{4, 10, 264, 2, 9},
        {4, 20, 265, 2, 19},
        {4, 30, 265, 2, 29},
        {4, 40, 266, 2, 39},
        {5, 20, 258, 2, 0},    // newest first: 39 29 19 9, so k = 2
        {5, 10, 259, 2, 0},    // oldest
        {5, 10, 256, 3, 0}}},  // now the most recent
      {"a minimal match from an older slot goes out as a new distance",
       {{5, 300, 269, 2, 299}, {5, 20, 265, 3, 19}, {5, 30, 265, 3, 29}, {3, 300, 269, 0, 299}}},
      {"two bytes from an older slot too",
       {{4, 5, 263, 2, 4}, {4, 6, 263, 2, 5}, {4, 7, 263, 2, 6}, {2, 5, 263, 0, 4}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Coder k;
    k.blocks.ResetSymbolBuffer();
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const Step& s = c.steps[i];
      k.blocks.AddMatch(s.length, s.distance, k.io);
      const compress::BlockSymbol got = k.Last();
      EXPECT_EQ(got.symbol, s.symbol) << "step " << i;
      EXPECT_EQ(got.length, s.length_code) << "step " << i;
      if (s.symbol >= 260) {
        EXPECT_EQ(got.extra, s.extra) << "step " << i;
      }
    }
  }
}

TEST(BlockEmission, SeventeenBitDistanceSendsSixteenExtraBits) {
  Coder k;
  k.blocks.ResetSymbolBuffer();
  k.blocks.AddLiteral('a', k.io);
  k.blocks.AddMatch(10, 70000, k.io);
  k.blocks.CloseStream(k.io);
  const auto blocks = ReadBlocks(k.sink.out, 11);
  ASSERT_EQ(blocks.size(), 1u);
  ASSERT_EQ(blocks[0].symbols.size(), 2u);
  EXPECT_EQ(blocks[0].symbols[1].symbol, 277u);
  EXPECT_EQ(blocks[0].symbols[1].extra, 4463u);
  EXPECT_EQ(blocks[0].symbols[1].length, 6u);
}

TEST(BlockEmission, TheSymbolAfterAFullBufferStartsANewBlock) {
  Coder k;
  k.blocks.ResetSymbolBuffer();
  for (uint32_t i = 0; i < compress::kBlockSymbols; ++i) {
    EXPECT_FALSE(k.blocks.AddLiteral(static_cast<uint8_t>(i * 7), k.io));
  }
  EXPECT_TRUE(k.blocks.AddLiteral(1, k.io));
  EXPECT_EQ(k.blocks.count(), 1u);
  k.blocks.CloseStream(k.io);
  const auto blocks = ReadBlocks(k.sink.out, compress::kBlockSymbols + 1);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].count, 16384u);
  EXPECT_EQ(blocks[1].count, 1u);
  EXPECT_EQ(blocks[1].symbols[0].symbol, 1u);
}

// Packs a string of '0'/'1' (other characters ignored) into the stream's
// words: most significant bit first, little-endian bytes, zero padded.
Bytes Pack(const std::string& bits) {
  Bytes out;
  uint32_t word = 0;
  int n = 0;
  for (char ch : bits) {
    if (ch != '0' && ch != '1') continue;
    word = (word << 1) | static_cast<uint32_t>(ch - '0');
    if (++n == 32) {
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(word >> (8 * i)));
      word = 0;
      n = 0;
    }
  }
  if (n != 0 || out.empty()) {
    word <<= 32 - n;
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(word >> (8 * i)));
  }
  return out;
}

TEST(BlockEmission, OneByteFileBitForBit) {
  // Main code: 'A' (65) and its partner 0, one bit each; 'A' sorts first
  // and is numbered last, so it is "1". Length code: 0 and 1, one bit each.
  std::string bits;
  // Main code lengths: highest 65, lowest length 0, modulus 12.
  bits += "001000001 0000 1100";
  // Code-length code (differences: 1, 11, 63 x 0, 1): lengths of 0..12.
  bits += "001 011 101 101 101 101 101 101 101 101 101 100 101";
  bits += "100";   // len[0] = 1: difference 1
  bits += "1010";  // len[1] = 0: difference 11
  for (int i = 0; i < 63; ++i) bits += "0";
  bits += "100";  // len[65] = 1: difference 1
  // Length code lengths: highest 1; differences 1, 0.
  bits += "000000001 0000 1100";
  bits += "011 011 100 100 100 100 100 011 100 100 100 100 100";
  bits += "001 010";
  bits += "000000000000001";  // one symbol
  bits += "1";                // 'A'

  Compressor c;
  int32_t dict = 64;
  ASSERT_TRUE(c.Setup(&dict, 1));
  const Bytes file{'A'};
  MemSource source(file);
  MemSink sink;
  c.CompressFile(&source, &sink, 1, true);
  EXPECT_EQ(sink.out, Pack(bits));
  EXPECT_EQ(c.bytes_out(), static_cast<int32_t>(sink.out.size()));
  EXPECT_TRUE(c.exceeded());
}

TEST(BlockEmission, MainCodeOfALoneLiteralRunsToItsPartner) {
  struct Case {
    uint8_t byte;
    uint32_t highest;
  };
  const Case cases[] = {{0, 1}, {1, 2}, {2, 2}, {65, 65}, {255, 255}};
  for (const Case& k : cases) {
    Compressor c;
    int32_t dict = 64;
    ASSERT_TRUE(c.Setup(&dict, 1));
    const Bytes file{k.byte};
    MemSource source(file);
    MemSink sink;
    c.CompressFile(&source, &sink, 1, true);
    const auto blocks = ReadBlocks(sink.out, 1);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].main_highest, k.highest) << int{k.byte};
    EXPECT_EQ(blocks[0].count, 1u);
    EXPECT_EQ(blocks[0].symbols[0].symbol, k.byte);
  }
}

}  // namespace
}  // namespace acekit::compress_test
