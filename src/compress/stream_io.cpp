#include "compress/stream_io.h"

#include <cstring>

#include "format/crc32.h"
#include "platform/platform.h"

namespace acekit::compress {

bool StreamIo::AllocBuffer() {
  FreeBuffer();
  buf_ = static_cast<uint8_t*>(platform::AllocZeroed(kOutputBufferBytes));
  if (buf_ == nullptr) {
    status_ = kNoMemory;
    return false;
  }
  return true;
}

void StreamIo::FreeBuffer() {
  if (buf_ != nullptr) platform::Free(buf_);
  buf_ = nullptr;
  fill_ = 0;
  acc_ = 0;
  bits_ = 0;
}

void StreamIo::ResetCompressState() {
  fill_ = 0;
  totals_ = StreamTotals{};
  acc_ = 0;
  bits_ = 0;
  progress_.last_reported = 0;
}

void StreamIo::ResetBitWriter() {
  acc_ = 0;
  bits_ = 0;
  progress_.last_reported = 0;
}

uint32_t StreamIo::ReadInput(uint8_t* buf, uint32_t n) {
  bool failed = false;
  const uint32_t got = ReadAhead(buf, n, &failed);
  if (failed) status_ = kOpenFailed;
  return got;
}

uint32_t StreamIo::ReadAhead(uint8_t* buf, uint32_t n, bool* failed) {
  uint32_t got = 0;
  // A source may hand out less than asked before its end; the coder must
  // see the same window contents however the bytes arrive.
  while (got < n) {
    const int32_t r = source_->Read(buf + got, n - got);
    if (r < 0) {
      *failed = true;
      return 0;
    }
    if (r == 0) break;
    got += static_cast<uint32_t>(r);
  }
  if (keep_crc_) totals_.crc = format::Crc32Update(totals_.crc, buf, got);
  totals_.bytes_in += static_cast<int32_t>(got);
  return got;
}

void StreamIo::PassOn(const void* data, uint32_t n) {
  if (status_ != kOk) return;
  const int32_t r = sink_->Write(data, n);
  const uint32_t written = r < 0 ? 0 : static_cast<uint32_t>(r);
  totals_.bytes_out += static_cast<int32_t>(written);
  ReportProgress();
  if (totals_.bytes_out > totals_.input_size) totals_.exceeded = true;
  if (written != n) status_ = kShortWrite;
}

void StreamIo::FlushOutput(uint32_t word, uint32_t bytes) {
  if (status_ != kOk) return;
  if (fill_ > 0) {
    PassOn(buf_, fill_);
    if (status_ == kShortWrite) return;
  }
  for (uint32_t i = 0; i < bytes; ++i) buf_[i] = static_cast<uint8_t>(word >> (8 * i));
  fill_ = bytes;
}

void StreamIo::FinishBits() {
  if (bits_ != 32) PutBits(32 - bits_, 0);
  PutWord(acc_);
  FlushOutput(0, 0);
  acc_ = 0;
  bits_ = 0;
}

void StreamIo::ReportProgress() {
  if (acekit::ReportProgress(progress_, coded, totals_.input_size) == kCancelled) {
    status_ = kCancelled;
    cut_lookahead = true;
  }
}

}  // namespace acekit::compress
