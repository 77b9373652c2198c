// The commands of the program: each parses its own options and returns the
// exit status.
#pragma once

#include <span>
#include <string>

#include "args.h"

namespace acekit_cli {

// Option ids shared by the commands' tables.
enum OptionId {
  kOptHelp = 1,
  kOptQuiet,
  kOptSolid,
  kOptDictionary,
  kOptLevel,
  kOptDirectory,
  kOptNamesOnly,
  kOptStrict,
  kOptJson,
  kOptVerbose,
  kOptOutput,
  kOptYes,
  kOptNo,
  kOptSet,
  kOptRemove,
  kOptExclude,
  kOptFilesFrom,
  kOptNull,
  kOptStdout,
  kOptThreads,
  // -T: a thread count when its value is all digits, else --files-from.
  kOptShortT,
};

struct Command {
  const char* name;
  const char* synopsis;  // after "acekit NAME "
  const char* summary;   // one line for the command list
  const char* details;   // the rest of its --help
  std::span<const OptionDef> options;
  int (*run)(const ParsedArgs& args);
  size_t min_operands;
  size_t max_operands = 0;  // 0: any number
};

std::span<const Command> Commands();

int RunAdd(const ParsedArgs& args);
int RunList(const ParsedArgs& args);
int RunTest(const ParsedArgs& args);
int RunExtract(const ParsedArgs& args);
int RunExtractFlat(const ParsedArgs& args);
int RunDelete(const ParsedArgs& args);
int RunComment(const ParsedArgs& args);
int RunFileComment(const ParsedArgs& args);
int RunMakeDirectory(const ParsedArgs& args);
int RunInfo(const ParsedArgs& args);

// Reports a usage mistake of the named command and returns exit status 2.
int UsageError(const std::string& command, const std::string& message);

// Reads -d (window in KB) and -m (level) of a command that compresses into
// *dictionary and *level, which keep their values when an option is not
// given. 0, or the exit status of a usage mistake after reporting it.
int ParseCompression(const ParsedArgs& args, const std::string& command, long* dictionary,
                     long* level);

}  // namespace acekit_cli
