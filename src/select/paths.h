// Path names as the library handles them: 8-bit ANSI texts with `\` between
// parts, held in buffers of kPathSize. Routines that build a path take the
// destination's size and never cut it: a path that does not fit is refused
// (false, and the destination left empty). The name cleaning and code-page conversions the header
// writer needs live in format/name_text.h and are available through this header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/arc_state.h"
#include "format/name_text.h"
#include "platform/platform.h"

namespace acekit::select {

// `src` with a `\` added unless it already ends with one; "" gives "\".
bool AddSeparator(const char* src, char* dst, size_t dst_size);
// `src` without one trailing `\`; texts of up to 3 characters (a drive root)
// stay as they are.
bool StripSeparator(const char* src, char* dst, size_t dst_size);
void UpperCopy(const char* src, char* dst, size_t dst_size);
// Removes `count` characters at `pos`; nothing when count < 1 or pos lies
// past the end.
void CutChars(char* text, int32_t pos, int32_t count);
// Index of the n-th `\` (counting from 1), or the text's length when it has
// fewer.
size_t SeparatorPosition(const char* text, int32_t n);
bool SameBytes(const void* a, const void* b, size_t n);

// Makes every missing directory of `path`, absolute or relative, level by
// level; a drive and the server and share of a network path are left alone.
// Stops at the first level that cannot be made, keeping the ones before. An
// empty path is the current directory.
bool MakeDirectories(const char* path);
// MakeDirectories on the path without its trailing `\`.
bool MakeDirectoryOf(const char* path);

// Where an entry stored as `stored_name` is extracted: the output path, then
// the name, which keeps its directories (without a leading `\`) under the
// keep-paths option and is reduced to file name and extension without it.
// With a relative path set, as many characters as it has are cut from the
// front of a longer name, unlooked at. False when the path would not fit.
bool OutputPath(const char* stored_name, const format::Settings& settings, char* dst,
                size_t dst_size);

}  // namespace acekit::select
