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
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#include "compress/compressor.h"
#include "compress/parallel.h"
#include "format/crc32.h"
#include "platform/platform.h"
#include "platform/thread.h"

namespace acekit::compress {

struct Flush {
  uint32_t bytes;
  int32_t coded;  // input coded when it was made, for the progress report
};

// One file's stream as a worker coded it, for the calling thread to write.
struct Replay {
  uint8_t* out = nullptr;
  uint32_t out_cap = 0;
  Flush* flushes = nullptr;
  uint32_t flush_cap = 0;
  // Results.
  uint32_t out_used = 0;
  uint32_t flush_n = 0;
  uint32_t kept = 0;  // flushes whose bytes are in out; the next one's start may be too
  bool overflow = false;
  int32_t coded = 0;

  void Reset() {
    out_used = flush_n = kept = 0;
    overflow = false;
    coded = 0;
  }
};

namespace {

using compress::Flush;
using compress::Replay;

using compress::MatchState;
using compress::ParseRecord;
using platform::kMaxThreads;

// Bytes already read, then the rest of the file; without a rest, the end
// or (`fail`) the failed read that ended the reading.
class ChainSource final : public platform::ByteSource {
 public:
  ChainSource(const uint8_t* data, uint32_t size, platform::ByteSource* rest, bool fail = false)
      : data_(data), size_(size), rest_(rest), fail_(fail) {}
  int32_t Read(void* buf, uint32_t count) override {
    if (size_ == 0) return rest_ != nullptr ? rest_->Read(buf, count) : (fail_ ? -1 : 0);
    const uint32_t n = count < size_ ? count : size_;
    std::memcpy(buf, data_, n);
    data_ += n;
    size_ -= n;
    return static_cast<int32_t>(n);
  }

 private:
  const uint8_t* data_;
  uint32_t size_;
  platform::ByteSource* rest_;
  bool fail_;
};

// A worker's input: a few pieces of memory, then the end.
class SpanSource final : public platform::ByteSource {
 public:
  static constexpr int kMaxSpans = compress::ParseRecord::kMaxMarks + 1;
  void Set(const uint8_t* a, uint32_t na, const uint8_t* b, uint32_t nb) {
    count_ = 0;
    Add(a, na);
    Add(b, nb);
  }
  void Clear() { count_ = at_ = 0; }
  void Add(const uint8_t* data, uint32_t size) {
    span_[count_++] = {data, size};
    at_ = 0;
  }
  int32_t Read(void* buf, uint32_t count) override {
    while (at_ < count_ && span_[at_].size == 0) ++at_;
    if (at_ == count_) return 0;
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
  Span span_[kMaxSpans] = {};
  int count_ = 0;
  int at_ = 0;
};

// Window segments one parse covers: a parse first rebuilds the chains from
// the segment before its own (about a seventh of parsing one), so small
// windows take several, up to 256 KB, to keep that cost small. The last
// parse of a file may pass one slide more, into the read that found the
// end, and each slide it passes needs a mark.
constexpr int kMaxSegmentsPerParse = 4;
static_assert(kMaxSegmentsPerParse < compress::ParseRecord::kMaxMarks);
int SegmentsPerParse(uint32_t d) {
  const uint32_t per = 262144 / d;
  if (per < 1) return 1;
  return per > kMaxSegmentsPerParse ? kMaxSegmentsPerParse : static_cast<int>(per);
}

// Parses of a large file in flight: two more than the workers, so that a
// worker that finishes finds the next parse waiting instead of waiting
// until this thread has coded the record before (or until a parse that
// took longer ends). This thread competes with the workers for the cores
// and may get one only a scheduler slice after a parse ended, about as
// long as a parse of 256 KB takes; one parse in line ran dry then. Each
// extra parse holds its segments and its record, under 2 MiB up to the
// 512 KB window; at 1024 KB they would take 7 MiB and the workers go
// without them.
constexpr int kMaxParses = kMaxThreads + 2;
int ParsesInFlight(int threads, uint32_t d) {
  return d <= (uint32_t{512} << 10) ? threads + 2 : threads;
}

// Segments the first parse of a file covers past the first slide. It goes
// on from the compressor's state over what lies before that slide (up to D
// positions) and then over as many segments as a later parse; at the 1 MB
// window it stops at the first slide instead, and the next parse rebuilds
// from a copy of the window's upper half: its record would take 2.5 MiB
// more than any other, which put two threads past 40 MB on large files.
int FirstParseSegments(uint32_t d) {
  return d >= (uint32_t{1} << 20) ? 0 : SegmentsPerParse(d);
}

// The finder states of the segment parses: a parse takes one when it
// starts and gives it back when it ends, so that parses waiting in line
// need none. At most one parse per worker runs, and the one that reaches
// the end of the file, which keeps its state, is the last to start, so a
// parse always finds one free.
struct StatePool {
  MatchState* state[kMaxThreads] = {};
  std::atomic<uint32_t> free{0};  // bit i: state[i] is free

  MatchState* Take() {
    uint32_t f = free.load(std::memory_order_acquire);
    for (;;) {
      const uint32_t bit = f & (0u - f);
      if (free.compare_exchange_weak(f, f & ~bit, std::memory_order_acquire)) {
        return state[std::countr_zero(bit)];
      }
    }
  }
  void Give(const MatchState* m) {
    int i = 0;
    while (state[i] != m) ++i;
    free.fetch_or(1u << i, std::memory_order_release);
  }
};

struct SegmentJob : compress::Task {
  const compress::CoderEntry* coder = nullptr;
  StatePool* states = nullptr;
  // Set for the first parse (the compressor's own); the others take one
  // from the pool when they start.
  MatchState* state = nullptr;
  int32_t budget = 0;
  bool warm = false;      // rebuild the chains from the first piece of input
  bool last = false;      // runs to the end of the file
  int first_segment = 0;  // the segment read at the first slide it passes
  SpanSource source;
  compress::StreamIo io;
  ParseRecord rec;
};

void RunSegmentJob(compress::Task* t) {
  auto* job = static_cast<SegmentJob*>(t);
  if (job->state == nullptr) job->state = job->states->Take();
  MatchState& m = *job->state;
  m.budget = job->budget;
  if (job->warm) job->coder->warm_up(m, job->io);
  job->coder->record(m, job->io, job->rec);
  // The state after the file's last byte goes on to the next file.
  if (!job->last) job->states->Give(&m);
}

// Files of a normal archive, each coded whole on a worker: parse, blocks
// and bits into memory, with the size and progress point of every flush,
// which the calling thread then replays in order. Each worker has a state,
// a block coder and a stream of its own.
struct FileWorkers {
  // A worker's block coder and stream. The coding loop writes the repeat
  // ring of the block coder at every match, so those of two workers must
  // not share a cache line: with them side by side, whether they did
  // depended on where the fields before them ended (a change of an array
  // size elsewhere cost 9 % of the CPU time of a normal archive of small
  // files).
  struct Lane {
    compress::BlockCoder blocks;
    compress::StreamIo io;
    char apart[64] = {};
  };
  const compress::CoderEntry* coder = nullptr;
  uint32_t d = 0;
  MatchState* state[kMaxThreads] = {};  // worker 0 has the compressor's own
  Lane lanes[kMaxThreads];
  std::atomic<bool> abort{false};
};

constexpr int kFileTickets = 64;
constexpr uint32_t kTail = 264;

struct FileJob : compress::Task {
  FileWorkers* fw = nullptr;
  uint8_t* mem = nullptr;    // input, then output, then flushes
  size_t held = 0;           // bytes of mem
  uint32_t length = 0;       // bytes read
  bool read_failed = false;  // the read after them failed
  bool too_large = false;    // the file went on past what was read
  bool handed = false;       // to a worker
  int32_t size = 0;          // as the file's size was given
  int32_t budget = 0;
  // What the window holds past the end of a file shorter than D.
  uint32_t tail_len = 0;
  uint8_t tail[kTail] = {};
  Replay replay;
  uint32_t crc = 0;
  int32_t bytes_in = 0;
  uint32_t status = kOk;
  // Small files go to the workers a few at a time, one hand-over for the
  // lot: the task of the first codes the others after it.
  FileJob* carrier = nullptr;   // the task that codes it
  FileJob* follower = nullptr;  // the next file of its batch
};

// A batch is handed over once it holds this many files or bytes. A file
// of a few hundred bytes is coded in microseconds, about what waking a
// worker for it costs both threads.
constexpr int kBatchFiles = 16;
constexpr uint32_t kBatchBytes = 16384;

// Keeps every flush's size and progress point, and its bytes while they fit.
// The room is at least what the stream can come to, or at least the file's
// size: a stream that does not fit is longer than the file, which is
// stored, so the bytes of that attempt past the room never stay in the
// archive and the replay writes zeros in their place.
class MemSink final : public platform::ByteSink {
 public:
  MemSink(Replay& replay, const compress::StreamIo& io) : replay_(replay), io_(io) {}
  int32_t Write(const void* buf, uint32_t count) override {
    Replay& j = replay_;
    if (j.flush_n == j.flush_cap) {
      j.overflow = true;
      return static_cast<int32_t>(count);
    }
    j.flushes[j.flush_n++] = Flush{count, io_.coded};
    if (j.kept + 1 == j.flush_n) {
      // The flush that crosses the room keeps what fits of it.
      const uint32_t room = j.out_cap - j.out_used;
      const uint32_t n = count < room ? count : room;
      std::memcpy(j.out + j.out_used, buf, n);
      j.out_used += n;
      if (n == count) ++j.kept;
    }
    return static_cast<int32_t>(count);
  }

 private:
  Replay& replay_;
  const compress::StreamIo& io_;
};

// Answers the worker's progress reports: a cancel once the jobs are dropped.
int32_t ACEKIT_CALL AbortAnswer(ArcContext ctx, int32_t, int32_t) {
  return reinterpret_cast<const std::atomic<bool>*>(ctx)->load(std::memory_order_relaxed) ? 0 : 1;
}

void CodeFileJob(FileJob& j, int worker) {
  FileWorkers& fw = *j.fw;
  MatchState& m = *fw.state[worker];
  compress::StreamIo& io = fw.lanes[worker].io;
  compress::BlockCoder& blocks = fw.lanes[worker].blocks;
  if (j.tail_len != 0) std::memcpy(m.window + fw.d + j.length, j.tail, j.tail_len);
  ChainSource source(j.mem, j.length, nullptr, j.read_failed);
  MemSink sink(j.replay, io);
  // As CompressFile codes a file that starts afresh.
  io.set_status(kOk);
  io.Bind(&source, &sink);
  io.ResetCompressState();
  io.totals().crc = format::kCrcInit;
  m.budget = j.budget;
  fw.coder->start(m, io);
  blocks.ResetSymbolBuffer();
  io.ResetBitWriter();
  io.totals().input_size = j.size;
  fw.coder->run(m, io, blocks);
  blocks.CloseStream(io);
  j.crc = io.totals().crc;
  j.bytes_in = io.totals().bytes_in;
  j.replay.coded = io.coded;
  j.status = io.status();
}

void RunFileJob(compress::Task* t) {
  for (FileJob* j = static_cast<FileJob*>(t); j != nullptr; j = j->follower) {
    CodeFileJob(*j, t->worker);
  }
}

// Output flushes of a stream of n input bytes at most: a byte costs at most
// 17 bits (a match of two bytes with its longest codes and distance bits)
// and a block header less than 1 KB.
uint32_t FlushBound(uint64_t n) {
  const uint64_t out = n * 17 / 8 + (n / compress::kBlockSymbols + 2) * 1024;
  return static_cast<uint32_t>(out / compress::kOutputBufferBytes + 4);
}

// Bytes the files coded ahead may hold at once (input, output, flushes),
// and the largest file coded so; larger ones are cut into segments.
uint64_t FileBudget(uint32_t d) {
  const uint64_t floor = uint64_t{4} << 20;
  return uint64_t{8} * d > floor ? uint64_t{8} * d : floor;
}

const uint8_t kZeros[compress::kOutputBufferBytes] = {};

}  // namespace

struct Compressor::Parallel {
  compress::WorkerPool pool;
  int threads = 0;
  // Beside the compressor's own state, one for each further worker.
  MatchState states[kMaxThreads - 1];
  StatePool state_pool;
  // Records of the parses in flight; the first is large enough for a
  // file's first parse, which also covers the window before the first slide
  // (see FirstParseSegments).
  uint8_t* records[kMaxParses] = {};
  // Segments read and not yet coded, by segment number modulo the ring.
  uint8_t* segments[kMaxParses * kMaxSegmentsPerParse + 2] = {};
  int32_t segment_len[kMaxParses * kMaxSegmentsPerParse + 2] = {};
  SegmentJob jobs[kMaxParses];
  std::atomic<bool> abort{false};
  // The upper half of the window as the serial coder would have left it,
  // followed from file to file for the files coded ahead.
  uint8_t* shadow = nullptr;
  FileWorkers fw;
  FileJob* files = nullptr;  // by ticket modulo kFileTickets
  uint64_t held = 0;         // bytes of the files handed and not coded
  // The batch not handed over yet.
  FileJob* batch_first = nullptr;
  FileJob* batch_last = nullptr;
  int batch_files = 0;
  uint32_t batch_bytes = 0;

  void HandBatch() {
    if (batch_first != nullptr) pool.Submit(batch_first);
    ForgetBatch();
  }
  void ForgetBatch() {
    batch_first = batch_last = nullptr;
    batch_files = 0;
    batch_bytes = 0;
  }
  // Until the file of j is coded. The batch not handed over yet goes
  // first, so that no worker waits with the caller.
  void WaitFile(FileJob& j) {
    if (!j.handed) return;
    HandBatch();
    FileJob* const carrier = j.carrier;
    pool.Wait(carrier);
    // The whole batch is coded: the later files of it need no wait, and
    // their carrier's slot may take another file before they are coded.
    for (FileJob* f = carrier; f != nullptr; f = f->follower) f->handed = false;
  }
};

// Solid runs of files shorter than the window. Each file of a run continues
// the window of the file before, but the state of the coder at a file's
// start is a function of the bytes alone, never of the parse: every
// position is inserted into the chains once whatever the parse chose, and
// the window holds the run's bytes at places fixed by the slides (one per D
// bytes), with, past each file's end until the next file is read, what the
// window held there before (the bytes D back, or before the first slide
// what the window held when the run began). `skip` does to window and
// chains exactly what `run` does, without the search. So a group of files
// can be parsed from a state rebuilt this way:
// - the first group of a run goes on from the run's start (a fresh start
//   from a copy of the window's upper half as the run found it, or the
//   compressor's own state when the run continues it);
// - a group starting after the second slide puts the D bytes before its
//   own last slide into the upper half (a slide clears everything else
//   that matters) and inserts from D bytes before its start on: the parse never
//   reaches further back, so chains that lack the positions before that
//   end their walks where the serial coder's do. That is D bytes of
//   insertion, about a fifth of parsing them. Where the group starts in the
//   first two bytes past its slide, whose positions the serial coder
//   inserts with hashes of their own, it goes back to the slide before
//   that and inserts from there (up to 2D bytes);
// - a group starting earlier in a fresh run skips from the run's start;
// - a group right after one that has run to its end takes over its state.
// A stored file makes the next one start afresh, from the window's upper
// half as the file left it, which follows from the bytes as above. A file
// whose bytes look incompressible (see LooksStored) ends its group, and the
// files after it are planned as a run of their own that starts afresh
// there, parsed while the ones before are: when the file is stored, that
// run is the serial one and goes on; when it is not, the run is dropped and
// the files after it continue the one before after all. Several such files
// in a row go in one group, whose worker starts each afresh or not as the
// serial coder would, from whether the one before came out stored; the
// groups after it are planned as if each was. A stored file that was not
// foreseen drops the groups after it, and the files after it form a new
// run. The calling thread reads and codes in order, as for the other
// parallel paths.
namespace {

constexpr int kSolidTickets = 1024;  // a power of two
constexpr uint32_t kSolidGroup = 262144;

// The bytes of a group: a window at least, and at least 256 KB, so that the
// rebuild before it (one to two windows of insertion) stays small beside
// its parse.
uint32_t SolidGroup(uint32_t d) {
  return d > kSolidGroup ? d : kSolidGroup;
}

// The shortest file a solid run opens at (see SolidAhead). The operations
// look at most 256 files ahead, which hold three groups to keep two
// workers busy only where files average about this much.
constexpr uint32_t kSolidOpenBytes = 3072;

// The largest file a solid run takes in: files up to a group's size go in
// groups, and up to the 256 KB window files of up to four groups too, each
// in a group of its own. A larger file is cut into segments by the
// compressor itself, and nothing after it is read before it is written:
// the workers run dry before it, and the part before its first slide runs
// on the calling thread alone, which for a file of one or two parses is
// most of it. Coded whole by one worker, such a file keeps the others
// parsing the groups around it. Above 256 KB the ring would grow by
// several windows for it.
uint32_t SolidFileMost(uint32_t d) {
  return d > kSolidGroup ? d : 4 * kSolidGroup;
}

struct SolidTicket {
  uint64_t at = 0;  // where its bytes lie in the stream the ring holds
  uint32_t len = 0;
  uint32_t crc = 0;
  bool failed = false;
  bool too_large = false;
  // A read failed after the coder would have coded part of the file: it
  // is coded in turn from the bytes it would have read, then fails.
  bool failed_late = false;
  int job = -1;
  int32_t size = 0;  // as the file's size was given
  // Its bytes look like what the coder stores (see LooksStored): the next
  // file is parsed ahead as a fresh run.
  bool likely_stored = false;
  // In a group of files that all look stored, after the first: the worker
  // starts it afresh where the file before came out stored, and goes on
  // from it otherwise, as the serial coder does; the groups after are
  // planned as if each was stored.
  bool restart_in_group = false;
  // Its stream came out larger than the file, so it is stored (set by the
  // worker that coded it).
  bool exceeded = false;
  // Its stream, coded by the worker into its group's memory.
  Replay replay;
};

struct SolidShared {
  uint8_t* ring = nullptr;
  uint64_t cap = 0;
  SolidTicket* tickets = nullptr;
  uint8_t* w0 = nullptr;  // the upper half as the run being coded found it
  uint32_t d = 0;
  std::atomic<bool> abort{false};

  SolidTicket& T(int k) const { return tickets[k & (kSolidTickets - 1)]; }
  void Spans(SpanSource& src, uint64_t at, uint64_t n) const {
    const uint64_t o = at % cap;
    const uint64_t first = n < cap - o ? n : cap - o;
    src.Set(ring + o, static_cast<uint32_t>(first), ring, static_cast<uint32_t>(n - first));
  }
  void CopyOut(uint8_t* dst, uint64_t at, uint64_t n) const {
    const uint64_t o = at % cap;
    const uint64_t first = n < cap - o ? n : cap - o;
    std::memcpy(dst, ring + o, first);
    std::memcpy(dst + first, ring, n - first);
  }
  // The upper half as the coder leaves it where the file at `at` begins, in
  // a run that began at `run_at` with `w0` there: the run's bytes since its
  // last slide, then what lay there before, the bytes D back or, before the
  // run's first slide, `w0`. `dst` may be `w0`.
  void UpperHalfAt(uint8_t* dst, const uint8_t* w0, uint64_t run_at, uint64_t at) const {
    const uint64_t v = at - run_at;
    const uint64_t k = v / d;
    const uint64_t base = k * d;
    const uint64_t fresh = v - base;
    CopyOut(dst, run_at + base, fresh);
    if (k >= 1) {
      CopyOut(dst + fresh, run_at + base + fresh - d, d - fresh);
    } else if (dst != w0) {
      std::memcpy(dst + fresh, w0 + fresh, d - fresh);
    }
  }
};

// Whether a file looks like one its stream will outgrow, from the order-0
// entropy of its first KB: compressed data comes close to the most its byte
// count allows, where text and programs stay far below (at most 0.70 of it
// over the benchmark corpus, against at least 0.88 for its stored files).
// A short file alone is stored too when what coding its bytes could save
// does not pay for the code lengths, about 60 bytes (no stream is shorter
// than 64). After a file that is coded, a short one usually finds matches
// in it, which order-0 cannot see: of 20,000 files of 100 to 400 bytes of
// words, 139 were taken as stored that way and none was. A wrong guess
// costs the groups parsed ahead after the file, so that rule is kept for a
// short file with nothing coded before it.
bool LooksStored(const SolidShared& sh, uint64_t at, uint32_t len, bool after_coded) {
  constexpr uint32_t kSample = 1024;
  constexpr uint32_t kCodeLengths = 60;
  if (len < 64) return true;
  const uint32_t n = len < kSample ? len : kSample;
  uint16_t count[256] = {};
  uint8_t seen[257];
  uint32_t kinds = 0;
  auto add = [&](uint8_t b) {
    seen[kinds] = b;
    kinds += count[b]++ == 0 ? 1 : 0;
  };
  const uint64_t o = at % sh.cap;
  const uint64_t first = n < sh.cap - o ? n : sh.cap - o;
  for (uint64_t i = 0; i < first; ++i) add(sh.ring[o + i]);
  for (uint64_t i = 0; i < n - first; ++i) add(sh.ring[i]);
  double sum = 0;  // of c log2 c over the byte counts
  for (uint32_t k = 0; k < kinds; ++k) {
    const double c = count[seen[k]];
    if (c > 1) sum += c * std::log2(c);
  }
  const double log_n = std::log2(static_cast<double>(n));
  const double bits = log_n - sum / n;  // per byte
  const double most = log_n < 8 ? log_n : 8;
  if (bits >= 0.8 * most) return true;
  return !after_coded && len * (8 - bits) < 8 * kCodeLengths;
}

enum class JobKind { kFresh, kContinue, kReplay, kFromStart };

struct SolidJob : compress::Task {
  const SolidShared* sh = nullptr;
  const compress::CoderEntry* coder = nullptr;
  MatchState* state = nullptr;
  JobKind kind = JobKind::kFresh;
  int first = 0;  // the tickets it records: [first, end)
  int end = 0;
  // kReplay: the ticket the insertion starts in; kFromStart: the run's first.
  int from = 0;
  uint64_t slide = 0;  // kReplay: where that slide lies in the stream
  // kReplay: where the insertion starts in the D bytes before the slide
  // (0: at the slide before them), and how many of them `from` has read by
  // then.
  uint32_t skip_from = 0;
  uint32_t filled = 0;
  uint64_t run_at = 0;
  const uint8_t* w0 = nullptr;  // kFresh, kFromStart: the upper half as the run found it
  uint8_t* mem = nullptr;       // the streams of its files
  SpanSource source;
  compress::StreamIo io;
  compress::BlockCoder blocks;
};

// Plans the rebuild of the state where ticket `a` begins from the oldest
// position a parse from there reaches on (see `before_at`): less than D
// bytes back, inside the file `from` that the serial coder was reading
// when it inserted that position. False where the group starts before the
// run's second slide (the window then holds bytes from before the run) or
// that position lies in the first two bytes past a slide.
bool ReplayFrom(const SolidShared& sh, uint64_t run_at, int run_first, int a, SolidJob* job) {
  const uint32_t d = sh.d;
  const uint64_t at = sh.T(a).at;
  const uint64_t k = (at - run_at) / d;
  const uint64_t oldest = at - d + 1;
  const uint64_t slide = run_at + k * d;
  if (k < 2 || oldest - (slide - d) < 2) return false;
  int g = a - 1;
  while (g > run_first && sh.T(g).at >= oldest) --g;
  const SolidTicket& f = sh.T(g);
  if (f.at >= oldest || f.at + f.len < oldest) return false;
  const uint64_t read_to = f.at + f.len < slide ? f.at + f.len : slide;
  job->from = g;
  job->slide = slide;
  job->skip_from = static_cast<uint32_t>(oldest - (slide - d));
  job->filled = static_cast<uint32_t>(read_to - (slide - d));
  job->run_at = run_at;
  return true;
}

void RunSolidJob(compress::Task* t) {
  auto& j = *static_cast<SolidJob*>(t);
  const SolidShared& sh = *j.sh;
  MatchState& m = *j.state;
  const uint32_t d = sh.d;
  auto bind = [&](int k, uint64_t from) {
    const SolidTicket& tk = sh.T(k);
    sh.Spans(j.source, from, tk.at + tk.len - from);
    j.io.ResetCompressState();
  };
  auto stop = [&]() { return sh.abort.load(std::memory_order_relaxed); };
  j.io.set_status(kOk);
  int k = j.first;
  if (j.kind == JobKind::kFresh || j.kind == JobKind::kFromStart) {
    const int begin = j.kind == JobKind::kFresh ? j.first : j.from;
    std::memcpy(m.window + d, j.w0, d);
    bind(begin, sh.T(begin).at);
    j.coder->start(m, j.io);
    if (j.kind == JobKind::kFromStart) {
      j.coder->skip(m, j.io);
      for (int g = begin + 1; g < j.first && !stop(); ++g) {
        bind(g, sh.T(g).at);
        j.coder->resume(m, j.io);
        j.coder->skip(m, j.io);
      }
    }
  } else if (j.kind == JobKind::kReplay) {
    if (j.skip_from == 0) {
      sh.CopyOut(m.window + d, j.slide - d, d);
      j.coder->before_slide(m);
      bind(j.from, j.slide);
    } else {
      // [D, 2D) as the serial coder has it when `from` has been read up to
      // the slide or its end.
      const uint64_t read_to = j.slide - d + j.filled;
      if (j.filled == d) {
        sh.CopyOut(m.window + d, j.slide - d, d);
      } else {
        sh.UpperHalfAt(m.window + d, j.w0, j.run_at, read_to);
      }
      j.coder->before_at(m, j.skip_from, j.filled);
      bind(j.from, read_to);
    }
    j.coder->skip(m, j.io);
    for (int g = j.from + 1; g < j.first && !stop(); ++g) {
      bind(g, sh.T(g).at);
      j.coder->resume(m, j.io);
      j.coder->skip(m, j.io);
    }
  }
  for (; k < j.end && !stop(); ++k) {
    SolidTicket& tk = sh.T(k);
    if (k != j.first || j.kind != JobKind::kFresh) {
      bind(k, tk.at);
      if (k != j.first && tk.restart_in_group && sh.T(k - 1).exceeded) {
        j.coder->start(m, j.io);
      } else {
        j.coder->resume(m, j.io);
      }
    }
    // The rest of what CompressFile does for the file, into memory.
    MemSink sink(tk.replay, j.io);
    j.io.Bind(&j.source, &sink);
    j.blocks.ResetSymbolBuffer();
    j.io.ResetBitWriter();
    j.io.totals().input_size = tk.size;
    tk.replay.Reset();
    j.coder->run(m, j.io, j.blocks);
    j.blocks.CloseStream(j.io);
    tk.replay.coded = j.io.coded;
    tk.exceeded = j.io.totals().exceeded;
    j.io.Bind(&j.source, nullptr);
  }
}

// Memory for a file's stream: its flushes, and their bytes up to what it
// can produce or, for a file that may come out larger than itself, up to
// its size (see MemSink). A buffer more per file, as this once kept, came to
// as much again as the bytes of a group of small files.
uint32_t OutRoom(const SolidTicket& tk) {
  const uint64_t most = uint64_t{tk.len} * 17 / 8 + (tk.len / compress::kBlockSymbols + 2) * 1024;
  const uint64_t kept = static_cast<uint64_t>(tk.size);
  return static_cast<uint32_t>((most < kept ? most : kept) + 7) / 8 * 8;
}

size_t StreamRoom(const SolidTicket& tk) {
  return OutRoom(tk) + size_t{FlushBound(tk.len)} * sizeof(Flush);
}

uint8_t* GiveRoom(SolidTicket& tk, uint8_t* at) {
  tk.replay.out = at;
  tk.replay.out_cap = OutRoom(tk);
  tk.replay.flushes = reinterpret_cast<Flush*>(at + tk.replay.out_cap);
  tk.replay.flush_cap = FlushBound(tk.len);
  return at + StreamRoom(tk);
}

// The bytes of a file read ahead, then the rest of it.
class RingSource final : public platform::ByteSource {
 public:
  RingSource(const SolidShared& sh, uint64_t at, uint32_t n, platform::ByteSource* rest)
      : rest_(rest) {
    sh.Spans(spans_, at, n);
  }
  int32_t Read(void* buf, uint32_t count) override {
    const int32_t n = spans_.Read(buf, count);
    return n != 0 || rest_ == nullptr ? n : rest_->Read(buf, count);
  }

 private:
  SpanSource spans_;
  platform::ByteSource* rest_;
};

}  // namespace

struct Compressor::Solid {
  // Groups parsed at once beyond the threads, each with a state of its own:
  // two up to the 128 KB window, one at 256 KB, so that a worker that
  // finishes its group ahead of the calling thread finds the next one, and
  // so that a file of several groups coded whole leaves the other workers
  // enough groups after it.
  static constexpr int kExtra = 2;
  SolidShared sh;
  SolidJob jobs[kMaxThreads + kExtra + 1];
  int threads = 0;
  int inflight = 0;
  MatchState extra[kExtra];
  int extra_n = 0;
  // Every state is in the pool, with a group in flight, or `exact`: the
  // serial coder's state after ticket `exact_after`.
  MatchState* pool[kMaxThreads + kExtra] = {};
  int pool_n = 0;
  MatchState* exact = nullptr;
  int exact_after = -1;
  // Groups handed to workers, of those the ones waited for (their states
  // are free then: the last one is `exact`), and the ones coded or dropped.
  // Up to `inflight` are parsed while the calling thread codes another.
  int started = 0;
  int waited = 0;
  int ended = 0;
  int handed = 0;
  int coded = 0;
  bool run_open = false;
  // The run being coded.
  bool run_fresh = false;
  int run_first = 0;
  uint64_t run_at = 0;  // where the run's slides count from
  int open_from = 0;    // first ticket without a group
  uint32_t group = 0;   // bytes a group takes at most
  uint64_t write_at = 0;
  uint64_t keep_at = 0;  // bytes before this may be overwritten
  int keep_ticket = 0;   // tickets before this may be overwritten
  // The last ticket handed to CompressSolid: whether it starts afresh is
  // settled, so no run is planned ahead from it.
  int known_through = -1;
  // Runs planned ahead, each after a file likely to be stored and in order:
  // they start afresh, from the upper half in `w0`. The first of them
  // becomes the run being coded when its first file starts afresh.
  struct Ahead {
    int first;
    uint64_t at;
    uint8_t* w0;
  };
  Ahead ahead[kMaxThreads + kExtra] = {};
  int ahead_n = 0;
  // Runs planned ahead at most, each with a window's upper half: fewer
  // than the groups in flight for the larger windows, to bound the memory.
  int ahead_most = 0;
  uint8_t* spare_w0[kMaxThreads + kExtra] = {};
  int spare_n = 0;
  // A file is coded by the compressor itself from the bytes in the ring.
  bool ring_read = false;

  void Put(MatchState* s) { pool[pool_n++] = s; }
  MatchState* Take(MatchState* s) {
    for (int i = 0; i < pool_n; ++i) {
      if (pool[i] == s) {
        pool[i] = pool[--pool_n];
        return s;
      }
    }
    return nullptr;
  }
  SolidJob& Job(int id) { return jobs[id % (inflight + 1)]; }
  // The first run planned ahead becomes the one being coded: the file
  // before it was stored, as foreseen.
  void Adopt() {
    if (exact != nullptr) Put(exact);
    exact = nullptr;
    spare_w0[spare_n++] = sh.w0;
    sh.w0 = ahead[0].w0;
    run_first = ahead[0].first;
    run_at = ahead[0].at;
    run_fresh = true;
    --ahead_n;
    for (int i = 0; i < ahead_n; ++i) ahead[i] = ahead[i + 1];
  }
  // Drops the runs planned ahead; their upper halves are kept for reuse.
  void DropAhead() {
    for (int i = 0; i < ahead_n; ++i) spare_w0[spare_n++] = ahead[i].w0;
    ahead_n = 0;
  }
  // Whether the state after ticket n - 1, the last of a group just waited
  // for, can go back to the pool: no group continues it, since ticket n
  // starts afresh (n - 1 outgrew its stream) or its group started from a
  // rebuilt state, and it can be rebuilt should that group be dropped and
  // n continue the run after all (the run started afresh, or n lies past
  // its second slide). Held, it would keep a group fewer in flight. Kept
  // where no group can follow (n is not handed in yet, or too large).
  bool StateNotNeeded(int n) const {
    if (n >= handed || sh.T(n).too_large) return false;
    if (!sh.T(n - 1).exceeded && sh.T(n).job < 0) return false;
    return run_fresh || (sh.T(n).at - run_at) / sh.d >= 2;
  }
};

bool Compressor::StartSolid() {
  if (par_ == nullptr && !StartParallel()) return false;
  FreeSegmentBuffers();
  void* mem = platform::Alloc(sizeof(Solid));
  if (mem == nullptr) return false;
  solid_ = new (mem) Solid;
  Solid& s = *solid_;
  const uint32_t d = 1u << compress::kWindowShapes[match_.shape].log2_size;
  s.threads = par_->threads;
  const int extra = d <= kSolidGroup / 2 ? 2 : d <= kSolidGroup ? 1 : 0;
  while (s.extra_n < extra && compress::AllocMatchBuffers(s.extra[s.extra_n], match_.shape)) {
    ++s.extra_n;
  }
  s.inflight = s.threads + s.extra_n;
  s.ahead_most = d <= kSolidGroup ? s.inflight : (s.inflight > 3 ? s.inflight / 2 : 1);
  s.sh.d = d;
  // The ring holds up to three windows behind the file being coded (the
  // rebuilds start from there), the group being coded and one for each
  // group in flight, and room for a file larger than a group besides them.
  s.group = SolidGroup(d);
  const uint32_t most = SolidFileMost(d);
  s.sh.cap = uint64_t{3} * d + uint64_t{s.group} * static_cast<uint64_t>(s.inflight + 1) +
             (most > s.group ? most : 0);
  s.sh.ring = static_cast<uint8_t*>(platform::Alloc(static_cast<size_t>(s.sh.cap)));
  s.sh.w0 = static_cast<uint8_t*>(platform::Alloc(d));
  s.sh.tickets = static_cast<SolidTicket*>(platform::Alloc(sizeof(SolidTicket) * kSolidTickets));
  if (s.sh.ring == nullptr || s.sh.w0 == nullptr || s.sh.tickets == nullptr) {
    StopSolid();
    return false;
  }
  for (int i = 0; i < kSolidTickets; ++i) new (&s.sh.tickets[i]) SolidTicket;
  s.exact = &match_;
  for (int i = 0; i < s.threads - 1; ++i) s.Put(&par_->states[i]);
  for (int i = 0; i < s.extra_n; ++i) s.Put(&s.extra[i]);
  for (int i = 0; i <= s.inflight; ++i) {
    SolidJob& job = s.jobs[i];
    job.run = &RunSolidJob;
    job.sh = &s.sh;
    job.coder = coder_;
    job.io.set_keep_crc(false);
    job.io.Bind(&job.source, nullptr);
    job.io.progress().hook = ProgressHook{&AbortAnswer, reinterpret_cast<ArcContext>(&s.sh.abort)};
    if (!job.io.AllocBuffer() || !job.blocks.AllocTables()) {
      StopSolid();
      return false;
    }
  }
  return true;
}

void Compressor::StopSolid() {
  if (solid_ == nullptr) return;
  Solid& s = *solid_;
  EndSolidJobs();
  if (s.sh.ring != nullptr) platform::Free(s.sh.ring);
  if (s.sh.w0 != nullptr) platform::Free(s.sh.w0);
  if (s.sh.tickets != nullptr) platform::Free(s.sh.tickets);
  for (int i = 0; i < s.spare_n; ++i) platform::Free(s.spare_w0[i]);
  for (MatchState& m : s.extra) compress::FreeMatchBuffers(m);
  s.~Solid();
  platform::Free(solid_);
  solid_ = nullptr;
}

// Stops and waits for the groups in flight; their states go back to the
// pool, the tickets without a coded group lose it, and the runs planned
// ahead are dropped.
void Compressor::EndSolidJobs() {
  Solid& s = *solid_;
  s.sh.abort.store(true, std::memory_order_relaxed);
  for (; s.ended < s.started; ++s.ended) {
    SolidJob& job = s.Job(s.ended);
    par_->pool.Wait(&job);
    if (job.mem != nullptr) platform::Free(job.mem);
    job.mem = nullptr;
    if (s.ended >= s.waited) s.Put(job.state);
  }
  s.waited = s.ended;
  s.sh.abort.store(false, std::memory_order_relaxed);
  for (int k = s.coded; k < s.handed; ++k) {
    s.sh.T(k).job = -1;
    s.sh.T(k).restart_in_group = false;
  }
  s.open_from = s.coded;
  s.DropAhead();
}

int Compressor::SolidAhead(platform::ByteSource* source, int32_t size, bool restart, bool known,
                           bool* too_large) {
  *too_large = false;
  if (threads_ <= 1 || !ready() || size <= 0 || handed_ != coded_) return -1;
  const uint32_t d = 1u << compress::kWindowShapes[match_.shape].log2_size;
  // Larger files are cut into segments by the compressor itself.
  if (static_cast<uint32_t>(size) >= SolidFileMost(d)) return -1;
  // Where nothing is in flight a run would open here, and two sizes of file
  // do not open one. A file long enough for two parses, coded whole, would
  // keep one worker busy while the others wait; it is cut into segments too.
  // For a short one, reading it ahead, planning its group and replaying its
  // stream cost the calling thread about what coding it would, and the
  // files looked ahead hold too few bytes for the groups not to wait for
  // each other: trees of 1 or 2 KB files took longer at two threads than
  // at one (0.54 against 0.41 s for 10,000 of 1 KB, 0.54 against 0.50 s
  // for 8,000 of 2 KB), files of 100 to 300 bytes half as long again. So
  // short files are coded here until a longer one opens a run, which then
  // takes short files too.
  const uint64_t two_parses = uint64_t{2} * static_cast<uint64_t>(SegmentsPerParse(d) + 1) * d;
  const bool opens = solid_ == nullptr || solid_->handed == solid_->coded;
  if (opens && (static_cast<uint64_t>(size) >= two_parses ||
                static_cast<uint32_t>(size) < kSolidOpenBytes)) {
    return -1;
  }
  if (solid_ == nullptr && !StartSolid()) {
    threads_ = 1;
    return -1;
  }
  Solid& s = *solid_;
  SolidShared& sh = s.sh;
  // The bytes read at most: a group's, or for a larger file a window more
  // than its size; a file that holds that much is too large.
  const uint32_t usize = static_cast<uint32_t>(size);
  const uint32_t most = usize < s.group ? s.group : usize + d;
  if (s.handed == s.coded) {
    // A run opens here, and how it starts must be settled.
    if (!known) return -2;
    s.run_open = true;
    s.run_first = s.open_from = s.keep_ticket = s.handed;
    s.run_fresh = restart || !started_;
    s.run_at = s.keep_at = s.write_at;
    std::memcpy(sh.w0, match_.window + d, d);
    if (s.run_fresh) {
      if (s.exact != nullptr) s.Put(s.exact);
      s.exact = nullptr;
    } else {
      // The run goes on from the compressor's state: what the window holds
      // before its position counts as the run's first bytes.
      const uint32_t prefix = match_.pos - d;
      for (uint32_t i = 0; i < prefix; ++i) {
        sh.ring[(s.write_at + i) % sh.cap] = match_.window[d + i];
      }
      s.write_at += prefix;
      s.exact_after = s.handed - 1;
    }
  } else if (s.handed - s.keep_ticket >= kSolidTickets || s.write_at + most - s.keep_at > sh.cap) {
    return -2;
  }
  const int ticket = s.handed++;
  SolidTicket& tk = sh.T(ticket);
  tk = SolidTicket{};
  tk.at = s.write_at;
  // Read as the coder reads: up to the next slide first, then a window at
  // a time, to the first short read.
  uint32_t got = 0;
  uint32_t crc = format::kCrcInit;
  const uint32_t first = d - static_cast<uint32_t>((s.write_at - s.run_at) % d);
  for (uint32_t chunk = first; got < most; chunk = d) {
    const uint32_t want = chunk < most - got ? chunk : most - got;
    uint32_t in = 0;
    bool failed = false;
    while (in < want) {
      const uint64_t o = (s.write_at + got + in) % sh.cap;
      uint32_t room = want - in;
      if (room > sh.cap - o) room = static_cast<uint32_t>(sh.cap - o);
      const int32_t n = source->Read(sh.ring + o, room);
      if (n < 0) {
        failed = true;
        break;
      }
      if (n == 0) break;
      crc = format::Crc32Update(crc, sh.ring + o, static_cast<size_t>(n));
      in += static_cast<uint32_t>(n);
    }
    if (failed) {
      // A failure after the first read has let the coder code the bytes
      // before it; that is replayed in turn.
      if (got > 0) {
        tk.failed_late = true;
        tk.too_large = true;
      } else {
        tk.failed = true;
      }
      break;
    }
    got += in;
    if (in < want) break;
  }
  tk.len = got;
  tk.crc = crc;
  tk.size = size;
  if (got == most) tk.too_large = true;
  *too_large = tk.too_large;
  // A file too large is the last one handed in before it is coded; its
  // bytes stay where they are until then.
  if (!tk.too_large) {
    // Whether the file before it in the run is taken to be coded, not
    // stored, so that this one may find matches in it.
    const bool after_coded = ticket > s.run_first && !sh.T(ticket - 1).likely_stored &&
                             !sh.T(ticket - 1).failed && !sh.T(ticket - 1).too_large;
    tk.likely_stored = !tk.failed && LooksStored(sh, tk.at, got, after_coded);
    s.write_at += got;
  }
  PlanSolid(-1);
  return ticket;
}

void Compressor::PlanSolid(int force_through) {
  Solid& s = *solid_;
  SolidShared& sh = s.sh;
  const uint32_t d = sh.d;
  while (s.run_open && s.open_from < s.handed && s.started - s.waited < s.inflight &&
         s.started - s.ended <= s.inflight) {
    const int a = s.open_from;
    if (sh.T(a).too_large) break;
    // The run the group belongs to: the last one planned ahead, else the
    // one being coded.
    Solid::Ahead* run = s.ahead_n > 0 ? &s.ahead[s.ahead_n - 1] : nullptr;
    int run_first = run != nullptr ? run->first : s.run_first;
    // After a file likely to be stored (or one already coded and stored),
    // a run of its own, unless how the file starts is settled already.
    if (a > run_first && a > s.known_through &&
        (a - 1 < s.coded ? sh.T(a - 1).exceeded : sh.T(a - 1).likely_stored)) {
      if (s.ahead_n == s.ahead_most) break;
      uint8_t* w0 =
          s.spare_n > 0 ? s.spare_w0[--s.spare_n] : static_cast<uint8_t*>(platform::Alloc(d));
      if (w0 == nullptr) break;
      // The files of the group before that are taken as stored start runs
      // of their own on the way.
      int p = a;
      while (p - 1 > run_first && sh.T(p - 1).restart_in_group) --p;
      if (run != nullptr) {
        sh.UpperHalfAt(w0, run->w0, run->at, sh.T(p).at);
      } else {
        sh.UpperHalfAt(w0, sh.w0, s.run_at, sh.T(p).at);
      }
      for (; p < a; ++p) sh.UpperHalfAt(w0, w0, sh.T(p).at, sh.T(p + 1).at);
      run = &s.ahead[s.ahead_n++];
      *run = Solid::Ahead{a, sh.T(a).at, w0};
      run_first = a;
    }
    const bool fresh = run != nullptr || s.run_fresh;
    const uint64_t run_at = run != nullptr ? run->at : s.run_at;
    const uint64_t va = sh.T(a).at - run_at;
    const bool first = a == run_first;
    // A group holds at most `group` bytes (or one file), which bounds its
    // record, and ends with a file likely to be stored. In a run that
    // started afresh, files that all look stored go in one group, each
    // starting afresh on the worker where the one before came out stored:
    // one at a time, they kept the workers waiting for hand-overs, and a
    // long one among them left only a few short ones to the others.
    const bool stored = fresh && sh.T(a).likely_stored;
    int e = a;
    uint64_t bytes = 0;
    bool closed = false;
    for (; e < s.handed; ++e) {
      const SolidTicket& tk = sh.T(e);
      if (tk.too_large || (e > a && bytes + tk.len > s.group) || (stored && !tk.likely_stored)) {
        closed = true;
        break;
      }
      bytes += tk.len;
      if (tk.likely_stored && (!stored || e + 1 == s.handed)) {
        ++e;
        closed = true;
        break;
      }
    }
    if (!closed && force_through < a) break;
    SolidJob& job = s.Job(s.started);
    const uint64_t k = va / d;
    if (run == nullptr && s.exact != nullptr && s.exact_after == a - 1 && !(first && fresh)) {
      job.kind = JobKind::kContinue;
      job.state = s.exact;
      s.exact = nullptr;
    } else {
      if (first) {
        job.kind = JobKind::kFresh;
      } else if (ReplayFrom(sh, run_at, run_first, a, &job)) {
        job.kind = JobKind::kReplay;
      } else if (k >= 2) {
        job.kind = JobKind::kReplay;
        job.slide = run_at + (k - 1) * d;
        job.skip_from = 0;
        int g = a - 1;
        while (g > run_first && sh.T(g).at >= job.slide) --g;
        job.from = g;
      } else if (fresh) {
        job.kind = JobKind::kFromStart;
        job.from = run_first;
      } else {
        break;  // after the group before it has run
      }
      if (s.pool_n == 0) break;
      job.state = s.pool[--s.pool_n];
    }
    job.w0 = run != nullptr ? run->w0 : sh.w0;
    size_t need = 0;
    for (int i = a; i < e; ++i) need += StreamRoom(sh.T(i));
    job.mem = static_cast<uint8_t*>(platform::Alloc(need));
    if (job.mem == nullptr) {
      // Without memory for the record the group waits; the state goes back.
      if (job.kind == JobKind::kContinue) {
        s.exact = job.state;
      } else {
        s.Put(job.state);
      }
      if (force_through >= a) io_.set_status(kNoMemory);
      break;
    }
    job.first = a;
    job.end = e;
    job.state->budget = compress::LevelBudget(level_);
    uint8_t* at = job.mem;
    for (int i = a; i < e; ++i) {
      SolidTicket& tk = sh.T(i);
      tk.job = s.started;
      tk.restart_in_group = i > a && stored;
      at = GiveRoom(tk, at);
    }
    ++s.started;
    s.open_from = e;
    par_->pool.Submit(&job);
  }
}

void Compressor::ResetSolid(int ticket) {
  Solid& s = *solid_;
  SolidShared& sh = s.sh;
  EndSolidJobs();
  if (s.exact != nullptr) s.Put(s.exact);
  s.exact = nullptr;
  sh.UpperHalfAt(sh.w0, sh.w0, s.run_at, sh.T(ticket).at);
  s.run_first = s.open_from = ticket;
  s.run_fresh = true;
  s.run_at = sh.T(ticket).at;
}

void Compressor::CompressSolid(int ticket, platform::ByteSource* rest, platform::ByteSink* sink,
                               int32_t size, bool restart) {
  Solid& s = *solid_;
  SolidShared& sh = s.sh;
  const uint32_t d = sh.d;
  SolidTicket& tk = sh.T(ticket);
  s.known_through = ticket;
  auto settle = [&]() {
    // Nothing in flight: the compressor's own state becomes the serial one
    // (without an exact state no group has run, and it already is).
    if (s.exact != &match_) {
      s.Take(&match_);
      if (s.exact != nullptr) {
        std::swap(match_, *s.exact);
        s.Put(s.exact);
      }
      s.exact = &match_;
    }
    s.exact_after = s.coded - 1;
    s.run_open = false;
  };
  if (tk.too_large) {
    ++s.coded;
    settle();
    class Failing final : public platform::ByteSource {
     public:
      int32_t Read(void*, uint32_t) override { return -1; }
    } failing;
    platform::ByteSource* const after = tk.failed_late ? &failing : rest;
    if (d > kSolidGroup) {
      // The ring and the groups' buffers go back now (see RunSegments), but
      // for the file's first bytes.
      const uint32_t len = tk.len;
      auto* head = static_cast<uint8_t*>(platform::Alloc(len != 0 ? len : 1));
      if (head != nullptr) {
        sh.CopyOut(head, tk.at, len);
        StopSolid();
        ChainSource source(head, len, after);
        CompressFile(&source, sink, size, restart);
        platform::Free(head);
        return;
      }
    }
    RingSource source(sh, tk.at, tk.len, after);
    s.keep_at = s.write_at;
    s.keep_ticket = s.handed;
    s.ring_read = true;
    CompressFile(&source, sink, size, restart);
    s.ring_read = false;
    return;
  }
  if (tk.restart_in_group && tk.job >= 0) {
    // The worker started this file afresh if the one before came out
    // stored. Where the host starts it so too, the run being coded starts
    // here. Where it continues the file before, or that file was not stored
    // after all (the groups after were planned as if it was), what was
    // parsed from here is dropped; a fresh start the worker did not make
    // drops it below.
    if (restart && sh.T(ticket - 1).exceeded) {
      sh.UpperHalfAt(sh.w0, sh.w0, s.run_at, tk.at);
      s.run_first = ticket;
      s.run_at = tk.at;
      s.run_fresh = true;
    } else if (!restart) {
      EndSolidJobs();
      if (s.exact != nullptr) s.Put(s.exact);
      s.exact = nullptr;
    }
  }
  const bool planned_fresh = s.ahead_n > 0 && s.ahead[0].first == ticket;
  if (restart && ticket != s.run_first) {
    if (planned_fresh) {
      s.Adopt();
    } else {
      ResetSolid(ticket);
    }
  } else if (planned_fresh) {
    // The file before was not stored after all: this one continues it, and
    // what was parsed as a fresh start from here is dropped.
    EndSolidJobs();
  }
  if (tk.job < 0) PlanSolid(ticket);
  io_.Bind(nullptr, sink);
  io_.ResetCompressState();
  io_.totals().crc = tk.crc;
  io_.totals().bytes_in = static_cast<int32_t>(tk.len);
  blocks_.ResetSymbolBuffer();
  io_.ResetBitWriter();
  io_.totals().input_size = size;
  SolidJob* job = tk.job >= 0 ? &s.Job(tk.job) : nullptr;
  if (job != nullptr && tk.job == s.waited) {
    // The group has run to its end: its state is the serial one after it,
    // kept unless no group needs it (then another group can start).
    par_->pool.Wait(job);
    ++s.waited;
    if (s.exact != nullptr) s.Put(s.exact);
    s.exact = job->state;
    s.exact_after = job->end - 1;
    if (s.StateNotNeeded(job->end)) {
      s.Put(s.exact);
      s.exact = nullptr;
      PlanSolid(-1);
    }
  }
  if (tk.failed) {
    io_.set_status(kOpenFailed);
  } else if (job == nullptr) {
    if (io_.status() == kOk) io_.set_status(kNoMemory);
  } else if (io_.status() == kOk) {
    PlayBack(tk.replay);
  }
  if (io_.status() != kOk) sh.abort.store(true, std::memory_order_relaxed);
  ++s.coded;
  started_ = true;
  if (job != nullptr && ticket == job->end - 1) {
    platform::Free(job->mem);
    job->mem = nullptr;
    ++s.ended;
  }
  if (s.coded == s.handed) {
    settle();
    s.keep_at = s.write_at;
    s.keep_ticket = s.handed;
    return;
  }
  // Keep what a group or a fresh start after the next file may need.
  const uint64_t vc = sh.T(s.coded).at - s.run_at;
  const uint64_t kc = vc / d;
  s.keep_at = s.run_at + (kc >= 2 ? (kc - 2) * d : 0);
  while (s.keep_ticket < s.coded && s.keep_ticket < s.run_first) ++s.keep_ticket;
  while (s.keep_ticket < s.coded && sh.T(s.keep_ticket).at + sh.T(s.keep_ticket).len < s.keep_at)
    ++s.keep_ticket;
  PlanSolid(-1);
}

bool Compressor::StartParallel() {
  void* mem = platform::Alloc(sizeof(Parallel));
  if (mem == nullptr) return false;
  par_ = new (mem) Parallel;
  Parallel& p = *par_;
  const int t = threads_;
  const size_t d = size_t{1} << compress::kWindowShapes[match_.shape].log2_size;
  p.threads = t;
  (void)d;
  bool ok = true;
  for (int i = 0; ok && i < t - 1; ++i) ok = compress::AllocMatchBuffers(p.states[i], match_.shape);
  for (SegmentJob& job : p.jobs) {
    job.run = &RunSegmentJob;
    job.coder = coder_;
    job.states = &p.state_pool;
    job.io.set_keep_crc(false);
    job.io.Bind(&job.source, nullptr);
  }
  p.fw.coder = coder_;
  p.fw.d = static_cast<uint32_t>(d);
  p.fw.state[0] = &match_;
  for (int i = 1; i < t; ++i) p.fw.state[i] = &p.states[i - 1];
  if (ok) ok = p.pool.Start(t) > 0;
  if (!ok) StopParallel();
  return ok;
}

// What the files coded ahead take, when first needed: the shadow of the
// window, the tickets, and a block coder and stream for each worker.
bool Compressor::FileBuffers() {
  Parallel& p = *par_;
  if (p.files != nullptr) return true;
  const size_t d = size_t{1} << compress::kWindowShapes[match_.shape].log2_size;
  p.shadow = static_cast<uint8_t*>(platform::Alloc(d));
  bool ok = p.shadow != nullptr;
  for (int i = 0; ok && i < p.threads; ++i) {
    FileWorkers::Lane& lane = p.fw.lanes[i];
    ok = lane.blocks.AllocTables() && lane.io.AllocBuffer();
    lane.io.set_keep_crc(true);
    lane.io.progress().hook = ProgressHook{&AbortAnswer, reinterpret_cast<ArcContext>(&p.fw.abort)};
  }
  if (ok) {
    void* mem = platform::Alloc(sizeof(FileJob) * kFileTickets);
    ok = mem != nullptr;
    if (ok) {
      p.files = static_cast<FileJob*>(mem);
      for (int i = 0; i < kFileTickets; ++i) {
        new (&p.files[i]) FileJob;
        p.files[i].run = &RunFileJob;
        p.files[i].fw = &p.fw;
      }
    }
  }
  if (ok) {
    std::memcpy(p.shadow, match_.window + d, d);
    return true;
  }
  FreeFileBuffers();
  return false;
}

void Compressor::FreeFileBuffers() {
  Parallel& p = *par_;
  if (p.files != nullptr) {
    for (int i = 0; i < kFileTickets; ++i) {
      // Files handed in and never coded (the workers have stopped).
      if (p.files[i].mem != nullptr) platform::Free(p.files[i].mem);
      p.files[i].~FileJob();
    }
    platform::Free(p.files);
    p.files = nullptr;
  }
  for (int i = 0; i < kMaxThreads; ++i) {
    p.fw.lanes[i].blocks.FreeTables();
    p.fw.lanes[i].io.FreeBuffer();
  }
  if (p.shadow != nullptr) platform::Free(p.shadow);
  p.shadow = nullptr;
}

// The buffers of the segment workers and of the files parsed ahead, taken
// when first needed: a solid run of small files does without them.
bool Compressor::SegmentBuffers() {
  Parallel& p = *par_;
  if (p.records[0] != nullptr) return true;
  const size_t d = size_t{1} << compress::kWindowShapes[match_.shape].log2_size;
  bool ok = true;
  const size_t per = static_cast<size_t>(SegmentsPerParse(d));
  const size_t f = static_cast<size_t>(FirstParseSegments(static_cast<uint32_t>(d))) + 1;
  const size_t first = f > per ? f : per;
  const int parses = ParsesInFlight(p.threads, static_cast<uint32_t>(d));
  for (int i = 0; ok && i < parses; ++i) {
    p.records[i] =
        static_cast<uint8_t*>(platform::Alloc(ParseRecord::BytesFor((i == 0 ? first : per) * d)));
    ok = p.records[i] != nullptr;
  }
  for (int i = 0; ok && i < parses * static_cast<int>(per) + 2; ++i) {
    p.segments[i] = static_cast<uint8_t*>(platform::Alloc(d));
    ok = p.segments[i] != nullptr;
  }
  if (!ok) FreeSegmentBuffers();
  return ok;
}

void Compressor::FreeSegmentBuffers() {
  Parallel& p = *par_;
  for (uint8_t*& r : p.records) {
    if (r != nullptr) platform::Free(r);
    r = nullptr;
  }
  for (uint8_t*& s : p.segments) {
    if (s != nullptr) platform::Free(s);
    s = nullptr;
  }
}

void Compressor::StopParallel() {
  if (par_ == nullptr) return;
  Parallel& p = *par_;
  p.pool.Stop();
  for (MatchState& s : p.states) compress::FreeMatchBuffers(s);
  FreeSegmentBuffers();
  FreeFileBuffers();
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
  // Where the windows outgrow a group, the ring of a solid run holds
  // several of them, and the segments would take their own on top. With
  // every file handed in coded, nothing of it is needed any more: the run
  // after this file continues the compressor's state, and a new ring is
  // taken for it.
  if (solid_ != nullptr && d > kSolidGroup && solid_->coded == solid_->handed &&
      !solid_->ring_read) {
    StopSolid();
  }
  if (!SegmentBuffers()) return false;
  Parallel& p = *par_;
  const int t = p.threads;
  const int per = SegmentsPerParse(d);
  const int f = FirstParseSegments(d);
  const int q = ParsesInFlight(t, d);
  const int ring = q * per + 2;
  p.abort.store(false, std::memory_order_relaxed);
  // Segment 0, the bytes before the first slide, is what the second parse
  // rebuilds from when the first one stops there; the first parse holds
  // the window they lie in.
  if (f == 0) {
    std::memcpy(p.segments[0], match_.window + d, d);
    p.segment_len[0] = static_cast<int32_t>(d);
  }

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

  // The first parse holds the compressor's own state, which later parses
  // may take in turn: its fields are read here before any parse starts.
  const int32_t budget = match_.budget;
  StatePool& pool = p.state_pool;
  for (int i = 0; i < t - 1; ++i) pool.state[i] = &p.states[i];
  pool.state[t - 1] = &match_;
  pool.free.store((1u << (t - 1)) - 1, std::memory_order_relaxed);
  uint8_t* free_records[kMaxParses];
  int records = 0;
  for (int i = q - 1; i >= 1; --i) free_records[records++] = p.records[i];

  // Parse 0 covers what lies before the first slide and segments 1 to f;
  // parse j > 0 covers the per segments after f + (j - 1) * per, after
  // inserting segment f + (j - 1) * per.
  int next = 0;
  bool last_handed = false;
  auto hand_out = [&]() {
    const int j = next++;
    SegmentJob& job = p.jobs[j % q];
    const int first = j == 0 ? 1 : f + (j - 1) * per + 1;
    const int count = j == 0 ? f : per;
    job.source.Clear();
    if (j > 0) job.source.Add(p.segments[(first - 1) % ring], d);
    job.last = false;
    for (int i = first; i < first + count && !job.last; ++i) {
      const uint32_t n = length(i);
      job.source.Add(p.segments[i % ring], n);
      job.last = n < d || length(i + 1) == 0;
    }
    job.warm = j > 0;
    job.first_segment = first;
    job.state = j == 0 ? &match_ : nullptr;
    job.budget = budget;
    job.rec = ParseRecord{};
    job.rec.data = j == 0 ? p.records[0] : free_records[--records];
    job.rec.slides_left = job.last ? -1 : count;
    job.rec.abort = &p.abort;
    job.io.ResetCompressState();
    last_handed = job.last;
    p.pool.Submit(&job);
  };

  int32_t offset = 0;  // input coded so far, as the serial coder counts it
  MatchState* final_state = nullptr;
  for (int done = 0;; ++done) {
    while (!last_handed && next - done < q && io_.status() == kOk) hand_out();
    if (done == next) break;
    SegmentJob& job = p.jobs[done % q];
    p.pool.Wait(&job);
    if (io_.status() == kOk)
      offset = CodeRecord(job.rec, job.first_segment, failed_segment, offset);
    // Nothing more goes out once the status is set (a cancel, a failed read
    // or write), so the parses still running can stop.
    if (io_.status() != kOk) p.abort.store(true, std::memory_order_relaxed);
    free_records[records++] = job.rec.data;
    if (job.last) final_state = job.state;
  }
  // The state after the file's last byte is the one the next file of a
  // solid run continues from.
  if (final_state != nullptr && final_state != &match_) std::swap(match_, *final_state);
  io_.coded = offset;
  // Needed only while a large file is coded: the files coded ahead take
  // their room meanwhile.
  FreeSegmentBuffers();
  return true;
}

void Compressor::KeepShadow() {
  if (par_ == nullptr || par_->shadow == nullptr) return;
  const uint32_t d = 1u << compress::kWindowShapes[match_.shape].log2_size;
  std::memcpy(par_->shadow, match_.window + d, d);
}

void Compressor::RestoreShadow() {
  if (par_ == nullptr || !diverged_) return;
  const uint32_t d = 1u << compress::kWindowShapes[match_.shape].log2_size;
  std::memcpy(match_.window + d, par_->shadow, d);
  diverged_ = false;
}

int Compressor::ParseAhead(platform::ByteSource* source, int32_t size, bool* too_large) {
  *too_large = false;
  if (threads_ <= 1 || !ready() || size <= 0) return -1;
  const uint32_t d = 1u << compress::kWindowShapes[match_.shape].log2_size;
  const uint64_t budget = FileBudget(d);
  if (static_cast<uint64_t>(size) > budget / 4) return -1;
  // With nothing else coded ahead, a file coded whole would keep one worker
  // busy and leave the others waiting; one long enough for two parses of
  // segments goes faster cut into them.
  const uint64_t two_parses = uint64_t{2} * static_cast<uint64_t>(SegmentsPerParse(d) + 1) * d;
  if (handed_ == coded_ && static_cast<uint64_t>(size) >= two_parses) return -1;
  if (par_ == nullptr && !StartParallel()) {
    threads_ = 1;
    return -1;
  }
  if (!FileBuffers()) return -1;
  Parallel& p = *par_;
  // Room for the reads of a file of `size` bytes: whole windows and a short
  // one at the end.
  const uint64_t in_cap = (static_cast<uint64_t>(size) / d + 1) * d;
  // Rounded up so that the flush sizes after it are aligned.
  const uint64_t out_cap = (static_cast<uint64_t>(size) + compress::kOutputBufferBytes + 7) / 8 * 8;
  const uint32_t flush_cap = FlushBound(in_cap);
  const uint64_t held = in_cap + out_cap + uint64_t{flush_cap} * sizeof(Flush);
  if (handed_ != coded_ && (handed_ - coded_ >= kFileTickets || p.held + held > budget)) return -2;
  auto* mem = static_cast<uint8_t*>(platform::Alloc(static_cast<size_t>(held)));
  if (mem == nullptr) return -1;
  const int ticket = handed_++;
  FileJob& j = p.files[ticket % kFileTickets];
  j.mem = mem;
  j.held = static_cast<size_t>(held);
  p.held += held;
  // Read as the coder reads: a window at a time, up to a short read.
  uint32_t got = 0;
  j.read_failed = false;
  while (got < in_cap) {
    uint32_t chunk = 0;
    while (chunk < d) {
      const int32_t n = source->Read(mem + got + chunk, d - chunk);
      if (n < 0) {
        j.read_failed = true;
        break;
      }
      if (n == 0) break;
      chunk += static_cast<uint32_t>(n);
    }
    if (j.read_failed) break;
    got += chunk;
    if (chunk < d) break;
  }
  j.length = got;
  j.too_large = !j.read_failed && got == in_cap;
  j.handed = false;
  *too_large = j.too_large;
  if (j.too_large) return ticket;

  j.size = size;
  j.budget = compress::LevelBudget(level_);
  j.replay.out = mem + in_cap;
  j.replay.out_cap = static_cast<uint32_t>(out_cap);
  j.replay.flushes = reinterpret_cast<Flush*>(mem + in_cap + out_cap);
  j.replay.flush_cap = flush_cap;
  j.replay.Reset();
  // The window past the end: for a file shorter than D, what the files
  // before it left there (a search looks up to 264 bytes ahead); a longer
  // one fills the upper half itself, ending with its last read and, after
  // that, what the read before left.
  j.tail_len = 0;
  if (!j.read_failed) {
    if (got < d) {
      j.tail_len = d - got < kTail ? d - got : kTail;
      std::memcpy(j.tail, p.shadow + got, j.tail_len);
      std::memcpy(p.shadow, mem, got);
    } else {
      const uint32_t last = got / d * d;
      const uint32_t r = got - last;
      std::memcpy(p.shadow, mem + last, r);
      std::memcpy(p.shadow + r, mem + last - d + r, d - r);
    }
  }
  // The compressor's own state is worker 0's.
  diverged_ = true;
  j.handed = true;
  j.follower = nullptr;
  if (p.batch_last != nullptr) {
    p.batch_last->follower = &j;
  } else {
    p.batch_first = &j;
  }
  p.batch_last = &j;
  j.carrier = p.batch_first;
  p.batch_bytes += got;
  if (++p.batch_files == kBatchFiles || p.batch_bytes >= kBatchBytes) p.HandBatch();
  return ticket;
}

void Compressor::ReleaseFile(int ticket) {
  Parallel& p = *par_;
  FileJob& j = p.files[ticket % kFileTickets];
  if (j.mem != nullptr) platform::Free(j.mem);
  j.mem = nullptr;
  p.held -= j.held;
  j.held = 0;
}

void Compressor::CompressParsed(int ticket, platform::ByteSource* rest, platform::ByteSink* sink,
                                int32_t size) {
  Parallel& p = *par_;
  FileJob& j = p.files[ticket % kFileTickets];
  ++coded_;
  if (j.too_large) {
    ChainSource source(j.mem, j.length, rest);
    CompressFile(&source, sink, size, true);
    ReleaseFile(ticket);
    return;
  }
  p.WaitFile(j);
  io_.Bind(nullptr, sink);
  io_.ResetCompressState();
  io_.totals().input_size = size;
  PlayBack(j.replay);
  io_.totals().crc = j.crc;
  io_.totals().bytes_in = j.bytes_in;
  if (io_.status() == kOk && j.status != kOk) io_.set_status(j.status);
  ReleaseFile(ticket);
}

void Compressor::PlayBack(const compress::Replay& r) {
  // The flushes the coder made, in order, each with its report.
  const uint8_t* at = r.out;
  for (uint32_t k = 0; k < r.flush_n && io_.status() == kOk; ++k) {
    const Flush& f = r.flushes[k];
    io_.coded = f.coded;
    const uint32_t part = k == r.kept ? static_cast<uint32_t>(r.out + r.out_used - at) : 0;
    if (part != 0) {
      // The flush that crossed the room: its start, then zeros.
      uint8_t mixed[compress::kOutputBufferBytes];
      std::memcpy(mixed, at, part);
      std::memset(mixed + part, 0, f.bytes - part);
      io_.PassOn(mixed, f.bytes);
    } else {
      io_.PassOn(k < r.kept ? at : kZeros, f.bytes);
    }
    at += f.bytes;
  }
  io_.coded = r.coded;
  if (io_.status() == kOk && r.overflow) io_.set_status(kNoMemory);
}

void Compressor::DropParses() {
  if (solid_ != nullptr) {
    Solid& s = *solid_;
    EndSolidJobs();
    // The operation is failing; only the pool has to stay whole.
    if (s.exact != &match_) {
      s.Take(&match_);
      if (s.exact != nullptr) s.Put(s.exact);
      s.exact = &match_;
    }
    s.coded = s.handed;
    s.run_open = false;
    s.keep_at = s.write_at;
    s.keep_ticket = s.handed;
  }
  if (par_ == nullptr) return;
  Parallel& p = *par_;
  p.fw.abort.store(true, std::memory_order_relaxed);
  // The batch not handed over yet is dropped as it is.
  for (FileJob* f = p.batch_first; f != nullptr; f = f->follower) f->handed = false;
  p.ForgetBatch();
  for (; coded_ < handed_; ++coded_) {
    p.WaitFile(p.files[coded_ % kFileTickets]);
    ReleaseFile(coded_);
  }
  p.fw.abort.store(false, std::memory_order_relaxed);
}

int32_t Compressor::CodeRecord(const compress::ParseRecord& rec, int first_segment,
                               int failed_segment, int32_t offset) {
  const uint8_t* at = rec.data;
  // A failed read ends the output where the serial coder met it: at the
  // slide that made it.
  const uint8_t* fail_at = nullptr;
  for (int k = 0; k < rec.slides && k < compress::ParseRecord::kMaxMarks; ++k) {
    if (first_segment + k == failed_segment) fail_at = rec.data + rec.slide_mark[k];
  }
  const uint8_t* const end = fail_at != nullptr ? fail_at : rec.data + rec.size;
  compress::BlockCoder& blocks = blocks_;
  // The symbols go straight into the block's buffer, as the coding loop
  // puts them there; the block is emitted when the buffer is full and
  // another symbol comes, with the input coded up to that symbol.
  compress::BlockSymbol* out = blocks.cursor();
  compress::BlockSymbol* const out_end = blocks.buffer_end();
  uint32_t* const literal_count = blocks.main_counts();
  bool failed = false;
  while (at < end && !failed) {
    if (out == out_end) [[unlikely]] {
      blocks.set_cursor(out);
      io_.coded = offset;
      blocks.EmitBlock(io_);
      out = blocks.buffer_begin();
      failed = io_.status() != kOk;
    }
    // Up to the end of the buffer a symbol needs no check of its own.
    while (out < out_end && at < end) {
      const uint8_t b = at[0];
      if (b != 0xFF) {
        ++literal_count[b];
        *out++ = compress::BlockCoder::LiteralSymbol(b);
        at += 1;
        offset += 1;
      } else if (at[1] == 0) {
        ++literal_count[0xFF];
        *out++ = compress::BlockCoder::LiteralSymbol(0xFF);
        at += 2;
        offset += 1;
      } else {
        const uint32_t length = uint32_t{at[1]} + 1;
        const uint32_t distance =
            (uint32_t{at[2]} | uint32_t{at[3]} << 8 | uint32_t{at[4]} << 16) + 1;
        *out++ = blocks.MatchSymbol(length, distance);
        at += 5;
        offset += static_cast<int32_t>(length);
      }
      // A failed write or a cancel in the block's flushes stops the coding
      // after the symbol that emitted it, as it stops the coding loop.
      if (failed) break;
    }
  }
  blocks.set_cursor(out);
  if (!failed && fail_at != nullptr && at == fail_at) io_.set_status(kOpenFailed);
  return offset;
}

}  // namespace acekit::compress
