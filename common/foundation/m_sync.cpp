#include "foundation/m_sync.h"

#include <cstdlib>
#include <cstring>

namespace {
[[noreturn]] void RaiseMallocError(long long size) {
  KL_THROW(-1, "AutoMemory::malloc", "EXCEPTION - %s, %s", "malloc error (size)",
           UString::Format("%lld", size).c_str());
}
}  // namespace

AutoMemory::AutoMemory(int size) { reset(size); }

AutoMemory::~AutoMemory() { std::free(m_pData); }

void AutoMemory::reset(int size) {
  std::free(m_pData);
  m_pData = nullptr;
  m_iSize = 0;
  if (size <= 0) return;
  void* p = std::calloc(static_cast<std::size_t>(size), 1);
  if (!p) RaiseMallocError(size);
  m_pData = static_cast<unsigned char*>(p);
  m_iSize = size;
}

void AutoMemory::grow(int extra) {
  if (!m_pData) {
    reset(extra);
    return;
  }
  if (extra <= 0) return;
  const long long total = static_cast<long long>(m_iSize) + extra;
  // The size is a signed 32-bit count: a sum beyond it cannot be allocated.
  if (total > 0x7FFFFFFF) RaiseMallocError(total);
  void* p = std::malloc(static_cast<std::size_t>(total));
  if (!p) RaiseMallocError(total);
  std::memcpy(p, m_pData, static_cast<std::size_t>(m_iSize));
  std::free(m_pData);
  m_pData = static_cast<unsigned char*>(p);
  m_iSize = static_cast<int>(total);
}

bool AcquireMutex(HANDLE mutex, DWORD timeoutMs) {
  DWORD rc = WaitForSingleObject(mutex, timeoutMs);
  return rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED;
}

UMutex::UMutex(const char* name) : m_hMutex(CreateMutexA(nullptr, FALSE, name)) {
  if (!m_hMutex) KL_THROW(static_cast<int>(GetLastError()), "UMutex::UMutex", "EXCEPTION - %s", "CreateMutex() failed");
}

UMutex::~UMutex() {
  // Has no effect unless this thread owns it.
  ReleaseMutex(m_hMutex.get());
}

UAutoMutex::UAutoMutex(const UMutex& mutex, DWORD timeoutMs) : m_hMutex(mutex.handle()) {
  if (!AcquireMutex(m_hMutex, timeoutMs))
    KL_THROW(WAIT_TIMEOUT, "UAutoMutex::UAutoMutex()", "EXCEPTION - %s", "IsAcquired failed");
}

UAutoMutex::~UAutoMutex() { ReleaseMutex(m_hMutex); }

UMutexOwner::UMutexOwner(HANDLE mutex, DWORD timeoutMs) {
  switch (WaitForSingleObject(mutex, timeoutMs)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
      m_hMutex = mutex;
      break;
    case WAIT_TIMEOUT:
      m_dwError = WAIT_TIMEOUT;
      break;
    default:
      m_dwError = GetLastError() != 0 ? GetLastError() : ERROR_INVALID_HANDLE;
  }
}

UMutexOwner::~UMutexOwner() {
  if (m_hMutex) ReleaseMutex(m_hMutex);
}
