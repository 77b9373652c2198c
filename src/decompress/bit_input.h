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
// Internally bits sit in a 64-bit accumulator that is topped up one word at a
// time; the buffer and its refill schedule are unchanged, so the sequence of
// bits seen is identical to reading the register straight from the words.
#pragma once

#include <cstdint>

#include "platform/stream.h"

namespace acekit::decompress {

inline constexpr uint32_t kWordBufferBytes = 4096;

// Source side of the reader: refills the word buffer and remembers where the
// delivered data ends in stream positions. Kept apart from BitInput so the
// decoder's hot loop can hold a BitInput in registers without the refill
// call taking its address.
struct BitFeed {
  platform::ByteSource* source = nullptr;
  uint8_t* buffer = nullptr;  // kWordBufferBytes, owned by the caller
  uint64_t base_word = 0;     // stream word number of buffer word 0
  uint64_t valid_end = 0;     // stream byte position where delivered data ends
  bool ended = false;         // the source has come up short at least once

  // Reads `count` bytes to buffer[offset], tracking the end of delivered data.
  void Fill(uint32_t offset, uint32_t count);
  // Moves words 1022..1023 to the front and reads 4088 bytes behind them.
  void Refill();
};

class BitInput {
 public:
  // Reads the first 4096 bytes of a stream from feed.source into feed.buffer
  // and positions the reader at the stream's first bit. The feed must outlive
  // the reader.
  void Start(BitFeed& feed);

  // The next n bits (1..32), first bit most significant; nothing is consumed.
  uint32_t Peek(int n) const { return static_cast<uint32_t>(acc_ >> (64 - n)); }
  // The same for n of 0..32, 0 giving 0.
  uint32_t PeekUpTo(uint32_t n) const { return static_cast<uint32_t>((acc_ >> 1) >> (63 - n)); }
  // The next 32 unread bits.
  uint32_t Register() const { return static_cast<uint32_t>(acc_ >> 32); }

  // Consumes n bits (0..32).
  void Skip(int n) {
    acc_ <<= n;
    avail_ -= n;
    if (avail_ < 32) Load();
  }

  // For loops that take several fields per check: Fill() tops the reader up
  // to at least 32 unread bits, and Drop(n) consumes n bits without looking
  // (the caller keeps n within what is unread). Fill() again before any other
  // call; the words loaded are the same, only when they are loaded moves.
  void Fill() {
    if (avail_ < 32) Load();
  }
  void Drop(uint32_t n) {
    acc_ <<= n;
    avail_ -= static_cast<int>(n);
  }

  // Reads an n-bit field (1..32).
  uint32_t Read(int n) {
    const uint32_t v = Peek(n);
    Skip(n);
    return v;
  }

  // Stream bit position of the next unread bit.
  uint64_t Consumed() const { return (feed_->base_word + next_) * 32 - avail_; }
  // True when bits beyond the data the source delivered have been consumed.
  bool Overrun() const { return feed_->ended && Consumed() > feed_->valid_end * 8; }

 private:
  void Load() {
    if (next_ == 1022) {
      feed_->Refill();
      next_ = 0;
    }
    const uint8_t* p = buf_ + 4 * next_;
    const uint32_t w = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                       static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    acc_ |= static_cast<uint64_t>(w) << (32 - avail_);
    avail_ += 32;
    ++next_;
  }

  uint64_t acc_ = 0;              // unread bits, first one in bit 63
  int avail_ = 0;                 // valid bits in acc_, 32..63 between calls
  uint32_t next_ = 0;             // buffer word to load next
  const uint8_t* buf_ = nullptr;  // feed_->buffer, cached for the hot path
  BitFeed* feed_ = nullptr;
};

}  // namespace acekit::decompress
