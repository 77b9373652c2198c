#include "decompress/sort_by_length.h"

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
  void Reverse(int a, int b) const { std::reverse(k + a, k + b + 1); }
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

template <bool kSkipUnused>
void Sort(uint8_t* lengths, uint16_t* symbols, int n) {
  if (n < 1) return;
  if (n >= kPackedMax) {
    SortRange<kSkipUnused>(SplitEntries{lengths, symbols}, 0, n);
    return;
  }
  uint32_t keys[kPackedMax];
  for (int i = 0; i <= n; ++i) keys[i] = static_cast<uint32_t>(lengths[i]) << 16 | symbols[i];
  SortRange<kSkipUnused>(PackedEntries{keys}, 0, n);
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
  if (n >= 1) SortRange<true>(PackedEntries{keys}, 0, n);
}

}  // namespace acekit
