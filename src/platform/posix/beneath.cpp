// posix backend: link-aware file kinds, replacing renames, error texts.
#include "platform/beneath.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/posix/native.h"

namespace acekit::platform {

Kind KindOf(const char* name) {
  struct stat st;
  if (::lstat(posix::NativePath(name).c_str(), &st) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? Kind::kMissing : Kind::kOther;
  }
  if (S_ISLNK(st.st_mode)) return Kind::kLink;
  if (S_ISDIR(st.st_mode)) return Kind::kDirectory;
  if (S_ISREG(st.st_mode)) return Kind::kFile;
  return Kind::kOther;
}

bool RenameOver(const char* from, const char* to) {
  return ::rename(posix::NativePath(from).c_str(), posix::NativePath(to).c_str()) == 0;
}

std::string SystemReason() {
  const int e = errno;
  if (e == 0) return {};
  char buf[256];
  // The GNU form may return a static text instead of filling buf.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  return ::strerror_r(e, buf, sizeof buf);
#else
  return ::strerror_r(e, buf, sizeof buf) == 0 ? std::string(buf) : std::string();
#endif
}

}  // namespace acekit::platform
