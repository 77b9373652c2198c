#include "support.h"

#include "decompress/bit_input.h"
#include "decompress/decoder.h"
#include "decompress/huffman_table.h"
#include "format/crc32.h"

namespace acekit::compress_test {
namespace {

const char* const kWords[] = {"the",  "archive", "window", "match",  "length", "of",
                              "and",  "a",       "block",  "code",   "symbol", "in",
                              "data", "file",    "to",     "stream", "is",     "with"};

const char* const kLines[] = {
    "  for (int i = 0; i < n; ++i) {\n",
    "    total += table[i] * weight;\n",
    "  }\n",
    "  if (status != kOk) return status;\n",
    "static uint32_t Mix(uint32_t a, uint32_t b) {\n",
    "  return (a << 5) ^ (b >> 3);\n",
    "}\n",
    "// keeps the running value in range\n",
};

}  // namespace

Bytes Generate(Kind kind, size_t size, uint64_t seed) {
  Prng rng(seed);
  Bytes out;
  out.reserve(size + 64);
  switch (kind) {
    case Kind::kText:
      while (out.size() < size) {
        const char* w = kWords[rng.Below(sizeof kWords / sizeof kWords[0])];
        out.insert(out.end(), w, w + std::strlen(w));
        out.push_back(rng.Below(12) == 0 ? '\n' : ' ');
      }
      break;
    case Kind::kSource:
      while (out.size() < size) {
        const char* l = kLines[rng.Below(sizeof kLines / sizeof kLines[0])];
        out.insert(out.end(), l, l + std::strlen(l));
        if (rng.Below(5) == 0) out.push_back(static_cast<uint8_t>('a' + rng.Below(26)));
      }
      break;
    case Kind::kBinary:
      // Little-endian records with slowly changing fields and small noise.
      for (uint32_t i = 0; out.size() < size; ++i) {
        const uint32_t v = i * 16 + rng.Below(4);
        for (int b = 0; b < 4; ++b) out.push_back(static_cast<uint8_t>(v >> (8 * b)));
        out.push_back(static_cast<uint8_t>(rng.Below(3)));
        out.push_back(0);
      }
      break;
    case Kind::kRun:
      out.assign(size, static_cast<uint8_t>(seed));
      break;
    case Kind::kRandom:
      while (out.size() < size) out.push_back(static_cast<uint8_t>(rng.Next()));
      break;
    case Kind::kMixed:
      while (out.size() < size) {
        const Kind part = static_cast<Kind>(rng.Below(5));
        const Bytes piece = Generate(part, 200 + rng.Below(3000), rng.Next());
        out.insert(out.end(), piece.begin(), piece.end());
      }
      break;
  }
  out.resize(size);
  return out;
}

std::vector<Packed> CompressAll(const std::vector<Bytes>& files, int32_t dict_kb, int32_t level,
                                bool solid) {
  std::vector<Packed> result;
  Compressor c;
  if (!c.Setup(&dict_kb, level)) return result;
  for (size_t i = 0; i < files.size(); ++i) {
    MemSource source(files[i]);
    MemSink sink;
    c.CompressFile(&source, &sink, static_cast<int32_t>(files[i].size()), !solid || i == 0);
    Packed p;
    p.stream = std::move(sink.out);
    p.crc = c.crc();
    p.bytes_out = c.bytes_out();
    p.exceeded = c.exceeded();
    p.status = c.status();
    result.push_back(std::move(p));
  }
  return result;
}

namespace {

class VecSink final : public ByteSink {
 public:
  explicit VecSink(Bytes& out) : out_(out) {}
  int32_t Write(const void* buf, uint32_t count) override {
    const auto* p = static_cast<const uint8_t*>(buf);
    out_.insert(out_.end(), p, p + count);
    return static_cast<int32_t>(count);
  }

 private:
  Bytes& out_;
};

}  // namespace

bool DecodeAll(const std::vector<Packed>& packed, const std::vector<Bytes>& files, bool solid,
               std::vector<Bytes>* out) {
  decompress::Decoder d;
  if (decompress::DecoderAlloc(d) != kOk) return false;
  bool ok = true;
  for (size_t i = 0; i < packed.size() && ok; ++i) {
    MemSource source(packed[i].stream);
    Bytes got;
    VecSink sink(got);
    decompress::DecoderStart(d, &source, static_cast<int32_t>(files[i].size()), solid,
                             static_cast<uint32_t>(i + 1), decompress::kMethodLz77);
    const uint32_t st = decompress::DecodeEntry(d, decompress::kMethodLz77, &sink);
    ok = st == kOk && d.crc == packed[i].crc && got == files[i];
    if (out != nullptr) out->push_back(std::move(got));
  }
  decompress::DecoderFree(d);
  return ok;
}

uint32_t Crc(const Bytes& data) {
  return data.empty() ? kCrcInit : Crc32Update(kCrcInit, data.data(), data.size());
}

std::vector<Block> ReadBlocks(const Bytes& stream, size_t size) {
  using namespace decompress;
  std::vector<Block> blocks;
  MemSource source(stream);
  std::vector<uint8_t> buffer(kWordBufferBytes);
  BitFeed feed;
  feed.source = &source;
  feed.buffer = buffer.data();
  BitInput in;
  in.Start(feed);
  std::vector<uint16_t> main_table(1u << kMainTableWidth), length_table(1u << kMainTableWidth);
  uint8_t main_lengths[283] = {};
  uint8_t length_lengths[256] = {};
  size_t covered = 0;
  while (covered < size) {
    Block b;
    b.main_highest = in.Register() >> 23;
    if (!ReadCodeLengths(in, kMainTableWidth, main_table.data(), main_lengths, 282) ||
        !ReadCodeLengths(in, kMainTableWidth, length_table.data(), length_lengths, 255)) {
      break;
    }
    b.count = in.Read(15);
    for (uint32_t i = 0; i < b.count; ++i) {
      CodedSymbol s{main_table[in.Peek(kMainTableWidth)], 0, 0};
      in.Skip(main_lengths[s.symbol]);
      if (s.symbol >= 262) s.extra = in.Read(static_cast<int>(s.symbol - 261));
      if (s.symbol >= 256) {
        s.length = length_table[in.Peek(kMainTableWidth)];
        in.Skip(length_lengths[s.length]);
      }
      b.symbols.push_back(s);
    }
    const std::vector<Piece> pieces = Replay(b.symbols);
    for (const Piece& p : pieces) covered += p.length == 0 ? 1 : p.length;
    const bool empty = b.count == 0;
    blocks.push_back(std::move(b));
    if (empty) break;
  }
  return blocks;
}

std::vector<Piece> Replay(const std::vector<CodedSymbol>& symbols) {
  std::vector<Piece> out;
  uint32_t ring[4] = {};
  uint32_t r = 0;
  size_t pos = 0;
  for (const CodedSymbol& s : symbols) {
    if (s.symbol < 256) {
      out.push_back(Piece{pos, 0, 0, s.symbol});
      ++pos;
      continue;
    }
    uint32_t d;
    uint32_t length;
    if (s.symbol < 260) {
      const uint32_t k = s.symbol - 256;
      d = ring[(r - k) & 3];
      for (uint32_t j = k; j >= 1; --j) ring[(r - j) & 3] = ring[(r - j + 1) & 3];
      ring[r] = d;
      length = s.length + (k <= 1 ? 2 : 3);
    } else {
      const uint32_t n = s.symbol - 260;
      d = n < 2 ? n : (1u << (n - 1)) + s.extra;
      r = (r + 1) & 3;
      ring[r] = d;
      length = s.length + 2 + (d > 255) + (d > 8191);
    }
    out.push_back(Piece{pos, length, d + 1, s.symbol});
    pos += length;
  }
  return out;
}

std::vector<Piece> ReplayBuffer(const compress::BlockCoder& blocks) {
  std::vector<CodedSymbol> symbols;
  for (uint32_t i = 0; i < blocks.count(); ++i) {
    const compress::BlockSymbol& s = blocks.symbols()[i];
    const uint32_t extra = s.extra_bits >= 2 ? s.extra & ((1u << (s.extra_bits - 1)) - 1) : 0;
    symbols.push_back(CodedSymbol{s.symbol, extra, s.length});
  }
  return Replay(symbols);
}

std::vector<Piece> ReplayStream(const Bytes& stream, size_t size) {
  std::vector<CodedSymbol> all;
  for (const Block& b : ReadBlocks(stream, size)) {
    all.insert(all.end(), b.symbols.begin(), b.symbols.end());
  }
  return Replay(all);
}

void CodeWithoutClosing(Compressor& c, const Bytes& data, bool restart, MemSink& sink) {
  MemSource source(data);
  c.Bind(&source, &sink);
  c.ResetCompressState();
  c.SetCrc(kCrcInit);
  if (restart) {
    c.StartCoder();
  } else {
    c.ContinueCoder();
  }
  c.ResetSymbolBuffer();
  c.ResetBitWriter();
  c.SetInputSize(static_cast<int32_t>(data.size()));
  c.RunCoder();
  c.Bind(nullptr, &sink);  // the source goes out of scope
}

}  // namespace acekit::compress_test
