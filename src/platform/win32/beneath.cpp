// win32 backend: link-aware file kinds, replacing renames, error texts.
#include "platform/beneath.h"

#include "platform/win32/win.h"

namespace acekit::platform {

Kind KindOf(const char* name) {
  const DWORD a = GetFileAttributesA(name);
  if (a == INVALID_FILE_ATTRIBUTES) {
    const DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? Kind::kMissing : Kind::kOther;
  }
  if (a & FILE_ATTRIBUTE_REPARSE_POINT) return Kind::kLink;
  return (a & FILE_ATTRIBUTE_DIRECTORY) ? Kind::kDirectory : Kind::kFile;
}

bool RenameOver(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

std::string SystemReason() {
  const DWORD e = GetLastError();
  if (e == 0) return {};
  char buf[256];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, e,
                           0, buf, sizeof buf, nullptr);
  while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r' || buf[n - 1] == '.')) --n;
  return std::string(buf, n);
}

}  // namespace acekit::platform
