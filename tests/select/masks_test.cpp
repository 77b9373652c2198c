#include "select/masks.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "common/status.h"
#include "platform/platform.h"

namespace acekit::testing {
namespace {

// A mask list that releases itself.
struct Masks {
  Masks(std::initializer_list<const char*> masks) {
    select::InitMaskList(&list);
    for (const char* m : masks) select::AppendMask(st, m, &list);
  }
  ~Masks() {
    select::DoneMaskList(&list);
    EXPECT_EQ(list.first, nullptr);
    EXPECT_EQ(list.last, nullptr);
  }
  format::ArcState st;
  FileMaskList list;
};

TEST(MaskList, MatchingRule) {
  for (const auto& [mask, name, matches] : {
           // All files, anywhere.
           std::tuple{"*.*", "A.TXT", true},
           {"*.*", "README", true},
           {"*.*", "DOCS\\A.TXT", true},
           // Other masks stay out of directories; case does not count.
           {"*.TXT", "A.TXT", true},
           {"*.TXT", "a.txt", true},
           {"*.txt", "A.TXT", true},
           {"*.TXT", "DOCS\\A.TXT", false},
           {"*.TXT", "A.TEXT", false},
           // No extension in the mask: none in the name.
           {"*", "README", true},
           {"*", "A.TXT", false},
           {"*", "README.", true},
           // `?` is exactly one character.
           {"A?.TXT", "AB.TXT", true},
           {"A?.TXT", "A.TXT", false},
           {"A?.TXT", "ABC.TXT", false},
           {"*.?", "A.B", true},
           {"*.?", "A.BC", false},
           {"*.?", "A", false},
           // `*` counts only in front, and nothing after it is looked at.
           {"A*.TXT", "AB.TXT", false},
           {"*.T*", "A.TXT", false},
           {"*.T*", "A.T*", true},
           {"*X", "ANYTHING", true},
           // The extension is what follows the last dot.
           {"*.GZ", "A.TAR.GZ", true},
           {"A.TAR.*", "A.TAR.GZ", true},
           {"*.PROFILE", ".PROFILE", true},
           // All files under a directory: any depth, also below other directories.
           {"DOCS\\*.*", "DOCS\\A.TXT", true},
           {"DOCS\\*.*", "DOCS\\SUB\\B.DAT", true},
           {"DOCS\\*.*", "ABCD\\DOCS\\X.DAT", true},
           {"DOCS\\*.*", "XDOCS\\A.TXT", false},
           {"DOCS\\*.*", "A.TXT", false},
           {"\\*.*", "\\A\\B.TXT", true},
           {"\\*.*", "A\\B.TXT", false},
           // Any other mask needs the very directory.
           {"DOCS\\*.TXT", "DOCS\\A.TXT", true},
           {"DOCS\\*.TXT", "DOCS\\SUB\\A.TXT", false},
           {"docs/*.txt", "DOCS\\A.TXT", true},
           {"DOCS\\*.TXT", "docs/a.txt", true},
           {"DOCS\\", "DOCS\\", true},
           {"DOCS\\", "DOCS\\A", false},
       }) {
    Masks m{mask};
    EXPECT_EQ(select::MatchMaskList(name, &m.list), matches) << mask << " vs " << name;
  }
  Masks none{}, two{"*.TXT", "*.DAT"};
  EXPECT_TRUE(select::MatchMaskList("ANY\\NAME.EXT", &none.list));
  EXPECT_TRUE(select::MatchMaskList("B.DAT", &two.list));
  EXPECT_FALSE(select::MatchMaskList("B.BIN", &two.list));
}

TEST(MaskList, AppendSplits) {
  const struct {
    std::string mask;
    const char* dir;
    std::string name;
    const char* ext;
  } cases[] = {{"D:\\a\\b.c.txt", "D:\\a\\", "b.c", "txt"},
               {"x/y/z", "x\\y\\", "z", ""},
               {"*.*", "", "*", "*"},
               {"DOCS\\", "DOCS\\", "", ""},
               {"C:a.b", "C:", "a", "b"}};
  for (const auto& c : cases) {
    Masks m{"first", c.mask.c_str()};
    const FileMask& item = *m.list.last;
    EXPECT_EQ(m.list.first->next, &item);
    EXPECT_EQ(item.next, nullptr);
    EXPECT_STREQ(item.directory, c.dir) << c.mask;
    EXPECT_EQ(std::string(item.name), c.name) << c.mask;
    EXPECT_STREQ(item.extension, c.ext) << c.mask;
  }
}

// A part or a whole that does not fit is refused, never cut into the name
// of another file.
TEST(MaskList, RefusesWhatDoesNotFit) {
  for (const std::string& mask : {std::string(256, 'n') + ".e", "a." + std::string(256, 'e'),
                                  std::string(format::kPathSize, 'd') + "\\a.b"}) {
    Masks m{"FIRST"};
    EXPECT_EQ(select::AppendMask(m.st, mask.c_str(), &m.list), 0);
    EXPECT_EQ(m.st.status, kOpenFailed);
    EXPECT_EQ(m.list.first, m.list.last);
  }
  Masks fits{};
  EXPECT_NE(select::AppendMask(fits.st, (std::string(255, 'n') + ".e").c_str(), &fits.list), 0);
}

TEST(MaskList, OutOfMemoryKeepsTheItemsBefore) {
  for (const uint32_t nth : {1u, 2u}) {
    Masks m{"FIRST"};
    platform::ArmFault(platform::Fault::kAlloc, nth);
    EXPECT_EQ(select::AppendMask(m.st, "SECOND", &m.list), 0);
    platform::DisarmFaults();
    EXPECT_EQ(m.st.status, nth == 1 ? kNoMemory : kOk);  // only a lost directory is reported
    EXPECT_EQ(m.list.first, m.list.last);
  }
}

}  // namespace
}  // namespace acekit::testing
