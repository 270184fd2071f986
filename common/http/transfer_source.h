// Where a transfer's bytes come from: an HTTP(S) request or a local file.
// Opened and read on the transfer worker; the caller asks whether it is open,
// how long it is, and closes it.
#pragma once

#include <windows.h>

#include "foundation/m_strings.h"

class TransferSource {
 public:
  virtual ~TransferSource() = default;

  // Opens `url` (on the worker). LastError() tells how it went; a source
  // that failed is closed again.
  virtual void Open(const UString& url) = 0;
  // Up to `size` bytes into `buffer` (on the worker): the count, 0 at the end
  // of the data, -2 on failure (LastError() tells why).
  virtual int Read(void* buffer, DWORD size) = 0;
  virtual bool IsOpen() = 0;
  // The length the source announces, 0 when it is not open or announces none.
  virtual DWORD ContentLength() = 0;
  virtual void Close() = 0;
  // The system or library error of the last operation, 0 on success.
  virtual DWORD LastError() const = 0;
};
