// posix backend: files, directories and attributes.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/posix/native.h"

namespace acekit::platform {

namespace posix {

std::string NativePath(const char* name) {
  std::string path(name != nullptr ? name : "");
  bool had_drive = false;
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    path.erase(0, 2);
    had_drive = true;
  }
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (path.empty() && had_drive) path = ".";  // "C:" alone: the current directory
  return path;
}

uint32_t AttributesOf(const struct stat& st) {
  uint32_t a = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
  if ((st.st_mode & S_IWUSR) == 0) a |= kAttrReadOnly;
  return a;
}

}  // namespace posix

namespace {

int FdOf(Handle h) {
  return (h < 0 || h > 0x7FFFFFFF) ? -1 : static_cast<int>(h);
}

// A 64-bit position as the 32-bit contract reports it: the low 32 bits.
int32_t Low32(off_t pos) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(pos)));
}

// An existing file whose owner write bit is clear: read-only, so the
// Windows calls that write or delete it fail. Root is held to it too.
bool IsReadOnlyFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

}  // namespace

namespace sys {

Handle Open(const char* name, char mode) {
  const std::string path = posix::NativePath(name);
  int flags = O_CLOEXEC;
  switch (mode) {
    case 'b':
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
    case 'r':
      flags |= O_RDONLY;
      break;
    case 'v':
      flags |= O_WRONLY;
      break;
    case 'w':
      flags |= O_WRONLY | O_CREAT | O_TRUNC;
      break;
    default:
      return kBadHandle;
  }
  if (mode != 'r' && IsReadOnlyFile(path)) {
    errno = EACCES;
    return kBadHandle;
  }
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) return kBadHandle;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {  // a directory is not a file to open
    ::close(fd);
    errno = EISDIR;
    return kBadHandle;
  }
  return static_cast<Handle>(fd);
}

int32_t Read(void* buf, uint32_t count, Handle h) {
  const int fd = FdOf(h);
  if (fd < 0 || (buf == nullptr && count != 0)) return -1;
  const ssize_t n = ::read(fd, buf, count > 0x7FFFFFFFu ? 0x7FFFFFFFu : count);
  return n < 0 ? -1 : static_cast<int32_t>(n);
}

int32_t Write(const void* buf, uint32_t count, Handle h) {
  const int fd = FdOf(h);
  if (fd < 0 || (buf == nullptr && count != 0)) return -1;
  const ssize_t n = ::write(fd, buf, count > 0x7FFFFFFFu ? 0x7FFFFFFFu : count);
  return n < 0 ? -1 : static_cast<int32_t>(n);
}

int32_t Seek(Handle h, int32_t offset, int origin) {
  const int fd = FdOf(h);
  if (fd < 0) return -1;
  static constexpr int kWhence[3] = {SEEK_SET, SEEK_CUR, SEEK_END};
  const off_t pos = ::lseek(fd, static_cast<off_t>(offset), kWhence[origin]);
  return pos < 0 ? -1 : Low32(pos);
}

bool Delete(const char* name) {
  const std::string path = posix::NativePath(name);
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
    errno = EACCES;
    return false;
  }
  return ::unlink(path.c_str()) == 0;
}

bool Move(const char* from, const char* to) {
  const std::string src = posix::NativePath(from);
  const std::string dst = posix::NativePath(to);
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
#endif
  // No atomic form on this file system: check, then rename.
  struct stat st;
  if (::lstat(dst.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(src.c_str(), dst.c_str()) == 0;
}

bool CreateDir(const char* name) {
  return ::mkdir(posix::NativePath(name).c_str(), 0777) == 0;
}

namespace {

// Blocks this large (a decoder's packed data read ahead, a coder's match
// finder) are mapped afresh and mostly written once: in 4 KB pages each
// page is a fault of its own, thousands per archive. The system may give
// them 2 MB pages where it only does so on request.
constexpr size_t kLargePagesFrom = size_t{4} << 20;

void* AskLargePages(void* p, size_t size) {
#if defined(MADV_HUGEPAGE)
  if (p != nullptr && size >= kLargePagesFrom) {
    constexpr uintptr_t kLarge = uintptr_t{2} << 20;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(p) + kLarge - 1) & ~(kLarge - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(p) + size) & ~(kLarge - 1);
    // Only advice: where the system declines, the pages stay small.
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
  }
#else
  (void)size;
#endif
  return p;
}

}  // namespace

void* Alloc(size_t size) {
  return AskLargePages(std::malloc(size), size);
}

void* AllocZeroed(size_t size) {
  return AskLargePages(std::calloc(size, 1), size);
}

void Free(void* p) {
  std::free(p);
}

}  // namespace sys

int Close(Handle h) {
  const int fd = FdOf(h);
  if (fd < 0) return 0;
  return ::close(fd) == 0 ? 1 : 0;
}

int32_t Tell(Handle h) {
  const int fd = FdOf(h);
  if (fd < 0) return -1;
  const off_t pos = ::lseek(fd, 0, SEEK_CUR);
  return pos < 0 ? -1 : Low32(pos);
}

int32_t sys::Size(Handle h) {
  const int fd = FdOf(h);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) return -1;
  return Low32(st.st_size);
}

Handle sys::OpenToRead(const char* name, ReadFacts* facts) {
  const int fd = ::open(posix::NativePath(name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kBadHandle;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return kBadHandle;
  }
  facts->attributes = posix::AttributesOf(st);
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    return kBadHandle;
  }
  uint16_t date = 0;
  uint16_t time = 0;
  facts->time_ok = posix::UnixToDos(st.st_mtime, &date, &time);
  facts->packed_time = facts->time_ok ? (static_cast<uint32_t>(date) << 16) | time : 0;
  facts->size = Low32(st.st_size);
  return static_cast<Handle>(fd);
}

bool Truncate(Handle h) {
  const int fd = FdOf(h);
  if (fd < 0) return false;
  const off_t pos = ::lseek(fd, 0, SEEK_CUR);
  return pos >= 0 && ::ftruncate(fd, pos) == 0;
}

uint32_t GetAttributes(const char* name) {
  if (name == nullptr) return kNoAttributes;
  struct stat st;
  if (::stat(posix::NativePath(name).c_str(), &st) != 0) return kNoAttributes;
  return posix::AttributesOf(st);
}

int SetAttributes(const char* name, uint32_t attributes) {
  if (name == nullptr) return EINVAL;
  const std::string path = posix::NativePath(name);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno;
  // The read-only mark of a directory does not keep files out of it on
  // Windows; clearing a directory's write bits here would, so it is left.
  if (S_ISDIR(st.st_mode)) return 0;
  const mode_t old_mode = st.st_mode & 07777;
  const mode_t new_mode = (attributes & kAttrReadOnly) != 0
                              ? old_mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)
                              : old_mode | S_IWUSR;
  if (new_mode == old_mode) return 0;
  return ::chmod(path.c_str(), new_mode) == 0 ? 0 : errno;
}

bool DeviceNamesReserved() {
  return false;
}

bool RemoveDir(const char* name) {
  if (name == nullptr) return false;
  return ::rmdir(posix::NativePath(name).c_str()) == 0;
}

void HostSeparators(char* text) {
  if (text == nullptr) return;
  for (char* c = text; *c != '\0'; ++c) {
    if (*c == '/') *c = '\\';
  }
}

bool TempPath(char* buf, size_t size) {
  if (buf == nullptr || size == 0) return false;
  buf[0] = '\0';
  const char* env = std::getenv("TMPDIR");
  std::string dir = (env != nullptr && env[0] != '\0') ? env : "/tmp";
  for (char& c : dir) {
    if (c == '/') c = '\\';
  }
  while (!dir.empty() && dir.back() == '\\') dir.pop_back();
  dir += '\\';
  if (dir.size() + 1 > size) return false;
  std::memcpy(buf, dir.c_str(), dir.size() + 1);
  return true;
}

}  // namespace acekit::platform
