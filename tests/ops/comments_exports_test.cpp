// Main and file comments through the exports: setting, reading back,
// removing, the limits, and what the rewrites must leave alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "common/status.h"
#include "ops/write_host.h"

namespace acekit::testing {
namespace {

// An archive of A.TXT, B.TXT and C.EXE, normal (mode 0) or solid (4).
class CommentArchive : public ArchiveTest {
 protected:
  void Make(int32_t mode) { ArchiveTest::Make({"A.TXT", "B.TXT", "C.EXE"}, {mode}); }
  void ExpectIntact() {
    EXPECT_EQ(TestStatus(arc_), 0);
    std::vector<std::string> names = ListNames(arc_);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"A.TXT", "B.TXT", "C.EXE"}));
    EXPECT_EQ(dir_.List("arc"), std::vector<std::string>{"x.ace"}) << "temporary file left";
  }
};

class Comments : public CommentArchive, public ::testing::WithParamInterface<int32_t> {
 protected:
  void SetUp() override { Make(GetParam()); }
};

ACEKIT_NORMAL_AND_SOLID(Comments);

class NormalArchive : public CommentArchive {
 protected:
  void SetUp() override { Make(0); }
};

TEST_P(Comments, MainCommentIsSetReplacedAndRemoved) {
  ASSERT_EQ(SetMain(arc_, "first"), 0);
  ASSERT_EQ(SetMain(arc_, "Release 1.0\r\nsecond, and longer than the first"), 0);
  const MainComment c = ReadMain(arc_);
  EXPECT_EQ(c.text, "Release 1.0\r\nsecond, and longer than the first");
  EXPECT_EQ(c.read_flag, 1);
  EXPECT_NE(Parse(Bytes()).main_flags & 0x0002, 0u);
  ExpectIntact();

  InitArcFile(arc_.c_str());
  CommentRec none{nullptr, 0, 0, {}};
  SetMainCommentArc(&none);
  EXPECT_EQ(GetArchiveStatus(), 0);
  // Until the archive is opened again the host still reads the old text.
  EXPECT_TRUE(HeldMain().present);
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
  // The update runs in the same session as the rewrite that moved every
  // entry, so it must see the archive as it now is.
  InitArcFile(arc_.c_str());
  std::string text = TextBytes(3000, 9);
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
  EXPECT_EQ(ListNames(arc_).size(), 4u);

  ASSERT_EQ(DeleteWith(arc_, {"D.TXT"}), 0);
  EXPECT_EQ(ReadMain(arc_).text, text);
  ExpectIntact();
}

TEST_F(NormalArchive, AHeaderTheSearchWouldNotFindIsRefused) {
  // Behind 40000 leading bytes, a comment that barely compresses pushes the
  // header past the 61440 bytes an opening looks at.
  dir_.Write("arc\\x.ace", std::string(40000, '\x90') + Bytes());
  const std::string before = Bytes();
  std::string noise(30000, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919) >> 3 ^ i);
  EXPECT_EQ(SetMain(arc_, noise), kMainCommentTooLong);
  EXPECT_TRUE(Bytes() == before);
  ASSERT_EQ(SetMain(arc_, "short"), 0);
  EXPECT_EQ(ReadMain(arc_).text, "short");
}

TEST_P(Comments, FileCommentsGoOnlyToTheNamedEntries) {
  const std::string before = Bytes();
  // Wildcards are taken literally, so only b.txt names an entry; case does
  // not matter.
  ASSERT_EQ(SetFileComments(arc_, {"b.txt", "*.TXT", "?.EXE"}, "the second file"), 0);
  EXPECT_EQ(Commented(arc_), (std::map<std::string, std::string>{
                                 {"A.TXT", ""}, {"B.TXT", "the second file"}, {"C.EXE", ""}}));
  ExpectIntact();

  // The other entries are copied byte for byte; the named one keeps its data.
  const std::string after = Bytes();
  const ParsedArchive old_p = Parse(before);
  const ParsedArchive new_p = Parse(after);
  ASSERT_TRUE(new_p.ok);
  ASSERT_EQ(new_p.entries.size(), old_p.entries.size());
  for (size_t i = 0; i < new_p.entries.size(); ++i) {
    const ParsedEntry& o = old_p.entries[i];
    const ParsedEntry& n = new_p.entries[i];
    const size_t from = n.name == "B.TXT" ? n.data : n.offset;
    const size_t old_from = n.name == "B.TXT" ? o.data : o.offset;
    EXPECT_EQ(after.substr(from, n.data + n.pack - from),
              before.substr(old_from, o.data + o.pack - old_from))
        << n.name;
  }

  ASSERT_EQ(SetFileComments(arc_, {"B.TXT"}, ""), 0);
  EXPECT_TRUE(Bytes() == before) << "removal restores the original header";
}

TEST_F(NormalArchive, LongestCommentsRoundTripLongerOnesAreRefused) {
  const std::tuple<bool, int32_t, uint16_t> cases[] = {
      {true, 32766, 0}, {true, 32767, kMainCommentTooLong}, {true, -1, kMainCommentTooLong},
      {false, 4096, 0}, {false, 4097, kFileCommentTooLong}, {false, -1, kFileCommentTooLong}};
  for (const auto& [main, length, status] : cases) {
    SCOPED_TRACE(length);
    dir_.Write("arc\\x.ace", before_);
    std::string text = TextBytes(length > 0 ? static_cast<size_t>(length) : 1, 21);
    InitArcFile(arc_.c_str());
    CommentRec rec{text.data(), length, 0, {}};
    Masks names({"A.TXT"});
    if (main) {
      SetMainCommentArc(&rec);
    } else {
      SetFileCommentsArc(names.get(), &rec);
    }
    ASSERT_EQ(GetArchiveStatus(), status);
    DoneArcFile();
    if (status != 0) {
      ExpectUnchanged();
      continue;
    }
    EXPECT_EQ(main ? ReadMain(arc_).text : Commented(arc_)["A.TXT"], text);
    ExpectIntact();
  }
}

TEST_F(NormalArchive, CommentsAreReadInTheAnsiPageUnlessTheHostWroteThem) {
  // 0x82 is e-acute in the OEM page; comments are written as given.
  ASSERT_EQ(SetMain(arc_, "caf\x82"), 0);
  ASSERT_EQ(SetFileComments(arc_, {"A.TXT"}, "caf\x82"), 0);
  char ansi[16];
  platform::OemToChar("caf\x82", ansi, sizeof ansi);
  EXPECT_EQ(ReadMain(arc_).text, ansi);
  EXPECT_EQ(Commented(arc_)["A.TXT"], ansi);

  std::string a = Bytes();
  PatchMainHeader(a, 16, 2);  // host system 2 writes in the ANSI page
  dir_.Write("arc\\x.ace", a);
  EXPECT_EQ(ReadMain(arc_).text, "caf\x82");
  EXPECT_EQ(Commented(arc_)["A.TXT"], "caf\x82");
}

}  // namespace
}  // namespace acekit::testing
