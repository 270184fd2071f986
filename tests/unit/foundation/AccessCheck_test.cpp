// The access check against real objects under Wine (which grants whatever a
// descriptor allows the administrator it runs as). Denials go through the
// test build (tests/seam/).
#include "foundation/AccessCheck.h"

#include <gtest/gtest.h>

#include <aclapi.h>

#include "foundation/handles.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace {

TEST(AccessCheck, ExistingFolderGrantsReadAndWriteWithTheProcessToken) {
  kittest::TempFolder temp;
  kittest::MemoryLog log;
  // Not impersonating: the thread has no token of its own.
  kit::UniqueHandle threadToken;
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, threadToken.put()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_TOKEN), GetLastError());

  EXPECT_TRUE(UAccessCheck::CheckAccess(temp.path().c_str(), SE_FILE_OBJECT, GENERIC_READ | GENERIC_WRITE));
  EXPECT_TRUE(log.Contains("48, ") &&
              log.Contains("UAccessCheck::CheckAccess, Access to " + temp.path() + " granted (access: 1180063)"))
      << testing::PrintToString(log.Lines());

  kit::UniqueHandle token(UAccessCheck::GetCurrentToken());
  ASSERT_TRUE(token);
  SECURITY_IMPERSONATION_LEVEL level = SecurityAnonymous;
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token.get(), TokenImpersonationLevel, &level, sizeof level, &size));
  EXPECT_EQ(SecurityIdentification, level);
}

TEST(AccessCheck, ImpersonatingThreadIsCheckedWithItsOwnToken) {
  kittest::TempFolder temp;
  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  auto revert = kit::MakeScopeGuard([] { RevertToSelf(); });
  kit::UniqueHandle threadToken;
  EXPECT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, threadToken.put()));
  EXPECT_TRUE(UAccessCheck::CheckAccess(temp.path().c_str(), SE_FILE_OBJECT, GENERIC_READ));
  kit::UniqueHandle token(UAccessCheck::GetCurrentToken());
  EXPECT_TRUE(token);
}

TEST(AccessCheck, MissingObjectIsLoggedAsAnErrorAndDenied) {
  kittest::TempFolder temp;
  kittest::MemoryLog log;
  EXPECT_FALSE(UAccessCheck::CheckAccess((temp / "missing").c_str(), SE_FILE_OBJECT, GENERIC_READ));
  EXPECT_TRUE(log.Contains("1, ") &&
              log.Contains("Failed to get security info for " + (temp / "missing") + " (error: 2)"));
  EXPECT_FALSE(UAccessCheck::CheckAccess(nullptr, SE_FILE_OBJECT, GENERIC_READ));
  EXPECT_FALSE(UAccessCheck::CheckAccess("", SE_FILE_OBJECT, GENERIC_READ));
}

TEST(AccessCheck, RegistryKeysByTheirPredefinedNames) {
  kittest::RegistrySandbox sandbox;
  kittest::SetRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft", "probe", "x");
  kittest::MemoryLog log;
  EXPECT_TRUE(UAccessCheck::CheckAccess("MACHINE\\SOFTWARE\\Microsoft", SE_REGISTRY_KEY, KEY_READ | KEY_WRITE));
  EXPECT_TRUE(log.Contains("Access to MACHINE\\SOFTWARE\\Microsoft granted (access: 131103)"))
      << testing::PrintToString(log.Lines());
  EXPECT_FALSE(UAccessCheck::CheckAccess("MACHINE\\SOFTWARE\\KitMissingKey", SE_REGISTRY_KEY, KEY_READ));
  EXPECT_TRUE(log.Contains("Failed to get security info for MACHINE\\SOFTWARE\\KitMissingKey (error: 2)"));
  EXPECT_FALSE(UAccessCheck::CheckAccess("NOWHERE\\SOFTWARE", SE_REGISTRY_KEY, KEY_READ));
}

TEST(AccessCheck, OtherObjectTypesMapNoGenericRights) {
  kittest::TempFolder temp;
  kittest::MemoryLog log;
  // A file checked as a kernel object: GENERIC_READ stays unmapped and
  // AccessCheck refuses it (Windows says 1360; Wine 8 says 998).
  EXPECT_FALSE(UAccessCheck::CheckAccess(temp.path().c_str(), SE_KERNEL_OBJECT, GENERIC_READ));
  EXPECT_TRUE(log.Contains("2, ") && log.Contains("Access check failed for " + temp.path() + " (error: "))
      << testing::PrintToString(log.Lines());
}

}  // namespace
