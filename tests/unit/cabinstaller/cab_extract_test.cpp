// Extraction of real cabinets (packed by the build with gcab) through the
// system's cabinet library, and of broken or hostile copies of them made here.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "cabinstaller/UKitLoader.h"
#include "support/test_support.h"

namespace {

std::string PackagePath(const char* name) { return kittest::WindowsPathOf(std::string(KITLOADER_PACKAGE_DIR "/") + name); }
std::string SampleSource(const char* name) {
  return kittest::WindowsPathOf(std::string(KITLOADER_BUILD_DIR "/package-src/extract_sample/") + name);
}

void Replace(std::string& bytes, const std::string& from, const std::string& to) {
  std::size_t at = bytes.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  bytes.replace(at, from.size(), to);
}

// The names of everything directly in a folder.
std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  kit::UniqueFind find(FindFirstFileA((folder + "\\*").c_str(), &data));
  if (!find) return names;
  do {
    std::string n = data.cFileName;
    if (n != "." && n != "..") names.push_back(n);
  } while (FindNextFileA(find.get(), &data));
  return names;
}

ULONGLONG WriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

TEST(CabExtract, UnpacksSubFoldersContentsAndTimesBesideTheCabinet) {
  kittest::TempFolder folder;
  kittest::MemoryLog log;
  const std::string cab = folder / "extract_sample.cab";
  kittest::CopyFileOrFail(PackagePath("extract_sample.cab"), cab);

  UKitLoader loader;
  ASSERT_EQ(loader.ExtractCAB(cab.c_str()), 0);
  EXPECT_EQ(loader.CabFolder(), UString((folder.path() + "\\").c_str()));
  for (const char* name : {"sample.inf", "bin\\tool.dat", "zz\\note.txt", "aa.dat", "ab.dat"}) {
    std::string source = SampleSource(name);
    for (char& c : source) c = c == '/' ? '\\' : c;
    const std::string extracted = folder / name;
    ASSERT_TRUE(kittest::FileExists(extracted)) << name;
    EXPECT_EQ(kittest::ReadTextFile(extracted), kittest::ReadTextFile(source)) << name;
    // The stored time (two-second steps) becomes the file's time.
    const ULONGLONG a = WriteTime(extracted), b = WriteTime(source);
    EXPECT_LE(a > b ? a - b : b - a, 20000000ULL) << name;
    EXPECT_EQ(GetFileAttributesA(extracted.c_str()) & ~static_cast<DWORD>(0x27), 0u) << name;
  }
}

TEST(CabExtract, BrokenOrHostileCabinetsFailWithTheirCodeAndWriteNothingOutside) {
  const struct Variant {
    const char* label;
    std::function<void(std::string&)> change;
    int code;
    const char* logText;
    bool nothingWritten;  // refused before any file was written
  } variants[] = {
      {"not a cabinet", [](std::string& b) { b = "[Version]\r\nSignature=$Chicago$\r\n"; }, 87,
       "not a valid cabinet file", true},
      {"empty", [](std::string& b) { b.clear(); }, 87, "not a valid cabinet file", true},
      {"truncated data", [](std::string& b) { b.resize(b.size() * 6 / 10); }, 2, "FDICopy failed", false},
      {"corrupt data block",
       [](std::string& b) {
         for (std::size_t i = b.size() / 2; i < b.size() / 2 + 64; ++i) b[i] = static_cast<char>(b[i] ^ 0x5A);
       },
       2, "FDICopy failed", false},
      {"huge declared size",
       [](std::string& b) {
         std::size_t at = b.find("bin\\tool.dat");
         ASSERT_NE(at, std::string::npos);
         b.replace(at - 16, 4, std::string("\xF0\xFF\xFF\x7F", 4));
       },
       2, "FDICopy failed", false},
      {"parent folder", [](std::string& b) { Replace(b, "zz\\note.txt", "..\\note.txt"); }, 161,
       "unsafe file name in cabinet", true},
      {"drive letter", [](std::string& b) { Replace(b, "zz\\note.txt", "C:\\note.txt"); }, 161,
       "unsafe file name in cabinet", true},
      {"rooted", [](std::string& b) { Replace(b, "zz\\note.txt", "\\z\\note.txt"); }, 161,
       "unsafe file name in cabinet", true},
      {"refused character", [](std::string& b) { Replace(b, "zz\\note.txt", "zz\\note.tx?"); }, 161,
       "unsafe file name in cabinet", true},
      {"same name twice", [](std::string& b) { Replace(b, "ab.dat", "AA.DAT"); }, 161, "two entries of the same name",
       true},
  };
  const std::string built = kittest::ReadTextFile(PackagePath("extract_sample.cab"));
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.label);
    kittest::TempFolder root;
    ASSERT_TRUE(CreateDirectoryA((root / "pkg").c_str(), nullptr));
    std::string bytes = built;
    v.change(bytes);
    const std::string cab = root / "pkg\\p.cab";
    kittest::WriteTextFile(cab, bytes);

    kittest::MemoryLog log;
    UKitLoader loader;
    EXPECT_EQ(loader.ExtractCAB(cab.c_str()), v.code);
    EXPECT_TRUE(log.Contains(v.logText));
    EXPECT_EQ(Listing(root.path()), std::vector<std::string>{"pkg"});
    if (v.nothingWritten) {
      EXPECT_EQ(Listing(root / "pkg"), std::vector<std::string>{"p.cab"});
    }
  }
}

TEST(CabExtract, MissingPathsAndAStopRequestEndWithTwo) {
  kittest::TempFolder folder;
  kittest::MemoryLog log;
  UKitLoader loader;
  EXPECT_EQ(loader.ExtractCAB(""), 2);
  EXPECT_TRUE(log.Contains(".cab file was not found"));
  EXPECT_EQ(loader.ExtractCAB((folder / "absent.cab").c_str()), 2);
  EXPECT_TRUE(log.Contains("could not open file"));

  const std::string cab = folder / "extract_sample.cab";
  kittest::CopyFileOrFail(PackagePath("extract_sample.cab"), cab);
  loader.SetRequestToStop(true);
  EXPECT_EQ(loader.ExtractCAB(cab.c_str()), 2);
  EXPECT_TRUE(log.Contains("FDICopy failed"));
  EXPECT_EQ(Listing(folder.path()), std::vector<std::string>{"extract_sample.cab"});
}

}  // namespace
