// The comment codec both ways: the symbols the parser chooses, and round
// trips through the comment decoder.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "compress/comment_encoder.h"
#include "decompress/comment_decoder.h"
#include "format/crc32.h"
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

// The parse is part of the output: thirty equal bytes are two literals, a
// copy of 24 and four literals. How the symbols are laid out is checked by
// the round trips, through a decoder held to streams written by hand.
TEST(CommentParse, ThirtyEqualBytes) {
  const uint16_t a = 'x';
  const std::vector<uint16_t> want = {a, a, 24 + kCommentCopyBase, a, a, a, a};
  EXPECT_EQ(Parse(std::string(30, 'x')), want);
}

TEST(CommentRoundTrip, DecodesToTheSameBytes) {
  std::string accented;
  for (int i = 0; i < 40; ++i)
    accented += "Gr\xFC\xDF\x65, caf\xE9 \xE0 la cr\xE8me br\xFBl\xE9\x65. ";
  const std::string texts[] = {
      std::string(),       std::string("\x01"),    std::string(30, 'x'), accented,
      RandomText(5000, 3), RandomText(3000, 4, 3), RandomText(32767, 9), std::string(32767, '\0')};
  decompress::CommentDecoder decoder;
  uint32_t crc = format::kCrcInit;
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
    crc = format::Crc32Update(crc, stream.data(), stream.size());
    EXPECT_GE(stream.size(), &text == &texts[6] ? 8200u : 4u);  // refills the decoder
    EXPECT_LE(stream.size(), 2 * text.size() + 512);
    compress_test::MemorySource source(stream);
    const int32_t n = decoder.Decode(source);
    EXPECT_TRUE(std::string(decoder.text(), static_cast<size_t>(n)) == text);
  }
  // The CRC-32 register of all the streams: changing any bit of the
  // encoder's output must change this on purpose.
  EXPECT_EQ(crc, 0xB9B19250u);
}

}  // namespace
}  // namespace acekit::compress
