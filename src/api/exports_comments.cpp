// Comments, directory entries and archive information.
#include "api/exports.h"
#include "api/process_state.h"
#include "ops/comments.h"
#include "ops/context.h"
#include "ops/directory.h"
#include "ops/info.h"

using acekit::api::Lib;

extern "C" {

ACEKIT_API void ACEKIT_CALL GetMainCommentArc(CommentRec* comment) {
  acekit::ops::GetMainComment(Lib().arc, comment);
}

ACEKIT_API void ACEKIT_CALL SetMainCommentArc(CommentRec* comment) {
  Lib().arc.status = acekit::ops::SetMainComment(Lib().OpContext(), comment);
}

ACEKIT_API void ACEKIT_CALL SetFileCommentsArc(FileMaskList* masks, CommentRec* comment) {
  Lib().arc.status = acekit::ops::SetFileComments(Lib().OpContext(), masks, comment);
}

ACEKIT_API void ACEKIT_CALL CreateDirectoryArc(const char* name) {
  Lib().arc.status = acekit::ops::CreateDirectoryEntry(Lib().OpContext(), name);
}

ACEKIT_API void* ACEKIT_CALL SetExtraFeaturesArc(const void* features) {
  return acekit::ops::SetExtraFeatures(Lib().OpContext(), features);
}

ACEKIT_API void ACEKIT_CALL GetExtraInfoArc(int32_t* info) {
  acekit::ops::GetExtraInfo(Lib().OpContext(), info);
}

}  // extern "C"
