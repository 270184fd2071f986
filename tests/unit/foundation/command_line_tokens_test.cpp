// Splitting a command line into arguments.
#include "foundation/command_line_tokens.h"

#include <gtest/gtest.h>

namespace {

using Args = std::vector<std::string>;

struct TokenCase {
  const char* line;
  Args expected;
};

class CommandLineTokens : public ::testing::TestWithParam<TokenCase> {};

TEST_P(CommandLineTokens, SplitsByTheRules) { EXPECT_EQ(SplitCommandLine(GetParam().line), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Rules, CommandLineTokens,
    ::testing::Values(
        TokenCase{"", {}}, TokenCase{"   \t\r\n ", {}},
        TokenCase{"prog.exe", {"prog.exe"}},
        // Any run of separators ends an argument once.
        TokenCase{"prog  /s\t\t/i\r\na.cab", {"prog", "/s", "/i", "a.cab"}},
        // Quoted text keeps separators and loses its quote marks.
        TokenCase{"\"C:\\Program Files\\kit\\kitloader.exe\" /i \"C:\\my pkgs\\a b.cab\"",
                  {"C:\\Program Files\\kit\\kitloader.exe", "/i", "C:\\my pkgs\\a b.cab"}},
        // Two quotes in a row make an empty argument.
        TokenCase{"prog \"\" x", {"prog", "", "x"}},
        // Quoted text inside a word joins it.
        TokenCase{"prog ab\"c d\"ef", {"prog", "abc def"}},
        TokenCase{"prog \"ab\"cd", {"prog", "abcd"}},
        // An unterminated quote runs to the end of the line.
        TokenCase{"prog \"open ended", {"prog", "open ended"}},
        // Backslashes are ordinary: no escapes.
        TokenCase{"prog a\\\"b c\"", {"prog", "a\\b c"}},
        TokenCase{"prog \\\\server\\share\\x.cab", {"prog", "\\\\server\\share\\x.cab"}}));

}  // namespace
