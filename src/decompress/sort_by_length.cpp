#include "decompress/sort_by_length.h"

namespace acekit {
namespace {

// Entries as single words, length above symbol, so a swap moves one value.
// Comparisons still look at the length alone: a key above pivot:FFFF is
// longer than the pivot, a key below pivot:0000 shorter.
struct PackedEntries {
  uint32_t* k;
  uint32_t Length(int i) const { return k[i] >> 16; }
  bool Longer(int i, uint32_t pivot) const { return k[i] > (pivot << 16 | 0xFFFF); }
  bool Shorter(int i, uint32_t pivot) const { return k[i] < pivot << 16; }
  void Swap(int a, int b) const {
    const uint32_t t = k[a];
    k[a] = k[b];
    k[b] = t;
  }
};

// The caller's two arrays, for inputs too long for the packed copy.
struct SplitEntries {
  uint8_t* lengths;
  uint16_t* symbols;
  uint32_t Length(int i) const { return lengths[i]; }
  bool Longer(int i, uint32_t pivot) const { return lengths[i] > pivot; }
  bool Shorter(int i, uint32_t pivot) const { return lengths[i] < pivot; }
  void Swap(int a, int b) const {
    const uint8_t l = lengths[a];
    lengths[a] = lengths[b];
    lengths[b] = l;
    const uint16_t s = symbols[a];
    symbols[a] = symbols[b];
    symbols[b] = s;
  }
};

// Recursion depth is bounded by the range size, a few hundred at most for the
// alphabets in use.
template <typename Entries>
void SortRange(const Entries& e, int left, int right) {
  const uint32_t pivot = e.Length(right);
  int zl = left;
  int zr = right;
  do {
    while (e.Longer(zl, pivot)) ++zl;
    while (e.Shorter(zr, pivot)) --zr;
    if (zl <= zr) {
      e.Swap(zl, zr);
      ++zl;
      --zr;
    }
  } while (zl < zr);

  if (left < zr) {
    if (left < zr - 1) {
      SortRange(e, left, zr);
    } else if (e.Length(left) < e.Length(zr)) {
      e.Swap(left, zr);
    }
  }
  if (zl < right) {
    if (zl < right - 1) {
      SortRange(e, zl, right);
    } else if (e.Length(zl) < e.Length(right)) {
      e.Swap(zl, right);
    }
  }
}

}  // namespace

void SortByLength(uint8_t* lengths, uint16_t* symbols, int n) {
  if (n < 1) return;
  constexpr int kPackedMax = 1024;  // every alphabet of the format fits
  if (n >= kPackedMax) {
    SortRange(SplitEntries{lengths, symbols}, 0, n);
    return;
  }
  uint32_t keys[kPackedMax];
  for (int i = 0; i <= n; ++i) keys[i] = static_cast<uint32_t>(lengths[i]) << 16 | symbols[i];
  SortRange(PackedEntries{keys}, 0, n);
  for (int i = 0; i <= n; ++i) {
    lengths[i] = static_cast<uint8_t>(keys[i] >> 16);
    symbols[i] = static_cast<uint16_t>(keys[i]);
  }
}

}  // namespace acekit
