// What the memory programs need to run an operation without the exports:
// the state an operation works on, and the library's form of a path.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "format/arc_state.h"
#include "ops/context.h"

namespace bench {

// The library takes '\' between the parts of a path on every system.
inline std::string LibPath(const std::filesystem::path& p) {
  std::string s = p.string();
  for (char& c : s) c = c == '/' ? '\\' : c;
  return s;
}

// The windows (KB) named on the command line, or all five.
inline std::vector<int> WindowsFromArgs(int argc, char** argv) {
  std::vector<int> windows;
  for (int i = 1; i < argc; ++i) windows.push_back(std::atoi(argv[i]));
  if (windows.empty()) windows = {64, 128, 256, 512, 1024};
  return windows;
}

struct OpsSession {
  acekit::format::ArcState arc;
  acekit::format::Settings settings;
  acekit::HostHooks hooks;
  int32_t arc_info[23] = {};
  int32_t extra[12] = {};
  acekit::ops::Context ctx{arc, settings, hooks, arc_info, extra};

  // Settings for a new archive at `archive` of files named below `input`.
  void NewArchive(const std::filesystem::path& archive, const std::filesystem::path& input,
                  int window_kb, bool solid) {
    settings.desc = acekit::format::kArcerDefaults;
    settings.desc.dict_kb() = window_kb;
    settings.desc.mode() = solid ? 4 : 0;
    arc.new_archive = 1;
    std::snprintf(arc.archive_name, sizeof arc.archive_name, "%s", LibPath(archive).c_str());
    std::snprintf(settings.input_path, sizeof settings.input_path, "%s\\", LibPath(input).c_str());
  }
};

}  // namespace bench
