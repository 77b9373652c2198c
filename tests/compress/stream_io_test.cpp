// Bit packing, buffer flushes and the reports they carry; reading and
// failures are checked through the compressor.
#include "compress/stream_io.h"

#include <gtest/gtest.h>

#include <utility>

#include "support.h"

namespace acekit::compress_test {
namespace {

struct Writer {
  compress::StreamIo io;
  MemorySink sink;
  explicit Writer(int32_t input_size = 1 << 30) {
    EXPECT_TRUE(io.AllocBuffer());
    io.Bind(nullptr, &sink);
    io.ResetCompressState();
    io.totals().input_size = input_size;
  }
  void Words(uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) io.PutBits(32, i);
  }
};

TEST(BitWriter, FieldsFillWordsFromTheTop) {
  const std::pair<std::vector<std::pair<uint32_t, uint32_t>>, Bytes> cases[] = {
      {{{5, 0x16}}, {0, 0, 0, 0xB0}},
      {{}, {0, 0, 0, 0}},  // an empty stream is one zero word
      {{{32, 0x12345678}}, {0x78, 0x56, 0x34, 0x12}},
      {{{30, 0}, {4, 0xB}}, {0x02, 0, 0, 0, 0, 0, 0, 0xC0}},  // straddles two words
      {{{32, 0xFFFFFFFF}, {1, 1}}, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x80}},
  };
  for (const auto& [fields, expected] : cases) {
    Writer w;
    for (const auto& [n, v] : fields) w.io.PutBits(n, v);
    w.io.FinishBits();
    EXPECT_EQ(w.sink.data, expected);
  }
}

TEST(BitWriter, FlushesAndTheExceededFlag) {
  // {input size, words}: 4097 words fill the buffer and wait in the
  // accumulator; the finish flushes the full buffer before the last word.
  const std::pair<int32_t, uint32_t> cases[] = {{4, 1}, {3, 1}, {16384, 4097}, {16388, 4097}};
  for (const auto& [input_size, words] : cases) {
    Writer w(input_size);
    w.Words(words);
    EXPECT_EQ(w.sink.calls, 0);
    EXPECT_FALSE(w.io.totals().exceeded);
    w.io.FinishBits();
    EXPECT_EQ(w.sink.calls, words > 4096 ? 2 : 1);
    EXPECT_EQ(w.io.totals().bytes_out, static_cast<int32_t>(4 * words));
    EXPECT_EQ(w.io.totals().exceeded, 4 * static_cast<int32_t>(words) > input_size);
  }
}

using Seen = std::vector<std::pair<int32_t, int32_t>>;
int32_t Record(ArcContext ctx, int32_t percent, int32_t bytes) {
  reinterpret_cast<Seen*>(ctx)->emplace_back(percent, bytes);
  return 1;
}

// The percentages themselves are the shared progress code's; a flush
// passes the phase, then the coded bytes against the input size.
TEST(Progress, EveryFlushReports) {
  Seen seen;
  Writer w(200);
  w.io.progress().hook = ProgressHook{&Record, reinterpret_cast<ArcContext>(&seen)};
  w.io.progress().pending_phase = -2;
  w.io.coded = 50;
  w.io.PutWord(1);
  w.io.FlushOutput(0, 0);
  EXPECT_EQ(seen, (Seen{{-2, 0}, {25, 50}}));
}

}  // namespace
}  // namespace acekit::compress_test
