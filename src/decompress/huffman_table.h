// Huffman decoding tables: a code set arrives as a list of code lengths, and
// the table maps the next `width` bits of the stream straight to a symbol.
// Codes are canonical in the order SortByLength leaves, so the table can be
// rebuilt from the lengths alone.
#pragma once

#include <cstdint>

#include "decompress/bit_input.h"

namespace acekit::decompress {

inline constexpr int kMainTableWidth = 11;
inline constexpr int kCodeLengthTableWidth = 7;
// Largest highest-symbol a table can be built for (the transmitted count is 9 bits).
inline constexpr int kMaxHighestSymbol = 511;

// Builds the table of 2^width entries for symbols 0..highest from their code
// lengths (0 = no code). Entries no code reaches decode as symbol 0. With
// fewer than two used symbols the first symbol in sorted order is given
// length 1 in `lengths`, so a lone symbol still consumes a bit.
//
// Fails when a code is longer than `width` or the codes overrun the table.
// Codes go in shortest first, so an over-full set never overruns: the codes
// that find the table full are dropped, not refused, and existing streams
// depend on that. width is 1..15.
bool BuildDecodeTable(int width, int highest, uint8_t* lengths, uint16_t* table);

// Reads one transmitted code-length set for an alphabet whose highest symbol
// is `highest` and builds its table. `lengths` must hold highest + 1 entries
// and `table` 2^width. Returns false for a set no table can be built from;
// the reader has then consumed an unspecified number of bits.
bool ReadCodeLengths(BitInput& in, int width, uint16_t* table, uint8_t* lengths, int highest);

// The same two steps for the decoder's hot loop: each table entry holds
// symbol << kPackedSymbolShift | code length, so one lookup gives both. The
// length has six bits, the count an x86 64-bit shift uses: consuming by the
// entry itself then needs no masking on the decoder's critical path.
inline constexpr int kPackedSymbolShift = 6;
inline constexpr uint32_t kPackedLengthMask = 0x3F;
bool BuildPackedTable(int width, int highest, uint8_t* lengths, uint16_t* table);
bool ReadPackedCodeLengths(BitInput& in, int width, uint16_t* table, uint8_t* lengths, int highest);

// The main alphabet's table for the decoder's symbol loop (width
// kMainTableWidth, main-alphabet symbols only): each 32-bit entry holds the
// bits the symbol takes in its low bits and the symbol's meaning worked out:
//   literal:          kMainLiteral, the byte at kMainValueShift
//   repeated distance: kMainRepeat, the history place k at kMainValueShift
//   new distance:     63 less the count of extra bits at kMainExtraShift,
//                     and kMainLead when the distance code has a bit above
//                     them (all but distance code 0)
// A new distance's extra bits follow its code at once, so its entry counts
// them in the bits it takes, and has the code's own length at
// kMainValueShift: one shift then passes both. Both kinds of distance hold
// at kMainBaseShift what their match length adds to the length symbol's
// (0 to 2: longer for a repeat from the back of the history, and for a
// distance above 255 and again above 8191), so that the length needs no
// test of the distance.
inline constexpr uint32_t kMainLengthMask = 0x3F;
inline constexpr uint32_t kMainLiteral = 1u << 6;
inline constexpr uint32_t kMainRepeat = 1u << 7;
inline constexpr int kMainValueShift = 8;
inline constexpr int kMainExtraShift = 16;
inline constexpr int kMainBaseShift = 22;
inline constexpr int kMainLeadShift = 31;
bool ReadMainCodeLengths(BitInput& in, uint32_t* table, uint8_t* lengths, int highest);

// The length alphabet's table for the same loop: as the packed table, with
// the shortest match length (2) already added to each symbol.
bool ReadLengthCodeLengths(BitInput& in, uint16_t* table, uint8_t* lengths, int highest);

}  // namespace acekit::decompress
