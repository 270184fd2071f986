// Private temporary folders: their names, their one backslash, their
// descriptors, and the hold that keeps them in place until they are removed.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <set>

#include "foundation/UClasses.h"
#include "foundation/temp_folders.h"
#include "support/test_support.h"

namespace {

TEST(UniqueTempFolder, NamesSeparatorAndDescriptor) {
  kittest::TempFolder base;
  const std::regex name(R"(\\Norvane_TMP_(\d{1,3}){8}(_tmp1)?$)");
  std::set<std::string> made;
  for (const std::string& root : {base.path(), base.path() + "\\"}) {
    for (const char* suffix : {"", "_tmp1"}) {
      UString folder;
      ASSERT_EQ(0, CreateUniqueTempFolder(root.c_str(), &folder, suffix));
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
  EXPECT_THROW(CreateUniqueTempFolder((base / "missing\\deeper").c_str(), &folder, ""), UException);
  EXPECT_EQ("", folder);
}

// The elevated descriptors are protected ("D:P": nothing of the user's %TEMP%
// is merged in) and the high one is labelled, as the platform reads them.
// (Wine keeps no descriptor on a folder: it reports one made from the Unix
// permissions, so a made folder itself cannot be read back here.)
TEST(UniqueTempFolder, ElevatedDescriptorsAreProtectedAndLabelled) {
  const struct {
    DWORD level;
    const char* dacl;
    const char* label;  // no write, read or execute up, inherited by all below
  } table[] = {
      {0x4000, "D:P(D;OICI;GA;;;BG)(D;OICI;GA;;;AN)(A;OICI;SD;;;BA)(A;OICI;GA;;;SY)", ""},
      {0x3000, "D:P(D;OICI;GA;;;BG)(D;OICI;GA;;;AN)(A;OICI;GA;;;BA)", "7 3 S-1-16-12288"},
  };
  EXPECT_EQ(nullptr, TempFolderDescriptor(0x2000));
  kittest::TempFolder base;
  for (const auto& row : table) {
    SCOPED_TRACE(row.level);
    SECURITY_ATTRIBUTES attributes;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(S_OK, GetSecurityAttributes(TempFolderDescriptor(row.level), &attributes, &descriptor));
    kit::UniqueLocal owner(descriptor);
    char* text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, &text, nullptr));
    kit::UniqueLocal textOwner(text);
    EXPECT_EQ(row.dacl, std::string(text));
    BOOL present = FALSE, defaulted = FALSE;
    PACL sacl = nullptr;
    void* ace = nullptr;
    char* sid = nullptr;
    std::string label;
    if (GetSecurityDescriptorSacl(descriptor, &present, &sacl, &defaulted) && present && sacl && GetAce(sacl, 0, &ace)) {
      const auto* entry = static_cast<const SYSTEM_MANDATORY_LABEL_ACE*>(ace);
      if (entry->Header.AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE &&
          ConvertSidToStringSidA(const_cast<DWORD*>(&entry->SidStart), &sid))
        label = std::to_string(entry->Mask) + " " + std::to_string(entry->Header.AceFlags) + " " + sid;
      LocalFree(sid);
    }
    EXPECT_EQ(row.label, label);
    EXPECT_TRUE(CreateDirectoryA((base / std::to_string(row.level)).c_str(), &attributes));
  }
}

// The folder cannot be moved away while it is held; where the hold is lost,
// a folder or a link put in its place is never entered nor removed.
TEST(UniqueTempFolder, HeldUntilRemovedAndNothingPutInItsPlaceIsTouched) {
  kittest::TempFolder base, elsewhere;
  kittest::WriteTextFile(elsewhere / "canary.txt", "keep");
  for (const bool link : {false, true}) {
    SCOPED_TRACE(link);
    UString folder;
    TempFolderHold hold;
    ASSERT_EQ(0, CreateUniqueTempFolder(base.path().c_str(), &folder, "", &hold));
    const std::string path = folder.c_str(), away = path + "_away";
    kittest::WriteTextFile(path + "\\ours.txt", "x");
    EXPECT_FALSE(MoveFileA(path.c_str(), away.c_str()));
    hold.handle.reset();
    ASSERT_TRUE(MoveFileA(path.c_str(), away.c_str()));
    if (link) {
      ASSERT_TRUE(kittest::MakeUnixLink(elsewhere.path(), path));
    } else {
      ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
      kittest::WriteTextFile(path + "\\canary.txt", "keep");
    }
    RemoveTempFolder(&folder, &hold);
    EXPECT_EQ("", folder);
    EXPECT_EQ("keep", kittest::ReadTextFile((link ? elsewhere.path() : path) + "\\canary.txt"));
    EXPECT_TRUE(kittest::FileExists(away + "\\ours.txt"));
    if (link) kittest::RemoveUnixLink(path);
  }
}

}  // namespace
