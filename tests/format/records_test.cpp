#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <tuple>

#include "format/archive_fixture.h"

namespace acekit::testing {
namespace {

TEST(Records, SolidMainHeaderBytes) {
  const Bytes expected = Cat({{0xa9, 0x52, 0x1d, 0x00, 0x00, 0x00, 0x80, 0x2a, 0x2a, 0x41, 0x43,
                               0x45, 0x2a, 0x2a, 0x0a, 0x00, 0x00, 0x00, 0xc5, 0x73, 0x63, 0x28},
                              Bytes(11, 0)});
  EXPECT_EQ(MainHeader(format::kMainFlagSolid), expected);
}

TEST(Records, AppendedBytesCountInSizeAndChecksum) {
  const Bytes h =
      MainHeader(0, Bytes(format::kNormalArchiveExtra, std::end(format::kNormalArchiveExtra)));
  ASSERT_EQ(h.size(), 62u);
  EXPECT_EQ(format::Get16(h.data() + 2), 58);
  EXPECT_EQ(format::Get16(h.data()), format::HeaderCrc(h.data() + 4, 58));
  EXPECT_EQ(format::Get16(h.data() + 31), 0);  // no comment announced
}

TEST(Records, EmptyFileHeaderBytes) {
  const Bytes expected = {0xfd, 0x73, 0x26, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                          0x00, 0x00, 0x00, 0x00, 0xc5, 0x73, 0x63, 0x28, 0x20, 0x00, 0x00,
                          0x00, 0xff, 0xff, 0xff, 0xff, 0x00, 0x02, 0x06, 0x00, 0x00, 0x00,
                          0x05, 0x00, 0x41, 0x2e, 0x54, 0x58, 0x54, 0x00, 0x00};
  EXPECT_EQ(StoredEntry("A.TXT", {}), expected);
}

TEST(Records, StoredNames) {
  const std::string n300(300, 'n');
  const struct {
    std::string given;
    const char* relative;
    uint16_t options;
    std::string stored;
  } cases[] = {
      {"D:\\work\\a.txt", "", 0, "work\\a.txt"},
      {"\\\\server\\share\\dir\\a.txt", "", 0, "dir\\a.txt"},
      {"..\\a.txt", "", 0, "a.txt"},
      {"\\D:\\a.txt", "", 0, "a.txt"},
      {"..\\..\\a.txt", "", 0, "..\\a.txt"},  // one level only
      {"\\\\server", "", 0, "server"},
      {"D:\\work\\a.txt", "", format::kOptNamesOnly, "a.txt"},
      {"dir\\a.", "", format::kOptNamesOnly, "a"},
      {"sub\\a.txt", "docs", 0, "docs\\sub\\a.txt"},
      {"sub\\a.txt", "docs", format::kOptNamesOnly, "a.txt"},
      {std::string(kAnsiEAcute) + ".txt", "", 0, "\x82.txt"},
      {n300, "", 0, n300.substr(0, 255)},
  };
  for (const auto& c : cases) {
    format::Settings s;
    s.options = c.options;
    format::CopyText(s.relative_path, sizeof s.relative_path, c.relative);
    const Bytes h = FileHeader(c.given.c_str(), format::FileHeaderFields{}, s);
    EXPECT_EQ(std::string(h.begin() + 35, h.end() - 2), c.stored) << c.given;
    EXPECT_EQ(format::Get16(h.data() + 33), c.stored.size());
    EXPECT_EQ(format::Get16(h.data() + 2), c.stored.size() + 33);
    EXPECT_EQ(format::Get16(h.data()), format::HeaderCrc(h.data() + 4, h.size() - 4));
  }
}

TEST(Records, DictionaryCodes) {
  for (const auto& [kb, code] : {std::pair{64, 6}, {128, 7}, {1024, 10}, {100, 6}, {2048, 6}})
    EXPECT_EQ(format::DictionaryCode(kb), code) << kb;
  for (const auto& [code, listed, solid] : {std::tuple{6u, 64u, 0u},
                                            {7u, 128u, 128u},
                                            {10u, 1024u, 1024u},
                                            {11u, 64u, 0u},
                                            {0u, 64u, 0u}}) {
    EXPECT_EQ(format::DictionaryKb(code), listed) << code;
    EXPECT_EQ(format::SolidDictionaryKb(code), solid) << code;
  }
}

}  // namespace
}  // namespace acekit::testing
