// acekit: the command-line archiver.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "acekit/acekit.h"
#include "commands.h"
#include "ui.h"

#ifndef ACEKIT_CLI_VERSION
#define ACEKIT_CLI_VERSION "unknown"
#endif

namespace acekit_cli {
namespace {

constexpr const char* kMaskHelp =
    "Masks select entries by name as a shell matches file names: '*' stands for any\n"
    "text within one part of a name, '?' for one character, '[...]' for one of a\n"
    "set ('[a-c]', '[!0-9]'); case is ignored. A mask without '/' matches the last\n"
    "part in any folder ('*.h' selects every .h file), one with '/' matches from\n"
    "the top ('docs/*.txt'). A mask that selects a folder selects everything below\n"
    "it ('doc/bash'). A mask that selects nothing is reported (exit status 1).\n"
    "Quote masks so that the shell leaves them alone.\n";

constexpr const char* kExitHelp =
    "Exit status: 0 success, 1 finished with warnings, 2 error, 3 damaged archive,\n"
    "130 cancelled.\n";

constexpr OptionDef kAddOptions[] = {
    {kOptSolid, 's', "solid", false},
    {kOptDictionary, 'd', "dictionary", true},
    {kOptLevel, 'm', "level", true},
    {kOptDirectory, 'C', nullptr, true},
    {kOptNamesOnly, '\0', "names-only", false},
    {kOptStrict, '\0', "strict", false},
    {kOptVerbose, 'v', "verbose", false},
    {kOptExclude, '\0', "exclude", true},
    {kOptShortT, 'T', nullptr, true},
    {kOptFilesFrom, '\0', "files-from", true},
    {kOptNull, '\0', "null", false},
    {kOptThreads, '\0', "threads", true},
};
constexpr OptionDef kListOptions[] = {
    {kOptJson, '\0', "json", false},
    {kOptVerbose, 'v', "verbose", false},
    {kOptExclude, '\0', "exclude", true},
};
constexpr OptionDef kExtractOptions[] = {
    {kOptOutput, 'o', "output", true},    {kOptYes, 'y', "yes", false},
    {kOptNo, 'n', "no", false},           {kOptVerbose, 'v', "verbose", false},
    {kOptExclude, '\0', "exclude", true}, {kOptStdout, 'p', "stdout", false},
    {kOptShortT, 'T', nullptr, true},     {kOptThreads, '\0', "threads", true},
};
constexpr OptionDef kTestOptions[] = {
    {kOptVerbose, 'v', "verbose", false},
    {kOptShortT, 'T', nullptr, true},
    {kOptThreads, '\0', "threads", true},
};
constexpr OptionDef kDeleteOptions[] = {
    {kOptVerbose, 'v', "verbose", false},      {kOptExclude, '\0', "exclude", true},
    {kOptDictionary, 'd', "dictionary", true}, {kOptLevel, 'm', "level", true},
    {kOptShortT, 'T', nullptr, true},          {kOptThreads, '\0', "threads", true},
};
constexpr OptionDef kCommentOptions[] = {
    {kOptSet, '\0', "set", true},
    {kOptRemove, '\0', "remove", false},
};
constexpr OptionDef kInfoOptions[] = {
    {kOptJson, '\0', "json", false},
};

constexpr Command kCommands[] = {
    {"a", "[OPTIONS] ARCHIVE PATH...", "create an archive, or add to one",
     "Adds files and directories; named directories are walked and get directory\n"
     "entries. Stored names are relative: a leading '/' is dropped. A file already\n"
     "in the archive under the same name is replaced.\n"
     "\n"
     "  -s, --solid              one compressed stream for all files (new archives)\n"
     "  -d, --dictionary KB      window of 64, 128, 256, 512 or 1024 KB (default 64)\n"
     "  -m, --level N            search level 1 (fastest) to 4 (smallest), default 1\n"
     "                           (a solid archive added to keeps its own window and\n"
     "                           level unless these give others)\n"
     "  -C DIR                   read the paths after it relative to DIR; each -C\n"
     "                           moves on from where the one before it led\n"
     "      --names-only         store files without their directories\n"
     "      --strict             fail instead of leaving out files that cannot be read\n"
     "                           or vanish while the archive is written\n"
     "  -v, --verbose            name each file as it is added\n"
     "      --exclude MASK       leave out what MASK selects (repeatable)\n"
     "      --files-from FILE    add the paths listed in FILE, one a line ('-':\n"
     "                           standard input), as tar's -T\n"
     "      --null               the list of --files-from is separated by NUL\n"
     "                           characters\n"
     "      --threads N          compress with N threads (0: one per core); the\n"
     "                           archive comes out the same whatever N is\n"
     "  -T N | FILE              --threads N when the value is all digits ('-T0',\n"
     "                           '-T 4'), else --files-from FILE; a list whose name\n"
     "                           is all digits is given as './4' or '--files-from 4'\n"
     "\n"
     "ARCHIVE '-' writes a new archive to standard output.\n",
     kAddOptions, RunAdd, 1},
    {"l", "[--json] [-v] ARCHIVE [MASK...]", "list the entries",
     "Shows the main comment, then date, time, attributes (Directory, Read-only,\n"
     "Hidden, System, Archive), size, packed size, ratio and name of each entry,\n"
     "then the totals.\n"
     "\n"
     "      --json               machine-readable output\n"
     "  -v, --verbose            show the file comments too\n"
     "      --exclude MASK       leave out the entries MASK selects (repeatable)\n",
     kListOptions, RunList, 1},
    {"t", "[-v] ARCHIVE", "test every entry",
     "Decodes every file and checks its CRC; reports each damaged entry.\n"
     "\n"
     "  -v, --verbose            name each file as it is tested\n"
     "  -T, --threads N          use N threads (0: one per core)\n",
     kTestOptions, RunTest, 1, 1},
    {"x", "[-o DIR] [-y|-n] [-v] [-p] ARCHIVE [MASK...]", "extract with paths",
     "Extracts the entries that the masks select (all without masks).\n"
     "\n"
     "  -o, --output DIR         extract into DIR (default: the current directory)\n"
     "  -y, --yes                overwrite existing files\n"
     "  -n, --no                 never overwrite existing files (and say so once)\n"
     "  -v, --verbose            name each file as it is extracted\n"
     "      --exclude MASK       leave out the entries MASK selects (repeatable)\n"
     "  -p, --stdout             write the selected files' contents to standard output\n"
     "  -T, --threads N          use N threads (0: one per core)\n"
     "\n"
     "ARCHIVE '-' reads the archive from standard input (so do l, t and i).\n"
     "\n"
     "Without -y or -n an existing file is asked about on a terminal; otherwise it\n"
     "is kept and reported.\n",
     kExtractOptions, RunExtract, 1},
    {"e", "[-o DIR] [-y|-n] [-v] [-p] ARCHIVE [MASK...]", "extract without paths",
     "Like x, but every file goes straight into the output directory.\n"
     "\n"
     "  -o, --output DIR         extract into DIR (default: the current directory)\n"
     "  -y, --yes                overwrite existing files\n"
     "  -n, --no                 never overwrite existing files (and say so once)\n"
     "  -v, --verbose            name each file as it is extracted\n"
     "      --exclude MASK       leave out the entries MASK selects (repeatable)\n"
     "  -p, --stdout             write the selected files' contents to standard output\n"
     "  -T, --threads N          use N threads (0: one per core)\n"
     "\n"
     "Directory entries are skipped.\n",
     kExtractOptions, RunExtractFlat, 1},
    {"d", "[-v] [--exclude MASK] [-m N] [-T N] ARCHIVE MASK...", "delete entries",
     "Deletes the entries that the masks select.\n"
     "\n"
     "  -v, --verbose            name each deleted entry\n"
     "      --exclude MASK       keep the entries MASK selects (repeatable)\n"
     "  -d, --dictionary KB      window of a solid archive's new compression\n"
     "                           (default: its own)\n"
     "  -m, --level N            search level of a solid archive's new compression,\n"
     "                           1 to 4 (default: the level it was made with)\n"
     "  -T, --threads N          use N threads (0: one per core)\n"
     "\n"
     "A solid archive is compressed again without the deleted files, with its own\n"
     "window and level unless -d or -m gives another; its directory entries that\n"
     "stay are added again afterwards.\n",
     kDeleteOptions, RunDelete, 2},
    {"c", "ARCHIVE [--set FILE|- | --remove]", "show, set or remove the main comment",
     "Without options, prints the main comment.\n"
     "\n"
     "      --set FILE           take the comment from FILE ('-': standard input);\n"
     "                           at most 32766 characters\n"
     "      --remove             remove the comment\n",
     kCommentOptions, RunComment, 1, 1},
    {"cf", "ARCHIVE NAME... (--set FILE|- | --remove)", "set or remove file comments",
     "Gives the named files the comment, or removes theirs. Names are taken\n"
     "literally (no masks); case is ignored.\n"
     "\n"
     "      --set FILE           take the comment from FILE ('-': standard input);\n"
     "                           at most 4096 characters\n"
     "      --remove             remove the comments\n",
     kCommentOptions, RunFileComment, 2},
    {"md",
     "ARCHIVE DIRNAME",
     "add an empty directory entry",
     "Adds a directory entry without anything on disk, e.g. 'docs/drafts'. Its\n"
     "last part may not hold ? * : < > | \" and may not be AUX, CON or PRN.\n",
     {},
     RunMakeDirectory,
     2,
     2},
    {"i", "[--json] ARCHIVE", "show archive information",
     "Format version, solid or not, dictionary, host system, entries, sizes,\n"
     "ratio, comments, encryption and recovery record.\n"
     "\n"
     "      --json               machine-readable output\n",
     kInfoOptions, RunInfo, 1, 1},
};

constexpr OptionDef kCommonOptions[] = {
    {kOptHelp, 'h', "help", false},
    {kOptQuiet, 'q', "quiet", false},
};

void PrintCommandHelp(const Command& c) {
  std::printf(
      "Usage: acekit %s %s\n%s.\n\n%s\n  -q, --quiet              no progress line, no summary, no "
      "warnings\n"
      "  -h, --help               show this help\n\n",
      c.name, c.synopsis, c.summary, c.details);
  if (std::strchr("lxed", c.name[0]) != nullptr) std::printf("%s\n", kMaskHelp);
  std::printf("%s", kExitHelp);
}

void PrintHelp() {
  std::printf(
      "Usage: acekit COMMAND [OPTIONS] ARCHIVE [ARGUMENTS]\n"
      "Creates, lists, tests, extracts and changes ACE archives.\n\nCommands:\n");
  for (const Command& c : kCommands) {
    std::printf("  acekit %s %s\n      %s\n", c.name, c.synopsis, c.summary);
  }
  std::printf(
      "\n'acekit COMMAND --help' describes each command and its options, which may\n"
      "also stand before the command. -V, --version prints the program's and the\n"
      "library's version.\n"
      "-q, --quiet turns off the progress line, summaries and warnings (not errors);\n"
      "-v, --verbose names each file as a, x, e, t or d processes it. The progress\n"
      "line appears only while standard error is a terminal; Ctrl-C cancels cleanly.\n\n"
      "%s\n%s",
      kMaskHelp, kExitHelp);
}

}  // namespace

std::span<const Command> Commands() {
  return kCommands;
}

int UsageError(const std::string& command, const std::string& message) {
  Ui::Get().Error(command.empty()
                      ? message
                      : command + ": " + message + " (see 'acekit " + command + " --help')");
  return kExitError;
}

int ParseCompression(const ParsedArgs& args, const std::string& command, long* dictionary,
                     long* level) {
  auto number = [](const std::string& text, long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
  };
  if (args.Has(kOptDictionary)) {
    if (!number(args.Value(kOptDictionary), dictionary) ||
        (*dictionary != 64 && *dictionary != 128 && *dictionary != 256 && *dictionary != 512 &&
         *dictionary != 1024)) {
      return UsageError(command, "--dictionary takes 64, 128, 256, 512 or 1024 (KB)");
    }
  }
  if (args.Has(kOptLevel) && (!number(args.Value(kOptLevel), level) || *level < 1 || *level > 4)) {
    return UsageError(command, "--level takes 1, 2, 3 or 4");
  }
  return 0;
}

}  // namespace acekit_cli

namespace {

// Whether some command has an option of that name that takes a value.
bool TakesValue(char short_name, const std::string& long_name) {
  for (const acekit_cli::Command& c : acekit_cli::Commands()) {
    for (const acekit_cli::OptionDef& d : c.options) {
      if (!d.takes_value) continue;
      if (short_name != '\0'
              ? d.short_name == short_name
              : d.long_name != nullptr &&
                    std::strncmp(d.long_name, long_name.c_str(), long_name.size()) == 0) {
        return true;
      }
    }
  }
  return false;
}

bool AllDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// -T is a thread count when its value is all digits, as compressors have
// it, and a list of paths otherwise, as tar has it. The count reaches the
// library's engines through the environment of this process: 0 leaves them
// one thread per core.
std::string SettleThreads(const acekit_cli::Command& command, acekit_cli::ParsedArgs& parsed) {
  using namespace acekit_cli;
  const bool takes_list = std::any_of(command.options.begin(), command.options.end(),
                                      [](const OptionDef& d) { return d.id == kOptFilesFrom; });
  for (auto& [id, value] : parsed.options) {
    if (id != kOptShortT) continue;
    if (AllDigits(value)) {
      id = kOptThreads;
    } else if (takes_list) {
      id = kOptFilesFrom;
    } else {
      return "-T takes a number of threads";
    }
  }
  if (!parsed.Has(kOptThreads)) return "";
  const std::string value = parsed.Value(kOptThreads);
  if (!AllDigits(value) || value.size() > 4) {
    return "--threads takes a number of threads (0: one per core)";
  }
  const int n = std::stoi(value);
  if (n == 0) {
    ::unsetenv("ACEKIT_THREADS");
  } else {
    ::setenv("ACEKIT_THREADS", std::to_string(n).c_str(), 1);
  }
  return "";
}

// Where the command stands: options may come before it, so the first word
// that is neither an option nor the value of one is the command.
size_t CommandIndex(const std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") return i + 1;
    if (a.size() < 2 || a[0] != '-') return i;
    if (a[1] == '-') {
      if (a.find('=') == std::string::npos && TakesValue('\0', a.substr(2))) ++i;
      continue;
    }
    // A short option that takes a value takes the rest of the word, or the next word.
    for (size_t k = 1; k < a.size(); ++k) {
      if (TakesValue(a[k], "")) {
        if (k + 1 == a.size()) ++i;
        break;
      }
    }
  }
  return args.size();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace acekit_cli;
  std::vector<std::string> args(argv + 1, argv + argc);
  const size_t at = CommandIndex(args);
  const std::vector<std::string> leading(args.begin(), args.begin() + static_cast<long>(at));
  const auto given = [&](const char* a, const char* b) {
    return std::find(leading.begin(), leading.end(), a) != leading.end() ||
           std::find(leading.begin(), leading.end(), b) != leading.end();
  };
  if (given("--version", "-V")) {
    std::printf("acekit %s (library %s)\n", ACEKIT_CLI_VERSION, acekit_version());
    return kExitOk;
  }
  const bool help = given("--help", "-h") || (at < args.size() && args[at] == "help");
  if (at >= args.size() || (help && args[at] == "help" && at + 1 >= args.size())) {
    if (help) {
      PrintHelp();
      return kExitOk;
    }
    std::fprintf(stderr,
                 "Usage: acekit COMMAND [OPTIONS] ARCHIVE [ARGUMENTS]; see 'acekit --help'\n");
    return kExitError;
  }
  const std::string& name = args[at] == "help" ? args[at + 1] : args[at];
  const Command* command = nullptr;
  for (const Command& c : Commands()) {
    if (name == c.name) command = &c;
  }
  if (command == nullptr) {
    if (help) {
      PrintHelp();
      return kExitOk;
    }
    return UsageError("", "unknown command '" + name + "' (see 'acekit --help')");
  }
  if (args[at] == "help") {
    PrintCommandHelp(*command);
    return kExitOk;
  }
  std::vector<OptionDef> defs(std::begin(kCommonOptions), std::end(kCommonOptions));
  defs.insert(defs.end(), command->options.begin(), command->options.end());
  ParsedArgs parsed;
  // The options before the command count as if they stood right after it.
  std::vector<std::string> rest(args.begin(), args.begin() + static_cast<long>(at));
  if (!rest.empty() && rest.back() == "--") rest.pop_back();
  rest.insert(rest.end(), args.begin() + static_cast<long>(at) + 1, args.end());
  if (const std::string error = ParseArgs(rest, defs, parsed); !error.empty()) {
    return UsageError(command->name, error);
  }
  if (parsed.Has(kOptHelp)) {
    PrintCommandHelp(*command);
    return kExitOk;
  }
  if (const std::string error = SettleThreads(*command, parsed); !error.empty()) {
    return UsageError(command->name, error);
  }
  if (parsed.operands.size() < command->min_operands) {
    return UsageError(command->name,
                      command->min_operands > 1 ? "missing operands" : "missing archive name");
  }
  if (command->max_operands != 0 && parsed.operands.size() > command->max_operands) {
    return UsageError(command->name,
                      "unexpected operand '" + parsed.operands[command->max_operands] + "'");
  }
  // l has its own -v, for the file comments.
  Ui::Get().Init(parsed.Has(kOptQuiet), parsed.Has(kOptVerbose) && command->run != RunList);
  InstallInterruptHandler();
  return command->run(parsed);
}
