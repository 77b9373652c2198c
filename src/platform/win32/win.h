// windows.h for the win32 backend (internal), without the macros that would
// rename the layer's own functions.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef CharUpper
#undef CharToOem
#undef OemToChar

#include "platform/platform.h"

namespace acekit::platform::win32 {

inline HANDLE ToHandle(Handle h) {
  return reinterpret_cast<HANDLE>(h);
}

}  // namespace acekit::platform::win32
