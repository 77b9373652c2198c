// l: list an archive; i: what kind of archive it is.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <string>

#include "commands.h"
#include "format.h"
#include "library.h"
#include "names.h"
#include "ui.h"

namespace acekit_cli {
namespace {

struct Totals {
  uint64_t files = 0;
  uint64_t directories = 0;
  uint64_t size = 0;
  uint64_t packed = 0;
};

std::string Hex32(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08" PRIx32, v);
  return buf;
}

// "YYYY-MM-DD HH:MM:SS" in local time, as the archive keeps it, or with 'T'
// between date and time for JSON.
std::string LocalTime(int64_t unix_seconds, char separator = ' ') {
  const time_t t = static_cast<time_t>(unix_seconds);
  struct tm local {};
  if (localtime_r(&t, &local) == nullptr)
    return "0000-00-00" + std::string(1, separator) + "00:00:00";
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d%c%02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, separator, local.tm_hour, local.tm_min,
                local.tm_sec);
  return buf;
}

// What l --json and i --json both say about the archive.
struct Summary {
  std::string comment;  // empty: none
  bool solid = false;
  int version_major = 0;
  int version_minor = 0;
  uint32_t dictionary_kb = 0;  // the largest window of its entries
  std::string host = "unknown";
  bool encrypted = false;
  bool recovery = false;
  bool file_comments = false;
  uint64_t entries = 0;
  Totals totals;
};

// The archive-wide part, over every entry whatever the masks select.
Summary Summarize(const Survey& survey) {
  Summary s;
  s.version_major = survey.archive.version_major;
  s.version_minor = survey.archive.version_minor;
  s.solid = survey.archive.is_solid != 0;
  if (survey.archive.host_system != nullptr) s.host = survey.archive.host_system;
  s.recovery = survey.archive.has_recovery_record != 0;
  s.comment = survey.main_comment;
  for (const SurveyEntry& e : survey.entries) {
    s.dictionary_kb = std::max(s.dictionary_kb, e.details.dictionary_kb);
    s.encrypted = s.encrypted || e.info.is_encrypted;
    s.file_comments = s.file_comments || !e.comment.empty();
  }
  return s;
}

void Tally(const std::vector<const SurveyEntry*>& list, Summary& s) {
  for (const SurveyEntry* e : list) {
    ++s.entries;
    (e->info.is_dir ? s.totals.directories : s.totals.files) += 1;
    s.totals.size += e->info.size;
    s.totals.packed += e->info.packed_size;
  }
}

std::string Shown(const SurveyEntry& e) {
  return e.info.is_dir && !e.name.ends_with('/') ? e.name + "/" : e.name;
}

std::string TotalsJson(const Totals& t) {
  char buf[160];
  std::snprintf(buf, sizeof buf,
                "{\"files\":%" PRIu64 ",\"directories\":%" PRIu64 ",\"size\":%" PRIu64
                ",\"packed\":%" PRIu64 ",\"ratio\":%u}",
                t.files, t.directories, t.size, t.packed, Ratio(t.packed, t.size));
  return buf;
}

// The archive object of both JSON forms; `entries` is the listing's array,
// or empty for i.
void PrintArchiveJson(const std::string& archive, const Summary& s, const std::string& entries) {
  std::printf(
      "{\"archive\":%s,\"format_version\":\"%d.%d\",\"solid\":%s,\"dictionary_kb\":%u,"
      "\"host_system\":%s,\"encrypted\":%s,\"recovery_record\":%s,\"file_comments\":%s,"
      "\"comment\":%s,%s\n\"totals\":%s}\n",
      Json(archive).c_str(), s.version_major, s.version_minor, s.solid ? "true" : "false",
      s.dictionary_kb, Json(s.host).c_str(), s.encrypted ? "true" : "false",
      s.recovery ? "true" : "false", s.file_comments ? "true" : "false",
      s.comment.empty() ? "null" : Json(s.comment).c_str(), entries.c_str(),
      TotalsJson(s.totals).c_str());
}

std::string EntriesJson(const std::vector<const SurveyEntry*>& entries) {
  std::string out = "\"entries\":[";
  bool first = true;
  for (const SurveyEntry* e : entries) {
    const acekit_entry& i = e->info;
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  ",\"directory\":%s,\"size\":%" PRIu64 ",\"packed\":%" PRIu64
                  ",\"ratio\":%u,\"modified\":%s,\"attributes\":%s,\"attr\":%" PRIu32
                  ",\"crc32\":%s,\"method\":%s,\"dictionary_kb\":%u,\"encrypted\":%s,"
                  "\"comment\":",
                  i.is_dir ? "true" : "false", i.size, i.packed_size, Ratio(i.packed_size, i.size),
                  Json(LocalTime(i.mtime, 'T')).c_str(), Json(AttrLetters(i.attributes)).c_str(),
                  i.attributes, Json(Hex32(~i.crc32)).c_str(),
                  e->details.is_stored ? "\"stored\"" : "\"compressed\"", e->details.dictionary_kb,
                  i.is_encrypted ? "true" : "false");
    out += first ? "\n{\"name\":" : ",\n{\"name\":";
    out += Json(Shown(*e)) + buf + (e->comment.empty() ? "null" : Json(e->comment)) + "}";
    first = false;
  }
  return out + "],";
}

void PrintTable(const std::vector<const SurveyEntry*>& entries, bool verbose, bool recovery,
                const Totals& t) {
  std::printf("%-19s %-5s %12s %12s %5s  %s\n", "Date       Time", "Attr", "Size", "Packed",
              "Ratio", "Name");
  std::printf("------------------- ----- ------------ ------------ -----  ----\n");
  for (const SurveyEntry* e : entries) {
    const acekit_entry& i = e->info;
    std::printf("%-19s %-5s %12" PRIu64 " %12" PRIu64 " %4u%%  %s\n", LocalTime(i.mtime).c_str(),
                AttrLetters(i.attributes).c_str(), i.size, i.packed_size,
                Ratio(i.packed_size, i.size), Printable(Shown(*e)).c_str());
    if (verbose) {
      const std::string& c = e->comment;
      size_t start = 0;
      while (start < c.size()) {
        size_t end = c.find('\n', start);
        if (end == std::string::npos) end = c.size();
        std::printf("%*s%s %.*s\n", 58, "", start == 0 ? "comment:" : "        ",
                    static_cast<int>(end - start), c.data() + start);
        start = end + 1;
      }
    }
  }
  if (recovery) std::printf("%-19s %-5s %12s %12s %5s  (recovery record)\n", "", "", "", "", "");
  std::printf("------------------- ----- ------------ ------------ -----  ----\n");
  const std::string count =
      Count(t.files, "file", "files") + ", " + Count(t.directories, "directory", "directories");
  std::printf("%-25s %12" PRIu64 " %12" PRIu64 " %4u%%\n", count.c_str(), t.size, t.packed,
              Ratio(t.packed, t.size));
}

}  // namespace

int RunList(const ParsedArgs& args) {
  Ui& ui = Ui::Get();
  const std::string& archive = args.operands[0];
  const Survey survey = SurveyArchive(archive, true);
  if (!survey.opened) return ui.exit_code();
  ReportSurvey(archive, survey, false);
  const bool verbose = args.Has(kOptVerbose);
  Summary summary = Summarize(survey);
  Patterns patterns({args.operands.begin() + 1, args.operands.end()}, args.Values(kOptExclude));
  std::vector<const SurveyEntry*> list;
  for (const SurveyEntry& e : survey.entries) {
    if (patterns.Selects(e.name)) list.push_back(&e);
  }
  patterns.WarnUnmatched(archive);
  Tally(list, summary);
  if (args.Has(kOptJson)) {
    PrintArchiveJson(archive, summary, EntriesJson(list));
  } else {
    std::printf("Archive: %s%s\n", Printable(archive).c_str(), summary.solid ? " (solid)" : "");
    const std::string& comment = summary.comment;
    if (!comment.empty()) {
      std::printf("Comment:\n%s%s", comment.c_str(), comment.back() == '\n' ? "" : "\n");
    }
    PrintTable(list, verbose, summary.recovery && patterns.empty(), summary.totals);
  }
  std::fflush(stdout);
  return ui.exit_code();
}

int RunInfo(const ParsedArgs& args) {
  Ui& ui = Ui::Get();
  const std::string& archive = args.operands[0];
  const Survey survey = SurveyArchive(archive, true);
  if (!survey.opened) return ui.exit_code();
  ReportSurvey(archive, survey, false);
  Summary s = Summarize(survey);
  std::vector<const SurveyEntry*> all;
  for (const SurveyEntry& e : survey.entries) all.push_back(&e);
  Tally(all, s);
  const Totals& t = s.totals;
  if (args.Has(kOptJson)) {
    PrintArchiveJson(archive, s, "");
  } else {
    const bool main_comment = !s.comment.empty();
    std::printf("Archive:         %s\n", Printable(archive).c_str());
    std::printf("Format version:  %d.%d\n", s.version_major, s.version_minor);
    std::printf("Solid:           %s\n", s.solid ? "yes" : "no");
    std::printf("Dictionary:      %u KB\n", s.dictionary_kb);
    std::printf("Host system:     %s\n", s.host.c_str());
    std::printf("Entries:         %" PRIu64 " (%s, %s)\n", s.entries,
                Count(t.files, "file", "files").c_str(),
                Count(t.directories, "directory", "directories").c_str());
    std::printf("Size:            %" PRIu64 " (%s)\n", t.size, HumanSize(t.size).c_str());
    std::printf("Packed:          %" PRIu64 " (%s)\n", t.packed, HumanSize(t.packed).c_str());
    std::printf("Ratio:           %u%%\n", Ratio(t.packed, t.size));
    std::printf("Comments:        %s\n", main_comment && s.file_comments ? "main and files"
                                         : main_comment                  ? "main"
                                         : s.file_comments               ? "files"
                                                                         : "none");
    std::printf("Encrypted:       %s\n", s.encrypted ? "yes" : "no");
    std::printf("Recovery record: %s\n", s.recovery ? "yes" : "no");
  }
  std::fflush(stdout);
  return ui.exit_code();
}

}  // namespace acekit_cli
