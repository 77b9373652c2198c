// Comments, directory entries and archive information.
#include "api/exports.h"
#include "api/library.h"
#include "ops/comments.h"
#include "ops/context.h"
#include "ops/directory.h"
#include "ops/info.h"

using acekit::Lib;

namespace {

acekit::ops::Context LibContext() {
  auto& lib = Lib();
  return acekit::ops::Context{lib.arc, lib.settings, lib.hooks, lib.arc_info, lib.extra_features};
}

}  // namespace

extern "C" {

ACEKIT_API void ACEKIT_CALL GetMainCommentArc(CommentRec* comment) {
  acekit::ops::GetMainComment(Lib().arc, comment);
}

ACEKIT_API void ACEKIT_CALL SetMainCommentArc(CommentRec* comment) {
  acekit::ops::SetMainComment(LibContext(), comment);
}

ACEKIT_API void ACEKIT_CALL SetFileCommentsArc(FileMaskList* masks, CommentRec* comment) {
  acekit::ops::SetFileComments(LibContext(), masks, comment);
}

ACEKIT_API void ACEKIT_CALL CreateDirectoryArc(const char* name) {
  acekit::ops::CreateDirectoryEntry(LibContext(), name);
}

ACEKIT_API void* ACEKIT_CALL SetExtraFeaturesArc(const void* features) {
  return acekit::ops::SetExtraFeatures(LibContext(), features);
}

ACEKIT_API void ACEKIT_CALL GetExtraInfoArc(int32_t* info) {
  acekit::ops::GetExtraInfo(LibContext(), info);
}

}  // extern "C"
