// The rewrites of this layer (main and file comments set or removed, a
// directory entry added), run with one failure injected at each call of each
// primitive in turn. Every run either rewrites the archive correctly or ends
// with the status of that failure and the archive untouched; no temporary
// file is ever left beside it.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "api/status.h"
#include "format/header_search.h"
#include "format/names.h"
#include "ops/comments.h"
#include "ops/comments_host.h"
#include "ops/directory.h"
#include "ops/entry_list.h"
#include "ops/extract.h"
#include "select/masks.h"

namespace acekit::ops {
namespace {

using acekit::testing::TempDir;
using acekit::testing::TextBytes;
using platform::Fault;

// A library state of its own, opened as InitArcFile opens an archive.
struct State {
  ArcState arc;
  Settings settings;
  HostHooks hooks;
  int32_t arc_info[23] = {};
  int32_t extra[12] = {};
  Context ctx{arc, settings, hooks, arc_info, extra};

  explicit State(const std::string& name) {
    settings.desc = kArcerDefaults;
    const platform::Handle h = platform::Open(name.c_str(), 'r');
    EXPECT_NE(h, platform::kBadHandle);
    EXPECT_TRUE(FindMainHeader(h, arc));
    ReadMainComment(arc, h);
    FindFirstFileHeader(h, arc);
    platform::Close(h);
    arc.status = kOk;
    CopyText(arc.archive_name, sizeof arc.archive_name, name);
  }
  ~State() { platform::Free(arc.main_comment); }
};

enum class Op { kSetMain, kRemoveMain, kSetFile, kRemoveFile, kAddDirectory };

struct SweepCase {
  const char* what;
  Op op;
  std::string main;                            // main comment afterwards
  std::map<std::string, std::string> entries;  // name and file comment afterwards
};

const std::string kNewMain = TextBytes(5000, 31);
const std::string kNewFile = TextBytes(1000, 32);

class CommentFaultSweep : public ::testing::TestWithParam<SweepCase> {
 protected:
  void SetUp() override {
    dir_.Write("in\\A.TXT", TextBytes(3000, 1));
    dir_.Write("in\\B.TXT", TextBytes(2000, 2));
    dir_.MakeDir("arc");
    archive_ = dir_.Lib("arc\\x.ace");
    ASSERT_EQ(testing::CreateWith(archive_, dir_.Lib("in"), {"A.TXT", "B.TXT"}), 0);
    ASSERT_EQ(testing::SetMain(archive_, "old main"), 0);
    ASSERT_EQ(testing::SetFileComments(archive_, {"B.TXT"}, "old file"), 0);
    // Leading bytes in front of the main header must come through too.
    before_ = std::string(1000, 'S') + dir_.Read("arc\\x.ace");
  }

  uint32_t Run(Fault fault = Fault::kOpen, uint32_t n = 0) {
    State s(archive_);
    testing::Masks names({"b.txt"});
    std::string main_text = kNewMain;
    CommentRec set{main_text.data(), static_cast<int32_t>(main_text.size()), 0, {}};
    std::string file_text = kNewFile;
    CommentRec set_file{file_text.data(), static_cast<int32_t>(file_text.size()), 0, {}};
    CommentRec none{nullptr, 0, 0, {}};
    platform::DisarmFaults();
    if (n != 0) platform::ArmFault(fault, n);
    switch (GetParam().op) {
      case Op::kSetMain:
        SetMainComment(s.ctx, &set);
        break;
      case Op::kRemoveMain:
        SetMainComment(s.ctx, &none);
        break;
      case Op::kSetFile:
        SetFileComments(s.ctx, names.get(), &set_file);
        break;
      case Op::kRemoveFile:
        SetFileComments(s.ctx, names.get(), &none);
        break;
      case Op::kAddDirectory:
        CreateDirectoryEntry(s.ctx, "DOCS");
        break;
    }
    // Counts stay readable; only the countdown is cleared.
    if (n != 0) platform::ArmFault(fault, 0);
    return s.arc.status;
  }

  void CheckOutcome(uint32_t status, const std::set<uint32_t>& allowed, const std::string& where) {
    EXPECT_EQ(dir_.List("arc"), std::vector<std::string>{"x.ace"}) << where << ": file left";
    if (status != kOk) {
      EXPECT_TRUE(allowed.count(status)) << where << ": status " << status;
      EXPECT_TRUE(dir_.Read("arc\\x.ace") == before_) << where << ": archive changed";
      return;
    }
    const std::string after = dir_.Read("arc\\x.ace");
    EXPECT_EQ(after.substr(0, 1000), before_.substr(0, 1000)) << where;
    State s(archive_);
    const std::string main(s.arc.main_comment != nullptr ? s.arc.main_comment : "",
                           static_cast<size_t>(s.arc.main_comment_length));
    EXPECT_TRUE(main == GetParam().main) << where << ": main comment";
    TestArc(s.ctx);
    EXPECT_EQ(s.arc.status, kOk) << where;
    s.arc.status = kOk;
    s.arc.read_file_comments = 1;
    ArcFileList list{};
    BuildArchiveList(s.ctx, &list, nullptr, ArcInfoRequest::kNever);
    std::map<std::string, std::string> entries;
    for (const ArcEntry* e = list.first; e != nullptr; e = e->next) {
      entries[e->name] = e->comment != nullptr ? e->comment : "";
    }
    DoneEntryList(&list);
    EXPECT_EQ(entries, GetParam().entries) << where;
  }

  TempDir dir_;
  std::string archive_;
  std::string before_;
};

TEST_P(CommentFaultSweep, EveryFailureLeavesAConsistentArchive) {
  struct Kind {
    Fault fault;
    const char* name;
    std::set<uint32_t> allowed;
  };
  const Kind kinds[] = {
      {Fault::kOpen, "open", {kOpenFailed}},     {Fault::kRead, "read", {kOpenFailed}},
      {Fault::kWrite, "write", {kShortWrite}},   {Fault::kSeek, "seek", {kOpenFailed}},
      {Fault::kRename, "rename", {kOpenFailed}}, {Fault::kDelete, "delete", {}},
      {Fault::kAlloc, "alloc", {kNoMemory}},
  };
  for (const Kind& k : kinds) {
    dir_.Write("arc\\x.ace", before_);
    ASSERT_EQ(Run(), kOk) << "clean run";
    const uint32_t calls = platform::FaultCalls(k.fault);
    for (uint32_t n = 1; n <= calls; ++n) {
      dir_.Write("arc\\x.ace", before_);
      const uint32_t status = Run(k.fault, n);
      CheckOutcome(status, k.allowed, std::string(k.name) + " #" + std::to_string(n));
      if (HasFailure()) return;
    }
  }
  platform::DisarmFaults();
}

INSTANTIATE_TEST_SUITE_P(
    Rewrites, CommentFaultSweep,
    ::testing::Values(
        SweepCase{"SetMain", Op::kSetMain, kNewMain, {{"A.TXT", ""}, {"B.TXT", "old file"}}},
        SweepCase{"RemoveMain", Op::kRemoveMain, "", {{"A.TXT", ""}, {"B.TXT", "old file"}}},
        SweepCase{"SetFile", Op::kSetFile, "old main", {{"A.TXT", ""}, {"B.TXT", kNewFile}}},
        SweepCase{"RemoveFile", Op::kRemoveFile, "old main", {{"A.TXT", ""}, {"B.TXT", ""}}},
        SweepCase{"AddDirectory",
                  Op::kAddDirectory,
                  "old main",
                  {{"A.TXT", ""}, {"B.TXT", "old file"}, {"DOCS\\", ""}}}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace acekit::ops
