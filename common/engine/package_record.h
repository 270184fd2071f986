// The package record, what the acquisition of a package fills in and what
// the verification and the install routes read, and what the verification
// needs from the engine besides it.
#pragma once

#include <windows.h>

#include "foundation/m_strings.h"

struct GetCABInfo {
  UString url;        // the codebase without its version suffix ("#..."); may be empty
  UString cookie;     // "RI_Zazirez=" and the session value of the request
  UString filePath;   // full path of the package file on disk (the file written)
  HWND window = nullptr;  // receiver of the progress messages
};

// Progress of a transfer, posted to the record's window while the size is
// known: the start (lParam the total / 100), a piece written (its size / 100)
// and the end, also after a failure (lParam 0).
enum : UINT {
  kProgressStartMessage = 1039,
  kProgressPieceMessage = 1040,
  kProgressEndMessage = 1041,
};

struct VerifyCABInfo {
  HWND hwnd = nullptr;  // owner of a trust dialog: the progress window
  UString serverName;   // the host the package must come from; empty: no check
  int silent = 0;       // nonzero: the user is never asked
  int uiLevel = 0;      // -1 forbids every trust dialog; 0 lets the URL's zone decide
};
