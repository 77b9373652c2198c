#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/stream.h"
#include "test_dir.h"

namespace acekit::platform {
namespace {

using BufferedStreamTest = testing::TempDirTest;

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 131 + i / 977);
  return s;
}

// A buffered reader gives what unbuffered reads from the same position give,
// counts included, whatever the request sizes, the buffer and the expected
// length, so a short count still marks the end of the file for its caller.
TEST_F(BufferedStreamTest, ReadsGiveTheBytesAndCountsOfUnbufferedReads) {
  const std::string data = Pattern(10000);
  MakeFile("f", data);
  struct Case {
    uint32_t capacity;
    uint32_t expect;
    uint32_t start;
    std::vector<uint32_t> requests;
  };
  const Case cases[] = {
      {4096, 0, 0, {100, 5000, 4096, 4096, 10, 10}},
      {4096, 9000, 17, {4096, 4088, 4088, 4088}},
      {1000, 100000, 9990, {4, 4, 4, 4}},
      {64, 3, 5, {1, 63, 64, 65, 9000, 2000, 1}},
      {8192, 2000, 0, {0, 2048, 2048, 2048, 2048, 2048, 2048}},
  };
  for (const Case& c : cases) {
    const Handle raw = Open(Path("f").c_str(), 'r');
    const Handle buffered = Open(Path("f").c_str(), 'r');
    ASSERT_NE(Seek(raw, static_cast<int32_t>(c.start), 0), -1);
    ASSERT_NE(Seek(buffered, static_cast<int32_t>(c.start), 0), -1);
    std::vector<uint8_t> buffer(c.capacity);
    BufferedFileSource source(buffered, buffer.data(), c.capacity);
    source.Reset(c.expect);
    for (size_t i = 0; i < c.requests.size(); ++i) {
      std::string want(c.requests[i], '\0'), got(c.requests[i], '\0');
      const int32_t n_want = Read(want.data(), c.requests[i], raw);
      const int32_t n_got = source.Read(got.data(), c.requests[i]);
      ASSERT_EQ(n_got, n_want) << "capacity " << c.capacity << ", request " << i;
      EXPECT_EQ(got.substr(0, n_got > 0 ? n_got : 0), want.substr(0, n_want > 0 ? n_want : 0));
    }
    Close(raw);
    Close(buffered);
  }
}

// Writes reach the file in whole buffers; a short write of the file is
// reported by the call that makes it (fewer bytes accepted, or Flush false)
// and by every call after it, at every point where it can happen.
TEST_F(BufferedStreamTest, WritesAreCollectedAndAShortWriteIsReported) {
  const std::string data = Pattern(5000);
  for (uint32_t nth = 0; nth <= 3; ++nth) {
    const Handle h = Open(Path("w").c_str(), 'w');
    ASSERT_NE(h, kBadHandle);
    std::vector<uint8_t> buffer(2048);
    BufferedFileSink sink(h, buffer.data(), 2048);
    DisarmFaults();
    if (nth != 0) ArmFault(Fault::kWrite, nth);
    bool failed = false;
    for (size_t at = 0; at < data.size(); at += 700) {
      const uint32_t n = static_cast<uint32_t>(std::min<size_t>(700, data.size() - at));
      const int32_t put = sink.Write(data.data() + at, n);
      if (failed) {
        EXPECT_EQ(put, -1);
      }
      failed |= put != static_cast<int32_t>(n);
    }
    const bool flushed = sink.Flush();
    failed |= !flushed;
    const uint32_t calls = FaultCalls(Fault::kWrite);
    DisarmFaults();
    Close(h);
    EXPECT_EQ(calls, nth == 0 ? 3u : nth) << "one file write per full buffer";
    EXPECT_EQ(failed, nth != 0) << nth;
    if (nth == 0) {
      EXPECT_EQ(ReadAll("w"), data);
    }
  }
}

}  // namespace
}  // namespace acekit::platform
