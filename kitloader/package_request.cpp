#include "kitloader/package_request.h"

UString PackageFileFromKey(const UString& key) {
  UString file(key);
  file.Replace("\"", "");
  return file.Trimmed();
}

void ApplyPackageSection(const UStringPairList& section, PackageRequest& request) {
  const UString listKey = request.file;
  for (const UStringPair& pair : section) {
    const UString& key = pair.first;
    const UString& value = pair.second;
    if (key.EqualsNoCase("CLSID")) {
      request.classId = value;
    } else if (key.EqualsNoCase("file") || key.EqualsNoCase("file-win32-x86")) {
      if (value.EqualsNoCase("ignore"))
        request.file = UString();
      else if (value.EqualsNoCase("thiscab"))
        request.file = listKey;
      else
        request.file = value;
    } else if (key.EqualsNoCase("FileVersion")) {
      request.fileVersion = value;
    }
  }
}

UString MakeAbsolutePackagePath(const UString& file, const UString& moduleFolder) {
  const bool unc = file.length() >= 2 && file[0] == '\\' && file[1] == '\\';
  const bool drive = file.length() >= 2 && file[1] == ':';
  if (unc || drive) return file;
  return moduleFolder + file;
}

UString MakeCodebase(const UString& absoluteFile, const UString& fileVersion) {
  if (fileVersion.empty()) return absoluteFile;
  return absoluteFile + "#" + fileVersion;
}
