// Byte streams the engines read from and write to. The operations bind them
// to open files; tests bind them to memory.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace acekit::platform {

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

// Large pieces for the file calls behind small reads and writes: one system
// call per buffer instead of one per 2 or 4 KB.
inline constexpr uint32_t kFileBufferBytes = 256 * 1024;

// Reads a file through a caller's buffer. The bytes a caller gets are the
// ones unbuffered reads from the same position would give, counts included:
// a request is filled completely unless the file ends (or a read fails)
// first, so a short count still means the end of the data. Reset() after
// every seek of the handle; `expect` is how far from there the caller is
// likely to read, which keeps a small entry from pulling in a whole buffer
// of what follows it.
class BufferedFileSource final : public ByteSource {
 public:
  BufferedFileSource(platform::Handle h, uint8_t* buf, uint32_t capacity)
      : h_(h), buf_(buf), capacity_(capacity) {}
  void Reset(uint32_t expect) {
    at_ = end_ = 0;
    expect_ = expect;
  }
  int32_t Read(void* buf, uint32_t count) override;

 private:
  platform::Handle h_;
  uint8_t* buf_;
  uint32_t capacity_;
  uint32_t at_ = 0;      // next unread byte in buf_
  uint32_t end_ = 0;     // end of the bytes in buf_
  uint32_t expect_ = 0;  // bytes still expected beyond end_
};

// Writes a file through a caller's buffer. A failed or short file write is
// reported by the Write or Flush that makes it, as fewer bytes accepted than
// asked (or false), and every later call fails too, so the writer's status
// for a short write stays what it was without the buffer. The bytes still
// buffered are written by Flush(), which the owner calls before it closes
// the file.
class BufferedFileSink final : public ByteSink {
 public:
  BufferedFileSink(platform::Handle h, uint8_t* buf, uint32_t capacity)
      : h_(h), buf_(buf), capacity_(capacity) {}
  int32_t Write(const void* buf, uint32_t count) override;
  bool Flush();

 private:
  platform::Handle h_;
  uint8_t* buf_;
  uint32_t capacity_;
  uint32_t used_ = 0;
  bool failed_ = false;
};

}  // namespace acekit::platform
