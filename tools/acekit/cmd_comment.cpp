// c: the main comment; cf: file comments; md: empty directory entries.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>
#include <vector>

#include "commands.h"
#include "format.h"
#include "library.h"
#include "names.h"
#include "ui.h"

namespace acekit_cli {
namespace {

constexpr size_t kMainCommentMax = 32766;
constexpr size_t kFileCommentMax = 4096;

// Reads a comment from a file, or from standard input for "-". The archive
// keeps comments in its code page, as it keeps names.
bool ReadComment(const std::string& archive, const std::string& source, size_t limit,
                 std::string& out) {
  std::string text;
  if (source == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    FILE* f = std::fopen(source.c_str(), "rb");
    if (f == nullptr) {
      Ui::Get().Error(source + ": " + Reason(errno));
      return false;
    }
    char buf[65536];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  bool lossy = false;
  out = ToCp437(text, &lossy);
  if (out.size() > limit) {
    Ui::Get().Error(archive + ": the comment has " + std::to_string(out.size()) +
                    " characters; at most " + std::to_string(limit) + " fit");
    return false;
  }
  if (lossy) {
    Ui::Get().Warn(archive +
                   ": the comment holds characters that the archive's code page "
                   "(CP437) lacks; they are stored as '?'");
  }
  return true;
}

// --set and --remove, exactly one of them (required unless `optional`).
bool CommentAction(const ParsedArgs& args, const char* command, bool optional, int* result) {
  const bool set = args.Has(kOptSet);
  const bool remove = args.Has(kOptRemove);
  if (set && remove) {
    *result = UsageError(command, "--set and --remove exclude each other");
    return false;
  }
  if (!optional && !set && !remove) {
    *result = UsageError(command, "say --set FILE, --set - or --remove");
    return false;
  }
  return true;
}

// Opens the archive for a change; reports and returns null when it cannot.
acekit_editor* OpenEditor(const std::string& archive) {
  acekit_reader* probe = OpenReader(archive);  // names what is wrong with the file
  if (probe == nullptr) return nullptr;
  acekit_reader_close(probe);
  acekit_editor* e = nullptr;
  if (const int rc = acekit_editor_open(&e, ArchivePath(archive).c_str(), nullptr);
      rc != ACEKIT_OK) {
    Ui::Get().Error(archive + ": " + acekit_last_error(nullptr), ChangeExit(rc));
    return nullptr;
  }
  return e;
}

int ReportChange(const std::string& archive, acekit_editor* e, int rc, const std::string& done) {
  Ui& ui = Ui::Get();
  if (rc != ACEKIT_OK) {
    ui.Error(archive + ": " + acekit_last_error(e) + "; the archive is unchanged", ChangeExit(rc));
  } else {
    ui.Say(archive + ": " + done);
  }
  return ui.exit_code();
}

}  // namespace

int RunComment(const ParsedArgs& args) {
  Ui& ui = Ui::Get();
  int result = 0;
  if (!CommentAction(args, "c", true, &result)) return result;
  if (args.operands.size() != 1) return UsageError("c", "takes the archive alone");
  const std::string& archive = args.operands[0];
  std::string text;
  if (args.Has(kOptSet) && !ReadComment(archive, args.Value(kOptSet), kMainCommentMax, text)) {
    return ui.exit_code();
  }
  acekit_reader* r = OpenReader(archive);
  if (r == nullptr) return ui.exit_code();
  const char* stored = acekit_reader_comment(r);
  const std::string comment = stored != nullptr ? stored : "";
  acekit_reader_close(r);
  if (!args.Has(kOptSet) && !args.Has(kOptRemove)) {
    if (comment.empty()) {
      ui.Say(archive + ": no comment");
    } else {
      std::fwrite(comment.data(), 1, comment.size(), stdout);
      if (comment.back() != '\n') std::fputc('\n', stdout);
    }
    return ui.exit_code();
  }
  if (args.Has(kOptRemove) && comment.empty()) {
    ui.Say(archive + ": has no comment to remove");
    return ui.exit_code();
  }
  acekit_editor* e = OpenEditor(archive);
  if (e == nullptr) return ui.exit_code();
  const int rc = acekit_editor_set_comment(e, text.c_str());
  ReportChange(archive, e, rc, args.Has(kOptRemove) ? "comment removed" : "comment set");
  acekit_editor_close(e);
  return ui.exit_code();
}

int RunFileComment(const ParsedArgs& args) {
  Ui& ui = Ui::Get();
  int result = 0;
  if (!CommentAction(args, "cf", false, &result)) return result;
  const std::string& archive = args.operands[0];
  std::string text;
  if (args.Has(kOptSet) && !ReadComment(archive, args.Value(kOptSet), kFileCommentMax, text)) {
    return ui.exit_code();
  }
  // Names are taken literally, as the archive compares them: each must name
  // a file entry.
  const Survey survey = SurveyArchive(archive, true);
  if (!survey.opened) return ui.exit_code();
  if (ReportSurvey(archive, survey, true)) return ui.exit_code();
  std::set<std::string> present;
  for (const SurveyEntry& entry : survey.entries) {
    if (!entry.info.is_dir) present.insert(SameNameKey(entry.name));
  }
  std::vector<std::string> names;
  for (size_t i = 1; i < args.operands.size(); ++i) {
    const std::string& name = args.operands[i];
    if (!present.contains(SameNameKey(name))) {
      ui.Warn(archive + ": no file " + name + " in the archive");
      continue;
    }
    names.push_back(name);
  }
  if (names.empty()) {
    ui.Error(archive + ": none of the names is in the archive; the archive is unchanged");
    return ui.exit_code();
  }
  acekit_editor* e = OpenEditor(archive);
  if (e == nullptr) return ui.exit_code();
  // Each name is a change of its own; one that fails leaves the ones before
  // it made.
  size_t done = 0;
  int rc = ACEKIT_OK;
  for (const std::string& name : names) {
    rc = acekit_editor_set_entry_comment(e, name.c_str(), text.c_str());
    if (rc != ACEKIT_OK) break;
    ++done;
  }
  const std::string what = Count(done, "file", "files");
  if (rc != ACEKIT_OK && done > 0) {
    ui.Error(archive + ": " + acekit_last_error(e) + "; " + what + " changed before it",
             ChangeExit(rc));
  } else {
    ReportChange(archive, e, rc,
                 (args.Has(kOptRemove) ? "comments removed from " : "comments set on ") + what);
  }
  acekit_editor_close(e);
  return ui.exit_code();
}

int RunMakeDirectory(const ParsedArgs& args) {
  Ui& ui = Ui::Get();
  if (args.operands.size() != 2) return UsageError("md", "takes the archive and one name");
  const std::string& archive = args.operands[0];
  std::string name = args.operands[1];
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  const CleanPath clean = Clean(name);
  if (clean.path.empty() || clean.escapes || clean.absolute || clean.path != name) {
    return UsageError("md", "the name must be a relative path without '.' or '..' parts");
  }
  if (const std::string why = UnstorableReason(name, true); !why.empty()) {
    ui.Error(archive + ": " + name + ": " + why);
    return ui.exit_code();
  }
  bool lossy = false;
  const std::string stored = AsStored(name, &lossy);
  if (lossy) ui.Warn(archive + ": " + name + ": stored as " + stored);
  acekit_editor* e = OpenEditor(archive);
  if (e == nullptr) return ui.exit_code();
  const int rc = acekit_editor_add_directory(e, name.c_str());
  if (rc == ACEKIT_E_EXISTS || rc == ACEKIT_E_INVALID) {
    ui.Error(archive + ": " + name + ": " +
             (rc == ACEKIT_E_EXISTS ? "a directory entry of that name is already in the archive"
                                    : "not a valid directory name"));
  } else {
    ReportChange(archive, e, rc, "directory entry " + stored + "/ added");
  }
  acekit_editor_close(e);
  return ui.exit_code();
}

}  // namespace acekit_cli
