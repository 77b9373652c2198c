#include "format/records.h"

#include <cstring>
#include <string_view>

#include "format/crc32.h"

namespace acekit::format {

uint16_t HeaderCrc(const void* from_offset4, size_t size) {
  return static_cast<uint16_t>(Crc32Update(kCrcInit, from_offset4, size));
}

uint8_t DictionaryCode(int32_t dict_kb) {
  switch (dict_kb) {
    case 128:
      return 7;
    case 256:
      return 8;
    case 512:
      return 9;
    case 1024:
      return 10;
    default:
      return 6;
  }
}

uint32_t DictionaryKb(uint32_t code) {
  const uint32_t kb = SolidDictionaryKb(code);
  return kb != 0 ? kb : 64;
}

uint32_t SolidDictionaryKb(uint32_t code) {
  return code >= 7 && code <= 10 ? 1u << code : 0;  // 2^(code + 10) bytes
}

void BuildMainHeader(uint8_t out[kMainHeaderBytes], const void* extra, uint32_t extra_count,
                     uint16_t flags, uint32_t packed_time) {
  std::memset(out, 0, kMainHeaderBytes);
  Put32(out + 18, packed_time);
  std::memcpy(out + kMainSignatureAt, kSignature, kSignatureSize);
  out[14] = kVersionWritten;
  out[16] = 0;  // host system
  Put16(out + 5, flags);
  const bool with_extra = extra != nullptr && extra_count != 0;
  Put16(out + 2, 29 + (with_extra ? extra_count : 0));
  uint32_t crc = Crc32Update(kCrcInit, out + kCrcCoverStart, kMainHeaderBytes - kCrcCoverStart);
  if (with_extra) crc = Crc32Update(crc, extra, extra_count);
  Put16(out, crc);
}

void BuildMainHeader(uint8_t out[kMainHeaderBytes], const void* extra, uint32_t extra_count,
                     uint16_t flags) {
  uint32_t now = 0;
  platform::CurrentPackedTime(&now);
  BuildMainHeader(out, extra, extra_count, flags, now);
}

void PackFileHeaderFields(const FileHeaderFields& f, uint8_t head[kFileHeaderFixed]) {
  head[4] = kHeadFile;
  Put16(head + 5, f.flags);
  Put32(head + 7, f.pack_size);
  Put32(head + 11, f.orig_size);
  Put32(head + 15, f.ftime);
  Put32(head + 19, f.attr);
  Put32(head + 23, f.crc32);
  head[27] = f.tech_type;
  head[28] = f.tech_qual;
  Put16(head + 29, f.tech_parm);
  Put16(head + 31, 0);
}

void MakeStoredName(const char* name, const Settings& settings, char* out, size_t out_size) {
  char cleaned[kPathSize];
  CopyText(cleaned, sizeof cleaned, name);
  CleanNameFront(cleaned);

  char joined[kPathSize] = {};
  if (settings.relative_path[0] != '\0') {
    CopyText(joined, sizeof joined, settings.relative_path);
    AppendText(joined, sizeof joined, "\\");
  }
  AppendText(joined, sizeof joined, cleaned);

  if (settings.options & kOptNamesOnly) {
    const PathParts parts = SplitPath(joined);
    char bare[kPathSize];
    CopyText(bare, sizeof bare, parts.name);
    // A lone dot is no extension: "A." is stored as "A".
    if (parts.ext.size() > 1) AppendText(bare, sizeof bare, parts.ext);
    CopyText(joined, sizeof joined, bare);
  }

  char oem[kStoredNameMax + 1];
  NameToOem(joined, oem, sizeof oem);
  CopyText(out, out_size, oem);
}

uint32_t BuildFileHeader(uint8_t head[kFileHeaderFixed], const char* name, const Settings& settings,
                         uint8_t out[kFileHeaderMaxBytes]) {
  char stored[kStoredNameMax + 1];
  MakeStoredName(name, settings, stored, sizeof stored);
  const uint32_t name_size = static_cast<uint32_t>(std::strlen(stored));

  Put16(head + 33, name_size);
  Put16(head + 2, name_size + kFileHeaderFixed - kCrcCoverStart + 2);
  std::memcpy(out, head, kFileHeaderFixed);
  std::memcpy(out + kFileHeaderFixed, stored, name_size);
  Put16(out + kFileHeaderFixed + name_size, 0);  // COMMENT_SIZE
  const uint32_t total = kFileHeaderFixed + name_size + 2;
  Put16(head, HeaderCrc(out + kCrcCoverStart, total - kCrcCoverStart));
  std::memcpy(out, head, 2);
  return total;
}

bool WriteFileHeader(platform::ByteSink& sink, uint8_t head[kFileHeaderFixed], const char* name,
                     const Settings& settings) {
  uint8_t bytes[kFileHeaderMaxBytes];
  const uint32_t total = BuildFileHeader(head, name, settings, bytes);
  return sink.Write(bytes, total) == static_cast<int32_t>(total);
}

bool WriteFileHeader(platform::Handle h, uint8_t head[kFileHeaderFixed], const char* name,
                     const Settings& settings) {
  platform::FileSink sink(h);
  return WriteFileHeader(sink, head, name, settings);
}

}  // namespace acekit::format
