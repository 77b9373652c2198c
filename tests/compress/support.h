// Memory streams, generated inputs, and a reader that turns a compressed
// stream back into literals and matches, for the engine tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "compress/compressor.h"
#include "platform/stream.h"

namespace acekit::compress_test {

using Bytes = std::vector<uint8_t>;

class MemSource final : public ByteSource {
 public:
  explicit MemSource(const Bytes& data, uint32_t chunk = 0xFFFFFFFFu)
      : data_(data), chunk_(chunk) {}
  int32_t Read(void* buf, uint32_t count) override {
    if (fail) return -1;
    size_t n = std::min<size_t>({data_.size() - pos_, count, chunk_});
    if (n != 0) std::memcpy(buf, data_.data() + pos_, n);
    pos_ += n;
    return static_cast<int32_t>(n);
  }
  bool fail = false;

 private:
  const Bytes& data_;
  uint32_t chunk_;
  size_t pos_ = 0;
};

class MemSink final : public ByteSink {
 public:
  int32_t Write(const void* buf, uint32_t count) override {
    ++writes;
    const uint32_t n = count < room ? count : room;
    room -= n;
    out.insert(out.end(), static_cast<const uint8_t*>(buf), static_cast<const uint8_t*>(buf) + n);
    return static_cast<int32_t>(n);
  }
  Bytes out;
  uint32_t room = 0xFFFFFFFFu;  // bytes accepted before writes come up short
  int writes = 0;
};

// Deterministic inputs: the same bytes on every platform.
enum class Kind { kText, kBinary, kRandom, kRuns, kMixed };
Bytes Generate(Kind kind, size_t size, uint64_t seed);
// Random bytes 0x80..0xFF, so that ASCII markers placed in them are unique.
Bytes Filler(size_t size, uint64_t seed);

struct Packed {
  Bytes stream;
  uint32_t crc = 0;
  uint32_t status = 0;
};
// Compresses the files in turn with one compressor; a solid run restarts
// only for the first file.
std::vector<Packed> CompressAll(const std::vector<Bytes>& files, int32_t dict_kb, int32_t level,
                                bool solid);
// Decodes the entries in order with one decoder; false on any difference.
bool DecodeAll(const std::vector<Packed>& packed, const std::vector<Bytes>& files, bool solid);

// One literal (length 0) or match of a file, as read back from its stream.
struct Piece {
  size_t pos;
  uint32_t length;
  uint32_t distance;
  uint32_t symbol;  // main symbol; for matches also:
  uint32_t extra;   // the extra bits sent
};
struct Parsed {
  std::vector<uint32_t> block_counts;
  uint32_t first_highest = 0;  // highest symbol of the first main code
  std::vector<Piece> pieces;
  const Piece* At(size_t pos) const;
};
Parsed Parse(const Bytes& stream, size_t size);

uint32_t Crc(const Bytes& data);

}  // namespace acekit::compress_test
