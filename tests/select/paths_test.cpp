#include "select/paths.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "api/status.h"
#include "format/archive_fixture.h"
#include "platform/platform.h"

namespace acekit::testing {
namespace {

TEST(PathText, SeparatorsAndCuts) {
  const struct {
    const char* in;
    const char* added;
    const char* stripped;
  } cases[] = {{"D:\\out", "D:\\out\\", "D:\\out"},
               {"D:\\out\\", "D:\\out\\", "D:\\out"},
               {"", "\\", ""},
               {"D:\\", "D:\\", "D:\\"},
               {"a\\", "a\\", "a\\"}};
  for (const auto& c : cases) {
    char out[kPathSize];
    AddSeparator(c.in, out, sizeof out);
    EXPECT_STREQ(out, c.added) << c.in;
    StripSeparator(c.in, out, sizeof out);
    EXPECT_STREQ(out, c.stripped) << c.in;
  }

  EXPECT_EQ(SeparatorPosition("D:\\a\\b", 1), 2u);
  EXPECT_EQ(SeparatorPosition("D:\\a\\b", 2), 4u);
  EXPECT_EQ(SeparatorPosition("D:\\a\\b", 5), 6u);

  const struct {
    int32_t pos, count;
    const char* out;
  } cuts[] = {{1, 2, "adef"}, {0, 0, "abcdef"}, {6, 1, "abcdef"}, {1, 99, "a"}, {-1, 2, "abcdef"}};
  for (const auto& c : cuts) {
    char text[] = "abcdef";
    CutChars(text, c.pos, c.count);
    EXPECT_STREQ(text, c.out) << c.pos << "," << c.count;
  }

  char small[6];
  AddSeparator("D:\\long", small, sizeof small);
  EXPECT_STREQ(small, "D:\\lo") << "cut at the buffer";
}

TEST(PathText, OutputPath) {
  const struct {
    const char* stored;
    uint16_t options;
    const char* relative;
    const char* out;
  } cases[] = {
      {"docs\\a.txt", kOptKeepPaths, "", "D:\\out\\docs\\a.txt"},
      {"docs\\a.txt", 0, "", "D:\\out\\a.txt"},
      {"\\docs\\a.txt", kOptKeepPaths, "", "D:\\out\\docs\\a.txt"},
      {"docs/a.txt", kOptKeepPaths, "", "D:\\out\\docs\\a.txt"},
      {"docs\\a.txt", kOptKeepPaths, "docs", "D:\\out\\\\a.txt"},
      {"doc", kOptKeepPaths, "docs", "D:\\out\\doc"},
  };
  for (const auto& c : cases) {
    Settings s;
    s.options = c.options;
    CopyText(s.output_path, sizeof s.output_path, "D:\\out\\");
    CopyText(s.relative_path, sizeof s.relative_path, c.relative);
    char out[kPathSize];
    OutputPath(c.stored, s, out, sizeof out);
    EXPECT_STREQ(out, c.out) << c.stored;
  }
}

using PathFiles = ArchiveTest;

TEST_F(PathFiles, MakeDirectoriesLevelByLevel) {
  namespace fs = std::filesystem;
  EXPECT_TRUE(MakeDirectories(Path("x\\y\\z\\").c_str()));
  EXPECT_TRUE(fs::is_directory(dir_ / "x" / "y" / "z"));

  // An existing chain is not touched.
  platform::DisarmFaults();
  EXPECT_TRUE(MakeDirectories(Path("x\\y").c_str()));
  EXPECT_EQ(platform::FaultCalls(platform::Fault::kCreateDir), 0u);

  // The second level to make fails: the first stays, nothing after it is made.
  platform::ArmFault(platform::Fault::kCreateDir, 2);
  EXPECT_FALSE(MakeDirectoryOf(Path("p\\q\\r\\").c_str()));
  EXPECT_TRUE(fs::is_directory(dir_ / "p"));
  EXPECT_FALSE(fs::exists(dir_ / "p" / "q"));
  EXPECT_TRUE(MakeDirectories(""));
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

TEST_F(PathFiles, TemporaryNamesAreFree) {
  char name[kPathSize];
  const std::string archive = Path("a.ace");
  ASSERT_TRUE(MakeBackupName(archive.c_str(), name, sizeof name));
  const std::string backup = name;
  EXPECT_EQ(backup.rfind(Path(""), 0), 0u) << backup;
  EXPECT_EQ(backup.substr(backup.size() - 4), ".$SC");
  WriteFile(backup.substr(Path("").size()), {});
  ASSERT_TRUE(MakeBackupName(archive.c_str(), name, sizeof name));
  EXPECT_NE(backup, name);
  EXPECT_EQ(platform::GetAttributes(name), platform::kNoAttributes);

  char temp[kPathSize];
  ASSERT_TRUE(platform::TempPath(temp, sizeof temp));
  ASSERT_TRUE(MakeWorkDirName(name, sizeof name));
  EXPECT_EQ(std::string(name).rfind(temp, 0), 0u);
  EXPECT_EQ(platform::GetAttributes(name), platform::kNoAttributes);
  EXPECT_FALSE(MakeWorkDirName(name, std::strlen(temp) + 1)) << "does not fit";
}

}  // namespace
}  // namespace acekit::testing
