// A file handle that closes itself: what every operation holds while it
// reads or writes a file, so no way out of a function leaves one open.
#pragma once

#include "platform/platform.h"

namespace acekit::platform {

class File {
 public:
  File() = default;
  File(const char* name, char mode) : h_(Open(name, mode)) {}
  ~File() { Close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

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
