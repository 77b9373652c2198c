// What a change of an existing archive keeps of the file the user had: its
// permission bits, a symbolic link in its name, and its privacy while the
// rebuild is under way; and the archives without a single entry, which every
// operation refuses alike.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/status.h"
#include "format/records.h"
#include "ops/write_host.h"

namespace acekit::testing {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

uint16_t AddDirectory(const std::string& archive, const char* name) {
  return Session(archive, nullptr, [&] { CreateDirectoryArc(name); });
}

class KeepArchive : public ArchiveTest, public ::testing::WithParamInterface<int32_t> {
 protected:
  void SetUp() override {
    Make({"A.TXT", "B.TXT", "C.TXT"}, {GetParam(), 64, 1});
    dir_.Write("in\\D.TXT", TextBytes(1500, 9));
  }
};

#if !defined(_WIN32)

// The changes a user makes to an archive, each leaving entries behind; a
// second round (1) changes what the first (0) left.
struct Change {
  const char* what;
  std::function<uint16_t(const std::string& archive, const std::string& input, int round)> run;
};

const std::vector<Change>& Changes() {
  static const std::vector<Change> changes = {
      {"add", [](auto& a, auto& in, int r) { return UpdateWith(a, in, {r ? "B.TXT" : "D.TXT"}); }},
      {"delete", [](auto& a, auto&, int r) { return DeleteWith(a, {r ? "D.TXT" : "B.TXT"}); }},
      {"main comment", [](auto& a, auto&, int r) { return SetMain(a, r ? "main" : "first"); }},
      {"file comment",
       [](auto& a, auto&, int r) { return SetFileComments(a, {"A.TXT"}, r ? "file" : "first"); }},
      {"directory", [](auto& a, auto&, int r) { return AddDirectory(a, r ? "MORE" : "DOCS"); }}};
  return changes;
}

// Every change, made through the archive's name or through a link to it,
// leaves an owner-only archive owner-only, and the link a link.
TEST_P(KeepArchive, ChangesKeepTheModeAndTheLink) {
  fs::create_directory(dir_.Native("links"));
  fs::create_symlink("../arc/x.ace", dir_.Native("links/l.ace"));
  fs::permissions(dir_.Native("arc/x.ace"), fs::perms(0600));
  for (const bool via_link : {false, true}) {
    for (const Change& c : Changes()) {
      SCOPED_TRACE(std::string(c.what) + (via_link ? " through the link" : ""));
      const std::string before = Bytes();
      const std::string name = via_link ? dir_.Lib("links\\l.ace") : arc_;
      ASSERT_EQ(c.run(name, dir_.Lib("in"), via_link ? 1 : 0), 0);
      EXPECT_TRUE(Bytes() != before) << "the archive itself was not changed";
      EXPECT_EQ(fs::status(dir_.Native("arc/x.ace")).permissions(), fs::perms(0600));
      EXPECT_EQ(dir_.List("arc"), Names{"x.ace"});
      EXPECT_EQ(dir_.List("links"), Names{"l.ace"});
      ASSERT_TRUE(fs::is_symlink(dir_.Native("links/l.ace")));
      EXPECT_EQ(fs::read_symlink(dir_.Native("links/l.ace")), "../arc/x.ace");
      EXPECT_EQ(TestStatus(name), 0);
    }
  }
}

// What lies around while a rebuild runs, seen from the progress procedure:
// the working directory, only its owner may enter, and the temporary
// archive beside the archive, with the archive's mode.
struct Watch {
  fs::path temp;
  fs::path arc_dir;
  int looks = 0;
  std::vector<std::string> problems;

  static int32_t ACEKIT_CALL OnProgress(ArcContext c, int32_t, int32_t) {
    reinterpret_cast<Watch*>(c)->Look();
    return 1;
  }
  static bool Plain(const std::string& name, const std::string& prefix) {
    if (name.rfind(prefix, 0) != 0 || name.size() != prefix.size() + 6) return false;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
      if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
    }
    return true;
  }
  void Look() {
    ++looks;
    for (const auto& e : fs::directory_iterator(temp)) {
      const std::string name = e.path().filename().string();
      if (!Plain(name, "acekit-") || !e.is_directory() ||
          e.status().permissions() != fs::perms::owner_all) {
        problems.push_back("working directory " + name);
      }
    }
    for (const auto& e : fs::directory_iterator(arc_dir)) {
      const std::string name = e.path().filename().string();
      if (name == "x.ace") continue;
      if (!Plain(name, ".acekit-") || e.status().permissions() != fs::perms(0600)) {
        problems.push_back("temporary archive " + name);
      }
    }
  }
};

TEST_P(KeepArchive, RebuildsWorkOutOfSight) {
  dir_.MakeDir("tmp");
  const ScopedTempEnv env(dir_.Native("tmp").string());
  fs::permissions(dir_.Native("arc/x.ace"), fs::perms(0600));
  Watch watch{dir_.Native("tmp"), dir_.Native("arc"), 0, {}};
  for (const bool add : {true, false}) {
    SCOPED_TRACE(add ? "add" : "delete");
    Host host;
    const uint16_t st = Session(arc_, &host, [&] {
      SetSetProgressProc(reinterpret_cast<ArcContext>(&watch), &Watch::OnProgress);
      SetInputPath(dir_.Lib("in").c_str());
      Masks masks({add ? "D.TXT" : "B.TXT"});
      add ? CompressFileMaskListArc(masks.get()) : DeleteFileMaskListArc(masks.get());
    });
    EXPECT_EQ(st, 0);
  }
  EXPECT_GT(watch.looks, 0);
  EXPECT_EQ(watch.problems, Names{});
  EXPECT_EQ(dir_.List("tmp"), Names{});
}

#endif

// A rebuild shows the host the temporary directory while it unpacks; an
// extraction later in the same session shows where its files really go.
TEST_P(KeepArchive, ExtractionAfterARebuildShowsItsRealTargets) {
  for (const bool add : {true, false}) {
    SCOPED_TRACE(add ? "add" : "delete");
    Host host;
    Session(arc_, &host, [&] {
      SetInputPath(dir_.Lib("in").c_str());
      Masks masks({add ? "D.TXT" : "B.TXT"});
      add ? CompressFileMaskListArc(masks.get()) : DeleteFileMaskListArc(masks.get());
      ASSERT_EQ(GetArchiveStatus(), 0);
      host.names.clear();
      SetOutputPath(dir_.Lib("out").c_str());
      Masks all;
      ExtractFileMaskListArc(all.get());
      EXPECT_EQ(GetArchiveStatus(), 0);
    });
    ASSERT_FALSE(host.names.empty());
    for (const auto& [stored, target] : host.names) {
      EXPECT_EQ(target, dir_.Lib("out") + "\\" + stored.substr(1)) << stored;
    }
    fs::remove_all(dir_.Native("out"));
  }
}

ACEKIT_NORMAL_AND_SOLID(KeepArchive);

// An archive with a main header and nothing after it, made so or by deleting
// every entry: a walk finds no entry header, and the operations that walk it
// for their own purposes report that as listing does, changing nothing.
TEST(ArchiveWithoutEntries, EveryWalkReportsIt) {
  TempDir dir;
  uint8_t main[format::kMainHeaderBytes];
  format::BuildMainHeader(main, format::kNormalArchiveExtra, format::kNormalArchiveExtraSize, 0);
  const std::string bare(reinterpret_cast<char*>(main), sizeof main);
  dir.Write("in\\A.TXT", "a");
  const std::string emptied = dir.Lib("emptied.ace");
  ASSERT_EQ(CreateWith(emptied, dir.Lib("in"), {"A.TXT"}), 0);
  ASSERT_EQ(DeleteWith(emptied, {"*.*"}), 0);
  dir.Write("bare.ace",
            bare + std::string(format::kNormalArchiveExtra, format::kNormalArchiveExtraSize));
  for (const std::string& archive : {dir.Lib("bare.ace"), emptied}) {
    SCOPED_TRACE(archive);
    const std::string before = dir.Read(fs::path(archive).filename().string());
    EXPECT_EQ(Session(archive, nullptr, [] { Listed(); }), kCorrupt);
    int32_t info[23];
    std::fill(std::begin(info), std::end(info), 0x5A5A);
    EXPECT_EQ(Session(archive, nullptr, [&] { GetExtraInfoArc(info); }), kCorrupt);
    EXPECT_EQ(info[0], 0x5A5A);
    EXPECT_EQ(AddDirectory(archive, "DOCS"), kCorrupt);
    EXPECT_EQ(SetFileComments(archive, {"A.TXT"}, "text"), kCorrupt);
    EXPECT_TRUE(dir.Read(fs::path(archive).filename().string()) == before);
  }
}

// A comment is bytes, 0 bytes among them, and comes back whole.
TEST(MainComment, ZeroBytesAreKept) {
  TempDir dir;
  dir.Write("in\\A.TXT", "a");
  const std::string archive = dir.Lib("x.ace");
  ASSERT_EQ(CreateWith(archive, dir.Lib("in"), {"A.TXT"}), 0);
  for (const std::string& text : {std::string(1, '\0'), std::string("a\0\0b", 4)}) {
    ASSERT_EQ(SetMain(archive, text), 0);
    const MainComment read = ReadMain(archive);
    EXPECT_TRUE(read.present);
    EXPECT_TRUE(read.text == text) << read.text.size();
  }
}

}  // namespace
}  // namespace acekit::testing
