#include "format/header_search.h"

#include <cstring>

#include "common/status.h"
#include "format/records.h"

namespace acekit::format {
namespace {

// Reads up to kSearchWindow bytes at `offset`. `limit` is the bound the
// candidate loop runs to (the window, or the file when smaller); `got` is what
// the read delivered, beyond which no candidate may look.
struct Window {
  uint8_t bytes[kSearchWindow];
  uint32_t limit = 0;
  uint32_t got = 0;
};

bool ReadWindow(platform::Handle h, uint32_t offset, ArcState& st, Window& w) {
  st.status = kOk;
  if (offset > 0x7FFFFFFFu || platform::Seek(h, static_cast<int32_t>(offset), 0) < 0) {
    st.status = kOpenFailed;
    return false;
  }
  const int32_t size = platform::Size(h);
  if (size < 0) {
    st.status = kSizeFailed;
    return false;
  }
  w.limit =
      static_cast<uint32_t>(size) < kSearchWindow ? static_cast<uint32_t>(size) : kSearchWindow;
  const int32_t got = platform::Read(w.bytes, w.limit, h);
  if (got < 0) {
    st.status = kOpenFailed;
    return false;
  }
  w.got = static_cast<uint32_t>(got);
  return true;
}

// True when the `size` checksummed bytes from `from` were all read and their
// checksum is `crc`.
bool ChecksumHolds(const Window& w, uint32_t from, uint32_t size, uint16_t crc) {
  if (from + size > w.got) return false;
  return HeaderCrc(w.bytes + from, size) == crc;
}

}  // namespace

bool FindMainHeader(platform::Handle archive, ArcState& st) {
  Window w;
  if (!ReadWindow(archive, 0, st, w) || w.limit <= kMainHeaderBytes) return false;
  // The frame's seven bytes must fit in front of the signature, and
  // AV_SIZE (24 bytes past it) must have been read.
  const uint32_t end = w.limit - kMainHeaderBytes;
  for (uint32_t p = kMainSignatureAt; p < end && p + 24 <= w.got; ++p) {
    const uint8_t* sig = w.bytes + p;
    if (std::memcmp(sig, kSignature, kSignatureSize) != 0) continue;
    st.version_needed = sig[7];
    st.host_system = sig[9];
    const uint8_t* head = sig - kMainSignatureAt;
    const uint16_t crc = Get16(head);
    const uint16_t head_size = Get16(head + 2);
    if (head[4] != kHeadMain) continue;
    const uint16_t flags = Get16(head + 5);
    if (flags & (kMainFlagLocked | kMainFlagAuthentic)) st.read_only = -1;
    const uint8_t av_size = sig[23];
    if (!ChecksumHolds(w, p - kMainSignatureAt + kCrcCoverStart, head_size, crc)) continue;

    const uint32_t offset = p - kMainSignatureAt;
    st.main_header_offset = static_cast<int32_t>(offset);
    st.main_header_length = head_size + 4u;
    st.solid = (flags & kMainFlagSolid) ? 1 : 0;
    // Comment hook: the reader decodes the stream that starts here.
    if ((flags & kFlagComment) && st.version_needed <= kVersionWritten)
      st.main_comment_offset = static_cast<int32_t>(offset + 31 + av_size + 2);
    return true;
  }
  return false;
}

bool FindFirstFileHeader(platform::Handle archive, ArcState& st) {
  Window w;
  const uint32_t start = static_cast<uint32_t>(st.main_header_offset) + st.main_header_length;
  // The smallest file header with its COMMENT_SIZE is 37 bytes.
  if (!ReadWindow(archive, start, st, w) || w.limit <= 37) return false;
  // A byte 1 in the first four positions would be HEAD_CRC or HEAD_SIZE.
  for (uint32_t q = 4; q < w.limit - 37 && q + 26 <= w.got; ++q) {
    if (w.bytes[q] != kHeadFile) continue;
    const uint16_t crc = Get16(w.bytes + q - 4);
    const uint16_t head_size = Get16(w.bytes + q - 2);
    const uint32_t dict_code = w.bytes[q + 25] & 0x0F;
    if (!ChecksumHolds(w, q, head_size, crc)) continue;

    st.first_entry_offset = start + q - 4;
    if (st.solid) st.solid_dict_kb = SolidDictionaryKb(dict_code);
    return true;
  }
  return false;
}

}  // namespace acekit::format
