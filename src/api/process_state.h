// The one process-wide object. Every export reads and writes the library's
// state through Lib(); nothing below the api layer touches it directly.
#pragma once

#include <cstdint>

#include "common/callbacks.h"
#include "format/arc_state.h"
#include "ops/context.h"

namespace acekit::api {

struct Library {
  format::ArcState arc;
  format::Settings settings;
  HostHooks hooks;
  int32_t arc_info[23];
  int32_t extra_features[12];
  // The module handle the system gave the library when it was loaded (the
  // Windows DLL only); no reset touches it.
  void* module = nullptr;

  Library() { ResetAll(); }

  // The groups the lifecycle exports reset.
  void ResetCallbacks() { hooks = HostHooks{}; }
  void ResetArcState();          // frees the main comment, then wipes
  void ResetSettingsKeepDesc();  // options and the three paths
  void LoadDefaults();           // ArcerDesc defaults, ExtraFeatures 0, ArcInfo all -1
  void ResetAll();

  // The view of this state that an operation works on.
  ops::Context OpContext() { return ops::Context{arc, settings, hooks, arc_info, extra_features}; }
};

Library& Lib();

}  // namespace acekit::api

namespace acekit::testing {
// api::Lib().OpContext() for the tests, which see it through their own
// header and never include this one.
ops::Context ProcessState();
}  // namespace acekit::testing
