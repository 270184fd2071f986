// The in-process cabinet installer.
#pragma once

#include <windows.h>

#include <atomic>

#include "foundation/UClasses.h"
#include "foundation/string_lists.h"

class UKitLoader : public UObject {
 public:
  UKitLoader();
  ~UKitLoader() override = default;

  // Appends the names of all sections of an INF file. 0 or an error code.
  static int GetSectionNames(UStringList* names, const char* infPath);

  // Appends the key/value pairs of one section, preferring a platform- and
  // language-decorated variant when platformTag is not null. An absent
  // section is no failure. 0 or an error code.
  static int GetInfSection(UStringPairList* pairs, const char* section, const char* infPath,
                           const char* platformTag, const char* languageTag);

  // Installs one verified cabinet in this process. flags: 1 a per-machine,
  // 2 a per-user installation is allowed. 0 or an error code.
  int Install(const UString& cabPath, int flags, HWND owner);

  // Unpacks a cabinet into the folder it lies in, keeping its sub-folders,
  // file times and basic attributes; a cabinet whose stored names would
  // leave that folder is refused before anything is written. 0; 2 (no path,
  // cannot open, extraction failed or stopped); 8 (no cabinet library);
  // 87 (not a cabinet); 161 (a stored name is unsafe). Sets m_strCabFolder.
  int ExtractCAB(const char* cabPath);

  // The cabinet library's file notifications: open the output file of a
  // stored name (a descriptor, or -1 to abort), and close it and restore its
  // time and attributes (TRUE, or -1 when a stop was requested).
  int OpenExtractedFile(const char* storedName);
  int CloseExtractedFile(int fd, const char* storedName, unsigned short date, unsigned short time,
                         unsigned short attributes);

  // The folder of the cabinet being extracted, ending with a backslash.
  UString m_strCabFolder;

  // Decoration tags for INF sections, fixed at construction.
  UString m_strOSName;
  UString m_strLanguageId;

  // Settings written by the update engine before an installation.
  std::atomic<bool> m_bRequestToStop{false};
  HWND m_hWndOwner = nullptr;
  bool m_bPerUserAllowed = false;
  bool m_bUIAllowed = true;
  UString m_strCodebase;
};
