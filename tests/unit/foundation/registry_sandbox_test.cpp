// The sandbox itself: every registry test relies on it.
#include "support/registry_sandbox.h"

#include <gtest/gtest.h>

TEST(RegistrySandbox, RedirectsPredefinedKeysAndLeavesNothingBehind) {
  std::string root;
  {
    kittest::RegistrySandbox sandbox;
    root = sandbox.root();
    kittest::SetRegDword(HKEY_LOCAL_MACHINE, "Software\\KitSandboxProbe", "v", 7);
    kittest::SetRegDword(HKEY_CURRENT_USER, "Software\\KitSandboxProbe", "u", 8);
    EXPECT_TRUE(kittest::RegValueExists(HKEY_LOCAL_MACHINE, "Software\\KitSandboxProbe", "v"));
    EXPECT_FALSE(kittest::RegValueExists(HKEY_LOCAL_MACHINE, "Software\\KitSandboxProbe", "u"));
  }
  EXPECT_FALSE(kittest::RegKeyExists(HKEY_LOCAL_MACHINE, "Software\\KitSandboxProbe"));
  EXPECT_FALSE(kittest::RegKeyExists(HKEY_CURRENT_USER, "Software\\KitSandboxProbe"));
  EXPECT_FALSE(kittest::RegKeyExists(HKEY_CURRENT_USER, root));
}
