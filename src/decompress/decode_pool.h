// Decoding the entries of a normal archive on worker threads, from memory to
// memory. Each entry of a normal archive is a stream of its own, so a
// worker's result equals what the shared decoder of the serial path gives,
// except where the serial result would depend on that decoder's history:
// a damaged entry whose match reaches before its own start (into earlier
// entries' bytes), and a read the serial path would make beyond the bytes
// the job holds. A job then says it is not exact, and the caller decodes the
// entry itself. Failures are never taken from a worker either: an entry
// that does not decode cleanly is decoded again by the caller, so that
// damaged archives report exactly as they always have.
//
// An entry too large to hold whole is streamed: the worker decodes it chunk
// by chunk into a ring of slots, and its packed data arrives in fetches the
// calling thread makes for it (see FetchingSource), so that memory stays
// bounded whatever the entry's size.
//
// An entry of a solid archive continues the window of the entries before
// it, so a worker takes it only through the symbol stage (DecodeTokens):
// its job holds the chunks' tokens, which the calling thread applies to
// its own window in order. The same rules hold: a job that did not end
// cleanly is decoded again there.
//
// A solid archive can also go to one worker whole: that worker runs the
// caller's own decoder, window and all, over the entries in archive order
// (DecodeJob::whole), while the calling thread makes the file calls; an
// entry too large to hold whole is streamed to it as above. Such a job that
// does not end cleanly puts the decoder back as it found it, and the worker
// runs none after it, so the caller can decode that entry and the rest
// itself (a streamed one from its start, passing over the chunks taken).
//
// Workers only compute. Everything they touch is given to them: the jobs,
// and the decoders the pool takes on the calling thread at Start.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "decompress/decoder.h"
#include "platform/stream.h"
#include "platform/thread.h"

namespace acekit::decompress {

// The reads a buffered file source makes, for sources whose buffer fills
// come from elsewhere: a request is filled completely unless a fetch comes
// up short or fails, and each fetch asks for what is still expected (at
// least the rest of the request, at most a file buffer), so the fetches
// made and the bytes handed out are those of BufferedFileSource over the
// same file calls. Requests are at most a word buffer, far below a fetch.
class FetchingSource : public platform::ByteSource {
 public:
  void Reset(uint32_t expect) {
    data_ = nullptr;
    at_ = end_ = 0;
    expect_ = expect;
    fetches_ = 0;
  }
  int32_t Read(void* buf, uint32_t count) override;

  // The size of the next fetch when a request of `want` bytes makes it.
  static uint32_t FetchSize(uint32_t expect, uint32_t want) {
    const uint32_t fetch = expect > want ? expect : want;
    return fetch < platform::kFileBufferBytes ? fetch : platform::kFileBufferBytes;
  }
  // What is still expected after a fetch that gave `got`.
  static uint32_t ExpectAfter(uint32_t expect, int32_t got) {
    if (got <= 0) return expect;
    return expect > static_cast<uint32_t>(got) ? expect - static_cast<uint32_t>(got) : 0;
  }

 protected:
  // Fetch number `index` (from 0) of `size` bytes: the count it gave (-1:
  // failed), with the bytes at *data.
  virtual int32_t Fetch(uint32_t index, uint32_t size, const uint8_t** data) = 0;

 private:
  const uint8_t* data_ = nullptr;
  uint32_t at_ = 0;
  uint32_t end_ = 0;
  uint32_t expect_ = 0;
  uint32_t fetches_ = 0;
};

// A streamed entry's buffers: fetched packed data and decoded chunks. An
// entry queued behind another large one is decoded while that one is
// written: its ring holds what its worker gets done meanwhile (6 MB, about
// as much as a worker decodes while the other writes 12 MB), and its
// fetches the packed data for that at a ratio of 40 %.
inline constexpr uint32_t kStreamFetches = 10;  // file buffers of packed data
inline constexpr uint32_t kStreamSlots = 3072;  // chunks of decoded bytes
inline constexpr uint32_t kStreamFailures = 16;
inline constexpr uint32_t kStreamBatch = 128;  // chunks the calling thread waits for
// An entry that is only tested hands over no bytes, only the chunks' sizes
// and, once through, its last window: its worker decodes in its own buffer
// as the serial path does, with more packed data read ahead (6 MB) and
// more chunks ahead of the calling thread, which wakes up less often.
inline constexpr uint32_t kTestedFetches = 24;
// A solid archive's entry streamed to its one worker: the calling thread,
// which only writes, keeps up, so a short ring does (and its pages are
// fewer to fault in and stay in the cache between the two threads).
inline constexpr uint32_t kWholeSlots = 512;
inline constexpr uint32_t kWholeFetches = 4;
inline constexpr uint32_t kTestedSlots = 16384;
inline constexpr uint32_t kTestedBatch = 512;
inline constexpr uint32_t kMaxFetches = kTestedFetches;

struct StreamState {
  uint32_t expect = 0;  // the entry's expected read, for the first fetch
  // Decoded bytes: `slot_count` chunks of kChunkSize bytes; none when only
  // tested, where `tail` takes the entry's last window instead (its first
  // min(size, kWindowSize) bytes, laid out as the decoder's window).
  uint8_t* slots = nullptr;
  uint8_t* tail = nullptr;
  uint16_t* slot_sizes = nullptr;  // slot_count
  uint32_t slot_count = kStreamSlots;
  uint32_t batch = kStreamBatch;
  uint32_t fetch_blocks = kStreamFetches;
  uint8_t* blocks[kMaxFetches] = {};  // fetch_blocks of kFileBufferBytes each

  // The worker's own: chunks decoded cleanly, some not yet published.
  uint32_t made = 0;
  // Shared under the pool's lock.
  uint32_t published = 0;  // chunks decoded cleanly and handed over
  uint32_t consumed = 0;   // chunks the caller is through with
  uint32_t delivered = 0;  // fetches made
  uint32_t request = 0;    // the size of a fetch the worker waits for (0: none)
  uint32_t fetch_size[kMaxFetches] = {};
  int32_t fetch_got[kMaxFetches] = {};
  bool waiting = false;  // the calling thread waits for chunks

  // The calling thread's own.
  uint32_t file_at = 0;  // archive offset of the next fetch
  uint32_t expect_left = 0;
  uint32_t failures = 0;  // fetches that failed, by number
  uint32_t failed[kStreamFailures] = {};

  // The last fetch came up short (or failed): the next is made only when
  // the worker asks for it. The calling thread's own reading.
  bool Held() const {
    if (delivered == 0) return false;
    const uint32_t b = (delivered - 1) % fetch_blocks;
    return fetch_got[b] != static_cast<int32_t>(fetch_size[b]);
  }
};

struct DecodeJob {
  // Filled in by the caller before Submit.
  const uint8_t* packed = nullptr;  // the entry's data as the archive holds it, and what follows
  uint32_t packed_size = 0;
  int32_t size = 0;  // declared size
  uint32_t method = 0;
  uint8_t* out = nullptr;      // size bytes; none for an entry tested (see RedoInWindow)
  uint16_t* chunks = nullptr;  // ChunkCapacity(size) entries
  uint32_t chunk_capacity = 0;
  StreamState* stream = nullptr;  // set instead of the three above: streamed
  // Set instead of `out`: the job stops at the symbol stage, its chunks'
  // tokens left here (chunk_words: each chunk's count, in order) for the
  // calling thread to apply to its window, as for an entry of a solid
  // archive, whose matches reach into the entries before it.
  uint32_t* tokens = nullptr;
  uint32_t token_capacity = 0;      // words, the slack behind them not counted
  uint16_t* chunk_words = nullptr;  // chunk_capacity entries
  size_t block_size = 0;            // the caller's: the memory the job heads, when reused
  // Set for a job run on the caller's decoder (see the top), which the
  // caller leaves alone until the job is done. `save` holds kWindowSize +
  // kWordBufferBytes bytes, for the decoder's state while the job runs.
  Decoder* whole = nullptr;
  uint32_t entry_number = 0;  // as the serial path passes it to DecoderStart
  uint8_t* save = nullptr;
  // Small entries travel in groups, one hand-over for several: the group's
  // first job is submitted, the others follow it here in archive order and
  // are run by the same thread, each finishing as it is through. `load` is
  // the group's decoded bytes, for WaitOrRun.
  DecodeJob* group = nullptr;
  uint32_t load = 0;

  // Results, once Wait has returned.
  bool exact = false;        // the entry decoded cleanly, just as the serial path decodes it
  uint32_t chunk_count = 0;  // the serial path's chunks: their sizes, in order
  // The CRC of its bytes; not taken for a `whole` job, whose caller has
  // time to spare while the one worker decodes, and takes it from `out`.
  uint32_t crc = 0;
  // What the serial decoder's word buffer holds after the entry: its first
  // words_defined bytes come from this entry, the rest are as they were.
  uint32_t words_defined = 0;
  uint8_t words[kWordBufferBytes];

  DecodeJob* next = nullptr;  // the pool's queue
  bool queued = false;        // in the queue, taken by no thread yet
  bool done = false;
  std::atomic<bool> dropped{false};
};

// Decodes again, into d's window alone, a job of a normal archive that a
// worker decoded exactly: the window then holds what the serial path's
// would after the entry. For a job that kept no bytes (`out` null). It
// changes d's word buffer and position, which the caller keeps if it needs
// them.
void RedoInWindow(Decoder& d, const DecodeJob& job);

// Enough chunk counts for an entry of `size` bytes: every chunk but the last
// produces at least kChunkSize - kMaxMatch bytes.
inline uint32_t ChunkCapacity(int32_t size) {
  return static_cast<uint32_t>(size) / (kChunkSize - kMaxMatch) + 2;
}

class DecodePool {
 public:
  DecodePool() = default;
  ~DecodePool() { Stop(); }
  DecodePool(const DecodePool&) = delete;
  DecodePool& operator=(const DecodePool&) = delete;

  // Starts up to `threads` workers with a decoder each (none when
  // `decoders` is false: they take only jobs with `whole` set); the number
  // started (0: decode on the calling thread), or -1 when a decoder's
  // memory could not be had (those started keep running until Stop).
  int Start(int threads, bool decoders = true);
  // Queues a job with its group. Workers take streamed jobs first, since
  // those are the long ones, and the others in the order they are submitted.
  void Submit(DecodeJob* job);
  // Waits until the job has finished (or was dropped by Stop). When it
  // has to sleep it sleeps until `until` (a job submitted later, or null)
  // has finished too, which, with one worker and jobs that are not
  // streamed, come in the order submitted: one wake-up for several jobs.
  void Wait(DecodeJob* job, const DecodeJob* until = nullptr);
  // Idle workers are woken once this many jobs are queued (or the calling
  // thread waits): with one worker that keeps up, a wake-up per job would
  // cost the calling thread a system call each.
  void SetWakeBatch(int jobs) { wake_batch_ = jobs; }
  // Waits for a job that is not streamed, which is run here with `helper`
  // (a decoder of the calling thread's own) when no worker has taken it
  // yet: the calling thread decodes rather than sleeps while the workers
  // are busy, for instance with large entries further on. While a worker
  // has it, the small jobs queued after it are run here the same way. The
  // results are the ones a worker gives.
  void WaitOrRun(DecodeJob* job, Decoder& helper);
  // The largest entry WaitOrRun takes on besides the one it waits for.
  static constexpr uint32_t kHelperLimit = 64u << 10;
  // Drops the queued jobs (not exact), lets the running ones end after their
  // current chunk and joins the workers. Jobs stay the caller's.
  void Stop();
  // Ends one job early (not exact); Wait still applies.
  void Drop(DecodeJob* job);

  // A streamed job, from the calling thread. Next waits until chunks are
  // there to take (sets first and count), the worker waits for a fetch
  // (returns its size), or the job is over (returns 0 with no chunks).
  // Chunks are numbered from 0; a slot is reused once Release passes it.
  uint32_t Next(DecodeJob* job, uint32_t* first, uint32_t* count);
  void Release(DecodeJob* job, uint32_t count);
  // Hands a fetch over. Fetch number i goes to block i % fetch_blocks,
  // which is free once the worker has asked for fetch i - fetch_blocks + 1:
  // when it waits for fetch i, the next fetch_blocks - 1 may be made too.
  void Deliver(DecodeJob* job, uint32_t size, int32_t got);

  // For the worker's source.
  int32_t TakeFetch(DecodeJob& job, uint32_t index, uint32_t size, const uint8_t** data);

 private:
  struct Worker {
    DecodePool* pool = nullptr;
    Decoder* decoder = nullptr;
    platform::Thread thread;
  };
  static void Main(void* arg);
  // Takes a job out of the queue; the caller holds the lock.
  void Unlink(DecodeJob* job);
  // The calling thread's wait for a worker, with the lock held: queued
  // jobs are not left to workers that sleep.
  void Sleep();
  // The job a worker takes next: the first streamed one, else the first.
  DecodeJob* Pick() const;
  // Runs the job and the rest of its group; all but the last are marked
  // done here, the last (returned) by the caller in its own hold of the lock.
  DecodeJob* RunGroup(Decoder* d, DecodeJob& job);
  void Run(Decoder* d, DecodeJob& job);
  void RunWhole(DecodeJob& job);
  void RunTokens(Decoder& d, DecodeJob& job);
  void RunStreamed(Decoder& d, DecodeJob& job);
  bool StreamChunks(Decoder& d, DecodeJob& job);
  // Hands the chunks made so far over, waking the calling thread when it
  // waits for them; the caller holds the lock.
  void Publish(StreamState& s, uint32_t count);
  static constexpr uint32_t kPublishEvery = 16;
  bool Halted(const DecodeJob& job) const {
    return stop_.load(std::memory_order_relaxed) || job.dropped.load(std::memory_order_relaxed);
  }

  platform::Mutex mutex_;
  platform::CondVar work_;
  platform::CondVar finished_;
  platform::CondVar room_;  // a streamed job's worker waits for a slot or a fetch
  DecodeJob* head_ = nullptr;
  DecodeJob* tail_ = nullptr;
  // Wake-ups are sent only to threads that wait: workers without a job, and
  // the calling thread, for the job it waits for (`awaited_`).
  int idle_ = 0;
  int woken_ = 0;  // of the idle workers, those signalled already
  int queued_ = 0;
  int wake_batch_ = 2;
  const DecodeJob* awaited_ = nullptr;
  std::atomic<bool> stop_{false};
  // A job on the caller's decoder ended without running cleanly: the ones
  // after it must not touch that decoder.
  std::atomic<bool> whole_broken_{false};
  Worker workers_[platform::kMaxThreads];
  int count_ = 0;
};

}  // namespace acekit::decompress
