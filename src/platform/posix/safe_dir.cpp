// posix backend: the directory walk that does not follow links, and the
// temporary file that replaces an extracted file's directory entry.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/backend.h"
#include "platform/posix/native.h"

namespace acekit::platform::sys {
namespace {

int Fd(intptr_t dir) {
  return (dir < 0 || dir > 0x7FFFFFFF) ? -1 : static_cast<int>(dir);
}

}  // namespace

// The process's umask without changing it: a host's other threads may be
// creating files, and a umask set to 0 for a moment would reach them too.
uint32_t CreationMask() {
  if (std::FILE* f = std::fopen("/proc/self/status", "re")) {
    char line[128];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f) != nullptr) {
      found = std::sscanf(line, "Umask: %o", &mask) == 1;
    }
    std::fclose(f);
    if (found) return mask & 0777;
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return static_cast<uint32_t>(mask);
}

namespace {

SafeDir::Result Classify(int fd, const char* name) {
  struct stat st;
  if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? SafeDir::Result::kMissing : SafeDir::Result::kFailed;
  }
  return S_ISLNK(st.st_mode) ? SafeDir::Result::kLink : SafeDir::Result::kFailed;
}

}  // namespace

SafeDir::Result OpenBaseDir(const char* path, intptr_t* dir) {
  const int fd = ::open(posix::NativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? SafeDir::Result::kMissing : SafeDir::Result::kFailed;
  *dir = fd;
  return SafeDir::Result::kOk;
}

SafeDir::Result OpenDirBelow(intptr_t dir, const std::string&, const char* name, intptr_t* out) {
  const int fd = ::openat(Fd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    *out = fd;
    return SafeDir::Result::kOk;
  }
  // ELOOP or ENOTDIR: a link, or something that is no directory.
  return Classify(Fd(dir), name);
}

bool MakeDirBelow(intptr_t dir, const std::string&, const char* name) {
  return ::mkdirat(Fd(dir), name, 0777) == 0;
}

void CloseDir(intptr_t dir) {
  if (Fd(dir) >= 0) ::close(Fd(dir));
}

SafeDir::Kind LookupBelow(intptr_t dir, const std::string&, const char* name) {
  struct stat st;
  if (::fstatat(Fd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? SafeDir::Kind::kNone : SafeDir::Kind::kOther;
  }
  if (S_ISLNK(st.st_mode)) return SafeDir::Kind::kLink;
  if (S_ISDIR(st.st_mode)) return SafeDir::Kind::kDirectory;
  return S_ISREG(st.st_mode) ? SafeDir::Kind::kFile : SafeDir::Kind::kOther;
}

void SetDirAttributes(intptr_t, const std::string&, uint32_t) {
  // A directory's read-only mark would keep files out of it here; there is
  // nothing else to keep.
}

namespace {

// The mode a file is made with; the kernel takes the umask from it.
mode_t CreatedMode(uint32_t attributes) {
  return (attributes & kAttrReadOnly) != 0 ? 0444 : 0666;
}

}  // namespace

Handle CreateFileBelow(intptr_t dir, const std::string&, const char* name, uint32_t attributes) {
  // The descriptor may write even when the mode it made the file with
  // does not let anyone write.
  const int fd = ::openat(Fd(dir), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          CreatedMode(attributes));
  return fd < 0 ? kBadHandle : static_cast<Handle>(fd);
}

void FinishFile(Handle h, uint32_t attributes, uint32_t mask, uint32_t packed_time) {
  const int fd = Fd(h);
  if (fd < 0) return;
  // Made here for writing: no need to ask, as SetFileTime does.
  if (packed_time != 0) {
    (void)posix::SetDosWriteTime(fd, static_cast<uint16_t>(packed_time >> 16),
                                 static_cast<uint16_t>(packed_time));
  }
  mode_t mode = 0666 & ~static_cast<mode_t>(mask);
  mode = (attributes & kAttrReadOnly) != 0 ? mode & ~static_cast<mode_t>(0222) : mode | S_IWUSR;
  // Only a mask that takes the owner's write bit leaves a mode to set.
  if ((CreatedMode(attributes) & ~static_cast<mode_t>(mask)) != mode) ::fchmod(fd, mode);
  ::close(fd);
}

bool ReplaceBelow(intptr_t dir, const std::string&, const char* from, const char* to, uint32_t) {
#ifdef RENAME_NOREPLACE
  // Mostly nothing is there yet: then one call does it, where the check
  // below would cost a lookup for each file written.
  if (::renameat2(Fd(dir), from, Fd(dir), to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EEXIST && errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
#endif
  // As on Windows, a read-only file is not replaced; a link is, itself.
  struct stat st;
  if (::fstatat(Fd(dir), to, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
      (st.st_mode & S_IWUSR) == 0) {
    errno = EACCES;
    return false;
  }
  return ::renameat(Fd(dir), from, Fd(dir), to) == 0;
}

void SetFileAttributesBelow(intptr_t, const std::string&, const char*, uint32_t) {}

bool DeleteBelow(intptr_t dir, const std::string&, const char* name) {
  return ::unlinkat(Fd(dir), name, 0) == 0;
}

uint64_t NameSeed() {
  // Writers on several host threads take names at once.
  static std::atomic<uint64_t> counter{0};
  struct timespec ts {};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  uint64_t seed = (static_cast<uint64_t>(ts.tv_sec) << 30) ^ static_cast<uint64_t>(ts.tv_nsec);
  // Taken once: a forked child that keeps its parent's number still has
  // the time and the exclusive create between it and a clash.
  static const pid_t pid = ::getpid();
  seed ^= static_cast<uint64_t>(pid) << 40;
  seed ^= (counter.fetch_add(1, std::memory_order_relaxed) + 1) * 0x9E3779B97F4A7C15ull;
  return seed != 0 ? seed : 1;
}

}  // namespace acekit::platform::sys
