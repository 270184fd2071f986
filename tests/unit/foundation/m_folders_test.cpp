// Well-known folders and paths, against the real system under Wine.
#include "foundation/m_folders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/UClasses.h"
#include "foundation/handles.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace {

// Sets an environment variable for the scope and puts the old value back.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : m_name(name) {
    char old[32768];
    DWORD n = GetEnvironmentVariableA(name, old, sizeof old);
    m_had = n > 0 && n < sizeof old;
    if (m_had) m_old.assign(old, n);
    SetEnvironmentVariableA(name, value);
  }
  ~ScopedEnvironment() { SetEnvironmentVariableA(m_name.c_str(), m_had ? m_old.c_str() : nullptr); }

 private:
  std::string m_name, m_old;
  bool m_had = false;
};

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// A chain of nested folders under `base` whose full path is at least
// `length` characters (the wide calls: the narrow ones stop at MAX_PATH even
// with the \\?\ prefix). Removed with everything in it at the end of the
// scope.
class DeepFolder {
 public:
  DeepFolder(const std::string& base, std::size_t length) : m_path(base) {
    while (m_path.size() < length) {
      m_path += "\\" + std::string(200, 'd');
      EXPECT_TRUE(CreateDirectoryW(Wide("\\\\?\\" + m_path).c_str(), nullptr)) << GetLastError();
      m_levels.push_back(m_path);
    }
  }
  ~DeepFolder() {
    DeleteFileW(Wide("\\\\?\\" + m_path + "\\probe.exe").c_str());
    for (auto level = m_levels.rbegin(); level != m_levels.rend(); ++level)
      RemoveDirectoryW(Wide("\\\\?\\" + *level).c_str());
  }
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
  std::vector<std::string> m_levels;
};

TEST(Folders, SystemFoldersOfThePrefixWithoutTrailingBackslash) {
  ScopedEnvironment tmp("TMP", "C:\\windows\\temp\\");
  const struct {
    UString folder;
    const char* expected;
  } rows[] = {
      {SGetSystemDirectory(), "C:\\windows\\system32"},
      {SGetWindowsDirectory(), "C:\\windows"},
      {SGetSystemWindowsDirectory(), "C:\\windows"},
      {SGetTempPath(), "C:\\windows\\temp"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.expected, row.folder.str());
}

TEST(Folders, TemporaryFolderAtADriveRootLosesItsBackslash) {
  ScopedEnvironment tmp("TMP", "C:\\");
  EXPECT_EQ("C:", SGetTempPath().str());
  EXPECT_EQ("C:\\name", (SGetTempPath() + "\\name").str());
}

TEST(Folders, CurrentFolderLongerThanTheFirstBufferIsReadWhole) {
  kittest::TempFolder temp;
  std::string deep = temp.path() + "\\" + std::string(230 - temp.path().size() % 200, 'c');
  ASSERT_GT(deep.size(), 200u);
  ASSERT_LT(deep.size(), static_cast<std::size_t>(MAX_PATH) - 2);
  ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
  char old[MAX_PATH + 1];
  GetCurrentDirectoryA(sizeof old, old);
  ASSERT_TRUE(SetCurrentDirectoryA(deep.c_str()));
  const UString current = SGetCurrentDirectory();
  SetCurrentDirectoryA(old);
  EXPECT_EQ(deep, current.str());
}

TEST(Folders, ModulePathLongerThan2000CharactersIsReturnedWhole) {
  kittest::TempFolder temp;
  DeepFolder deep(temp.path(), 2100);
  const std::string exe = deep.path() + "\\probe.exe";
  ASSERT_TRUE(CopyFileW(Wide(kittest::WindowsPathOf(FACTS_PROBE_EXE)).c_str(), Wide("\\\\?\\" + exe).c_str(), FALSE))
      << GetLastError();
  // Loaded as a module of this process (an .exe loads like a DLL without
  // running its entry point).
  kit::UniqueModule module(LoadLibraryExW(Wide("\\\\?\\" + exe).c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
  ASSERT_TRUE(module) << GetLastError();
  EXPECT_EQ(exe, SGetModuleFileName(module.get()).str());
}

TEST(Folders, ModuleFileNameOfThisProgram) {
  const std::string path = SGetModuleFileName(nullptr).str();
  EXPECT_EQ("\\test_foundation.exe", path.substr(path.rfind('\\'))) << path;
  kittest::MemoryLog log;
  SetLastError(0);
  EXPECT_THROW(SGetModuleFileName(reinterpret_cast<HMODULE>(0x10)), UException);
  EXPECT_TRUE(log.Contains("EXCEPTION - GetModuleFileName() error , ")) << testing::PrintToString(log.Lines());
}

struct SplitCase {
  const char* path;
  const char* folder;
  const char* name;
};

TEST(Paths, SplitAtTheLastSeparator) {
  const SplitCase cases[] = {
      {"name.cab", "", "name.cab"},
      {"C:\\dir\\name.cab", "C:\\dir\\", "name.cab"},
      {"C:\\dir\\", "C:\\dir\\", ""},
      {"C:\\dir\\..", "C:\\dir\\..", ""},
      {"C:\\dir\\.", "C:\\dir\\.", ""},
      {"..", "..", ""},
      {"dir/name", "dir\\", "name"},
      {"C:\\a/b\\c", "C:\\a/b\\", "c"},
      {"C:\\a\\b/c", "C:\\a\\b\\", "c"},
      {"\\", "\\", ""},
      {"", "", ""},
  };
  for (const SplitCase& c : cases) {
    UString folder("x"), name("x");
    SSplitPath(c.path, &folder, &name);
    EXPECT_EQ(std::string(c.folder), folder.str()) << c.path;
    EXPECT_EQ(std::string(c.name), name.str()) << c.path;
    EXPECT_EQ(std::string(c.name), SGetFileName(c.path).str()) << c.path;
  }
  SSplitPath("a\\b", nullptr, nullptr);  // either output may be left out
}

TEST(Paths, TrailingSeparatorAddedAndRemoved) {
  EXPECT_EQ("C:\\dir\\", SAddTrailingBackslash("C:\\dir").str());
  EXPECT_EQ("C:\\dir\\", SAddTrailingBackslash("C:\\dir\\").str());
  EXPECT_EQ("C:/dir/", SAddTrailingBackslash("C:/dir/").str());
  EXPECT_EQ("\\", SAddTrailingBackslash("").str());
  EXPECT_EQ("C:\\dir", SRemoveTrailingSeparator("C:\\dir\\").str());
  EXPECT_EQ("C:\\dir\\", SRemoveTrailingSeparator("C:\\dir\\\\").str());
  EXPECT_EQ("C:/dir", SRemoveTrailingSeparator("C:/dir/").str());
  EXPECT_EQ("C:\\dir", SRemoveTrailingSeparator("C:\\dir").str());
  EXPECT_EQ("", SRemoveTrailingSeparator("").str());
}

TEST(Paths, TempFileNameCreatesAnEmptyUniqueFile) {
  kittest::TempFolder temp;
  const UString first = SGetTempFileName(temp.path().c_str(), "inst");
  const UString second = SGetTempFileName(temp.path().c_str(), "inst");
  EXPECT_NE(first, second);
  UString folder, name;
  SSplitPath(first, &folder, &name);
  EXPECT_EQ(temp.path() + "\\", folder.str());
  EXPECT_EQ(0u, name.str().find("ins"));
  EXPECT_TRUE(kittest::FileExists(first.str()));
  EXPECT_EQ("", kittest::ReadTextFile(first.str()));

  kittest::MemoryLog log;
  try {
    SGetTempFileName((temp.path() + "\\missing").c_str(), "inst");
    ADD_FAILURE() << "no exception";
  } catch (const UException& e) {
    EXPECT_STREQ("SGetTempFileName() - GetTempFileName()", e.Message());
  }
  EXPECT_THROW(SGetTempFileName(nullptr, "inst"), UException);
}

TEST(Paths, EnvironmentStringsExpandBeyondTheFirstBuffer) {
  const std::string longValue(5000, 'v');
  ScopedEnvironment variable("KITTEST_LONG", longValue.c_str());
  EXPECT_EQ("<" + longValue + ">", SExpandEnvironmentStrings("<%KITTEST_LONG%>").str());
  EXPECT_EQ("%KITTEST_UNSET_VARIABLE%", SExpandEnvironmentStrings("%KITTEST_UNSET_VARIABLE%").str());
  EXPECT_EQ("", SExpandEnvironmentStrings(nullptr).str());
}

constexpr char kInternetSettings[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr char kActiveXCache[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ActiveX Cache";

class DownloadedProgramFiles : public ::testing::Test {
 protected:
  const std::string kDefaultFolder = "C:\\windows\\Downloaded Program Files";
  kittest::RegistrySandbox sandbox;
  kittest::MemoryLog log;
};

TEST_F(DownloadedProgramFiles, ValuesEqualButForCaseGiveTheActiveXCacheValue) {
  kittest::SetRegString(HKEY_LOCAL_MACHINE, kInternetSettings, "ActiveXCache", "C:\\WINDOWS\\Custom DPF");
  kittest::SetRegString(HKEY_LOCAL_MACHINE, kActiveXCache, "0", "c:\\windows\\custom dpf");
  EXPECT_EQ("c:\\windows\\custom dpf", SGetDownloadedProgramFilesFolder().str());
  EXPECT_FALSE(log.Contains("mismatch"));
}

TEST_F(DownloadedProgramFiles, MismatchOrMissingValueGivesTheDefault) {
  kittest::SetRegString(HKEY_LOCAL_MACHINE, kInternetSettings, "ActiveXCache", "C:\\one");
  kittest::SetRegString(HKEY_LOCAL_MACHINE, kActiveXCache, "0", "C:\\two");
  EXPECT_EQ(kDefaultFolder, SGetDownloadedProgramFilesFolder().str());
  EXPECT_TRUE(log.Contains("Customized \"Downloaded Program Files\": mismatch, C:\\one, C:\\two"));
  EXPECT_TRUE(log.Contains("using default path, C:\\windows\\Downloaded Program Files"));

  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kActiveXCache);
  EXPECT_EQ(kDefaultFolder, SGetDownloadedProgramFilesFolder().str());
  kittest::SetRegString(HKEY_LOCAL_MACHINE, kActiveXCache, "0", "C:\\one");
  RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kInternetSettings, "ActiveXCache");
  EXPECT_EQ(kDefaultFolder, SGetDownloadedProgramFilesFolder().str());
}

constexpr char kUserShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

TEST(UserDownloadedProgramFiles, WithoutCreateThePathComesBackAndNothingIsMade) {
  kittest::TempFolder temp;
  kittest::RegistrySandbox sandbox;
  kittest::SetRegString(HKEY_CURRENT_USER, kUserShellFolders, "Local AppData", temp.path());
  EXPECT_EQ(temp / "Microsoft\\Internet Explorer\\Downloaded Program Files",
            SGetUserDownloadedProgramFilesFolder(false).str());
  EXPECT_FALSE(kittest::FileExists(temp / "Microsoft"));
}

TEST(UserDownloadedProgramFiles, WithCreateTheFoldersAreMade) {
  kittest::TempFolder temp;
  kittest::RegistrySandbox sandbox;
  kittest::SetRegString(HKEY_CURRENT_USER, kUserShellFolders, "Local AppData", temp.path() + "\\");
  ASSERT_TRUE(CreateDirectoryA((temp / "Microsoft").c_str(), nullptr));  // an existing level is fine
  const UString folder = SGetUserDownloadedProgramFilesFolder(true);
  EXPECT_EQ(temp / "Microsoft\\Internet Explorer\\Downloaded Program Files", folder.str());
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
}

}  // namespace
