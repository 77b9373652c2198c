// Opening an archive: the one sequence the lifecycle export and every test
// that wants an archive "as the host would see it" go through.
#pragma once

#include "common/status.h"
#include "format/arc_state.h"

namespace acekit::ops {

// Opens the archive at `path` (a library path): finds the main header, reads
// the main comment, finds the first file header and names the archive in
// `arc`, closing the file again. Stores 0 first and returns the status word
// afterwards: kNotFound (and `new_archive` set) when no file is there,
// kOpenFailed when it cannot be opened, kNoMainHeader when it is no
// archive; a failed read in the search for the first file header leaves
// its code (5 or 6) with the archive opened, since an archive without
// entries is still an archive.
//
// A read that fails while the main header is looked for is "no archive" to
// the exports, which have always said so; the handle interface tells the
// host that the file could not be read (kOpenFailed or kSizeFailed).
enum class UnreadableHead { kNoArchive, kReadFailure };
Status OpenArchive(format::ArcState& arc, const char* path,
                   UnreadableHead unreadable = UnreadableHead::kNoArchive);

}  // namespace acekit::ops
