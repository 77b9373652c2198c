#include "decompress/decode_pool.h"

#include <cstring>
#include <new>

#include "common/status.h"
#include "format/crc32.h"
#include "platform/platform.h"

namespace acekit::decompress {
namespace {

// The job's bytes, noting a request for more than it holds: there the
// serial path would have read on into the archive.
class JobSource final : public platform::ByteSource {
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

// A streamed job's packed data, as the calling thread fetches it. It also
// follows how much of the word buffer the entry's own reads have written:
// after a short read the rest keeps what the entry before left there, which
// the serial path's word buffer has and this one does not.
class StreamSource final : public FetchingSource {
 public:
  StreamSource(DecodePool& pool, DecodeJob& job, const uint8_t* words)
      : pool_(pool), job_(job), words_(words) {}

  int32_t Read(void* buf, uint32_t count) override {
    const int32_t got = FetchingSource::Read(buf, count);
    const uint32_t at = static_cast<uint32_t>(static_cast<const uint8_t*>(buf) - words_);
    const uint32_t end = at + (got > 0 ? static_cast<uint32_t>(got) : 0);
    // A refill first moves the buffer's last two words to the front, which
    // are the entry's own only when the buffer was complete.
    if (at != 0 && defined_ < kWordBufferBytes) unknown_ = true;
    if (end > defined_) defined_ = end;
    return got;
  }
  // The word buffer's leading bytes that this entry wrote; false when that
  // is no prefix.
  bool Defined(uint32_t* bytes) const {
    *bytes = defined_;
    return !unknown_;
  }

 private:
  int32_t Fetch(uint32_t index, uint32_t size, const uint8_t** data) override {
    return pool_.TakeFetch(job_, index, size, data);
  }

  DecodePool& pool_;
  DecodeJob& job_;
  const uint8_t* words_;
  uint32_t defined_ = 0;
  bool unknown_ = false;
};

// The checksum, and what the entry leaves in the word buffer. A compressed
// entry fills the whole word buffer from its own data (a job holds at least
// as much as the serial path reads); stored data passes through its first
// chunk's worth.
void KeepWords(Decoder& d, DecodeJob& job) {
  job.crc = d.crc;
  if (job.method == kMethodStored) {
    job.words_defined =
        static_cast<uint32_t>(job.size) < kChunkSize ? static_cast<uint32_t>(job.size) : kChunkSize;
  } else {
    job.words_defined = kWordBufferBytes;
  }
  std::memcpy(job.words, d.words, job.words_defined);
  d.own_only = false;
}

// Decodes the job's entry into its bytes chunk by chunk, keeping each
// chunk's size; a job without `out` (tested: nobody takes its bytes) leaves
// them in the window. False where it stops short of a clean end: halted,
// out of chunk room, damaged, a match reaching before the entry's own start
// (only a decoder that owns no window before the entry notices), or a read
// beyond the bytes held.
template <typename HaltedFn>
bool DecodeChunks(Decoder& d, const JobSource& source, DecodeJob& job, bool crc, HaltedFn halted) {
  uint8_t* const out = job.out;
  uint32_t produced = 0;
  uint32_t count = 0;
  bool clean = true;
  CrcSpan span{d.pos, 0};
  while (d.remaining > 0) {
    if (halted() || count == job.chunk_capacity) {
      clean = false;
      break;
    }
    if (out == nullptr && crc) FoldCrc(d, span, false);
    const uint32_t n =
        DecodeChunk(d, out != nullptr ? out + produced : nullptr, kChunkSize, job.method, false);
    span.count += n;
    if (d.status != kOk || n == 0 || d.reached_back || source.wanted_more()) {
      clean = false;
      break;
    }
    job.chunks[count++] = static_cast<uint16_t>(n);
    produced += n;
  }
  job.chunk_count = count;
  // The entry's bytes lie in one piece: one CRC call over them costs less
  // than one per chunk.
  if (crc && out != nullptr) d.crc = format::Crc32Update(d.crc, out, produced);
  if (crc && out == nullptr) FoldCrc(d, span, true);
  return clean && d.status == kOk && !source.wanted_more();
}

}  // namespace

void RedoInWindow(Decoder& d, const DecodeJob& job) {
  JobSource source(job.packed, job.packed_size);
  DecoderStart(d, &source, job.size, false, 1, job.method);
  while (d.remaining > 0 && DecodeChunk(d, nullptr, kChunkSize, job.method, false) != 0) {
  }
  d.feed.source = nullptr;
}

int32_t FetchingSource::Read(void* buf, uint32_t count) {
  auto* dst = static_cast<uint8_t*>(buf);
  uint32_t done = 0;
  bool ended = false;  // this request met the end of the data or a failure
  while (done < count) {
    if (at_ == end_) {
      if (ended) break;
      const uint32_t fetch = FetchSize(expect_, count - done);
      const int32_t got = Fetch(fetches_++, fetch, &data_);
      at_ = end_ = 0;
      if (got <= 0) {
        if (got < 0 && done == 0) return -1;
        break;
      }
      end_ = static_cast<uint32_t>(got) < fetch ? static_cast<uint32_t>(got) : fetch;
      ended = end_ < fetch;
      expect_ = ExpectAfter(expect_, got);
    }
    uint32_t n = end_ - at_;
    if (n > count - done) n = count - done;
    std::memcpy(dst + done, data_ + at_, n);
    at_ += n;
    done += n;
  }
  return static_cast<int32_t>(done);
}

int DecodePool::Start(int threads, bool decoders) {
  if (threads > platform::kMaxThreads) threads = platform::kMaxThreads;
  stop_.store(false);
  whole_broken_.store(false);
  while (count_ < threads) {
    if (!decoders) {
      Worker& w = workers_[count_];
      w.pool = this;
      w.decoder = nullptr;
      if (!w.thread.Start(&DecodePool::Main, &w)) break;
      ++count_;
      continue;
    }
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
  for (DecodeJob* j = job; j != nullptr; j = j->group) {
    j->done = false;
    j->exact = false;
    j->next = nullptr;
    j->dropped.store(false);
  }
  platform::MutexLock lock(mutex_);
  if (count_ == 0 || stop_.load()) {
    for (DecodeJob* j = job; j != nullptr; j = j->group) j->done = true;
    return;
  }
  if (tail_ != nullptr) {
    tail_->next = job;
  } else {
    head_ = job;
  }
  tail_ = job;
  job->queued = true;
  ++queued_;
  // A worker woken for each small job costs the calling thread a system
  // call per entry when it is the slower side: it wakes one for two, or
  // before it waits itself (see Sleep), and none that was woken already.
  if (idle_ > woken_ &&
      (job->stream != nullptr || job->group != nullptr || queued_ >= wake_batch_)) {
    ++woken_;
    work_.Signal();
  }
}

void DecodePool::Unlink(DecodeJob* job) {
  DecodeJob* before = nullptr;
  for (DecodeJob* j = head_; j != job; j = j->next) before = j;
  (before != nullptr ? before->next : head_) = job->next;
  if (tail_ == job) tail_ = before;
  job->next = nullptr;
  job->queued = false;
  --queued_;
}

void DecodePool::Sleep() {
  if (queued_ > 0 && idle_ > 0) work_.Broadcast();
  finished_.Wait(mutex_);
}

DecodeJob* DecodePool::Pick() const {
  // The one worker that runs the caller's decoder takes its entries in
  // archive order, streamed or not.
  if (head_ != nullptr && head_->whole != nullptr) return head_;
  for (DecodeJob* j = head_; j != nullptr; j = j->next) {
    if (j->stream != nullptr) return j;
  }
  return head_;
}

void DecodePool::Wait(DecodeJob* job, const DecodeJob* until) {
  platform::MutexLock lock(mutex_);
  while (!job->done) {
    awaited_ = until != nullptr && !until->done ? until : job;
    Sleep();
  }
  awaited_ = nullptr;
}

void DecodePool::WaitOrRun(DecodeJob* job, Decoder& helper) {
  platform::MutexLock lock(mutex_);
  while (!job->done) {
    // The job itself when no worker has it, else a small one queued behind
    // it: the calling thread decodes rather than sleeps and is woken, which
    // costs it more than a small entry takes. A large one could keep it
    // from the job, and the workers from new jobs, for too long.
    DecodeJob* run = job->queued ? job : head_;
    if (run != nullptr && run != job && (run->stream != nullptr || run->load > kHelperLimit)) {
      run = nullptr;
    }
    if (run == nullptr) {
      awaited_ = job;
      Sleep();
      continue;
    }
    Unlink(run);
    if (run != job && queued_ > 0 && idle_ > woken_) {
      ++woken_;
      work_.Signal();
    }
    mutex_.Unlock();
    DecodeJob* last = RunGroup(&helper, *run);
    mutex_.Lock();
    last->done = true;
  }
  awaited_ = nullptr;
}

void DecodePool::Stop() {
  {
    platform::MutexLock lock(mutex_);
    stop_.store(true);
    for (DecodeJob* j = head_; j != nullptr; j = j->next) {
      j->queued = false;
      --queued_;
      for (DecodeJob* m = j; m != nullptr; m = m->group) m->done = true;
    }
    head_ = tail_ = nullptr;
    work_.Broadcast();
    finished_.Broadcast();
    room_.Broadcast();
  }
  for (int i = 0; i < count_; ++i) {
    Worker& w = workers_[i];
    w.thread.Join();
    if (w.decoder == nullptr) continue;
    DecoderFree(*w.decoder);
    w.decoder->~Decoder();
    platform::Free(w.decoder);
    w.decoder = nullptr;
  }
  count_ = 0;
  woken_ = 0;
}

void DecodePool::Drop(DecodeJob* job) {
  platform::MutexLock lock(mutex_);
  job->dropped.store(true);
  if (job->queued && job->whole != nullptr) whole_broken_.store(true);
  // One no worker has taken ends here, without waiting for a worker; the
  // rest of its group takes its place in the queue.
  if (job->queued) {
    DecodeJob* rest = job->group;
    if (rest == nullptr) {
      Unlink(job);
    } else {
      DecodeJob* before = nullptr;
      for (DecodeJob* j = head_; j != job; j = j->next) before = j;
      (before != nullptr ? before->next : head_) = rest;
      if (tail_ == job) tail_ = rest;
      rest->next = job->next;
      rest->queued = true;
      job->next = nullptr;
      job->queued = false;
      job->group = nullptr;
    }
    job->done = true;
  }
  room_.Broadcast();
}

uint32_t DecodePool::Next(DecodeJob* job, uint32_t* first, uint32_t* count) {
  StreamState& s = *job->stream;
  platform::MutexLock lock(mutex_);
  // Chunks are taken a batch at a time, to spare a wake-up per chunk; all
  // there are once the worker waits for a fetch or is through.
  while (s.published - s.consumed < s.batch && s.request == 0 && !job->done) {
    s.waiting = true;
    awaited_ = job;
    Sleep();
  }
  s.waiting = false;
  awaited_ = nullptr;
  // Chunks come first: a fetch is made only when the worker can go no
  // further without it, so the calls made do not depend on its pace.
  *first = s.consumed;
  *count = s.published - s.consumed;
  return *count == 0 ? s.request : 0;
}

void DecodePool::Publish(StreamState& s, uint32_t count) {
  if (count == s.published) return;
  s.published = count;
  if (s.waiting && count - s.consumed >= s.batch) finished_.Broadcast();
}

void DecodePool::Release(DecodeJob* job, uint32_t count) {
  platform::MutexLock lock(mutex_);
  job->stream->consumed += count;
  room_.Broadcast();
}

void DecodePool::Deliver(DecodeJob* job, uint32_t size, int32_t got) {
  StreamState& s = *job->stream;
  platform::MutexLock lock(mutex_);
  s.fetch_size[s.delivered % s.fetch_blocks] = size;
  s.fetch_got[s.delivered % s.fetch_blocks] = got;
  ++s.delivered;
  s.request = 0;
  room_.Broadcast();
}

int32_t DecodePool::TakeFetch(DecodeJob& job, uint32_t index, uint32_t size, const uint8_t** data) {
  StreamState& s = *job.stream;
  platform::MutexLock lock(mutex_);
  // The chunks made so far come before the fetch, as they would one by one.
  Publish(s, s.made);
  while (s.delivered == index) {
    if (Halted(job)) {
      s.request = 0;
      return -1;
    }
    if (s.request != size) {
      s.request = size;
      finished_.Broadcast();
    }
    room_.Wait(mutex_);
  }
  const uint32_t b = index % s.fetch_blocks;
  // The calling thread works out the same sizes; a difference would mean
  // bytes other than the serial path's, so the job gives up.
  if (s.fetch_size[b] != size) {
    job.dropped.store(true);
    return -1;
  }
  *data = s.blocks[b];
  return s.fetch_got[b];
}

void DecodePool::Main(void* arg) {
  Worker& w = *static_cast<Worker*>(arg);
  DecodePool& pool = *w.pool;
  DecodeJob* job = nullptr;
  pool.mutex_.Lock();
  for (;;) {
    // One hold of the lock hands a job back and takes the next.
    while (pool.head_ == nullptr && !pool.stop_.load()) {
      ++pool.idle_;
      pool.work_.Wait(pool.mutex_);
      --pool.idle_;
      if (pool.woken_ > 0) --pool.woken_;
    }
    if (pool.stop_.load()) break;
    job = pool.Pick();
    pool.Unlink(job);
    pool.mutex_.Unlock();
    job = pool.RunGroup(w.decoder, *job);
    pool.mutex_.Lock();
    job->done = true;
    if (pool.awaited_ == job) pool.finished_.Broadcast();
  }
  pool.mutex_.Unlock();
}

DecodeJob* DecodePool::RunGroup(Decoder* d, DecodeJob& job) {
  DecodeJob* j = &job;
  for (;;) {
    Run(d, *j);
    DecodeJob* next = j->group;
    if (next == nullptr) return j;
    platform::MutexLock lock(mutex_);
    j->done = true;
    if (awaited_ == j) finished_.Broadcast();
    j = next;
  }
}

// The serial path's DecodeEntry without its progress and output, which the
// caller replays from the chunk sizes.
void DecodePool::Run(Decoder* decoder, DecodeJob& job) {
  if (job.whole != nullptr) return RunWhole(job);
  Decoder& d = *decoder;
  if (job.stream != nullptr) return RunStreamed(d, job);
  if (job.tokens != nullptr) return RunTokens(d, job);
  JobSource source(job.packed, job.packed_size);
  DecoderStart(d, &source, job.size, false, 1, job.method);
  d.own_only = true;
  const bool clean = DecodeChunks(d, source, job, true, [&] { return Halted(job); });
  KeepWords(d, job);
  job.exact = clean;
}

namespace {

// The window bytes an entry of `size` may write from `start`: its bytes,
// and a longest match with the copy's overshoot behind the last of them.
uint32_t TouchedSpan(int32_t size) {
  const uint64_t span = static_cast<uint64_t>(static_cast<uint32_t>(size)) + kMaxMatch + 64;
  return span < kWindowSize ? static_cast<uint32_t>(span) : kWindowSize;
}

// `n` window bytes from `start` on, wrapping, to `flat` and back.
void SaveWindow(const uint8_t* window, uint32_t start, uint8_t* flat, uint32_t n) {
  const uint32_t head = n < kWindowSize - start ? n : kWindowSize - start;
  std::memcpy(flat, window + start, head);
  std::memcpy(flat + head, window, n - head);
}

void RestoreWindow(uint8_t* window, uint32_t start, const uint8_t* flat, uint32_t n) {
  const uint32_t head = n < kWindowSize - start ? n : kWindowSize - start;
  std::memcpy(window + start, flat, head);
  std::memcpy(window, flat + head, n - head);
}

}  // namespace

// Run on the caller's decoder, with its state saved first: the window
// bytes the entry may overwrite, the word buffer and the position. A job
// that does not end cleanly puts them back, so that the entry decodes on
// the calling thread as it would have without workers; as it is marked
// done only afterwards, under the lock, the calling thread sees them back.
void DecodePool::RunWhole(DecodeJob& job) {
  job.chunk_count = 0;
  job.exact = false;
  if (whole_broken_.load()) return;
  Decoder& d = *job.whole;
  const uint32_t pos = d.pos;
  const uint32_t start = job.entry_number == 1 ? 0 : pos;
  const uint32_t span = TouchedSpan(job.size);
  uint8_t* const saved_words = job.save + kWindowSize;
  BackWindow(d, start, span);
  SaveWindow(d.window, start, job.save, span);
  std::memcpy(saved_words, d.words, kWordBufferBytes);
  if (job.stream != nullptr) {
    // Its chunks are taken while it runs; a damaged one leaves those
    // written, and the calling thread decodes it again from its start,
    // with the window put back, passing over the chunks it has.
    job.exact = StreamChunks(d, job);
  } else {
    JobSource source(job.packed, job.packed_size);
    DecoderStart(d, &source, job.size, true, job.entry_number, job.method);
    job.exact = DecodeChunks(d, source, job, false, [&] { return Halted(job); });
  }
  if (job.exact) return;
  RestoreWindow(d.window, start, job.save, span);
  std::memcpy(d.words, saved_words, kWordBufferBytes);
  d.pos = pos;
  d.feed.source = nullptr;
  whole_broken_.store(true);
}

// Run for the symbol stage alone. A chunk is started only with room for
// the most tokens it can take (a word per byte, and one), so that running
// out of room ends the job (not exact) instead of a token cut short.
void DecodePool::RunTokens(Decoder& d, DecodeJob& job) {
  JobSource source(job.packed, job.packed_size);
  DecoderStart(d, &source, job.size, false, 1, job.method);
  uint32_t used = 0;
  uint32_t count = 0;
  bool clean = job.method == kMethodLz77;
  while (clean && d.remaining > 0) {
    const uint32_t rest = static_cast<uint32_t>(d.remaining);
    const uint32_t most =
        (rest < kChunkSize - kMaxMatch ? rest : kChunkSize - kMaxMatch) + kMaxMatch;
    if (Halted(job) || count == job.chunk_capacity || job.token_capacity - used < most) {
      clean = false;
      break;
    }
    uint32_t words = 0;
    const uint32_t n = DecodeTokens(d, job.tokens + used, &words);
    if (d.status != kOk || n == 0 || source.wanted_more()) {
      clean = false;
      break;
    }
    job.chunks[count] = static_cast<uint16_t>(n);
    job.chunk_words[count++] = static_cast<uint16_t>(words);
    used += words;
  }
  job.chunk_count = count;
  KeepWords(d, job);
  job.exact = clean && d.status == kOk && !source.wanted_more();
}

// Run for an entry too large to hold: each clean chunk goes to the next
// free slot, waiting while the ring is full. The first chunk that is not
// clean is not handed over; the caller takes the entry on from there.
void DecodePool::RunStreamed(Decoder& d, DecodeJob& job) {
  job.exact = StreamChunks(d, job);
}

// For a `whole` job d is the caller's decoder and the entry continues its
// window; otherwise d is the worker's own and the entry starts afresh.
bool DecodePool::StreamChunks(Decoder& d, DecodeJob& job) {
  const bool solid = job.whole != nullptr;
  StreamState& s = *job.stream;
  StreamSource source(*this, job, d.words);
  source.Reset(s.expect);
  DecoderStart(d, &source, job.size, solid, solid ? job.entry_number : 1, job.method);
  d.own_only = !solid;
  bool clean = true;
  uint32_t count = 0;
  s.made = 0;
  // A tested entry (the one kind without slots) hands over no bytes: its
  // chunks stay in the window, where their CRC is taken a span at a time.
  const bool tested = s.slots == nullptr;
  CrcSpan span{d.pos, 0};
  // The calling thread had taken this many chunks when last looked at: up
  // to that plus the ring's size, there is room without asking.
  uint32_t taken = 0;
  while (d.remaining > 0) {
    if (count - taken == s.slot_count) {
      platform::MutexLock lock(mutex_);
      Publish(s, count);
      while (count - s.consumed == s.slot_count && !Halted(job)) room_.Wait(mutex_);
      taken = s.consumed;
    }
    if (Halted(job)) {
      clean = false;
      break;
    }
    uint8_t* const slot = tested ? nullptr : s.slots + (count % s.slot_count) * kChunkSize;
    // The one worker of a solid archive is the bound; the calling thread
    // takes the CRC of the chunks as it writes them.
    if (tested) FoldCrc(d, span, false);
    const uint32_t n = DecodeChunk(d, slot, kChunkSize, job.method, !solid && !tested);
    span.count += n;
    if (d.status != kOk || n == 0 || d.reached_back || Halted(job)) {
      clean = false;
      break;
    }
    if (tested && d.remaining == 0) {
      // The last window, before the calling thread can see the last chunk.
      const uint32_t keep = static_cast<uint32_t>(job.size) < kWindowSize
                                ? static_cast<uint32_t>(job.size)
                                : kWindowSize;
      std::memcpy(s.tail, d.window, keep);
    }
    // Chunks are handed over a few at a time: a lock per chunk costs the
    // worker more than the calling thread gains from seeing each at once.
    s.slot_sizes[count % s.slot_count] = static_cast<uint16_t>(n);
    s.made = ++count;
    if (count % kPublishEvery == 0) {
      platform::MutexLock lock(mutex_);
      Publish(s, count);
      taken = s.consumed;
    }
  }
  {
    platform::MutexLock lock(mutex_);
    Publish(s, count);
  }
  if (tested) FoldCrc(d, span, true);
  job.chunk_count = count;
  KeepWords(d, job);
  // The caller's decoder has the serial path's word buffer already, with
  // what earlier entries left past a short read.
  if (solid) return clean && d.status == kOk;
  uint32_t defined = 0;
  if (!source.Defined(&defined)) clean = false;
  if (defined < job.words_defined) job.words_defined = defined;
  return clean && d.status == kOk;
}

}  // namespace acekit::decompress
