// The comment decoder against streams written bit by bit here, so that its
// reading of the format does not rest on the comment encoder: the pair hash,
// overlapping copies, and the damaged streams it must drop.
#include "decompress/comment_decoder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "stream_builder.h"

namespace acekit::decompress::test {
namespace {

// Every literal 0..255 and every copy symbol 256..282 gets a 9-bit code.
const Code& AllSymbols() {
  static const Code code(std::vector<uint8_t>(283, 9));
  return code;
}

// A stream announcing `length` bytes, with the given symbols.
std::vector<uint8_t> Stream(uint32_t length, const std::vector<int>& symbols) {
  BitWriter w;
  w.Put(15, length);
  PutCodeLengths(w, AllSymbols().lengths);
  for (int s : symbols) AllSymbols().Put(w, s);
  return w.Finish();
}

std::string Decode(std::vector<uint8_t> bytes, int32_t* length = nullptr) {
  CommentDecoder decoder;
  MemorySource source(std::move(bytes));
  const int32_t n = decoder.Decode(source);
  if (length != nullptr) *length = n;
  return std::string(decoder.text(), static_cast<size_t>(n));
}

struct DecodeCase {
  const char* what;
  uint32_t length;
  std::vector<int> symbols;
  std::string text;  // empty: the comment is dropped
};

class CommentDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(CommentDecode, FollowsThePairHashOrDrops) {
  const DecodeCase& c = GetParam();
  int32_t n = -1;
  EXPECT_EQ(Decode(Stream(c.length, c.symbols), &n), c.text);
  EXPECT_EQ(n, static_cast<int32_t>(c.text.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Streams, CommentDecode,
    ::testing::Values(
        // At d = 2 the pair "ab" has no earlier position: the candidate is 0.
        // At d = 4 it points at 2, where the copy started.
        DecodeCase{"CopyThroughThePairHash", 5, {'a', 'b', 256, 'a'}, "ababa"},
        // "ab" and "ba" share a slot: at d = 4 the candidate is 3, not 2.
        DecodeCase{"PairHashIgnoresOrder", 7, {'a', 'b', 'a', 'b', 256, 'c'}, "ababbbc"},
        // The copy reads bytes it has just written.
        DecodeCase{"OverlappingCopy", 26, {'z', 'z', 278}, std::string(26, 'z')},
        DecodeCase{"LongestSymbolCopies28", 30, {'q', 'q', 282}, std::string(30, 'q')},
        DecodeCase{"CopyBeforeAnyByte", 4, {256, 'a', 'b'}, ""},
        DecodeCase{"CopyPastTheLength", 5, {'a', 'b', 258}, ""},
        DecodeCase{"EmptyText", 0, {}, ""}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(CommentDecoder, DropsAnUnbuildableCodeLengthSet) {
  // Lower limit 8 lifts the one code to 12 bits, beyond the 11-bit table.
  const Code cl(std::vector<uint8_t>(13, 4));
  BitWriter w;
  w.Put(15, 3);
  w.Put(9, 'a');
  w.Put(4, 8);
  w.Put(4, 12);
  for (int i = 0; i <= 12; ++i) w.Put(3, 4);
  for (int i = 0; i <= 'a'; ++i) cl.Put(w, i == 'a' ? 4 : 0);
  w.Put(12, 0);
  EXPECT_EQ(Decode(w.Finish()), "");
}

TEST(CommentDecoder, DropsAStreamCutShort) {
  std::vector<uint8_t> bytes = Stream(200, std::vector<int>(200, 'x'));
  bytes.resize(bytes.size() / 2);
  int32_t n = -1;
  Decode(bytes, &n);
  EXPECT_EQ(n, 0);
}

TEST(CommentDecoder, KeepsNoTextOfADroppedComment) {
  CommentDecoder decoder;
  MemorySource good(Stream(3, {'a', 'b', 'c'}));
  ASSERT_EQ(decoder.Decode(good), 3);
  MemorySource bad(Stream(5, {'x', 'y', 258}));
  EXPECT_EQ(decoder.Decode(bad), 0);
  EXPECT_STREQ(decoder.text(), "");
}

TEST(CommentDecoder, ReadsAStreamAcrossTheWordBufferRefill) {
  std::mt19937 rng(5);
  std::vector<int> symbols(8000);
  std::string want;
  for (int& s : symbols) {
    s = static_cast<int>(rng() % 256);
    want += static_cast<char>(s);
  }
  const std::vector<uint8_t> bytes = Stream(8000, symbols);
  ASSERT_GT(bytes.size(), 2 * kWordBufferBytes);
  EXPECT_TRUE(Decode(bytes) == want);
}

TEST(CommentDecoder, DecodesAtAnOffsetAndPutsThePositionBack) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                     ("acekit-comment-" + std::to_string(std::random_device{}()));
  const std::vector<uint8_t> stream = Stream(5, {'a', 'b', 256, 'a'});
  {
    std::ofstream out(file, std::ios::binary);
    out << std::string(1000, '#');
    out.write(reinterpret_cast<const char*>(stream.data()),
              static_cast<std::streamsize>(stream.size()));
  }
  const platform::Handle h = platform::Open(file.string().c_str(), 'r');
  ASSERT_NE(h, platform::kBadHandle);
  ASSERT_EQ(platform::Seek(h, 17, 0), 17);
  CommentDecoder decoder;
  EXPECT_EQ(decoder.DecodeAt(h, 1000), 5);
  EXPECT_STREQ(decoder.text(), "ababa");
  EXPECT_EQ(platform::Tell(h), 17);
  platform::Close(h);
  std::filesystem::remove(file);
}

TEST(CommentDecoder, OutOfMemoryDropsTheComment) {
  CommentDecoder decoder;
  MemorySource source(Stream(3, {'a', 'b', 'c'}));
  platform::ArmFault(platform::Fault::kAlloc, 1);
  EXPECT_EQ(decoder.Decode(source), 0);
  platform::DisarmFaults();
  EXPECT_STREQ(decoder.text(), "");
}

}  // namespace
}  // namespace acekit::decompress::test
