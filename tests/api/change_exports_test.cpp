// Changing existing archives through the exports: adding to them (keep or
// replace an entry of the same name, cancel, and the archives an update must
// leave alone), then deleting from them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/status.h"
#include "ops/write_host.h"
#include "process_view.h"

namespace acekit::testing {
namespace {

using Names = std::vector<std::string>;

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
  EXPECT_EQ(ListNames(arc_),
            (solid() ? Names{"A.TXT", "B.TXT", "C.TXT"} : Names{"C.TXT", "A.TXT", "B.TXT"}));
  EXPECT_EQ(TestStatus(arc_), 0);
  EXPECT_EQ(Extracted("A.TXT"), dir_.Read("new\\A.TXT"));
  EXPECT_EQ(Extracted("C.TXT"), dir_.Read("old\\C.TXT"));
  EXPECT_EQ(dir_.List("arc"), Names{"x.ace"});
}

TEST_P(Update, KeepAnswerLeavesTheArchivedVersion) {
  Host host;
  host.ask_replace = true;
  host.replace["A.TXT"] = 1;
  ASSERT_EQ(UpdateWith(arc_, dir_.Lib("new"), {"A.TXT", "B.TXT"}, &host), 0);
  EXPECT_EQ(host.Asked(), Names{"A.TXT"});
  EXPECT_EQ(ListNames(arc_),
            (solid() ? Names{"A.TXT", "B.TXT", "C.TXT"} : Names{"A.TXT", "C.TXT", "B.TXT"}));
  EXPECT_EQ(Extracted("A.TXT"), dir_.Read("old\\A.TXT"));
  EXPECT_EQ(Extracted("B.TXT"), dir_.Read("new\\B.TXT"));
}

// A stop from the replace procedure or the progress procedure, or a source
// gone without a skip procedure, leaves the archive as it was.
TEST_P(Update, StoppedUpdateLeavesTheArchive) {
  struct Case {
    int32_t replace_answer;  // -1: no replace procedure
    int cancel_at;
    Names items;
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

// An update with nothing to add and a deletion that matches nothing leave
// a normal archive as it is; a solid one is rebuilt with the same entries.
TEST_P(Update, ChangeThatSelectsNothingKeepsTheEntries) {
  ASSERT_EQ(UpdateWith(arc_, dir_.Lib("new"), {}), 0);
  ASSERT_EQ(DeleteWith(arc_, {"*.ZIP"}), 0);
  if (solid()) {
    EXPECT_EQ(ListNames(arc_), (Names{"A.TXT", "C.TXT"}));
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

ACEKIT_NORMAL_AND_SOLID(Update);

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
  EXPECT_STREQ(ProcessState().settings.output_path, (dir.Lib("o") + "\\").c_str());
  DoneArcFile();

  EXPECT_EQ(dir.List("tmp"), Names{});
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

class Delete : public ArchiveTest, public ::testing::WithParamInterface<int32_t> {
 protected:
  void SetUp() override { Make({"A.TXT", "B.EXE", "D.TXT"}, {GetParam(), 128, 1}); }
  bool solid() const { return GetParam() == 4; }
};

TEST_P(Delete, RemovesWhatTheMaskSelectsAndTellsTheHost) {
  dir_.MakeDir("tmp");
  ScopedTempEnv env(dir_.Native("tmp").string());
  Host host;
  ASSERT_EQ(DeleteWith(arc_, {"*.TXT"}, &host), 0);
  EXPECT_EQ(ListNames(arc_), Names{"B.EXE"});
  EXPECT_EQ(TestStatus(arc_), 0);
  EXPECT_EQ(dir_.List("arc"), Names{"x.ace"});
  EXPECT_EQ(dir_.List("tmp"), Names{});
  int deleted_reports = 0;
  for (const auto& p : host.progress) deleted_reports += p == std::make_pair(100, 100) ? 1 : 0;
  EXPECT_EQ(deleted_reports, 2);

  const std::string after = dir_.Read("arc\\x.ace");
  const ParsedArchive old_p = Parse(before_);
  const ParsedArchive new_p = Parse(after);
  ASSERT_EQ(new_p.entries.size(), 1u);
  EXPECT_EQ(new_p.entries[0].flags, 0x0001u);
  EXPECT_EQ(new_p.entries[0].parm, 7u) << "a rebuild keeps the archive's window";
  // The archive head is carried over byte for byte.
  EXPECT_EQ(after.substr(0, old_p.main_size), before_.substr(0, old_p.main_size));
  if (!solid()) {
    const ParsedEntry& b = old_p.entries[1];
    EXPECT_EQ(after.substr(new_p.main_size), before_.substr(b.offset, b.data + b.pack - b.offset));
    const std::vector<std::pair<std::string, std::string>> shown = {{"\\A.TXT", "\\A.TXT"},
                                                                    {"\\D.TXT", "\\D.TXT"}};
    EXPECT_EQ(host.names, shown);
  }
}

TEST_P(Delete, CancelAtTheFirstDeletedEntryChangesNothing) {
  InitArcFile(arc_.c_str());
  // A solid rebuild also reports while it unpacks; only the report of a
  // deleted entry, (100, 100), answers stop.
  SetSetProgressProc(0, [](ArcContext, int32_t pct, int32_t bytes) -> int32_t {
    return pct == 100 && bytes == 100 ? 0 : 1;
  });
  Masks masks({"A.TXT"});
  DeleteFileMaskListArc(masks.get());
  EXPECT_EQ(GetArchiveStatus(), kCancelled);
  DoneArcFile();
  ExpectUnchanged();
}

ACEKIT_NORMAL_AND_SOLID(Delete);

using DeleteSolidArchive = ArchiveTest;

TEST_F(DeleteSolidArchive, VersionItCannotRebuildIsRefused) {
  Make({"A.TXT"}, {4, 64, 1});
  PatchMainHeader(before_, 14, 20);
  dir_.Write("arc\\x.ace", before_);
  EXPECT_EQ(DeleteWith(arc_, {"A.TXT"}), kUnsupported);
  ExpectUnchanged();
}

TEST(DeleteSolid, NamesThatClimbOutStayInTheWorkingDirectory) {
  TempDir dir;
  dir.Write("in\\ab\\x.txt", TextBytes(3000, 1));
  dir.Write("in\\k.txt", TextBytes(3000, 2));
  dir.MakeDir("tmp");
  const std::string arc = dir.Lib("x.ace");
  ASSERT_EQ(CreateWith(arc, dir.Lib("in"), {"ab\\x.txt", "k.txt"}, {4, 64, 1}), 0);
  // Rename the first entry to climb out of whatever it is unpacked into.
  std::string a = dir.Read("x.ace");
  const ParsedEntry e = Parse(a).entries.at(0);
  ASSERT_EQ(e.name, "ab\\x.txt");
  PatchHeader(a, e.offset, 35, "..");
  dir.Write("x.ace", a);

  ScopedTempEnv env(dir.Native("tmp").string());
  ASSERT_EQ(DeleteWith(arc, {"k.txt"}), 0);
  EXPECT_EQ(dir.List("tmp"), Names{});
  EXPECT_EQ(ListNames(arc), Names{"x.txt"});
  EXPECT_EQ(TestStatus(arc), 0);
}

}  // namespace
}  // namespace acekit::testing
