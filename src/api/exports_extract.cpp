// Mask lists, entry lists, extraction and testing.
#include "api/exports.h"
#include "api/process_state.h"
#include "ops/context.h"
#include "ops/entry_walk.h"
#include "ops/extract.h"
#include "select/masks.h"

using acekit::api::Lib;

extern "C" {

ACEKIT_API void ACEKIT_CALL InitFileMaskList(FileMaskList* list) {
  if (list) acekit::select::InitMaskList(list);
}

ACEKIT_API int32_t ACEKIT_CALL AppendFileMask(const char* mask, FileMaskList* list) {
  if (mask == nullptr || list == nullptr) return 0;
  return acekit::select::AppendMask(Lib().arc, mask, list);
}

ACEKIT_API void ACEKIT_CALL DoneFileMaskList(FileMaskList* list) {
  if (list) acekit::select::DoneMaskList(list);
}

ACEKIT_API void ACEKIT_CALL InitArcFileList(ArcFileList* list) {
  if (list) acekit::format::InitEntryList(list);
}

ACEKIT_API void ACEKIT_CALL BuildArcFileList(ArcFileList* list, FileMaskList* masks) {
  acekit::ops::BuildArchiveList(Lib().OpContext(), list, masks);
}

ACEKIT_API void ACEKIT_CALL DoneArcFileList(ArcFileList* list) {
  if (list) acekit::format::DoneEntryList(list);
}

ACEKIT_API void ACEKIT_CALL ExtractFileMaskListArc(FileMaskList* masks) {
  Lib().arc.status = acekit::ops::ExtractFileMaskListArc(Lib().OpContext(), masks);
}

ACEKIT_API void ACEKIT_CALL TestArc(void) {
  Lib().arc.status = acekit::ops::TestArc(Lib().OpContext());
}

}  // extern "C"
