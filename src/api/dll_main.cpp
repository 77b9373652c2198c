// The Windows entry point. The module handle is kept for a host that might
// want it from a debugger; the library itself never needs it.
#if defined(_WIN32)
#include <windows.h>

#include "api/process_state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) acekit::api::Lib().module = module;
  return TRUE;
}
#endif
