#include "ops/directory.h"

#include <cstring>
#include <string_view>

#include "common/status.h"
#include "format/name_text.h"
#include "format/records.h"
#include "ops/collect.h"
#include "ops/compress_one.h"
#include "ops/rebuild.h"
#include "platform/file.h"
#include "select/masks.h"

namespace acekit::ops {
namespace {

// Whether a directory entry of that name is in the list already, compared
// the way an update matches the host's items with entries.
Status AlreadyThere(const Context& ctx, const char* name, const ArcFileList& entries) {
  // No listed name is that long, whatever path is put in front of the item;
  // such a name need not fit in a mask, whose limit is the system's path
  // length, so that it is taken alike everywhere.
  if (std::strlen(name) >= sizeof(ArcEntry{}.name)) return kOk;
  select::MaskList item;
  if (select::AppendMask(ctx.arc, name, item.get()) == 0) {
    // Only a failed item allocation leaves the status as it was.
    return ctx.arc.status != kOk ? static_cast<Status>(ctx.arc.status) : kNoMemory;
  }
  char stored[kItemTextSize];
  char disk[kItemTextSize];
  for (const ArcEntry* e = entries.first; e != nullptr; e = e->next) {
    if (e->head_type != format::kHeadFile || (e->attr & format::kAttrDirectory) == 0) continue;
    if (FindItemForEntry(ctx.settings, e->name, item.get(), stored, sizeof stored, disk,
                         sizeof disk)) {
      return kDirExists;
    }
  }
  return kOk;
}

Status CopyEntries(const Context& ctx, const ArcFileList& entries, platform::Handle out) {
  const platform::File old(ctx.arc.archive_name, 'r');
  if (!old) return kOpenFailed;
  Status st = CopyArchiveHead(ctx, old.get(), out);
  for (const ArcEntry* e = entries.first; st == kOk && e != nullptr; e = e->next) {
    st = CopyArchiveBytes(old.get(), out, e->header_offset, e->head_size + 4 + e->pack_size);
  }
  return st;
}

}  // namespace

bool IsValidDirectoryName(const char* name) {
  if (name == nullptr) return false;
  const std::string_view text(name);
  if (text.empty() || text.size() > kDirectoryNameMax) return false;
  if (text.find_first_of("?*><:\"/|\\", 1) != std::string_view::npos) return false;
  char base[format::kPathSize];
  format::CopyText(base, sizeof base, format::SplitPath(text).name);
  platform::CharUpper(base);
  for (const char* device : {"AUX", "CON", "PRN"}) {
    if (std::strcmp(base, device) == 0) return false;
  }
  return true;
}

Status CreateDirectoryEntry(const Context& ctx, const char* name) {
  ctx.arc.status = kOk;  // the walk below starts afresh
  if (!IsValidDirectoryName(name)) return kBadDirName;
  // Listed directory names end with `\`; the duplicate check compares with
  // those. The buffer is sized by the longest name taken, not by the
  // system's path length, so that a name is accepted or refused alike
  // everywhere; the header writer cuts what is stored to what a header holds.
  char dir[kDirectoryNameMax + 2];
  size_t length = format::CopyText(dir, sizeof dir, name);
  if (dir[length - 1] != '\\') length = format::AppendText(dir, sizeof dir, "\\");

  format::EntryList entries;
  if (const Status st = ListWholeArchive(ctx, entries); st != kOk) return st;
  if (const Status st = AlreadyThere(ctx, dir, entries.list); st != kOk) return st;

  OutputArchive temp;
  if (const Status st = temp.OpenBeside(ctx); st != kOk) return st;
  if (const Status st = CopyEntries(ctx, entries.list, temp.handle()); st != kOk) return st;

  // Readers of the format expect directory names of one or two characters
  // stored with their `\`, and longer ones bare.
  if (length >= 4) dir[length - 1] = '\0';
  format::FileHeaderFields fields;
  fields.attr = format::kAttrDirectory;
  fields.tech_type = 0;
  fields.tech_parm = format::DictionaryCode(ctx.settings.desc);
  platform::CurrentPackedTime(&fields.ftime);
  uint8_t head[format::kFileHeaderFixed] = {};
  format::PackFileHeaderFields(fields, head);
  if (!format::WriteFileHeader(temp.handle(), head, dir, ctx.settings)) return kShortWrite;
  return ReplaceArchiveFile(temp);
}

}  // namespace acekit::ops
