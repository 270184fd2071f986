#include "kitloader/elevation.h"

// The permission dialog and the relaunch come with the elevation support;
// until then no package needs elevation and there is nobody to wake.
bool ElevationToAdminNeeded(const char*) { return false; }

ElevationOutcome RunElevation(HWND, const char*, bool verbose) {
  ElevationOutcome outcome;
  outcome.showSuccess = verbose;
  return outcome;
}

void SignalRelaunchEvent() {}
