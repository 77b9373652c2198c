// Status codes stored in the status word, as the library's own code names
// them. The numbers are the public ones of host_types.h, so a host and the
// library cannot disagree. Every layer that can fail returns one of these;
// only the api layer stores them in the process-wide state.
#pragma once

#include <cstdint>

#include "common/host_types.h"

namespace acekit {

enum Status : uint32_t {
  kOk = ACEKIT_STATUS_OK,
  kNotFound = ACEKIT_STATUS_NOT_FOUND,
  kOpenFailed = ACEKIT_STATUS_OPEN_FAILED,
  kSizeFailed = ACEKIT_STATUS_SIZE_FAILED,
  kNoMemory = ACEKIT_STATUS_NO_MEMORY,
  kShortWrite = ACEKIT_STATUS_SHORT_WRITE,
  kCancelled = ACEKIT_STATUS_CANCELLED,
  kWorkDirFailed = ACEKIT_STATUS_WORK_DIR_FAILED,
  kWorkDirShortWrite = ACEKIT_STATUS_WORK_DIR_SHORT_WRITE,
  kDirExists = ACEKIT_STATUS_DIR_EXISTS,
  kBadDirName = ACEKIT_STATUS_BAD_DIR_NAME,
  kReadOnlyArchive = ACEKIT_STATUS_READ_ONLY_ARCHIVE,
  kFileCommentTooLong = ACEKIT_STATUS_FILE_COMMENT_TOO_LONG,
  kMainCommentTooLong = ACEKIT_STATUS_MAIN_COMMENT_TOO_LONG,
  kEncryptedRebuild = ACEKIT_STATUS_ENCRYPTED_REBUILD,
  kUnsupported = ACEKIT_STATUS_UNSUPPORTED,
  kEncryptedEntry = ACEKIT_STATUS_ENCRYPTED_ENTRY,
  kCrcMismatch = ACEKIT_STATUS_CRC_MISMATCH,
  kCorrupt = ACEKIT_STATUS_CORRUPT,
  kNothingToAdd = ACEKIT_STATUS_NOTHING_TO_ADD,
  kNoMainHeader = ACEKIT_STATUS_NO_MAIN_HEADER,
  kNotSupported = ACEKIT_STATUS_NOT_SUPPORTED,
};

}  // namespace acekit
