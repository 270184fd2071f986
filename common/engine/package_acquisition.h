// Package acquisition: brings the request's own copy of a package, from a
// local path or an HTTP(S) URL, into its private temporary folder.
#pragma once

#include <windows.h>

#include <functional>

#include "engine/package_record.h"
#include "engine/request_state.h"
#include "foundation/m_strings.h"

class URLConnectEx;

// How a transfer is made.
struct AcquisitionSettings {
  HWND window = nullptr;   // receives the progress messages; owns the network dialogs
  UString userAgent;       // the transfer's user agent when not empty
  bool silent = false;     // no network dialogs
  DWORD receiveTimeoutMs = 300000;  // the longest wait for the next piece of data
  UString sessionValue;    // sent as the "RI_Zazirez" cookie
};

class PackageAcquisition {
 public:
  // `folder` is the request's private folder; `stopRequested` is asked after
  // every piece of a transfer.
  PackageAcquisition(const AcquisitionSettings& settings, RequestTempFolder& folder,
                     std::function<bool()> stopRequested);

  // The request's package: the VPN client's tunnel package when the codebase
  // names it and it is there, else the codebase's. Raises on failure.
  UString Acquire(const UString& codebase, GetCABInfo* request);
  // Copies or downloads the codebase's package into a new private folder,
  // fills the package record and returns the file's full path; raises on
  // failure, leaving no folder behind.
  UString Download(const char* codebase, GetCABInfo* request);
  // Streams the record's url into its file path: 0, or the code of what
  // failed (the thread's last error holds the last system error).
  int Load(GetCABInfo* request);

 private:
  UString TempBase(const UString& fileName, const char* codebase);
  void MakeFolder(const UString& tempBase);
  HANDLE OpenTarget(const UString& path);
  void Connect(URLConnectEx& connection, const GetCABInfo& request);
  unsigned long long Stream(URLConnectEx& connection, HANDLE file, HWND window);
  void CheckComplete(unsigned long long received, DWORD total, const UString& url);

  AcquisitionSettings m_settings;
  RequestTempFolder& m_folder;
  std::function<bool()> m_stopRequested;
  // The system error a failed transfer leaves as the thread's last error.
  DWORD m_dwKeptError = 0;
  bool m_bNotify = false;
};
