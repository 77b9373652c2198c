// Hand-built archives for the format and selection tests: header bytes from
// the library's own writers, and a fixture that writes them into a scratch
// directory and opens them the way the lifecycle does.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "format/crc32.h"
#include "format/header_search.h"
#include "format/records.h"

namespace acekit::testing {

using Bytes = std::vector<uint8_t>;

inline constexpr uint32_t kStamp = 0x286373C5;  // 14:30:10 on 3 March 2000

// "é" in the system's "ANSI" code page (CP437 0x82 in the archive).
#if defined(_WIN32)
inline constexpr const char* kAnsiEAcute = "\xE9";
#else
inline constexpr const char* kAnsiEAcute = "\xC3\xA9";
#endif

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

inline Bytes MainHeader(uint16_t flags = 0, const Bytes& extra = {}) {
  Bytes out(format::kMainHeaderBytes);
  format::BuildMainHeader(out.data(), extra.data(), static_cast<uint32_t>(extra.size()), flags,
                          kStamp);
  return Cat({out, extra});
}

inline Bytes FileHeader(const char* name, const format::FileHeaderFields& fields,
                        const format::Settings& s = {}) {
  uint8_t head[format::kFileHeaderFixed] = {};
  format::PackFileHeaderFields(fields, head);
  uint8_t out[format::kFileHeaderMaxBytes];
  return Bytes(out, out + format::BuildFileHeader(head, name, s, out));
}

// A stored entry: header and data.
inline Bytes StoredEntry(const char* name, const Bytes& data, uint32_t attr = 0x20,
                         uint16_t dict_code = 6) {
  format::FileHeaderFields f;
  f.pack_size = f.orig_size = static_cast<uint32_t>(data.size());
  f.ftime = kStamp;
  f.attr = attr;
  if (!data.empty()) f.crc32 = format::Crc32Update(format::kCrcInit, data.data(), data.size());
  f.tech_parm = dict_code;
  return Cat({FileHeader(name, f), data});
}

// A header of any type: the frame with a valid checksum, then `body`.
inline Bytes RawHeader(uint8_t type, uint16_t flags, const Bytes& body) {
  Bytes out = Cat({Bytes(format::kFrameSize), body});
  format::Put16(out.data() + 2, static_cast<uint32_t>(out.size() - 4));
  out[4] = type;
  format::Put16(out.data() + 5, flags);
  format::Put16(out.data(), format::HeaderCrc(out.data() + 4, out.size() - 4));
  return out;
}

class ArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::DisarmFaults(); }
  void TearDown() override { platform::DisarmFaults(); }

  // The library's form of a path in the test directory.
  std::string Path(const std::string& name) const { return tmp_.Lib(name); }

  std::string WriteFile(const std::string& name, const Bytes& bytes) {
    tmp_.Write(name, std::string(bytes.begin(), bytes.end()));
    return Path(name);
  }

  // Writes the archive, names it in `st` and runs the two header searches,
  // the part of opening an archive this layer owns (the operations' one
  // opening sequence adds the main comment). True when the main header was
  // found.
  bool Open(const Bytes& bytes, format::ArcState& st) {
    format::CopyText(st.archive_name, sizeof st.archive_name, WriteFile("a.ace", bytes));
    const platform::Handle h = platform::Open(st.archive_name, 'r');
    const bool found = format::FindMainHeader(h, st);
    if (found) format::FindFirstFileHeader(h, st);
    platform::Close(h);
    return found;
  }

  TempDir tmp_;
  const std::filesystem::path dir_ = tmp_.Native();
};

}  // namespace acekit::testing
