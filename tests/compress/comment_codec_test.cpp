// The comment codec both ways: the symbols the parser chooses, the stream the
// encoder lays out (read back with the file decoder's own table reader, not
// with the comment decoder), and round trips through the comment decoder.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "compress/comment_encoder.h"
#include "decompress/comment_decoder.h"
#include "decompress/huffman_table.h"
#include "support.h"

namespace acekit::compress {
namespace {

using compress_test::Bytes;

Bytes Encode(const std::string& text) {
  EncodedComment enc;
  EXPECT_EQ(EncodeComment(text.data(), static_cast<uint32_t>(text.size()), enc), kOk);
  return Bytes(enc.data(), enc.data() + enc.size());
}

std::vector<uint16_t> Parse(const std::string& text) {
  std::vector<uint16_t> symbols(text.size());
  const uint32_t n = ParseComment(reinterpret_cast<const uint8_t*>(text.data()),
                                  static_cast<uint32_t>(text.size()), symbols.data());
  symbols.resize(n);
  return symbols;
}

std::string RandomText(size_t n, unsigned seed, int alphabet = 256) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng() % static_cast<unsigned>(alphabet));
  return s;
}

// Thirty equal bytes are two literals, a copy of 24 and four literals; the
// stream lays out the length, the code and those symbols, read field by field.
TEST(CommentStream, LaysOutLengthCodeAndSymbols) {
  const uint16_t a = 'x';
  const std::vector<uint16_t> want = {a, a, 24 + kCommentCopyBase, a, a, a, a};
  EXPECT_EQ(Parse(std::string(30, 'x')), want);
  const Bytes stream = Encode(std::string(30, 'x'));
  ASSERT_EQ(stream.size() % 4, 0u);
  decompress::test::Reader r(stream);
  EXPECT_EQ(r.in.Read(15), 30u);
  uint16_t table[1u << decompress::kMainTableWidth];
  uint8_t lengths[283];
  ASSERT_TRUE(decompress::ReadCodeLengths(r.in, decompress::kMainTableWidth, table, lengths, 282));
  std::vector<uint16_t> symbols;
  for (int i = 0; i < 7; ++i) {
    const uint16_t s = table[r.in.Peek(decompress::kMainTableWidth)];
    r.in.Skip(lengths[s]);
    symbols.push_back(s);
  }
  EXPECT_EQ(symbols, want);
  // What is left is padding to the end of the last word.
  EXPECT_EQ(r.in.Consumed() / 32, stream.size() / 4 - 1);
}

TEST(CommentRoundTrip, DecodesToTheSameBytes) {
  std::string accented;
  for (int i = 0; i < 40; ++i)
    accented += "Gr\xFC\xDF\x65, caf\xE9 \xE0 la cr\xE8me br\xFBl\xE9\x65. ";
  const std::string texts[] = {
      std::string(),       std::string("\x01"),    std::string(30, 'x'), accented,
      RandomText(5000, 3), RandomText(3000, 4, 3), RandomText(32767, 9), std::string(32767, '\0')};
  decompress::CommentDecoder decoder;
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.size());
    // Copies run 2 to 24 bytes and none starts within the last 24 bytes.
    size_t p = 0;
    for (uint16_t s : Parse(text)) {
      const size_t len = s >= 256 ? s - kCommentCopyBase : 1;
      EXPECT_TRUE(s < 256 || (len >= 2 && len <= 24 && text.size() - p > 24)) << p;
      p += len;
    }
    const Bytes stream = Encode(text);
    EXPECT_GE(stream.size(), &text == &texts[6] ? 8200u : 4u);  // refills the decoder
    EXPECT_LE(stream.size(), 2 * text.size() + 512);
    compress_test::MemorySource source(stream);
    const int32_t n = decoder.Decode(source);
    EXPECT_TRUE(std::string(decoder.text(), static_cast<size_t>(n)) == text);
  }
}

}  // namespace
}  // namespace acekit::compress
