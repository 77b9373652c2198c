// Host procedure registration and the archiver description.
#include "api/exports.h"
#include "api/process_state.h"
#include "common/status.h"

using acekit::api::Lib;

namespace {

constexpr int32_t kDescVersion = ACEKIT_DESC_VERSION;

void FillDesc(int32_t* out, bool versioned) {
  auto& lib = Lib();
  const auto& arc = lib.arc;
  out[ACEKIT_DESC_CAPABILITIES] = 2047;
  out[ACEKIT_DESC_FORMAT_VERSION] =
      versioned || arc.version_needed == 0 ? 12 : static_cast<int32_t>(arc.version_needed);
  out[ACEKIT_DESC_CONSTANT_2] = 1;
  out[ACEKIT_DESC_MIN_DICT_KB] = 64;
  out[ACEKIT_DESC_MAX_DICT_KB] = 1024;
  out[ACEKIT_DESC_CONSTANT_5] = 7;
  out[ACEKIT_DESC_FORMAT_SETTING] = 12;
  out[ACEKIT_DESC_DICT_KB] = arc.solid_dict_kb ? static_cast<int32_t>(arc.solid_dict_kb) : 64;
  out[ACEKIT_DESC_MODE] = arc.solid ? ACEKIT_DESC_MODE_SOLID : 0;
  out[ACEKIT_DESC_LEVEL] = 1;
  // An open solid archive is extended as a solid archive.
  if (arc.solid) lib.settings.desc.mode() = ACEKIT_DESC_MODE_SOLID;
}

void TakeStats(const int32_t* in) {
  auto& desc = Lib().settings.desc;
  for (int i = ACEKIT_DESC_FORMAT_SETTING; i < ACEKIT_DESC_WORDS; ++i) desc.words[i] = in[i];
}

}  // namespace

extern "C" {

ACEKIT_API void ACEKIT_CALL GetArcerDesc(int32_t* desc) {
  if (desc) FillDesc(desc, false);
}

ACEKIT_API int32_t ACEKIT_CALL GetArcerVerDesc(int32_t version, int32_t* desc) {
  if (version != kDescVersion) return acekit::kCorrupt;
  if (desc) FillDesc(desc, true);
  return 0;
}

ACEKIT_API void ACEKIT_CALL SetArcerStats(const int32_t* desc) {
  if (desc) TakeStats(desc);
}

ACEKIT_API int32_t ACEKIT_CALL SetArcerVerStats(int32_t version, const int32_t* desc) {
  if (version != kDescVersion) return acekit::kCorrupt;
  if (desc) TakeStats(desc);
  return 0;
}

ACEKIT_API void ACEKIT_CALL SetSetFileNameProc(ArcContext ctx, SetFileNameProcFn proc) {
  Lib().hooks.file_name = {proc, ctx};
}
ACEKIT_API void ACEKIT_CALL SetSkipFileProc(ArcContext ctx, SkipFileProcFn proc) {
  Lib().hooks.skip = {proc, ctx};
}
ACEKIT_API void ACEKIT_CALL SetSetProgressProc(ArcContext ctx, SetProgressProcFn proc) {
  Lib().hooks.progress = {proc, ctx};
}
ACEKIT_API void ACEKIT_CALL SetOkToReplaceProc(ArcContext ctx, OkToReplaceProcFn proc) {
  Lib().hooks.replace = {proc, ctx};
}
// Accepted and forgotten: the library asks for no password, spans no volumes
// and builds no self-extracting archives, so nothing would ever call these.
ACEKIT_API void ACEKIT_CALL SetSetCryptKeyProc(ArcContext, void*) {}
ACEKIT_API void ACEKIT_CALL SetGetNextDiskProc(ArcContext, void*) {}
ACEKIT_API void ACEKIT_CALL SetSetSfxProgressProc(ArcContext, void*) {}

}  // extern "C"
