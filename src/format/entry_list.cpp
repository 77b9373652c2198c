#include "format/entry_list.h"

#include <cstring>
#include <iterator>

#include "common/status.h"
#include "format/name_text.h"
#include "format/records.h"

namespace acekit::format {
namespace {

// The header's bytes as the file gives them, served first from what the
// caller read already (the file then stands right behind those bytes).
class HeaderInput {
 public:
  HeaderInput(platform::Handle h, const HeldHeader* held)
      : h_(h),
        held_(held != nullptr ? held->bytes : nullptr),
        left_(held != nullptr ? held->size : 0) {}
  int32_t Read(void* buf, uint32_t count) {
    const uint32_t taken = count < left_ ? count : left_;
    if (taken > 0) {
      std::memcpy(buf, held_, taken);
      held_ += taken;
      left_ -= taken;
    }
    if (taken == count) return static_cast<int32_t>(count);
    const int32_t got = platform::Read(static_cast<uint8_t*>(buf) + taken, count - taken, h_);
    return got < 0 ? -1 : static_cast<int32_t>(taken) + got;
  }

 private:
  platform::Handle h_;
  const uint8_t* held_;
  uint32_t left_;
};

// Reads fields out of what one read call delivered. A field that lies beyond
// the delivered bytes stores 5 and reads as 0, so a header cut short keeps
// every field in front of the cut. A read that failed outright is told
// apart: it says nothing about where the archive ends.
class FieldReader {
 public:
  FieldReader(ArcState& st, HeaderInput& in, uint8_t* buf, uint32_t size) : st_(st), buf_(buf) {
    const int32_t got = in.Read(buf, size);
    got_ = got > 0 ? static_cast<uint32_t>(got) : 0;
    failed_ = got < 0;
  }
  bool failed() const { return failed_; }
  uint32_t Take(uint32_t size) {
    uint32_t value = 0;
    if (pos_ + size > got_) {
      st_.status = kOpenFailed;
    } else {
      for (uint32_t i = 0; i < size; ++i) value |= static_cast<uint32_t>(buf_[pos_ + i]) << (8 * i);
    }
    pos_ += size;
    return value;
  }

 private:
  ArcState& st_;
  const uint8_t* buf_;
  uint32_t got_ = 0;
  uint32_t pos_ = 0;
  bool failed_ = false;
};

// Nothing at or past this offset can be reached with the 32-bit seeks the
// platform offers, so a cursor beyond it is the end of the archive. Advancing
// saturates here, which also keeps a garbage size from wrapping the cursor
// back to a header already read.
constexpr uint32_t kCursorEnd = 0x80000000u;

void Advance(ArcState& st, uint32_t from, uint64_t by) {
  const uint64_t next = static_cast<uint64_t>(from) + by;
  st.header_cursor = next < kCursorEnd ? static_cast<uint32_t>(next) : kCursorEnd;
}

// Directory entries end with `\`, even when that costs the name's last
// character.
void EndWithSeparator(char (&name)[256]) {
  size_t len = std::strlen(name);
  if (len > 0 && name[len - 1] == '\\') return;
  if (len == kStoredNameMax) --len;
  name[len] = '\\';
  name[len + 1] = '\0';
}

void ReadFileComment(ArcState& st, platform::Handle h, ArcEntry& rec, uint32_t name_end,
                     const CommentReader& comments) {
  if (platform::Seek(h, static_cast<int32_t>(name_end), 0) < 0) return;
  uint8_t size_field[2];
  HeaderInput in(h, nullptr);
  FieldReader f(st, in, size_field, sizeof size_field);
  f.Take(2);  // COMMENT_SIZE: the stream carries its own length
  if (st.status != kOk) return;
  const char* text = nullptr;
  const int32_t length = comments.decode(comments.ctx, h, name_end + 2, &text);
  if (length <= 0 || text == nullptr) return;

  // Archives made on hosts 2 and 5 keep comments in the ANSI page already.
  const bool convert = st.host_system != 2 && st.host_system != 5;
  // The OEM-to-ANSI conversion may widen a byte to three.
  const size_t size = static_cast<size_t>(length) * (convert ? 3 : 1) + 255;
  auto* copy = static_cast<char*>(platform::AllocZeroed(size));
  if (copy == nullptr) return;  // the entry is listed without its comment
  if (convert) {
    char* raw = static_cast<char*>(platform::AllocZeroed(static_cast<size_t>(length) + 1));
    if (raw == nullptr) {
      platform::Free(copy);
      return;
    }
    std::memcpy(raw, text, static_cast<size_t>(length));
    NameToAnsi(raw, copy, size);
    platform::Free(raw);
    rec.comment_length = static_cast<int32_t>(std::strlen(copy));
  } else {
    std::memcpy(copy, text, static_cast<size_t>(length));
    rec.comment_length = length;
  }
  rec.comment = copy;
}

void ReleaseComment(ArcEntry& rec) {
  if (rec.comment_length > 0) platform::Free(rec.comment);
  rec.comment = nullptr;
  rec.comment_length = 0;
}

}  // namespace

bool ReadNextHeader(ArcState& st, platform::Handle archive, ArcEntry& rec,
                    const CommentReader& comments, const HeldHeader* held) {
  const uint32_t at = st.header_cursor;
  if (at >= kCursorEnd) {
    st.status = kOk;
    return false;
  }
  if (held != nullptr && held->offset != at) held = nullptr;
  if (held == nullptr && platform::Seek(archive, static_cast<int32_t>(at), 0) < 0) {
    st.status = kOpenFailed;
    return false;
  }
  rec.header_offset = at;
  HeaderInput in(archive, held);

  uint8_t frame[kFrameSize];
  FieldReader head(st, in, frame, sizeof frame);
  // The walk ends here with a status rather than pass for a complete list.
  if (head.failed()) {
    st.status = kOpenFailed;
    return false;
  }
  rec.head_crc = head.Take(2);
  // Running out of bytes here is the normal end of the archive; a failure
  // still recorded from before ends the walk the same way.
  if (st.status != kOk) {
    st.status = kOk;
    return false;
  }
  rec.head_size = head.Take(2);
  rec.head_type = head.Take(1);
  rec.head_flags = head.Take(2);

  if (rec.head_type == kHeadRecovery) {
    uint8_t extra[4];
    FieldReader f(st, in, extra, sizeof extra);
    if (f.failed()) {
      st.status = kOpenFailed;
      return false;
    }
    rec.pack_size = f.Take(4);
    Advance(st, at, uint64_t{rec.head_size} + rec.pack_size + 4);
    st.recovery_record = 1;
    return true;
  }
  if (rec.head_type != kHeadFile) {
    st.status = kCorrupt;
    return false;
  }

  rec.is_file = 1;
  uint8_t fixed[kFileHeaderFixed - kFrameSize];
  FieldReader f(st, in, fixed, sizeof fixed);
  if (f.failed()) {
    st.status = kOpenFailed;
    return false;
  }
  rec.pack_size = f.Take(4);
  rec.orig_size = f.Take(4);
  rec.ftime = f.Take(4);
  rec.attr = f.Take(4);
  rec.crc32 = f.Take(4);
  rec.tech_type = f.Take(1);
  f.Take(1);  // TECH_QUAL
  rec.dict_code = f.Take(2) & 0x0F;
  f.Take(2);  // RESERVED
  const uint32_t stored_name_size = f.Take(2);
  rec.encrypted = (rec.head_flags & kFileFlagEncrypted) ? 1 : 0;

  // Longer names are cut to what the record holds; the cursor still moves by
  // HEAD_SIZE, so the cut does not lose the next header.
  const uint32_t name_size =
      stored_name_size < kStoredNameMax ? stored_name_size : static_cast<uint32_t>(kStoredNameMax);
  rec.fname_size = name_size;
  if (name_size > 0) {
    const int32_t got = in.Read(rec.name, name_size);
    if (got < 0) {
      st.status = kOpenFailed;
      return false;
    }
    if (got != static_cast<int32_t>(name_size)) st.status = kOpenFailed;
  }
  if (rec.attr & kAttrDirectory) EndWithSeparator(rec.name);

  // Comment hook: a comment is read only with a decoder present.
  if ((rec.head_flags & kFlagComment) && st.read_file_comments == 1 && comments.decode != nullptr &&
      st.status == kOk)
    ReadFileComment(st, archive, rec, at + kFileHeaderFixed + stored_name_size, comments);

  Advance(st, at, uint64_t{rec.pack_size} + rec.head_size + 4);
  return true;
}

void InitEntryList(ArcFileList* list) {
  list->count = 0;
  list->first = nullptr;
  list->last = nullptr;
}

void BuildEntryList(ArcState& st, ArcFileList* list, const ListOptions& options) {
  InitEntryList(list);
  st.header_cursor = st.first_entry_offset;
  const platform::Handle archive = platform::Open(st.archive_name, 'r');
  if (archive == platform::kBadHandle) {
    st.status = kOpenFailed;
    return;
  }
  for (;;) {
    ArcEntry rec{};
    if (!ReadNextHeader(st, archive, rec, options.comments)) break;
    NameToAnsi(rec.name, rec.name, sizeof rec.name);
    // The conversion may widen the name past the field and lose the `\`.
    if (rec.attr & kAttrDirectory) EndWithSeparator(rec.name);

    if (rec.head_type == kHeadFile) {
      char upper[sizeof rec.name];
      CopyText(upper, sizeof upper, rec.name);
      platform::CharUpper(upper);
      if (!options.filter.Selects(upper)) {
        ReleaseComment(rec);
        continue;
      }
    }
    auto* entry = static_cast<ArcEntry*>(platform::AllocZeroed(sizeof(ArcEntry)));
    if (entry == nullptr) {
      ReleaseComment(rec);
      st.status = kNoMemory;
      platform::Close(archive);
      return;
    }
    *entry = rec;
    entry->next = nullptr;
    if (list->last != nullptr) {
      list->last->next = entry;
    } else {
      list->first = entry;
    }
    list->last = entry;
    ++list->count;
  }
  platform::Close(archive);
  if (options.arc_info != nullptr) ComputeArcInfo(st, list, options.arc_info);
}

void DoneEntryList(ArcFileList* list) {
  ArcEntry* rec = list->first;
  while (rec != nullptr) {
    ArcEntry* next = rec->next;
    ReleaseComment(*rec);
    platform::Free(rec);
    rec = next;
  }
  InitEntryList(list);
}

int32_t HostOsCode(uint32_t host_created) {
  static constexpr int32_t kCodes[] = {1, 2, 3, 5, 6, 4, 1, 6, 8, 9, 10, 11};
  return host_created < std::size(kCodes) ? kCodes[host_created] : 1;
}

int32_t CompressionRatio(uint32_t pack_total, uint32_t orig_total) {
  int32_t p = static_cast<int32_t>(pack_total);
  int32_t o = static_cast<int32_t>(orig_total);
  while (p >= 0x1400000) {
    p >>= 1;
    o >>= 1;
  }
  if (o == 0) return 0;
  // A negative total (2 GB or more) makes the product wrap as it does in
  // 32-bit registers; the one quotient that overflows is kept as it wraps.
  const int32_t product = static_cast<int32_t>(static_cast<uint32_t>(p) * 100u);
  if (o == -1) return static_cast<int32_t>(0u - static_cast<uint32_t>(product));
  return product / o;
}

void ComputeArcInfo(ArcState& st, ArcFileList* list, int32_t info[kArcInfoWords]) {
  std::memset(info, 0, sizeof(int32_t) * kArcInfoWords);
  const int32_t host = HostOsCode(st.host_system);
  info[0] = 11;
  info[1] = static_cast<int32_t>(st.version_needed / 10);
  info[2] = static_cast<int32_t>(st.version_needed % 10);
  info[5] = st.recovery_record ? 1 : 0;
  info[7] = st.solid ? 1 : 0;
  info[8] = host;
  info[9] = list->count;
  uint32_t pack_total = 0;
  uint32_t orig_total = 0;
  for (ArcEntry* rec = list->first; rec != nullptr; rec = rec->next) {
    rec->host_os = host;
    pack_total += rec->pack_size;
    orig_total += rec->orig_size;
    if (rec->encrypted) info[6] = 1;
    if (rec->comment_length > 0) info[4] = 2;
    const int32_t dict = static_cast<int32_t>(DictionaryKb(rec->dict_code));
    if (dict > info[3]) info[3] = dict;
  }
  if (st.main_comment_length > 0) info[4] |= 1;
  info[10] = static_cast<int32_t>(pack_total);
  info[11] = static_cast<int32_t>(orig_total);
  info[12] = CompressionRatio(pack_total, orig_total);
  st.info_valid = 1;
}

}  // namespace acekit::format
