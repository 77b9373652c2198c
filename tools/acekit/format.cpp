#include "format.h"

#include <cstdio>

namespace acekit_cli {

std::string HumanSize(uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  double v = static_cast<double>(bytes) / 1024.0;
  int unit = 0;
  while (v >= 1024.0 && unit < 3) {
    v /= 1024.0;
    ++unit;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, v < 10.0 ? "%.1f %s" : "%.0f %s", v, kUnits[unit]);
  return buf;
}

std::string Count(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

unsigned Ratio(uint64_t packed, uint64_t original) {
  if (original == 0) return 0;
  return static_cast<unsigned>((packed * 100 + original / 2) / original);
}

std::string AttrLetters(uint32_t attr) {
  std::string s = ".....";
  if (attr & 0x10) s[0] = 'D';
  if (attr & 0x01) s[1] = 'R';
  if (attr & 0x02) s[2] = 'H';
  if (attr & 0x04) s[3] = 'S';
  if (attr & 0x20) s[4] = 'A';
  return s;
}

namespace {

// The length of the valid UTF-8 sequence at text[i], or 0.
size_t Utf8Length(std::string_view text, size_t i, uint32_t* value) {
  const auto c = static_cast<unsigned char>(text[i]);
  size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
  if (len == 0 || i + len > text.size()) return 0;
  uint32_t v = len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
  for (size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    v = (v << 6) | (b & 0x3F);
  }
  if ((len == 3 && (v < 0x800 || (v >= 0xD800 && v <= 0xDFFF))) ||
      (len == 4 && (v < 0x10000 || v > 0x10FFFF))) {
    return 0;
  }
  *value = v;
  return len;
}

void AppendHex(std::string& out, unsigned char c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02x", c);
  out += buf;
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      uint32_t v = 0;
      const size_t len = Utf8Length(text, i, &v);
      if (len == 0 || (v >= 0x80 && v <= 0x9F)) {
        // A C1 control would be taken by some terminals as the start of a
        // command; it is shown as its bytes.
        const size_t n = len == 0 ? 1 : len;
        for (size_t k = 0; k < n; ++k) AppendHex(out, static_cast<unsigned char>(text[i + k]));
        i += n;
      } else {
        out.append(text.substr(i, len));
        i += len;
      }
      continue;
    }
    ++i;
    static constexpr char kLetters[] = "abtnvfr";  // 0x07 to 0x0D
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x07 && c <= 0x0D) {
      out += '\\';
      out += kLetters[c - 0x07];
    } else if (c == 0x1B) {
      out += "\\e";
    } else if (c < 0x20 || c == 0x7F) {
      AppendHex(out, c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Json(std::string_view text) {
  std::string out = "\"";
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      switch (c) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\t':
          out += "\\t";
          break;
        default:
          if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
          } else {
            out += static_cast<char>(c);
          }
      }
      ++i;
      continue;
    }
    size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
    if (c > 0xF4) len = 0;
    bool ok = len != 0 && i + len <= text.size();
    uint32_t v = len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (size_t k = 1; ok && k < len; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      ok = (b & 0xC0) == 0x80;
      v = (v << 6) | (b & 0x3F);
    }
    if (ok && ((len == 3 && (v < 0x800 || (v >= 0xD800 && v <= 0xDFFF))) ||
               (len == 4 && (v < 0x10000 || v > 0x10FFFF)))) {
      ok = false;
    }
    if (ok) {
      out.append(text.substr(i, len));
      i += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  out += '"';
  return out;
}

}  // namespace acekit_cli
