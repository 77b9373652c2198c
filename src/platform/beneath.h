// What extracting below a folder needs beyond the common primitives: telling
// a symbolic link from what it points to, putting a finished file over an
// existing name in one step, and the system's words for the last failure.
#pragma once

#include <string>

namespace acekit::platform {

enum class Kind { kMissing, kFile, kDirectory, kLink, kOther };
// What is at `name` itself, without following a link (a reparse point counts
// as a link on Windows).
Kind KindOf(const char* name);

// Renames `from` to `to`, replacing a file (or link) that is there; the name
// never points at a half-written file. False with nothing changed on failure.
bool RenameOver(const char* from, const char* to);

// The system's text for the calling thread's last failed call ("" when none
// is known).
std::string SystemReason();

}  // namespace acekit::platform
