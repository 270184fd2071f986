// An INF's section names and lines as the profile functions return them
// (ending in two NULs), and what is read from a section.
#include "cabinstaller/file_section.h"
#include "cabinstaller/inf_text.h"
#include "fuzz/fuzz_input.h"
#include "kitloader/package_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<char> block(data, data + size);
  block.insert(block.end(), {'\0', '\0'});
  UStringList names;
  UStringPairList pairs;
  ParseSectionNamesBlock(block.data(), block.size(), names);
  ParseSectionBlock(block.data(), block.size(), pairs);
  const UString first = names.empty() ? UString("Section") : names.front();
  UString folder;
  (void)ChooseSectionVariant(first, "x86", "0409", names);
  (void)ResolveDestDir(ReadFileSectionKeys(pairs, first).destDir, "C:\\temp\\", &folder);
  (void)InstallScopeOfDeployment(pairs);
  PackageRequest request{PackageFileFromKey(first), "", ""};
  ApplyPackageSection(pairs, request);
  (void)MakeCodebase(MakeAbsolutePackagePath(request.file, "C:\\dir\\"), request.fileVersion);
  return 0;
}
