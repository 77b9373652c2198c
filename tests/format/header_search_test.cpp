#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <tuple>

#include "common/status.h"
#include "format/archive_fixture.h"

namespace acekit::testing {
namespace {

const Bytes kExtra(format::kNormalArchiveExtra, std::end(format::kNormalArchiveExtra));

// A main header with `byte` at `at`, checksum made good again.
Bytes PatchedMain(uint16_t flags, size_t at, uint8_t byte) {
  Bytes h = MainHeader(flags);
  h[at] = byte;
  format::Put16(h.data(), format::HeaderCrc(h.data() + 4, 29));
  return h;
}

Bytes Damaged(Bytes b) {
  b[20] ^= 1;
  return b;
}

using HeaderSearch = ArchiveTest;

TEST_F(HeaderSearch, FindsTheMainHeaderWhereverItStands) {
  const struct {
    const char* what;
    Bytes leading;
  } cases[] = {{"at the start", {}},
               {"behind 1000 bytes", Bytes(1000, 'x')},
               {"signature at offset 0 passed over", Cat({Text("**ACE**"), Bytes(40, 0)})},
               {"behind a candidate failing its checksum", Damaged(MainHeader())}};
  for (const auto& c : cases) {
    format::ArcState st;
    ASSERT_TRUE(Open(Cat({c.leading, MainHeader(0, kExtra), StoredEntry("A", {})}), st)) << c.what;
    EXPECT_EQ(st.status, kOk);
    EXPECT_EQ(st.main_header_offset, static_cast<int32_t>(c.leading.size())) << c.what;
    EXPECT_EQ(st.main_header_length, 62u);
    EXPECT_EQ(st.first_entry_offset, c.leading.size() + 62) << c.what;
    EXPECT_EQ(st.version_needed, 10u);
    EXPECT_EQ(st.read_only, 0);
  }
}

TEST_F(HeaderSearch, NoMainHeader) {
  Bytes cut = MainHeader(0, Bytes(171, 7));  // HEAD_SIZE 200, cut off by the file's end
  cut.resize(60);
  for (const Bytes& bytes : {Bytes{}, MainHeader(), Bytes(5000, 'Z'), cut,
                             Cat({Bytes(format::kSearchWindow, 0), MainHeader(0, kExtra)})}) {
    format::ArcState st;
    EXPECT_FALSE(Open(bytes, st)) << bytes.size();
    EXPECT_EQ(st.status, kOk);
    EXPECT_EQ(st.main_header_offset, -1);
  }
}

TEST_F(HeaderSearch, WhatTheMainHeaderLeavesInTheState) {
  const struct {
    const char* what;
    Bytes head;
    int32_t read_only, solid, comment_at;
  } cases[] = {{"0x4000", MainHeader(format::kMainFlagAuthentic), -1, 0, -1},
               {"0x1000", MainHeader(format::kMainFlagLocked), -1, 0, -1},
               {"read-only from a failing candidate",
                Cat({Damaged(MainHeader(format::kMainFlagAuthentic)), MainHeader()}), -1, 0, -1},
               {"solid", MainHeader(format::kMainFlagSolid), 0, 1, -1},
               {"comment", MainHeader(format::kFlagComment), 0, 0, 33},
               {"comment behind 3 AV bytes", PatchedMain(format::kFlagComment, 30, 3), 0, 0, 36},
               {"comment of version 20", PatchedMain(format::kFlagComment, 14, 20), 0, 0, -1}};
  for (const auto& c : cases) {
    format::ArcState st;
    ASSERT_TRUE(Open(Cat({c.head, StoredEntry("A", {})}), st)) << c.what;
    EXPECT_EQ(st.read_only, c.read_only) << c.what;
    EXPECT_EQ(st.solid, c.solid) << c.what;
    EXPECT_EQ(st.main_comment_offset, c.comment_at) << c.what;
  }
}

TEST_F(HeaderSearch, SolidDictionaryComesFromTheFirstEntry) {
  for (const auto& [flags, code, kb] : {std::tuple{format::kMainFlagSolid, 10, 1024u},
                                        {format::kMainFlagSolid, 6, 0u},
                                        {format::kMainFlagSolid, 0x17, 128u},
                                        {uint16_t{0}, 10, 0u}}) {
    format::ArcState st;
    ASSERT_TRUE(Open(Cat({MainHeader(flags), StoredEntry("A", Text("x"), 0x20, code)}), st));
    EXPECT_EQ(st.solid_dict_kb, kb) << code;
  }
}

TEST_F(HeaderSearch, FirstFileHeader) {
  Bytes one_in_crc;  // HEAD_CRC holding a byte 1 must not throw the search off
  for (int i = 0; one_in_crc.empty() || (one_in_crc[0] != 1 && one_in_crc[1] != 1); ++i)
    one_in_crc = StoredEntry(("F" + std::to_string(i)).c_str(), {});
  const struct {
    Bytes after_main;
    uint32_t offset;
  } cases[] = {{one_in_crc, 62},
               {{}, 0},
               {Damaged(StoredEntry("A.TXT", Text("abc"))), 0},
               {Bytes(100, 1), 0}};
  for (const auto& c : cases) {
    format::ArcState st;
    ASSERT_TRUE(Open(Cat({MainHeader(0, kExtra), c.after_main}), st));
    EXPECT_EQ(st.first_entry_offset, c.offset);
    EXPECT_EQ(st.status, kOk);
  }
}

TEST_F(HeaderSearch, FailingPrimitivesStoreTheirStatus) {
  const std::string path = WriteFile("f.ace", Cat({MainHeader(), StoredEntry("A", {})}));
  const struct {
    platform::Fault fault;
    uint32_t status;
  } cases[] = {{platform::Fault::kSeek, kOpenFailed},
               {platform::Fault::kRead, kOpenFailed},
               {platform::Fault::kSize, kSizeFailed}};
  for (const auto& c : cases) {
    const platform::Handle h = platform::Open(path.c_str(), 'r');
    format::ArcState st;
    platform::ArmFault(c.fault, 1);
    EXPECT_FALSE(format::FindMainHeader(h, st));
    EXPECT_EQ(st.status, c.status);
    ASSERT_TRUE(format::FindMainHeader(h, st));
    platform::ArmFault(c.fault, 1);
    EXPECT_FALSE(format::FindFirstFileHeader(h, st));
    EXPECT_EQ(st.status, c.status);
    platform::Close(h);
  }
}

}  // namespace
}  // namespace acekit::testing
