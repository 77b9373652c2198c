// a: create an archive, or add to one.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <set>

#include "commands.h"
#include "format.h"
#include "host.h"
#include "library.h"
#include "names.h"
#include "ui.h"
#include "walk.h"

namespace acekit_cli {
namespace {

bool ParseNumber(const std::string& text, long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  *value = std::strtol(text.c_str(), &end, 10);
  return errno == 0 && *end == '\0';
}

// The archive's name as the library should see it once the working
// directory has moved to DIR.
std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return path;
  return std::string(cwd) + "/" + path;
}

struct Existing {
  uint64_t bytes = 0;
  std::map<std::string, std::string> directories;  // same-name key -> name without the '/'
  std::set<std::string> files;                     // same-name keys
};

// What the archive holds already; reports and returns false when it cannot
// be read.
bool ExistingEntries(const std::string& archive, Existing& ex) {
  Masks all;
  Entries entries;
  if (const uint16_t st = entries.Build(all); st != ACEKIT_STATUS_OK) {
    ReportWalkFailure(archive, st, entries);
    return false;
  }
  for (const ArcEntry* e : entries.all()) {
    ex.bytes += e->orig_size;
    if (IsDirectory(*e)) {
      std::string name = EntryName(*e);
      if (name.ends_with('/')) name.pop_back();
      ex.directories.emplace(SameNameKey(name), name);
    } else if (e->is_file == 1) {
      ex.files.insert(SameNameKey(EntryName(*e)));
    }
  }
  return true;
}

// The archive matches the files it already holds by the full path of each
// input, not by its bare name, so a bare name would end up in it twice.
bool NamesOnlyReplaces(const std::string& archive, const Existing& ex,
                       const std::vector<InputItem>& items) {
  bool clash = false;
  for (const auto& item : items) {
    if (!item.directory && ex.files.contains(SameNameKey(item.stored))) {
      Ui::Get().Error(archive + ": holds " + item.stored +
                      " already, which --names-only cannot replace; delete it first");
      clash = true;
    }
  }
  return clash;
}

// A solid archive is rebuilt from its files alone, so its directory entries
// are added again from the disk where the same directories still exist.
void KeepDirectories(const std::string& archive, const std::map<std::string, std::string>& old,
                     bool names_only, std::vector<InputItem>& items) {
  std::set<std::string> named;
  for (const auto& item : items) named.insert(SameNameKey(item.stored));
  for (const auto& [key, name] : old) {
    if (named.contains(key)) continue;
    struct stat st;
    if (!names_only && ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      items.push_back(InputItem{name, name, true, 0});
    } else {
      Ui::Get().Warn(archive + ": directory entry " + name +
                     "/ is dropped: a solid archive is rebuilt from its files, and no such "
                     "directory is here to add again");
    }
  }
}

// Sums up the operation, or says why it failed and what became of the archive.
int Report(const std::string& shown, const std::string& archive, bool existed, uint16_t status,
           const Host& host, uint64_t bytes, size_t files, size_t directories) {
  Ui& ui = Ui::Get();
  const std::string what = existed ? "the archive is unchanged" : "no archive was written";
  if (status == ACEKIT_STATUS_CANCELLED ||
      (Interrupted() && status == ACEKIT_STATUS_OK && !existed)) {
    // A creation that finished just as Ctrl-C came is taken back too.
    if (!existed) ::unlink(archive.c_str());
    ui.Error(shown + ": cancelled; " + what, kExitCancelled);
  } else if (host.stopped_strict()) {
    ui.Error(shown + ": " + what);
  } else if (status == ACEKIT_STATUS_OPEN_FAILED && !host.target().empty() &&
             !WhyNotRead(host.target()).empty()) {
    ui.Error(shown + ": cannot read " + host.target() + ": " + WhyNotRead(host.target()) + "; " +
             what);
  } else if (status != ACEKIT_STATUS_OK) {
    std::string where;
    if (!host.current().empty()) {
      std::string at = status == ACEKIT_STATUS_OPEN_FAILED ? host.target() : host.current();
      // Damage turns up while the old entries are unpacked into the working
      // directory, where the entry comes first and its working copy second.
      if (IsDamage(status)) at = host.source();
      where = " (at " + at + ")";
    }
    ui.Error(shown + ": " + StatusMessage(status) + where + "; " + what, StatusExit(status));
  } else if (Interrupted()) {
    ui.Error(shown + ": interrupted after the archive was already updated", kExitCancelled);
  } else {
    struct stat st;
    const uint64_t size = ::stat(archive.c_str(), &st) == 0 ? st.st_size : 0;
    // What vanished was announced already; it is not counted as added.
    const size_t left_out = std::min(files + directories, host.vanished().size());
    ui.Say(shown + ": " + (existed ? "added " : "created with ") + Count(files, "file", "files") +
           " and " + Count(directories, "directory", "directories") +
           (left_out > 0 ? " less " + std::to_string(left_out) + " that vanished" : "") + " (" +
           HumanSize(bytes) + "); the archive holds " + HumanSize(size));
  }
  return ui.exit_code();
}

// Adds `paths`, named from the current directory, to `archive` (shown as
// `archive_arg`).
int AddPaths(const ParsedArgs& args, const std::string& archive_arg, const std::string& archive,
             const std::vector<std::string>& paths) {
  Ui& ui = Ui::Get();

  long dictionary = 64;
  if (args.Has(kOptDictionary)) {
    if (!ParseNumber(args.Value(kOptDictionary), &dictionary) ||
        (dictionary != 64 && dictionary != 128 && dictionary != 256 && dictionary != 512 &&
         dictionary != 1024)) {
      return UsageError("a", "--dictionary takes 64, 128, 256, 512 or 1024 (KB)");
    }
  }
  long level = 1;
  if (args.Has(kOptLevel) &&
      (!ParseNumber(args.Value(kOptLevel), &level) || level < 1 || level > 4)) {
    return UsageError("a", "--level takes 1, 2, 3 or 4");
  }
  const bool names_only = args.Has(kOptNamesOnly);

  WalkOptions walk;
  walk.names_only = names_only;
  walk.strict = args.Has(kOptStrict);
  struct stat ast;
  bool exists = false;
  if (::stat(archive.c_str(), &ast) == 0) {
    if (S_ISDIR(ast.st_mode)) {
      ui.Error(archive_arg + ": is a directory, not an archive");
      return ui.exit_code();
    }
    exists = true;
    walk.skip_identity = true;
    walk.skip_dev = ast.st_dev;
    walk.skip_ino = ast.st_ino;
  }
  if (!exists) {
    const size_t slash = archive.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : archive.substr(0, slash + 1);
    if (::access(dir.c_str(), W_OK) != 0) {
      ui.Error(archive_arg + ": cannot create the archive in " + dir + ": " + Reason(errno));
      return ui.exit_code();
    }
  }
  std::vector<InputItem> items;
  if (!CollectInputs(paths, walk, items)) {
    ui.Error(archive_arg + ": nothing written");
    return ui.exit_code();
  }
  if (items.empty()) {
    ui.Error(archive_arg + ": nothing to add");
    return ui.exit_code();
  }

  Session session;
  if (exists ? !session.Open(archive) : !session.Create(archive)) return ui.exit_code();

  Host host(Host::Mode::kAdd);
  host.strict = args.Has(kOptStrict);
  int32_t desc[ACEKIT_DESC_WORDS];
  GetArcerDesc(desc);
  const bool solid =
      exists ? desc[ACEKIT_DESC_MODE] == ACEKIT_DESC_MODE_SOLID : args.Has(kOptSolid);
  std::map<std::string, std::string> old_directories;
  if (exists) {
    if (args.Has(kOptSolid) && !solid) {
      ui.Warn(archive_arg + ": is not solid; files are added without --solid");
    }
    // Added files take the archive's own dictionary: a solid archive's, or
    // 64 KB in a normal one.
    if (args.Has(kOptDictionary) && dictionary != desc[ACEKIT_DESC_DICT_KB]) {
      ui.Warn(archive_arg + ": keeps its " + std::to_string(desc[ACEKIT_DESC_DICT_KB]) +
              " KB dictionary");
    }
    dictionary = desc[ACEKIT_DESC_DICT_KB];
    Existing ex;
    if (!ExistingEntries(archive_arg, ex)) return ui.exit_code();
    if (names_only && NamesOnlyReplaces(archive_arg, ex, items)) {
      ui.Error(archive_arg + ": the archive is unchanged");
      return ui.exit_code();
    }
    if (solid) host.unpack_total = ex.bytes;
    old_directories = std::move(ex.directories);
    if (solid) KeepDirectories(archive_arg, old_directories, names_only, items);
  }
  desc[ACEKIT_DESC_FORMAT_SETTING] = 12;
  desc[ACEKIT_DESC_DICT_KB] = static_cast<int32_t>(dictionary);
  desc[ACEKIT_DESC_MODE] = solid ? ACEKIT_DESC_MODE_SOLID : 0;
  desc[ACEKIT_DESC_LEVEL] = static_cast<int32_t>(level);
  SetArcerStats(desc);
  host.Register();
  if (names_only) arOptionsOn(ACEKIT_OPTION_NAMES_ONLY);

  Masks masks;
  uint64_t total = 0;
  size_t files = 0;
  size_t directories = 0;
  for (const auto& item : items) {
    // The archive lists a directory with a trailing separator, so an update
    // would not take an item without one for the same entry: a directory
    // the archive already holds is left as it is.
    if (item.directory && !solid && old_directories.contains(SameNameKey(item.stored))) continue;
    if (!masks.Add(item.disk)) {
      ui.Error(archive_arg + ": out of memory");
      return ui.exit_code();
    }
    total += item.size;
    ++(item.directory ? directories : files);
  }
  if (masks.empty()) {
    ui.Say(archive_arg + ": holds these directories already; the archive is unchanged");
    return ui.exit_code();
  }
  host.repack_total = host.unpack_total + total;
  if (ui.verbose()) {
    std::vector<std::string> listed;
    for (const auto& item : items) listed.push_back(item.stored + (item.directory ? "/" : ""));
    ui.ListWhenReached(listed);
  }
  ui.progress().Begin(total);
  CompressFileMaskListArc(masks.get());
  ui.progress().End();

  return Report(archive_arg, archive, exists, session.status(), host, total, files, directories);
}

}  // namespace

int RunAdd(const ParsedArgs& args) {
  Ui& ui = Ui::Get();
  const std::string& archive_arg = args.operands[0];
  const size_t n = args.operands.size();
  const size_t all_dirs = args.ValuesBefore(kOptDirectory, n).size();
  if (all_dirs > args.ValuesBefore(kOptDirectory, n - 1).size()) {
    return UsageError("a", "-C DIR applies to the paths after it, and none follows the last one");
  }
  // The archive is named from where the command was given; each -C DIR moves
  // on from where the one before it led, for the paths after it, as tar's does.
  const std::string archive = all_dirs > 0 ? Absolute(archive_arg) : archive_arg;
  size_t moved = 0;
  for (size_t first = 1; first < n && ui.exit_code() < kExitError;) {
    const std::vector<std::string> dirs = args.ValuesBefore(kOptDirectory, first);
    size_t end = first + 1;
    while (end < n && args.ValuesBefore(kOptDirectory, end).size() == dirs.size()) ++end;
    for (; moved < dirs.size(); ++moved) {
      if (::chdir(dirs[moved].c_str()) != 0) {
        ui.Error(dirs[moved] + ": " + Reason(errno));
        return ui.exit_code();
      }
    }
    const std::vector<std::string> paths(args.operands.begin() + static_cast<long>(first),
                                         args.operands.begin() + static_cast<long>(end));
    AddPaths(args, archive_arg, archive, paths);
    first = end;
  }
  return ui.exit_code();
}

}  // namespace acekit_cli
