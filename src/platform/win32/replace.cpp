// win32 backend: what a rebuild needs to put a new file in the place of an
// old one. Access here is the attribute word; links are not resolved.
#include <cstdio>
#include <cstring>

#include "platform/backend.h"
#include "platform/win32/win.h"

namespace acekit::platform {
namespace {

// Attributes a rebuilt file takes over from the one it replaces. Read-only
// stays off: the new file must be writable while it is made, and a
// read-only archive is not replaced anyway.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

constexpr int kTries = 100;

bool Join(const char* dir, const char* prefix, char* out, size_t size) {
  const size_t d = std::strlen(dir);
  const size_t p = std::strlen(prefix);
  if (d + p + 6 + 1 > size) return false;
  std::memcpy(out, dir, d);
  std::memcpy(out + d, prefix, p + 1);
  return true;
}

}  // namespace

bool GetFileAccess(const char* name, FileAccess* out) {
  if (name == nullptr || out == nullptr) return false;
  const DWORD a = GetFileAttributesA(name);
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  *out = FileAccess{};
  out->mode = a;
  return true;
}

bool ResolveLink(const char* name, char* out, size_t size) {
  if (name == nullptr || out == nullptr || size == 0) return false;
  const size_t n = std::strlen(name);
  if (n + 1 > size) return false;
  std::memcpy(out, name, n + 1);
  return true;
}

namespace sys {

Handle CreateTempFile(const char* dir, const char* prefix, const FileAccess* access, char* name,
                      size_t size) {
  const DWORD attributes =
      FILE_ATTRIBUTE_ARCHIVE | (access != nullptr ? access->mode & kKeptAttributes : 0);
  uint64_t seed = NameSeed();
  for (int i = 0; i < kTries; ++i) {
    if (!Join(dir, prefix, name, size)) break;
    RandomNamePart(name + std::strlen(name), 6, seed);
    const HANDLE h =
        CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, attributes, nullptr);
    if (h != INVALID_HANDLE_VALUE) return reinterpret_cast<Handle>(h);
    const DWORD e = GetLastError();
    if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS) break;
  }
  name[0] = '\0';
  return kBadHandle;
}

bool RenameOver(const char* from, const char* to, const FileAccess* access) {
  (void)access;  // the attributes came with the file when it was created
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool MakeTempDir(const char* prefix, char* out, size_t size) {
  char dir[MAX_PATH + 1];
  const DWORD r = GetTempPathA(sizeof dir, dir);
  if (r == 0 || r >= sizeof dir) return false;
  uint64_t seed = NameSeed();
  for (int i = 0; i < kTries; ++i) {
    if (!Join(dir, prefix, out, size)) break;
    RandomNamePart(out + std::strlen(out), 6, seed);
    if (CreateDirectoryA(out, nullptr)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  out[0] = '\0';
  return false;
}

}  // namespace sys
}  // namespace acekit::platform
