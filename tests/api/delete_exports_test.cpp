// Deleting entries through the exports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/status.h"
#include "api/write_host.h"

namespace acekit::testing {
namespace {

class Delete : public ArchiveTest, public ::testing::WithParamInterface<int32_t> {
 protected:
  void SetUp() override { Make({"A.TXT", "B.EXE", "D.TXT"}, {GetParam(), 64, 1}); }
  bool solid() const { return GetParam() == 4; }
};

TEST_P(Delete, RemovesWhatTheMaskSelectsAndTellsTheHost) {
  dir_.MakeDir("tmp");
  ScopedTempEnv env(dir_.Native("tmp").string());
  Host host;
  ASSERT_EQ(DeleteWith(arc_, {"*.TXT"}, &host), 0);
  EXPECT_EQ(ListNames(arc_), std::vector<std::string>{"B.EXE"});
  EXPECT_EQ(TestStatus(arc_), 0);
  EXPECT_EQ(dir_.List("arc"), std::vector<std::string>{"x.ace"});
  EXPECT_EQ(dir_.List("tmp"), std::vector<std::string>{});
  int deleted_reports = 0;
  for (const auto& p : host.progress) deleted_reports += p == std::make_pair(100, 100) ? 1 : 0;
  EXPECT_EQ(deleted_reports, 2);

  const std::string after = dir_.Read("arc\\x.ace");
  const ParsedArchive old_p = Parse(before_);
  const ParsedArchive new_p = Parse(after);
  ASSERT_EQ(new_p.entries.size(), 1u);
  EXPECT_EQ(new_p.entries[0].flags, 0x0001u);
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

TEST_P(Delete, MaskMatchingNothingKeepsTheEntries) {
  ASSERT_EQ(DeleteWith(arc_, {"*.ZIP"}), 0);
  if (solid()) {
    EXPECT_EQ(ListNames(arc_), (std::vector<std::string>{"B.EXE", "A.TXT", "D.TXT"}));
    EXPECT_EQ(TestStatus(arc_), 0);
  } else {
    ExpectUnchanged();
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

INSTANTIATE_TEST_SUITE_P(NormalAndSolid, Delete, ::testing::Values(0, 4),
                         [](const auto& info) { return info.param == 4 ? "Solid" : "Normal"; });

using DeleteSolidArchive = ArchiveTest;

TEST_F(DeleteSolidArchive, VersionItCannotRebuildIsRefused) {
  Make({"A.TXT"}, {4, 64, 1});
  PatchMainHeader(before_, 14, 20);
  dir_.Write("arc\\x.ace", before_);
  EXPECT_EQ(DeleteWith(arc_, {"A.TXT"}), kUnsupported);
  ExpectUnchanged();
}

TEST(DeleteSolid, DeletingTheFirstFileStartsAFreshStream) {
  TempDir dir;
  dir.Write("in\\A.EXE", TextBytes(6000, 1));
  dir.Write("in\\B.TXT", TextBytes(6000, 2));
  dir.Write("in\\C.TXT", TextBytes(6000, 3));
  const std::string arc = dir.Lib("x.ace");
  ASSERT_EQ(CreateWith(arc, dir.Lib("in"), {"B.TXT", "C.TXT", "A.EXE"}, {4, 128, 1}), 0);
  ASSERT_EQ(Parse(dir.Read("x.ace")).entries.at(0).name, "A.EXE");
  ASSERT_EQ(DeleteWith(arc, {"A.EXE"}), 0);
  const ParsedArchive p = Parse(dir.Read("x.ace"));
  ASSERT_EQ(p.entries.size(), 2u);
  EXPECT_EQ(p.entries[0].name, "B.TXT");
  EXPECT_EQ(p.entries[0].flags, 0x0001u);
  EXPECT_EQ(p.entries[1].flags, 0x8001u);
  EXPECT_EQ(p.entries[0].parm, 7u);
  ASSERT_EQ(ExtractAll(arc, dir.Lib("out")), 0);
  EXPECT_EQ(dir.Read("out\\C.TXT"), dir.Read("in\\C.TXT"));
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
  EXPECT_EQ(dir.List("tmp"), std::vector<std::string>{});
  EXPECT_EQ(ListNames(arc), std::vector<std::string>{"x.txt"});
  EXPECT_EQ(TestStatus(arc), 0);
}

}  // namespace
}  // namespace acekit::testing
