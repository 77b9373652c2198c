#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "format/crc32.h"
#include "format/records.h"
#include "ops/compress_one.h"
#include "ops/write_fixture.h"

namespace acekit::ops {
namespace {

using acekit::testing::Parse;
using acekit::testing::RandomBytes;
using acekit::testing::TempDir;
using acekit::testing::TextBytes;

// An output archive with a solid main header, and a writer over it.
class ItemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    out_ = platform::Open(dir_.Lib("out.ace").c_str(), 'w');
    ASSERT_NE(out_, platform::kBadHandle);
    uint8_t main[format::kMainHeaderBytes];
    format::BuildMainHeader(main, nullptr, 0, format::kMainFlagSolid);
    ASSERT_EQ(platform::Write(main, sizeof main, out_), 33);
    int32_t dict = 64;
    ASSERT_TRUE(compressor_.Setup(&dict, 1));
  }
  void TearDown() override {
    if (out_ != platform::kBadHandle) platform::Close(out_);
  }
  ItemWriter Writer() { return ItemWriter{arc_, settings_, hooks_, compressor_, out_, 6}; }
  std::string Finish() {
    platform::Close(out_);
    out_ = platform::kBadHandle;
    return dir_.Read("out.ace");
  }
  std::string Src(const char* name) { return dir_.Lib(name); }

  TempDir dir_;
  format::ArcState arc_;
  format::Settings settings_;
  HostHooks hooks_;
  compress::Compressor compressor_;
  platform::Handle out_ = platform::kBadHandle;
};

TEST_F(ItemTest, EmptyFileIsAHeaderWithoutData) {
  dir_.Write("A.TXT", "");
  ItemWriter w = Writer();
  ASSERT_EQ(CompressOneFile(w, Src("A.TXT").c_str(), "A.TXT", 0x20), 1);
  const std::string a = Finish();
  const auto p = Parse(a);
  ASSERT_TRUE(p.ok);
  ASSERT_EQ(p.entries.size(), 1u);
  const auto& e = p.entries[0];
  EXPECT_EQ(a.size(), 33u + 37 + 5);
  EXPECT_EQ(std::tie(e.flags, e.pack, e.orig, e.crc, e.tech_type, e.tech_qual, e.attr),
            std::make_tuple(1u, 0u, 0u, 0xFFFFFFFFu, 0u, 2u, 0x20u));
}

TEST_F(ItemTest, IncompressibleFileIsStoredAndTheAttemptCutOff) {
  const std::string bytes = RandomBytes(70000);
  dir_.Write("R.BIN", bytes);
  ItemWriter w = Writer();
  ASSERT_EQ(CompressOneFile(w, Src("R.BIN").c_str(), "R.BIN", 0x20), 1);
  const std::string a = Finish();
  const auto p = Parse(a);
  ASSERT_TRUE(p.ok) << "the file must end right after the stored data";
  const auto& e = p.entries.at(0);
  const uint32_t crc = format::Crc32Update(format::kCrcInit, bytes.data(), bytes.size()),
                 size = 70000;
  EXPECT_EQ(std::tie(e.tech_type, e.pack, e.orig, e.crc), std::make_tuple(0u, size, size, crc));
  EXPECT_EQ(a.substr(e.data), bytes);
}

TEST_F(ItemTest, StagedFilesComeOutAsTheOnesPutInPlace) {
  const char* const names[] = {"T.TXT", "R.BIN", "E.TXT", "S.TXT"};
  dir_.Write("T.TXT", TextBytes(30000, 1));
  dir_.Write("R.BIN", RandomBytes(9000, 2));  // stored after all
  dir_.Write("E.TXT", "");
  dir_.Write("S.TXT", TextBytes(700, 3));
  const platform::Handle in_place = platform::Open(dir_.Lib("in_place").c_str(), 'w');
  ASSERT_NE(in_place, platform::kBadHandle);
  ItemStage stage;
  for (ItemStage* s : {static_cast<ItemStage*>(nullptr), &stage}) {
    ItemWriter w = Writer();
    if (s == nullptr) w.out = in_place;
    for (const char* name : names) ASSERT_EQ(AddOneFile(w, Src(name).c_str(), name, s), 1) << name;
  }
  platform::Close(in_place);
  const std::string staged = Finish();
  ASSERT_TRUE(Parse(staged).ok);
  EXPECT_EQ(staged.substr(33), dir_.Read("in_place"));
}

// Each step: the file, then the header flags and result the chain expects.
struct ChainStep {
  const char* name;
  int kind;  // 0 empty, 1 text, 2 random
  uint32_t flags;
  int32_t result;
};

TEST_F(ItemTest, SolidChainContinuesAfterCompressedAndRestartsAfterStored) {
  const ChainStep steps[] = {
      {"E0.TXT", 0, 0x0001, 1},  // empty before the chain starts: nothing changes
      {"T1.TXT", 1, 0x0001, 2},  // first data: fresh window
      {"E2.TXT", 0, 0x8001, 2},  // empty inside the chain keeps it going
      {"T3.TXT", 1, 0x8001, 2}, {"R4.BIN", 2, 0x0001, 1},  // stored: ends the chain
      {"T5.TXT", 1, 0x0001, 2},
  };
  std::vector<std::string> contents;
  SolidChain chain;
  ItemWriter w = Writer();
  unsigned seed = 1;
  for (const auto& s : steps) {
    const std::string bytes =
        s.kind == 0 ? "" : (s.kind == 1 ? TextBytes(20000, seed++) : RandomBytes(9000, seed++));
    contents.push_back(bytes);
    dir_.Write(s.name, bytes);
    const ItemStep r = AddOneFileSolid(w, Src(s.name).c_str(), s.name, chain);
    ASSERT_EQ(r, s.result) << s.name;
    chain.Apply(r);
  }
  const std::string a = Finish();
  const auto p = Parse(a);
  ASSERT_TRUE(p.ok);
  ASSERT_EQ(p.entries.size(), std::size(steps));
  for (size_t i = 0; i < std::size(steps); ++i) {
    EXPECT_EQ(p.entries[i].flags, steps[i].flags) << steps[i].name;
  }
  EXPECT_EQ(acekit::testing::DecodeAll(a, p), contents);
}

TEST_F(ItemTest, DirectoryHeaderHasNoDataAndLosesItsTrailingSeparator) {
  dir_.MakeDir("data\\sub");
  ItemWriter w = Writer();
  ASSERT_EQ(AddOneFile(w, Src("data\\sub").c_str(), "data\\sub\\"), 1);
  const auto p = Parse(Finish());
  ASSERT_TRUE(p.ok);
  const auto& e = p.entries.at(0);
  EXPECT_EQ(e.name, "data\\sub");
  EXPECT_EQ(std::tie(e.tech_type, e.pack, e.crc), std::make_tuple(1u, 0u, 0xFFFFFFFFu));
  EXPECT_NE(e.attr & 0x10, 0u);
  EXPECT_NE(e.ftime, 0u);
}

TEST(CopyArchiveBytes, CopiesTheRangeAndReportsAnArchiveThatEndsEarly) {
  TempDir dir;
  const std::string bytes = RandomBytes(40000);
  dir.Write("old", bytes);
  const platform::Handle in = platform::Open(dir.Lib("old").c_str(), 'r');
  const platform::Handle out = platform::Open(dir.Lib("new").c_str(), 'w');
  EXPECT_EQ(CopyArchiveBytes(in, out, 100, 35000), kOk);
  EXPECT_EQ(CopyArchiveBytes(in, out, 39000, 2000), kOpenFailed);
  platform::Close(in);
  platform::Close(out);
  EXPECT_EQ(dir.Read("new").substr(0, 35000), bytes.substr(100, 35000));
}

}  // namespace
}  // namespace acekit::ops
