#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
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

TEST(CodePage, AsciiPassesThrough) {
  const std::string text = "Hello, World! 0123 ~{}[]\\/:*?\"<>|";
  EXPECT_EQ(ToOem(text), text);
  EXPECT_EQ(FromOem(text), text);
  EXPECT_EQ(ToOem(""), "");
  EXPECT_EQ(FromOem(""), "");
}

TEST(CodePage, Cp437RoundTrips) {
  if (!OemIs437()) GTEST_SKIP() << "OEM code page is not 437";
  const std::pair<const char*, const char*> pairs[] = {{"é", "\x82"},
                                                       {"ü", "\x81"},
                                                       {"ß", "\xE1"},
                                                       {"Ä", "\x8E"},
                                                       {"café über straße",
                                                        "caf\x82 \x81"
                                                        "ber stra\xE1"
                                                        "e"}};
  for (const auto& [utf8, oem] : pairs) {
    EXPECT_EQ(ToOem(Ansi(utf8)), oem) << utf8;
    EXPECT_EQ(FromOem(oem), Ansi(utf8)) << utf8;
  }
  const std::string names = Ansi("Ärger Öl Ñandú ñ ç £ ¥ ½ ¿ ¡ « » ° ± ²");
  EXPECT_EQ(FromOem(ToOem(names)), names);
}

TEST(CodePage, CharacterWithoutCp437FormBecomesQuestionMark) {
  if (!OemIs437()) GTEST_SKIP() << "OEM code page is not 437";
  // (Windows maps some other characters to a look-alike instead, such as À
  // to A; the euro sign has none there either.)
  EXPECT_EQ(ToOem(Ansi("a€b")), "a?b");
  EXPECT_EQ(ToOem(Ansi("€uro é")), "?uro \x82");
#if !defined(_WIN32)
  EXPECT_EQ(ToOem("À"), "?");
  EXPECT_EQ(ToOem("中文.txt"), "??.txt");
  EXPECT_EQ(ToOem("\xFF"
                  "x"),
            "?x");                // not UTF-8
  EXPECT_EQ(ToOem("\xC3"), "?");  // cut sequence
  EXPECT_EQ(ToOem("\xE2\x82"
                  "x"),
            "?"
            "?x");  // cut sequence, one mark per byte
#endif
}

#if !defined(_WIN32)
TEST(CodePage, EveryCp437ByteRoundTripsThroughUtf8) {
  std::string all;
  for (int b = 0x20; b < 0x100; ++b) all += static_cast<char>(b);
  const std::string utf8 = FromOem(all);
  EXPECT_GT(utf8.size(), all.size());
  EXPECT_EQ(ToOem(utf8), all);
  for (int b = 0x80; b < 0x100; ++b) {
    EXPECT_EQ(text::UnicodeToCp437(text::Cp437ToUnicode(static_cast<uint8_t>(b))), b);
  }
  EXPECT_EQ(text::Cp437ToUnicode(0x82), 0xE9u);
  EXPECT_EQ(text::Cp437ToUnicode(0xFF), 0xA0u);
  EXPECT_EQ(text::UnicodeToCp437(0x20AC), -1);
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
    if (size > whole.size()) {
      EXPECT_EQ(std::string(buf.data()), whole);
    }
  }
}

TEST(CodePage, CutTextsNeverOverrun) {
  CheckCut(CharToOem, Ansi("héllo wörld ß"));
  CheckCut(OemToChar, "h\x82llo w\x94rld \xE1\xE1\xE1");
  CheckCut(CharToOem, "plain ascii text");
  CheckCut(OemToChar, "plain ascii text");
}

TEST(CodePage, InPlaceConversion) {
  if (!OemIs437()) GTEST_SKIP() << "OEM code page is not 437";
  char buf[64];
  const std::string ansi = Ansi("Größe.txt");
  std::strcpy(buf, ansi.c_str());
  CharToOem(buf, buf, sizeof(buf));
  EXPECT_STREQ(buf,
               "Gr\x94\xE1"
               "e.txt");
  OemToChar(buf, buf, sizeof(buf));
  EXPECT_EQ(std::string(buf), ansi);
  // Growing in place is cut at the buffer too.
  char small[6] = "\x82\x82\x82\x82";
  OemToChar(small, small, sizeof(small));
  EXPECT_LT(std::strlen(small), sizeof(small));
  EXPECT_EQ(std::string(small).substr(0, Ansi("é").size()), Ansi("é"));
}

// Sizes 0 and 1 are among the cuts above; missing texts and buffers remain.
TEST(CodePage, NullTextsAndBuffers) {
  char buf[4] = {'#', '#', '#', '#'};
  CharToOem(nullptr, buf, sizeof(buf));
  EXPECT_EQ(buf[0], '\0');
  CharToOem("abc", nullptr, 10);
  OemToChar("abc", nullptr, 10);
  CharUpper(nullptr);
}

TEST(CodePage, CharUpperLatin1) {
  std::string text = Ansi("héllo wörld àéîõü çñ ÿ ß ÷ 123 ©");
  const size_t size = text.size();
  CharUpper(text.data());
  EXPECT_EQ(text, Ansi("HÉLLO WÖRLD ÀÉÎÕÜ ÇÑ Ÿ ß ÷ 123 ©"));
  EXPECT_EQ(text.size(), size);
  std::string upper = Ansi("ALREADY UPPER ÉÖ");
  CharUpper(upper.data());
  EXPECT_EQ(upper, Ansi("ALREADY UPPER ÉÖ"));
  char empty[1] = "";
  CharUpper(empty);
  EXPECT_STREQ(empty, "");
}

#if !defined(_WIN32)
TEST(CodePage, CharUpperKeepsInvalidUtf8AndOtherScripts) {
  std::string text =
      "a\xFF"
      "b\xC3"
      "c"
      "αβγ 中";
  CharUpper(text.data());
  EXPECT_EQ(text,
            "A\xFF"
            "B\xC3"
            "C"
            "αβγ 中");
}
#endif

}  // namespace
}  // namespace acekit::platform
