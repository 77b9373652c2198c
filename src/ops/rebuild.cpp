#include "ops/rebuild.h"

#include <cstring>
#include <string_view>

#include "format/name_text.h"
#include "format/records.h"
#include "ops/collect.h"
#include "ops/entry_walk.h"
#include "platform/file.h"

namespace acekit::ops {

Status OutputArchive::Open(const char* name) {
  format::CopyText(name_, sizeof name_, name);
  h_ = platform::Open(name_, 'w');
  return h_ != platform::kBadHandle ? kOk : kOpenFailed;
}

Status OutputArchive::OpenBeside(const Context& ctx) {
  // Resolved once: the temporary archive is made beside the file a link
  // names and renamed over that file, so the link stays a link.
  if (!platform::ResolveLink(ctx.arc.archive_name, target_, sizeof target_)) return kOpenFailed;
  has_access_ = platform::GetFileAccess(target_, &access_);
  const std::string_view target(target_);
  const size_t sep = target.find_last_of("\\/:");
  char dir[kInputPathSize] = {};
  if (sep != std::string_view::npos) format::CopyText(dir, sizeof dir, target.substr(0, sep + 1));
  h_ = platform::CreateTempFile(dir, ".acekit-", access(), name_, sizeof name_);
  return h_ != platform::kBadHandle ? kOk : kOpenFailed;
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
  if (!platform::TempPath(shown_, sizeof shown_)) shown_[0] = '\0';
  if (!platform::MakeTempDir("acekit-", path_, sizeof path_)) return kWorkDirFailed;
  made_ = true;
  return kOk;
}

void SettingsRestore::CopyPath(char* dst, const char* src) {
  format::CopyText(dst, format::kSettingPathSize, src);
}

Status ListWholeArchive(const Context& ctx, format::EntryList& entries) {
  if (const Status st = BuildArchiveList(ctx, &entries.list, nullptr, ArcInfoRequest::kNever);
      st != kOk) {
    return st;
  }
  if (ctx.arc.first_entry_offset == 0) return kOk;  // nothing after the main header
  int32_t size = -1;
  if (const platform::File h(ctx.arc.archive_name, 'r'); h) size = platform::Size(h.get());
  // A failed read inside a header leaves its field 0 and ends the walk
  // there without a word; a name that came back empty is the one sign
  // left when the sizes were read.
  for (const ArcEntry* e = entries.list.first; e != nullptr; e = e->next) {
    if (e->head_type == format::kHeadFile && e->fname_size != 0 && e->name[0] == '\0')
      return kOpenFailed;
  }
  uint64_t end = ctx.arc.first_entry_offset;
  if (const ArcEntry* last = entries.list.last) {
    end = uint64_t{last->header_offset} + last->head_size + 4 + last->pack_size;
  }
  return size >= 0 && end == static_cast<uint64_t>(size) ? kOk : kOpenFailed;
}

Status CopyArchiveHead(const Context& ctx, platform::Handle archive, platform::Handle out) {
  if (platform::Seek(out, 0, 0) == -1) return kOpenFailed;
  const int64_t head = int64_t{ctx.arc.main_header_offset} + ctx.arc.main_header_length;
  return CopyArchiveBytes(archive, out, 0, static_cast<uint32_t>(head > 0 ? head : 0));
}

Status ReplaceArchiveFile(OutputArchive& temp) {
  temp.Finish();
  if (platform::RenameOver(temp.name(), temp.target(), temp.access())) return kOk;
  DeleteQuietly(temp.name());
  return kOpenFailed;
}

Status StartWriting(const Context& ctx, compress::Compressor& compressor, int32_t dict_kb) {
  if (!compressor.Setup(&dict_kb, ctx.settings.desc.level(), ctx.settings.threads))
    return kNoMemory;
  compressor.SetProgress(ctx.hooks.progress);
  return kOk;
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
  format::CopyText(out, size, "\\");
  format::AppendText(out, size, stored);
}

}  // namespace acekit::ops
