// Every operation that writes an archive, run with one failure injected at
// each call of each primitive in turn. Whatever fails, the operation either
// succeeds with an archive that tests clean and holds what it should, or
// ends with the status that failure stands for, the old archive untouched,
// and no temporary archive or working directory left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "api/status.h"
#include "format/header_search.h"
#include "format/names.h"
#include "ops/create.h"
#include "ops/delete.h"
#include "ops/entry_list.h"
#include "ops/extract.h"
#include "ops/write_fixture.h"
#include "platform/platform.h"
#include "select/masks.h"

namespace acekit::ops {
namespace {

using acekit::testing::ScopedTempEnv;
using acekit::testing::TempDir;
using acekit::testing::TextBytes;
using platform::Fault;

// One library state, as the api layer keeps it, for ops called directly.
struct State {
  ArcState arc;
  Settings settings;
  HostHooks hooks;
  int32_t arc_info[23] = {};
  int32_t extra[12] = {};
  Context ctx{arc, settings, hooks, arc_info, extra};

  State() { settings.desc = kArcerDefaults; }
  void Open(const std::string& name) {
    arc = ArcState{};
    const platform::Handle h = platform::Open(name.c_str(), 'r');
    ASSERT_NE(h, platform::kBadHandle);
    ASSERT_TRUE(FindMainHeader(h, arc));
    FindFirstFileHeader(h, arc);
    platform::Close(h);
    arc.status = kOk;
    CopyText(arc.archive_name, sizeof arc.archive_name, name);
  }
  void Create(const std::string& name) {
    arc = ArcState{};
    arc.new_archive = 1;
    CopyText(arc.archive_name, sizeof arc.archive_name, name);
  }
};

class MaskList {
 public:
  MaskList(std::initializer_list<const char*> items) {
    InitMaskList(&list_);
    ArcState st;
    for (const char* m : items) AppendMask(st, m, &list_);
  }
  ~MaskList() { DoneMaskList(&list_); }
  FileMaskList* get() { return &list_; }

 private:
  FileMaskList list_{};
};

std::vector<std::string> EntryNames(State& s) {
  ArcFileList list{};
  BuildArchiveList(s.ctx, &list, nullptr, ArcInfoRequest::kNever);
  std::vector<std::string> names;
  for (const ArcEntry* e = list.first; e != nullptr; e = e->next) names.emplace_back(e->name);
  DoneEntryList(&list);
  return names;
}

enum class Op { kCreate, kUpdate, kDelete };

struct SweepCase {
  const char* what;
  Op op;
  bool solid;
  std::vector<std::string> expected;  // entry names after a successful run
};

class FaultSweep : public ::testing::TestWithParam<SweepCase> {
 protected:
  void SetUp() override {
    src_.Write("in\\A.TXT", TextBytes(3000, 1));
    src_.Write("in\\B.EXE", TextBytes(2000, 2));
    src_.Write("in\\C.TXT", TextBytes(1500, 3));
    src_.Write("in\\N.TXT", TextBytes(1000, 4));
    archive_ = src_.Lib("arc\\X.ACE");
    src_.MakeDir("arc");
    src_.MakeDir("tmp");
    if (GetParam().op != Op::kCreate) {
      // The archive every update and deletion starts from.
      State s;
      s.Create(archive_);
      s.settings.desc.mode() = GetParam().solid ? 4 : 0;
      Input(s);
      MaskList items{"A.TXT", "B.EXE", "C.TXT"};
      CompressFileMaskList(s.ctx, items.get());
      ASSERT_EQ(s.arc.status, kOk);
      before_ = src_.Read("arc\\X.ACE");
    }
  }

  void Input(State& s) {
    CopyText(s.settings.input_path, kPathSize, src_.Lib("in"));
    AppendText(s.settings.input_path, kPathSize, "\\");
  }

  // One run of the operation on a fresh state, with the n-th call of
  // `fault` failing (n = 0: none); returns its status. Only the operation's
  // own calls are counted.
  uint32_t Run(Fault fault = Fault::kOpen, uint32_t n = 0) {
    State s;
    const SweepCase& c = GetParam();
    if (c.op == Op::kCreate) {
      s.Create(archive_);
      s.settings.desc.mode() = c.solid ? 4 : 0;
    } else {
      s.Open(archive_);
    }
    Input(s);
    MaskList masks{"B.EXE"};
    MaskList items{"N.TXT", "A.TXT", "C.TXT"};
    platform::DisarmFaults();
    if (n != 0) platform::ArmFault(fault, n);
    if (c.op == Op::kDelete) {
      DeleteFileMaskList(s.ctx, masks.get());
    } else {
      CompressFileMaskList(s.ctx, items.get());
    }
    // Counts stay readable; only the countdown is cleared.
    if (n != 0) platform::ArmFault(fault, 0);
    return s.arc.status;
  }

  void Restore() {
    if (GetParam().op == Op::kCreate) {
      std::filesystem::remove(src_.Native("arc\\X.ACE"));
    } else {
      src_.Write("arc\\X.ACE", before_);
    }
  }

  void CheckOutcome(uint32_t status, const std::set<uint32_t>& allowed, const std::string& where) {
    EXPECT_EQ(src_.List("tmp"), std::vector<std::string>{}) << where << ": working directory left";
    EXPECT_EQ(src_.List("arc").size(), src_.Exists("arc\\X.ACE") ? 1u : 0u)
        << where << ": temporary archive left";
    if (status == kOk) {
      State s;
      s.Open(archive_);
      TestArc(s.ctx);
      EXPECT_EQ(s.arc.status, kOk) << where;
      s.arc.status = kOk;
      std::vector<std::string> names = EntryNames(s);
      std::sort(names.begin(), names.end());
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
  struct Kind {
    Fault fault;
    const char* name;
    std::set<uint32_t> allowed;
  };
  const Kind kinds[] = {
      {Fault::kOpen, "open", {kOpenFailed}},
      {Fault::kRead, "read", {kOpenFailed, kCrcMismatch, kCorrupt}},
      {Fault::kWrite, "write", {kShortWrite, kWorkDirShortWrite}},
      {Fault::kSeek, "seek", {kOpenFailed, kCrcMismatch, kCorrupt}},
      {Fault::kRename, "rename", {kOpenFailed}},
      {Fault::kDelete, "delete", {}},
      {Fault::kCreateDir, "create-dir", {kWorkDirFailed, kOpenFailed}},
      {Fault::kAlloc, "alloc", {kNoMemory}},
  };
  for (const Kind& k : kinds) {
    Restore();
    ASSERT_EQ(Run(), kOk) << "clean run";
    const uint32_t calls = platform::FaultCalls(k.fault);
    for (uint32_t n = 1; n <= calls; ++n) {
      Restore();
      const uint32_t status = Run(k.fault, n);
      CheckOutcome(status, k.allowed, std::string(k.name) + " #" + std::to_string(n));
      if (HasFailure()) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, FaultSweep,
    ::testing::Values(
        SweepCase{"CreateNormal", Op::kCreate, false, {"A.TXT", "C.TXT", "N.TXT"}},
        SweepCase{"CreateSolid", Op::kCreate, true, {"A.TXT", "C.TXT", "N.TXT"}},
        SweepCase{"UpdateNormal", Op::kUpdate, false, {"A.TXT", "B.EXE", "C.TXT", "N.TXT"}},
        SweepCase{"UpdateSolid", Op::kUpdate, true, {"A.TXT", "B.EXE", "C.TXT", "N.TXT"}},
        SweepCase{"DeleteNormal", Op::kDelete, false, {"A.TXT", "C.TXT"}},
        SweepCase{"DeleteSolid", Op::kDelete, true, {"A.TXT", "C.TXT"}}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace acekit::ops
