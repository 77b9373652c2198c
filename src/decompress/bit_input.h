// Bit reader over a compressed stream: 32-bit little-endian words whose bits
// are taken from the most significant end.
//
// The reader works through a 4096-byte word buffer with a fixed refill rule:
// when the reader moves onto word 1022, words 1022 and 1023 move to the front
// and the next 4088 bytes are read behind them. A short read is not an error
// at this level; words the source did not deliver keep whatever the buffer
// held before, so a damaged stream decodes to the same bytes on every run and
// every platform. `Overrun()` tells the decoder afterwards whether it consumed
// bits the source never delivered.
//
// The reader itself never looks at the word buffer. Each fill of the buffer
// also writes its words, bytes reversed, to a mirror, where the stream's bits
// lie in plain big-endian order: any eight bytes there, read as one number,
// are 64 consecutive stream bits. That lets the accumulator be topped up with
// no branch on how many bits it holds (which varies from symbol to symbol
// beyond any predictor's reach) and to at least 56 bits, so a match's three
// codes fit between two top-ups. The buffer and its refill schedule are
// unchanged, so the bits seen are exactly those of the words.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/stream.h"

namespace acekit::decompress {

inline constexpr uint32_t kWordBufferBytes = 4096;

// Source side of the reader: refills the word buffer and its mirror, and
// remembers where the delivered data ends in stream positions. Kept apart
// from BitInput so the decoder's hot loop can hold a BitInput in registers
// without the refill call taking its address.
struct BitFeed {
  // The mirror starts this far into `mirror`: after a refill the reader may
  // still stand in the two words before the ones moved to the front, so they
  // are kept there.
  static constexpr uint32_t kLead = 8;

  platform::ByteSource* source = nullptr;
  uint8_t* buffer = nullptr;  // kWordBufferBytes, owned by the caller
  uint64_t base_word = 0;     // stream word number of buffer word 0
  uint64_t valid_end = 0;     // stream byte position where delivered data ends
  bool ended = false;         // the source has come up short at least once
  // kLead bytes of earlier words, the buffer's words with their bytes
  // reversed, then 8 zero bytes: a top-up near the end reads past the last
  // word, and ORs in zeros there, which the bits read after the refill
  // simply fill in.
  alignas(8) uint8_t mirror[kLead + kWordBufferBytes + 8] = {};

  // Reads `count` bytes to buffer[offset], tracking the end of delivered data.
  void Fill(uint32_t offset, uint32_t count);
  // Moves words 1022..1023 to the front and reads 4088 bytes behind them.
  void Refill();
};

class BitInput {
 public:
  // Reads the first 4096 bytes of a stream from feed.source into feed.buffer
  // and positions the reader at the stream's first bit. The feed must outlive
  // the reader and stay where it is.
  void Start(BitFeed& feed);

  // The next n bits (1..32), first bit most significant; nothing is consumed.
  uint32_t Peek(int n) const { return static_cast<uint32_t>(acc_ >> (64 - n)); }
  // The unread bits after the next `skip` (1..63), below a bit `top` (0 or
  // 1), shifted down by `shift` (0..63). The shift by skip clears bit 0,
  // so a rotation moves `top` from there to above the bits.
  uint32_t PeekBelow(uint32_t skip, uint32_t top, uint32_t shift) const {
    return static_cast<uint32_t>(std::rotr((acc_ << (skip & 63)) | top, 1) >> (shift & 63));
  }
  // The next 32 unread bits.
  uint32_t Register() const { return static_cast<uint32_t>(acc_ >> 32); }

  // Consumes n bits (0..32).
  void Skip(int n) {
    Drop(static_cast<uint32_t>(n));
    Fill();
  }

  // For loops that take several fields per check: Fill() tops the reader up
  // to at least kFilled unread bits, and Drop(n) consumes n bits without
  // looking (the caller keeps n within what is unread). Fill() again before
  // any other call.
  static constexpr int kFilled = 56;
  void Fill() {
    // Taken() > kRefillAfter, from the mirror byte that ends it; short of
    // that byte, which is nearly always, one comparison tells.
    if (cur_ > refill_ && (cur_ - refill_) * 8 > have_) {
      feed_->Refill();
      cur_ -= kMovedBytes;
    }
    uint64_t w;
    std::memcpy(&w, cur_, 8);
#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_BIG_ENDIAN__
    w = __builtin_bswap64(w);
#endif
    // The bits below the unread ones are zero or the same stream bits
    // already, so ORing the next 64 in changes nothing there.
    acc_ |= w >> have_;
    cur_ += (63 - have_) >> 3;
    have_ |= kFilled;
  }
  void Drop(uint32_t n) {
    acc_ <<= n;
    have_ -= n;
  }

  // Reads an n-bit field (1..32).
  uint32_t Read(int n) {
    const uint32_t v = Peek(n);
    Skip(n);
    return v;
  }

  // Stream bit position of the next unread bit.
  uint64_t Consumed() const {
    return feed_->base_word * 32 + static_cast<uint64_t>(Taken());
  }
  // True when bits beyond the data the source delivered have been consumed.
  bool Overrun() const {
    return feed_->ended && Consumed() > feed_->valid_end * 8;
  }

 private:
  // Bits consumed from the buffer's start, past which the next top-up would
  // need word 1022 itself: the moment the buffer refills. A top-up before it
  // reads no further than the mirror's zeros.
  static constexpr int32_t kRefillAfter = 1021 * 32;
  static_assert(kRefillAfter % 8 == 0);
  static constexpr uint32_t kMovedBytes = 1022 * 4;

  int32_t Taken() const {
    return static_cast<int32_t>((cur_ - (feed_->mirror + BitFeed::kLead)) * 8 - have_);
  }

  uint64_t acc_ = 0;  // unread bits, first one in bit 63
  // Unread bits in acc_, kFilled..63 between calls; as wide as a pointer,
  // which it moves.
  intptr_t have_ = 0;
  // The mirror byte after the bits in acc_, and the one past which a
  // top-up refills first.
  const uint8_t* cur_ = nullptr;
  const uint8_t* refill_ = nullptr;
  BitFeed* feed_ = nullptr;
};

}  // namespace acekit::decompress
