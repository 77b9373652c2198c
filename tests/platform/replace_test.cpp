// The primitives a rebuild puts a new file in place of an old one with:
// temporary files and directories nobody else can have made or entered,
// the one-step rename, the access kept, and links resolved.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <string>

#include "platform/platform.h"
#include "test_dir.h"

namespace acekit::platform {
namespace {

namespace fs = std::filesystem;
using acekit::testing::LibPath;
using ReplaceTest = testing::TempDirTest;

// Only letters and digits follow the prefix, so no shell or host trips over
// the name.
void ExpectPlainName(const std::string& full, const std::string& dir, const std::string& prefix) {
  ASSERT_EQ(full.rfind(dir + prefix, 0), 0u) << full;
  const std::string rest = full.substr(dir.size() + prefix.size());
  EXPECT_EQ(rest.size(), 6u) << full;
  for (char c : rest) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << full;
}

TEST_F(ReplaceTest, TemporaryFilesAreNewAndReplaceTheirTargetInOneStep) {
  MakeFile("x.ace", "old");
  FileAccess access;
  ASSERT_TRUE(GetFileAccess(Path("x.ace").c_str(), &access));
  char first[300];
  char second[300];
  const std::string dir = dir_ + "\\";
  const Handle a = CreateTempFile(dir.c_str(), ".acekit-", &access, first, sizeof first);
  ASSERT_NE(a, kBadHandle);
  const Handle b = CreateTempFile(dir.c_str(), ".acekit-", &access, second, sizeof second);
  ASSERT_NE(b, kBadHandle);
  EXPECT_STRNE(first, second);
  EXPECT_EQ(Write("new", 3, a), 3);
  Close(a);
  Close(b);
  ExpectPlainName(LibPath(first), LibPath(dir), ".acekit-");
  EXPECT_TRUE(RenameOver(first, Path("x.ace").c_str(), &access));
  EXPECT_EQ(ReadAll("x.ace"), "new");
  EXPECT_FALSE(IsExistingFile(first));

  char small[8];
  EXPECT_EQ(CreateTempFile(dir.c_str(), ".acekit-", nullptr, small, sizeof small), kBadHandle);
  ArmFault(Fault::kOpen, 1);
  EXPECT_EQ(CreateTempFile(dir.c_str(), ".acekit-", nullptr, first, sizeof first), kBadHandle);
  ArmFault(Fault::kRename, 1);
  EXPECT_FALSE(RenameOver(second, Path("x.ace").c_str(), nullptr));
  EXPECT_EQ(ReadAll("x.ace"), "new");
  EXPECT_EQ(tmp_.List().size(), 2u);  // x.ace and the second file, nothing else
}

TEST_F(ReplaceTest, TemporaryDirectoriesAreNewUnderTheSystemTemporaryDirectory) {
  const acekit::testing::ScopedTempEnv env(dir_);
  char first[300];
  char second[300];
  ASSERT_TRUE(MakeTempDir("acekit-", first, sizeof first));
  ASSERT_TRUE(MakeTempDir("acekit-", second, sizeof second));
  EXPECT_STRNE(first, second);
  EXPECT_TRUE(IsExistingDirectory(first));
  ExpectPlainName(first, LibPath(native_) + "\\", "acekit-");
  char small[8];
  EXPECT_FALSE(MakeTempDir("acekit-", small, sizeof small));
  ArmFault(Fault::kCreateDir, 1);
  EXPECT_FALSE(MakeTempDir("acekit-", first, sizeof first));
  EXPECT_EQ(tmp_.List().size(), 2u);
}

#if !defined(_WIN32)

TEST_F(ReplaceTest, PosixAccessIsKeptFromCreationToReplacement) {
  const acekit::testing::ScopedTempEnv env(dir_);
  char work[300];
  ASSERT_TRUE(MakeTempDir("acekit-", work, sizeof work));
  std::string native(work);
  std::replace(native.begin(), native.end(), '\\', '/');
  EXPECT_EQ(fs::status(native).permissions(), fs::perms::owner_all);

  // {archive's mode, the temporary file's while written, the result}
  const struct {
    fs::perms archive;
    fs::perms during;
  } cases[] = {{fs::perms(0600), fs::perms(0600)},
               {fs::perms(0640), fs::perms(0640)},
               {fs::perms(0444), fs::perms(0644)}};
  for (const auto& c : cases) {
    MakeFile("x.ace", "old");
    fs::permissions(native_ / "x.ace", c.archive);
    FileAccess access;
    ASSERT_TRUE(GetFileAccess(Path("x.ace").c_str(), &access));
    char name[300];
    const Handle h = CreateTempFile((dir_ + "/").c_str(), ".acekit-", &access, name, sizeof name);
    ASSERT_NE(h, kBadHandle);
    EXPECT_EQ(fs::status(name).permissions(), c.during);
    Close(h);
    ASSERT_TRUE(RenameOver(name, Path("x.ace").c_str(), &access));
    EXPECT_EQ(fs::status(native_ / "x.ace").permissions(), c.archive);
    fs::permissions(native_ / "x.ace", fs::perms::owner_write, fs::perm_options::add);
    fs::remove(native_ / "x.ace");
  }
}

// Only a process that may give files away can keep a foreign owner.
TEST_F(ReplaceTest, PosixOwnerAndGroupAreKeptWherePermitted) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs the right to change owners";
  MakeFile("x.ace", "old");
  ASSERT_EQ(::chown((native_ / "x.ace").c_str(), 1, 2), 0);
  FileAccess access;
  ASSERT_TRUE(GetFileAccess(Path("x.ace").c_str(), &access));
  char name[300];
  const Handle h = CreateTempFile((dir_ + "/").c_str(), ".acekit-", &access, name, sizeof name);
  ASSERT_NE(h, kBadHandle);
  Close(h);
  ASSERT_TRUE(RenameOver(name, Path("x.ace").c_str(), &access));
  struct stat st;
  ASSERT_EQ(::stat((native_ / "x.ace").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 1u);
  EXPECT_EQ(st.st_gid, 2u);
}

TEST_F(ReplaceTest, PosixLinksResolveToTheirTarget) {
  MakeFile("real.ace", "x");
  fs::create_directory(native_ / "sub");
  fs::create_symlink("../real.ace", native_ / "sub" / "link.ace");
  fs::create_symlink("nowhere", native_ / "dangling");
  char out[300];
  ASSERT_TRUE(ResolveLink(Path("sub\\link.ace").c_str(), out, sizeof out));
  EXPECT_EQ(fs::path(out), fs::canonical(native_ / "real.ace"));
  for (const std::string& name : {Path("real.ace"), Path("dangling"), Path("missing")}) {
    ASSERT_TRUE(ResolveLink(name.c_str(), out, sizeof out));
    EXPECT_EQ(std::string(out), name);
  }
  EXPECT_FALSE(ResolveLink(Path("sub\\link.ace").c_str(), out, 4));
}

#endif

}  // namespace
}  // namespace acekit::platform
