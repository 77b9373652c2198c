#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/text.h"
#include "test_dir.h"  // and, on Windows, the system's own header

namespace acekit::platform {
namespace {

// A UTF-8 literal in the system's "ANSI" code page: itself on posix.
std::string Ansi(const char* utf8) {
#if defined(_WIN32)
  wchar_t wide[256];
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 256);
  char out[512];
  const int m = WideCharToMultiByte(CP_ACP, 0, wide, n, out, sizeof(out), nullptr, nullptr);
  return m > 0 ? std::string(out) : std::string();
#else
  return utf8;
#endif
}

bool OemIs437() {
#if defined(_WIN32)
  return GetOEMCP() == 437;
#else
  return true;
#endif
}

std::string ToOem(const std::string& ansi) {
  std::vector<char> buf(ansi.size() + 1, '#');
  CharToOem(ansi.c_str(), buf.data(), buf.size());
  return buf.data();
}

std::string FromOem(const std::string& oem) {
  std::vector<char> buf(oem.size() * 3 + 1, '#');
  OemToChar(oem.c_str(), buf.data(), buf.size());
  return buf.data();
}

// Text and its CP437 form; a character CP437 lacks becomes '?' one way only.
// (Windows maps some other characters to a look-alike instead, such as À to
// A; the euro sign has none there either.)
TEST(CodePage, Cp437BothWays) {
  if (!OemIs437()) GTEST_SKIP() << "OEM code page is not 437";
  const struct {
    const char* utf8;
    const char* oem;
    bool back;
  } cases[] = {
    {"Hello, World! 0123 ~{}[]\\/:*?\"<>|", "Hello, World! 0123 ~{}[]\\/:*?\"<>|", true},
    {"", "", true},
    {"café über straße Ä", "caf\202 \201ber stra\341e \216", true},
#if defined(_WIN32)
    {"a€b", "a?b", false},
    {"€uro é", "?uro \x82", false},
#endif
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToOem(Ansi(c.utf8)), c.oem) << c.utf8;
    EXPECT_TRUE(!c.back || FromOem(c.oem) == Ansi(c.utf8)) << c.utf8;
  }
}

#if !defined(_WIN32)
TEST(CodePage, PosixUtf8EdgesAndEveryCp437Byte) {
  std::string all;
  for (int b = 0x20; b < 0x100; ++b) all += static_cast<char>(b);
  EXPECT_EQ(ToOem(FromOem(all)), all);
  EXPECT_EQ(text::Cp437ToUnicode(0xFF), 0xA0u);
  EXPECT_EQ(text::UnicodeToCp437(0x20AC), -1);
  EXPECT_EQ(ToOem("\377x"), "?x");            // not UTF-8
  EXPECT_EQ(ToOem("\342\202x\303"), "??x?");  // cut sequences, one mark per byte
  std::string upper = "a\377b\303cαβγ 中";
  CharUpper(upper.data());
  EXPECT_EQ(upper, "A\377B\303Cαβγ 中");
}
#endif

#if !defined(_WIN32)
// A name CP437 cannot hold keeps its UTF-8 bytes, whole, and is read back
// as it was; so is anything valid UTF-8 with a multi-byte character. Text
// that is not UTF-8 goes the CP437 way as before.
TEST(CodePage, PosixNamesBeyondCp437StayUtf8) {
  const struct {
    const char* utf8;
    const char* stored;
  } cases[] = {{"À中文.txt", "À中文.txt"},
               {"a€b", "a€b"},
               {"€uro é", "€uro é"},  // one character too many: all of it as UTF-8
               {"café", "caf\202"},
               {"\342\202x\303", "??x?"}};
  for (const auto& c : cases) {
    EXPECT_EQ(ToOem(c.utf8), c.stored) << c.utf8;
    if (c.stored[0] != '?') {
      EXPECT_EQ(FromOem(c.stored), c.utf8) << c.utf8;
    }
  }
  // Kept UTF-8 is cut between characters only.
  char buf[6];
  CharToOem("ab中文", buf, sizeof buf);
  EXPECT_STREQ(buf, "ab中");
  OemToChar("中文", buf, 4);
  EXPECT_STREQ(buf, "中");
  EXPECT_EQ(FromOem("\202\201"), "éü");  // not UTF-8: CP437
}
#endif

// Whatever the code page, the output is a terminated prefix of the full
// conversion and nothing past dst_size is touched.
void CheckCut(void (*convert)(const char*, char*, size_t), const std::string& src) {
  std::vector<char> full(src.size() * 3 + 1);
  convert(src.c_str(), full.data(), full.size());
  const std::string whole = full.data();
  for (size_t size = 0; size <= whole.size() + 2; ++size) {
    std::vector<char> buf(size + 8, '#');
    convert(src.c_str(), buf.data(), size);
    for (size_t i = size; i < buf.size(); ++i) ASSERT_EQ(buf[i], '#') << "size " << size;
    if (size == 0) continue;
    const size_t len = std::strlen(buf.data());
    ASSERT_LT(len, size);
    EXPECT_EQ(whole.compare(0, len, buf.data()), 0) << "size " << size;
    EXPECT_TRUE(size <= whole.size() || buf.data() == whole) << "size " << size;
  }
}

TEST(CodePage, CutTextsNeverOverrun) {
  CheckCut(CharToOem, Ansi("héllo wörld ß"));
  CheckCut(OemToChar, "h\x82llo w\x94rld \xE1\xE1\xE1");
}

TEST(CodePage, InPlaceConversionAndMissingTexts) {
  if (!OemIs437()) GTEST_SKIP() << "OEM code page is not 437";
  char buf[64];
  const std::string ansi = Ansi("Größe.txt");
  std::strcpy(buf, ansi.c_str());
  CharToOem(buf, buf, sizeof(buf));
  EXPECT_STREQ(buf, "Gr\224\341e.txt");
  OemToChar(buf, buf, sizeof(buf));
  EXPECT_EQ(std::string(buf), ansi);
  // Growing in place is cut at the buffer too.
  char small[6] = "\x82\x82\x82\x82";
  OemToChar(small, small, sizeof(small));
  EXPECT_LT(std::strlen(small), sizeof(small));
  EXPECT_EQ(std::string(small).substr(0, Ansi("é").size()), Ansi("é"));

  CharToOem(nullptr, buf, sizeof(buf));
  EXPECT_EQ(buf[0], '\0');
  CharToOem("abc", nullptr, 10);
  OemToChar("abc", nullptr, 10);
  CharUpper(nullptr);
}

TEST(CodePage, CharUpperLatin1) {
  std::string text = Ansi("héllo wörld àéîõü çñ ÿ ß ÷ 123 © É");
  const size_t size = text.size();
  CharUpper(text.data());
  EXPECT_EQ(text, Ansi("HÉLLO WÖRLD ÀÉÎÕÜ ÇÑ Ÿ ß ÷ 123 © É"));
  EXPECT_EQ(text.size(), size);
}

}  // namespace
}  // namespace acekit::platform
