// What an installation of the suite's sample control (ombrixctl.dll) may
// leave on the machine, per machine or per user, and its removal: tests that
// install it start and end with ForgetSampleControl so that no other test
// finds it registered.
#pragma once

#include <string>
#include <vector>

namespace kittest {

// The keys an installation writes, the same under either hive (the
// interfaces of its type library aside).
std::vector<std::string> SampleControlKeys();

// The folders it may be placed in: Downloaded Program Files of the machine
// and of the user.
std::vector<std::string> SampleControlFolders();

// Deletes those keys under both hives, the shared counts of its files and
// the files themselves.
void ForgetSampleControl();

}  // namespace kittest
