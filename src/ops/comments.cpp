#include "ops/comments.h"

#include <cstring>

#include "common/status.h"
#include "compress/comment_encoder.h"
#include "format/crc32.h"
#include "format/name_text.h"
#include "format/records.h"
#include "ops/collect.h"
#include "ops/compress_one.h"
#include "ops/rebuild.h"
#include "platform/file.h"
#include "select/paths.h"

namespace acekit::ops {
namespace {

using compress::EncodedComment;

// Offsets 0..30 of a main header: the frame, signature, versions, host,
// volume, time, reserved bytes and AV_SIZE.
constexpr uint32_t kMainFixed = 31;
constexpr uint32_t kMainAvSizeAt = 30;

int32_t DecodeWith(void* decoder, platform::Handle archive, uint32_t offset, const char** text) {
  auto* d = static_cast<decompress::CommentDecoder*>(decoder);
  const int32_t length = d->DecodeAt(archive, offset);
  *text = d->text();
  return length;
}

// A record without text to read (none at all, or a null text with a length)
// changes nothing: taking it for a removal would destroy what the host
// probably meant to keep.
bool Readable(const CommentRec* rec) {
  return rec != nullptr && (rec->text != nullptr || rec->length <= 0);
}

Status ReadExactly(platform::Handle h, uint32_t offset, void* buf, uint32_t size) {
  if (offset > 0x7FFFFFFFu || platform::Seek(h, static_cast<int32_t>(offset), 0) < 0 ||
      platform::Read(buf, size, h) != static_cast<int32_t>(size)) {
    return kOpenFailed;
  }
  return kOk;
}

Status WriteExactly(platform::Handle h, const void* buf, uint32_t size) {
  return platform::Write(buf, size, h) == static_cast<int32_t>(size) ? kOk : kShortWrite;
}

// Whether the header search will still find a main header of `length` bytes
// at `offset` in a file of `file_size` bytes: it looks only at the first
// 61440 bytes and wants 33 more after the signature.
bool Findable(uint32_t offset, uint32_t length, uint64_t file_size) {
  const uint64_t window = file_size < format::kSearchWindow ? file_size : format::kSearchWindow;
  return uint64_t{offset} + length <= format::kSearchWindow &&
         uint64_t{offset} + format::kMainSignatureAt + format::kMainHeaderBytes < window;
}

// Copies the archive with its main header rebuilt to carry `comment`, or no
// comment at all when it is null.
Status RewriteMainHeader(const Context& ctx, const EncodedComment* comment) {
  format::ArcState& arc = ctx.arc;
  if (arc.main_header_offset < 0 || arc.main_header_length < kMainFixed) return kOpenFailed;
  const uint32_t offset = static_cast<uint32_t>(arc.main_header_offset);
  const uint32_t old_end = offset + arc.main_header_length;
  const uint32_t comment_size = comment != nullptr ? comment->size() : 0;
  // A header without comment ends after AV_SIZE; one with a comment carries
  // COMMENT_SIZE and the stream.
  const uint32_t length = comment != nullptr ? kMainFixed + 2 + comment_size : kMainFixed;

  OutputArchive temp;
  if (const Status st = temp.OpenBeside(ctx); st != kOk) return st;
  platform::File old(arc.archive_name, 'r');
  if (!old) return kOpenFailed;
  const int32_t size = platform::Size(old.get());
  if (size < 0 || static_cast<uint32_t>(size) < old_end) return kOpenFailed;
  if (length - 4 > 0xFFFF ||
      !Findable(offset, length,
                uint64_t{static_cast<uint32_t>(size)} - old_end + offset + length)) {
    return kMainCommentTooLong;
  }

  uint8_t head[kMainFixed + 2];
  if (const Status st = ReadExactly(old.get(), offset, head, kMainFixed); st != kOk) return st;
  uint16_t flags = format::Get16(head + 5);
  flags = comment != nullptr ? (flags | format::kFlagComment) : (flags & ~format::kFlagComment);
  format::Put16(head + 5, flags);
  // The authenticity string goes: the header is no longer the one it vouched for.
  head[kMainAvSizeAt] = 0;
  format::Put16(head + 2, length - 4);
  format::Put16(head + kMainFixed, comment_size);
  uint32_t crc = format::Crc32Update(format::kCrcInit, head + format::kCrcCoverStart,
                                     length - 4 - comment_size);
  if (comment != nullptr) crc = format::Crc32Update(crc, comment->data(), comment_size);
  format::Put16(head, crc);

  Status st = CopyArchiveBytes(old.get(), temp.handle(), 0, offset);
  if (st == kOk) st = WriteExactly(temp.handle(), head, length - comment_size);
  if (st == kOk && comment != nullptr) {
    st = WriteExactly(temp.handle(), comment->data(), comment_size);
  }
  if (st == kOk) {
    st = CopyArchiveBytes(old.get(), temp.handle(), old_end, static_cast<uint32_t>(size) - old_end);
  }
  if (st != kOk) return st;
  old.Close();
  if (st = ReplaceArchiveFile(temp); st != kOk) return st;

  // Later operations of this session read the archive as it now is.
  if (arc.first_entry_offset != 0)
    arc.first_entry_offset = arc.first_entry_offset - old_end + offset + length;
  arc.main_header_length = length;
  arc.main_comment_offset = comment != nullptr ? static_cast<int32_t>(offset + kMainFixed + 2) : -1;
  return kOk;
}

// Whether the host's list names `entry_name`: directory part, name and
// extension of an item, taken literally and compared ignoring case.
bool ListNames(const FileMaskList* names, const char* entry_name) {
  if (names == nullptr) return false;
  char wanted[kItemTextSize];
  select::UpperCopy(entry_name, wanted, sizeof wanted);
  char item[kItemTextSize];
  for (const FileMask* m = names->first; m != nullptr; m = m->next) {
    ItemName(*m, item, sizeof item);
    platform::CharUpper(item);
    if (std::strcmp(item, wanted) == 0) return true;
  }
  return false;
}

// Writes the entry at `e` with its header carrying `comment` (none when
// null) and its data unchanged.
Status RewriteFileHeader(platform::Handle old, platform::Handle out, const ArcEntry& e,
                         const EncodedComment* comment) {
  uint8_t fixed[format::kFileHeaderFixed];
  if (const Status st = ReadExactly(old, e.header_offset, fixed, sizeof fixed); st != kOk) {
    return st;
  }
  const uint32_t name_size = format::Get16(fixed + 33);
  const uint32_t comment_size = comment != nullptr ? comment->size() : 0;
  const uint32_t total = format::kFileHeaderFixed + name_size + 2 + comment_size;
  if (total - 4 > 0xFFFF) return kFileCommentTooLong;

  auto* head = static_cast<uint8_t*>(platform::Alloc(total));
  if (head == nullptr) return kNoMemory;
  std::memcpy(head, fixed, sizeof fixed);
  Status st = name_size == 0 || platform::Read(head + format::kFileHeaderFixed, name_size, old) ==
                                    static_cast<int32_t>(name_size)
                  ? kOk
                  : kOpenFailed;
  if (st == kOk) {
    uint16_t flags = format::Get16(head + 5);
    flags = comment != nullptr ? (flags | format::kFlagComment) : (flags & ~format::kFlagComment);
    format::Put16(head + 5, flags);
    format::Put16(head + 2, total - 4);
    format::Put16(head + format::kFileHeaderFixed + name_size, comment_size);
    if (comment != nullptr) {
      std::memcpy(head + format::kFileHeaderFixed + name_size + 2, comment->data(), comment_size);
    }
    format::Put16(head, format::HeaderCrc(head + format::kCrcCoverStart, total - 4));
    st = WriteExactly(out, head, total);
  }
  platform::Free(head);
  if (st != kOk) return st;
  return CopyArchiveBytes(old, out, e.header_offset + e.head_size + 4, e.pack_size);
}

}  // namespace

void ReadMainComment(format::ArcState& arc, platform::Handle archive) {
  if (arc.main_comment_offset < 0) return;
  decompress::CommentDecoder decoder;
  const int32_t length = decoder.DecodeAt(archive, static_cast<uint32_t>(arc.main_comment_offset));
  if (length <= 0) return;
  // Hosts 2 and 5 write their comments in the ANSI page already. Elsewhere
  // a character may widen to three bytes on the way to ANSI.
  const bool convert = arc.host_system != 2 && arc.host_system != 5;
  const size_t size = static_cast<size_t>(length) * (convert ? 3 : 1) + 1;
  auto* text = static_cast<char*>(platform::AllocZeroed(size));
  if (text == nullptr) return;
  int32_t held = length;
  if (convert) {
    // A comment may hold 0 bytes; the conversion stops at each, so the
    // pieces between them go one by one and the 0 bytes are kept.
    const char* from = decoder.text();
    const char* const end = from + length;
    size_t used = 0;
    while (from < end && used + 1 < size) {
      format::NameToAnsi(from, text + used, size - used);
      used += std::strlen(text + used);
      from += std::strlen(from);
      if (from < end && used + 1 < size) {
        text[used++] = '\0';
        ++from;
      }
    }
    held = static_cast<int32_t>(used);
  } else {
    std::memcpy(text, decoder.text(), static_cast<size_t>(length));
  }
  platform::Free(arc.main_comment);
  arc.main_comment = text;
  arc.main_comment_length = held;
  arc.main_comment_read = 1;
}

format::CommentReader CommentReaderFor(decompress::CommentDecoder& decoder) {
  return format::CommentReader{&DecodeWith, &decoder};
}

void GetMainComment(const format::ArcState& arc, CommentRec* out) {
  if (out == nullptr) return;
  *out = CommentRec{};
  out->read_flag = arc.main_comment_read;
  if (arc.main_comment == nullptr || arc.main_comment_length <= 0) return;
  const auto length = static_cast<size_t>(arc.main_comment_length);
  auto* copy = static_cast<char*>(platform::Alloc(length));
  if (copy == nullptr) return;
  std::memcpy(copy, arc.main_comment, length);
  out->text = copy;
  out->length = arc.main_comment_length;
}

Status SetMainComment(const Context& ctx, const CommentRec* rec) {
  format::ArcState& arc = ctx.arc;
  if (!Readable(rec)) return kOk;
  const int32_t n = rec->length;
  if (n < 0 || n > kMainCommentMax) return kMainCommentTooLong;
  if (n == 0) {
    // What is held stays: the host reads it back until the archive is
    // opened again.
    return arc.main_comment_length > 0 ? RewriteMainHeader(ctx, nullptr) : kOk;
  }
  // The held comment changes even if the archive cannot be rewritten.
  auto* held = static_cast<char*>(platform::AllocZeroed(static_cast<size_t>(n) + 255));
  if (held == nullptr) return kNoMemory;
  std::memcpy(held, rec->text, static_cast<size_t>(n));
  platform::Free(arc.main_comment);
  arc.main_comment = held;
  arc.main_comment_length = n;

  EncodedComment comment;
  if (const Status st = compress::EncodeComment(held, static_cast<uint32_t>(n), comment);
      st != kOk) {
    return st;
  }
  return RewriteMainHeader(ctx, &comment);
}

Status SetFileComments(const Context& ctx, const FileMaskList* names, const CommentRec* rec) {
  format::ArcState& arc = ctx.arc;
  arc.status = kOk;  // the walk below starts afresh
  if (!Readable(rec)) return kOk;
  const int32_t n = rec->length;
  if (n < 0 || n > kFileCommentMax) return kFileCommentTooLong;
  EncodedComment comment;
  if (n > 0) {
    if (const Status st = compress::EncodeComment(rec->text, static_cast<uint32_t>(n), comment);
        st != kOk) {
      return st;
    }
  }

  format::EntryList entries;
  if (const Status st = ListWholeArchive(ctx, entries); st != kOk) return st;
  OutputArchive temp;
  if (const Status st = temp.OpenBeside(ctx); st != kOk) return st;
  platform::File old(arc.archive_name, 'r');
  if (!old) return kOpenFailed;
  if (const Status st = CopyArchiveHead(ctx, old.get(), temp.handle()); st != kOk) return st;
  for (const ArcEntry* e = entries.list.first; e != nullptr; e = e->next) {
    const Status st =
        e->head_type == format::kHeadFile && ListNames(names, e->name)
            ? RewriteFileHeader(old.get(), temp.handle(), *e, n > 0 ? &comment : nullptr)
            : CopyArchiveBytes(old.get(), temp.handle(), e->header_offset,
                               e->head_size + 4 + e->pack_size);
    if (st != kOk) return st;
  }
  old.Close();
  return ReplaceArchiveFile(temp);
}

}  // namespace acekit::ops
