// x and e: extract with or without paths; t: test.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "commands.h"
#include "format.h"
#include "host.h"
#include "library.h"
#include "names.h"
#include "ui.h"

namespace acekit_cli {
namespace {

namespace fs = std::filesystem;

// The first symbolic link on the way from `out_dir` down to `target`: the
// library refuses to pass through one and reports only that it failed.
std::string LinkOnTheWay(const std::string& out_dir, const std::string& target) {
  const fs::path base(out_dir);
  const fs::path rel = fs::path(target).lexically_relative(base);
  if (rel.empty() || *rel.begin() == "..") return "";
  fs::path at = base;
  for (const fs::path& part : rel) {
    if (part.empty() || part == ".") continue;
    at /= part;
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(at, ec))) return at.string();
  }
  return "";
}

// Gives the extracted directories the times of their entries. The files
// written into a directory changed its time, so this comes last, and the
// deepest first, since setting a time changes nothing above.
struct MadeDirectory {
  std::string path;
  int64_t mtime;
};
void RestoreDirectoryTimes(const std::string& out_dir, std::vector<MadeDirectory> dirs) {
  std::stable_sort(dirs.begin(), dirs.end(), [](const MadeDirectory& a, const MadeDirectory& b) {
    return std::count(a.path.begin(), a.path.end(), '/') >
           std::count(b.path.begin(), b.path.end(), '/');
  });
  for (const MadeDirectory& d : dirs) {
    // Never through a link, which would change the time of something elsewhere.
    if (d.mtime <= 0 || !LinkOnTheWay(out_dir, d.path).empty()) continue;
    const struct timespec times[2] = {{static_cast<time_t>(d.mtime), 0},
                                      {static_cast<time_t>(d.mtime), 0}};
    ::utimensat(AT_FDCWD, d.path.c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
}

std::string ReadFailure(int code);

int WriteToStdout(void*, const void* data, size_t n) {
  return std::fwrite(data, 1, n, stdout) == n ? 0 : 1;
}

// x -p: the selected files' contents, one after the other, on standard
// output; nothing else goes there.
int ExtractToStdout(const std::string& archive, Patterns& patterns, const Survey& survey) {
  Ui& ui = Ui::Get();
  ReportSurvey(archive, survey, false);
  acekit_reader* reader = nullptr;
  if (acekit_reader_open(&reader, ArchivePath(archive).c_str()) != ACEKIT_OK) {
    ui.Error(archive + ": " + acekit_last_error(nullptr));
    return ui.exit_code();
  }
  acekit_reader_set_flags(reader, ACEKIT_READER_SALVAGE);
  acekit_entry e;
  while (acekit_reader_next(reader, &e) > 0 && !Interrupted()) {
    const std::string name = e.name;
    if (e.is_dir || !patterns.Selects(name)) continue;
    const int rc = acekit_reader_read(reader, &WriteToStdout, nullptr);
    if (rc == ACEKIT_E_CANCELLED) {
      ui.Error(archive + ": " + name + ": cannot write to standard output: " + Reason(errno));
      break;
    }
    if (rc < 0) ui.Error(archive + ": " + name + ": " + ReadFailure(rc), kExitDamaged);
  }
  acekit_reader_close(reader);
  std::fflush(stdout);
  patterns.WarnUnmatched(archive);
  if (Interrupted()) ui.Error(archive + ": cancelled", kExitCancelled);
  return ui.exit_code();
}

Overwrite OverwriteChoice(const ParsedArgs& args) {
  if (args.Has(kOptYes)) return Overwrite::kAll;
  if (args.Has(kOptNo)) return Overwrite::kNone;
  return Ui::Get().interactive() ? Overwrite::kAsk : Overwrite::kNoneReported;
}

// One line from the terminal; "\x04" at the end of input, "\x03" when Ctrl-C
// came first.
std::string ReadAnswer() {
  std::string line;
  for (;;) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    const int r = ::poll(&p, 1, -1);
    if (Interrupted()) return "\x03";
    if (r < 0) {
      if (errno == EINTR) continue;
      return line;
    }
    char c = 0;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n <= 0) return line.empty() ? "\x04" : line;
    if (c == '\n') return line;
    line += c;
  }
}

// Unix seconds as local "YYYY-MM-DD HH:MM".
std::string When(int64_t seconds) {
  const auto t = static_cast<time_t>(seconds);
  struct tm lt {};
  char buf[32] = "?";
  if (localtime_r(&t, &lt) != nullptr) std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &lt);
  return buf;
}

// The run of x, e and t as the library reports it: the progress line of the
// whole job, the names as they are reached, the questions about files that
// are there, and every entry that could not be written.
class Job {
 public:
  Job(const std::string& archive, Patterns& patterns, bool test, bool keep_paths)
      : archive_(archive), patterns_(patterns), test_(test), keep_paths_(keep_paths) {}

  static int OnEvent(void* ctx, const acekit_event* ev) {
    return static_cast<Job*>(ctx)->Event(*ev);
  }

  // Reports what the library's walk of the headers met, as a listing
  // reports it: once that walk is through (`rc`: the run's result when it
  // ended first), before any file is touched. A survey of its own ahead of
  // the run would walk every header twice: for an archive of many small
  // files, a few hundred more calls and a few percent of the whole run.
  void WalkThrough(int rc) {
    if (!report_walk || walked_through_) return;
    walked_through_ = true;
    if (rc == ACEKIT_E_READ || rc == ACEKIT_E_CORRUPT) {
      // The headers could not be walked to their end.
      walked_.failure = acekit_last_error(reader);
      reported_failure = true;
    } else if (rc >= 0 || rc == ACEKIT_E_CANCELLED) {
      acekit_reader_damage(reader, &walked_.end);
    }
    ReportSurvey(archive_, walked_, test_);
  }
  // Entries with damage are all kept (see Walked).
  bool walk_damaged() const { return walked_.damaged(); }
  static int OnProgress(void* ctx, int percent) {
    auto* job = static_cast<Job*>(ctx);
    const uint64_t now = job->size_ * static_cast<uint64_t>(std::clamp(percent, 0, 100)) / 100;
    Ui::Get().progress().Report(percent, static_cast<int32_t>(now - std::min(now, job->reported_)));
    job->reported_ = std::max(now, job->reported_);
    return Interrupted() ? 1 : 0;
  }

  Overwrite overwrite = Overwrite::kNoneReported;
  std::string out_dir;

  size_t selected_files = 0;
  size_t selected = 0;
  bool unsafe = false;
  size_t files = 0;
  size_t kept = 0;
  size_t damaged = 0;
  size_t lost = 0;
  size_t refused = 0;
  bool quit = false;
  std::vector<MadeDirectory> directories;
  // The run reports the headers' damage itself (see WalkThrough); every
  // entry is then offered, directories too.
  bool report_walk = false;
  acekit_reader* reader = nullptr;  // while the run lasts
  bool opened = false;

 private:
  int Event(const acekit_event& ev) {
    Ui& ui = Ui::Get();
    const acekit_entry& e = *ev.entry;
    const std::string name = std::string(e.name) + (e.is_dir ? "/" : "");
    if (ev.kind == ACEKIT_EVENT_SELECT) {
      if (report_walk) Walked(e, *ev.damage);
    } else {
      WalkThrough(0);
    }
    switch (ev.kind) {
      case ACEKIT_EVENT_SELECT:
        return Select(e, name);
      case ACEKIT_EVENT_START:
        if (!begun_) {
          ui.progress().SetTotal(total_);
          begun_ = true;
        }
        size_ = e.size;
        reported_ = 0;
        if (ui.verbose() && (!test_ || !e.is_dir)) {
          ui.progress().Clear();
          std::printf("%s\n", Printable(name).c_str());
          std::fflush(stdout);
        }
        ui.progress().File(name);
        target_ = ev.path != nullptr ? ev.path : "";
        return 0;
      case ACEKIT_EVENT_EXISTS:
        return Exists(ev, e);
      case ACEKIT_EVENT_DONE:
        if (e.is_dir) {
          if (!test_) directories.push_back({ev.path, e.mtime});
        } else {
          ++files;
        }
        return 0;
      case ACEKIT_EVENT_DAMAGED:
        ui.Error(archive_ + ": " + e.name + ": " + ReadFailure(ev.error) +
                     (test_ ? "" : "; not extracted"),
                 kExitDamaged);
        damaged += e.is_dir ? 0 : 1;
        return 0;
      case ACEKIT_EVENT_LOST:
        ui.Error(archive_ + ": " + e.name +
                     ": lost: its data continues a solid stream damaged before it",
                 kExitDamaged);
        ++lost;
        return 0;
      case ACEKIT_EVENT_FAILED:
        return Failed(ev, e);
      default:
        return 0;
    }
  }

  // Keeps the entries with damage, and the last one, which the report of
  // a cut archive names.
  void Walked(const acekit_entry& e, const acekit_damage& damage) {
    if (!walked_.entries.empty() && walked_.entries.back().damage.flags == 0) {
      walked_.entries.pop_back();
    }
    SurveyEntry s;
    s.name = e.name;
    s.damage = damage;
    walked_.entries.push_back(std::move(s));
  }

  int Select(const acekit_entry& e, const std::string& name) {
    // A name with ".." in it would land outside the output directory.
    if (!test_ && keep_paths_ && EscapesOnExtract(name)) {
      if (patterns_.Selects(name)) {
        Ui::Get().Warn(archive_ + ": " + e.name + ": would be written outside " + out_dir +
                       "; not extracted");
        unsafe = true;
      }
      return 0;
    }
    if (!test_ && !patterns_.Selects(name)) return 0;
    ++selected;
    if (!e.is_dir) {
      ++selected_files;
      total_ += e.size;
    }
    return 1;
  }

  int Exists(const acekit_event& ev, const acekit_entry& e) {
    Ui& ui = Ui::Get();
    if (Interrupted()) return ACEKIT_STOP;
    if (ev.existing_is_dir != e.is_dir) {
      ++kept;
      ui.Warn(target_ + ": " + (ev.existing_is_dir ? "a directory" : "a file") +
              " of that name exists; " + (e.is_dir ? "directory" : "file") + " not extracted");
      return ACEKIT_KEEP;
    }
    switch (overwrite) {
      case Overwrite::kAll:
        return ACEKIT_REPLACE;
      case Overwrite::kNone:
        ++kept;
        return ACEKIT_KEEP;
      case Overwrite::kNoneReported:
        ++kept;
        ui.Warn(target_ + ": exists; not overwritten (-y overwrites)");
        return ACEKIT_KEEP;
      case Overwrite::kAsk:
        break;
    }
    const ProgressPause pause(ui.progress());
    ui.progress().Clear();
    for (;;) {
      std::fprintf(stderr,
                   "acekit: %s exists (%s, %s)\n"
                   "  replace it with the archived file (%s, %s)? [y]es, [n]o, [A]ll, [N]one, "
                   "[q]uit: ",
                   Printable(target_).c_str(), HumanSize(ev.existing_size).c_str(),
                   When(ev.existing_mtime).c_str(), HumanSize(e.size).c_str(),
                   When(e.mtime).c_str());
      std::fflush(stderr);
      const std::string a = ReadAnswer();
      if (a == "\x03" || a == "q" || a == "Q" || a == "quit") {
        if (a == "\x03") std::fputc('\n', stderr);
        quit = true;
        return ACEKIT_STOP;
      }
      if (a == "y" || a == "Y" || a == "yes") return ACEKIT_REPLACE;
      if (a == "A" || a == "a" || a == "all") {
        overwrite = Overwrite::kAll;
        return ACEKIT_REPLACE;
      }
      if (a == "n" || a == "no" || a == "N" || a == "none" || a == "\x04") {
        if (a == "\x04") std::fputc('\n', stderr);
        if (a != "n" && a != "no") overwrite = Overwrite::kNone;
        ++kept;
        return ACEKIT_KEEP;
      }
    }
  }

  int Failed(const acekit_event& ev, const acekit_entry& e) {
    Ui& ui = Ui::Get();
    const std::string link = target_.empty() ? "" : LinkOnTheWay(out_dir, target_);
    if (!link.empty()) {
      // Refused by the library, which goes on with the next entry.
      ui.Error(archive_ + ": " + e.name + ": refused: " + link + " is a symbolic link",
               kExitWarnings);
      refused += e.is_dir ? 0 : 1;
      return 0;
    }
    if (ev.error == ACEKIT_E_TOO_LARGE) {
      ui.Error(archive_ + ": " + e.name + ": not extracted: its path under " + out_dir +
               " would be longer than " + std::to_string(kPathMax) + " bytes");
    } else {
      const std::string why = WhyNotCreated(target_);
      ui.Error(archive_ + ": cannot create " + target_ + ": " +
               (why.empty() ? std::string(ev.message != nullptr ? ev.message : "") : why));
    }
    reported_failure = true;
    return 1;
  }

  const std::string& archive_;
  Patterns& patterns_;
  const bool test_;
  const bool keep_paths_;
  uint64_t total_ = 0;
  bool begun_ = false;
  uint64_t size_ = 0;
  uint64_t reported_ = 0;
  std::string target_;
  Survey walked_;
  bool walked_through_ = false;

 public:
  bool reported_failure = false;
};

// Runs the job over the archive; returns the library's result.
int RunJob(const std::string& archive, Job& job, const char* dir, unsigned flags) {
  acekit_reader* reader = OpenReader(archive);
  if (reader == nullptr) {
    job.reported_failure = true;
    return ACEKIT_E_OPEN;
  }
  acekit_reader_set_progress(reader, &Job::OnProgress, &job);
  job.reader = reader;
  job.opened = true;
  Ui::Get().progress().Begin(0);
  const int rc = acekit_reader_extract_each(reader, dir, flags, &Job::OnEvent, &job);
  Ui::Get().progress().End();
  job.WalkThrough(rc);
  if (rc < 0 && rc != ACEKIT_E_CANCELLED && !job.reported_failure) {
    Ui::Get().Error(archive + ": " + acekit_last_error(reader));
  }
  acekit_reader_close(reader);
  job.reader = nullptr;
  return rc;
}

int Extract(const ParsedArgs& args, bool keep_paths, const char* command) {
  Ui& ui = Ui::Get();
  if (args.Has(kOptYes) && args.Has(kOptNo))
    return UsageError(command, "-y and -n exclude each other");
  const std::string& archive = args.operands[0];
  const std::vector<std::string> mask_args(args.operands.begin() + 1, args.operands.end());
  const std::string out_dir = args.Has(kOptOutput) ? args.Value(kOptOutput) : ".";
  if (out_dir.empty()) return UsageError(command, "-o needs a directory");

  Patterns patterns(mask_args, args.Values(kOptExclude));
  // Without paths the run does not offer directories, so their damage is
  // found by a walk of its own first.
  const bool survey_first = args.Has(kOptStdout) || !keep_paths;
  if (survey_first) {
    const Survey survey = SurveyArchive(archive, true);
    if (!survey.opened) return ui.exit_code();
    if (args.Has(kOptStdout)) return ExtractToStdout(archive, patterns, survey);
    ReportSurvey(archive, survey, false);
  }

  Job job(archive, patterns, false, keep_paths);
  job.out_dir = out_dir;
  job.overwrite = OverwriteChoice(args);
  job.report_walk = !survey_first;
  const int rc =
      RunJob(archive, job, out_dir.c_str(), keep_paths ? 0u : unsigned{ACEKIT_EACH_FLAT});
  if (!job.opened) return ui.exit_code();  // and said so
  if (keep_paths) RestoreDirectoryTimes(out_dir, job.directories);
  patterns.WarnUnmatched(archive);

  if (rc == ACEKIT_E_CANCELLED) {
    ui.Error(archive + ": " + (job.quit && !Interrupted() ? "stopped" : "cancelled") +
                 "; files extracted before it are kept",
             kExitCancelled);
  } else if (rc < 0) {
    // Reported as it happened.
  } else if (Interrupted()) {
    ui.Error(archive + ": interrupted after the last file was extracted", kExitCancelled);
  } else if (job.selected == 0) {
    if (mask_args.empty() && !job.unsafe) ui.Say(archive + ": the archive is empty");
  } else {
    const size_t written = job.files;
    ui.Say(archive + ": extracted " + Count(written, "file", "files") + " into " + out_dir +
           (job.kept > 0 ? "; kept " + Count(job.kept, "existing file", "existing files") : "") +
           (job.refused > 0 ? "; refused " + Count(job.refused, "file", "files") : "") +
           (job.damaged > 0
                ? "; " + Count(job.damaged, "damaged file", "damaged files") + " left out"
                : "") +
           (job.lost > 0 ? "; " + Count(job.lost, "file", "files") + " lost with them" : ""));
  }
  return ui.exit_code();
}

// What a failed read of an entry means to the person at the terminal.
std::string ReadFailure(int code) {
  switch (code) {
    case ACEKIT_E_CRC:
      return "damaged: the data fails its CRC check";
    case ACEKIT_E_CORRUPT:
    case ACEKIT_E_READ:
      return "damaged: corrupt header or compressed data";
    case ACEKIT_E_ENCRYPTED:
      return "the archive holds encrypted entries, which are not supported";
    case ACEKIT_E_UNSUPPORTED:
    case ACEKIT_E_TOO_LARGE:
      return "unsupported compression method or archive version";
    default:
      return std::string("damaged: ") + acekit_strerror(code);
  }
}

}  // namespace

int RunExtract(const ParsedArgs& args) {
  return Extract(args, true, "x");
}

int RunExtractFlat(const ParsedArgs& args) {
  return Extract(args, false, "e");
}

int RunTest(const ParsedArgs& args) {
  Ui& ui = Ui::Get();
  const std::string& archive = args.operands[0];
  Patterns all({});
  Job job(archive, all, true, true);
  job.report_walk = true;
  const int rc = RunJob(archive, job, nullptr, ACEKIT_EACH_TEST);
  if (!job.opened) return ui.exit_code();  // and said so
  const size_t files = job.files + job.damaged + job.lost;
  if (rc == ACEKIT_E_CANCELLED || (rc >= 0 && Interrupted())) {
    ui.Error(archive + ": test cancelled", kExitCancelled);
  } else if (rc < 0) {
    // Reported as it happened.
  } else if (ui.exit_code() == kExitOk) {
    ui.Say(archive + ": " + Count(files, "file", "files") + " tested, no errors");
  } else {
    std::string what;
    const auto add = [&](const std::string& part) { what += (what.empty() ? "" : ", ") + part; };
    if (job.damaged > 0) add(Count(job.damaged, "damaged file", "damaged files"));
    if (job.lost > 0) add(Count(job.lost, "file", "files") + " lost with them");
    if (job.walk_damaged()) add("damage in the headers named above");
    ui.Say(archive + ": " + Count(files, "file", "files") + " tested: " + what);
  }
  return ui.exit_code();
}

}  // namespace acekit_cli
