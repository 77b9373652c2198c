#include "ops/entry_list.h"

#include <gtest/gtest.h>

#include "ops/extract_fixture.h"
#include "select/masks.h"

namespace acekit::extract_test {
namespace {

struct ListCase {
  const char* mask;  // null: no mask list
  int32_t ask_info;  // word 2 of the extra features
  ops::ArcInfoRequest request;
  std::vector<std::string> names;  // "" stands for the recovery header
  bool info;
};

class EntryList : public ExtractTest, public ::testing::WithParamInterface<ListCase> {};

TEST_P(EntryList, SelectsByMaskAndComputesInformationOnlyWhenAsked) {
  const ListCase& c = GetParam();
  std::string bytes =
      BuildArchive({{"a.txt", "a"}, {"b.dat", "b"}, {"docs\\c.txt", "c"}, Dir("docs")}, false);
  bytes += std::string("\x00\x00\x07\x00\x02\x00\x00\x00\x00\x00\x00", 11);
  Open(bytes);
  features_[2] = c.ask_info;
  FileMaskList masks{};
  if (c.mask != nullptr) AppendMask(arc_, c.mask, &masks);
  ArcFileList list{};
  ops::BuildArchiveList(Ctx(), &list, c.mask ? &masks : nullptr, c.request);
  EXPECT_EQ(arc_.status, kOk);
  std::vector<std::string> names;
  for (const ArcEntry* e = list.first; e != nullptr; e = e->next) names.emplace_back(e->name);
  EXPECT_EQ(names, c.names);
  EXPECT_EQ(list.count, static_cast<int32_t>(c.names.size()));
  EXPECT_EQ(arc_.info_valid != 0, c.info);
  EXPECT_EQ(arc_info_[9], c.info ? list.count : 0);
  DoneEntryList(&list);
  DoneMaskList(&masks);
}

using enum ops::ArcInfoRequest;
INSTANTIATE_TEST_SUITE_P(
    Lists, EntryList,
    ::testing::Values(
        ListCase{nullptr, 0, kIfAsked, {"a.txt", "b.dat", "docs\\c.txt", "docs\\", ""}, false},
        ListCase{"*.TXT", 0, kIfAsked, {"a.txt", ""}, false},
        ListCase{"docs\\*.*", 1, kIfAsked, {"docs\\c.txt", "docs\\", ""}, true},
        ListCase{"*.*", 1, kNever, {"a.txt", "b.dat", "docs\\c.txt", "docs\\", ""}, false}));

}  // namespace
}  // namespace acekit::extract_test
