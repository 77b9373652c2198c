#include "ops/extract_paths.h"

#include <cstdint>
#include <cstring>

#include "format/records.h"
#include "platform/platform.h"
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

// A name Windows takes for a device whatever directory it stands in: CON,
// PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, in any case, with any extension and
// with spaces before the extension.
bool IsDeviceName(const char* part, size_t n) {
  size_t base = 0;
  while (base < n && part[base] != '.') ++base;
  while (base > 0 && part[base - 1] == ' ') --base;
  char upper[5] = {};
  if (base < 3 || base > 4) return false;
  for (size_t i = 0; i < base; ++i) {
    const char c = part[i];
    upper[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  if (base == 3) {
    for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
      if (std::memcmp(upper, device, 3) == 0) return true;
    }
    return false;
  }
  return (std::memcmp(upper, "COM", 3) == 0 || std::memcmp(upper, "LPT", 3) == 0) &&
         upper[3] >= '1' && upper[3] <= '9';
}

}  // namespace

bool WholeEntryName(platform::Handle archive, const ArcEntry& e, char* dst, size_t dst_size) {
  // One UTF-8 character is at most 3 bytes, so a converted name that ends
  // further than that from the field's end came through whole.
  if (e.fname_size < format::kStoredNameMax && std::strlen(e.name) + 3 < sizeof e.name) {
    return format::CopyWhole(dst, dst_size, e.name);
  }
  uint8_t size_field[2];
  if (platform::Seek(archive, static_cast<int32_t>(e.header_offset + format::kFileHeaderFixed - 2),
                     0) == -1 ||
      platform::Read(size_field, 2, archive) != 2) {
    return false;
  }
  const uint32_t size = size_field[0] | uint32_t{size_field[1]} << 8;
  char stored[format::kPathSize];
  if (size >= sizeof stored ||
      (size > 0 && platform::Read(stored, size, archive) != static_cast<int32_t>(size))) {
    return false;
  }
  stored[size] = '\0';
  char ansi[format::kPathSize * 3];  // each stored byte widens to at most 3
  format::NameToAnsi(stored, ansi, sizeof ansi);
  if (!format::CopyWhole(dst, dst_size, ansi)) return false;
  const size_t len = std::strlen(dst);
  if ((e.attr & format::kAttrDirectory) == 0 || (len > 0 && dst[len - 1] == '\\')) return true;
  return format::AppendWhole(dst, dst_size, "\\");
}

bool DefuseDeviceNames(char* name, size_t size) {
  // Two passes, so that what does not fit is left exactly as it was.
  for (const bool apply : {false, true}) {
    size_t length = std::strlen(name);
    size_t added = 0;
    for (size_t start = 0; start < length;) {
      size_t end = start;
      while (end < length && !IsSeparator(name[end])) ++end;
      const char* part = name + start;
      const size_t n = end - start;
      const bool trimmed = n > 0 && (part[n - 1] == '.' || part[n - 1] == ' ');
      if (n > 0 && (IsDeviceName(part, n) || trimmed)) {
        ++added;
        if (apply) {
          // The trailing dots and spaces become `_` as well: a prefix alone
          // would still be trimmed by Windows, into a name that another
          // entry may have.
          for (size_t i = end; i > start && (name[i - 1] == '.' || name[i - 1] == ' '); --i) {
            name[i - 1] = '_';
          }
          std::memmove(name + start + 1, name + start, length - start + 1);
          name[start] = '_';
          ++end;
          ++length;
        }
      }
      start = end + 1;
    }
    // Most names hold no such part: nothing to apply.
    if (!apply && added == 0) return true;
    if (!apply && length + added + 1 > size) return false;
  }
  return true;
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

bool ExtractTargetPath(const char* stored_name, const format::Settings& settings, char* dst,
                       size_t dst_size, bool rebuild) {
  if (!select::OutputPath(stored_name, settings, dst, dst_size)) return false;
  size_t prefix = std::strlen(settings.output_path);
  const size_t total = std::strlen(dst);
  if (prefix > total) prefix = total;
  ConfineName(dst + prefix);
  if (rebuild && !platform::DeviceNamesReserved()) return true;
  return DefuseDeviceNames(dst + prefix, dst_size - prefix);
}

}  // namespace acekit::ops
