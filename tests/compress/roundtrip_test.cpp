// Whole streams: every window and level decodes back, solid runs reach into
// earlier files, and the output of a fixed input set is pinned.
#include <gtest/gtest.h>

#include <cstdio>

#include "format/crc32.h"
#include "support.h"

namespace acekit::compress_test {
namespace {

std::vector<Bytes> Mix() {
  return {Generate(Kind::kMixed, 300000, 11),
          Generate(Kind::kText, 70000, 12),
          Generate(Kind::kBinary, 140000, 14),
          Generate(Kind::kRuns, 9000, 13),
          Generate(Kind::kRandom, 5000, 15),
          Generate(Kind::kText, 9, 16),
          Bytes{0},
          Bytes{7, 7}};
}

// CRC-32 registers of all streams of Mix(), every file on its own and as one
// solid run. Changing any output bit must change these on purpose.
struct Pin {
  int32_t dict, level;
  uint32_t normal, solid;
};
const std::vector<Pin> kPins = {
    {64, 1, 0x04767F71, 0x9FEE5492},   {64, 2, 0xE6251C65, 0x191F0888},
    {64, 3, 0xDAB81533, 0x8DBD32AE},   {64, 4, 0xF3BB0BEF, 0x5A7C811B},
    {128, 1, 0x04D71AF4, 0xA1F5AC1B},  {128, 4, 0xA14965B7, 0x47B357BA},
    {256, 1, 0x0D22CE69, 0x8311EFA4},  {256, 4, 0x15AB6315, 0x928434B6},
    {512, 1, 0x2E6AB324, 0xB8DC4578},  {512, 4, 0xA3DE23A3, 0xEC2FC0B7},
    {1024, 1, 0xFBD3237C, 0x638F4F58}, {1024, 2, 0xA5DED9A4, 0x845D2694},
    {1024, 3, 0x668626B9, 0x846FF43E}, {1024, 4, 0x70F8A18F, 0x51F28637},
};

uint32_t StreamsCrc(const std::vector<Packed>& packed) {
  uint32_t crc = format::kCrcInit;
  for (const Packed& p : packed) crc = format::Crc32Update(crc, p.stream.data(), p.stream.size());
  return crc;
}

// Every file comes back with its CRC, and the streams match the pins.
void CheckPins(const std::vector<Bytes>& files, const std::vector<Pin>& pins) {
  for (const Pin& pin : pins) {
    SCOPED_TRACE(::testing::Message() << "dict " << pin.dict << " level " << pin.level);
    const auto normal = CompressAll(files, pin.dict, pin.level, false);
    const auto solid = CompressAll(files, pin.dict, pin.level, true);
    for (size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(normal[i].status, 0u);
      EXPECT_EQ(normal[i].crc, Crc(files[i]));
    }
    EXPECT_TRUE(DecodeAll(normal, files, false));
    EXPECT_TRUE(DecodeAll(solid, files, true));
    const uint32_t n = StreamsCrc(normal), s = StreamsCrc(solid);
    EXPECT_EQ(n, pin.normal);
    EXPECT_EQ(s, pin.solid);
    if (n != pin.normal || s != pin.solid) {
      std::printf("    {%d, %d, 0x%08X, 0x%08X},\n", pin.dict, pin.level, n, s);
    }
  }
}

TEST(RoundTrip, PinnedMixEveryWindowAndLevel) {
  CheckPins(Mix(), kPins);
}

// Incompressible stretches around compressible ones, in files that end in
// them and in solid runs over them: where matches are rare the finder skips
// chains it can tell hold nothing, which must leave every bit as it was.
TEST(RoundTrip, PinnedSparseStretches) {
  Bytes big = Generate(Kind::kRandom, 200000, 91);
  const Bytes text = Generate(Kind::kText, 30000, 92);
  std::copy(text.begin(), text.end(), big.begin() + 90000);
  // Repeats found while matches are rare, one of them across a slide.
  std::copy(big.begin() + 1000, big.begin() + 1600, big.begin() + 50000);
  std::copy(big.begin() + 60000, big.begin() + 60100, big.begin() + 131000);
  // The last string before the 64 KB window's first slide joins the chain
  // of its byte and two zeros from past the window's end; the bytes after
  // it give it that same hash, so that a later copy of it finds it there,
  // alone in its chain once other strings with that hash are changed.
  big[65535] = 0x89;
  big[65536] = 1;
  big[65537] = 0x40;
  std::copy(big.begin() + 65535, big.begin() + 65565, big.begin() + 70000);
  const auto hash = [&](size_t i) {
    return (big[i] << 12 ^ big[i + 1] << 6 ^ big[i + 2]) & 0x7FFF;
  };
  for (size_t i = 4000; i < 69998; ++i) {
    if (i >= 65533 && i <= 65537) continue;
    while (hash(i) == 0x1000) big[i + 2] ^= 0x11;
  }
  const std::vector<Bytes> files{big,
                                 Generate(Kind::kRandom, 3000, 93),
                                 Bytes(big.begin() + 5000, big.begin() + 9000),
                                 Generate(Kind::kText, 5000, 94),
                                 Generate(Kind::kRandom, 70000, 95),
                                 Bytes{1},
                                 Bytes(big.begin() + 7000, big.begin() + 7002)};
  CheckPins(files, {{64, 1, 0x390DF418, 0xF722012C}, {64, 4, 0x7A3A858D, 0x4EEC03B5}});
}

TEST(RoundTrip, ThreeSlidesPerWindow) {
  for (const int32_t dict : {64, 128, 256, 512, 1024}) {
    // Past 3D for the small windows; one slide for the two largest.
    const size_t size = dict <= 256 ? 3u * 1024 * static_cast<size_t>(dict) + 77 : 1100000;
    const std::vector<Bytes> files{Generate(Kind::kMixed, size, static_cast<uint64_t>(dict))};
    EXPECT_TRUE(DecodeAll(CompressAll(files, dict, 2, false), files, false)) << dict;
  }
}

TEST(RoundTrip, SolidRunsReachBack) {
  Bytes base = Generate(Kind::kRandom, 150000, 81);
  const Bytes text = Generate(Kind::kText, 60000, 84);
  std::copy(text.begin(), text.end(), base.begin() + 60000);
  const std::vector<Bytes> files{Bytes(base.begin(), base.begin() + 40000),
                                 Bytes(base.begin() + 10000, base.begin() + 10500), Bytes{1, 2, 3},
                                 Bytes(base.begin() + 20000, base.end()),
                                 Bytes(base.begin(), base.begin() + 1000)};
  for (const int32_t dict : {64, 256, 1024}) {
    const auto solid = CompressAll(files, dict, 1, true);
    EXPECT_TRUE(DecodeAll(solid, files, true)) << dict;
    // Files 1 and 4 are a literal and matches into earlier files; file 0 is
    // still in reach for 4 only with the larger windows.
    for (const size_t i : {1u, 4u}) {
      if (i == 4 && dict < 256) continue;
      const Parsed parsed = Parse(solid[i].stream, files[i].size());
      EXPECT_LE(parsed.pieces.size(), 6u) << dict << " " << i;
      EXPECT_GT(parsed.pieces.back().distance, parsed.pieces.back().pos) << dict << " " << i;
    }
  }
}

// Chain tables are cleared by raising an offset; falling back to the full
// clear now and then, and reading the source in small pieces, must not
// change a bit.
TEST(RoundTrip, ResetsAndChunkingLeaveOutputAlone) {
  const std::vector<Bytes> files = Mix();
  for (const bool solid : {false, true}) {
    std::vector<Bytes> outputs[3];
    for (int pass = 0; pass < 3; ++pass) {
      compress::Compressor c;
      int32_t dict = 64;
      ASSERT_TRUE(c.Setup(&dict, 2));
      if (pass == 1) c.match_state().offset_limit = 3 * 65536;
      for (size_t i = 0; i < files.size(); ++i) {
        MemorySource source(files[i], pass == 2 ? 1000 : 0xFFFFFFFFu);
        MemorySink sink;
        c.CompressFile(&source, &sink, static_cast<int32_t>(files[i].size()), !solid || i == 0);
        outputs[pass].push_back(sink.data);
      }
    }
    EXPECT_EQ(outputs[0], outputs[1]) << solid;
    EXPECT_EQ(outputs[0], outputs[2]) << solid;
  }
}

}  // namespace
}  // namespace acekit::compress_test
