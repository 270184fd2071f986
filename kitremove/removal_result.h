// The result of a removal of several classes: the strongest of the classes'
// results, and whether the run goes on after a class. Win32-free.
#pragma once

#include <cstdint>

// A class removed except for a file in use, which goes at the next restart.
constexpr std::int32_t kRemovalRebootRequired = 3010;
// A class without a record: it is not installed, so it is gone all the same.
constexpr std::int32_t kRemovalNotInstalled = 1605;

// The result to keep after a class's result: any failure outranks a restart
// (3010), which outranks a class not installed (1605), which outranks a
// class removed (0). Of two failures the first stays.
std::int32_t StrongerRemovalResult(std::int32_t kept, std::int32_t next);

// Whether the next class is removed after a class with this result: after
// one removed, not installed or waiting for the restart; a failure ends the
// run.
bool RemovalGoesOn(std::int32_t code);
