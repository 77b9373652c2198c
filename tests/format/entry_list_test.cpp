#include "format/entry_list.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "common/status.h"
#include "format/archive_fixture.h"

namespace acekit::testing {
namespace {

using Names = std::vector<std::string>;

Bytes Recovery(uint32_t extra_size) {
  Bytes body(4);
  format::Put32(body.data(), extra_size);
  return Cat({RawHeader(format::kHeadRecovery, 0, body), Bytes(extra_size, 0xEE)});
}

// A file header laid out by hand, for names the writer would not store.
Bytes RawFileHeader(const std::string& name, uint32_t attr) {
  Bytes body(format::kFileHeaderFixed - format::kFrameSize);
  format::Put32(body.data() + 12, attr);
  format::Put16(body.data() + 26, static_cast<uint32_t>(name.size()));
  return RawHeader(format::kHeadFile, 1, Cat({body, Text(name), {0, 0}}));
}

class EntryList : public ArchiveTest {
 protected:
  // Opens and lists `bytes`; `setup` may change the state in between.
  const ArcFileList& List(const Bytes& bytes, format::ListOptions options = {},
                          void (*setup)(format::ArcState&) = nullptr) {
    format::DoneEntryList(&list_);
    st_ = format::ArcState{};
    Open(bytes, st_);
    if (setup) setup(st_);
    format::BuildEntryList(st_, &list_, options);
    names_.clear();
    for (const ArcEntry* e = list_.first; e != nullptr; e = e->next) names_.emplace_back(e->name);
    return list_;
  }
  void TearDown() override {
    format::DoneEntryList(&list_);
    EXPECT_EQ(list_.count, 0);
    EXPECT_EQ(list_.last, nullptr);
    ArchiveTest::TearDown();
  }

  format::ArcState st_;
  ArcFileList list_{};
  Names names_;
};

TEST_F(EntryList, RecordsCarryTheHeaderFields) {
  const format::FileHeaderFields f{
      format::kFileFlagPackSize | format::kFileFlagEncrypted, 7, 20, 0, 0, 0x12345678, 1, 2, 0x39};
  const Bytes a = StoredEntry("A.TXT", Text("hello"));
  const Bytes d = StoredEntry("DOCS", {}, 0x10);
  const Bytes b = Cat({FileHeader("sub\\B.BIN", f), Bytes(7)});
  List(Cat({MainHeader(), a, d, b}));
  EXPECT_EQ(st_.status, kOk);
  EXPECT_EQ(names_, (Names{"A.TXT", "DOCS\\", "sub\\B.BIN"}));
  const ArcEntry& e = *list_.last;
  EXPECT_EQ(e.header_offset, 33 + a.size() + d.size());
  EXPECT_EQ(
      (std::vector<uint32_t>{e.pack_size, e.orig_size, e.crc32, e.tech_type, e.dict_code,
                             e.head_flags, e.head_type, e.fname_size, e.head_size, e.head_crc}),
      (std::vector<uint32_t>{7, 20, 0x12345678, 1, 9, 0x4001, 1, 9, 42, format::Get16(b.data())}));
  EXPECT_EQ(e.is_file, 1);
  EXPECT_EQ(e.encrypted, 1);
  EXPECT_EQ(list_.first->ftime, kStamp);
  EXPECT_EQ(list_.first->next->attr, 0x10u);
}

TEST_F(EntryList, SelectionNamesAndRecoveryRecords) {
  static Names seen;
  int32_t info[format::kArcInfoWords];
  format::ListOptions options;
  options.filter.fn = [](void*, const char* name) {
    seen.emplace_back(name);
    return std::string(name).ends_with('B') || std::string(name).ends_with(".BIN");
  };
  options.arc_info = info;
  const std::string oem_name = std::string(kAnsiEAcute) + "b";
  List(Cat({MainHeader(), StoredEntry("a.txt", {}), StoredEntry("docs", {}, 0x10), Recovery(10),
            StoredEntry(oem_name.c_str(), Text("1")), StoredEntry("sub\\b.bin", {})}),
       options);
  ASSERT_EQ(seen.size(), 4u);  // not asked about the recovery header
  EXPECT_EQ((Names{seen[0], seen[1], seen[3]}), (Names{"A.TXT", "DOCS\\", "SUB\\B.BIN"}));
  EXPECT_EQ(names_, (Names{"", oem_name, "sub\\b.bin"}));
  const ArcEntry& r = *list_.first;
  EXPECT_EQ(r.is_file, 0);
  EXPECT_EQ(r.head_type, 2u);
  EXPECT_EQ(r.pack_size, 10u);
  EXPECT_EQ(info[5], 1) << "recovery record reported";
}

TEST_F(EntryList, LongNamesAreCutAndTheWalkGoesOn) {
  const std::string name(300, 'n');
  List(Cat({MainHeader(), RawFileHeader(name, 0x20), RawFileHeader(name, 0x10),
            StoredEntry("NEXT", {})}));
  EXPECT_EQ(names_, (Names{name.substr(0, 255), name.substr(0, 254) + "\\", "NEXT"}));
  EXPECT_EQ(list_.first->fname_size, 255u);
  EXPECT_EQ(st_.status, kOk);
}

TEST_F(EntryList, HowTheWalkEnds) {
  const Bytes good = Cat({MainHeader(), StoredEntry("A", {}), StoredEntry("B", Text("b"))});
  Bytes huge = StoredEntry("H", {});
  format::Put32(huge.data() + 7, 0xFFFFFFF0u);  // PACK_SIZE; the walk trusts it
  Bytes cut_in_b = good;
  cut_in_b.resize(good.size() - 39 + 21);  // inside B's ATTR
  const struct {
    const char* what;
    Bytes bytes;
    void (*setup)(format::ArcState&);
    uint32_t status;
    Names names;
  } cases[] = {
      {"end of file", good, nullptr, kOk, {"A", "B"}},
      {"unknown type", Cat({good, RawHeader(7, 0, Bytes(4))}), nullptr, kCorrupt, {"A", "B"}},
      {"no first entry: walk from 0",
       good,
       [](format::ArcState& s) { s.first_entry_offset = 0; },
       kCorrupt,
       {}},
      {"code left from before", good, [](format::ArcState& s) { s.status = kOpenFailed; }, kOk, {}},
      {"pack size past 2 GB",
       Cat({MainHeader(), huge, StoredEntry("X", {})}),
       [](format::ArcState& s) { s.first_entry_offset = 33; },
       kOk,
       {"H"}},
      {"header cut short", cut_in_b, nullptr, kOk, {"A", ""}},
      {"missing archive",
       good,
       [](format::ArcState& s) { s.archive_name[0] = '?'; },
       kOpenFailed,
       {}},
  };
  for (const auto& c : cases) {
    List(c.bytes, {}, c.setup);
    EXPECT_EQ(st_.status, c.status) << c.what;
    EXPECT_EQ(names_, c.names) << c.what;
  }
  EXPECT_EQ(list_.count, 0);
  List(cut_in_b);
  EXPECT_EQ(list_.last->pack_size, 1u);  // read before the cut
  EXPECT_EQ(list_.last->ftime, kStamp);
  EXPECT_EQ(list_.last->attr, 0u);  // cut: reads as 0
}

TEST_F(EntryList, OutOfMemoryKeepsTheRecordsBefore) {
  platform::ArmFault(platform::Fault::kAlloc, 2);
  List(Cat({MainHeader(), StoredEntry("A", {}), StoredEntry("B", {})}));
  EXPECT_EQ(st_.status, kNoMemory);
  EXPECT_EQ(names_, Names{"A"});
}

// Every cut of the file ends the walk cleanly (arbitrary bytes are the
// archive fuzzer's part).
TEST_F(EntryList, TruncatedArchivesEndCleanly) {
  const Bytes full = Cat({MainHeader(), StoredEntry("A.TXT", Text("hello")),
                          RawHeader(format::kHeadRecovery, 0, Bytes(4)), StoredEntry("B", {})});
  const auto from_33 = [](format::ArcState& s) { s.first_entry_offset = 33; };
  for (size_t cut = 34; cut <= full.size(); ++cut) {
    List(Bytes(full.begin(), full.begin() + cut), {}, from_33);
    EXPECT_TRUE(st_.status == kOk || st_.status == kCorrupt) << cut;
    EXPECT_LE(list_.count, 3) << cut;
  }
}

// Stands in for the comment decoder.
int32_t FakeDecode(void* ctx, platform::Handle, uint32_t offset, const char** text) {
  *static_cast<uint32_t*>(ctx) = offset;
  *text = "Hi \x82";
  return 4;
}

TEST_F(EntryList, FileCommentsComeThroughTheReader) {
  format::FileHeaderFields f;
  f.flags = format::kFileFlagPackSize | format::kFlagComment;
  const Bytes archive = Cat({MainHeader(), FileHeader("A", f), StoredEntry("B", {})});
  for (const auto& [read, host, comment] :
       {std::tuple{1, 0u, std::string("Hi ") + kAnsiEAcute}, {1, 2u, "Hi \x82"}, {0, 0u, ""}}) {
    uint32_t asked_at = 0;
    int32_t info[format::kArcInfoWords];
    static int32_t read_flag;
    static uint32_t host_system;
    read_flag = read;
    host_system = host;
    List(archive, {{}, {&FakeDecode, &asked_at}, info}, [](format::ArcState& s) {
      s.read_file_comments = read_flag;
      s.host_system = host_system;
    });
    EXPECT_EQ(std::string(list_.first->comment ? list_.first->comment : ""), comment);
    EXPECT_EQ(list_.first->comment_length, static_cast<int32_t>(comment.size()));
    EXPECT_EQ(asked_at, read ? 33u + 35 + 1 + 2 : 0u);
    EXPECT_EQ(info[4], read ? 2 : 0);
  }
}

// Bytes the caller read already stand in for the file's, whatever part of
// the header they cover: the record and the status come out the same.
TEST_F(EntryList, HeldHeaderBytesReadAsTheFile) {
  const Bytes entry = RawFileHeader(std::string(300, 'n'), 0x20);
  for (const size_t cut : {entry.size(), size_t{20}}) {  // whole, and cut in its fields
    const Bytes archive = Cat({MainHeader(), Bytes(entry.begin(), entry.begin() + cut)});
    format::ArcState st{};
    ASSERT_TRUE(Open(archive, st));
    const platform::Handle h = platform::Open(st.archive_name, 'r');
    ArcEntry plain{};
    format::ArcState plain_st = st;
    const bool plain_got = format::ReadNextHeader(plain_st, h, plain, {});
    for (uint32_t held = 0; held <= cut; ++held) {
      format::ArcState held_st = st;
      ArcEntry rec{};
      ASSERT_EQ(platform::Seek(h, static_cast<int32_t>(st.header_cursor + held), 0),
                static_cast<int32_t>(st.header_cursor + held));
      const format::HeldHeader bytes{st.header_cursor, archive.data() + st.header_cursor, held};
      EXPECT_EQ(format::ReadNextHeader(held_st, h, rec, {}, &bytes), plain_got)
          << cut << " " << held;
      EXPECT_EQ(held_st.status, plain_st.status) << cut << " " << held;
      EXPECT_EQ(held_st.header_cursor, plain_st.header_cursor) << cut << " " << held;
      EXPECT_EQ(std::string(rec.name), std::string(plain.name)) << cut << " " << held;
      EXPECT_EQ(rec.fname_size, plain.fname_size) << cut << " " << held;
      EXPECT_EQ(rec.attr, plain.attr) << cut << " " << held;
    }
    platform::Close(h);
  }
}

TEST_F(EntryList, ArcInfoWords) {
  const uint32_t flags = format::kFileFlagPackSize | format::kFileFlagEncrypted;
  const format::FileHeaderFields big{flags, 30000000, 59999990, 0, 0, format::kEmptyCrc, 0, 2, 9};
  int32_t info[format::kArcInfoWords];
  List(Cat({MainHeader(format::kMainFlagSolid), StoredEntry("A", Bytes(10)), FileHeader("B", big)}),
       {{}, {}, info});
  const int32_t expected[format::kArcInfoWords] = {11, 1, 0, 512,      0,        0, 1,
                                                   1,  1, 2, 30000010, 60000000, 50};
  for (int i = 0; i < format::kArcInfoWords; ++i) EXPECT_EQ(info[i], expected[i]) << "word " << i;
  EXPECT_EQ(st_.info_valid, 1);

  st_.main_comment_length = 5;
  st_.host_system = 3;
  format::ComputeArcInfo(st_, &list_, info);
  EXPECT_EQ(info[4], 1);
  EXPECT_EQ(info[8], 5);
  EXPECT_EQ(list_.last->host_os, 5);
}

TEST(CompressionRatio, SignedArithmetic) {
  for (const auto& [pack, orig, ratio] : {std::tuple{30000000u, 60000000u, 50},
                                          {100u, 300u, 33},
                                          {5u, 0u, 0},
                                          {0x1400000u, 1u, 0},
                                          {0x2800000u, 0x5000000u, 50},
                                          {0xFFFFFFFFu, 0xFFFFFFFFu, 100}})
    EXPECT_EQ(format::CompressionRatio(pack, orig), ratio) << pack << "/" << orig;
}

}  // namespace
}  // namespace acekit::testing
