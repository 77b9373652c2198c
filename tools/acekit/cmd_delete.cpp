// d: delete entries, in one rebuild of the archive.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "commands.h"
#include "format.h"
#include "library.h"
#include "names.h"
#include "ui.h"

namespace acekit_cli {

int RunDelete(const ParsedArgs& args) {
  Ui& ui = Ui::Get();
  const std::string& archive = args.operands[0];
  const std::vector<std::string> mask_args(args.operands.begin() + 1, args.operands.end());
  const Survey survey = SurveyArchive(archive, true);
  if (!survey.opened) return ui.exit_code();
  if (ReportSurvey(archive, survey, true)) {
    ui.Error(archive + ": the archive is unchanged", kExitDamaged);
    return ui.exit_code();
  }
  const bool solid = survey.archive.is_solid != 0;
  const uint32_t window = ArchiveWindow(survey);

  long dictionary = window;
  long level = 0;
  if (const int rc = ParseCompression(args, "d", &dictionary, &level); rc != 0) return rc;

  Patterns patterns(mask_args, args.Values(kOptExclude));
  std::vector<std::string> selected;
  std::vector<std::string> kept_directories;
  ChangeEvents events;
  for (const SurveyEntry& e : survey.entries) {
    events.unpack_total += e.info.size;
    if (patterns.Selects(e.name)) {
      selected.push_back(e.name);
    } else {
      events.repack_total += e.info.size;
      if (e.info.is_dir) kept_directories.push_back(e.name);
    }
  }
  patterns.WarnUnmatched(archive);
  if (selected.empty()) {
    ui.Warn(archive + ": nothing to delete; the archive is unchanged");
    return ui.exit_code();
  }
  // An archive without entries cannot be read back, so the last entries
  // are not deleted; the archive file itself is the thing to remove.
  if (selected.size() == survey.entries.size()) {
    ui.Error(archive +
             ": these are all its entries, and an archive cannot be left empty; "
             "remove the file instead (the archive is unchanged)");
    return ui.exit_code();
  }
  // A solid archive is compressed again with its own window and level
  // unless -d or -m gives another; a normal one copies its entries as they
  // are, so neither changes anything there.
  if (!solid && dictionary != static_cast<long>(window)) {
    ui.Warn(archive + ": is not solid; its entries keep their dictionary");
  }
  if (level == 0 && solid) level = SolidLevel(ArchivePath(archive), window);
  acekit_options o{};
  o.level = static_cast<int>(level);
  if (solid) o.dictionary_kb = static_cast<uint32_t>(dictionary);

  acekit_editor* e = nullptr;
  if (const int rc = acekit_editor_open(&e, ArchivePath(archive).c_str(), &o); rc != ACEKIT_OK) {
    ui.Error(archive + ": " + acekit_last_error(nullptr), ChangeExit(rc));
    return ui.exit_code();
  }
  acekit_editor_set_events(e, &ChangeEvents::On, &events);
  std::vector<const char*> names;
  for (const std::string& name : selected) names.push_back(name.c_str());
  ui.progress().Begin(0);
  const int rc = acekit_editor_delete_list(e, names.data(), names.size());
  ui.progress().End();
  if (rc == ACEKIT_E_CANCELLED || Interrupted()) {
    ui.Error(archive + ": cancelled; the archive is unchanged", kExitCancelled);
  } else if (rc != ACEKIT_OK) {
    // Damage turns up while a solid archive's entries are unpacked.
    const bool damage = ChangeExit(rc) == kExitDamaged;
    const std::string at =
        damage && !events.current().empty() ? " (at " + events.current() + ")" : "";
    ui.Error(archive + ": " + acekit_last_error(e) + at + "; the archive is unchanged",
             ChangeExit(rc));
  }
  acekit_editor_close(e);
  if (rc != ACEKIT_OK) return ui.exit_code();
  if (ui.verbose()) {
    for (const std::string& name : selected) std::printf("%s\n", Printable(name).c_str());
  }
  // The rebuild of a solid archive keeps only files: the directory entries
  // that stay are added again, parents first.
  if (solid) RestoreDirectories(archive, ArchivePath(archive), kept_directories);
  ui.Say(archive + ": deleted " + Count(selected.size(), "entry", "entries"));
  return ui.exit_code();
}

}  // namespace acekit_cli
