// Creating archives through the exports, then listing, testing and
// extracting them the way a host does.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "common/status.h"
#include "format/records.h"
#include "ops/write_host.h"
#include "platform/platform.h"

namespace acekit::testing {
namespace {

using Names = std::vector<std::string>;

namespace fs = std::filesystem;

struct SourceFile {
  const char* item;  // as the host lists it
  std::string bytes;
  bool read_only;
};

std::vector<SourceFile> Sources() {
  return {{"A.TXT", TextBytes(40000, 1), false},
          {"B.BIN", RandomBytes(3000, 2), false},
          {"E.TXT", "", false},
          {"sub\\C.EXE", TextBytes(12000, 3), false},
          {"RO.TXT", TextBytes(700, 4), true}};
}

// Writes the sources with last-write times on even seconds, so the DOS
// time in the archive holds them exactly.
void WriteSources(const TempDir& dir, const std::vector<SourceFile>& files) {
  auto when = fs::file_time_type::clock::now() - std::chrono::hours(24 * 40);
  when = std::chrono::time_point_cast<std::chrono::seconds>(when);
  int i = 0;
  for (const auto& f : files) {
    const std::string rel = std::string("in\\") + f.item;
    dir.Write(rel, f.bytes);
    auto t = when + std::chrono::seconds(2 * i++);
    if (std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count() % 2) {
      t += std::chrono::seconds(1);
    }
    fs::last_write_time(dir.Native(rel), t);
    if (f.read_only) {
      platform::SetAttributes(dir.Lib(rel).c_str(), platform::kAttrReadOnly);
    }
  }
}

struct RoundTripCase {
  int32_t mode, dict_kb, level;
  uint32_t code;
};

class CreateRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(CreateRoundTrip, ExtractsWhatWentIn) {
  const RoundTripCase& c = GetParam();
  TempDir dir;
  const auto files = Sources();
  WriteSources(dir, files);
  Names items;
  for (const auto& f : files) items.emplace_back(f.item);
  const std::string arc = dir.Lib("x.ace");
  ASSERT_EQ(CreateWith(arc, dir.Lib("in"), items, {c.mode, c.dict_kb, c.level}), 0);

  const Names expected =
      c.mode == 4 ? Names{"sub\\C.EXE", "B.BIN", "A.TXT", "E.TXT", "RO.TXT"} : items;
  EXPECT_EQ(ListNames(arc), expected);
  const std::string bytes = dir.Read("x.ace");
  const ParsedArchive p = Parse(bytes);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.main_flags, c.mode == 4 ? 0x8000u : 0u);
  for (const auto& e : p.entries) {
    EXPECT_EQ(e.parm, c.code) << e.name;
    EXPECT_TRUE(e.name != "A.TXT" || e.pack < e.orig / 2) << "text is compressed: " << e.pack;
  }
  EXPECT_EQ(TestStatus(arc), 0);

  ASSERT_EQ(ExtractAll(arc, dir.Lib("out")), 0);
  for (const auto& f : files) {
    const std::string rel = std::string("out\\") + f.item;
    EXPECT_EQ(dir.Read(rel), f.bytes) << f.item;
    const std::string src = std::string("in\\") + f.item;
    EXPECT_EQ(fs::last_write_time(dir.Native(rel)), fs::last_write_time(dir.Native(src))) << f.item;
    const uint32_t attr = platform::GetAttributes(dir.Lib(rel).c_str());
    EXPECT_EQ((attr & platform::kAttrReadOnly) != 0, f.read_only) << f.item;
  }
}

INSTANTIATE_TEST_SUITE_P(WindowsAndLevels, CreateRoundTrip,
                         ::testing::Values(RoundTripCase{0, 128, 3, 7},
                                           RoundTripCase{0, 1024, 4, 10},
                                           RoundTripCase{4, 64, 1, 6},
                                           RoundTripCase{4, 512, 2, 9}));

// A normal archive's main header carries the marker text; in a solid one the
// first header starts the stream and the next continue it. Each file is
// announced before it is added, in archive order.
TEST(Create, MainHeaderAndSolidChain) {
  for (const int32_t mode : {0, 4}) {
    TempDir dir;
    for (const char* n : {"A", "B", "C"})
      dir.Write(std::string("in\\") + n + ".TXT", TextBytes(5000));
    const std::string arc = dir.Lib("x.ace");
    Host host;
    ASSERT_EQ(CreateWith(arc, dir.Lib("in"), {"C.TXT", "B.TXT", "A.TXT"}, {mode, 64, 1}, &host), 0);
    const std::string a = dir.Read("x.ace");
    const ParsedArchive p = Parse(a);
    ASSERT_EQ(p.entries.size(), 3u);
    EXPECT_EQ(p.main_size, mode == 4 ? 33u : 62u);
    EXPECT_TRUE(mode == 4 || a.substr(33, 29) == std::string(format::kNormalArchiveExtra, 29));
    EXPECT_EQ(p.entries[1].flags, mode == 4 ? 0x8001u : 0x0001u);
    EXPECT_EQ(p.entries[0].flags, 0x0001u);
    ASSERT_EQ(host.names.size(), 3u);
    EXPECT_EQ(host.names[0].first, dir.Lib(mode == 4 ? "in\\A.TXT" : "in\\C.TXT"));
    EXPECT_EQ(host.names[0].second, mode == 4 ? "\\A.TXT" : "\\C.TXT");
    EXPECT_EQ(host.names[1].second, "\\B.TXT");
  }
}

TEST(Create, EmptyListMakesNoFile) {
  TempDir dir;
  EXPECT_EQ(CreateWith(dir.Lib("x.ace"), dir.Lib(), {}), kNothingToAdd);
  EXPECT_FALSE(dir.Exists("x.ace"));
}

// A vanished source fails the creation without a skip procedure, is left
// out when it answers 1 and cancels everything when it answers 2; an answer
// of 0 ends the creation without an archive and without a status.
TEST(Create, VanishedSourceFollowsTheSkipProcedure) {
  for (const int32_t mode : {0, 4}) {
    for (const auto& [skip, status] :
         {std::pair<int32_t, uint32_t>{-1, kOpenFailed}, {0, 0}, {1, 0}, {2, kCancelled}}) {
      SCOPED_TRACE(::testing::Message() << "mode " << mode << " skip " << skip);
      TempDir dir;
      dir.Write("in\\A.TXT", TextBytes(3000));
      dir.Write("in\\C.TXT", TextBytes(3000, 2));
      Host host;
      host.skip = skip;
      const std::string arc = dir.Lib("x.ace");
      EXPECT_EQ(
          CreateWith(arc, dir.Lib("in"), {"A.TXT", "GONE.TXT", "C.TXT"}, {mode, 64, 1}, &host),
          status);
      EXPECT_EQ(dir.Exists("x.ace"), skip == 1);
      if (skip != 1) continue;
      EXPECT_EQ(ListNames(arc), (Names{"A.TXT", "C.TXT"}));
      EXPECT_EQ(TestStatus(arc), 0);
    }
  }
}

TEST(Create, CancelThroughProgressLeavesNoArchive) {
  for (int32_t mode : {0, 4}) {
    TempDir dir;
    dir.Write("in\\A.TXT", TextBytes(100000));
    Host host;
    host.cancel_at = 1;
    EXPECT_EQ(CreateWith(dir.Lib("x.ace"), dir.Lib("in"), {"A.TXT"}, {mode, 64, 1}, &host),
              kCancelled);
    EXPECT_FALSE(dir.Exists("x.ace"));
    EXPECT_EQ(host.progress.size(), 1u);
  }
}

}  // namespace
}  // namespace acekit::testing
