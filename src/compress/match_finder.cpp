#include "compress/match_finder.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/platform.h"

namespace acekit::compress {
namespace {

#if defined(__GNUC__)
#define ACEKIT_HOT inline __attribute__((always_inline))
#else
#define ACEKIT_HOT inline
#endif

// Longest match the search looks for, and the lookahead left after a cancel:
// enough for the loop to finish the current match without running dry.
constexpr int32_t kMaxMatch = 256;
constexpr int32_t kCancelLookahead = 300;
// Probe offsets stop short of the comparison reach past P.
constexpr uint32_t kMaxProbe = 253;
// Look-ahead hashes computed at a time.
constexpr uint32_t kAheadBatch = 8;

// A hint only: the finder's tables are larger than the first-level cache and
// their next entries are known a position ahead.
ACEKIT_HOT void Prefetch(const void* p) {
#if defined(__GNUC__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}

// Two bytes as one value; only compared for equality, so the byte order
// does not matter.
ACEKIT_HOT uint32_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

ACEKIT_HOT uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Number of equal leading bytes of a and b, at most max. Reads up to 7 bytes
// past max, which the window's spare bytes absorb.
ACEKIT_HOT int32_t MatchLength(const uint8_t* a, const uint8_t* b, int32_t max) {
  int32_t n = 0;
  if constexpr (std::endian::native == std::endian::little) {
    while (n < max) {
      const uint64_t x = Load64(a + n) ^ Load64(b + n);
      if (x != 0) {
        n += std::countr_zero(x) >> 3;
        return n < max ? n : max;
      }
      n += 8;
    }
    return max;
  } else {
    while (n < max && a[n] == b[n]) ++n;
    return n;
  }
}

// Screens candidates for a match longer than `len` (len >= 2): the first
// eight bytes and the eight up to byte len must agree. Never false for a
// longer match, so it may drop candidates before MatchLength. The shift for
// short lengths is worked out once per length.
class Screen {
 public:
  explicit Screen(int32_t len) { Set(len); }
  ACEKIT_HOT void Set(int32_t len) {
    len_ = len;
    shift_ = len < 8 ? static_cast<uint32_t>(56 - 8 * len) : 0;
    tail_ = len < 8 ? 0 : static_cast<uint32_t>(len) - 7;
  }
  ACEKIT_HOT bool Pass(const uint8_t* a, const uint8_t* b) const {
    if constexpr (std::endian::native == std::endian::little) {
      const uint64_t x = Load64(a) ^ Load64(b);
      if (tail_ == 0) return (x << shift_) == 0;
      return (x | (Load64(a + tail_) ^ Load64(b + tail_))) == 0;
    } else {
      return a[len_] == b[len_] && a[0] == b[0] && a[1] == b[1];
    }
  }

 private:
  int32_t len_;
  uint32_t shift_;
  uint32_t tail_;
};

template <uint32_t kLog2, uint32_t kShift, uint32_t kHashBits>
struct Coder {
  static constexpr uint32_t kD = 1u << kLog2;
  static constexpr uint32_t kPosMask = kD - 1;
  static constexpr uint32_t kHashes = 1u << kHashBits;
  static constexpr uint32_t kMask = kHashes - 1;
  // Short matches this far away cost more than their literals. Only the
  // largest window has such distances.
  static constexpr bool kFarRule = kD > 524288;
  static constexpr BlockLayout kLayout = LayoutOf(WindowShape{kLog2, kShift, kHashBits});
  static constexpr size_t kLinkBytes = LinkBytes(WindowShape{kLog2, kShift, kHashBits});
  static constexpr bool kDistanceLinks = kLinkBytes == 2;

  static uint32_t Hash3(const uint8_t* p) {
    return ((((static_cast<uint32_t>(p[0]) << kShift) ^ p[1]) << kShift) ^ p[2]) & kMask;
  }

  // Clears every longchain3 flag by moving to the next generation.
  static void ClearFlags(MatchState& m) {
    if (++m.flag_gen == 0) {
      std::memset(m.longchain3, 0, kHashes);
      m.flag_gen = 1;
    }
  }

  // Brings the offset back to 0 long before the signed comparisons of chain
  // entries could overflow; entries of earlier runs become the 0 they stand
  // for.
  static void Renormalize(MatchState& m) {
    if (m.offset < m.offset_limit) return;
    for (uint32_t i = 0; i < kHashes; ++i) {
      const int32_t v = static_cast<int32_t>(m.head3[i] - m.offset);
      m.head3[i] = v > 0 ? static_cast<uint32_t>(v) : 0;
    }
    if constexpr (!kDistanceLinks) {
      uint32_t* const prev3 = reinterpret_cast<uint32_t*>(m.prev3);
      for (uint32_t i = 0; i < kD; ++i) {
        const int32_t v = static_cast<int32_t>(prev3[i] - m.offset);
        prev3[i] = v > 0 ? static_cast<uint32_t>(v) : 0;
      }
    }
    m.offset = 0;
  }

  // Moves the upper half down and refills it; returns the bytes read.
  static uint32_t Slide(MatchState& m, StreamIo& io) {
    uint8_t* const w = m.window;
    std::memcpy(w, w + kD, kD);
    const uint32_t n = io.ReadInput(w + kD, kD);
    ClearFlags(m);
    m.offset += kD;
    Renormalize(m);
    std::memset(m.head2, 0, 256 * sizeof(uint32_t));
    std::memset(m.prev2, 0, 256 * sizeof(uint32_t));
    m.ahead_end = 0;
    m.flagged_lo = m.flagged_hi = 0;
    m.base = m.base > kD ? m.base - kD : 0;
    return n;
  }

  // Flagged chains make Probe look further ahead: the first k from 1 whose
  // string's chain is not flagged (at most kMaxProbe), and that string's
  // hash, rolled on from h3. From k = 3 on the rolled value has forgotten h3
  // and equals the string's own hash. Only called when h3's own chain is
  // flagged.
  struct ProbeResult {
    uint32_t k;
    uint32_t h;
  };
  static ProbeResult Probe(MatchState& m, uint32_t p, uint32_t h3) {
    const uint8_t* const w = m.window;
    const uint8_t* const lc = m.longchain3;
    const uint8_t gen = m.flag_gen;
    uint32_t h = ((h3 << kShift) ^ w[p + 3]) & kMask;
    if (lc[h] != gen) return {1, h};
    h = ((h << kShift) ^ w[p + 4]) & kMask;
    if (lc[h] != gen) return {2, h};
    const uint32_t last = p + kMaxProbe;
    uint32_t q = p + 3;
    uint32_t lo = q;
    if (m.flagged_lo <= q && q < m.flagged_hi) {
      lo = m.flagged_lo;
      q = m.flagged_hi < last ? m.flagged_hi : last;
    }
    // Strings ahead are hashed as the scan reaches them, a few at a time
    // and without gaps; later probes reuse them.
    uint32_t* const ahead = m.ahead;
    uint32_t end = m.ahead_end;
    if (end < p + 3) end = p + 3;
    for (;;) {
      while (q >= end) {
        uint32_t v = Hash3(w + end);
        ahead[end & (kAheadRing - 1)] = v;
        for (const uint32_t stop = end + kAheadBatch; ++end < stop;) {
          v = ((v << kShift) ^ w[end + 2]) & kMask;
          ahead[end & (kAheadRing - 1)] = v;
        }
      }
      if (q == last || lc[ahead[q & (kAheadRing - 1)]] != gen) break;
      ++q;
    }
    m.ahead_end = end;
    m.flagged_lo = lo;
    m.flagged_hi = q;
    return {q - p, ahead[q & (kAheadRing - 1)]};
  }

  static void ClearFlag(MatchState& m, uint32_t h) {
    if (m.longchain3[h] == m.flag_gen) {
      m.longchain3[h] = 0;
      m.flagged_lo = m.flagged_hi = 0;
    }
  }

  // The finder's state while coding, as plain values: stores into the chain
  // tables cannot alias them, so they stay in registers. MatchState is
  // touched only on the rare paths (slides, flagged chains, block ends).
  struct Search {
    uint8_t* const w;
    const int32_t g;
    uint32_t p;
    int32_t l;
    uint32_t h3;
    uint32_t h2;
    int32_t b;
    uint32_t mpos;
    uint32_t off;
    uint32_t base;
    uint8_t gen;

    explicit Search(MatchState& ms)
        : w(ms.window),
          g(ms.budget),
          p(ms.pos),
          l(ms.lookahead),
          h3(ms.h3),
          h2(ms.h2),
          b(ms.best),
          mpos(ms.match_pos),
          off(ms.offset),
          base(ms.base),
          gen(ms.flag_gen) {}

    // The tables at their fixed places in the block, each access written
    // from w so that one register addresses them all.
    ACEKIT_HOT uint32_t& Head3(uint32_t h) const {
      return *reinterpret_cast<uint32_t*>(w + kLayout.head3 + size_t{h} * 4);
    }
    // The chain link of q: set from the head it replaces (a position plus
    // off), read as the older position without the offset.
    ACEKIT_HOT void SetLink(uint32_t q, uint32_t head) const {
      uint8_t* const at = w + kLayout.prev3 + size_t{q & kPosMask} * kLinkBytes;
      if constexpr (kDistanceLinks) {
        // A stale head lies at or below off, so its distance is at least q,
        // which is at least D: it saturates like any distance out of reach.
        const uint32_t dist = std::min<uint32_t>(q + off - head, 0xFFFF);
        *reinterpret_cast<uint16_t*>(at) = static_cast<uint16_t>(dist);
      } else {
        *reinterpret_cast<uint32_t*>(at) = head;
      }
    }
    ACEKIT_HOT int32_t Older(int32_t q) const {
      const uint8_t* const at =
          w + kLayout.prev3 + size_t{static_cast<uint32_t>(q) & kPosMask} * kLinkBytes;
      if constexpr (kDistanceLinks) {
        return q - *reinterpret_cast<const uint16_t*>(at);
      } else {
        return static_cast<int32_t>(*reinterpret_cast<const uint32_t*>(at) - off);
      }
    }
    ACEKIT_HOT uint8_t& Flag(uint32_t h) const { return w[kLayout.longchain3 + h]; }
    ACEKIT_HOT uint32_t& Head2(uint32_t h) const {
      return *reinterpret_cast<uint32_t*>(w + kLayout.head2 + size_t{h} * 4);
    }
    ACEKIT_HOT uint32_t& Prev2(uint32_t q) const {
      return *reinterpret_cast<uint32_t*>(w + kLayout.prev2 + size_t{q & 255} * 4);
    }

    void Store(MatchState& m) const {
      m.pos = p;
      m.lookahead = l;
      m.h3 = h3;
      m.h2 = h2;
      m.best = b;
      m.match_pos = mpos;
    }

    ACEKIT_HOT void Roll() {
      h3 = ((h3 << kShift) ^ w[p + 2]) & kMask;
      h2 = ((h2 << 4) ^ w[p + 1]) & 0xFF;
    }

    // The hashes roll on across a slide: the steps just before it read the
    // zero bytes past 2D, and the first positions after it keep those.
    // Returns true when the window slid.
    ACEKIT_HOT bool Advance(MatchState& m, StreamIo& io) {
      --l;
      ++p;
      bool slid = false;
      if (p >= 2 * kD) [[unlikely]] {
        l += static_cast<int32_t>(Slide(m, io));
        p -= kD;
        off = m.offset;
        gen = m.flag_gen;
        base = m.base;
        slid = true;
      }
      Roll();
      return slid;
    }

    ACEKIT_HOT void Insert() {
      SetLink(p, Head3(h3));
      Head3(h3) = p + off;
      Prev2(p) = Head2(h2);
      Head2(h2) = p;
    }

    // Walks the chain of h, whose entries are k bytes ahead of the match
    // start they stand for, looking for a match longer than b (at most max).
    // True when the chain ran out, false when the budget or a match of max
    // bytes ended the walk.
    template <bool kAhead>
    ACEKIT_HOT bool Walk(uint32_t k, uint32_t h, int32_t max) {
      const uint32_t limit = k + (p > kD ? p - kD : 0);
      const uint8_t* const here = w + p;
      int32_t cand = static_cast<int32_t>(Head3(h) - off);
      int32_t counter = g;
      Screen screen(b);
      while (cand > static_cast<int32_t>(limit)) {
        if (--counter == 0) {
          Flag(h) = gen;
          return false;
        }
        // Loaded before the comparison's branch, which often mispredicts.
        const int32_t next = Older(cand);
        const uint32_t start = static_cast<uint32_t>(cand) - k;
        // A probe offset can put the start before the run; such a candidate
        // counts as compared and found wanting. Entries of the string at P
        // itself all lie in the run.
        if ((!kAhead || start >= base) && screen.Pass(w + start, here)) {
          int32_t n = MatchLength(w + start, here, max);
          const uint32_t dist = p - start;
          if (kFarRule && n <= 4 && dist >= 524288) n = 1;
          if (n <= 3 && dist > 8192) n = 1;
          if (n > b) {
            b = n;
            mpos = start;
            if (n == max) return false;  // the flag stays as it was
            screen.Set(b);
          }
        }
        cand = next;
      }
      return true;
    }

    // Fetches the chain head and flag of the string at q.
    ACEKIT_HOT void PrefetchAt(uint32_t h) const {
      Prefetch(&Head3(h));
      Prefetch(&Flag(h));
    }

    // The newest position within 256 bytes whose two bytes equal P's, from
    // the chain of h2. The first two entries are weighed without a branch
    // each; the chain goes on only when both are in reach and differ.
    ACEKIT_HOT void FindPair() {
      const uint32_t lo = p - 256;
      const uint32_t key = Load16(w + p);
      const uint32_t c1 = Head2(h2);
      const uint32_t c2 = Prev2(c1);  // the chain only while c1 is in reach
      // Positions are window positions, so both loads stay in the block.
      const uint32_t key1 = Load16(w + c1);
      const uint32_t key2 = Load16(w + c2);
      const uint32_t in1 = static_cast<uint32_t>(c1 > lo);
      const uint32_t in2 = in1 & static_cast<uint32_t>(c2 > lo);
      const uint32_t hit1 = in1 & static_cast<uint32_t>(key1 == key);
      const uint32_t hit2 = in2 & static_cast<uint32_t>(key2 == key);
      if ((hit1 | hit2) != 0) {
        b = 2;
        mpos = hit1 != 0 ? c1 : c2;
        return;
      }
      if (in2 == 0) return;
      for (uint32_t cand = Prev2(c2); cand > lo; cand = Prev2(cand)) {
        if (Load16(w + cand) == key) {
          b = 2;
          mpos = cand;
          return;
        }
      }
    }

    ACEKIT_HOT void FindMatch(MatchState& m) {
      if (b < 2) b = 2;
      mpos = p;
      PrefetchAt(((h3 << kShift) ^ w[p + 3]) & kMask);
      // A chain that used up its budget last time is skipped in favour of
      // the chain of a later string that any long match must contain. The
      // chain a probe picks is never flagged, so only the second walk can
      // clear a flag when its chain runs out.
      if (Flag(h3) != gen) [[likely]] {
        Walk<false>(0, h3, kMaxMatch);
      } else {
        const ProbeResult r = Probe(m, p, h3);
        if (r.k == kMaxProbe) {
          ClearFlag(m, r.h);
        } else {
          Walk<true>(r.k, r.h, kMaxMatch);
        }
        // Matches shorter than the probe reach are invisible to that walk.
        if (b <= static_cast<int32_t>(r.k) + 2 &&
            Walk<false>(0, h3, static_cast<int32_t>(r.k) + 2)) {
          ClearFlag(m, h3);
        }
      }

      if (mpos == p || b < 3) {
        b = 1;
        if (p > kD + 256) FindPair();
      }
      Insert();
    }

    // Keeps matches inside the valid input and drops short ones whose
    // distance codes would cost more than the literals.
    ACEKIT_HOT void Clamp() {
      const int32_t dist = static_cast<int32_t>(p - mpos);
      if (b > l) {
        if (l > 3) {
          b = l;
        } else if (l == 3 && dist - 1 < 8191) {
          b = 3;
        } else {
          b = 1;
        }
      }
      if (kFarRule && b <= 4 && dist - 1 >= 524288) b = 1;
      if (b <= 3 && dist - 1 > 8191) b = 1;
    }
  };

  static void Start(MatchState& m, StreamIo& io) {
    // Everything the tables hold now lies below the new offset.
    m.offset += 2 * kD;
    if (m.offset >= m.offset_limit) {
      std::memset(m.head3, 0, sizeof(uint32_t) * kHashes);
      std::memset(m.prev3, 0, kLinkBytes * kD);
      m.offset = 0;
    }
    ClearFlags(m);
    std::memset(m.head2, 0, 256 * sizeof(uint32_t));
    std::memset(m.prev2, 0, 256 * sizeof(uint32_t));
    const uint32_t n = io.ReadInput(m.window + kD, kD);
    m.lookahead = static_cast<int32_t>(n);
    m.pos = kD;
    m.base = kD;
    m.best = n != 0 ? 1 : 0;
    m.h2 = 0;
    m.h3 = Hash3(m.window + kD);
    m.ahead_end = 0;
    m.flagged_lo = m.flagged_hi = 0;
    Search s(m);
    s.Insert();
  }

  static void Resume(MatchState& m, StreamIo& io) {
    ClearFlags(m);
    if (m.pos < 2 * kD) {
      m.lookahead += static_cast<int32_t>(io.ReadInput(m.window + m.pos, 2 * kD - m.pos));
    } else {
      m.lookahead += static_cast<int32_t>(Slide(m, io));
      m.pos -= kD;
    }
    m.ahead_end = 0;
    m.flagged_lo = m.flagged_hi = 0;
    m.h2 = 0;
    m.h3 = Hash3(m.window + m.pos);
    m.best = m.lookahead != 0 ? 1 : 0;
  }

  static void Run(MatchState& m, StreamIo& io, BlockCoder& blocks) {
    io.coded = 0;
    io.cut_lookahead = false;
    Search s(m);
    // Input coded so far is p - coded_base; a slide moves both.
    uint32_t coded_base = s.p;
    BlockSymbol* out = blocks.cursor();
    BlockSymbol* const out_end = blocks.buffer_end();
    uint32_t* const literal_count = blocks.main_counts();
    // Makes room for one symbol of the position before P. A cancel during
    // the block's flushes ends the loop soon.
    auto room = [&]() {
      if (out == out_end) [[unlikely]] {
        blocks.set_cursor(out);
        io.coded = static_cast<int32_t>(s.p - 1 - coded_base);
        blocks.EmitBlock(io);
        out = blocks.buffer_begin();
        if (io.cut_lookahead) {
          io.cut_lookahead = false;
          if (s.l > kCancelLookahead) s.l = kCancelLookahead;
        }
      }
    };
    // One search per pass, so that the loop holds a single copy of it. A
    // pass either weighs the match at P against the next position's (lazy
    // evaluation) or, right after a match, searches afresh.
    bool fresh = false;
    for (;;) {
      int32_t prev_len = 0;
      uint32_t prev_dist = 0;
      if (fresh) {
        s.b = 1;
      } else {
        if (s.l <= 0) break;
        // The new search has to beat the previous match minus one byte.
        prev_len = s.b;
        prev_dist = s.p - s.mpos;
        s.b -= 1;
      }
      if (s.Advance(m, io)) coded_base -= kD;
      s.FindMatch(m);
      s.Clamp();
      fresh = false;
      if (prev_len >= s.b && prev_len >= 2) {
        room();
        *out++ = blocks.MatchSymbol(static_cast<uint32_t>(prev_len), prev_dist);
        // P + lookahead never passes 2D and the match fits the lookahead it
        // was found with, so only the step after a match's last byte can
        // slide.
        s.l -= prev_len - 2;
        for (int32_t i = prev_len - 2; i > 0; --i) {
          ++s.p;
          s.Roll();
          s.Insert();
        }
        fresh = true;
      } else if (prev_len != 0) {
        room();
        const uint8_t byte = s.w[s.p - 1];
        ++literal_count[byte];
        *out++ = BlockCoder::LiteralSymbol(byte);
      }
    }
    blocks.set_cursor(out);
    io.coded = static_cast<int32_t>(s.p - coded_base);
    s.Store(m);
  }

  static constexpr CoderEntry kEntry{&Start, &Resume, &Run};
};

template <int kShape>
using CoderOf = Coder<kWindowShapes[kShape].log2_size, kWindowShapes[kShape].hash_shift,
                      kWindowShapes[kShape].hash_bits>;

constexpr const CoderEntry* kEntries[kWindowSizes] = {&CoderOf<0>::kEntry, &CoderOf<1>::kEntry,
                                                      &CoderOf<2>::kEntry, &CoderOf<3>::kEntry,
                                                      &CoderOf<4>::kEntry};

}  // namespace

bool AllocMatchBuffers(MatchState& m, int shape) {
  FreeMatchBuffers(m);
  const BlockLayout layout = LayoutOf(kWindowShapes[shape]);
  // Zeroed once here and never again: bytes past the valid input take part
  // in comparisons, so what earlier reads left there shapes the output.
  uint8_t* const block = static_cast<uint8_t*>(platform::AllocZeroed(layout.size));
  if (block == nullptr) return false;
  m.window = block;
  m.head3 = reinterpret_cast<uint32_t*>(block + layout.head3);
  m.prev3 = block + layout.prev3;
  m.longchain3 = block + layout.longchain3;
  m.head2 = reinterpret_cast<uint32_t*>(block + layout.head2);
  m.prev2 = reinterpret_cast<uint32_t*>(block + layout.prev2);
  m.shape = shape;
  m.offset = 0;
  m.flag_gen = 1;
  m.pos = 0;
  m.lookahead = 0;
  return true;
}

void FreeMatchBuffers(MatchState& m) {
  if (m.window != nullptr) platform::Free(m.window);
  m.window = nullptr;
  m.head3 = nullptr;
  m.prev3 = nullptr;
  m.longchain3 = nullptr;
  m.head2 = nullptr;
  m.prev2 = nullptr;
}

int32_t LevelBudget(int32_t level) {
  switch (level) {
    case 2:
      return 16;
    case 3:
      return 32;
    case 4:
      return 256;
    default:
      return 6;
  }
}

const CoderEntry& CoderFor(int shape) {
  return *kEntries[shape];
}

}  // namespace acekit::compress
