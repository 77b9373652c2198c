// posix backend: directory listing with the behaviour of find-first/find-next.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/native.h"
#include "platform/text.h"

namespace acekit::platform {

namespace {

struct EntryInfo {
  uint32_t attributes = 0;
  uint64_t size = 0;
  FindTime creation{};
  FindTime access{};
  FindTime write{};
};

struct FindState {
  DIR* dir = nullptr;              // null for a single named entry
  std::vector<std::string> names;  // matching names in listing order
  size_t next = 0;
};

FindTime ToFileTime(const struct timespec& ts) {
  return posix::UnixToFileTime(ts.tv_sec, ts.tv_nsec);
}

bool InfoFromStat(const struct stat& st, EntryInfo* info) {
  info->attributes = posix::AttributesOf(st);
  info->size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  info->write = ToFileTime(st.st_mtim);
  info->access = ToFileTime(st.st_atim);
  info->creation = info->write;
  return true;
}

// Stats name relative to dirfd (or the working directory), following links
// and falling back to the link itself when it dangles. The creation time is
// the birth time where the file system records one, else the last-write time.
bool StatEntry(int dirfd, const char* name, EntryInfo* info) {
#if defined(STATX_BTIME)
  for (int flags : {AT_NO_AUTOMOUNT, AT_NO_AUTOMOUNT | AT_SYMLINK_NOFOLLOW}) {
    struct statx stx;
    if (::statx(dirfd, name, flags, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0) {
      if (errno == ENOSYS) break;
      continue;
    }
    const mode_t mode = stx.stx_mode;
    const bool is_dir = S_ISDIR(mode);
    info->attributes = is_dir ? kAttrDirectory : kAttrArchive;
    if ((mode & S_IWUSR) == 0) info->attributes |= kAttrReadOnly;
    info->size = is_dir ? 0 : stx.stx_size;
    info->write = posix::UnixToFileTime(stx.stx_mtime.tv_sec, stx.stx_mtime.tv_nsec);
    info->access = posix::UnixToFileTime(stx.stx_atime.tv_sec, stx.stx_atime.tv_nsec);
    // Some file systems report a birth time of 0 rather than none.
    const bool born = (stx.stx_mask & STATX_BTIME) != 0 &&
                      (stx.stx_btime.tv_sec != 0 || stx.stx_btime.tv_nsec != 0);
    info->creation =
        born ? posix::UnixToFileTime(stx.stx_btime.tv_sec, stx.stx_btime.tv_nsec) : info->write;
    return true;
  }
#endif
  struct stat st;
  if (::fstatat(dirfd, name, &st, 0) == 0 ||
      ::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    return InfoFromStat(st, info);
  }
  return false;
}

void Fill(const EntryInfo& info, const std::string& name, FindData* out) {
  if (out == nullptr) return;
  std::memset(out, 0, sizeof(*out));
  out->attributes = info.attributes;
  out->creation_time = info.creation;
  out->last_access_time = info.access;
  out->last_write_time = info.write;
  out->size_high = static_cast<uint32_t>(info.size >> 32);
  out->size_low = static_cast<uint32_t>(info.size);
  const size_t n = std::min(name.size(), sizeof(out->name) - 1);
  std::memcpy(out->name, name.data(), n);
  out->name[n] = '\0';
}

// "." and ".." first, then case-blind order, then byte order.
bool ListingBefore(const std::string& a, const std::string& b) {
  auto rank = [](const std::string& s) { return s == "." ? 0 : s == ".." ? 1 : 2; };
  if (rank(a) != rank(b)) return rank(a) < rank(b);
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 0x20);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 0x20);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

// Reports the next entry that can still be read; false at the end.
bool Advance(FindState* s, FindData* out) {
  while (s->next < s->names.size()) {
    const std::string& name = s->names[s->next++];
    EntryInfo info;
    if (StatEntry(::dirfd(s->dir), name.c_str(), &info)) {
      Fill(info, name, out);
      return true;
    }
  }
  return false;
}

void Release(FindState* s) {
  if (s->dir != nullptr) ::closedir(s->dir);
  delete s;
}

}  // namespace

FindHandle FindFirst(const char* pattern, FindData* out) {
  if (pattern == nullptr) return kBadFind;
  const std::string path = posix::NativePath(pattern);
  const size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  const std::string part = slash == std::string::npos ? path : path.substr(slash + 1);
  if (part.empty()) return kBadFind;  // "dir\" names no entry
  if (dir.empty()) dir = "/";

  if (!text::HasWildcards(part.c_str())) {
    // One named entry: no need to read the whole directory.
    EntryInfo info;
    if (!StatEntry(AT_FDCWD, path.c_str(), &info)) return kBadFind;
    Fill(info, part, out);
    auto* s = new FindState;
    return reinterpret_cast<FindHandle>(s);
  }

  auto* s = new FindState;
  s->dir = ::opendir(dir.c_str());
  if (s->dir == nullptr) {
    Release(s);
    return kBadFind;
  }
  // The system lists "." and ".." in every directory but the root.
  const bool is_root = dir.find_first_not_of('/') == std::string::npos;
  while (const struct dirent* e = ::readdir(s->dir)) {
    const char* name = e->d_name;
    const bool dots = std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
    if (dots && is_root) continue;
    if (text::MatchesPattern(part.c_str(), name)) s->names.emplace_back(name);
  }
  std::sort(s->names.begin(), s->names.end(), ListingBefore);
  if (!Advance(s, out)) {
    Release(s);
    errno = ENOENT;
    return kBadFind;
  }
  return reinterpret_cast<FindHandle>(s);
}

bool FindNext(FindHandle h, FindData* out) {
  if (h == kBadFind || h == 0) return false;
  auto* s = reinterpret_cast<FindState*>(h);
  if (s->dir == nullptr) return false;
  return Advance(s, out);
}

void FindClose(FindHandle h) {
  if (h == kBadFind || h == 0) return;
  Release(reinterpret_cast<FindState*>(h));
}

}  // namespace acekit::platform
