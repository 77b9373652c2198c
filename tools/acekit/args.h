// GNU-style command-line parsing: short options that may be bundled (-qy),
// values attached or separate (-d64, -d 64, --dictionary=64, --dictionary 64),
// unique prefixes of long options, options anywhere among the operands, and
// "--" to end the options.
#pragma once

#include <span>
#include <string>
#include <utility>
#include <vector>

namespace acekit_cli {

struct OptionDef {
  int id;
  char short_name;        // '\0' when the option has only a long name
  const char* long_name;  // nullptr when it has only a short name
  bool takes_value;
};

struct ParsedArgs {
  std::vector<std::pair<int, std::string>> options;  // in command-line order
  std::vector<std::string> operands;
  // For each option, how many operands stood before it: options such as -C
  // apply to the operands that follow them.
  std::vector<size_t> operands_before;

  bool Has(int id) const;
  // The value of the last occurrence, or an empty string.
  std::string Value(int id) const;
  // The values of the occurrences that stand before operand `operand`, in order.
  std::vector<std::string> ValuesBefore(int id, size_t operand) const;
  // The values of every occurrence, in order.
  std::vector<std::string> Values(int id) const;
};

// Returns an empty string on success, else a one-line description of the
// first mistake ("unknown option '--foo'").
std::string ParseArgs(std::span<const std::string> args, std::span<const OptionDef> defs,
                      ParsedArgs& out);

}  // namespace acekit_cli
