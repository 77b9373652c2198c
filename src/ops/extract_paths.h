// Where an archive entry lands on disk. A stored name comes from the archive
// and so from whoever made it: before it is joined to a directory, every
// part that could lead out of that directory is taken off it, so that an
// entry always lands inside the directory it is extracted to. Names this
// library writes never hold such parts and are left exactly as they are.
#pragma once

#include <cstddef>

#include "common/host_types.h"
#include "format/arc_state.h"
#include "platform/platform.h"

namespace acekit::ops {

// The entry's stored name, whole, in the host's code page: read again from
// its header in `archive` when the record may hold it shortened (the record
// keeps 255 characters, and the code-page conversion can widen a name past
// them). False when the header cannot be read or the name does not fit.
bool WholeEntryName(platform::Handle archive, const ArcEntry& e, char* dst, size_t dst_size);

// Rewrites `name` in place into a relative path below the directory it will
// be joined to: a drive prefix ("C:") in front is dropped, and so are empty
// parts (leading and doubled separators), `.` and `..` parts, and every part
// made of nothing but dots and spaces. The parts left keep their order and
// are joined with `\`; a trailing separator stays when anything is left.
// `/` counts as a separator. Returns the new length.
size_t ConfineName(char* name);

// Puts `_` in front of every part of `name` that Windows would not take as
// an ordinary file name, so that an archive made anywhere extracts the same
// on every system: a device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9,
// any case, with or without an extension) and a part ending in dots or
// spaces, which Windows would trim into another name. Those trailing dots
// and spaces are replaced by `_` too ("a." becomes "_a_"), since Windows
// would trim them after the prefix as well; the names made that way are
// the same on every system. False when the result does not fit in `size`
// (terminator included); `name` is then unchanged.
bool DefuseDeviceNames(char* name, size_t size);

// The path an entry stored as `stored_name` is extracted to: the output
// path, then the entry's name as the keep-paths option and the relative path
// shape it, confined by ConfineName and with device names defused. A solid
// rebuild's working copy (`rebuild`) keeps device names where the system
// allows them, since the names it stores again are taken from its files.
// False, and `dst` empty, when that path would be longer than a path may be;
// false too when the defused name does not fit in `dst_size`.
bool ExtractTargetPath(const char* stored_name, const format::Settings& settings, char* dst,
                       size_t dst_size, bool rebuild = false);

}  // namespace acekit::ops
