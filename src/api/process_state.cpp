#include "api/process_state.h"

#include <cstring>

#include "platform/platform.h"

namespace acekit::api {

Library& Lib() {
  static Library instance;
  return instance;
}

void Library::ResetArcState() {
  platform::Free(arc.main_comment);
  arc = format::ArcState{};
}

void Library::ResetSettingsKeepDesc() {
  format::ArcerDesc desc = settings.desc;
  settings = format::Settings{};
  settings.desc = desc;
}

void Library::LoadDefaults() {
  settings.desc = format::kArcerDefaults;
  std::memset(extra_features, 0, sizeof extra_features);
  std::memset(arc_info, 0xFF, sizeof arc_info);
}

void Library::ResetAll() {
  ResetCallbacks();
  arc = format::ArcState{};
  settings = format::Settings{};
  std::memset(arc_info, 0, sizeof arc_info);
  std::memset(extra_features, 0, sizeof extra_features);
}

}  // namespace acekit::api

namespace acekit::testing {

ops::Context ProcessState() {
  return api::Lib().OpContext();
}

}  // namespace acekit::testing
