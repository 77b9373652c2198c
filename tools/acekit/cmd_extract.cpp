// x and e: extract with or without paths; t: test.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
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

// Names the entry a damaged decode stopped at by testing the whole archive:
// in a solid archive, extraction decodes entries that it does not name.
std::string LocateDamage(const std::string& archive) {
  Session s;
  if (!s.Open(archive)) return "";
  Host host(Host::Mode::kTest);
  host.Register();
  TestArc();
  return IsDamage(s.status()) ? host.current() : "";
}

// The first symbolic link on the way from `out_dir` down to `target`: the
// library refuses to pass through one and reports only "cannot create".
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

// A DOS date and time (local) as seconds since 1970, or -1 when it is no date.
time_t FromDosTime(uint32_t packed) {
  const unsigned date = packed >> 16;
  const unsigned time = packed & 0xFFFF;
  struct tm t {};
  t.tm_year = static_cast<int>(80 + (date >> 9));
  t.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
  t.tm_mday = static_cast<int>(date & 0x1F);
  t.tm_hour = static_cast<int>(time >> 11);
  t.tm_min = static_cast<int>((time >> 5) & 0x3F);
  t.tm_sec = static_cast<int>((time & 0x1F) * 2);
  t.tm_isdst = -1;
  if (t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday == 0) return -1;
  return std::mktime(&t);
}

// Gives the extracted directories the times of their entries. The files
// written into a directory changed its time, so this comes last, and the
// deepest first, since setting a time changes nothing above.
void RestoreDirectoryTimes(const std::string& out_dir, std::vector<const ArcEntry*> dirs) {
  std::sort(dirs.begin(), dirs.end(), [](const ArcEntry* a, const ArcEntry* b) {
    const std::string x = EntryName(*a);
    const std::string y = EntryName(*b);
    return std::count(x.begin(), x.end(), '/') > std::count(y.begin(), y.end(), '/');
  });
  for (const ArcEntry* e : dirs) {
    const time_t when = FromDosTime(e->ftime);
    std::string path = out_dir + "/" + EntryName(*e);
    while (path.ends_with('/')) path.pop_back();
    // Never through a link, which would change the time of something elsewhere.
    if (when < 0 || !LinkOnTheWay(out_dir, path).empty()) continue;
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
}

// Header flag of an entry whose data continues the stream of the one before.
constexpr uint32_t kContinuesStream = 0x8000;

struct ChainEntry {
  std::string name;
  bool directory;
  bool continues;  // decoding it needs the entries before it
  bool selected;
};

// Names the selected files that depend on the damaged entry `damaged` of a
// solid archive and so could not be decoded.
void ReportLost(const std::string& archive, const std::string& damaged,
                const std::vector<ChainEntry>& order) {
  auto it = std::find_if(order.begin(), order.end(),
                         [&](const ChainEntry& c) { return c.name == damaged; });
  if (it == order.end()) return;
  size_t lost = 0;
  for (++it; it != order.end() && it->continues; ++it) {
    if (it->directory || !it->selected) continue;
    Ui::Get().Error(
        archive + ": " + it->name + ": lost: its data continues the solid stream of " + damaged,
        kExitDamaged);
    ++lost;
  }
  const bool more =
      std::any_of(it, order.end(), [](const ChainEntry& c) { return c.selected && !c.directory; });
  if (more) {
    Ui::Get().Error(archive + ": the entries from " + it->name +
                        " on start a new solid stream but were not extracted",
                    kExitDamaged);
  }
  if (lost > 0) {
    Ui::Get().Say(archive + ": " + Count(lost, "file", "files") + " lost after " + damaged);
  }
}

std::string ReadFailure(int code);

int WriteToFile(void* ctx, const void* data, size_t n) {
  return std::fwrite(data, 1, n, static_cast<std::FILE*>(ctx)) == n ? 0 : 1;
}

// Extraction past damaged headers, which only the salvaging reader walks:
// every entry it reaches is extracted on its own, and each one that cannot
// be is named. `overwrite` replaces existing files, which are kept otherwise.
int ExtractSalvaged(const std::string& archive, Patterns& patterns, const std::string& out_dir,
                    bool keep_paths, bool overwrite) {
  Ui& ui = Ui::Get();
  acekit_reader* reader = nullptr;
  if (acekit_reader_open(&reader, ArchivePath(archive).c_str()) != ACEKIT_OK) {
    ui.Error(archive + ": " + acekit_last_error(nullptr));
    return ui.exit_code();
  }
  acekit_reader_set_flags(reader, ACEKIT_READER_SALVAGE);
  fs::create_directories(out_dir);
  size_t files = 0;
  size_t failed = 0;
  acekit_entry e;
  while (acekit_reader_next(reader, &e) > 0 && !Interrupted()) {
    const std::string name = e.name;
    if (!patterns.Selects(name) || (e.is_dir && !keep_paths)) continue;
    acekit_damage d{};
    acekit_reader_damage(reader, &d);
    if (d.flags & ACEKIT_DAMAGE_LOST) {
      ui.Error(
          archive + ": " + name + ": lost: its data continues a solid stream damaged before it",
          kExitDamaged);
      ++failed;
      continue;
    }
    int rc = ACEKIT_OK;
    if (keep_paths) {
      rc = acekit_reader_extract(reader, out_dir.c_str(), overwrite ? 0 : ACEKIT_EXTRACT_KEEP);
    } else {
      const std::string target = out_dir + "/" + fs::path(name).filename().string();
      std::error_code ec;
      if (!overwrite && fs::exists(fs::symlink_status(target, ec))) continue;
      const std::string part = target + ".acekit-part";
      std::FILE* out = std::fopen(part.c_str(), "wb");
      if (out == nullptr) {
        ui.Error(archive + ": cannot create " + part + ": " + Reason(errno));
        ++failed;
        continue;
      }
      rc = acekit_reader_read(reader, &WriteToFile, out);
      if (std::fclose(out) != 0 && rc == ACEKIT_OK) rc = ACEKIT_E_WRITE;
      if (rc == ACEKIT_OK) {
        fs::rename(part, target, ec);
      } else {
        fs::remove(part, ec);
      }
    }
    if (rc == ACEKIT_E_CRC || rc == ACEKIT_E_CORRUPT || rc == ACEKIT_E_READ ||
        rc == ACEKIT_E_UNSUPPORTED || rc == ACEKIT_E_ENCRYPTED) {
      ui.Error(archive + ": " + name + ": " + ReadFailure(rc) + "; not extracted", kExitDamaged);
      ++failed;
    } else if (rc < 0) {
      ui.Error(archive + ": " + name + ": not extracted: " + acekit_last_error(reader));
      ++failed;
    } else if (!e.is_dir) {
      ++files;
      if (ui.verbose()) std::printf("%s\n", Printable(name).c_str());
    }
  }
  acekit_reader_close(reader);
  patterns.WarnUnmatched(archive);
  if (Interrupted()) {
    ui.Error(archive + ": cancelled; files extracted before it are kept", kExitCancelled);
  } else {
    ui.Say(archive + ": extracted " + Count(files, "file", "files") + " into " + out_dir +
           (failed > 0 ? "; " + Count(failed, "entry", "entries") + " not extracted" : ""));
  }
  return ui.exit_code();
}

int WriteToStdout(void*, const void* data, size_t n) {
  return std::fwrite(data, 1, n, stdout) == n ? 0 : 1;
}

// x -p: the selected files' contents, one after the other, on standard
// output; nothing else goes there.
int ExtractToStdout(const std::string& archive, Patterns& patterns) {
  Ui& ui = Ui::Get();
  const Survey survey = SurveyArchive(archive);
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

int Extract(const ParsedArgs& args, bool keep_paths, const char* command) {
  Ui& ui = Ui::Get();
  if (args.Has(kOptYes) && args.Has(kOptNo))
    return UsageError(command, "-y and -n exclude each other");
  const std::string& archive = args.operands[0];
  const std::vector<std::string> mask_args(args.operands.begin() + 1, args.operands.end());
  const std::string out_dir = args.Has(kOptOutput) ? args.Value(kOptOutput) : ".";
  if (out_dir.empty()) return UsageError(command, "-o needs a directory");

  Session session;
  if (!session.Open(archive)) return ui.exit_code();
  int32_t desc[ACEKIT_DESC_WORDS];
  GetArcerDesc(desc);
  const bool solid = desc[ACEKIT_DESC_MODE] == ACEKIT_DESC_MODE_SOLID;

  Patterns patterns(mask_args, args.Values(kOptExclude));
  if (args.Has(kOptStdout)) {
    session.Close();
    return ExtractToStdout(archive, patterns);
  }
  Masks masks;
  const Survey survey = SurveyArchive(archive);
  ReportSurvey(archive, survey, false);
  Entries listed;
  const uint16_t walked = listed.Build(masks);
  if (SurveyReachesFurther(survey, walked)) {
    session.Close();
    return ExtractSalvaged(archive, patterns, out_dir, keep_paths, args.Has(kOptYes));
  }
  if (walked != ACEKIT_STATUS_OK) return ReportWalkFailure(archive, walked, listed);
  std::vector<const ArcEntry*> selected;
  for (const ArcEntry* e : listed.all()) {
    if (e->is_file == 1 && patterns.Selects(EntryName(*e))) selected.push_back(e);
  }
  patterns.WarnUnmatched(archive);

  // A name with ".." in it would land outside the output directory: such
  // entries are left out by naming the others one by one. So are directory
  // entries without paths, where they would all mean the output directory.
  const auto left_out = [keep_paths](const ArcEntry& e) {
    return keep_paths ? EscapesOnExtract(EntryName(e)) : IsDirectory(e);
  };
  std::vector<const ArcEntry*> safe;
  bool unsafe = false;
  for (const ArcEntry* e : selected) {
    if (!keep_paths && IsDirectory(*e)) {
      unsafe = true;
    } else if (keep_paths && EscapesOnExtract(EntryName(*e))) {
      ui.Warn(archive + ": " + EntryName(*e) + ": would be written outside " + out_dir +
              "; not extracted");
      unsafe = true;
    } else {
      safe.push_back(e);
    }
  }
  // The library takes the entries chosen here by their exact names.
  const bool by_name = !patterns.empty() || args.Has(kOptExclude);
  Masks safe_masks;
  if (unsafe || by_name) {
    for (const ArcEntry* e : safe) safe_masks.Add(EntryName(*e));
    Entries check;
    if (!safe.empty() && check.Build(safe_masks) == ACEKIT_STATUS_OK) {
      for (const ArcEntry* e : check.all()) {
        if (left_out(*e)) {
          ui.Error(archive + ": cannot leave out " + EntryName(*e) + " by name; nothing extracted");
          return ui.exit_code();
        }
      }
    }
  }
  if (safe.empty()) {
    if (mask_args.empty() && !unsafe) ui.Say(archive + ": the archive is empty");
    return ui.exit_code();
  }

  // The library makes the output directory and every missing level of it.
  SetOutputPath(out_dir.c_str());
  if (keep_paths) {
    arOptionsOn(ACEKIT_OPTION_KEEP_PATHS);
  } else {
    arOptionsOff(ACEKIT_OPTION_KEEP_PATHS);
  }
  Host host(Host::Mode::kExtract);
  host.ask_replace = true;
  host.overwrite = OverwriteChoice(args);
  host.Register();

  uint64_t total = 0;
  // A solid archive in archive order: the entries after a damaged one
  // cannot be decoded up to the next one that starts a fresh stream.
  std::vector<ChainEntry> order;
  if (solid) {
    // Every entry of a solid archive is decoded, named or not.
    Masks all;
    Entries every;
    every.Build(all);
    for (const ArcEntry* e : every.all()) {
      total += e->orig_size;
      if (e->is_file != 1) continue;
      const bool chosen = std::any_of(safe.begin(), safe.end(), [&](const ArcEntry* s) {
        return s->header_offset == e->header_offset;
      });
      order.push_back(
          {EntryName(*e), IsDirectory(*e), (e->head_flags & kContinuesStream) != 0, chosen});
    }
  } else {
    for (const ArcEntry* e : safe) total += e->orig_size;
  }
  if (ui.verbose()) {
    std::vector<std::string> names;
    for (const ArcEntry* e : safe) names.push_back(EntryName(*e));
    ui.ListWhenReached(names);
  }
  ui.progress().Begin(total);
  // An entry whose way down passes a link in the output folder is refused
  // by the library, which stops there; the entries after it are extracted
  // by a new run over their names.
  FileMaskList* run = unsafe || by_name ? safe_masks.get() : masks.get();
  std::vector<const ArcEntry*> todo = safe;
  std::unique_ptr<Masks> rest;
  size_t refused_files = 0;
  size_t damaged_files = 0;
  uint16_t status = ACEKIT_STATUS_OK;
  // The library also stops at a damaged entry of a normal archive; the
  // entries after it are extracted by a new run over their names, since
  // each one is decoded on its own.
  const auto rerun_after = [&](std::vector<const ArcEntry*>::iterator at) {
    todo.erase(todo.begin(), at + 1);
    if (todo.empty()) return false;
    rest = std::make_unique<Masks>();
    for (const ArcEntry* e : todo) rest->Add(EntryName(*e));
    run = rest->get();
    SetArchiveStatus(ACEKIT_STATUS_OK);
    return true;
  };
  const auto find_current = [&] {
    return std::find_if(todo.begin(), todo.end(), [&](const ArcEntry* e) {
      return EntryName(*e) == host.current() || EntryName(*e) == host.current() + "/";
    });
  };
  for (;;) {
    ExtractFileMaskListArc(run);
    status = session.status();
    if (IsDamage(status) && !solid && !Interrupted()) {
      const auto at = find_current();
      if (at == todo.end()) break;
      ui.Error(archive + ": " + EntryName(**at) + ": " + StatusMessage(status) + "; not extracted",
               kExitDamaged);
      damaged_files += IsDirectory(**at) ? 0 : 1;
      status = ACEKIT_STATUS_OK;
      if (!rerun_after(at)) break;
      continue;
    }
    if (status != ACEKIT_STATUS_OPEN_FAILED || host.target().empty()) break;
    const std::string link = LinkOnTheWay(out_dir, host.target());
    if (link.empty()) break;
    const auto at = find_current();
    if (at == todo.end()) break;
    ui.Error(archive + ": " + EntryName(**at) + ": refused: " + link + " is a symbolic link",
             kExitWarnings);
    refused_files += IsDirectory(**at) ? 0 : 1;
    status = ACEKIT_STATUS_OK;
    if (!rerun_after(at)) break;
  }
  ui.progress().End();
  if (keep_paths) {
    std::vector<const ArcEntry*> dirs;
    for (const ArcEntry* e : safe) {
      if (IsDirectory(*e)) dirs.push_back(e);
    }
    RestoreDirectoryTimes(out_dir, dirs);
  }

  if (status == ACEKIT_STATUS_CANCELLED) {
    ui.Error(archive + ": " + (host.quit() && !Interrupted() ? "stopped" : "cancelled") +
                 "; files extracted before it are kept",
             kExitCancelled);
  } else if (IsDamage(status)) {
    session.Close();
    std::string name = solid ? LocateDamage(archive) : host.current();
    if (name.empty()) name = host.current();
    ui.Error(archive + ": " + name + ": " + StatusMessage(status), kExitDamaged);
    if (solid) ReportLost(archive, name, order);
  } else if (status == ACEKIT_STATUS_OPEN_FAILED && !host.target().empty()) {
    const std::string why = WhyNotCreated(host.target());
    ui.Error(archive + ": cannot create " + host.target() + ": " +
             (why.empty() ? StatusMessage(status) : why));
  } else if (status == ACEKIT_STATUS_OPEN_FAILED && !host.current().empty()) {
    // The library names the entry without a target when its path has no room.
    ui.Error(archive + ": " + host.current() + ": not extracted: its path under " + out_dir +
             " would be longer than " + std::to_string(kPathMax) + " bytes");
  } else if (status != ACEKIT_STATUS_OK) {
    ui.Error(archive + ": " + StatusMessage(status), StatusExit(status));
  } else if (Interrupted()) {
    ui.Error(archive + ": interrupted after the last file was extracted", kExitCancelled);
  } else {
    size_t files = 0;
    for (const ArcEntry* e : safe) files += IsDirectory(*e) ? 0 : 1;
    files -= std::min(files, refused_files + damaged_files);
    const size_t kept = std::min(files, host.kept().size());
    ui.Say(archive + ": extracted " + Count(files - kept, "file", "files") + " into " + out_dir +
           (kept > 0 ? "; kept " + Count(kept, "existing file", "existing files") : "") +
           (refused_files > 0 ? "; refused " + Count(refused_files, "file", "files") : "") +
           (damaged_files > 0
                ? "; " + Count(damaged_files, "damaged file", "damaged files") + " left out"
                : ""));
  }
  return ui.exit_code();
}

// The host interface's words for the failures a read of the reader meets.
std::string ReadFailure(int code) {
  switch (code) {
    case ACEKIT_E_CRC:
      return StatusMessage(ACEKIT_STATUS_CRC_MISMATCH);
    case ACEKIT_E_CORRUPT:
    case ACEKIT_E_READ:
      return StatusMessage(ACEKIT_STATUS_CORRUPT);
    case ACEKIT_E_ENCRYPTED:
      return StatusMessage(ACEKIT_STATUS_ENCRYPTED_ENTRY);
    case ACEKIT_E_UNSUPPORTED:
    case ACEKIT_E_TOO_LARGE:
      return StatusMessage(ACEKIT_STATUS_UNSUPPORTED);
    default:
      return std::string("damaged: ") + acekit_strerror(code);
  }
}

// Feeds the reader's per-entry percentage to the progress line as bytes.
struct TestProgress {
  uint64_t size = 0;
  uint64_t reported = 0;
  static int Report(void* ctx, int percent) {
    auto* p = static_cast<TestProgress*>(ctx);
    const uint64_t now = p->size * static_cast<uint64_t>(std::clamp(percent, 0, 100)) / 100;
    Ui::Get().progress().Report(percent, static_cast<int32_t>(now - std::min(now, p->reported)));
    p->reported = std::max(now, p->reported);
    return Interrupted() ? 1 : 0;
  }
};

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
  const Survey survey = SurveyArchive(archive, true);
  if (!survey.opened) return ui.exit_code();
  ReportSurvey(archive, survey, true);
  uint64_t total = 0;
  std::vector<std::string> names;
  for (const SurveyEntry& e : survey.entries) {
    if (e.info.is_dir) continue;
    total += e.info.size;
    names.push_back(e.name);
  }
  ui.ListWhenReached(names);

  acekit_reader* reader = nullptr;
  if (acekit_reader_open(&reader, ArchivePath(archive).c_str()) != ACEKIT_OK) {
    ui.Error(archive + ": " + acekit_last_error(nullptr));
    return ui.exit_code();
  }
  acekit_reader_set_flags(reader, ACEKIT_READER_SALVAGE);
  TestProgress progress;
  acekit_reader_set_progress(reader, &TestProgress::Report, &progress);
  ui.progress().Begin(total);
  size_t files = 0;
  size_t damaged = 0;
  size_t lost = 0;
  bool cancelled = false;
  acekit_entry e;
  while (acekit_reader_next(reader, &e) > 0) {
    if (e.is_dir) continue;
    ++files;
    const std::string name = e.name;
    acekit_damage d{};
    acekit_reader_damage(reader, &d);
    if (d.flags & ACEKIT_DAMAGE_LOST) {
      ui.Error(
          archive + ": " + name + ": lost: its data continues a solid stream damaged before it",
          kExitDamaged);
      ++lost;
      continue;
    }
    progress.size = e.size;
    progress.reported = 0;
    ui.progress().File(name);
    const int rc = acekit_reader_read(reader, nullptr, nullptr);
    if (rc == ACEKIT_E_CANCELLED || Interrupted()) {
      cancelled = true;
      break;
    }
    if (rc < 0) {
      ui.Error(archive + ": " + name + ": " + ReadFailure(rc), kExitDamaged);
      ++damaged;
    }
  }
  acekit_reader_close(reader);
  ui.progress().End();
  if (cancelled) {
    ui.Error(archive + ": test cancelled", kExitCancelled);
  } else if (ui.exit_code() == kExitOk) {
    ui.Say(archive + ": " + Count(files, "file", "files") + " tested, no errors");
  } else {
    std::string what;
    const auto add = [&](const std::string& part) { what += (what.empty() ? "" : ", ") + part; };
    if (damaged > 0) add(Count(damaged, "damaged file", "damaged files"));
    if (lost > 0) add(Count(lost, "file", "files") + " lost with them");
    if (survey.damaged()) add("damage in the headers named above");
    ui.Say(archive + ": " + Count(files, "file", "files") + " tested: " + what);
  }
  return ui.exit_code();
}

}  // namespace acekit_cli
