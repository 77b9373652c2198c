// The data the library keeps about the one archive it works on, and the
// host's settings beside it. These are plain types: the single process-wide
// instance lives in the api layer, and every lower layer is handed the parts
// it needs, so each layer can be tested on a state of its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/host_types.h"
#include "platform/platform.h"

namespace acekit::format {

// A path and its terminator. Records shared with the host keep their own
// fixed sizes; this is the room of the library's own path buffers.
inline constexpr size_t kPathSize = platform::kMaxPath + 1;

// Option word bits that change behaviour.
inline constexpr uint16_t kOptKeepPaths =
    ACEKIT_OPTION_KEEP_PATHS;  // extraction keeps stored directories
inline constexpr uint16_t kOptNamesOnly =
    ACEKIT_OPTION_NAMES_ONLY;  // compression stores bare names

// The ten-word archiver description; words 6..9 are the compression settings.
struct ArcerDesc {
  int32_t words[ACEKIT_DESC_WORDS];
  int32_t& dict_kb() { return words[ACEKIT_DESC_DICT_KB]; }
  int32_t& mode() { return words[ACEKIT_DESC_MODE]; }    // solid: create solid archives
  int32_t& level() { return words[ACEKIT_DESC_LEVEL]; }  // match finder level 1..4
  int32_t dict_kb() const { return words[ACEKIT_DESC_DICT_KB]; }
  int32_t mode() const { return words[ACEKIT_DESC_MODE]; }
  int32_t level() const { return words[ACEKIT_DESC_LEVEL]; }
};
inline constexpr ArcerDesc kArcerDefaults = {{2047, 12, 1, 64, 1024, 7, 12, 64, 0, 1}};

// The host's paths get one character more than a path may have: a text too
// long to be a path is kept cut to kPathSize characters, which no path
// buffer takes whole, so every path built from it is refused as too long
// rather than built from a cut text.
inline constexpr size_t kSettingPathSize = kPathSize + 1;

// What the host set through the path, option and description exports.
struct Settings {
  uint16_t options = 0;
  char input_path[kSettingPathSize] = {};
  char output_path[kSettingPathSize] = {};
  char relative_path[kSettingPathSize] = {};
  ArcerDesc desc = {};
  // Threads a rewrite may compress on; 0 takes the process's count. Only the
  // handle interface sets it: the host interface has no word for it.
  int threads = 0;
};

struct ArcState {
  char archive_name[kPathSize] = {};
  char temp_path[kPathSize] = {};
  uint32_t status = 0;
  int32_t new_archive = 0;
  int32_t info_valid = 0;
  int32_t read_only = 0;  // all ones when the archive is locked
  uint32_t header_cursor = 0;
  int32_t main_header_offset = -1;
  uint32_t main_header_length = 0;
  uint32_t first_entry_offset = 0;
  uint32_t version_needed = 0;
  uint32_t solid_dict_kb = 0;
  int32_t solid = 0;
  uint32_t host_system = 0;
  int32_t read_file_comments = 0;
  char* main_comment = nullptr;  // owned; freed by the api layer
  int32_t main_comment_length = 0;
  int32_t main_comment_read = 0;
  // Offset of the compressed main comment the opening found announced, -1
  // when there is none to read; the comment reader picks it up from here.
  int32_t main_comment_offset = -1;
  int32_t recovery_record = 0;  // the entry walk met a recovery header
  char password[264] = {};
  int32_t password_set = 0;
};

}  // namespace acekit::format
