// The shipped kitloader.exe as a file: a 32-bit GUI program that needs no
// DLL beside it (only system DLLs are imported), and whose start loads none
// of the libraries only some runs need.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

#include "support/test_support.h"

namespace {

struct PeFacts {
  WORD machine = 0;
  WORD subsystem = 0;
  std::set<std::string> imports;
};

// Reads the headers and the import directory of a PE32 file.
bool ReadPe(const std::string& bytes, PeFacts& out) {
  auto at = [&](std::size_t off, std::size_t n) { return off + n <= bytes.size(); };
  if (!at(0, sizeof(IMAGE_DOS_HEADER))) return false;
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
  if (dos->e_magic != IMAGE_DOS_SIGNATURE || !at(dos->e_lfanew, sizeof(IMAGE_NT_HEADERS32))) return false;
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(bytes.data() + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC) return false;
  out.machine = nt->FileHeader.Machine;
  out.subsystem = nt->OptionalHeader.Subsystem;

  auto sections = IMAGE_FIRST_SECTION(nt);
  auto rvaToOffset = [&](DWORD rva) -> std::size_t {
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
      const IMAGE_SECTION_HEADER& s = sections[i];
      if (rva >= s.VirtualAddress && rva < s.VirtualAddress + std::max(s.Misc.VirtualSize, s.SizeOfRawData))
        return rva - s.VirtualAddress + s.PointerToRawData;
    }
    return 0;
  };
  DWORD importRva = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  std::size_t off = rvaToOffset(importRva);
  for (; off && at(off, sizeof(IMAGE_IMPORT_DESCRIPTOR)); off += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    auto d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(bytes.data() + off);
    if (d->Name == 0) break;
    std::size_t nameOff = rvaToOffset(d->Name);
    if (!nameOff || !at(nameOff, 1)) return false;
    std::string name(bytes.data() + nameOff);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    out.imports.insert(name);
  }
  return true;
}

}  // namespace

TEST(KitloaderExecutable, IsA32BitGuiProgramImportingOnlySystemDlls) {
  PeFacts pe;
  ASSERT_TRUE(ReadPe(kittest::ReadTextFile(kittest::WindowsPathOf(KITLOADER_EXE)), pe));
  EXPECT_EQ(pe.machine, IMAGE_FILE_MACHINE_I386);
  EXPECT_EQ(pe.subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  ASSERT_FALSE(pe.imports.empty());
  const std::set<std::string> system = {"kernel32.dll", "user32.dll",  "advapi32.dll", "shell32.dll",
                                        "msvcrt.dll",   "ole32.dll",   "oleaut32.dll", "gdi32.dll",
                                        "comctl32.dll", "version.dll", "wininet.dll",  "setupapi.dll",
                                        "bcrypt.dll",   "crypt32.dll", "wintrust.dll", "rpcrt4.dll",
                                        "shlwapi.dll",  "uuid.dll",    "comdlg32.dll", "ntdll.dll"};
  for (const std::string& dll : pe.imports)
    EXPECT_TRUE(system.count(dll) || dll.rfind("api-ms-win-", 0) == 0) << "imports " << dll;
  for (const char* dll : {"setupapi.dll", "wininet.dll", "ole32.dll", "oleaut32.dll", "shell32.dll", "version.dll",
                          "ws2_32.dll", "crypt32.dll", "wintrust.dll", "bcrypt.dll"})
    EXPECT_FALSE(pe.imports.count(dll)) << "loads " << dll << " at start";
}
