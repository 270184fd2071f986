// Scoped memory and named mutexes.
#pragma once

#include <windows.h>

#include "foundation/UClasses.h"
#include "foundation/handles.h"

// An owned, zero-filled heap buffer. Allocation failures raise UException
// (code -1, "AutoMemory::malloc"); nothing is left half allocated.
class AutoMemory : public UObject {
 public:
  AutoMemory() = default;
  explicit AutoMemory(int size);
  ~AutoMemory() override;
  AutoMemory(const AutoMemory&) = delete;
  AutoMemory& operator=(const AutoMemory&) = delete;

  // Frees the buffer; a size above 0 allocates a new zero-filled one.
  void reset(int size);
  // Enlarges the buffer by `extra` bytes, keeping its contents (the added
  // bytes are not cleared); without a buffer, as reset(extra). On failure
  // the old buffer survives.
  void grow(int extra);

  unsigned char* data() const { return m_pData; }
  int size() const { return m_iSize; }

 private:
  unsigned char* m_pData = nullptr;
  int m_iSize = 0;
};

// A named mutex, created or opened, not owned.
class UMutex {
 public:
  explicit UMutex(const char* name);
  ~UMutex();
  UMutex(const UMutex&) = delete;
  UMutex& operator=(const UMutex&) = delete;
  HANDLE handle() const { return m_hMutex.get(); }

 private:
  kit::UniqueHandle m_hMutex;
};

// Holds a UMutex for its lifetime. An abandoned mutex counts as taken; a
// wait that times out raises UException with code 258 (WAIT_TIMEOUT).
class UAutoMutex {
 public:
  UAutoMutex(const UMutex& mutex, DWORD timeoutMs);
  ~UAutoMutex();
  UAutoMutex(const UAutoMutex&) = delete;
  UAutoMutex& operator=(const UAutoMutex&) = delete;

 private:
  HANDLE m_hMutex;
};

// Holds a mutex for its lifetime, or not at all when the wait fails; never
// raises, for the code that must not (the log). An abandoned mutex counts as
// taken.
class UMutexOwner {
 public:
  struct AlreadyOwned {};
  UMutexOwner(HANDLE mutex, DWORD timeoutMs);
  // Takes over a mutex the caller's own wait has already acquired.
  UMutexOwner(HANDLE mutex, AlreadyOwned) : m_hMutex(mutex) {}
  ~UMutexOwner();
  UMutexOwner(const UMutexOwner&) = delete;
  UMutexOwner& operator=(const UMutexOwner&) = delete;
  bool owned() const { return m_hMutex != nullptr; }
  // Why the wait failed: WAIT_TIMEOUT or the system's error; 0 when owned.
  DWORD error() const { return m_dwError; }

 private:
  HANDLE m_hMutex = nullptr;
  DWORD m_dwError = 0;
};

// Waits for a mutex; true when it was acquired or abandoned.
bool AcquireMutex(HANDLE mutex, DWORD timeoutMs);
