// Turning the host's list into files on disk and names in the archive,
// matching those names with archive entries, and the file-system walks of a
// solid rebuild: collecting the files of a working directory and removing it
// again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/callbacks.h"
#include "common/host_types.h"
#include "common/status.h"
#include "format/arc_state.h"
#include "ops/input_list.h"

namespace acekit::ops {

// Room for an input path in front of a directory part and a name: a path.
inline constexpr size_t kItemTextSize = format::kPathSize;

// The item a host record names: directory part, file name and, when there
// is one, a dot and the extension. False, and `out` empty, when it does not
// fit: a name is never cut into that of some other file.
bool ItemName(const FileMask& item, char* out, size_t size);
// Where an item is read from when it is compressed: the input path goes in
// front unless it is empty or only bare names are stored. False, and `out`
// empty, when the path does not fit.
bool ItemSourcePath(const format::Settings& settings, const FileMask& item, char* out, size_t size);

// The host item whose stored name (relative path in front) equals
// `entry_name` ignoring case. On a match, `stored` gets that stored name and
// `disk` the input path followed by the item name.
bool FindItemForEntry(const format::Settings& settings, const char* entry_name,
                      const FileMaskList* list, char* stored, size_t stored_size, char* disk,
                      size_t disk_size);

// Whether a list names `name` when the relative path stands in front of it:
// the list's names are compared with their fronts cleaned, ignoring case.
bool EntryIsNamed(const format::Settings& settings, const char* name, const FileMaskList* list);
bool EntryIsNamed(const format::Settings& settings, const char* name, const InputFileList& names);

// The host's answer on replacing an archived entry with the file of the same
// name on disk. Without a file on disk or a replace procedure the answer is
// kAnswerReplace without asking. On kAnswerReplace the disk file is made
// replaceable.
ReplaceAnswer AskReplaceOnUpdate(const format::Settings& settings, const HostHooks& hooks,
                                 const ArcEntry& entry);
// The same in a solid rebuild, where the archived version is the file
// unpacked at `old_path` and the new one is `disk_path`.
ReplaceAnswer AskReplaceOnSolidUpdate(const HostHooks& hooks, const char* old_path,
                                      const char* disk_path);

// Appends the full path of every file under `dir` whose name matches
// `pattern`, a directory's own files before its subdirectories'. kOk, the
// status of a list that could not grow, or kOpenFailed for a path too long
// to build.
Status CollectTree(const char* dir, const char* pattern, InputFileList& files);
// Appends (path, path without `work_dir` and its separator) for each file.
Status OrderForSolid(const InputFileList& files, InputFileList& ordered, const char* work_dir);
// Deletes `dir` and everything in it; drive roots and shorter texts are
// refused. False at the first thing that cannot be removed.
bool RemoveTree(const char* dir);

}  // namespace acekit::ops
