// Code construction, repeat distances and block emission, against values
// worked out by hand from the construction rules.
#include "compress/huffman.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "support.h"

namespace acekit::compress_test {
namespace {

using compress::BlockCoder;
using compress::BlockSymbol;
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

// The merging written plainly: a heap of node indices compared through the
// frequency and depth tables. The library's packed-key heap must merge the
// same nodes in the same order, so both hand out the same lengths and codes.
void PlainBuild(compress::HuffmanCode& t, int n, int max_len, compress::HuffmanWork& w) {
  constexpr int kMaxNodes = compress::kMaxNodes;
  uint16_t heap[kMaxNodes + 1];
  int size = 0;
  int highest = -1;
  for (int s = 0; s < n; ++s) {
    t.depth[s] = 0;
    t.len[s] = 0;
    if (t.freq[s] != 0) {
      heap[++size] = static_cast<uint16_t>(s);
      highest = s;
    }
  }
  while (size < 2) {
    const int node = highest < 2 ? ++highest : 0;
    t.freq[node] = 1;
    t.depth[node] = 0;
    heap[++size] = static_cast<uint16_t>(node);
  }
  auto precedes = [&t](int a, int b) {
    return t.freq[a] < t.freq[b] || (t.freq[a] == t.freq[b] && t.depth[a] <= t.depth[b]);
  };
  auto sift_down = [&](int k) {
    const uint16_t v = heap[k];
    int j = 2 * k;
    while (j <= size) {
      if (j < size && precedes(heap[j + 1], heap[j])) ++j;
      if (precedes(v, heap[j])) break;
      heap[k] = heap[j];
      k = j;
      j *= 2;
    }
    heap[k] = v;
  };
  for (int k = size / 2; k >= 1; --k) sift_down(k);
  int top = kMaxNodes;
  int node = n;
  while (size >= 2) {
    const uint16_t a = heap[1];
    heap[1] = heap[size--];
    sift_down(1);
    const uint16_t b = heap[1];
    w.order[--top] = a;
    w.order[--top] = b;
    t.freq[node] = t.freq[a] + t.freq[b];
    t.depth[node] = static_cast<uint8_t>(std::max(t.depth[a], t.depth[b]) + 1);
    t.parent[a] = t.parent[b] = static_cast<uint16_t>(node);
    heap[1] = static_cast<uint16_t>(node);
    sift_down(1);
    ++node;
  }
  const int root = --top;
  w.order[root] = heap[1];
  compress::AssignCodes(t, root, highest, max_len, w);
}

TEST(BuildHuffmanCode, SameCodesAsThePlainConstruction) {
  // Frequency tables of every shape the coders meet: few and many symbols,
  // heavy ties (small counts), steep and flat spreads, tables that overflow
  // the length limit, and the lone-symbol and empty cases.
  uint64_t state = 0x243F6A8885A308D3ull;
  auto next = [&state]() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<uint32_t>(state >> 11);
  };
  const std::pair<int, int> alphabets[] = {{282, 11}, {256, 11}, {13, 7}};
  int overflowed = 0;
  for (int round = 0; round < 6000; ++round) {
    const auto [n, max_len] = alphabets[round % 3];
    auto mine = std::make_unique<compress::HuffmanCode>();
    auto plain = std::make_unique<compress::HuffmanCode>();
    auto work = std::make_unique<compress::HuffmanWork>();
    const int shape = (round / 3) % 6;
    const uint32_t used = 1 + next() % 1000;  // per mille of symbols with a count
    for (int s = 0; s < n; ++s) {
      uint32_t f = 0;
      if (next() % 1000 < used) {
        f = shape == 0       ? 1 + next() % 3                               // ties everywhere
            : shape == 1     ? 1 + next() % 200                             // flat
            : shape == 2     ? 1u << (next() % 20)                          // steep
            : shape == 3     ? 1 + (next() % 16384) / (1 + next() % 512)    // skewed
            : shape == 4     ? (s < 30 ? 1u << (s % 24) : 1 + next() % 2)   // overflowing
            : round % 7 == 0 ? (s == static_cast<int>(next() % n) ? 9 : 0)  // one symbol
                             : 1;
      }
      mine->freq[s] = plain->freq[s] = f;
    }
    compress::BuildHuffmanCode(*mine, n, max_len, *work);
    PlainBuild(*plain, n, max_len, *work);
    ASSERT_EQ(mine->highest, plain->highest) << round;
    for (int s = 0; s < n; ++s) {
      ASSERT_EQ(mine->len[s], plain->len[s]) << round << " " << s;
      if (plain->len[s] != 0) {
        ASSERT_EQ(mine->code[s], plain->code[s]) << round << " " << s;
      }
      if (plain->len[s] == max_len && s <= plain->highest) ++overflowed;
    }
  }
  EXPECT_GT(overflowed, 0);
}

struct Coder {
  StreamIo io;
  BlockCoder blocks;
  MemorySink sink;
  BlockSymbol* out = nullptr;
  Coder() {
    EXPECT_TRUE(io.AllocBuffer());
    EXPECT_TRUE(blocks.AllocTables());
    io.Bind(nullptr, &sink);
    io.ResetCompressState();
    io.totals().input_size = 1 << 30;
    blocks.ResetSymbolBuffer();
    out = blocks.cursor();
  }
  // Symbols go in as the match finder puts them: through the cursor, with
  // literals counted by the caller and a full buffer emitted before the next
  // symbol. Each returns true when it emitted a block first.
  bool Literal(uint8_t byte) {
    const bool emitted = Room();
    ++blocks.main_counts()[byte];
    *out++ = BlockCoder::LiteralSymbol(byte);
    return emitted;
  }
  bool Match(uint32_t length, uint32_t distance) {
    const bool emitted = Room();
    *out++ = blocks.MatchSymbol(length, distance);
    return emitted;
  }
  void Close() {
    blocks.set_cursor(out);
    blocks.CloseStream(io);
  }

 private:
  bool Room() {
    if (out != blocks.buffer_end()) return false;
    blocks.set_cursor(out);
    blocks.EmitBlock(io);
    out = blocks.buffer_begin();
    return true;
  }
};

TEST(RepeatDistances, WhichEntryEachMatchBecomes) {
  struct Step {
    uint32_t length, distance, symbol, length_code;
  };
  const std::vector<Step> cases[] = {
      {{5, 1, 256, 3}},  // the ring starts as zeros: distance 1 repeats
      {{4, 10, 264, 2},  // new distances fill the ring
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
    for (const Step& s : steps) k.Match(s.length, s.distance);
    for (size_t i = 0; i < steps.size(); ++i) {
      EXPECT_EQ(k.blocks.symbols()[i].symbol, steps[i].symbol) << i;
      EXPECT_EQ(k.blocks.symbols()[i].length, steps[i].length_code) << i;
    }
  }
}

TEST(BlockEmission, FullBuffersAndExtraBits) {
  Coder k;
  for (uint32_t i = 0; i < compress::kBlockSymbols; ++i) {
    EXPECT_FALSE(k.Literal(static_cast<uint8_t>(i * 7)));
  }
  EXPECT_TRUE(k.Literal(1));  // the 16385th symbol opens block two
  k.Match(10, 70000);
  k.Close();
  const Parsed parsed = Parse(k.sink.data, compress::kBlockSymbols + 11);
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
