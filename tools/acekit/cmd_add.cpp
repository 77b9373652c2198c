// a: create an archive, or add to one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "commands.h"
#include "format.h"
#include "library.h"
#include "names.h"
#include "ui.h"
#include "walk.h"

namespace acekit_cli {
namespace {

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
  bool solid = false;
  uint32_t window = 64;
  std::map<std::string, std::string> directories;  // same-name key -> name without the '/'
  std::set<std::string> files;                     // same-name keys
};

// What the archive holds already; reports and returns false when it cannot
// be read.
bool ExistingEntries(const std::string& archive, Existing& ex) {
  const Survey survey = SurveyArchive(archive, true);
  if (!survey.opened) return false;
  if (ReportSurvey(archive, survey, true)) {
    Ui::Get().Error(archive + ": the archive is unchanged", kExitDamaged);
    return false;
  }
  ex.solid = survey.archive.is_solid != 0;
  ex.window = ArchiveWindow(survey);
  for (const SurveyEntry& e : survey.entries) {
    ex.bytes += e.info.size;
    if (e.info.is_dir) {
      ex.directories.emplace(SameNameKey(e.name), e.name);
    } else {
      ex.files.insert(SameNameKey(e.name));
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
// are added again: from the disk where the same directories still exist,
// else after the rebuild (returned).
std::vector<std::string> KeepDirectories(const std::map<std::string, std::string>& old,
                                         bool names_only, std::vector<InputItem>& items) {
  std::set<std::string> named;
  for (const auto& item : items) named.insert(SameNameKey(item.stored));
  std::vector<std::string> later;
  for (const auto& [key, name] : old) {
    if (named.contains(key)) continue;
    struct stat st;
    if (!names_only && ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      items.push_back(InputItem{name, name, true, 0});
    } else {
      later.push_back(name);
    }
  }
  return later;
}

// Sums up the operation, or says why it failed and what became of the
// archive. `rc` is the handle interface's answer, `message` its text.
int Report(const std::string& shown, bool existed, int rc, const std::string& message,
           const ChangeEvents& events, uint64_t bytes, size_t files, size_t directories,
           const std::string& archive) {
  Ui& ui = Ui::Get();
  const std::string what = existed ? "the archive is unchanged" : "no archive was written";
  if (rc == ACEKIT_E_CANCELLED || (Interrupted() && rc == ACEKIT_OK && !existed)) {
    // A creation that finished just as Ctrl-C came is taken back too.
    if (!existed && rc == ACEKIT_OK) ::unlink(archive.c_str());
    ui.Error(shown + ": cancelled; " + what, kExitCancelled);
  } else if (events.stopped_strict()) {
    ui.Error(shown + ": " + what);
  } else if (rc != ACEKIT_OK) {
    // Damage turns up while the old entries are unpacked for the rebuild.
    const std::string at = ChangeExit(rc) == kExitDamaged && !events.current().empty()
                               ? " (at " + events.current() + ")"
                               : "";
    ui.Error(shown + ": " + message + at + "; " + what, ChangeExit(rc));
  } else if (Interrupted()) {
    ui.Error(shown + ": interrupted after the archive was already updated", kExitCancelled);
  } else {
    struct stat st;
    const uint64_t size = ::stat(archive.c_str(), &st) == 0 ? st.st_size : 0;
    // What vanished was announced already; it is not counted as added.
    const size_t left_out = std::min(files + directories, events.vanished().size());
    ui.Say(shown + ": " + (existed ? "added " : "created with ") + Count(files, "file", "files") +
           " and " + Count(directories, "directory", "directories") +
           (left_out > 0 ? " less " + std::to_string(left_out) + " that vanished" : "") + " (" +
           HumanSize(bytes) + "); the archive holds " + HumanSize(size));
  }
  return ui.exit_code();
}

// Writes a new archive of `items` through a writer.
int CreateArchive(const std::string& shown, const std::string& archive,
                  const std::vector<InputItem>& items, const acekit_options& o,
                  ChangeEvents& events, uint64_t total, size_t files, size_t directories) {
  Ui& ui = Ui::Get();
  acekit_writer* w = nullptr;
  if (acekit_writer_create(&w, archive.c_str(), &o) != ACEKIT_OK) {
    ui.Error(shown + ": cannot create the archive: " + acekit_last_error(nullptr));
    return ui.exit_code();
  }
  acekit_writer_set_events(w, &ChangeEvents::On, &events);
  ui.progress().Begin(total);
  int rc = ACEKIT_OK;
  std::string message;
  for (const InputItem& item : items) {
    rc = acekit_writer_add_file(w, item.disk.c_str(), item.stored.c_str());
    if (rc != ACEKIT_OK) break;
  }
  if (rc != ACEKIT_OK) {
    message = acekit_last_error(w);
    acekit_writer_abort(w);
  } else {
    rc = acekit_writer_finish(w);
    if (rc != ACEKIT_OK) message = acekit_last_error(nullptr);
  }
  ui.progress().End();
  return Report(shown, false, rc, message, events, total, files, directories, archive);
}

// The paths of -T FILE ('-': standard input), one a line or, with --null,
// separated by NUL characters; empty entries are skipped.
bool ReadFileList(const std::string& file, bool nul, std::vector<std::string>& paths) {
  std::FILE* in = file == "-" ? stdin : std::fopen(file.c_str(), "rb");
  if (in == nullptr) {
    Ui::Get().Error(file + ": cannot read the list of files: " + Reason(errno));
    return false;
  }
  std::string text;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) text.append(buf, n);
  const bool failed = std::ferror(in) != 0;
  if (in != stdin) std::fclose(in);
  if (failed) {
    Ui::Get().Error(file + ": cannot read the list of files: " + Reason(errno));
    return false;
  }
  const char separator = nul ? '\0' : '\n';
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    std::string path = text.substr(start, end - start);
    if (!nul && !path.empty() && path.back() == '\r') path.pop_back();
    if (!path.empty()) paths.push_back(std::move(path));
    start = end + 1;
  }
  return true;
}

// Adds `paths`, named from the current directory, to `archive` (shown as
// `archive_arg`).
int AddPaths(const ParsedArgs& args, const std::string& archive_arg, const std::string& archive,
             const std::vector<std::string>& paths) {
  Ui& ui = Ui::Get();

  long dictionary = 64;
  long level = 1;
  if (const int rc = ParseCompression(args, "a", &dictionary, &level); rc != 0) return rc;
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
  if (args.Has(kOptExclude)) {
    // An excluded folder takes what lies below it along.
    Patterns excluded(args.Values(kOptExclude));
    std::erase_if(items, [&](const InputItem& item) { return excluded.Selects(item.stored); });
  }
  if (items.empty()) {
    ui.Error(archive_arg + ": nothing to add");
    return ui.exit_code();
  }

  ChangeEvents events;
  events.strict = args.Has(kOptStrict);
  acekit_options o{};
  o.solid = args.Has(kOptSolid) ? 1 : 0;
  if (args.Has(kOptThreads)) o.threads = std::atoi(args.Value(kOptThreads).c_str());
  std::map<std::string, std::string> old_directories;
  std::vector<std::string> restore;  // directory entries to add after the rebuild
  if (exists) {
    Existing ex;
    if (!ExistingEntries(archive_arg, ex)) return ui.exit_code();
    o.solid = ex.solid ? 1 : 0;
    if (args.Has(kOptSolid) && !ex.solid) {
      ui.Warn(archive_arg + ": is not solid; files are added without --solid");
    }
    // Without -d, added files take the archive's own dictionary: a solid
    // archive's, or 64 KB in a normal one. With it, a solid archive is
    // compressed again whole with the window given.
    if (!args.Has(kOptDictionary)) dictionary = ex.window;
    if (names_only && NamesOnlyReplaces(archive_arg, ex, items)) {
      ui.Error(archive_arg + ": the archive is unchanged");
      return ui.exit_code();
    }
    if (ex.solid) events.unpack_total = ex.bytes;
    old_directories = std::move(ex.directories);
    if (ex.solid) restore = KeepDirectories(old_directories, names_only, items);
    // The rebuild takes the archive's own level unless -m gives one.
    if (ex.solid && !args.Has(kOptLevel)) {
      const int made_with = SolidLevel(archive, ex.window);
      if (made_with > 0) level = made_with;
    }
  }
  const bool solid = o.solid != 0;
  o.dictionary_kb = static_cast<uint32_t>(dictionary);
  o.level = static_cast<int>(level);

  std::vector<InputItem> taken;
  uint64_t total = 0;
  size_t files = 0;
  size_t directories = 0;
  for (const auto& item : items) {
    // The archive lists a directory with a trailing separator, so an update
    // would not take an item without one for the same entry: a directory
    // the archive already holds is left as it is.
    if (item.directory && !solid && old_directories.contains(SameNameKey(item.stored))) continue;
    taken.push_back(item);
    total += item.size;
    ++(item.directory ? directories : files);
  }
  if (taken.empty()) {
    ui.Say(archive_arg + ": holds these directories already; the archive is unchanged");
    return ui.exit_code();
  }
  events.repack_total = events.unpack_total + total;
  if (ui.verbose()) {
    std::vector<std::string> listed;
    for (const auto& item : taken) listed.push_back(item.stored + (item.directory ? "/" : ""));
    ui.ListWhenReached(listed);
  }
  if (!exists) {
    return CreateArchive(archive_arg, archive, taken, o, events, total, files, directories);
  }

  acekit_editor* e = nullptr;
  if (const int rc = acekit_editor_open(&e, archive.c_str(), &o); rc != ACEKIT_OK) {
    ui.Error(archive_arg + ": " + acekit_last_error(nullptr), ChangeExit(rc));
    return ui.exit_code();
  }
  acekit_editor_set_events(e, &ChangeEvents::On, &events);
  std::vector<const char*> disk_paths;
  for (const auto& item : taken) disk_paths.push_back(item.disk.c_str());
  ui.progress().Begin(total);
  const int rc = acekit_editor_add_paths(e, disk_paths.data(), disk_paths.size(),
                                         names_only ? ACEKIT_ADD_NAMES_ONLY : 0);
  ui.progress().End();
  const std::string message = rc != ACEKIT_OK ? acekit_last_error(e) : "";
  acekit_editor_close(e);
  if (rc == ACEKIT_OK && !restore.empty() && !Interrupted()) {
    RestoreDirectories(archive_arg, archive, restore);
  }
  return Report(archive_arg, true, rc, message, events, total, files, directories, archive);
}

// Adds to the archive at args.operands[0], named `archive_arg` in messages:
// the paths named on the command line, with the paths of -T FILE in the
// place of -T among them. Each -C DIR moves on from where the one before it
// led, for the paths after it, as tar's does.
int AddAs(const ParsedArgs& args, const std::string& archive_arg) {
  Ui& ui = Ui::Get();
  struct Path {
    std::string name;
    size_t dirs;  // how many -C DIR stand before it
  };
  std::vector<Path> paths;
  for (size_t i = 1; i < args.operands.size(); ++i) {
    paths.push_back({args.operands[i], args.ValuesBefore(kOptDirectory, i).size()});
  }
  if (args.Has(kOptFilesFrom)) {
    // The list is read before -C moves the working directory, as tar does.
    size_t t = 0;
    size_t dirs = 0;
    for (size_t i = 0; i < args.options.size(); ++i) {
      if (args.options[i].first == kOptFilesFrom) t = i;
    }
    for (size_t i = 0; i < t; ++i) dirs += args.options[i].first == kOptDirectory ? 1 : 0;
    std::vector<std::string> listed;
    if (!ReadFileList(args.options[t].second, args.Has(kOptNull), listed)) return ui.exit_code();
    const size_t at = std::clamp<size_t>(args.operands_before[t], 1, args.operands.size()) - 1;
    std::vector<Path> from_file;
    for (auto& name : listed) from_file.push_back({std::move(name), dirs});
    paths.insert(paths.begin() + static_cast<long>(at), from_file.begin(), from_file.end());
  } else if (args.Has(kOptNull)) {
    return UsageError("a", "--null goes with -T (--files-from)");
  }
  if (paths.empty()) return UsageError("a", "no paths to add (name them or give -T FILE)");
  const size_t all_dirs = args.Values(kOptDirectory).size();
  if (all_dirs > paths.back().dirs) {
    return UsageError("a", "-C DIR applies to the paths after it, and none follows the last one");
  }
  // The archive is named from where the command was given.
  const std::string archive = all_dirs > 0 ? Absolute(args.operands[0]) : args.operands[0];
  size_t moved = 0;
  for (size_t first = 0; first < paths.size() && ui.exit_code() < kExitError;) {
    const size_t dirs = paths[first].dirs;
    size_t end = first + 1;
    while (end < paths.size() && paths[end].dirs == dirs) ++end;
    const std::vector<std::string> all = args.Values(kOptDirectory);
    for (; moved < dirs; ++moved) {
      if (::chdir(all[moved].c_str()) != 0) {
        ui.Error(all[moved] + ": " + Reason(errno));
        return ui.exit_code();
      }
    }
    std::vector<std::string> group;
    for (size_t i = first; i < end; ++i) group.push_back(paths[i].name);
    AddPaths(args, archive_arg, archive, group);
    first = end;
  }
  return ui.exit_code();
}

// a - PATH...: the archive is made in a private temporary directory and
// then copied to standard output, which meanwhile carries the messages to
// standard error, where they belong.
int AddToStdout(const ParsedArgs& args) {
  Ui& ui = Ui::Get();
  if (::isatty(1)) return UsageError("a", "will not write an archive to a terminal");
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/acekit-XXXXXX";
  if (::mkdtemp(dir.data()) == nullptr) {
    ui.Error("-: cannot make a temporary directory: " + Reason(errno));
    return ui.exit_code();
  }
  ParsedArgs inner = args;
  inner.operands[0] = Absolute(dir + "/archive.ace");
  std::fflush(stdout);
  const int saved = ::dup(1);
  ::dup2(2, 1);
  AddAs(inner, "-");
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  const int in = ::open(inner.operands[0].c_str(), O_RDONLY | O_CLOEXEC);
  if (in >= 0 && ui.exit_code() <= kExitWarnings) {
    char buf[1 << 16];
    ssize_t n;
    while ((n = ::read(in, buf, sizeof buf)) > 0) {
      for (ssize_t done = 0; done < n;) {
        const ssize_t w = ::write(1, buf + done, static_cast<size_t>(n - done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
          ui.Error("-: cannot write the archive to standard output: " + Reason(errno));
          n = -1;
          break;
        }
        done += w;
      }
      if (n < 0) break;
    }
  }
  if (in >= 0) ::close(in);
  ::unlink(inner.operands[0].c_str());
  ::rmdir(dir.c_str());
  return ui.exit_code();
}

}  // namespace

int RunAdd(const ParsedArgs& args) {
  if (args.operands[0] == "-") return AddToStdout(args);
  return AddAs(args, args.operands[0]);
}

}  // namespace acekit_cli
