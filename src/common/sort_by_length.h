// The length sort that decides which symbol receives which Huffman code.
//
// Both the encoder and every decoder must assign codes from the order this
// sort leaves among symbols of equal length, so it is a fixed quicksort and
// must not be replaced by a library sort or "improved": any change to the
// partition steps changes the codes and breaks every existing stream.
#pragma once

#include <cstdint>
#include <utility>

namespace acekit {

// Sorts entries 0..n (inclusive) of `lengths` into non-increasing order and
// applies the same permutation to `symbols`. Callers normally fill `symbols`
// with 0..n first, so that afterwards symbols[i] names the symbol whose length
// is lengths[i]. n < 1 leaves both arrays untouched.
void SortByLength(uint8_t* lengths, uint16_t* symbols, int n);

// The same sort for a table builder, which reads only the entries of non-zero
// length and entry 0: `lengths` and those entries of `symbols` come out as
// SortByLength leaves them; symbols of length 0 past entry 0 may be in any
// order. Much faster when most symbols have no code.
void SortUsedByLength(uint8_t* lengths, uint16_t* symbols, int n);

// The sort's steps one comparison at a time, on entries left..right: what
// the faster forms above reproduce. Slow; also usable at compile time.
template <typename Symbol>
constexpr void SortByLengthSteps(uint8_t* l, Symbol* s, int left, int right) {
  auto swap = [&](int a, int b) {
    std::swap(l[a], l[b]);
    std::swap(s[a], s[b]);
  };
  const uint8_t pivot = l[right];
  int zl = left;
  int zr = right;
  do {
    while (l[zl] > pivot) ++zl;
    while (l[zr] < pivot) --zr;
    if (zl <= zr) swap(zl++, zr--);
  } while (zl < zr);
  if (left < zr) {
    if (left < zr - 1) {
      SortByLengthSteps(l, s, left, zr);
    } else if (l[left] < l[zr]) {
      swap(left, zr);
    }
  }
  if (zl < right) {
    if (zl < right - 1) {
      SortByLengthSteps(l, s, zl, right);
    } else if (l[zl] < l[right]) {
      swap(zl, right);
    }
  }
}

// SortUsedByLength on keys 0..n of the form length << 16 | symbol, the way
// the table builder holds them.
void SortUsedKeys(uint32_t* keys, int n);

// SortUsedKeys as targets without vector instructions run it, with the same
// result; here so that tests can hold the two together on any target.
void SortUsedKeysPortable(uint32_t* keys, int n);

}  // namespace acekit
