// Paths as a host hands them over: long ones are used whole or refused,
// never cut into the name of another file, and a posix host's `/` parts are
// parts.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/status.h"
#include "ops/write_host.h"
#include "platform/platform.h"

namespace acekit::testing {
namespace {

using Names = std::vector<std::string>;
namespace fs = std::filesystem;

// Directory levels of up to 40 characters joined by `\`, `length` in all.
std::string Levels(size_t length) {
  std::string s;
  char c = 'a';
  while (length - s.size() > 41) s += std::string(40, c++) + "\\";
  return s + std::string(length - s.size(), c);
}

class LongPaths : public ::testing::TestWithParam<int32_t> {
 protected:
  // A 199-character stored file name and a directory entry of 180, added
  // from `in`, and the archive beside them.
  void Make() {
    dir_.Write("in\\" + file_, TextBytes(5000, 3));
    dir_.MakeDir("in\\" + folder_);
    ASSERT_EQ(CreateWith(arc_, dir_.Lib("in"), {file_, folder_}, {GetParam()}), 0);
    ASSERT_EQ(ListNames(arc_), (Names{file_, folder_ + "\\"}));
  }

  TempDir dir_;
  const std::string arc_ = dir_.Lib("x.ace");
  const std::string file_ = Levels(190) + "\\file.txt";
  const std::string folder_ = Levels(180);
};
ACEKIT_NORMAL_AND_SOLID(LongPaths);

// 170 characters of output path and 199 of stored name make a path past
// what a Windows path holds, and every byte lands under the full name.
TEST_P(LongPaths, ExtractUnderTheFullName) {
  ASSERT_EQ(file_.size(), 199u);
  Make();
  const std::string root = dir_.Lib();
  ASSERT_LT(root.size(), 160u) << "a temporary directory this long leaves no room";
  const std::string out = root + Levels(170 - root.size());
  ASSERT_EQ(out.size(), 170u);
  const uint16_t status = ExtractAll(arc_, out);
  const std::string rel = out.substr(root.size());
#ifdef _WIN32
  EXPECT_EQ(status, kOpenFailed);
  EXPECT_FALSE(dir_.Exists(rel)) << "refused before anything is written";
#else
  ASSERT_EQ(status, 0);
  EXPECT_EQ(dir_.Read(rel + "\\" + file_), TextBytes(5000, 3));
  EXPECT_TRUE(fs::is_directory(dir_.Native(rel + "\\" + folder_)));
  // A solid archive grows through its working directory, with the same names.
  dir_.Write("in\\extra.txt", "extra");
  ASSERT_EQ(UpdateWith(arc_, dir_.Lib("in"), {"extra.txt"}), 0);
  fs::remove_all(dir_.Native(rel));
  ASSERT_EQ(ExtractAll(arc_, out), 0);
  EXPECT_EQ(dir_.Read(rel + "\\" + file_), TextBytes(5000, 3));
  EXPECT_EQ(dir_.Read(rel + "\\extra.txt"), "extra");
#endif
}

// A path past the longest one the system takes is refused with 5 before
// anything is made: no cut name, no directory on the way to it.
TEST_P(LongPaths, RefuseWhatWouldNotFit) {
  Make();
  const std::string root = dir_.Lib();
  if (root.size() + file_.size() + 2 > platform::kMaxPath) GTEST_SKIP() << "no room at all";
  const size_t room = platform::kMaxPath - root.size() - file_.size();
  const std::vector<std::string> outs = {
      root + Levels(room),                                    // one character too many
      root + Levels(platform::kMaxPath - root.size()),        // a name on its own fills it
      root + Levels(platform::kMaxPath + 10 - root.size())};  // too long to be a path
  for (const std::string& out : outs) {
    SCOPED_TRACE(out.size());
    EXPECT_EQ(ExtractAll(arc_, out), kOpenFailed);
    EXPECT_EQ(dir_.List(), (Names{"in", "x.ace"}));
  }
  // One character less fits, on systems whose paths are that long.
  if (root.size() + 30 < room) {
    const std::string out = root + Levels(room - 1);
    ASSERT_EQ(ExtractAll(arc_, out), 0);
    EXPECT_EQ(dir_.Read(out.substr(root.size()) + "\\" + file_), TextBytes(5000, 3));
  }
}

#ifndef _WIN32
// A posix host writes `/` between the parts of every path it hands over, and
// the missing levels of an output path, absolute or relative, are made.
TEST(HostPaths, SlashesAreSeparators) {
  TempDir dir;
  dir.Write("in\\a.txt", TextBytes(900, 1));
  dir.Write("in\\sub\\b.txt", TextBytes(700, 2));
  dir.MakeDir("arc");
  const std::string root = dir.Native().string();
  const std::string arc = root + "/arc/x.ace";
  ASSERT_EQ(Session(
                arc, nullptr,
                [&] {
                  SetInputPath((root + "/in").c_str());
                  SetRelativePath("docs/more");
                  Masks masks({"a.txt", "sub/b.txt"});
                  CompressFileMaskListArc(masks.get());
                },
                true),
            0);
  EXPECT_EQ(ListNames(arc), (Names{"docs\\more\\a.txt", "docs\\more\\sub\\b.txt"}));
  ASSERT_TRUE(dir.Exists("arc\\x.ace"));

  ASSERT_EQ(ExtractAll(arc, root + "/out/new/deeper"), 0);
  EXPECT_EQ(dir.Read("out\\new\\deeper\\docs\\more\\sub\\b.txt"), TextBytes(700, 2));

  const fs::path before = fs::current_path();
  fs::current_path(dir.Native());
  const uint16_t relative = ExtractAll("arc/x.ace", "rel/new/");
  fs::current_path(before);
  ASSERT_EQ(relative, 0);
  EXPECT_EQ(dir.Read("rel\\new\\docs\\more\\a.txt"), TextBytes(900, 1));
}
#endif

}  // namespace
}  // namespace acekit::testing
