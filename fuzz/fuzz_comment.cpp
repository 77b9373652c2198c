// Feeds arbitrary bytes to the comment codec, both ways:
//   - as a compressed comment stream, which the decoder must either decode
//     within its bounds or drop;
//   - as comment text (up to the longest the stream can announce), which must
//     come back unchanged from an encode and decode.
//
//   fuzz_comment -max_total_time=60 WORK_DIR
#include <cstdint>
#include <cstring>

#include "common/status.h"
#include "compress/comment_encoder.h"
#include "decompress/comment_decoder.h"
#include "fuzz_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  acekit::decompress::CommentDecoder decoder;

  fuzz::Source stream(data, size);
  const int32_t length = decoder.Decode(stream);
  if (length < 0 || static_cast<uint32_t>(length) > acekit::compress::kCommentMaxText) {
    __builtin_trap();
  }
  if (decoder.text()[length] != '\0') __builtin_trap();

  const uint32_t n = size < acekit::compress::kCommentMaxText ? static_cast<uint32_t>(size)
                                                              : acekit::compress::kCommentMaxText;
  acekit::compress::EncodedComment encoded;
  if (acekit::compress::EncodeComment(data, n, encoded) != acekit::kOk) __builtin_trap();
  if (encoded.size() % 4 != 0 || encoded.size() > 2 * n + 512) __builtin_trap();
  fuzz::Source round(encoded.data(), encoded.size());
  if (decoder.Decode(round) != static_cast<int32_t>(n)) __builtin_trap();
  if (n > 0 && std::memcmp(decoder.text(), data, n) != 0) __builtin_trap();
  return 0;
}
