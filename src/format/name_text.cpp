#include "format/name_text.h"

#include <cstring>

#include "platform/platform.h"

namespace acekit::format {

size_t CopyText(char* dst, size_t dst_size, std::string_view src) {
  if (dst_size == 0) return 0;
  const size_t n = src.size() < dst_size - 1 ? src.size() : dst_size - 1;
  // memmove: callers pass views into their own destination.
  if (n > 0) std::memmove(dst, src.data(), n);
  dst[n] = '\0';
  return n;
}

size_t AppendText(char* dst, size_t dst_size, std::string_view src) {
  if (dst_size == 0) return 0;
  size_t used = 0;
  while (used < dst_size - 1 && dst[used] != '\0') ++used;
  return used + CopyText(dst + used, dst_size - used, src);
}

bool CopyWhole(char* dst, size_t dst_size, std::string_view src) {
  if (dst_size == 0) return false;
  if (src.size() >= dst_size) {
    dst[0] = '\0';
    return false;
  }
  CopyText(dst, dst_size, src);
  return true;
}

bool AppendWhole(char* dst, size_t dst_size, std::string_view src) {
  if (dst_size == 0) return false;
  size_t used = 0;
  while (used < dst_size && dst[used] != '\0') ++used;
  if (used >= dst_size || src.size() >= dst_size - used) {
    dst[0] = '\0';
    return false;
  }
  CopyText(dst + used, dst_size - used, src);
  return true;
}

PathParts SplitPath(std::string_view path) {
  PathParts parts;
  if (path.size() >= 2 && path[1] == ':') {
    parts.drive = path.substr(0, 2);
    path.remove_prefix(2);
  }
  const size_t last_sep = path.find_last_of("\\/");
  if (last_sep != std::string_view::npos) {
    parts.dir = path.substr(0, last_sep + 1);
    path.remove_prefix(last_sep + 1);
  }
  const size_t dot = path.rfind('.');
  if (dot != std::string_view::npos) {
    parts.name = path.substr(0, dot);
    parts.ext = path.substr(dot);
  } else {
    parts.name = path;
  }
  return parts;
}

void CutNetworkPrefix(const char* src, char* dst, size_t dst_size) {
  const std::string_view text(src);
  if (!text.starts_with("\\\\")) {
    CopyText(dst, dst_size, text);
    return;
  }
  const size_t server_end = text.find('\\', 2);
  if (server_end == std::string_view::npos) {
    CopyText(dst, dst_size, text.substr(2));
    return;
  }
  const size_t share_end = text.find('\\', server_end + 1);
  CopyText(dst, dst_size, share_end == std::string_view::npos ? "" : text.substr(share_end));
}

void CleanNameFront(char* name) {
  const size_t size = std::strlen(name) + 1;
  auto cut_front = [&](size_t n) {
    const size_t len = std::strlen(name);
    if (n > len) n = len;
    std::memmove(name, name + n, len - n + 1);
  };
  if (name[0] == '\\' && name[1] == '\\') {
    CutNetworkPrefix(name, name, size);
    if (name[0] == '\\') cut_front(1);
    return;
  }
  if (name[0] == '\\') cut_front(1);
  if (name[0] != '\0' && name[1] == ':') cut_front(3);
  if (name[0] == '.' && name[1] == '.') cut_front(3);
}

void NameToOem(const char* ansi, char* dst, size_t dst_size) {
  platform::CharToOem(ansi, dst, dst_size);
}

void NameToAnsi(const char* oem, char* dst, size_t dst_size) {
  platform::OemToChar(oem, dst, dst_size);
}

}  // namespace acekit::format
