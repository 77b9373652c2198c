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
    char out[format::kPathSize];
    select::AddSeparator(in, out, sizeof out);
    EXPECT_STREQ(out, added) << in;
    select::StripSeparator(in, out, sizeof out);
    EXPECT_STREQ(out, stripped) << in;
  }
  char text[] = "abcdef";
  select::CutChars(text, 1, 99);  // a count past the end stops there
  EXPECT_STREQ(text, "a");
}

TEST(PathText, OutputPath) {
  for (const auto& [stored, options, relative, out] :
       {std::tuple{"docs\\a.txt", format::kOptKeepPaths, "", "D:\\out\\docs\\a.txt"},
        {"docs\\a.txt", uint16_t{0}, "", "D:\\out\\a.txt"},
        {"\\docs\\a.txt", format::kOptKeepPaths, "", "D:\\out\\docs\\a.txt"},
        {"docs/a.txt", format::kOptKeepPaths, "", "D:\\out\\docs\\a.txt"},
        {"docs\\a.txt", format::kOptKeepPaths, "docs", "D:\\out\\\\a.txt"},
        {"doc", format::kOptKeepPaths, "docs", "D:\\out\\doc"}}) {
    format::Settings s;
    s.options = options;
    format::CopyText(s.output_path, sizeof s.output_path, "D:\\out\\");
    format::CopyText(s.relative_path, sizeof s.relative_path, relative);
    char path[format::kPathSize];
    select::OutputPath(stored, s, path, sizeof path);
    EXPECT_STREQ(path, out) << stored;
  }
}

// A path is never cut into the name of another file: what does not fit is
// refused and leaves the destination empty.
TEST(PathText, PathsThatDoNotFitAreRefused) {
  format::Settings s;
  s.options = format::kOptKeepPaths;
  const std::string out = std::string(format::kPathSize - 10, 'o') + "\\";
  format::CopyText(s.output_path, sizeof s.output_path, out);
  char path[format::kPathSize];
  EXPECT_TRUE(select::OutputPath("d\\345678", s, path, sizeof path));
  EXPECT_EQ(path, out + "d\\345678");
  EXPECT_FALSE(select::OutputPath("d\\3456789", s, path, sizeof path));
  EXPECT_STREQ(path, "");
  format::CopyText(s.output_path, sizeof s.output_path, std::string(format::kPathSize, 'o'));
  EXPECT_FALSE(select::OutputPath("a", s, path, sizeof path))
      << "an output path too long to be one";

  char small[6];
  EXPECT_FALSE(select::AddSeparator("D:\\lo", small, sizeof small));
  EXPECT_STREQ(small, "");
  EXPECT_TRUE(select::AddSeparator("D:\\l", small, sizeof small));
  EXPECT_FALSE(select::StripSeparator("D:\\long\\", small, sizeof small));
  EXPECT_STREQ(small, "");
}

using PathFiles = ArchiveTest;

// A relative path gets its first level made too, not only the ones after.
TEST_F(PathFiles, MakeDirectoriesOfARelativePath) {
  namespace fs = std::filesystem;
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  const bool made = select::MakeDirectories("rel\\deeper\\\\deepest\\");
  const bool file = select::MakeDirectoryOf("top\\");
  fs::current_path(before);
  EXPECT_TRUE(made);
  EXPECT_TRUE(fs::is_directory(dir_ / "rel" / "deeper" / "deepest"));
  EXPECT_TRUE(file);
  EXPECT_TRUE(fs::is_directory(dir_ / "top"));
}

TEST_F(PathFiles, MakeDirectoriesLevelByLevel) {
  namespace fs = std::filesystem;
  EXPECT_TRUE(select::MakeDirectories(Path("x\\y\\z\\").c_str()));
  EXPECT_TRUE(fs::is_directory(dir_ / "x" / "y" / "z"));
  platform::DisarmFaults();
  EXPECT_TRUE(select::MakeDirectories(Path("x\\y").c_str()));
  EXPECT_EQ(platform::FaultCalls(platform::Fault::kCreateDir), 0u) << "existing chain untouched";

  platform::ArmFault(platform::Fault::kCreateDir, 2);
  EXPECT_FALSE(select::MakeDirectoryOf(Path("p\\q\\r\\").c_str()));
  EXPECT_TRUE(fs::is_directory(dir_ / "p")) << "levels before the failure stay";
  EXPECT_FALSE(fs::exists(dir_ / "p" / "q"));
}

// A posix host hands over paths with `/`; every missing level is made,
// the first one included.
TEST_F(PathFiles, MakeDirectoriesTakesEitherSeparator) {
  namespace fs = std::filesystem;
  const std::string native = (dir_ / "m").string() + "/n\\o/";
  EXPECT_TRUE(select::MakeDirectories(native.c_str()));
  EXPECT_TRUE(fs::is_directory(dir_ / "m" / "n" / "o"));
}

}  // namespace
}  // namespace acekit::testing
