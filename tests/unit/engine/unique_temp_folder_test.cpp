// Private temporary folders: their names, their one backslash, and the
// descriptor texts. (Wine keeps no security descriptor on folders, so the
// descriptor a folder gets cannot be read back here.)
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <set>

#include "engine/USmartUpdateEx.h"
#include "support/test_support.h"

namespace {

TEST(UniqueTempFolder, NamesSeparatorAndDescriptor) {
  kittest::TempFolder base;
  const std::regex name(R"(\\Norvane_TMP_(\d{1,3}){8}(_tmp1)?$)");
  std::set<std::string> made;
  for (const std::string& root : {base.path(), base.path() + "\\"}) {
    for (const char* suffix : {"", "_tmp1"}) {
      UString folder;
      ASSERT_EQ(0, USmartUpdateEx::CreateUniqueTempFolder(root.c_str(), &folder, suffix));
      const std::string path = folder.c_str();
      EXPECT_EQ(base.path() + "\\Norvane_TMP_", path.substr(0, base.path().size() + 13)) << path;
      EXPECT_TRUE(std::regex_search(path, name)) << path;
      EXPECT_EQ(std::string(suffix), path.substr(path.size() - std::strlen(suffix)));
      EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
      made.insert(path);
    }
  }
  EXPECT_EQ(4u, made.size());

  kittest::MemoryLog log;
  SECURITY_ATTRIBUTES attributes;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const HRESULT bad = GetSecurityAttributes("D:(Z;;;;;nonsense)", &attributes, &descriptor);
  EXPECT_EQ(0x80070000u, static_cast<unsigned>(bad) & 0xFFFF0000u);
  EXPECT_TRUE(log.Contains("Unable to Get security descriptor for the temporary folder (error: "));

  UString folder = "kept";
  EXPECT_THROW(USmartUpdateEx::CreateUniqueTempFolder((base / "missing\\deeper").c_str(), &folder, ""), UException);
  EXPECT_EQ("", folder);
}

}  // namespace
