#include "format/entry_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/status.h"
#include "format/archive_fixture.h"

namespace acekit::testing {
namespace {

#if defined(_WIN32)
constexpr const char* kAnsiEAcute = "\xE9";
#else
constexpr const char* kAnsiEAcute = "\xC3\xA9";
#endif

std::vector<std::string> Names(const ArcFileList& list) {
  std::vector<std::string> names;
  for (const ArcEntry* e = list.first; e != nullptr; e = e->next) names.emplace_back(e->name);
  return names;
}

Bytes Entry(const char* name, const FileHeaderFields& f, size_t data_size = 0) {
  return Cat({FileHeader(name, f), Bytes(data_size, 0xAB)});
}

// A file header laid out by hand, for names the writer would not store.
Bytes RawFileHeader(const std::string& name, uint32_t attr) {
  Bytes body(kFileHeaderFixed - kFrameSize, 0);
  Put32(body.data() + 12, attr);
  Put16(body.data() + 26, static_cast<uint32_t>(name.size()));
  body.insert(body.end(), name.begin(), name.end());
  body.insert(body.end(), {0, 0});
  return RawHeader(kHeadFile, 1, body);
}

class EntryList : public ArchiveTest {
 protected:
  // Opens `bytes` and lists it; the list is released at the end of the test.
  const ArcFileList& List(const Bytes& bytes, ListOptions options = {}) {
    Open(bytes, st_);
    BuildEntryList(st_, &list_, options);
    return list_;
  }
  void TearDown() override {
    DoneEntryList(&list_);
    EXPECT_EQ(list_.count, 0);
    EXPECT_EQ(list_.first, nullptr);
    ArchiveTest::TearDown();
  }

  ArcState st_;
  ArcFileList list_{};
};

TEST_F(EntryList, ListsEveryHeaderWithItsFields) {
  FileHeaderFields bin;
  bin.flags = kFileFlagPackSize | kFileFlagEncrypted;
  bin.pack_size = 7;
  bin.orig_size = 20;
  bin.crc32 = 0x12345678;
  bin.tech_type = 1;
  bin.tech_parm = 0x39;  // only the low 4 bits are the code
  FileHeaderFields dir;
  dir.attr = 0x10;
  const Bytes a = StoredEntry("A.TXT", Text("hello"));
  const Bytes d = Entry("DOCS", dir);
  const Bytes b = Entry("sub\\B.BIN", bin, 7);
  const ArcFileList& list = List(Cat({MainHeader(), a, d, b}));

  EXPECT_EQ(st_.status, kOk);
  ASSERT_EQ(list.count, 3);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"A.TXT", "DOCS\\", "sub\\B.BIN"}));
  const ArcEntry& e = *list.last;
  EXPECT_EQ(list.first->next->next, &e);
  EXPECT_EQ(e.next, nullptr);
  EXPECT_EQ(e.is_file, 1);
  EXPECT_EQ(e.header_offset, 33 + a.size() + d.size());
  EXPECT_EQ(e.pack_size, 7u);
  EXPECT_EQ(e.orig_size, 20u);
  EXPECT_EQ(e.crc32, 0x12345678u);
  EXPECT_EQ(e.tech_type, 1u);
  EXPECT_EQ(e.dict_code, 9u);
  EXPECT_EQ(e.encrypted, 1);
  EXPECT_EQ(e.head_flags, 0x4001u);
  EXPECT_EQ(e.head_type, 1u);
  EXPECT_EQ(e.fname_size, 9u);
  EXPECT_EQ(e.head_size, 9u + 33);
  EXPECT_EQ(e.head_crc, Get16(b.data()));
  EXPECT_EQ(list.first->ftime, kStamp);
  EXPECT_EQ(list.first->next->attr, 0x10u);
}

TEST_F(EntryList, FilterSeesUpperCaseNamesAndSkipsRecords) {
  std::vector<std::string> seen;
  ListOptions options;
  options.filter.ctx = &seen;
  options.filter.fn = [](void* ctx, const char* name) {
    static_cast<std::vector<std::string>*>(ctx)->emplace_back(name);
    return std::string(name).find('B') != std::string::npos;
  };
  FileHeaderFields dir;
  dir.attr = 0x10;
  const ArcFileList& list = List(Cat({MainHeader(), StoredEntry("a.txt", {}), Entry("docs", dir),
                                      RecoveryHeader(4), StoredEntry("sub\\b.bin", {})}),
                                 options);
  EXPECT_EQ(seen, (std::vector<std::string>{"A.TXT", "DOCS\\", "SUB\\B.BIN"}));
  EXPECT_EQ(Names(list), (std::vector<std::string>{"", "sub\\b.bin"})) << "recovery always kept";
}

TEST_F(EntryList, OemNameIsListedInAnsi) {
  const std::string ansi = std::string(kAnsiEAcute) + ".TXT";
  const Bytes entry = StoredEntry(ansi.c_str(), {});
  ASSERT_EQ(entry[35], 0x82);
  EXPECT_EQ(Names(List(Cat({MainHeader(), entry}))), std::vector<std::string>{ansi});
}

TEST_F(EntryList, RecoveryHeaderIsARecordAndIsSteppedOver) {
  int32_t info[kArcInfoWords];
  ListOptions options;
  options.arc_info = info;
  const ArcFileList& list = List(
      Cat({MainHeader(), StoredEntry("A", Text("1")), RecoveryHeader(10), StoredEntry("B", {})}),
      options);
  ASSERT_EQ(list.count, 3);
  const ArcEntry& r = *list.first->next;
  EXPECT_EQ(r.is_file, 0);
  EXPECT_EQ(r.head_type, 2u);
  EXPECT_EQ(r.pack_size, 10u);
  EXPECT_STREQ(list.last->name, "B");
  EXPECT_EQ(info[5], 1);
}

TEST_F(EntryList, LongNamesAreCutAndTheWalkGoesOn) {
  const std::string name(300, 'n');
  const ArcFileList& list = List(Cat({MainHeader(), RawFileHeader(name, 0x20),
                                      RawFileHeader(name, 0x10), StoredEntry("NEXT", {})}));
  ASSERT_EQ(list.count, 3);
  EXPECT_EQ(list.first->name, name.substr(0, 255));
  EXPECT_EQ(list.first->fname_size, 255u);
  EXPECT_EQ(list.first->next->name, name.substr(0, 254) + "\\");
  EXPECT_STREQ(list.last->name, "NEXT");
  EXPECT_EQ(st_.status, kOk);
}

TEST_F(EntryList, HowTheWalkEnds) {
  const Bytes good = Cat({MainHeader(), StoredEntry("A", {}), StoredEntry("B", {})});
  Bytes huge_pack = StoredEntry("H", {});
  Put32(huge_pack.data() + 7, 0xFFFFFFF0u);
  Put16(huge_pack.data(), HeaderCrc(huge_pack.data() + 4, Get16(huge_pack.data() + 2)));
  const struct {
    const char* what;
    Bytes bytes;
    uint32_t first_entry;  // 0: as found by opening
    uint32_t status_before;
    uint32_t status;
    int32_t count;
  } cases[] = {
      {"end of file", good, 0, kOk, kOk, 2},
      {"unknown type", Cat({good, RawHeader(7, 0, Bytes(4))}), 0, kOk, kCorrupt, 2},
      {"walk from offset 0 meets the main header", good, 0xFFFFFFFF, kOk, kCorrupt, 0},
      {"leftover status", good, 0, kOpenFailed, kOk, 0},
      {"pack size past 2 GB", Cat({MainHeader(), huge_pack, StoredEntry("X", {})}), 0, kOk, kOk, 1},
  };
  for (const auto& c : cases) {
    ArcState st;
    Open(c.bytes, st);
    if (c.first_entry == 0xFFFFFFFF) st.first_entry_offset = 0;
    st.status = c.status_before;
    ArcFileList list{};
    BuildEntryList(st, &list, {});
    EXPECT_EQ(st.status, c.status) << c.what;
    EXPECT_EQ(list.count, c.count) << c.what;
    DoneEntryList(&list);
  }
}

TEST_F(EntryList, FailuresOfTheBuild) {
  ArcState st;
  CopyText(st.archive_name, sizeof st.archive_name, Path("missing.ace"));
  ArcFileList list{};
  BuildEntryList(st, &list, {});
  EXPECT_EQ(st.status, kOpenFailed);
  EXPECT_EQ(list.count, 0);

  Open(Cat({MainHeader(), StoredEntry("A", {}), StoredEntry("B", {})}), st);
  platform::ArmFault(platform::Fault::kAlloc, 2);
  BuildEntryList(st, &list, {});
  EXPECT_EQ(st.status, kNoMemory);
  EXPECT_EQ(Names(list), std::vector<std::string>{"A"});
  DoneEntryList(&list);
}

TEST_F(EntryList, TruncatedArchiveListsWhatCanBeRead) {
  const Bytes a = StoredEntry("A.TXT", Text("hello"));
  const Bytes full = Cat({MainHeader(), a, StoredEntry("B.TXT", Text("world"))});
  const size_t b_at = 33 + a.size();

  // Cut inside B's ATTR: the fields before it are read, the rest are 0.
  const ArcFileList& list = List(Bytes(full.begin(), full.begin() + b_at + 21));
  EXPECT_EQ(st_.status, kOk);
  ASSERT_EQ(list.count, 2);
  EXPECT_EQ(list.last->pack_size, 5u);
  EXPECT_EQ(list.last->ftime, kStamp);
  EXPECT_EQ(list.last->attr, 0u);
  EXPECT_STREQ(list.last->name, "");

  for (size_t cut = 34; cut <= full.size(); ++cut) {
    ArcState st;
    Open(Bytes(full.begin(), full.begin() + cut), st);
    st.first_entry_offset = 33;
    ArcFileList l{};
    BuildEntryList(st, &l, {});
    EXPECT_TRUE(st.status == kOk || st.status == kCorrupt) << cut;
    EXPECT_LE(l.count, 2) << cut;
    DoneEntryList(&l);
  }
}

TEST_F(EntryList, GarbageDoesNotCrashTheWalk) {
  uint32_t seed = 12345;
  for (int round = 0; round < 50; ++round) {
    Bytes junk(2000);
    for (uint8_t& byte : junk) {
      seed = seed * 1103515245u + 12345u;
      // Mostly small values, so that types 1 and 2 come up often.
      byte = static_cast<uint8_t>((seed >> 16) % (round % 2 ? 256 : 4));
    }
    ArcState st;
    Open(Cat({MainHeader(), junk}), st);
    st.first_entry_offset = 33;
    ArcFileList l{};
    BuildEntryList(st, &l, {});
    EXPECT_TRUE(st.status == kOk || st.status == kCorrupt);
    EXPECT_LE(l.count, 2000 / 4);
    DoneEntryList(&l);
  }
}

// A decoder stand-in: hands back a fixed text and notes where it was asked.
struct FakeDecoder {
  std::vector<uint32_t> offsets;
  static int32_t Decode(void* ctx, platform::Handle, uint32_t offset, const char** text) {
    static_cast<FakeDecoder*>(ctx)->offsets.push_back(offset);
    *text = "Hi \x82";
    return 4;
  }
};

TEST_F(EntryList, FileCommentsComeThroughTheReader) {
  FileHeaderFields with_comment;
  with_comment.flags = kFileFlagPackSize | kFlagComment;
  const Bytes archive = Cat({MainHeader(), Entry("A", with_comment), StoredEntry("B", {})});
  const struct {
    int32_t read_comments;
    uint32_t host;
    std::string comment;
  } cases[] = {{1, 0, std::string("Hi ") + kAnsiEAcute}, {1, 2, "Hi \x82"}, {0, 0, ""}};
  for (const auto& c : cases) {
    FakeDecoder decoder;
    int32_t info[kArcInfoWords];
    ListOptions options;
    options.comments = {&FakeDecoder::Decode, &decoder};
    options.arc_info = info;
    ArcState st;
    Open(archive, st);
    st.read_file_comments = c.read_comments;
    st.host_system = c.host;
    ArcFileList list{};
    BuildEntryList(st, &list, options);
    ASSERT_EQ(list.count, 2);
    const std::string got = list.first->comment ? list.first->comment : "";
    EXPECT_EQ(got, c.comment);
    EXPECT_EQ(list.first->comment_length, static_cast<int32_t>(c.comment.size()));
    EXPECT_EQ(list.last->comment, nullptr);
    EXPECT_EQ(info[4], c.comment.empty() ? 0 : 2);
    if (!c.comment.empty()) {
      EXPECT_EQ(decoder.offsets, std::vector<uint32_t>{33 + 35 + 1 + 2});
    }
    DoneEntryList(&list);
  }
}

TEST_F(EntryList, ArcInfoWords) {
  FileHeaderFields big;
  big.flags = kFileFlagPackSize | kFileFlagEncrypted;
  big.pack_size = 30000000;
  big.orig_size = 59999990;
  big.tech_parm = 9;
  int32_t info[kArcInfoWords];
  ListOptions options;
  options.arc_info = info;
  const Bytes head = MainHeader(kMainFlagSolid);
  const ArcFileList& list =
      List(Cat({head, StoredEntry("A", Bytes(10, 1)), FileHeader("B", big)}), options);
  ASSERT_EQ(list.count, 2);
  const int32_t expected[kArcInfoWords] = {11, 1, 0, 512, 0, 0, 1, 1, 1, 2, 30000010, 60000000, 50};
  for (int i = 0; i < kArcInfoWords; ++i) EXPECT_EQ(info[i], expected[i]) << "word " << i;
  EXPECT_EQ(list.first->host_os, 1);
  EXPECT_EQ(st_.info_valid, 1);

  st_.main_comment_length = 5;
  st_.host_system = 3;
  ComputeArcInfo(st_, &list_, info);
  EXPECT_EQ(info[4], 1);
  EXPECT_EQ(info[8], 5);
  EXPECT_EQ(list.last->host_os, 5);
}

TEST(CompressionRatio, SignedArithmetic) {
  const struct {
    uint32_t pack, orig;
    int32_t ratio;
  } cases[] = {{30000000, 60000000, 50},
               {50, 100, 50},
               {100, 300, 33},
               {5, 0, 0},
               {0x1400000, 1, 0},
               {0x2800000, 0x5000000, 50},
               {0xFFFFFFFF, 0xFFFFFFFF, 100},
               {0, 0, 0}};
  for (const auto& c : cases) EXPECT_EQ(CompressionRatio(c.pack, c.orig), c.ratio) << c.pack;
}

TEST(HostOsCode, Table) {
  const int32_t codes[] = {1, 2, 3, 5, 6, 4, 1, 6, 8, 9, 10, 11, 1, 1};
  for (uint32_t host = 0; host < 13; ++host) EXPECT_EQ(HostOsCode(host), codes[host]) << host;
  EXPECT_EQ(HostOsCode(255), 1);
}

TEST(EntryListHead, InitAndDoneOnEmptyHead) {
  ArcFileList list{5, reinterpret_cast<ArcEntry*>(8), reinterpret_cast<ArcEntry*>(8)};
  InitEntryList(&list);
  EXPECT_EQ(list.count, 0);
  DoneEntryList(&list);
  EXPECT_EQ(list.first, nullptr);
  EXPECT_EQ(list.last, nullptr);
}

}  // namespace
}  // namespace acekit::testing
