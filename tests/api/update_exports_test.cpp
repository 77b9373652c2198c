// Adding to existing archives through the exports: keep or replace an entry
// of the same name, cancel, and the archives an update must leave alone.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "api/library.h"
#include "api/status.h"
#include "api/write_host.h"

namespace acekit::testing {
namespace {

class Update : public ArchiveTest, public ::testing::WithParamInterface<int32_t> {
 protected:
  // An archive of A.TXT and C.TXT, then a newer A.TXT and a B.TXT on disk.
  void SetUp() override {
    Make({"A.TXT", "C.TXT"}, {GetParam(), 256, 1}, "old");
    dir_.Write("new\\A.TXT", TextBytes(5000, 11));
    dir_.Write("new\\B.TXT", TextBytes(3000, 12));
  }
  bool solid() const { return GetParam() == 4; }
  std::string Extracted(const char* name) {
    if (!dir_.Exists("out")) {
      EXPECT_EQ(ExtractAll(arc_, dir_.Lib("out")), 0);
    }
    return dir_.Read(std::string("out\\") + name);
  }
};

TEST_P(Update, ReplacesWithoutAReplaceProcedure) {
  ASSERT_EQ(UpdateWith(arc_, dir_.Lib("new"), {"A.TXT", "B.TXT"}), 0);
  const std::vector<std::string> order = solid()
                                             ? std::vector<std::string>{"A.TXT", "B.TXT", "C.TXT"}
                                             : std::vector<std::string>{"C.TXT", "A.TXT", "B.TXT"};
  EXPECT_EQ(ListNames(arc_), order);
  EXPECT_EQ(TestStatus(arc_), 0);
  EXPECT_EQ(Extracted("A.TXT"), dir_.Read("new\\A.TXT"));
  EXPECT_EQ(Extracted("C.TXT"), dir_.Read("old\\C.TXT"));
  EXPECT_EQ(dir_.List("arc"), std::vector<std::string>{"x.ace"});
}

TEST_P(Update, KeepAnswerLeavesTheArchivedVersion) {
  Host host;
  host.ask_replace = true;
  host.replace["A.TXT"] = 1;
  ASSERT_EQ(UpdateWith(arc_, dir_.Lib("new"), {"A.TXT", "B.TXT"}, &host), 0);
  EXPECT_EQ(host.Asked(), std::vector<std::string>{"A.TXT"});
  const std::vector<std::string> order = solid()
                                             ? std::vector<std::string>{"A.TXT", "B.TXT", "C.TXT"}
                                             : std::vector<std::string>{"A.TXT", "C.TXT", "B.TXT"};
  EXPECT_EQ(ListNames(arc_), order);
  EXPECT_EQ(Extracted("A.TXT"), dir_.Read("old\\A.TXT"));
  EXPECT_EQ(Extracted("B.TXT"), dir_.Read("new\\B.TXT"));
}

// A stop from the replace procedure or the progress procedure, or a source
// gone without a skip procedure, leaves the archive as it was.
TEST_P(Update, StoppedUpdateLeavesTheArchive) {
  struct Case {
    int32_t replace_answer;  // -1: no replace procedure
    int cancel_at;
    std::vector<std::string> items;
    uint16_t status;
  };
  for (const Case& c :
       {Case{2, 0, {"A.TXT", "B.TXT"}, kCancelled}, Case{-1, 1, {"B.TXT"}, kCancelled},
        Case{-1, 0, {"GONE.TXT", "B.TXT"}, kOpenFailed}}) {
    Host host;
    host.ask_replace = c.replace_answer >= 0;
    host.replace["A.TXT"] = c.replace_answer;
    host.cancel_at = c.cancel_at;
    EXPECT_EQ(UpdateWith(arc_, dir_.Lib("new"), c.items, &host), c.status) << c.items[0];
    ExpectUnchanged();
  }
  Host host;
  host.skip = 1;
  EXPECT_EQ(UpdateWith(arc_, dir_.Lib("new"), {"GONE.TXT", "B.TXT"}, &host), 0);
  EXPECT_EQ(ListNames(arc_).size(), 3u);
}

TEST_P(Update, EmptyHostListRebuildsTheSameArchive) {
  ASSERT_EQ(UpdateWith(arc_, dir_.Lib("new"), {}), 0);
  if (solid()) {
    EXPECT_EQ(ListNames(arc_), (std::vector<std::string>{"A.TXT", "C.TXT"}));
    EXPECT_EQ(TestStatus(arc_), 0);
  } else {
    ExpectUnchanged();
  }
}

// Either main-header flag that makes an archive read-only refuses every
// change, the deletion included.
TEST_P(Update, ReadOnlyArchiveIsRefused) {
  const std::string writable = before_;
  for (const uint8_t flag : {0x10, 0x40}) {
    before_ = writable;
    PatchMainHeader(before_, 6, static_cast<uint8_t>(before_[6] | flag));
    dir_.Write("arc\\x.ace", before_);
    EXPECT_EQ(UpdateWith(arc_, dir_.Lib("new"), {"B.TXT"}), kReadOnlyArchive) << int{flag};
    EXPECT_EQ(DeleteWith(arc_, {"A.TXT"}), kReadOnlyArchive) << int{flag};
    ExpectUnchanged();
  }
}

INSTANTIATE_TEST_SUITE_P(NormalAndSolid, Update, ::testing::Values(0, 4),
                         [](const auto& info) { return info.param == 4 ? "Solid" : "Normal"; });

using UpdateNormal = ArchiveTest;

TEST_F(UpdateNormal, AddedFilesUseTheSmallestWindow) {
  Make({"A.TXT"}, {0, 1024, 1});
  dir_.Write("in\\B.TXT", TextBytes(3000, 2));
  InitArcFile(arc_.c_str());
  Stats({0, 1024, 1});
  SetInputPath(dir_.Lib("in").c_str());
  Masks items({"B.TXT"});
  CompressFileMaskListArc(items.get());
  EXPECT_EQ(GetArchiveStatus(), 0);
  DoneArcFile();
  const ParsedArchive p = Parse(Bytes());
  ASSERT_EQ(p.entries.size(), 2u);
  EXPECT_EQ(p.entries[0].parm, 10u);  // carried over as it was
  EXPECT_EQ(p.entries[1].parm, 6u);
}

TEST(UpdateSolid, RecompressesWithTheArchivesWindowAndRestoresTheHostsPaths) {
  TempDir dir;
  dir.Write("in\\A.TXT", TextBytes(6000, 1));
  dir.Write("in\\P.EXE", TextBytes(6000, 2));
  dir.Write("in\\Z.ZIP", TextBytes(6000, 3));
  const std::string arc = dir.Lib("x.ace");
  ASSERT_EQ(CreateWith(arc, dir.Lib("in"), {"A.TXT", "Z.ZIP"}, {4, 256, 1}), 0);
  dir.MakeDir("tmp");
  ScopedTempEnv env(dir.Native("tmp").string());

  InitArcFile(arc.c_str());
  Host host;
  host.Register();
  SetInputPath(dir.Lib("in").c_str());
  SetOutputPath(dir.Lib("o").c_str());
  SetRelativePath("");
  Masks items({"P.EXE"});
  CompressFileMaskListArc(items.get());
  EXPECT_EQ(GetArchiveStatus(), 0);
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(arOptionsAreOn(0x0001), 1);
  EXPECT_STREQ(Lib().settings.output_path, (dir.Lib("o") + "\\").c_str());
  DoneArcFile();

  EXPECT_EQ(dir.List("tmp"), std::vector<std::string>{});
  const ParsedArchive p = Parse(dir.Read("x.ace"));
  ASSERT_EQ(p.entries.size(), 3u);
  EXPECT_EQ(p.entries[0].name, "P.EXE");
  EXPECT_EQ(p.entries[0].flags, 0x0001u);
  EXPECT_EQ(p.entries[1].flags, 0x8001u);
  for (const auto& e : p.entries) EXPECT_EQ(e.parm, 8u);
  EXPECT_EQ(TestStatus(arc), 0);
  // One announcement per pass, ahead of its first regular report.
  std::vector<int32_t> phases;
  for (const auto& pr : host.progress) {
    if (pr.first < 0) phases.push_back(pr.first);
  }
  EXPECT_EQ(phases, (std::vector<int32_t>{-1, -2}));
  EXPECT_EQ(host.progress.front(), std::make_pair(-1, 0));
}

}  // namespace
}  // namespace acekit::testing
