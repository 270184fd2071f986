// Reading INF files through the system's profile functions.
#include <windows.h>

#include <memory>
#include <new>

#include "cabinstaller/UKitLoader.h"
#include "cabinstaller/inf_text.h"

namespace {

constexpr DWORD kNamesFirstBuffer = 256;
constexpr DWORD kSectionFirstBuffer = 128;
// A buffer that is too small doubles: growing by a fixed step made each
// read of a large INF a long series of calls.

bool FileExists(const char* path) { return path && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

std::unique_ptr<char[]> Allocate(DWORD size) { return std::unique_ptr<char[]>(new (std::nothrow) char[size]()); }

}  // namespace

int UKitLoader::GetSectionNames(UStringList* names, const char* infPath) {
  static const char kFunction[] = "UKitLoader::GetSectionNames";
  int result = 0;
  return CatchAndLog(KL_CATCH_SITE(kFunction, "UKitLoader::GetSectionNames()"), result, [&] {
    if (!names) KL_THROW(87, kFunction, "UKitLoader::GetSectionNamesList() - Invalid arg");
    if (!FileExists(infPath))
      KL_THROW(-1, kFunction, "UKitLoader::GetSectionNamesList() - inf(%s) file not found", infPath ? infPath : "");

    DWORD size = kNamesFirstBuffer;
    std::unique_ptr<char[]> buf = Allocate(size);
    if (!buf) KL_THROW(8, kFunction, "UKitLoader::GetSectionNamesList() - not enough memory");
    DWORD got;
    // The profile call returns size - 2 when the names did not fit.
    while ((got = GetPrivateProfileSectionNamesA(buf.get(), size, infPath)) == size - 2) {
      buf.reset();
      size += size;
      buf = Allocate(size);
      if (!buf) KL_THROW(8, kFunction, "UKitLoader::GetSectionNamesList() - not enough memory II");
    }
    ParseSectionNamesBlock(buf.get(), got, *names);
  });
}

int UKitLoader::GetInfSection(UStringPairList* pairs, const char* section, const char* infPath,
                              const char* platformTag, const char* languageTag) {
  return GetInfSection(pairs, section, infPath, platformTag, languageTag, nullptr);
}

int UKitLoader::GetInfSection(UStringPairList* pairs, const char* section, const char* infPath,
                              const char* platformTag, const char* languageTag, const UStringList* sectionNames) {
  static const char kFunction[] = "UKitLoader::GetInfSection";
  static const char kLogFunction[] = "UKitLoader::GetSection()";
  int result = 0;
  return CatchAndLog(KL_CATCH_SITE(kFunction, "UKitLoader::GetSection()"), result, [&] {
    if (!pairs) KL_THROW(87, kLogFunction, "EXCEPTION - %s, %s", "Invalid arg", section ? section : "");
    if (!FileExists(infPath))
      KL_THROW(-1, kLogFunction, "EXCEPTION - %s, %s", ".inf file not found", infPath ? infPath : "");

    UString chosen(section);
    UStringList names;
    const int namesResult = sectionNames ? 0 : GetSectionNames(&names, infPath);
    if (namesResult != 0) {
      LogRecord(kLogErrors, kLogFunction, UMessage::Format("%1, %2", "GetSectionNames() failed", namesResult));
    } else if (platformTag) {
      chosen = ChooseSectionVariant(chosen, UString(platformTag), UString(languageTag),
                                    sectionNames ? *sectionNames : names);
    }

    DWORD size = kSectionFirstBuffer;
    std::unique_ptr<char[]> buf = Allocate(size);
    if (!buf) KL_THROW(8, kLogFunction, "EXCEPTION - %s", "not enough memory");
    DWORD got;
    while ((got = GetPrivateProfileSectionA(chosen.c_str(), buf.get(), size, infPath)) == size - 2) {
      buf.reset();
      size += size;
      buf = Allocate(size);
      if (!buf) KL_THROW(8, kLogFunction, "EXCEPTION - %s", "not enough memory II");
    }
    ParseSectionBlock(buf.get(), got, *pairs);
  });
}
