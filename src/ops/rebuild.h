// What the operations that write archives share: the output file that is
// deleted again unless the operation finishes it, the working directory of a
// solid rebuild that is removed on every way out, the swap of a finished
// temporary archive into the archive's place, and the entry list of an old
// archive checked to cover the whole file.
#pragma once

#include <cstdint>

#include "common/host_types.h"
#include "compress/compressor.h"
#include "format/entry_list.h"
#include "ops/compress_one.h"
#include "ops/context.h"
#include "ops/input_list.h"
#include "platform/platform.h"

namespace acekit::ops {

// An archive being written. Unless Finish() succeeds, the destructor closes
// and deletes it, so a failed operation leaves nothing behind.
class OutputArchive {
 public:
  OutputArchive() = default;
  ~OutputArchive() { Discard(); }
  OutputArchive(const OutputArchive&) = delete;
  OutputArchive& operator=(const OutputArchive&) = delete;

  // A new archive under its own name (mode 'w'); kOpenFailed when it
  // cannot be made.
  Status Open(const char* name);
  // A temporary archive beside the file the state's archive name stands for
  // (the target of a link of that name), created new with that file's
  // access. kOpenFailed when it cannot be made.
  Status OpenBeside(const Context& ctx);
  platform::Handle handle() const { return h_; }
  const char* name() const { return name_; }
  // The file OpenBeside's archive replaces, and the access it keeps.
  const char* target() const { return target_; }
  const platform::FileAccess* access() const { return has_access_ ? &access_ : nullptr; }
  // Closes the file and keeps it.
  void Finish();
  void Discard();

 private:
  platform::Handle h_ = platform::kBadHandle;
  char name_[kInputPathSize] = {};
  char target_[kInputPathSize] = {};
  platform::FileAccess access_;
  bool has_access_ = false;
  bool kept_ = false;
};

// The working directory of a solid rebuild, removed with everything in it
// when the operation ends, however it ends. Only its owner may enter it.
class WorkDir {
 public:
  WorkDir() = default;
  ~WorkDir();
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;

  // Creates it; kWorkDirFailed when that fails.
  Status Create();
  const char* path() const { return path_; }
  // The system temporary directory with a trailing `\` (empty when the
  // system has none to tell): what the host is shown in place of the
  // working directory.
  const char* shown() const { return shown_; }

 private:
  char path_[kInputPathSize] = {};
  char shown_[kInputPathSize] = {};
  bool made_ = false;
};

// Puts the operation's settings back when it ends.
class SettingsRestore {
 public:
  explicit SettingsRestore(format::Settings& s) : live_(s), saved_(s) {}
  ~SettingsRestore() {
    CopyPath(live_.output_path, saved_.output_path);
    CopyPath(live_.relative_path, saved_.relative_path);
  }
  SettingsRestore(const SettingsRestore&) = delete;
  SettingsRestore& operator=(const SettingsRestore&) = delete;

 private:
  static void CopyPath(char* dst, const char* src);
  format::Settings& live_;
  format::Settings saved_;
};

// Lists every entry of the open archive. A walk that stops before the end
// of the file (a read that failed mid-way ends it quietly) is reported as 5,
// since a rebuild from it would drop the entries after that point.
Status ListWholeArchive(const Context& ctx, format::EntryList& entries);

// Copies everything in front of the first entry: leading bytes and the main
// header with its comment.
Status CopyArchiveHead(const Context& ctx, platform::Handle archive, platform::Handle out);

// Finishes the temporary archive of OpenBeside and renames it over the
// archive's file in one step. On failure the status is 5, the temporary
// archive is gone and the archive is as it was.
Status ReplaceArchiveFile(OutputArchive& temp);

// Sets up the compressor for `dict_kb` and a writer over `out`; kNoMemory
// when it cannot.
Status StartWriting(const Context& ctx, compress::Compressor& compressor, int32_t dict_kb);

// The dictionary a rebuild compresses added data with: the solid archive's
// own, or 64 KB; it also replaces the host's setting.
int32_t RebuildDictionary(const Context& ctx);

// Deletes a file, trying once more when the first attempt fails.
void DeleteQuietly(const char* name);

// "\" followed by a stored name, as the file name procedure is shown it.
void ShownName(const char* stored, char* out, size_t size);

}  // namespace acekit::ops
