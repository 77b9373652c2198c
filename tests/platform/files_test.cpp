#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_dir.h"

namespace acekit::platform {
namespace {

namespace fs = std::filesystem;
using FilesTest = testing::TempDirTest;

TEST_F(FilesTest, UnknownModesAndNullNamesFailAndCreateNothing) {
  MakeFile("keep.txt", "content");
  for (char mode : {'x', 'a', 'R', 'W', 'B', 'V', '+', '\0'}) {
    const std::string name = Path("unknown.bin");
    EXPECT_EQ(Open(name.c_str(), mode), kBadHandle) << "mode " << static_cast<int>(mode);
    EXPECT_FALSE(tmp_.Exists("unknown.bin"));
    EXPECT_EQ(Open(Path("keep.txt").c_str(), mode), kBadHandle);
  }
  EXPECT_EQ(ReadAll("keep.txt"), "content");
  EXPECT_EQ(Open(nullptr, 'r'), kBadHandle);
  EXPECT_EQ(GetAttributes(nullptr), kNoAttributes);
  EXPECT_FALSE(Delete(nullptr));
  EXPECT_FALSE(Move(nullptr, nullptr));
  EXPECT_FALSE(CreateDir(nullptr));
}

// Each mode on a missing name, on a directory, and on an existing file of
// "abcdef": its handle writes "XY" at the start, then reads from offset 1.
TEST_F(FilesTest, EachModeCreatesTruncatesReadsAndWritesAsItShould) {
  ASSERT_TRUE(CreateDir(Path("d").c_str()));
  const struct {
    char mode;
    bool creates;
    int32_t size;  // on opening the existing file
    bool writes;
    const char* reads;  // null: reading fails
    const char* after;
  } cases[] = {{'r', false, 6, false, "bcdef", "abcdef"},
               {'w', true, 0, true, nullptr, "XY"},
               {'v', false, 6, true, nullptr, "XYcdef"},
               {'b', true, 0, true, "Y", "XY"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const std::string missing = Path(std::string("missing_") + c.mode);
    const Handle m = Open(missing.c_str(), c.mode);
    EXPECT_EQ(m != kBadHandle, c.creates);
    Close(m);
    EXPECT_EQ(IsExistingFile(missing.c_str()), c.creates);
    EXPECT_EQ(Open(Path("d").c_str(), c.mode), kBadHandle);
    EXPECT_TRUE(IsExistingDirectory(Path("d").c_str()));

    MakeFile("f.bin", "abcdef");
    const Handle h = Open(Path("f.bin").c_str(), c.mode);
    ASSERT_NE(h, kBadHandle);
    EXPECT_EQ(Size(h), c.size);
    EXPECT_EQ(Write("XY", 2, h), c.writes ? 2 : -1);
    EXPECT_EQ(Seek(h, 1, 0), 1);
    char buf[8] = {};
    const int32_t n = Read(buf, sizeof buf, h);
    EXPECT_EQ(n, c.reads ? static_cast<int32_t>(std::strlen(c.reads)) : -1);
    EXPECT_STREQ(buf, c.reads ? c.reads : "");
    EXPECT_EQ(Close(h), 1);
    EXPECT_EQ(ReadAll("f.bin"), c.after);
  }
}

TEST_F(FilesTest, SeekTellSizeAndTheEnd) {
  std::string data(100, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i);
  MakeFile("s.bin", data);
  const Handle h = Open(Path("s.bin").c_str(), 'r');
  ASSERT_NE(h, kBadHandle);
  EXPECT_EQ(Size(h), 100);
  EXPECT_EQ(Tell(h), 0);
  EXPECT_EQ(Seek(h, 10, 0), 10);
  EXPECT_EQ(Tell(h), 10);
  EXPECT_EQ(Seek(h, -3, 1), 7);
  char c = 0;
  EXPECT_EQ(Read(&c, 1, h), 1);
  EXPECT_EQ(c, 7);
  EXPECT_EQ(Tell(h), 8);
  EXPECT_EQ(Seek(h, -10, 2), 90);
  char buf[16];
  EXPECT_EQ(Read(buf, sizeof(buf), h), 10);
  EXPECT_EQ(buf[0], 90);
  EXPECT_EQ(Read(buf, sizeof(buf), h), 0);  // at the end
  EXPECT_EQ(Seek(h, 50, 2), 150);           // past the end is allowed; the size stays
  EXPECT_EQ(Size(h), 100);
  EXPECT_EQ(Read(buf, sizeof(buf), h), 0);
  EXPECT_EQ(Seek(h, -1, 0), -1);  // before the start
  EXPECT_EQ(Seek(h, 0, 3), -1);   // no such origin
  EXPECT_EQ(Seek(h, 0, -1), -1);
  Close(h);
}

TEST_F(FilesTest, BadHandles) {
  char c;
  EXPECT_EQ(Close(kBadHandle), 0);
  EXPECT_EQ(Read(&c, 1, kBadHandle), -1);
  EXPECT_EQ(Write(&c, 1, kBadHandle), -1);
  EXPECT_EQ(Seek(kBadHandle, 0, 0), -1);
  EXPECT_EQ(Tell(kBadHandle), -1);
  EXPECT_EQ(Size(kBadHandle), -1);
  EXPECT_FALSE(Truncate(kBadHandle));
}

TEST_F(FilesTest, TruncateCutsAtThePosition) {
  const Handle h = Open(Path("t.bin").c_str(), 'w');
  ASSERT_NE(h, kBadHandle);
  const std::string data(100, 'a');
  ASSERT_EQ(Write(data.data(), 100, h), 100);
  EXPECT_EQ(Seek(h, 40, 0), 40);
  EXPECT_TRUE(Truncate(h));
  EXPECT_EQ(Size(h), 40);
  EXPECT_EQ(Tell(h), 40);
  EXPECT_EQ(Write("b", 1, h), 1);
  Close(h);
  EXPECT_EQ(ReadAll("t.bin"), std::string(40, 'a') + "b");
}

TEST_F(FilesTest, ReadOnlyFileCannotBeDeletedOrRewrittenUntilMadeReplaceable) {
  MakeFile("ro.txt", "keep");
  const std::string name = Path("ro.txt");
  ASSERT_EQ(SetAttributes(name.c_str(), kAttrArchive), 0);
  EXPECT_EQ(GetAttributes(name.c_str()) & (kAttrReadOnly | kAttrArchive | kAttrDirectory),
            kAttrArchive);
  ASSERT_EQ(SetAttributes(name.c_str(), kAttrArchive | kAttrReadOnly), 0);
  EXPECT_EQ(GetAttributes(name.c_str()) & (kAttrReadOnly | kAttrArchive | kAttrDirectory),
            kAttrReadOnly | kAttrArchive);
  if (testing::SystemEnforcesWindowsRights()) {
    for (char mode : {'w', 'v', 'b'}) {
      const Handle h = Open(Path("ro.txt").c_str(), mode);
      EXPECT_EQ(h, kBadHandle) << mode;
      if (h != kBadHandle) Close(h);
    }
    EXPECT_FALSE(Delete(Path("ro.txt").c_str()));
    EXPECT_EQ(ReadAll("ro.txt"), "keep");
  }
  MakeReplaceable(Path("ro.txt").c_str());
  EXPECT_EQ(GetAttributes(Path("ro.txt").c_str()) & kAttrReadOnly, 0u);
  const Handle h = Open(Path("ro.txt").c_str(), 'w');
  EXPECT_NE(h, kBadHandle);
  Close(h);
  EXPECT_TRUE(Delete(Path("ro.txt").c_str()));
}

TEST_F(FilesTest, MoveRenamesAndFailsOntoAnExistingTarget) {
  MakeFile("a.txt", "A");
  EXPECT_TRUE(Move(Path("a.txt").c_str(), Path("b.txt").c_str()));
  EXPECT_FALSE(IsExistingFile(Path("a.txt").c_str()));
  EXPECT_EQ(ReadAll("b.txt"), "A");

  MakeFile("c.txt", "C");
  EXPECT_FALSE(Move(Path("b.txt").c_str(), Path("c.txt").c_str()));
  EXPECT_EQ(ReadAll("b.txt"), "A");
  EXPECT_EQ(ReadAll("c.txt"), "C");

  EXPECT_FALSE(Move(Path("missing.txt").c_str(), Path("x.txt").c_str()));

  ASSERT_TRUE(CreateDir(Path("d1").c_str()));
  EXPECT_FALSE(Move(Path("b.txt").c_str(), Path("d1").c_str()));  // a directory is a target too
  EXPECT_TRUE(Move(Path("d1").c_str(), Path("d2").c_str()));
  EXPECT_TRUE(Move(Path("b.txt").c_str(), Path("d2\\b.txt").c_str()));
  EXPECT_EQ(ReadAll("d2\\b.txt"), "A");
}

TEST_F(FilesTest, AttributesOfFilesDirectoriesAndMissingNames) {
  MakeFile("f.txt");
  ASSERT_TRUE(CreateDir(Path("d").c_str()));
  const uint32_t file = GetAttributes(Path("f.txt").c_str());
  const uint32_t dir = GetAttributes(Path("d").c_str());
  EXPECT_EQ(file & (kAttrDirectory | kAttrReadOnly | kAttrArchive), kAttrArchive);
  EXPECT_EQ(dir & (kAttrDirectory | kAttrReadOnly), kAttrDirectory);
  EXPECT_EQ(GetAttributes(Path("missing").c_str()), kNoAttributes);
  EXPECT_NE(SetAttributes(Path("missing").c_str(), kAttrArchive), 0);

  EXPECT_FALSE(IsExistingFile(Path("d").c_str()));
  EXPECT_FALSE(IsExistingDirectory(Path("f.txt").c_str()));
  EXPECT_TRUE(IsExistingDirectory((dir_ + "\\").c_str()));
  // Making a directory or a missing name replaceable leaves it as it is.
  MakeReplaceable(Path("d").c_str());
  EXPECT_EQ(GetAttributes(Path("d").c_str()), dir);
  MakeReplaceable(Path("missing").c_str());
  EXPECT_FALSE(tmp_.Exists("missing"));
}

TEST_F(FilesTest, DeleteTakesFilesOnlyAndDirectoriesComeAndGo) {
  EXPECT_TRUE(CreateDir(Path("new").c_str()));
  EXPECT_TRUE(IsExistingDirectory(Path("new").c_str()));
  EXPECT_FALSE(CreateDir(Path("new").c_str()));
  EXPECT_FALSE(CreateDir(Path("no\\such\\parent").c_str()));
  EXPECT_TRUE(CreateDir(Path("new\\sub").c_str()));
  EXPECT_FALSE(RemoveDir(Path("new").c_str()));  // not empty
  EXPECT_TRUE(RemoveDir(Path("new\\sub").c_str()));
  EXPECT_TRUE(RemoveDir(Path("new").c_str()));
  EXPECT_FALSE(IsExistingDirectory(Path("new").c_str()));
  EXPECT_FALSE(RemoveDir(Path("new").c_str()));
  MakeFile("f.txt", "x");
  EXPECT_FALSE(RemoveDir(Path("f.txt").c_str()));
  EXPECT_FALSE(CreateDir(Path("f.txt").c_str()));
  EXPECT_FALSE(Delete(Path("new").c_str()));
  ASSERT_TRUE(CreateDir(Path("d").c_str()));
  EXPECT_FALSE(Delete(Path("d").c_str()));
  EXPECT_TRUE(Delete(Path("f.txt").c_str()));
  EXPECT_FALSE(IsExistingFile(Path("f.txt").c_str()));
  EXPECT_FALSE(Delete(Path("f.txt").c_str()));
}

// The path ends with a separator, names a directory files can be made in
// through the library's separators, and is never written past the buffer.
TEST_F(FilesTest, TempPath) {
  char full[300];
  ASSERT_TRUE(TempPath(full, sizeof(full)));
  const size_t n = std::strlen(full);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(full[n - 1], '\\');
  EXPECT_TRUE(IsExistingDirectory(full));
  const std::string name = std::string(full) + fs::path(dir_).filename().string() + "\\t.txt";
  const Handle h = Open(name.c_str(), 'w');
  ASSERT_NE(h, kBadHandle);
  Close(h);
  EXPECT_TRUE(IsExistingFile(Path("t.txt").c_str()));

  std::vector<char> buf(n + 8, '#');
  EXPECT_FALSE(TempPath(buf.data(), n));  // no room for the terminator
  for (size_t i = n; i < buf.size(); ++i) EXPECT_EQ(buf[i], '#') << i;
  EXPECT_TRUE(TempPath(buf.data(), n + 1));
  EXPECT_STREQ(buf.data(), full);
  EXPECT_FALSE(TempPath(buf.data(), 0));
  EXPECT_FALSE(TempPath(nullptr, 10));
}

#if !defined(_WIN32)

// posix: `\` becomes `/` and a drive prefix is dropped before each call.
TEST_F(FilesTest, PosixBackslashesAndDrivePrefix) {
  const std::string back = acekit::testing::LibPath(native_);
  const Handle h = Open(("C:" + back + "\\drive.txt").c_str(), 'w');
  ASSERT_NE(h, kBadHandle);
  Close(h);
  EXPECT_TRUE(fs::is_regular_file(native_ / "drive.txt"));
  EXPECT_TRUE(IsExistingFile(("d:" + back + "\\drive.txt").c_str()));
  EXPECT_TRUE(IsExistingDirectory("z:"));  // a drive alone: the current directory
  FindData fd;
  const FindHandle f = FindFirst(("C:" + back + "\\*.txt").c_str(), &fd);
  ASSERT_NE(f, kBadFind);
  FindClose(f);
}

TEST_F(FilesTest, PosixPathsLongerThan260Characters) {
  std::string path = dir_;
  const std::string part(60, 'p');
  for (int i = 0; i < 5; ++i) {
    path += "\\" + part;
    ASSERT_TRUE(CreateDir(path.c_str())) << path.size();
  }
  path += "\\file.txt";
  ASSERT_GT(path.size(), 300u);
  const Handle h = Open(path.c_str(), 'w');
  ASSERT_NE(h, kBadHandle);
  EXPECT_EQ(Write("long", 4, h), 4);
  Close(h);
  EXPECT_TRUE(IsExistingFile(path.c_str()));
  EXPECT_TRUE(Delete(path.c_str()));
}

TEST_F(FilesTest, PosixTempPathFollowsTmpdir) {
  const acekit::testing::ScopedTempEnv env(dir_ + "/");
  char buf[300];
  ASSERT_TRUE(TempPath(buf, sizeof(buf)));
  EXPECT_EQ(std::string(buf), acekit::testing::LibPath(native_) + "\\");
  acekit::testing::UnsetEnv("TMPDIR");
  ASSERT_TRUE(TempPath(buf, sizeof(buf)));
  EXPECT_STREQ(buf, "\\tmp\\");
}

#endif

}  // namespace
}  // namespace acekit::platform
