#include "ops/entry_list.h"

#include "select/masks.h"

namespace acekit::ops {

CommentReader FileCommentReader(const Context&) {
  return CommentReader{};
}

void BuildArchiveList(const Context& ctx, ArcFileList* list, const FileMaskList* masks,
                      ArcInfoRequest info) {
  if (list == nullptr) return;
  ListOptions options;
  if (masks != nullptr) options.filter = MaskFilter(masks);
  options.comments = FileCommentReader(ctx);
  const bool asked = ctx.extra_features != nullptr && ctx.extra_features[2] == 1;
  if (info == ArcInfoRequest::kIfAsked && asked) options.arc_info = ctx.arc_info;
  BuildEntryList(ctx.arc, list, options);
}

}  // namespace acekit::ops
