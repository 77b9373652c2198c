#include "ops/collect.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "format/names.h"
#include "platform/platform.h"

namespace acekit::ops {
namespace {

// How many names a temporary-name search tries before it gives up; each
// try is one attribute lookup, and a clash is rare.
constexpr uint32_t kNameTries = 100000;
constexpr uint32_t kNameSpace = 100000000;  // eight decimal digits

void Upper(char* text) {
  platform::CharUpper(text);
}

bool EndsWithSeparator(std::string_view s) {
  return !s.empty() && s.back() == '\\';
}

// Seeds a name search differently on every call without keeping state: the
// clock, and where this call's frame happens to sit.
uint32_t NameSeed() {
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  int here = 0;
  const auto where = reinterpret_cast<uintptr_t>(&here);
  return static_cast<uint32_t>(static_cast<uint64_t>(ticks) ^ (where >> 4)) % kNameSpace;
}

// Tries `prefix` + number + `suffix` until the name is free.
bool FreeName(std::string_view prefix, std::string_view suffix, char* out, size_t size) {
  const uint32_t seed = NameSeed();
  char number[16];
  for (uint32_t i = 0; i < kNameTries; ++i) {
    const uint32_t n = (seed + i * 7919u) % kNameSpace;
    std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(n));
    if (prefix.size() + std::strlen(number) + suffix.size() + 1 > size) return false;
    CopyText(out, size, prefix);
    AppendText(out, size, number);
    AppendText(out, size, suffix);
    if (platform::GetAttributes(out) == platform::kNoAttributes) return true;
  }
  return false;
}

void EntryRecord(const ArcEntry& entry, FindData& rec) {
  rec = FindData{};
  rec.attributes = entry.attr;
  FindTime t{};
  platform::DosTimeToFileTime(entry.ftime, &t);
  rec.creation_time = rec.last_access_time = rec.last_write_time = t;
  rec.size_low = entry.orig_size;
  CopyText(rec.name, sizeof rec.name, entry.name);
}

int32_t Ask(const HostHooks& hooks, const FindData& existing, const char* disk_path) {
  FindData incoming{};
  const platform::FindHandle h = platform::FindFirst(disk_path, &incoming);
  if (h == platform::kBadFind) return 0;
  platform::FindClose(h);
  const int32_t answer = hooks.replace.Call(&existing, &incoming);
  if (answer == 0) platform::MakeReplaceable(disk_path);
  return answer;
}

template <typename EachName>
bool NamedBy(const Settings& settings, const char* name, EachName&& each) {
  char wanted[kItemTextSize];
  CopyText(wanted, sizeof wanted, settings.relative_path);
  if (wanted[0] != '\0') AppendText(wanted, sizeof wanted, "\\");
  AppendText(wanted, sizeof wanted, name);
  Upper(wanted);
  char candidate[kItemTextSize];
  return each([&](std::string_view item) {
    CopyText(candidate, sizeof candidate, item);
    Upper(candidate);
    CleanNameFront(candidate);
    return std::strcmp(candidate, wanted) == 0;
  });
}

}  // namespace

size_t ItemName(const FileMask& item, char* out, size_t size) {
  CopyText(out, size, item.directory != nullptr ? item.directory : "");
  AppendText(out, size, item.name);
  if (item.extension[0] == '\0') return std::strlen(out);
  AppendText(out, size, ".");
  return AppendText(out, size, item.extension);
}

size_t ItemSourcePath(const Settings& settings, const FileMask& item, char* out, size_t size) {
  out[0] = '\0';
  if (settings.input_path[0] != '\0' && (settings.options & kOptNamesOnly) == 0) {
    CopyText(out, size, settings.input_path);
  }
  const size_t used = std::strlen(out);
  return used + ItemName(item, out + used, size - used);
}

bool FindItemForEntry(const Settings& settings, const char* entry_name, const FileMaskList* list,
                      char* stored, size_t stored_size, char* disk, size_t disk_size) {
  if (list == nullptr) return false;
  char wanted[kItemTextSize];
  CopyText(wanted, sizeof wanted, entry_name);
  Upper(wanted);
  char name[kItemTextSize];
  char candidate[kItemTextSize];
  for (const FileMask* m = list->first; m != nullptr; m = m->next) {
    ItemName(*m, name, sizeof name);
    CopyText(candidate, sizeof candidate, settings.relative_path);
    if (candidate[0] != '\0') AppendText(candidate, sizeof candidate, "\\");
    AppendText(candidate, sizeof candidate, name);
    CopyText(stored, stored_size, candidate);
    Upper(candidate);
    CleanNameFront(candidate);
    if (std::strcmp(candidate, wanted) != 0) continue;
    CopyText(disk, disk_size, settings.input_path);
    AppendText(disk, disk_size, name);
    return true;
  }
  return false;
}

bool EntryIsNamed(const Settings& settings, const char* name, const FileMaskList* list) {
  return NamedBy(settings, name, [&](auto&& matches) {
    char item[kItemTextSize];
    for (const FileMask* m = list != nullptr ? list->first : nullptr; m != nullptr; m = m->next) {
      ItemName(*m, item, sizeof item);
      if (matches(item)) return true;
    }
    return false;
  });
}

bool EntryIsNamed(const Settings& settings, const char* name, const InputFileList& names) {
  return NamedBy(settings, name, [&](auto&& matches) {
    for (const InputFile* e = names.first; e != nullptr; e = e->next) {
      if (matches(e->name)) return true;
    }
    return false;
  });
}

int32_t AskReplaceOnUpdate(const Settings& settings, const HostHooks& hooks,
                           const ArcEntry& entry) {
  if (!hooks.replace) return 0;
  std::string_view name(entry.name);
  const size_t rel = std::strlen(settings.relative_path);
  // The relative path is not compared, only its length taken off: the
  // stored name was written with it in front.
  if (rel != 0 && rel < name.size()) name.remove_prefix(rel);
  char disk[kItemTextSize] = {};
  if (settings.input_path[0] != '\0' && (settings.options & kOptNamesOnly) == 0) {
    CopyText(disk, sizeof disk, settings.input_path);
  }
  AppendText(disk, sizeof disk, name);
  if (platform::GetAttributes(disk) == platform::kNoAttributes) return 0;
  FindData existing;
  EntryRecord(entry, existing);
  return Ask(hooks, existing, disk);
}

int32_t AskReplaceOnSolidUpdate(const HostHooks& hooks, const char* old_path,
                                const char* disk_path) {
  if (!hooks.replace) return 0;
  if (platform::GetAttributes(disk_path) == platform::kNoAttributes) return 0;
  FindData existing{};
  const platform::FindHandle h = platform::FindFirst(old_path, &existing);
  if (h == platform::kBadFind) return 0;
  platform::FindClose(h);
  return Ask(hooks, existing, disk_path);
}

Status CollectTree(const char* dir, const char* pattern, InputFileList& files) {
  char base[kInputPathSize];
  CopyText(base, sizeof base, dir);
  if (!EndsWithSeparator(base)) AppendText(base, sizeof base, "\\");
  const size_t base_len = std::strlen(base);
  char path[kInputPathSize];
  FindData found;

  CopyText(path, sizeof path, base);
  AppendText(path, sizeof path, pattern);
  if (platform::FindHandle h = platform::FindFirst(path, &found); h != platform::kBadFind) {
    Status st = kOk;
    do {
      if (found.attributes & platform::kAttrDirectory) continue;
      CopyText(path + base_len, sizeof path - base_len, found.name);
      st = AppendInputFile(files, path, "");
    } while (st == kOk && platform::FindNext(h, &found));
    platform::FindClose(h);
    if (st != kOk) return st;
  }

  CopyText(path + base_len, sizeof path - base_len, "*.*");
  platform::FindHandle h = platform::FindFirst(path, &found);
  if (h == platform::kBadFind) return kOk;
  Status st = kOk;
  do {
    if ((found.attributes & platform::kAttrDirectory) == 0) continue;
    if (std::strcmp(found.name, ".") == 0 || std::strcmp(found.name, "..") == 0) continue;
    CopyText(path + base_len, sizeof path - base_len, found.name);
    AppendText(path, sizeof path, "\\");
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
  CopyText(path, sizeof path, d);
  if (!EndsWithSeparator(path)) AppendText(path, sizeof path, "\\");
  const size_t base_len = std::strlen(path);
  AppendText(path, sizeof path, "*.*");
  FindData found;
  if (platform::FindHandle h = platform::FindFirst(path, &found); h != platform::kBadFind) {
    platform::SafeDir here;
    const bool opened = here.Open(dir, "", false) == platform::SafeDir::Result::kOk;
    bool ok = true;
    do {
      if (std::strcmp(found.name, ".") == 0 || std::strcmp(found.name, "..") == 0) continue;
      CopyText(path + base_len, sizeof path - base_len, found.name);
      // A link is removed itself: what it points to was never ours.
      const bool link = opened && here.Lookup(found.name) == platform::SafeDir::Kind::kLink;
      if ((found.attributes & platform::kAttrDirectory) && !link) {
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

Status WorkingDirectoryName(char* out, size_t size) {
  char temp[kPathSize];
  if (!platform::TempPath(temp, sizeof temp) || temp[0] == '\0') return kWorkDirFailed;
  if (!EndsWithSeparator(temp)) AppendText(temp, sizeof temp, "\\");
  return FreeName(temp, "", out, size) ? kOk : kWorkDirFailed;
}

bool BackupName(const char* path, char* out, size_t size) {
  const std::string_view p(path);
  const size_t sep = p.find_last_of("\\/:");
  const std::string_view dir =
      sep == std::string_view::npos ? std::string_view{} : p.substr(0, sep + 1);
  return FreeName(dir, ".$SC", out, size);
}

}  // namespace acekit::ops
