// Status codes stored in the status word. Every layer that can fail returns
// one of these; only the api layer stores them in the process-wide state.
#pragma once

#include <cstdint>

namespace acekit {

enum Status : uint32_t {
  kOk = 0,
  kNotFound = 2,    // InitArcFile: no such archive (or it is a directory)
  kOpenFailed = 5,  // cannot open, read or create a file; short header read
  kSizeFailed = 6,  // archive size unreadable during the header search
  kNoMemory = 8,
  kShortWrite = 101,      // disk full
  kCancelled = 2926,      // host said stop
  kWorkDirFailed = 8902,  // solid rebuild: working directory unavailable
  kWorkDirShortWrite = 8903,
  kDirExists = 8904,
  kBadDirName = 8906,
  kReadOnlyArchive = 9954,
  kFileCommentTooLong = 9957,
  kMainCommentTooLong = 9958,
  kEncryptedRebuild = 9959,
  kUnsupported = 9960,
  kEncryptedEntry = 9961,
  kCrcMismatch = 9962,
  kCorrupt = 9964,
  kNothingToAdd = 9967,
  kNoMainHeader = 9976,
  kNotSupported = 32770,
};

}  // namespace acekit
