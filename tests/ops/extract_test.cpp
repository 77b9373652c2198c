#include "ops/extract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "ops/entry_walk.h"
#include "ops/extract_fixture.h"
#include "ops/extract_paths.h"
#include "select/masks.h"

namespace acekit::extract_test {
namespace {

using Files = std::vector<std::string>;

uint32_t PackedTimeOf(const fs::path& p) {
  const platform::Handle h = platform::Open(LibPath(p).c_str(), 'r');
  uint32_t t = 0;
  platform::GetPackedFileTime(h, &t);
  platform::Close(h);
  return t;
}

class Extract : public ExtractTest, public ::testing::WithParamInterface<bool> {
 protected:
  bool Solid() const { return GetParam(); }
  void Run(const char* mask = nullptr) {
    FileMaskList masks{};
    if (mask != nullptr) select::AppendMask(arc_, mask, &masks);
    arc_.status = ops::ExtractFileMaskListArc(Ctx(), &masks);
    select::DoneMaskList(&masks);
  }
};

TEST_P(Extract, RestoresFilesDirectoriesTimesAndAttributes) {
  const std::string a = TextBytes(5000, 1);
  Open({Dir("docs"), {"docs\\a.txt", a}, {"empty.txt", "", 0x20, 0}, {"ro.txt", "locked", 0x21}},
       Solid());
  Run();
  EXPECT_EQ(arc_.status, kOk);
  EXPECT_EQ(dir_.Tree("out"), (Files{"docs/", "docs/a.txt", "empty.txt", "ro.txt"}));
  EXPECT_EQ(dir_.Read("out/docs/a.txt"), a);
  EXPECT_EQ(dir_.Read("out/ro.txt"), "locked");
  for (const char* f : {"docs/a.txt", "empty.txt", "ro.txt"})
    EXPECT_EQ(PackedTimeOf(Out() / f), kTime) << f;
  EXPECT_EQ(platform::GetAttributes(LibPath(Out() / "ro.txt").c_str()) & 1u, 1u);
  EXPECT_EQ(platform::GetAttributes(LibPath(Out() / "empty.txt").c_str()) & 1u, 0u);
  ASSERT_EQ(host_.names.size(), 4u);
  EXPECT_EQ(host_.names[1].first, "\\docs\\a.txt");
  EXPECT_EQ(host_.names[1].second, LibPath(Out() / "docs/a.txt"));
}

// The third file of a solid archive is mostly a copy of the first, so it
// only comes out right when every file before it was decoded in order.
TEST_P(Extract, SelectedFileAloneIsWrittenAndShown) {
  const std::string a = TextBytes(3000, 1);
  const std::string c = a + "tail";
  Open({{"a.txt", a}, {"b.bin", TextBytes(2000, 2), 0x20, 0}, {"c.txt", c}}, Solid());
  Run("C.TXT");
  EXPECT_EQ(arc_.status, kOk);
  EXPECT_EQ(dir_.Tree("out"), Files{"c.txt"});
  EXPECT_EQ(dir_.Read("out/c.txt"), c);
  ASSERT_EQ(host_.names.size(), 1u);
  EXPECT_EQ(host_.names[0].first, "\\c.txt");
}

// A test writes nothing, shows every file, and stops at a damaged one.
TEST_P(Extract, TestWritesNothingAndShowsEveryFile) {
  Open({Dir("docs"), {"docs\\a.txt", TextBytes(3000, 1)}, {"b.txt", "b"}}, Solid());
  arc_.status = ops::TestArc(Ctx());
  EXPECT_EQ(arc_.status, kOk);
  ASSERT_EQ(host_.names.size(), 2u);
  EXPECT_EQ(host_.names[0],
            std::make_pair(std::string("\\docs\\a.txt"), LibPath(Out() / "docs/a.txt")));
  EXPECT_EQ(host_.names[1].first, "\\b.txt");
  host_.names.clear();
  Open({{"a", "a"}, {"b", "b", 0x20, 0, 0, true}, {"c", "c"}}, Solid());
  arc_.status = ops::TestArc(Ctx());
  EXPECT_EQ(arc_.status, kCrcMismatch);
  EXPECT_EQ(host_.names.size(), 2u);
  EXPECT_FALSE(fs::exists(Out()));
}

// Packed data several read buffers long, in entries of every size, some
// stored: entries start and end on both sides of every buffer's end.
TEST_P(Extract, EntriesAcrossReadBuffersComeOutWhole) {
  std::vector<Entry> entries;
  for (unsigned i = 0; i < 240; ++i) {
    entries.push_back({"f" + std::to_string(i), testing::RandomBytes(i * 61 % 5000, i), 0x20,
                       i % 7 == 3 ? 0 : 1});
  }
  Open(entries, Solid());
  Run();
  EXPECT_EQ(arc_.status, kOk);
  for (const Entry& e : entries) EXPECT_EQ(dir_.Read("out/" + e.name), e.data) << e.name;
  arc_.status = ops::TestArc(Ctx());
  EXPECT_EQ(arc_.status, kOk);
}

// During a rebuild the host is shown the working directory and the file's
// own name, not where the file really goes; with a password set, an
// encrypted entry is refused.
TEST_P(Extract, RebuildShowsTheTemporaryDirectoryAndRefusesEncryptedEntries) {
  Open({{"docs\\a.txt", "a"}}, Solid());
  std::strcpy(arc_.temp_path, "T:\\work");
  arc_.status = ops::ExtractForRebuild(Ctx(), nullptr);
  EXPECT_EQ(arc_.status, kOk);
  EXPECT_EQ(dir_.Read("out/docs/a.txt"), "a");
  ASSERT_EQ(host_.names.size(), 1u);
  EXPECT_EQ(host_.names[0].second, "T:\\work\\a.txt");
  fs::remove_all(Out());
  Open({{"a.txt", "a"}, {"b.txt", "b", 0x20, 1, format::kFileFlagEncrypted}}, Solid());
  arc_.password_set = 1;
  arc_.status = ops::ExtractForRebuild(Ctx(), nullptr);
  EXPECT_EQ(arc_.status, kEncryptedRebuild);
  EXPECT_FALSE(fs::exists(Out()));
}

// A record holds 255 characters of a name; a longer stored name, or one
// that the conversion to UTF-8 widens past that, is extracted under its
// whole name all the same, never a shortened one. Where a path is that
// short (Windows) the name is refused instead, and extraction stops there.
TEST_P(Extract, LongStoredNamesAreExtractedWhole) {
  const std::string plain =
      std::string(100, 'd') + "\\" + std::string(100, 'e') + "\\" + std::string(90, 'f') + ".txt";
  const std::string accents = std::string(70, '\x82') + "\\" + std::string(70, '\x82') + ".txt";
  const std::string folder = std::string(150, 'g') + "\\" + std::string(120, 'h');
  Open({{plain, TextBytes(3000, 1)}, {accents, "accented"}, Dir(folder)}, Solid());
  Run();
  if (LibPath(Out()).size() + 1 + plain.size() > platform::kMaxPath) {
    EXPECT_EQ(arc_.status, kOpenFailed);
    EXPECT_FALSE(fs::exists(Out() / std::string(100, 'd')));
    return;
  }
  ASSERT_EQ(arc_.status, kOk);
  std::string e_acute;
  for (int i = 0; i < 70; ++i) e_acute += "\xC3\xA9";
  auto native = [](std::string s) {
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
  };
  EXPECT_EQ(dir_.Read("out/" + native(plain)), TextBytes(3000, 1));
  EXPECT_EQ(dir_.Read("out/" + e_acute + "/" + e_acute + ".txt"), "accented");
  EXPECT_TRUE(fs::is_directory(Out() / native(folder)));
}

INSTANTIATE_TEST_SUITE_P(NormalAndSolid, Extract, ::testing::Bool());

// An existing read-only a.txt meets each answer of the host: 0 replaces it,
// 1 keeps it, 2 stops; any other answer replaces without lifting the
// read-only mark. b.txt comes after it and, in a solid archive, refers back
// to a.txt's data.
TEST_F(ExtractTest, ReplaceFollowsTheHostsAnswer) {
  const std::string a = TextBytes(3000, 3);
  const std::tuple<bool, int32_t, uint32_t> cases[] = {
      {false, 0, kOk},        {true, 0, kOk},        {false, 1, kOk},        {true, 1, kOk},
      {false, 2, kCancelled}, {true, 2, kCancelled}, {false, 7, kOpenFailed}};
  for (const auto& [solid, answer, status] : cases) {
    SCOPED_TRACE(::testing::Message() << solid << " " << answer);
    if (fs::exists(Out()))
      fs::permissions(Out() / "a.txt", fs::perms::owner_write, fs::perm_options::add);
    fs::remove_all(Out());
    host_ = Host{};
    Open({{"a.txt", a}, {"b.txt", a + "b"}}, solid);
    dir_.Write("out/a.txt", "old");
    fs::permissions(Out() / "a.txt",
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    // The last case needs a system that refuses to write a read-only file;
    // Wine running as root does not.
    const platform::Handle probe = platform::Open(LibPath(Out() / "a.txt").c_str(), 'v');
    if (probe != platform::kBadHandle) {
      platform::Close(probe);
      if (status == kOpenFailed) continue;
    }
    host_.answer = answer;
    EXPECT_EQ(Unpack(), status);
    EXPECT_EQ(dir_.Read("out/a.txt"), answer == 0 ? a : "old");
    EXPECT_EQ(fs::exists(Out() / "b.txt"), answer < 2);
    if (answer < 2) {
      EXPECT_EQ(dir_.Read("out/b.txt"), a + "b");
    }
    ASSERT_EQ(host_.questions.size(), 1u);
    const FindData& old_rec = host_.questions[0].first;
    const FindData& new_rec = host_.questions[0].second;
    EXPECT_EQ(old_rec.size_low, 3u);
    EXPECT_EQ(new_rec.attributes, 0x20u);
    EXPECT_EQ(new_rec.size_low, a.size());
    EXPECT_STREQ(new_rec.name, "a.txt");
    FindTime t{};
    ASSERT_TRUE(platform::DosTimeToFileTime(kTime, &t));
    EXPECT_EQ(new_rec.last_write_time.low, t.low);
    EXPECT_EQ(new_rec.creation_time.high, t.high);
  }
}

// Five files; the third goes wrong. The first two stay, nothing of the third
// or later is left.
TEST_F(ExtractTest, FailureEndsAtTheThirdFileKeepingTheFirstTwo) {
  enum Damage { kBadCrc, kEncrypted, kUnknownMethod, kHostStops, kFailedWrite };
  const std::tuple<Damage, bool, uint32_t> cases[] = {
      {kBadCrc, false, kCrcMismatch},        {kBadCrc, true, kCrcMismatch},
      {kEncrypted, false, kEncryptedEntry},  {kEncrypted, true, kEncryptedEntry},
      {kUnknownMethod, false, kUnsupported}, {kHostStops, true, kCancelled},
      {kFailedWrite, false, kShortWrite}};
  for (const auto& [damage, solid, status] : cases) {
    SCOPED_TRACE(::testing::Message() << damage << " " << solid);
    fs::remove_all(Out());
    host_ = Host{};
    std::vector<Entry> entries;
    for (int i = 1; i <= 5; ++i) entries.push_back({std::to_string(i), TextBytes(1500, i)});
    entries[2].bad_crc = damage == kBadCrc;
    entries[2].flags = damage == kEncrypted ? format::kFileFlagEncrypted : 0;
    entries[2].method = damage == kUnknownMethod ? 2 : 1;
    host_.cancel_at = damage == kHostStops ? 3 : 0;
    Open(entries, solid);
    if (damage == kFailedWrite) platform::ArmFault(platform::Fault::kWrite, 3);
    Unpack();
    platform::DisarmFaults();
    EXPECT_EQ(arc_.status, status);
    EXPECT_EQ(dir_.Tree("out"), (Files{"1", "2"}));
    EXPECT_EQ(dir_.Read("out/2"), entries[1].data);
  }
}

// Names from a hostile archive land inside the output directory, at the
// place their harmless parts name; the name rules themselves are below.
TEST_F(ExtractTest, HostileNamesStayInsideTheOutputDirectory) {
  const fs::path out = root_ / "d1/d2/out";
  std::strcpy(settings_.output_path, (LibPath(out) + "\\").c_str());
  const std::tuple<const char*, uint16_t, const char*> cases[] = {
      {"..\\..\\x", format::kOptKeepPaths, "x"},
      {"\\abs\\x", format::kOptKeepPaths, "abs/x"},
      {"a\\..\\..\\x", format::kOptKeepPaths, "a/x"},
      {"a\\..\\..\\x", 0, "x"}};
  for (const auto& [stored, options, lands] : cases) {
    SCOPED_TRACE(stored);
    fs::remove_all(root_ / "d1");
    settings_.options = options;
    Open({{stored, "payload"}}, false);
    EXPECT_EQ(Unpack(), kOk);
    EXPECT_EQ(dir_.Read("d1/d2/out/" + std::string(lands)), "payload");
    EXPECT_EQ(dir_.Tree().size(), 4u + dir_.Tree("d1/d2/out").size());  // a.ace, d1/, d1/d2/, out/
  }
}

TEST(ConfineName, KeepsTheNameBelowItsDirectory) {
  const std::pair<const char*, const char*> cases[] = {{"docs\\", "docs\\"},
                                                       {"..\\..\\x", "x"},
                                                       {"\\abs\\x", "abs\\x"},
                                                       {"C:\\x", "x"},
                                                       {"a\\..\\..\\x", "a\\x"},
                                                       {"c:x", "x"},
                                                       {"\\\\server\\share\\x", "server\\share\\x"},
                                                       {"./a//b/./c", "a\\b\\c"},
                                                       {"a\\...\\. .\\.. \\b", "a\\b"},
                                                       {"..", ""},
                                                       {"a.b\\..c\\d..", "a.b\\..c\\d.."}};
  for (const auto& [name, confined] : cases) {
    char buf[64];
    std::strcpy(buf, name);
    EXPECT_EQ(ops::ConfineName(buf), std::strlen(confined)) << name;
    EXPECT_STREQ(buf, confined);
  }
}

// The relative path's length is cut from the name unlooked at; what is left
// must still not climb out.
TEST(ExtractTargetPath, JoinsTheConfinedNameToTheOutputPath) {
  const std::tuple<const char*, uint16_t, const char*, const char*> cases[] = {
      {"docs\\a.txt", format::kOptKeepPaths, "docs", "D:\\out\\a.txt"},
      {"x..\\y", format::kOptKeepPaths, "x", "D:\\out\\y"},
      {"a\\..", 0, "", "D:\\out\\"}};
  for (const auto& [stored, options, relative, target] : cases) {
    format::Settings s;
    s.options = options;
    std::strcpy(s.output_path, "D:\\out\\");
    std::strcpy(s.relative_path, relative);
    char dst[format::kPathSize];
    ops::ExtractTargetPath(stored, s, dst, sizeof dst);
    EXPECT_STREQ(dst, target);
  }
}

// An archive cut anywhere ends with a status, and never leaves a file that
// is not complete.
TEST_P(Extract, CutArchiveNeverLeavesAPartialFile) {
  std::vector<Entry> entries = {{"a", TextBytes(3000, 1)},
                                Dir("d"),
                                {"d\\e", "", 0x20, 0},
                                {"b", TextBytes(2500, 2), 0x20, 0},
                                {"c", TextBytes(2600, 1)}};
  const std::string full = BuildArchive(entries, Solid());
  for (size_t cut = format::kMainHeaderBytes + 8; cut < full.size(); cut += 53) {
    SCOPED_TRACE(cut);
    fs::remove_all(Out());
    Open(full.substr(0, cut));
    Unpack();
    size_t complete = 0;
    for (const Entry& e : entries) {
      const std::string p = "out/" + e.name;
      if (!dir_.Exists(p)) continue;
      if (e.attr != 0x10) {
        EXPECT_EQ(dir_.Read(p), e.data) << e.name;
      }
      ++complete;
    }
    EXPECT_TRUE(arc_.status != kOk || complete < entries.size());
  }
}

// Every file, directory, seek, read, write and allocation of a run is made
// to fail in turn. A clean run notes how many calls of the kind were made
// before each entry was shown to the host; a failure at a later call belongs
// to the last entry shown before it, or to the listing ahead of them all. The
// run must end with that kind's status and leave exactly the entries before
// the failing one, each complete.
TEST_P(Extract, AnyFailingPrimitiveLeavesExactlyTheEntriesBeforeIt) {
  const std::vector<Entry> entries = {
      {"a", TextBytes(5000, 1)}, Dir("d"), {"d\\b", TextBytes(300, 2), 0x20, 0}};
  const char* const paths[] = {"a", "d", "d/b"};
  Open(entries, Solid());
  using platform::Fault;
  struct Kind {
    Fault fault;
    uint32_t listing;  // the status of a failure while the archive is listed
    uint32_t entry;    // and while an entry is written
  };
  const Kind kinds[] = {
      {Fault::kOpen, kOpenFailed, kOpenFailed},      {Fault::kRead, kOpenFailed, kCrcMismatch},
      {Fault::kWrite, kShortWrite, kShortWrite},     {Fault::kSeek, kOpenFailed, kOpenFailed},
      {Fault::kCreateDir, kOpenFailed, kOpenFailed}, {Fault::kAlloc, kNoMemory, kNoMemory}};
  static std::vector<uint32_t>* shown_at = nullptr;
  static Fault counted = Fault::kOpen;
  std::vector<uint32_t> starts;
  shown_at = &starts;
  hooks_.file_name.proc = [](ArcContext, const char*, const char*) -> int32_t {
    shown_at->push_back(platform::FaultCalls(counted));
    return 0;
  };
  // One thread gives the serial path, where a failure belongs to the entry
  // shown last before it. With workers, entries are read (and their job's
  // memory taken) ahead of the entries before them; a failure there is
  // reported when that entry's turn comes, so the entries left are still
  // a prefix, with the status of the kind.
  for (const bool parallel : {false, true}) {
    SCOPED_TRACE(parallel ? "two threads" : "one thread");
    testing::SetEnv("ACEKIT_THREADS", parallel ? "2" : "1");
    for (const Kind& k : kinds) {
      fs::remove_all(Out());
      counted = k.fault;
      starts.clear();
      platform::DisarmFaults();
      ASSERT_EQ(Unpack(), kOk);
      ASSERT_EQ(starts.size(), entries.size());
      const uint32_t calls = platform::FaultCalls(k.fault);
      const std::vector<uint32_t> clean_starts = starts;
      for (uint32_t n = 1; n <= calls; ++n) {
        SCOPED_TRACE(::testing::Message()
                     << "fault " << static_cast<int>(k.fault) << " call " << n);
        fs::remove_all(Out());
        platform::DisarmFaults();
        platform::ArmFault(k.fault, n);
        Unpack();
        platform::DisarmFaults();
        // Entries that started before call n; the last of them is the one failing.
        size_t started = 0;
        while (started < clean_starts.size() && clean_starts[started] < n) ++started;
        size_t done = started == 0 ? 0 : started - 1;
        if (parallel) {
          done = 0;
          while (done < entries.size() && fs::exists(Out() / paths[done])) ++done;
          EXPECT_LT(done, entries.size());
          EXPECT_TRUE(arc_.status == k.listing || arc_.status == k.entry) << arc_.status;
        } else {
          EXPECT_EQ(arc_.status, started == 0 ? k.listing : k.entry);
        }
        for (size_t i = 0; i < entries.size(); ++i) {
          EXPECT_EQ(fs::exists(Out() / paths[i]), i < done) << paths[i];
          if (i < done && entries[i].attr != 0x10) {
            EXPECT_TRUE(dir_.Read(std::string("out/") + paths[i]) == entries[i].data) << paths[i];
          }
        }
      }
    }
  }
  testing::UnsetEnv("ACEKIT_THREADS");
  shown_at = nullptr;
}

// The list of entries a host asks for, with and without information.
TEST_F(ExtractTest, EntryListSelectsByMaskAndComputesInformationOnlyWhenAsked) {
  using enum ops::ArcInfoRequest;
  const std::vector<std::string> all = {"a.txt", "b.dat", "docs\\c.txt", "docs\\", ""};
  // {mask (null: no list), word 2 of the extra features, request, names
  // ("" stands for the recovery header), whether information is computed}
  const std::tuple<const char*, int32_t, ops::ArcInfoRequest, std::vector<std::string>, bool>
      cases[] = {{nullptr, 0, kIfAsked, all, false},
                 {"*.TXT", 0, kIfAsked, {"a.txt", ""}, false},
                 {"docs\\*.*", 1, kIfAsked, {"docs\\c.txt", "docs\\", ""}, true},
                 {"*.*", 1, kNever, all, false}};
  std::string bytes =
      BuildArchive({{"a.txt", "a"}, {"b.dat", "b"}, {"docs\\c.txt", "c"}, Dir("docs")}, false);
  bytes += std::string("\x00\x00\x07\x00\x02\x00\x00\x00\x00\x00\x00", 11);
  for (const auto& [mask, ask_info, request, want, info] : cases) {
    Open(bytes);
    std::fill(std::begin(arc_info_), std::end(arc_info_), 0);
    features_[2] = ask_info;
    FileMaskList masks{};
    if (mask != nullptr) select::AppendMask(arc_, mask, &masks);
    ArcFileList list{};
    ops::BuildArchiveList(Ctx(), &list, mask ? &masks : nullptr, request);
    EXPECT_EQ(arc_.status, kOk);
    std::vector<std::string> names;
    for (const ArcEntry* e = list.first; e != nullptr; e = e->next) names.emplace_back(e->name);
    EXPECT_EQ(names, want);
    EXPECT_EQ(list.count, static_cast<int32_t>(want.size()));
    EXPECT_EQ(arc_.info_valid != 0, info);
    EXPECT_EQ(arc_info_[9], info ? list.count : 0);
    format::DoneEntryList(&list);
    select::DoneMaskList(&masks);
  }
}

// The archive can vanish between opening and any later operation.
TEST_F(ExtractTest, VanishedArchiveReportsOpenFailed) {
  Open({{"a.txt", "a"}}, false);
  fs::remove(root_ / "a.ace");
  EXPECT_EQ(Unpack(), kOpenFailed);
  arc_.status = kOk;
  arc_.status = ops::TestArc(Ctx());
  EXPECT_EQ(arc_.status, kOpenFailed);
  EXPECT_FALSE(fs::exists(Out()));
}

}  // namespace
}  // namespace acekit::extract_test
