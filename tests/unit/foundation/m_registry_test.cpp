// Registry helpers against the scratch-key sandbox.
#include "foundation/m_registry.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/UClasses.h"
#include "foundation/handles.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace {

constexpr char kKey[] = "Software\\KitRegistryTest";

void SetRaw(HKEY root, const char* key, const char* name, DWORD type, const void* data, DWORD size) {
  kit::UniqueKey k;
  ASSERT_EQ(RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.put(), nullptr), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(k.get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
}

class RegistryHelpers : public ::testing::Test {
 protected:
  kittest::RegistrySandbox sandbox;
};

TEST_F(RegistryHelpers, DwordReadsNumbersAndKeepsTheDefaultOnEveryFailure) {
  kittest::MemoryLog log;
  kittest::SetRegDword(HKEY_CURRENT_USER, kKey, "n", 0x12345678);
  EXPECT_EQ(GetRegistryAsDWORDA(HKEY_CURRENT_USER, kKey, "n", 7, 0), 0x12345678u);

  // Missing key and missing value: the default, with a trace line each.
  EXPECT_EQ(GetRegistryAsDWORDA(HKEY_CURRENT_USER, "Software\\KitNoSuchKey", "n", 0xABCDu, 0), 0xABCDu);
  EXPECT_TRUE(log.Contains("48,,,, GetRegistryAsDWORDA() error opening key Software\\KitNoSuchKey error=2\n"));
  EXPECT_EQ(GetRegistryAsDWORDA(HKEY_CURRENT_USER, kKey, "missing", 0xFFFFFFFFu, 0), 0xFFFFFFFFu);
  EXPECT_TRUE(log.Contains("GetRegistryAsDWORDA() error reading value=missing from key=Software\\KitRegistryTest"));

  // The type is not examined: two bytes replace the low two bytes only.
  const BYTE two[2] = {0x34, 0x12};
  SetRaw(HKEY_CURRENT_USER, kKey, "bin2", REG_BINARY, two, sizeof two);
  EXPECT_EQ(GetRegistryAsDWORDA(HKEY_CURRENT_USER, kKey, "bin2", 0xAABBCCDDu, 0), 0xAABB1234u);

  // More than four bytes fail the read.
  kittest::SetRegString(HKEY_CURRENT_USER, kKey, "long", "123456789");
  EXPECT_EQ(GetRegistryAsDWORDA(HKEY_CURRENT_USER, kKey, "long", 5, 0), 5u);
  EXPECT_TRUE(log.Contains("error reading value=long"));
}

TEST_F(RegistryHelpers, StringConvertsEveryValueType) {
  kittest::SetRegString(HKEY_CURRENT_USER, kKey, "", "default value");
  kittest::SetRegString(HKEY_CURRENT_USER, kKey, "s", "hello");
  const char multi[] = "a\0b\0";  // two strings and the final NUL
  SetRaw(HKEY_CURRENT_USER, kKey, "multi", REG_MULTI_SZ, multi, sizeof multi);
  const char expand[] = "%TEMP%\\x";
  SetRaw(HKEY_CURRENT_USER, kKey, "expand", REG_EXPAND_SZ, expand, sizeof expand);
  kittest::SetRegDword(HKEY_CURRENT_USER, kKey, "max", 0xFFFFFFFFu);
  const BYTE big[4] = {0x00, 0x00, 0x01, 0x02};
  SetRaw(HKEY_CURRENT_USER, kKey, "big", REG_DWORD_BIG_ENDIAN, big, sizeof big);
  const BYTE bin[3] = {1, 2, 3};
  SetRaw(HKEY_CURRENT_USER, kKey, "bin", REG_BINARY, bin, sizeof bin);
  const BYTE shortDword[2] = {1, 0};
  SetRaw(HKEY_CURRENT_USER, kKey, "shortdw", REG_DWORD, shortDword, sizeof shortDword);
  SetRaw(HKEY_CURRENT_USER, kKey, "emptysz", REG_SZ, "", 0);

  EXPECT_EQ(SGetRegistryAsString(HKEY_CURRENT_USER, kKey, "", "d", 0, 0), "default value");
  EXPECT_EQ(SGetRegistryAsString(HKEY_CURRENT_USER, kKey, "s", "d", 0, 0), "hello");
  EXPECT_EQ(SGetRegistryAsString(HKEY_CURRENT_USER, kKey, "multi", "d", 0, 0), "a");
  EXPECT_EQ(SGetRegistryAsString(HKEY_CURRENT_USER, kKey, "multi", "d", 0, kRegStringJoinMulti), "a b ");
  EXPECT_EQ(SGetRegistryAsString(HKEY_CURRENT_USER, kKey, "expand", "d", 0, kRegStringJoinMulti), "%TEMP%\\x");
  EXPECT_EQ(SGetRegistryAsString(HKEY_CURRENT_USER, kKey, "expand", "d", 0, 0), "%TEMP%\\x");
  EXPECT_EQ(SGetRegistryAsString(HKEY_CURRENT_USER, kKey, "max", "d", 0, 0), "4294967295");
  EXPECT_EQ(SGetRegistryAsString(HKEY_CURRENT_USER, kKey, "big", "d", 0, 0), "258");
  EXPECT_EQ(SGetRegistryAsString(HKEY_CURRENT_USER, kKey, "bin", "d", 0, 0), "d");
  EXPECT_EQ(SGetRegistryAsString(HKEY_CURRENT_USER, kKey, "shortdw", "d", 0, 0), "d");
  EXPECT_EQ(SGetRegistryAsString(HKEY_CURRENT_USER, kKey, "emptysz", "d", 0, 0), "d");
  EXPECT_EQ(SGetRegistryAsString(HKEY_CURRENT_USER, kKey, "missing", "d", 0, 0), "d");
  EXPECT_EQ(SGetRegistryAsString(HKEY_CURRENT_USER, kKey, "missing", nullptr, 0, 0), "");
}

TEST_F(RegistryHelpers, StringRereadsALongValueWithALargerBuffer) {
  for (std::size_t length : {998u, 999u, 1000u, 5000u}) {
    std::string text(length, 'x');
    text.back() = 'E';
    kittest::SetRegString(HKEY_CURRENT_USER, kKey, "long", text);
    EXPECT_EQ(SGetRegistryAsString(HKEY_CURRENT_USER, kKey, "long", "d", 0, 0), text) << length;
  }
}

TEST_F(RegistryHelpers, StringWithoutKeyOrRootGivesTheDefault) {
  kittest::MemoryLog log;
  EXPECT_EQ(SGetRegistryAsString(HKEY_CURRENT_USER, "Software\\KitNoSuchKey", "v", "d", 0, 0), "d");
  EXPECT_TRUE(log.Lines().empty()) << "a missing key is no failure";

  EXPECT_EQ(SGetRegistryAsString(nullptr, kKey, "v", "fallback", 0, 0), "fallback");
  EXPECT_EQ(log.Count("SGetRegistryAsString() - a_hKey parameter can not be NULL"), 1u);
  EXPECT_EQ(log.Count("EXCEPTION caught: SGetRegistryAsString - EXCEPTION"), 1u);
}

TEST_F(RegistryHelpers, OpenForWriteCreatesMissingKeysWithReadAndWriteAccess) {
  kittest::MemoryLog log;
  HKEY raw = openKeyForWriteA(HKEY_CURRENT_USER, "Software\\KitNew\\Deep", 0);
  ASSERT_NE(raw, nullptr);
  kit::UniqueKey key(raw);
  EXPECT_TRUE(log.Contains("openKeyForWriteA(80000001, Software\\KitNew\\Deep) - key was created\n"));
  const DWORD v = 42;
  ASSERT_EQ(RegSetValueExA(key.get(), "w", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v),
            ERROR_SUCCESS);
  DWORD back = 0, size = sizeof back;
  EXPECT_EQ(RegQueryValueExA(key.get(), "w", nullptr, nullptr, reinterpret_cast<BYTE*>(&back), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(back, 42u);

  // An existing key is opened without a trace line.
  log.Clear();
  kit::UniqueKey again(openKeyForWriteA(HKEY_CURRENT_USER, "Software\\KitNew\\Deep", 0));
  EXPECT_TRUE(again);
  EXPECT_FALSE(log.Contains("key was created"));
}

TEST_F(RegistryHelpers, OpenForWriteFailsWithNullAndOneWarning) {
  kittest::MemoryLog log;
  // A handle that is no key at all.
  EXPECT_EQ(openKeyForWriteA(reinterpret_cast<HKEY>(0x1234), "Software\\Kit", 0), nullptr);
  EXPECT_TRUE(log.Contains("RegCreateKeyExA() error = 6, let's open it instead\n"));
  EXPECT_EQ(log.Count("2, \\m_registry.cpp, "), 1u);
  EXPECT_TRUE(log.Contains(", openKeyForWriteA, Failed to open registry key (RegOpenKeyExA() key: 0x00001234, "
                           "subkey: Software\\Kit, result: 6)\n"));
}

TEST_F(RegistryHelpers, AddKeyCreatesOnlyTheMissingLevels) {
  kittest::SetRegDword(HKEY_CURRENT_USER, "Software\\KitA\\B", "keep", 1);
  kittest::MemoryLog log;
  EXPECT_EQ(AddRegistryKeyA(HKEY_CURRENT_USER, "Software\\KitA\\B\\C\\D", 0), 0);
  EXPECT_TRUE(kittest::RegKeyExists(HKEY_CURRENT_USER, "Software\\KitA\\B\\C\\D"));
  EXPECT_TRUE(kittest::RegValueExists(HKEY_CURRENT_USER, "Software\\KitA\\B", "keep"));
  for (const char* level : {"Software", "Software\\KitA", "Software\\KitA\\B", "Software\\KitA\\B\\C",
                            "Software\\KitA\\B\\C\\D"})
    EXPECT_EQ(log.Count(std::string("AddRegistryKeyA - CreateSubKey(") + level + ")\n"), 1u) << level;
  EXPECT_EQ(log.Count("key was created"), 2u) << "only C and D are new";
}

TEST_F(RegistryHelpers, AddKeyRaisesOnBadPathsAndLeavesNothing) {
  kittest::MemoryLog log;
  EXPECT_THROW(AddRegistryKeyA(reinterpret_cast<HKEY>(0x1234), "Software\\Kit", 0), UException);
  EXPECT_TRUE(log.Contains("AddRegistryKeyA(1234, Software\\Kit) - failed to create/open key"));

  const std::string tooLong = "Software\\" + std::string(520, 'k');
  EXPECT_THROW(AddRegistryKeyA(HKEY_CURRENT_USER, tooLong.c_str(), 0), UException);
  EXPECT_THROW(AddRegistryKeyA(HKEY_CURRENT_USER, nullptr, 0), UException);
  EXPECT_FALSE(kittest::RegKeyExists(HKEY_CURRENT_USER, tooLong.substr(0, 200)));
}

TEST(RegistryRootName, NamesPredefinedRootsAndShowsOthersInHex) {
  EXPECT_EQ(SGetRootKeyName(HKEY_CLASSES_ROOT), "HKEY_CLASSES_ROOT");
  EXPECT_EQ(SGetRootKeyName(HKEY_CURRENT_USER), "HKEY_CURRENT_USER");
  EXPECT_EQ(SGetRootKeyName(HKEY_LOCAL_MACHINE), "HKEY_LOCAL_MACHINE");
  EXPECT_EQ(SGetRootKeyName(reinterpret_cast<HKEY>(0x1a2b)), "Unknown HKEY value: 0x1a2b");
}

}  // namespace
