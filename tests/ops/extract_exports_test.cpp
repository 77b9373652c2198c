// The extraction exports driven the way a host drives them: open the
// archive, register procedures, build a mask list, extract, test, list.
#include <gtest/gtest.h>

#include "api/exports.h"
#include "ops/extract_fixture.h"

namespace acekit::extract_test {
namespace {

class Exports : public ExtractTest {
 protected:
  void OpenLib(const std::vector<Entry>& entries, bool solid) {
    WriteFile(root_ / "a.ace", BuildArchive(entries, solid));
    InitArcFile(LibPath(root_ / "a.ace").c_str());
    ASSERT_EQ(GetArchiveStatus(), 0);
    SetOutputPath(LibPath(Out()).c_str());
    arOptionsOn(kOptKeepPaths);
    SetSetFileNameProc(reinterpret_cast<ArcContext>(&host_), Host::Name);
  }
  void TearDown() override {
    DoneArcFile();
    ExtractTest::TearDown();
  }
};

TEST_F(Exports, HostExtractsOneFileOfASolidArchiveThenTestsAndListsIt) {
  const std::string a = TextBytes(4000, 5);
  OpenLib({{"a.txt", a}, Dir("docs"), {"docs\\b.txt", a + "b"}, {"c.txt", "c", 0x20, 0}}, true);
  FileMaskList masks;
  InitFileMaskList(&masks);
  ASSERT_NE(AppendFileMask("DOCS\\B.TXT", &masks), 0);
  ExtractFileMaskListArc(&masks);
  EXPECT_EQ(GetArchiveStatus(), 0);
  EXPECT_EQ(Tree(Out()), (std::vector<std::string>{"docs/", "docs/b.txt"}));
  EXPECT_EQ(ReadFile(Out() / "docs/b.txt"), a + "b");

  ArcFileList list;
  InitArcFileList(&list);
  BuildArcFileList(&list, &masks);
  EXPECT_EQ(list.count, 1);
  DoneArcFileList(&list);
  EXPECT_EQ(list.first, nullptr);
  DoneFileMaskList(&masks);

  host_.names.clear();
  TestArc();
  EXPECT_EQ(GetArchiveStatus(), 0);
  EXPECT_EQ(host_.names.size(), 3u);
}

TEST_F(Exports, MissingArchiveReportsFive) {
  OpenLib({{"a.txt", "a"}}, false);
  fs::remove(root_ / "a.ace");
  ExtractFileMaskListArc(nullptr);
  EXPECT_EQ(GetArchiveStatus(), kOpenFailed);
  TestArc();
  EXPECT_EQ(GetArchiveStatus(), kOpenFailed);
}

}  // namespace
}  // namespace acekit::extract_test
