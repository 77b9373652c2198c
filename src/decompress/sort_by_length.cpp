#include "decompress/sort_by_length.h"

namespace acekit {
namespace {

inline void SwapEntries(uint8_t* lengths, uint16_t* symbols, int a, int b) {
  const uint8_t l = lengths[a];
  lengths[a] = lengths[b];
  lengths[b] = l;
  const uint16_t s = symbols[a];
  symbols[a] = symbols[b];
  symbols[b] = s;
}

// Recursion depth is bounded by the range size, at most a few hundred for the
// alphabets in use, so plain recursion keeps the steps easy to compare with
// the encoder's expectations.
void SortRange(uint8_t* lengths, uint16_t* symbols, int left, int right) {
  const uint8_t pivot = lengths[right];
  int zl = left;
  int zr = right;
  do {
    while (lengths[zl] > pivot) ++zl;
    while (lengths[zr] < pivot) --zr;
    if (zl <= zr) {
      SwapEntries(lengths, symbols, zl, zr);
      ++zl;
      --zr;
    }
  } while (zl < zr);

  if (left < zr) {
    if (left < zr - 1) {
      SortRange(lengths, symbols, left, zr);
    } else if (lengths[left] < lengths[zr]) {
      SwapEntries(lengths, symbols, left, zr);
    }
  }
  if (zl < right) {
    if (zl < right - 1) {
      SortRange(lengths, symbols, zl, right);
    } else if (lengths[zl] < lengths[right]) {
      SwapEntries(lengths, symbols, zl, right);
    }
  }
}

}  // namespace

void SortByLength(uint8_t* lengths, uint16_t* symbols, int n) {
  if (n < 1) return;
  SortRange(lengths, symbols, 0, n);
}

}  // namespace acekit
