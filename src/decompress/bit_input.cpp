#include "decompress/bit_input.h"

#include <cstring>

namespace acekit::decompress {

void BitFeed::Fill(uint32_t offset, uint32_t count) {
  int32_t got = source != nullptr ? source->Read(buffer + offset, count) : 0;
  if (got < 0) got = 0;
  if (static_cast<uint32_t>(got) > count) got = static_cast<int32_t>(count);
  if (!ended && static_cast<uint32_t>(got) < count) {
    ended = true;
    valid_end = base_word * 4 + offset + static_cast<uint32_t>(got);
  }
}

void BitFeed::Refill() {
  std::memcpy(buffer, buffer + 1022 * 4, 8);
  base_word += 1022;
  Fill(8, kWordBufferBytes - 8);
}

void BitInput::Start(BitFeed& feed) {
  feed.base_word = 0;
  feed.valid_end = 0;
  feed.ended = false;
  feed.Fill(0, kWordBufferBytes);
  feed_ = &feed;
  buf_ = feed.buffer;
  acc_ = 0;
  avail_ = 0;
  next_ = 0;
  Load();
  Load();
}

}  // namespace acekit::decompress
