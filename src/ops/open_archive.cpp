#include "ops/open_archive.h"

#include "format/header_search.h"
#include "format/name_text.h"
#include "ops/comments.h"
#include "ops/context.h"
#include "platform/file.h"

namespace acekit::ops {

Status OpenArchive(format::ArcState& arc, const char* path, UnreadableHead unreadable) {
  arc.status = kOk;
  if (!platform::IsExistingFile(path)) {
    arc.new_archive = 1;
    return Status(arc.status = kNotFound);
  }
  const platform::File h(path, 'r');
  if (!h) {
    return Status(arc.status = kOpenFailed);
  }
  if (!format::FindMainHeader(h.get(), arc)) {
    // The search leaves kOk, or the code of the read that failed.
    const auto read = static_cast<Status>(arc.status);
    const Status status =
        unreadable == UnreadableHead::kReadFailure && read != kOk ? read : kNoMainHeader;
    return Status(arc.status = status);
  }
  ReadMainComment(arc, h.get());
  // A failed search for the first file header only leaves its offset at 0.
  format::FindFirstFileHeader(h.get(), arc);
  format::CopyText(arc.archive_name, sizeof arc.archive_name, path);
  return static_cast<Status>(arc.status);
}

}  // namespace acekit::ops
