// An INF's section names and lines as the profile functions return them, and
// everything read from a section: file sections, deployment scope, a
// package's own section and the platform variant chosen.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cabinstaller/file_section.h"
#include "cabinstaller/inf_text.h"
#include "kitloader/package_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The profile functions hand over a block ending in two NULs.
  std::vector<char> block(data, data + size);
  block.insert(block.end(), {'\0', '\0'});
  UStringList names;
  ParseSectionNamesBlock(block.data(), block.size(), names);
  UStringPairList pairs;
  ParseSectionBlock(block.data(), block.size(), pairs);
  const UString first = names.empty() ? UString("Section") : names.front();
  (void)ChooseSectionVariant(first, "x86", "0409", names);
  const FileSectionKeys keys = ReadFileSectionKeys(pairs, first);
  UString folder;
  (void)ResolveDestDir(keys.destDir, "C:\\temp\\", &folder);
  (void)InstallScopeOfDeployment(pairs);
  PackageRequest request;
  request.file = PackageFileFromKey(first);
  ApplyPackageSection(pairs, request);
  (void)MakeCodebase(MakeAbsolutePackagePath(request.file, "C:\\dir\\"), request.fileVersion);
  return 0;
}
