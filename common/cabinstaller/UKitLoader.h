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
