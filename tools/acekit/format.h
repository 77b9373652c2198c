// Text forms of the numbers an archive holds: sizes, ratios, DOS times,
// attribute words, and JSON strings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace acekit_cli {

// 1536 -> "1.5 KiB"; below 1024 the plain count with " B".
std::string HumanSize(uint64_t bytes);

// "1 file", "2 files".
std::string Count(uint64_t n, const char* one, const char* many);

// Packed size as a percentage of the original, 0 for an empty original.
unsigned Ratio(uint64_t packed, uint64_t original);

// Attribute word as five letters, '.' where a bit is clear:
// D directory, R read-only, H hidden, S system, A archive.
std::string AttrLetters(uint32_t attr);

// The text as it may be shown on a terminal: control characters, DEL and
// C1 controls become C-style escapes ("\\e", "\\r", "\\x7f"), bytes that are not
// UTF-8 become "\\xNN", and a backslash is doubled, so that a name can neither
// move the cursor nor pass for another name.
std::string Printable(std::string_view text);

// The text quoted as a JSON string; invalid UTF-8 becomes U+FFFD.
std::string Json(std::string_view text);

}  // namespace acekit_cli
