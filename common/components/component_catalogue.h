// The constant tables of the suite's component files: which files must carry
// the maker's signature, the groups and class identifiers they belong to,
// the groups whose updates the registry switch can stop, the controls
// entered into the browser's pre-approved list, and the class whose
// registration is checked together with its type library. Win32-free.
#pragma once

#include <cstddef>

#include "foundation/m_strings.h"

// How an installed file's signature is judged.
enum : int {
  kSignatureNotChecked = 0,  // data files and the platform's own files
  kSignatureRequired = 1,    // the maker's own files: a valid signature of a trusted signer
  kSignedByOtherVendor = 2,  // files signed by an outside vendor: not checked here
};

// One file of the suite. A file may have several rows (several groups, or
// several classes of one file); a class identifier may be on several rows.
struct CatalogueRow {
  int signaturePolicy;
  int groupNumber;
  const char* groupName;
  const char* fileName;      // without folder
  const char* classId;       // the COM class the file registers, in braces
  const char* description;   // the class's display name
  const char* ownerClassId;  // the component the file belongs to, when another file's
};

// A COM class whose registration is checked together with its type library.
struct KnownClass {
  const char* description;
  const char* classId;
  const char* typeLibId;
  const char* typeLibVersion;
};

// Class identifiers other parts of the suite are built around.
extern const char kViewerControlClassId[];  // the sample control of the demo package
extern const char kBridgeControlClassId[];  // registers per user through DllRegisterServerUser
extern const char kBridgeTypeLibId[];
extern const char kPanelControlClassId[];  // two classes of one file, ombrixpanel.dll
extern const char kPanelToolbarClassId[];
extern const char kInstallerControlClassId[];  // userregsvr.exe lives beside its server
extern const char kInstallerHelperClassId[];   // the local server that starts the user-mode installers
extern const char kInstallerServiceComponent[];
// The installer helper's two interfaces: started elevated (ILegacyServiceHelper)
// and started as the user (IPerUserServiceHelper), and its type library.
extern const char kLegacyServiceHelperInterfaceId[];
extern const char kPerUserServiceHelperInterfaceId[];
extern const char kInstallerHelperTypeLibId[];

// The catalogue, walked in order; its last row is all zero.
const CatalogueRow* CatalogueRows(std::size_t* count);

// The first row for the file name, ignoring case; null when it is not listed.
const CatalogueRow* FindCatalogueFile(const char* fileName);

// The description of the first row with exactly this class identifier and a
// description; empty when there is none or the identifier is null.
UString CatalogueComponentName(const char* classId);

// The component's description for the log: "a control" when the class
// identifier is empty or the catalogue has no name for it.
const char* DescribeComponent(const char* classId);

// Whether the registry switch governs updates of this class: its first
// catalogue row with a group name belongs to a switch-governed group. Gives
// the name to log for a skipped update (the description, or else the group).
bool IsSwitchGovernedComponent(const char* classId, UString* displayName);

// The pre-approval list's entry for the class identifier, ignoring case;
// null when the class is not one of the controls the browser may run
// without asking.
const char* FindPreApprovedControl(const char* classId);

// The known-class row for the class identifier, ignoring case; null when
// there is none.
const KnownClass* FindKnownClass(const char* classId);
