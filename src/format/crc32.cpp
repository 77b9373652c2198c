#include "format/crc32.h"

#include <array>
#include <cstring>

#include "platform/cpu.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define ACEKIT_CRC_CLMUL 1
#include <emmintrin.h>
#include <wmmintrin.h>
#endif

namespace acekit::format {
namespace {

constexpr uint32_t kReflectedPoly = 0xEDB88320u;

// Sixteen tables let the loop fold 16 input bytes per step; table 0 is the
// classic byte-at-a-time table, so results are identical.
struct Tables {
  std::array<std::array<uint32_t, 256>, 16> t{};
  constexpr Tables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kReflectedPoly : c >> 1;
      t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
      for (int s = 1; s < 16; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
  }
};
constexpr Tables kTables;

inline uint32_t LoadLe32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

uint32_t TableUpdate(uint32_t crc, const uint8_t* p, size_t length) {
  const auto& t = kTables.t;
  while (length >= 16) {
    const uint32_t a = LoadLe32(p) ^ crc;
    const uint32_t b = LoadLe32(p + 4);
    const uint32_t c = LoadLe32(p + 8);
    const uint32_t d = LoadLe32(p + 12);
    crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
          t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
          t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
    p += 16;
    length -= 16;
  }
  while (length--) crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return crc;
}

#if defined(ACEKIT_CRC_CLMUL)

// x^n mod P, as the 32-bit reflected value the folding multiplies by.
constexpr uint32_t XPowModP(int n) {
  uint64_t v = 1;
  for (int i = 0; i < n; ++i) {
    v <<= 1;
    if (v & (uint64_t{1} << 32)) v ^= 0x104C11DB7u;
  }
  uint32_t r = 0;
  for (int i = 0; i < 32; ++i) r |= static_cast<uint32_t>((v >> i) & 1) << (31 - i);
  return r;
}

// A 16-byte block holds 128 message bits, its low 64-bit half the earlier
// (higher-degree) ones. Carrying it d bits forward multiplies the low half by
// x^(d+64) and the high half by x^d; a reflected carry-less product carries
// an extra factor x, and a 32-bit constant in the low half of its operand one
// of x^32, hence the exponents d + 31 and d - 33.
struct FoldConstants {
  uint32_t low_half;
  uint32_t high_half;
};
constexpr FoldConstants kFold512{XPowModP(512 + 31), XPowModP(512 - 33)};
constexpr FoldConstants kFold128{XPowModP(128 + 31), XPowModP(128 - 33)};

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

__attribute__((target("pclmul,sse2"))) inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

__attribute__((target("pclmul,sse2"))) inline __m128i Constants(FoldConstants c) {
  return _mm_set_epi32(0, static_cast<int>(c.high_half), 0, static_cast<int>(c.low_half));
}

// Needs length >= 64. Folds the data down to one block in four independent
// lanes, then lets the table finish: the CRC of a block from a zero register
// is exactly the block's polynomial times x^32 mod P.
__attribute__((target("pclmul,sse2"))) uint32_t ClmulUpdate(uint32_t crc, const uint8_t* p,
                                                            size_t length) {
  __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = Load(p + 16);
  __m128i x2 = Load(p + 32);
  __m128i x3 = Load(p + 48);
  p += 64;
  length -= 64;
  const __m128i k512 = Constants(kFold512);
  while (length >= 64) {
    x0 = Fold(x0, k512, Load(p));
    x1 = Fold(x1, k512, Load(p + 16));
    x2 = Fold(x2, k512, Load(p + 32));
    x3 = Fold(x3, k512, Load(p + 48));
    p += 64;
    length -= 64;
  }
  const __m128i k128 = Constants(kFold128);
  __m128i x = Fold(x0, k128, x1);
  x = Fold(x, k128, x2);
  x = Fold(x, k128, x3);
  while (length >= 16) {
    x = Fold(x, k128, Load(p));
    p += 16;
    length -= 16;
  }
  alignas(16) uint8_t block[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(block), x);
  return TableUpdate(TableUpdate(0, block, 16), p, length);
}
#endif

}  // namespace

uint32_t Crc32UpdateTables(uint32_t crc, const void* data, size_t length) {
  if (data == nullptr) return 0;
  return TableUpdate(crc, static_cast<const uint8_t*>(data), length);
}

uint32_t Crc32Update(uint32_t crc, const void* data, size_t length) {
  if (data == nullptr) return 0;
  const auto* p = static_cast<const uint8_t*>(data);
#if defined(ACEKIT_CRC_CLMUL)
  if (length >= 64 && platform::CpuHasClmul()) return ClmulUpdate(crc, p, length);
#endif
  return TableUpdate(crc, p, length);
}

}  // namespace acekit::format
