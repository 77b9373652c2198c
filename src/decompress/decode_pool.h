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
// Workers only compute. Everything they touch is given to them: the jobs,
// and the decoders the pool takes on the calling thread at Start.
#pragma once

#include <atomic>
#include <cstdint>

#include "decompress/decoder.h"
#include "platform/thread.h"

namespace acekit::decompress {

struct DecodeJob {
  // Filled in by the caller before Submit.
  const uint8_t* packed = nullptr;  // the entry's data as the archive holds it, and what follows
  uint32_t packed_size = 0;
  int32_t size = 0;  // declared size
  uint32_t method = 0;
  uint8_t* out = nullptr;      // size bytes
  uint16_t* chunks = nullptr;  // ChunkCapacity(size) entries
  uint32_t chunk_capacity = 0;

  // Results, once Wait has returned.
  bool exact = false;        // the entry decoded cleanly, just as the serial path decodes it
  uint32_t chunk_count = 0;  // the serial path's chunks: their sizes, in order
  uint32_t crc = 0;
  // What the serial decoder's word buffer holds after the entry: its first
  // words_defined bytes come from this entry, the rest are as they were.
  uint32_t words_defined = 0;
  uint8_t words[kWordBufferBytes];

  DecodeJob* next = nullptr;  // the pool's queue
  bool done = false;
};

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

  // Starts up to `threads` workers with a decoder each; the number started
  // (0: decode on the calling thread), or -1 when a decoder's memory could
  // not be had (those started keep running until Stop).
  int Start(int threads);
  // Queues a job; jobs start in the order they are submitted.
  void Submit(DecodeJob* job);
  // Waits until the job has finished (or was dropped by Stop).
  void Wait(DecodeJob* job);
  // Drops the queued jobs (not exact), lets the running ones end after their
  // current chunk and joins the workers. Jobs stay the caller's.
  void Stop();

 private:
  struct Worker {
    DecodePool* pool = nullptr;
    Decoder* decoder = nullptr;
    platform::Thread thread;
  };
  static void Main(void* arg);
  void Run(Decoder& d, DecodeJob& job);

  platform::Mutex mutex_;
  platform::CondVar work_;
  platform::CondVar finished_;
  DecodeJob* head_ = nullptr;
  DecodeJob* tail_ = nullptr;
  std::atomic<bool> stop_{false};
  Worker workers_[platform::kMaxThreads];
  int count_ = 0;
};

}  // namespace acekit::decompress
