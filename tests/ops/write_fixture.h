// A reader of what the writing operations produced, independent of the
// library's own entry walk: the headers laid out field by field, and each
// entry's data decoded, so a test can compare bytes with what went in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/status.h"
#include "common/temp_dir.h"
#include "decompress/decoder.h"
#include "decompress/stream_builder.h"

namespace acekit::testing {

inline uint32_t Le16(const std::string& s, size_t at) {
  return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8;
}
inline uint32_t Le32(const std::string& s, size_t at) {
  return Le16(s, at) | Le16(s, at + 2) << 16;
}

struct ParsedEntry {
  size_t offset = 0;
  uint32_t head_size = 0, flags = 0, pack = 0, orig = 0, ftime = 0, attr = 0, crc = 0;
  uint32_t tech_type = 0, tech_qual = 0, parm = 0;
  std::string name;
  size_t data = 0;  // offset of the packed data
};

struct ParsedArchive {
  bool ok = false;
  uint32_t main_size = 0;  // HEAD_SIZE + 4
  uint32_t main_flags = 0;
  std::vector<ParsedEntry> entries;
};

// Walks an archive that starts with its main header; ok is false when the
// bytes do not end exactly with the last entry's data.
inline ParsedArchive Parse(const std::string& a) {
  ParsedArchive p;
  if (a.size() < 33 || a.compare(7, 7, "**ACE**") != 0) return p;
  p.main_size = Le16(a, 2) + 4;
  p.main_flags = Le16(a, 5);
  size_t at = p.main_size;
  while (at + 37 <= a.size()) {
    ParsedEntry e;
    e.offset = at;
    e.head_size = Le16(a, at + 2);
    if (a[at + 4] != 1) return p;
    e.flags = Le16(a, at + 5);
    e.pack = Le32(a, at + 7);
    e.orig = Le32(a, at + 11);
    e.ftime = Le32(a, at + 15);
    e.attr = Le32(a, at + 19);
    e.crc = Le32(a, at + 23);
    e.tech_type = static_cast<uint8_t>(a[at + 27]);
    e.tech_qual = static_cast<uint8_t>(a[at + 28]);
    e.parm = Le16(a, at + 29);
    e.name = a.substr(at + 35, Le16(a, at + 33));
    e.data = at + e.head_size + 4;
    at = e.data + e.pack;
    p.entries.push_back(e);
  }
  p.ok = at == a.size();
  return p;
}

// Decodes every entry in archive order (one window across a solid
// archive); an entry that fails decodes to "<status N>".
inline std::vector<std::string> DecodeAll(const std::string& a, const ParsedArchive& p) {
  std::vector<std::string> out;
  decompress::Decoder d;
  if (decompress::DecoderAlloc(d) != kOk) return out;
  const bool solid = (p.main_flags & 0x8000) != 0;
  uint32_t number = 1;
  for (const ParsedEntry& e : p.entries) {
    if (e.attr & 0x10) {
      out.emplace_back();
      continue;
    }
    decompress::test::MemorySource src({a.begin() + e.data, a.end()});
    decompress::test::MemorySink sink;
    decompress::DecoderStart(d, &src, static_cast<int32_t>(e.orig), solid, number++, e.tech_type);
    const uint32_t st = decompress::DecodeEntry(d, e.tech_type, &sink);
    if (st != kOk || d.crc != e.crc) {
      out.push_back("<status " + std::to_string(st) + ">");
    } else {
      out.emplace_back(sink.data.begin(), sink.data.end());
    }
  }
  decompress::DecoderFree(d);
  return out;
}

}  // namespace acekit::testing
