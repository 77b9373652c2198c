#include "decompress/decode_pool.h"

#include <cstring>
#include <new>

#include "common/status.h"
#include "platform/platform.h"

namespace acekit::decompress {
namespace {

// The job's bytes, noting a request for more than it holds: there the
// serial path would have read on into the archive.
class JobSource final : public ByteSource {
 public:
  JobSource(const uint8_t* data, uint32_t size) : data_(data), size_(size) {}
  int32_t Read(void* buf, uint32_t count) override {
    uint32_t n = size_ - at_;
    if (n < count) {
      wanted_more_ = true;
    } else {
      n = count;
    }
    std::memcpy(buf, data_ + at_, n);
    at_ += n;
    return static_cast<int32_t>(n);
  }
  bool wanted_more() const { return wanted_more_; }

 private:
  const uint8_t* data_;
  uint32_t size_;
  uint32_t at_ = 0;
  bool wanted_more_ = false;
};

}  // namespace

int DecodePool::Start(int threads) {
  if (threads > platform::kMaxThreads) threads = platform::kMaxThreads;
  stop_.store(false);
  while (count_ < threads) {
    void* memory = platform::Alloc(sizeof(Decoder));
    if (memory == nullptr) return -1;
    auto* d = new (memory) Decoder;
    if (DecoderAlloc(*d) != kOk) {
      d->~Decoder();
      platform::Free(memory);
      return -1;
    }
    Worker& w = workers_[count_];
    w.pool = this;
    w.decoder = d;
    if (!w.thread.Start(&DecodePool::Main, &w)) {
      DecoderFree(*d);
      d->~Decoder();
      platform::Free(memory);
      w.decoder = nullptr;
      break;
    }
    ++count_;
  }
  return count_;
}

void DecodePool::Submit(DecodeJob* job) {
  job->done = false;
  job->exact = false;
  job->next = nullptr;
  platform::MutexLock lock(mutex_);
  if (count_ == 0 || stop_.load()) {
    job->done = true;
    return;
  }
  if (tail_ != nullptr) {
    tail_->next = job;
  } else {
    head_ = job;
  }
  tail_ = job;
  work_.Signal();
}

void DecodePool::Wait(DecodeJob* job) {
  platform::MutexLock lock(mutex_);
  while (!job->done) finished_.Wait(mutex_);
}

void DecodePool::Stop() {
  {
    platform::MutexLock lock(mutex_);
    stop_.store(true);
    for (DecodeJob* j = head_; j != nullptr; j = j->next) j->done = true;
    head_ = tail_ = nullptr;
    work_.Broadcast();
    finished_.Broadcast();
  }
  for (int i = 0; i < count_; ++i) {
    Worker& w = workers_[i];
    w.thread.Join();
    DecoderFree(*w.decoder);
    w.decoder->~Decoder();
    platform::Free(w.decoder);
    w.decoder = nullptr;
  }
  count_ = 0;
}

void DecodePool::Main(void* arg) {
  Worker& w = *static_cast<Worker*>(arg);
  DecodePool& pool = *w.pool;
  for (;;) {
    DecodeJob* job = nullptr;
    {
      platform::MutexLock lock(pool.mutex_);
      while (pool.head_ == nullptr && !pool.stop_.load()) pool.work_.Wait(pool.mutex_);
      if (pool.stop_.load()) return;
      job = pool.head_;
      pool.head_ = job->next;
      if (pool.head_ == nullptr) pool.tail_ = nullptr;
    }
    pool.Run(*w.decoder, *job);
    platform::MutexLock lock(pool.mutex_);
    job->done = true;
    pool.finished_.Broadcast();
  }
}

// The serial path's DecodeEntry without its progress and output, which the
// caller replays from the chunk sizes.
void DecodePool::Run(Decoder& d, DecodeJob& job) {
  JobSource source(job.packed, job.packed_size);
  DecoderStart(d, &source, job.size, false, 1, job.method);
  d.own_only = true;
  uint32_t produced = 0;
  uint32_t count = 0;
  bool clean = true;
  while (d.remaining > 0) {
    if (stop_.load(std::memory_order_relaxed) || count == job.chunk_capacity) {
      clean = false;
      break;
    }
    const uint32_t n = DecodeChunk(d, job.out + produced, kChunkSize, job.method);
    if (d.status != kOk || n == 0 || d.reached_back || source.wanted_more()) {
      clean = false;
      break;
    }
    job.chunks[count++] = static_cast<uint16_t>(n);
    produced += n;
  }
  clean = clean && d.status == kOk && !source.wanted_more();
  job.chunk_count = count;
  job.crc = d.crc;
  // A compressed entry fills the whole word buffer from its own data (a job
  // holds at least as much as the serial path reads); stored data passes
  // through its first chunk's worth.
  if (job.method == kMethodStored) {
    job.words_defined =
        static_cast<uint32_t>(job.size) < kChunkSize ? static_cast<uint32_t>(job.size) : kChunkSize;
  } else {
    job.words_defined = kWordBufferBytes;
  }
  std::memcpy(job.words, d.words, job.words_defined);
  d.own_only = false;
  job.exact = clean;
}

}  // namespace acekit::decompress
