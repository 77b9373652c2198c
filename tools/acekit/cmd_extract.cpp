// x and e: extract with or without paths; t: test; d: delete.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
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

// Warns about each mask that selects nothing.
void CheckMasksMatch(const std::string& archive, const std::vector<std::string>& masks) {
  for (const auto& m : masks) {
    Masks one;
    one.Add(m);
    Entries e;
    if (e.Build(one) == ACEKIT_STATUS_OK && e.count() == 0) {
      Ui::Get().Warn(archive + ": no entry matches " + m);
    }
  }
}

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

  Masks masks;
  for (const auto& m : mask_args) masks.Add(m);
  Entries selected;
  if (const uint16_t st = selected.Build(masks); st != ACEKIT_STATUS_OK) {
    return ReportWalkFailure(archive, st, selected);
  }
  CheckMasksMatch(archive, mask_args);

  // A name with ".." in it would land outside the output directory: such
  // entries are left out by naming the others one by one.
  std::vector<const ArcEntry*> safe;
  bool unsafe = false;
  for (const ArcEntry* e : selected.all()) {
    if (e->is_file != 1) continue;
    if (keep_paths && EscapesOnExtract(EntryName(*e))) {
      ui.Warn(archive + ": " + EntryName(*e) + ": would be written outside " + out_dir +
              "; not extracted");
      unsafe = true;
    } else {
      safe.push_back(e);
    }
  }
  Masks safe_masks;
  if (unsafe) {
    for (const ArcEntry* e : safe) safe_masks.Add(EntryName(*e));
    Entries check;
    if (!safe.empty() && check.Build(safe_masks) == ACEKIT_STATUS_OK) {
      for (const ArcEntry* e : check.all()) {
        if (EscapesOnExtract(EntryName(*e))) {
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
  ui.progress().Begin(total);
  // An entry whose way down passes a link in the output folder is refused
  // by the library, which stops there; the entries after it are extracted
  // by a new run over their names.
  FileMaskList* run = unsafe ? safe_masks.get() : masks.get();
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
    ui.Error(archive + ": cannot create " + host.target() + ": " + StatusMessage(status));
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

// Tests the entries after `from` of a normal archive by extracting them into
// a scratch directory, each file deleted as soon as the next one starts;
// reports every damaged one. Returns when it reaches the end or cannot go on.
void TestRest(const std::string& archive, const std::vector<std::string>& names, size_t from) {
  Ui& ui = Ui::Get();
  std::string scratch_template = fs::temp_directory_path().string() + "/acekit-test-XXXXXX";
  if (::mkdtemp(scratch_template.data()) == nullptr) {
    ui.Warn(archive + ": the entries after it were not tested: " + std::strerror(errno));
    return;
  }
  const std::string scratch = scratch_template;
  while (from < names.size() && !Interrupted()) {
    Session s;
    if (!s.Open(archive)) break;
    Masks rest;
    for (size_t i = from; i < names.size(); ++i) rest.Add(names[i]);
    SetOutputPath(scratch.c_str());
    arOptionsOn(ACEKIT_OPTION_KEEP_PATHS);
    Host host(Host::Mode::kExtract);
    host.ask_replace = true;
    host.overwrite = Overwrite::kAll;
    host.discard_output = true;
    host.Register();
    ExtractFileMaskListArc(rest.get());
    host.DiscardLast();
    const uint16_t st = s.status();
    if (st == ACEKIT_STATUS_OK) break;
    if (!IsDamage(st)) {
      if (st != ACEKIT_STATUS_CANCELLED)
        ui.Error(archive + ": " + StatusMessage(st), StatusExit(st));
      break;
    }
    ui.Error(archive + ": " + host.current() + ": " + StatusMessage(st), kExitDamaged);
    const auto it = std::find(names.begin() + static_cast<long>(from), names.end(), host.current());
    if (it == names.end()) break;
    from = static_cast<size_t>(it - names.begin()) + 1;
  }
  std::error_code ec;
  fs::remove_all(scratch, ec);
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
  Session session;
  if (!session.Open(archive)) return ui.exit_code();
  int32_t desc[ACEKIT_DESC_WORDS];
  GetArcerDesc(desc);
  const bool solid = desc[ACEKIT_DESC_MODE] == ACEKIT_DESC_MODE_SOLID;
  Masks all;
  Entries entries;
  if (const uint16_t st = entries.Build(all); st != ACEKIT_STATUS_OK) {
    return ReportWalkFailure(archive, st, entries);
  }
  std::vector<std::string> files;
  uint64_t total = 0;
  for (const ArcEntry* e : entries.all()) {
    if (e->is_file != 1 || IsDirectory(*e)) continue;
    files.push_back(EntryName(*e));
    total += e->orig_size;
  }
  Host host(Host::Mode::kTest);
  host.Register();
  ui.progress().Begin(total);
  TestArc();
  const uint16_t status = session.status();
  ui.progress().End();
  session.Close();

  if (status == ACEKIT_STATUS_OK) {
    if (Interrupted()) {
      ui.Error(archive + ": interrupted after the last file was tested", kExitCancelled);
    } else {
      ui.Say(archive + ": " + Count(files.size(), "file", "files") + " tested, no errors");
    }
    return ui.exit_code();
  }
  if (status == ACEKIT_STATUS_CANCELLED) {
    ui.Error(archive + ": test cancelled", kExitCancelled);
    return ui.exit_code();
  }
  if (!IsDamage(status)) {
    ui.Error(archive + ": " + StatusMessage(status), StatusExit(status));
    return ui.exit_code();
  }
  ui.Error(archive + ": " + host.current() + ": " + StatusMessage(status), kExitDamaged);
  const auto it = std::find(files.begin(), files.end(), host.current());
  if (it == files.end()) return ui.exit_code();
  if (solid) {
    if (it + 1 != files.end()) {
      ui.Error(archive + ": " + Count(files.end() - it - 1, "entry", "entries") +
                   " after it continue its solid stream and cannot be tested",
               kExitDamaged);
    }
    return ui.exit_code();
  }
  TestRest(archive, files, static_cast<size_t>(it - files.begin()) + 1);
  if (Interrupted()) ui.Error(archive + ": test cancelled", kExitCancelled);
  return ui.exit_code();
}

int RunDelete(const ParsedArgs& args) {
  Ui& ui = Ui::Get();
  const std::string& archive = args.operands[0];
  const std::vector<std::string> mask_args(args.operands.begin() + 1, args.operands.end());
  Session session;
  if (!session.Open(archive)) return ui.exit_code();
  int32_t desc[ACEKIT_DESC_WORDS];
  GetArcerDesc(desc);
  const bool solid = desc[ACEKIT_DESC_MODE] == ACEKIT_DESC_MODE_SOLID;

  Masks masks;
  for (const auto& m : mask_args) masks.Add(m);
  Entries selected;
  if (const uint16_t st = selected.Build(masks); st != ACEKIT_STATUS_OK) {
    return ReportWalkFailure(archive, st, selected);
  }
  CheckMasksMatch(archive, mask_args);
  if (selected.count() == 0) {
    ui.Warn(archive + ": nothing to delete; the archive is unchanged");
    return ui.exit_code();
  }
  {
    // An archive without entries cannot be read back, so the last entries
    // are not deleted; the archive file itself is the thing to remove.
    Masks all;
    Entries every;
    if (every.Build(all) == ACEKIT_STATUS_OK && every.count() == selected.count()) {
      ui.Error(archive +
               ": these are all its entries, and an archive cannot be left empty; "
               "remove the file instead (the archive is unchanged)");
      return ui.exit_code();
    }
  }
  Host host(Host::Mode::kDelete);
  if (solid) {
    Masks all;
    Entries every;
    every.Build(all);
    int kept_directories = 0;
    for (const ArcEntry* e : every.all()) {
      host.unpack_total += e->orig_size;
      if (IsDirectory(*e)) ++kept_directories;
    }
    for (const ArcEntry* e : selected.all()) {
      host.repack_total += e->orig_size;
      if (IsDirectory(*e)) --kept_directories;
    }
    host.repack_total = host.unpack_total - host.repack_total;
    if (kept_directories > 0) {
      ui.Warn(archive + ": deleting from a solid archive drops its directory entries");
    }
  }
  host.Register();
  ui.progress().Begin(0);
  DeleteFileMaskListArc(masks.get());
  const uint16_t status = session.status();
  ui.progress().End();
  if (status == ACEKIT_STATUS_CANCELLED) {
    ui.Error(archive + ": cancelled; the archive is unchanged", kExitCancelled);
  } else if (status != ACEKIT_STATUS_OK) {
    // Damage turns up while a solid archive's entries are unpacked.
    const std::string at =
        IsDamage(status) && !host.current().empty() ? " (at " + host.current() + ")" : "";
    ui.Error(archive + ": " + StatusMessage(status) + at + "; the archive is unchanged",
             StatusExit(status));
  } else {
    ui.Say(archive + ": deleted " + Count(selected.count(), "entry", "entries"));
  }
  return ui.exit_code();
}

}  // namespace acekit_cli
