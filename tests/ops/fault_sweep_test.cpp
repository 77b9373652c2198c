// Every operation that rewrites an archive, run with one failure injected at
// each call of each primitive in turn. Whatever fails, the operation either
// succeeds with an archive that tests clean and holds what it should, or
// ends with the status that failure stands for, the old archive untouched,
// and no temporary archive or working directory left behind. Either way the
// archive keeps its owner-only mode, and a link to it stays a link.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/status.h"
#include "format/header_search.h"
#include "format/name_text.h"
#include "ops/comments.h"
#include "ops/create.h"
#include "ops/delete.h"
#include "ops/directory.h"
#include "ops/entry_walk.h"
#include "ops/extract.h"
#include "ops/open_archive.h"
#include "ops/write_host.h"
#include "platform/platform.h"

namespace acekit::ops {
namespace {

using acekit::testing::Masks;
using acekit::testing::RandomBytes;
using acekit::testing::ScopedTempEnv;
using acekit::testing::TempDir;
using acekit::testing::TextBytes;
using platform::Fault;
namespace fs = std::filesystem;

// The mode the archives of these sweeps have; a rebuild must keep it.
constexpr fs::perms kArchiveMode = fs::perms(0600);

void ExpectArchiveMode(const fs::path& archive, const std::string& where) {
#if !defined(_WIN32)
  EXPECT_EQ(fs::status(archive).permissions(), kArchiveMode) << where << ": mode changed";
#else
  (void)archive;
  (void)where;
#endif
}

void SetArchiveMode(const fs::path& archive) {
#if !defined(_WIN32)
  fs::permissions(archive, kArchiveMode);
#else
  (void)archive;
#endif
}

// One library state, as the api layer keeps it, for ops called directly:
// a new archive, or an existing one opened as InitArcFile opens it.
struct State {
  format::ArcState arc;
  format::Settings settings;
  HostHooks hooks;
  int32_t arc_info[23] = {};
  int32_t extra[12] = {};
  Context ctx{arc, settings, hooks, arc_info, extra};

  State() { settings.desc = format::kArcerDefaults; }
  ~State() { platform::Free(arc.main_comment); }
  void Open(const std::string& name) {
    platform::Free(arc.main_comment);
    arc = format::ArcState{};
    ASSERT_EQ(OpenArchive(arc, name.c_str()), kOk);
  }
  void Create(const std::string& name) {
    arc = format::ArcState{};
    arc.new_archive = 1;
    format::CopyText(arc.archive_name, sizeof arc.archive_name, name);
  }
  // Entry names with their file comments ("" for none).
  std::map<std::string, std::string> Entries() {
    arc.read_file_comments = 1;
    ArcFileList list{};
    BuildArchiveList(ctx, &list, nullptr, ArcInfoRequest::kNever);
    std::map<std::string, std::string> out;
    for (const ArcEntry* e = list.first; e != nullptr; e = e->next) {
      out[e->name] = e->comment != nullptr ? e->comment : "";
    }
    format::DoneEntryList(&list);
    return out;
  }
};

struct Kind {
  Fault fault;
  const char* name;
  std::set<uint32_t> allowed;  // the statuses a failure of this kind may end with
};

// Runs `op` with the n-th call of `fault` failing (n = 0: none). Counts stay
// readable afterwards; only the countdown is cleared.
template <class Op>
void WithFault(Fault fault, uint32_t n, Op op) {
  platform::DisarmFaults();
  if (n != 0) platform::ArmFault(fault, n);
  op();
  if (n != 0) platform::ArmFault(fault, 0);
}

// A clean run counts the calls of each kind; then each of them fails in
// turn, from the state restore() puts back; a last clean run is checked too.
template <class Test>
void Sweep(const std::vector<Kind>& kinds, Test& t) {
  for (const Kind& k : kinds) {
    t.Restore();
    ASSERT_EQ(t.Run(k.fault, 0), kOk) << "clean run";
    const uint32_t calls = platform::FaultCalls(k.fault);
    for (uint32_t n = 1; n <= calls; ++n) {
      t.Restore();
      t.CheckOutcome(t.Run(k.fault, n), k.allowed, std::string(k.name) + " #" + std::to_string(n));
      if (::testing::Test::HasFailure()) return;
    }
    t.Restore();
    t.CheckOutcome(t.Run(k.fault, 0), k.allowed, std::string(k.name) + " clean run");
  }
  platform::DisarmFaults();
}

enum class Op { kCreate, kUpdate, kDelete };

struct SweepCase {
  const char* what;
  Op op;
  bool solid;
  std::vector<std::string> expected;  // entry names after a successful run
  bool via_link = false;              // the operation names the archive through a link
  // Threads of the compressor; with more than one, A.TXT is large enough
  // for the workers to parse segments of it, and C.TXT is incompressible,
  // so that N.TXT after it is parsed ahead as a fresh run.
  int threads = 1;
};

// ACEKIT_THREADS for one scope.
class ScopedThreads {
 public:
  explicit ScopedThreads(int n) { acekit::testing::SetEnv("ACEKIT_THREADS", std::to_string(n)); }
  ~ScopedThreads() { acekit::testing::UnsetEnv("ACEKIT_THREADS"); }
  ScopedThreads(const ScopedThreads&) = delete;
  ScopedThreads& operator=(const ScopedThreads&) = delete;
};

class FaultSweep : public ::testing::TestWithParam<SweepCase> {
 public:
  void SetUp() override {
#if defined(_WIN32)
    if (GetParam().via_link) GTEST_SKIP() << "no links to make";
#endif
    src_.Write("in\\A.TXT", TextBytes(GetParam().threads > 1 ? 150000 : 3000, 1));
    src_.Write("in\\B.EXE", TextBytes(2000, 2));
    src_.Write("in\\C.TXT", GetParam().threads > 1 ? RandomBytes(1500, 3) : TextBytes(1500, 3));
    src_.Write("in\\N.TXT", TextBytes(1000, 4));
    archive_ = src_.Lib("arc\\X.ACE");
    src_.MakeDir("arc");
    src_.MakeDir("tmp");
    src_.MakeDir("link");
    if (GetParam().via_link) fs::create_symlink("../arc/X.ACE", src_.Native("link/L.ACE"));
    if (GetParam().op != Op::kCreate) {
      // The archive every update and deletion starts from.
      State s;
      s.Create(archive_);
      s.settings.desc.mode() = GetParam().solid ? 4 : 0;
      Input(s);
      Masks items({"A.TXT", "B.EXE", "C.TXT"});
      s.arc.status = CompressFileMaskList(s.ctx, items.get());
      ASSERT_EQ(s.arc.status, kOk);
      SetArchiveMode(src_.Native("arc/X.ACE"));
      before_ = src_.Read("arc\\X.ACE");
    }
  }

  void Input(State& s) {
    format::CopyText(s.settings.input_path, format::kPathSize, src_.Lib("in"));
    format::AppendText(s.settings.input_path, format::kPathSize, "\\");
  }

  // One run of the operation on a fresh state, with the n-th call of
  // `fault` failing (n = 0: none); returns its status. Only the operation's
  // own calls are counted.
  uint32_t Run(Fault fault, uint32_t n) {
    State s;
    const SweepCase& c = GetParam();
    ScopedThreads threads(c.threads);
    if (c.op == Op::kCreate) {
      s.Create(archive_);
      s.settings.desc.mode() = c.solid ? 4 : 0;
    } else {
      s.Open(c.via_link ? src_.Lib("link\\L.ACE") : archive_);
    }
    Input(s);
    Masks masks({"B.EXE"});
    Masks items({"N.TXT", "A.TXT", "C.TXT"});
    WithFault(fault, n, [&] {
      if (c.op == Op::kDelete) {
        s.arc.status = DeleteFileMaskList(s.ctx, masks.get());
      } else {
        s.arc.status = CompressFileMaskList(s.ctx, items.get());
      }
    });
    return s.arc.status;
  }

  void Restore() {
    if (GetParam().op == Op::kCreate) {
      std::filesystem::remove(src_.Native("arc\\X.ACE"));
    } else {
      src_.Write("arc\\X.ACE", before_);
      SetArchiveMode(src_.Native("arc/X.ACE"));
    }
  }

  void CheckOutcome(uint32_t status, const std::set<uint32_t>& allowed, const std::string& where) {
    EXPECT_EQ(src_.List("tmp"), std::vector<std::string>{}) << where << ": working directory left";
    EXPECT_EQ(src_.List("arc").size(), src_.Exists("arc\\X.ACE") ? 1u : 0u)
        << where << ": temporary archive left";
    if (GetParam().via_link) {
      EXPECT_EQ(src_.List("link"), std::vector<std::string>{"L.ACE"}) << where;
      EXPECT_TRUE(fs::is_symlink(src_.Native("link/L.ACE"))) << where << ": link replaced";
    }
    if (GetParam().op != Op::kCreate) ExpectArchiveMode(src_.Native("arc/X.ACE"), where);
    if (status == kOk) {
      State s;
      s.Open(archive_);
      s.arc.status = TestArc(s.ctx);
      EXPECT_EQ(s.arc.status, kOk) << where;
      s.arc.status = kOk;
      std::vector<std::string> names;
      for (const auto& e : s.Entries()) names.push_back(e.first);
      EXPECT_EQ(names, GetParam().expected) << where;
      return;
    }
    EXPECT_TRUE(allowed.count(status)) << where << ": status " << status;
    if (GetParam().op == Op::kCreate) {
      EXPECT_FALSE(src_.Exists("arc\\X.ACE")) << where;
    } else {
      EXPECT_TRUE(src_.Read("arc\\X.ACE") == before_) << where << ": archive changed";
    }
  }

  TempDir src_;
  std::string archive_;
  std::string before_;
};

TEST_P(FaultSweep, EveryFailureLeavesAConsistentState) {
  ScopedTempEnv env(src_.Native("tmp").string());
  Sweep({{Fault::kOpen, "open", {kOpenFailed}},
         {Fault::kRead, "read", {kOpenFailed, kCrcMismatch, kCorrupt}},
         {Fault::kWrite, "write", {kShortWrite, kWorkDirShortWrite}},
         {Fault::kSeek, "seek", {kOpenFailed, kCrcMismatch, kCorrupt}},
         {Fault::kRename, "rename", {kOpenFailed}},
         {Fault::kDelete, "delete", {}},
         {Fault::kCreateDir, "create-dir", {kWorkDirFailed, kOpenFailed}},
         {Fault::kAlloc, "alloc", {kNoMemory}}},
        *this);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, FaultSweep,
    ::testing::Values(
        SweepCase{"CreateNormal", Op::kCreate, false, {"A.TXT", "C.TXT", "N.TXT"}},
        SweepCase{"CreateSolid", Op::kCreate, true, {"A.TXT", "C.TXT", "N.TXT"}},
        SweepCase{"UpdateNormal", Op::kUpdate, false, {"A.TXT", "B.EXE", "C.TXT", "N.TXT"}},
        SweepCase{"UpdateSolid", Op::kUpdate, true, {"A.TXT", "B.EXE", "C.TXT", "N.TXT"}},
        SweepCase{"DeleteNormal", Op::kDelete, false, {"A.TXT", "C.TXT"}},
        SweepCase{"DeleteSolid", Op::kDelete, true, {"A.TXT", "C.TXT"}},
        SweepCase{"UpdateNormalThroughALink",
                  Op::kUpdate,
                  false,
                  {"A.TXT", "B.EXE", "C.TXT", "N.TXT"},
                  true},
        SweepCase{"DeleteSolidThroughALink", Op::kDelete, true, {"A.TXT", "C.TXT"}, true},

        SweepCase{
            "CreateNormalTwoThreads", Op::kCreate, false, {"A.TXT", "C.TXT", "N.TXT"}, false, 2},
        SweepCase{
            "CreateSolidTwoThreads", Op::kCreate, true, {"A.TXT", "C.TXT", "N.TXT"}, false, 2},
        SweepCase{"UpdateNormalTwoThreads",
                  Op::kUpdate,
                  false,
                  {"A.TXT", "B.EXE", "C.TXT", "N.TXT"},
                  false,
                  2},
        SweepCase{"UpdateSolidTwoThreads",
                  Op::kUpdate,
                  true,
                  {"A.TXT", "B.EXE", "C.TXT", "N.TXT"},
                  false,
                  2}),
    [](const auto& info) { return std::string(info.param.what); });

// The comment rewrites and the added directory entry, on an archive with
// leading bytes, a main comment and a file comment.
enum class Rewrite { kSetMain, kRemoveMain, kSetFile, kRemoveFile, kAddDirectory };

struct RewriteCase {
  const char* what;
  Rewrite op;
  std::string main;                            // main comment afterwards
  std::map<std::string, std::string> entries;  // name and file comment afterwards
};

const std::string kNewMain = TextBytes(5000, 31);
const std::string kNewFile = TextBytes(1000, 32);

class CommentFaultSweep : public testing::ArchiveTest,
                          public ::testing::WithParamInterface<RewriteCase> {
 public:
  void SetUp() override {
    Make({"A.TXT", "B.TXT"});
    ASSERT_EQ(testing::SetMain(arc_, "old main"), 0);
    ASSERT_EQ(testing::SetFileComments(arc_, {"B.TXT"}, "old file"), 0);
    // Leading bytes in front of the main header must come through too.
    before_ = std::string(1000, 'S') + Bytes();
  }

  void Restore() {
    dir_.Write("arc\\x.ace", before_);
    SetArchiveMode(dir_.Native("arc/x.ace"));
  }
  uint32_t Run(Fault fault, uint32_t n) {
    State s;
    s.Open(arc_);
    testing::Masks names({"b.txt"});
    std::string main_text = kNewMain, file_text = kNewFile;
    CommentRec set{main_text.data(), static_cast<int32_t>(main_text.size()), 0, {}};
    CommentRec set_file{file_text.data(), static_cast<int32_t>(file_text.size()), 0, {}};
    CommentRec none{nullptr, 0, 0, {}};
    const Rewrite op = GetParam().op;
    WithFault(fault, n, [&] {
      if (op == Rewrite::kSetMain || op == Rewrite::kRemoveMain) {
        s.arc.status = SetMainComment(s.ctx, op == Rewrite::kSetMain ? &set : &none);
      } else if (op == Rewrite::kAddDirectory) {
        s.arc.status = CreateDirectoryEntry(s.ctx, "DOCS");
      } else {
        s.ctx.arc.status =
            SetFileComments(s.ctx, names.get(), op == Rewrite::kSetFile ? &set_file : &none);
      }
    });
    return s.arc.status;
  }

  void CheckOutcome(uint32_t status, const std::set<uint32_t>& allowed, const std::string& where) {
    SCOPED_TRACE(where);
    ExpectArchiveMode(dir_.Native("arc/x.ace"), where);
    if (status != kOk) {
      EXPECT_TRUE(allowed.count(status)) << "status " << status;
      return ExpectUnchanged();
    }
    EXPECT_EQ(dir_.List("arc"), std::vector<std::string>{"x.ace"}) << "file left";
    EXPECT_EQ(Bytes().substr(0, 1000), before_.substr(0, 1000));
    State s;
    s.Open(arc_);
    const std::string main(s.arc.main_comment != nullptr ? s.arc.main_comment : "",
                           static_cast<size_t>(s.arc.main_comment_length));
    EXPECT_TRUE(main == GetParam().main) << "main comment";
    s.arc.status = TestArc(s.ctx);
    EXPECT_EQ(s.arc.status, kOk);
    s.arc.status = kOk;
    EXPECT_EQ(s.Entries(), GetParam().entries);
  }
};

TEST_P(CommentFaultSweep, EveryFailureLeavesAConsistentArchive) {
  Sweep({{Fault::kOpen, "open", {kOpenFailed}},
         {Fault::kRead, "read", {kOpenFailed}},
         {Fault::kWrite, "write", {kShortWrite}},
         {Fault::kSeek, "seek", {kOpenFailed}},
         {Fault::kRename, "rename", {kOpenFailed}},
         {Fault::kDelete, "delete", {}},
         {Fault::kAlloc, "alloc", {kNoMemory}}},
        *this);
}

INSTANTIATE_TEST_SUITE_P(
    Rewrites, CommentFaultSweep,
    ::testing::Values(
        RewriteCase{"SetMain", Rewrite::kSetMain, kNewMain, {{"A.TXT", ""}, {"B.TXT", "old file"}}},
        RewriteCase{"RemoveMain", Rewrite::kRemoveMain, "", {{"A.TXT", ""}, {"B.TXT", "old file"}}},
        RewriteCase{"SetFile", Rewrite::kSetFile, "old main", {{"A.TXT", ""}, {"B.TXT", kNewFile}}},
        RewriteCase{"RemoveFile", Rewrite::kRemoveFile, "old main", {{"A.TXT", ""}, {"B.TXT", ""}}},
        RewriteCase{"AddDirectory",
                    Rewrite::kAddDirectory,
                    "old main",
                    {{"A.TXT", ""}, {"B.TXT", "old file"}, {"DOCS\\", ""}}}),
    [](const auto& info) { return std::string(info.param.what); });

// Extraction over files already there, the host answering "replace": a
// failure at any call, the temporary file's creation and its rename
// included, leaves each file either as it was or complete, and no temporary
// file anywhere in the output folder.
class ExtractFaultSweep : public ::testing::TestWithParam<bool> {
 public:
  void SetUp() override {
    for (const auto& [name, seed] : kFiles) src_.Write("in\\" + name, TextBytes(2500, seed));
    archive_ = src_.Lib("X.ACE");
    State s;
    s.Create(archive_);
    s.settings.desc.mode() = GetParam() ? 4 : 0;
    format::CopyText(s.settings.input_path, format::kPathSize, src_.Lib("in") + "\\");
    s.settings.options = format::kOptKeepPaths;
    Masks items({"A.TXT", "B.EXE", "SUB\\D.TXT"});
    s.arc.status = CompressFileMaskList(s.ctx, items.get());
    ASSERT_EQ(s.arc.status, kOk);
  }

  void Restore() {
    std::filesystem::remove_all(src_.Native("out"));
    src_.Write("out\\A.TXT", "old A");
    src_.Write("out\\B.EXE", "old B");
  }

  uint32_t Run(Fault fault, uint32_t n) {
    State s;
    s.Open(archive_);
    format::CopyText(s.settings.output_path, format::kPathSize, src_.Lib("out") + "\\");
    s.settings.options = format::kOptKeepPaths;
    testing::Host host;
    host.answer = 0;
    s.hooks.replace = {testing::Host::OnReplace, reinterpret_cast<ArcContext>(&host)};
    WithFault(fault, n, [&] { s.arc.status = ExtractFileMaskListArc(s.ctx, nullptr); });
    return s.arc.status;
  }

  void CheckOutcome(uint32_t status, const std::set<uint32_t>& allowed, const std::string& where) {
    SCOPED_TRACE(where);
    EXPECT_TRUE(status == kOk || allowed.count(status)) << "status " << status;
    for (const auto& [name, seed] : kFiles) {
      const std::string path = "out\\" + name;
      const std::string now = src_.Exists(path) ? src_.Read(path) : "";
      const std::string old = name == "SUB\\D.TXT" ? "" : "old " + name.substr(0, 1);
      const std::string fresh = TextBytes(2500, seed);
      // A failed read may also end the entry walk early without a status;
      // that is the walk's business, not this sweep's.
      EXPECT_TRUE(now == fresh || now == old) << name;
    }
    for (const auto& e : std::filesystem::recursive_directory_iterator(src_.Native("out"))) {
      EXPECT_NE(e.path().filename().string().rfind(".acekit-", 0), 0u) << "temporary file left";
    }
  }

 private:
  const std::vector<std::pair<std::string, unsigned>> kFiles = {
      {"A.TXT", 1}, {"B.EXE", 2}, {"SUB\\D.TXT", 3}};
  TempDir src_;
  std::string archive_;
};

TEST_P(ExtractFaultSweep, EveryFailureLeavesEachFileOldOrComplete) {
  Sweep({{Fault::kOpen, "open", {kOpenFailed}},
         {Fault::kRead, "read", {kOpenFailed, kCrcMismatch, kCorrupt}},
         {Fault::kWrite, "write", {kShortWrite}},
         {Fault::kSeek, "seek", {kOpenFailed, kCrcMismatch, kCorrupt}},
         {Fault::kRename, "rename", {kOpenFailed}},
         {Fault::kDelete, "delete", {}},
         {Fault::kCreateDir, "create-dir", {kOpenFailed}},
         {Fault::kAlloc, "alloc", {kNoMemory}}},
        *this);
}

INSTANTIATE_TEST_SUITE_P(NormalAndSolid, ExtractFaultSweep, ::testing::Bool());

}  // namespace
}  // namespace acekit::ops
