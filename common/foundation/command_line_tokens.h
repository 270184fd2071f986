// Splitting a command line into arguments, as the suite's programs read
// theirs. Win32-free.
#pragma once

#include <string>
#include <vector>

// Blanks, tabs, CR and LF separate arguments outside quotes; a run of them
// ends the current argument once. A double quote toggles quoting (starting an
// argument when none is open, so two in a row make an empty one) and is not
// copied; quoted text inside a word joins it. There is no escape character.
std::vector<std::string> SplitCommandLine(const std::string& text);
