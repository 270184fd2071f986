// From a package list entry to the engine's codebase.
#include "kitloader/package_request.h"

#include <gtest/gtest.h>

namespace {
PackageRequest Apply(const char* key, const UStringPairList& section) {
  PackageRequest r;
  r.file = PackageFileFromKey(key);
  ApplyPackageSection(section, r);
  return r;
}
}  // namespace

TEST(PackageRequest, KeyLosesItsQuotesAndSurroundingWhiteSpace) {
  EXPECT_EQ(PackageFileFromKey("\"  my pkg.cab \""), "my pkg.cab");
  EXPECT_EQ(PackageFileFromKey("a\"b\"c.cab"), "abc.cab");
  EXPECT_EQ(PackageFileFromKey("\"\""), "");
}

TEST(PackageRequest, SectionKeysAreCaseInsensitiveAndTheLastOneWins) {
  PackageRequest r = Apply("pkg.cab", {{"clsid", "{A}"}, {"FILEVERSION", "1,2,3,4"}, {"CLSID", "{B}"},
                                       {"Other", "ignored"}});
  EXPECT_EQ(r.file, "pkg.cab");
  EXPECT_EQ(r.classId, "{B}");
  EXPECT_EQ(r.fileVersion, "1,2,3,4");
}

TEST(PackageRequest, FileValuesIgnoreThiscabAndPaths) {
  EXPECT_EQ(Apply("pkg.cab", {{"file", "IGNORE"}}).file, "");
  EXPECT_EQ(Apply("pkg.cab", {{"file-win32-x86", "Ignore"}}).file, "");
  EXPECT_EQ(Apply("pkg.cab", {{"file", "ThisCab"}}).file, "pkg.cab");
  EXPECT_EQ(Apply("pkg.cab", {{"file", "other\\real.cab"}}).file, "other\\real.cab");
  // A later line overrides an earlier one, whichever kind it is.
  EXPECT_EQ(Apply("pkg.cab", {{"file", "ignore"}, {"file-win32-x86", "thiscab"}}).file, "pkg.cab");
  EXPECT_EQ(Apply("pkg.cab", {{"file", "elsewhere.cab"}, {"file", "thiscab"}}).file, "pkg.cab");
}

TEST(PackageRequest, RelativePathsJoinTheProgramFolder) {
  const UString folder("C:\\kit\\");
  EXPECT_EQ(MakeAbsolutePackagePath("a.cab", folder), "C:\\kit\\a.cab");
  EXPECT_EQ(MakeAbsolutePackagePath("sub\\a.cab", folder), "C:\\kit\\sub\\a.cab");
  // A single leading backslash counts as relative.
  EXPECT_EQ(MakeAbsolutePackagePath("\\a.cab", folder), "C:\\kit\\\\a.cab");
  EXPECT_EQ(MakeAbsolutePackagePath("D:\\a.cab", folder), "D:\\a.cab");
  EXPECT_EQ(MakeAbsolutePackagePath("D:a.cab", folder), "D:a.cab");
  EXPECT_EQ(MakeAbsolutePackagePath("\\\\server\\share\\a.cab", folder), "\\\\server\\share\\a.cab");
  EXPECT_EQ(MakeAbsolutePackagePath("x", folder), "C:\\kit\\x");
}

TEST(PackageRequest, CodebaseCarriesTheVersionExactlyAsWritten) {
  EXPECT_EQ(MakeCodebase("C:\\kit\\a.cab", ""), "C:\\kit\\a.cab");
  EXPECT_EQ(MakeCodebase("C:\\kit\\a.cab", "1, 2,3,4"), "C:\\kit\\a.cab#1, 2,3,4");
}
