// Adding to an existing archive. The archive is never written in place: a
// new one is built in a temporary file beside it and swapped in at the end,
// so a failure leaves the archive as it was. A normal archive keeps its old
// entries as raw bytes; a solid one is unpacked into a working directory,
// merged with the host's files and compressed again as one stream.
#pragma once

#include "common/host_types.h"
#include "compress/compressor.h"
#include "ops/context.h"
#include "ops/input_list.h"

namespace acekit::ops {

// Runs the normal or the solid update with the rebuild dictionary. The
// solid update empties `list`. kStopped when the host's skip procedure
// ended it.
[[nodiscard]] Status UpdateArchive(const Context& ctx, FileMaskList* list);

// Compresses `inputs` (disk path, stored name) in order as one solid stream
// into `out`, with `names` deciding how stored names are written. When
// `shown_dir` is given, the file name procedure is shown that directory and
// the file's name instead of its disk path. Returns what AddSolidItems does.
[[nodiscard]] Status CompressSolidList(const Context& ctx, const InputFileList& inputs,
                                       compress::Compressor& compressor, platform::Handle out,
                                       const format::Settings& names, const char* shown_dir);

// The first pass of a solid rebuild: unpacks every entry into a working
// directory under the system temporary directory and collects the files as
// (path, stored name). The caller's WorkDir removes it again.
class WorkDir;
[[nodiscard]] Status UnpackForRebuild(const Context& ctx, WorkDir& work, InputFileList& collected);

}  // namespace acekit::ops
