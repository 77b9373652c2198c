// Extracting and testing: one driver runs over an entry list, reports each
// file to the host, settles what happens to a file already on disk, decodes
// the data, checks its CRC-32 and restores time and attributes. The first
// failure ends the run with a status; files extracted before it stay, the
// one being written is deleted.
//
// In a solid archive every file continues the decoder's window of the ones
// before it, so the driver decodes every file of the archive in order and
// writes only the selected ones.
//
// The temporary path of the state (ArcState::temp_path) is the directory a
// solid rebuild unpacks into: while it is set, the host is shown that
// directory with the file's name instead of the real target path.
#pragma once

#include <cstdint>

#include "common/host_types.h"
#include "ops/context.h"

namespace acekit::ops {

enum class ExtractMode {
  kExtract,
  kTest,     // decode and check every file, write nothing
  kRebuild,  // unpack into a solid rebuild's working directory
};

// The driver. `progress_phase`, when not 0, is announced to the progress
// procedure before its first report (a rebuild's first pass). Returns 0,
// or the code of the failure that ended the run.
[[nodiscard]] Status ExtractEntries(const Context& ctx, const ArcFileList& list, ExtractMode mode,
                                    int32_t progress_phase = 0);

// The driver over `list` as it is given, with `threads` workers for a
// normal archive (0: ThreadCount). In a solid archive `list` must hold every
// entry from one that starts a fresh stream on, and `selection` (null: all)
// names those written; the others are decoded only. Returns 0 or the
// failure, and the entry it met it at in *failed_at (null: at none).
[[nodiscard]] Status ExtractList(const Context& ctx, const ArcFileList& list, ExtractMode mode,
                                 const ArcFileList* selection, int threads,
                                 const ArcEntry** failed_at);

// ExtractList for a caller that builds its list while it reads the
// archive's headers: the entries it will list are read ahead and decoded on
// the workers meanwhile, and nothing is reported or written before Run.
// The platform calls it makes still depend on the archive alone.
class ListedExtract {
 public:
  ListedExtract(const Context& ctx, ExtractMode mode, int threads);
  ~ListedExtract();
  ListedExtract(const ListedExtract&) = delete;
  ListedExtract& operator=(const ListedExtract&) = delete;

  // Opens the archive and starts the workers; false when there are none to
  // start or something failed, and the caller then calls ExtractList.
  bool Begin();
  // `e` follows the entries given before it (the caller links them).
  void Grow(const ArcEntry* e);
  // ExtractList over `list`, which must be the entries given to Grow or
  // the start of them. Once only.
  [[nodiscard]] Status Run(const ArcFileList& list, const ArcFileList* selection,
                           const ArcEntry** failed_at);

 private:
  struct Impl;
  const Context& ctx_;
  ExtractMode mode_;
  int threads_;
  Impl* impl_ = nullptr;
};

// Extracts the entries whose names match `masks` (null or empty: all) into
// the output path. Clears the status word first, so the walk starts afresh.
[[nodiscard]] Status ExtractFileMaskListArc(const Context& ctx, const FileMaskList* masks);

// Decodes every file and checks its CRC-32, writing nothing; the file name
// procedure still sees each file. Runs only when the status is 0 after the
// listing (it does not clear a status left from before, and returns it).
[[nodiscard]] Status TestArc(const Context& ctx);

// Unpacks the entries matching `masks` into the output path for a solid
// rebuild. Clears the status word first; refuses with 9959 when a password
// is set and an entry is encrypted.
[[nodiscard]] Status ExtractForRebuild(const Context& ctx, const FileMaskList* masks,
                                       int32_t progress_phase = 0);

}  // namespace acekit::ops
