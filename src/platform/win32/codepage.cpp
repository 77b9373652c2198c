// win32 backend: code pages over user32. Both directions keep the byte
// length on the single-byte code pages, so the text is first cut to the
// buffer and then converted in place (which the calls allow).
#include <cstring>

#include "platform/win32/win.h"

namespace acekit::platform {

namespace {

// Copies src (cut to dst_size - 1 bytes) to dst; false when nothing is left to do.
bool CopyCut(const char* src, char* dst, size_t dst_size) {
  if (dst == nullptr || dst_size == 0) return false;
  if (src == nullptr) {
    dst[0] = '\0';
    return false;
  }
  size_t n = 0;
  while (n + 1 < dst_size && src[n] != '\0') ++n;
  std::memmove(dst, src, n);
  dst[n] = '\0';
  return n != 0;
}

}  // namespace

void CharToOem(const char* src, char* dst, size_t dst_size) {
  if (CopyCut(src, dst, dst_size)) CharToOemA(dst, dst);
}

void OemToChar(const char* src, char* dst, size_t dst_size) {
  if (CopyCut(src, dst, dst_size)) OemToCharA(dst, dst);
}

void CharUpper(char* text) {
  if (text != nullptr && text[0] != '\0') CharUpperA(text);
}

}  // namespace acekit::platform
