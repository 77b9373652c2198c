// Feeds arbitrary bytes to the entry decoder. The first bytes choose how the
// rest is decoded, so one input can also exercise a solid pair of entries:
//
//   byte 0     bits 0-1: first entry's method (3 = an unknown method)
//              bit 2: decode a second entry that continues the first (solid)
//              bits 3-4: second entry's method
//   bytes 1-3  first entry's declared size (18 bits used)
//   bytes 4-6  second entry's declared size (18 bits used)
//   bytes 7-8  where the packed data splits between the two entries
//   the rest   packed data
//
// Declared sizes stay below 256 KB so that a stream of zero-length codes,
// which may legally spin out bytes without consuming input, stays quick.
//
// fuzz/corpus/decoder holds seeds in this layout, made by the compressor:
//   fuzz_decoder -max_total_time=30 WORK_DIR fuzz/corpus/decoder
#include <cstdint>
#include <memory>

#include "common/status.h"
#include "decompress/decoder.h"
#include "fuzz_io.h"

namespace {

using acekit::decompress::Decoder;

uint32_t Method(uint32_t bits) {
  return bits == 3 ? 7 : bits % 2;
}

void DecodeOne(Decoder& d, const uint8_t* data, size_t size, int32_t declared, bool solid,
               uint32_t entry, uint32_t method) {
  fuzz::Source source(data, size);
  fuzz::Sink sink;
  acekit::decompress::DecoderStart(d, &source, declared, solid, entry, method);
  const uint32_t status = acekit::decompress::DecodeEntry(d, method, &sink);
  // An entry ends either with a status or with every declared byte produced,
  // and never delivers more than it declared.
  if (status == acekit::kOk && d.remaining != 0) __builtin_trap();
  const size_t written = sink.data.size();
  if (written > static_cast<size_t>(declared)) __builtin_trap();
  if (status == acekit::kOk && written != static_cast<size_t>(declared)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  const uint32_t flags = data[0];
  const auto size_at = [&](size_t i) {
    return static_cast<int32_t>((data[i] | data[i + 1] << 8 | data[i + 2] << 16) & 0x3FFFF);
  };
  const int32_t first_size = size_at(1);
  const int32_t second_size = size_at(4);
  const size_t packed_size = size - 9;
  size_t split = static_cast<size_t>(data[7] | data[8] << 8);
  if (split > packed_size) split = packed_size;
  const uint8_t* packed = data + 9;

  auto d = std::make_unique<Decoder>();
  if (acekit::decompress::DecoderAlloc(*d) != acekit::kOk) return 0;
  const bool two = (flags & 4) != 0;
  DecodeOne(*d, packed, two ? split : packed_size, first_size, two, 1, Method(flags & 3));
  if (two) {
    DecodeOne(*d, packed + split, packed_size - split, second_size, true, 2,
              Method((flags >> 3) & 3));
  }
  acekit::decompress::DecoderFree(*d);
  return 0;
}
