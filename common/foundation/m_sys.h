// System facts.
#pragma once

// True when Windows is at least major.minor with the given service pack.
bool IsWindowsVersionAtLeast(unsigned major, unsigned minor, unsigned servicePack);
