#include "ops/collect.h"

#include <cstring>
#include <string_view>

#include "format/name_text.h"
#include "platform/platform.h"

namespace acekit::ops {
namespace {

void Upper(char* text) {
  platform::CharUpper(text);
}

bool EndsWithSeparator(std::string_view s) {
  return !s.empty() && s.back() == '\\';
}

void EntryRecord(const ArcEntry& entry, FindData& rec) {
  rec = FindData{};
  rec.attributes = entry.attr;
  FindTime t{};
  platform::DosTimeToFileTime(entry.ftime, &t);
  rec.creation_time = rec.last_access_time = rec.last_write_time = t;
  rec.size_low = entry.orig_size;
  format::CopyText(rec.name, sizeof rec.name, entry.name);
}

ReplaceAnswer Ask(const HostHooks& hooks, const FindData& existing, const char* disk_path) {
  FindData incoming{};
  const platform::FindHandle h = platform::FindFirst(disk_path, &incoming);
  if (h == platform::kBadFind) return kAnswerReplace;
  platform::FindClose(h);
  const ReplaceAnswer answer = hooks.replace.Call(&existing, &incoming);
  if (answer == kAnswerReplace) platform::MakeReplaceable(disk_path);
  return answer;
}

// The relative path, `\` when it is not empty, and `name`; false when that
// does not fit.
bool Relative(const format::Settings& settings, std::string_view name, char* out, size_t size) {
  if (!format::CopyWhole(out, size, settings.relative_path)) return false;
  if (out[0] != '\0' && !format::AppendWhole(out, size, "\\")) return false;
  return format::AppendWhole(out, size, name);
}

// A name too long to be built is never equal to anything.
template <typename EachName>
bool NamedBy(const format::Settings& settings, const char* name, EachName&& each) {
  char wanted[kItemTextSize];
  if (!Relative(settings, name, wanted, sizeof wanted)) return false;
  Upper(wanted);
  char candidate[kItemTextSize];
  return each([&](std::string_view item) {
    if (!format::CopyWhole(candidate, sizeof candidate, item)) return false;
    Upper(candidate);
    format::CleanNameFront(candidate);
    return std::strcmp(candidate, wanted) == 0;
  });
}

}  // namespace

bool ItemName(const FileMask& item, char* out, size_t size) {
  if (!format::CopyWhole(out, size, item.directory != nullptr ? item.directory : "") ||
      !format::AppendWhole(out, size, item.name)) {
    return false;
  }
  if (item.extension[0] == '\0') return true;
  return format::AppendWhole(out, size, ".") && format::AppendWhole(out, size, item.extension);
}

bool ItemSourcePath(const format::Settings& settings, const FileMask& item, char* out,
                    size_t size) {
  const bool input =
      settings.input_path[0] != '\0' && (settings.options & format::kOptNamesOnly) == 0;
  if (!format::CopyWhole(out, size, input ? settings.input_path : "")) return false;
  const size_t used = std::strlen(out);
  if (ItemName(item, out + used, size - used)) return true;
  out[0] = '\0';
  return false;
}

bool FindItemForEntry(const format::Settings& settings, const char* entry_name,
                      const FileMaskList* list, char* stored, size_t stored_size, char* disk,
                      size_t disk_size) {
  if (list == nullptr) return false;
  char wanted[kItemTextSize];
  if (!format::CopyWhole(wanted, sizeof wanted, entry_name)) return false;
  Upper(wanted);
  char name[kItemTextSize];
  char candidate[kItemTextSize];
  for (const FileMask* m = list->first; m != nullptr; m = m->next) {
    if (!ItemName(*m, name, sizeof name) ||
        !Relative(settings, name, candidate, sizeof candidate) ||
        !format::CopyWhole(stored, stored_size, candidate)) {
      continue;
    }
    Upper(candidate);
    format::CleanNameFront(candidate);
    if (std::strcmp(candidate, wanted) != 0) continue;
    // A disk path with no room stays empty: nothing can be read from it.
    if (format::CopyWhole(disk, disk_size, settings.input_path))
      format::AppendWhole(disk, disk_size, name);
    return true;
  }
  return false;
}

bool EntryIsNamed(const format::Settings& settings, const char* name, const FileMaskList* list) {
  return NamedBy(settings, name, [&](auto&& matches) {
    char item[kItemTextSize];
    for (const FileMask* m = list != nullptr ? list->first : nullptr; m != nullptr; m = m->next) {
      if (ItemName(*m, item, sizeof item) && matches(item)) return true;
    }
    return false;
  });
}

bool EntryIsNamed(const format::Settings& settings, const char* name, const InputFileList& names) {
  return NamedBy(settings, name, [&](auto&& matches) {
    for (const InputFile* e = names.first; e != nullptr; e = e->next) {
      if (matches(e->name)) return true;
    }
    return false;
  });
}

ReplaceAnswer AskReplaceOnUpdate(const format::Settings& settings, const HostHooks& hooks,
                                 const ArcEntry& entry) {
  if (!hooks.replace) return kAnswerReplace;
  std::string_view name(entry.name);
  const size_t rel = std::strlen(settings.relative_path);
  // The relative path is not compared, only its length taken off: the
  // stored name was written with it in front.
  if (rel != 0 && rel < name.size()) name.remove_prefix(rel);
  char disk[kItemTextSize] = {};
  const bool input =
      settings.input_path[0] != '\0' && (settings.options & format::kOptNamesOnly) == 0;
  // A path with no room names no file on disk, so there is nothing to ask.
  if (!format::CopyWhole(disk, sizeof disk, input ? settings.input_path : "") ||
      !format::AppendWhole(disk, sizeof disk, name)) {
    return kAnswerReplace;
  }
  if (platform::GetAttributes(disk) == platform::kNoAttributes) return kAnswerReplace;
  FindData existing;
  EntryRecord(entry, existing);
  return Ask(hooks, existing, disk);
}

ReplaceAnswer AskReplaceOnSolidUpdate(const HostHooks& hooks, const char* old_path,
                                      const char* disk_path) {
  if (!hooks.replace) return kAnswerReplace;
  if (platform::GetAttributes(disk_path) == platform::kNoAttributes) return kAnswerReplace;
  FindData existing{};
  const platform::FindHandle h = platform::FindFirst(old_path, &existing);
  if (h == platform::kBadFind) return kAnswerReplace;
  platform::FindClose(h);
  return Ask(hooks, existing, disk_path);
}

Status CollectTree(const char* dir, const char* pattern, InputFileList& files) {
  // A file whose path has no room cannot be read back: the walk fails
  // rather than leave it out.
  // One buffer per level of the walk: the directory, then each name in turn.
  char path[kInputPathSize];
  if (!format::CopyWhole(path, sizeof path, dir)) return kOpenFailed;
  if (!EndsWithSeparator(path) && !format::AppendWhole(path, sizeof path, "\\")) return kOpenFailed;
  const size_t base_len = std::strlen(path);
  FindData found;

  if (!format::AppendWhole(path, sizeof path, pattern)) return kOpenFailed;
  if (platform::FindHandle h = platform::FindFirst(path, &found); h != platform::kBadFind) {
    Status st = kOk;
    do {
      if (found.attributes & platform::kAttrDirectory) continue;
      st = format::CopyWhole(path + base_len, sizeof path - base_len, found.name)
               ? AppendInputFile(files, path, "")
               : kOpenFailed;
    } while (st == kOk && platform::FindNext(h, &found));
    platform::FindClose(h);
    if (st != kOk) return st;
  }

  if (!format::CopyWhole(path + base_len, sizeof path - base_len, "*.*")) return kOpenFailed;
  platform::FindHandle h = platform::FindFirst(path, &found);
  if (h == platform::kBadFind) return kOk;
  Status st = kOk;
  do {
    if ((found.attributes & platform::kAttrDirectory) == 0) continue;
    if (std::strcmp(found.name, ".") == 0 || std::strcmp(found.name, "..") == 0) continue;
    if (!format::CopyWhole(path + base_len, sizeof path - base_len, found.name) ||
        !format::AppendWhole(path, sizeof path, "\\")) {
      st = kOpenFailed;
      break;
    }
    st = CollectTree(path, pattern, files);
  } while (st == kOk && platform::FindNext(h, &found));
  platform::FindClose(h);
  return st;
}

Status OrderForSolid(const InputFileList& files, InputFileList& ordered, const char* work_dir) {
  const size_t cut = std::strlen(work_dir) + (EndsWithSeparator(work_dir) ? 0 : 1);
  for (const InputFile* e = files.first; e != nullptr; e = e->next) {
    const std::string_view path(e->path);
    const std::string_view stored = path.size() > cut ? path.substr(cut) : std::string_view{};
    if (const Status st = AppendInputFile(ordered, path, stored); st != kOk) return st;
  }
  return kOk;
}

bool RemoveTree(const char* dir) {
  std::string_view d(dir);
  if (d.size() <= 3) return false;
  char path[kInputPathSize];
  if (!format::CopyWhole(path, sizeof path, d)) return false;
  if (!EndsWithSeparator(path) && !format::AppendWhole(path, sizeof path, "\\")) return false;
  const size_t base_len = std::strlen(path);
  if (!format::AppendWhole(path, sizeof path, "*.*")) return false;
  FindData found;
  if (platform::FindHandle h = platform::FindFirst(path, &found); h != platform::kBadFind) {
    platform::SafeDir here;
    const bool opened = here.Open(dir, "", false) == platform::SafeDir::Result::kOk;
    bool ok = true;
    do {
      if (std::strcmp(found.name, ".") == 0 || std::strcmp(found.name, "..") == 0) continue;
      // A link is removed itself: what it points to was never ours.
      const bool link = opened && here.Lookup(found.name) == platform::SafeDir::Kind::kLink;
      if (!format::CopyWhole(path + base_len, sizeof path - base_len, found.name)) {
        ok = false;
      } else if ((found.attributes & platform::kAttrDirectory) && !link) {
        ok = RemoveTree(path);
      } else {
        if (!link) platform::MakeReplaceable(path);
        // A directory link on Windows goes the way of a directory.
        ok = platform::Delete(path) || (link && platform::RemoveDir(path));
      }
    } while (ok && platform::FindNext(h, &found));
    platform::FindClose(h);
    if (!ok) return false;
  }
  path[base_len - 1] = '\0';
  return platform::RemoveDir(path);
}

}  // namespace acekit::ops
