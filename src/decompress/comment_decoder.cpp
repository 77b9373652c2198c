#include "decompress/comment_decoder.h"

#include "decompress/huffman_table.h"

namespace acekit::decompress {
namespace {

constexpr int kHighestSymbol = 282;
constexpr uint32_t kCopyBase = 254;  // symbol s >= 256 copies s - 254 bytes
constexpr uint32_t kHashSlots = 511;

}  // namespace

struct CommentDecoder::Work {
  uint8_t text[kCommentTextBytes];
  uint8_t words[kWordBufferBytes];
  uint16_t table[1u << kMainTableWidth];
  uint8_t lengths[kHighestSymbol + 1];
};

bool CommentDecoder::Reserve() {
  if (work_ == nullptr) work_ = static_cast<Work*>(platform::AllocZeroed(sizeof(Work)));
  return work_ != nullptr;
}

void CommentDecoder::Release() {
  if (work_ != nullptr) platform::Free(work_);
  work_ = nullptr;
}

const char* CommentDecoder::text() const {
  return work_ != nullptr ? reinterpret_cast<const char*>(work_->text) : "";
}

int32_t CommentDecoder::Decode(platform::ByteSource& source) {
  if (!Reserve()) return 0;
  const int32_t length = Run(source);
  // A dropped comment leaves no partial text behind.
  if (length == 0) work_->text[0] = 0;
  return length;
}

int32_t CommentDecoder::Run(platform::ByteSource& source) {
  Work& w = *work_;
  BitFeed feed;
  feed.source = &source;
  feed.buffer = w.words;
  BitInput in;
  in.Start(feed);

  const uint32_t length = in.Read(15);
  if (!ReadCodeLengths(in, kMainTableWidth, w.table, w.lengths, kHighestSymbol)) return 0;

  uint16_t hash[kHashSlots] = {};
  uint32_t from = 0;
  uint32_t d = 0;
  while (d < length) {
    if (d >= 2) {
      const uint32_t h = static_cast<uint32_t>(w.text[d - 2]) + w.text[d - 1];
      from = hash[h];
      hash[h] = static_cast<uint16_t>(d);
    }
    const uint32_t s = w.table[in.Peek(kMainTableWidth)];
    in.Skip(w.lengths[s]);
    if (s < 256) {
      w.text[d++] = static_cast<uint8_t>(s);
      continue;
    }
    // The source must lie before d, and the copy must end within the text:
    // otherwise the stream is not one an encoder wrote.
    const uint32_t n = s - kCopyBase;
    if (from >= d || n > length - d) return 0;
    // Byte by byte: a copy may overlap the bytes it produces.
    for (uint32_t i = 0; i < n; ++i) w.text[d + i] = w.text[from + i];
    d += n;
  }
  if (in.Overrun()) return 0;
  w.text[length] = 0;
  return static_cast<int32_t>(length);
}

int32_t CommentDecoder::DecodeAt(platform::Handle archive, uint32_t offset) {
  const int32_t back = platform::Tell(archive);
  if (offset > 0x7FFFFFFFu || platform::Seek(archive, static_cast<int32_t>(offset), 0) < 0) {
    return 0;
  }
  platform::FileSource source(archive);
  const int32_t length = Decode(source);
  if (back >= 0) platform::Seek(archive, back, 0);
  return length;
}

}  // namespace acekit::decompress
