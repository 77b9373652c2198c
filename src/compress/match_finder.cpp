#include "compress/match_finder.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/hot.h"
#include "platform/platform.h"

namespace acekit::compress {
namespace {

// Longest match the search looks for, and the lookahead left after a cancel:
// enough for the loop to finish the current match without running dry.
constexpr int32_t kMaxMatch = 256;
constexpr int32_t kCancelLookahead = 300;
// Passes of the coding loop between choices of the search variant, and the
// share of them (one in kSparseShare) below which matches count as rare.
constexpr uint32_t kSpanPasses = 4096;
constexpr uint32_t kSparseShare = 32;
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
  static constexpr bool kSummary = HasChainSummary(WindowShape{kLog2, kShift, kHashBits});
  // A summary: its generation in the low bits, three keys of the first two
  // bytes of the chain's newest positions (the newest lowest), and the
  // distance from the head to its fourth position (at most kFarMax: out of
  // reach, or none).
  static constexpr uint32_t kSummaryGenBits = 4;
  static constexpr uint32_t kSummaryGenMask = (1u << kSummaryGenBits) - 1;
  static constexpr uint32_t kKeyBits = 6;
  static constexpr uint32_t kKeyLow = kSummaryGenBits;
  static constexpr uint32_t kKeyMask = (1u << kKeyBits) - 1;
  static constexpr uint32_t kKeyRepeat = 1u | 1u << kKeyBits | 1u << 2 * kKeyBits;
  static constexpr uint32_t kKeySlots = (1u << 3 * kKeyBits) - 1;
  static constexpr uint32_t kFarLow = kKeyLow + 3 * kKeyBits;
  static constexpr uint32_t kFarShift = 6;
  static constexpr uint32_t kFarMax = (0xFFFFFFFFu >> kFarLow) << kFarShift;
  static_assert(!kSummary || kDistanceLinks, "the summary follows distance links");

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

  // Makes every chain summary stale.
  static void NextSummaryGen(MatchState& m) {
    if constexpr (kSummary) {
      if (++m.summary_gen > kSummaryGenMask) {
        for (uint32_t h = 0; h < kHashes; ++h) m.head3[2 * h + 1] = 0;
        m.summary_gen = 1;
      }
    }
  }

  // Brings the offset back to 0 long before the signed comparisons of chain
  // entries could overflow; entries of earlier runs become the 0 they stand
  // for.
  static void Renormalize(MatchState& m) {
    if (m.offset < m.offset_limit) return;
    constexpr size_t kStep = kLayout.head3_stride / sizeof(uint32_t);
    for (size_t i = 0; i < kHashes * kStep; i += kStep) {
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
    uint32_t sgen;

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
          gen(ms.flag_gen),
          sgen(ms.summary_gen) {}

    // The tables at their fixed places in the block, each access written
    // from w so that one register addresses them all.
    ACEKIT_HOT uint32_t& Head3(uint32_t h) const {
      return *reinterpret_cast<uint32_t*>(w + kLayout.head3 + size_t{h} * kLayout.head3_stride);
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
    ACEKIT_HOT uint32_t& Summary3(uint32_t h) const {
      return *reinterpret_cast<uint32_t*>(w + kLayout.head3 + size_t{h} * kLayout.head3_stride + 4);
    }
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
        sgen = m.summary_gen;
        base = m.base;
        slid = true;
      }
      Roll();
      return slid;
    }

    // a where c holds, else b, without a branch.
    static ACEKIT_HOT int32_t Pick(bool c, int32_t a, int32_t b) {
      const int32_t mask = -static_cast<int32_t>(c);
      return (a & mask) | (b & ~mask);
    }

    // The summary key of the two bytes at q, a window position.
    ACEKIT_HOT uint32_t PairKey(int32_t q) const {
      const uint32_t at = static_cast<uint32_t>(q) & (2 * kD - 1);
      return (Load16(w + at) * 0x9E3779B1u) >> (32 - kKeyBits);
    }

    // With kSparse, also writes the summary of h3's chain afresh from its
    // newest three positions, which pays only where most searches find
    // nothing. Links are read only from positions in reach, whose slots
    // still hold their own links.
    template <bool kSparse>
    ACEKIT_HOT void Insert() {
      const uint32_t old = Head3(h3);
      SetLink(p, old);
      Head3(h3) = p + off;
      if constexpr (kSummary && kSparse) {
        const int32_t reach = static_cast<int32_t>(p - kD);
        const uint32_t key = PairKey(static_cast<int32_t>(p));
        const int32_t second = static_cast<int32_t>(old - off);
        // Both links are read whatever the chain's length (any slot lies in
        // the table) and picked by masks, which spares two branches that
        // the compiler would otherwise make of the choice.
        const bool in2 = second > reach;
        const int32_t third = Pick(in2, Older(second), reach);
        const bool in3 = third > reach;
        const int32_t fourth = Pick(in3, Older(third), reach);
        // Positions out of reach repeat the key, which adds no false hits.
        // The summary written when the head joined holds the next two keys
        // unless it is stale; then they come from the window.
        const uint32_t before = Summary3(h3);
        uint32_t key2;
        uint32_t key3;
        if ((before & kSummaryGenMask) == sgen || !in2) [[likely]] {
          key2 = before >> kKeyLow & kKeyMask;
          key3 = before >> (kKeyLow + kKeyBits) & kKeyMask;
        } else {
          key2 = PairKey(second);
          key3 = PairKey(third);
        }
        key2 = in2 ? key2 : key;
        key3 = in3 ? key3 : key;
        // In units of 2^kFarShift bytes, rounded down: the fourth may seem
        // nearer than it is, never farther.
        const uint32_t far =
            std::min<uint32_t>(p - static_cast<uint32_t>(fourth), kFarMax) >> kFarShift;
        uint32_t sum = far << kFarLow | key3 << (kKeyLow + 2 * kKeyBits) |
                       key2 << (kKeyLow + kKeyBits) | key << kKeyLow | sgen;
        // The bytes at P may still change when they lie past the input.
        if (l < 2) sum = 0;
        Summary3(h3) = sum;
      }
      Prev2(p) = Head2(h2);
      Head2(h2) = p;
    }

    // False when h3's chain summary shows that the walk at P would change
    // nothing: at most three positions in reach, fewer than any budget (the
    // smallest is 6), and none with P's first two bytes.
    ACEKIT_HOT bool MayMatch() const {
      if constexpr (kSummary) {
        const uint32_t sum = Summary3(h3);
        const int32_t limit = static_cast<int32_t>(p > kD ? p - kD : 0);
        const int32_t head = static_cast<int32_t>(Head3(h3) - off);
        const int32_t fourth = head - static_cast<int32_t>((sum >> kFarLow) << kFarShift);
        // A slot equals the key exactly when that slot of x is zero.
        const uint32_t x =
            (sum >> kKeyLow ^ PairKey(static_cast<int32_t>(p)) * kKeyRepeat) & kKeySlots;
        const uint32_t zero_slot = (x - kKeyRepeat) & ~x & (kKeyRepeat << (kKeyBits - 1));
        // A chain without a position in reach needs no summary.
        return (head > limit) &
               ((zero_slot != 0) | ((sum & kSummaryGenMask) != sgen) | (fourth > limit));
      } else {
        return true;
      }
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
    // the chain of h2. The first entries are weighed without a branch each
    // (two of them, or three where matches are rare and the chain's length
    // is what mispredicts); the chain goes on only when all of them are in
    // reach and differ.
    template <bool kSparse>
    ACEKIT_HOT void FindPair() {
      const uint32_t lo = p - 256;
      const uint32_t key = Load16(w + p);
      // A link is used only while the entry before it is in reach, but
      // positions are window positions, so every load stays in the block.
      const uint32_t c1 = Head2(h2);
      const uint32_t c2 = Prev2(c1);
      const bool in1 = c1 > lo;
      const bool in2 = in1 & (c2 > lo);
      const bool hit1 = in1 & (Load16(w + c1) == key);
      const bool hit2 = in2 & (Load16(w + c2) == key);
      uint32_t cand;
      if constexpr (kSparse) {
        const uint32_t c3 = Prev2(c2);
        const bool in3 = in2 & (c3 > lo);
        const bool hit3 = in3 & (Load16(w + c3) == key);
        if ((hit1 | hit2 | hit3) != 0) {
          b = 2;
          const uint32_t near = hit1 ? c1 : c2;
          mpos = (hit1 | hit2) ? near : c3;
          return;
        }
        if (!in3) return;
        cand = Prev2(c3);
      } else {
        if ((hit1 | hit2) != 0) {
          b = 2;
          mpos = hit1 ? c1 : c2;
          return;
        }
        if (!in2) return;
        cand = Prev2(c2);
      }
      for (; cand > lo; cand = Prev2(cand)) {
        if (Load16(w + cand) == key) {
          b = 2;
          mpos = cand;
          return;
        }
      }
    }

    // `pair` asks for the 2-byte search when no longer match turns up; the
    // caller leaves it out where a 2-byte result could not change what it
    // does next.
    template <bool kSparse>
    ACEKIT_HOT void FindMatch(MatchState& m, bool pair) {
      if (b < 2) b = 2;
      mpos = p;
      const uint32_t next_h3 = ((h3 << kShift) ^ w[p + 3]) & kMask;
      PrefetchAt(next_h3);
      // A chain that used up its budget last time is skipped in favour of
      // the chain of a later string that any long match must contain. The
      // chain a probe picks is never flagged, so only the second walk can
      // clear a flag when its chain runs out.
      if (Flag(h3) != gen) [[likely]] {
        if (!kSparse || MayMatch()) Walk<false>(0, h3, kMaxMatch);
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
        if (pair && p > kD + 256) FindPair<kSparse>();
      }
      Insert<kSparse>();
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
      std::memset(m.head3, 0, kLayout.head3_stride * kHashes);
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
    if (m.sparse) {
      s.template Insert<true>();
    } else {
      s.template Insert<false>();
    }
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

  // kRecord: the parse goes to `rec` instead of `blocks` (see ParseRecord).
  template <bool kRecord>
  static void RunAs(MatchState& m, StreamIo& io, BlockCoder* blocks, ParseRecord* rec) {
    io.coded = 0;
    io.cut_lookahead = false;
    Search s(m);
    // Input coded so far is p - coded_base; a slide moves both.
    uint32_t coded_base = s.p;
    BlockSymbol* out = nullptr;
    BlockSymbol* out_end = nullptr;
    uint32_t* literal_count = nullptr;
    if constexpr (!kRecord) {
      out = blocks->cursor();
      out_end = blocks->buffer_end();
      literal_count = blocks->main_counts();
    }
    // Makes room for one symbol of the position before P. A cancel during
    // the block's flushes ends the loop soon.
    auto room = [&]() {
      if constexpr (!kRecord) {
        if (out == out_end) [[unlikely]] {
          blocks->set_cursor(out);
          io.coded = static_cast<int32_t>(s.p - 1 - coded_base);
          blocks->EmitBlock(io);
          out = blocks->buffer_begin();
          if (io.cut_lookahead) {
            io.cut_lookahead = false;
            if (s.l > kCancelLookahead) s.l = kCancelLookahead;
          }
        }
      }
    };
    // One search per pass, so that the loop holds a single copy of it. A
    // pass either weighs the match at P against the next position's (lazy
    // evaluation) or, right after a match, searches afresh. Passes run in
    // spans; a span in which matches were rare makes the next one take the
    // search variant that suits such data. Both find the same matches.
    bool fresh = false;
    uint32_t matches = 0;
    auto span = [&]<bool kSparse>() ACEKIT_HOT_LAMBDA -> bool {
      for (uint32_t pass = 0; pass < kSpanPasses; ++pass) {
        int32_t prev_len = 0;
        uint32_t prev_dist = 0;
        if (fresh) {
          s.b = 1;
        } else {
          if (s.l <= 0) return false;
          // The new search has to beat the previous match minus one byte.
          prev_len = s.b;
          prev_dist = s.p - s.mpos;
          s.b -= 1;
        }
        if constexpr (kRecord) {
          // The position before a slide is never part of a longer match (its
          // lookahead is one byte), so the parse can stop there.
          if (s.p + 1 == 2 * kD) {
            if (rec->slides_left == 0) {
              if (prev_len != 0) rec->PutLiteral(s.w[s.p]);
              rec->stopped = true;
              s.b = 1;
              fresh = true;
              return false;
            }
            if (rec->slides_left > 0) --rec->slides_left;
            if (rec->slides < ParseRecord::kMaxMarks) rec->slide_mark[rec->slides] = rec->size;
            ++rec->slides;
          }
        }
        if (s.Advance(m, io)) coded_base -= kD;
        // A match pending from P - 1 is taken unless P's match is longer,
        // and a taken match throws P's result away; a 2-byte match can never
        // be longer.
        s.template FindMatch<kSparse>(m, prev_len < 2);
        s.Clamp();
        fresh = false;
        if (prev_len >= s.b && prev_len >= 2) {
          room();
          if constexpr (kRecord) {
            rec->PutMatch(static_cast<uint32_t>(prev_len), prev_dist);
          } else {
            *out++ = blocks->MatchSymbol(static_cast<uint32_t>(prev_len), prev_dist);
          }
          ++matches;
          // P + lookahead never passes 2D and the match fits the lookahead it
          // was found with, so only the step after a match's last byte can
          // slide.
          s.l -= prev_len - 2;
          for (int32_t i = prev_len - 2; i > 0; --i) {
            ++s.p;
            s.Roll();
            s.template Insert<kSparse>();
          }
          fresh = true;
        } else if (prev_len != 0) {
          room();
          const uint8_t byte = s.w[s.p - 1];
          if constexpr (kRecord) {
            rec->PutLiteral(byte);
          } else {
            ++literal_count[byte];
            *out++ = BlockCoder::LiteralSymbol(byte);
          }
        }
      }
      return true;
    };
    bool sparse = m.sparse;
    for (;;) {
      matches = 0;
      if (!(sparse ? span.template operator()<true>() : span.template operator()<false>())) break;
      if constexpr (kRecord) {
        if (rec->abort != nullptr && rec->abort->load(std::memory_order_relaxed)) break;
      }
      const bool was = sparse;
      sparse = matches < kSpanPasses / kSparseShare;
      // Chains took positions without summaries meanwhile.
      if (sparse && !was) {
        NextSummaryGen(m);
        s.sgen = m.summary_gen;
      }
    }
    m.sparse = sparse;
    if constexpr (!kRecord) blocks->set_cursor(out);
    io.coded = static_cast<int32_t>(s.p - coded_base);
    s.Store(m);
  }

  static void Run(MatchState& m, StreamIo& io, BlockCoder& blocks) {
    RunAs<false>(m, io, &blocks, nullptr);
  }

  static void Record(MatchState& m, StreamIo& io, ParseRecord& rec) {
    RunAs<true>(m, io, nullptr, &rec);
  }

  // Every position is inserted once whatever the parse, and a slide clears
  // everything else a parse leaves behind (flags, the 2-byte chains, the
  // probe state), so inserting the D positions before a slide rebuilds what
  // the search after it sees.
  static void WarmUp(MatchState& m, StreamIo& io) {
    BeforeSlide(m);
    Search s(m);
    do {
      s.Advance(m, io);
      s.template Insert<false>();
    } while (s.p + 1 < 2 * kD);
    // The next pass searches afresh with nothing pending.
    s.b = 0;
    s.mpos = s.p;
    s.Store(m);
    // Chain heads moved without their summaries.
    NextSummaryGen(m);
  }

  static void BeforeSlide(MatchState& m) {
    m.offset += 2 * kD;
    if (m.offset >= m.offset_limit) {
      std::memset(m.head3, 0, kLayout.head3_stride * kHashes);
      std::memset(m.prev3, 0, kLinkBytes * kD);
      m.offset = 0;
    }
    ClearFlags(m);
    std::memset(m.head2, 0, 256 * sizeof(uint32_t));
    std::memset(m.prev2, 0, 256 * sizeof(uint32_t));
    m.ahead_end = 0;
    m.flagged_lo = m.flagged_hi = 0;
    m.base = 0;
    // Before a slide the hashes have rolled in the zeros past 2D, and three
    // rolls forget everything else: at the slide they hold those zeros.
    m.h3 = 0;
    m.h2 = 0;
    m.pos = 2 * kD - 1;
    m.lookahead = 1;
  }

  // The 2-byte chains forget every position at the slide before the parse,
  // and the 2-byte hash of the first one after it has rolled in the zeros
  // past 2D, so the 2-byte hash needs no history here.
  static void BeforeAt(MatchState& m, uint32_t from, uint32_t filled) {
    BeforeSlide(m);
    m.pos = kD + from - 1;
    m.lookahead = static_cast<int32_t>(filled - from + 1);
    m.h3 = Hash3(m.window + m.pos);
  }

  // The coding loop inserts each position once, whether it searches there
  // or passes it inside a match, and stops with P on the first position past
  // the input, which it has inserted too.
  static void Skip(MatchState& m, StreamIo& io) {
    Search s(m);
    while (s.l > 0) {
      s.Advance(m, io);
      s.template Insert<false>();
    }
    s.b = 1;
    s.mpos = s.p;
    s.Store(m);
    NextSummaryGen(m);
  }

  static constexpr CoderEntry kEntry{&Start,  &Resume,      &Run,  &Record,
                                     &WarmUp, &BeforeSlide, &Skip, &BeforeAt};
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
  // Hash heads and flags are read before they are written, all over: see
  // platform::BackPages for why a page should be written first.
  platform::BackPages(block, 0, layout.size);
  m.window = block;
  m.head3 = reinterpret_cast<uint32_t*>(block + layout.head3);
  m.prev3 = block + layout.prev3;
  m.longchain3 = block + layout.longchain3;
  m.head2 = reinterpret_cast<uint32_t*>(block + layout.head2);
  m.summary_gen = 1;
  m.sparse = false;
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
