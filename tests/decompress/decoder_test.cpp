#include "decompress/decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "common/status.h"
#include "format/crc32.h"
#include "platform/platform.h"
#include "stream_builder.h"

namespace acekit::decompress::test {
namespace {

std::vector<uint8_t> Bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

struct ProgressLog {
  std::vector<std::pair<int32_t, int32_t>> calls;  // (percent, bytes)
  int32_t answer_from_call = -1;                   // 0-based call that answers 0
};

int32_t RecordProgress(ArcContext ctx, int32_t percent, int32_t bytes) {
  auto* log = reinterpret_cast<ProgressLog*>(ctx);
  log->calls.emplace_back(percent, bytes);
  return static_cast<int32_t>(log->calls.size()) - 1 == log->answer_from_call ? 0 : 1;
}

class DecoderTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(d_); }

  // Decodes one entry from `packed` into sink_ and returns its status.
  uint32_t Decode(std::vector<uint8_t> packed, int32_t size, uint32_t method, bool solid = false,
                  uint32_t entry = 1) {
    source_ = std::make_unique<MemorySource>(std::move(packed));
    sink_ = MemorySink();
    DecoderStart(*d_, source_.get(), size, solid, entry, method);
    return DecodeEntry(*d_, method, &sink_);
  }
  std::string Output() const { return {sink_.data.begin(), sink_.data.end()}; }

  DecoderPtr d_ = NewDecoder();
  std::unique_ptr<MemorySource> source_;
  MemorySink sink_;
};

// Whichever buffer cannot be had, nothing stays taken.
TEST(DecoderAlloc, FailsCleanlyForEachBuffer) {
  for (uint32_t nth = 1; nth <= 3; ++nth) {
    auto d = std::make_unique<Decoder>();
    platform::ArmFault(platform::Fault::kAlloc, nth);
    EXPECT_EQ(DecoderAlloc(*d), kNoMemory) << nth;
    platform::DisarmFaults();
    EXPECT_EQ(d->window, nullptr);
    EXPECT_EQ(d->words, nullptr);
    EXPECT_EQ(d->out, nullptr);
  }
}

// A stored entry passes through in chunks, each reported; an empty one
// reports and writes nothing; a cancel stops before the chunk is written.
TEST_F(DecoderTest, StoredEntriesPassThroughInReportedChunks) {
  std::vector<uint8_t> data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 13);
  ProgressLog log;
  d_->progress.hook = {RecordProgress, reinterpret_cast<ArcContext>(&log)};
  d_->progress.pending_phase = -1;
  ASSERT_EQ(Decode(data, 5000, kMethodStored), kOk);
  EXPECT_EQ(sink_.data, data);
  EXPECT_EQ(sink_.calls, 3);
  EXPECT_EQ(d_->crc, format::Crc32Update(format::kCrcInit, data.data(), data.size()));
  using P = std::pair<int32_t, int32_t>;
  EXPECT_EQ(log.calls, (std::vector<P>{{-1, 0}, {40, 2048}, {81, 2048}, {100, 904}}));

  log.calls.clear();
  for (uint32_t method : {kMethodStored, kMethodLz77}) {
    ASSERT_EQ(Decode({}, 0, method), kOk);
    EXPECT_EQ(d_->crc, format::kCrcInit);
    EXPECT_EQ(sink_.calls, 0);
  }
  EXPECT_TRUE(log.calls.empty());

  log.answer_from_call = 1;
  EXPECT_EQ(Decode(std::vector<uint8_t>(6000, 1), 6000, kMethodStored), kCancelled);
  EXPECT_EQ(sink_.data.size(), 2048u);
  EXPECT_EQ(log.calls.size(), 2u);
}

// A block without matches, coded the way the encoder does it: literal codes
// only, and a length code of two 1-bit symbols.
Block LiteralBlock() {
  std::vector<uint8_t> main(283, 0);
  for (char ch : std::string("abcde")) main[static_cast<uint8_t>(ch)] = 3;
  return Block(main, {1, 1});
}

Block SmallBlock() {
  std::vector<uint8_t> main(263, 0);
  main['d'] = main['e'] = main[262] = 2;
  return Block(main, {1, 1});
}

TEST_F(DecoderTest, ScriptsProduceTheirBytes) {
  std::string alternating;
  for (size_t i = 0; i < 259; ++i) alternating += i % 2 == 0 ? 'a' : 'b';
  // History after four new distances, most recent first: 7 3 5 10.
  // k = 3 brings 10 to the front (10 7 3 5); k = 0 keeps it; k = 3
  // then takes 5 (5 10 7 3); k = 2 takes 7 (7 5 10 3); k = 1 takes 5.
  Script history;
  history.Lit("0123456789");
  for (uint32_t back : {10, 5, 3, 7}) history.New(back, 0);
  for (uint32_t k : {3, 0, 3, 2, 1}) history.Rep(k, 0);
  const std::pair<Script, std::string> cases[] = {
      {Script(LiteralBlock()).Lit("abcdeedcba"), "abcdeedcba"},
      // Distance 3, length 2 + 4: the copy overlaps its own output.
      {Script().Lit("abc").New(3, 4), "abcabcabc"},
      // Before any new distance every history slot holds code 0: one back.
      {Script().Lit("q").Rep(0, 3), "qqqqqq"},
      {history, "0123456789017817908901789090190"},
      // Length code 255 on a short distance: 257 bytes from 2 back.
      {Script().Lit("ab").New(2, 255), alternating},
      // The block count runs out after three symbols; a new header with
      // different codes follows.
      {Script(LiteralBlock()).Lit("abc").NextBlock(SmallBlock()).Lit("de").New(3, 1), "abcdecde"},
  };
  for (const auto& [script, expected] : cases) {
    ASSERT_EQ(Decode(script.Bytes(), static_cast<int32_t>(expected.size()), kMethodLz77), kOk);
    EXPECT_EQ(Output(), expected);
    EXPECT_EQ(d_->crc, format::Crc32Update(format::kCrcInit, expected.data(), expected.size()));
  }
}

// Matches of every shape give what a byte-by-byte forward copy gives: short
// and long, with source and destination apart or overlapping. Base lengths
// depend on the distance code: 2 up to 255, 3 up to 8191, 4 beyond, and the
// extra bits of the larger classes reach back exactly.
TEST_F(DecoderTest, MatchesCopyLikeSingleBytes) {
  std::string expected;
  for (int i = 0; i < 9000; ++i) expected += static_cast<char>('A' + (i * 31 + i / 7) % 26);
  Script s;
  s.Lit(expected);
  for (uint32_t back : {1u, 2u, 3u, 5u, 7u, 8u, 9u, 15u, 16u, 17u, 64u, 255u, 256u, 257u, 300u,
                        8192u, 8193u, 9000u}) {
    const uint32_t base = back - 1 > 8191 ? 4 : back - 1 > 255 ? 3 : 2;
    for (uint32_t len : {3u, 4u, 5u, 7u, 8u, 9u, 15u, 16u, 17u, 40u, 100u, 257u}) {
      if (len < base) continue;
      s.New(back, len - base);
      for (uint32_t i = 0; i < len; ++i) expected += expected[expected.size() - back];
    }
  }
  ASSERT_EQ(Decode(s.Bytes(), static_cast<int32_t>(expected.size()), kMethodLz77), kOk);
  EXPECT_EQ(Output(), expected);
}

// A distance of almost the whole window reads the bytes just ahead of the
// output, the oldest in the window. Copies may work in blocks that run past
// a match's end; those bytes must come out as they were, for blocks of
// every size the copy uses.
TEST_F(DecoderTest, FarMatchReadsTheBytesAheadUntouched) {
  std::vector<uint8_t> window(kWindowSize);
  for (size_t i = 0; i < window.size(); ++i) window[i] = static_cast<uint8_t>(i * 13 + i / 251);
  const std::vector<uint8_t> filler = window;
  const std::string text = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (uint32_t near : {2u, 9u, 20u, 200u}) {
    ASSERT_EQ(Decode(filler, static_cast<int32_t>(kWindowSize), kMethodStored, true, 1), kOk);
    Script s;
    s.Lit(text).New(near, 1).New(kWindowSize - 1, 2).New(kWindowSize, 1).New(kWindowSize - 2, 0);
    // The same steps byte by byte on a copy of the window, which the stored
    // entry left full with its write position back at 0.
    std::vector<uint8_t> w = filler;
    uint32_t pos = 0;
    std::string expected;
    auto put = [&](uint8_t b) {
      w[pos] = b;
      expected += static_cast<char>(b);
      pos = (pos + 1) & kWindowMask;
    };
    for (char c : text) put(static_cast<uint8_t>(c));
    // Base lengths: 2 up to distance code 255, 4 past 8191.
    const std::pair<uint32_t, uint32_t> matches[] = {
        {near, 3}, {kWindowSize - 1, 6}, {kWindowSize, 5}, {kWindowSize - 2, 4}};
    for (const auto& [back, len] : matches) {
      for (uint32_t i = 0; i < len; ++i) put(w[(pos - back) & kWindowMask]);
    }
    ASSERT_EQ(Decode(s.Bytes(), static_cast<int32_t>(expected.size()), kMethodLz77, true, 2), kOk)
        << near;
    EXPECT_EQ(Output(), expected) << near;
  }
}

TEST_F(DecoderTest, ChunkEndsAfterTheSymbolThatReachesItsLimit) {
  Script s;
  s.Byte('z', 1788).New(1, 255).Byte('y', 3000);
  const std::vector<uint8_t> packed = s.Bytes();
  MemorySource src(packed);
  DecoderStart(*d_, &src, 1788 + 257 + 3000, false, 1, kMethodLz77);
  std::vector<uint8_t> buf(kChunkSize);
  EXPECT_EQ(DecodeChunk(*d_, buf.data(), kChunkSize, kMethodLz77), 1788u + 257u);
  EXPECT_EQ(DecodeChunk(*d_, buf.data(), kChunkSize, kMethodLz77), 2048u - kMaxMatch);
  EXPECT_EQ(d_->status, kOk);
}

// The second entry refers back into the first. Only a solid continuation
// keeps the window; the distance history starts over either way, so the
// leading repeat reaches one byte back rather than the first entry's 6.
TEST_F(DecoderTest, SecondEntrySeesTheFirstOnlyWhenSolid) {
  const std::tuple<bool, uint32_t, std::string> cases[] = {
      {true, 2, "oollo w"}, {false, 2, std::string(7, '\0')}, {true, 1, std::string(7, '\0')}};
  for (const auto& [solid, entry, expected] : cases) {
    ASSERT_EQ(Decode(Script().Lit("hello world").New(6, 1).Bytes(), 14, kMethodLz77, solid, 1),
              kOk);
    ASSERT_EQ(Output(), "hello world wo");
    ASSERT_EQ(Decode(Script().Rep(0, 0).New(14, 3).Bytes(), 7, kMethodLz77, solid, entry), kOk);
    EXPECT_EQ(Output(), expected) << solid << entry;
  }
}

// Entries that straddle the end of the circular window: the output wraps and
// a match whose source sits before the end lands after it. The CRC is taken
// from the window, in spans across the wrap, whether or not a sink takes
// the chunks.
TEST_F(DecoderTest, WindowWrapsAcrossEntries) {
  const int32_t first = static_cast<int32_t>(kWindowSize) - 5;
  std::vector<uint8_t> filler(static_cast<size_t>(first));
  for (size_t i = 0; i < filler.size(); ++i) filler[i] = static_cast<uint8_t>(i * 7 + i / 509);
  Script s;
  s.Lit("0123456789").New(10, 8).New(3, 2);
  const std::string expected = "012345678901234567897897";
  ASSERT_EQ(Decode(filler, first, kMethodStored, true, 1), kOk);
  ASSERT_EQ(Decode(s.Bytes(), 24, kMethodLz77, true, 2), kOk);
  EXPECT_EQ(Output(), expected);
  for (const bool write : {false, true}) {
    for (const uint32_t method : {kMethodStored, kMethodLz77}) {
      const std::vector<uint8_t> second = method == kMethodStored ? Bytes(expected) : s.Bytes();
      MemorySource a(filler);
      DecoderStart(*d_, &a, first, true, 1, kMethodStored);
      ASSERT_EQ(DecodeEntry(*d_, kMethodStored, write ? &sink_ : nullptr), kOk);
      EXPECT_EQ(d_->crc, format::Crc32Update(format::kCrcInit, filler.data(), filler.size()));
      MemorySource b(second);
      DecoderStart(*d_, &b, 24, true, 2, method);
      ASSERT_EQ(DecodeEntry(*d_, method, write ? &sink_ : nullptr), kOk);
      EXPECT_EQ(d_->crc, format::Crc32Update(format::kCrcInit, expected.data(), expected.size()))
          << write << method;
    }
  }
}

// A sink that comes up short fails the entry; without a sink the entry is
// only checked, its CRC kept all the same.
TEST_F(DecoderTest, ShortWriteFailsAndNoSinkKeepsTheCrc) {
  const std::vector<uint8_t> data = Bytes("decode only");
  MemorySource src(data);
  DecoderStart(*d_, &src, 11, false, 1, kMethodStored);
  ASSERT_EQ(DecodeEntry(*d_, kMethodStored, nullptr), kOk);
  EXPECT_EQ(d_->crc, format::Crc32Update(format::kCrcInit, data.data(), data.size()));
  MemorySource more(std::vector<uint8_t>(3000, 9));
  sink_.limit = 100;
  DecoderStart(*d_, &more, 3000, false, 1, kMethodStored);
  EXPECT_EQ(DecodeEntry(*d_, kMethodStored, &sink_), kShortWrite);
}

// A main set whose only code is 1 + 15 bits long: more than the table's 11.
std::vector<uint8_t> OversizedCodeSet() {
  BitWriter w;
  w.Put(9, 0);
  w.Put(4, 15);
  w.Put(4, 12);
  for (int i = 0; i <= 12; ++i) w.Put(3, 4);
  Code(std::vector<uint8_t>(13, 4)).Put(w, 1);
  return w.Finish();
}

TEST_F(DecoderTest, DamagedEntriesEndWithAStatus) {
  std::vector<uint8_t> cut = Script().Byte('k', 3000).Bytes();
  cut.resize(1000);
  const std::tuple<std::vector<uint8_t>, int32_t, uint32_t, uint32_t> cases[] = {
      {Bytes("abc"), 3, 2, kUnsupported},
      {OversizedCodeSet(), 10, kMethodLz77, kCorrupt},
      {Bytes("abc"), 4, kMethodStored, kCrcMismatch},  // the source ends early
      // "abc" then a 6-byte match: nine bytes where five were declared.
      {Script().Lit("abc").New(3, 4).Bytes(), 5, kMethodLz77, kCrcMismatch},
      {cut, 3000, kMethodLz77, kCrcMismatch},
  };
  for (const auto& [packed, size, method, status] : cases) {
    EXPECT_EQ(Decode(packed, size, method), status) << status;
  }
}

// Whatever the bytes, an entry ends: with a status, or with nothing left.
TEST_F(DecoderTest, ArbitraryBytesAlwaysEnd) {
  std::mt19937 rng(11);
  for (int round = 0; round < 400; ++round) {
    std::vector<uint8_t> packed(rng() % 3000);
    for (uint8_t& b : packed) b = static_cast<uint8_t>(rng() % (round % 2 == 0 ? 256 : 3));
    const int32_t size = static_cast<int32_t>(rng() % 200000);
    const uint32_t method = rng() % 3;
    const uint32_t st = Decode(packed, size, method, rng() % 2 == 0, 1 + rng() % 3);
    ASSERT_TRUE(st != kOk || d_->remaining == 0) << round;
  }
}

// The symbol stage and the window stage apart give what the fused loop
// gives, chunk by chunk: the byte counts, the bytes, the statuses and the
// CRC, then the same window. Entries continue a solid window whose write
// position is far from its end, just before it (so that the entry wraps)
// and at some distance from it; their matches take every kind of copy
// (overlapping by 1, by 2..7, by 8..15, far, across the wrap, from the
// oldest bytes just ahead of the output), and damaged and arbitrary bytes
// fail at the same chunk with the same status.
TEST(DecoderTokens, StagesApartGiveTheFusedChunks) {
  std::mt19937 rng(5);
  auto random_script = [&rng](size_t ops) {
    Script s;
    constexpr uint32_t kW = kWindowSize;
    const uint32_t backs[] = {1,  2,  3,   5,    7,     8,      12,      15,
                              16, 17, 100, 5000, 70000, kW - 3, kW - 40, kW};
    for (size_t i = 0; i < ops; ++i) {
      switch (rng() % 4) {
        case 0:
          s.Byte(static_cast<uint8_t>(rng()), 1 + rng() % 40);
          break;
        case 1:
          s.Rep(rng() % 4, rng() % 256);
          break;
        default:
          s.New(backs[rng() % std::size(backs)], rng() % 256);
      }
      if (rng() % 300 == 0) s.NextBlock(Block());
    }
    return s;
  };
  std::vector<uint8_t> filler(kWindowSize);
  for (size_t i = 0; i < filler.size(); ++i) filler[i] = static_cast<uint8_t>(i * 13 + i / 251);

  const DecoderPtr decoders[] = {NewDecoder(), NewDecoder(), NewDecoder()};
  ASSERT_TRUE(decoders[0] && decoders[1] && decoders[2]);
  Decoder& fused = *decoders[0];
  Decoder& symbols = *decoders[1];
  Decoder& window = *decoders[2];
  std::vector<uint32_t> tokens(kTokenChunkWords + kTokenSlackWords);
  std::vector<uint8_t> a(kChunkSize);
  std::vector<uint8_t> b(kChunkSize);
  for (int round = 0; round < 24; ++round) {
    SCOPED_TRACE(round);
    const uint32_t before[] = {1000, kWindowSize - 5, kWindowSize - 3000};
    const auto first = static_cast<int32_t>(before[round % 3]);
    std::vector<uint8_t> packed;
    int32_t size = 0;
    if (round < 15) {
      // What the script makes is the most it may declare: cut short, the
      // entry ends in a match that overshoots.
      Script s = random_script(2000 + rng() % 3000);
      packed = s.Bytes();
      MemorySource probe(packed);
      DecoderStart(symbols, &probe, INT32_MAX, false, 1, kMethodLz77);
      uint32_t made = 0;
      for (uint32_t n; (n = DecodeChunk(symbols, nullptr, kChunkSize, kMethodLz77)) != 0;) {
        made += n;
        if (symbols.status != kOk) break;
      }
      size = static_cast<int32_t>(made - (round % 5 == 4 ? rng() % 100 : 0));
      if (round % 6 == 5) packed[rng() % packed.size()] ^= static_cast<uint8_t>(1 << (rng() % 8));
      if (round % 7 == 6) packed.resize(packed.size() * 2 / 3);
    } else {
      packed.resize(rng() % 9000);
      for (uint8_t& byte : packed) byte = static_cast<uint8_t>(rng() % (round % 2 == 0 ? 256 : 3));
      size = static_cast<int32_t>(rng() % 200000);
    }
    for (Decoder* d : {&fused, &window}) {
      MemorySource src(filler);
      DecoderStart(*d, &src, first, true, 1, kMethodStored);
      ASSERT_EQ(DecodeEntry(*d, kMethodStored, nullptr), kOk);
    }
    // A damaged round leaves bytes of its failing chunk in one window only.
    std::memcpy(window.window, fused.window, kWindowSize);
    MemorySource src_a(packed);
    MemorySource src_b(packed);
    DecoderStart(fused, &src_a, size, true, 2, kMethodLz77);
    DecoderStart(symbols, &src_b, size, false, 1, kMethodLz77);
    DecoderStart(window, nullptr, size, true, 2, kMethodStored);
    uint32_t chunks = 0;
    while (fused.remaining > 0 && fused.status == kOk) {
      const uint32_t n = DecodeChunk(fused, a.data(), kChunkSize, kMethodLz77);
      uint32_t words = 0;
      ASSERT_EQ(DecodeTokens(symbols, tokens.data(), &words), n) << chunks;
      ASSERT_EQ(symbols.status, fused.status) << chunks;
      ASSERT_LE(words, kTokenChunkWords);
      if (fused.status != kOk || n == 0) break;
      ApplyTokens(window, tokens.data(), words, n, b.data());
      ASSERT_TRUE(std::equal(a.begin(), a.begin() + n, b.begin())) << chunks;
      ASSERT_EQ(window.crc, fused.crc) << chunks;
      ++chunks;
    }
    if (fused.status == kOk && fused.remaining == 0) {
      EXPECT_EQ(window.remaining, 0);
      EXPECT_EQ(window.pos, fused.pos);
      EXPECT_EQ(std::memcmp(window.window, fused.window, kWindowSize), 0);
    }
  }
}

}  // namespace
}  // namespace acekit::decompress::test
