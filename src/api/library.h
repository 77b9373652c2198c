// The one process-wide object. Every export reads and writes the library's
// state through Lib(); nothing below the api layer touches it directly.
#pragma once

#include <cstdint>

#include "common/callbacks.h"
#include "format/arc_state.h"
#include "ops/context.h"

namespace acekit {

struct Library {
  ArcState arc;
  Settings settings;
  HostHooks hooks;
  // Registered but never called: kept so a host can read back what it set.
  struct Opaque {
    ArcContext ctx = 0;
    void* proc = nullptr;
  } crypt_key_proc, next_disk_proc, sfx_progress_proc;
  int32_t arc_info[23];
  int32_t extra_features[12];
  // Running CRC and byte counters the engines leave behind between files.
  uint32_t engine_counters[10];
  // The module handle the system gave the library when it was loaded (the
  // Windows DLL only); no reset touches it.
  void* module = nullptr;

  Library() { ResetAll(); }

  // The groups the lifecycle exports reset.
  void ResetCallbacks() {
    hooks = HostHooks{};
    crypt_key_proc = next_disk_proc = sfx_progress_proc = Opaque{};
  }
  void ResetArcState();          // frees the main comment, then wipes
  void ResetSettingsKeepDesc();  // options and the three paths
  void LoadDefaults();           // ArcerDesc defaults, ExtraFeatures 0, ArcInfo all -1
  void ResetAll();

  // The view of this state that an operation works on.
  ops::Context OpContext() { return ops::Context{arc, settings, hooks, arc_info, extra_features}; }
};

Library& Lib();

}  // namespace acekit
