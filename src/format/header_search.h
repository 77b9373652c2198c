// Opening an archive: finding its main header, which need not stand at
// offset 0, and the first file header after it. Both searches read at most
// kSearchWindow bytes and accept a candidate only when its checksum holds.
#pragma once

#include "format/arc_state.h"
#include "platform/platform.h"

namespace acekit::format {

// Looks for the main header from the start of `archive`. Stores 0 in the
// status first; a failed seek or read stores 5, an unreadable size 6.
// Found: fills the main header offset and length, version needed, host
// system and solid flag of `st`, and records where the main comment starts
// when the header announces one that can be read. The read-only flag is set
// by any candidate whose flags lock the archive, even one whose checksum
// then fails.
bool FindMainHeader(platform::Handle archive, ArcState& st);

// Looks for the first file header after the main header found before.
// Stores 0 in the status first; a failed seek or read stores 5, an
// unreadable size 6. Found: fills the first entry offset and, for a solid
// archive, the solid dictionary. Not found leaves both as they were.
bool FindFirstFileHeader(platform::Handle archive, ArcState& st);

}  // namespace acekit::format
