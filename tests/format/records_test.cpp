#include "format/records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "format/archive_fixture.h"
#include "format/names.h"

namespace acekit::testing {
namespace {

TEST(MainHeader, SolidHeaderBytes) {
  const Bytes expected = Cat({{0xa9, 0x52, 0x1d, 0x00, 0x00, 0x00, 0x80, 0x2a, 0x2a, 0x41, 0x43,
                               0x45, 0x2a, 0x2a, 0x0a, 0x00, 0x00, 0x00, 0xc5, 0x73, 0x63, 0x28},
                              Bytes(11, 0)});
  EXPECT_EQ(MainHeader(kMainFlagSolid), expected);
}

TEST(MainHeader, AppendedBytesCountInSizeAndChecksum) {
  const Bytes extra(kNormalArchiveExtra, kNormalArchiveExtra + kNormalArchiveExtraSize);
  const Bytes h = MainHeader(0, extra);
  ASSERT_EQ(h.size(), 62u);
  EXPECT_EQ(Get16(h.data() + 2), 58);
  EXPECT_EQ(Get16(h.data()), HeaderCrc(h.data() + 4, 58));
  EXPECT_EQ(Get16(h.data() + 31), 0) << "COMMENT_SIZE stays 0";
  EXPECT_EQ(Get16(h.data() + 5), 0) << "no comment flag";

  // A count without bytes is ignored.
  uint8_t plain[kMainHeaderBytes];
  BuildMainHeader(plain, nullptr, 29, 0, kStamp);
  EXPECT_EQ(Get16(plain + 2), 29);
}

TEST(FileHeader, EmptyFileBytes) {
  const Bytes expected = {0xfd, 0x73, 0x26, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                          0x00, 0x00, 0x00, 0x00, 0xc5, 0x73, 0x63, 0x28, 0x20, 0x00, 0x00,
                          0x00, 0xff, 0xff, 0xff, 0xff, 0x00, 0x02, 0x06, 0x00, 0x00, 0x00,
                          0x05, 0x00, 0x41, 0x2e, 0x54, 0x58, 0x54, 0x00, 0x00};
  EXPECT_EQ(StoredEntry("A.TXT", {}), expected);
}

TEST(FileHeader, CompletedHeaderIsWrittenBackToCaller) {
  uint8_t head[kFileHeaderFixed] = {};
  PackFileHeaderFields(FileHeaderFields{}, head);
  uint8_t out[kFileHeaderMaxBytes];
  const uint32_t total = BuildFileHeader(head, "dir\\b.bin", Settings{}, out);
  EXPECT_EQ(total, 35u + 9 + 2);
  EXPECT_EQ(Get16(head + 2), 9 + 33);
  EXPECT_EQ(Get16(head + 33), 9);
  EXPECT_EQ(Get16(head), HeaderCrc(out + 4, total - 4));
  EXPECT_EQ(0, std::memcmp(head, out, kFileHeaderFixed));
}

// e-acute in the ANSI page of the system; the OEM page has it at 0x82.
#if defined(_WIN32)
constexpr const char* kAnsiEAcute = "\xE9.txt";
#else
constexpr const char* kAnsiEAcute = "\xC3\xA9.txt";
#endif

struct NameCase {
  const char* given;
  const char* relative;
  uint16_t options;
  const char* stored;
};

class StoredName : public ::testing::TestWithParam<NameCase> {};

TEST_P(StoredName, IsCleanedJoinedAndReduced) {
  const NameCase& c = GetParam();
  Settings s;
  s.options = c.options;
  CopyText(s.relative_path, sizeof s.relative_path, c.relative);
  const Bytes h = FileHeader(c.given, FileHeaderFields{}, s);
  const std::string stored(h.begin() + 35, h.end() - 2);
  EXPECT_EQ(stored, c.stored);
  EXPECT_EQ(Get16(h.data() + 33), stored.size());
  EXPECT_EQ(Get16(h.data()), HeaderCrc(h.data() + 4, h.size() - 4));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredName,
    ::testing::Values(NameCase{"D:\\work\\a.txt", "", 0, "work\\a.txt"},
                      NameCase{"\\\\server\\share\\dir\\a.txt", "", 0, "dir\\a.txt"},
                      NameCase{"..\\a.txt", "", 0, "a.txt"}, NameCase{"\\a.txt", "", 0, "a.txt"},
                      NameCase{"\\D:\\a.txt", "", 0, "a.txt"},
                      NameCase{"..\\..\\a.txt", "", 0, "..\\a.txt"},
                      NameCase{"\\\\server\\share", "", 0, ""},
                      NameCase{"D:\\work\\a.txt", "", kOptNamesOnly, "a.txt"},
                      NameCase{"\\\\server\\share\\dir\\a.txt", "", kOptNamesOnly, "a.txt"},
                      NameCase{"..\\a.txt", "", kOptNamesOnly, "a.txt"},
                      NameCase{"dir\\a.", "", kOptNamesOnly, "a"},
                      NameCase{"sub\\a.txt", "docs", 0, "docs\\sub\\a.txt"},
                      NameCase{"sub\\a.txt", "docs", kOptNamesOnly, "a.txt"},
                      NameCase{kAnsiEAcute, "", 0, "\x82.txt"}));

TEST(StoredName, LongNameIsCutTo255) {
  const std::string name(300, 'n');
  const Bytes h = FileHeader(name.c_str(), FileHeaderFields{});
  EXPECT_EQ(h.size(), 35u + 255 + 2);
  EXPECT_EQ(Get16(h.data() + 33), 255);
  EXPECT_EQ(Get16(h.data() + 2), 255 + 33);
}

TEST(CutNetworkPrefix, Cases) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"\\\\server\\share\\dir\\a.txt", "\\dir\\a.txt"},
               {"\\\\server\\share", ""},
               {"\\\\server", "server"},
               {"C:\\dir", "C:\\dir"}};
  for (const auto& c : cases) {
    char out[kPathSize];
    CutNetworkPrefix(c.in, out, sizeof out);
    EXPECT_STREQ(out, c.out) << c.in;
  }
}

TEST(Dictionary, CodesBothWays) {
  const struct {
    int32_t kb;
    uint8_t code;
  } write[] = {{64, 6}, {128, 7}, {256, 8}, {512, 9}, {1024, 10}, {32, 6}, {2048, 6}, {0, 6}};
  for (const auto& c : write) EXPECT_EQ(DictionaryCode(c.kb), c.code) << c.kb;

  const struct {
    uint32_t code, listed, solid;
  } read[] = {{6, 64, 0},       {7, 128, 128}, {8, 256, 256}, {9, 512, 512},
              {10, 1024, 1024}, {0, 64, 0},    {11, 64, 0},   {15, 64, 0}};
  for (const auto& c : read) {
    EXPECT_EQ(DictionaryKb(c.code), c.listed) << c.code;
    EXPECT_EQ(SolidDictionaryKb(c.code), c.solid) << c.code;
  }
}

}  // namespace
}  // namespace acekit::testing
