// Removing the entries the host's masks select. Like an update, the archive
// is rebuilt in a temporary file and swapped in at the end: a normal archive
// keeps the other entries as raw bytes, a solid one is unpacked and the
// remaining files compressed again as a new stream.
#pragma once

#include "common/host_types.h"
#include "ops/context.h"

namespace acekit::ops {

// What DeleteFileMaskListArc does. 9954 for a read-only archive, 9960 for a
// solid archive this library cannot rebuild (version needed other than 10).
[[nodiscard]] Status DeleteFileMaskList(const Context& ctx, const FileMaskList* masks);

}  // namespace acekit::ops
