// Output pins: CRC-32 registers of the compressed streams of a fixed,
// generated input set. A change of any output bit must show up here and be
// made on purpose, with the pins updated in the same change.
#include <gtest/gtest.h>

#include <cstdio>

#include "format/crc32.h"
#include "support.h"

namespace acekit::compress_test {
namespace {

// The set: every kind of input, sized to cross the smaller windows' slides,
// plus short files whose searches run into bytes left by the files before.
std::vector<Bytes> PinnedFiles() {
  return {Generate(Kind::kMixed, 300000, 11), Generate(Kind::kText, 70000, 12),
          Generate(Kind::kSource, 1000, 13),  Generate(Kind::kBinary, 140000, 14),
          Generate(Kind::kRun, 300, 'q'),     Generate(Kind::kRandom, 5000, 15),
          Generate(Kind::kSource, 9, 16),     Generate(Kind::kText, 2, 17)};
}

uint32_t StreamsCrc(const std::vector<Packed>& packed) {
  uint32_t crc = kCrcInit;
  for (const Packed& p : packed) {
    EXPECT_EQ(p.status, 0u);
    crc = Crc32Update(crc, p.stream.data(), p.stream.size());
  }
  return crc;
}

struct Pin {
  int32_t dict;
  int32_t level;
  uint32_t normal;  // every file on its own
  uint32_t solid;   // one run
};

const Pin kPins[] = {
    {64, 1, 0x11D75DEB, 0x23B264CD},   {64, 2, 0x9268562D, 0xABB63382},
    {64, 3, 0x3619E0E2, 0x6B1427C6},   {64, 4, 0x6547C0C1, 0xA20A4F30},
    {128, 1, 0xC28B2562, 0x64C0503D},  {128, 2, 0xD35E6A8C, 0x2711C69F},
    {128, 3, 0x4DD4E85A, 0x6E058E00},  {128, 4, 0xD396C492, 0x143432EE},
    {256, 1, 0x0AF18116, 0x1397AE20},  {256, 2, 0xEB7B9671, 0xE5700F8C},
    {256, 3, 0x9A2002EF, 0xEB8647FC},  {256, 4, 0x5E483B2E, 0x20914658},
    {512, 1, 0x3E9F2D78, 0xACEFC241},  {512, 2, 0xBE80E894, 0x5EB16A2B},
    {512, 3, 0x3A05C0A0, 0x9318D1D2},  {512, 4, 0xD09D2806, 0xC294ACD6},
    {1024, 1, 0xF1D2EF1A, 0xFD3FB31D}, {1024, 2, 0x9FB35C8B, 0xE999AA85},
    {1024, 3, 0x5B7E1FB5, 0xDAA4384C}, {1024, 4, 0x3FCEED2D, 0xFE8C7A05},
};

TEST(Pinned, OutputOfEveryWindowAndLevel) {
  const std::vector<Bytes> files = PinnedFiles();
  for (const Pin& pin : kPins) {
    SCOPED_TRACE(::testing::Message() << "dict " << pin.dict << " level " << pin.level);
    const auto normal_packed = CompressAll(files, pin.dict, pin.level, false);
    const auto solid_packed = CompressAll(files, pin.dict, pin.level, true);
    EXPECT_TRUE(DecodeAll(normal_packed, files, false, nullptr));
    EXPECT_TRUE(DecodeAll(solid_packed, files, true, nullptr));
    const uint32_t normal = StreamsCrc(normal_packed);
    const uint32_t solid = StreamsCrc(solid_packed);
    EXPECT_EQ(normal, pin.normal);
    EXPECT_EQ(solid, pin.solid);
    if (normal != pin.normal || solid != pin.solid) {
      std::printf("    {%d, %d, 0x%08X, 0x%08X},\n", pin.dict, pin.level, normal, solid);
    }
  }
}

}  // namespace
}  // namespace acekit::compress_test
