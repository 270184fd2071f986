// The keys of file and deployment sections.
#include "cabinstaller/file_section.h"

#include <gtest/gtest.h>

TEST(FileSection, KeysDestDirAndScope) {
  const FileSectionKeys k = ReadFileSectionKeys(
      {{"File-win32-x86", "thiscab"}, {"file", "http://a/x.dll"}, {"CLSID", "{1}"}, {"fileversion", "1,2,3,4"},
       {"destdir", "11"}, {"RegisterServer", "no"}, {"redirecttohkcu", "YES"}, {"UserEntryPoints", "yes"},
       {"HOOK", "h"}, {"X.DLL", "bin.dll"}},
      "x.dll");
  EXPECT_EQ(k.source + k.classId + k.fileVersion + k.destDir + k.hook + k.fileName, "thiscab{1}1,2,3,411hbin.dll");
  EXPECT_TRUE(!k.registerServer && k.redirectToHKCU && k.userEntryPoints);
  EXPECT_EQ(ReadFileSectionKeys({{"File", "a"}, {"File", "b"}, {"file-win32-x86", "c"}}, "y").source, "c");
  const FileSectionKeys plain = ReadFileSectionKeys({{"File", "thiscab"}}, "y.dll");
  EXPECT_TRUE(plain.fileName == "y.dll" && plain.registerServer && !plain.redirectToHKCU && !plain.userEntryPoints);

  UString folder;
  const DestDirKind kinds[] = {ResolveDestDir("10", "T", &folder), ResolveDestDir("11", "T", &folder),
                               ResolveDestDir(" 11", "T", &folder), ResolveDestDir("C:\\Other", "T", &folder),
                               ResolveDestDir("%TEMP_DIR1%\\a%TEMP_DIR1%", "C:\\t", &folder)};
  EXPECT_TRUE(kinds[0] == DestDirKind::kWindows && kinds[1] == DestDirKind::kSystem &&
              kinds[2] == DestDirKind::kNone && kinds[3] == DestDirKind::kNone && kinds[4] == DestDirKind::kTempFolder);
  EXPECT_EQ(folder, "C:\\t\\aC:\\t");
  for (const char* climbs : {"%TEMP_DIR1%\\..", "%TEMP_DIR1%\\a\\..\\..\\b", "..\\%TEMP_DIR1%", "%TEMP_DIR1%/. ./x"})
    EXPECT_TRUE(ResolveDestDir(climbs, "C:\\t", &folder) == DestDirKind::kOutside) << climbs;
  EXPECT_TRUE(ResolveDestDir("%TEMP_DIR1%\\a..b\\.x", "C:\\t", &folder) == DestDirKind::kTempFolder);

  EXPECT_EQ(InstallScopeOfDeployment({}), 1);
  EXPECT_EQ(InstallScopeOfDeployment({{"installscope", "PerUser"}, {"InstallScope", "machine"}}), 2);
  EXPECT_EQ(InstallScopeOfDeployment({{"InstallScope", "machine"}, {"InstallScope", "user"}}), 1);
}
