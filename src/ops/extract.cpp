#include "ops/extract.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "common/status.h"
#include "decompress/decode_pool.h"
#include "decompress/decoder.h"
#include "format/crc32.h"
#include "format/records.h"
#include "ops/entry_walk.h"
#include "ops/extract_paths.h"
#include "platform/file.h"
#include "platform/platform.h"
#include "platform/stream.h"
#include "platform/thread.h"
#include "select/masks.h"
#include "select/paths.h"

namespace acekit::ops {
namespace {

constexpr size_t kNameSize = sizeof(ArcEntry{}.name);

// The upper-cased names of a caller's list, sorted, so that each entry of a
// solid archive's complete list is looked up without a scan of the list.
class NameSet {
 public:
  NameSet() = default;
  ~NameSet() {
    platform::Free(texts_);
    platform::Free(sorted_);
  }
  NameSet(const NameSet&) = delete;
  NameSet& operator=(const NameSet&) = delete;

  bool Build(const ArcFileList& list) {
    size_t n = 0;
    for (const ArcEntry* e = list.first; e != nullptr; e = e->next) ++n;
    if (n == 0) return true;
    texts_ = static_cast<char*>(platform::Alloc(n * kNameSize));
    sorted_ = static_cast<char**>(platform::Alloc(n * sizeof(char*)));
    if (texts_ == nullptr || sorted_ == nullptr) return false;
    for (const ArcEntry* e = list.first; e != nullptr; e = e->next) {
      char* slot = texts_ + count_ * kNameSize;
      select::UpperCopy(e->name, slot, kNameSize);
      sorted_[count_++] = slot;
    }
    std::sort(sorted_, sorted_ + count_, Less);
    return true;
  }

  bool Contains(const char* name) const {
    if (count_ == 0) return false;
    char upper[kNameSize];
    select::UpperCopy(name, upper, sizeof upper);
    return std::binary_search(sorted_, sorted_ + count_, static_cast<const char*>(upper), Less);
  }

 private:
  static bool Less(const char* a, const char* b) { return std::strcmp(a, b) < 0; }

  char* texts_ = nullptr;
  char** sorted_ = nullptr;
  size_t count_ = 0;
};

// What the host is told about an entry: `\` and the stored name, and the
// path it goes to, which during a rebuild is the working directory with the
// file's own name.
void ShowName(const Context& ctx, const ArcEntry& e, const char* target) {
  if (ctx.hooks.file_name.proc == nullptr) return;
  char source[kNameSize + 1] = "\\";
  format::AppendText(source, sizeof source, e.name);
  char shown[format::kPathSize];
  const char* temp = ctx.arc.temp_path;
  if (temp[0] != '\0') {
    select::AddSeparator(temp, shown, sizeof shown);
    const format::PathParts parts = format::SplitPath(target);
    format::AppendText(shown, sizeof shown, parts.name);
    format::AppendText(shown, sizeof shown, parts.ext);
    target = shown;
  }
  ctx.hooks.file_name.Call(source, target);
}

void FillIncomingRecord(const ArcEntry& e, FindData* rec) {
  *rec = FindData{};
  rec->attributes = e.attr;
  FindTime time{};
  if (!platform::DosTimeToFileTime(e.ftime, &time)) time = FindTime{};
  rec->creation_time = rec->last_access_time = rec->last_write_time = time;
  rec->size_low = e.orig_size;
  format::CopyText(rec->name, sizeof rec->name, e.name);
}

// The host's answer about a file or directory already at `existing`; a
// read-only mark is lifted only on kAnswerReplace itself. Without a
// procedure the file is replaced without asking. `lift`
// false leaves marks alone: what stands there is a link, whose target is
// none of the extraction's business.
ReplaceAnswer AskReplace(const Context& ctx, const ArcEntry& e, const char* existing, bool lift) {
  if (!ctx.hooks.replace) return kAnswerReplace;
  FindData old_rec{};
  const platform::FindHandle find = platform::FindFirst(existing, &old_rec);
  if (find == platform::kBadFind) {
    old_rec = FindData{};
  } else {
    platform::FindClose(find);
  }
  FindData new_rec;
  FillIncomingRecord(e, &new_rec);
  const ReplaceAnswer answer = ctx.hooks.replace.Call(&old_rec, &new_rec);
  if (answer == kAnswerReplace && lift) platform::MakeReplaceable(existing);
  return answer;
}

// The largest entry (either size) a worker decodes whole; larger ones are
// streamed through a job of fixed size. With the bytes allowed in flight it
// bounds the memory of the parallel path.
constexpr uint32_t kJobLimit = 1u << 20;
// A solid archive's entries shorter than this are decoded here, not split
// between a worker's symbol stage and this thread's window stage: for them
// the tokens, their hand-over and the job cost this thread more than the
// decoding they spare it.
constexpr uint32_t kSolidJobMin = 1024;
constexpr uint32_t kMaxPending = 4 * platform::kMaxThreads;  // jobs in flight
// Small entries go to the workers in groups (see DecodeJob::group): one
// hand-over costs the calling thread about what decoding a few KB does, so
// entries up to kGroupEntry share one until it holds kGroupBytes of output
// or kGroupMembers entries. A group counts as one job in flight.
constexpr uint32_t kGroupEntry = 32u << 10;
constexpr uint32_t kGroupBytes = decompress::DecodePool::kHelperLimit;
constexpr uint32_t kGroupMembers = 16;
constexpr uint32_t kPendingRing = 512;  // entries read ahead, in all jobs
// Streamed jobs in flight, whose memory is counted apart from the others':
// one per worker, and no more than this.
constexpr uint32_t kMaxStreamed = 4;

// Bytes read ahead up to a read that failed, and then that failure.
class FailingSource final : public platform::ByteSource {
 public:
  FailingSource(const uint8_t* data, uint32_t size) : data_(data), size_(size) {}
  int32_t Read(void* buf, uint32_t count) override {
    if (at_ == size_) return -1;
    const uint32_t n = count < size_ - at_ ? count : size_ - at_;
    std::memcpy(buf, data_ + at_, n);
    at_ += n;
    return static_cast<int32_t>(n);
  }

 private:
  const uint8_t* data_;
  uint32_t size_;
  uint32_t at_ = 0;
};

// How far from an entry's data the decoder reads when the entry is intact:
// a stored entry its size, a compressed one its packed size and at most one
// word buffer beyond, which the bit input fetches ahead.
uint32_t ExpectedRead(const ArcEntry& e) {
  if (e.tech_type == decompress::kMethodStored) return e.orig_size;
  const uint32_t slack = decompress::kWordBufferBytes;
  return e.pack_size > UINT32_MAX - slack ? UINT32_MAX : e.pack_size + slack;
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// The part of a target path below the output path, as the directory that
// holds it and its last part.
struct BelowOutput {
  std::string whole;
  std::string dir;
  std::string name;
};

BelowOutput SplitBelow(const char* target, const char* output_path) {
  const size_t total = std::strlen(target);
  const size_t prefix = std::min(std::strlen(output_path), total);
  BelowOutput b;
  b.whole.assign(target + prefix, total - prefix);
  while (!b.whole.empty() && IsSeparator(b.whole.back())) b.whole.pop_back();
  size_t cut = b.whole.size();
  while (cut > 0 && !IsSeparator(b.whole[cut - 1])) --cut;
  b.dir = b.whole.substr(0, cut);
  b.name = b.whole.substr(cut);
  return b;
}

// The serial path's reads of a streamed entry once more, for the calling
// thread taking the entry on from a worker: the fetches that failed for the
// worker fail again, without a call, so the decoder meets what it met there.
class ReplayingSource final : public decompress::FetchingSource {
 public:
  ReplayingSource(platform::Handle h, uint8_t* buf, const decompress::StreamState& s)
      : h_(h), buf_(buf), s_(s) {}

 private:
  int32_t Fetch(uint32_t index, uint32_t size, const uint8_t** data) override {
    *data = buf_;
    for (uint32_t i = 0; i < s_.failures; ++i) {
      if (s_.failed[i] == index) return -1;
    }
    return platform::Read(buf_, size, h_);
  }

  platform::Handle h_;
  uint8_t* buf_;
  const decompress::StreamState& s_;
};

// Reads a solid archive's entries, which follow one another in the file,
// through one buffer that is filled whole: an entry's data usually lies in
// what was read for the entries before it and is then taken from there
// without a call. The bytes and counts a reader gets are those unbuffered
// reads from the entry's start would give.
class SolidSource final : public platform::ByteSource {
 public:
  explicit SolidSource(platform::Handle h) : h_(h) {}
  void UseBuffer(uint8_t* buf, uint32_t capacity) {
    buf_ = buf;
    capacity_ = capacity;
  }

  // Positions at `offset`. Data that is not all buffered from there to
  // `expect` bytes on is read afresh, after a seek made here; false when
  // that seek fails.
  bool Start(uint32_t offset, uint32_t expect) {
    if (offset >= base_ && offset - base_ <= end_ && end_ - (offset - base_) >= expect) {
      at_ = offset - base_;
      return true;
    }
    if (platform::Seek(h_, static_cast<int32_t>(offset), 0) == -1) return false;
    base_ = offset;
    at_ = end_ = 0;
    placed_ = true;
    return true;
  }

  // Another user of the handle may have moved it.
  void Moved() { placed_ = false; }

  int32_t Read(void* buf, uint32_t count) override {
    auto* dst = static_cast<uint8_t*>(buf);
    uint32_t done = 0;
    while (done < count) {
      if (at_ == end_) {
        const uint32_t from = base_ + end_;
        if (!placed_ && platform::Seek(h_, static_cast<int32_t>(from), 0) == -1) {
          return done == 0 ? -1 : static_cast<int32_t>(done);
        }
        placed_ = true;
        const int32_t got = platform::Read(buf_, capacity_, h_);
        if (got <= 0) {
          if (got < 0) placed_ = false;
          if (got < 0 && done == 0) return -1;
          break;
        }
        base_ = from;
        at_ = 0;
        end_ = static_cast<uint32_t>(got);
        const uint32_t n = std::min(end_, count - done);
        std::memcpy(dst + done, buf_, n);
        at_ = n;
        done += n;
        // The file ended within this request: it ends short, and the next
        // one asks the file again.
        if (end_ < capacity_) break;
        continue;
      }
      const uint32_t n = std::min(end_ - at_, count - done);
      std::memcpy(dst + done, buf_ + at_, n);
      at_ += n;
      done += n;
    }
    return static_cast<int32_t>(done);
  }

 private:
  platform::Handle h_;
  uint8_t* buf_ = nullptr;
  uint32_t capacity_ = 0;
  uint32_t base_ = 0;    // file offset of buf_[0]
  uint32_t at_ = 0;      // next unread byte in buf_
  uint32_t end_ = 0;     // end of the bytes in buf_
  bool placed_ = false;  // the handle stands at base_ + end_
};

class Driver {
 public:
  Driver(const Context& ctx, ExtractMode mode, platform::Handle archive, bool solid,
         const NameSet* selection)
      : ctx_(ctx),
        test_(mode == ExtractMode::kTest),
        rebuild_(mode == ExtractMode::kRebuild),
        solid_(solid),
        selection_(selection),
        archive_(archive) {}

  ~Driver() {
    // A driver given entries by Grow may go without a walk.
    pool_.Stop();
    while (pending_count_ != 0) DropFirst();
    for (uint32_t i = 0; i < kept_count_; ++i) Drop(kept_[i]);
    platform::Free(under_);
    for (uint32_t i = 0; i < spare_count_; ++i) platform::Free(spare_[i].memory);
    platform::Free(read_buffer_);
    platform::Free(write_buffer_);
    platform::Free(tail_);
    platform::Free(ahead_buffer_);
    platform::Free(save_);
  }

  const ArcEntry* at() const { return at_; }
  void set_selection(const NameSet* selection) { selection_ = selection; }

  Status Start(int32_t progress_phase) {
    read_buffer_ = static_cast<uint8_t*>(platform::Alloc(platform::kFileBufferBytes));
    if (!test_) write_buffer_ = static_cast<uint8_t*>(platform::Alloc(platform::kFileBufferBytes));
    if (read_buffer_ == nullptr || (!test_ && write_buffer_ == nullptr)) return kNoMemory;
    solid_source_.UseBuffer(read_buffer_, platform::kFileBufferBytes);
    decoder_ = decompress::NewDecoder();
    if (!decoder_) return kNoMemory;
    decoder_->progress.hook = ctx_.hooks.progress;
    decoder_->progress.pending_phase = progress_phase;
    return kOk;
  }

  // Walks an archive's list with `threads` workers decoding ahead: the
  // entries are read ahead in archive order (on this thread, within a
  // bound on memory), decoded by the workers, and reported and written here
  // in archive order just as Entry does. Without workers it is Entry's walk.
  // A solid archive's entries continue one window. Extracted with two
  // threads, one worker runs this thread's decoder over them in order (see
  // FillWhole), so that decoding overlaps the file calls made here.
  // Otherwise the workers only turn bits into tokens, and the window stays
  // here: each entry's tokens are applied to it in order (see Apply).
  // Tested, there are no file calls to overlap, but the split still pays
  // where entries are small: each starts with code tables to build, and
  // those are the symbol stage's.
  Status RunParallel(const ArcFileList& list, int threads) {
    if (const Status st = StartWorkers(threads); st != kOk) return st;
    ahead_ = list.first;
    return Walk(list);
  }

  // For a caller still listing the entries: `e` follows the entries given
  // before, and is read ahead at once when there is room, so that the
  // workers decode while the caller reads headers. More jobs may be in
  // flight meanwhile (nothing is reported until Walk), within the bytes'
  // bound. Takes nothing without workers.
  void Grow(const ArcEntry* e) {
    if (started_ <= 0) return;
    if (!listing_) {
      listing_ = true;
      listed_pending_ = max_pending_;
      max_pending_ = whole_ ? kWholeAhead : kMaxPending;
    }
    // Passed the last entry given so far, or not started.
    if (ahead_ == nullptr) ahead_ = e;
    if (whole_) {
      FillWhole();
    } else {
      Fill();
      // The group being formed waits for more entries unless the bounds
      // stopped the read-ahead, which would leave it waiting until Walk.
      if (ahead_ != nullptr) CloseGroup();
    }
    FeedNew();
  }

  // Sets up the workers RunParallel decodes on (none when the system gives
  // none: Entry then decodes every entry). Set before any entry is read
  // ahead; failures only for memory.
  Status StartWorkers(int threads) {
    whole_ = solid_ && threads == 2 && !test_;
    // In a solid archive split in two stages this thread has the window
    // stage of every entry to do besides the walk, about what one worker's
    // symbol stage takes: it counts as one of the threads.
    const int started = whole_   ? pool_.Start(1, false)
                        : solid_ ? pool_.Start(threads - 1)
                                 : pool_.Start(threads);
    if (started < 0) {
      pool_.Stop();
      return kNoMemory;
    }
    if (started == 0) whole_ = false;
    if (whole_) {
      save_ = static_cast<uint8_t*>(
          platform::Alloc(decompress::kWindowSize + decompress::kWordBufferBytes));
      if (save_ == nullptr) {
        pool_.Stop();
        return kNoMemory;
      }
      // The worker's decoder reports nothing: this thread replays the
      // reports from its own copy of the state (see Progress).
      progress_ = decoder_->progress;
      decoder_->progress.hook = ProgressHook{};
    }
    // The calling thread's own decoder for jobs it runs while the workers
    // are busy; taken before any entry, so that the calls made do not
    // depend on the workers' pace.
    if (started > 0 && !whole_) {
      helper_ = decompress::NewDecoder();
      if (!helper_) {
        pool_.Stop();
        return kNoMemory;
      }
    }
    // Normal archives keep entries back from the window (see Remember).
    if (started > 0 && !solid_) {
      under_ = static_cast<uint8_t*>(platform::Alloc(decompress::kWindowSize));
      if (under_ == nullptr) {
        pool_.Stop();
        return kNoMemory;
      }
    }
    if (started > 0) {
      ahead_buffer_ = static_cast<uint8_t*>(platform::Alloc(platform::kFileBufferBytes));
      if (ahead_buffer_ == nullptr) {
        pool_.Stop();
        return kNoMemory;
      }
      ahead_source_.UseBuffer(ahead_buffer_, platform::kFileBufferBytes);
    }
    // A normal archive's jobs are bounded by their bytes alone: at a few
    // per worker this thread and the workers kept waiting for each other
    // on small entries, and each wait is a sleep and a wake-up.
    max_pending_ = solid_ ? static_cast<uint32_t>(started) * 16 : kMaxPending;
    if (max_pending_ > kMaxPending) max_pending_ = kMaxPending;
    if (whole_) {
      max_pending_ = kWholeAhead;
      pool_.SetWakeBatch(static_cast<int>(kWholeBatch));
    }
    max_streamed_ = static_cast<uint32_t>(started) < kMaxStreamed ? static_cast<uint32_t>(started)
                                                                  : kMaxStreamed;
    budget_ = static_cast<size_t>(started + 1) * 2 * kJobLimit;
    started_ = started;
    ahead_ = nullptr;
    ahead_number_ = entry_number_;
    return kOk;
  }

  // RunParallel's walk once the workers are started, over `list`: what
  // Grow was given, or the start of it (the jobs read ahead for entries
  // past its end are dropped).
  Status Walk(const ArcFileList& list) {
    if (listing_) {
      listing_ = false;
      max_pending_ = listed_pending_;
      bool listed = false;
      for (const ArcEntry* e = list.first; e != nullptr && !listed; e = e->next) {
        listed = e == ahead_;
      }
      if (!listed) ahead_ = nullptr;
    }
    Status st = kOk;
    for (const ArcEntry* e = list.first; e != nullptr; e = e->next) {
      if (started_ > 0) ReadAhead();
      Pending* p = nullptr;
      if (pending_count_ != 0 && pending_[pending_first_].entry == e) p = &pending_[pending_first_];
      current_ = p;
      st = Entry(*e);
      // The run ends: the workers stop after their current chunk.
      if (st != kOk) pool_.Stop();
      if (p != nullptr) {
        // A job the entry did not use (the host kept the file there) may
        // still be running, or wait for room or data that will not come.
        if (p->job != nullptr && p->failure == kOk) {
          pool_.Drop(p->job);
          pool_.Wait(p->job);
        }
        DropFirst();
      }
      current_ = nullptr;
      if (e == barrier_) barrier_ = nullptr;
      if (st != kOk) break;
    }
    pool_.Stop();
    while (pending_count_ != 0) DropFirst();
    if (whole_) decoder_->progress = progress_;
    whole_ = false;
    return st;
  }

  // One entry of the walked list; a failure ends the run.
  //
  // Below the output path nothing is passed through a link: an entry whose
  // way down meets one is refused with 5, and a file is written to a
  // temporary file that takes the target's place only once its CRC-32 is
  // right, so a link or a second hard link at the target is replaced, not
  // written through, and a damaged entry leaves an existing file as it was.
  Status Entry(const ArcEntry& e) {
    at_ = &e;
    if (e.head_type != format::kHeadFile) return kOk;
    if (e.encrypted != 0) return kEncryptedEntry;
    const bool selected = selection_ == nullptr || selection_->Contains(e.name);
    const bool directory = (e.attr & platform::kAttrDirectory) != 0;
    char target[format::kPathSize];
    target[0] = '\0';
    if (!selected || test_) {
      if (directory) return kOk;
      if (test_) {
        ExtractTargetPath(e.name, ctx_.settings, target, sizeof target);
        ShowName(ctx_, e, target);
      }
      return Decode(e, nullptr);
    }
    char name[format::kPathSize];
    if (!WholeEntryName(archive_, e, name, sizeof name) ||
        !ExtractTargetPath(name, ctx_.settings, target, sizeof target, rebuild_)) {
      ShowName(ctx_, e, "");  // the host learns which entry has no room
      return kOpenFailed;
    }
    ShowName(ctx_, e, target);
    const char* base = ctx_.settings.output_path;
    const BelowOutput below = SplitBelow(target, base);
    using Result = platform::SafeDir::Result;
    using Kind = platform::SafeDir::Kind;
    Kind kind = Kind::kNone;
    const Result opened = OpenDir(base, below.dir);
    bool made_new = false;
    switch (opened) {
      case Result::kOk:
        if (!directory && !below.name.empty()) {
          // Mostly nothing stands at the target yet. Making the file there
          // at once, exclusively, then stands for the lookup and the rename
          // of a temporary file; it cannot meet anything to write through or
          // to spoil. Only when something is there does the host get asked.
          Output out{dir_, below.name.c_str(), dir_.CreateNew(below.name.c_str(), e.attr), {}};
          if (out.handle != platform::kBadHandle) return Decode(e, &out);
          made_new = true;
        }
        kind = below.name.empty() ? Kind::kDirectory : dir_.Lookup(below.name.c_str());
        // Nothing there, and still the file could not be made.
        if (made_new && kind == Kind::kNone) return kOpenFailed;
        break;
      case Result::kMissing:
        break;
      case Result::kLink:
      case Result::kFailed:
        return kOpenFailed;
    }
    if (kind == Kind::kLink && directory) return kOpenFailed;
    bool decode_only = false;
    if (kind != Kind::kNone) {
      char existing[format::kPathSize];
      select::StripSeparator(target, existing, sizeof existing);
      const ReplaceAnswer answer = AskReplace(ctx_, e, existing, kind == Kind::kFile);
      if (answer == kAnswerStop) return kCancelled;
      if (answer == kAnswerKeep) {
        // A solid archive still decodes the entry to keep the window right.
        if (!solid_) return kOk;
        decode_only = true;
      }
    }
    if (directory) {
      if (decode_only) return kOk;
      platform::SafeDir made;
      if (made.Open(base, below.whole.c_str(), true) != Result::kOk) return kOpenFailed;
      if (!below.name.empty()) made.SetAttributes(e.attr & ~platform::kAttrDirectory);
      return kOk;
    }
    if (decode_only) return Decode(e, nullptr);
    if (below.name.empty() || kind == Kind::kDirectory || kind == Kind::kOther) {
      return kOpenFailed;
    }
    if (opened != Result::kOk) {
      if (dir_.Open(base, below.dir.c_str(), true) != Result::kOk) return kOpenFailed;
      dir_below_ = below.dir;
      dir_ready_ = true;
    }
    Output out{dir_, below.name.c_str(), platform::kBadHandle, {}};
    out.handle = dir_.CreateTemp(out.temp, e.attr);
    if (out.handle == platform::kBadHandle) return kOpenFailed;
    return Decode(e, &out);
  }

 private:
  // Reads entries ahead and hands them to the workers while the jobs in
  // flight stay within the count and byte bounds (one is always allowed).
  // The calls made depend on the list alone, never on the workers' pace.
  void ReadAhead() {
    if (whole_) {
      FillWhole();
    } else {
      Fill();
      CloseGroup();
    }
    FeedNew();
  }

  // The fetches of the streamed jobs queued since the last call: first one
  // each, the largest entry's first (its worker has the longest way to
  // go), then the rest of each job's read-ahead in archive order. A job's
  // worker thus starts as soon as its first fetch is there, instead of
  // after all the fetches of the jobs before it. The blocks of a job's
  // first round of fetches are all free, and a worker that has gone through
  // its first fetch already waits for the next here as it would for any.
  void FeedNew() {
    Pending* order[kMaxStreamed];
    for (uint32_t i = 0; i < new_count_; ++i) {
      uint32_t at = i;
      for (; at > 0 && order[at - 1]->entry->orig_size < new_streamed_[i]->entry->orig_size; --at)
        order[at] = order[at - 1];
      order[at] = new_streamed_[i];
    }
    for (uint32_t i = 0; i < new_count_; ++i) FeedNew(*order[i], true);
    for (uint32_t i = 0; i < new_count_; ++i) FeedNew(*new_streamed_[i], false);
    new_count_ = 0;
  }

  // Read-ahead for the worker that runs decoder_ (extraction only): entries
  // it can take whole go to it in archive order, each with the number the
  // serial path gives it, and so do those too large to hold whole,
  // streamed. Any other entry that uses the decoder is a barrier: nothing
  // after it is handed over until this thread has decoded it; a streamed
  // one is a barrier as well, until it is through. After a job that did
  // not end cleanly the worker takes none; the rest is decoded here.
  void FillWhole() {
    while (ahead_ != nullptr && barrier_ == nullptr && !whole_broken_) {
      if (pending_count_ == kPendingRing) return;
      const ArcEntry& e = *ahead_;
      if (e.head_type != format::kHeadFile || (e.attr & platform::kAttrDirectory) != 0) {
        ahead_ = ahead_->next;
        continue;
      }
      if (!Parallel(e)) {
        barrier_ = &e;
        ahead_ = ahead_->next;
        ++ahead_number_;
        return;
      }
      if (Streamed(e)) {
        // Decoded by the worker while this thread writes it; nothing after
        // it is handed over until it is through, so one such job is in
        // flight at a time.
        if (pending_count_ != 0 && units_ == max_pending_) return;
        barrier_ = &e;
        ahead_ = ahead_->next;
        AddStreamed(e, ahead_number_++);
        return;
      }
      const uint32_t need = ExpectedRead(e);
      const uint32_t chunk_capacity = decompress::ChunkCapacity(static_cast<int32_t>(e.orig_size));
      const size_t cost = sizeof(decompress::DecodeJob) + need + e.orig_size +
                          chunk_capacity * sizeof(uint16_t) + alignof(decompress::DecodeJob) +
                          alignof(uint16_t);
      if (pending_count_ != 0 && (units_ == max_pending_ || pending_bytes_ + cost > budget_)) {
        return;
      }
      ahead_ = ahead_->next;
      const uint32_t number = ahead_number_++;
      Pending& p = pending_[(pending_first_ + pending_count_) % kPendingRing];
      p = Pending{&e, nullptr, 0, kOk, false, true};
      decompress::DecodeJob* job = NewJob(p, e, cost, need, chunk_capacity);
      if (job == nullptr) {
        barrier_ = &e;
        return;
      }
      PlaceBytes(job, true);
      job->whole = decoder_.get();
      job->entry_number = number;
      job->save = save_;
      const Status read = ReadWhole(e, job);
      if (read == kEnded) {
        FreeJob(job);
        barrier_ = &e;
        return;
      }
      p.job = job;
      p.cost = cost;
      p.failure = read;
      ++pending_count_;
      ++units_;
      pending_bytes_ += cost;
      if (read != kOk) {
        barrier_ = &e;
        return;
      }
      pool_.Submit(job);
    }
  }

  // Queues the group being formed.
  void CloseGroup() {
    if (group_head_ == nullptr) return;
    group_head_->load = group_bytes_;
    group_last_->ends_unit = true;
    pool_.Submit(group_head_);
    group_head_ = nullptr;
    group_last_ = nullptr;
    group_count_ = 0;
    group_bytes_ = 0;
  }

  void Fill() {
    while (ahead_ != nullptr) {
      if (pending_count_ == kPendingRing) return;
      const ArcEntry& e = *ahead_;
      if (!Parallel(e) || (solid_ && !SolidJob(e))) {
        ahead_ = ahead_->next;
        continue;
      }
      if (Streamed(e)) {
        CloseGroup();
        if (pending_count_ != 0 && (units_ == max_pending_ || streamed_ == max_streamed_)) {
          return;
        }
        ahead_ = ahead_->next;
        AddStreamed(e);
        continue;
      }
      const uint32_t need = ExpectedRead(e);
      const uint32_t chunk_capacity = decompress::ChunkCapacity(static_cast<int32_t>(e.orig_size));
      // A solid archive's job holds tokens where another holds bytes, and
      // a tested one neither.
      const uint32_t token_words = solid_ ? TokenWords(e.orig_size) : 0;
      const size_t result = solid_
                                ? (token_words + decompress::kTokenSlackWords) * sizeof(uint32_t) +
                                      chunk_capacity * sizeof(uint16_t) + alignof(uint32_t)
                            : BytesKept() ? e.orig_size
                                          : 0;
      const size_t cost = sizeof(decompress::DecodeJob) + need + result +
                          chunk_capacity * sizeof(uint16_t) + alignof(decompress::DecodeJob);
      const bool joins = e.orig_size <= kGroupEntry && group_head_ != nullptr &&
                         group_count_ < kGroupMembers && group_bytes_ + e.orig_size <= kGroupBytes;
      if (!joins) CloseGroup();
      if (pending_count_ != 0 &&
          ((!joins && units_ == max_pending_) || pending_bytes_ + cost > budget_)) {
        return;
      }
      ahead_ = ahead_->next;
      Pending& p = pending_[(pending_first_ + pending_count_) % kPendingRing];
      p = Pending{&e, nullptr, 0, kOk, false, true};
      decompress::DecodeJob* job = NewJob(p, e, cost, need, chunk_capacity);
      if (job == nullptr) continue;
      if (solid_) {
        job->tokens = reinterpret_cast<uint32_t*>(
            (reinterpret_cast<uintptr_t>(job->packed + need) + alignof(uint32_t) - 1) &
            ~static_cast<uintptr_t>(alignof(uint32_t) - 1));
        job->token_capacity = token_words;
        job->chunk_words =
            reinterpret_cast<uint16_t*>(job->tokens + token_words + decompress::kTokenSlackWords);
        job->chunks = job->chunk_words + chunk_capacity;
      } else {
        PlaceBytes(job, BytesKept());
      }
      job->load = e.orig_size;
      const Status read = ReadWhole(e, job);
      if (read == kEnded) {
        // The archive ends within what the decoder may fetch: the entry is
        // decoded here when its turn comes, as without workers.
        FreeJob(job);
        continue;
      }
      p.job = job;
      p.cost = cost;
      p.failure = read;
      ++pending_count_;
      pending_bytes_ += cost;
      if (read != kOk) {
        ++units_;
        continue;
      }
      if (e.orig_size > kGroupEntry) {
        ++units_;
        pool_.Submit(job);
        continue;
      }
      // Joins the group being formed, or starts one.
      p.ends_unit = false;
      if (group_head_ == nullptr) {
        ++units_;
        group_head_ = job;
      } else {
        group_last_->job->group = job;
      }
      group_last_ = &p;
      ++group_count_;
      group_bytes_ += e.orig_size;
    }
  }

  // Entries a worker may decode: files of a normal archive with data in a
  // method it knows.
  static bool Parallel(const ArcEntry& e) {
    return e.head_type == format::kHeadFile && e.encrypted == 0 &&
           (e.attr & platform::kAttrDirectory) == 0 &&
           (e.tech_type == decompress::kMethodStored || e.tech_type == decompress::kMethodLz77);
  }
  // In a solid archive workers take compressed entries that are held whole
  // to the symbol stage; the rest are decoded here. Their data is read
  // ahead through a buffer of its own.
  static bool SolidJob(const ArcEntry& e) {
    return e.tech_type == decompress::kMethodLz77 && !Streamed(e) && e.orig_size >= kSolidJobMin;
  }
  // Room for a solid job's tokens: the first chunk's most (see
  // DecodePool::RunTokens), and two bytes of tokens per byte after it,
  // which programs, with their many short matches, come near. An entry
  // that needs more is decoded here.
  static uint32_t TokenWords(uint32_t size) {
    const uint32_t first = size < decompress::kChunkSize ? size : decompress::kChunkSize;
    return first + decompress::kMaxMatch + size / 2 +
           decompress::ChunkCapacity(static_cast<int32_t>(size));
  }
  // Those too large to hold whole, decoded through a ring of chunks.
  static bool Streamed(const ArcEntry& e) {
    return e.orig_size > kJobLimit || e.pack_size > kJobLimit;
  }

  // A streamed job's memory, in one block: the job, its state, the ring of
  // chunks with their sizes (when tested: the sizes, and the last window)
  // and the file buffers of packed data.
  static constexpr size_t kStreamCost =
      sizeof(decompress::DecodeJob) + sizeof(decompress::StreamState) +
      decompress::kStreamSlots * (decompress::kChunkSize + sizeof(uint16_t)) +
      decompress::kStreamFetches * platform::kFileBufferBytes + alignof(decompress::DecodeJob);
  static constexpr size_t kWholeStreamCost =
      sizeof(decompress::DecodeJob) + sizeof(decompress::StreamState) +
      decompress::kWholeSlots * (decompress::kChunkSize + sizeof(uint16_t)) +
      decompress::kWholeFetches * platform::kFileBufferBytes + alignof(decompress::DecodeJob);
  static constexpr size_t kTestedStreamCost =
      sizeof(decompress::DecodeJob) + sizeof(decompress::StreamState) +
      decompress::kTestedSlots * sizeof(uint16_t) + decompress::kWindowSize +
      decompress::kTestedFetches * platform::kFileBufferBytes + alignof(decompress::DecodeJob);

  // Queues a streamed job for the entry and makes its first fetches; in a
  // solid archive for the worker that runs decoder_, as entry `number`.
  void AddStreamed(const ArcEntry& e, uint32_t number = 0) {
    using decompress::DecodeJob;
    using decompress::StreamState;
    Pending& p = pending_[(pending_first_ + pending_count_) % kPendingRing];
    p = Pending{&e, nullptr, 0, kOk, true, true};
    ++pending_count_;
    ++units_;
    ++streamed_;
    void* memory = platform::Alloc(test_    ? kTestedStreamCost
                                   : whole_ ? kWholeStreamCost
                                            : kStreamCost);
    if (memory == nullptr) {
      p.failure = kNoMemory;
      return;
    }
    auto* job = new (memory) DecodeJob;
    auto* s = new (job + 1) StreamState;
    job->stream = s;
    job->size = static_cast<int32_t>(e.orig_size);
    job->method = e.tech_type;
    auto* bytes = reinterpret_cast<uint8_t*>(s + 1);
    if (test_) {
      s->tail = bytes;
      bytes += decompress::kWindowSize;
      s->slot_count = decompress::kTestedSlots;
      s->batch = decompress::kTestedBatch;
      s->fetch_blocks = decompress::kTestedFetches;
    } else {
      s->slots = bytes;
      if (whole_) {
        s->slot_count = decompress::kWholeSlots;
        s->fetch_blocks = decompress::kWholeFetches;
      }
      bytes += s->slot_count * decompress::kChunkSize;
    }
    for (uint32_t b = 0; b < s->fetch_blocks; ++b) {
      s->blocks[b] = bytes;
      bytes += platform::kFileBufferBytes;
    }
    s->slot_sizes = reinterpret_cast<uint16_t*>(bytes);
    s->expect = s->expect_left = ExpectedRead(e);
    s->file_at = e.header_offset + e.head_size + 4;
    if (whole_) {
      job->whole = decoder_.get();
      job->entry_number = number;
      job->save = save_;
    }
    p.job = job;
    // Queued before its fetches, which FeedNew makes, so that a worker is
    // woken while they are read.
    pool_.Submit(job);
    new_streamed_[new_count_++] = &p;
  }

  // Makes a streamed job's fetches: the one of `asked` bytes its worker
  // waits for (0: none, before it starts), and after it those the blocks
  // have room for whose size does not depend on the request that will make
  // them. kOpenFailed when a seek fails.
  Status Feed(decompress::DecodeJob* job, uint32_t asked, uint32_t upto = UINT32_MAX) {
    decompress::StreamState& s = *job->stream;
    if (asked == 0 && s.Held()) return kOk;
    const uint32_t limit =
        s.delivered + s.fetch_blocks < upto ? s.delivered + s.fetch_blocks : upto;
    bool more = true;
    uint32_t size = asked;
    while (s.delivered < limit && more) {
      if (asked == 0) {
        if (s.expect_left < decompress::kWordBufferBytes) break;
        size = decompress::FetchingSource::FetchSize(s.expect_left, 0);
      }
      asked = 0;
      if (platform::Seek(archive_, static_cast<int32_t>(s.file_at), 0) == -1) return kOpenFailed;
      uint8_t* block = s.blocks[s.delivered % s.fetch_blocks];
      const int32_t got = platform::Read(block, size, archive_);
      if (got < 0 && s.failures < decompress::kStreamFailures) s.failed[s.failures++] = s.delivered;
      if (got > 0) s.file_at += static_cast<uint32_t>(got);
      s.expect_left = decompress::FetchingSource::ExpectAfter(s.expect_left, got);
      more = got == static_cast<int32_t>(size);
      pool_.Deliver(job, size, got);
    }
    return kOk;
  }

  // Reads the job's bytes: kOk, kEnded, or a failure for Pending.
  static constexpr Status kEnded = static_cast<Status>(UINT32_MAX - 1);
  Status ReadWhole(const ArcEntry& e, decompress::DecodeJob* job) {
    const uint32_t data_at = e.header_offset + e.head_size + 4;
    auto* dst = const_cast<uint8_t*>(job->packed);
    const uint32_t need = job->packed_size;
    // The entries lie one after another: most of a small one's data was
    // read with the ones before it, where a seek and a read of its own
    // would cost two calls for each.
    ahead_source_.Moved();
    if (!ahead_source_.Start(data_at, need)) return kOpenFailed;
    const int32_t n = ahead_source_.Read(dst, need);
    if (n < 0) {
      job->packed_size = 0;
      return kReadFailed;
    }
    // Short: the archive ends first (a file read gives all it has).
    return static_cast<uint32_t>(n) < need ? kEnded : kOk;
  }

  void DropFirst() {
    Pending& p = pending_[pending_first_];
    pending_bytes_ -= p.cost;
    if (p.streamed) --streamed_;
    if (p.ends_unit) --units_;
    if (p.job != nullptr) FreeJob(p.job);
    p = Pending{};
    pending_first_ = (pending_first_ + 1) % kPendingRing;
    --pending_count_;
  }

  // The folder below the output folder that the next file goes to, walked
  // part by part without following links; the one the last file went to is
  // kept open, since an archive lists a folder's files together and every
  // walk opens each part from the output folder down. An open folder cannot
  // be swapped for a link under the files written through it.
  platform::SafeDir::Result OpenDir(const char* base, const std::string& below) {
    if (dir_ready_ && below == dir_below_) return platform::SafeDir::Result::kOk;
    dir_ready_ = false;
    const platform::SafeDir::Result r = dir_.Open(base, below.c_str(), false);
    if (r == platform::SafeDir::Result::kOk) {
      dir_below_ = below;
      dir_ready_ = true;
    }
    return r;
  }

  // A file being extracted: the temporary file in the target's directory
  // and the name it takes once complete.
  struct Output {
    platform::SafeDir& dir;
    const char* name;
    platform::Handle handle;
    char temp[platform::SafeDir::kTempNameSize];
  };

  // Decodes the entry into `out` (none: decode only) and puts the finished
  // file in place. An entry a worker has decoded exactly is replayed from
  // its result; any other goes through the decoder here.
  Status Decode(const ArcEntry& e, Output* out) {
    Status status = kOk;
    decompress::DecodeJob* job = current_ != nullptr ? current_->job : nullptr;
    const Status failure = current_ != nullptr ? current_->failure : kOk;
    if (failure == kReadFailed) {
      // The decoder meets the failed read where it would have met it.
      FailingSource source(job->packed, job->packed_size);
      status = DecodeFrom(e, out, &source);
    } else if (failure != kOk) {
      status = failure;
    } else if (job != nullptr && job->stream != nullptr) {
      status = Stream(e, out, *job);
    } else if (job != nullptr && whole_) {
      pool_.Wait(job, Later());
      if (job->exact) {
        status = Replay(e, out, *job);
      } else {
        // The worker has put the decoder back and takes no more.
        whole_broken_ = true;
        status = DecodeHere(e, out);
      }
    } else if (job != nullptr) {
      if (helper_) {
        pool_.WaitOrRun(job, *helper_);
      } else {
        pool_.Wait(job);
      }
      if (job->exact && job->tokens != nullptr) {
        status = Apply(e, out, *job);
      } else if (job->exact) {
        status = Replay(e, out, *job);
        if (status == kOk) {
          Remember(job);
          current_->job = nullptr;  // kept for the window, freed from there
        }
      } else {
        status = DecodeHere(e, out);
      }
    } else {
      status = DecodeHere(e, out);
    }
    if (out != nullptr) {
      // A file made at its own name has no temporary name.
      const bool made_new = out->temp[0] == '\0';
      if (status != kOk) {
        platform::Close(out->handle);
      } else if (made_new) {
        out->dir.FinishNew(out->handle, out->name, e.attr, e.ftime);
      } else if (!out->dir.Commit(out->handle, out->temp, out->name, e.attr, e.ftime)) {
        status = kOpenFailed;
      }
      if (status != kOk) out->dir.Remove(made_new ? out->name : out->temp);
    }
    if (status != kOk) return status;
    ++entry_number_;
    return kOk;
  }

  Status DecodeHere(const ArcEntry& e, Output* out) {
    const uint32_t data_at = e.header_offset + e.head_size + 4;
    if (solid_) {
      if (!solid_source_.Start(data_at, ExpectedRead(e))) return kOpenFailed;
      const Status status = DecodeFrom(e, out, &solid_source_);
      solid_source_.Moved();  // the walk and the names read the handle between entries
      return status;
    }
    if (platform::Seek(archive_, static_cast<int32_t>(data_at), 0) == -1) return kOpenFailed;
    platform::BufferedFileSource source(archive_, read_buffer_, platform::kFileBufferBytes);
    source.Reset(ExpectedRead(e));
    return DecodeFrom(e, out, &source);
  }

  Status DecodeFrom(const ArcEntry& e, Output* out, platform::ByteSource* source) {
    platform::BufferedFileSink sink(out != nullptr ? out->handle : platform::kBadHandle,
                                    write_buffer_, platform::kFileBufferBytes);
    // The worker is idle and takes nothing until this entry is through: the
    // reports are made from the decoder here.
    if (whole_) decoder_->progress = progress_;
    decompress::DecoderStart(*decoder_, source, static_cast<int32_t>(e.orig_size), solid_,
                             entry_number_, e.tech_type);
    WatchReach();
    Status status =
        decompress::DecodeEntry(*decoder_, e.tech_type, out != nullptr ? &sink : nullptr);
    StopWatching();
    if (whole_) {
      progress_ = decoder_->progress;
      decoder_->progress.hook = ProgressHook{};
    }
    // What is still buffered is written before the checksum is looked at,
    // so that a short write wins over a mismatch as it did unbuffered.
    if (out != nullptr && status == kOk && !sink.Flush()) status = kShortWrite;
    if (status == kOk && decoder_->crc != e.crc32) status = kCrcMismatch;
    if (status == kOk && !solid_) KeepDecodedHere(e.orig_size);
    return status;
  }

  // DecodeEntry's reports and writes, chunk by chunk, from a worker's
  // result; `chunk(i, n)` gives chunk i's n bytes. The CRC is the caller's.
  template <typename Chunk>
  Status Deliver(Output* out, const decompress::DecodeJob& job, Chunk chunk) {
    platform::BufferedFileSink sink(out != nullptr ? out->handle : platform::kBadHandle,
                                    write_buffer_, platform::kFileBufferBytes);
    ProgressState& progress = Progress();
    progress.last_reported = 0;
    int32_t processed = 0;
    for (uint32_t i = 0; i < job.chunk_count; ++i) {
      const uint32_t n = job.chunks[i];
      const uint8_t* bytes = chunk(i, n);
      processed += static_cast<int32_t>(n);
      if (ReportProgress(progress, processed, job.size) != kOk) return kCancelled;
      if (out != nullptr && sink.Write(bytes, n) != static_cast<int32_t>(n)) return kShortWrite;
    }
    if (out != nullptr && !sink.Flush()) return kShortWrite;
    return kOk;
  }

  // The job read ahead kWholeBatch entries after the one at hand, or the
  // last one before that: this thread, when it has to wait, waits for
  // several (see DecodePool::Wait).
  decompress::DecodeJob* Later() const {
    decompress::DecodeJob* later = nullptr;
    for (uint32_t i = 1; i < pending_count_ && i <= kWholeBatch; ++i) {
      const Pending& p = pending_[(pending_first_ + i) % kPendingRing];
      // A streamed job goes on only as this thread takes its chunks.
      if (p.job == nullptr || p.failure != kOk || p.streamed) break;
      later = p.job;
    }
    return later;
  }

  // The state the reports of a worker's entry are made from: while a worker
  // runs decoder_, this thread's own copy.
  ProgressState& Progress() { return whole_ ? progress_ : decoder_->progress; }

  // A worker's decoded bytes.
  Status Replay(const ArcEntry& e, Output* out, const decompress::DecodeJob& job) {
    // What fits the write buffer would be copied there whole and written
    // once after the last report: it is written from where it lies, at
    // that same point.
    const bool at_once = static_cast<uint32_t>(job.size) <= platform::kFileBufferBytes;
    uint32_t at = 0;
    const Status status = Deliver(at_once ? nullptr : out, job, [&](uint32_t, uint32_t n) {
      const uint8_t* bytes = job.out != nullptr ? job.out + at : nullptr;
      at += n;
      return bytes;
    });
    if (status != kOk) return status;
    if (at_once && out != nullptr && at != 0 &&
        platform::Write(job.out, at, out->handle) != static_cast<int32_t>(at)) {
      return kShortWrite;
    }
    const uint32_t crc =
        job.whole != nullptr ? format::Crc32Update(format::kCrcInit, job.out, at) : job.crc;
    return crc != e.crc32 ? kCrcMismatch : kOk;
  }

  // A solid archive's entry from a worker's tokens: each chunk is made in
  // the window here before it is reported and written.
  Status Apply(const ArcEntry& e, Output* out, const decompress::DecodeJob& job) {
    decompress::Decoder& d = *decoder_;
    decompress::DecoderStart(d, nullptr, job.size, solid_, entry_number_,
                             decompress::kMethodStored);
    // A later entry decoded here may, if damaged, read what this one left
    // in the word buffer.
    std::memcpy(d.words, job.words, job.words_defined);
    const uint32_t* tokens = job.tokens;
    uint8_t* const buf = out != nullptr ? d.out : nullptr;
    const Status status = Deliver(out, job, [&](uint32_t i, uint32_t n) {
      decompress::ApplyTokens(d, tokens, job.chunk_words[i], n, buf);
      tokens += job.chunk_words[i];
      return buf;
    });
    if (status != kOk) return status;
    return d.crc != e.crc32 ? kCrcMismatch : kOk;
  }

  // DecodeEntry's reports and writes from a streamed job's chunks as the
  // worker hands them over, making the fetches it waits for. Where the
  // worker stops short of a clean end, the entry is decoded here from its
  // start, the chunks already written and reported passed over. A `whole`
  // job's worker decodes in decoder_'s own window, which it leaves as the
  // serial path would (or, stopping short, as it found it).
  Status Stream(const ArcEntry& e, Output* out, decompress::DecodeJob& job) {
    using decompress::kChunkSize;
    using decompress::kWindowMask;
    using decompress::kWindowSize;
    const decompress::StreamState& s = *job.stream;
    const bool own_window = job.whole == nullptr;
    if (s.slots != nullptr && own_window && tail_ == nullptr) {
      tail_ = static_cast<uint8_t*>(platform::Alloc(kWindowSize));
      if (tail_ == nullptr) return kNoMemory;
    }
    platform::BufferedFileSink sink(out != nullptr ? out->handle : platform::kBadHandle,
                                    write_buffer_, platform::kFileBufferBytes);
    ProgressState& progress = Progress();
    progress.last_reported = 0;
    const uint32_t size = e.orig_size;
    uint32_t processed = 0;
    uint32_t chunks = 0;
    uint32_t crc = format::kCrcInit;  // of a whole job's chunks, which its worker leaves to us
    for (;;) {
      uint32_t first = 0;
      uint32_t count = 0;
      const uint32_t asked = pool_.Next(&job, &first, &count);
      if (count == 0) {
        if (asked == 0) break;
        if (Feed(&job, asked) != kOk) return kOpenFailed;
        continue;
      }
      for (uint32_t i = first; i != first + count; ++i) {
        const uint32_t n = s.slot_sizes[i % s.slot_count];
        if (s.slots == nullptr) {
          processed += n;
          if (ReportProgress(progress, static_cast<int32_t>(processed), job.size) != kOk) {
            return kCancelled;
          }
          continue;
        }
        const uint8_t* chunk = s.slots + (i % s.slot_count) * kChunkSize;
        // The entry's last window of bytes, which the decoder here holds
        // once the entry is through.
        if (own_window && static_cast<uint64_t>(processed) + n + kWindowSize > size) {
          const uint32_t at = processed & kWindowMask;
          const uint32_t part = n < kWindowSize - at ? n : kWindowSize - at;
          std::memcpy(tail_ + at, chunk, part);
          std::memcpy(tail_, chunk + part, n - part);
        }
        processed += n;
        if (!own_window) crc = format::Crc32Update(crc, chunk, n);
        if (ReportProgress(progress, static_cast<int32_t>(processed), job.size) != kOk) {
          return kCancelled;
        }
        if (out != nullptr && sink.Write(chunk, n) != static_cast<int32_t>(n)) return kShortWrite;
      }
      chunks += count;
      pool_.Release(&job, count);
    }
    if (!job.exact) {
      // The worker has put the decoder back and takes no more.
      if (!own_window) whole_broken_ = true;
      return Resume(e, out, sink, job, chunks);
    }
    if (out != nullptr && !sink.Flush()) return kShortWrite;
    if ((own_window ? job.crc : crc) != e.crc32) return kCrcMismatch;
    if (!own_window) return kOk;
    if (s.slots == nullptr) {
      std::memcpy(decoder_->window, s.tail, size < kWindowSize ? size : kWindowSize);
    } else if (size >= kWindowSize) {
      std::swap(decoder_->window, tail_);
    } else {
      std::memcpy(decoder_->window, tail_, size);
    }
    decoder_->pos = size & kWindowMask;
    std::memcpy(decoder_->words, job.words, job.words_defined);
    KeepDecodedHere(size);
    return kOk;
  }

  // The rest of a streamed entry on this thread: decoded from its start
  // with the serial path's reads, the first `skip` chunks passed over.
  Status Resume(const ArcEntry& e, Output* out, platform::BufferedFileSink& sink,
                const decompress::DecodeJob& job, uint32_t skip) {
    const uint32_t data_at = e.header_offset + e.head_size + 4;
    if (platform::Seek(archive_, static_cast<int32_t>(data_at), 0) == -1) return kOpenFailed;
    ReplayingSource source(archive_, read_buffer_, *job.stream);
    source.Reset(ExpectedRead(e));
    // The worker is idle from here on, as in DecodeFrom.
    if (whole_) decoder_->progress = progress_;
    const int32_t reported = decoder_->progress.last_reported;
    decompress::DecoderStart(*decoder_, &source, static_cast<int32_t>(e.orig_size), solid_,
                             entry_number_, e.tech_type);
    decoder_->progress.last_reported = reported;
    WatchReach();
    Status status =
        decompress::DecodeEntry(*decoder_, e.tech_type, out != nullptr ? &sink : nullptr, skip);
    StopWatching();
    if (whole_) {
      progress_ = decoder_->progress;
      decoder_->progress.hook = ProgressHook{};
    }
    if (out != nullptr && status == kOk && !sink.Flush()) status = kShortWrite;
    if (status == kOk && decoder_->crc != e.crc32) status = kCrcMismatch;
    if (status == kOk && !solid_) KeepDecodedHere(e.orig_size);
    return status;
  }

  // Leaves the decoder here as decoding the job's entry would have: an
  // entry that comes later and is decoded here may, if damaged, read what
  // earlier entries left in the window and the word buffer.
  //
  // The window is rarely read again (only by a damaged entry decoded here),
  // so the job's bytes go in only when something reads them (see
  // PutKeptInPlace): the job is kept, with the ones before it whose bytes
  // it does not cover; when too much is kept, the oldest go in first.
  //
  // A tested entry's job keeps no bytes: nobody reads them, and writing
  // them costs its worker a copy and fresh memory. Such a job is decoded
  // again to put it in the window, which a sound archive needs only when
  // more than kMaxKeptTested entries, each smaller than the one before,
  // come in a row; the jobs read ahead after that keep their bytes, so
  // that no archive has its entries decoded twice.
  void Remember(decompress::DecodeJob* job) {
    static_assert(kJobLimit <= decompress::kWindowSize);
    Keep(Kept{job, static_cast<uint32_t>(job->size)});
    decoder_->pos = static_cast<uint32_t>(job->size) & decompress::kWindowMask;
    std::memcpy(decoder_->words, job->words, job->words_defined);
  }

  // An entry decoded here, of `size` bytes, is in the window already, over
  // the jobs kept before it.
  void KeepDecodedHere(uint32_t size) {
    Keep(Kept{nullptr, size < decompress::kWindowSize ? size : decompress::kWindowSize});
  }

  // A kept entry: a job, or (none) one decoded here, whose bytes the window
  // holds from position 0 on, over the jobs before it.
  struct Kept {
    decompress::DecodeJob* job;
    uint32_t size;
  };

  void Keep(Kept k) {
    while (kept_count_ != 0 && kept_[kept_count_ - 1].size <= k.size) {
      Drop(kept_[--kept_count_]);
    }
    // Kept before the oldest go in, so that an entry decoded here is put
    // back over them.
    kept_[kept_count_++] = k;
    kept_bytes_ += Held(k);
    const uint32_t most = test_ ? kMaxKeptTested : kMaxKept;
    const size_t limit = test_ ? kKeptTestedBytes : kJobLimit;
    while (kept_count_ > most || kept_bytes_ > limit) {
      if (kept_[0].job != nullptr && kept_[0].job->out == nullptr) redone_ = true;
      PutOldestInPlace();
    }
    // What lies under no kept job is in place already.
    while (kept_count_ != 0 && kept_[0].job == nullptr) PutOldestInPlace();
  }

  // What a kept entry holds: its bytes, its packed data, or nothing.
  static uint32_t Held(const Kept& k) {
    if (k.job == nullptr) return 0;
    return k.job->out != nullptr ? k.size : k.job->packed_size;
  }

  void Drop(const Kept& k) {
    kept_bytes_ -= Held(k);
    if (k.job != nullptr) FreeJob(k.job);
  }

  // Whether a job kept no bytes.
  bool BytesKept() const { return !test_ || redone_; }

  // The largest of the entries decoded here that are kept after the
  // oldest: the window's bytes from 0 up to it are theirs where no job is
  // laid over them yet.
  uint32_t DecodedHereSpan() const {
    uint32_t span = 0;
    for (uint32_t i = 1; i < kept_count_; ++i) {
      if (kept_[i].job == nullptr && kept_[i].size > span) span = kept_[i].size;
    }
    return span;
  }

  // Writes a kept job's bytes at the window's start: its own, or decoded
  // again by the helper's decoder into this one's window.
  void Lay(const decompress::DecodeJob& job) {
    if (job.out != nullptr) {
      std::memcpy(decoder_->window, job.out, static_cast<uint32_t>(job.size));
      return;
    }
    decompress::Decoder& h = *helper_;
    uint8_t* const own = h.window;
    const uint32_t own_backed = h.backed;
    h.window = decoder_->window;
    h.backed = decoder_->backed;
    decompress::RedoInWindow(h, job);
    decoder_->backed = h.backed;
    h.window = own;
    h.backed = own_backed;
  }

  // The oldest kept entry goes into the window, under the entries decoded
  // here after it, whose bytes are set aside and put back.
  void PutOldestInPlace() {
    const Kept k = kept_[0];
    if (k.job != nullptr) {
      const uint32_t span = DecodedHereSpan();
      std::memcpy(under_, decoder_->window, span);
      Lay(*k.job);
      std::memcpy(decoder_->window, under_, span);
    }
    Drop(k);
    --kept_count_;
    for (uint32_t i = 0; i < kept_count_; ++i) kept_[i] = kept_[i + 1];
  }

  // The window as the serial path has it, with the entry being decoded
  // here `at` bytes into it: that entry counts as the newest one decoded
  // here, and every kept one goes in under it.
  void PutKeptInPlace(uint32_t at) {
    Keep(Kept{nullptr, at});
    while (kept_count_ != 0) PutOldestInPlace();
  }

  // For an entry decoded here on decoder_: the kept jobs go into the window
  // only if the entry reads before its own start, which only damage makes
  // it do.
  void WatchReach() {
    if (kept_count_ == 0) return;
    decoder_->own_only = true;
    decoder_->before_reach = {&Driver::BeforeReach, this};
  }
  void StopWatching() {
    decoder_->own_only = false;
    decoder_->before_reach = {};
  }
  static void BeforeReach(void* context, uint32_t at) {
    auto* self = static_cast<Driver*>(context);
    self->PutKeptInPlace(at);
    self->decoder_->before_reach = {};
  }

  struct Pending;
  // A new streamed job's first fetch, or the rest of its first round; a
  // failure ends the job, and the entry fails with it when its turn comes.
  void FeedNew(Pending& p, bool first) {
    if (p.job == nullptr || p.failure != kOk) return;
    p.failure = Feed(p.job, 0, first ? 1 : p.job->stream->fetch_blocks);
    if (p.failure != kOk) {
      pool_.Drop(p.job);
      pool_.Wait(p.job);
    }
  }

  // The job of pending record `p` for `e`, in a block of `cost` bytes that
  // starts with its `need` bytes of packed data. Null when there is no
  // memory, and then `p` is queued as failed for want of it.
  decompress::DecodeJob* NewJob(Pending& p, const ArcEntry& e, size_t cost, uint32_t need,
                                uint32_t chunk_capacity) {
    size_t block = cost;
    void* memory = TakeBlock(&block);
    if (memory == nullptr) {
      p.failure = kNoMemory;
      ++pending_count_;
      ++units_;
      return nullptr;
    }
    auto* job = new (memory) decompress::DecodeJob;
    job->block_size = block;
    job->packed = reinterpret_cast<uint8_t*>(job + 1);
    job->packed_size = need;
    job->chunk_capacity = chunk_capacity;
    job->size = static_cast<int32_t>(e.orig_size);
    job->method = e.tech_type;
    return job;
  }
  // A job's decoded bytes (unless it keeps none), and its chunk sizes,
  // behind its packed data.
  static void PlaceBytes(decompress::DecodeJob* job, bool bytes) {
    uint8_t* const after = const_cast<uint8_t*>(job->packed) + job->packed_size;
    job->out = bytes ? after : nullptr;
    job->chunks = reinterpret_cast<uint16_t*>(
        (reinterpret_cast<uintptr_t>(after + (bytes ? job->size : 0)) + alignof(uint16_t) - 1) &
        ~static_cast<uintptr_t>(alignof(uint16_t) - 1));
  }

  // Job memory. The heap maps a large block afresh and unmaps it when
  // freed, and then every page of it costs the calling thread and a worker
  // a fault, so the large blocks of finished jobs are kept for the jobs
  // after them, up to kSpareBytes; one is taken for a job it fits without
  // wasting half.
  void* TakeBlock(size_t* size) {
    const size_t cost = *size;
    uint32_t best = kMaxSpare;
    for (uint32_t i = 0; i < spare_count_; ++i) {
      const size_t have = spare_[i].size;
      if (have >= cost && have / 2 <= cost && (best == kMaxSpare || have < spare_[best].size)) {
        best = i;
      }
    }
    if (best == kMaxSpare) return platform::Alloc(cost);
    void* memory = spare_[best].memory;
    *size = spare_[best].size;
    spare_bytes_ -= *size;
    spare_[best] = spare_[--spare_count_];
    return memory;
  }

  void FreeJob(decompress::DecodeJob* job) {
    const size_t block = job->block_size;
    job->~DecodeJob();
    if (block >= kSpareFrom && spare_count_ < kMaxSpare && spare_bytes_ + block <= kSpareBytes) {
      spare_[spare_count_++] = Spare{job, block};
      spare_bytes_ += block;
      return;
    }
    platform::Free(job);
  }

  const Context& ctx_;
  const ArcEntry* at_ = nullptr;  // the entry at hand
  const bool test_;
  const bool rebuild_;
  const bool solid_;
  const NameSet* selection_;
  platform::Handle archive_;
  uint8_t* read_buffer_ = nullptr;
  uint8_t* write_buffer_ = nullptr;
  uint8_t* tail_ = nullptr;  // a streamed entry's last window of bytes
  SolidSource solid_source_{archive_};
  SolidSource ahead_source_{archive_};  // reads the data of jobs ahead
  uint8_t* ahead_buffer_ = nullptr;
  decompress::DecoderPtr decoder_;
  decompress::DecoderPtr helper_;  // see RunParallel
  uint32_t entry_number_ = 1;
  // One worker runs decoder_ (see FillWhole): the reports' state while it
  // does, the decoder's saved state for a job that fails, the number of the
  // next entry read ahead, the entry that holds the read-ahead back, and
  // whether the worker has given up.
  bool whole_ = false;
  int started_ = 0;  // workers
  // Grow has taken entries that Walk has not reached yet; the bound on jobs
  // in flight to go back to then.
  bool listing_ = false;
  uint32_t listed_pending_ = 0;
  static constexpr uint32_t kWholeBatch = 8;
  static constexpr uint32_t kWholeAhead = 64;  // jobs in flight
  ProgressState progress_;
  uint8_t* save_ = nullptr;
  uint32_t ahead_number_ = 1;
  const ArcEntry* barrier_ = nullptr;
  bool whole_broken_ = false;
  platform::SafeDir dir_;  // see OpenDir
  std::string dir_below_;
  bool dir_ready_ = false;

  // The parallel path's state: the workers, the jobs read ahead (a ring in
  // archive order), the next entry to read ahead and the job of the entry
  // at hand.
  struct Pending {
    const ArcEntry* entry;
    decompress::DecodeJob* job;  // none when it could not be made
    size_t cost;
    // How reading ahead failed: kOpenFailed (the seek), kNoMemory, or
    // kReadFailed. The entry fails with it when its turn comes, as it
    // would have there.
    Status failure;
    bool streamed;   // counted in streamed_, not in the bytes
    bool ends_unit;  // the last entry of a job in flight (see units_)
  };
  static constexpr Status kReadFailed = static_cast<Status>(UINT32_MAX);
  decompress::DecodePool pool_;
  Pending pending_[kPendingRing] = {};
  uint32_t pending_first_ = 0;
  uint32_t pending_count_ = 0;
  uint32_t units_ = 0;  // jobs in flight: groups count once, within max_pending_
  // The group being formed while reading ahead.
  decompress::DecodeJob* group_head_ = nullptr;
  Pending* group_last_ = nullptr;  // its newest member
  uint32_t group_count_ = 0;
  uint32_t group_bytes_ = 0;
  uint32_t max_pending_ = 0;
  size_t pending_bytes_ = 0;
  size_t budget_ = 0;
  uint32_t streamed_ = 0;
  // Streamed jobs queued in this read-ahead, whose fetches FeedNew makes.
  Pending* new_streamed_[kMaxStreamed] = {};
  uint32_t new_count_ = 0;
  uint32_t max_streamed_ = 0;
  const ArcEntry* ahead_ = nullptr;
  Pending* current_ = nullptr;
  // Jobs replayed whose bytes the window has not taken yet (see Remember):
  // newest last, each smaller than the one before it.
  static constexpr uint32_t kMaxKept = 8;
  // Testing, jobs hold mostly their packed data.
  static constexpr uint32_t kMaxKeptTested = 32;
  static constexpr size_t kKeptTestedBytes = 4 * kJobLimit;
  // A tested job was decoded a second time to make room (see Remember).
  bool redone_ = false;
  Kept kept_[kMaxKeptTested + 1] = {};  // one more while the oldest go in
  uint32_t kept_count_ = 0;
  size_t kept_bytes_ = 0;
  // The window's start while kept jobs are laid under it: kWindowSize.
  uint8_t* under_ = nullptr;
  // Large blocks of finished jobs (see TakeBlock).
  static constexpr size_t kSpareFrom = 128u << 10;
  static constexpr uint32_t kMaxSpare = 4;
  static constexpr size_t kSpareBytes = 2 * kJobLimit;
  struct Spare {
    void* memory;
    size_t size;
  };
  Spare spare_[kMaxSpare] = {};
  uint32_t spare_count_ = 0;
  size_t spare_bytes_ = 0;
};

// Whether workers take part: from two threads on, in every mode (see
// RunParallel for how a solid archive is split).
bool UsesWorkers(int threads) {
  return threads >= 2;
}

}  // namespace

Status ExtractEntries(const Context& ctx, const ArcFileList& list, ExtractMode mode,
                      int32_t progress_phase) {
  format::ArcState& arc = ctx.arc;
  const bool solid = arc.solid != 0;
  format::EntryList complete;
  NameSet selection;
  const ArcFileList* walked = &list;
  const int threads = platform::ThreadCount();
  if (solid) {
    if (const Status st = BuildArchiveList(ctx, &complete.list, nullptr, ArcInfoRequest::kNever);
        st != kOk) {
      return st;
    }
    if (!selection.Build(list)) return kNoMemory;
    walked = &complete.list;
  }
  const platform::File archive(arc.archive_name, 'r');
  if (!archive) return kOpenFailed;
  Driver driver(ctx, mode, archive.get(), solid, solid ? &selection : nullptr);
  if (const Status st = driver.Start(progress_phase); st != kOk) return st;
  if (UsesWorkers(threads)) return driver.RunParallel(*walked, threads);
  for (const ArcEntry* e = walked->first; e != nullptr; e = e->next) {
    if (const Status st = driver.Entry(*e); st != kOk) return st;
  }
  return kOk;
}

Status ExtractList(const Context& ctx, const ArcFileList& list, ExtractMode mode,
                   const ArcFileList* selection, int threads, const ArcEntry** failed_at) {
  *failed_at = nullptr;
  format::ArcState& arc = ctx.arc;
  const bool solid = arc.solid != 0;
  NameSet names;
  if (selection != nullptr && !names.Build(*selection)) return kNoMemory;
  const platform::File archive(arc.archive_name, 'r');
  if (!archive) return kOpenFailed;
  Driver driver(ctx, mode, archive.get(), solid, selection != nullptr ? &names : nullptr);
  if (const Status st = driver.Start(0); st != kOk) return st;
  if (threads <= 0) threads = platform::ThreadCount();
  Status st = kOk;
  if (UsesWorkers(threads)) {
    st = driver.RunParallel(list, threads);
  } else {
    for (const ArcEntry* e = list.first; e != nullptr && st == kOk; e = e->next) {
      st = driver.Entry(*e);
    }
  }
  if (st != kOk) *failed_at = driver.at();
  return st;
}

struct ListedExtract::Impl {
  Impl(const Context& ctx, ExtractMode mode)
      : archive(ctx.arc.archive_name, 'r'),
        driver(ctx, mode, archive.get(), ctx.arc.solid != 0, nullptr) {}
  // The driver's workers stop before the handle they read through closes.
  platform::File archive;
  Driver driver;
  NameSet names;
};

ListedExtract::ListedExtract(const Context& ctx, ExtractMode mode, int threads)
    : ctx_(ctx), mode_(mode), threads_(threads > 0 ? threads : platform::ThreadCount()) {}

ListedExtract::~ListedExtract() {
  if (impl_ != nullptr) {
    impl_->~Impl();
    platform::Free(impl_);
  }
}

bool ListedExtract::Begin() {
  if (!UsesWorkers(threads_)) return false;
  void* memory = platform::Alloc(sizeof(Impl));
  if (memory == nullptr) return false;
  impl_ = new (memory) Impl(ctx_, mode_);
  return impl_->archive && impl_->driver.Start(0) == kOk &&
         impl_->driver.StartWorkers(threads_) == kOk;
}

void ListedExtract::Grow(const ArcEntry* e) {
  if (impl_ != nullptr) impl_->driver.Grow(e);
}

Status ListedExtract::Run(const ArcFileList& list, const ArcFileList* selection,
                          const ArcEntry** failed_at) {
  *failed_at = nullptr;
  if (selection != nullptr) {
    if (!impl_->names.Build(*selection)) return kNoMemory;
    impl_->driver.set_selection(&impl_->names);
  }
  const Status st = impl_->driver.Walk(list);
  if (st != kOk) *failed_at = impl_->driver.at();
  return st;
}

Status ExtractFileMaskListArc(const Context& ctx, const FileMaskList* masks) {
  ctx.arc.status = kOk;  // the walk below starts afresh
  format::EntryList list;
  if (const Status st = BuildArchiveList(ctx, &list.list, masks, ArcInfoRequest::kNever);
      st != kOk) {
    return st;
  }
  return ExtractEntries(ctx, list.list, ExtractMode::kExtract);
}

Status TestArc(const Context& ctx) {
  select::MaskList masks;
  select::AppendMask(ctx.arc, "*.*", masks.get());
  format::EntryList list;
  if (const Status st = BuildArchiveList(ctx, &list.list, masks.get()); st != kOk) return st;
  return ExtractEntries(ctx, list.list, ExtractMode::kTest);
}

Status ExtractForRebuild(const Context& ctx, const FileMaskList* masks, int32_t progress_phase) {
  ctx.arc.status = kOk;  // the walk below starts afresh
  format::EntryList list;
  if (const Status st = BuildArchiveList(ctx, &list.list, masks); st != kOk) return st;
  bool encrypted = false;
  for (const ArcEntry* e = list.list.first; e != nullptr; e = e->next) {
    encrypted |= e->encrypted != 0;
  }
  if (ctx.arc.password_set != 0 && encrypted) return kEncryptedRebuild;
  return ExtractEntries(ctx, list.list, ExtractMode::kRebuild, progress_phase);
}

}  // namespace acekit::ops
