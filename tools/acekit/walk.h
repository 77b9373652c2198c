// Turning the paths named on the command line into the items the library
// adds, one file or directory each: directories are walked here, since the
// library takes every item literally.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace acekit_cli {

struct InputItem {
  std::string disk;    // where the library reads it: relative or absolute, '/' separators
  std::string stored;  // its name in the archive, '/' separators
  bool directory = false;
  uint64_t size = 0;
};

struct WalkOptions {
  bool names_only = false;  // files under their bare names; directories get no entries
  bool strict = false;      // anything left out is an error
  // The archive itself, when it exists, is never added to itself.
  bool skip_identity = false;
  dev_t skip_dev = 0;
  ino_t skip_ino = 0;
};

// Collects the items in a stable order (each directory before what it holds,
// names sorted). Warns about what it leaves out; returns false after
// reporting an error that must stop the command before anything is written:
// a path that cannot be found or lies above the working directory, two
// inputs that would be stored under one name, or with --strict anything
// that would be left out.
bool CollectInputs(const std::vector<std::string>& paths, const WalkOptions& options,
                   std::vector<InputItem>& items);

}  // namespace acekit_cli
