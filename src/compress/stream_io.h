// Byte and bit plumbing of the compressor: source reads with the running
// CRC-32, the bit accumulator, the 16 KB output buffer and its flushes, the
// stream totals that decide the store fallback, and progress reports.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "common/progress.h"
#include "common/status.h"
#include "platform/stream.h"

namespace acekit::compress {

inline constexpr uint32_t kOutputBufferBytes = 16384;

// Per-file counters, cleared together before each file.
struct StreamTotals {
  uint32_t crc = 0;        // running CRC-32 of the input read so far
  bool exceeded = false;   // output outgrew input_size at some flush
  int32_t bytes_in = 0;    // input bytes read
  int32_t input_size = 0;  // size of the file being coded, set by the caller
  int32_t bytes_out = 0;   // compressed bytes handed to the sink
};

class StreamIo {
 public:
  StreamIo() = default;
  ~StreamIo() { FreeBuffer(); }
  StreamIo(const StreamIo&) = delete;
  StreamIo& operator=(const StreamIo&) = delete;

  // Takes the output buffer and clears fill and accumulator. On failure sets
  // kNoMemory and returns false.
  bool AllocBuffer();
  void FreeBuffer();

  void Bind(platform::ByteSource* source, platform::ByteSink* sink) {
    source_ = source;
    sink_ = sink;
  }

  // Before each file: fill, totals, accumulator and the progress base.
  void ResetCompressState();
  // After the coder has started: accumulator and the progress base only.
  void ResetBitWriter();

  // Reads up to n bytes (fewer only at the end of the source). A read error
  // sets kOpenFailed and returns 0, which the coder takes for end of input.
  uint32_t ReadInput(uint8_t* buf, uint32_t n);
  // The same read for input a worker will code: a read error sets *failed
  // instead of the status, for the caller to raise it where the coder
  // would have met it.
  uint32_t ReadAhead(uint8_t* buf, uint32_t n, bool* failed);
  // Off for the streams of workers, whose input is already counted.
  void set_keep_crc(bool on) { keep_crc_ = on; }

  // The accumulator as plain values, so that a long run of fields can keep
  // it in registers: SaveBits, PutBits(bits, ...) repeatedly, RestoreBits.
  // Its low `count` bits are the pending ones; older bits above them are
  // left in place and never reach the output.
  struct Bits {
    uint64_t acc;
    uint32_t count;
  };
  Bits SaveBits() const { return Bits{acc_, bits_}; }
  void RestoreBits(Bits b) {
    acc_ = static_cast<uint32_t>(b.acc & ((uint64_t{1} << b.count) - 1));
    bits_ = b.count;
  }

  // Appends the low n bits of value (1 <= n <= 32, value < 2^n). The first
  // bit written ends up in the most significant position of its word. A
  // word goes out once more than 32 bits are pending, so a full word waits
  // in the accumulator until the next field arrives.
  void PutBits(Bits& b, uint32_t n, uint32_t value) {
    b.acc = (b.acc << n) | value;
    b.count += n;
    if (b.count > 32) {
      b.count -= 32;
      PutWord(static_cast<uint32_t>(b.acc >> b.count));
    }
  }
  void PutBits(uint32_t n, uint32_t value) {
    Bits b = SaveBits();
    PutBits(b, n, value);
    RestoreBits(b);
  }

  // The same fields written straight into the buffer at `at`, without a
  // branch per word: the word is stored every time and `at` moves on only
  // when it was complete. The caller keeps at least 4 bytes of room past
  // `at` (direct_end() bounds two fields) and hands the position back with
  // set_direct() before anything else writes.
  static void PutBitsDirect(Bits& b, uint8_t*& at, uint32_t n, uint32_t value) {
    b.acc = (b.acc << n) | value;
    b.count += n;
    const uint32_t full = b.count > 32 ? 1u : 0u;
    b.count -= full << 5;
    StoreWord(at, static_cast<uint32_t>(b.acc >> b.count));
    at += full << 2;
  }
  uint8_t* direct() { return buf_ + fill_; }
  // Past this, fewer than two words fit: the next fields take PutBits.
  const uint8_t* direct_end() const { return buf_ + kOutputBufferBytes - 8; }
  void set_direct(const uint8_t* at) { fill_ = static_cast<uint32_t>(at - buf_); }

  void PutWord(uint32_t word) {
    if (fill_ + 4 > kOutputBufferBytes) {
      FlushOutput(word, 4);
      return;
    }
    StoreWord(buf_ + fill_, word);
    fill_ += 4;
  }

  // Words are little-endian in the stream.
  static void StoreWord(uint8_t* p, uint32_t word) {
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(p, &word, sizeof word);
    } else {
      p[0] = static_cast<uint8_t>(word);
      p[1] = static_cast<uint8_t>(word >> 8);
      p[2] = static_cast<uint8_t>(word >> 16);
      p[3] = static_cast<uint8_t>(word >> 24);
    }
  }

  // Writes the buffer out and starts the next one with the first `bytes`
  // bytes (0 or 4) of word. Does nothing at all once the status is set.
  void FlushOutput(uint32_t word, uint32_t bytes);
  // What a flush does with a buffer of n bytes made elsewhere (a stream
  // coded on a worker): the write, the totals, the progress report at
  // `coded`. Does nothing once the status is set.
  void PassOn(const void* data, uint32_t n);
  // Pads the last word with zero bits and flushes: a stream is always a whole
  // number of words, and an empty one is a single zero word.
  void FinishBits();
  void ReportProgress();

  uint32_t status() const { return status_; }
  void set_status(uint32_t s) { status_ = s; }
  StreamTotals& totals() { return totals_; }
  const StreamTotals& totals() const { return totals_; }
  ProgressState& progress() { return progress_; }

  // Input bytes coded so far; the match finder advances it.
  int32_t coded = 0;

  // Set when the host cancels in a progress report; the match finder answers
  // by cutting its lookahead and clears it.
  bool cut_lookahead = false;

  // For tests: the bytes waiting in the buffer.
  uint32_t fill() const { return fill_; }

 private:
  platform::ByteSource* source_ = nullptr;
  platform::ByteSink* sink_ = nullptr;
  uint8_t* buf_ = nullptr;
  uint32_t fill_ = 0;
  uint32_t acc_ = 0;
  uint32_t bits_ = 0;
  uint32_t status_ = kOk;
  bool keep_crc_ = true;
  StreamTotals totals_;
  ProgressState progress_;
};

}  // namespace acekit::compress
