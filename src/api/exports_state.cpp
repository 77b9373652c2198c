// Status, options, paths, password, version and the exports the library
// answers without doing anything.
#include <cstring>

#include "api/exports.h"
#include "api/process_state.h"
#include "common/status.h"
#include "platform/platform.h"

using acekit::api::Lib;

namespace {

// Copies at most size - 1 characters so that a too-long text is cut at the
// buffer's end instead of running past it.
size_t CopyCut(char* dst, size_t size, const char* src) {
  size_t n = src ? std::strlen(src) : 0;
  if (n > size - 1) n = size - 1;
  if (n) std::memcpy(dst, src, n);
  dst[n] = '\0';
  return n;
}

// A host path in a settings buffer, with the host's separators made the
// library's. A text longer than a path may be stays longer than a path
// (cut to the buffer), so the paths built from it are refused.
size_t StorePath(char* dst, const char* src) {
  const size_t n = CopyCut(dst, acekit::format::kSettingPathSize, src);
  acekit::platform::HostSeparators(dst);
  return n;
}

// Appends the separator to a stored path of length n; a path with no room
// left for it becomes one that is too long.
void AddSeparatorOrMark(char* path, size_t n) {
  if (n > acekit::format::kPathSize - 1) return;  // already too long to be used
  path[n] = '\\';
  path[n + 1] = '\0';
}

}  // namespace

extern "C" {

ACEKIT_API uint16_t ACEKIT_CALL GetArchiveStatus(void) {
  return static_cast<uint16_t>(Lib().arc.status & 0xFFFF);
}

ACEKIT_API void ACEKIT_CALL SetArchiveStatus(uint16_t code) {
  Lib().arc.status = code;
}

ACEKIT_API void ACEKIT_CALL arOptionsOn(uint16_t mask) {
  Lib().settings.options |= mask;
}

ACEKIT_API void ACEKIT_CALL arOptionsOff(uint16_t mask) {
  Lib().settings.options &= static_cast<uint16_t>(~mask);
}

ACEKIT_API int32_t ACEKIT_CALL arOptionsAreOn(uint16_t mask) {
  return (Lib().settings.options & mask) == mask ? 1 : 0;
}

ACEKIT_API void ACEKIT_CALL SetOutputPath(const char* path) {
  char* out = Lib().settings.output_path;
  const size_t n = StorePath(out, path);
  // The output path always ends in a separator so names can be appended.
  if (n == 0 || out[n - 1] != '\\') AddSeparatorOrMark(out, n);
}

ACEKIT_API void ACEKIT_CALL SetInputPath(const char* path) {
  char* in = Lib().settings.input_path;
  const size_t n = StorePath(in, path);
  // Short texts are drive roots ("D:\") and are used as they are; longer ones
  // always get a separator, even when they already end with one.
  if (n >= 4) AddSeparatorOrMark(in, n);
}

ACEKIT_API void ACEKIT_CALL SetRelativePath(const char* path) {
  StorePath(Lib().settings.relative_path, path);
}

ACEKIT_API void ACEKIT_CALL SetCryptKey(const char* key) {
  auto& arc = Lib().arc;
  if (key == nullptr || key[0] == '\0') {
    arc.password_set = 0;
    return;
  }
  CopyCut(arc.password, sizeof arc.password, key);
  arc.password_set = 1;
}

ACEKIT_API void ACEKIT_CALL GetVersionDesc(int32_t* version) {
  if (version) *version = 12;
}

ACEKIT_API void ACEKIT_CALL CreateArcSfx2(void) {}
ACEKIT_API void ACEKIT_CALL CreateExeArc(void) {}
ACEKIT_API void ACEKIT_CALL BuildUnDamagedArc(void) {
  Lib().arc.status = acekit::kNotSupported;
}
ACEKIT_API void ACEKIT_CALL AddDamageProtXionArc(void) {
  Lib().arc.status = acekit::kNotSupported;
}
ACEKIT_API void ACEKIT_CALL StripDamageProtXionArc(void) {
  Lib().arc.status = acekit::kNotSupported;
}

}  // extern "C"
