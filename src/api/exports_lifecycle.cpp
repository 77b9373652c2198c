// Opening, creating and closing the one archive the library works on.
#include <cstring>

#include "api/exports.h"
#include "api/library.h"
#include "common/status.h"
#include "format/header_search.h"
#include "format/names.h"
#include "ops/comments.h"
#include "platform/platform.h"

using acekit::Lib;
namespace platform = acekit::platform;

namespace {

// The archive name as the library keeps it; false when it is too long to be
// a path, which is refused rather than cut to the name of some other file.
bool ArchiveName(const char* name, char (&out)[acekit::kPathSize]) {
  if (!acekit::CopyWhole(out, sizeof out, name != nullptr ? name : "")) return false;
  platform::HostSeparators(out);
  return true;
}

}  // namespace

extern "C" {

ACEKIT_API void ACEKIT_CALL InitArcFile(const char* name) {
  auto& lib = Lib();
  lib.arc.status = acekit::kOk;
  lib.ResetCallbacks();
  lib.ResetArcState();
  lib.LoadDefaults();
  char path[acekit::kPathSize];
  if (!ArchiveName(name, path)) {
    lib.arc.status = acekit::kOpenFailed;
    return;
  }
  if (name == nullptr || !platform::IsExistingFile(path)) {
    lib.arc.status = acekit::kNotFound;
    lib.arc.new_archive = 1;
    return;
  }
  platform::Handle h = platform::Open(path, 'r');
  if (h == platform::kBadHandle) {
    lib.arc.status = acekit::kOpenFailed;
    return;
  }
  if (!acekit::FindMainHeader(h, lib.arc)) {
    platform::Close(h);
    lib.arc.status = acekit::kNoMainHeader;
    return;
  }
  acekit::ops::ReadMainComment(lib.arc, h);
  // An archive without entries is still an archive: a failed search for the
  // first file header only leaves its offset at 0.
  acekit::FindFirstFileHeader(h, lib.arc);
  platform::Close(h);
  acekit::CopyText(lib.arc.archive_name, sizeof lib.arc.archive_name, path);
}

ACEKIT_API void ACEKIT_CALL CreateArcFile(const char* name) {
  auto& lib = Lib();
  lib.arc.status = acekit::kOk;
  InitArcFile(name);
  char path[acekit::kPathSize];
  if (!ArchiveName(name, path)) {
    lib.arc.status = acekit::kOpenFailed;
    return;
  }
  if (name != nullptr && platform::IsExistingFile(path)) {
    // Refusing to create over an existing file also forgets everything the
    // host set, so a half-configured state is never used by mistake.
    DoneArcFile();
    lib.arc.status = acekit::kOpenFailed;
    return;
  }
  lib.arc.status = acekit::kOk;
  acekit::CopyText(lib.arc.archive_name, sizeof lib.arc.archive_name, path);
  lib.arc.new_archive = 1;
}

ACEKIT_API int32_t ACEKIT_CALL DoneArcFile(void) {
  auto& lib = Lib();
  lib.arc.status = acekit::kOk;
  lib.ResetCallbacks();
  lib.ResetArcState();
  lib.settings = acekit::Settings{};
  return 0;
}

}  // extern "C"
