// The command line's own text handling: option parsing, cleaning of input
// paths, which names the archive can hold, and JSON quoting.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "args.h"
#include "format.h"
#include "names.h"

namespace acekit_cli {
namespace {

enum { kA = 1, kB, kDict, kNames, kNamesX };

constexpr OptionDef kDefs[] = {
    {kA, 'a', "all", false},
    {kB, 'b', nullptr, false},
    {kDict, 'd', "dictionary", true},
    {kNames, '\0', "names-only", false},
    {kNamesX, '\0', "names-extra", false},
};

struct ArgsCase {
  std::vector<std::string> args;
  std::vector<std::pair<int, std::string>> options;
  std::vector<std::string> operands;
  std::string error;
};

TEST(CliArgs, ParsesGnuStyle) {
  const ArgsCase cases[] = {
      {{"-ab", "x"}, {{kA, ""}, {kB, ""}}, {"x"}, ""},
      {{"-d64", "-d", "128", "--dictionary=256", "--dictionary", "512"},
       {{kDict, "64"}, {kDict, "128"}, {kDict, "256"}, {kDict, "512"}},
       {},
       ""},
      {{"-ad", "1024", "y"}, {{kA, ""}, {kDict, "1024"}}, {"y"}, ""},
      {{"x", "--all", "y"}, {{kA, ""}}, {"x", "y"}, ""},
      {{"--dict=64"}, {{kDict, "64"}}, {}, ""},
      {{"--names-only"}, {{kNames, ""}}, {}, ""},
      {{"--", "-a", "-"}, {}, {"-a", "-"}, ""},
      {{"-"}, {}, {"-"}, ""},
      {{"--names"}, {}, {}, "ambiguous option '--names'"},
      {{"--bogus"}, {}, {}, "unknown option '--bogus'"},
      {{"-z"}, {}, {}, "unknown option '-z'"},
      {{"-d"}, {}, {}, "option '-d' needs a value"},
      {{"--dictionary"}, {}, {}, "option '--dictionary' needs a value"},
      {{"--all=1"}, {}, {}, "option '--all' takes no value"},
  };
  for (const auto& c : cases) {
    ParsedArgs got;
    const std::string error = ParseArgs(c.args, kDefs, got);
    const std::string shown = ::testing::PrintToString(c.args);
    EXPECT_EQ(error, c.error) << shown;
    if (!c.error.empty()) continue;
    EXPECT_EQ(got.options, c.options) << shown;
    EXPECT_EQ(got.operands, c.operands) << shown;
  }
}

TEST(CliNames, CleansInputPaths) {
  for (const auto& [in, path, absolute, escapes] : {
           std::tuple{"a/b/c", "a/b/c", false, false},
           {"./a//b/./", "a/b", false, false},
           {"a/../b", "b", false, false},
           {"../a", "../a", false, true},
           {"a/../../b", "../b", false, true},
           {"/usr/./x/..", "usr", true, false},
           {"/..", "", true, false},
           {".", "", false, false},
           {"/", "", true, false},
       }) {
    const CleanPath p = Clean(in);
    EXPECT_EQ(p.path, path) << in;
    EXPECT_EQ(p.absolute, absolute) << in;
    EXPECT_EQ(p.escapes, escapes) << in;
  }
}

TEST(CliNames, KnowsWhatTheCodePageHolds) {
  for (const auto& [in, stored, lossy] : {
           std::tuple{"plain.txt", "plain.txt", false},
           {"é ü ß.txt", "é ü ß.txt", false},
           {"price€.txt", "price€.txt", false},  // kept as UTF-8
           {"日本.txt", "日本.txt", false},
           {"bad\xff.txt", "bad?.txt", true},  // not UTF-8 at all
           {"cut\xc3", "cut?", true},          // a sequence cut short
           {"│box", "│box", false},            // a line-drawing character CP437 has
       }) {
    bool lost = false;
    EXPECT_EQ(AsStored(in, &lost), stored) << in;
    EXPECT_EQ(lost, lossy) << in;
  }
  EXPECT_EQ(ToCp437("é", nullptr), "\x82");
  EXPECT_EQ(ToCp437("€", nullptr), "?");  // comments still go in CP437
  EXPECT_EQ(StoredLength("é ü ß"), 5u);
  EXPECT_EQ(StoredLength("日本"), 6u);
  EXPECT_EQ(SameNameKey("Straße/É.TXT"), SameNameKey("STRAßE/é.txt"));
  EXPECT_NE(SameNameKey("a€"), SameNameKey("A¤"));
}

TEST(CliNames, RefusesNamesThatWouldNotReadBack) {
  const std::string long_name(256, 'x');
  for (const auto& [stored, directory, refused] : {
           std::tuple<std::string, bool, bool>{"docs/a.txt", false, false},
           {"back\\slash", false, true},
           {"c:/x", false, true},
           {"..hidden", false, true},
           {"dir/name.", false, true},
           {"dir/name.", true, false},
           {"dir/.profile", false, false},
           {long_name, false, true},
           {long_name.substr(1), false, false},
           {long_name.substr(1), true, true},
       }) {
    EXPECT_EQ(!UnstorableReason(stored, directory).empty(), refused) << stored;
  }
  EXPECT_TRUE(EscapesOnExtract("..\\x"));
  EXPECT_TRUE(EscapesOnExtract("a/../../x"));
  EXPECT_TRUE(EscapesOnExtract("\\..\\x"));
  EXPECT_FALSE(EscapesOnExtract("a/..b/x.."));
  EXPECT_TRUE(EscapesOnExtract(".."));
  EXPECT_TRUE(EscapesOnExtract("a/b/.."));
  EXPECT_FALSE(EscapesOnExtract("a/.../b"));
  EXPECT_FALSE(EscapesOnExtract("a/b"));
}

TEST(CliFormat, RendersArchiveNumbers) {
  EXPECT_EQ(AttrLetters(0x31), "DR..A");
  EXPECT_EQ(Ratio(50, 200), 25u);
  EXPECT_EQ(Ratio(5, 0), 0u);
  EXPECT_EQ(HumanSize(1023), "1023 B");
  EXPECT_EQ(HumanSize(1536), "1.5 KiB");
  EXPECT_EQ(HumanSize(300u << 20), "300 MiB");
  EXPECT_EQ(Json("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
  EXPECT_EQ(Json("é\xff"), "\"é\xEF\xBF\xBD\"");
}

TEST(CliArgs, OptionsKnowWhichOperandsFollowThem) {
  // acekit a x.ace -d 64 -C src lib -C ../doc guide
  const std::vector<std::string> args = {"x.ace", "-d",     "64",    "-C", "src", "lib",
                                         "-C",    "../doc", "guide", "-C", "last"};
  const OptionDef defs[] = {{kDict, 'd', "dictionary", true}, {kA, 'C', nullptr, true}};
  ParsedArgs parsed;
  ASSERT_EQ(ParseArgs(args, defs, parsed), "");
  EXPECT_EQ(parsed.ValuesBefore(kA, 0), std::vector<std::string>{});
  EXPECT_EQ(parsed.ValuesBefore(kA, 1), std::vector<std::string>{"src"});
  EXPECT_EQ(parsed.ValuesBefore(kA, 2), (std::vector<std::string>{"src", "../doc"}));
  EXPECT_EQ(parsed.ValuesBefore(kA, 3), (std::vector<std::string>{"src", "../doc", "last"}));
  EXPECT_EQ(parsed.ValuesBefore(kDict, 1), std::vector<std::string>{"64"});
}

TEST(CliFormat, PrintableEscapesWhatATerminalWouldObey) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain/name.txt", "plain/name.txt"},
      {"x\x1b[2Kname", "x\\e[2Kname"},
      {"a\rb\tc\nd", "a\\rb\\tc\\nd"},
      {std::string("nul\0x", 5), "nul\\x00x"},
      {"del\x7f", "del\\x7f"},
      {"back\\slash", "back\\\\slash"},
      {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"},  // UTF-8 stays
      {"csi\xc2\x9b", "csi\\xc2\\x9b"},            // a C1 control does not
      {"bad\xff", "bad\\xff"},
  };
  for (const auto& [raw, shown] : cases) EXPECT_EQ(Printable(raw), shown) << shown;
}

TEST(CliNames, PatternsMatchLikeAShell) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"*.h", "include/linux/xt_CONNMARK.h", true},  // any folder, last part
      {"*.H", "a.h", true},                          // case ignored
      {"b*.bin", "big.bin", true},                   // '*' anywhere
      {"*.txt", "a.text", false},
      {"*", "docs/readme", true},
      {"f?.c", "f1.c", true},
      {"f?.c", "f12.c", false},
      {"?", "\xc3\xa9", true},  // one character, not one byte
      {"[a-c]x", "Bx", true},
      {"[!a-c]x", "bx", false},
      {"[x", "[x", true},                     // an unclosed set is itself
      {"doc/bash", "doc/bash/README", true},  // a folder selects its subtree
      {"doc/bash", "doc/bashful", false},
      {"doc/bash", "usr/doc/bash/x", false},  // with '/', from the top
      {"docs", "docs/", true},
      {"docs/", "docs/sub/deep/nested.c", true},
      {"./docs/*.txt", "docs/a.txt", true},
      {"docs/*.txt", "docs/sub/a.txt", false},  // '*' stays within a part
      {"docs/*/*.c", "docs/sub/x.c", true},
  };
  for (const auto& [pattern, name, want] : cases) {
    EXPECT_EQ(PatternSelects(pattern, name), want) << pattern << " vs " << name;
  }
}

}  // namespace
}  // namespace acekit_cli
