// The calling thread of a decode pool does not sleep on a job that no worker
// has taken: with the only worker held up by a streamed job that waits for
// its packed data, a job queued behind it is decoded by the calling thread,
// with the results a worker gives.
#include "decompress/decode_pool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/crc32.h"

namespace acekit::decompress {
namespace {

TEST(DecodePoolTest, CallingThreadRunsAJobTheWorkersHaveNotTaken) {
  DecodePool pool;
  ASSERT_EQ(pool.Start(1), 1);

  // A streamed job that the worker takes and then waits in for its first
  // fetch, which never comes.
  std::vector<uint8_t> block(platform::kFileBufferBytes);
  std::vector<uint8_t> slots(size_t{kStreamSlots} * kChunkSize);
  std::vector<uint16_t> sizes(kStreamSlots);
  StreamState s;
  s.expect = 100000;
  s.fetch_blocks = 1;
  s.blocks[0] = block.data();
  s.slots = slots.data();
  s.slot_sizes = sizes.data();
  DecodeJob held;
  held.stream = &s;
  held.size = 100000;
  held.method = kMethodStored;
  pool.Submit(&held);
  uint32_t first = 0;
  uint32_t count = 0;
  ASSERT_GT(pool.Next(&held, &first, &count), 0u) << "the worker asks for a fetch";

  // Stored data, so the job's result is known: its bytes, their chunks and
  // their checksum.
  std::string data(5000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 300);
  std::vector<uint8_t> out(data.size());
  std::vector<uint16_t> chunks(ChunkCapacity(static_cast<int32_t>(data.size())));
  DecodeJob job;
  job.packed = reinterpret_cast<const uint8_t*>(data.data());
  job.packed_size = static_cast<uint32_t>(data.size());
  job.size = static_cast<int32_t>(data.size());
  job.method = kMethodStored;
  job.out = out.data();
  job.chunks = chunks.data();
  job.chunk_capacity = static_cast<uint32_t>(chunks.size());
  pool.Submit(&job);
  DecoderPtr helper = NewDecoder();
  ASSERT_TRUE(helper);
  pool.WaitOrRun(&job, *helper);

  EXPECT_TRUE(job.exact);
  EXPECT_EQ(std::string(out.begin(), out.end()), data);
  EXPECT_EQ(job.crc, format::Crc32Update(format::kCrcInit, data.data(), data.size()));
  uint32_t total = 0;
  for (uint32_t i = 0; i < job.chunk_count; ++i) total += chunks[i];
  EXPECT_EQ(total, data.size());
  EXPECT_EQ(job.chunk_count, 3u);  // 2048, 2048 and the rest, as the serial path

  pool.Drop(&held);
  pool.Wait(&held);
  EXPECT_FALSE(held.exact);
  pool.Stop();
}

}  // namespace
}  // namespace acekit::decompress
