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

}  // namespace acekit
