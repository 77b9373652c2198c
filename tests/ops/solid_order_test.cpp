#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
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
  // Every allocation of the sort, each one failing in turn.
  for (int n = 1; n <= 5; ++n) {
    InputFileList list;
    for (const char* name : {"C.TXT", "B.TXT", "A.TXT"}) {
      ASSERT_EQ(AppendInputFile(list, name, name), kOk);
    }
    platform::DisarmFaults();
    platform::ArmFault(platform::Fault::kAlloc, n);
    SortInputFileList(list);
    platform::DisarmFaults();
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"C.TXT", "B.TXT", "A.TXT"})) << n;
  }
}

// The sort works each name's key out once; it has to give the order the
// pairwise comparison gives, over names of every shape.
TEST(SortInputFileList, AgreesWithThePairwiseOrder) {
  const char* const exts[] = {"",
                              ".exe",
                              ".EXE",
                              ".c",
                              ".H",
                              ".htm",
                              ".html",
                              ".txt",
                              ".ex_",
                              ".pdf",
                              ".gz",
                              ".zip",
                              ".jpg",
                              ".jpeg",
                              ".hlp",
                              ".xyz",
                              ".a.b",
                              ".",
                              ".\xc3\xa9t\xc3\xa9",
                              ".EXE_",
                              ".tar.gz"};
  const char* const bases[] = {"a",
                               "A",
                               "b",
                               "ab",
                               "ab-",
                               "z",
                               "Zeta",
                               "\xc3\xa9"
                               "cole",
                               "dir/a",
                               "dir\\b",
                               "x.y/z",
                               ""};
  std::vector<std::string> names;
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 16; };
  for (int i = 0; i < 600; ++i) {
    std::string name = bases[next() % std::size(bases)];
    if (next() % 7 == 0) name += std::to_string(next() % 5);
    name += exts[next() % std::size(exts)];
    names.push_back(name);
  }
  // The longest paths there are, with and without an extension.
  names.push_back(std::string(kInputPathSize - 1, 'q'));
  names.push_back(std::string(kInputPathSize - 5, 'q') + ".TXT");
  names.push_back(std::string(kInputPathSize - 8, 'r') + ".JPEG");
  std::vector<std::string> expected = names;
  std::stable_sort(expected.begin(), expected.end(),
                   [](const std::string& a, const std::string& b) {
                     return CompareByType(a.c_str(), b.c_str()) < 0;
                   });
  EXPECT_EQ(Sorted(names), expected);
}

}  // namespace
}  // namespace acekit::ops
