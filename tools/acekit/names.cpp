#include "names.h"

#include <array>
#include <cstdint>
#include <vector>

namespace acekit_cli {
namespace {

// Unicode code points of CP437 bytes 0x80 to 0xFF.
constexpr std::array<uint16_t, 128> kCp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

int Cp437Byte(uint32_t cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  for (size_t i = 0; i < kCp437High.size(); ++i) {
    if (kCp437High[i] == cp) return static_cast<int>(0x80 + i);
  }
  return -1;
}

// One code point per character; an invalid byte decodes to '?' on its own,
// which is also what the archive will hold for it.
std::vector<uint32_t> Decode(std::string_view s, bool* invalid) {
  std::vector<uint32_t> out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    size_t len = 0;
    uint32_t min = 0;
    uint32_t v = 0;
    if (b0 < 0x80) {
      len = 1, v = b0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      len = 2, min = 0x80, v = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      len = 3, min = 0x800, v = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      len = 4, min = 0x10000, v = b0 & 0x07;
    }
    bool ok = len != 0 && i + len <= s.size();
    for (size_t k = 1; ok && k < len; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      ok = (b & 0xC0) == 0x80;
      v = (v << 6) | (b & 0x3F);
    }
    if (ok && len > 1 && (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))) ok = false;
    if (!ok) {
      if (invalid) *invalid = true;
      out.push_back('?');
      ++i;
      continue;
    }
    out.push_back(v);
    i += len;
  }
  return out;
}

void Encode(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The characters as CP437 holds them, '?' for the others.
std::vector<uint32_t> Cp437Chars(std::string_view utf8, bool* lossy) {
  bool invalid = false;
  std::vector<uint32_t> chars = Decode(utf8, &invalid);
  bool replaced = invalid;
  for (uint32_t& c : chars) {
    if (Cp437Byte(c) < 0) {
      c = '?';
      replaced = true;
    }
  }
  if (lossy) *lossy = replaced;
  return chars;
}

// Valid UTF-8 that CP437 cannot hold: the library stores such a name as its
// UTF-8 bytes, so it reads back unchanged.
bool KeptAsUtf8(std::string_view utf8) {
  bool invalid = false;
  const std::vector<uint32_t> chars = Decode(utf8, &invalid);
  if (invalid) return false;
  for (uint32_t c : chars) {
    if (Cp437Byte(c) < 0) return true;
  }
  return false;
}

// The characters as the archive will hold them.
std::vector<uint32_t> StoredChars(std::string_view utf8, bool* lossy) {
  if (KeptAsUtf8(utf8)) {
    if (lossy) *lossy = false;
    return Decode(utf8, nullptr);
  }
  return Cp437Chars(utf8, lossy);
}

uint32_t Upper(uint32_t c) {
  if (c >= 'a' && c <= 'z') return c - 0x20;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  return c;
}

// Most names are plain ASCII, which every step below leaves as it is: they
// skip the decoding, which a walk of many files otherwise spends a good
// part of its time on before the first file is read.
bool IsAscii(std::string_view s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool IsDrive(std::string_view part) {
  return part.size() >= 2 && part[1] == ':' &&
         ((part[0] >= 'A' && part[0] <= 'Z') || (part[0] >= 'a' && part[0] <= 'z'));
}

}  // namespace

std::string AsStored(std::string_view utf8, bool* lossy) {
  if (IsAscii(utf8)) {
    if (lossy) *lossy = false;
    return std::string(utf8);
  }
  std::string out;
  for (uint32_t c : StoredChars(utf8, lossy)) Encode(c, out);
  return out;
}

size_t StoredLength(std::string_view utf8) {
  if (IsAscii(utf8)) return utf8.size();
  return KeptAsUtf8(utf8) ? utf8.size() : StoredChars(utf8, nullptr).size();
}

std::string ToCp437(std::string_view utf8, bool* lossy) {
  std::string out;
  for (uint32_t c : Cp437Chars(utf8, lossy)) out += static_cast<char>(Cp437Byte(c));
  return out;
}

std::string SameNameKey(std::string_view utf8) {
  if (IsAscii(utf8)) {
    std::string out(utf8);
    for (char& c : out) c = static_cast<char>(Upper(static_cast<unsigned char>(c)));
    return out;
  }
  std::string out;
  for (uint32_t c : StoredChars(utf8, nullptr)) Encode(Upper(c), out);
  return out;
}

CleanPath Clean(std::string_view path) {
  CleanPath r;
  r.absolute = !path.empty() && path[0] == '/';
  std::vector<std::string_view> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string_view::npos) j = path.size();
    const std::string_view part = path.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (!r.absolute) {
        parts.push_back(part);  // "/.." is "/" itself
      }
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  for (const auto& p : parts) {
    if (!r.path.empty()) r.path += '/';
    r.path += p;
  }
  r.escapes = !parts.empty() && parts.front() == "..";
  return r;
}

std::string UnstorableReason(std::string_view stored, bool directory) {
  if (stored.find('\\') != std::string_view::npos) {
    return "its name holds a backslash, which archives use between directories";
  }
  const size_t slash = stored.find('/');
  const std::string_view first = stored.substr(0, slash);
  if (IsDrive(first)) return "its name would be read as a drive letter";
  if (stored.starts_with("..")) return "its name begins with two dots";
  const std::string_view last = stored.substr(stored.rfind('/') + 1);
  if (!directory && last.size() > 1 && last.back() == '.') {
    return "its name ends with a dot, which the archive cannot keep";
  }
  if (StoredLength(stored) + (directory ? 1 : 0) > 255) {
    return "its name is longer than 255 characters";
  }
  return "";
}

std::string FromLibrary(std::string_view path) {
  std::string out(path);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

namespace {

char Fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The length of the UTF-8 character at the front of `s` (1 for a stray byte).
size_t CharLength(std::string_view s) {
  const auto lead = static_cast<unsigned char>(s[0]);
  size_t n = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  return n <= s.size() ? n : 1;
}

// Matches a bracket set at the front of `p` (just past '[') against `c`;
// *used is how much of `p` it took, 0 when the set is not closed.
bool MatchSet(std::string_view p, char c, size_t* used) {
  size_t i = 0;
  bool negate = false;
  if (i < p.size() && (p[i] == '!' || p[i] == '^')) negate = true, ++i;
  bool hit = false;
  bool first = true;
  for (; i < p.size() && (first || p[i] != ']'); first = false) {
    char lo = p[i++];
    char hi = lo;
    if (i + 1 < p.size() && p[i] == '-' && p[i + 1] != ']') hi = p[i + 1], i += 2;
    if (Fold(lo) <= Fold(c) && Fold(c) <= Fold(hi)) hit = true;
  }
  if (i >= p.size()) return *used = 0, false;
  *used = i + 1;
  return hit != negate;
}

// One part against one glob without '/'.
bool Glob(std::string_view p, std::string_view s) {
  // Backtracking to the last '*' is enough: each '*' absorbs what it must.
  size_t pi = 0, si = 0, star = std::string_view::npos, resume = 0;
  while (si < s.size()) {
    if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      resume = si;
      continue;
    }
    if (pi < p.size()) {
      size_t step = 1;  // pattern bytes taken
      size_t took = 1;  // name bytes taken
      bool ok = false;
      if (p[pi] == '?') {
        ok = true;
        took = CharLength(s.substr(si));
      } else if (p[pi] == '[') {
        size_t used = 0;
        const bool hit = MatchSet(p.substr(pi + 1), s[si], &used);
        ok = used == 0 ? s[si] == '[' : hit;  // an unclosed '[' is itself
        step = used == 0 ? 1 : used + 1;
      } else {
        ok = Fold(p[pi]) == Fold(s[si]);
      }
      if (ok) {
        pi += step;
        si += took;
        continue;
      }
    }
    if (star == std::string_view::npos) return false;
    pi = star + 1;
    si = ++resume;
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

std::vector<std::string_view> Parts(std::string_view s) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find('/', start);
    if (end == std::string_view::npos) end = s.size();
    if (end > start) parts.push_back(s.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace

bool PatternSelects(std::string_view pattern, std::string_view name) {
  while (pattern.substr(0, 2) == "./") pattern.remove_prefix(2);
  const bool anchored = pattern.find('/') != std::string_view::npos;
  const auto want = Parts(pattern);
  const auto have = Parts(name);
  if (want.empty()) return true;
  if (!anchored) {
    for (std::string_view part : have) {
      if (Glob(want[0], part)) return true;
    }
    return false;
  }
  if (want.size() > have.size()) return false;
  for (size_t i = 0; i < want.size(); ++i) {
    if (!Glob(want[i], have[i])) return false;
  }
  return true;
}

bool EscapesOnExtract(std::string_view name) {
  // Most names hold no ".." at all; the scan of the parts is for the rest.
  if (name.find("..") == std::string_view::npos) return false;
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '/' || name[i] == '\\') {
      if (i - start == 2 && name[start] == '.' && name[start + 1] == '.') return true;
      start = i + 1;
    }
  }
  return false;
}

}  // namespace acekit_cli
