#include "select/paths.h"

#include <cstring>
#include <string_view>

#include "common/status.h"

namespace acekit {
namespace {

bool EndsWithSeparator(std::string_view text) {
  return !text.empty() && text.back() == '\\';
}

}  // namespace

void AddSeparator(const char* src, char* dst, size_t dst_size) {
  const size_t len = CopyText(dst, dst_size, src);
  if (!EndsWithSeparator(std::string_view(dst, len))) AppendText(dst, dst_size, "\\");
}

void StripSeparator(const char* src, char* dst, size_t dst_size) {
  const size_t len = CopyText(dst, dst_size, src);
  if (len > 3 && dst[len - 1] == '\\') dst[len - 1] = '\0';
}

void UpperCopy(const char* src, char* dst, size_t dst_size) {
  CopyText(dst, dst_size, src);
  platform::CharUpper(dst);
}

void CutChars(char* text, int32_t pos, int32_t count) {
  const size_t len = std::strlen(text);
  if (count < 1 || pos < 0 || static_cast<size_t>(pos) >= len) return;
  size_t n = static_cast<size_t>(count);
  if (n > len - static_cast<size_t>(pos)) n = len - static_cast<size_t>(pos);
  std::memmove(text + pos, text + pos + n, len - static_cast<size_t>(pos) - n + 1);
}

size_t SeparatorPosition(const char* text, int32_t n) {
  size_t i = 0;
  for (int32_t seen = 0; text[i] != '\0'; ++i)
    if (text[i] == '\\' && ++seen == n) return i;
  return i;
}

bool SameBytes(const void* a, const void* b, size_t n) {
  return std::memcmp(a, b, n) == 0;
}

bool MakeDirectories(const char* path) {
  if (path[0] == '\0' || platform::IsExistingDirectory(path)) return true;
  const size_t len = std::strlen(path);
  const int32_t first = std::strstr(path, "\\\\") != nullptr ? 5 : 2;
  for (int32_t level = first;; ++level) {
    const size_t end = SeparatorPosition(path, level);
    char prefix[kPathSize];
    CopyText(prefix, sizeof prefix, std::string_view(path, end));
    if (!platform::IsExistingDirectory(prefix) && !platform::CreateDir(prefix)) return false;
    if (end >= len) return true;
  }
}

bool MakeDirectoryOf(const char* path) {
  char stripped[kPathSize];
  StripSeparator(path, stripped, sizeof stripped);
  return MakeDirectories(stripped);
}

bool CreateOutputFile(ArcState& st, const char* file_path, platform::Handle* out) {
  const PathParts parts = SplitPath(file_path);
  char dir[kPathSize];
  CopyText(dir, sizeof dir, std::string_view(file_path, parts.drive.size() + parts.dir.size()));
  if (!MakeDirectoryOf(dir)) {
    st.status = kOpenFailed;
    return false;
  }
  *out = platform::Open(file_path, 'w');
  if (*out == platform::kBadHandle) {
    st.status = kOpenFailed;
    return false;
  }
  return true;
}

void OutputPath(const char* stored_name, const Settings& settings, char* dst, size_t dst_size) {
  char name[kPathSize];
  CopyText(name, sizeof name, stored_name);
  for (char* c = name; *c != '\0'; ++c)
    if (*c == '/') *c = '\\';
  if (settings.options & kOptKeepPaths) {
    if (name[0] == '\\') CutChars(name, 0, 1);
  } else {
    const PathParts parts = SplitPath(name);
    char bare[kPathSize];
    CopyText(bare, sizeof bare, parts.name);
    AppendText(bare, sizeof bare, parts.ext);
    CopyText(name, sizeof name, bare);
  }
  const size_t relative = std::strlen(settings.relative_path);
  if (relative > 0 && std::strlen(name) > relative)
    CutChars(name, 0, static_cast<int32_t>(relative));
  CopyText(dst, dst_size, settings.output_path);
  AppendText(dst, dst_size, name);
}

}  // namespace acekit
