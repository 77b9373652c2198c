// Putting the host's files into an archive: a new archive is written under
// its own name, an existing one is rebuilt (update.h). Every record of the
// host's list names one file or directory literally.
#pragma once

#include "common/host_types.h"
#include "ops/context.h"

namespace acekit::ops {

// What CompressFileMaskListArc does: nothing when the status is already
// set, create when the state says the archive is new, refuse a read-only
// archive with 9954, update otherwise; the status it leaves is returned
// (a status already set, unchanged). A solid update empties `list`.
[[nodiscard]] Status CompressFileMaskList(const Context& ctx, FileMaskList* list);

// Writes a new archive, solid when the mode flags ask for it. Leaves no
// file behind on failure; 9967 for an empty list, kStopped when the host's
// skip procedure ended it.
[[nodiscard]] Status CreateArchive(const Context& ctx, const FileMaskList* list);

}  // namespace acekit::ops
