// Adding to archives and deleting from them.
#include "api/exports.h"
#include "api/process_state.h"
#include "ops/context.h"
#include "ops/create.h"
#include "ops/delete.h"

using acekit::api::Lib;

extern "C" {

ACEKIT_API void ACEKIT_CALL CompressFileMaskListArc(FileMaskList* masks) {
  Lib().arc.status = acekit::ops::CompressFileMaskList(Lib().OpContext(), masks);
}

ACEKIT_API void ACEKIT_CALL DeleteFileMaskListArc(FileMaskList* masks) {
  Lib().arc.status = acekit::ops::DeleteFileMaskList(Lib().OpContext(), masks);
}

}  // extern "C"
