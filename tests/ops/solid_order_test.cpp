#include <gtest/gtest.h>

#include <sstream>
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

TEST(GroupKey, MapsExtensionToItsFamilyPlace) {
  // Each extension=key; .E_ and .EXE_ are not four characters, so not of
  // the '_' family.
  std::istringstream cases(
      ".TPU=.2 .EXE=.2222222 .BIN=.2222222222222222222 .TXT=.31 .C=.3111111111 "
      ".HTM=.3111111111111111111111 .HTML=.3111111111111111111111 .WRI=.31111111111111111111111 "
      ".ICO=.311111111111111111111111111 .EX_=.ZZZ1 .PDF=.ZZZ2 .TIF=.ZZZ7 .LZH=.ZZZZ1 .ACE=.ZZZZ9 "
      ".LHX=.ZZZZZ1 .JPEG=.ZZZZZ3 .HLP=ZZ.HLP .XYZ=Z.XYZ =Z .E_=Z.E_ .EXE_=Z.EXE_");
  for (std::string c; cases >> c;) {
    const size_t eq = c.find('=');
    char key[64];
    GroupKey(c.substr(0, eq).c_str(), key, sizeof key);
    EXPECT_EQ(key, c.substr(eq + 1)) << c;
  }
}

TEST(SortInputFileList, OrdersByFamilyThenName) {
  using Names = std::vector<std::string>;
  const std::pair<Names, Names> cases[] = {
      {{"LOGO.JPG", "SETUP.EXE"}, {"LOGO.JPG", "SETUP.EXE"}},        // two are never reordered
      {{"B.HTML", "A.HTM", "C.EXE"}, {"C.EXE", "A.HTM", "B.HTML"}},  // shared key, then base name
      {{"AB.C", "AB-.C", "X.EXE"}, {"X.EXE", "AB-.C", "AB.C"}},      // '-' before the key's dot
      {{"b.txt", "A.TXT", "c.exe"}, {"c.exe", "A.TXT", "b.txt"}},
      {{"z\\B.TXT", "a\\C.TXT", "y\\A.TXT"}, {"y\\A.TXT", "z\\B.TXT", "a\\C.TXT"}},
      {{"H.HLP", "O.XYZ", "N", "I.JPG", "Z.ZIP", "P.PDF", "T.TXT", "E.EXE"},
       {"E.EXE", "T.TXT", "P.PDF", "Z.ZIP", "I.JPG", "N", "O.XYZ", "H.HLP"}},
      {{"A.ZZ", "B.AA", "C.MM"}, {"B.AA", "C.MM", "A.ZZ"}},  // other extensions by extension
      // Names without an extension compare equal; they keep collection order.
      {{"ZETA", "ALPHA", "MIDDLE", "A.EXE"}, {"A.EXE", "ZETA", "ALPHA", "MIDDLE"}}};
  for (const auto& [in, out] : cases) EXPECT_EQ(Sorted(in), out);
}

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
