// The archive's main comment and the comments of its files: reading them
// when an archive is opened or walked, handing the main comment to the host,
// and rewriting the archive when the host sets or removes comments.
//
// A rewrite never touches the archive in place: it is copied into a
// temporary file beside it, with only the changed headers built anew, and the
// copy is swapped in at the end. Any failure leaves the archive as it was.
#pragma once

#include <cstdint>

#include "common/host_types.h"
#include "decompress/comment_decoder.h"
#include "format/arc_state.h"
#include "format/entry_list.h"
#include "ops/context.h"
#include "platform/platform.h"

namespace acekit::ops {

inline constexpr int32_t kMainCommentMax = 32766;
inline constexpr int32_t kFileCommentMax = 4096;

// Decodes the main comment the header search found announced and holds it in
// `arc`, in the ANSI page unless the archive's host system already wrote it
// so. A comment that cannot be decoded or held is left out without a status.
void ReadMainComment(format::ArcState& arc, platform::Handle archive);

// The entry walk's comment hook, decoding with `decoder`'s buffers.
format::CommentReader CommentReaderFor(decompress::CommentDecoder& decoder);

// Fills `out` with a copy of the held main comment that the host owns, or
// with no text. The status is not touched.
void GetMainComment(const format::ArcState& arc, CommentRec* out);

// Replaces the main comment with the record's text, or removes it when the
// length is 0. A missing record, or a null text with a length, changes
// nothing. 9958 for a text longer than kMainCommentMax (or negative);
// also for a header that would no longer be found within the first 61440
// bytes of the archive.
[[nodiscard]] Status SetMainComment(const Context& ctx, const CommentRec* rec);

// Gives the file entries whose names the list holds the record's text as
// their comment, or removes theirs when the length is 0 (a missing record or
// text is taken as for the main comment). Names are compared
// whole, ignoring case, without wildcards. 9957 for a text longer than
// kFileCommentMax (or negative).
[[nodiscard]] Status SetFileComments(const Context& ctx, const FileMaskList* names,
                                     const CommentRec* rec);

}  // namespace acekit::ops
