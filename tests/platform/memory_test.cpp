#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace acekit::platform {
namespace {

// Backing pages must never change a byte: the decoder backs window spans
// that already hold data as well as fresh ones, and ranges that start and
// end inside a page.
TEST(MemoryTest, BackingPagesLeavesEveryByteAsItWas) {
  constexpr size_t kSize = 5 * 4096 + 123;
  auto* block = static_cast<uint8_t*>(AllocZeroed(kSize));
  ASSERT_NE(block, nullptr);
  std::vector<uint8_t> expect(kSize, 0);
  for (size_t i = 0; i < 4096 + 17; ++i) block[i] = expect[i] = static_cast<uint8_t>(i * 7 + 1);

  const size_t ranges[][2] = {{0, 0},         {5, 9},     {4090, 4100},
                              {0, 4096 + 17}, {3, kSize}, {kSize, kSize}};
  for (const auto& r : ranges) {
    BackPages(block, r[0], r[1]);
    ASSERT_EQ(std::vector<uint8_t>(block, block + kSize), expect) << r[0] << ".." << r[1];
  }
  Free(block);
}

}  // namespace
}  // namespace acekit::platform
