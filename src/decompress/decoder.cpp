#include "decompress/decoder.h"

#include <cstring>
#include <new>

#include "common/hot.h"
#include "common/status.h"
#include "format/crc32.h"
#include "platform/cpu.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ACEKIT_DECODE_BMI2 1
#endif

namespace acekit::decompress {
namespace {

// A span of `count` ring bytes from position `from`, as at most two pieces:
// `head` bytes up to the window's end, then `tail` bytes from its start.
struct RingPieces {
  uint32_t head;
  uint32_t tail;
};

inline RingPieces SplitAtWrap(uint32_t from, uint32_t count) {
  const uint32_t head = count < kWindowSize - from ? count : kWindowSize - from;
  return {head, count - head};
}

void CopyFromWindow(const uint8_t* window, uint32_t from, uint8_t* dst, uint32_t count) {
  const RingPieces p = SplitAtWrap(from, count);
  std::memcpy(dst, window + from, p.head);
  if (p.tail != 0) std::memcpy(dst + p.head, window, p.tail);
}

void CopyToWindow(uint8_t* window, uint32_t& pos, const uint8_t* src, uint32_t count) {
  const RingPieces p = SplitAtWrap(pos, count);
  std::memcpy(window + pos, src, p.head);
  if (p.tail != 0) std::memcpy(window, src + p.head, p.tail);
  pos = (pos + count) & kWindowMask;
}

template <size_t kBytes>
inline void CopyBlock(uint8_t* d, const uint8_t* s) {
  uint8_t v[kBytes];
  std::memcpy(v, s, kBytes);
  std::memcpy(d, v, kBytes);
}

// Copies in whole blocks of kBlock bytes, the last one running up to
// kBlock - 1 bytes past the match; what it covers there is put back after.
// Needs back >= kBlock, so that every block reads only bytes before itself,
// which are final already.
template <size_t kBlock>
inline void CopyBlocks(uint8_t* d, const uint8_t* s, uint32_t len) {
  uint8_t keep[kBlock];
  std::memcpy(keep, d + len, kBlock);
  // Most matches are shorter than one block.
  CopyBlock<kBlock>(d, s);
  for (uint32_t i = kBlock; i < len; i += kBlock) CopyBlock<kBlock>(d + i, s + i);
  std::memcpy(d + len, keep, kBlock);
}

// Bytes past a flat match's end that its copy reads and writes back.
constexpr uint32_t kCopySlack = 16;

// Distances under 16 bytes, which are rare: apart, so that the loop the
// common copy sits in keeps its registers.
ACEKIT_COLD void CopyMatchNear(uint8_t* d, uint32_t back, uint32_t len) {
  const uint8_t* s = d - back;
  if (back >= 8) {
    CopyBlocks<8>(d, s, len);
  } else if (back == 1) {
    std::memset(d, d[-1], len);
  } else {
    for (uint32_t i = 0; i < len; ++i) d[i] = s[i];
  }
}

// Copies a match of `len` (2..259) bytes from `back` bytes behind d, with the
// result of a byte-by-byte forward copy: a distance shorter than the length
// repeats the last bytes. The kCopySlack bytes after d + len must be inside
// the window; they end as they were, since they are the oldest of the window
// and a later match may still read them.
inline void CopyMatchFlat(uint8_t* d, uint32_t back, uint32_t len) {
  if (back >= 16) {
    CopyBlocks<16>(d, d - back, len);
  } else {
    CopyMatchNear(d, back, len);
  }
}

// The general copy, for matches whose source or destination wraps around the
// window's end. `back` may exceed the data decoded so far (or the window);
// the window is circular, so that only reads older content.
void CopyMatchWrapped(uint8_t* window, uint32_t pos, uint32_t back, uint32_t len) {
  uint32_t src = (pos - back) & kWindowMask;
  pos &= kWindowMask;
  for (uint32_t i = 0; i < len; ++i) {
    window[pos] = window[src];
    pos = (pos + 1) & kWindowMask;
    src = (src + 1) & kWindowMask;
  }
}

bool ReadBlockHeader(Decoder& d) {
  if (!ReadMainCodeLengths(d.bits, d.main_table, d.main_lengths, kMainHighest)) return false;
  if (!ReadLengthCodeLengths(d.bits, d.length_table, d.length_lengths, kLengthHighest)) {
    return false;
  }
  d.block_left = d.bits.Read(15);
  // A block announcing no symbols still has its first symbol decoded, and
  // its count then never returns to zero: the entry reads no further header.
  if (d.block_left == 0) d.block_left = UINT32_MAX;
  return true;
}

// The next block's header for a loop that holds the reader and the block
// count in locals; a header no table can be built from marks the entry
// corrupt.
bool NextBlock(Decoder& d, BitInput& in, uint32_t& block_left) {
  d.bits = in;
  const bool ok = ReadBlockHeader(d);
  in = d.bits;
  if (!ok) {
    d.status = kCorrupt;
    return false;
  }
  block_left = d.block_left;
  return true;
}

// The bytes a chunk counts for the entry. A well-formed entry never
// overshoots its size (the encoder ends every match inside the entry), nor
// reads bits the source did not deliver.
uint32_t SettleChunk(Decoder& d, uint32_t produced, const BitInput& in) {
  if (produced > static_cast<uint32_t>(d.remaining)) {
    if (d.status == kOk) d.status = kCrcMismatch;
    produced = static_cast<uint32_t>(d.remaining);
  }
  if (d.status == kOk && in.Overrun()) d.status = kCrcMismatch;
  return produced;
}

// Decoding state of one chunk, kept in locals: stores into the window may
// alias anything reached through the decoder, which would otherwise force
// the bit state back to memory after every byte.
// The last four distances, the latest at `index`.
struct History {
  uint32_t index;
  uint32_t dist[4];
};

struct Run {
  BitInput in;
  uint32_t at;  // window position, not yet wrapped
  uint32_t block_left;
  History h;
  bool guard;    // the entry started at window position 0 and has not wrapped
  bool reached;  // with guard: a match reached before the entry's start
};

// Decodes the rest of a match from its main-table entry `e`: `was` is the
// reader as it stood before the entry, `in` the reader past the bits the
// entry takes. Returns the distance code and sets `len`. The reader held at
// least BitInput::kFilled unread bits before the entry, which covers the
// code, the longest run of extra bits, the length code and the next symbol's
// code; the caller tops it up again after looking that one up.
ACEKIT_HOT uint32_t DecodeMatch(const uint16_t* length_table, const BitInput& was, BitInput& in,
                                History& h, uint32_t e, uint32_t& len) {
  uint32_t code;
  if (e & kMainRepeat) {
    const uint32_t k = (e >> kMainValueShift) & 3;
    code = h.dist[(h.index - k) & 3];
    for (uint32_t j = k; j > 0; --j) h.dist[(h.index - j) & 3] = h.dist[(h.index - j + 1) & 3];
    h.dist[h.index] = code;
  } else {
    code = was.PeekBelow(e >> kMainValueShift, e >> kMainLeadShift, e >> kMainExtraShift);
    h.index = (h.index + 1) & 3;
    h.dist[h.index] = code;
  }
  const uint32_t le = length_table[in.Peek(kMainTableWidth)];
  in.Drop(le & kPackedLengthMask);
  len = (le >> kPackedSymbolShift) + ((e >> kMainBaseShift) & 3);
  return code;
}

// A match of an entry that started at window position 0 reaches before
// that start, `at` bytes into it: the caller's hook goes first.
ACEKIT_COLD void NoteReach(const Decoder& d, uint32_t at) {
  if (d.before_reach.call != nullptr) d.before_reach.call(d.before_reach.context, at);
}

// Decodes symbols while the position is below `stop` and the block has
// symbols left, for stop + kMaxMatch + kCopySlack <= kWindowSize: no
// position needs wrapping, only the source of a match that reaches back
// past the window's start. Works on locals so that the state stays in
// registers.
ACEKIT_HOT void DecodeFlatBody(const Decoder& d, uint8_t* window, Run& r, uint32_t stop) {
  // The tables are read through d, whose address a register holds anyway:
  // pointers of their own would not stay in registers.
  BitInput in = r.in;
  uint8_t* out = window + r.at;
  uint8_t* const end = window + stop;
  uint32_t left = r.block_left;
  // The distance history too: through r, a byte stored to the window could
  // be any of it, and it would go back to memory at every store.
  History h = r.h;
  // The next symbol's entry is looked up as soon as the bits allow, ahead of
  // the copy, whose branches may mispredict; the lookup changes no state, so
  // one made when the loop ends is simply dropped.
  in.Fill();
  uint32_t e = d.main_table[in.Peek(kMainTableWidth)];
  // The caller starts a run with a symbol to decode and room for it.
  do {
    const BitInput was = in;
    in.Drop(e & kMainLengthMask);
    // A symbol leaves enough bits to look the next one up before the
    // top-up, which then stays off the lookup's path: it only appends bits
    // below those.
    if (e & kMainLiteral) {
      *out++ = static_cast<uint8_t>(e >> kMainValueShift);
      e = d.main_table[in.Peek(kMainTableWidth)];
      in.Fill();
      continue;
    }
    uint32_t len;
    const uint32_t back = DecodeMatch(d.length_table, was, in, h, e, len) + 1;
    e = d.main_table[in.Peek(kMainTableWidth)];
    in.Fill();
    const uint32_t at = static_cast<uint32_t>(out - window);
    if (back <= at) {
      CopyMatchFlat(out, back, len);
    } else {
      // Unwrapped, `at` counts the entry's bytes so far.
      if (r.guard) {
        NoteReach(d, at);
        r.reached = true;
      }
      CopyMatchWrapped(window, at, back, len);
    }
    out += len;
  } while (--left != 0 && out < end);
  in.Fill();
  r.in = in;
  r.at = static_cast<uint32_t>(out - window);
  r.block_left = left;
  r.h = h;
}

void DecodeFlat(const Decoder& d, uint8_t* window, Run& r, uint32_t stop) {
  DecodeFlatBody(d, window, r, stop);
}

#if defined(ACEKIT_DECODE_BMI2)
// Every symbol consumes its code with a shift by a register. BMI2's form of
// that shift is one operation without a flags dependency where the baseline
// form is several, and it sits on the chain from one lookup to the next.
__attribute__((target("bmi2"))) void DecodeFlatBmi2(const Decoder& d, uint8_t* window, Run& r,
                                                    uint32_t stop) {
  DecodeFlatBody(d, window, r, stop);
}
#endif

// The same near the window's end, where every position is masked.
void DecodeWrapped(const Decoder& d, uint8_t* window, Run& r, uint32_t stop) {
  while (r.at < stop && r.block_left != 0) {
    --r.block_left;
    r.in.Fill();
    const uint32_t e = d.main_table[r.in.Peek(kMainTableWidth)];
    const BitInput was = r.in;
    r.in.Drop(e & kMainLengthMask);
    if (e & kMainLiteral) {
      window[r.at & kWindowMask] = static_cast<uint8_t>(e >> kMainValueShift);
      ++r.at;
      continue;
    }
    uint32_t len;
    const uint32_t back = DecodeMatch(d.length_table, was, r.in, r.h, e, len) + 1;
    if (back > r.at && r.guard) {
      NoteReach(d, r.at);
      r.reached = true;
    }
    CopyMatchWrapped(window, r.at, back, len);
    r.at += len;
  }
  r.in.Fill();
}

// Continues the CRC over `count` window bytes from position `from`.
uint32_t CrcOfWindow(uint32_t crc, const uint8_t* window, uint32_t from, uint32_t count) {
  const RingPieces p = SplitAtWrap(from, count);
  crc = format::Crc32Update(crc, window + from, p.head);
  if (p.tail != 0) crc = format::Crc32Update(crc, window, p.tail);
  return crc;
}

// `buf` null: nobody takes the chunk, so it is neither copied out nor kept;
// only the CRC sees its bytes. Without `crc` the caller adds the chunk to
// d.crc itself, from the window.
uint32_t DecodeStored(Decoder& d, uint8_t* buf, uint32_t capacity, bool crc) {
  if (d.remaining <= 0) return 0;
  uint32_t want = capacity < kWordBufferBytes ? capacity : kWordBufferBytes;
  if (static_cast<uint32_t>(d.remaining) < want) want = static_cast<uint32_t>(d.remaining);
  if (want == 0 || d.feed.source == nullptr) return 0;
  // Stored data passes through the word buffer on its way, so what a later
  // short read in a compressed entry leaves behind is defined by the archive
  // alone.
  int32_t got = d.feed.source->Read(d.words, want);
  if (got <= 0) return 0;
  if (static_cast<uint32_t>(got) > want) got = static_cast<int32_t>(want);
  const uint32_t n = static_cast<uint32_t>(got);
  if (buf != nullptr) std::memcpy(buf, d.words, n);
  CopyToWindow(d.window, d.pos, d.words, n);
  d.remaining -= got;
  if (crc) d.crc = format::Crc32Update(d.crc, d.words, n);
  return n;
}

// `buf` and `crc` as for DecodeStored.
uint32_t DecodeCompressed(Decoder& d, uint8_t* buf, uint32_t capacity, bool crc) {
  if (d.remaining <= 0 || capacity <= kMaxMatch) return 0;
  // A chunk is copied out of the window after decoding, so it must fit well
  // inside it.
  if (capacity > kWindowSize / 2) capacity = kWindowSize / 2;
  uint32_t limit = capacity - kMaxMatch;
  if (static_cast<uint32_t>(d.remaining) < limit) limit = static_cast<uint32_t>(d.remaining);

  uint8_t* const window = d.window;
  const uint32_t start = d.pos;
  const uint32_t stop = start + limit;
  // The copies read a little past what they write.
  BackWindow(d, start, limit + kMaxMatch + kCopySlack);
  // Below this position no symbol, nor the slack of its copy, reaches past
  // the window's end.
  constexpr uint32_t kFlatEnd = kWindowSize - kMaxMatch - kCopySlack;
  // r.at stays unmasked through a chunk, so while the entry has not wrapped
  // it equals the entry's bytes so far.
  const bool guard = d.own_only && d.size - d.remaining < static_cast<int32_t>(kWindowSize);
  Run r{d.bits, start, d.block_left, {d.dist_index, {d.dist[0], d.dist[1], d.dist[2], d.dist[3]}},
        guard,  false};

  while (r.at < stop) {
    if (r.block_left == 0 && !NextBlock(d, r.in, r.block_left)) break;
    if (r.at < kFlatEnd) {
      const uint32_t flat_stop = stop < kFlatEnd ? stop : kFlatEnd;
#if defined(ACEKIT_DECODE_BMI2)
      if (platform::CpuHasBmi2()) {
        DecodeFlatBmi2(d, window, r, flat_stop);
        continue;
      }
#endif
      DecodeFlat(d, window, r, flat_stop);
    } else {
      DecodeWrapped(d, window, r, stop);
    }
  }

  d.bits = r.in;
  d.pos = r.at & kWindowMask;
  d.block_left = r.block_left;
  for (int i = 0; i < 4; ++i) d.dist[i] = r.h.dist[i];
  d.dist_index = r.h.index;
  if (r.reached) d.reached_back = true;

  const uint32_t produced = SettleChunk(d, r.at - start, r.in);
  if (buf != nullptr) CopyFromWindow(window, start, buf, produced);
  d.remaining -= static_cast<int32_t>(produced);
  if (crc) d.crc = CrcOfWindow(d.crc, window, start, produced);
  return produced;
}

}  // namespace

Status DecoderAlloc(Decoder& d) {
  d.window = static_cast<uint8_t*>(platform::AllocZeroed(kWindowSize));
  d.backed = 0;
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

void BackWindow(Decoder& d, uint32_t from, uint32_t count) {
  // Windows fill from the start, and each call backs everything from the
  // mark on, so one mark covers what is backed, wrapped spans included.
  const uint32_t end = count < kWindowSize - from ? from + count : kWindowSize;
  if (end <= d.backed) return;
  platform::BackPages(d.window, d.backed, end);
  d.backed = end;
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

void DecoderDelete::operator()(Decoder* d) const {
  DecoderFree(*d);
  d->~Decoder();
  platform::Free(d);
}

DecoderPtr NewDecoder() {
  void* memory = platform::Alloc(sizeof(Decoder));
  if (memory == nullptr) return nullptr;
  DecoderPtr d(new (memory) Decoder());
  if (DecoderAlloc(*d) != kOk) return nullptr;
  return d;
}

void DecoderStart(Decoder& d, platform::ByteSource* source, int32_t size, bool solid,
                  uint32_t entry_number, uint32_t method) {
  d.size = size;
  d.remaining = size;
  d.processed = 0;
  d.progress.last_reported = 0;
  d.crc = format::kCrcInit;
  d.status = kOk;
  d.reached_back = false;
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

namespace {

uint32_t DecodeChunkTo(Decoder& d, uint8_t* buf, uint32_t capacity, uint32_t method, bool crc) {
  if (method == kMethodStored) return DecodeStored(d, buf, capacity, crc);
  if (method == kMethodLz77 && d.stream_open) return DecodeCompressed(d, buf, capacity, crc);
  d.status = kUnsupported;
  return 0;
}

// Chunks whose CRC waits, at most this many bytes: the CRC over a longer
// span costs less per byte, and the span stays far behind every byte the
// decoder writes.
constexpr uint32_t kCrcSpan = 64 * 1024;
static_assert(kCrcSpan + kChunkSize + kMaxMatch + 16 < kWindowSize / 2);

}  // namespace

uint32_t DecodeChunk(Decoder& d, uint8_t* buf, uint32_t capacity, uint32_t method, bool crc) {
  return DecodeChunkTo(d, buf, capacity, method, crc);
}

void FoldCrc(Decoder& d, CrcSpan& span, bool all) {
  if (!all && span.count < kCrcSpan) return;
  d.crc = CrcOfWindow(d.crc, d.window, span.from, span.count);
  span.from = d.pos;
  span.count = 0;
}

Status DecodeEntry(Decoder& d, uint32_t method, platform::ByteSink* sink, uint32_t skip) {
  CrcSpan span{d.pos, 0};
  while (d.status == kOk && d.remaining > 0) {
    // Only a chunk that is written needs to leave the window.
    uint8_t* const to = sink != nullptr && skip == 0 ? d.out : nullptr;
    FoldCrc(d, span, false);
    const uint32_t n = DecodeChunkTo(d, to, kChunkSize, method, false);
    span.count += n;
    if (d.status != kOk) break;
    if (n == 0) {
      // The source ended (or failed) with bytes still owed.
      d.status = kCrcMismatch;
      break;
    }
    d.processed += static_cast<int32_t>(n);
    if (skip != 0) {
      --skip;
      continue;
    }
    if (ReportProgress(d.progress, d.processed, d.size) != kOk) {
      d.status = kCancelled;
      break;
    }
    if (sink != nullptr && sink->Write(d.out, n) != static_cast<int32_t>(n)) {
      d.status = kShortWrite;
      break;
    }
  }
  FoldCrc(d, span, true);
  return d.status;
}

namespace {

// The symbol stage's state through a chunk, in locals as in Run. A run of
// literals stays open across block headers; a match or the chunk's end
// closes it.
struct TokenRun {
  BitInput in;
  uint32_t at;  // bytes produced in the chunk
  uint32_t block_left;
  History h;
  uint32_t* t;     // next token word
  uint32_t* head;  // the open literal run's count word, or null
  uint8_t* lit;    // where its next byte goes
};

ACEKIT_HOT uint32_t* CloseLiterals(uint32_t* head, const uint8_t* lit) {
  const auto n = static_cast<uint32_t>(lit - reinterpret_cast<const uint8_t*>(head + 1));
  *head = n;
  return head + 1 + (n + 3) / 4;
}

ACEKIT_HOT void TokenBody(const Decoder& d, TokenRun& tr, uint32_t stop) {
  BitInput in = tr.in;
  uint32_t at = tr.at;
  uint32_t left = tr.block_left;
  uint32_t* t = tr.t;
  uint32_t* head = tr.head;
  uint8_t* lit = tr.lit;
  History h = tr.h;
  in.Fill();
  uint32_t e = d.main_table[in.Peek(kMainTableWidth)];
  // The caller starts a run with a symbol to decode and room for it.
  do {
    const BitInput was = in;
    in.Drop(e & kMainLengthMask);
    if (e & kMainLiteral) {
      if (head == nullptr) {
        head = t;
        lit = reinterpret_cast<uint8_t*>(t + 1);
      }
      *lit++ = static_cast<uint8_t>(e >> kMainValueShift);
      ++at;
      e = d.main_table[in.Peek(kMainTableWidth)];
      in.Fill();
      continue;
    }
    if (head != nullptr) {
      t = CloseLiterals(head, lit);
      head = nullptr;
    }
    uint32_t len;
    const uint32_t back = DecodeMatch(d.length_table, was, in, h, e, len) + 1;
    e = d.main_table[in.Peek(kMainTableWidth)];
    in.Fill();
    *t++ = kTokenMatch | len << 20 | (back & kWindowMask);
    at += len;
  } while (--left != 0 && at < stop);
  in.Fill();
  tr.in = in;
  tr.at = at;
  tr.block_left = left;
  tr.t = t;
  tr.head = head;
  tr.lit = lit;
  tr.h = h;
}

void TokenPlain(const Decoder& d, TokenRun& tr, uint32_t stop) {
  TokenBody(d, tr, stop);
}

#if defined(ACEKIT_DECODE_BMI2)
__attribute__((target("bmi2"))) void TokenBmi2(const Decoder& d, TokenRun& tr, uint32_t stop) {
  TokenBody(d, tr, stop);
}
#endif

// A chunk applied without masking must end this far before the window's
// end: the copies work in whole blocks that run up to 15 bytes past the
// token they copy, over bytes the next tokens write.
constexpr uint32_t kApplySlack = 32;

// Copies in blocks of kBlock bytes from `back` >= kBlock behind, running
// past the end; see kApplySlack.
template <size_t kBlock>
inline void OverCopy(uint8_t* d, const uint8_t* s, uint32_t len) {
  uint32_t i = 0;
  do {
    CopyBlock<kBlock>(d + i, s + i);
    i += kBlock;
  } while (i < len);
}

// `old` holds what the window held from `start` on, up to the chunk's end
// and kApplySlack beyond: the bytes ahead of the output that a copy has
// run over are put back from there before a match that may read them (one
// reaching back past the window's start, which is the only kind that
// reads ahead of the output) and at the chunk's end.
void ApplyFlat(uint8_t* window, uint32_t start, const uint8_t* old, const uint32_t* t,
               const uint32_t* end) {
  uint8_t* out = window + start;
  while (t < end) {
    const uint32_t w = *t++;
    if (w & kTokenMatch) {
      const uint32_t len = (w >> 20) & 0x1FF;
      const uint32_t back = w & kWindowMask;
      const auto at = static_cast<uint32_t>(out - window);
      if (back >= 16 && back <= at) {
        OverCopy<16>(out, out - back, len);
      } else if (back >= 8 && back <= at) {
        OverCopy<8>(out, out - back, len);
      } else if (back == 1 && at != 0) {
        std::memset(out, out[-1], len);
      } else if (back != 0 && back <= at) {
        const uint8_t* from = out - back;
        for (uint32_t i = 0; i < len; ++i) out[i] = from[i];
      } else {
        // A copy from itself (0) leaves the bytes as they were.
        std::memcpy(out, old + (at - start), kApplySlack);
        if (back != 0) CopyMatchWrapped(window, at, back, len);
      }
      out += len;
      continue;
    }
    OverCopy<16>(out, reinterpret_cast<const uint8_t*>(t), w);
    out += w;
    t += (w + 3) / 4;
  }
  const auto at = static_cast<uint32_t>(out - window);
  std::memcpy(out, old + (at - start), kApplySlack);
}

void ApplyWrapped(uint8_t* window, uint32_t pos, const uint32_t* t, const uint32_t* end) {
  while (t < end) {
    const uint32_t w = *t++;
    if (w & kTokenMatch) {
      const uint32_t len = (w >> 20) & 0x1FF;
      CopyMatchWrapped(window, pos, w & kWindowMask, len);
      pos = (pos + len) & kWindowMask;
      continue;
    }
    const auto* src = reinterpret_cast<const uint8_t*>(t);
    for (uint32_t i = 0; i < w; ++i) {
      window[pos] = src[i];
      pos = (pos + 1) & kWindowMask;
    }
    t += (w + 3) / 4;
  }
}

}  // namespace

uint32_t DecodeTokens(Decoder& d, uint32_t* tokens, uint32_t* words) {
  *words = 0;
  if (d.remaining <= 0 || !d.stream_open) return 0;
  uint32_t limit = kChunkSize - kMaxMatch;
  if (static_cast<uint32_t>(d.remaining) < limit) limit = static_cast<uint32_t>(d.remaining);
  TokenRun tr{
      d.bits, 0,       d.block_left, {d.dist_index, {d.dist[0], d.dist[1], d.dist[2], d.dist[3]}},
      tokens, nullptr, nullptr};
  while (tr.at < limit) {
    if (tr.block_left == 0 && !NextBlock(d, tr.in, tr.block_left)) break;
#if defined(ACEKIT_DECODE_BMI2)
    if (platform::CpuHasBmi2()) {
      TokenBmi2(d, tr, limit);
      continue;
    }
#endif
    TokenPlain(d, tr, limit);
  }
  if (tr.head != nullptr) tr.t = CloseLiterals(tr.head, tr.lit);
  d.bits = tr.in;
  d.block_left = tr.block_left;
  for (int i = 0; i < 4; ++i) d.dist[i] = tr.h.dist[i];
  d.dist_index = tr.h.index;
  *words = static_cast<uint32_t>(tr.t - tokens);
  const uint32_t produced = SettleChunk(d, tr.at, tr.in);
  d.remaining -= static_cast<int32_t>(produced);
  return produced;
}

void ApplyTokens(Decoder& d, const uint32_t* tokens, uint32_t words, uint32_t bytes, uint8_t* buf) {
  uint8_t* const window = d.window;
  const uint32_t start = d.pos;
  BackWindow(d, start, bytes + kApplySlack);
  if (bytes <= kChunkSize && start + bytes + kApplySlack <= kWindowSize) {
    uint8_t old[kChunkSize + kApplySlack];
    std::memcpy(old, window + start, bytes + kApplySlack);
    ApplyFlat(window, start, old, tokens, tokens + words);
  } else {
    ApplyWrapped(window, start, tokens, tokens + words);
  }
  d.pos = (start + bytes) & kWindowMask;
  d.remaining -= static_cast<int32_t>(bytes);
  if (buf != nullptr) CopyFromWindow(window, start, buf, bytes);
  d.crc = CrcOfWindow(d.crc, window, start, bytes);
}

}  // namespace acekit::decompress
