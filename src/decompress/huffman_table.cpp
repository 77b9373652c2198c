#include "decompress/huffman_table.h"

#include <cstring>

#include "common/sort_by_length.h"

namespace acekit::decompress {
namespace {

// Table entries, by kind of table: the bare symbol; symbol and code length
// packed; or the decoder's main-table entry.
struct PlainEntry {
  using Type = uint16_t;
  static Type Make(uint32_t symbol, const uint8_t*) { return static_cast<Type>(symbol); }
};

struct PackedEntry {
  using Type = uint16_t;
  static Type Make(uint32_t symbol, const uint8_t* lengths) {
    return static_cast<Type>(symbol << kPackedSymbolShift | lengths[symbol]);
  }
};

// What a main-alphabet symbol means, apart from its code length.
constexpr uint32_t MainMeaning(uint32_t symbol) {
  if (symbol < 256) return kMainLiteral | symbol << kMainValueShift;
  if (symbol < 260) {
    const uint32_t k = symbol - 256;
    return kMainRepeat | k << kMainValueShift | (k >> 1) << kMainBaseShift;
  }
  // Class c: distance code c for c < 2, else 2^(c - 1) plus c - 1 extra
  // bits. Past the alphabet, distance code 0.
  const uint32_t c = symbol - 260 <= 22 ? symbol - 260 : 0;
  const uint32_t extra = c < 2 ? 0 : c - 1;
  const uint32_t lead = c == 0 ? 0 : 1;
  const uint32_t base = (c >= 9 ? 1 : 0) + (c >= 14 ? 1 : 0);
  return (63 - extra) << kMainExtraShift | lead << kMainLeadShift | base << kMainBaseShift;
}

struct MainMeanings {
  uint32_t m[kMaxHighestSymbol + 1] = {};
  constexpr MainMeanings() {
    for (uint32_t i = 0; i <= kMaxHighestSymbol; ++i) m[i] = MainMeaning(i);
  }
};
constexpr MainMeanings kMainMeanings;

// The shortest match length added, which a length symbol counts from.
struct LengthEntry {
  using Type = uint16_t;
  static Type Make(uint32_t symbol, const uint8_t* lengths) {
    return static_cast<Type>((symbol + 2) << kPackedSymbolShift | lengths[symbol]);
  }
};

struct MainEntry {
  using Type = uint32_t;
  static Type Make(uint32_t symbol, const uint8_t* lengths) {
    const uint32_t meaning = kMainMeanings.m[symbol];
    if (meaning & (kMainLiteral | kMainRepeat)) return meaning | lengths[symbol];
    const uint32_t extra = 63 - ((meaning >> kMainExtraShift) & 63);
    return meaning | (lengths[symbol] + extra) |
           static_cast<uint32_t>(lengths[symbol]) << kMainValueShift;
  }
};

template <typename Kind>
bool BuildTable(int width, int highest, uint8_t* lengths, typename Kind::Type* table) {
  using Type = typename Kind::Type;
  if (width < 1 || width > 15 || highest < 0 || highest > kMaxHighestSymbol) return false;
  const uint32_t size = 1u << width;

  // Length above symbol in one word each, as the sort takes them; one spare
  // slot for the terminating zero that ends the count of used codes.
  uint32_t keys[kMaxHighestSymbol + 2];
  for (int i = 0; i <= highest; ++i) keys[i] = static_cast<uint32_t>(lengths[i]) << 16 | i;
  if (highest > 0) SortUsedKeys(keys, highest);
  keys[highest + 1] = 0;

  int used = 0;
  while (keys[used] >> 16 != 0) ++used;
  if (used < 2) {
    lengths[keys[0] & 0xFFFF] = 1;
    if (used == 0) used = 1;
  }

  // Shortest codes first: each takes the next run of entries its prefix
  // owns, so the entries no code reaches are exactly the tail.
  uint32_t p = 0;
  for (int i = used - 1; i >= 0; --i) {
    if (p >= size) break;
    const uint32_t length = keys[i] >> 16;
    if (length > static_cast<uint32_t>(width)) return false;
    const uint32_t span = size >> length;
    if (p + span > size) return false;
    const Type e = Kind::Make(keys[i] & 0xFFFF, lengths);
    for (uint32_t end = p + span; p < end; ++p) table[p] = e;
  }
  const Type none = Kind::Make(0, lengths);
  for (; p < size; ++p) table[p] = none;
  return true;
}

template <typename Kind>
bool ReadLengths(BitInput& reader, int width, typename Kind::Type* table, uint8_t* lengths,
                 int highest) {
  if (highest < 0 || highest > kMaxHighestSymbol) return false;
  // A local copy stays in registers while lengths are stored byte by byte.
  BitInput in = reader;
  // Symbols past the transmitted count have no code.
  std::memset(lengths, 0, static_cast<size_t>(highest) + 1);

  int count = static_cast<int>(in.Read(9));
  if (count > highest) count = highest;
  const uint32_t lower = in.Read(4);
  const uint32_t upper = in.Read(4);

  // The code-length alphabet is 0..upper; `upper` itself is the run symbol.
  uint8_t cl_lengths[16];
  uint16_t cl_table[1u << kCodeLengthTableWidth];
  for (uint32_t i = 0; i <= upper; ++i) cl_lengths[i] = static_cast<uint8_t>(in.Read(3));
  if (!BuildTable<PackedEntry>(kCodeLengthTableWidth, static_cast<int>(upper), cl_lengths,
                               cl_table)) {
    reader = in;
    return false;
  }

  // Values are differences from the previous symbol's length, modulo the
  // upper limit (both terms are below it, so one subtraction reduces the
  // sum); a run of zeros therefore repeats the previous length. Non-zero
  // results are offset by the lower limit, zero means no code.
  //
  // A symbol takes at most 7 bits and a run 4 more, so four of them fit
  // what a top-up leaves: the reader is topped up once per four.
  static_assert(4 * (kCodeLengthTableWidth + 4) <= BitInput::kFilled);
  uint32_t value = 0;
  int j = 0;
  uint32_t since_fill = 0;
  while (j <= count) {
    const uint32_t e = cl_table[in.Peek(kCodeLengthTableWidth)];
    in.Drop(e & kPackedLengthMask);
    const uint32_t s = e >> kPackedSymbolShift;
    if (s < upper) {
      value += s;
      if (value >= upper) value -= upper;
      lengths[j++] = static_cast<uint8_t>(value != 0 ? value + lower : 0);
    } else {
      const uint8_t repeat = static_cast<uint8_t>(value != 0 ? value + lower : 0);
      uint32_t r = in.Peek(4) + 4;
      in.Drop(4);
      for (; r > 0 && j <= count; --r) lengths[j++] = repeat;
    }
    if (++since_fill == 4) {
      in.Fill();
      since_fill = 0;
    }
  }
  in.Fill();
  reader = in;
  return BuildTable<Kind>(width, count, lengths, table);
}

}  // namespace

bool BuildDecodeTable(int width, int highest, uint8_t* lengths, uint16_t* table) {
  return BuildTable<PlainEntry>(width, highest, lengths, table);
}

bool BuildPackedTable(int width, int highest, uint8_t* lengths, uint16_t* table) {
  return BuildTable<PackedEntry>(width, highest, lengths, table);
}

bool ReadCodeLengths(BitInput& in, int width, uint16_t* table, uint8_t* lengths, int highest) {
  return ReadLengths<PlainEntry>(in, width, table, lengths, highest);
}

bool ReadPackedCodeLengths(BitInput& in, int width, uint16_t* table, uint8_t* lengths,
                           int highest) {
  return ReadLengths<PackedEntry>(in, width, table, lengths, highest);
}

bool ReadLengthCodeLengths(BitInput& in, uint16_t* table, uint8_t* lengths, int highest) {
  return ReadLengths<LengthEntry>(in, kMainTableWidth, table, lengths, highest);
}

bool ReadMainCodeLengths(BitInput& in, uint32_t* table, uint8_t* lengths, int highest) {
  return ReadLengths<MainEntry>(in, kMainTableWidth, table, lengths, highest);
}

}  // namespace acekit::decompress
