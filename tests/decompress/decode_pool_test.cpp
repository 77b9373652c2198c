// The calling thread of a decode pool does not sleep on a job that no worker
// has taken: with the only worker held up by a streamed job that waits for
// its packed data, a job queued behind it is decoded by the calling thread,
// with the results a worker gives. The same holds for the members of a group
// of small jobs, also when the group's first job is dropped before any thread
// has taken it. A job run on the caller's decoder that fails leaves that
// decoder as it was.
#include "decompress/decode_pool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "format/crc32.h"

namespace acekit::decompress {
namespace {

// Stored data, so a job's result is known: its bytes, their chunks and their
// checksum.
struct StoredJob {
  explicit StoredJob(size_t size, int seed) : data(size, '\0'), out(size) {
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 7 + i / 300 + seed);
    chunks.resize(ChunkCapacity(static_cast<int32_t>(size)));
    job.packed = reinterpret_cast<const uint8_t*>(data.data());
    job.packed_size = static_cast<uint32_t>(size);
    job.size = static_cast<int32_t>(size);
    job.load = static_cast<uint32_t>(size);
    job.method = kMethodStored;
    job.out = out.data();
    job.chunks = chunks.data();
    job.chunk_capacity = static_cast<uint32_t>(chunks.size());
  }
  void ExpectExact() const {
    EXPECT_TRUE(job.exact);
    EXPECT_EQ(std::string(out.begin(), out.end()), data);
    // A whole job's caller takes the CRC from the bytes.
    if (job.whole == nullptr) {
      EXPECT_EQ(job.crc, format::Crc32Update(format::kCrcInit, data.data(), data.size()));
    }
    uint32_t total = 0;
    for (uint32_t i = 0; i < job.chunk_count; ++i) total += chunks[i];
    EXPECT_EQ(total, data.size());
  }
  std::string data;
  std::vector<uint8_t> out;
  std::vector<uint16_t> chunks;
  DecodeJob job;
};

// A streamed job that the only worker takes and then waits in for its first
// fetch, which never comes.
struct Held {
  bool Take(DecodePool& pool) {
    s.expect = 100000;
    s.fetch_blocks = 1;
    s.blocks[0] = block.data();
    s.slots = slots.data();
    s.slot_sizes = sizes.data();
    job.stream = &s;
    job.size = 100000;
    job.method = kMethodStored;
    pool.Submit(&job);
    uint32_t first = 0;
    uint32_t count = 0;
    return pool.Next(&job, &first, &count) > 0;
  }
  std::vector<uint8_t> block = std::vector<uint8_t>(platform::kFileBufferBytes);
  std::vector<uint8_t> slots = std::vector<uint8_t>(size_t{kStreamSlots} * kChunkSize);
  std::vector<uint16_t> sizes = std::vector<uint16_t>(kStreamSlots);
  StreamState s;
  DecodeJob job;
};

TEST(DecodePoolTest, GroupMembersFinishAfterTheirFirstIsDropped) {
  DecodePool pool;
  ASSERT_EQ(pool.Start(1), 1);
  Held held;
  ASSERT_TRUE(held.Take(pool)) << "the worker asks for a fetch";

  StoredJob a(3000, 1), b(5000, 2), c(100, 3);
  a.job.group = &b.job;
  b.job.group = &c.job;
  a.job.load = 8100;
  pool.Submit(&a.job);
  pool.Drop(&a.job);
  pool.Wait(&a.job);
  EXPECT_FALSE(a.job.exact);
  DecoderPtr helper = NewDecoder();
  ASSERT_TRUE(helper);
  pool.WaitOrRun(&b.job, *helper);
  pool.WaitOrRun(&c.job, *helper);
  b.ExpectExact();
  c.ExpectExact();

  pool.Drop(&held.job);
  pool.Wait(&held.job);
  pool.Stop();
}

TEST(DecodePoolTest, CallingThreadRunsAJobTheWorkersHaveNotTaken) {
  DecodePool pool;
  ASSERT_EQ(pool.Start(1), 1);
  Held held;
  ASSERT_TRUE(held.Take(pool)) << "the worker asks for a fetch";

  StoredJob stored(5000, 0);
  pool.Submit(&stored.job);
  DecoderPtr helper = NewDecoder();
  ASSERT_TRUE(helper);
  pool.WaitOrRun(&stored.job, *helper);
  stored.ExpectExact();
  EXPECT_EQ(stored.job.chunk_count, 3u);  // 2048, 2048 and the rest, as the serial path

  pool.Drop(&held.job);
  pool.Wait(&held.job);
  EXPECT_FALSE(held.job.exact);
  pool.Stop();
}

// Jobs on the caller's decoder: one that continues the window, one whose
// data runs short, which must leave the window (across its wrap), the word
// buffer and the position as they were, and one after it, which must not
// touch the decoder at all.
TEST(DecodePoolTest, FailedWholeJobLeavesTheDecoderAsItWas) {
  DecodePool pool;
  ASSERT_EQ(pool.Start(1, false), 1);
  DecoderPtr d = NewDecoder();
  ASSERT_TRUE(d);
  for (uint32_t i = 0; i < kWindowSize; ++i) d->window[i] = static_cast<uint8_t>(i * 13 + i / 251);
  for (uint32_t i = 0; i < kWordBufferBytes; ++i) d->words[i] = static_cast<uint8_t>(i * 5);
  d->pos = kWindowSize - 3000;
  std::vector<uint8_t> save(kWindowSize + kWordBufferBytes);
  StoredJob first(5000, 4), failing(9000, 5), after(700, 6);
  failing.job.packed_size = 6000;  // the serial path would read on
  uint32_t number = 7;
  for (StoredJob* j : {&first, &failing, &after}) {
    j->job.whole = d.get();
    j->job.entry_number = number++;
    j->job.save = save.data();
  }
  pool.Submit(&first.job);
  pool.Wait(&first.job);
  first.ExpectExact();
  EXPECT_EQ(d->pos, 2000u);
  EXPECT_EQ(0, std::memcmp(d->window, first.data.data() + 3000, 2000));
  const std::vector<uint8_t> window(d->window, d->window + kWindowSize);
  const std::vector<uint8_t> words(d->words, d->words + kWordBufferBytes);

  pool.Submit(&failing.job);
  pool.Submit(&after.job);
  pool.Wait(&after.job, &after.job);
  EXPECT_FALSE(failing.job.exact);
  EXPECT_FALSE(after.job.exact);
  EXPECT_EQ(d->pos, 2000u);
  EXPECT_TRUE(std::vector<uint8_t>(d->window, d->window + kWindowSize) == window);
  EXPECT_TRUE(std::vector<uint8_t>(d->words, d->words + kWordBufferBytes) == words);
  pool.Stop();
}

}  // namespace
}  // namespace acekit::decompress
