// The comment decoder against streams written bit by bit here, so that its
// reading of the format does not rest on the comment encoder: the pair hash,
// overlapping copies, and the damaged streams it must drop.
#include "decompress/comment_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
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

// A code-length set whose lower limit 8 lifts the one code to 12 bits,
// beyond the 11-bit table.
std::vector<uint8_t> UnbuildableSet() {
  const Code cl(std::vector<uint8_t>(13, 4));
  BitWriter w;
  w.Put(15, 3);
  w.Put(9, 'a');
  w.Put(4, 8);
  w.Put(4, 12);
  for (int i = 0; i <= 12; ++i) w.Put(3, 4);
  for (int i = 0; i <= 'a'; ++i) cl.Put(w, i == 'a' ? 4 : 0);
  w.Put(12, 0);
  return w.Finish();
}

TEST(CommentDecoder, FollowsThePairHashOrDrops) {
  std::vector<uint8_t> cut = Stream(200, std::vector<int>(200, 'x'));
  cut.resize(cut.size() / 2);
  const std::pair<std::vector<uint8_t>, std::string> cases[] = {
      // At d = 2 the pair "ab" has no earlier position: the candidate is 0.
      // At d = 4 it points at 2, where the copy started.
      {Stream(5, {'a', 'b', 256, 'a'}), "ababa"},
      // "ab" and "ba" share a slot: at d = 4 the candidate is 3, not 2.
      {Stream(7, {'a', 'b', 'a', 'b', 256, 'c'}), "ababbbc"},
      // The copy reads bytes it has just written.
      {Stream(26, {'z', 'z', 278}), std::string(26, 'z')},
      {Stream(30, {'q', 'q', 282}), std::string(30, 'q')},  // the longest copy, 28
      // Dropped: a copy before any byte or past the length, nothing, a set
      // of code lengths that builds no table, a stream cut short.
      {Stream(4, {256, 'a', 'b'}), ""},
      {Stream(5, {'a', 'b', 258}), ""},
      {Stream(0, {}), ""},
      {UnbuildableSet(), ""},
      {cut, ""},
  };
  CommentDecoder decoder;
  for (const auto& [stream, text] : cases) {
    // A dropped comment must not show what the decoder held before.
    MemorySource earlier(Stream(3, {'o', 'l', 'd'}));
    ASSERT_EQ(decoder.Decode(earlier), 3);
    MemorySource source(stream);
    EXPECT_EQ(decoder.Decode(source), static_cast<int32_t>(text.size()));
    EXPECT_EQ(std::string(decoder.text()), text);
  }
}

}  // namespace
}  // namespace acekit::decompress::test
