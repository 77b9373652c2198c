#include "ops/rebuild.h"

#include <cstring>

#include "format/names.h"
#include "format/records.h"
#include "ops/collect.h"
#include "ops/entry_list.h"

namespace acekit::ops {

bool OutputArchive::Open(const char* name) {
  CopyText(name_, sizeof name_, name);
  h_ = platform::Open(name_, 'w');
  return h_ != platform::kBadHandle;
}

void OutputArchive::Finish() {
  if (h_ != platform::kBadHandle) platform::Close(h_);
  h_ = platform::kBadHandle;
  kept_ = true;
}

void OutputArchive::Discard() {
  if (h_ != platform::kBadHandle) {
    platform::Close(h_);
    h_ = platform::kBadHandle;
    DeleteQuietly(name_);
  }
}

WorkDir::~WorkDir() {
  // A second pass picks up what a removal that failed once left behind.
  if (made_ && !RemoveTree(path_)) RemoveTree(path_);
}

Status WorkDir::Create() {
  if (WorkingDirectoryName(path_, sizeof path_) != kOk) return kWorkDirFailed;
  if (!platform::CreateDir(path_)) return kWorkDirFailed;
  made_ = true;
  return kOk;
}

void SettingsRestore::CopyPath(char* dst, const char* src) {
  CopyText(dst, kSettingPathSize, src);
}

EntryList::~EntryList() {
  DoneEntryList(&list);
}

bool ListWholeArchive(const Context& ctx, EntryList& entries) {
  BuildArchiveList(ctx, &entries.list, nullptr, ArcInfoRequest::kNever);
  if (ctx.arc.status != kOk) return false;
  if (ctx.arc.first_entry_offset == 0) return true;  // nothing after the main header
  const platform::Handle h = platform::Open(ctx.arc.archive_name, 'r');
  const int32_t size = h == platform::kBadHandle ? -1 : platform::Size(h);
  if (h != platform::kBadHandle) platform::Close(h);
  // A failed read inside a header leaves its field 0 and ends the walk
  // there without a word; a name that came back empty is the one sign
  // left when the sizes were read.
  for (const ArcEntry* e = entries.list.first; e != nullptr; e = e->next) {
    if (e->head_type == kHeadFile && e->fname_size != 0 && e->name[0] == '\0') {
      ctx.arc.status = kOpenFailed;
      return false;
    }
  }
  uint64_t end = ctx.arc.first_entry_offset;
  if (const ArcEntry* last = entries.list.last) {
    end = uint64_t{last->header_offset} + last->head_size + 4 + last->pack_size;
  }
  if (size < 0 || end != static_cast<uint64_t>(size)) {
    ctx.arc.status = kOpenFailed;
    return false;
  }
  return true;
}

bool CopyArchiveHead(const Context& ctx, platform::Handle archive, platform::Handle out) {
  if (platform::Seek(out, 0, 0) == -1) {
    ctx.arc.status = kOpenFailed;
    return false;
  }
  const int64_t head = int64_t{ctx.arc.main_header_offset} + ctx.arc.main_header_length;
  return CopyArchiveBytes(ctx.arc, archive, out, 0, static_cast<uint32_t>(head > 0 ? head : 0));
}

bool ReplaceArchiveFile(const Context& ctx, const char* temp_name) {
  const char* archive = ctx.arc.archive_name;
  char old_copy[kInputPathSize];
  if (!BackupName(archive, old_copy, sizeof old_copy) || !platform::Move(archive, old_copy)) {
    ctx.arc.status = kOpenFailed;
    DeleteQuietly(temp_name);
    return false;
  }
  if (platform::Move(temp_name, archive)) {
    DeleteQuietly(old_copy);
    return true;
  }
  ctx.arc.status = kOpenFailed;
  DeleteQuietly(temp_name);
  if (!platform::Move(old_copy, archive)) platform::Move(old_copy, archive);
  return false;
}

bool StartWriting(const Context& ctx, Compressor& compressor, int32_t dict_kb) {
  if (!compressor.Setup(&dict_kb, ctx.settings.desc.level())) {
    ctx.arc.status = kNoMemory;
    return false;
  }
  compressor.SetProgress(ctx.hooks.progress);
  return true;
}

int32_t RebuildDictionary(const Context& ctx) {
  uint32_t& kb = ctx.arc.solid_dict_kb;
  if (kb < 64 || kb > 1024) kb = 64;
  ctx.settings.desc.dict_kb() = static_cast<int32_t>(kb);
  return static_cast<int32_t>(kb);
}

void DeleteQuietly(const char* name) {
  if (!platform::Delete(name) && platform::GetAttributes(name) != platform::kNoAttributes) {
    platform::Delete(name);
  }
}

void ShownName(const char* stored, char* out, size_t size) {
  CopyText(out, size, "\\");
  AppendText(out, size, stored);
}

}  // namespace acekit::ops
