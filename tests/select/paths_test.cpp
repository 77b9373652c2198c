#include "select/paths.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>

#include "common/status.h"
#include "format/archive_fixture.h"

namespace acekit::testing {
namespace {

TEST(PathText, SeparatorsAndCuts) {
  for (const auto& [in, added, stripped] : {std::tuple{"D:\\out", "D:\\out\\", "D:\\out"},
                                            {"D:\\out\\", "D:\\out\\", "D:\\out"},
                                            {"", "\\", ""},
                                            {"D:\\", "D:\\", "D:\\"},
                                            {"a\\", "a\\", "a\\"}}) {
    char out[kPathSize];
    AddSeparator(in, out, sizeof out);
    EXPECT_STREQ(out, added) << in;
    StripSeparator(in, out, sizeof out);
    EXPECT_STREQ(out, stripped) << in;
  }
  char text[] = "abcdef";
  CutChars(text, 1, 99);  // a count past the end stops there
  EXPECT_STREQ(text, "a");
}

TEST(PathText, OutputPath) {
  for (const auto& [stored, options, relative, out] :
       {std::tuple{"docs\\a.txt", kOptKeepPaths, "", "D:\\out\\docs\\a.txt"},
        {"docs\\a.txt", uint16_t{0}, "", "D:\\out\\a.txt"},
        {"\\docs\\a.txt", kOptKeepPaths, "", "D:\\out\\docs\\a.txt"},
        {"docs/a.txt", kOptKeepPaths, "", "D:\\out\\docs\\a.txt"},
        {"docs\\a.txt", kOptKeepPaths, "docs", "D:\\out\\\\a.txt"},
        {"doc", kOptKeepPaths, "docs", "D:\\out\\doc"}}) {
    Settings s;
    s.options = options;
    CopyText(s.output_path, sizeof s.output_path, "D:\\out\\");
    CopyText(s.relative_path, sizeof s.relative_path, relative);
    char path[kPathSize];
    OutputPath(stored, s, path, sizeof path);
    EXPECT_STREQ(path, out) << stored;
  }
}

// A path is never cut into the name of another file: what does not fit is
// refused and leaves the destination empty.
TEST(PathText, PathsThatDoNotFitAreRefused) {
  Settings s;
  s.options = kOptKeepPaths;
  const std::string out = std::string(kPathSize - 10, 'o') + "\\";
  CopyText(s.output_path, sizeof s.output_path, out);
  char path[kPathSize];
  EXPECT_TRUE(OutputPath("d\\345678", s, path, sizeof path));
  EXPECT_EQ(path, out + "d\\345678");
  EXPECT_FALSE(OutputPath("d\\3456789", s, path, sizeof path));
  EXPECT_STREQ(path, "");
  CopyText(s.output_path, sizeof s.output_path, std::string(kPathSize, 'o'));
  EXPECT_FALSE(OutputPath("a", s, path, sizeof path)) << "an output path too long to be one";

  char small[6];
  EXPECT_FALSE(AddSeparator("D:\\lo", small, sizeof small));
  EXPECT_STREQ(small, "");
  EXPECT_TRUE(AddSeparator("D:\\l", small, sizeof small));
  EXPECT_FALSE(StripSeparator("D:\\long\\", small, sizeof small));
  EXPECT_STREQ(small, "");
}

using PathFiles = ArchiveTest;

// A relative path gets its first level made too, not only the ones after.
TEST_F(PathFiles, MakeDirectoriesOfARelativePath) {
  namespace fs = std::filesystem;
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  const bool made = MakeDirectories("rel\\deeper\\\\deepest\\");
  const bool file = MakeDirectoryOf("top\\");
  fs::current_path(before);
  EXPECT_TRUE(made);
  EXPECT_TRUE(fs::is_directory(dir_ / "rel" / "deeper" / "deepest"));
  EXPECT_TRUE(file);
  EXPECT_TRUE(fs::is_directory(dir_ / "top"));
}

TEST_F(PathFiles, MakeDirectoriesLevelByLevel) {
  namespace fs = std::filesystem;
  EXPECT_TRUE(MakeDirectories(Path("x\\y\\z\\").c_str()));
  EXPECT_TRUE(fs::is_directory(dir_ / "x" / "y" / "z"));
  platform::DisarmFaults();
  EXPECT_TRUE(MakeDirectories(Path("x\\y").c_str()));
  EXPECT_EQ(platform::FaultCalls(platform::Fault::kCreateDir), 0u) << "existing chain untouched";

  platform::ArmFault(platform::Fault::kCreateDir, 2);
  EXPECT_FALSE(MakeDirectoryOf(Path("p\\q\\r\\").c_str()));
  EXPECT_TRUE(fs::is_directory(dir_ / "p")) << "levels before the failure stay";
  EXPECT_FALSE(fs::exists(dir_ / "p" / "q"));
}

// A posix host hands over paths with `/`; every missing level is made,
// the first one included.
TEST_F(PathFiles, MakeDirectoriesTakesEitherSeparator) {
  namespace fs = std::filesystem;
  const std::string native = (dir_ / "m").string() + "/n\\o/";
  EXPECT_TRUE(MakeDirectories(native.c_str()));
  EXPECT_TRUE(fs::is_directory(dir_ / "m" / "n" / "o"));
}

}  // namespace
}  // namespace acekit::testing
