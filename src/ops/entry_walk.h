// The entry list every operation reads an archive through, and that the host
// gets from BuildArcFileList: the format layer's header walk, selected by a
// mask list, with the archive information block computed on request. Lists
// are emptied with InitEntryList and released with DoneEntryList
// (format/entry_list.h).
#pragma once

#include "common/host_types.h"
#include "decompress/comment_decoder.h"
#include "format/entry_list.h"
#include "ops/context.h"

namespace acekit::ops {

enum class ArcInfoRequest {
  kIfAsked,  // computed when word 2 of the extra features is 1
  kNever,    // extraction lists without it
};

// How the walk reads the comment of a header that announces one, when the
// state's read-file-comments flag is on. Every walk of an operation takes
// its reader from here, so the comment decoder plugs in at this one place;
// `decoder` holds the working buffers for the length of the walk.
CommentReader FileCommentReader(const Context& ctx, decompress::CommentDecoder& decoder);

// Lists the entries of the open archive whose names match `masks` (null or
// empty: every entry; recovery headers always). Stores 5, 8 or 9964 on the
// failures of the walk and keeps the records listed before it. A status left
// over from an earlier call ends the walk at once with an empty list.
void BuildArchiveList(const Context& ctx, ArcFileList* list, const FileMaskList* masks,
                      ArcInfoRequest info = ArcInfoRequest::kIfAsked);

}  // namespace acekit::ops
