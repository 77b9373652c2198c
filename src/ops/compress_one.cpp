#include "ops/compress_one.h"

#include <cstring>
#include <new>
#include <utility>

#include "format/crc32.h"
#include "format/records.h"
#include "ops/rebuild.h"
#include "platform/file.h"
#include "platform/stream.h"
#include "platform/thread.h"

namespace acekit::ops {
namespace {

constexpr uint32_t kStoreBufferBytes = 65536;
constexpr uint32_t kStoreChunk = 0x7F00;
constexpr uint32_t kCopyChunk = 16000;

// Item steps answer with an ItemStep, so the reason of a stop is kept in
// the writer's status word until the operation returns it (StopReason).
bool Fail(format::ArcState& arc, Status status) {
  arc.status = status;
  return false;
}

bool PutHeader(ItemWriter& w, const format::FileHeaderFields& fields, const char* stored) {
  uint8_t head[format::kFileHeaderFixed] = {};
  format::PackFileHeaderFields(fields, head);
  return format::WriteFileHeader(w.out, head, stored, w.names) || Fail(w.arc, kShortWrite);
}

bool SeekTo(ItemWriter& w, int32_t offset, int origin) {
  return platform::Seek(w.out, offset, origin) != -1 || Fail(w.arc, kOpenFailed);
}

// A source file from its start, as big as it was when opened: a short read
// that ends exactly there is taken for the end, without another read to
// confirm it. A file that has grown since reads on as before.
class SizedSource final : public platform::ByteSource {
 public:
  SizedSource(platform::Handle h, int32_t size) : h_(h), left_(size) {}
  int32_t Read(void* buf, uint32_t count) override {
    if (at_end_) return 0;
    const int32_t n = platform::Read(buf, count, h_);
    if (n > 0) {
      left_ -= n;
      at_end_ = left_ == 0 && static_cast<uint32_t>(n) < count;
    }
    return n;
  }

 private:
  platform::Handle h_;
  int64_t left_;
  bool at_end_ = false;
};

struct ItemResult {
  bool ok = false;
  bool stored = false;  // written as a plain copy
  bool empty = false;   // no data at all
};

// What is known of a file before its data: the open source, its time and
// size, and, when a worker parses it, the compressor's ticket.
struct Opened {
  uint32_t ftime = 0;
  int32_t size = 0;
  int ticket = -1;
  bool solid = false;  // a ticket of a solid run
};

// Codes a file into `sink` by whichever way it was prepared.
void Code(ItemWriter& w, const Opened& o, platform::ByteSource* in, platform::ByteSink* sink,
          bool restart) {
  if (o.ticket >= 0 && o.solid) {
    w.compressor.CompressSolid(o.ticket, in, sink, o.size, restart);
  } else if (o.ticket >= 0) {
    w.compressor.CompressParsed(o.ticket, in, sink, o.size);
  } else {
    w.compressor.CompressFile(in, sink, o.size, restart);
  }
}

// A header's fields for a file kept as it is, or as the compressor coded it.
void MarkStored(format::FileHeaderFields& f) {
  f.flags = format::kFileFlagPackSize;
  f.tech_type = 0;
  f.pack_size = f.orig_size;
}

void MarkCompressed(format::FileHeaderFields& f, const compress::Compressor& c) {
  f.tech_type = 1;
  f.pack_size = static_cast<uint32_t>(c.bytes_out());
  f.crc32 = c.crc();
}

// After the coded data went out behind a placeholder header at `header_pos`:
// the stored copy when compressing did not pay, then the final header, and
// the handle back at the end.
bool FinishInPlace(ItemWriter& w, const platform::File& src, format::FileHeaderFields& f,
                   const char* stored, int32_t header_pos, int32_t data_pos, ItemResult& r) {
  if (w.compressor.exceeded()) {
    if (platform::Seek(src.get(), 0, 0) == -1) return Fail(w.arc, kOpenFailed);
    if (!SeekTo(w, data_pos, 0)) return false;
    if (const Status st = StoreFileData(w, src.get(), &f.crc32); st != kOk) return Fail(w.arc, st);
    r.stored = true;
    MarkStored(f);
  } else {
    MarkCompressed(f, w.compressor);
  }
  if (!SeekTo(w, header_pos, 0) || !PutHeader(w, f, stored)) return false;
  if (r.stored) {
    // The abandoned compressed attempt may reach past the stored copy.
    if (!SeekTo(w, data_pos + static_cast<int32_t>(f.pack_size), 0)) return false;
    return platform::Truncate(w.out);
  }
  return SeekTo(w, 0, 2);
}

// A staged file's output: the placeholder header and the coded bytes gather
// in the stage. Should they outgrow it, what is held goes out and the rest
// follows straight through, to be finished in place.
class StagedSink final : public platform::ByteSink {
 public:
  StagedSink(platform::Handle out, uint8_t* room, uint32_t head)
      : out_(out), room_(room), used_(head) {}
  int32_t Write(const void* data, uint32_t n) override {
    if (header_pos_ == kHeld) {
      if (n <= ItemStage::kBytes - used_) {
        std::memcpy(room_ + used_, data, n);
        used_ += n;
        return static_cast<int32_t>(n);
      }
      header_pos_ = platform::Tell(out_);
      if (header_pos_ < 0) return -1;
      if (platform::Write(room_, used_, out_) != static_cast<int32_t>(used_)) return -1;
    }
    return platform::Write(data, n, out_);
  }
  bool held() const { return header_pos_ == kHeld; }
  // Where the header went when the bytes were let through; -1 when that
  // could not be told.
  int32_t header_pos() const { return header_pos_; }
  uint32_t used() const { return used_; }

 private:
  static constexpr int32_t kHeld = -2;
  platform::Handle out_;
  uint8_t* room_;
  uint32_t used_;
  int32_t header_pos_ = kHeld;
};

// Reads a file stored after all into the stage behind its header of
// `head_len` bytes and fills in the stored file's fields: the end of the
// staged bytes, 0 when the file does not fit after all, -1 on failure.
int32_t StageStoredCopy(ItemWriter& w, const platform::File& src, uint8_t* room, uint32_t head_len,
                        format::FileHeaderFields* f) {
  if (platform::Seek(src.get(), 0, 0) == -1) return Fail(w.arc, kOpenFailed), -1;
  uint32_t end = head_len;
  SizedSource in(src.get(), static_cast<int32_t>(f->orig_size));
  while (end < ItemStage::kBytes) {
    const int32_t n = in.Read(room + end, ItemStage::kBytes - end);
    if (n < 0) return Fail(w.arc, kOpenFailed), -1;
    if (n == 0) break;
    end += static_cast<uint32_t>(n);
  }
  if (end == ItemStage::kBytes) return 0;
  f->crc32 = format::Crc32Update(format::kCrcInit, room + head_len, end - head_len);
  MarkStored(*f);
  return static_cast<int32_t>(end);
}

// Puts the final header over the placeholder at the stage's start and
// writes the stage's first `end` bytes.
bool WriteStaged(ItemWriter& w, const format::FileHeaderFields& f, const char* stored,
                 uint8_t* room, uint32_t end) {
  uint8_t head[format::kFileHeaderFixed] = {};
  format::PackFileHeaderFields(f, head);
  format::BuildFileHeader(head, stored, w.names, room);
  return platform::Write(room, end, w.out) == static_cast<int32_t>(end) || Fail(w.arc, kShortWrite);
}

// The steps after opening: the header, the data (compressed, or stored
// when compressing does not pay) and the final header. `flags` already
// holds what a compressed or empty file's header carries.
ItemResult CompressOpened(ItemWriter& w, const platform::File& src, const Opened& o,
                          const char* stored, uint32_t attr, uint16_t flags, bool restart,
                          ItemStage* stage) {
  ItemResult r;
  format::FileHeaderFields f;
  f.attr = attr;
  f.tech_parm = w.dict_code;
  f.flags = flags;
  f.ftime = o.ftime;
  const int32_t size = o.size;
  if (size == 0) {
    r.empty = true;
    r.ok = PutHeader(w, f, stored);
    return r;
  }
  f.orig_size = static_cast<uint32_t>(size);
  // A file handed ahead was read there; here only what follows the bytes
  // taken, when it held more than its size said.
  platform::FileSource rest(src.get());
  SizedSource whole(src.get(), size);
  platform::ByteSource& in = o.ticket >= 0 ? static_cast<platform::ByteSource&>(rest) : whole;

  uint8_t* const room = stage != nullptr && static_cast<uint32_t>(size) <= ItemStage::kFileBytes
                            ? stage->get()
                            : nullptr;
  if (room != nullptr) {
    // Only the placeholder's length matters: the final header has the same.
    uint8_t head[format::kFileHeaderFixed] = {};
    format::PackFileHeaderFields(format::FileHeaderFields{}, head);
    const uint32_t head_len = format::BuildFileHeader(head, stored, w.names, room);
    StagedSink sink(w.out, room, head_len);
    Code(w, o, &in, &sink, restart);
    if (sink.header_pos() == -1) return Fail(w.arc, kOpenFailed), r;
    if (w.compressor.status() != kOk)
      return Fail(w.arc, static_cast<Status>(w.compressor.status())), r;
    int32_t header_pos = sink.header_pos();
    if (sink.held() && !w.compressor.exceeded()) {
      // The usual case: header and data in one write.
      MarkCompressed(f, w.compressor);
      r.ok = WriteStaged(w, f, stored, room, sink.used());
      return r;
    }
    if (sink.held()) {
      // Stored after all: a copy that fits the stage goes out behind its
      // header in one write too; the placeholder goes first otherwise.
      if (const int32_t end = StageStoredCopy(w, src, room, head_len, &f); end < 0) {
        return r;
      } else if (end > 0) {
        r.stored = true;
        r.ok = WriteStaged(w, f, stored, room, static_cast<uint32_t>(end));
        return r;
      }
      header_pos = platform::Tell(w.out);
      if (header_pos < 0) return Fail(w.arc, kOpenFailed), r;
      if (platform::Write(room, head_len, w.out) != static_cast<int32_t>(head_len))
        return Fail(w.arc, kShortWrite), r;
    }
    r.ok = FinishInPlace(w, src, f, stored, header_pos, header_pos + static_cast<int32_t>(head_len),
                         r);
    return r;
  }

  const int32_t header_pos = platform::Tell(w.out);
  if (header_pos < 0) return Fail(w.arc, kOpenFailed), r;
  if (!PutHeader(w, format::FileHeaderFields{}, stored)) return r;
  const int32_t data_pos = platform::Tell(w.out);
  if (data_pos < 0) return Fail(w.arc, kOpenFailed), r;
  platform::FileSink sink(w.out);
  Code(w, o, &in, &sink, restart);
  if (w.compressor.status() != kOk)
    return Fail(w.arc, static_cast<Status>(w.compressor.status())), r;
  r.ok = FinishInPlace(w, src, f, stored, header_pos, data_pos, r);
  return r;
}

// The steps both forms share.
ItemResult CompressItem(ItemWriter& w, const char* source, const char* stored, uint32_t attr,
                        uint16_t flags, bool restart) {
  const platform::File src(source, 'r');
  if (!src) return Fail(w.arc, kOpenFailed), ItemResult{};
  Opened o;
  if (platform::GetPackedFileTime(src.get(), &o.ftime) != 0) {
    return Fail(w.arc, kOpenFailed), ItemResult{};
  }
  o.size = platform::Size(src.get());
  if (o.size < 0) return Fail(w.arc, kOpenFailed), ItemResult{};
  return CompressOpened(w, src, o, stored, attr, flags, restart, nullptr);
}

// An item of AddItems as far as it was looked at ahead of its turn.
struct Ahead {
  uint32_t attr = platform::kNoAttributes;
  platform::File src;
  bool time_read = false;
  Opened opened;
  // Coded by the compressor itself (large, or no worker took it): nothing
  // after it is read before it is written.
  bool barrier = false;
  // Opened, and waits for room among the files coded ahead.
  bool waiting = false;
};

// Hands an opened file to the compressor's workers, or leaves it waiting.
void HandAhead(ItemWriter& w, Ahead& a) {
  SizedSource in(a.src.get(), a.opened.size);
  bool too_large = false;
  const int ticket = w.compressor.ParseAhead(&in, a.opened.size, &too_large);
  a.waiting = ticket == -2;
  if (a.waiting) return;
  a.opened.ticket = ticket;
  a.barrier = ticket < 0 || too_large;
}

// Opens an item's source and takes what its header needs, in one look at
// the open file. True for a file with data to code; AddAhead and
// AddAheadSolid sort out the rest (missing, a directory, unreadable, empty)
// from what was kept.
bool OpenItem(const char* path, Ahead& a) {
  a = Ahead{};
  platform::ReadFacts facts;
  a.src = platform::File(platform::OpenToRead(path, &facts));
  a.attr = facts.attributes;
  if (!a.src) return false;
  a.time_read = facts.time_ok;
  if (!a.time_read) return false;
  a.opened.ftime = facts.packed_time;
  a.opened.size = facts.size;
  return a.opened.size > 0;
}

void LookAhead(ItemWriter& w, const ItemText& item, Ahead& a) {
  if (OpenItem(item.source, a)) HandAhead(w, a);
}

// LookAhead for a file of a solid run, which continues the files before
// it unless `known` says how it starts. False: not now (the compressor's
// buffers are full), nothing kept.
bool LookAheadSolid(ItemWriter& w, const char* path, Ahead& a, bool restart, bool known) {
  if (!OpenItem(path, a)) return true;
  SizedSource in(a.src.get(), a.opened.size);
  bool too_large = false;
  const int ticket = w.compressor.SolidAhead(&in, a.opened.size, restart, known, &too_large);
  if (ticket == -2) {
    a = Ahead{};
    return false;
  }
  a.opened.ticket = ticket;
  a.opened.solid = true;
  a.barrier = ticket < 0 || too_large;
  return true;
}

// AddOneFileSolid for an item looked at ahead; takes over its source.
ItemStep AddAheadSolid(ItemWriter& w, const SolidItem& item, Ahead& a, const SolidChain& chain,
                       ItemStage* stage) {
  const ItemStep unchanged = chain.restart ? kStepRestart : kStepContinue;
  if (a.attr == platform::kNoAttributes) {
    if (!w.hooks.skip) return Fail(w.arc, kOpenFailed), kStepStop;
    const SkipAnswer answer = w.hooks.skip.Call(item.path);
    if (answer == kSkipLeaveOut) return unchanged;
    if (answer == kSkipStop) return Fail(w.arc, kCancelled), kStepStop;
    return static_cast<ItemStep>(answer);
  }
  if ((a.attr & platform::kAttrDirectory) != 0) {
    return WriteDirectoryHeader(w, item.path, item.stored, a.attr) != kStepStop ? unchanged
                                                                                : kStepStop;
  }
  const platform::File src(std::move(a.src));
  if (!src || !a.time_read || a.opened.size < 0) return Fail(w.arc, kOpenFailed), kStepStop;
  const ItemResult r =
      CompressOpened(w, src, a.opened, item.stored, a.attr, chain.flags | format::kFileFlagPackSize,
                     chain.restart, stage);
  if (!r.ok) return kStepStop;
  if (r.empty) return unchanged;
  return r.stored ? kStepRestart : kStepContinue;
}

// AddOneFile for an item looked at ahead; takes over its source.
ItemStep AddAhead(ItemWriter& w, const ItemText& item, Ahead& a, ItemStage* stage) {
  if (a.attr == platform::kNoAttributes) {
    if (!w.hooks.skip) return Fail(w.arc, kOpenFailed), kStepStop;
    const SkipAnswer answer = w.hooks.skip.Call(item.source);
    if (answer == kSkipStop) return Fail(w.arc, kCancelled), kStepStop;
    return static_cast<ItemStep>(answer);
  }
  if ((a.attr & platform::kAttrDirectory) != 0) {
    return WriteDirectoryHeader(w, item.source, item.stored, a.attr);
  }
  const platform::File src(std::move(a.src));
  if (!src || !a.time_read || a.opened.size < 0) return Fail(w.arc, kOpenFailed), kStepStop;
  return CompressOpened(w, src, a.opened, item.stored, a.attr, format::kFileFlagPackSize, true,
                        stage)
                 .ok
             ? kStepRestart
             : kStepStop;
}

// Civil date of a count of days since 1970-01-01.
void CivilFromDays(int64_t z, int* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2 ? 1 : 0));
}

bool PackSeconds(int64_t s, uint32_t* packed) {
  int64_t days = s / 86400;
  int64_t rest = s % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  int y;
  unsigned m, d;
  CivilFromDays(days, &y, &m, &d);
  if (y < 1980 || y > 2107) return false;
  const auto date = static_cast<uint32_t>(((y - 1980) << 9) | (m << 5) | d);
  const auto time =
      static_cast<uint32_t>(((rest / 3600) << 11) | (((rest / 60) % 60) << 5) | ((rest % 60) / 2));
  *packed = (date << 16) | time;
  return true;
}

int64_t UnixSeconds(const FindTime& t) {
  const uint64_t ticks = (static_cast<uint64_t>(t.high) << 32) | t.low;
  return static_cast<int64_t>(ticks / 10000000ull) - 11644473600ll;
}

}  // namespace

bool PackedLocalTime(const FindTime& t, uint32_t* packed) {
  // The platform converts local DOS times to file times; walking that
  // conversion backwards finds the zone's offset at this moment, daylight
  // saving included, without a second source of time-zone rules.
  const int64_t target = UnixSeconds(t);
  int64_t guess = target;
  uint32_t p = 0;
  for (int i = 0; i < 3; ++i) {
    if (!PackSeconds(guess, &p)) return false;
    FindTime back{};
    if (!platform::DosTimeToFileTime(p, &back)) return false;
    const int64_t diff = target - UnixSeconds(back);
    if (diff > -2 && diff < 2) break;
    guess += diff;
  }
  *packed = p;
  return true;
}

Status StoreFileData(ItemWriter& w, platform::Handle source, uint32_t* crc) {
  auto* buf = static_cast<uint8_t*>(platform::Alloc(kStoreBufferBytes));
  if (buf == nullptr) return kNoMemory;
  Status st = platform::Seek(source, 0, 0) != -1 ? kOk : kOpenFailed;
  uint32_t c = format::kCrcInit;
  while (st == kOk) {
    const int32_t n = platform::Read(buf, kStoreChunk, source);
    if (n == 0) break;
    if (n < 0) {
      st = kOpenFailed;
      break;
    }
    c = format::Crc32Update(c, buf, static_cast<size_t>(n));
    const int32_t written = platform::Write(buf, static_cast<uint32_t>(n), w.out);
    if (written < 0) st = kOpenFailed;
    if (written >= 0 && written < n) st = kShortWrite;
  }
  platform::Free(buf);
  *crc = c;
  return st;
}

Status CopyArchiveBytes(platform::Handle archive, platform::Handle out, uint32_t offset,
                        uint32_t length) {
  if (platform::Seek(archive, static_cast<int32_t>(offset), 0) == -1) return kOpenFailed;
  uint8_t buf[kCopyChunk];
  while (length != 0) {
    const uint32_t chunk = length < kCopyChunk ? length : kCopyChunk;
    // An archive that ends before its entry does would be copied with
    // whatever the buffer held; a rebuild must not carry that on.
    if (platform::Read(buf, chunk, archive) != static_cast<int32_t>(chunk)) return kOpenFailed;
    if (platform::Write(buf, chunk, out) != static_cast<int32_t>(chunk)) return kShortWrite;
    length -= chunk;
  }
  return kOk;
}

Status StopReason(const ItemWriter& w) {
  return w.arc.status != kOk ? static_cast<Status>(w.arc.status) : kStopped;
}

struct ItemTexts::Block {
  Block* next;
  size_t used;
  size_t size;
  char text[1];
};

ItemTexts::~ItemTexts() {
  while (blocks_ != nullptr) {
    Block* b = blocks_;
    blocks_ = b->next;
    platform::Free(b);
  }
  if (p_ != nullptr) platform::Free(p_);
}

bool ItemTexts::Set(size_t i, const char* source, const char* stored) {
  const size_t a = std::strlen(source) + 1;
  const size_t b = std::strlen(stored) + 1;
  if (blocks_ == nullptr || blocks_->size - blocks_->used < a + b) {
    constexpr size_t kBlockText = 65536;
    const size_t size = a + b > kBlockText ? a + b : kBlockText;
    auto* block = static_cast<Block*>(platform::Alloc(sizeof(Block) + size));
    if (block == nullptr) return false;
    block->next = blocks_;
    block->used = 0;
    block->size = size;
    blocks_ = block;
  }
  char* at = blocks_->text + blocks_->used;
  std::memcpy(at, source, a);
  std::memcpy(at + a, stored, b);
  blocks_->used += a + b;
  p_[i] = ItemText{at, at + a};
  return true;
}

// Items looked at ahead, in a ring: enough to keep every worker busy while
// the files between are written (the compressor bounds the bytes).
constexpr size_t kReach = 64;

Status AddItems(ItemWriter& w, const ItemText* items, size_t count) {
  Ahead ring[kReach];
  ItemStage stage;
  size_t looked = 0;  // items looked at so far
  size_t barrier = count;
  struct Cleanup {
    ItemWriter& w;
    Ahead* ring;
    size_t& from;
    size_t& to;
    ~Cleanup() {
      for (size_t i = from; i < to; ++i) ring[i % kReach].src.Close();
      w.compressor.DropParses();
    }
  };
  size_t i = 0;
  Cleanup cleanup{w, ring, i, looked};
  char shown[kItemTextSize + 1];
  for (; i < count; ++i) {
    if (barrier < i) barrier = count;
    for (;;) {
      // The last item looked at may wait for room; it goes first.
      if (looked > i && ring[(looked - 1) % kReach].waiting) {
        Ahead& a = ring[(looked - 1) % kReach];
        HandAhead(w, a);
        if (a.waiting) break;
        if (a.barrier) barrier = looked - 1;
        continue;
      }
      if (looked == count || looked >= i + kReach || barrier != count) break;
      Ahead& a = ring[looked % kReach];
      LookAhead(w, items[looked], a);
      if (a.barrier) barrier = looked;
      ++looked;
    }
    if (looked == i) {
      LookAhead(w, items[looked], ring[looked % kReach]);
      ++looked;
    }
    Ahead& a = ring[i % kReach];
    ShownName(items[i].stored, shown, sizeof shown);
    w.hooks.file_name.Call(items[i].source, shown);
    const ItemStep step = AddAhead(w, items[i], a, &stage);
    if (step == kStepStop) {
      ++i;
      return StopReason(w);
    }
  }
  return kOk;
}

// Files of a solid run looked at ahead: enough for the compressor's groups
// of small files to keep every worker busy.
constexpr size_t kSolidReach = 256;

Status AddSolidItems(ItemWriter& w, const SolidItem* items, size_t count) {
  // Heap: an array of open files and their state.
  auto* ring = static_cast<Ahead*>(platform::Alloc(kSolidReach * sizeof(Ahead)));
  if (ring == nullptr) return kNoMemory;
  for (size_t k = 0; k < kSolidReach; ++k) new (&ring[k]) Ahead;
  const bool ahead = w.compressor.ParseSlots() > 0;
  size_t looked = 0;
  size_t barrier = count;
  size_t i = 0;
  struct Cleanup {
    ItemWriter& w;
    Ahead* ring;
    ~Cleanup() {
      w.compressor.DropParses();
      for (size_t k = 0; k < kSolidReach; ++k) ring[k].~Ahead();
      platform::Free(ring);
    }
  } cleanup{w, ring};
  SolidChain chain;
  ItemStage stage;
  char shown[kItemTextSize + 1];
  for (; i < count; ++i) {
    if (barrier < i) barrier = count;
    while (ahead && looked < count && looked < i + kSolidReach && barrier == count) {
      Ahead& a = ring[looked % kSolidReach];
      const bool known = looked == i;
      if (!LookAheadSolid(w, items[looked].path, a, known && chain.restart, known)) break;
      if (a.barrier) barrier = looked;
      ++looked;
    }
    const SolidItem& item = items[i];
    ShownName(item.stored, shown, sizeof shown);
    w.hooks.file_name.Call(item.shown, shown);
    ItemStep r;
    if (looked == i) {
      r = AddOneFileSolid(w, item.path, item.stored, chain, &stage);
      ++looked;
    } else {
      r = AddAheadSolid(w, item, ring[i % kSolidReach], chain, &stage);
    }
    if (r == kStepStop) return StopReason(w);
    chain.Apply(r);
    if (w.arc.status != kOk) return static_cast<Status>(w.arc.status);
  }
  return kOk;
}

ItemStep CompressOneFile(ItemWriter& w, const char* source, const char* stored, uint32_t attr) {
  return CompressItem(w, source, stored, attr, format::kFileFlagPackSize, true).ok ? kStepRestart
                                                                                   : kStepStop;
}

ItemStep CompressOneFileSolid(ItemWriter& w, const char* source, const char* stored, uint16_t flags,
                              bool restart, uint32_t attr) {
  const ItemResult r =
      CompressItem(w, source, stored, attr, flags | format::kFileFlagPackSize, restart);
  if (!r.ok) return kStepStop;
  // An empty file leaves the chain where it was; a stored one breaks it.
  if (r.empty) return restart ? kStepRestart : kStepContinue;
  return r.stored ? kStepRestart : kStepContinue;
}

ItemStep WriteDirectoryHeader(ItemWriter& w, const char* dir, const char* stored, uint32_t attr) {
  FindData found{};
  const platform::FindHandle h = platform::FindFirst(dir, &found);
  if (h == platform::kBadFind) {
    if (w.hooks.skip) {
      const SkipAnswer answer = w.hooks.skip.Call(dir);
      if (answer == kSkipLeaveOut) return kStepRestart;
      if (answer == kSkipStop) return Fail(w.arc, kCancelled), kStepStop;
    }
    return Fail(w.arc, kOpenFailed), kStepStop;
  }
  platform::FindClose(h);

  format::FileHeaderFields f;
  f.attr = attr;
  f.tech_type = 1;
  f.tech_parm = w.dict_code;
  if (!PackedLocalTime(found.creation_time, &f.ftime)) f.ftime = 0;
  char name[format::kPathSize];
  format::CopyText(name, sizeof name, stored);
  const size_t len = std::strlen(name);
  if (len >= 4 && name[len - 1] == '\\') name[len - 1] = '\0';
  return PutHeader(w, f, name) ? kStepRestart : kStepStop;
}

// Both take the look-ahead path with nothing handed ahead: the same
// dispatch by attributes and host questions, with the source opened once.
ItemStep AddOneFile(ItemWriter& w, const char* source, const char* stored, ItemStage* stage) {
  Ahead a;
  OpenItem(source, a);
  return AddAhead(w, ItemText{source, stored}, a, stage);
}

ItemStep AddOneFileSolid(ItemWriter& w, const char* source, const char* stored,
                         const SolidChain& chain, ItemStage* stage) {
  Ahead a;
  OpenItem(source, a);
  return AddAheadSolid(w, SolidItem{source, stored, source}, a, chain, stage);
}

ItemStage::~ItemStage() {
  if (buf_ != nullptr) platform::Free(buf_);
}

uint8_t* ItemStage::get() {
  if (buf_ == nullptr) buf_ = static_cast<uint8_t*>(platform::Alloc(kBytes));
  return buf_;
}

}  // namespace acekit::ops
