#include "common/sort_by_length.h"

#include <algorithm>

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

// Where the partition's two scans stop, worked out without their branches.
// The left scan stops at the entries not longer than the pivot, in rising
// order (list `lower`), the right scan at those not shorter, in falling order
// (`upper`), and the i-th swap pairs the i-th stop of each as long as they
// have not met. Each scan only passes entries that are still as they were:
// the left scan, once past the right scan's last stop, halts there on what
// that swap moved in, and the right scan likewise on the left's; so both
// lists come from the entries before any swap. Swaps then touch distinct
// entries, with no branch per entry and one at the end.
struct Stops {
  int16_t lower[kPackedMax];
  int16_t upper_slot[kPackedMax + 1];  // upper_slot[0] = -1: the right scan has passed all
};

template <bool kSkipUnused>
void SortListed(uint32_t* k, Stops& st, int left, int right) {
  switch (right - left) {
    case 1:
      return SortSmall<2>(k + left);
    case 2:
      return SortSmall<3>(k + left);
    case 3:
      return SortSmall<4>(k + left);
  }
  const uint32_t pivot = k[right] >> 16;
  const uint32_t not_shorter = pivot << 16;   // the least key not shorter
  const uint32_t longer = (pivot + 1) << 16;  // the least key longer
  int16_t* const upper = st.upper_slot + 1;   // ascending; read from the back
  int nl = 0;
  int nu = 0;
  for (int j = left; j <= right; ++j) {
    const uint32_t v = k[j];
    st.lower[nl] = static_cast<int16_t>(j);
    nl += v < longer;
    upper[nu] = static_cast<int16_t>(j);
    nu += v >= not_shorter;
  }
  const int count = right - left + 1;
  if (nl == count && nu == count) {  // all of one length
    if (kSkipUnused && pivot == 0 && left > 0) return;
    SortEqualRange(PackedEntries{k}, left, right);
    return;
  }
  // The first stop of the right scan is `right`, which the left scan reaches
  // too, so the first pair never crosses.
  int zl;
  int zr;
  for (int i = 0;; ++i) {
    const int a = st.lower[i];
    const int b = upper[nu - 1 - i];
    if (a < b) {
      std::swap(k[a], k[b]);
      if (a + 1 < b - 1) continue;
      zl = a + 1;
      zr = b - 1;
    } else if (a == b) {
      zl = a + 1;
      zr = a - 1;
    } else {
      // Crossed: the left scan stopped at its stop or at the right scan's
      // previous one, whichever came first, and the right scan just below.
      const int previous = upper[nu - i];
      zl = a < previous ? a : previous;
      zr = zl - 1;
    }
    break;
  }

  if (left < zr) {
    if (left < zr - 1) {
      SortListed<kSkipUnused>(k, st, left, zr);
    } else if (k[left] >> 16 < k[zr] >> 16) {
      std::swap(k[left], k[zr]);
    }
  }
  if (zl < right) {
    if (zl < right - 1) {
      SortListed<kSkipUnused>(k, st, zl, right);
    } else if (k[zl] >> 16 < k[right] >> 16) {
      std::swap(k[zl], k[right]);
    }
  }
}

template <bool kSkipUnused>
void SortPacked(uint32_t* keys, int n) {
  Stops st;
  st.upper_slot[0] = -1;
  SortListed<kSkipUnused>(keys, st, 0, n);
}

template <bool kSkipUnused>
void Sort(uint8_t* lengths, uint16_t* symbols, int n) {
  if (n < 1) return;
  if (n >= kPackedMax) {
    SortRange<kSkipUnused>(SplitEntries{lengths, symbols}, 0, n);
    return;
  }
  uint32_t keys[kPackedMax];
  for (int i = 0; i <= n; ++i) keys[i] = static_cast<uint32_t>(lengths[i]) << 16 | symbols[i];
  SortPacked<kSkipUnused>(keys, n);
  for (int i = 0; i <= n; ++i) {
    lengths[i] = static_cast<uint8_t>(keys[i] >> 16);
    symbols[i] = static_cast<uint16_t>(keys[i]);
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
    SortPacked<true>(keys, n);
  }
}

}  // namespace acekit
