#include "select/paths.h"

#include <cstring>
#include <string_view>

#include "api/status.h"

namespace acekit {
namespace {

bool EndsWithSeparator(std::string_view text) {
  return !text.empty() && text.back() == '\\';
}

// Where the levels a path may need made begin: after a drive and its root,
// after the server and share of a network name (which are never made), or
// at the first part of a relative path.
size_t FirstLevel(std::string_view p) {
  if (p.starts_with("\\\\")) {
    const size_t server_end = p.find('\\', 2);
    if (server_end == std::string_view::npos) return p.size() + 1;
    const size_t share_end = p.find('\\', server_end + 1);
    return share_end == std::string_view::npos ? p.size() + 1 : share_end + 1;
  }
  size_t at = p.size() >= 2 && p[1] == ':' ? 2 : 0;
  if (at < p.size() && p[at] == '\\') ++at;
  return at;
}

}  // namespace

bool AddSeparator(const char* src, char* dst, size_t dst_size) {
  if (!CopyWhole(dst, dst_size, src)) return false;
  return EndsWithSeparator(dst) || AppendWhole(dst, dst_size, "\\");
}

bool StripSeparator(const char* src, char* dst, size_t dst_size) {
  if (!CopyWhole(dst, dst_size, src)) return false;
  const size_t len = std::strlen(dst);
  if (len > 3 && dst[len - 1] == '\\') dst[len - 1] = '\0';
  return true;
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
  const std::string_view p(path);
  char prefix[kPathSize];
  if (p.size() >= sizeof prefix) return false;
  for (size_t end = FirstLevel(p); end <= p.size(); ++end) {
    if (end < p.size() && p[end] != '\\') continue;
    if (end == 0 || p[end - 1] == '\\') continue;  // an empty part: nothing to make
    CopyText(prefix, sizeof prefix, p.substr(0, end));
    if (!platform::IsExistingDirectory(prefix) && !platform::CreateDir(prefix)) return false;
  }
  return true;
}

bool MakeDirectoryOf(const char* path) {
  char stripped[kPathSize];
  return StripSeparator(path, stripped, sizeof stripped) && MakeDirectories(stripped);
}

bool CreateOutputFile(ArcState& st, const char* file_path, platform::Handle* out) {
  const PathParts parts = SplitPath(file_path);
  char dir[kPathSize];
  if (!CopyWhole(dir, sizeof dir,
                 std::string_view(file_path, parts.drive.size() + parts.dir.size())) ||
      !MakeDirectoryOf(dir)) {
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

bool OutputPath(const char* stored_name, const Settings& settings, char* dst, size_t dst_size) {
  char name[kPathSize];
  if (!CopyWhole(name, sizeof name, stored_name)) {
    if (dst_size > 0) dst[0] = '\0';
    return false;
  }
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
  return CopyWhole(dst, dst_size, settings.output_path) && AppendWhole(dst, dst_size, name);
}

}  // namespace acekit
