#include "format/crc32.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace acekit {
namespace {

// Bit at a time, straight from the polynomial: the reference the fast paths
// must match.
uint32_t BitwiseCrc(uint32_t crc, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return crc;
}

TEST(Crc32, KnownValues) {
  const char* text = "123456789";
  // The register is never inverted, so this is the complement of the usual check value.
  EXPECT_EQ(format::Crc32Update(format::kCrcInit, text, 9), ~0xCBF43926u);
  EXPECT_EQ(format::Crc32Update(format::kCrcInit, text, 0), format::kCrcInit);
  EXPECT_EQ(format::Crc32Update(format::kCrcInit, nullptr, 5), 0u);
  EXPECT_EQ(format::Crc32UpdateTables(format::kCrcInit, nullptr, 5), 0u);
  const std::vector<uint8_t> zeros(4096, 0);
  EXPECT_EQ(format::Crc32Update(0, zeros.data(), zeros.size()), 0u);
}

// Every length up to a few folding blocks past the point where the fast path
// starts, at every alignment, with random starting registers; and the result
// must not depend on how the data is split between calls.
TEST(Crc32, MatchesTheBitwiseDefinition) {
  std::mt19937 rng(11);
  std::vector<uint8_t> data(4096 + 64);
  for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t n = 0; n <= 400; ++n) {
      const uint32_t start = rng();
      const uint8_t* p = data.data() + offset;
      const uint32_t want = BitwiseCrc(start, p, n);
      ASSERT_EQ(format::Crc32Update(start, p, n), want) << offset << " " << n;
      ASSERT_EQ(format::Crc32UpdateTables(start, p, n), want) << offset << " " << n;
    }
  }
  for (size_t n : {2047u, 2048u, 4096u}) {
    const uint32_t want = BitwiseCrc(format::kCrcInit, data.data() + 3, n);
    EXPECT_EQ(format::Crc32Update(format::kCrcInit, data.data() + 3, n), want);
    EXPECT_EQ(format::Crc32UpdateTables(format::kCrcInit, data.data() + 3, n), want);
    for (size_t cut : {size_t{1}, size_t{63}, size_t{64}, size_t{1000}}) {
      const uint32_t part = format::Crc32Update(format::kCrcInit, data.data() + 3, cut);
      EXPECT_EQ(format::Crc32Update(part, data.data() + 3 + cut, n - cut), want) << n << " " << cut;
    }
  }
}

}  // namespace
}  // namespace acekit
