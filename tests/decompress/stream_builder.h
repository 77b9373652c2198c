// Test-side writer for compressed streams: a bit packer with the stream's bit
// order and a small block writer that sends code-length sets and symbols.
// It is deliberately naive (bit by bit) so it shares no shortcuts with the
// decoder it checks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/sort_by_length.h"
#include "decompress/bit_input.h"
#include "platform/stream.h"

namespace acekit::decompress::test {

class BitWriter {
 public:
  // Appends the low n bits of value, most significant first.
  void Put(int n, uint32_t value) {
    for (int i = n - 1; i >= 0; --i) bits_.push_back(((value >> i) & 1) != 0);
  }
  size_t BitCount() const { return bits_.size(); }
  // Pads with zero bits to a whole word and returns the little-endian words.
  std::vector<uint8_t> Finish() const {
    std::vector<bool> b = bits_;
    while (b.size() % 32 != 0) b.push_back(false);
    std::vector<uint8_t> out;
    for (size_t w = 0; w < b.size(); w += 32) {
      uint32_t word = 0;
      for (int i = 0; i < 32; ++i) word = (word << 1) | (b[w + i] ? 1u : 0u);
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(word >> (8 * i)));
    }
    return out;
  }

 private:
  std::vector<bool> bits_;
};

// Canonical codes from code lengths: shorter codes are numerically smaller,
// and equal lengths take codes in the reverse of the length sort's order.
inline std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
  const int n = static_cast<int>(lengths.size()) - 1;
  uint32_t count[33] = {};
  for (uint8_t l : lengths) ++count[l];
  count[0] = 0;
  uint32_t next[33] = {};
  uint32_t code = 0;
  for (int l = 1; l <= 32; ++l) {
    code = (code + count[l - 1]) * 2;
    next[l] = code;
  }
  std::vector<uint8_t> sorted = lengths;
  std::vector<uint16_t> symbols(lengths.size());
  for (size_t i = 0; i < symbols.size(); ++i) symbols[i] = static_cast<uint16_t>(i);
  SortByLength(sorted.data(), symbols.data(), n);
  std::vector<uint32_t> codes(lengths.size(), 0);
  for (int i = n; i >= 0; --i) {
    if (sorted[i] != 0) codes[symbols[i]] = next[sorted[i]]++;
  }
  return codes;
}

struct Code {
  std::vector<uint8_t> lengths;
  std::vector<uint32_t> codes;
  explicit Code(std::vector<uint8_t> l) : lengths(std::move(l)), codes(CanonicalCodes(lengths)) {}
  void Put(BitWriter& w, int symbol) const { w.Put(lengths[symbol], codes[symbol]); }
};

// Sends a code-length set the way the encoder does: differences modulo 12,
// lower limit 0, upper limit 12, every code-length symbol 4 bits long.
inline void PutCodeLengths(BitWriter& w, const std::vector<uint8_t>& lengths) {
  const Code cl(std::vector<uint8_t>(13, 4));
  w.Put(9, static_cast<uint32_t>(lengths.size() - 1));
  w.Put(4, 0);
  w.Put(4, 12);
  for (int i = 0; i <= 12; ++i) w.Put(3, 4);
  for (size_t i = 0; i < lengths.size(); ++i) {
    const int prev = i == 0 ? 0 : lengths[i - 1];
    cl.Put(w, (lengths[i] - prev + 12) % 12);
  }
}

// The codes of one block of the file stream; by default codes that cover
// every symbol: 9-bit main codes, 8-bit length codes.
struct Block {
  Code main, length;
  explicit Block(std::vector<uint8_t> main_lengths = std::vector<uint8_t>(283, 9),
                 std::vector<uint8_t> length_lengths = std::vector<uint8_t>(256, 8))
      : main(std::move(main_lengths)), length(std::move(length_lengths)) {}
};

// A compressed entry written as a list of blocks and their symbols.
class Script {
 public:
  explicit Script(Block first = Block()) { NextBlock(std::move(first)); }

  Script& Lit(const std::string& text) {
    for (char c : text) Add(static_cast<uint8_t>(c));
    return *this;
  }
  Script& Byte(uint8_t b, size_t times = 1) {
    for (size_t i = 0; i < times; ++i) Add(b);
    return *this;
  }
  // A new distance: `back` bytes behind (distance code back - 1), sent as
  // its bit length and the bits below the leading one.
  Script& New(uint32_t back, uint32_t length_code) {
    const uint32_t code = back - 1;
    int c = 0;
    while ((code >> c) != 0) ++c;
    return c < 2 ? Add(260 + c, 0, 0, length_code)
                 : Add(260 + c, c - 1, code & ((1u << (c - 1)) - 1), length_code);
  }
  Script& Rep(uint32_t k, uint32_t length_code) { return Add(256 + k, 0, 0, length_code); }
  Script& NextBlock(Block b) {
    blocks_.push_back({std::move(b), {}});
    return *this;
  }

  std::vector<uint8_t> Bytes() const {
    BitWriter w;
    for (const auto& [block, ops] : blocks_) {
      PutCodeLengths(w, block.main.lengths);
      PutCodeLengths(w, block.length.lengths);
      w.Put(15, static_cast<uint32_t>(ops.size()));
      for (const Op& op : ops) {
        block.main.Put(w, op.symbol);
        w.Put(op.extra_bits, op.extra);
        if (op.symbol >= 256) block.length.Put(w, static_cast<int>(op.length_code));
      }
    }
    return w.Finish();
  }

 private:
  struct Op {
    int symbol, extra_bits;
    uint32_t extra, length_code;
  };
  Script& Add(uint32_t symbol, int extra_bits = 0, uint32_t extra = 0, uint32_t length_code = 0) {
    blocks_.back().second.push_back({static_cast<int>(symbol), extra_bits, extra, length_code});
    return *this;
  }
  std::vector<std::pair<Block, std::vector<Op>>> blocks_;
};

// In-memory ends of a stream: a source that can hand out short pieces or
// fail, and a sink that can come up short.
class MemorySource final : public platform::ByteSource {
 public:
  explicit MemorySource(std::vector<uint8_t> data, uint32_t max_read = 0xFFFFFFFFu)
      : data_(std::move(data)), max_read_(max_read) {}
  int32_t Read(void* buf, uint32_t count) override {
    ++calls;
    if (fail) return -1;
    const size_t n = std::min<size_t>({count, max_read_, data_.size() - at_});
    if (n > 0) std::memcpy(buf, data_.data() + at_, n);
    at_ += n;
    return static_cast<int32_t>(n);
  }
  int calls = 0;
  bool fail = false;

 private:
  std::vector<uint8_t> data_;
  size_t at_ = 0;
  uint32_t max_read_;
};

class MemorySink final : public platform::ByteSink {
 public:
  int32_t Write(const void* buf, uint32_t count) override {
    ++calls;
    const uint32_t n = std::min(count, limit);
    limit -= n;
    data.insert(data.end(), static_cast<const uint8_t*>(buf), static_cast<const uint8_t*>(buf) + n);
    return static_cast<int32_t>(n);
  }
  std::vector<uint8_t> data;
  uint32_t limit = 0xFFFFFFFFu;  // bytes accepted before writes come up short
  int calls = 0;
};

// A bit reader over the given bytes.
struct Reader {
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kWordBufferBytes, 0);
  MemorySource source;
  BitFeed feed;
  BitInput in;
  explicit Reader(std::vector<uint8_t> bytes) : source(std::move(bytes)) {
    feed.source = &source;
    feed.buffer = buffer.data();
    in.Start(feed);
  }
};

}  // namespace acekit::decompress::test
