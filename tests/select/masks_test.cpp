#include "select/masks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/status.h"
#include "format/archive_fixture.h"
#include "format/entry_list.h"
#include "platform/platform.h"

namespace acekit::testing {
namespace {

// A mask list that releases itself.
struct Masks {
  explicit Masks(std::initializer_list<const char*> masks) {
    InitMaskList(&list);
    for (const char* m : masks) AppendMask(st, m, &list);
  }
  ~Masks() { DoneMaskList(&list); }
  ArcState st;
  FileMaskList list;
};

struct MatchCase {
  const char* mask;
  const char* name;
  bool matches;
};

class MaskRule : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MaskRule, Matches) {
  const MatchCase& c = GetParam();
  Masks m{c.mask};
  EXPECT_EQ(MatchMaskList(c.name, &m.list), c.matches) << c.mask << " vs " << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MaskRule,
    ::testing::Values(
        // All files, anywhere.
        MatchCase{"*.*", "A.TXT", true}, MatchCase{"*.*", "README", true},
        MatchCase{"*.*", "DOCS\\A.TXT", true},
        // Extension masks stay out of directories; case does not count.
        MatchCase{"*.TXT", "A.TXT", true}, MatchCase{"*.TXT", "a.txt", true},
        MatchCase{"*.txt", "A.TXT", true}, MatchCase{"*.TXT", "DOCS\\A.TXT", false},
        MatchCase{"*.TXT", "A.TEXT", false},
        // A mask without extension wants a name without one.
        MatchCase{"*", "README", true}, MatchCase{"*", "A.TXT", false},
        MatchCase{"*", "README.", true},
        // `?` is exactly one character.
        MatchCase{"A?.TXT", "AB.TXT", true}, MatchCase{"A?.TXT", "A.TXT", false},
        MatchCase{"A?.TXT", "ABC.TXT", false}, MatchCase{"?.*", "A.TXT", true},
        MatchCase{"?.*", "AB.TXT", false}, MatchCase{"*.?", "A.B", true},
        MatchCase{"*.?", "A.BC", false}, MatchCase{"*.?", "A", false},
        // `*` counts only in front.
        MatchCase{"A*.TXT", "A*.TXT", true}, MatchCase{"A*.TXT", "AB.TXT", false},
        MatchCase{"*.T*", "A.TXT", false}, MatchCase{"*.T*", "A.T*", true},
        MatchCase{"*X", "ANYTHING", true},
        // The part after the last dot is the extension.
        MatchCase{"*.GZ", "A.TAR.GZ", true}, MatchCase{"A.TAR.*", "A.TAR.GZ", true},
        MatchCase{"*.PROFILE", ".PROFILE", true},
        // All files under a directory, at any depth and below other directories.
        MatchCase{"DOCS\\*.*", "DOCS\\A.TXT", true},
        MatchCase{"DOCS\\*.*", "DOCS\\SUB\\B.DAT", true},
        MatchCase{"DOCS\\*.*", "ABCD\\DOCS\\X.DAT", true},
        MatchCase{"DOCS\\*.*", "XDOCS\\A.TXT", false}, MatchCase{"DOCS\\*.*", "A.TXT", false},
        MatchCase{"\\*.*", "\\A\\B.TXT", true}, MatchCase{"\\*.*", "A\\B.TXT", false},
        MatchCase{"C:\\*.*", "C:\\X\\Y.TXT", true},
        // Other masks need the very directory.
        MatchCase{"DOCS\\*.TXT", "DOCS\\A.TXT", true},
        MatchCase{"DOCS\\*.TXT", "DOCS\\SUB\\A.TXT", false},
        MatchCase{"docs/*.txt", "DOCS\\A.TXT", true}, MatchCase{"DOCS\\*.TXT", "docs/a.txt", true},
        MatchCase{"DOCS\\", "DOCS\\", true}, MatchCase{"DOCS\\", "DOCS\\A", false}));

TEST(MaskList, EmptyListMatchesEverything) {
  Masks none{};
  EXPECT_TRUE(MatchMaskList("ANY\\NAME.EXT", &none.list));
  EXPECT_TRUE(MatchMaskList("", &none.list));
  Masks two{"*.TXT", "*.DAT"};
  EXPECT_TRUE(MatchMaskList("B.DAT", &two.list));
  EXPECT_FALSE(MatchMaskList("B.BIN", &two.list));
}

TEST(MaskList, AppendSplitsAndCuts) {
  const std::string long_name(300, 'n');
  const std::string long_mask = long_name + ".e";
  const struct {
    std::string mask;
    const char* dir;
    std::string name;
    const char* ext;
  } cases[] = {
      {"D:\\a\\b.c.txt", "D:\\a\\", "b.c", "txt"},
      {"x/y/z", "x\\y\\", "z", ""},
      {"*.*", "", "*", "*"},
      {"DOCS\\", "DOCS\\", "", ""},
      {"C:a.b", "C:", "a", "b"},
      {long_mask, "", long_name.substr(0, 255), ""},
  };
  for (const auto& c : cases) {
    Masks m{c.mask.c_str()};
    ASSERT_NE(m.list.first, nullptr) << c.mask;
    EXPECT_EQ(m.list.first, m.list.last);
    EXPECT_STREQ(m.list.first->directory, c.dir) << c.mask;
    EXPECT_EQ(std::string(m.list.first->name), c.name) << c.mask;
    EXPECT_STREQ(m.list.first->extension, c.ext) << c.mask;
    EXPECT_EQ(m.list.first->next, nullptr);
  }
}

TEST(MaskList, OutOfMemory) {
  for (const uint32_t nth : {1u, 2u}) {
    Masks m{"FIRST"};
    platform::ArmFault(platform::Fault::kAlloc, nth);
    EXPECT_EQ(AppendMask(m.st, "SECOND", &m.list), 0);
    platform::DisarmFaults();
    // Only a lost directory text is reported.
    EXPECT_EQ(m.st.status, nth == 1 ? kNoMemory : kOk);
    EXPECT_EQ(m.list.first, m.list.last);
    EXPECT_STREQ(m.list.last->name, "FIRST");
  }
}

TEST(MaskList, DoneEmptiesTheHead) {
  Masks m{"A", "B\\C.D"};
  DoneMaskList(&m.list);
  EXPECT_EQ(m.list.first, nullptr);
  EXPECT_EQ(m.list.last, nullptr);
}

using MaskListing = ArchiveTest;

TEST_F(MaskListing, SelectsEntriesInArchiveOrder) {
  ArcState st;
  Open(Cat({MainHeader(), StoredEntry("a.txt", {}), StoredEntry("DOCS\\B.TXT", {}),
            StoredEntry("C.DAT", {}), StoredEntry("D.TXT", {})}),
       st);
  Masks m{"*.TXT"};
  ListOptions options;
  options.filter = MaskFilter(&m.list);
  ArcFileList list{};
  BuildEntryList(st, &list, options);
  std::vector<std::string> names;
  for (const ArcEntry* e = list.first; e != nullptr; e = e->next) names.emplace_back(e->name);
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "D.TXT"}));
  DoneEntryList(&list);
}

}  // namespace
}  // namespace acekit::testing
