#include "platform/stream.h"

#include <algorithm>
#include <cstring>

namespace acekit::platform {

int32_t BufferedFileSource::Read(void* buf, uint32_t count) {
  auto* dst = static_cast<uint8_t*>(buf);
  uint32_t done = 0;
  bool ended = false;  // this request met the end of the file or a failure
  while (done < count) {
    if (at_ == end_) {
      if (ended) break;
      // Large requests bypass the buffer; the rest fetch what is expected,
      // at least what is asked for and at most a buffer.
      const uint32_t want = count - done;
      const bool direct = want >= capacity_;
      const uint32_t fetch = direct ? want : std::min(std::max(expect_, want), capacity_);
      const int32_t got = platform::Read(direct ? dst + done : buf_, fetch, h_);
      if (!direct) at_ = end_ = 0;
      if (got <= 0) {
        if (got < 0 && done == 0) return -1;
        break;
      }
      const auto fetched = static_cast<uint32_t>(got);
      expect_ = expect_ > fetched ? expect_ - fetched : 0;
      if (direct) {
        done += fetched;
        continue;
      }
      end_ = fetched;
      ended = end_ < fetch;  // no second attempt within this request
    }
    uint32_t n = end_ - at_;
    if (n > count - done) n = count - done;
    std::memcpy(dst + done, buf_ + at_, n);
    at_ += n;
    done += n;
  }
  // A request that comes up short is the end of the data for it; the next
  // one asks the file again, as an unbuffered read would.
  return static_cast<int32_t>(done);
}

int32_t BufferedFileSink::Write(const void* buf, uint32_t count) {
  if (failed_) return -1;
  const auto* src = static_cast<const uint8_t*>(buf);
  uint32_t done = 0;
  while (done < count) {
    if (used_ == capacity_ && !Flush()) return static_cast<int32_t>(done);
    uint32_t n = capacity_ - used_;
    if (n > count - done) n = count - done;
    std::memcpy(buf_ + used_, src + done, n);
    used_ += n;
    done += n;
  }
  return static_cast<int32_t>(done);
}

bool BufferedFileSink::Flush() {
  if (failed_) return false;
  if (used_ == 0) return true;
  const int32_t put = platform::Write(buf_, used_, h_);
  if (put != static_cast<int32_t>(used_)) {
    failed_ = true;
    return false;
  }
  used_ = 0;
  return true;
}

}  // namespace acekit::platform
