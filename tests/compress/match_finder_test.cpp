// Parsing decisions: where matches start, how far they reach and which
// distances are refused, including the cases decided by bytes past the
// valid input or by the state an earlier file left.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "support.h"

namespace acekit::compress_test {
namespace {

void Put(Bytes& file, size_t at, const std::string& text) {
  std::copy(text.begin(), text.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
}

Parsed ParseOne(const Bytes& file, int32_t dict = 64, int32_t level = 1) {
  return Parse(CompressAll({file}, dict, level, false)[0].stream, file.size());
}

TEST(MatchFinder, RunsTwoByteMatchesAndSlides) {
  // A run: a literal, then distance-1 matches capped at 256, the first a
  // repeat of the ring's initial zero, the last cut to the input.
  const Parsed run = ParseOne(Bytes(1000, 'z'));
  ASSERT_EQ(run.pieces.size(), 5u);
  EXPECT_EQ(run.pieces[0].length, 0u);
  for (size_t i = 1; i < 5; ++i) {
    EXPECT_EQ(run.pieces[i].length, i < 4 ? 256u : 231u);
    EXPECT_EQ(run.pieces[i].symbol, 256u);
  }
  // Two-byte matches only once P is past the window start by 256.
  Bytes pairs = Filler(700, 21);
  for (size_t at : {100, 200, 400, 500}) Put(pairs, at, "PQ");
  const Parsed two = ParseOne(pairs);
  ASSERT_NE(two.At(200), nullptr);
  ASSERT_NE(two.At(500), nullptr);
  EXPECT_EQ(two.At(200)->length, 0u);
  EXPECT_EQ(two.At(500)->length, 2u);
  EXPECT_EQ(two.At(500)->distance, 100u);
  // No match crosses a slide: the lookahead stops at the window's end.
  const Bytes runs = Generate(Kind::kRuns, 200000, 5);
  const Parsed slid = ParseOne(runs);
  for (size_t slide : {65536u, 131072u, 196608u}) EXPECT_NE(slid.At(slide), nullptr) << slide;
}

TEST(MatchFinder, ThreeByteDistanceLimit) {
  // {distance, the byte after the first copy, whether the second copy ends
  // the file, whether it is a match}. The search also compares the zeros
  // past the end, so the copy followed by 0 looks longer than the three
  // bytes left; cut to three it is kept only below distance 8192.
  struct Case {
    uint32_t distance;
    uint8_t after_first;
    bool at_end, match;
  };
  const Case cases[] = {{8192, 0x80, false, true},
                        {8193, 0x80, false, false},
                        {8192, 0x80, true, true},
                        {8192, 0x00, true, false},
                        {8191, 0x00, true, true}};
  for (const Case& c : cases) {
    const size_t first = 300, second = first + c.distance;
    Bytes file = Filler(second + (c.at_end ? 3 : 100), 9);
    Put(file, first, "XYZ");
    Put(file, second, "XYZ");
    file[first + 3] = c.after_first;
    const Parsed parsed = ParseOne(file);
    ASSERT_NE(parsed.At(second), nullptr) << c.distance;
    EXPECT_EQ(parsed.At(second)->length, c.match ? 3u : 0u) << c.distance << " " << c.at_end;
    if (c.match) {
      EXPECT_EQ(parsed.At(second)->distance, c.distance);
    }
  }
  // Distance 70000 needs a 17-bit symbol.
  Bytes far = Filler(70120, 5);
  Put(far, 10, "abcdefghijklmnopqrst");
  Put(far, 70010, "abcdefghijklmnopqrst");
  const Parsed parsed = ParseOne(far, 128, 4);
  const Piece* p = parsed.At(70010);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->distance, 70000u);
  EXPECT_EQ(p->length, 20u);
  EXPECT_EQ(p->symbol, 277u);
}

// The window is never cleared: what an earlier, longer file left past the
// end of a short one takes part in its last comparisons and picks the match.
TEST(MatchFinder, EarlierFilesDecideTheLastMatch) {
  Bytes second = Filler(400, 31);
  for (size_t at : {50, 150, 396}) Put(second, at, "ABCD");
  second[54] = 'x';
  second[154] = 'y';
  const std::pair<uint8_t, uint32_t> cases[] = {{0, 246}, {'x', 346}, {'y', 246}};
  for (const auto& [stale, distance] : cases) {
    Bytes first = Filler(1000, 32);
    first[400] = stale;
    std::vector<Bytes> files{first, second};
    if (stale == 0) files.erase(files.begin());
    const auto packed = CompressAll(files, 64, 1, false);
    const Parsed parsed = Parse(packed.back().stream, second.size());
    const Piece* p = parsed.At(396);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->length, 4u);
    EXPECT_EQ(p->distance, distance) << int{stale};
  }
}

// A probe string's chain can hold a position within the probe offset of a
// fresh file's first byte; the match it implies would start in bytes an
// earlier file left in the window, which no decoder has.
TEST(MatchFinder, NoMatchStartsBeforeTheFile) {
  Bytes first = Filler(65536 + 100, 101);
  first[65535] = 'a';  // slides to just below the next file's data
  Bytes second = Filler(320, 102);
  Put(second, 0, "bcdefghij");
  for (size_t i = 0; i < 8; ++i) Put(second, 50 + 24 * i, "abc" + std::to_string(i));
  Put(second, 250, "abcdefghijQ");
  const auto packed = CompressAll({first, second}, 64, 1, false);
  EXPECT_TRUE(DecodeAll(packed, {first, second}, false));
  const Parsed parsed = Parse(packed[1].stream, second.size());
  for (const Piece& p : parsed.pieces) EXPECT_LE(p.distance, p.pos);
  ASSERT_NE(parsed.At(251), nullptr);
  EXPECT_EQ(parsed.At(251)->distance, 251u);
}

// A continued file's first position is not inserted again and its 2-byte
// hash restarts at 0, so its first strings are found only from later on.
TEST(MatchFinder, ContinuedFileStartsItsChainsLate) {
  Bytes second = Filler(300, 52);
  Put(second, 0, "JKLMN");
  Put(second, 100, "JKLMN");
  Put(second, 50, "KL");
  const std::vector<Bytes> files{Filler(1000, 51), second};
  const Parsed continued = Parse(CompressAll(files, 64, 1, true)[1].stream, second.size());
  for (size_t at : {50, 100, 101}) ASSERT_NE(continued.At(at), nullptr) << at;
  EXPECT_EQ(continued.At(100)->length, 0u);
  EXPECT_EQ(continued.At(101)->length, 4u);
  EXPECT_EQ(continued.At(50)->length, 0u);  // position 1 was hashed from 'L' alone
  const Parsed fresh = ParseOne(second);
  ASSERT_NE(fresh.At(100), nullptr);
  EXPECT_EQ(fresh.At(100)->length, 5u);
}

TEST(Compressor, DictionarySizes) {
  const std::pair<int32_t, int32_t> cases[] = {{20, 64},   {2048, 64},  {100, 64},    {128, 128},
                                               {300, 256}, {1000, 512}, {1024, 1024}, {1025, 64}};
  for (const auto& [asked, used] : cases) {
    compress::Compressor c;
    int32_t dict = asked;
    ASSERT_TRUE(c.Setup(&dict, 9));
    EXPECT_EQ(dict, used) << asked;
  }
}

TEST(Compressor, OutOfMemoryHoldsNothing) {
  // The window with the chain tables, the output buffer, the Huffman tables.
  for (uint32_t nth = 1; nth <= 4; ++nth) {
    compress::Compressor c;
    int32_t dict = 256;
    platform::ArmFault(platform::Fault::kAlloc, nth);
    const bool ok = c.Setup(&dict, 2);
    platform::DisarmFaults();
    EXPECT_EQ(ok, nth == 4) << nth;
    EXPECT_EQ(c.ready(), ok);
    EXPECT_EQ(c.status(), ok ? kOk : kNoMemory);
  }
}

int32_t Cancel(ArcContext, int32_t, int32_t) {
  return 0;
}

TEST(Compressor, FailuresEndInTheStatusWord) {
  const Bytes data = Generate(Kind::kRandom, 400000, 61);
  for (const uint32_t expected : {kOpenFailed, kShortWrite, kCancelled}) {
    compress::Compressor c;
    int32_t dict = 64;
    ASSERT_TRUE(c.Setup(&dict, 1));
    MemorySource source(data);
    MemorySink sink;
    source.fail = expected == kOpenFailed;
    if (expected == kShortWrite) sink.limit = 1000;
    if (expected == kCancelled) c.SetProgress(ProgressHook{&Cancel, 0});
    c.CompressFile(&source, &sink, static_cast<int32_t>(data.size()), true);
    EXPECT_EQ(c.status(), expected);
    EXPECT_LE(sink.calls, 1);
    // A cancel ends the coder within the window being coded; workers read
    // the four segments of each parse in flight and two more.
    if (expected == kCancelled) {
      EXPECT_LE(c.bytes_in(), (c.threads() == 1 ? 2 : 4 * c.threads() + 2) * 65536);
    }
  }
}

}  // namespace
}  // namespace acekit::compress_test
