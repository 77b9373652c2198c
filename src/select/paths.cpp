#include "select/paths.h"

#include <cstring>
#include <string_view>

#include "common/status.h"

namespace acekit::select {
namespace {

bool EndsWithSeparator(std::string_view text) {
  return !text.empty() && text.back() == '\\';
}

}  // namespace

bool AddSeparator(const char* src, char* dst, size_t dst_size) {
  if (!format::CopyWhole(dst, dst_size, src)) return false;
  return EndsWithSeparator(dst) || format::AppendWhole(dst, dst_size, "\\");
}

bool StripSeparator(const char* src, char* dst, size_t dst_size) {
  if (!format::CopyWhole(dst, dst_size, src)) return false;
  const size_t len = std::strlen(dst);
  if (len > 3 && dst[len - 1] == '\\') dst[len - 1] = '\0';
  return true;
}

void UpperCopy(const char* src, char* dst, size_t dst_size) {
  format::CopyText(dst, dst_size, src);
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
  return platform::CreateDirChain(path);
}

bool MakeDirectoryOf(const char* path) {
  char stripped[format::kPathSize];
  return StripSeparator(path, stripped, sizeof stripped) && MakeDirectories(stripped);
}

bool OutputPath(const char* stored_name, const format::Settings& settings, char* dst,
                size_t dst_size) {
  char name[format::kPathSize];
  if (!format::CopyWhole(name, sizeof name, stored_name)) {
    if (dst_size > 0) dst[0] = '\0';
    return false;
  }
  for (char* c = name; *c != '\0'; ++c)
    if (*c == '/') *c = '\\';
  if (settings.options & format::kOptKeepPaths) {
    if (name[0] == '\\') CutChars(name, 0, 1);
  } else {
    const format::PathParts parts = format::SplitPath(name);
    char bare[format::kPathSize];
    format::CopyText(bare, sizeof bare, parts.name);
    format::AppendText(bare, sizeof bare, parts.ext);
    format::CopyText(name, sizeof name, bare);
  }
  const size_t relative = std::strlen(settings.relative_path);
  if (relative > 0 && std::strlen(name) > relative)
    CutChars(name, 0, static_cast<int32_t>(relative));
  return format::CopyWhole(dst, dst_size, settings.output_path) &&
         format::AppendWhole(dst, dst_size, name);
}

}  // namespace acekit::select
