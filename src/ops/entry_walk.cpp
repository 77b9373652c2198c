#include "ops/entry_walk.h"

#include "ops/comments.h"
#include "select/masks.h"

namespace acekit::ops {

format::CommentReader FileCommentReader(const Context&, decompress::CommentDecoder& decoder) {
  return CommentReaderFor(decoder);
}

Status BuildArchiveList(const Context& ctx, ArcFileList* list, const FileMaskList* masks,
                        ArcInfoRequest info) {
  if (list == nullptr) return static_cast<Status>(ctx.arc.status);
  format::ListOptions options;
  if (masks != nullptr) options.filter = select::MaskFilter(masks);
  decompress::CommentDecoder decoder;  // buffers taken at the first comment, freed after the walk
  options.comments = FileCommentReader(ctx, decoder);
  const bool asked = ctx.extra_features != nullptr && ctx.extra_features[kComputeInfo] == 1;
  if (info == ArcInfoRequest::kIfAsked && asked) options.arc_info = ctx.arc_info;
  format::BuildEntryList(ctx.arc, list, options);
  return static_cast<Status>(ctx.arc.status);
}

}  // namespace acekit::ops
