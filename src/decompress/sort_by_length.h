// The length sort that decides which symbol receives which Huffman code.
//
// Both the encoder and every decoder must assign codes from the order this
// sort leaves among symbols of equal length, so it is a fixed quicksort and
// must not be replaced by a library sort or "improved": any change to the
// partition steps changes the codes and breaks every existing stream.
#pragma once

#include <cstdint>

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

// SortUsedByLength on keys 0..n of the form length << 16 | symbol, the way
// the table builder holds them.
void SortUsedKeys(uint32_t* keys, int n);

}  // namespace acekit
