#include "decompress/huffman_table.h"

#include "decompress/sort_by_length.h"

namespace acekit::decompress {
namespace {

// Table entry for `symbol`: the bare symbol, or symbol and code length packed.
template <bool kPacked>
inline uint16_t Entry(uint32_t symbol, const uint8_t* lengths) {
  if constexpr (kPacked) {
    return static_cast<uint16_t>(symbol << kPackedSymbolShift | lengths[symbol]);
  } else {
    return static_cast<uint16_t>(symbol);
  }
}

template <bool kPacked>
bool BuildTable(int width, int highest, uint8_t* lengths, uint16_t* table) {
  if (width < 1 || width > 15 || highest < 0 || highest > kMaxHighestSymbol) return false;
  const uint32_t size = 1u << width;

  // One spare slot for the terminating zero that ends the count of used codes.
  uint8_t work[kMaxHighestSymbol + 2];
  uint16_t symbols[kMaxHighestSymbol + 2];
  for (int i = 0; i <= highest; ++i) {
    work[i] = lengths[i];
    symbols[i] = static_cast<uint16_t>(i);
  }
  if (highest > 0) SortUsedByLength(work, symbols, highest);
  work[highest + 1] = 0;

  int used = 0;
  while (work[used] != 0) ++used;
  if (used < 2) {
    lengths[symbols[0]] = 1;
    if (used == 0) used = 1;
  }

  // Shortest codes first: each takes the next run of entries its prefix
  // owns, so the entries no code reaches are exactly the tail.
  uint32_t p = 0;
  for (int i = used - 1; i >= 0; --i) {
    if (p >= size) break;
    if (work[i] > width) return false;
    const uint32_t span = size >> work[i];
    if (p + span > size) return false;
    const uint16_t e = Entry<kPacked>(symbols[i], lengths);
    for (uint32_t end = p + span; p < end; ++p) table[p] = e;
  }
  const uint16_t none = Entry<kPacked>(0, lengths);
  for (; p < size; ++p) table[p] = none;
  return true;
}

template <bool kPacked>
bool ReadLengths(BitInput& reader, int width, uint16_t* table, uint8_t* lengths, int highest) {
  if (highest < 0 || highest > kMaxHighestSymbol) return false;
  // A local copy stays in registers while lengths are stored byte by byte.
  BitInput in = reader;
  // Symbols past the transmitted count have no code.
  for (int i = 0; i <= highest; ++i) lengths[i] = 0;

  int count = static_cast<int>(in.Read(9));
  if (count > highest) count = highest;
  const uint32_t lower = in.Read(4);
  const uint32_t upper = in.Read(4);

  // The code-length alphabet is 0..upper; `upper` itself is the run symbol.
  uint8_t cl_lengths[16];
  uint16_t cl_table[1u << kCodeLengthTableWidth];
  for (uint32_t i = 0; i <= upper; ++i) cl_lengths[i] = static_cast<uint8_t>(in.Read(3));
  if (!BuildTable<true>(kCodeLengthTableWidth, static_cast<int>(upper), cl_lengths, cl_table)) {
    reader = in;
    return false;
  }

  int j = 0;
  while (j <= count) {
    const uint32_t e = cl_table[in.Peek(kCodeLengthTableWidth)];
    in.Skip(static_cast<int>(e & kPackedLengthMask));
    const uint32_t s = e >> kPackedSymbolShift;
    if (s < upper) {
      lengths[j++] = static_cast<uint8_t>(s);
    } else {
      for (uint32_t r = in.Read(4) + 4; r > 0 && j <= count; --r) lengths[j++] = 0;
    }
  }
  reader = in;

  // Values are differences from the previous symbol's length, modulo the
  // upper limit; a run of zeros therefore repeats the previous length.
  if (upper != 0) {
    for (int i = 1; i <= count; ++i) {
      lengths[i] = static_cast<uint8_t>((lengths[i - 1] + lengths[i]) % upper);
    }
  }
  for (int i = 0; i <= count; ++i) {
    if (lengths[i] != 0) lengths[i] = static_cast<uint8_t>(lengths[i] + lower);
  }
  return BuildTable<kPacked>(width, count, lengths, table);
}

}  // namespace

bool BuildDecodeTable(int width, int highest, uint8_t* lengths, uint16_t* table) {
  return BuildTable<false>(width, highest, lengths, table);
}

bool BuildPackedTable(int width, int highest, uint8_t* lengths, uint16_t* table) {
  return BuildTable<true>(width, highest, lengths, table);
}

bool ReadCodeLengths(BitInput& in, int width, uint16_t* table, uint8_t* lengths, int highest) {
  return ReadLengths<false>(in, width, table, lengths, highest);
}

bool ReadPackedCodeLengths(BitInput& in, int width, uint16_t* table, uint8_t* lengths,
                           int highest) {
  return ReadLengths<true>(in, width, table, lengths, highest);
}

}  // namespace acekit::decompress
