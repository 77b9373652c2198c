// Memory streams, generated inputs, and a reader that turns a compressed
// stream back into literals and matches, for the engine tests.
#pragma once

#include <cstdint>
#include <vector>

#include "compress/compressor.h"
#include "decompress/stream_builder.h"

namespace acekit::compress_test {

using Bytes = std::vector<uint8_t>;

using decompress::test::MemorySink;
using decompress::test::MemorySource;

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
