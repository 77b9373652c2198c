// The comment compressor: archive comments are short texts, so they get a
// coder of their own instead of the file engine. Copies are found through a
// single hash of the two bytes in front of the current position, run 2 to 24
// bytes, and all symbols share one Huffman code; the stream is a 15-bit text
// length, that code's lengths, and the codes of the symbols.
//
// Stream layout (bit order of the file streams: 32-bit little-endian words,
// most significant bit first):
//   15 bits   text length
//   code-length set (9-bit highest symbol, 4-bit lower limit 0, 4-bit upper
//             limit 12, thirteen 3-bit lengths, then one difference per
//             symbol modulo 12)
//   symbols   0..255 a byte, s >= 256 a copy of s - 254 bytes
//   padding   zero bits to the end of the last word
#pragma once

#include <cstdint>

#include "common/status.h"

namespace acekit::compress {

// Longest text the 15-bit length field can carry.
inline constexpr uint32_t kCommentMaxText = 32767;
inline constexpr uint32_t kCommentMinCopy = 2;
inline constexpr uint32_t kCommentMaxCopy = 24;
// Copy symbols start here: symbol = copy length + kCommentCopyBase.
inline constexpr uint32_t kCommentCopyBase = 254;
// Size of the alphabet the code is built over (symbols 0..281).
inline constexpr int kCommentSymbols = 282;
// Pair-hash slots: the sum of two unsigned bytes runs from 0 to 510.
inline constexpr uint32_t kCommentHashSlots = 511;

// Bit sink over a caller's memory block, with the bit order of the file
// streams. A word that does not fit sets kNoMemory; from then on nothing is
// stored, so the block is never overrun.
class MemBitWriter {
 public:
  MemBitWriter(uint8_t* block, uint32_t capacity) : block_(block), capacity_(capacity) {}

  // Appends the low n bits of value (0 <= n <= 32, value < 2^n).
  void PutBits(uint32_t n, uint32_t value);
  // Pads the last word with zero bits and stores it.
  void Finish();

  uint32_t size() const { return fill_; }  // bytes stored, a multiple of 4
  Status status() const { return status_; }

 private:
  void PutWord(uint32_t word);

  uint8_t* block_;
  uint32_t capacity_;
  uint32_t fill_ = 0;
  uint32_t acc_ = 0;
  uint32_t bits_ = 0;
  Status status_ = kOk;
};

// Splits `text` into the symbols the stream carries, in order, and returns
// their count (at most n). `symbols` must hold n entries.
uint32_t ParseComment(const uint8_t* text, uint32_t n, uint16_t* symbols);

// A compressed comment in a heap block owned by this object.
class EncodedComment {
 public:
  EncodedComment() = default;
  ~EncodedComment() { Release(); }
  EncodedComment(const EncodedComment&) = delete;
  EncodedComment& operator=(const EncodedComment&) = delete;

  const uint8_t* data() const { return bytes_; }
  uint32_t size() const { return size_; }
  void Release();

 private:
  friend Status EncodeComment(const void* text, uint32_t n, EncodedComment& out);
  uint8_t* bytes_ = nullptr;
  uint32_t size_ = 0;
};

// Compresses n bytes of text into `out` (anything it held is released
// first). kNoMemory when a buffer cannot be taken or the text is longer than
// the stream can announce; `out` is then empty.
Status EncodeComment(const void* text, uint32_t n, EncodedComment& out);

}  // namespace acekit::compress
