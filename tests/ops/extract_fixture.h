// Archives built byte by byte for the extraction tests, and a scratch
// directory per test with the state an operation runs on and a recording host.
//
// Headers are laid out here rather than through the header writer so that a
// test can store names the writer would never produce, flags it would never
// set and sizes that do not fit the data.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/status.h"
#include "compress/compressor.h"
#include "format/crc32.h"
#include "format/records.h"
#include "ops/context.h"
#include "ops/extract.h"
#include "ops/open_archive.h"
#include "ops/write_host.h"
#include "platform/platform.h"

namespace acekit::extract_test {

namespace fs = std::filesystem;
using testing::Host;
using testing::LibPath;
using testing::TextBytes;

inline constexpr uint32_t kTime = 0x286373C5;  // 3 March 2000, 14:30:10

struct Entry {
  std::string name;  // stored bytes, taken as they are
  std::string data;
  uint32_t attr = 0x20;
  int method = 1;  // 0 stored, 1 compressed; others are written as stored bytes
  uint16_t flags = 0;
  bool bad_crc = false;
};

inline Entry Dir(std::string name) {
  return {std::move(name), "", 0x10, 1};
}

// The archive bytes. In a solid archive every file runs through one
// compressor, so later files refer to earlier ones whatever is stored.
// `raw`: packed data, by entry, written as it is in place of the coded data.
inline std::string BuildArchive(const std::vector<Entry>& entries, bool solid,
                                const std::map<size_t, std::string>& raw = {}) {
  uint8_t main[format::kMainHeaderBytes];
  format::BuildMainHeader(main, nullptr, 0, solid ? format::kMainFlagSolid : 0, kTime);
  std::string out(reinterpret_cast<char*>(main), sizeof main);
  compress::Compressor coder;
  int32_t dict_kb = 64;
  EXPECT_TRUE(coder.Setup(&dict_kb, 1));
  bool first = true;
  for (const Entry& e : entries) {
    std::string packed = e.data;
    if (!e.data.empty()) {
      decompress::test::MemorySource src({e.data.begin(), e.data.end()});
      decompress::test::MemorySink sink;
      coder.CompressFile(&src, &sink, static_cast<int32_t>(e.data.size()), !solid || first);
      first = false;
      if (e.method == 1) packed.assign(sink.data.begin(), sink.data.end());
    }
    if (const auto r = raw.find(static_cast<size_t>(&e - entries.data())); r != raw.end()) {
      packed = r->second;
    }
    uint32_t crc = format::Crc32Update(format::kCrcInit, e.data.data(), e.data.size());
    if (e.bad_crc) crc ^= 1;
    std::string h(format::kFileHeaderFixed, '\0');
    auto* p = reinterpret_cast<uint8_t*>(h.data());
    p[4] = format::kHeadFile;
    format::Put16(p + 5, format::kFileFlagPackSize | e.flags);
    format::Put32(p + 7, static_cast<uint32_t>(packed.size()));
    format::Put32(p + 11, static_cast<uint32_t>(e.data.size()));
    format::Put32(p + 15, kTime);
    format::Put32(p + 19, e.attr);
    format::Put32(p + 23, crc);
    p[27] = static_cast<uint8_t>(e.method);
    p[28] = 2;
    format::Put16(p + 29, 6);
    format::Put16(p + 33, static_cast<uint32_t>(e.name.size()));
    h += e.name + std::string(2, '\0');
    p = reinterpret_cast<uint8_t*>(h.data());
    format::Put16(p + 2, static_cast<uint32_t>(h.size() - 4));
    format::Put16(p, format::HeaderCrc(p + 4, h.size() - 4));
    out += h + packed;
  }
  return out;
}

// A scratch directory holding the archive and the output directory "out",
// and the state an operation runs on, opened the way InitArcFile opens it.
class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.options = format::kOptKeepPaths;
    std::strcpy(settings_.output_path, (LibPath(Out()) + "\\").c_str());
    const ArcContext me = reinterpret_cast<ArcContext>(&host_);
    hooks_.file_name = {Host::OnName, me};
    hooks_.replace = {Host::OnReplace, me};
    hooks_.progress = {Host::OnProgress, me};
  }
  void TearDown() override {
    platform::DisarmFaults();
    platform::Free(arc_.main_comment);
  }

  fs::path Out() const { return root_ / "out"; }

  void Open(const std::string& bytes) {
    dir_.Write("a.ace", bytes);
    platform::Free(arc_.main_comment);
    arc_ = format::ArcState{};
    ASSERT_EQ(ops::OpenArchive(arc_, LibPath(root_ / "a.ace").c_str()), kOk);
  }
  void Open(const std::vector<Entry>& entries, bool solid) { Open(BuildArchive(entries, solid)); }

  ops::Context Ctx() { return ops::Context{arc_, settings_, hooks_, arc_info_, features_}; }
  // Extracts every entry; the status, also kept in the state.
  uint32_t Unpack() { return arc_.status = ops::ExtractFileMaskListArc(Ctx(), nullptr); }

  testing::TempDir dir_;
  const fs::path root_ = dir_.Native();
  Host host_;
  format::ArcState arc_;
  format::Settings settings_;
  HostHooks hooks_;
  int32_t arc_info_[23] = {};
  int32_t features_[12] = {};
};

}  // namespace acekit::extract_test
