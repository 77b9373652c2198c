#include "support.h"

#include <string>

#include "decompress/decoder.h"
#include "decompress/huffman_table.h"
#include "format/crc32.h"

namespace acekit::compress_test {
namespace {

class Prng {
 public:
  explicit Prng(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t Next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 7;
    s_ ^= s_ << 17;
    return static_cast<uint32_t>(s_ >> 16);
  }

 private:
  uint64_t s_;
};

}  // namespace

Bytes Generate(Kind kind, size_t size, uint64_t seed) {
  static const char* const kWords[] = {"the ",  "window ", "match ", "length ", "of ",
                                       "code ", "if (x) ", "{\n  ",  "}\n",     "return 0;"};
  Prng rng(seed);
  Bytes out;
  while (out.size() < size) {
    switch (kind) {
      case Kind::kText: {
        const std::string w = kWords[rng.Next() % 10];
        out.insert(out.end(), w.begin(), w.end());
        if (rng.Next() % 4 == 0) out.push_back(static_cast<uint8_t>('a' + rng.Next() % 26));
        break;
      }
      case Kind::kBinary:  // little-endian records, slowly changing
        for (int b = 0; b < 4; ++b)
          out.push_back(static_cast<uint8_t>((out.size() * 4) >> (8 * b)));
        out.push_back(static_cast<uint8_t>(rng.Next() % 3));
        break;
      case Kind::kRandom:
        out.push_back(static_cast<uint8_t>(rng.Next()));
        break;
      case Kind::kRuns:
        out.insert(out.end(), 1 + rng.Next() % 700, static_cast<uint8_t>(rng.Next() % 4));
        break;
      case Kind::kMixed: {
        const Bytes piece =
            Generate(static_cast<Kind>(rng.Next() % 4), 100 + rng.Next() % 5000, rng.Next());
        out.insert(out.end(), piece.begin(), piece.end());
        break;
      }
    }
  }
  out.resize(size);
  return out;
}

Bytes Filler(size_t size, uint64_t seed) {
  Bytes out = Generate(Kind::kRandom, size, seed);
  for (uint8_t& b : out) b |= 0x80;
  return out;
}

std::vector<Packed> CompressAll(const std::vector<Bytes>& files, int32_t dict_kb, int32_t level,
                                bool solid) {
  std::vector<Packed> result;
  compress::Compressor c;
  if (!c.Setup(&dict_kb, level)) return result;
  for (size_t i = 0; i < files.size(); ++i) {
    MemorySource source(files[i]);
    MemorySink sink;
    c.CompressFile(&source, &sink, static_cast<int32_t>(files[i].size()), !solid || i == 0);
    result.push_back(Packed{std::move(sink.data), c.crc(), c.status()});
  }
  return result;
}

bool DecodeAll(const std::vector<Packed>& packed, const std::vector<Bytes>& files, bool solid) {
  decompress::Decoder d;
  if (decompress::DecoderAlloc(d) != kOk) return false;
  bool ok = packed.size() == files.size();
  for (size_t i = 0; i < packed.size() && ok; ++i) {
    MemorySource source(packed[i].stream);
    MemorySink sink;
    decompress::DecoderStart(d, &source, static_cast<int32_t>(files[i].size()), solid,
                             static_cast<uint32_t>(i + 1), decompress::kMethodLz77);
    ok = decompress::DecodeEntry(d, decompress::kMethodLz77, &sink) == kOk &&
         d.crc == packed[i].crc && sink.data == files[i];
  }
  decompress::DecoderFree(d);
  return ok;
}

const Piece* Parsed::At(size_t pos) const {
  for (const Piece& p : pieces) {
    if (p.pos == pos) return &p;
  }
  return nullptr;
}

// Reads blocks with the decoder's bit input and tables, and resolves the
// repeat distances itself.
Parsed Parse(const Bytes& stream, size_t size) {
  using namespace decompress;
  Parsed out;
  test::Reader reader(stream);
  BitInput& in = reader.in;
  std::vector<uint16_t> main(1u << kMainTableWidth), lengths(1u << kMainTableWidth);
  uint8_t main_len[283] = {}, length_len[256] = {};
  uint32_t ring[4] = {}, r = 0;
  size_t pos = 0;
  while (pos < size) {
    if (out.block_counts.empty()) out.first_highest = in.Register() >> 23;
    if (!ReadCodeLengths(in, kMainTableWidth, main.data(), main_len, 282) ||
        !ReadCodeLengths(in, kMainTableWidth, lengths.data(), length_len, 255)) {
      break;
    }
    const uint32_t count = in.Read(15);
    out.block_counts.push_back(count);
    if (count == 0) break;
    for (uint32_t i = 0; i < count; ++i) {
      Piece p{pos, 0, 0, main[in.Peek(kMainTableWidth)], 0};
      in.Skip(main_len[p.symbol]);
      if (p.symbol < 256) {
        out.pieces.push_back(p);
        ++pos;
        continue;
      }
      if (p.symbol >= 262) p.extra = in.Read(static_cast<int>(p.symbol - 261));
      const uint32_t code = lengths[in.Peek(kMainTableWidth)];
      in.Skip(length_len[code]);
      uint32_t d;
      if (p.symbol < 260) {
        const uint32_t k = p.symbol - 256;
        d = ring[(r - k) & 3];
        for (uint32_t j = k; j >= 1; --j) ring[(r - j) & 3] = ring[(r - j + 1) & 3];
        ring[r] = d;
        p.length = code + (k <= 1 ? 2 : 3);
      } else {
        const uint32_t n = p.symbol - 260;
        d = n < 2 ? n : (1u << (n - 1)) + p.extra;
        r = (r + 1) & 3;
        ring[r] = d;
        p.length = code + 2 + (d > 255) + (d > 8191);
      }
      p.distance = d + 1;
      out.pieces.push_back(p);
      pos += p.length;
    }
  }
  return out;
}

uint32_t Crc(const Bytes& data) {
  return data.empty() ? format::kCrcInit
                      : format::Crc32Update(format::kCrcInit, data.data(), data.size());
}

}  // namespace acekit::compress_test
