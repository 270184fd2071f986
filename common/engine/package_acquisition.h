// The package record: what the acquisition of a package fills in and what
// the verification and the install routes read.
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
