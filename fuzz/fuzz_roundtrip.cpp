// Compresses arbitrary files with every window and level, normal and as a
// solid run, and decodes the streams again: the bytes and the CRC-32 must
// come back, and neither side may touch memory it does not own. The match
// finder keeps several shortcuts (packed links, chain summaries, a sparse
// and a dense search) that are only exact if their bookkeeping is; a wrong
// one shows here as a stream that decodes to other bytes.
//
//   byte 0   bits 0-2: window (64 KB << n, n taken modulo 5)
//            bits 3-4: level - 1
//            bit 5: one solid run instead of files on their own
//            bit 6: the source hands out odd-sized pieces
//   byte 1   how many times the pattern repeats in a file (1 to 256)
//   byte 2   what each repetition is XORed with, times its number: 0 gives
//            exact repeats, others give near misses and fresh data
//   byte 3   how many files (1 to 4); each takes its share of the pattern
//   the rest the pattern
//
// Repetition lets a small input reach past a whole window, so slides and
// the stale bytes they leave behind are covered too.
#include <cstdint>
#include <vector>

#include "common/status.h"
#include "compress/compressor.h"
#include "decompress/decoder.h"
#include "fuzz_io.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes MakeFile(const uint8_t* pattern, size_t size, uint32_t repeats, uint8_t mix) {
  Bytes file;
  file.reserve(size * repeats);
  for (uint32_t t = 0; t < repeats; ++t) {
    const auto x = static_cast<uint8_t>(t * mix);
    for (size_t i = 0; i < size; ++i) file.push_back(pattern[i] ^ x);
  }
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint8_t flags = data[0];
  int32_t dict_kb = 64 << (flags & 7) % 5;
  const int32_t level = (flags >> 3 & 3) + 1;
  const bool solid = (flags & 0x20) != 0;
  const uint32_t piece = (flags & 0x40) != 0 ? 4093 : 0xFFFFFFFFu;
  const uint32_t repeats = data[1] + 1u;
  const uint8_t mix = data[2];
  const size_t file_count = data[3] % 4 + 1u;
  const uint8_t* pattern = data + 4;
  const size_t pattern_size = size - 4;

  std::vector<Bytes> files;
  for (size_t f = 0; f < file_count; ++f) {
    const size_t from = pattern_size * f / file_count;
    const size_t to = pattern_size * (f + 1) / file_count;
    files.push_back(MakeFile(pattern + from, to - from, repeats, mix));
  }

  acekit::compress::Compressor c;
  if (!c.Setup(&dict_kb, level)) return 0;
  acekit::decompress::Decoder d;
  if (acekit::decompress::DecoderAlloc(d) != acekit::kOk) return 0;
  for (size_t f = 0; f < files.size(); ++f) {
    fuzz::Source source(files[f].data(), files[f].size(), piece);
    fuzz::Sink sink;
    c.CompressFile(&source, &sink, static_cast<int32_t>(files[f].size()), !solid || f == 0);
    if (c.status() != acekit::kOk) __builtin_trap();

    fuzz::Source packed(sink.data.data(), sink.data.size());
    fuzz::Sink out;
    acekit::decompress::DecoderStart(d, &packed, static_cast<int32_t>(files[f].size()),
                                     solid && f > 0, static_cast<uint32_t>(f + 1),
                                     acekit::decompress::kMethodLz77);
    const uint32_t status =
        acekit::decompress::DecodeEntry(d, acekit::decompress::kMethodLz77, &out);
    if (status != acekit::kOk || out.data != files[f] || d.crc != c.crc()) __builtin_trap();
  }
  acekit::decompress::DecoderFree(d);
  return 0;
}
