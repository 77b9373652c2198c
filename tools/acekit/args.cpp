#include "args.h"

#include <cstring>

namespace acekit_cli {

bool ParsedArgs::Has(int id) const {
  for (const auto& [opt, value] : options) {
    if (opt == id) return true;
  }
  return false;
}

std::vector<std::string> ParsedArgs::Values(int id) const {
  std::vector<std::string> out;
  for (const auto& [option, value] : options) {
    if (option == id) out.push_back(value);
  }
  return out;
}

std::string ParsedArgs::Value(int id) const {
  std::string result;
  for (const auto& [opt, value] : options) {
    if (opt == id) result = value;
  }
  return result;
}

std::vector<std::string> ParsedArgs::ValuesBefore(int id, size_t operand) const {
  std::vector<std::string> result;
  for (size_t i = 0; i < options.size(); ++i) {
    if (options[i].first == id && i < operands_before.size() && operands_before[i] <= operand) {
      result.push_back(options[i].second);
    }
  }
  return result;
}

namespace {

const OptionDef* FindShort(std::span<const OptionDef> defs, char c) {
  for (const auto& s : defs) {
    if (s.short_name == c) return &s;
  }
  return nullptr;
}

// An exact long name wins; otherwise a prefix must name exactly one option.
const OptionDef* FindLong(std::span<const OptionDef> defs, const std::string& name,
                          bool* ambiguous) {
  const OptionDef* found = nullptr;
  int prefix_hits = 0;
  for (const auto& s : defs) {
    if (s.long_name == nullptr) continue;
    if (name == s.long_name) return &s;
    if (std::strncmp(s.long_name, name.c_str(), name.size()) == 0) {
      found = &s;
      ++prefix_hits;
    }
  }
  *ambiguous = prefix_hits > 1;
  return prefix_hits == 1 ? found : nullptr;
}

}  // namespace

std::string ParseArgs(std::span<const std::string> args, std::span<const OptionDef> defs,
                      ParsedArgs& out) {
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    out.operands_before.resize(out.options.size(), out.operands.size());
    const std::string& a = args[i];
    if (options_done || a.size() < 2 || a[0] != '-') {
      out.operands.push_back(a);
      continue;
    }
    if (a == "--") {
      options_done = true;
      continue;
    }
    if (a[1] == '-') {
      const size_t eq = a.find('=');
      const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      bool ambiguous = false;
      const OptionDef* def = FindLong(defs, name, &ambiguous);
      if (def == nullptr) {
        return (ambiguous ? "ambiguous option '--" : "unknown option '--") + name + "'";
      }
      const std::string shown = std::string("--") + def->long_name;
      if (!def->takes_value) {
        if (eq != std::string::npos) return "option '" + shown + "' takes no value";
        out.options.emplace_back(def->id, "");
      } else if (eq != std::string::npos) {
        out.options.emplace_back(def->id, a.substr(eq + 1));
      } else if (i + 1 < args.size()) {
        out.options.emplace_back(def->id, args[++i]);
      } else {
        return "option '" + shown + "' needs a value";
      }
      continue;
    }
    for (size_t k = 1; k < a.size(); ++k) {
      const OptionDef* def = FindShort(defs, a[k]);
      if (def == nullptr) return std::string("unknown option '-") + a[k] + "'";
      if (!def->takes_value) {
        out.options.emplace_back(def->id, "");
        continue;
      }
      if (k + 1 < a.size()) {
        out.options.emplace_back(def->id, a.substr(k + 1));
      } else if (i + 1 < args.size()) {
        out.options.emplace_back(def->id, args[++i]);
      } else {
        return std::string("option '-") + a[k] + "' needs a value";
      }
      break;
    }
  }
  out.operands_before.resize(out.options.size(), out.operands.size());
  return "";
}

}  // namespace acekit_cli
