// The update decision: whether a requested component is missing, broken,
// older than requested or current, and in which registry scope it is
// registered.
#pragma once

#include <windows.h>

#include "engine/engine_enums.h"
#include "foundation/m_strings.h"

// The bits of the installed scope mask.
enum : DWORD { kRegisteredPerMachine = 1, kRegisteredPerUser = 2 };

// Where the class is registered: kRegisteredPerMachine under the machine
// hive, kRegisteredPerUser under the user hive.
DWORD InstalledScopeMask(const char* classId, HKEY machineHive, HKEY userHive);

// What the engine's settings add to a request's decision.
struct DecisionSettings {
  int policy = 0;             // 2: installed components are never updated
  bool checkCodebase = true;  // the codebase must be an http or https URL
  bool inService = false;     // inside the Installer Service: no codebase check
};

class UpdateDecider {
 public:
  // The component is a CLSID in braces or "service:<name>"; the codebase
  // carries the requested version.
  UpdateDecider(const char* classId, const char* codebase);

  // What the component needs.
  UpdateDecision Decide() const;
  // The same after the registry switch that can stop updates of installed
  // client components.
  UpdateDecision DecideWithSwitch() const;
  // Whether a request with this decision is carried out. With the codebase
  // check on, raises UException for a codebase that is not an http or https
  // URL, whatever the decision.
  bool Proceed(UpdateDecision decision, const DecisionSettings& settings) const;

 private:
  // Whether a registration of the installed component is broken.
  bool RegistrationBroken(const UString& path, bool elevated) const;
  void CheckCodebase() const;

  UString m_strClassId;
  UString m_strCodebase;
};
