// Byte streams the engines read from and write to. The operations bind them
// to open files; tests bind them to memory.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace acekit {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Bytes read (0 at end), or -1 on failure.
  virtual int32_t Read(void* buf, uint32_t count) = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Bytes accepted (fewer than asked is a short write), or -1 on failure.
  virtual int32_t Write(const void* buf, uint32_t count) = 0;
};

class FileSource final : public ByteSource {
 public:
  explicit FileSource(platform::Handle h) : h_(h) {}
  int32_t Read(void* buf, uint32_t count) override { return platform::Read(buf, count, h_); }

 private:
  platform::Handle h_;
};

class FileSink final : public ByteSink {
 public:
  explicit FileSink(platform::Handle h) : h_(h) {}
  int32_t Write(const void* buf, uint32_t count) override {
    return platform::Write(buf, count, h_);
  }

 private:
  platform::Handle h_;
};

}  // namespace acekit
