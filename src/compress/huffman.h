// Huffman side of the compressor: the symbol buffer that makes one block,
// the repeat-distance ring, code construction and block emission.
#pragma once

#include <bit>
#include <cstdint>

#include "compress/stream_io.h"

namespace acekit::compress {

inline constexpr int kMainSymbols = 282;
inline constexpr int kLengthSymbols = 256;
inline constexpr int kCodeLengthSymbols = 13;
inline constexpr int kMaxCodeLength = 11;
inline constexpr int kMaxCodeLengthLength = 7;
// Leaves and internal nodes of the largest tree, plus one.
inline constexpr int kMaxNodes = 2 * kMainSymbols + 1;
inline constexpr uint32_t kBlockSymbols = 16384;

// One code under construction. Entries past the alphabet are internal nodes.
struct HuffmanCode {
  uint32_t freq[kMaxNodes];
  uint16_t parent[kMaxNodes];
  uint8_t depth[kMaxNodes];
  uint8_t len[kMaxNodes];  // per symbol: code length, 0 for no code
  uint16_t code[kMainSymbols];
  int highest;  // largest symbol that has a code
};

// Scratch shared by all constructions.
struct HuffmanWork {
  uint64_t heap[kMaxNodes + 1];  // 1-based; frequency, depth and node
  uint16_t order[kMaxNodes];     // merged nodes, filled from the top down
  int count[kMaxCodeLength + 2];
  uint8_t sort_len[kMainSymbols + 1];
  uint16_t sort_sym[kMainSymbols + 1];
};

// Builds code lengths (none above max_len) and canonical codes for symbols
// 0..n-1 from code.freq. Always yields at least two codes: a lone symbol, or
// none, gets a partner of frequency 1.
void BuildHuffmanCode(HuffmanCode& code, int n, int max_len, HuffmanWork& work);
// The second half of BuildHuffmanCode, once the tree is merged: work.order
// holds the nodes from `root` (the last merge) to the end, parents before
// children. Sets the lengths, repairs those past max_len and numbers the
// codes.
void AssignCodes(HuffmanCode& code, int root, int highest, int max_len, HuffmanWork& work);

// Turns code.len[0..code.highest] into the differences (modulo 12) that go
// out in place of the lengths, and builds the code-length code `cl` over
// them, where every code-length symbol gets a code, used or not.
void BuildCodeLengthCode(const HuffmanCode& code, uint8_t* diffs, HuffmanCode& cl,
                         HuffmanWork& work);

// One buffered literal or match, as it will be coded.
struct BlockSymbol {
  uint16_t symbol;     // main alphabet
  uint8_t length;      // length code, for symbols 256 and up; 0 for literals
  uint8_t extra_bits;  // bits sent after the main code (new distances of 2 bits and more)
  uint32_t extra;      // their value: distance - 1 without its top bit
};

class BlockCoder {
 public:
  BlockCoder() = default;
  ~BlockCoder() { FreeTables(); }
  BlockCoder(const BlockCoder&) = delete;
  BlockCoder& operator=(const BlockCoder&) = delete;

  // Takes the code tables and the symbol buffer; false when out of memory.
  bool AllocTables();
  void FreeTables();

  // Before each file: empty buffer, repeat ring 0, 0, 0, 0.
  void ResetSymbolBuffer();

  // For coders that hand over a parse made elsewhere, one symbol at a time.
  // Both return true when the call first emitted the full buffer as a block.
  bool AddLiteral(uint8_t byte, StreamIo& out) {
    bool emitted = false;
    if (count_ == kBlockSymbols) {
      EmitBlock(out);
      emitted = true;
    }
    ++main_count_[byte];
    syms_[count_++] = LiteralSymbol(byte);
    return emitted;
  }
  // length 2 to 256, distance 1 to window size - 1.
  bool AddMatch(uint32_t length, uint32_t distance, StreamIo& out) {
    bool emitted = false;
    if (count_ == kBlockSymbols) {
      EmitBlock(out);
      emitted = true;
    }
    syms_[count_++] = MatchSymbol(length, distance);
    return emitted;
  }

  // The match finder appends through a cursor kept in a register: symbols go
  // to [cursor(), buffer_end()), and set_cursor() hands the count back before
  // EmitBlock or when the finder stops. Symbols are counted as they are
  // made: a literal through main_counts(), a match by MatchSymbol.
  BlockSymbol* cursor() { return syms_ + count_; }
  uint32_t* main_counts() { return main_count_; }
  BlockSymbol* buffer_begin() { return syms_; }
  BlockSymbol* buffer_end() { return syms_ + kBlockSymbols; }
  void set_cursor(const BlockSymbol* c) { count_ = static_cast<uint32_t>(c - syms_); }
  static BlockSymbol LiteralSymbol(uint8_t byte) { return BlockSymbol{byte, 0, 0, 0}; }
  // The symbol of a match (length 2 to 256, distance 1 to window size - 1),
  // counted; moves the repeat ring on.
  BlockSymbol MatchSymbol(uint32_t length, uint32_t distance) {
    const BlockSymbol s = MatchSymbolUncounted(length, distance);
    ++main_count_[s.symbol];
    ++length_count_[s.length];
    return s;
  }

  // Codes the buffered symbols as one block and empties the buffer.
  void EmitBlock(StreamIo& out);
  // The last block, then the padding of the final word.
  void CloseStream(StreamIo& out);

  uint32_t count() const { return count_; }
  const BlockSymbol* symbols() const { return syms_; }

 private:
  BlockSymbol MatchSymbolUncounted(uint32_t length, uint32_t distance) {
    const uint32_t d = distance - 1;
    const uint32_t adj = (d > 255 ? 1u : 0u) + (d > 8191 ? 1u : 0u);
    const uint32_t c = length - 2 - adj;  // length code as a new distance

    // k: the newest ring slot holding d, 4 when none does.
    const uint32_t r = r_;
    const uint32_t hits = (rep_[r] == d ? 1u : 0u) | (rep_[(r - 1) & 3] == d ? 2u : 0u) |
                          (rep_[(r - 2) & 3] == d ? 4u : 0u) | (rep_[(r - 3) & 3] == d ? 8u : 0u) |
                          16u;
    const uint32_t k = static_cast<uint32_t>(std::countr_zero(hits));
    // A repeat must pay off: the two older slots cost one more length unit,
    // which a minimal new-distance match cannot spare.
    if (k < 4 && !(k >= 2 && c == 0) && !(k <= 1 && length == 258)) {
      for (uint32_t j = k; j >= 1; --j) rep_[(r - j) & 3] = rep_[(r - j + 1) & 3];
      rep_[r] = d;
      const uint32_t code = k <= 1 ? length - 2 : length - 3;
      return BlockSymbol{static_cast<uint16_t>(256 + k), static_cast<uint8_t>(code), 0, 0};
    }
    const uint32_t nbits = static_cast<uint32_t>(std::bit_width(d));
    r_ = (r + 1) & 3;
    rep_[r_] = d;
    // The top bit of d is implied by the symbol; a distance of one bit sends
    // nothing more.
    const uint32_t sent = nbits >= 2 ? nbits - 1 : 0;
    return BlockSymbol{static_cast<uint16_t>(260 + nbits), static_cast<uint8_t>(c),
                       static_cast<uint8_t>(sent), d & ((1u << sent) - 1)};
  }

  void SendCodeLengths(const HuffmanCode& code, StreamIo& out);
  void SendSymbols(StreamIo& out);
  template <bool kRareMatches>
  void SendSymbolsAs(StreamIo& out);
  void ClearCounts();

  struct Tables {
    HuffmanCode main;
    HuffmanCode length;
    HuffmanCode code_length;
    HuffmanWork work;
    // Per main symbol its code in the low 16 bits and its length above;
    // per length code the same.
    uint32_t main_field[kMainSymbols];
    uint32_t length_field[kLengthSymbols];
    BlockSymbol syms[kBlockSymbols];
  };
  Tables* t_ = nullptr;
  BlockSymbol* syms_ = nullptr;
  uint32_t* main_count_ = nullptr;    // t_->main.freq
  uint32_t* length_count_ = nullptr;  // t_->length.freq
  uint32_t count_ = 0;
  uint32_t rep_[4] = {};  // distance - 1 of recent matches; rep_[r_] is the newest
  uint32_t r_ = 0;
};

}  // namespace acekit::compress
