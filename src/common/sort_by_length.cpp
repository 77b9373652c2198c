#include "common/sort_by_length.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace acekit {
namespace {

// The caller's two arrays, compared one entry at a time: the general case.
struct SplitEntries {
  uint8_t* lengths;
  uint16_t* symbols;
  uint32_t Length(int i) const { return lengths[i]; }
  // The first entry from i on that is not longer than the pivot.
  int NextNotLonger(int i, uint32_t pivot) const {
    while (lengths[i] > pivot) ++i;
    return i;
  }
  // The last entry from i back that is not shorter than the pivot.
  int PrevNotShorter(int i, uint32_t pivot) const {
    while (lengths[i] < pivot) --i;
    return i;
  }
  // The first entry from i on (up to `last`) whose length differs from the pivot.
  int NextOther(int i, int last, uint32_t pivot) const {
    while (i < last && lengths[i] == pivot) ++i;
    return i;
  }
  void Swap(int a, int b) const {
    std::swap(lengths[a], lengths[b]);
    std::swap(symbols[a], symbols[b]);
  }
  void Reverse(int a, int b) const {
    std::reverse(lengths + a, lengths + b + 1);
    std::reverse(symbols + a, symbols + b + 1);
  }
};

// Entries as single words, length above symbol, so a swap moves one value.
// Comparisons still look at the length alone: a key above pivot:FFFF is
// longer than the pivot, a key below pivot:0000 shorter.
struct PackedEntries {
  uint32_t* k;
  uint32_t Length(int i) const { return k[i] >> 16; }
  int NextNotLonger(int i, uint32_t pivot) const {
    const uint32_t above = pivot << 16 | 0xFFFF;
    while (k[i] > above) ++i;
    return i;
  }
  int PrevNotShorter(int i, uint32_t pivot) const {
    const uint32_t below = pivot << 16;
    while (k[i] < below) --i;
    return i;
  }
  // `last` holds the pivot; a key of another length in its place stops the
  // scan there, so each step makes one comparison.
  int NextOther(int i, int last, uint32_t pivot) const {
    const uint32_t saved = k[last];
    k[last] = ~(pivot << 16);
    const uint32_t base = pivot << 16;
    while (k[i] - base <= 0xFFFF) ++i;
    k[last] = saved;
    return i;
  }
  void Swap(int a, int b) const { std::swap(k[a], k[b]); }
  // A plain loop: the ranges are mostly a few entries long, where the
  // library's reversal spends more on choosing its path than on the swaps.
  void Reverse(int a, int b) const {
    for (; a < b; ++a, --b) std::swap(k[a], k[b]);
  }
};

// What SortRange does to a range whose lengths are all equal: no comparison
// succeeds, so the partition swaps from both ends inwards (a reversal) and
// stops in the middle, which both halves share when the count is odd; ranges
// of two are left alone. Codes of one length come in long runs, where this
// saves every comparison.
template <typename Entries>
void SortEqualRange(const Entries& e, int left, int right) {
  e.Reverse(left, right);
  const int count = right - left + 1;
  const int zr = left + (count - 1) / 2;  // last entry of the lower half
  const int zl = right - (count - 1) / 2;
  if (left < zr - 1) SortEqualRange(e, left, zr);
  if (zl < right - 1) SortEqualRange(e, zl, right);
}

// Recursion depth is bounded by the range size, a few hundred at most for the
// alphabets in use.
//
// kSkipUnused: a range of zero lengths only is left unsorted unless it holds
// entry 0. Comparisons read lengths alone, so skipping such a range changes
// no later step; it only leaves symbols without a code in another order.
// Ranges that follow it share at most its last entry with it, and that one
// then sits in a range of zeros as well.
template <bool kSkipUnused, typename Entries>
void SortRange(const Entries& e, int left, int right) {
  const uint32_t pivot = e.Length(right);
  if (e.NextOther(left, right, pivot) == right) {
    if (kSkipUnused && pivot == 0 && left > 0) return;
    SortEqualRange(e, left, right);
    return;
  }
  int zl = left;
  int zr = right;
  do {
    zl = e.NextNotLonger(zl, pivot);
    zr = e.PrevNotShorter(zr, pivot);
    if (zl <= zr) {
      e.Swap(zl, zr);
      ++zl;
      --zr;
    }
  } while (zl < zr);

  if (left < zr) {
    if (left < zr - 1) {
      SortRange<kSkipUnused>(e, left, zr);
    } else if (e.Length(left) < e.Length(zr)) {
      e.Swap(left, zr);
    }
  }
  if (zl < right) {
    if (zl < right - 1) {
      SortRange<kSkipUnused>(e, zl, right);
    } else if (e.Length(zl) < e.Length(right)) {
      e.Swap(zl, right);
    }
  }
}

constexpr int kPackedMax = 1024;  // every alphabet of the format fits

constexpr int Power3(int e) {
  int r = 1;
  for (int i = 0; i < e; ++i) r *= 3;
  return r;
}

// The steps on a range of two to four entries, worked out ahead for every
// way their lengths can compare: the entries are then put in place with no
// branch, where the steps would take several that mispredict. The index
// holds, for each pair i < j in turn, 0 for length i below length j, 1 for
// equal, 2 for above, in base 3; lengths 0 to 3 realise every pattern.
template <int kCount>
struct SmallOrders {
  static constexpr int kPatterns = Power3(kCount * (kCount - 1) / 2);
  uint8_t from[kPatterns][kCount] = {};  // entry i comes from entry from[i]
  constexpr SmallOrders() {
    int tuples = 1;
    for (int i = 0; i < kCount; ++i) tuples *= 4;
    for (int t = 0; t < tuples; ++t) {
      uint8_t l[kCount] = {};
      uint8_t s[kCount] = {};
      for (int i = 0, x = t; i < kCount; ++i, x /= 4) {
        l[i] = static_cast<uint8_t>(x % 4);
        s[i] = static_cast<uint8_t>(i);
      }
      int index = 0;
      for (int i = 0, w = 1; i < kCount; ++i) {
        for (int j = i + 1; j < kCount; ++j, w *= 3) index += w * ((l[i] >= l[j]) + (l[i] > l[j]));
      }
      SortByLengthSteps(l, s, 0, kCount - 1);
      for (int i = 0; i < kCount; ++i) from[index][i] = s[i];
    }
  }
};

// Keys padded so that the vector pass may read a whole block past the
// range's end; the padding is set, and its bits are cleared after.
struct Keys {
  uint32_t k[kPackedMax + 16];
};

template <int kCount>
void SortSmall(uint32_t* k) {
  static constexpr SmallOrders<kCount> kOrders;
  uint32_t length[kCount];
  for (int i = 0; i < kCount; ++i) length[i] = k[i] >> 16;
  int index = 0;
  for (int i = 0, w = 1; i < kCount; ++i) {
    for (int j = i + 1; j < kCount; ++j, w *= 3) {
      index += w * ((length[i] >= length[j]) + (length[i] > length[j]));
    }
  }
  uint32_t sorted[kCount];
  for (int i = 0; i < kCount; ++i) sorted[i] = k[kOrders.from[index][i]];
  for (int i = 0; i < kCount; ++i) k[i] = sorted[i];
}

constexpr int kMaskWords = kPackedMax / 64;

// What a partition works with, shared by all: it is used up before the
// partition recurses. upper_slots[0] stops the right scan on entry left - 1
// once it has passed all the others.
struct Scratch {
  uint64_t lower[kMaskWords];
  uint64_t upper_slots[kMaskWords + 1];
  int16_t first[kPackedMax];
};

// Where the partition's two scans stop, as bit sets over the range (bit i of
// word i / 64 for entry i): the left scan stops at the entries not longer
// than the pivot (`lower`), the right scan at those not shorter (`upper`).
void ScalarStops(const uint32_t* k, int count, uint32_t pivot, uint64_t* lower, uint64_t* upper) {
  const int words = (count + 63) / 64;
  for (int w = 0; w < words; ++w) lower[w] = upper[w] = 0;
  for (int j = 0; j < count; ++j) {
    const uint32_t v = k[j] >> 16;
    lower[j >> 6] |= static_cast<uint64_t>(v <= pivot) << (j & 63);
    upper[j >> 6] |= static_cast<uint64_t>(v >= pivot) << (j & 63);
  }
}

#if defined(__SSE2__)
// Sixteen lengths at a time, narrowed to bytes; bits past the range may be set.
void VectorStops(const uint32_t* k, int count, uint32_t pivot, uint64_t* lower, uint64_t* upper) {
  const __m128i p = _mm_set1_epi8(static_cast<char>(pivot));
  const int blocks = (count + 15) / 16;
  uint64_t lo = 0;
  uint64_t up = 0;
  for (int c = 0; c < blocks; ++c) {
    const __m128i* q = reinterpret_cast<const __m128i*>(k + c * 16);
    const __m128i k0 = _mm_srli_epi32(_mm_loadu_si128(q), 16);
    const __m128i k1 = _mm_srli_epi32(_mm_loadu_si128(q + 1), 16);
    const __m128i k2 = _mm_srli_epi32(_mm_loadu_si128(q + 2), 16);
    const __m128i k3 = _mm_srli_epi32(_mm_loadu_si128(q + 3), 16);
    const __m128i x = _mm_packus_epi16(_mm_packs_epi32(k0, k1), _mm_packs_epi32(k2, k3));
    const uint32_t not_longer = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(x, p), x));
    const uint32_t not_shorter = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(x, p), x));
    const int shift = (c & 3) * 16;
    lo |= static_cast<uint64_t>(not_longer) << shift;
    up |= static_cast<uint64_t>(not_shorter) << shift;
    lower[c >> 2] = lo;
    upper[c >> 2] = up;
    const uint64_t more = (c & 3) == 3 ? 0 : ~uint64_t{0};  // a word is full
    lo &= more;
    up &= more;
  }
}
#else
void VectorStops(const uint32_t* k, int count, uint32_t pivot, uint64_t* lower, uint64_t* upper) {
  ScalarStops(k, count, pivot, lower, upper);
}
#endif

// Either form, with the bits past the range cleared.
template <bool kVector>
void ListStops(const uint32_t* k, int count, uint32_t pivot, uint64_t* lower, uint64_t* upper) {
  if constexpr (kVector) {
    VectorStops(k, count, pivot, lower, upper);
  } else {
    ScalarStops(k, count, pivot, lower, upper);
  }
  const int words = (count + 63) / 64;
  const int tail = count & 63;
  if (tail != 0) {
    const uint64_t keep = (uint64_t{1} << tail) - 1;
    lower[words - 1] &= keep;
    upper[words - 1] &= keep;
  }
}

// The partition on a pivot of length 0 where unused symbols may end in any
// order. The right scan then stops at every entry and the left scan at the
// unused ones, so the i-th pair is (i-th unused entry, right - i), and all
// the left entries swapped lie below all the right ones. The pairs are found
// first; then only those whose right entry has a length are swapped, as a
// swap of two unused entries changes no length. With any length present,
// entry 0 ends up used, so its symbol is still the one the steps leave.
void PartitionOnUnused(uint32_t* k, Scratch& st, int left, int right, int& zl, int& zr) {
  const uint64_t* const lower = st.lower;
  int16_t* const first = st.first;  // the left entry of each pair
  int w = 0;
  uint64_t m = lower[0];
  int base = left;
  int i = 0;
  int a;
  for (;; ++i) {
    while (m == 0) {
      m = lower[++w];
      base += 64;
    }
    a = base + std::countr_zero(m);
    m &= m - 1;
    first[i] = static_cast<int16_t>(a);
    if (a + i >= right - 2) break;  // the scans meet at this pair
  }
  const int b = right - i;
  int last = i - 1;  // the last pair swapped
  if (a < b) {
    zl = a + 1;
    zr = b - 1;
    last = i;
  } else if (a == b) {
    zl = a + 1;
    zr = a - 1;
  } else {
    zl = b + 1;
    zr = b;
  }
  // Entries right - last .. right, relative to `left`, that have a length.
  const int low = right - last - left;
  const int high = right - left;
  for (int v = low >> 6; v <= high >> 6; ++v) {
    uint64_t used = ~lower[v];
    if (v == low >> 6) used &= ~uint64_t{0} << (low & 63);
    if (v == high >> 6) used &= ~uint64_t{0} >> (63 - (high & 63));
    while (used != 0) {
      const int pos = left + v * 64 + std::countr_zero(used);
      used &= used - 1;
      std::swap(k[first[right - pos]], k[pos]);
    }
  }
}

// The partition from its two lists of stops: the i-th swap pairs the i-th
// stop of each scan as long as they have not met. Each scan only passes
// entries that are still as they were: the left scan, once past the right
// scan's last stop, halts there on what that swap moved in, and the right
// scan likewise on the left's; so both lists come from the entries before
// any swap, and the stops are taken from the bit sets lowest and highest
// first, with no branch per entry passed.
template <bool kSkipUnused, bool kVector>
void SortMasked(uint32_t* k, Scratch& st, int left, int right) {
  switch (right - left) {
    case 1:
      return SortSmall<2>(k + left);
    case 2:
      return SortSmall<3>(k + left);
    case 3:
      return SortSmall<4>(k + left);
  }
  const uint32_t pivot = k[right] >> 16;
  const int count = right - left + 1;
  uint64_t* const lower = st.lower;
  uint64_t* const upper = st.upper_slots + 1;
  ListStops<kVector>(k + left, count, pivot, lower, upper);
  const int words = (count + 63) / 64;
  uint64_t other = 0;  // entries of another length than the pivot's
  for (int i = 0; i < words - 1; ++i) other |= ~(lower[i] & upper[i]);
  other |= ~(lower[words - 1] & upper[words - 1]) & (~uint64_t{0} >> ((64 - (count & 63)) & 63));
  if (other == 0) {
    if (kSkipUnused && pivot == 0 && left > 0) return;
    SortEqualRange(PackedEntries{k}, left, right);
    return;
  }
  int zl;
  int zr;
  if (kSkipUnused && pivot == 0) {
    PartitionOnUnused(k, st, left, right, zl, zr);
  } else {
    // The first stop of the right scan is `right`, which the left scan reaches
    // too, so the first pair never crosses; and the left scan's last stop is
    // `right`, so its list never runs out before the scans meet.
    int wl = 0;
    uint64_t ml = lower[0];
    int base_l = left;
    int wu = words - 1;
    uint64_t mu = upper[wu];
    int base_u = left + wu * 64;
    int previous = right;
    for (;;) {
      while (ml == 0) {
        ml = lower[++wl];
        base_l += 64;
      }
      const int a = base_l + std::countr_zero(ml);
      ml &= ml - 1;
      while (mu == 0) {  // past the last word: the sentinel, entry left - 1
        mu = upper[--wu];
        base_u -= 64;
      }
      const int bit = 63 - std::countl_zero(mu);
      const int b = base_u + bit;
      mu ^= uint64_t{1} << bit;
      if (a + 2 < b) {
        std::swap(k[a], k[b]);
        previous = b;
        continue;
      }
      if (a < b) {
        std::swap(k[a], k[b]);
        zl = a + 1;
        zr = b - 1;
      } else if (a == b) {
        zl = a + 1;
        zr = a - 1;
      } else {
        // Crossed: the left scan stopped at its stop or at the right scan's
        // previous one, whichever came first, and the right scan just below.
        zl = a < previous ? a : previous;
        zr = zl - 1;
      }
      break;
    }
  }

  if (left < zr) {
    if (left < zr - 1) {
      SortMasked<kSkipUnused, kVector>(k, st, left, zr);
    } else if (k[left] >> 16 < k[zr] >> 16) {
      std::swap(k[left], k[zr]);
    }
  }
  if (zl < right) {
    if (zl < right - 1) {
      SortMasked<kSkipUnused, kVector>(k, st, zl, right);
    } else if (k[zl] >> 16 < k[right] >> 16) {
      std::swap(k[zl], k[right]);
    }
  }
}

// Sorts w.k[0..n] once entries 0..n are filled in.
template <bool kSkipUnused, bool kVector = true>
void SortPadded(Keys& w, int n) {
  std::memset(w.k + n + 1, 0, 16 * sizeof(uint32_t));
  Scratch st;
  st.upper_slots[0] = uint64_t{1} << 63;
  SortMasked<kSkipUnused, kVector>(w.k, st, 0, n);
}

template <bool kSkipUnused, bool kVector = true>
void SortKeys(uint32_t* keys, int n) {
  Keys w;
  std::memcpy(w.k, keys, (static_cast<size_t>(n) + 1) * sizeof(uint32_t));
  SortPadded<kSkipUnused, kVector>(w, n);
  std::memcpy(keys, w.k, (static_cast<size_t>(n) + 1) * sizeof(uint32_t));
}

template <bool kSkipUnused>
void Sort(uint8_t* lengths, uint16_t* symbols, int n) {
  if (n < 1) return;
  if (n >= kPackedMax) {
    SortRange<kSkipUnused>(SplitEntries{lengths, symbols}, 0, n);
    return;
  }
  Keys w;
  for (int i = 0; i <= n; ++i) w.k[i] = static_cast<uint32_t>(lengths[i]) << 16 | symbols[i];
  SortPadded<kSkipUnused>(w, n);
  for (int i = 0; i <= n; ++i) {
    lengths[i] = static_cast<uint8_t>(w.k[i] >> 16);
    symbols[i] = static_cast<uint16_t>(w.k[i]);
  }
}

}  // namespace

void SortByLength(uint8_t* lengths, uint16_t* symbols, int n) {
  Sort<false>(lengths, symbols, n);
}

void SortUsedByLength(uint8_t* lengths, uint16_t* symbols, int n) {
  Sort<true>(lengths, symbols, n);
}

void SortUsedKeys(uint32_t* keys, int n) {
  if (n >= kPackedMax) {
    SortRange<true>(PackedEntries{keys}, 0, n);
  } else if (n >= 1) {
    SortKeys<true>(keys, n);
  }
}

void SortUsedKeysPortable(uint32_t* keys, int n) {
  if (n >= kPackedMax) {
    SortRange<true>(PackedEntries{keys}, 0, n);
  } else if (n >= 1) {
    SortKeys<true, false>(keys, n);
  }
}

}  // namespace acekit
