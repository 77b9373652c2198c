// The library as this program holds it: archives opened, surveyed and
// changed through the handle interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "acekit/acekit.h"

namespace acekit_cli {

// The longest path the library takes from a posix host (PATH_MAX without
// its terminator); it refuses longer ones rather than cut.
inline constexpr size_t kPathMax = 4095;

// Where an archive named on the command line is read from: "-" is standard
// input, spooled into a private temporary file (removed at exit) unless it
// is a regular file already; any other name is itself. Empty when the
// spooling failed, after reporting it.
std::string ArchivePath(const std::string& shown);

// The archive's headers walked by the salvaging reader, which checks each
// header's checksum and steps over damaged stretches to the next sound
// header: what the entry lists of the host interface cannot say.
struct SurveyEntry {
  std::string name;     // a directory's without a trailing '/'
  acekit_entry info{};  // its name and comment pointers are not kept
  std::string comment;
  acekit_entry_details details{};
  acekit_damage damage{};
};
struct Survey {
  bool opened = false;
  std::string main_comment;
  acekit_archive_info archive{};  // as it stands after the walk
  std::vector<SurveyEntry> entries;
  acekit_damage end{};  // the end of the archive
  std::string failure;  // a walk that stopped for another reason
  bool damaged() const;
};
// The window the archive's files were compressed with (a solid archive has
// one for all of them); 64 KB when it holds no file.
uint32_t ArchiveWindow(const Survey& survey);
// Opens the archive named on the command line (`shown`; "-" is standard
// input) through the handle interface; reports and returns null when it
// cannot.
acekit_reader* OpenReader(const std::string& shown);
// Walks the archive `shown`; with `report_open`, a failure to open it is
// reported, else it is left to the caller.
Survey SurveyArchive(const std::string& shown, bool report_open = false);
// Names every damaged header, skipped stretch and cut end that the survey
// met; header checksums count as damage when `headers_are_damage` and as
// warnings otherwise. Returns true when there was anything to name.
bool ReportSurvey(const std::string& archive, const Survey& survey, bool headers_are_damage);
// The patterns of a command line, matched the way a shell matches them
// (PatternSelects) rather than by the library's own mask rule.
class Patterns {
 public:
  // `excludes` (--exclude) leave out what they select, below folders too.
  explicit Patterns(std::vector<std::string> patterns, std::vector<std::string> excludes = {})
      : patterns_(std::move(patterns)),
        excludes_(std::move(excludes)),
        hit_(patterns_.size(), false) {}
  bool empty() const { return patterns_.empty(); }
  // Whether any pattern (or, without patterns, the command) takes `name`;
  // notes each pattern that does.
  bool Selects(const std::string& name);
  // Warns about every pattern that selected nothing; true when one did not.
  bool WarnUnmatched(const std::string& archive) const;

 private:
  std::vector<std::string> patterns_;
  std::vector<std::string> excludes_;
  std::vector<bool> hit_;
};

// Adds the directory entries `names` (without a trailing '/') to the
// archive at `path` (shown as `shown`), parents first, for the rebuild of a
// solid archive, which keeps only files. Warns about each that cannot be
// added; one that is there already is left as it is.
void RestoreDirectories(const std::string& shown, const std::string& path,
                        std::vector<std::string> names);

// What a writer or an editor of the handle interface tells on its way, shown
// on the progress line; a file that cannot be read is left out with a
// warning, or with `strict` stops the change. Ctrl-C cancels.
class ChangeEvents {
 public:
  // Totals for the two passes of a solid archive's rebuild.
  uint64_t unpack_total = 0;
  uint64_t repack_total = 0;
  bool strict = false;
  static int On(void* ctx, const acekit_change* event);
  // The last entry named: where a failure came up.
  const std::string& current() const { return current_; }
  const std::vector<std::string>& vanished() const { return vanished_; }
  bool stopped_strict() const { return stopped_strict_; }

 private:
  std::string current_;
  std::vector<std::string> vanished_;
  bool stopped_strict_ = false;
};

// The exit status of a failed change through the handle interface.
int ChangeExit(int code);

// The search level, 1 to 4, that the solid archive at `path` was made with,
// or 0 when it cannot be told. The archive does not keep it, so the first
// file of its stream, which depends on nothing before it, is compressed
// again alone at each level with the archive's window until the packed size
// comes out the same. A first file above a few MB is not tried.
int SolidLevel(const std::string& path, uint32_t dictionary_kb);

}  // namespace acekit_cli
