// The comment decompressor, the counterpart of compress/comment_encoder.h.
//
// Comments come from archives the library did not write, so a stream is
// never trusted: a text that would need a copy from bytes not yet decoded,
// a copy running past the announced length, or bits the source never
// delivered make the whole comment count as absent, exactly like a code
// length set that no table can be built from.
#pragma once

#include <cstdint>

#include "decompress/bit_input.h"
#include "platform/platform.h"
#include "platform/stream.h"

namespace acekit::decompress {

// The text buffer: twice the longest text the length field announces.
inline constexpr uint32_t kCommentTextBytes = 65536;

// Holds the working buffers between decodings, so that a walk over many
// commented headers takes them once; they go with the object.
class CommentDecoder {
 public:
  CommentDecoder() = default;
  ~CommentDecoder() { Release(); }
  CommentDecoder(const CommentDecoder&) = delete;
  CommentDecoder& operator=(const CommentDecoder&) = delete;

  // Takes the text and word buffers unless already held; false when memory
  // is short.
  bool Reserve();
  void Release();

  // Decodes one stream read from `source`. Returns the text length, 0 when
  // the text is empty, damaged, or the buffers cannot be taken. The text is
  // followed by a zero byte and stays valid until the next call.
  int32_t Decode(platform::ByteSource& source);
  // The same for the stream at `offset` of an open archive; the file
  // position is put back afterwards.
  int32_t DecodeAt(platform::Handle archive, uint32_t offset);

  const char* text() const;

 private:
  struct Work;
  int32_t Run(platform::ByteSource& source);
  Work* work_ = nullptr;
};

}  // namespace acekit::decompress
