#include "platform/text.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace acekit::platform::text {
namespace {

constexpr uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  // 98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // A0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // C8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // D8
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // E0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  // E8
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  // F8
};

// Decodes one UTF-8 character at s (not at the terminator). Returns its
// length and stores the code point, or returns 0 for an invalid sequence.
size_t DecodeUtf8(const unsigned char* s, uint32_t* cp) {
  const unsigned char b0 = s[0];
  if (b0 < 0x80) {
    *cp = b0;
    return 1;
  }
  size_t len;
  uint32_t min;
  uint32_t v;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, min = 0x80, v = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, min = 0x800, v = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, min = 0x10000, v = b0 & 0x07;
  } else {
    return 0;
  }
  for (size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;  // also stops at the terminator
    v = (v << 6) | (s[i] & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return len;
}

size_t EncodeUtf8(uint32_t cp, char* out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  out[0] = static_cast<char>(0xE0 | (cp >> 12));
  out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 | (cp & 0x3F));
  return 3;
}

bool Overlaps(const char* src, const char* dst, size_t dst_size) {
  const auto s = reinterpret_cast<uintptr_t>(src);
  const auto d = reinterpret_cast<uintptr_t>(dst);
  const size_t src_len = std::strlen(src) + 1;
  return s < d + dst_size && d < s + src_len;
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c;
}

// Pattern symbols after the find-first translation; plain bytes are 0..255.
enum : int { kStar = 256, kDosStar, kDosQm, kDosDot };

std::vector<int> TranslatePattern(const char* pattern) {
  std::string p(pattern);
  if (p == "*.*") return {kStar};
  // The system drops trailing dots from the last part of a path; a pattern
  // that then ends in `*` only matches names without a dot ("*." form).
  bool had_dot = false;
  if (p.find_first_not_of('.') != std::string::npos) {
    while (!p.empty() && p.back() == '.') {
      p.pop_back();
      had_dot = true;
    }
  }
  std::vector<int> out;
  out.reserve(p.size());
  for (size_t i = 0; i < p.size(); ++i) {
    const char c = p[i];
    const char next = i + 1 < p.size() ? p[i + 1] : '\0';
    if (c == '*') {
      out.push_back(next == '.' ? kDosStar : kStar);
    } else if (c == '?') {
      out.push_back(kDosQm);
    } else if (c == '.' && (next == '?' || next == '*')) {
      out.push_back(kDosDot);
    } else {
      out.push_back(static_cast<unsigned char>(c));
    }
  }
  if (had_dot && !out.empty() && out.back() == kStar) out.back() = kDosStar;
  return out;
}

}  // namespace

uint32_t Cp437ToUnicode(uint8_t byte) {
  return byte < 0x80 ? byte : kCp437High[byte - 0x80];
}

int UnicodeToCp437(uint32_t code_point) {
  if (code_point < 0x80) return static_cast<int>(code_point);
  for (int i = 0; i < 128; ++i) {
    if (kCp437High[i] == code_point) return 0x80 + i;
  }
  return -1;
}

void Utf8ToCp437(const char* src, char* dst, size_t dst_size) {
  if (dst == nullptr || dst_size == 0) return;
  if (src == nullptr) {
    dst[0] = '\0';
    return;
  }
  // Each character becomes one byte, so the output never overtakes the input:
  // the conversion can run in place.
  const auto* s = reinterpret_cast<const unsigned char*>(src);
  size_t out = 0;
  while (*s != 0 && out + 1 < dst_size) {
    uint32_t cp = 0;
    const size_t len = DecodeUtf8(s, &cp);
    int b = '?';
    if (len != 0) {
      const int mapped = UnicodeToCp437(cp);
      if (mapped >= 0) b = mapped;
    }
    s += len != 0 ? len : 1;
    dst[out++] = static_cast<char>(b);
  }
  dst[out] = '\0';
}

void Cp437ToUtf8(const char* src, char* dst, size_t dst_size) {
  if (dst == nullptr || dst_size == 0) return;
  if (src == nullptr) {
    dst[0] = '\0';
    return;
  }
  std::string copy;
  if (Overlaps(src, dst, dst_size)) {
    copy = src;
    src = copy.c_str();
  }
  size_t out = 0;
  for (const auto* s = reinterpret_cast<const unsigned char*>(src); *s != 0; ++s) {
    char buf[4];
    const size_t len = EncodeUtf8(Cp437ToUnicode(*s), buf);
    if (out + len + 1 > dst_size) break;
    std::memcpy(dst + out, buf, len);
    out += len;
  }
  dst[out] = '\0';
}

bool FitsCp437(const char* utf8) {
  if (utf8 == nullptr) return true;
  for (const auto* s = reinterpret_cast<const unsigned char*>(utf8); *s != 0;) {
    uint32_t cp = 0;
    const size_t len = DecodeUtf8(s, &cp);
    if (len == 0 || UnicodeToCp437(cp) < 0) return false;
    s += len;
  }
  return true;
}

bool IsMultibyteUtf8(const char* text) {
  if (text == nullptr) return false;
  bool multibyte = false;
  for (const auto* s = reinterpret_cast<const unsigned char*>(text); *s != 0;) {
    uint32_t cp = 0;
    const size_t len = DecodeUtf8(s, &cp);
    if (len == 0) return false;
    multibyte |= len > 1;
    s += len;
  }
  return multibyte;
}

void CopyUtf8(const char* src, char* dst, size_t dst_size) {
  if (dst == nullptr || dst_size == 0) return;
  if (src == nullptr) {
    dst[0] = '\0';
    return;
  }
  size_t n = std::strlen(src);
  if (n > dst_size - 1) {
    n = dst_size - 1;
    // Back off over continuation bytes so no character is cut in half.
    while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80) --n;
  }
  std::memmove(dst, src, n);
  dst[n] = '\0';
}

void UpperUtf8(char* text) {
  if (text == nullptr) return;
  auto* s = reinterpret_cast<unsigned char*>(text);
  while (*s != 0) {
    uint32_t cp = 0;
    const size_t len = DecodeUtf8(s, &cp);
    if (len == 0) {
      ++s;
      continue;
    }
    if (len == 1) {
      *s = static_cast<unsigned char>(AsciiUpper(static_cast<char>(*s)));
    } else if (len == 2) {
      uint32_t up = cp;
      if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) {
        up = cp - 0x20;
      } else if (cp == 0xFF) {
        up = 0x178;  // ÿ -> Ÿ
      } else if (cp == 0x161 || cp == 0x153 || cp == 0x17E) {
        up = cp - 1;  // š œ ž -> Š Œ Ž
      }
      if (up != cp) EncodeUtf8(up, reinterpret_cast<char*>(s));
    }
    s += len;
  }
}

bool HasWildcards(const char* part) {
  return part != nullptr && std::strpbrk(part, "*?") != nullptr;
}

bool MatchesPattern(const char* pattern, const char* name) {
  if (pattern == nullptr || name == nullptr) return false;
  const std::vector<int> p = TranslatePattern(pattern);
  const size_t m = p.size();
  const size_t n = std::strlen(name);
  const char* last_dot = std::strrchr(name, '.');
  const size_t final_dot = last_dot != nullptr ? static_cast<size_t>(last_dot - name) : n;
  // ok[i * (n + 1) + j]: pattern from i matches name from j.
  std::vector<char> ok((m + 1) * (n + 1), 0);
  auto at = [&](size_t i, size_t j) -> char& { return ok[i * (n + 1) + j]; };
  at(m, n) = 1;
  for (size_t i = m; i-- > 0;) {
    for (size_t j = n + 1; j-- > 0;) {
      const bool end = j == n;
      const char c = end ? '\0' : name[j];
      bool r = false;
      switch (p[i]) {
        case kStar:
          r = at(i + 1, j) || (!end && at(i, j + 1));
          break;
        case kDosStar:  // any run that does not eat the final dot
          r = at(i + 1, j) || (!end && j != final_dot && at(i, j + 1));
          break;
        case kDosQm:  // one character, or nothing before a dot or at the end
          r = (end || c == '.') ? at(i + 1, j) : at(i + 1, j + 1);
          break;
        case kDosDot:  // a dot, or nothing at the end
          r = end ? at(i + 1, j) : (c == '.' && at(i + 1, j + 1));
          break;
        default:
          r = !end && AsciiUpper(c) == AsciiUpper(static_cast<char>(p[i])) && at(i + 1, j + 1);
          break;
      }
      at(i, j) = r ? 1 : 0;
    }
  }
  return at(0, 0) != 0;
}

}  // namespace acekit::platform::text
