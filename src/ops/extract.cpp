#include "ops/extract.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "common/status.h"
#include "decompress/decoder.h"
#include "format/records.h"
#include "ops/entry_walk.h"
#include "ops/extract_paths.h"
#include "platform/file.h"
#include "platform/platform.h"
#include "platform/stream.h"
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
      UpperCopy(e->name, slot, kNameSize);
      sorted_[count_++] = slot;
    }
    std::sort(sorted_, sorted_ + count_, Less);
    return true;
  }

  bool Contains(const char* name) const {
    if (count_ == 0) return false;
    char upper[kNameSize];
    UpperCopy(name, upper, sizeof upper);
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
  AppendText(source, sizeof source, e.name);
  char shown[kPathSize];
  const char* temp = ctx.arc.temp_path;
  if (temp[0] != '\0') {
    AddSeparator(temp, shown, sizeof shown);
    const PathParts parts = SplitPath(target);
    AppendText(shown, sizeof shown, parts.name);
    AppendText(shown, sizeof shown, parts.ext);
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
  CopyText(rec->name, sizeof rec->name, e.name);
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

class Driver {
 public:
  Driver(const Context& ctx, ExtractMode mode, platform::Handle archive, bool solid,
         const NameSet* selection)
      : ctx_(ctx),
        arc_(ctx.arc),
        test_(mode == ExtractMode::kTest),
        rebuild_(mode == ExtractMode::kRebuild),
        solid_(solid),
        selection_(selection),
        archive_(archive),
        source_(archive) {}

  bool Start(int32_t progress_phase) {
    decoder_ = decompress::NewDecoder();
    if (!decoder_) return Fail(kNoMemory);
    decoder_->progress.hook = ctx_.hooks.progress;
    decoder_->progress.pending_phase = progress_phase;
    return true;
  }

  // One entry of the walked list; false ends the run with the status set.
  //
  // Below the output path nothing is passed through a link: an entry whose
  // way down meets one is refused with 5, and a file is written to a
  // temporary file that takes the target's place only once its CRC-32 is
  // right, so a link or a second hard link at the target is replaced, not
  // written through, and a damaged entry leaves an existing file as it was.
  bool Entry(const ArcEntry& e) {
    if (e.head_type != kHeadFile) return true;
    if (e.encrypted != 0) return Fail(kEncryptedEntry);
    const bool selected = selection_ == nullptr || selection_->Contains(e.name);
    const bool directory = (e.attr & platform::kAttrDirectory) != 0;
    char target[kPathSize];
    target[0] = '\0';
    if (!selected || test_) {
      if (directory) return true;
      if (test_) {
        ExtractTargetPath(e.name, ctx_.settings, target, sizeof target);
        ShowName(ctx_, e, target);
      }
      return Decode(e, nullptr);
    }
    char name[kPathSize];
    if (!WholeEntryName(archive_, e, name, sizeof name) ||
        !ExtractTargetPath(name, ctx_.settings, target, sizeof target, rebuild_)) {
      ShowName(ctx_, e, "");  // the host learns which entry has no room
      return Fail(kOpenFailed);
    }
    ShowName(ctx_, e, target);
    const char* base = ctx_.settings.output_path;
    const BelowOutput below = SplitBelow(target, base);
    platform::SafeDir dir;
    using Result = platform::SafeDir::Result;
    using Kind = platform::SafeDir::Kind;
    Kind kind = Kind::kNone;
    switch (dir.Open(base, below.dir.c_str(), false)) {
      case Result::kOk:
        kind = below.name.empty() ? Kind::kDirectory : dir.Lookup(below.name.c_str());
        break;
      case Result::kMissing:
        break;
      case Result::kLink:
      case Result::kFailed:
        return Fail(kOpenFailed);
    }
    if (kind == Kind::kLink && directory) return Fail(kOpenFailed);
    bool decode_only = false;
    if (kind != Kind::kNone) {
      char existing[kPathSize];
      StripSeparator(target, existing, sizeof existing);
      const ReplaceAnswer answer = AskReplace(ctx_, e, existing, kind == Kind::kFile);
      if (answer == kAnswerStop) return Fail(kCancelled);
      if (answer == kAnswerKeep) {
        // A solid archive still decodes the entry to keep the window right.
        if (!solid_) return true;
        decode_only = true;
      }
    }
    if (directory) {
      if (decode_only) return true;
      if (dir.Open(base, below.whole.c_str(), true) != Result::kOk) return Fail(kOpenFailed);
      if (!below.name.empty()) dir.SetAttributes(e.attr & ~platform::kAttrDirectory);
      return true;
    }
    if (decode_only) return Decode(e, nullptr);
    if (below.name.empty() || kind == Kind::kDirectory || kind == Kind::kOther ||
        dir.Open(base, below.dir.c_str(), true) != Result::kOk) {
      return Fail(kOpenFailed);
    }
    Output out{dir, below.name.c_str(), platform::kBadHandle, {}};
    out.handle = dir.CreateTemp(out.temp);
    if (out.handle == platform::kBadHandle) return Fail(kOpenFailed);
    return Decode(e, &out);
  }

 private:
  // A file being extracted: the temporary file in the target's directory
  // and the name it takes once complete.
  struct Output {
    platform::SafeDir& dir;
    const char* name;
    platform::Handle handle;
    char temp[platform::SafeDir::kTempNameSize];
  };

  bool Fail(Status status) { return ops::Fail(arc_, status); }

  // Decodes the entry into `out` (none: decode only) and puts the finished
  // file in place.
  bool Decode(const ArcEntry& e, Output* out) {
    const uint32_t data_at = e.header_offset + e.head_size + 4;
    Status status = kOk;
    if (platform::Seek(archive_, static_cast<int32_t>(data_at), 0) == -1) {
      status = kOpenFailed;
    } else {
      FileSink sink(out != nullptr ? out->handle : platform::kBadHandle);
      decompress::DecoderStart(*decoder_, &source_, static_cast<int32_t>(e.orig_size), solid_,
                               entry_number_, e.tech_type);
      status = decompress::DecodeEntry(*decoder_, e.tech_type, out != nullptr ? &sink : nullptr);
      if (status == kOk && decoder_->crc != e.crc32) status = kCrcMismatch;
    }
    if (out != nullptr) {
      if (status == kOk) {
        platform::SetPackedFileTime(out->handle, e.ftime);
        if (!out->dir.Commit(out->handle, out->temp, out->name, e.attr)) status = kOpenFailed;
      } else {
        platform::Close(out->handle);
      }
      if (status != kOk) out->dir.Remove(out->temp);
    }
    if (status != kOk) return Fail(status);
    ++entry_number_;
    return true;
  }

  const Context& ctx_;
  ArcState& arc_;
  const bool test_;
  const bool rebuild_;
  const bool solid_;
  const NameSet* selection_;
  platform::Handle archive_;
  FileSource source_;
  decompress::DecoderPtr decoder_;
  uint32_t entry_number_ = 1;
};

}  // namespace

void ExtractEntries(const Context& ctx, const ArcFileList& list, ExtractMode mode,
                    int32_t progress_phase) {
  ArcState& arc = ctx.arc;
  const bool solid = arc.solid != 0;
  EntryList complete;
  NameSet selection;
  const ArcFileList* walked = &list;
  if (solid) {
    BuildArchiveList(ctx, &complete.list, nullptr, ArcInfoRequest::kNever);
    if (arc.status != kOk) return;
    if (!selection.Build(list)) return void(Fail(ctx, kNoMemory));
    walked = &complete.list;
  }
  const platform::File archive(arc.archive_name, 'r');
  if (!archive) return void(Fail(ctx, kOpenFailed));
  Driver driver(ctx, mode, archive.get(), solid, solid ? &selection : nullptr);
  if (!driver.Start(progress_phase)) return;
  for (const ArcEntry* e = walked->first; e != nullptr; e = e->next) {
    if (!driver.Entry(*e)) break;
  }
}

void ExtractFileMaskListArc(const Context& ctx, const FileMaskList* masks) {
  ctx.arc.status = kOk;
  EntryList list;
  BuildArchiveList(ctx, &list.list, masks, ArcInfoRequest::kNever);
  if (ctx.arc.status == kOk) ExtractEntries(ctx, list.list, ExtractMode::kExtract);
}

void TestArc(const Context& ctx) {
  MaskList masks;
  AppendMask(ctx.arc, "*.*", masks.get());
  EntryList list;
  BuildArchiveList(ctx, &list.list, masks.get());
  if (ctx.arc.status == kOk) ExtractEntries(ctx, list.list, ExtractMode::kTest);
}

void ExtractForRebuild(const Context& ctx, const FileMaskList* masks, int32_t progress_phase) {
  ctx.arc.status = kOk;
  EntryList list;
  BuildArchiveList(ctx, &list.list, masks);
  if (ctx.arc.status != kOk) return;
  bool encrypted = false;
  for (const ArcEntry* e = list.list.first; e != nullptr; e = e->next) {
    encrypted |= e->encrypted != 0;
  }
  if (ctx.arc.password_set != 0 && encrypted) return void(Fail(ctx, kEncryptedRebuild));
  ExtractEntries(ctx, list.list, ExtractMode::kRebuild, progress_phase);
}

}  // namespace acekit::ops
