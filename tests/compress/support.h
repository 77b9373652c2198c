// Memory streams, generated inputs and a compress/decode pair shared by the
// engine tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "compress/compressor.h"
#include "compress/huffman.h"
#include "platform/stream.h"

namespace acekit::compress_test {

using Bytes = std::vector<uint8_t>;

class MemSource final : public ByteSource {
 public:
  explicit MemSource(const Bytes& data, uint32_t chunk = 0xFFFFFFFFu)
      : data_(data), chunk_(chunk) {}
  int32_t Read(void* buf, uint32_t count) override {
    if (fail_) return -1;
    size_t n = data_.size() - pos_;
    if (n > count) n = count;
    if (n > chunk_) n = chunk_;
    if (n) std::memcpy(buf, data_.data() + pos_, n);
    pos_ += n;
    return static_cast<int32_t>(n);
  }
  bool fail_ = false;

 private:
  const Bytes& data_;
  uint32_t chunk_;
  size_t pos_ = 0;
};

class MemSink final : public ByteSink {
 public:
  int32_t Write(const void* buf, uint32_t count) override {
    ++writes;
    uint32_t n = count;
    if (n > room) n = room;
    room -= n;
    const auto* p = static_cast<const uint8_t*>(buf);
    out.insert(out.end(), p, p + n);
    return static_cast<int32_t>(n);
  }
  Bytes out;
  uint32_t room = 0xFFFFFFFFu;  // bytes accepted before writes come up short
  int writes = 0;
};

// Deterministic generator, so pinned outputs never depend on the platform.
class Prng {
 public:
  explicit Prng(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t Next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 7;
    s_ ^= s_ << 17;
    return static_cast<uint32_t>(s_ >> 16);
  }
  uint32_t Below(uint32_t n) { return Next() % n; }

 private:
  uint64_t s_;
};

enum class Kind { kText, kSource, kBinary, kRun, kRandom, kMixed };

Bytes Generate(Kind kind, size_t size, uint64_t seed);

// The stream one file compresses to, with the compressor's final state.
struct Packed {
  Bytes stream;
  uint32_t crc = 0;
  int32_t bytes_out = 0;
  bool exceeded = false;
  uint32_t status = 0;
};

// Compresses the files in turn with one compressor; restart only for the
// first (solid == true) or for every file (solid == false).
std::vector<Packed> CompressAll(const std::vector<Bytes>& files, int32_t dict_kb, int32_t level,
                                bool solid);

// Decodes consecutive entries with one decoder, as an archive reader would.
// Returns false when any entry fails or its CRC differs.
bool DecodeAll(const std::vector<Packed>& packed, const std::vector<Bytes>& files, bool solid,
               std::vector<Bytes>* out);

// CRC-32 register over data, for pins.
uint32_t Crc(const Bytes& data);

// One coded symbol as read back from a stream.
struct CodedSymbol {
  uint32_t symbol;
  uint32_t extra;   // extra bits of a new distance, as sent
  uint32_t length;  // length code of a match
};
struct Block {
  uint32_t main_highest = 0;
  uint32_t count = 0;
  std::vector<CodedSymbol> symbols;
};
// Reads a stream's blocks until `size` bytes are covered (or a block is
// unreadable). Uses the decoder's bit input and tables to parse.
std::vector<Block> ReadBlocks(const Bytes& stream, size_t size);

// A literal (length 0) or a match, placed in the file.
struct Piece {
  size_t pos;
  uint32_t length;
  uint32_t distance;
  uint32_t symbol;
};
// Turns coded symbols back into pieces, resolving repeat distances.
std::vector<Piece> Replay(const std::vector<CodedSymbol>& symbols);
std::vector<Piece> ReplayBuffer(const compress::BlockCoder& blocks);
// All blocks of a file's stream.
std::vector<Piece> ReplayStream(const Bytes& stream, size_t size);

// Runs the coder over one file without closing the stream, so that the
// symbol buffer can be inspected. restart as in CompressFile.
void CodeWithoutClosing(Compressor& c, const Bytes& data, bool restart, MemSink& sink);

}  // namespace acekit::compress_test
