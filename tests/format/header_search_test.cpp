#include "format/header_search.h"

#include <gtest/gtest.h>

#include <string>

#include "api/status.h"
#include "format/archive_fixture.h"

namespace acekit::testing {
namespace {

const Bytes kExtra(kNormalArchiveExtra, kNormalArchiveExtra + kNormalArchiveExtraSize);

// Recomputes HEAD_CRC after a test changed bytes of the header at `at`.
void Reseal(Bytes& b, size_t at) {
  Put16(b.data() + at, HeaderCrc(b.data() + at + 4, Get16(b.data() + at + 2)));
}

using HeaderSearch = ArchiveTest;

TEST_F(HeaderSearch, FindsBothHeadersOfANormalArchive) {
  ArcState st;
  ASSERT_TRUE(Open(Cat({MainHeader(0, kExtra), StoredEntry("A.TXT", Text("abc"))}), st));
  EXPECT_EQ(st.status, kOk);
  EXPECT_EQ(st.main_header_offset, 0);
  EXPECT_EQ(st.main_header_length, 62u);
  EXPECT_EQ(st.first_entry_offset, 62u);
  EXPECT_EQ(st.version_needed, 10u);
  EXPECT_EQ(st.solid, 0);
  EXPECT_EQ(st.read_only, 0);
  EXPECT_EQ(st.main_comment_offset, -1);
}

TEST_F(HeaderSearch, MainHeaderIsFoundWhereverItStands) {
  Bytes bad_candidate = MainHeader();
  bad_candidate[20] ^= 1;  // checksum no longer holds
  const struct {
    const char* what;
    Bytes leading;
  } cases[] = {
      {"1000 leading bytes", Bytes(1000, 'x')},
      {"signature at offset 0 is passed over", Cat({Text("**ACE**"), Bytes(40, 0)})},
      {"a candidate that fails its checksum", bad_candidate},
  };
  for (const auto& c : cases) {
    ArcState st;
    const Bytes archive = Cat({c.leading, MainHeader(), StoredEntry("A.TXT", {})});
    ASSERT_TRUE(Open(archive, st)) << c.what;
    EXPECT_EQ(st.main_header_offset, static_cast<int32_t>(c.leading.size())) << c.what;
    EXPECT_EQ(st.first_entry_offset, c.leading.size() + 33) << c.what;
  }
}

TEST_F(HeaderSearch, NotFound) {
  Bytes cut = MainHeader(0, Bytes(171, 7));  // HEAD_SIZE 200
  cut.resize(60);
  const struct {
    const char* what;
    Bytes bytes;
  } cases[] = {
      {"empty file", {}},
      {"header without anything after it", MainHeader()},
      {"garbage", Bytes(5000, 0x5A)},
      {"header reaching past the file", cut},
      {"signature beyond the search window", Cat({Bytes(kSearchWindow, 0), MainHeader()})},
  };
  for (const auto& c : cases) {
    ArcState st;
    EXPECT_FALSE(Open(c.bytes, st)) << c.what;
    EXPECT_EQ(st.status, kOk) << c.what;
    EXPECT_EQ(st.main_header_offset, -1) << c.what;
  }
}

TEST_F(HeaderSearch, ReadOnlyFlagIsSetBeforeTheChecksumTest) {
  Bytes locked_but_damaged = MainHeader(kMainFlagAuthentic);
  locked_but_damaged[20] ^= 1;
  const struct {
    const char* what;
    Bytes head;
    int32_t read_only;
  } cases[] = {
      {"0x4000", MainHeader(kMainFlagAuthentic), -1},
      {"0x1000", MainHeader(kMainFlagLocked), -1},
      {"unlocked", MainHeader(0x2000), 0},
      {"failed candidate", Cat({locked_but_damaged, MainHeader()}), -1},
  };
  for (const auto& c : cases) {
    ArcState st;
    ASSERT_TRUE(Open(Cat({c.head, StoredEntry("A.TXT", {})}), st)) << c.what;
    EXPECT_EQ(st.read_only, c.read_only) << c.what;
  }
}

TEST_F(HeaderSearch, SolidArchiveKeepsTheFirstEntrysDictionary) {
  const struct {
    uint16_t flags;
    uint16_t code;
    uint32_t kb;
  } cases[] = {{kMainFlagSolid, 10, 1024},
               {kMainFlagSolid, 7, 128},
               {kMainFlagSolid, 6, 0},
               {kMainFlagSolid, 0x1F, 0},
               {0, 10, 0}};
  for (const auto& c : cases) {
    ArcState st;
    ASSERT_TRUE(Open(Cat({MainHeader(c.flags), StoredEntry("A", Text("x"), 0x20, c.code)}), st));
    EXPECT_EQ(st.solid, c.flags ? 1 : 0);
    EXPECT_EQ(st.solid_dict_kb, c.kb) << c.code;
  }
}

TEST_F(HeaderSearch, FirstHeaderWithAOneInItsChecksumIsFound) {
  Bytes entry;
  for (int i = 0; i < 100000; ++i) {
    entry = StoredEntry(("F" + std::to_string(i)).c_str(), {});
    if (entry[0] == kHeadFile || entry[1] == kHeadFile) break;
  }
  ASSERT_TRUE(entry[0] == kHeadFile || entry[1] == kHeadFile);
  ArcState st;
  ASSERT_TRUE(Open(Cat({MainHeader(), entry}), st));
  EXPECT_EQ(st.first_entry_offset, 33u);
}

TEST_F(HeaderSearch, FirstHeaderMissingOrDamaged) {
  Bytes damaged = StoredEntry("A.TXT", Text("abc"));
  damaged[15] ^= 0x40;
  for (const Bytes& after : {Bytes{}, damaged, Bytes(100, 1)}) {
    ArcState st;
    ASSERT_TRUE(Open(Cat({MainHeader(0, kExtra), after}), st));
    EXPECT_EQ(st.first_entry_offset, 0u);
    EXPECT_EQ(st.status, kOk);
  }
}

TEST_F(HeaderSearch, MainCommentPositionIsRecordedWhenReadable) {
  Bytes with_av = MainHeader(kFlagComment);
  with_av[30] = 3;  // AV_SIZE
  Reseal(with_av, 0);
  Bytes newer = MainHeader(kFlagComment);
  newer[14] = 20;
  Reseal(newer, 0);
  const struct {
    const char* what;
    Bytes head;
    int32_t offset;
  } cases[] = {{"comment flag", MainHeader(kFlagComment), 33},
               {"behind an authenticity string", with_av, 36},
               {"version above 10", newer, -1},
               {"no comment flag", MainHeader(), -1}};
  for (const auto& c : cases) {
    ArcState st;
    ASSERT_TRUE(Open(Cat({c.head, StoredEntry("A", {})}), st)) << c.what;
    EXPECT_EQ(st.main_comment_offset, c.offset) << c.what;
  }
}

TEST_F(HeaderSearch, SeekAndReadFailuresStore5) {
  const std::string path = WriteFile("a.ace", Cat({MainHeader(), StoredEntry("A", {})}));
  for (const platform::Fault fault : {platform::Fault::kSeek, platform::Fault::kRead}) {
    const platform::Handle h = platform::Open(path.c_str(), 'r');
    ArcState st;
    platform::ArmFault(fault, 1);
    EXPECT_FALSE(FindMainHeader(h, st));
    EXPECT_EQ(st.status, kOpenFailed);

    platform::DisarmFaults();
    ASSERT_TRUE(FindMainHeader(h, st));
    platform::ArmFault(fault, 1);
    EXPECT_FALSE(FindFirstFileHeader(h, st));
    EXPECT_EQ(st.status, kOpenFailed);
    EXPECT_EQ(st.first_entry_offset, 0u);
    platform::DisarmFaults();
    platform::Close(h);
  }
}

}  // namespace
}  // namespace acekit::testing
