// Code construction, repeat distances and block emission, against values
// worked out by hand from the construction rules.
#include "compress/huffman.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support.h"

namespace acekit::compress_test {
namespace {

using compress::BlockCoder;
using compress::StreamIo;

TEST(BuildHuffmanCode, OverlongCodesAreRepaired) {
  std::vector<uint32_t> fib{1, 1};
  while (fib.size() < 24) fib.push_back(fib[fib.size() - 1] + fib[fib.size() - 2]);
  std::vector<uint32_t> steep, wide(282, 1);
  for (uint32_t i = 0; i < 13; ++i) steep.push_back(1u << i);
  for (size_t i = 0; i < fib.size(); ++i) wide[200 + i] = fib[i] * 50;
  const std::tuple<std::vector<uint32_t>, int, int> cases[] = {
      {fib, 282, 11}, {steep, 13, 7}, {wide, 282, 11}};
  for (const auto& [freq, n, max_len] : cases) {
    auto code = std::make_unique<compress::HuffmanCode>();
    auto work = std::make_unique<compress::HuffmanWork>();
    for (int s = 0; s < n; ++s) code->freq[s] = s < static_cast<int>(freq.size()) ? freq[s] : 0;
    compress::BuildHuffmanCode(*code, n, max_len, *work);
    uint64_t kraft = 0;
    int longest = 0;
    for (int s = 0; s <= code->highest; ++s) {
      const int l = code->len[s];
      longest = std::max(longest, l);
      if (l != 0) kraft += uint64_t{1} << (max_len - l);
      // Less frequent symbols never get shorter codes.
      for (int z = 0; z < s; ++z) {
        if (l != 0 && code->len[z] != 0 && freq[z] < freq[s]) {
          EXPECT_GE(code->len[z], l);
        }
      }
    }
    EXPECT_EQ(longest, max_len);
    EXPECT_EQ(kraft, uint64_t{1} << max_len);  // complete and prefix-free
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
};

TEST(RepeatDistances, WhichEntryEachMatchBecomes) {
  struct Step {
    uint32_t length, distance, symbol, length_code;
  };
  const std::vector<Step> cases[] = {
      {{5, 1, 256, 3}},       // the ring starts as zeros: distance 1 repeats
      {{10, 70000, 277, 6}},  // 17-bit distance, length less 4
      {{4, 10, 264, 2},       // new distances fill the ring
       {4, 20, 265, 2},
       {4, 30, 265, 2},
       {4, 40, 266, 2},
       {256, 1, 260, 254},  // 1 has left the ring
       {5, 30, 258, 2},     // third most recent costs one length unit
       {5, 20, 259, 2},     // the oldest
       {5, 20, 256, 3},     // now the newest
       {6, 30, 257, 4}},    // second newest
      {{5, 300, 269, 2},
       {5, 20, 265, 3},
       {5, 30, 265, 3},
       {3, 300, 269, 0}},  // a minimal match from an older slot is sent anew
      {{4, 5, 263, 2}, {4, 6, 263, 2}, {4, 7, 263, 2}, {2, 5, 263, 0}},
  };
  for (const auto& steps : cases) {
    Coder k;
    k.blocks.ResetSymbolBuffer();
    for (const Step& s : steps) k.blocks.AddMatch(s.length, s.distance, k.io);
    for (size_t i = 0; i < steps.size(); ++i) {
      EXPECT_EQ(k.blocks.symbols()[i].symbol, steps[i].symbol) << i;
      EXPECT_EQ(k.blocks.symbols()[i].length, steps[i].length_code) << i;
    }
  }
}

TEST(BlockEmission, FullBuffersAndExtraBits) {
  Coder k;
  k.blocks.ResetSymbolBuffer();
  for (uint32_t i = 0; i < compress::kBlockSymbols; ++i) {
    EXPECT_FALSE(k.blocks.AddLiteral(static_cast<uint8_t>(i * 7), k.io));
  }
  EXPECT_TRUE(k.blocks.AddLiteral(1, k.io));  // the 16385th symbol opens block two
  k.blocks.AddMatch(10, 70000, k.io);
  k.blocks.CloseStream(k.io);
  const Parsed parsed = Parse(k.sink.out, compress::kBlockSymbols + 11);
  EXPECT_EQ(parsed.block_counts, (std::vector<uint32_t>{16384, 2}));
  ASSERT_EQ(parsed.pieces.size(), compress::kBlockSymbols + 2);
  const Piece& far = parsed.pieces.back();
  EXPECT_EQ(far.symbol, 277u);
  EXPECT_EQ(far.extra, 4463u);  // 69999 less its implied top bit, in 16 bits
  EXPECT_EQ(far.length, 10u);
}

// Packs '0'/'1' characters (others ignored) into the stream's words.
Bytes Pack(const std::string& text) {
  std::string bits;
  for (char ch : text) {
    if (ch == '0' || ch == '1') bits += ch;
  }
  bits.resize((bits.size() + 31) / 32 * 32, '0');
  Bytes out;
  for (size_t i = 0; i < bits.size(); i += 32) {
    const uint32_t word = static_cast<uint32_t>(std::stoul(bits.substr(i, 32), nullptr, 2));
    for (int b = 0; b < 4; ++b) out.push_back(static_cast<uint8_t>(word >> (8 * b)));
  }
  return out;
}

TEST(BlockEmission, OneByteFileBitForBit) {
  // Main code: 'A' (65) and its partner 0 get one bit each; 'A' sorts first
  // and is numbered last, so it is 1. Length code: 0 and 1, one bit each.
  std::string bits = "001000001 0000 1100";  // highest 65, lowest 0, modulus 12
  // Code-length code over the differences 1, 11, 63 x 0, 1; its lengths:
  bits += "001 011 101 101 101 101 101 101 101 101 101 100 101";
  bits += "100 1010" + std::string(63, '0') + "100";
  bits += "000000001 0000 1100";  // length code: highest 1; differences 1, 0
  bits += "011 011 100 100 100 100 100 011 100 100 100 100 100";
  bits += "001 010";
  bits += "000000000000001 1";  // one symbol: 'A'

  const std::vector<Packed> packed = CompressAll({Bytes{'A'}}, 64, 1, false);
  EXPECT_EQ(packed[0].stream, Pack(bits));
}

TEST(BlockEmission, LoneLiteralsCodeListRunsToItsPartner) {
  const std::pair<uint8_t, uint32_t> cases[] = {{0, 1}, {1, 2}, {2, 2}, {255, 255}};
  for (const auto& [byte, highest] : cases) {
    const std::vector<Packed> packed = CompressAll({Bytes{byte}}, 64, 1, false);
    const Parsed parsed = Parse(packed[0].stream, 1);
    EXPECT_EQ(parsed.first_highest, highest);
    ASSERT_EQ(parsed.pieces.size(), 1u);
    EXPECT_EQ(parsed.pieces[0].symbol, byte);
  }
}

}  // namespace
}  // namespace acekit::compress_test
