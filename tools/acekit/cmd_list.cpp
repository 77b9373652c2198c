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
                Ratio(e->pack_size, e->orig_size), EntryName(*e).c_str());
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
      std::to_string(t.files) + " files, " + std::to_string(t.directories) + " directories";
  std::printf("%-25s %12" PRIu64 " %12" PRIu64 " %4u%%\n", count.c_str(), t.size, t.packed,
              Ratio(t.packed, t.size));
}

void PrintJson(const std::string& archive, bool solid, const std::string* comment,
               const std::vector<const ArcEntry*>& entries, const Totals& t) {
  std::printf("{\"archive\":%s,\"solid\":%s,\"comment\":%s,\"entries\":[", Json(archive).c_str(),
              solid ? "true" : "false", comment ? Json(*comment).c_str() : "null");
  bool first = true;
  for (const ArcEntry* e : entries) {
    if (e->is_file != 1) continue;
    const std::string c = EntryComment(*e);
    std::printf("%s\n{\"name\":%s,\"directory\":%s,\"size\":%" PRIu32 ",\"packed\":%" PRIu32
                ",\"ratio\":%u,\"modified\":%s,\"attributes\":%s,\"attr\":%" PRIu32
                ",\"crc32\":%s,\"method\":%s,\"dictionary_kb\":%u,\"encrypted\":%s,\"comment\":%s}",
                first ? "" : ",", Json(EntryName(*e)).c_str(), IsDirectory(*e) ? "true" : "false",
                e->orig_size, e->pack_size, Ratio(e->pack_size, e->orig_size),
                Json(DosTime(e->ftime, 'T')).c_str(), Json(AttrLetters(e->attr)).c_str(), e->attr,
                Json(Hex32(e->crc32)).c_str(), e->tech_type == 0 ? "\"stored\"" : "\"compressed\"",
                DictionaryKb(*e), e->encrypted ? "true" : "false",
                c.empty() ? "null" : Json(c).c_str());
    first = false;
  }
  std::printf("],\n\"totals\":{\"files\":%" PRIu64 ",\"directories\":%" PRIu64 ",\"size\":%" PRIu64
              ",\"packed\":%" PRIu64 ",\"ratio\":%u}}\n",
              t.files, t.directories, t.size, t.packed, Ratio(t.packed, t.size));
}

}  // namespace

int RunList(const ParsedArgs& args) {
  Ui& ui = Ui::Get();
  const std::string& archive = args.operands[0];
  Session session;
  if (!session.Open(archive)) return ui.exit_code();
  const bool verbose = args.Has(kOptVerbose);
  int32_t desc[ACEKIT_DESC_WORDS];
  GetArcerDesc(desc);
  const bool solid = desc[ACEKIT_DESC_MODE] == ACEKIT_DESC_MODE_SOLID;

  const std::string comment = MainComment();
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
  Totals t;
  for (const ArcEntry* e : list) {
    if (e->is_file != 1) continue;
    (IsDirectory(*e) ? t.directories : t.files) += 1;
    t.size += e->orig_size;
    t.packed += e->pack_size;
  }
  if (args.Has(kOptJson)) {
    PrintJson(archive, solid, comment.empty() ? nullptr : &comment, list, t);
  } else {
    std::printf("Archive: %s%s\n", archive.c_str(), solid ? " (solid)" : "");
    if (!comment.empty()) {
      std::printf("Comment:\n%s%s", comment.c_str(), comment.back() == '\n' ? "" : "\n");
    }
    PrintTable(list, verbose, t);
  }
  std::fflush(stdout);
  return ui.exit_code();
}

int RunInfo(const ParsedArgs& args) {
  Ui& ui = Ui::Get();
  const std::string& archive = args.operands[0];
  Session session;
  if (!session.Open(archive)) return ui.exit_code();
  int32_t info[23] = {};
  GetExtraInfoArc(info);
  ReportSurvey(archive, SurveyArchive(archive), false);
  if (const uint16_t st = session.status(); st != ACEKIT_STATUS_OK) {
    Masks all;
    Entries partial;
    partial.Build(all);
    return ReportWalkFailure(archive, st, partial);
  }
  // Files and directories apart, and a recovery record, which the
  // information block does not report.
  Masks all;
  Entries entries;
  entries.Build(all);
  uint64_t files = 0;
  uint64_t directories = 0;
  bool recovery = info[5] != 0;
  for (const ArcEntry* e : entries.all()) {
    if (e->is_file != 1) {
      recovery = true;
    } else {
      (IsDirectory(*e) ? directories : files) += 1;
    }
  }
  const auto packed = static_cast<uint32_t>(info[10]);
  const auto size = static_cast<uint32_t>(info[11]);
  const bool main_comment = (info[4] & 1) != 0;
  const bool file_comments = (info[4] & 2) != 0;
  if (args.Has(kOptJson)) {
    std::printf(
        "{\"archive\":%s,\"format_version\":\"%d.%d\",\"solid\":%s,\"dictionary_kb\":%d,"
        "\"host_os\":%d,\"entries\":%d,\"files\":%" PRIu64 ",\"directories\":%" PRIu64
        ",\"size\":%" PRIu32 ",\"packed\":%" PRIu32
        ",\"ratio\":%d,\"main_comment\":%s,\"file_comments\":%s,\"encrypted\":%s,"
        "\"recovery_record\":%s}\n",
        Json(archive).c_str(), info[1], info[2], info[7] ? "true" : "false", info[3], info[8],
        info[9], files, directories, size, packed, info[12], main_comment ? "true" : "false",
        file_comments ? "true" : "false", info[6] ? "true" : "false", recovery ? "true" : "false");
  } else {
    std::printf("Archive:         %s\n", archive.c_str());
    std::printf("Format version:  %d.%d\n", info[1], info[2]);
    std::printf("Solid:           %s\n", info[7] ? "yes" : "no");
    std::printf("Dictionary:      %d KB\n", info[3]);
    std::printf("Host system:     %d\n", info[8]);
    std::printf("Entries:         %d (%s, %s)\n", info[9], Count(files, "file", "files").c_str(),
                Count(directories, "directory", "directories").c_str());
    std::printf("Size:            %" PRIu32 " (%s)\n", size, HumanSize(size).c_str());
    std::printf("Packed:          %" PRIu32 " (%s)\n", packed, HumanSize(packed).c_str());
    std::printf("Ratio:           %d%%\n", info[12]);
    std::printf("Comments:        %s\n", main_comment && file_comments ? "main and files"
                                         : main_comment                ? "main"
                                         : file_comments               ? "files"
                                                                       : "none");
    std::printf("Encrypted:       %s\n", info[6] ? "yes" : "no");
    std::printf("Recovery record: %s\n", recovery ? "yes" : "no");
  }
  std::fflush(stdout);
  return ui.exit_code();
}

}  // namespace acekit_cli
