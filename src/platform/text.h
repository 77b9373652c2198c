// Text helpers of the platform layer (internal): the CP437 "OEM" code page
// and UTF-8 "ANSI" text of the posix backend, and the wildcard matching of
// find-first/find-next. Common code, so the tests exercise it on every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace acekit::platform::text {

// CP437 byte to Unicode code point (bytes below 0x80 are ASCII).
uint32_t Cp437ToUnicode(uint8_t byte);
// Unicode code point to CP437 byte, or -1 when CP437 has no such character.
int UnicodeToCp437(uint32_t code_point);

// UTF-8 to CP437: one byte per character, '?' for a character CP437 lacks and
// for each byte that is not part of valid UTF-8. dst may equal src.
void Utf8ToCp437(const char* src, char* dst, size_t dst_size);
// CP437 to UTF-8 (1 to 3 bytes per character); a character that does not fit
// whole before the terminator is left out, and so is everything after it.
// dst may equal or overlap src.
void Cp437ToUtf8(const char* src, char* dst, size_t dst_size);
// Names in archives on a UTF-8 system: whether every character of `utf8` is
// valid UTF-8 that CP437 holds, so the name is stored in the OEM page; and
// whether a stored name is valid UTF-8 with at least one multi-byte
// character, which no name converted to CP437 is likely to be, so it is read
// back as UTF-8.
bool FitsCp437(const char* utf8);
bool IsMultibyteUtf8(const char* text);
// Copies UTF-8 text, cutting only between characters to fit dst_size (which
// includes the terminator). dst may equal src.
void CopyUtf8(const char* src, char* dst, size_t dst_size);
// Upper-cases ASCII and Latin-1 letters of UTF-8 text in place (plus the
// other lower-case letters of Windows-1252: ÿ š œ ž); every byte length stays.
void UpperUtf8(char* text);

// True when the name part holds `*` or `?`.
bool HasWildcards(const char* part);
// Whether a name matches the last part of a find-first pattern, with the
// rules of the Windows find-first call: "*.*" matches every name, "*." the
// names without a dot, `?` one character (or none before a dot or at the
// end), `*` any run, `.` before `*`/`?` also the end of a name without a dot;
// ASCII letters match regardless of case.
bool MatchesPattern(const char* pattern, const char* name);

}  // namespace acekit::platform::text
