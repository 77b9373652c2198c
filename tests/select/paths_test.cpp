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
  char small[6];
  AddSeparator("D:\\long", small, sizeof small);
  EXPECT_STREQ(small, "D:\\lo");
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

using PathFiles = ArchiveTest;

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

TEST_F(PathFiles, CreateOutputFile) {
  ArcState st;
  platform::Handle h = platform::kBadHandle;
  ASSERT_TRUE(CreateOutputFile(st, Path("new\\sub\\f.bin").c_str(), &h));
  EXPECT_EQ(platform::Close(h), 1);
  EXPECT_TRUE(std::filesystem::is_regular_file(dir_ / "new" / "sub" / "f.bin"));
  for (const platform::Fault fault : {platform::Fault::kCreateDir, platform::Fault::kOpen}) {
    st.status = kOk;
    platform::ArmFault(fault, 1);
    EXPECT_FALSE(CreateOutputFile(st, Path("other\\f.bin").c_str(), &h));
    EXPECT_EQ(st.status, kOpenFailed);
    platform::DisarmFaults();
  }
}

}  // namespace
}  // namespace acekit::testing
