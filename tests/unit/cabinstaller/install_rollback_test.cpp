// The undo journal of an installation: what it puts back, in which order,
// and what it leaves once the installation is final.
#include "cabinstaller/install_rollback.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "foundation/m_registry.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace {

const std::string kKey = "Software\\Norvane\\RollbackTest";

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  WIN32_FIND_DATAA data;
  kit::UniqueFind find(FindFirstFileA((folder + "\\*").c_str(), &data));
  for (bool more = static_cast<bool>(find); more; more = FindNextFileA(find.get(), &data))
    if (data.cFileName[0] != '.') names.insert(data.cFileName);
  return names;
}

// Each change after its step is noted: a.txt replaced (noted twice), b.txt
// new, the folder sub and c.txt inside it new (undone before the folder),
// a key's value changed, one added and its subkey deleted, a machine value added.
void Change(InstallRollback& journal, const kittest::TempFolder& root) {
  for (const char* text : {"new", "newer"}) {
    EXPECT_EQ(journal.PrepareFile((root / "a.txt").c_str()), 0u);
    kittest::WriteTextFile(root / "a.txt", text);
  }
  EXPECT_EQ(journal.PrepareFile((root / "b.txt").c_str()), 0u);
  kittest::WriteTextFile(root / "b.txt", "b");
  ASSERT_TRUE(CreateDirectoryA((root / "sub").c_str(), nullptr));
  journal.MadeFolder((root / "sub").c_str());
  EXPECT_EQ(journal.PrepareFile((root / "sub\\c.txt").c_str()), 0u);
  kittest::WriteTextFile(root / "sub\\c.txt", "c");
  journal.SaveKey(HKEY_CURRENT_USER, kKey.c_str());
  kittest::SetRegDword(HKEY_CURRENT_USER, kKey, "v", 2);
  kittest::SetRegDword(HKEY_CURRENT_USER, kKey, "w", 3);
  RegDeleteTreeA(HKEY_CURRENT_USER, (kKey + "\\Kept").c_str());
  journal.SaveValue(HKEY_LOCAL_MACHINE, kKey.c_str(), "n");
  kittest::SetRegDword(HKEY_LOCAL_MACHINE, kKey, "n", 4);
}

}  // namespace

TEST(InstallRollback, UndoesEveryStepLastFirstOrLeavesTheChangesWhenCommitted) {
  kittest::RegistrySandbox sandbox;
  kittest::TempFolder root;
  for (bool commit : {false, true}) {
    SCOPED_TRACE(commit ? "committed" : "rolled back");
    kittest::WriteTextFile(root / "a.txt", "old");
    kittest::SetRegDword(HKEY_CURRENT_USER, kKey, "v", 1);
    kittest::SetRegDword(HKEY_CURRENT_USER, kKey + "\\Kept", "k", 1);
    InstallRollback journal;
    Change(journal, root);
    EXPECT_FALSE(journal.empty());
    commit ? journal.Commit() : journal.Rollback();
    EXPECT_TRUE(journal.empty());
    // Nothing moved aside is left either way.
    const std::set<std::string> left = commit ? std::set<std::string>{"a.txt", "b.txt", "sub"} : std::set<std::string>{"a.txt"};
    EXPECT_EQ(Names(root.path()), left);
    EXPECT_EQ(kittest::ReadTextFile(root / "a.txt"), commit ? "newer" : "old");
    EXPECT_EQ(GetRegistryAsDWORDA(HKEY_CURRENT_USER, kKey.c_str(), "v", 0, 0), commit ? 2u : 1u);
    EXPECT_EQ(kittest::RegValueExists(HKEY_CURRENT_USER, kKey, "w"), commit);
    EXPECT_EQ(kittest::RegValueExists(HKEY_CURRENT_USER, kKey + "\\Kept", "k"), !commit);
    EXPECT_EQ(kittest::RegValueExists(HKEY_LOCAL_MACHINE, kKey, "n"), commit);
  }
}
