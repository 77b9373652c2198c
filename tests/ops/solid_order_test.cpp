#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ops/input_list.h"
#include "platform/platform.h"

namespace acekit::ops {
namespace {

std::vector<std::string> Paths(const InputFileList& list) {
  std::vector<std::string> out;
  for (const InputFile* e = list.first; e != nullptr; e = e->next) out.emplace_back(e->path);
  return out;
}

std::vector<std::string> Sorted(const std::vector<std::string>& names) {
  InputFileList list;
  for (const auto& n : names) EXPECT_EQ(AppendInputFile(list, n, "stored"), kOk);
  SortInputFileList(list);
  EXPECT_EQ(list.count, static_cast<int32_t>(names.size()));
  auto out = Paths(list);
  if (!out.empty()) {
    EXPECT_EQ(out.back(), std::string(list.last->path));
  }
  return out;
}

struct KeyCase {
  const char* ext;
  const char* key;
};

class GroupKeyTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(GroupKeyTest, MapsExtensionToItsFamilyPlace) {
  char key[64];
  GroupKey(GetParam().ext, key, sizeof key);
  EXPECT_STREQ(key, GetParam().key);
}

INSTANTIATE_TEST_SUITE_P(Families, GroupKeyTest,
                         ::testing::Values(KeyCase{".TPU", ".2"}, KeyCase{".EXE", ".2222222"},
                                           KeyCase{".BIN", ".2222222222222222222"},
                                           KeyCase{".TXT", ".31"}, KeyCase{".C", ".3111111111"},
                                           KeyCase{".HTM", ".3111111111111111111111"},
                                           KeyCase{".HTML", ".3111111111111111111111"},
                                           KeyCase{".WRI", ".31111111111111111111111"},
                                           KeyCase{".ICO", ".311111111111111111111111111"},
                                           KeyCase{".EX_", ".ZZZ1"}, KeyCase{".PDF", ".ZZZ2"},
                                           KeyCase{".TIF", ".ZZZ7"}, KeyCase{".LZH", ".ZZZZ1"},
                                           KeyCase{".ACE", ".ZZZZ9"}, KeyCase{".LHX", ".ZZZZZ1"},
                                           KeyCase{".JPEG", ".ZZZZZ3"}, KeyCase{".HLP", "ZZ.HLP"},
                                           KeyCase{".XYZ", "Z.XYZ"}, KeyCase{"", "Z"},
                                           // Not four characters, so not the '_' family.
                                           KeyCase{".E_", "Z.E_"}, KeyCase{".EXE_", "Z.EXE_"}));

struct OrderCase {
  const char* what;
  std::vector<std::string> in;
  std::vector<std::string> out;
};

class SortTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(SortTest, Orders) {
  EXPECT_EQ(Sorted(GetParam().in), GetParam().out) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, SortTest,
    ::testing::Values(
        OrderCase{"programs, then text, then images",
                  {"README.TXT", "SETUP.EXE", "LOGO.JPG"},
                  {"SETUP.EXE", "README.TXT", "LOGO.JPG"}},
        OrderCase{"two are never reordered", {"LOGO.JPG", "SETUP.EXE"}, {"LOGO.JPG", "SETUP.EXE"}},
        OrderCase{"shared key, then base name",
                  {"B.HTML", "A.HTM", "C.EXE"},
                  {"C.EXE", "A.HTM", "B.HTML"}},
        OrderCase{"hyphen sorts before the key's dot",
                  {"AB.C", "AB-.C", "X.EXE"},
                  {"X.EXE", "AB-.C", "AB.C"}},
        OrderCase{"case is ignored", {"b.txt", "A.TXT", "c.exe"}, {"c.exe", "A.TXT", "b.txt"}},
        OrderCase{"directory takes no part",
                  {"z\\B.TXT", "a\\C.TXT", "y\\A.TXT"},
                  {"y\\A.TXT", "z\\B.TXT", "a\\C.TXT"}},
        OrderCase{"group order across all families",
                  {"H.HLP", "O.XYZ", "N", "I.JPG", "Z.ZIP", "P.PDF", "T.TXT", "E.EXE"},
                  {"E.EXE", "T.TXT", "P.PDF", "Z.ZIP", "I.JPG", "N", "O.XYZ", "H.HLP"}},
        OrderCase{
            "other extensions by extension", {"A.ZZ", "B.AA", "C.MM"}, {"B.AA", "C.MM", "A.ZZ"}},
        // Names without an extension compare equal; they keep collection order.
        OrderCase{"equal names stay in collection order",
                  {"ZETA", "ALPHA", "MIDDLE", "A.EXE"},
                  {"A.EXE", "ZETA", "ALPHA", "MIDDLE"}}));

TEST(InputFileList, SortWithoutMemoryKeepsCollectionOrder) {
  InputFileList list;
  for (const char* n : {"C.TXT", "B.TXT", "A.TXT"}) ASSERT_EQ(AppendInputFile(list, n, n), kOk);
  platform::DisarmFaults();
  platform::ArmFault(platform::Fault::kAlloc, 1);
  SortInputFileList(list);
  platform::DisarmFaults();
  EXPECT_EQ(Paths(list), (std::vector<std::string>{"C.TXT", "B.TXT", "A.TXT"}));
}

}  // namespace
}  // namespace acekit::ops
