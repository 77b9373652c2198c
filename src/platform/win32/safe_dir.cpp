// win32 backend: the directory walk that does not pass through reparse
// points (symbolic links, junctions, mount points), and the temporary file
// that replaces an extracted file's directory entry.
#include <atomic>
#include <string>

#include "platform/backend.h"
#include "platform/win32/win.h"

namespace acekit::platform::sys {
namespace {

std::string Below(const std::string& path, const char* name) {
  std::string out = path;
  if (!out.empty() && out.back() != '\\' && out.back() != '/') out += '\\';
  return out += name;
}

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

SafeDir::Result OpenBaseDir(const char* path, intptr_t* dir) {
  *dir = -1;
  const DWORD a = GetFileAttributesA(path);
  if (a == INVALID_FILE_ATTRIBUTES) {
    return IsMissing(GetLastError()) ? SafeDir::Result::kMissing : SafeDir::Result::kFailed;
  }
  return (a & FILE_ATTRIBUTE_DIRECTORY) != 0 ? SafeDir::Result::kOk : SafeDir::Result::kFailed;
}

SafeDir::Result OpenDirBelow(intptr_t, const std::string& path, const char* name, intptr_t* out) {
  *out = -1;
  const DWORD a = GetFileAttributesA(Below(path, name).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) {
    return IsMissing(GetLastError()) ? SafeDir::Result::kMissing : SafeDir::Result::kFailed;
  }
  if ((a & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return SafeDir::Result::kLink;
  return (a & FILE_ATTRIBUTE_DIRECTORY) != 0 ? SafeDir::Result::kOk : SafeDir::Result::kFailed;
}

bool MakeDirBelow(intptr_t, const std::string& path, const char* name) {
  return CreateDirectoryA(Below(path, name).c_str(), nullptr) != 0;
}

void CloseDir(intptr_t) {}

SafeDir::Kind LookupBelow(intptr_t, const std::string& path, const char* name) {
  const DWORD a = GetFileAttributesA(Below(path, name).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) {
    return IsMissing(GetLastError()) ? SafeDir::Kind::kNone : SafeDir::Kind::kOther;
  }
  if ((a & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return SafeDir::Kind::kLink;
  return (a & FILE_ATTRIBUTE_DIRECTORY) != 0 ? SafeDir::Kind::kDirectory : SafeDir::Kind::kFile;
}

void SetDirAttributes(intptr_t, const std::string& path, uint32_t attributes) {
  SetFileAttributesA(path.c_str(), attributes);
}

Handle CreateFileBelow(intptr_t, const std::string& path, const char* name, uint32_t) {
  const HANDLE h = CreateFileA(Below(path, name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  return h == INVALID_HANDLE_VALUE ? kBadHandle : reinterpret_cast<Handle>(h);
}

uint32_t CreationMask() {
  return 0;
}

void FinishFile(Handle h, uint32_t, uint32_t, uint32_t packed_time) {
  if (h == kBadHandle || h == 0) return;
  if (packed_time != 0) SetPackedFileTime(h, packed_time);
  CloseHandle(win32::ToHandle(h));
}

bool ReplaceBelow(intptr_t, const std::string& path, const char* from, const char* to,
                  uint32_t attributes) {
  const std::string target = Below(path, to);
  if (!MoveFileExA(Below(path, from).c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return false;
  }
  SetFileAttributesA(target.c_str(), attributes);
  return true;
}

void SetFileAttributesBelow(intptr_t, const std::string& path, const char* name,
                            uint32_t attributes) {
  SetFileAttributesA(Below(path, name).c_str(), attributes);
}

bool DeleteBelow(intptr_t, const std::string& path, const char* name) {
  return DeleteFileA(Below(path, name).c_str()) != 0;
}

uint64_t NameSeed() {
  // Writers on several host threads take names at once.
  static std::atomic<uint64_t> counter{0};
  LARGE_INTEGER t{};
  QueryPerformanceCounter(&t);
  uint64_t seed = static_cast<uint64_t>(t.QuadPart);
  seed ^= static_cast<uint64_t>(GetCurrentProcessId()) << 40;
  seed ^= (counter.fetch_add(1, std::memory_order_relaxed) + 1) * 0x9E3779B97F4A7C15ull;
  return seed != 0 ? seed : 1;
}

}  // namespace acekit::platform::sys
