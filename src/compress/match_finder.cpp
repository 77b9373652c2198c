#include "compress/match_finder.h"

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
// Look-ahead hashes computed beyond the probe reach at a time.
constexpr uint32_t kAheadBatch = 32;

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

template <uint32_t kLog2, uint32_t kShift, uint32_t kHashBits>
struct Coder {
  static constexpr uint32_t kD = 1u << kLog2;
  static constexpr uint32_t kPosMask = kD - 1;
  static constexpr uint32_t kHashes = 1u << kHashBits;
  static constexpr uint32_t kMask = kHashes - 1;
  // Short matches this far away cost more than their literals. Only the
  // largest window has such distances.
  static constexpr bool kFarRule = kD > 524288;

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
    for (uint32_t i = 0; i < kD; ++i) {
      const int32_t v = static_cast<int32_t>(m.prev3[i] - m.offset);
      m.prev3[i] = v > 0 ? static_cast<uint32_t>(v) : 0;
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
    std::memset(m.head2, 0, sizeof m.head2);
    std::memset(m.prev2, 0, sizeof m.prev2);
    m.ahead_end = 0;
    m.flagged_lo = m.flagged_hi = 0;
    m.base = m.base > kD ? m.base - kD : 0;
    return n;
  }

  // The finder's working copy of MatchState, kept in registers while coding.
  struct Search {
    MatchState& m;
    StreamIo& io;
    uint8_t* const w;
    uint32_t* const head3;
    uint32_t* const prev3;
    uint8_t* const lc;
    uint32_t* const head2;
    uint32_t* const prev2;
    uint32_t* const ahead;
    uint32_t p;
    int32_t l;
    uint32_t h3;
    uint32_t h2;
    int32_t b;
    uint32_t mpos;
    const int32_t g;
    uint32_t off;
    uint8_t gen;

    Search(MatchState& ms, StreamIo& sio)
        : m(ms),
          io(sio),
          w(ms.window),
          head3(ms.head3),
          prev3(ms.prev3),
          lc(ms.longchain3),
          head2(ms.head2),
          prev2(ms.prev2),
          ahead(ms.ahead),
          p(ms.pos),
          l(ms.lookahead),
          h3(ms.h3),
          h2(ms.h2),
          b(ms.best),
          mpos(ms.match_pos),
          g(ms.budget),
          off(ms.offset),
          gen(ms.flag_gen) {}

    void Store() {
      m.pos = p;
      m.lookahead = l;
      m.h3 = h3;
      m.h2 = h2;
      m.best = b;
      m.match_pos = mpos;
    }

    // The hashes roll on across a slide: the steps just before it read the
    // zero bytes past 2D, and the first positions after it keep those.
    ACEKIT_HOT void Advance() {
      --l;
      ++p;
      if (p >= 2 * kD) {
        l += static_cast<int32_t>(Slide(m, io));
        p -= kD;
        off = m.offset;
        gen = m.flag_gen;
      }
      h3 = ((h3 << kShift) ^ w[p + 2]) & kMask;
      h2 = ((h2 << 4) ^ w[p + 1]) & 0xFF;
    }

    ACEKIT_HOT void Insert() {
      prev3[p & kPosMask] = head3[h3];
      head3[h3] = p + off;
      prev2[p & 255] = head2[h2];
      head2[h2] = p;
    }

    // Walks the chain of h, whose entries are k bytes ahead of the match
    // start they stand for, looking for a match longer than b (at most max).
    ACEKIT_HOT void Walk(uint32_t k, uint32_t h, int32_t max) {
      const uint32_t limit = k + (p > kD ? p - kD : 0);
      const uint32_t base = m.base;
      const uint8_t* const here = w + p;
      int32_t cand = static_cast<int32_t>(head3[h] - off);
      int32_t counter = g;
      while (cand > static_cast<int32_t>(limit)) {
        if (--counter == 0) {
          lc[h] = gen;
          return;
        }
        const uint32_t start = static_cast<uint32_t>(cand) - k;
        // A probe offset can put the start before the run; such a candidate
        // counts as compared and found wanting.
        if (start >= base && w[start + static_cast<uint32_t>(b)] == here[b]) {
          int32_t n = MatchLength(w + start, here, max);
          const uint32_t dist = p - start;
          if (kFarRule && n <= 4 && dist >= 524288) n = 1;
          if (n <= 3 && dist > 8192) n = 1;
          if (n > b) {
            b = n;
            mpos = start;
            if (n == max) return;  // the flag stays as it was
          }
        }
        cand = static_cast<int32_t>(prev3[static_cast<uint32_t>(cand) & kPosMask] - off);
      }
      ClearFlag(h);
    }

    // The first k from 0 whose string's chain is not flagged (at most
    // kMaxProbe), and that string's hash, rolled on from h3. From k = 3 on
    // the rolled value has forgotten h3 and equals the string's own hash.
    ACEKIT_HOT uint32_t Probe(uint32_t& h) {
      h = h3;
      if (lc[h] != gen) return 0;
      h = ((h << kShift) ^ w[p + 3]) & kMask;
      if (lc[h] != gen) return 1;
      h = ((h << kShift) ^ w[p + 4]) & kMask;
      if (lc[h] != gen) return 2;
      const uint32_t last = p + kMaxProbe;
      uint32_t q = p + 3;
      uint32_t lo = q;
      if (m.flagged_lo <= q && q < m.flagged_hi) {
        lo = m.flagged_lo;
        q = m.flagged_hi < last ? m.flagged_hi : last;
      }
      // Hash every string the probe may reach; later probes reuse them.
      uint32_t end = m.ahead_end;
      if (end < p + 3) end = p + 3;
      if (end <= last) {
        uint32_t v = Hash3(w + end);
        ahead[end & (kAheadRing - 1)] = v;
        for (++end; end <= last + kAheadBatch; ++end) {
          v = ((v << kShift) ^ w[end + 2]) & kMask;
          ahead[end & (kAheadRing - 1)] = v;
        }
        m.ahead_end = end;
      }
      while (q < last && lc[ahead[q & (kAheadRing - 1)]] == gen) ++q;
      h = ahead[q & (kAheadRing - 1)];
      m.flagged_lo = lo;
      m.flagged_hi = q;
      return q - p;
    }

    ACEKIT_HOT void ClearFlag(uint32_t h) {
      if (lc[h] == gen) {
        lc[h] = 0;
        m.flagged_lo = m.flagged_hi = 0;
      }
    }

    ACEKIT_HOT void FindMatch() {
      if (b < 2) b = 2;
      mpos = p;
      // A chain that used up its budget last time is skipped in favour of
      // the chain of a later string that any long match must contain.
      uint32_t h;
      const uint32_t k = Probe(h);
      if (k == kMaxProbe) {
        ClearFlag(h);
      } else {
        Walk(k, h, kMaxMatch);
      }
      // Matches shorter than the probe reach are invisible to that walk.
      if (k != 0 && b <= static_cast<int32_t>(k) + 2) Walk(0, h3, static_cast<int32_t>(k) + 2);

      if (mpos == p || b < 3) {
        b = 1;
        if (p > kD + 256) {
          uint32_t cand = head2[h2];
          while (cand > p - 256) {
            if (w[cand] == w[p] && w[cand + 1] == w[p + 1]) {
              b = 2;
              mpos = cand;
              break;
            }
            cand = prev2[cand & 255];
          }
        }
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

    // A block went out; a cancel during its flushes ends the loop soon.
    void AfterBlock() {
      if (io.cut_lookahead) {
        io.cut_lookahead = false;
        if (l > kCancelLookahead) l = kCancelLookahead;
      }
    }
  };

  static void Start(MatchState& m, StreamIo& io) {
    // Everything the tables hold now lies below the new offset.
    m.offset += 2 * kD;
    if (m.offset >= m.offset_limit) {
      std::memset(m.head3, 0, sizeof(uint32_t) * kHashes);
      std::memset(m.prev3, 0, sizeof(uint32_t) * kD);
      m.offset = 0;
    }
    ClearFlags(m);
    std::memset(m.head2, 0, sizeof m.head2);
    std::memset(m.prev2, 0, sizeof m.prev2);
    const uint32_t n = io.ReadInput(m.window + kD, kD);
    m.lookahead = static_cast<int32_t>(n);
    m.pos = kD;
    m.base = kD;
    m.best = n != 0 ? 1 : 0;
    m.h2 = 0;
    m.h3 = Hash3(m.window + kD);
    m.ahead_end = 0;
    m.flagged_lo = m.flagged_hi = 0;
    Search s(m, io);
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
    Search s(m, io);
    io.coded = 0;
    io.cut_lookahead = false;
    while (s.l > 0) {
      // The new search has to beat the previous match minus one byte.
      const int32_t prev_len = s.b;
      const uint32_t prev_dist = s.p - s.mpos;
      s.b -= 1;
      s.Advance();
      s.FindMatch();
      s.Clamp();
      if (prev_len >= s.b && prev_len >= 2) {
        if (blocks.AddMatch(static_cast<uint32_t>(prev_len), prev_dist, io)) s.AfterBlock();
        io.coded += prev_len;
        for (int32_t i = prev_len - 2; i > 0; --i) {
          s.Advance();
          s.Insert();
        }
        s.Advance();
        s.b = 1;
        s.FindMatch();
        s.Clamp();
      } else {
        if (blocks.AddLiteral(s.w[s.p - 1], io)) s.AfterBlock();
        io.coded += 1;
      }
    }
    s.Store();
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
  const WindowShape& ws = kWindowShapes[shape];
  const size_t d = size_t{1} << ws.log2_size;
  const size_t hashes = size_t{1} << ws.hash_bits;
  // Zeroed once here and never again: bytes past the valid input take part
  // in comparisons, so what earlier reads left there shapes the output.
  m.window = static_cast<uint8_t*>(platform::AllocZeroed(2 * d + kWindowSpare));
  m.head3 = static_cast<uint32_t*>(platform::AllocZeroed(hashes * sizeof(uint32_t)));
  m.prev3 = static_cast<uint32_t*>(platform::AllocZeroed(d * sizeof(uint32_t)));
  m.longchain3 = static_cast<uint8_t*>(platform::AllocZeroed(hashes));
  if (m.window == nullptr || m.head3 == nullptr || m.prev3 == nullptr || m.longchain3 == nullptr) {
    FreeMatchBuffers(m);
    return false;
  }
  m.shape = shape;
  m.offset = 0;
  m.flag_gen = 1;
  m.pos = 0;
  m.lookahead = 0;
  return true;
}

void FreeMatchBuffers(MatchState& m) {
  if (m.window != nullptr) platform::Free(m.window);
  if (m.head3 != nullptr) platform::Free(m.head3);
  if (m.prev3 != nullptr) platform::Free(m.prev3);
  if (m.longchain3 != nullptr) platform::Free(m.longchain3);
  m.window = nullptr;
  m.head3 = nullptr;
  m.prev3 = nullptr;
  m.longchain3 = nullptr;
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
