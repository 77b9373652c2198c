#include "api/process_state.h"

#include <cstring>

#include "platform/platform.h"

namespace acekit {

Library& Lib() {
  static Library instance;
  return instance;
}

ops::Context testing::ProcessState() {
  return Lib().OpContext();
}

void Library::ResetArcState() {
  platform::Free(arc.main_comment);
  arc = ArcState{};
}

void Library::ResetSettingsKeepDesc() {
  ArcerDesc desc = settings.desc;
  settings = Settings{};
  settings.desc = desc;
}

void Library::LoadDefaults() {
  settings.desc = kArcerDefaults;
  std::memset(extra_features, 0, sizeof extra_features);
  std::memset(arc_info, 0xFF, sizeof arc_info);
}

void Library::ResetAll() {
  ResetCallbacks();
  arc = ArcState{};
  settings = Settings{};
  std::memset(arc_info, 0, sizeof arc_info);
  std::memset(extra_features, 0, sizeof extra_features);
}

}  // namespace acekit
