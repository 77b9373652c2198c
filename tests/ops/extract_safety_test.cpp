// Output trees an attacker prepared: links inside the output folder (or the
// working directory of a solid rebuild), hard links at a target, files a
// damaged entry would overwrite, and names Windows takes for devices.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <tuple>

#include "ops/create.h"
#include "ops/delete.h"
#include "ops/entry_walk.h"
#include "ops/extract.h"
#include "ops/extract_fixture.h"
#include "ops/extract_paths.h"
#include "select/masks.h"

namespace acekit::extract_test {
namespace {

using Files = std::vector<std::string>;

class Safety : public ExtractTest {
 protected:
  void SetUp() override {
    ExtractTest::SetUp();
    dir_.MakeDir("out");
    dir_.MakeDir("outside");
  }
  fs::path Outside() const { return root_ / "outside"; }
  // Links need privileges on Windows; the checks there are the backend's.
  bool Link(const fs::path& target, const std::string& at, bool directory) {
    std::error_code ec;
    if (directory) {
      fs::create_directory_symlink(target, Out() / at, ec);
    } else {
      fs::create_symlink(target, Out() / at, ec);
    }
    return !ec;
  }
};

// A link anywhere on the way down refuses the entry with 5 and nothing
// outside the output folder is created; the entry before it is extracted.
TEST_F(Safety, LinkOnTheWayIsRefused) {
  // {where the link is, what it points to, the entry behind it}
  const std::tuple<const char*, const char*, Entry> cases[] = {
      {"link", "../outside", {"link\\x", "payload"}},
      {"link", "../outside", {"link\\a\\b", "payload"}},
      {"d/link", "../../outside", {"d\\link\\a\\b", "payload"}},
      {"link", "../outside", Dir("link\\")},
      {"link", "../outside", Dir("link\\sub\\")},
  };
  for (const bool solid : {false, true}) {
    for (const auto& [at, to, entry] : cases) {
      SCOPED_TRACE(::testing::Message() << solid << " " << entry.name);
      fs::remove_all(Out());
      fs::remove_all(Outside());
      dir_.MakeDir("outside");
      dir_.MakeDir(fs::path(std::string("out/") + at).parent_path().string());
      if (!Link(to, at, true)) GTEST_SKIP() << "no symbolic links here";
      Open({{"first.txt", "first"}, entry, {"last.txt", "last"}}, solid);
      EXPECT_EQ(Unpack(), kOpenFailed);
      EXPECT_EQ(dir_.Read("out/first.txt"), "first");
      EXPECT_EQ(dir_.Tree("outside"), Files{});
      EXPECT_TRUE(fs::is_symlink(Out() / at));
    }
  }
}

// A link or a hard link at the target itself is replaced by the new file;
// what it pointed to keeps its contents and mode, and a dangling link does
// not make its target appear.
TEST_F(Safety, LinkAtTheTargetIsReplacedNotWrittenThrough) {
  enum Kind { kDangling, kToFile, kHard };
  for (const bool solid : {false, true}) {
    for (const Kind kind : {kDangling, kToFile, kHard}) {
      for (const int32_t answer : {0, 1}) {
        SCOPED_TRACE(::testing::Message() << solid << " " << kind << " " << answer);
        fs::remove_all(Out());
        fs::remove_all(Outside());
        dir_.MakeDir("out");
        dir_.MakeDir("outside");
        if (kind != kDangling) {
          dir_.Write("outside/t", "secret");
          fs::permissions(Outside() / "t", fs::perms::owner_read | fs::perms::owner_write);
        }
        if (kind == kHard) {
          fs::create_hard_link(Outside() / "t", Out() / "victim.txt");
        } else if (!Link(Outside() / "t", "victim.txt", false)) {
          GTEST_SKIP() << "no symbolic links here";
        }
        host_ = Host{};
        host_.answer = answer;
        Open({{"victim.txt", "new"}, {"after.txt", "after"}}, solid);
        EXPECT_EQ(Unpack(), kOk);
        EXPECT_EQ(host_.questions.size(), 1u) << "a link there is something there";
        EXPECT_EQ(dir_.Read("out/after.txt"), "after");
        if (kind == kDangling) {
          EXPECT_FALSE(fs::exists(Outside() / "t"));
        } else {
          EXPECT_EQ(dir_.Read("outside/t"), "secret");
          EXPECT_EQ(fs::status(Outside() / "t").permissions(),
                    fs::perms::owner_read | fs::perms::owner_write);
        }
        const bool replaced = answer == 0;
        EXPECT_EQ(fs::is_symlink(Out() / "victim.txt"), !replaced && kind != kHard);
        if (replaced) {
          EXPECT_EQ(dir_.Read("out/victim.txt"), "new");
        }
      }
    }
  }
}

// A damaged entry, or a run stopped by the host, over an existing file
// leaves that file exactly as it was, and no temporary file behind.
TEST_F(Safety, FailedEntryLeavesTheExistingFileAsItWas) {
  const std::string big = TextBytes(200000, 7);
  for (const bool solid : {false, true}) {
    for (const bool cancel : {false, true}) {
      SCOPED_TRACE(::testing::Message() << solid << " " << cancel);
      fs::remove_all(Out());
      dir_.Write("out/a.txt", "old contents");
      host_ = Host{};
      host_.cancel_at = cancel ? 2 : 0;
      Entry damaged{"a.txt", big};
      damaged.bad_crc = !cancel;
      Open({damaged}, solid);
      EXPECT_EQ(Unpack(), cancel ? kCancelled : kCrcMismatch);
      EXPECT_EQ(dir_.Read("out/a.txt"), "old contents");
      EXPECT_EQ(dir_.Tree("out"), Files{"a.txt"});
    }
  }
}

#ifndef _WIN32
// The temporary file is the owner's alone while it is written; the finished
// file has the mode any new file gets, read-only marks applied.
TEST_F(Safety, FinishedFileHasTheUsualMode) {
  const mode_t mask = ::umask(027);
  Open({{"rw.txt", "rw"}, {"ro.txt", "ro", 0x21}}, false);
  Unpack();
  ::umask(mask);
  ASSERT_EQ(arc_.status, kOk);
  struct stat st;
  ASSERT_EQ(::stat((Out() / "rw.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_EQ(::stat((Out() / "ro.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0440u);
}
#endif

// Names that Windows takes for devices, or trims, get a leading `_` on every
// system, so an archive extracts to the same names everywhere.
TEST_F(Safety, DeviceNamesAreDefused) {
  std::vector<Entry> entries;
  for (const char* name : {"CON", "aux.c", "Lpt1.txt", "nul .txt", "d\\com9", "trail.", "sp ",
                           "e. .\\f", "com10", "console", "lpt0", "x.con"}) {
    entries.push_back({name, name});
  }
  Open(entries, false);
  EXPECT_EQ(Unpack(), kOk);
  EXPECT_EQ(dir_.Tree("out"),
            (Files{"_CON", "_Lpt1.txt", "_aux.c", "_e___/", "_e___/f", "_nul .txt", "_sp_",
                   "_trail_", "com10", "console", "d/", "d/_com9", "lpt0", "x.con"}));
  EXPECT_EQ(dir_.Read("out/d/_com9"), "d\\com9");

  char small[8] = "a\\CON";
  EXPECT_FALSE(ops::DefuseDeviceNames(small, 6)) << "no room for the `_`";
  EXPECT_STREQ(small, "a\\CON");
}

// A solid update keeps the stored names it unpacked, device names included,
// where the system can hold them.
TEST_F(Safety, SolidUpdateKeepsDeviceNamesWhereTheSystemAllowsThem) {
  dir_.MakeDir("tmp");
  dir_.Write("in/n.txt", "new file");
  testing::ScopedTempEnv env(dir_.Native("tmp").string());
  settings_.desc = format::kArcerDefaults;
  std::strcpy(settings_.input_path, (LibPath(root_ / "in") + "\\").c_str());
  Open({{"aux.c", "aux"}, {"d\\con", "con"}}, true);
  FileMaskList masks{};
  select::AppendMask(arc_, "n.txt", &masks);
  arc_.status = ops::CompressFileMaskList(Ctx(), &masks);
  select::DoneMaskList(&masks);
  ASSERT_EQ(arc_.status, kOk);
  Open(dir_.Read("a.ace"));
  ArcFileList list{};
  ops::BuildArchiveList(Ctx(), &list, nullptr, ops::ArcInfoRequest::kNever);
  std::set<std::string> names;
  for (const ArcEntry* e = list.first; e != nullptr; e = e->next) names.insert(e->name);
  format::DoneEntryList(&list);
  const std::string mark = platform::DeviceNamesReserved() ? "_" : "";
  EXPECT_EQ(names, (std::set<std::string>{mark + "aux.c", "d\\" + mark + "con", "n.txt"}));
}

// A solid update or deletion unpacks into a working directory. A link
// planted there while it runs (here: as soon as the host is shown the first
// entry) must not send any entry outside; the rebuild fails and the archive
// stays as it was.
TEST_F(Safety, RebuildRefusesALinkInItsWorkingDirectory) {
  struct Planter {
    fs::path temp;
    fs::path outside;
    bool planted = false;
    static int32_t ACEKIT_CALL OnName(ArcContext c, const char*, const char*) {
      auto& p = *reinterpret_cast<Planter*>(c);
      if (p.planted) return 0;
      for (const auto& d : fs::directory_iterator(p.temp)) {
        std::error_code ec;
        fs::create_directory_symlink(p.outside, d.path() / "link", ec);
        p.planted = p.planted || !ec;
      }
      return 0;
    }
  };
  dir_.MakeDir("outside");
  dir_.MakeDir("out");
  if (!Link(Outside(), "probe", true)) GTEST_SKIP() << "no symbolic links here";
  fs::remove_all(Out());
  dir_.MakeDir("tmp");
  dir_.Write("in/n.txt", "new file");
  testing::ScopedTempEnv env(dir_.Native("tmp").string());
  settings_.desc = format::kArcerDefaults;
  std::strcpy(settings_.input_path, (LibPath(root_ / "in") + "\\").c_str());
  for (const bool deleting : {false, true}) {
    SCOPED_TRACE(deleting);
    fs::remove_all(Outside());
    dir_.MakeDir("outside");
    Open({{"a.txt", "a"}, {"link\\x", "x"}, {"link\\a\\b", "b"}, {"z.txt", "z"}}, true);
    const std::string before = dir_.Read("a.ace");
    Planter planter{root_ / "tmp", Outside()};
    hooks_.file_name = {Planter::OnName, reinterpret_cast<ArcContext>(&planter)};
    FileMaskList masks{};
    select::AppendMask(arc_, deleting ? "z.txt" : "n.txt", &masks);
    if (deleting) {
      arc_.status = ops::DeleteFileMaskList(Ctx(), &masks);
    } else {
      arc_.status = ops::CompressFileMaskList(Ctx(), &masks);
    }
    select::DoneMaskList(&masks);
    ASSERT_TRUE(planter.planted);
    EXPECT_EQ(arc_.status, kOpenFailed);
    EXPECT_EQ(dir_.Tree("outside"), Files{});
    EXPECT_TRUE(dir_.Read("a.ace") == before) << "archive changed";
    EXPECT_EQ(dir_.List("tmp"), Files{}) << "working directory left";
  }
}

}  // namespace
}  // namespace acekit::extract_test
