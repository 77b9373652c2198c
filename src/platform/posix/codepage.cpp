// posix backend: the "ANSI" code page is UTF-8, the "OEM" code page CP437.
#include "platform/platform.h"
#include "platform/text.h"

namespace acekit::platform {

void CharToOem(const char* src, char* dst, size_t dst_size) {
  text::Utf8ToCp437(src, dst, dst_size);
}

void OemToChar(const char* src, char* dst, size_t dst_size) {
  text::Cp437ToUtf8(src, dst, dst_size);
}

void CharUpper(char* text) {
  text::UpperUtf8(text);
}

}  // namespace acekit::platform
