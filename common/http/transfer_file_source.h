// A transfer source for a local file, named by a "file://" URL or a plain path
// of an existing file. Any other URL is handed on to the network source it is
// built with.
#pragma once

#include <windows.h>

#include <atomic>

#include "foundation/handles.h"
#include "http/transfer_source.h"

class FileSource : public TransferSource {
 public:
  explicit FileSource(TransferSource& network) : m_network(network) {}

  // 1 http, 2 https, 3 ftp, 4 a local file; 0 before the first open.
  int Scheme() const { return m_iScheme; }

  void Open(const UString& url) override;
  int Read(void* buffer, DWORD size) override;
  bool IsOpen() override;
  DWORD ContentLength() override;
  // Closes the file, then the network source.
  void Close() override;
  DWORD LastError() const override { return m_bLocal ? m_dwLastError.load() : m_network.LastError(); }

 private:
  bool FileMode() const;

  TransferSource& m_network;
  std::atomic<int> m_iScheme{0};
  // The last open or read was this source's own, not the network's.
  std::atomic<bool> m_bLocal{false};
  std::atomic<DWORD> m_dwLastError{0};
  kit::UniqueFile m_hFile;
};
