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

extern "C" {

ACEKIT_API void ACEKIT_CALL InitArcFile(const char* name) {
  auto& lib = Lib();
  lib.arc.status = acekit::kOk;
  lib.ResetCallbacks();
  lib.ResetArcState();
  lib.LoadDefaults();
  if (name == nullptr || !platform::IsExistingFile(name)) {
    lib.arc.status = acekit::kNotFound;
    lib.arc.new_archive = 1;
    return;
  }
  platform::Handle h = platform::Open(name, 'r');
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
  acekit::CopyText(lib.arc.archive_name, sizeof lib.arc.archive_name, name);
}

ACEKIT_API void ACEKIT_CALL CreateArcFile(const char* name) {
  auto& lib = Lib();
  lib.arc.status = acekit::kOk;
  InitArcFile(name);
  if (name != nullptr && platform::IsExistingFile(name)) {
    // Refusing to create over an existing file also forgets everything the
    // host set, so a half-configured state is never used by mistake.
    DoneArcFile();
    lib.arc.status = acekit::kOpenFailed;
    return;
  }
  lib.arc.status = acekit::kOk;
  acekit::CopyText(lib.arc.archive_name, sizeof lib.arc.archive_name, name ? name : "");
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
