// posix backend: the "ANSI" code page is UTF-8, the "OEM" code page CP437.
// A name CP437 cannot hold is kept as its UTF-8 bytes rather than losing
// characters to '?', and such bytes are recognised again on the way back, so
// names travel between UTF-8 systems unchanged.
#include "platform/platform.h"
#include "platform/text.h"

namespace acekit::platform {
namespace {

// Plain ASCII reads the same in both code pages, and most names are that:
// they are copied without being decoded into characters on the way.
bool IsAscii(const char* text) {
  for (const auto* s = reinterpret_cast<const unsigned char*>(text); *s != 0; ++s) {
    if (*s >= 0x80) return false;
  }
  return true;
}

}  // namespace

void CharToOem(const char* src, char* dst, size_t dst_size) {
  if (src != nullptr && IsAscii(src)) {
    text::CopyUtf8(src, dst, dst_size);
    return;
  }
  if (src != nullptr && !text::FitsCp437(src) && text::IsMultibyteUtf8(src)) {
    text::CopyUtf8(src, dst, dst_size);
    return;
  }
  text::Utf8ToCp437(src, dst, dst_size);
}

void OemToChar(const char* src, char* dst, size_t dst_size) {
  if ((src != nullptr && IsAscii(src)) || text::IsMultibyteUtf8(src)) {
    text::CopyUtf8(src, dst, dst_size);
    return;
  }
  text::Cp437ToUtf8(src, dst, dst_size);
}

void CharUpper(char* text) {
  text::UpperUtf8(text);
}

}  // namespace acekit::platform
