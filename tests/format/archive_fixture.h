// Hand-built archives for the format and selection tests: header byte
// builders on top of the library's own writers, and a fixture that writes
// them into a private temporary directory and opens them the way the
// lifecycle does.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "format/arc_state.h"
#include "format/crc32.h"
#include "format/header_search.h"
#include "format/records.h"
#include "platform/platform.h"
#include "platform/stream.h"

namespace acekit::testing {

using Bytes = std::vector<uint8_t>;

// 14:30:10 on 3 March 2000, packed.
inline constexpr uint32_t kStamp = 0x286373C5;

class MemorySink final : public ByteSink {
 public:
  int32_t Write(const void* buf, uint32_t count) override {
    const auto* p = static_cast<const uint8_t*>(buf);
    bytes.insert(bytes.end(), p, p + count);
    return static_cast<int32_t>(count);
  }
  Bytes bytes;
};

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

inline Bytes MainHeader(uint16_t flags = 0, const Bytes& extra = {}) {
  Bytes out(kMainHeaderBytes);
  BuildMainHeader(out.data(), extra.empty() ? nullptr : extra.data(),
                  static_cast<uint32_t>(extra.size()), flags, kStamp);
  out.insert(out.end(), extra.begin(), extra.end());
  return out;
}

inline Bytes FileHeader(const char* name, const FileHeaderFields& fields,
                        const Settings& settings = {}) {
  uint8_t head[kFileHeaderFixed] = {};
  PackFileHeaderFields(fields, head);
  MemorySink sink;
  WriteFileHeader(sink, head, name, settings);
  return sink.bytes;
}

// A stored (uncompressed) entry: its header followed by its data.
inline Bytes StoredEntry(const char* name, const Bytes& data, uint32_t attr = 0x20,
                         uint16_t dict_code = 6) {
  FileHeaderFields f;
  f.pack_size = f.orig_size = static_cast<uint32_t>(data.size());
  f.ftime = kStamp;
  f.attr = attr;
  f.crc32 = data.empty() ? kEmptyCrc : Crc32Update(kCrcInit, data.data(), data.size());
  f.tech_parm = dict_code;
  return Cat({FileHeader(name, f), data});
}

// A header of any type: the frame with a valid checksum over `body`.
inline Bytes RawHeader(uint8_t type, uint16_t flags, const Bytes& body) {
  Bytes out(kFrameSize);
  Put16(out.data() + 2, static_cast<uint32_t>(3 + body.size()));
  out[4] = type;
  Put16(out.data() + 5, flags);
  out.insert(out.end(), body.begin(), body.end());
  Put16(out.data(), HeaderCrc(out.data() + 4, out.size() - 4));
  return out;
}

inline Bytes RecoveryHeader(uint32_t extra_size) {
  Bytes body(4);
  Put32(body.data(), extra_size);
  return Cat({RawHeader(kHeadRecovery, 0, body), Bytes(extra_size, 0xEE)});
}

class ArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::DisarmFaults();
    namespace fs = std::filesystem;
    static unsigned counter = 0;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
      const fs::path candidate =
          fs::temp_directory_path() /
          ("acekit_format_" + std::to_string(stamp) + "_" + std::to_string(counter++));
      std::error_code ec;
      if (fs::create_directory(candidate, ec)) dir_ = candidate;
    }
    ASSERT_FALSE(dir_.empty());
  }

  void TearDown() override {
    platform::DisarmFaults();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // The library's form of a path in the test directory (`\` separators).
  std::string Path(const std::string& name) const {
    std::string p = (dir_ / name).string();
    for (char& c : p)
      if (c == '/') c = '\\';
    return p;
  }

  std::string WriteFile(const std::string& name, const Bytes& bytes) {
    const std::string path = Path(name);
    const platform::Handle h = platform::Open(path.c_str(), 'w');
    EXPECT_NE(h, platform::kBadHandle);
    if (!bytes.empty()) {
      EXPECT_EQ(platform::Write(bytes.data(), static_cast<uint32_t>(bytes.size()), h),
                static_cast<int32_t>(bytes.size()));
    }
    platform::Close(h);
    return path;
  }

  // Writes the archive and runs both header searches on it, as opening does.
  // Returns whether the main header was found; `st` names the archive.
  bool Open(const Bytes& bytes, ArcState& st, const std::string& name = "a.ace") {
    const std::string path = WriteFile(name, bytes);
    CopyText(st.archive_name, sizeof st.archive_name, path);
    const platform::Handle h = platform::Open(path.c_str(), 'r');
    if (h == platform::kBadHandle) return false;
    const bool found = FindMainHeader(h, st);
    if (found) FindFirstFileHeader(h, st);
    platform::Close(h);
    return found;
  }

  std::filesystem::path dir_;
};

}  // namespace acekit::testing
