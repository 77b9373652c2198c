// The information block and the extra features through the exports.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "common/status.h"
#include "ops/write_host.h"

namespace acekit::testing {
namespace {

using Info = std::array<int32_t, 23>;

class ExtraInfo : public ArchiveTest {
 protected:
  static Info Get() {
    Info info;
    info.fill(0x5A5A5A5A);
    GetExtraInfoArc(info.data());
    return info;
  }
};

TEST_F(ExtraInfo, DescribesTheArchiveAfterOneWalk) {
  Make({"A.TXT", "B.TXT"}, {4, 256, 1});  // 3000 and 2000 bytes
  const ParsedArchive p = Parse(dir_.Read("arc\\x.ace"));
  ASSERT_EQ(p.entries.size(), 2u);
  const int32_t packed = static_cast<int32_t>(p.entries[0].pack + p.entries[1].pack);
  // A recovery header: listed as a record of its own, and reported.
  dir_.Write("arc\\x.ace", dir_.Read("arc\\x.ace") +
                               std::string("\x00\x00\x07\x00\x02\x00\x00\x00\x00\x00\x00", 11));
  InitArcFile(arc_.c_str());
  const Info want = {11, 1, 0, 256, 0, 1, 0, 1, 1, 3, packed, 5000, packed * 100 / 5000};
  EXPECT_EQ(Get(), want);
  EXPECT_EQ(GetArchiveStatus(), 0);
  // The second call does not walk again.
  std::filesystem::remove(dir_.Native("arc\\x.ace"));
  EXPECT_EQ(Get(), want);
  EXPECT_EQ(GetArchiveStatus(), 0);
  DoneArcFile();
}

TEST_F(ExtraInfo, ReportsFileCommentsTheHostNeverAskedFor) {
  Make({"A.TXT", "B.TXT"});
  ASSERT_EQ(SetFileComments(arc_, {"B.TXT"}, "remark"), 0);
  InitArcFile(arc_.c_str());
  EXPECT_EQ(Get()[4], 2);
  DoneArcFile();
  ASSERT_EQ(SetMain(arc_, "main"), 0);
  InitArcFile(arc_.c_str());
  EXPECT_EQ(Get()[4], 3);
  // The walk switched comment reading on for the host's lists too.
  EXPECT_EQ(Listed(), (Listing{{"A.TXT", ""}, {"B.TXT", "remark"}}));
  DoneArcFile();
}

TEST_F(ExtraInfo, AVanishedArchiveLeavesTheBufferAlone) {
  Make({"A.TXT"});
  InitArcFile(arc_.c_str());
  std::filesystem::remove(dir_.Native("arc\\x.ace"));
  Info untouched;
  untouched.fill(0x5A5A5A5A);
  EXPECT_EQ(Get(), untouched);
  EXPECT_EQ(GetArchiveStatus(), kOpenFailed);
  DoneArcFile();
}

TEST_F(ExtraInfo, AHostListBuiltOnRequestFillsTheBlock) {
  Make({"A.TXT"});
  InitArcFile(arc_.c_str());
  int32_t features[12] = {7, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 42};
  const auto* copy = static_cast<const int32_t*>(SetExtraFeaturesArc(features));
  ASSERT_NE(copy, features);
  EXPECT_EQ(copy[0], 7);
  EXPECT_EQ(copy[11], 42);
  EXPECT_EQ(Listed().size(), 1u);
  std::filesystem::remove(dir_.Native("arc\\x.ace"));
  EXPECT_EQ(Get()[9], 1);
  EXPECT_EQ(GetArchiveStatus(), 0);
  DoneArcFile();
}

}  // namespace
}  // namespace acekit::testing
