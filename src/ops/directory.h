// Empty directory entries the host names, with no directory on disk behind
// them. The archive is rebuilt like a normal update: every old entry is
// copied as it is and the new header goes at the end.
#pragma once

#include "ops/context.h"

namespace acekit::ops {

// Longest name taken: with the `\` every directory entry ends with, it
// fills a 260-character path buffer.
inline constexpr size_t kDirectoryNameMax = 259;

// A name the host may give a directory entry: 1 to 259 characters, none of
// ? * > < : " / | \ after the first (a leading `\` is cut when the header is
// written), and not one of the device names AUX, CON and PRN, with or
// without an extension.
bool IsValidDirectoryName(const char* name);

// What CreateDirectoryArc does. 8906 for an invalid name, 8904 when a
// directory entry of that name (relative path in front, case ignored) is
// already there. A name of one or two characters is stored with its
// trailing `\`, longer ones without.
[[nodiscard]] Status CreateDirectoryEntry(const Context& ctx, const char* name);

}  // namespace acekit::ops
