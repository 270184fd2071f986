// The remover's command line: switch groups, class identifiers, and every
// line that names nothing to remove or something that is no class refused.
#include "kitremove/remove_command_line.h"

#include <gtest/gtest.h>

#include "kitloader/command_line.h"
#include "kitremove/removal_result.h"

namespace {

TEST(RemoveCommandLine, SwitchesClassesAndRefusedLines) {
  const char kA[] = "{5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}", kB[] = "{7a1c2e90-3b4d-4e5f-8a6b-1c2d3e4f5a60}";
  const struct {
    std::string line;
    bool silent, verbose, force, usage;
    std::vector<std::string> classes;
    bool ok;
  } rows[] = {
      {std::string("kr ") + kA, false, false, false, false, {kA}, true},
      {std::string("kr /sv -F ") + kA + " \"" + kB + "\"", true, true, true, false, {kA, kB}, true},
      {std::string("kr ") + kA + " /q", true, false, false, false, {kA}, true},
      {std::string("kr /s /? ") + kA, true, false, false, true, {}, true},
      {"kr /s", true, false, false, false, {}, false},                                        // nothing to remove
      {"kr 5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36", false, false, false, false, {}, false},    // no braces
      {"kr {5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E3G}", false, false, false, false, {}, false},  // not hexadecimal
      {"kr {5C2B7E419A3D-4F6B-8E21-7D4C0A9B1E36-}", false, false, false, false, {}, false},  // dashes misplaced
      {std::string("kr /x ") + kA, false, false, false, false, {kA}, false},                  // unknown switch
      {std::string("kr ") + kA + " C:\\pkg.cab", false, false, false, false, {kA}, false},    // a package
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    const RemoveOptions o = ParseRemoveArguments(TokenizeCommandLine(row.line.c_str()));
    EXPECT_EQ(row.ok, o.error.empty()) << o.error;
    EXPECT_EQ(row.silent, o.silent);
    EXPECT_EQ(row.verbose, o.verbose);
    EXPECT_EQ(row.force, o.force);
    EXPECT_EQ(row.usage, o.usage);
    EXPECT_EQ(row.classes, o.classIds);
  }
}

// Several classes: a failure outranks 3010, which outranks 1605 and 0; the
// run goes on past a class not installed or waiting for the restart.
TEST(RemovalResult, TheStrongestResultStays) {
  const struct { std::vector<std::int32_t> codes; std::int32_t result; } rows[] = {
      {{0, 1605, 0}, 1605}, {{3010, 1605, 0}, 3010}, {{1605, 3010}, 3010}, {{3010, 5}, 5},
      {{1605, 1603}, 1603}, {{5, 1603}, 5},           {{-2, 3010}, -2},
  };
  for (const auto& row : rows) {
    std::int32_t kept = 0;
    for (std::int32_t code : row.codes) kept = StrongerRemovalResult(kept, code);
    EXPECT_EQ(row.result, kept) << ::testing::PrintToString(row.codes);
    EXPECT_EQ(row.result == 0 || row.result == 1605 || row.result == 3010, RemovalGoesOn(row.result));
  }
}

}  // namespace
