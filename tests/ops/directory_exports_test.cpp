// Directory entries added through CreateDirectoryArc: the names taken and
// refused, how they are stored, the duplicate check, and the header itself.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/status.h"
#include "format/records.h"
#include "ops/directory.h"
#include "ops/write_host.h"

namespace acekit::testing {
namespace {

class DirectoryEntries : public ArchiveTest {
 protected:
  void SetUp() override { Make({"A.TXT"}); }
  uint16_t Add(const std::string& name, const char* relative = nullptr) {
    InitArcFile(arc_.c_str());
    if (relative != nullptr) SetRelativePath(relative);
    CreateDirectoryArc(name.c_str());
    const uint16_t st = GetArchiveStatus();
    DoneArcFile();
    return st;
  }
};

// Each name=stored: two- and one-letter names gain a separator, a leading
// one is dropped, a long one is cut.
TEST_F(DirectoryEntries, NamesAreStoredOrRefused) {
  std::istringstream stored("DOCS=DOCS AB=AB\\ A=A\\ ABC=ABC NUL=NUL COM1=COM1 \\TOP=TOP " +
                            std::string(259, 'd') + "=" + std::string(255, 'd'));
  for (std::string c; stored >> c;) {
    dir_.Write("arc\\x.ace", before_);
    ASSERT_EQ(Add(c.substr(0, c.find('='))), 0) << c;
    const ParsedArchive p = Parse(Bytes());
    ASSERT_TRUE(p.ok);
    ASSERT_EQ(p.entries.size(), 2u);
    EXPECT_EQ(p.entries[1].name, c.substr(c.find('=') + 1));
    EXPECT_EQ(p.entries[1].attr, 0x10u);
    EXPECT_EQ(TestStatus(arc_), 0);
  }
  dir_.Write("arc\\x.ace", before_);
  std::istringstream refused("ABC\\ A?B A* A:B A\\B A/B A|B CON con.txt aux Prn. " +
                             std::string(260, 'd'));
  for (std::string name; refused >> name;) EXPECT_EQ(Add(name), kBadDirName) << name;
  EXPECT_EQ(Add(""), kBadDirName);
  ExpectUnchanged();
}

TEST_F(DirectoryEntries, AppendsOneHeaderAfterTheOldEntries) {
  const std::string before = Bytes();
  uint32_t earliest = 0;
  platform::CurrentPackedTime(&earliest);
  ASSERT_EQ(Add("DOCS"), 0);
  uint32_t latest = 0;
  platform::CurrentPackedTime(&latest);

  const std::string after = Bytes();
  ASSERT_EQ(after.size(), before.size() + 41);
  EXPECT_TRUE(after.substr(0, before.size()) == before);
  const ParsedArchive p = Parse(after);
  ASSERT_EQ(p.entries.size(), 2u);
  const ParsedEntry& d = p.entries[1];
  EXPECT_EQ(std::make_tuple(d.head_size, d.flags, d.pack, d.orig, d.crc, d.tech_type, d.tech_qual,
                            d.parm),
            std::make_tuple(37u, 1u, 0u, 0u, 0xFFFFFFFFu, 0u, 2u, 6u));
  EXPECT_GE(d.ftime, earliest);
  EXPECT_LE(d.ftime, latest);
  EXPECT_EQ(ListNames(arc_), (std::vector<std::string>{"A.TXT", "DOCS\\"}));
  EXPECT_EQ(dir_.List("arc"), std::vector<std::string>{"x.ace"});
}

TEST_F(DirectoryEntries, ASecondDirectoryOfTheSameNameIsRefusedWhateverItsCase) {
  // A file of that name is no directory and does not count.
  dir_.Write("in\\DOCS", "a file, not a directory");
  ASSERT_EQ(UpdateWith(arc_, dir_.Lib("in"), {"DOCS"}), 0);
  ASSERT_EQ(Add("DOCS"), 0);
  ASSERT_EQ(Add("AB"), 0);
  before_ = Bytes();
  for (const char* again : {"DOCS", "docs", "ab"}) EXPECT_EQ(Add(again), kDirExists) << again;
  ExpectUnchanged();
  EXPECT_EQ(ListNames(arc_), (std::vector<std::string>{"A.TXT", "DOCS", "DOCS\\", "AB\\"}));
}

TEST_F(DirectoryEntries, TheRelativePathGoesInFrontAndIntoTheDuplicateCheck) {
  ASSERT_EQ(Add("DOCS", "SUB"), 0);
  EXPECT_EQ(ListNames(arc_), (std::vector<std::string>{"A.TXT", "SUB\\DOCS\\"}));
  EXPECT_EQ(Add("DOCS", "SUB"), kDirExists);
  EXPECT_EQ(Add("DOCS"), 0);
}

}  // namespace
}  // namespace acekit::testing
