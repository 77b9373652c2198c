#include "ops/extract_paths.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace acekit::ops {
namespace {

struct ConfineCase {
  const char* name;
  const char* confined;
};

class Confine : public ::testing::TestWithParam<ConfineCase> {};

TEST_P(Confine, KeepsTheNameBelowItsDirectory) {
  char buf[64];
  std::strcpy(buf, GetParam().name);
  EXPECT_EQ(ConfineName(buf), std::strlen(GetParam().confined));
  EXPECT_STREQ(buf, GetParam().confined);
}

INSTANTIATE_TEST_SUITE_P(
    Names, Confine,
    ::testing::Values(ConfineCase{"docs\\", "docs\\"}, ConfineCase{"..\\..\\x", "x"},
                      ConfineCase{"\\abs\\x", "abs\\x"}, ConfineCase{"C:\\x", "x"},
                      ConfineCase{"a\\..\\..\\x", "a\\x"}, ConfineCase{"c:x", "x"},
                      ConfineCase{"\\\\server\\share\\x", "server\\share\\x"},
                      ConfineCase{"./a//b/./c", "a\\b\\c"},
                      ConfineCase{"a\\...\\. .\\.. \\b", "a\\b"}, ConfineCase{"..", ""},
                      ConfineCase{"a.b\\..c\\d..", "a.b\\..c\\d.."}));

struct TargetCase {
  const char* stored;
  uint16_t options;
  const char* relative;
  const char* target;
};

class Target : public ::testing::TestWithParam<TargetCase> {};

TEST_P(Target, JoinsTheConfinedNameToTheOutputPath) {
  Settings s;
  s.options = GetParam().options;
  std::strcpy(s.output_path, "D:\\out\\");
  std::strcpy(s.relative_path, GetParam().relative);
  char dst[kPathSize];
  ExtractTargetPath(GetParam().stored, s, dst, sizeof dst);
  EXPECT_STREQ(dst, GetParam().target);
}

// The relative path's length is cut from the name unlooked at; what is left
// must still not climb out.
INSTANTIATE_TEST_SUITE_P(Paths, Target,
                         ::testing::Values(TargetCase{"docs\\a.txt", kOptKeepPaths, "docs",
                                                      "D:\\out\\a.txt"},
                                           TargetCase{"x..\\y", kOptKeepPaths, "x", "D:\\out\\y"},
                                           TargetCase{"a\\..", 0, "", "D:\\out\\"}));

}  // namespace
}  // namespace acekit::ops
