#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "stream_builder.h"

namespace acekit::decompress::test {
namespace {

// Fields of every width, spread over several refills of the word buffer,
// come back exactly as written: the two words carried across each refill and
// the 4088 bytes read behind them join seamlessly.
TEST(BitInput, FieldsAcrossRefillsReadBackExactly) {
  std::mt19937 rng(3);
  std::vector<std::pair<int, uint32_t>> fields;
  BitWriter w;
  while (w.BitCount() < 4 * 4088 * 8 + 1000) {
    const int n = 1 + static_cast<int>(rng() % 32);
    const uint32_t v = n == 32 ? rng() : rng() & ((1u << n) - 1);
    fields.emplace_back(n, v);
    w.Put(n, v);
  }
  Reader r(w.Finish());
  for (const auto& [n, v] : fields) {
    ASSERT_EQ(r.in.Peek(n), v);
    r.in.Skip(0);
    ASSERT_EQ(r.in.Read(n), v);
  }
  EXPECT_FALSE(r.in.Overrun());
  // One initial read of 4096 bytes, then 4088 bytes per refill.
  EXPECT_GE(r.source.calls, 5);
}

// Words are little-endian and read from the top. Past the delivered data the
// reader keeps going inside its buffer, however far it is driven, and says so.
TEST(BitInput, OverrunOnlyPastDeliveredData) {
  Reader r({0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(r.in.Read(4), 0x1u);
  EXPECT_EQ(r.in.Read(28), 0x2345678u);
  r.in.Skip(32);
  EXPECT_FALSE(r.in.Overrun());
  r.in.Skip(1);
  EXPECT_TRUE(r.in.Overrun());
  for (int i = 0; i < 5000; ++i) r.in.Skip(32);
  EXPECT_TRUE(r.in.Overrun());
}

}  // namespace
}  // namespace acekit::decompress::test
