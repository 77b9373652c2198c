// The parallel path of the compressor. Past a slide the parse depends only on
// the D bytes before the slide (which rebuild the chains) and the D bytes
// after it, so a worker can parse each D-byte segment on its own once it has
// inserted the segment before. The first parse of a file goes on from the
// compressor's own state, which also covers the part before the first slide
// and whatever earlier files of a solid run left in the window. This thread
// keeps the reads, in the serial order and sizes, and codes the workers'
// literals and matches in order, so that blocks, output and progress come
// out as the serial coder makes them.
#include <atomic>
#include <cstring>
#include <new>
#include <utility>

#include "compress/compressor.h"
#include "compress/parallel.h"
#include "format/crc32.h"
#include "platform/platform.h"
#include "platform/thread.h"

namespace acekit {
namespace {

using compress::MatchState;
using compress::ParseRecord;
using platform::kMaxThreads;

// Bytes already read, then the rest of the file.
class ChainSource final : public ByteSource {
 public:
  ChainSource(const uint8_t* data, uint32_t size, ByteSource* rest)
      : data_(data), size_(size), rest_(rest) {}
  int32_t Read(void* buf, uint32_t count) override {
    if (size_ == 0) return rest_ != nullptr ? rest_->Read(buf, count) : 0;
    const uint32_t n = count < size_ ? count : size_;
    std::memcpy(buf, data_, n);
    data_ += n;
    size_ -= n;
    return static_cast<int32_t>(n);
  }

 private:
  const uint8_t* data_;
  uint32_t size_;
  ByteSource* rest_;
};

// A worker's input: up to two pieces of memory, then the end.
class SpanSource final : public ByteSource {
 public:
  void Set(const uint8_t* a, uint32_t na, const uint8_t* b, uint32_t nb) {
    span_[0] = {a, na};
    span_[1] = {b, nb};
    at_ = 0;
  }
  int32_t Read(void* buf, uint32_t count) override {
    while (at_ < 2 && span_[at_].size == 0) ++at_;
    if (at_ == 2) return 0;
    Span& s = span_[at_];
    const uint32_t n = count < s.size ? count : s.size;
    std::memcpy(buf, s.data, n);
    s.data += n;
    s.size -= n;
    return static_cast<int32_t>(n);
  }

 private:
  struct Span {
    const uint8_t* data;
    uint32_t size;
  };
  Span span_[2] = {};
  int at_ = 0;
};

struct SegmentJob : compress::Task {
  const compress::CoderEntry* coder = nullptr;
  MatchState* state = nullptr;
  bool fresh = false;     // a whole file from a fresh start
  bool warm = false;      // rebuild the chains from the first piece of input
  bool last = false;      // runs to the end of the file
  int first_segment = 0;  // the segment read at the first slide it passes
  SpanSource source;
  compress::StreamIo io;
  ParseRecord rec;
};

void RunSegmentJob(compress::Task* t) {
  auto* job = static_cast<SegmentJob*>(t);
  if (job->fresh) job->coder->start(*job->state, job->io);
  if (job->warm) job->coder->warm_up(*job->state, job->io);
  job->coder->record(*job->state, job->io, job->rec);
}

}  // namespace

struct Compressor::Parallel {
  compress::WorkerPool pool;
  int threads = 0;
  // Beside the compressor's own state, one for each further parse in flight.
  MatchState states[kMaxThreads - 1];
  // Records of the parses in flight; the first is large enough for a
  // file's first parse, which also covers the window before the first slide.
  uint8_t* records[kMaxThreads] = {};
  // Segments read and not yet coded, by segment number modulo threads + 2.
  uint8_t* segments[kMaxThreads + 2] = {};
  int32_t segment_len[kMaxThreads + 2] = {};
  SegmentJob jobs[kMaxThreads];
  std::atomic<bool> abort{false};
  // The upper half of the window as the serial coder would have left it,
  // followed from file to file for the files parsed ahead.
  uint8_t* shadow = nullptr;
  // What was read of each file parsed ahead, by ticket modulo threads.
  struct Read {
    uint32_t length;
    uint32_t crc;
    bool failed;
    bool too_large;
    bool handed;  // to a worker
  };
  Read reads[kMaxThreads] = {};
};

bool Compressor::StartParallel() {
  void* mem = platform::Alloc(sizeof(Parallel));
  if (mem == nullptr) return false;
  par_ = new (mem) Parallel;
  Parallel& p = *par_;
  const int t = threads_;
  const size_t d = size_t{1} << compress::kWindowShapes[match_.shape].log2_size;
  p.threads = t;
  bool ok = true;
  for (int i = 0; ok && i < t - 1; ++i) ok = compress::AllocMatchBuffers(p.states[i], match_.shape);
  for (int i = 0; ok && i < t; ++i) {
    p.records[i] =
        static_cast<uint8_t*>(platform::Alloc(ParseRecord::BytesFor(i == 0 ? 2 * d : d)));
    ok = p.records[i] != nullptr;
  }
  for (int i = 0; ok && i < t + 2; ++i) {
    p.segments[i] = static_cast<uint8_t*>(platform::Alloc(d));
    ok = p.segments[i] != nullptr;
  }
  if (ok) {
    p.shadow = static_cast<uint8_t*>(platform::Alloc(d));
    ok = p.shadow != nullptr;
    if (ok) std::memcpy(p.shadow, match_.window + d, d);
  }
  for (int i = 0; i < t; ++i) {
    SegmentJob& job = p.jobs[i];
    job.run = &RunSegmentJob;
    job.coder = coder_;
    job.io.set_keep_crc(false);
    job.io.Bind(&job.source, nullptr);
  }
  if (ok) ok = p.pool.Start(t) > 0;
  if (!ok) StopParallel();
  return ok;
}

void Compressor::StopParallel() {
  if (par_ == nullptr) return;
  Parallel& p = *par_;
  p.pool.Stop();
  for (MatchState& s : p.states) compress::FreeMatchBuffers(s);
  for (uint8_t* r : p.records) {
    if (r != nullptr) platform::Free(r);
  }
  for (uint8_t* s : p.segments) {
    if (s != nullptr) platform::Free(s);
  }
  if (p.shadow != nullptr) platform::Free(p.shadow);
  p.~Parallel();
  platform::Free(par_);
  par_ = nullptr;
}

bool Compressor::RunSegments() {
  const uint32_t d = 1u << compress::kWindowShapes[match_.shape].log2_size;
  if (io_.status() != kOk) return false;
  // Only a full window slides, and only a file that goes on for more than a
  // segment past that slide gives a second worker anything to do.
  if (match_.pos + static_cast<uint32_t>(match_.lookahead) != 2 * d) return false;
  if (int64_t{io_.totals().input_size} - io_.totals().bytes_in <= int64_t{d}) return false;
  if (handed_ != coded_) return false;  // the workers are busy with files ahead
  if (par_ == nullptr && !StartParallel()) {
    threads_ = 1;
    return false;
  }
  Parallel& p = *par_;
  const int t = p.threads;
  const int ring = t + 2;
  p.abort.store(false, std::memory_order_relaxed);

  // Segment i (from 1) is what the i-th slide from here reads. Reads stop
  // after the first short one, as the coder's do.
  int read = 0;
  bool at_end = false;
  int failed_segment = 0;
  auto length = [&](int i) -> uint32_t {
    while (read < i) {
      ++read;
      uint32_t n = 0;
      if (!at_end) {
        bool failed = false;
        n = io_.ReadAhead(p.segments[read % ring], d, &failed);
        if (failed) failed_segment = read;
        at_end = n < d;
      }
      p.segment_len[read % ring] = static_cast<int32_t>(n);
    }
    return static_cast<uint32_t>(p.segment_len[i % ring]);
  };

  MatchState* free_states[kMaxThreads];
  int states = 0;
  for (int i = 0; i < t - 1; ++i) free_states[states++] = &p.states[i];
  uint8_t* free_records[kMaxThreads];
  int records = 0;
  for (int i = t - 1; i >= 1; --i) free_records[records++] = p.records[i];

  // Parse j covers segment j + 1 (parse 0 also what lies before the first
  // slide), after inserting segment j.
  int next = 0;
  bool last_handed = false;
  auto hand_out = [&]() {
    const int j = next++;
    SegmentJob& job = p.jobs[j % t];
    const uint32_t n = length(j + 1);
    job.last = n < d || length(j + 2) == 0;
    job.fresh = false;
    job.warm = j > 0;
    job.first_segment = j + 1;
    job.state = j == 0 ? &match_ : free_states[--states];
    job.state->budget = match_.budget;
    job.rec = ParseRecord{};
    job.rec.data = j == 0 ? p.records[0] : free_records[--records];
    job.rec.slides_left = job.last ? -1 : 1;
    job.rec.abort = &p.abort;
    if (j == 0) {
      job.source.Set(p.segments[1 % ring], n, nullptr, 0);
    } else {
      job.source.Set(p.segments[j % ring], d, p.segments[(j + 1) % ring], n);
    }
    job.io.ResetCompressState();
    last_handed = job.last;
    p.pool.Submit(&job);
  };

  int32_t offset = 0;  // input coded so far, as the serial coder counts it
  MatchState* final_state = nullptr;
  for (int done = 0;; ++done) {
    while (!last_handed && next - done < t && io_.status() == kOk) hand_out();
    if (done == next) break;
    SegmentJob& job = p.jobs[done % t];
    p.pool.Wait(&job);
    if (io_.status() == kOk)
      offset = CodeRecord(job.rec, job.first_segment, failed_segment, offset);
    // Nothing more goes out once the status is set (a cancel, a failed read
    // or write), so the parses still running can stop.
    if (io_.status() != kOk) p.abort.store(true, std::memory_order_relaxed);
    free_records[records++] = job.rec.data;
    if (job.last) {
      final_state = job.state;
    } else {
      free_states[states++] = job.state;
    }
  }
  // The state after the file's last byte is the one the next file of a
  // solid run continues from.
  if (final_state != nullptr && final_state != &match_) std::swap(match_, *final_state);
  io_.coded = offset;
  return true;
}

void Compressor::KeepShadow() {
  if (par_ == nullptr) return;
  const uint32_t d = 1u << compress::kWindowShapes[match_.shape].log2_size;
  std::memcpy(par_->shadow, match_.window + d, d);
}

void Compressor::RestoreShadow() {
  if (par_ == nullptr || !diverged_) return;
  const uint32_t d = 1u << compress::kWindowShapes[match_.shape].log2_size;
  std::memcpy(match_.window + d, par_->shadow, d);
  diverged_ = false;
}

int Compressor::ParseAhead(ByteSource* source, int32_t size, bool* too_large) {
  *too_large = false;
  if (threads_ <= 1 || !ready() || size <= 0) return -1;
  const uint32_t d = 1u << compress::kWindowShapes[match_.shape].log2_size;
  if (static_cast<uint32_t>(size) >= d || handed_ - coded_ >= threads_) return -1;
  if (par_ == nullptr && !StartParallel()) {
    threads_ = 1;
    return -1;
  }
  Parallel& p = *par_;
  const int ticket = handed_++;
  const int k = ticket % p.threads;
  Parallel::Read& r = p.reads[k];
  SegmentJob& job = p.jobs[k];
  uint8_t* const data = p.segments[k];
  // Read as a fresh start reads: up to D bytes, to the end of the file.
  uint32_t got = 0;
  r.failed = false;
  while (got < d) {
    const int32_t n = source->Read(data + got, d - got);
    if (n < 0) {
      r.failed = true;
      got = 0;
      break;
    }
    if (n == 0) break;
    got += static_cast<uint32_t>(n);
  }
  r.length = got;
  r.crc = Crc32Update(kCrcInit, data, got);
  r.too_large = got == d;
  r.handed = false;
  *too_large = r.too_large;
  if (r.failed || r.too_large) return ticket;

  job.state = k == 0 ? &match_ : &p.states[k - 1];
  job.state->budget = compress::LevelBudget(level_);
  if (k == 0) diverged_ = true;
  // A search looks up to 264 bytes past the file's end, at what the window
  // held there from the files before.
  const uint32_t tail = d - got < 264 ? d - got : 264;
  std::memcpy(job.state->window + d + got, p.shadow + got, tail);
  std::memcpy(p.shadow, data, got);
  job.fresh = true;
  job.warm = false;
  job.last = true;
  job.first_segment = 0;
  job.rec = ParseRecord{};
  job.rec.data = p.records[k];
  job.rec.abort = &p.abort;
  job.source.Set(data, got, nullptr, 0);
  job.io.ResetCompressState();
  r.handed = true;
  p.pool.Submit(&job);
  return ticket;
}

void Compressor::CompressParsed(int ticket, ByteSource* rest, ByteSink* sink, int32_t size) {
  Parallel& p = *par_;
  const int k = ticket % p.threads;
  const Parallel::Read& r = p.reads[k];
  SegmentJob& job = p.jobs[k];
  ++coded_;
  if (r.too_large) {
    ChainSource source(p.segments[k], r.length, rest);
    CompressFile(&source, sink, size, true);
    return;
  }
  if (r.handed) p.pool.Wait(&job);
  io_.Bind(nullptr, sink);
  io_.ResetCompressState();
  io_.totals().crc = r.crc;
  io_.totals().bytes_in = static_cast<int32_t>(r.length);
  blocks_.ResetSymbolBuffer();
  io_.ResetBitWriter();
  io_.totals().input_size = size;
  if (r.failed) {
    io_.set_status(kOpenFailed);
  } else if (io_.status() == kOk) {
    io_.coded = CodeRecord(job.rec, 0, 0, 0);
  }
  blocks_.CloseStream(io_);
}

void Compressor::DropParses() {
  if (par_ == nullptr) return;
  Parallel& p = *par_;
  p.abort.store(true, std::memory_order_relaxed);
  for (; coded_ < handed_; ++coded_) {
    const int k = coded_ % p.threads;
    if (p.reads[k].handed) p.pool.Wait(&p.jobs[k]);
  }
  p.abort.store(false, std::memory_order_relaxed);
}

int32_t Compressor::CodeRecord(const compress::ParseRecord& rec, int first_segment,
                               int failed_segment, int32_t offset) {
  const uint8_t* at = rec.data;
  const uint8_t* const end = rec.data + rec.size;
  // A failed read ends the output where the serial coder met it: at the
  // slide that made it.
  const uint8_t* fail_at = nullptr;
  for (int k = 0; k < rec.slides && k < 2; ++k) {
    if (first_segment + k == failed_segment) fail_at = rec.data + rec.slide_mark[k];
  }
  compress::BlockCoder& blocks = blocks_;
  compress::StreamIo& io = io_;
  while (at < end) {
    if (at == fail_at) break;
    io.coded = offset;
    bool emitted;
    if (at[0] != 0xFF) {
      emitted = blocks.AddLiteral(at[0], io);
      at += 1;
      offset += 1;
    } else if (at[1] == 0) {
      emitted = blocks.AddLiteral(0xFF, io);
      at += 2;
      offset += 1;
    } else {
      const uint32_t length = uint32_t{at[1]} + 1;
      const uint32_t distance =
          (uint32_t{at[2]} | uint32_t{at[3]} << 8 | uint32_t{at[4]} << 16) + 1;
      emitted = blocks.AddMatch(length, distance, io);
      at += 5;
      offset += static_cast<int32_t>(length);
    }
    if (emitted && io.status() != kOk) return offset;
  }
  if (at == fail_at) io.set_status(kOpenFailed);
  return offset;
}

}  // namespace acekit
