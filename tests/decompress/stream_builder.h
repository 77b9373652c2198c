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

#include "decompress/sort_by_length.h"
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

// A block of the file stream: main code (symbols 0..282 at most), length
// code, and the count of main symbols that follow.
struct Block {
  Code main;
  Code length;
  Block(std::vector<uint8_t> main_lengths, std::vector<uint8_t> length_lengths)
      : main(std::move(main_lengths)), length(std::move(length_lengths)) {}

  void PutHeader(BitWriter& w, uint32_t symbols) const {
    PutCodeLengths(w, main.lengths);
    PutCodeLengths(w, length.lengths);
    w.Put(15, symbols);
  }
  void Literal(BitWriter& w, uint8_t byte) const { main.Put(w, byte); }
  // A new distance: `back` bytes behind (distance code back - 1).
  void NewDistance(BitWriter& w, uint32_t back, uint32_t length_code) const {
    const uint32_t code = back - 1;
    int c = 0;
    while ((code >> c) != 0) ++c;  // bit length of the code
    main.Put(w, 260 + c);
    if (c >= 2) w.Put(c - 1, code & ((1u << (c - 1)) - 1));
    length.Put(w, static_cast<int>(length_code));
  }
  void Repeat(BitWriter& w, int k, uint32_t length_code) const {
    main.Put(w, 256 + k);
    length.Put(w, static_cast<int>(length_code));
  }
};

// A block whose codes cover every symbol: 9-bit main codes, 8-bit length codes.
inline Block AnyBlock() {
  return Block(std::vector<uint8_t>(283, 9), std::vector<uint8_t>(256, 8));
}

// A compressed entry written as a list of blocks and their symbols.
class Script {
 public:
  explicit Script(Block first = AnyBlock()) { blocks_.push_back({std::move(first), {}}); }

  Script& Lit(const std::string& text) {
    for (char c : text) ops_().push_back({Op::kLit, static_cast<uint8_t>(c), 0});
    return *this;
  }
  Script& Byte(uint8_t b, size_t times = 1) {
    for (size_t i = 0; i < times; ++i) ops_().push_back({Op::kLit, b, 0});
    return *this;
  }
  Script& New(uint32_t back, uint32_t length_code) {
    ops_().push_back({Op::kNew, back, length_code});
    return *this;
  }
  Script& Rep(uint32_t k, uint32_t length_code) {
    ops_().push_back({Op::kRep, k, length_code});
    return *this;
  }
  Script& NextBlock(Block b) {
    blocks_.push_back({std::move(b), {}});
    return *this;
  }

  void Write(BitWriter& w) const {
    for (const auto& [block, ops] : blocks_) {
      block.PutHeader(w, static_cast<uint32_t>(ops.size()));
      for (const Op& op : ops) {
        if (op.kind == Op::kLit) block.Literal(w, static_cast<uint8_t>(op.a));
        if (op.kind == Op::kNew) block.NewDistance(w, op.a, op.b);
        if (op.kind == Op::kRep) block.Repeat(w, static_cast<int>(op.a), op.b);
      }
    }
  }
  std::vector<uint8_t> Bytes() const {
    BitWriter w;
    Write(w);
    return w.Finish();
  }

 private:
  struct Op {
    enum Kind { kLit, kNew, kRep } kind;
    uint32_t a;
    uint32_t b;
  };
  std::vector<Op>& ops_() { return blocks_.back().second; }
  std::vector<std::pair<Block, std::vector<Op>>> blocks_;
};

// In-memory ends of a stream: a source that can hand out short pieces or
// fail, and a sink that can come up short.
class MemorySource final : public ByteSource {
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

class MemorySink final : public ByteSink {
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

}  // namespace acekit::decompress::test
