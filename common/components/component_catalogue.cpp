#include "components/component_catalogue.h"

#include <cstring>
#include <iterator>

const char kViewerControlClassId[] = "{5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}";
const char kBridgeControlClassId[] = "{2751884B-831B-4B92-A489-CB7397D2C63A}";
const char kBridgeTypeLibId[] = "{AC3C3859-795E-47BB-BACE-0B5DC6B03DF0}";
const char kPanelControlClassId[] = "{7A1C2E90-3B4D-4E5F-8A6B-1C2D3E4F5A60}";
const char kPanelToolbarClassId[] = "{7A1C2E91-3B4D-4E5F-8A6B-1C2D3E4F5A60}";
const char kInstallerControlClassId[] = "{F57A6D66-48FB-4070-B2C9-F057C1510AF9}";
const char kInstallerHelperClassId[] = "{A1A36BF9-1CAA-43D4-BB51-0EBC7B2F64C9}";
const char kInstallerServiceComponent[] = "Service:Norvane Networks Component Installer";
const char kLegacyServiceHelperInterfaceId[] = "{01681DC8-6ACC-4BE1-AFD8-DEBB99DAD2B9}";
const char kPerUserServiceHelperInterfaceId[] = "{4DA1F393-2615-4D3D-A384-36925B54320A}";
const char kInstallerHelperTypeLibId[] = "{8405E763-27A4-406F-A2B8-2AEE3C22CAC1}";

namespace {

constexpr char kViewerGroup[] = "Ombrix Viewer";
constexpr char kBridgeGroup[] = "Ombrix Inspection Bridge";
constexpr char kPanelGroup[] = "Ombrix Panel";
constexpr char kInstallerGroup[] = "Ombrix Installer Control";
constexpr char kHelperGroup[] = "Ombrix Installer Helper";
constexpr char kServiceGroup[] = "Norvane Networks Component Installer";

const CatalogueRow kCatalogue[] = {
    {kSignatureRequired, 1, kViewerGroup, "ombrixctl.dll", kViewerControlClassId, "Ombrix Viewer Control", nullptr},
    {kSignatureNotChecked, 1, kViewerGroup, "ombrixctl.inf", nullptr, nullptr, kViewerControlClassId},
    {kSignatureNotChecked, 1, kViewerGroup, "ombrixres.dat", nullptr, nullptr, kViewerControlClassId},
    {kSignatureRequired, 2, kBridgeGroup, "ombrixbridge.dll", kBridgeControlClassId, "Ombrix Inspection Bridge Control",
     nullptr},
    {kSignatureNotChecked, 2, kBridgeGroup, "ombrixbridge.tlb", nullptr, nullptr, kBridgeControlClassId},
    {kSignedByOtherVendor, 2, kBridgeGroup, "detoured.dll", nullptr, nullptr, kBridgeControlClassId},
    // One file, two classes.
    {kSignatureRequired, 3, kPanelGroup, "ombrixpanel.dll", kPanelControlClassId, "Ombrix Panel Control", nullptr},
    {kSignatureRequired, 3, kPanelGroup, "ombrixpanel.dll", kPanelToolbarClassId, "Ombrix Panel Toolbar", nullptr},
    {kSignatureNotChecked, 3, kPanelGroup, "ombrixpanel.dat", nullptr, nullptr, kPanelControlClassId},
    {kSignatureRequired, 4, kInstallerGroup, "ombrixinst.dll", kInstallerControlClassId, "Ombrix Installer Control",
     nullptr},
    {kSignatureRequired, 4, kInstallerGroup, "userregsvr.exe", nullptr, nullptr, kInstallerControlClassId},
    {kSignatureRequired, 4, kInstallerGroup, "kitloader.exe", nullptr, nullptr, kInstallerControlClassId},
    {kSignatureRequired, 7, kHelperGroup, "ombrixhelper.exe", kInstallerHelperClassId, "Ombrix Installer Helper",
     nullptr},
    {kSignatureRequired, 7, kHelperGroup, "ombrixappinst.exe", nullptr, nullptr, kInstallerHelperClassId},
    {kSignatureRequired, 7, kHelperGroup, "ombrixmappinst.exe", nullptr, nullptr, kInstallerHelperClassId},
    {kSignatureRequired, 9, kServiceGroup, "ombrixsvc.exe", kInstallerServiceComponent, kServiceGroup, nullptr},
    {0, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
};

// The client components whose updates "EnableWebComponentsUpdate" can stop;
// the installer's own parts are always kept current.
const char* const kSwitchGovernedGroups[] = {kViewerGroup, kBridgeGroup};

// The controls the browser runs without asking once they are installed.
const char* const kPreApprovedControls[] = {kViewerControlClassId, kBridgeControlClassId, kInstallerControlClassId};

const KnownClass kKnownClasses[] = {
    {"Ombrix Inspection Bridge Control", kBridgeControlClassId, kBridgeTypeLibId, "1.0"},
};

bool Same(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }
bool SameNoCase(const char* a, const char* b) { return a && b && UString(a).EqualsNoCase(b); }

// The description of the first row with exactly this class identifier and one.
const char* FirstDescription(const char* classId) {
  for (const CatalogueRow& row : kCatalogue)
    if (row.description && Same(row.classId, classId)) return row.description;
  return nullptr;
}

}  // namespace

const CatalogueRow* CatalogueRows(std::size_t* count) {
  if (count) *count = std::size(kCatalogue);
  return kCatalogue;
}

const CatalogueRow* FindCatalogueFile(const char* fileName) {
  for (const CatalogueRow& row : kCatalogue)
    if (SameNoCase(row.fileName, fileName)) return &row;
  return nullptr;
}

UString CatalogueComponentName(const char* classId) { return UString(FirstDescription(classId)); }

const char* DescribeComponent(const char* classId) {
  const char* description = FirstDescription(classId);
  return description ? description : "a control";
}

bool IsSwitchGovernedComponent(const char* classId, UString* displayName) {
  const CatalogueRow* governing = nullptr;
  for (const CatalogueRow& row : kCatalogue) {
    if (row.groupName && Same(row.classId, classId)) {
      governing = &row;
      break;
    }
  }
  if (!governing) return false;
  bool governed = false;
  for (const char* group : kSwitchGovernedGroups) governed = governed || Same(group, governing->groupName);
  if (!governed) return false;
  if (displayName) {
    const char* description = FirstDescription(classId);
    *displayName = description ? description : governing->groupName;
  }
  return true;
}

const char* FindPreApprovedControl(const char* classId) {
  for (const char* entry : kPreApprovedControls)
    if (SameNoCase(entry, classId)) return entry;
  return nullptr;
}

const KnownClass* FindKnownClass(const char* classId) {
  for (const KnownClass& row : kKnownClasses)
    if (SameNoCase(row.classId, classId)) return &row;
  return nullptr;
}
