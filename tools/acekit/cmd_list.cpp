// l: list an archive; i: what kind of archive it is.
#include <cinttypes>
#include <cstdio>
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

unsigned DictionaryKb(const ArcEntry& e) {
  const unsigned code = e.dict_code;
  return code >= 7 && code <= 10 ? 1u << code : 64u;
}

std::string EntryComment(const ArcEntry& e) {
  if (e.comment == nullptr || e.comment_length <= 0) return "";
  return std::string(e.comment, static_cast<size_t>(e.comment_length));
}

std::string Hex32(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08" PRIx32, v);
  return buf;
}

// The name of a host system code of the information words.
const char* HostName(int32_t code) {
  switch (code) {
    case 1:
      return "MS-DOS";
    case 2:
      return "OS/2";
    case 3:
      return "Windows";
    case 4:
      return "Windows NT";
    case 5:
      return "Unix";
    case 6:
      return "Mac OS";
    case 8:
      return "Atari";
    case 9:
      return "VAX VMS";
    case 10:
      return "Amiga";
    case 11:
      return "NeXT";
    default:
      return "unknown";
  }
}

// What l --json and i --json both say about the archive. The library's
// information words hold 32-bit sums, so the sizes are summed here.
struct Summary {
  std::string comment;  // empty: none
  bool solid = false;
  int32_t version_major = 0;
  int32_t version_minor = 0;
  int32_t dictionary_kb = 0;
  int32_t host_code = 0;
  bool encrypted = false;
  bool recovery = false;
  bool file_comments = false;
  uint64_t entries = 0;
  Totals totals;
};

// The archive-wide part; the open archive's information words are read
// before any entry list so that they describe every entry.
void ReadSummary(Summary& s) {
  int32_t info[23] = {};
  GetExtraInfoArc(info);
  s.version_major = info[1];
  s.version_minor = info[2];
  s.dictionary_kb = info[3];
  s.file_comments = (info[4] & 2) != 0;
  s.recovery = info[5] != 0;
  s.encrypted = info[6] != 0;
  s.solid = info[7] != 0;
  s.host_code = info[8];
  s.comment = MainComment();
}

void Tally(const std::vector<const ArcEntry*>& list, Summary& s) {
  for (const ArcEntry* e : list) {
    if (e->is_file != 1) {
      s.recovery = true;
      continue;
    }
    ++s.entries;
    (IsDirectory(*e) ? s.totals.directories : s.totals.files) += 1;
    s.totals.size += e->orig_size;
    s.totals.packed += e->pack_size;
  }
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
      "{\"archive\":%s,\"format_version\":\"%d.%d\",\"solid\":%s,\"dictionary_kb\":%d,"
      "\"host_system\":%s,\"encrypted\":%s,\"recovery_record\":%s,\"file_comments\":%s,"
      "\"comment\":%s,%s\n\"totals\":%s}\n",
      Json(archive).c_str(), s.version_major, s.version_minor, s.solid ? "true" : "false",
      s.dictionary_kb, Json(HostName(s.host_code)).c_str(), s.encrypted ? "true" : "false",
      s.recovery ? "true" : "false", s.file_comments ? "true" : "false",
      s.comment.empty() ? "null" : Json(s.comment).c_str(), entries.c_str(),
      TotalsJson(s.totals).c_str());
}

std::string EntriesJson(const std::vector<const ArcEntry*>& entries) {
  std::string out = "\"entries\":[";
  bool first = true;
  for (const ArcEntry* e : entries) {
    if (e->is_file != 1) continue;
    const std::string c = EntryComment(*e);
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  ",\"directory\":%s,\"size\":%" PRIu32 ",\"packed\":%" PRIu32
                  ",\"ratio\":%u,\"modified\":%s,\"attributes\":%s,\"attr\":%" PRIu32
                  ",\"crc32\":%s,\"method\":%s,\"dictionary_kb\":%u,\"encrypted\":%s,"
                  "\"comment\":",
                  IsDirectory(*e) ? "true" : "false", e->orig_size, e->pack_size,
                  Ratio(e->pack_size, e->orig_size), Json(DosTime(e->ftime, 'T')).c_str(),
                  Json(AttrLetters(e->attr)).c_str(), e->attr, Json(Hex32(e->crc32)).c_str(),
                  e->tech_type == 0 ? "\"stored\"" : "\"compressed\"", DictionaryKb(*e),
                  e->encrypted ? "true" : "false");
    out += first ? "\n{\"name\":" : ",\n{\"name\":";
    out += Json(EntryName(*e)) + buf + (c.empty() ? "null" : Json(c)) + "}";
    first = false;
  }
  return out + "],";
}

void PrintTable(const std::vector<const ArcEntry*>& entries, bool verbose, const Totals& t) {
  std::printf("%-19s %-5s %12s %12s %5s  %s\n", "Date       Time", "Attr", "Size", "Packed",
              "Ratio", "Name");
  std::printf("------------------- ----- ------------ ------------ -----  ----\n");
  for (const ArcEntry* e : entries) {
    if (e->is_file != 1) {
      std::printf("%-19s %-5s %12s %12" PRIu32 " %5s  (recovery record)\n", "", "", "",
                  e->pack_size, "");
      continue;
    }
    std::printf("%-19s %-5s %12" PRIu32 " %12" PRIu32 " %4u%%  %s\n", DosTime(e->ftime).c_str(),
                AttrLetters(e->attr).c_str(), e->orig_size, e->pack_size,
                Ratio(e->pack_size, e->orig_size), Printable(EntryName(*e)).c_str());
    if (verbose) {
      const std::string c = EntryComment(*e);
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
  Session session;
  if (!session.Open(archive)) return ui.exit_code();
  const bool verbose = args.Has(kOptVerbose);
  Summary summary;
  ReadSummary(summary);
  if (verbose || args.Has(kOptJson)) ReadFileComments();
  Patterns patterns({args.operands.begin() + 1, args.operands.end()}, args.Values(kOptExclude));
  const Survey survey = SurveyArchive(archive);
  ReportSurvey(archive, survey, false);
  Masks all;
  Entries entries;
  const uint16_t walked = entries.Build(all);
  // Past a damaged header only the salvaging walk finds the entries.
  std::vector<ArcEntry> salvaged;
  std::vector<const ArcEntry*> list;
  if (SurveyReachesFurther(survey, walked)) {
    salvaged.reserve(survey.entries.size());
    for (const SurveyEntry& e : survey.entries) {
      if (patterns.Selects(e.name)) salvaged.push_back(RecordOf(e));
    }
    for (const ArcEntry& e : salvaged) list.push_back(&e);
  } else if (walked != ACEKIT_STATUS_OK) {
    return ReportWalkFailure(archive, walked, entries);
  } else {
    for (const ArcEntry* e : entries.all()) {
      if (e->is_file != 1 ? patterns.empty() && !args.Has(kOptExclude)
                          : patterns.Selects(EntryName(*e))) {
        list.push_back(e);
      }
    }
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
    PrintTable(list, verbose, summary.totals);
  }
  std::fflush(stdout);
  return ui.exit_code();
}

int RunInfo(const ParsedArgs& args) {
  Ui& ui = Ui::Get();
  const std::string& archive = args.operands[0];
  Session session;
  if (!session.Open(archive)) return ui.exit_code();
  Summary s;
  ReadSummary(s);
  const Survey survey = SurveyArchive(archive);
  ReportSurvey(archive, survey, false);
  if (const uint16_t st = session.status(); st != ACEKIT_STATUS_OK) {
    Masks all;
    Entries partial;
    partial.Build(all);
    return ReportWalkFailure(archive, st, partial);
  }
  Masks all;
  Entries entries;
  // Past a damaged header, which the survey has named, the entries before it
  // are still counted.
  if (const uint16_t st = entries.Build(all);
      st != ACEKIT_STATUS_OK && !SurveyReachesFurther(survey, st)) {
    return ReportWalkFailure(archive, st, entries);
  }
  Tally(entries.all(), s);
  const Totals& t = s.totals;
  if (args.Has(kOptJson)) {
    PrintArchiveJson(archive, s, "");
  } else {
    const bool main_comment = !s.comment.empty();
    std::printf("Archive:         %s\n", Printable(archive).c_str());
    std::printf("Format version:  %d.%d\n", s.version_major, s.version_minor);
    std::printf("Solid:           %s\n", s.solid ? "yes" : "no");
    std::printf("Dictionary:      %d KB\n", s.dictionary_kb);
    std::printf("Host system:     %s\n", HostName(s.host_code));
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
