// The lifecycle exports reset the library state in fixed groups; hosts rely
// on which settings survive which call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "common/status.h"
#include "exports.h"
#include "format/records.h"
#include "ops/write_host.h"
#include "platform/platform.h"
#include "process_view.h"

using acekit::testing::ArcInfoWords;
using acekit::testing::ProcessState;

namespace {

int32_t ACEKIT_CALL Progress(ArcContext, int32_t, int32_t) {
  return 1;
}

class Lifecycle : public ::testing::Test {
 protected:
  void SetUp() override { DoneArcFile(); }
  void TearDown() override { DoneArcFile(); }
  std::string Path(const char* name) const { return dir_.Lib(name); }
  // A minimal archive: a 33-byte main header and no entries; its library path.
  std::string WriteArchive(const char* name) {
    uint8_t h[acekit::format::kMainHeaderBytes];
    acekit::format::BuildMainHeader(h, nullptr, 0, 0);
    dir_.Write(name, std::string(h, h + sizeof h) + std::string(8, '\0'));
    return Path(name);
  }
  acekit::testing::TempDir dir_;
};

TEST_F(Lifecycle, InitOnMissingThenCreateStoresTheName) {
  std::string name = Path("new.ace");
  InitArcFile(name.c_str());
  EXPECT_EQ(GetArchiveStatus(), acekit::kNotFound);
  EXPECT_EQ(ProcessState().arc.new_archive, 1);
  EXPECT_STREQ(ProcessState().arc.archive_name, "");
  CreateArcFile(name.c_str());
  EXPECT_EQ(GetArchiveStatus(), 0);
  EXPECT_EQ(ProcessState().arc.new_archive, 1);
  EXPECT_EQ(name, ProcessState().arc.archive_name);
  EXPECT_FALSE(dir_.Exists("new.ace")) << "creating the state must not create the file";
}

TEST_F(Lifecycle, CreateOnExistingFileWipesSettingsAndReports5) {
  const std::string name = WriteArchive("old.ace");
  arOptionsOn(0x11);
  SetOutputPath("out");
  CreateArcFile(name.c_str());
  EXPECT_EQ(GetArchiveStatus(), acekit::kOpenFailed);
  EXPECT_FALSE(arOptionsAreOn(0x01));
  EXPECT_STREQ(ProcessState().settings.output_path, "");
}

// A name too long to be a path is refused, never cut to that of another
// file; posix hosts may write `/` between parts.
TEST_F(Lifecycle, ArchiveNamesTooLongOrWithSlashes) {
  const std::string too_long = Path("") + std::string(acekit::platform::kMaxPath, 'a');
  for (auto* open : {&InitArcFile, &CreateArcFile}) {
    open(too_long.c_str());
    EXPECT_EQ(GetArchiveStatus(), acekit::kOpenFailed);
    EXPECT_STREQ(ProcessState().arc.archive_name, "");
  }
#ifndef _WIN32
  const std::string name = WriteArchive("a.ace");
  std::string slashes = name;
  std::replace(slashes.begin(), slashes.end(), '\\', '/');
  InitArcFile(slashes.c_str());
  EXPECT_EQ(GetArchiveStatus(), 0);
  EXPECT_EQ(name, ProcessState().arc.archive_name);
#endif
}

TEST_F(Lifecycle, InitKeepsOptionsAndPathsButWipesCallbacksAndStats) {
  const std::string name = WriteArchive("a.ace");
  SetSetProgressProc(7, Progress);
  arOptionsOn(0x10);
  SetInputPath("D:\\data");
  int32_t stats[10] = {0, 0, 0, 0, 0, 0, 12, 1024, 4, 3};
  SetArcerStats(stats);
  InitArcFile(name.c_str());
  EXPECT_EQ(GetArchiveStatus(), 0);
  EXPECT_EQ(name, ProcessState().arc.archive_name);
  EXPECT_EQ(ProcessState().hooks.progress.proc, nullptr);
  EXPECT_TRUE(arOptionsAreOn(0x10));
  EXPECT_STREQ(ProcessState().settings.input_path, "D:\\data\\");
  EXPECT_EQ(ProcessState().settings.desc.dict_kb(), 64);
  EXPECT_EQ(ProcessState().settings.desc.mode(), 0);
  EXPECT_EQ(ProcessState().settings.desc.level(), 1);
  for (int32_t w : ArcInfoWords()) EXPECT_EQ(w, -1);
}

TEST_F(Lifecycle, DoneZeroesTheDescriptionAndKeepsArcInfo) {
  InitArcFile(WriteArchive("a.ace").c_str());
  arOptionsOn(0x01);
  EXPECT_EQ(DoneArcFile(), 0);
  for (int32_t w : ProcessState().settings.desc.words) EXPECT_EQ(w, 0);
  for (int32_t w : ArcInfoWords()) EXPECT_EQ(w, -1);
  EXPECT_FALSE(arOptionsAreOn(0x01));
  EXPECT_EQ(ProcessState().arc.main_header_offset, -1);
}

TEST_F(Lifecycle, ForeignFileAndDirectory) {
  std::string junk = Path("junk.bin");
  dir_.Write("junk.bin", std::string(5000, 'j'));
  InitArcFile(junk.c_str());
  EXPECT_EQ(GetArchiveStatus(), acekit::kNoMainHeader);
  InitArcFile(acekit::testing::LibPath(dir_.Native()).c_str());
  EXPECT_EQ(GetArchiveStatus(), acekit::kNotFound);
  EXPECT_EQ(ProcessState().arc.new_archive, 1);
}

// Paths gain a separator as hosts expect, an over-long password is cut at
// its buffer, and option bits without meaning are still kept.
TEST(Settings, PathsPasswordAndOptions) {
  DoneArcFile();
  for (const auto& [in, kept] :
       {std::pair{"D:\\data", "D:\\data\\"}, {"D:\\data\\", "D:\\data\\\\"}, {"D:\\", "D:\\"}}) {
    SetInputPath(in);
    EXPECT_STREQ(ProcessState().settings.input_path, kept);
  }
  SetOutputPath("D:\\out\\");
  EXPECT_STREQ(ProcessState().settings.output_path, "D:\\out\\");
  SetOutputPath("");
  EXPECT_STREQ(ProcessState().settings.output_path, "\\");
  SetRelativePath("docs");
  EXPECT_STREQ(ProcessState().settings.relative_path, "docs");

  // A path that fits is kept whole; one too long stays too long, so that
  // every path built from it is refused instead of built from a cut text.
  const std::string fits(acekit::platform::kMaxPath - 1, 'p');
  SetOutputPath(fits.c_str());
  EXPECT_EQ(ProcessState().settings.output_path, fits + "\\");
  SetInputPath(fits.c_str());
  EXPECT_EQ(ProcessState().settings.input_path, fits + "\\");
  for (const std::string& too_long : {fits + "pp", fits + "p", std::string(5000, 'p')}) {
    SetOutputPath(too_long.c_str());
    EXPECT_GT(std::strlen(ProcessState().settings.output_path), acekit::platform::kMaxPath);
    SetInputPath(too_long.c_str());
    EXPECT_GT(std::strlen(ProcessState().settings.input_path), acekit::platform::kMaxPath);
    SetRelativePath((too_long + "p").c_str());
    EXPECT_GT(std::strlen(ProcessState().settings.relative_path), acekit::platform::kMaxPath);
  }
#ifndef _WIN32
  // posix hosts write `/`.
  SetOutputPath("/tmp/x/new");
  EXPECT_STREQ(ProcessState().settings.output_path, "\\tmp\\x\\new\\");
  SetInputPath("src/");
  EXPECT_STREQ(ProcessState().settings.input_path, "src\\\\");
  SetRelativePath("docs/sub");
  EXPECT_STREQ(ProcessState().settings.relative_path, "docs\\sub");
#endif
  const std::string long_path(1000, 'p');
  SetCryptKey(long_path.c_str());
  EXPECT_EQ(std::strlen(ProcessState().arc.password), 263u);

  SetCryptKey("secret");
  EXPECT_EQ(ProcessState().arc.password_set, 1);
  SetCryptKey("");
  EXPECT_EQ(ProcessState().arc.password_set, 0);
  EXPECT_STREQ(ProcessState().arc.password, "secret");
  arOptionsOn(0x10);
  EXPECT_FALSE(arOptionsAreOn(0x11));
  EXPECT_TRUE(arOptionsAreOn(0));
  arOptionsOn(0x0100);
  EXPECT_TRUE(arOptionsAreOn(0x0110));
  DoneArcFile();
}

TEST(Status, StoredWordIsReadAsSixteenBits) {
  ProcessState().arc.status = 0x12345;
  EXPECT_EQ(GetArchiveStatus(), 0x2345);
  SetArchiveStatus(0xFFFF);
  EXPECT_EQ(ProcessState().arc.status, 0xFFFFu);
  CreateExeArc();
  EXPECT_EQ(GetArchiveStatus(), 0xFFFF);
  for (auto fn : {BuildUnDamagedArc, AddDamageProtXionArc, StripDamageProtXionArc}) {
    SetArchiveStatus(0);
    fn();
    EXPECT_EQ(GetArchiveStatus(), acekit::kNotSupported);
  }
  DoneArcFile();
}

TEST(Description, VersionedCallsCheckTheVersion) {
  CreateArcFile("acekit-no-such-file.ace");
  int32_t desc[10];
  std::memset(desc, 0x5A, sizeof desc);
  EXPECT_EQ(GetArcerVerDesc(11, desc), 9964);
  EXPECT_EQ(desc[0], 0x5A5A5A5A);
  EXPECT_EQ(GetArcerVerDesc(12, desc), 0);
  const int32_t want[10] = {2047, 12, 1, 64, 1024, 7, 12, 64, 0, 1};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(desc[i], want[i]) << i;
  const int32_t stats[10] = {0, 0, 0, 0, 0, 0, 0, 256, 4, 3};
  EXPECT_EQ(SetArcerVerStats(13, stats), 9964);
  EXPECT_EQ(ProcessState().settings.desc.dict_kb(), 64);
  EXPECT_EQ(SetArcerVerStats(12, stats), 0);
  EXPECT_EQ(ProcessState().settings.desc.dict_kb(), 256);
  EXPECT_EQ(ProcessState().settings.desc.mode(), 4);
  EXPECT_EQ(ProcessState().settings.desc.level(), 3);
  int32_t version = 0;
  GetVersionDesc(&version);
  EXPECT_EQ(version, 12);
  DoneArcFile();
}

}  // namespace
