// Opening, creating and closing the one archive the library works on.
#include <cstring>

#include "api/exports.h"
#include "api/process_state.h"
#include "common/status.h"
#include "format/name_text.h"
#include "ops/open_archive.h"
#include "platform/platform.h"

using acekit::api::Lib;
namespace platform = acekit::platform;

namespace {

// The archive name as the library keeps it; false when it is too long to be
// a path, which is refused rather than cut to the name of some other file.
bool ArchiveName(const char* name, char (&out)[acekit::format::kPathSize]) {
  if (!acekit::format::CopyWhole(out, sizeof out, name != nullptr ? name : "")) return false;
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
  char path[acekit::format::kPathSize];
  if (!ArchiveName(name, path)) {
    lib.arc.status = acekit::kOpenFailed;
    return;
  }
  if (name == nullptr) {
    lib.arc.status = acekit::kNotFound;
    lib.arc.new_archive = 1;
    return;
  }
  acekit::ops::OpenArchive(lib.arc, path);
}

ACEKIT_API void ACEKIT_CALL CreateArcFile(const char* name) {
  auto& lib = Lib();
  lib.arc.status = acekit::kOk;
  InitArcFile(name);
  char path[acekit::format::kPathSize];
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
  acekit::format::CopyText(lib.arc.archive_name, sizeof lib.arc.archive_name, path);
  lib.arc.new_archive = 1;
}

ACEKIT_API int32_t ACEKIT_CALL DoneArcFile(void) {
  auto& lib = Lib();
  lib.arc.status = acekit::kOk;
  lib.ResetCallbacks();
  lib.ResetArcState();
  lib.settings = acekit::format::Settings{};
  return 0;
}

}  // extern "C"
