// The in-memory ends of a stream that the fuzz targets feed and drain.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/stream.h"

namespace fuzz {

// Hands out `size` bytes, at most `piece` at a time.
class Source final : public acekit::ByteSource {
 public:
  Source(const uint8_t* data, size_t size, uint32_t piece = 0xFFFFFFFFu)
      : data_(data), size_(size), piece_(piece) {}
  int32_t Read(void* buf, uint32_t count) override {
    const size_t n = std::min<size_t>({count, piece_, size_ - at_});
    if (n > 0) std::memcpy(buf, data_ + at_, n);
    at_ += n;
    return static_cast<int32_t>(n);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  uint32_t piece_;
  size_t at_ = 0;
};

// Keeps every byte written, so that the sanitizers see each one read.
class Sink final : public acekit::ByteSink {
 public:
  int32_t Write(const void* buf, uint32_t count) override {
    const auto* p = static_cast<const uint8_t*>(buf);
    data.insert(data.end(), p, p + count);
    return static_cast<int32_t>(count);
  }
  std::vector<uint8_t> data;
};

}  // namespace fuzz
