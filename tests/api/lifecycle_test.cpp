// The lifecycle exports reset the library state in fixed groups; hosts rely
// on which settings survive which call.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api/library.h"
#include "common/status.h"
#include "exports.h"
#include "format/records.h"
#include "ops/write_host.h"

using acekit::Lib;

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
    uint8_t h[acekit::kMainHeaderBytes];
    acekit::BuildMainHeader(h, nullptr, 0, 0);
    dir_.Write(name, std::string(h, h + sizeof h) + std::string(8, '\0'));
    return Path(name);
  }
  acekit::testing::TempDir dir_;
};

TEST_F(Lifecycle, InitOnMissingThenCreateStoresTheName) {
  std::string name = Path("new.ace");
  InitArcFile(name.c_str());
  EXPECT_EQ(GetArchiveStatus(), acekit::kNotFound);
  EXPECT_EQ(Lib().arc.new_archive, 1);
  EXPECT_STREQ(Lib().arc.archive_name, "");
  CreateArcFile(name.c_str());
  EXPECT_EQ(GetArchiveStatus(), 0);
  EXPECT_EQ(Lib().arc.new_archive, 1);
  EXPECT_EQ(name, Lib().arc.archive_name);
  EXPECT_FALSE(dir_.Exists("new.ace")) << "creating the state must not create the file";
}

TEST_F(Lifecycle, CreateOnExistingFileWipesSettingsAndReports5) {
  const std::string name = WriteArchive("old.ace");
  arOptionsOn(0x11);
  SetOutputPath("out");
  CreateArcFile(name.c_str());
  EXPECT_EQ(GetArchiveStatus(), acekit::kOpenFailed);
  EXPECT_FALSE(arOptionsAreOn(0x01));
  EXPECT_STREQ(Lib().settings.output_path, "");
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
  EXPECT_EQ(name, Lib().arc.archive_name);
  EXPECT_EQ(Lib().hooks.progress.proc, nullptr);
  EXPECT_TRUE(arOptionsAreOn(0x10));
  EXPECT_STREQ(Lib().settings.input_path, "D:\\data\\");
  EXPECT_EQ(Lib().settings.desc.dict_kb(), 64);
  EXPECT_EQ(Lib().settings.desc.mode(), 0);
  EXPECT_EQ(Lib().settings.desc.level(), 1);
  for (int32_t w : Lib().arc_info) EXPECT_EQ(w, -1);
}

TEST_F(Lifecycle, DoneZeroesTheDescriptionAndKeepsArcInfo) {
  InitArcFile(WriteArchive("a.ace").c_str());
  arOptionsOn(0x01);
  EXPECT_EQ(DoneArcFile(), 0);
  for (int32_t w : Lib().settings.desc.words) EXPECT_EQ(w, 0);
  for (int32_t w : Lib().arc_info) EXPECT_EQ(w, -1);
  EXPECT_FALSE(arOptionsAreOn(0x01));
  EXPECT_EQ(Lib().arc.main_header_offset, -1);
}

TEST_F(Lifecycle, ForeignFileAndDirectory) {
  std::string junk = Path("junk.bin");
  dir_.Write("junk.bin", std::string(5000, 'j'));
  InitArcFile(junk.c_str());
  EXPECT_EQ(GetArchiveStatus(), acekit::kNoMainHeader);
  InitArcFile(acekit::testing::LibPath(dir_.Native()).c_str());
  EXPECT_EQ(GetArchiveStatus(), acekit::kNotFound);
  EXPECT_EQ(Lib().arc.new_archive, 1);
}

// Paths gain a separator as hosts expect, over-long texts are cut at their
// buffer, and option bits without meaning are still kept.
TEST(Settings, PathsPasswordAndOptions) {
  DoneArcFile();
  for (const auto& [in, kept] :
       {std::pair{"D:\\data", "D:\\data\\"}, {"D:\\data\\", "D:\\data\\\\"}, {"D:\\", "D:\\"}}) {
    SetInputPath(in);
    EXPECT_STREQ(Lib().settings.input_path, kept);
  }
  SetOutputPath("D:\\out\\");
  EXPECT_STREQ(Lib().settings.output_path, "D:\\out\\");
  SetOutputPath("");
  EXPECT_STREQ(Lib().settings.output_path, "\\");
  SetRelativePath("docs");
  EXPECT_STREQ(Lib().settings.relative_path, "docs");

  std::string long_path(1000, 'p');
  SetOutputPath(long_path.c_str());
  EXPECT_EQ(std::strlen(Lib().settings.output_path), 260u);
  EXPECT_EQ(Lib().settings.output_path[259], '\\');
  SetInputPath(long_path.c_str());
  EXPECT_EQ(std::strlen(Lib().settings.input_path), 260u);
  SetRelativePath(long_path.c_str());
  EXPECT_EQ(std::strlen(Lib().settings.relative_path), 260u);
  SetCryptKey(long_path.c_str());
  EXPECT_EQ(std::strlen(Lib().arc.password), 263u);

  SetCryptKey("secret");
  EXPECT_EQ(Lib().arc.password_set, 1);
  SetCryptKey("");
  EXPECT_EQ(Lib().arc.password_set, 0);
  EXPECT_STREQ(Lib().arc.password, "secret");
  arOptionsOn(0x10);
  EXPECT_FALSE(arOptionsAreOn(0x11));
  EXPECT_TRUE(arOptionsAreOn(0));
  arOptionsOn(0x0100);
  EXPECT_TRUE(arOptionsAreOn(0x0110));
  DoneArcFile();
}

TEST(Status, StoredWordIsReadAsSixteenBits) {
  Lib().arc.status = 0x12345;
  EXPECT_EQ(GetArchiveStatus(), 0x2345);
  SetArchiveStatus(0xFFFF);
  EXPECT_EQ(Lib().arc.status, 0xFFFFu);
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
  EXPECT_EQ(Lib().settings.desc.dict_kb(), 64);
  EXPECT_EQ(SetArcerVerStats(12, stats), 0);
  EXPECT_EQ(Lib().settings.desc.dict_kb(), 256);
  EXPECT_EQ(Lib().settings.desc.mode(), 4);
  EXPECT_EQ(Lib().settings.desc.level(), 3);
  int32_t version = 0;
  GetVersionDesc(&version);
  EXPECT_EQ(version, 12);
  DoneArcFile();
}

}  // namespace
