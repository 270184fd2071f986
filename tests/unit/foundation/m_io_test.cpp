// File-system helpers against real files and folders under Wine.
#include "foundation/m_io.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/UClasses.h"
#include "foundation/handles.h"
#include "support/platform_facts_support.h"
#include "support/test_support.h"

namespace {

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string WithoutPrefix(const std::string& path) { return path.rfind("\\\\?\\", 0) == 0 ? path.substr(4) : path; }

TEST(CreateSubFolder, CreatesEveryMissingLevelAndReportsTheLast) {
  kittest::TempFolder temp;
  kittest::MemoryLog log;
  EXPECT_NE(0, createSubFolder(temp.path().c_str(), "one"));
  EXPECT_TRUE(IsFolder(temp / "one"));

  EXPECT_NE(0, createSubFolder((temp.path() + "\\").c_str(), "\\\\one\\two\\\\three/"));
  EXPECT_TRUE(IsFolder(temp / "one\\two\\three"));
  EXPECT_EQ(1u, log.Count("CreateDirectory(" + (temp / "one") + ") already exists"));
  EXPECT_EQ(1u, log.Count("CreateDirectory(" + (temp / "one\\two\\three") + ") succeed"));

  log.Clear();
  EXPECT_EQ(0, createSubFolder(temp.path().c_str(), "one\\two\\three"));
  EXPECT_EQ(3u, log.Count("already exists"));
  for (const std::string& line : log.Lines()) EXPECT_EQ(0u, line.find("48,")) << line;
}

TEST(CreateSubFolder, StopsAtALevelThatCannotBeCreated) {
  kittest::TempFolder temp;
  kittest::WriteTextFile(temp / "blocker", "a file where a folder should go");
  kittest::MemoryLog log;
  EXPECT_EQ(0, createSubFolder(temp.path().c_str(), "blocker\\below"));
  EXPECT_FALSE(IsFolder(temp / "blocker"));
  EXPECT_FALSE(kittest::FileExists(temp / "blocker\\below"));
  // A file of that name counts as an existing level; the level below it fails.
  EXPECT_EQ(1u, log.Count("CreateDirectory(" + (temp / "blocker") + ") already exists"));
  EXPECT_EQ(1u, log.Count("2, ") && log.Count("Failed to create folder " + (temp / "blocker\\below") + " (result: 3)"));
}

TEST(CreateSubFolder, MissingArgumentsAreRefused) {
  kittest::TempFolder temp;
  kittest::MemoryLog log;
  EXPECT_EQ(-1, createSubFolder(temp.path().c_str(), nullptr));
  EXPECT_TRUE(log.Contains("2, ") && log.Contains("::createSubFolder, Invalid argument: a_name"));
  EXPECT_EQ(-1, createSubFolder(nullptr, "x"));
  EXPECT_EQ(0, createSubFolder(temp.path().c_str(), ""));
  EXPECT_EQ(0, createSubFolder(temp.path().c_str(), "\\\\"));
}

struct Visit {
  std::string path;
  bool folder;
};

int RecordingProc(const WIN32_FIND_DATAA* item, const char* path, std::uintptr_t user) {
  reinterpret_cast<std::vector<Visit>*>(user)->push_back(
      {WithoutPrefix(path), (item->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  return static_cast<int>(reinterpret_cast<std::vector<Visit>*>(user)->size());
}

void MakeThreeLevelTree(const kittest::TempFolder& temp) {
  ASSERT_NE(0, createSubFolder(temp.path().c_str(), "a\\b\\c"));
  ASSERT_NE(0, createSubFolder(temp.path().c_str(), "empty"));
  for (const char* file : {"top.txt", "a\\one.txt", "a\\b\\two.txt", "a\\b\\c\\three.txt", "a\\b\\c\\four.txt"})
    kittest::WriteTextFile(temp / file, file);
  SetFileAttributesA((temp / "a\\b\\c\\three.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesA((temp / "a\\b").c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
}

TEST(EmptyFolderEx, VisitsEveryItemDeepestFirst) {
  kittest::TempFolder temp;
  MakeThreeLevelTree(temp);
  std::vector<Visit> visits;
  EXPECT_EQ(9, EmptyFolderEx(temp.path().c_str(), RecordingProc, reinterpret_cast<std::uintptr_t>(&visits)));
  ASSERT_EQ(9u, visits.size());
  auto position = [&](const std::string& relative) {
    for (std::size_t i = 0; i < visits.size(); ++i)
      if (visits[i].path == temp / relative) return static_cast<int>(i);
    ADD_FAILURE() << relative << " not visited";
    return -1;
  };
  // Every item comes before the folder that holds it.
  EXPECT_LT(position("a\\b\\c\\three.txt"), position("a\\b\\c"));
  EXPECT_LT(position("a\\b\\c\\four.txt"), position("a\\b\\c"));
  EXPECT_LT(position("a\\b\\c"), position("a\\b"));
  EXPECT_LT(position("a\\b\\two.txt"), position("a\\b"));
  EXPECT_LT(position("a\\b"), position("a"));
  EXPECT_LT(position("a\\one.txt"), position("a"));
  EXPECT_TRUE(visits[position("a\\b")].folder);
  EXPECT_FALSE(visits[position("top.txt")].folder);
  EXPECT_GE(position("empty"), 0);
}

TEST(EmptyFolderEx, WithTheDefaultProcedureRemovesEverythingButTheTopFolder) {
  kittest::TempFolder temp;
  MakeThreeLevelTree(temp);
  kittest::MemoryLog log;
  EXPECT_EQ(0, EmptyFolderEx((temp.path() + "\\").c_str(), DefDelItemProc));
  EXPECT_TRUE(IsFolder(temp.path()));
  EXPECT_EQ(0, EmptyFolderEx(temp.path().c_str(), RecordingProc, 0));  // nothing left: an empty folder gives 0
  EXPECT_EQ(0u, log.Count("Failed to"));
  EXPECT_EQ(0, EmptyFolderEx(("\\\\?\\" + temp.path()).c_str()));  // the prefix is not doubled
}

TEST(EmptyFolderEx, FailuresAreCaughtAndGiveMinusOne) {
  kittest::TempFolder temp;
  kittest::MemoryLog log;
  EXPECT_EQ(-1, EmptyFolderEx((temp / "missing").c_str(), DefDelItemProc));
  EXPECT_TRUE(log.Contains("EmptyFolderEx() - FindFirstFile(\"\\\\?\\" + (temp / "missing") + "\\*.*\") error =3"))
      << testing::PrintToString(log.Lines());
  EXPECT_TRUE(log.Contains("EmptyFolderEx, EXCEPTION caught: EmptyFolderEx - EXCEPTION\n"));

  kittest::WriteTextFile(temp / "kept.txt", "x");
  log.Clear();
  EXPECT_EQ(-1, EmptyFolderEx(temp.path().c_str(), nullptr));
  EXPECT_TRUE(log.Contains("EmptyFolderEx() - a_DelItemProc parameter is empty!"));
  EXPECT_TRUE(kittest::FileExists(temp / "kept.txt"));
  EXPECT_EQ(-1, EmptyFolderEx(nullptr, DefDelItemProc));
}

TEST(EmptyFolderEx, LinkToAFolderElsewhereIsRemovedWithoutTouchingItsTarget) {
  kittest::TempFolder temp;
  kittest::TempFolder elsewhere;
  kittest::WriteTextFile(elsewhere / "precious.txt", "keep me");
  ASSERT_TRUE(kittest::MakeUnixLink(elsewhere.path(), temp / "link")) << "no link was made";

  std::vector<Visit> visits;
  EXPECT_EQ(1, EmptyFolderEx(temp.path().c_str(), RecordingProc, reinterpret_cast<std::uintptr_t>(&visits)));
  ASSERT_EQ(1u, visits.size());
  EXPECT_EQ(temp / "link", visits[0].path);

  EXPECT_EQ("keep me", kittest::ReadTextFile(elsewhere / "precious.txt"));
  kittest::RemoveUnixLink(temp / "link");
  EXPECT_FALSE(kittest::FileExists(temp / "link"));
}

TEST(DefDelItemProc, ReadOnlyFileGoesAtTheFirstAttempt) {
  kittest::TempFolder temp;
  const std::string file = temp / "readonly.txt";
  kittest::WriteTextFile(file, "x");
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
  WIN32_FIND_DATAA item = {};
  item.dwFileAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;
  kittest::MemoryLog log;
  EXPECT_EQ(0, DefDelItemProc(&item, file.c_str()));
  EXPECT_FALSE(kittest::FileExists(file));
  EXPECT_EQ(0u, log.Lines().size());
}

// The value MoveFileEx(MOVEFILE_DELAY_UNTIL_REBOOT) appends to; put back as
// it was so the prefix keeps no pending deletions of ours.
class PendingRenames {
 public:
  PendingRenames() { m_had = Read(m_saved); }
  ~PendingRenames() {
    kit::UniqueKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
    if (m_had)
      RegSetValueExA(key.get(), kValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(m_saved.data()),
                     static_cast<DWORD>(m_saved.size()));
    else
      RegDeleteValueA(key.get(), kValue);
  }
  std::string Current() {
    std::string data;
    Read(data);
    return data;
  }

 private:
  static constexpr const char* kKey = "System\\CurrentControlSet\\Control\\Session Manager";
  static constexpr const char* kValue = "PendingFileRenameOperations";
  bool Read(std::string& data) {
    DWORD size = 0;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS)
      return false;
    data.assign(size, '\0');
    return RegGetValueA(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_MULTI_SZ, nullptr, &data[0], &size) ==
           ERROR_SUCCESS;
  }
  std::string m_saved;
  bool m_had = false;
};

TEST(DefDelItemProc, FileHeldByAnotherProcessIsTriedTenTimesThenLeftForTheReboot) {
  kittest::TempFolder temp;
  const std::string file = temp / "held.txt";
  kittest::WriteTextFile(file, "held");
  const std::string event = "kittest_hold_" + std::to_string(GetCurrentProcessId());
  kit::UniqueHandle ready(CreateEventA(nullptr, TRUE, FALSE, (event + ".ready").c_str()));
  kit::UniqueHandle release(CreateEventA(nullptr, TRUE, FALSE, (event + ".release").c_str()));
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::string commandLine = "\"" + kittest::WindowsPathOf(FACTS_PROBE_EXE) + "\" hold \"" + file + "\" " + event;
  ASSERT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  kit::ProcessInformation holder;
  holder.Adopt(pi);
  auto letGo = kit::MakeScopeGuard([&] {
    SetEvent(release.get());
    WaitForSingleObject(holder.process.get(), 60000);
  });
  HANDLE waits[] = {ready.get(), holder.process.get()};
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, 60000)) << "the holder did not open the file";

  PendingRenames pending;
  kittest::MemoryLog log;
  WIN32_FIND_DATAA item = {};
  item.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
  EXPECT_EQ(ERROR_SHARING_VIOLATION, DefDelItemProc(&item, file.c_str()));
  EXPECT_EQ(10u, log.Count("::DefDelItemProc, Failed to delete file " + file + " (error: 32)"));
  EXPECT_EQ(1u, log.Count("File " + file + " marked to delete on reboot(result: 1)"))
      << testing::PrintToString(log.Lines());
  EXPECT_NE(std::string::npos, pending.Current().find("held.txt"));
  EXPECT_TRUE(kittest::FileExists(file));
}

TEST(DefDelItemProc, NonEmptyFolderIsNotRemoved) {
  kittest::TempFolder temp;
  ASSERT_NE(0, createSubFolder(temp.path().c_str(), "full"));
  kittest::WriteTextFile(temp / "full\\inside.txt", "x");
  PendingRenames pending;
  kittest::MemoryLog log;
  WIN32_FIND_DATAA item = {};
  item.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
  EXPECT_EQ(ERROR_DIR_NOT_EMPTY, DefDelItemProc(&item, (temp / "full").c_str()));
  EXPECT_EQ(10u, log.Count("Failed to remove directory " + (temp / "full") + " (error: 145)"));
  EXPECT_TRUE(kittest::FileExists(temp / "full\\inside.txt"));
}

TEST(UGetFileSize, SparseFileAbove4GiBHasItsFullSize) {
  kittest::TempFolder temp;
  const std::string file = temp / "big.bin";
  {
    kit::UniqueFile handle(CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(handle);
    DWORD returned = 0;
    DeviceIoControl(handle.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = (5LL << 30) + 123;
    ASSERT_TRUE(SetFilePointerEx(handle.get(), end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(handle.get()));
  }
  EXPECT_EQ((5ULL << 30) + 123, UGetFileSize(file.c_str()));
  kittest::WriteTextFile(temp / "small.txt", "12345");
  EXPECT_EQ(5u, UGetFileSize((temp / "small.txt").c_str()));
}

TEST(UGetFileSize, MissingFileOrPathRaises) {
  kittest::TempFolder temp;
  kittest::MemoryLog log;
  try {
    UGetFileSize((temp / "missing.bin").c_str());
    ADD_FAILURE() << "no exception";
  } catch (const UException& e) {
    EXPECT_EQ(0u, std::string(e.Message()).find("EXCEPTION - GetFileAttributesEx() failed, 2 (0x2) ")) << e.Message();
    EXPECT_STREQ("UGetFileSize()", e.Function());
  }
  try {
    UGetFileSize(nullptr);
    ADD_FAILURE() << "no exception";
  } catch (const UException& e) {
    EXPECT_STREQ("EXCEPTION - wrong parameter", e.Message());
  }
}

// A subfolder held open without sharing cannot be searched: its failure is logged once, it
// keeps its contents, and the walk goes on past it, wherever it comes in the listing.
TEST(EmptyFolderEx, GoesOnPastASubfolderItCannotSearch) {
  const std::vector<std::string> files = {"a\\1.txt", "m\\n\\2.txt", "m\\3.txt", "z\\4.txt", "5.txt"};
  for (const char* held : {"a", "m\\n", "z"}) {
    SCOPED_TRACE(held);
    kittest::TempFolder temp;
    for (const char* folder : {"a", "m\\n", "z"}) createSubFolder(temp.path().c_str(), folder);
    for (const std::string& file : files) kittest::WriteTextFile(temp / file, file);
    kit::UniqueFile holder(
        CreateFileA((temp / held).c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, 0));
    kittest::MemoryLog log;
    PendingRenames pending;  // the held folder is left for the next reboot
    EmptyFolderEx(temp.path().c_str(), DefDelItemProc);
    EXPECT_EQ(1u, log.Count("FindFirstFile(\"\\\\?\\" + (temp / held) + "\\*.*\") error =32"));
    EXPECT_EQ(1u, log.Count("EXCEPTION caught: EmptyFolderEx - EXCEPTION\n")) << testing::PrintToString(log.Lines());
    for (const std::string& file : files)
      EXPECT_EQ((temp / file).rfind(temp / held + "\\", 0) == 0, kittest::FileExists(temp / file)) << file;
  }
}

}  // namespace
