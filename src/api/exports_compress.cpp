// Adding to archives and deleting from them.
#include "api/exports.h"
#include "api/library.h"
#include "ops/context.h"
#include "ops/create.h"
#include "ops/delete.h"

using acekit::Lib;

namespace {

acekit::ops::Context LibContext() {
  auto& lib = Lib();
  return acekit::ops::Context{lib.arc, lib.settings, lib.hooks, lib.arc_info, lib.extra_features};
}

}  // namespace

extern "C" {

ACEKIT_API void ACEKIT_CALL CompressFileMaskListArc(FileMaskList* masks) {
  acekit::ops::CompressFileMaskList(LibContext(), masks);
}

ACEKIT_API void ACEKIT_CALL DeleteFileMaskListArc(FileMaskList* masks) {
  acekit::ops::DeleteFileMaskList(LibContext(), masks);
}

}  // extern "C"
