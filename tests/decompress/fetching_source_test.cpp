// A source fed by fetches gives its reader what the buffered file reader
// gives over the same file, and makes the same file reads: with one of them
// failing at each point in turn, the bytes, the counts and the number of
// reads stay the same.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decompress/decode_pool.h"
#include "platform/platform.h"
#include "platform/stream.h"
#include "platform/test_dir.h"

namespace acekit::decompress {
namespace {

using platform::Fault;

class FileFetcher final : public FetchingSource {
 public:
  explicit FileFetcher(platform::Handle h) : h_(h), buf_(platform::kFileBufferBytes) {}

 private:
  int32_t Fetch(uint32_t, uint32_t size, const uint8_t** data) override {
    *data = buf_.data();
    return platform::Read(buf_.data(), size, h_);
  }

  platform::Handle h_;
  std::vector<uint8_t> buf_;
};

// The counts and bytes of a series of requests, and the file reads made.
struct Trace {
  std::vector<int32_t> counts;
  std::string bytes;
  uint32_t reads = 0;
  bool operator==(const Trace&) const = default;
};

using FetchingSourceTest = platform::testing::TempDirTest;

TEST_F(FetchingSourceTest, GivesWhatTheBufferedReaderGives) {
  std::string data(700000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + i / 977);
  MakeFile("f", data);
  struct Case {
    uint32_t expect;
    uint32_t start;
    std::vector<uint32_t> requests;  // repeated until the file is read through
  };
  // A compressed entry's word buffer (with and without room to spare), a
  // stored entry's chunks, and an expectation the file cannot meet.
  const Case cases[] = {{300000 + 4096, 0, {4096, 4088}},
                        {5000, 123, {4096, 4088}},
                        {400000, 1000, {2048}},
                        {2000000, 650000, {4096, 4088}}};
  for (const Case& c : cases) {
    const auto run = [&](bool fetching, uint32_t fail_at) {
      const platform::Handle h = platform::Open(Path("f").c_str(), 'r');
      EXPECT_NE(platform::Seek(h, static_cast<int32_t>(c.start), 0), -1);
      std::vector<uint8_t> buffer(platform::kFileBufferBytes);
      platform::BufferedFileSource buffered(h, buffer.data(), platform::kFileBufferBytes);
      FileFetcher fetcher(h);
      platform::ByteSource* source = &buffered;
      if (fetching) {
        fetcher.Reset(c.expect);
        source = &fetcher;
      } else {
        buffered.Reset(c.expect);
      }
      platform::DisarmFaults();
      if (fail_at != 0) platform::ArmFault(Fault::kRead, fail_at);
      Trace t;
      // Past the end of the file, two more requests: each asks the file again.
      for (size_t i = 0, empty = 0; empty < 2 && i < 2000; ++i) {
        const uint32_t n = i == 0 ? c.requests[0] : c.requests.back();
        std::string got(n, '\0');
        const int32_t count = source->Read(got.data(), n);
        t.counts.push_back(count);
        if (count > 0) t.bytes += got.substr(0, static_cast<size_t>(count));
        if (count <= 0) ++empty;
      }
      t.reads = platform::FaultCalls(Fault::kRead);
      platform::DisarmFaults();
      platform::Close(h);
      return t;
    };
    const Trace clean = run(false, 0);
    ASSERT_GT(clean.reads, 1u);
    for (uint32_t fail_at = 0; fail_at <= clean.reads; ++fail_at) {
      SCOPED_TRACE(::testing::Message() << "start " << c.start << ", read " << fail_at << " fails");
      EXPECT_TRUE(run(true, fail_at) == run(false, fail_at));
    }
  }
}

}  // namespace
}  // namespace acekit::decompress
