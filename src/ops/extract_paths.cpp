#include "ops/extract_paths.h"

#include <cstdint>
#include <cstring>

#include "format/records.h"
#include "select/paths.h"

namespace acekit::ops {
namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The Windows file system trims trailing dots and spaces from every part of
// a path, so "...", ". ." or ".. " can stand for `.` or `..` there.
bool IsOnlyDots(const char* part, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (part[i] != '.' && part[i] != ' ') return false;
  }
  return true;
}

}  // namespace

bool WholeEntryName(platform::Handle archive, const ArcEntry& e, char* dst, size_t dst_size) {
  // One UTF-8 character is at most 3 bytes, so a converted name that ends
  // further than that from the field's end came through whole.
  if (e.fname_size < kStoredNameMax && std::strlen(e.name) + 3 < sizeof e.name) {
    return CopyWhole(dst, dst_size, e.name);
  }
  uint8_t size_field[2];
  if (platform::Seek(archive, static_cast<int32_t>(e.header_offset + kFileHeaderFixed - 2), 0) ==
          -1 ||
      platform::Read(size_field, 2, archive) != 2) {
    return false;
  }
  const uint32_t size = size_field[0] | uint32_t{size_field[1]} << 8;
  char stored[kPathSize];
  if (size >= sizeof stored ||
      (size > 0 && platform::Read(stored, size, archive) != static_cast<int32_t>(size))) {
    return false;
  }
  stored[size] = '\0';
  char ansi[kPathSize * 3];  // each stored byte widens to at most 3
  NameToAnsi(stored, ansi, sizeof ansi);
  if (!CopyWhole(dst, dst_size, ansi)) return false;
  const size_t len = std::strlen(dst);
  if ((e.attr & kAttrDirectory) == 0 || (len > 0 && dst[len - 1] == '\\')) return true;
  return AppendWhole(dst, dst_size, "\\");
}

size_t ConfineName(char* name) {
  const size_t length = std::strlen(name);
  const bool trailing = length > 0 && IsSeparator(name[length - 1]);
  size_t read = 0;
  size_t write = 0;
  while (name[read] != '\0') {
    while (IsSeparator(name[read])) ++read;
    if (name[read] == '\0') break;
    size_t start = read;
    while (name[read] != '\0' && !IsSeparator(name[read])) ++read;
    size_t n = read - start;
    // "C:x" means x in the current directory of drive C, not below ours.
    if (write == 0) {
      while (n >= 2 && IsAsciiLetter(name[start]) && name[start + 1] == ':') {
        start += 2;
        n -= 2;
      }
    }
    if (n == 0 || IsOnlyDots(name + start, n)) continue;
    if (write > 0) name[write++] = '\\';
    std::memmove(name + write, name + start, n);
    write += n;
  }
  if (trailing && write > 0) name[write++] = '\\';
  name[write] = '\0';
  return write;
}

bool ExtractTargetPath(const char* stored_name, const Settings& settings, char* dst,
                       size_t dst_size) {
  if (!OutputPath(stored_name, settings, dst, dst_size)) return false;
  size_t prefix = std::strlen(settings.output_path);
  const size_t total = std::strlen(dst);
  if (prefix > total) prefix = total;
  ConfineName(dst + prefix);
  return true;
}

}  // namespace acekit::ops
