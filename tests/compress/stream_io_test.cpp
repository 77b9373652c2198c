// The bit writer, the output buffer and its flushes, source reads and the
// progress reports they trigger.
#include "compress/stream_io.h"

#include <gtest/gtest.h>

#include <utility>

#include "format/crc32.h"
#include "support.h"

namespace acekit::compress_test {
namespace {

using compress::StreamIo;

struct Writer {
  StreamIo io;
  MemSink sink;
  Writer() {
    EXPECT_TRUE(io.AllocBuffer());
    io.Bind(nullptr, &sink);
    io.ResetCompressState();
    io.totals().input_size = 1 << 30;
  }
};

TEST(BitWriter, FieldsFillWordsFromTheTop) {
  struct Case {
    const char* name;
    std::vector<std::pair<uint32_t, uint32_t>> fields;  // (bits, value)
    Bytes expected;
  };
  const Case cases[] = {
      {"five bits, padded", {{5, 0x16}}, {0x00, 0x00, 0x00, 0xB0}},
      {"nothing written still ends with a word", {}, {0, 0, 0, 0}},
      {"a whole word into an empty accumulator", {{32, 0x12345678}}, {0x78, 0x56, 0x34, 0x12}},
      // High part at the bottom of the first word, low part at the top of
      // the next.
      {"straddling field", {{30, 0}, {4, 0xB}}, {0x02, 0, 0, 0, 0, 0, 0, 0xC0}},
      {"a full word waits for the next field",
       {{32, 0xFFFFFFFF}, {1, 1}},
       {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x80}},
      {"exactly one word needs no padding word",
       {{16, 0xABCD}, {16, 0x1234}},
       {0x34, 0x12, 0xCD, 0xAB}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Writer w;
    for (const auto& [n, v] : c.fields) w.io.PutBits(n, v);
    w.io.FinishBits();
    EXPECT_EQ(w.sink.out, c.expected);
    EXPECT_EQ(w.io.bit_count(), 0u);
    EXPECT_EQ(w.io.totals().bytes_out, static_cast<int32_t>(c.expected.size()));
  }
}

TEST(BitWriter, FullBufferIsFlushedBeforeTheLastWord) {
  Writer w;
  // 4096 words fill the buffer; the 4097th waits in the accumulator.
  for (uint32_t i = 0; i <= 4096; ++i) w.io.PutBits(32, i);
  EXPECT_EQ(w.sink.writes, 0);
  EXPECT_EQ(w.io.fill(), compress::kOutputBufferBytes);
  w.io.FinishBits();
  ASSERT_EQ(w.sink.writes, 2);
  ASSERT_EQ(w.sink.out.size(), compress::kOutputBufferBytes + 4);
  EXPECT_EQ(w.sink.out[compress::kOutputBufferBytes], 0x00);
  EXPECT_EQ(w.sink.out[compress::kOutputBufferBytes + 1], 0x10);  // 4096 little-endian
}

TEST(BitWriter, OutputExceedsInputOnlyAtFlushes) {
  struct Case {
    int32_t input_size;
    uint32_t words;
    bool exceeded;
  };
  const Case cases[] = {{4, 1, false}, {3, 1, true}, {16384, 4097, true}, {16388, 4097, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.input_size << " " << c.words);
    Writer w;
    w.io.totals().input_size = c.input_size;
    for (uint32_t i = 0; i < c.words; ++i) w.io.PutBits(32, i);
    EXPECT_FALSE(w.io.totals().exceeded);  // nothing flushed yet
    w.io.FinishBits();
    EXPECT_EQ(w.io.totals().exceeded, c.exceeded);
  }
}

TEST(BitWriter, ShortWriteStopsAllLaterOutput) {
  Writer w;
  w.sink.room = 100;
  for (uint32_t i = 0; i < 3 * 4096; ++i) w.io.PutBits(32, i);
  w.io.FinishBits();
  EXPECT_EQ(w.io.status(), kShortWrite);
  EXPECT_EQ(w.sink.writes, 1);
  EXPECT_EQ(w.io.totals().bytes_out, 100);
  EXPECT_EQ(w.io.fill(), compress::kOutputBufferBytes);  // never written past
}

TEST(StreamInput, ReadsKeepCrcAndCount) {
  const Bytes data = Generate(Kind::kText, 5000, 3);
  for (const uint32_t chunk : {1u, 7u, 4096u, 0xFFFFFFFFu}) {
    StreamIo io;
    MemSource source(data, chunk);
    io.Bind(&source, nullptr);
    io.totals().crc = kCrcInit;
    Bytes buf(6000);
    EXPECT_EQ(io.ReadInput(buf.data(), 3000), 3000u);
    EXPECT_EQ(io.ReadInput(buf.data() + 3000, 3000), 2000u);
    EXPECT_EQ(io.ReadInput(buf.data() + 5000, 1000), 0u);
    EXPECT_EQ(io.totals().crc, Crc(data));
    EXPECT_EQ(io.totals().bytes_in, 5000);
    EXPECT_EQ(io.status(), kOk);
  }
}

TEST(StreamInput, ReadErrorLooksLikeTheEnd) {
  const Bytes data(100, 1);
  StreamIo io;
  MemSource source(data);
  source.fail_ = true;
  io.Bind(&source, nullptr);
  uint8_t buf[100];
  EXPECT_EQ(io.ReadInput(buf, 100), 0u);
  EXPECT_EQ(io.status(), kOpenFailed);
  EXPECT_EQ(io.totals().bytes_in, 0);
}

struct Calls {
  std::vector<std::pair<int32_t, int32_t>> seen;
  int32_t answer = 1;
};

int32_t Record(ArcContext ctx, int32_t percent, int32_t bytes) {
  auto* calls = reinterpret_cast<Calls*>(ctx);
  calls->seen.emplace_back(percent, bytes);
  return calls->answer;
}

TEST(Progress, FlushesReportPhaseShareAndDelta) {
  Calls calls;
  Writer w;
  w.io.progress().hook = ProgressHook{&Record, reinterpret_cast<ArcContext>(&calls)};
  w.io.progress().pending_phase = -2;
  w.io.totals().input_size = 200;
  w.io.coded = 50;
  w.io.PutWord(1);
  w.io.FlushOutput(0, 0);
  w.io.coded = 150;
  w.io.PutWord(1);
  w.io.FlushOutput(0, 0);
  const std::vector<std::pair<int32_t, int32_t>> expected{{-2, 0}, {25, 50}, {75, 100}};
  EXPECT_EQ(calls.seen, expected);
}

TEST(Progress, LargeCountsAreHalvedTogether) {
  struct Case {
    int32_t coded, size, percent;
  };
  // Halving keeps the product in range and rounds like the format always has:
  // 41943041 of 41943043 reports 100, not 99.
  const Case cases[] = {{20971519, 41943038, 50},
                        {41943041, 41943043, 100},
                        {30000000, 40000000, 75},
                        {2147483647, 2147483647, 100}};
  for (const Case& c : cases) {
    Calls calls;
    Writer w;
    w.io.progress().hook = ProgressHook{&Record, reinterpret_cast<ArcContext>(&calls)};
    w.io.totals().input_size = c.size;
    w.io.coded = c.coded;
    w.io.PutWord(1);
    w.io.FlushOutput(0, 0);
    ASSERT_EQ(calls.seen.size(), 1u);
    EXPECT_EQ(calls.seen[0].first, c.percent) << c.coded << " of " << c.size;
    EXPECT_EQ(calls.seen[0].second, c.coded);
  }
}

TEST(Progress, CancelTurnsLaterFlushesIntoNoOps) {
  Calls calls;
  calls.answer = 0;
  Writer w;
  w.io.progress().hook = ProgressHook{&Record, reinterpret_cast<ArcContext>(&calls)};
  w.io.PutWord(1);
  w.io.FlushOutput(0, 0);
  EXPECT_EQ(w.io.status(), kCancelled);
  EXPECT_TRUE(w.io.cut_lookahead);
  EXPECT_EQ(w.sink.writes, 1);  // the cancelling flush itself went out
  w.io.PutBits(32, 2);
  w.io.FinishBits();
  EXPECT_EQ(w.sink.writes, 1);
  EXPECT_EQ(calls.seen.size(), 1u);
}

}  // namespace
}  // namespace acekit::compress_test
