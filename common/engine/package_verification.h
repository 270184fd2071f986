// What the verification of a package needs from the engine besides the
// package record.
#pragma once

#include <windows.h>

#include "foundation/m_strings.h"

struct VerifyCABInfo {
  HWND hwnd = nullptr;  // owner of a trust dialog: the progress window
  UString serverName;   // the host the package must come from; empty: no check
  int silent = 0;       // nonzero: the user is never asked
  int uiLevel = 0;      // -1 forbids every trust dialog; 0 lets the URL's zone decide
};
