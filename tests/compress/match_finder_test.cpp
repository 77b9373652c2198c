// Parsing decisions of the match finder: where matches start, how far they
// reach and which distances are refused, including the cases where bytes
// past the valid input or the state of an earlier file decide.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support.h"

namespace acekit::compress_test {
namespace {

struct Engine {
  Compressor c;
  MemSink sink;
  explicit Engine(int32_t dict = 64, int32_t level = 1) { EXPECT_TRUE(c.Setup(&dict, level)); }
  std::vector<Piece> Code(const Bytes& data, bool restart = true) {
    CodeWithoutClosing(c, data, restart, sink);
    return ReplayBuffer(c.blocks());
  }
};

const Piece* PieceAt(const std::vector<Piece>& pieces, size_t pos) {
  for (const Piece& p : pieces) {
    if (p.pos == pos) return &p;
  }
  return nullptr;
}

Bytes Filler(size_t n, uint64_t seed) {
  // Bytes 0x80..0xFF only, so the ASCII markers below never recur in it.
  Bytes out = Generate(Kind::kRandom, n, seed);
  for (uint8_t& b : out) b |= 0x80;
  return out;
}

TEST(MatchFinder, ShortFilesAreLiterals) {
  for (const Bytes& file : {Bytes{7}, Bytes{7, 7}, Bytes{0, 0}}) {
    Engine s;
    const auto pieces = s.Code(file);
    ASSERT_EQ(pieces.size(), file.size());
    for (const Piece& p : pieces) EXPECT_EQ(p.length, 0u);
  }
}

TEST(MatchFinder, RunOfOneByte) {
  Engine s;
  const auto pieces = s.Code(Bytes(1000, 'z'));
  // A literal, then distance-1 matches of at most 256 bytes: the first one
  // reuses the ring's initial zero, and the last is cut to what is left.
  ASSERT_EQ(pieces.size(), 5u);
  EXPECT_EQ(pieces[0].length, 0u);
  const uint32_t lengths[] = {256, 256, 256, 231};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(pieces[i + 1].length, lengths[i]);
    EXPECT_EQ(pieces[i + 1].distance, 1u);
    EXPECT_EQ(pieces[i + 1].symbol, 256u);
  }
}

TEST(MatchFinder, NewDistanceOfSeventeenBits) {
  Engine s(128, 4);
  Bytes file = Filler(70120, 5);
  const char marker[] = "abcdefghijklmnopqrst";
  std::copy(marker, marker + 20, file.begin() + 10);
  std::copy(marker, marker + 20, file.begin() + 70010);
  file[30] = 'x';
  file[70030] = 'y';
  MemSource source(file);
  s.c.CompressFile(&source, &s.sink, static_cast<int32_t>(file.size()), true);
  const auto pieces = ReplayStream(s.sink.out, file.size());
  const Piece* p = PieceAt(pieces, 70010);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->distance, 70000u);
  EXPECT_EQ(p->length, 20u);
  EXPECT_EQ(p->symbol, 277u);
}

// A 3-byte string repeated once at the given distance, followed by `next`
// (or ending the file when at_end).
struct Repeat {
  const char* name;
  uint32_t distance;
  uint8_t after_first;
  bool at_end;
  bool match;
};

TEST(MatchFinder, ThreeByteMatchesAndTheirDistanceLimit) {
  const Repeat cases[] = {
      {"8192 inside the file", 8192, 0x80, false, true},
      {"8193 inside the file", 8193, 0x80, false, false},
      {"8192 as the last three bytes", 8192, 0x80, true, true},
      // The search also compares the zero bytes past the end, so the older
      // copy (followed by 0) looks longer than the three bytes left; cutting
      // it to three keeps it only below distance 8192.
      {"8192 cut to the last three bytes", 8192, 0x00, true, false},
      {"8191 cut to the last three bytes", 8191, 0x00, true, true},
  };
  for (const Repeat& r : cases) {
    SCOPED_TRACE(r.name);
    Engine s;
    const size_t first = 300;
    const size_t second = first + r.distance;
    Bytes file = Filler(second + (r.at_end ? 3 : 100), 9);
    for (size_t at : {first, second}) {
      file[at] = 'X';
      file[at + 1] = 'Y';
      file[at + 2] = 'Z';
    }
    file[first + 3] = r.after_first;
    if (!r.at_end) file[second + 3] = 0x81;
    const auto pieces = s.Code(file);
    const Piece* p = PieceAt(pieces, second);
    ASSERT_NE(p, nullptr);
    if (r.match) {
      EXPECT_EQ(p->length, 3u);
      EXPECT_EQ(p->distance, r.distance);
    } else {
      EXPECT_EQ(p->length, 0u);
      EXPECT_NE(PieceAt(pieces, second + 1), nullptr);
      EXPECT_NE(PieceAt(pieces, second + 2), nullptr);
    }
  }
}

TEST(MatchFinder, TwoByteMatchesOnlyAfterTheFirst256Positions) {
  Engine s;
  Bytes file = Filler(700, 21);
  // "PQ" at 100 and 200 (too early), and at 400 and 500.
  for (size_t at : {100, 200, 400, 500}) {
    file[at] = 'P';
    file[at + 1] = 'Q';
  }
  const auto pieces = s.Code(file);
  ASSERT_NE(PieceAt(pieces, 200), nullptr);
  EXPECT_EQ(PieceAt(pieces, 200)->length, 0u);
  const Piece* p = PieceAt(pieces, 500);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->length, 2u);
  EXPECT_EQ(p->distance, 100u);
}

TEST(MatchFinder, NoMatchCrossesASlide) {
  Engine s;
  // Runs that would otherwise give matches across every 64 KB boundary.
  Bytes file;
  while (file.size() < 200000) {
    file.insert(file.end(), 1000, static_cast<uint8_t>('a' + file.size() % 7));
  }
  const auto pieces = s.Code(file);
  for (const Piece& p : pieces) {
    if (p.length == 0) continue;
    for (size_t slide : {65536u, 131072u, 196608u}) {
      EXPECT_FALSE(p.pos < slide && p.pos + p.length > slide) << p.pos << "+" << p.length;
    }
  }
  EXPECT_NE(PieceAt(pieces, 65536), nullptr);
  EXPECT_NE(PieceAt(pieces, 196608), nullptr);
}

// The window is never cleared: bytes an earlier file left past the end of a
// shorter file take part in the last comparisons and pick the candidate.
TEST(MatchFinder, EarlierFilesDecideTheLastMatch) {
  Bytes second = Filler(400, 31);
  const char marker[] = "ABCD";
  for (size_t at : {50, 150, 396}) std::copy(marker, marker + 4, second.begin() + at);
  second[54] = 'x';
  second[154] = 'y';
  struct Case {
    const char* name;
    int before;  // 0 none, else the byte at offset 400 of a longer first file
    uint32_t distance;
  };
  const Case cases[] = {
      {"fresh window", 0, 396 - 150}, {"stale x", 'x', 396 - 50}, {"stale y", 'y', 396 - 150}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Engine s;
    if (k.before != 0) {
      Bytes first = Filler(1000, 32);
      first[400] = static_cast<uint8_t>(k.before);
      MemSource source(first);
      s.c.CompressFile(&source, &s.sink, static_cast<int32_t>(first.size()), true);
    }
    const auto pieces = s.Code(second);
    const Piece* p = PieceAt(pieces, 396);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->length, 4u);
    EXPECT_EQ(p->distance, k.distance);
  }
}

TEST(MatchFinder, SolidRunReachesIntoTheFileBefore) {
  Engine s;
  const Bytes first = Generate(Kind::kRandom, 3000, 41);
  Bytes second(first.begin() + 1000, first.begin() + 1500);
  s.Code(first);
  const auto pieces = s.Code(second, false);
  EXPECT_EQ(pieces[0].length, 0u);  // a fresh file starts with a literal
  const Piece* p = PieceAt(pieces, 1);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->length, 256u);
  EXPECT_EQ(p->distance, 2000u);
}

// ContinueCoder neither inserts the first position again nor carries the
// 2-byte hash over, so the first string of a continued file is not found
// through it.
TEST(MatchFinder, ContinuedFileStartsItsChainsLate) {
  Bytes first = Filler(1000, 51);
  Bytes second = Filler(300, 52);
  const char head[] = "JKLMN";
  std::copy(head, head + 5, second.begin());
  std::copy(head, head + 5, second.begin() + 100);
  second[5] = 0x90;
  second[105] = 0x91;
  // "KL" again at 50: the pair at position 1 was hashed from 'L' alone.
  second[50] = 'K';
  second[51] = 'L';
  second[52] = 0x92;
  {
    Engine s;
    s.Code(first);
    const auto pieces = s.Code(second, false);
    ASSERT_NE(PieceAt(pieces, 100), nullptr);
    EXPECT_EQ(PieceAt(pieces, 100)->length, 0u);  // 'J' is a literal
    const Piece* p = PieceAt(pieces, 101);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->length, 4u);
    EXPECT_EQ(p->distance, 100u);
    ASSERT_NE(PieceAt(pieces, 50), nullptr);
    EXPECT_EQ(PieceAt(pieces, 50)->length, 0u);
  }
  {
    Engine s;  // a fresh start inserts the first position
    const auto pieces = s.Code(second);
    ASSERT_NE(PieceAt(pieces, 100), nullptr);
    EXPECT_EQ(PieceAt(pieces, 100)->length, 5u);
  }
}

TEST(Compressor, DictionarySizesInUse) {
  const std::pair<int32_t, int32_t> cases[] = {{20, 64},   {2048, 64},  {63, 64},     {64, 64},
                                               {100, 64},  {128, 128},  {300, 256},   {511, 256},
                                               {512, 512}, {1000, 512}, {1024, 1024}, {1025, 64}};
  for (const auto& [asked, used] : cases) {
    Compressor c;
    int32_t dict = asked;
    ASSERT_TRUE(c.Setup(&dict, 1));
    EXPECT_EQ(dict, used) << asked;
    EXPECT_EQ(c.dict_kb(), used);
  }
}

TEST(Compressor, OutOfMemoryHoldsNothing) {
  // Window, three chain tables, output buffer, Huffman tables.
  for (uint32_t nth = 1; nth <= 7; ++nth) {
    Compressor c;
    int32_t dict = 256;
    platform::ArmFault(platform::Fault::kAlloc, nth);
    const bool ok = c.Setup(&dict, 2);
    platform::DisarmFaults();
    EXPECT_EQ(ok, nth == 7) << nth;
    EXPECT_EQ(c.ready(), ok);
    EXPECT_EQ(c.status(), ok ? kOk : kNoMemory);
  }
}

TEST(Compressor, FailuresEndInTheStatusWord) {
  const Bytes data = Generate(Kind::kMixed, 100000, 61);
  {
    Compressor c;
    int32_t dict = 64;
    ASSERT_TRUE(c.Setup(&dict, 1));
    MemSource source(data);
    source.fail_ = true;
    MemSink sink;
    c.CompressFile(&source, &sink, static_cast<int32_t>(data.size()), true);
    EXPECT_EQ(c.status(), kOpenFailed);
  }
  {
    Compressor c;
    int32_t dict = 64;
    ASSERT_TRUE(c.Setup(&dict, 1));
    MemSource source(data);
    MemSink sink;
    sink.room = 1000;
    c.CompressFile(&source, &sink, static_cast<int32_t>(data.size()), true);
    EXPECT_EQ(c.status(), kShortWrite);
    EXPECT_EQ(sink.writes, 1);
  }
}

int32_t Cancel(ArcContext ctx, int32_t, int32_t) {
  ++*reinterpret_cast<int*>(ctx);
  return 0;
}

TEST(Compressor, CancelEndsTheCoderSoon) {
  const Bytes data = Generate(Kind::kRandom, 400000, 71);
  Compressor c;
  int32_t dict = 64;
  ASSERT_TRUE(c.Setup(&dict, 1));
  int calls = 0;
  c.SetProgress(ProgressHook{&Cancel, reinterpret_cast<ArcContext>(&calls)});
  MemSource source(data);
  MemSink sink;
  c.CompressFile(&source, &sink, static_cast<int32_t>(data.size()), true);
  EXPECT_EQ(c.status(), kCancelled);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(sink.writes, 1);
  // The first flush comes within the first two blocks; reading stops with
  // the window that was being coded.
  EXPECT_LE(c.bytes_in(), 2 * 65536);
}

}  // namespace
}  // namespace acekit::compress_test

namespace acekit::compress_test {
namespace {

// A probe string's chain may hold a position within the probe offset of the
// file's first byte; the match it implies would start in bytes an earlier
// file left in the window, which no decoder has.
TEST(MatchFinder, NoMatchStartsBeforeTheFile) {
  Bytes first = Filler(65536 + 100, 101);
  first[65535] = 'a';  // lands just below the second file's data
  Bytes second;
  const std::string head = "bcdefghij";
  second.insert(second.end(), head.begin(), head.end());
  const Bytes fill = Filler(4000, 102);
  size_t f = 0;
  auto pad = [&](size_t n) {
    second.insert(second.end(), fill.begin() + f, fill.begin() + f + n);
    f += n;
  };
  pad(40);
  // Enough "abc" for the walk on its chain to use up the level-1 budget.
  for (int i = 0; i < 8; ++i) {
    second.insert(second.end(), {'a', 'b', 'c', static_cast<uint8_t>('0' + i)});
    pad(20);
  }
  const size_t at = second.size();
  second.push_back('a');
  second.insert(second.end(), head.begin(), head.end());
  second.push_back('Q');
  pad(100);

  Engine s;
  MemSource source(first);
  s.c.CompressFile(&source, &s.sink, static_cast<int32_t>(first.size()), true);
  std::vector<Packed> packed(2);
  packed[0].stream = s.sink.out;
  packed[0].crc = s.c.crc();
  MemSink sink2;
  MemSource source2(second);
  s.c.CompressFile(&source2, &sink2, static_cast<int32_t>(second.size()), true);
  packed[1].stream = sink2.out;
  packed[1].crc = s.c.crc();
  EXPECT_TRUE(DecodeAll(packed, {first, second}, false, nullptr));
  for (const Piece& p : ReplayStream(sink2.out, second.size())) {
    EXPECT_LE(p.distance, p.pos) << p.pos;
  }
  const Piece* p = nullptr;
  for (const Piece& q : ReplayStream(sink2.out, second.size())) {
    if (q.pos == at + 1) p = &q;
  }
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->distance, at + 1);
}

}  // namespace
}  // namespace acekit::compress_test
