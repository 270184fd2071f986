#include "engine/registration_checks.h"

#include <vector>

#include "components/component_catalogue.h"
#include "components/installed_components.h"
#include "components/update_rules.h"
#include "foundation/UClasses.h"
#include "foundation/errorlog.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/m_registry.h"

namespace {

constexpr char kDistributionUnits[] = "SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\";

constexpr RegistrationState kNotRegistered = RegistrationState::kNotRegistered;
constexpr RegistrationState kIntact = RegistrationState::kIntact;
constexpr RegistrationState kBroken = RegistrationState::kBroken;

bool KeyOpens(HKEY hive, const UString& key) {
  kit::UniqueKey opened;
  return RegOpenKeyA(hive, key.c_str(), opened.put()) == ERROR_SUCCESS;
}

}  // namespace

RegistrationState CodeStoreDatabaseState(HKEY hive, const char* classId) {
  static const char kFunction[] = "USmartUpdateEx::CheckCodeStoreDatabase()";
  const UString keyPath = kDistributionUnits + UString(classId) + "\\Contains\\Files";
  kit::UniqueKey files;
  if (RegOpenKeyExA(hive, keyPath.c_str(), 0, KEY_QUERY_VALUE, files.put()) != ERROR_SUCCESS) return kNotRegistered;

  // A value name may be as long as the registry allows; one that still
  // cannot be read leaves the record broken rather than intact.
  std::vector<char> name(16384);
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    const LONG read = RegEnumValueA(files.get(), index, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr);
    if (read == ERROR_NO_MORE_ITEMS) break;
    if (read != ERROR_SUCCESS) return kBroken;
    const UString path(name.data(), static_cast<int>(nameLength));
    if (!PathExists(path)) {
      LogRecord(kLogTrace, kFunction,
                UMessage::Format("%1, %2", "registry scope",
                                 hive == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE"));
      LogRecord(kLogTrace, kFunction,
                UMessage::Format("%1, %2, %3", "required component is missing (clsid, dep_file)", classId, path));
      return kBroken;
    }
    if (!CheckFileSignature(path.c_str())) return kBroken;
  }
  return kIntact;
}

RegistrationState KnownClassState(HKEY hive, const char* classId) {
  static const char kFunction[] = "USmartUpdateEx::CheckKnownClassID()";
  const KnownClass* known = FindKnownClass(classId);
  if (!known) return kNotRegistered;

  const RegistrationState classState = ClassIdState(hive, known->classId);
  if (classState == kIntact) return kIntact;
  if (classState == kBroken) {
    LogRecord(kLogErrors, kFunction,
              UMessage::Format("%1, %2, %3", "Class ID registration is broken (hKey, CLSID)", HiveName(hive),
                               known->classId));
    return kBroken;
  }
  const RegistrationState typeLibState = TypeLibState(hive, known->typeLibId, known->typeLibVersion);
  if (typeLibState == kNotRegistered) return kNotRegistered;
  const char* problem = typeLibState == kIntact
                            ? "No Class ID, but type library is registered (hKey, CLSID, TypeLib ID)"
                            : "No Class ID and type library regisrtration is broken (hKey, CLSID, TypeLib ID)";
  LogRecord(kLogErrors, kFunction,
            UMessage::Format("%1, %2, %3, %4", problem, HiveName(hive), known->classId, known->typeLibId));
  return kBroken;
}

RegistrationState ClassIdState(HKEY hive, const char* classId) {
  static const char kFunction[] = "USmartUpdateEx::CheckClassID()";
  const UString key = "SOFTWARE\\Classes\\CLSID\\" + UString(classId);
  if (!hive || !KeyOpens(hive, key)) return kNotRegistered;

  const UString typeLib = ReadKeyDefault(hive, key + "\\TypeLib");
  const UString version = ReadKeyDefault(hive, key + "\\Version");
  if (ReadKeyDefault(hive, key + "\\InprocServer32").empty() && ReadKeyDefault(hive, key + "\\LocalServer32").empty()) {
    LogRecord(kLogErrors, kFunction,
              UMessage::Format("%1, %2", "InprocServer32 and LocalServer32 keys are missing for CLSID",
                               HiveName(hive) + "\\" + key));
    return kBroken;
  }
  if (!typeLib.empty() && !version.empty()) {
    if (TypeLibState(hive, typeLib.c_str(), version.c_str()) == kIntact) return kIntact;
    LogRecord(kLogErrors, kFunction,
              UMessage::Format("%1, %2, %3, %4", "Type library registration is broken (HKEY: CLSID, TypeLib, Version)",
                               HiveName(hive) + ": " + key, typeLib, version));
    return kBroken;
  }
  LogRecord(kLogErrors, kFunction,
            UMessage::Format("%1, %2",
                             "CLSID regisrtation is broken: 'TypeLib' or 'Version' key is mising or empty. "
                             "(Registry CLSID)",
                             HiveName(hive) + "\\" + key));
  return kBroken;
}

RegistrationState TypeLibState(HKEY hive, const char* typeLibId, const char* version) {
  static const char kFunction[] = "USmartUpdateEx::CheckTypeLib()";
  const UString key = "SOFTWARE\\Classes\\TypeLib\\" + UString(typeLibId) + "\\" + version;
  if (!hive || !KeyOpens(hive, key)) return kNotRegistered;

  const UString value = ReadKeyDefault(hive, key + "\\0\\win32");
  if (value.empty()) return kBroken;
  const UString expanded = SExpandEnvironmentStrings(value.c_str());
  if (FileFound(expanded)) return kIntact;
  LogRecord(kLogErrors, kFunction,
            UMessage::Format("%1, %2, %3, %4", "Type library file does not exist (registry, path, expanded path)",
                             HiveName(hive) + "\\" + key + "\\0\\win32", value, expanded));
  return kBroken;
}

UString HiveName(HKEY hive) {
  if (hive == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (hive == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (hive == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  return "Unknown HKEY value: " + SHex64ToString(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(hive)));
}
