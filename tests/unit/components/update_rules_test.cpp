// The update decision's pure rules and the catalogue's lookups, from tables.
#include "components/update_rules.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "components/component_catalogue.h"

namespace {

constexpr std::uint32_t V(unsigned a, unsigned b) { return a << 16 | b; }

TEST(UpdateRules, VersionsAndSwitch) {
  EXPECT_FALSE(IsRequestedVersionNewer(V(1, 2), V(3, 4), V(1, 2), V(3, 4)));
  EXPECT_TRUE(IsRequestedVersionNewer(V(1, 2), V(3, 4), V(1, 2), V(3, 5)));
  EXPECT_FALSE(IsRequestedVersionNewer(V(1, 2), V(3, 5), V(1, 2), V(3, 4)));
  EXPECT_FALSE(IsRequestedVersionNewer(V(1, 0), 0, 0, 0));
  EXPECT_TRUE(IsRequestedVersionNewer(V(1, 2), 0xFFFFFFFF, V(1, 3), 0));
  EXPECT_FALSE(IsRequestedVersionNewer(0x80000000, 0, 0x7FFFFFFF, 0xFFFFFFFF));  // unsigned throughout

  auto switched = [](int decision, std::uint32_t value, const char* classId, int expected, const char* name) {
    UString skipped;
    EXPECT_EQ(DecisionAfterUpdateSwitch(decision, value, classId, &skipped), expected) << classId << " " << value;
    EXPECT_EQ(skipped, name) << classId;
  };
  switched(1, 0, kViewerControlClassId, 0, "Ombrix Viewer Control");
  switched(1, 0, kBridgeControlClassId, 0, "Ombrix Inspection Bridge Control");
  switched(1, 1, kViewerControlClassId, 1, "");
  switched(2, 0, kViewerControlClassId, 2, "");
  switched(1, 0, "{5c2b7e41-9a3d-4f6b-8e21-7d4c0a9b1e36}", 1, "");  // class identifiers match exactly
  switched(1, 0, kInstallerControlClassId, 1, "");                  // the installer's parts stay current
  switched(1, 0, "{00000000-0000-0000-0000-000000000000}", 1, "");
  switched(1, 0, "", 1, "");
}

TEST(UpdateRules, ServerCommandLines) {
  const std::set<std::string> files = {"C:\\Program Files\\Ombrix\\helper.exe"};
  auto resolve = [&](const char* command) {
    return ResolveServerCommand(command, [&](const UString& p) { return files.count(p.str()) > 0; }).str();
  };
  EXPECT_EQ(resolve("\"C:\\Program Files\\Ombrix\\helper.exe\" /A"), "C:\\Program Files\\Ombrix\\helper.exe");
  EXPECT_EQ(resolve("\"C:\\open quote.exe"), "C:\\open quote.exe");
  EXPECT_EQ(resolve("C:\\Program Files\\Ombrix\\helper.exe /Embedding -x"), "C:\\Program Files\\Ombrix\\helper.exe");
  EXPECT_EQ(resolve("C:\\Program Files\\gone.exe /x"), "C:\\Program");

  const char dpf[] = "C:\\windows\\Downloaded Program Files";
  for (const char* inside : {"C:\\windows\\Downloaded Program Files\\ombrixctl.dll",
                             "c:\\WINDOWS\\downloaded program files\\sub\\x.dll"})
    EXPECT_TRUE(IsInFolder(inside, dpf) && IsInFolder(inside, std::string(dpf) + "\\")) << inside;
  for (const char* outside : {"C:\\windows\\Downloaded Program Files", "C:\\windows\\Downloaded Program Files2\\x.dll",
                              "C:\\windows\\system32\\x.dll", ""})
    EXPECT_FALSE(IsInFolder(outside, dpf)) << outside;
  EXPECT_FALSE(IsInFolder("C:\\x.dll", ""));
}

TEST(ComponentCatalogue, LookupsAndTheTablesAgree) {
  ASSERT_NE(FindCatalogueFile("OmbrixCtl.DLL"), nullptr);
  EXPECT_EQ(FindCatalogueFile("OmbrixCtl.DLL")->signaturePolicy, kSignatureRequired);
  EXPECT_EQ(FindCatalogueFile("detoured.dll")->signaturePolicy, kSignedByOtherVendor);
  EXPECT_EQ(CatalogueComponentName("{5c2b7e41-9a3d-4f6b-8e21-7d4c0a9b1e36}"), "");
  EXPECT_STREQ(DescribeComponent(kInstallerServiceComponent), "Norvane Networks Component Installer");
  EXPECT_STREQ(DescribeComponent(nullptr), "a control");
  EXPECT_STREQ(FindPreApprovedControl("{5c2b7e41-9a3d-4f6b-8e21-7d4c0a9b1e36}"), kViewerControlClassId);
  EXPECT_EQ(FindPreApprovedControl(kInstallerHelperClassId), nullptr);

  // Owners and pre-approved controls are catalogue classes.
  std::size_t count = 0;
  const CatalogueRow* rows = CatalogueRows(&count);
  EXPECT_EQ(rows[count - 1].fileName, nullptr);
  std::set<std::string> classes;
  for (std::size_t i = 0; i + 1 < count; ++i) classes.insert(rows[i].classId ? rows[i].classId : "");
  for (std::size_t i = 0; i + 1 < count; ++i)
    EXPECT_TRUE(!rows[i].ownerClassId || classes.count(rows[i].ownerClassId)) << rows[i].fileName;
  for (const char* id : {kViewerControlClassId, kBridgeControlClassId, kInstallerControlClassId})
    EXPECT_TRUE(classes.count(FindPreApprovedControl(id))) << id;
}

}  // namespace
