// The comment codec both ways: the symbols the parser chooses, the stream the
// encoder lays out (read back with the file decoder's own table reader, not
// with the comment decoder), and round trips through the comment decoder.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "compress/comment_encoder.h"
#include "decompress/bit_input.h"
#include "decompress/comment_decoder.h"
#include "decompress/huffman_table.h"
#include "support.h"

namespace acekit::compress {
namespace {

using compress_test::Bytes;
using compress_test::MemSource;

Bytes Encode(const std::string& text) {
  EncodedComment enc;
  EXPECT_EQ(EncodeComment(text.data(), static_cast<uint32_t>(text.size()), enc), kOk);
  return Bytes(enc.data(), enc.data() + enc.size());
}

std::string Decode(const Bytes& stream) {
  decompress::CommentDecoder decoder;
  MemSource source(stream);
  const int32_t n = decoder.Decode(source);
  return std::string(decoder.text(), static_cast<size_t>(n));
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

TEST(CommentParse, ThirtyEqualBytesAreTwoLiteralsACopyOf24AndFourLiterals) {
  const uint16_t a = 'x';
  const std::vector<uint16_t> want = {a, a, 24 + kCommentCopyBase, a, a, a, a};
  EXPECT_EQ(Parse(std::string(30, 'x')), want);
}

// The stream of the 30-byte example, read field by field.
TEST(CommentStream, LaysOutLengthCodeAndSymbols) {
  const Bytes stream = Encode(std::string(30, 'x'));
  ASSERT_EQ(stream.size() % 4, 0u);
  std::vector<uint8_t> buffer(decompress::kWordBufferBytes);
  MemSource source(stream);
  decompress::BitFeed feed;
  feed.source = &source;
  feed.buffer = buffer.data();
  decompress::BitInput in;
  in.Start(feed);
  EXPECT_EQ(in.Read(15), 30u);
  uint16_t table[1u << decompress::kMainTableWidth];
  uint8_t lengths[283];
  ASSERT_TRUE(decompress::ReadCodeLengths(in, decompress::kMainTableWidth, table, lengths, 282));
  std::vector<uint16_t> symbols;
  for (int i = 0; i < 7; ++i) {
    const uint16_t s = table[in.Peek(decompress::kMainTableWidth)];
    in.Skip(lengths[s]);
    symbols.push_back(s);
  }
  EXPECT_EQ(symbols, Parse(std::string(30, 'x')));
  // What is left is padding to the end of the last word.
  EXPECT_EQ(in.Consumed() / 32, stream.size() / 4 - 1);
}

struct RoundTripCase {
  const char* what;
  std::string text;
  size_t min_stream;  // the stream must be at least this long
};

class CommentRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(CommentRoundTrip, DecodesToTheSameBytes) {
  const RoundTripCase& c = GetParam();
  // Copies run 2 to 24 bytes and none starts within the last 24 bytes.
  size_t p = 0;
  for (uint16_t s : Parse(c.text)) {
    const size_t len = s >= 256 ? s - kCommentCopyBase : 1;
    EXPECT_TRUE(s < 256 || (len >= 2 && len <= 24 && c.text.size() - p > 24)) << p;
    p += len;
  }
  const Bytes stream = Encode(c.text);
  EXPECT_GE(stream.size(), c.min_stream);
  EXPECT_LE(stream.size(), 2 * c.text.size() + 512);
  EXPECT_TRUE(Decode(stream) == c.text);
}

std::string Accented() {
  std::string s;
  for (int i = 0; i < 40; ++i)
    s += "Gr\xFC\xDF"
         "e, caf\xE9 \xE0 la cr\xE8me br\xFBl\xE9"
         "e. ";
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CommentRoundTrip,
    ::testing::Values(RoundTripCase{"Empty", "", 4}, RoundTripCase{"OneByte", "\x01", 4},
                      RoundTripCase{"ThirtyEqual", std::string(30, 'x'), 4},
                      RoundTripCase{"Accented", Accented(), 4},
                      RoundTripCase{"AllBytes", RandomText(5000, 3), 4},
                      RoundTripCase{"ThreeLetters", RandomText(3000, 4, 3), 4},
                      // Longer than the decoder's 4096-byte word buffer.
                      RoundTripCase{"RefilledStream", RandomText(32767, 9), 8200},
                      RoundTripCase{"LongRuns", std::string(32767, '\0'), 4}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace acekit::compress
