// What the memory programs need to run an operation without the exports:
// the state an operation works on, and the library's form of a path.
#pragma once

#include <filesystem>
#include <string>

#include "ops/context.h"

namespace bench {

// The library takes '\' between the parts of a path on every system.
inline std::string LibPath(const std::filesystem::path& p) {
  std::string s = p.string();
  for (char& c : s) c = c == '/' ? '\\' : c;
  return s;
}

struct OpsSession {
  acekit::format::ArcState arc;
  acekit::format::Settings settings;
  acekit::HostHooks hooks;
  int32_t arc_info[23] = {};
  int32_t extra[12] = {};
  acekit::ops::Context ctx{arc, settings, hooks, arc_info, extra};
};

}  // namespace bench
