#include "foundation/nofollow_delete.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

// A tree with what an attacker may plant in a folder we delete: a read-only
// file, a subfolder, a link to a folder elsewhere. (A Unix link to a file is
// no reparse point under Wine, so it stands for no Windows link.)
struct PlantedTree {
  kittest::TempFolder root;
  kittest::TempFolder elsewhere;
  PlantedTree() {
    kittest::WriteTextFile(elsewhere / "precious.txt", "keep me");
    kittest::WriteTextFile(root / "plain.txt", "x");
    kittest::WriteTextFile(root / "readonly.txt", "x");
    SetFileAttributesA((root / "readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    CreateDirectoryA((root / "sub").c_str(), nullptr);
    kittest::WriteTextFile(root / "sub\\inner.txt", "x");
    EXPECT_TRUE(kittest::MakeUnixLink(elsewhere.path(), root / "sub\\folderlink"));
  }
  ~PlantedTree() {
    kittest::RemoveUnixLink(root / "sub\\folderlink");
  }
  bool PreciousIntact() { return kittest::ReadTextFile(elsewhere / "precious.txt") == "keep me"; }
  // Everything went, but for a link the platform cannot open as itself,
  // which is then left with its folder; its target never changes.
  void ExpectGoneButTheLink(DWORD result) {
    EXPECT_TRUE(PreciousIntact());
    EXPECT_FALSE(kittest::FileExists(root / "plain.txt") || kittest::FileExists(root / "readonly.txt") ||
                 kittest::FileExists(root / "sub\\inner.txt"));
    if (result == 0) {
      EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(root.path().c_str()));
    } else {
      EXPECT_EQ(static_cast<DWORD>(ERROR_CANT_ACCESS_FILE), result);
      EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((root / "sub\\folderlink").c_str()));
    }
  }
};

TEST(NoFollowDelete, ATreeGoesWithItsLinksButNothingTheyPointTo) {
  PlantedTree tree;
  kit::FileIdentity identity;
  ASSERT_TRUE(kit::ReadFileIdentity(tree.root.path().c_str(), &identity));

  // Another folder's identity: nothing is touched.
  kit::FileIdentity other;
  ASSERT_TRUE(kit::ReadFileIdentity(tree.elsewhere.path().c_str(), &other));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_INVALID), kit::DeleteTreeNoFollow(tree.root.path().c_str(), &other, true));
  EXPECT_TRUE(kittest::FileExists(tree.root / "plain.txt"));

  tree.ExpectGoneButTheLink(kit::DeleteTreeNoFollow(tree.root.path().c_str(), &identity, true));
}

TEST(NoFollowDelete, AHeldFolderCannotBeMovedAwayAndGoesThroughItsHandle) {
  PlantedTree tree;
  kit::UniqueFile held = kit::OpenNoFollow(tree.root.path().c_str(), DELETE | FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_TRUE(held);
  const std::string moved = tree.root.path() + "_moved";
  EXPECT_FALSE(MoveFileA(tree.root.path().c_str(), moved.c_str()));

  // A single file through its identity: the wrong one stays.
  kit::FileIdentity plain;
  ASSERT_TRUE(kit::ReadFileIdentity((tree.root / "plain.txt").c_str(), &plain));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_INVALID), kit::DeleteNoFollow((tree.root / "readonly.txt").c_str(), &plain));
  EXPECT_EQ(0u, kit::DeleteNoFollow((tree.root / "readonly.txt").c_str()));

  tree.ExpectGoneButTheLink(kit::DeleteHeldFolder(&held, tree.root.path().c_str()));
  EXPECT_FALSE(held);
}

}  // namespace
