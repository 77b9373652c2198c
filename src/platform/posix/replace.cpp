// posix backend: what a rebuild needs to put a new file in the place of an
// old one without exposing its content or losing the old file's access.
#include <fcntl.h>
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
namespace {

constexpr mode_t kPermissionBits = 0777;

bool CopyOut(const std::string& text, char* out, size_t size) {
  if (text.size() + 1 > size) return false;
  std::memcpy(out, text.c_str(), text.size() + 1);
  return true;
}

}  // namespace

bool GetFileAccess(const char* name, FileAccess* out) {
  if (name == nullptr || out == nullptr) return false;
  struct stat st;
  if (::stat(posix::NativePath(name).c_str(), &st) != 0) return false;
  out->mode = static_cast<uint32_t>(st.st_mode & kPermissionBits);
  out->owner = static_cast<uint32_t>(st.st_uid);
  out->group = static_cast<uint32_t>(st.st_gid);
  return true;
}

bool ResolveLink(const char* name, char* out, size_t size) {
  if (name == nullptr || out == nullptr || size == 0) return false;
  std::string result(name);
  const std::string path = posix::NativePath(name);
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr); real != nullptr) {
      result = real;
      std::free(real);
    }
  }
  return CopyOut(result, out, size);
}

namespace sys {

Handle CreateTempFile(const char* dir, const char* prefix, const FileAccess* access, char* name,
                      size_t size) {
  std::string path = posix::NativePath(dir);
  if (!path.empty() && path.back() != '/') path += '/';
  path += prefix;
  path += "XXXXXX";
  if (path.size() + 1 > size) return kBadHandle;
  std::memcpy(name, path.c_str(), path.size() + 1);
  // mkostemp creates the file for its owner alone; the archive's wider bits
  // are granted before a byte is written, never more than it had.
  const int fd = ::mkostemp(name, O_CLOEXEC);
  if (fd < 0) {
    name[0] = '\0';
    return kBadHandle;
  }
  if (access != nullptr) {
    // Owner first: a change of owner may clear bits that fchmod then sets.
    if (::fchown(fd, access->owner, access->group) != 0) {
      (void)::fchown(fd, static_cast<uid_t>(-1), access->group);
    }
    (void)::fchmod(fd, (access->mode & kPermissionBits) | S_IWUSR | S_IRUSR);
  }
  return static_cast<Handle>(fd);
}

bool RenameOver(const char* from, const char* to, const FileAccess* access) {
  const std::string dst = posix::NativePath(to);
  if (::rename(posix::NativePath(from).c_str(), dst.c_str()) != 0) return false;
  if (access != nullptr && (access->mode & (S_IWUSR | S_IRUSR)) != (S_IWUSR | S_IRUSR)) {
    (void)::chmod(dst.c_str(), access->mode & kPermissionBits);
  }
  return true;
}

bool MakeTempDir(const char* prefix, char* out, size_t size) {
  const char* env = std::getenv("TMPDIR");
  std::string path = (env != nullptr && env[0] != '\0') ? env : "/tmp";
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path.back() != '/') path += '/';
  path += prefix;
  path += "XXXXXX";
  if (path.size() + 1 > size) return false;
  std::memcpy(out, path.c_str(), path.size() + 1);
  if (::mkdtemp(out) == nullptr) {
    out[0] = '\0';
    return false;
  }
  for (char* c = out; *c != '\0'; ++c) {
    if (*c == '/') *c = '\\';
  }
  return true;
}

}  // namespace sys
}  // namespace acekit::platform
