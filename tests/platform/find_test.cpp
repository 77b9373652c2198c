#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/platform.h"
#include "platform/text.h"
#include "test_dir.h"

namespace acekit::platform {
namespace {

class FindTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    for (const char* name : {"a.txt", "b.TXT", "readme", "abc.doc", "abd.txt", "x.tar.gz"}) {
      MakeFile(name, name);
    }
    ASSERT_TRUE(CreateDir(Path("sub").c_str()));
  }

  // Every name reported for the pattern, in order, "." and ".." included.
  std::vector<std::string> List(const std::string& pattern) {
    std::vector<std::string> names;
    FindData fd;
    const FindHandle h = FindFirst(Path(pattern).c_str(), &fd);
    if (h == kBadFind) return names;
    do {
      names.emplace_back(fd.name);
    } while (FindNext(h, &fd));
    FindClose(h);
    return names;
  }

  std::set<std::string> Set(const std::string& pattern) {
    std::set<std::string> out;
    for (const std::string& n : List(pattern)) {
      if (n != "." && n != "..") out.insert(n);
    }
    return out;
  }
};

using Names = std::set<std::string>;

TEST_F(FindTest, WildcardTable) {
  const Names all = {"a.txt", "b.TXT", "readme", "abc.doc", "abd.txt", "x.tar.gz", "sub"};
  EXPECT_EQ(Set("*.*"), all);  // names without a dot too
  EXPECT_EQ(Set("*"), all);
  EXPECT_EQ(Set("*.TXT"), (Names{"a.txt", "b.TXT", "abd.txt"}));
  EXPECT_EQ(Set("ab?.*"), (Names{"abc.doc", "abd.txt"}));
  EXPECT_EQ(Set("?.txt"), (Names{"a.txt", "b.TXT"}));
  EXPECT_EQ(Set("x.*"), (Names{"x.tar.gz"}));
  EXPECT_EQ(Set("*d*"), (Names{"readme", "abc.doc", "abd.txt"}));
  EXPECT_EQ(Set("???"), (Names{"sub"}));
  EXPECT_EQ(Set("readme"), (Names{"readme"}));
}

TEST_F(FindTest, NoMatchFails) {
  FindData fd;
  EXPECT_EQ(FindFirst(Path("nothing*").c_str(), &fd), kBadFind);
  EXPECT_EQ(FindFirst(Path("*.zip").c_str(), &fd), kBadFind);
  EXPECT_EQ(FindFirst(Path("missing.txt").c_str(), &fd), kBadFind);
  EXPECT_EQ(FindFirst(Path("nodir\\*.*").c_str(), &fd), kBadFind);
  EXPECT_EQ(FindFirst(Path("a.txt\\*.*").c_str(), &fd), kBadFind);  // not a directory
  EXPECT_EQ(FindFirst(Path("sub\\").c_str(), &fd), kBadFind);       // a trailing `\` names nothing
  EXPECT_EQ(FindFirst(nullptr, &fd), kBadFind);
  EXPECT_FALSE(FindNext(kBadFind, &fd));
  FindClose(kBadFind);
}

TEST_F(FindTest, DotEntriesOfASubdirectoryComeFirst) {
  const std::vector<std::string> names = List("*.*");
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[0], ".");
  EXPECT_EQ(names[1], "..");
  EXPECT_EQ(std::count(names.begin(), names.end(), "."), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), ".."), 1);
  FindData fd;
  const FindHandle h = FindFirst(Path("sub\\*.*").c_str(), &fd);
  ASSERT_NE(h, kBadFind);
  std::vector<std::string> sub;
  do {
    EXPECT_NE(fd.attributes & kAttrDirectory, 0u) << fd.name;
    sub.emplace_back(fd.name);
  } while (FindNext(h, &fd));
  FindClose(h);
  EXPECT_EQ(sub, (std::vector<std::string>{".", ".."}));
}

TEST_F(FindTest, RecordsOfAFileADirectoryAndAReadOnlyFile) {
  const std::string data(1234, 'z');
  MakeFile("size.bin", data);
  {
    const Handle h = Open(Path("size.bin").c_str(), 'v');
    ASSERT_NE(h, kBadHandle);
    ASSERT_EQ(SetPackedFileTime(h, 0x286373C5u), 0);
    Close(h);
  }
  FindData fd;
  std::memset(&fd, 0x55, sizeof(fd));
  FindHandle h = FindFirst(Path("s*.bin").c_str(), &fd);
  ASSERT_NE(h, kBadFind);
  EXPECT_STREQ(fd.name, "size.bin");
  EXPECT_EQ(fd.size_low, 1234u);
  EXPECT_EQ(fd.size_high, 0u);
  EXPECT_EQ(fd.attributes & (kAttrDirectory | kAttrArchive | kAttrReadOnly), kAttrArchive);
  FindTime expected{};
  ASSERT_TRUE(DosTimeToFileTime(0x286373C5u, &expected));
  EXPECT_EQ(fd.last_write_time.low, expected.low);
  EXPECT_EQ(fd.last_write_time.high, expected.high);
  EXPECT_NE(fd.creation_time.high, 0u);
  EXPECT_NE(fd.last_access_time.high, 0u);
  EXPECT_FALSE(FindNext(h, &fd));
  EXPECT_FALSE(FindNext(h, &fd));
  FindClose(h);

  h = FindFirst(Path("sub").c_str(), &fd);
  ASSERT_NE(h, kBadFind);
  EXPECT_STREQ(fd.name, "sub");
  EXPECT_NE(fd.attributes & kAttrDirectory, 0u);
  EXPECT_FALSE(FindNext(h, &fd));
  FindClose(h);

  ASSERT_EQ(SetAttributes(Path("readme").c_str(), kAttrArchive | kAttrReadOnly), 0);
  h = FindFirst(Path("readme").c_str(), &fd);
  ASSERT_NE(h, kBadFind);
  EXPECT_EQ(fd.attributes & (kAttrDirectory | kAttrReadOnly), kAttrReadOnly);
  EXPECT_EQ(fd.size_low, 6u);
  FindClose(h);
}

TEST_F(FindTest, ListingIsCompleteWithManyEntries) {
  std::set<std::string> made;
  ASSERT_TRUE(CreateDir(Path("many").c_str()));
  for (int i = 0; i < 300; ++i) {
    const std::string name = "many\\f" + std::to_string(i) + ".dat";
    MakeFile(name);
    made.insert("f" + std::to_string(i) + ".dat");
  }
  EXPECT_EQ(Set("many\\*.dat"), made);
}

// The matcher of the posix backend, on every build: the rules of the
// Windows find-first call.
TEST(FindPattern, Table) {
  for (const auto& [pattern, name, match] : {
           std::tuple{"*.*", "readme", true},
           {"*.*", ".", true},
           {"*", "", true},
           {"*.txt", "A.TXT", true},
           {"*.txt", "a.b.txt", true},
           {"*.txt", "a.txt.bak", false},
           {"*.txt", "atxt", false},
           {"*.", "readme", true},
           {"*.", "a.txt", false},
           {"a?c", "abc", true},
           {"a?c", "ac", false},
           {"a?c", "abbc", false},
           {"?.txt", "ab.txt", false},
           // `?` may match nothing before a dot or at the end (Windows does so;
           // Wine does not, so the listing tests above avoid these cases).
           {"file?.txt", "file.txt", true},
           {"??????", "sub", true},
           {"f1??.dat", "f1.dat", true},
           {"abc.?", "abc", true},
           {"abc.?", "abc.d", true},
           {"abc.?", "abc.de", false},
           {"abc.*", "abc", true},
           {"abc.*", "abcd", false},
           {"a*b*c", "axxbyyc", true},
           {"a*b*c", "axxbyy", false},
           {"readme", "README", true},
           {"x*.*", "x", true},
           {"*a", "banana", true},
           {"*ab*ab*ab*c", "abababababababababababab", false},
       }) {
    EXPECT_EQ(text::MatchesPattern(pattern, name), match)
        << "pattern " << pattern << " name " << name;
  }
  EXPECT_TRUE(text::HasWildcards("a*"));
  EXPECT_TRUE(text::HasWildcards("a?"));
  EXPECT_FALSE(text::HasWildcards("a.txt"));
}

}  // namespace
}  // namespace acekit::platform
