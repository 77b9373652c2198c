#include "decompress/bit_input.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace acekit::decompress {

void BitFeed::Fill(uint32_t offset, uint32_t count) {
  int32_t got = source != nullptr ? source->Read(buffer + offset, count) : 0;
  if (got < 0) got = 0;
  if (static_cast<uint32_t>(got) > count) got = static_cast<int32_t>(count);
  if (!ended && static_cast<uint32_t>(got) < count) {
    ended = true;
    valid_end = base_word * 4 + offset + static_cast<uint32_t>(got);
  }
  // Words the source did not deliver are mirrored too: they are part of
  // the stream as much as the delivered ones.
  uint8_t* m = mirror + kLead + offset;
  const uint8_t* b = buffer + offset;
  uint32_t i = 0;
#if defined(__SSE2__)
  // Every entry starts with a whole buffer to mirror, so small entries pay
  // for this loop more than for their decoding.
  for (; i + 16 <= count; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
    v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xB1), 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(m + i), v);
  }
#endif
  for (; i < count; i += 4) {
    uint32_t w;
    std::memcpy(&w, b + i, 4);
    w = __builtin_bswap32(w);
    std::memcpy(m + i, &w, 4);
  }
}

void BitFeed::Refill() {
  std::memcpy(buffer, buffer + 1022 * 4, 8);
  std::memcpy(mirror, mirror + kLead + 1020 * 4, kLead + 8);
  base_word += 1022;
  Fill(8, kWordBufferBytes - 8);
}

void BitInput::Start(BitFeed& feed) {
  feed.base_word = 0;
  feed.valid_end = 0;
  feed.ended = false;
  feed.Fill(0, kWordBufferBytes);
  feed_ = &feed;
  cur_ = feed.mirror + BitFeed::kLead;
  refill_ = cur_ + kRefillAfter / 8;
  acc_ = 0;
  have_ = 0;
  Fill();
}

}  // namespace acekit::decompress
