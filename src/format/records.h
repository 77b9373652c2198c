// The archive's records byte by byte: the common header frame, the main
// header, the file header and the recovery header, their checksum, the
// dictionary codes, and the writers of the main and file headers.
//
// Every header starts with HEAD_CRC (2), HEAD_SIZE (2), HEAD_TYPE (1) and
// HEAD_FLAGS (2); HEAD_SIZE counts the bytes from offset 4 to the end of the
// header, and HEAD_CRC is the low half of the CRC-32 over exactly those bytes.
// All numbers are little-endian and unaligned.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/arc_state.h"
#include "format/name_text.h"
#include "platform/platform.h"
#include "platform/stream.h"

namespace acekit::format {

// ---- Header frame ----------------------------------------------------------
inline constexpr uint8_t kHeadMain = 0;
inline constexpr uint8_t kHeadFile = 1;
inline constexpr uint8_t kHeadRecovery = 2;

inline constexpr uint32_t kFrameSize = 7;  // HEAD_CRC, HEAD_SIZE, HEAD_TYPE, HEAD_FLAGS
inline constexpr uint32_t kCrcCoverStart = 4;

inline constexpr uint16_t kFlagComment = 0x0002;  // main and file headers

// ---- Main header -----------------------------------------------------------
inline constexpr uint16_t kMainFlagLocked = 0x1000;
inline constexpr uint16_t kMainFlagAuthentic = 0x4000;  // carries an authenticity string
inline constexpr uint16_t kMainFlagSolid = 0x8000;

inline constexpr uint32_t kMainHeaderBytes = 33;  // as the writer lays it out
inline constexpr uint32_t kMainSignatureAt = 7;
inline constexpr char kSignature[] = "**ACE**";
inline constexpr uint32_t kSignatureSize = 7;
inline constexpr uint8_t kVersionWritten = 10;
// The main header is looked for only this far into a file, so that a
// self-extracting stub or other leading bytes may stand in front of it.
inline constexpr uint32_t kSearchWindow = 61440;

// Bytes a normal (not solid) archive carries straight after its main header:
// counted in HEAD_SIZE and the checksum, skipped by readers.
inline constexpr char kNormalArchiveExtra[] = " Ooops, Tamwel was here :-p ";
inline constexpr uint32_t kNormalArchiveExtraSize = sizeof kNormalArchiveExtra;  // with the zero

// ---- File header -----------------------------------------------------------
inline constexpr uint16_t kFileFlagPackSize = 0x0001;  // always set by the writer
inline constexpr uint16_t kFileFlagEncrypted = 0x4000;
inline constexpr uint16_t kFileFlagSolid = 0x8000;  // continues the solid stream

inline constexpr uint32_t kFileHeaderFixed = 35;  // offsets 0..34, up to FNAME_SIZE
inline constexpr uint32_t kFileHeaderMaxBytes = kFileHeaderFixed + kStoredNameMax + 2;

inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kEmptyCrc = 0xFFFFFFFFu;  // CRC32 of no data

// ---- Little-endian fields --------------------------------------------------
inline uint16_t Get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

// Low 16 bits of the CRC-32 over `size` bytes (the bytes from offset 4 on).
uint16_t HeaderCrc(const void* from_offset4, size_t size);

// ---- Dictionary codes ------------------------------------------------------
// The code written for a configured size in KB: 64..1024 map to 6..10, any
// other size is written as 6.
uint8_t DictionaryCode(int32_t dict_kb);
inline uint8_t DictionaryCode(const ArcerDesc& desc) {
  return DictionaryCode(desc.dict_kb());
}
// The size in KB a code stands for when entries are listed: 7..10 give
// 128..1024 and every other code 64.
uint32_t DictionaryKb(uint32_t code);
// The same for the solid dictionary kept at opening, where an unknown code
// gives 0.
uint32_t SolidDictionaryKb(uint32_t code);

// ---- Writers ---------------------------------------------------------------
// Lays out the 33 bytes of a main header stamped with `packed_time` (packed
// local DOS date and time). When `extra` and `extra_count` are both given,
// those bytes are counted in HEAD_SIZE and the checksum; the caller writes
// them right after the 33 bytes.
void BuildMainHeader(uint8_t out[kMainHeaderBytes], const void* extra, uint32_t extra_count,
                     uint16_t flags, uint32_t packed_time);
// The same stamped with the present time.
void BuildMainHeader(uint8_t out[kMainHeaderBytes], const void* extra, uint32_t extra_count,
                     uint16_t flags);

// The file header fields a caller fills before the header is written.
struct FileHeaderFields {
  uint16_t flags = kFileFlagPackSize;
  uint32_t pack_size = 0;
  uint32_t orig_size = 0;
  uint32_t ftime = 0;
  uint32_t attr = 0;
  uint32_t crc32 = kEmptyCrc;
  uint8_t tech_type = 0;
  uint8_t tech_qual = 2;
  uint16_t tech_parm = 6;  // dictionary code
};
// Puts the fields at offsets 4..32 of a file header (HEAD_TYPE 1 included).
void PackFileHeaderFields(const FileHeaderFields& fields, uint8_t head[kFileHeaderFixed]);

// The name a file header stores for `name`: its front cleaned, the relative
// path joined in front, reduced to file name and extension under the
// names-only option, converted to the OEM page, at most 255 bytes.
void MakeStoredName(const char* name, const Settings& settings, char* out, size_t out_size);

// Completes a file header whose offsets 4..32 the caller filled: stored name,
// FNAME_SIZE, HEAD_SIZE, HEAD_CRC (written back into `head`), and lays out
// the whole header (35 bytes, name, zero COMMENT_SIZE) in `out`. Returns its
// length.
uint32_t BuildFileHeader(uint8_t head[kFileHeaderFixed], const char* name, const Settings& settings,
                         uint8_t out[kFileHeaderMaxBytes]);
// Builds the header and writes it at the sink's or handle's position. True
// when every byte was accepted; callers that only look at later data writes
// may ignore it.
bool WriteFileHeader(platform::ByteSink& sink, uint8_t head[kFileHeaderFixed], const char* name,
                     const Settings& settings);
bool WriteFileHeader(platform::Handle h, uint8_t head[kFileHeaderFixed], const char* name,
                     const Settings& settings);

}  // namespace acekit::format
