#include "decompress/decoder.h"

#include <cstring>

#include "api/status.h"
#include "format/crc32.h"

namespace acekit::decompress {
namespace {

// Copies `count` bytes starting at window position `from` into dst, in two
// pieces when they wrap past the window's end.
void CopyFromWindow(const uint8_t* window, uint32_t from, uint8_t* dst, uint32_t count) {
  const uint32_t first = count < kWindowSize - from ? count : kWindowSize - from;
  std::memcpy(dst, window + from, first);
  if (count > first) std::memcpy(dst + first, window, count - first);
}

void CopyToWindow(uint8_t* window, uint32_t& pos, const uint8_t* src, uint32_t count) {
  const uint32_t first = count < kWindowSize - pos ? count : kWindowSize - pos;
  std::memcpy(window + pos, src, first);
  if (count > first) std::memcpy(window, src + first, count - first);
  pos = (pos + count) & kWindowMask;
}

// Copies a match of `len` bytes from `back` bytes behind pos, with the
// semantics of a byte-by-byte forward copy: a distance shorter than the
// length repeats the last bytes. `back` may exceed the data decoded so far
// (or the window); the window is circular, so that only reads older content.
inline void CopyMatch(uint8_t* window, uint32_t& pos, uint32_t back, uint32_t len) {
  uint32_t src = (pos - back) & kWindowMask;
  if (pos + len <= kWindowSize && src + len <= kWindowSize) {
    uint8_t* d = window + pos;
    const uint8_t* s = window + src;
    const int32_t gap = static_cast<int32_t>(pos) - static_cast<int32_t>(src);
    // Eight bytes at a time is safe whenever a block never reads bytes the
    // same block writes: the source is 8 or more behind, or ahead.
    if (gap >= 8 || gap < 0) {
      uint32_t n = len;
      while (n >= 8) {
        uint64_t v;
        std::memcpy(&v, s, 8);
        std::memcpy(d, &v, 8);
        s += 8;
        d += 8;
        n -= 8;
      }
      while (n-- > 0) *d++ = *s++;
    } else if (gap == 1) {
      std::memset(d, d[-1], len);
    } else {
      for (uint32_t i = 0; i < len; ++i) d[i] = s[i];
    }
    pos = (pos + len) & kWindowMask;
    return;
  }
  for (uint32_t i = 0; i < len; ++i) {
    window[pos] = window[src];
    pos = (pos + 1) & kWindowMask;
    src = (src + 1) & kWindowMask;
  }
}

bool ReadBlockHeader(Decoder& d) {
  if (!ReadCodeLengths(d.bits, kMainTableWidth, d.main_table, d.main_lengths, kMainHighest)) {
    return false;
  }
  if (!ReadCodeLengths(d.bits, kMainTableWidth, d.length_table, d.length_lengths, kLengthHighest)) {
    return false;
  }
  d.block_left = d.bits.Read(15);
  return true;
}

uint32_t DecodeStored(Decoder& d, uint8_t* buf, uint32_t capacity) {
  if (d.remaining <= 0) return 0;
  uint32_t want = capacity < kWordBufferBytes ? capacity : kWordBufferBytes;
  if (static_cast<uint32_t>(d.remaining) < want) want = static_cast<uint32_t>(d.remaining);
  if (want == 0 || d.feed.source == nullptr) return 0;
  // Stored data passes through the word buffer on its way, as it always has;
  // a later short read in a compressed entry then sees the same stale words.
  int32_t got = d.feed.source->Read(d.words, want);
  if (got <= 0) return 0;
  if (static_cast<uint32_t>(got) > want) got = static_cast<int32_t>(want);
  const uint32_t n = static_cast<uint32_t>(got);
  std::memcpy(buf, d.words, n);
  CopyToWindow(d.window, d.pos, d.words, n);
  d.remaining -= got;
  d.crc = Crc32Update(d.crc, buf, n);
  return n;
}

uint32_t DecodeCompressed(Decoder& d, uint8_t* buf, uint32_t capacity) {
  if (d.remaining <= 0 || capacity <= kMaxMatch) return 0;
  uint32_t limit = capacity - kMaxMatch;
  if (static_cast<uint32_t>(d.remaining) < limit) limit = static_cast<uint32_t>(d.remaining);

  // Work on local copies: stores into the window may alias anything reached
  // through `d`, which would force the bit state back to memory per byte.
  uint8_t* const window = d.window;
  const uint32_t start = d.pos;
  uint32_t pos = d.pos;
  uint32_t produced = 0;
  BitInput in = d.bits;
  uint32_t block_left = d.block_left;
  uint32_t dist[4] = {d.dist[0], d.dist[1], d.dist[2], d.dist[3]};
  uint32_t index = d.dist_index;

  while (produced < limit) {
    if (block_left == 0) {
      d.bits = in;
      const bool ok = ReadBlockHeader(d);
      in = d.bits;
      if (!ok) {
        d.status = kCorrupt;
        break;
      }
      block_left = d.block_left;
    }
    --block_left;

    const uint32_t sym = d.main_table[in.Peek(kMainTableWidth)];
    in.Skip(d.main_lengths[sym]);
    if (sym < 256) {
      window[pos] = static_cast<uint8_t>(sym);
      pos = (pos + 1) & kWindowMask;
      ++produced;
      continue;
    }

    uint32_t code;
    uint32_t base;
    if (sym >= 260) {
      const uint32_t c = sym - 260;
      code = c < 2 ? c : in.Read(static_cast<int>(c - 1)) + (1u << (c - 1));
      index = (index + 1) & 3;
      dist[index] = code;
      base = code <= 255 ? 2 : (code <= 8191 ? 3 : 4);
    } else {
      const uint32_t k = sym - 256;
      code = dist[(index - k) & 3];
      for (uint32_t j = k; j > 0; --j) dist[(index - j) & 3] = dist[(index - j + 1) & 3];
      dist[index] = code;
      base = k <= 1 ? 2 : 3;
    }
    const uint32_t extra = d.length_table[in.Peek(kMainTableWidth)];
    in.Skip(d.length_lengths[extra]);
    const uint32_t len = base + extra;
    CopyMatch(window, pos, code + 1, len);
    produced += len;
  }

  d.bits = in;
  d.pos = pos;
  d.block_left = block_left;
  for (int i = 0; i < 4; ++i) d.dist[i] = dist[i];
  d.dist_index = index;

  // A well-formed entry never overshoots its size: the encoder ends every
  // match inside the entry.
  if (produced > static_cast<uint32_t>(d.remaining)) {
    if (d.status == kOk) d.status = kCrcMismatch;
    produced = static_cast<uint32_t>(d.remaining);
  }
  if (d.status == kOk && in.Overrun()) d.status = kCrcMismatch;
  CopyFromWindow(window, start, buf, produced);
  d.remaining -= static_cast<int32_t>(produced);
  d.crc = Crc32Update(d.crc, buf, produced);
  return produced;
}

}  // namespace

uint32_t DecoderAlloc(Decoder& d) {
  d.window = static_cast<uint8_t*>(platform::AllocZeroed(kWindowSize));
  d.words = static_cast<uint8_t*>(platform::AllocZeroed(kWordBufferBytes));
  d.out = static_cast<uint8_t*>(platform::AllocZeroed(kChunkSize));
  if (d.window == nullptr || d.words == nullptr || d.out == nullptr) {
    DecoderFree(d);
    return kNoMemory;
  }
  d.pos = 0;
  d.stream_open = false;
  return kOk;
}

void DecoderFree(Decoder& d) {
  if (d.window != nullptr) platform::Free(d.window);
  if (d.words != nullptr) platform::Free(d.words);
  if (d.out != nullptr) platform::Free(d.out);
  d.window = nullptr;
  d.words = nullptr;
  d.out = nullptr;
  d.stream_open = false;
}

void DecoderStart(Decoder& d, ByteSource* source, int32_t size, bool solid, uint32_t entry_number,
                  uint32_t method) {
  d.size = size;
  d.remaining = size;
  d.processed = 0;
  d.progress.last_reported = 0;
  d.crc = kCrcInit;
  d.status = kOk;
  d.feed.source = source;
  d.feed.buffer = d.words;
  d.stream_open = false;
  if (method != kMethodStored) {
    d.bits.Start(d.feed);
    d.block_left = 0;
    d.stream_open = true;
  }
  if (!solid || entry_number == 1) d.pos = 0;
  for (uint32_t& v : d.dist) v = 0;
  d.dist_index = 0;
}

uint32_t DecodeChunk(Decoder& d, uint8_t* buf, uint32_t capacity, uint32_t method) {
  if (method == kMethodStored) return DecodeStored(d, buf, capacity);
  if (method == kMethodLz77 && d.stream_open) return DecodeCompressed(d, buf, capacity);
  d.status = kUnsupported;
  return 0;
}

uint32_t DecodeEntry(Decoder& d, uint32_t method, ByteSink* sink) {
  while (d.status == kOk && d.remaining > 0) {
    const uint32_t n = DecodeChunk(d, d.out, kChunkSize, method);
    if (d.status != kOk) break;
    if (n == 0) {
      // The source ended (or failed) with bytes still owed.
      d.status = kCrcMismatch;
      break;
    }
    d.processed += static_cast<int32_t>(n);
    if (ReportProgress(d.progress, d.processed, d.size) != kOk) {
      d.status = kCancelled;
      break;
    }
    if (sink != nullptr && sink->Write(d.out, n) != static_cast<int32_t>(n)) {
      d.status = kShortWrite;
      break;
    }
  }
  return d.status;
}

}  // namespace acekit::decompress
