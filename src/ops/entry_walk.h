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
format::CommentReader FileCommentReader(const Context& ctx, decompress::CommentDecoder& decoder);

// Lists the entries of the open archive whose names match `masks` (null or
// empty: every entry; recovery headers always). The walk keeps its status
// in the status word: 5, 8 or 9964 on its failures, with the records listed
// before it kept, and a status left over from an earlier call ends it at
// once with an empty list. Returns the status word as the walk left it.
Status BuildArchiveList(const Context& ctx, ArcFileList* list, const FileMaskList* masks,
                        ArcInfoRequest info = ArcInfoRequest::kIfAsked);

}  // namespace acekit::ops
