// A file handle that closes itself: what every operation holds while it
// reads or writes a file, so no way out of a function leaves one open.
#pragma once

#include "platform/platform.h"

namespace acekit::platform {

class File {
 public:
  File() = default;
  File(const char* name, char mode) : h_(Open(name, mode)) {}
  // Takes over a handle opened otherwise (OpenToRead).
  explicit File(Handle h) : h_(h) {}
  ~File() { Close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  // Moving hands the handle on: a file opened ahead of its turn is kept in
  // a slot until the one that writes it takes it over.
  File(File&& other) noexcept : h_(other.h_) { other.h_ = kBadHandle; }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      Close();
      h_ = other.h_;
      other.h_ = kBadHandle;
    }
    return *this;
  }

  Handle get() const { return h_; }
  explicit operator bool() const { return h_ != kBadHandle; }
  void Close() {
    if (h_ != kBadHandle) platform::Close(h_);
    h_ = kBadHandle;
  }

 private:
  Handle h_ = kBadHandle;
};

}  // namespace acekit::platform
