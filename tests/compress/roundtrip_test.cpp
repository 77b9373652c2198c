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

TEST(RoundTrip, InputsLongerThanThreeWindows) {
  // Slides at D, 2D and 3D; the largest windows get a smaller share to keep
  // the test quick, with one slide each.
  const std::pair<int32_t, size_t> cases[] = {{64, 3 * 65536 + 5000},
                                              {128, 3 * 131072 + 70},
                                              {256, 3 * 262144 + 1},
                                              {512, 600000},
                                              {1024, 1100000}};
  for (const auto& [dict, size] : cases) {
    SCOPED_TRACE(::testing::Message() << "dict " << dict);
    const std::vector<Bytes> files{Generate(Kind::kMixed, size, static_cast<uint64_t>(dict))};
    const auto packed = CompressAll(files, dict, 2, false);
    ASSERT_EQ(packed.size(), 1u);
    EXPECT_TRUE(DecodeAll(packed, files, false, nullptr));
  }
}

TEST(RoundTrip, SolidRunsReachBack) {
  // Later files repeat pieces of earlier ones, some short enough to end
  // inside the previous window fill, one long enough to slide.
  Bytes base = Generate(Kind::kRandom, 150000, 81);
  const Bytes text = Generate(Kind::kSource, 60000, 84);
  std::copy(text.begin(), text.end(), base.begin() + 60000);
  std::vector<Bytes> files{
      Bytes(base.begin(), base.begin() + 40000),
      Bytes(base.begin() + 10000, base.begin() + 10500),
      Generate(Kind::kText, 3, 82),
      Bytes(base.begin() + 20000, base.begin() + 150000),
      Bytes(base.begin(), base.begin() + 1000),
      Generate(Kind::kRandom, 1, 83),
  };
  for (const int32_t dict : {64, 256, 1024}) {
    for (const int32_t level : {1, 4}) {
      SCOPED_TRACE(::testing::Message() << "dict " << dict << " level " << level);
      const auto solid = CompressAll(files, dict, level, true);
      const auto normal = CompressAll(files, dict, level, false);
      ASSERT_EQ(solid.size(), files.size());
      EXPECT_TRUE(DecodeAll(solid, files, true, nullptr));
      EXPECT_TRUE(DecodeAll(normal, files, false, nullptr));
      // The repeated pieces are coded as a literal and matches into the
      // files before.
      // File 4 repeats file 0, which only the larger windows still hold.
      for (const size_t i : {1u, 4u}) {
        if (i == 4 && dict < 256) continue;
        const auto pieces = ReplayStream(solid[i].stream, files[i].size());
        EXPECT_LE(pieces.size(), 6u) << i;
        bool reaches_back = false;
        for (const Piece& p : pieces) reaches_back |= p.distance > p.pos;
        EXPECT_TRUE(reaches_back) << i;
      }
    }
  }
}

// Chain tables are cleared by moving an offset; resetting the offset now
// and then must not change a bit, in normal and in solid runs.
TEST(RoundTrip, ChainOffsetResetsLeaveOutputAlone) {
  std::vector<Bytes> files;
  for (int i = 0; i < 12; ++i) {
    files.push_back(Generate(static_cast<Kind>(i % 6), 1000 + 23000 * (i % 5), 100 + i));
  }
  for (const bool solid : {false, true}) {
    std::vector<Bytes> outputs[2];
    for (int pass = 0; pass < 2; ++pass) {
      Compressor c;
      int32_t dict = 64;
      ASSERT_TRUE(c.Setup(&dict, 2));
      if (pass == 1) c.match_state().offset_limit = 3 * 65536;
      for (size_t i = 0; i < files.size(); ++i) {
        MemSource source(files[i]);
        MemSink sink;
        c.CompressFile(&source, &sink, static_cast<int32_t>(files[i].size()), !solid || i == 0);
        outputs[pass].push_back(sink.out);
      }
    }
    EXPECT_EQ(outputs[0], outputs[1]) << solid;
  }
}

TEST(RoundTrip, ChunkedSourceGivesTheSameStream) {
  const Bytes data = Generate(Kind::kMixed, 150000, 91);
  Bytes whole;
  for (const uint32_t chunk : {0xFFFFFFFFu, 1000u, 1u}) {
    Compressor c;
    int32_t dict = 64;
    ASSERT_TRUE(c.Setup(&dict, 1));
    MemSource source(data, chunk);
    MemSink sink;
    c.CompressFile(&source, &sink, static_cast<int32_t>(data.size()), true);
    if (whole.empty()) whole = sink.out;
    EXPECT_EQ(sink.out, whole) << chunk;
  }
}

}  // namespace
}  // namespace acekit::compress_test
