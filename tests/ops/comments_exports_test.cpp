// Main and file comments through the exports: setting, reading back,
// removing, the limits, and what the rewrites must leave alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "api/status.h"
#include "ops/comments_host.h"

namespace acekit::testing {
namespace {

// An archive of A.TXT, B.TXT and C.EXE.
class CommentArchive : public ::testing::Test {
 protected:
  void Make(int32_t mode) {
    dir_.Write("in\\A.TXT", TextBytes(3000, 1));
    dir_.Write("in\\B.TXT", TextBytes(2000, 2));
    dir_.Write("in\\C.EXE", TextBytes(1000, 3));
    dir_.MakeDir("arc");
    arc_ = dir_.Lib("arc\\x.ace");
    ASSERT_EQ(CreateWith(arc_, dir_.Lib("in"), {"A.TXT", "B.TXT", "C.EXE"}, {mode}), 0);
  }
  std::string Bytes() const { return dir_.Read("arc\\x.ace"); }
  void ExpectIntact() {
    EXPECT_EQ(TestStatus(arc_), 0);
    std::vector<std::string> names = ListNames(arc_);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"A.TXT", "B.TXT", "C.EXE"}));
    EXPECT_EQ(dir_.List("arc"), std::vector<std::string>{"x.ace"}) << "temporary file left";
  }

  TempDir dir_;
  std::string arc_;
};

// Normal (0) or solid (4) by parameter.
class Comments : public CommentArchive, public ::testing::WithParamInterface<int32_t> {
 protected:
  void SetUp() override { Make(GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(Modes, Comments, ::testing::Values(0, 4),
                         [](const auto& info) { return info.param == 4 ? "Solid" : "Normal"; });

struct LimitCase {
  const char* what;
  bool main;
  size_t length;
  uint16_t status;
};

class NormalArchive : public CommentArchive {
 protected:
  void SetUp() override { Make(0); }
};

class CommentLimits : public NormalArchive, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(Comments, MainCommentIsReadBackWhenTheArchiveIsOpened) {
  ASSERT_EQ(SetMain(arc_, "Release 1.0\r\nBuilt by the nightly job."), 0);
  const MainComment c = ReadMain(arc_);
  EXPECT_EQ(c.text, "Release 1.0\r\nBuilt by the nightly job.");
  EXPECT_EQ(c.read_flag, 1);
  EXPECT_NE(Parse(Bytes()).main_flags & 0x0002, 0u);
  ExpectIntact();
}

TEST_P(Comments, ReplacingAndRemovingTheMainComment) {
  ASSERT_EQ(SetMain(arc_, "first"), 0);
  ASSERT_EQ(SetMain(arc_, "second, and longer than the first"), 0);
  EXPECT_EQ(ReadMain(arc_).text, "second, and longer than the first");

  InitArcFile(arc_.c_str());
  CommentRec none{nullptr, 0, 0, {}};
  SetMainCommentArc(&none);
  EXPECT_EQ(GetArchiveStatus(), 0);
  // Until the archive is opened again the host still reads the old text.
  EXPECT_EQ(HeldMain().text, "second, and longer than the first");
  DoneArcFile();

  const MainComment gone = ReadMain(arc_);
  EXPECT_FALSE(gone.present);
  EXPECT_EQ(gone.read_flag, 0);
  const ParsedArchive p = Parse(Bytes());
  EXPECT_EQ(p.main_flags & 0x0002, 0u);
  EXPECT_EQ(p.main_size, 31u);
  ExpectIntact();
}

TEST_P(Comments, MainCommentSurvivesUpdatesAndDeletions) {
  ASSERT_EQ(SetMain(arc_, "kept through every rebuild"), 0);
  dir_.Write("more\\D.TXT", TextBytes(1500, 4));
  ASSERT_EQ(UpdateWith(arc_, dir_.Lib("more"), {"D.TXT"}), 0);
  EXPECT_EQ(ReadMain(arc_).text, "kept through every rebuild");
  ASSERT_EQ(DeleteWith(arc_, {"B.TXT"}), 0);
  EXPECT_EQ(ReadMain(arc_).text, "kept through every rebuild");
  EXPECT_EQ(TestStatus(arc_), 0);
}

TEST_P(Comments, AnUpdateInTheSameSessionSeesTheRewrittenHeader) {
  InitArcFile(arc_.c_str());
  std::string text(3000, 'c');
  CommentRec rec{text.data(), static_cast<int32_t>(text.size()), 0, {}};
  SetMainCommentArc(&rec);
  ASSERT_EQ(GetArchiveStatus(), 0);
  dir_.Write("more\\D.TXT", TextBytes(1500, 4));
  SetInputPath(dir_.Lib("more").c_str());
  Masks items({"D.TXT"});
  CompressFileMaskListArc(items.get());
  EXPECT_EQ(GetArchiveStatus(), 0);
  DoneArcFile();
  EXPECT_EQ(ReadMain(arc_).text, text);
  EXPECT_EQ(TestStatus(arc_), 0);
  EXPECT_EQ(ListNames(arc_).size(), 4u);
}

TEST_P(Comments, LeadingBytesSurviveACommentRewrite) {
  const std::string stub(1000, '\x90');
  const std::string original = Bytes();
  dir_.Write("arc\\x.ace", stub + original);
  ASSERT_EQ(SetMain(arc_, "behind a stub"), 0);
  EXPECT_EQ(Bytes().substr(0, 1000), stub);
  EXPECT_EQ(ReadMain(arc_).text, "behind a stub");
  EXPECT_EQ(TestStatus(arc_), 0);
  InitArcFile(arc_.c_str());
  CommentRec none{nullptr, 0, 0, {}};
  SetMainCommentArc(&none);
  EXPECT_EQ(GetArchiveStatus(), 0);
  DoneArcFile();
  EXPECT_EQ(Bytes().substr(0, 1000), stub);
  EXPECT_EQ(TestStatus(arc_), 0);
}

TEST_P(Comments, FileCommentsGoOnlyToTheNamedEntries) {
  const std::string before = Bytes();
  // Upper case in the list matches whatever case is stored; the list's
  // names are taken literally otherwise.
  ASSERT_EQ(SetFileComments(arc_, {"b.txt"}, "the second file"), 0);
  using Comments = std::map<std::string, std::string>;
  EXPECT_EQ(Commented(arc_),
            (Comments{{"A.TXT", ""}, {"B.TXT", "the second file"}, {"C.EXE", ""}}));
  ExpectIntact();

  // Entries other than the named one are copied byte for byte, and the
  // named one keeps its data.
  const std::string after = Bytes();
  const ParsedArchive old_p = Parse(before);
  const ParsedArchive new_p = Parse(after);
  ASSERT_TRUE(new_p.ok);
  ASSERT_EQ(new_p.entries.size(), old_p.entries.size());
  for (size_t i = 0; i < new_p.entries.size(); ++i) {
    const ParsedEntry& o = old_p.entries[i];
    const ParsedEntry& n = new_p.entries[i];
    ASSERT_EQ(n.name, o.name);
    EXPECT_EQ(after.substr(n.data, n.pack), before.substr(o.data, o.pack)) << n.name;
    if (n.name != "B.TXT") {
      EXPECT_EQ(after.substr(n.offset, n.data - n.offset),
                before.substr(o.offset, o.data - o.offset))
          << n.name;
    }
  }

  ASSERT_EQ(SetFileComments(arc_, {"B.TXT"}, ""), 0);
  EXPECT_TRUE(Bytes() == before) << "removal restores the original header";
}

TEST_P(Comments, WildcardsInTheListAreTakenLiterally) {
  const std::string before = Bytes();
  ASSERT_EQ(SetFileComments(arc_, {"*.TXT", "?.EXE"}, "nobody gets this"), 0);
  EXPECT_TRUE(Bytes() == before);
}

TEST_P(Comments, FileCommentsAreListedOnlyWhenAsked) {
  ASSERT_EQ(SetFileComments(arc_, {"A.TXT", "C.EXE"}, "note"), 0);
  InitArcFile(arc_.c_str());
  ArcFileList list;
  InitArcFileList(&list);
  Masks all;
  BuildArcFileList(&list, all.get());
  for (const ArcEntry* e = list.first; e != nullptr; e = e->next) {
    EXPECT_EQ(e->comment, nullptr) << e->name;
    EXPECT_EQ(e->comment_length, 0);
  }
  DoneArcFileList(&list);
  DoneArcFile();
  EXPECT_EQ(Commented(arc_)["C.EXE"], "note");
}

// A solid rebuild compresses files anew and keeps none of their headers.
TEST_F(NormalArchive, FileCommentsSurviveAnUpdate) {
  ASSERT_EQ(SetFileComments(arc_, {"A.TXT"}, "stays"), 0);
  dir_.Write("more\\D.TXT", TextBytes(1500, 4));
  ASSERT_EQ(UpdateWith(arc_, dir_.Lib("more"), {"D.TXT"}), 0);
  EXPECT_EQ(Commented(arc_)["A.TXT"], "stays");
}

TEST_P(CommentLimits, LongestCommentsRoundTripOneByteMoreIsRefused) {
  const LimitCase& c = GetParam();
  const std::string before = Bytes();
  std::string text = TextBytes(c.length, 21);
  const uint16_t st = c.main ? SetMain(arc_, text) : SetFileComments(arc_, {"A.TXT"}, text);
  ASSERT_EQ(st, c.status);
  if (c.status != 0) {
    EXPECT_TRUE(Bytes() == before);
    return;
  }
  EXPECT_EQ(c.main ? ReadMain(arc_).text : Commented(arc_)["A.TXT"], text);
  ExpectIntact();
}

INSTANTIATE_TEST_SUITE_P(Limits, CommentLimits,
                         ::testing::Values(LimitCase{"Main32766", true, 32766, 0},
                                           LimitCase{"Main32767", true, 32767, kMainCommentTooLong},
                                           LimitCase{"File4096", false, 4096, 0},
                                           LimitCase{"File4097", false, 4097, kFileCommentTooLong}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST_P(Comments, NegativeLengthsAreRefused) {
  const std::string before = Bytes();
  InitArcFile(arc_.c_str());
  char text[] = "x";
  CommentRec rec{text, -1, 0, {}};
  SetMainCommentArc(&rec);
  EXPECT_EQ(GetArchiveStatus(), kMainCommentTooLong);
  Masks names({"A.TXT"});
  SetFileCommentsArc(names.get(), &rec);
  EXPECT_EQ(GetArchiveStatus(), kFileCommentTooLong);
  DoneArcFile();
  EXPECT_TRUE(Bytes() == before);
}

TEST_P(Comments, CommentsAreReadInTheAnsiPageUnlessTheHostWroteThem) {
  // 0x82 is e-acute in the OEM page; the library writes comments as given.
  ASSERT_EQ(SetMain(arc_, "caf\x82"), 0);
  ASSERT_EQ(SetFileComments(arc_, {"A.TXT"}, "caf\x82"), 0);
  char want[16];
  platform::OemToChar("caf\x82", want, sizeof want);
  EXPECT_EQ(ReadMain(arc_).text, want);
  EXPECT_EQ(Commented(arc_)["A.TXT"], want);

  // An archive whose header names host system 2 keeps the bytes.
  std::string a = Bytes();
  PatchMainHeader(a, 16, 2);
  dir_.Write("arc\\x.ace", a);
  EXPECT_EQ(ReadMain(arc_).text, "caf\x82");
  EXPECT_EQ(Commented(arc_)["A.TXT"], "caf\x82");
}

TEST_P(Comments, GetMainCommentWithoutACommentGivesNoText) {
  const MainComment c = ReadMain(arc_);
  EXPECT_FALSE(c.present);
  EXPECT_EQ(c.read_flag, 0);
}

}  // namespace
}  // namespace acekit::testing
