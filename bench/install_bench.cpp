// The cost of installing a package in this process: UKitLoader::Install of
// a 64 MiB cabinet (256 files of 96 KiB and one of 40 MiB, every one an
// [Add.Code] entry) against the platform's own extraction of the same
// cabinet (extrac32) plus a plain copy of its files, in the same run.
//
//   cmake --build build --target install_bench_package
//   build/wine-run build/bench/install_bench.exe 'Z:<build>\bench\bench.cab' [<result name>]
//
// Everything goes into a fresh folder under the temporary folder, deleted
// afterwards; the machine's Downloaded Program Files folder is pointed into
// it through a registry override of HKEY_LOCAL_MACHINE for this process.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "cabinstaller/UKitLoader.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/m_io.h"

namespace {

const char kScratch[] = "Software\\kitloader_install_bench";
const char kInternetSettings[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

double Seconds(const LARGE_INTEGER& from) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void SetString(HKEY root, const std::string& key, const char* name, const std::string& value) {
  HKEY opened = nullptr;
  if (RegCreateKeyA(root, key.c_str(), &opened) != ERROR_SUCCESS) return;
  kit::UniqueKey owner(opened);
  RegSetValueExA(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
}

// The platform's way: extrac32 unpacks the cabinet, then every file is copied.
bool PlatformInstall(const std::string& cab, const std::string& extractTo, const std::string& target) {
  std::string command = "extrac32.exe /Y /E /L \"" + extractTo + "\" \"" + cab + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &started))
    return false;
  kit::ProcessInformation process;
  process.Adopt(started);
  WaitForSingleObject(process.process.get(), INFINITE);
  WIN32_FIND_DATAA data;
  kit::UniqueFind find(FindFirstFileA((extractTo + "\\*.dat").c_str(), &data));
  for (bool more = static_cast<bool>(find); more; more = FindNextFileA(find.get(), &data)) {
    if (!CopyFileA((extractTo + "\\" + data.cFileName).c_str(), (target + "\\" + data.cFileName).c_str(), FALSE))
      return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: install_bench <cabinet> [<result name>]\n");
    return 2;
  }
  const std::string base = SGetTempFileName(SGetTempPath().c_str(), "ibn").str();
  DeleteFileA(base.c_str());
  CreateDirectoryA(base.c_str(), nullptr);

  HKEY scratch = nullptr;
  RegCreateKeyA(HKEY_CURRENT_USER, kScratch, &scratch);
  kit::UniqueKey scratchOwner(scratch);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch);

  // Three rounds, each in fresh folders; the fastest time of each way counts,
  // so a burst of other work on the machine does not decide the ratio.
  int result = 0;
  double ours = 1e9, platform = 1e9;
  for (int round = 0; round < 3 && result == 0; ++round) {
    const std::string folder = base + "\\" + std::to_string(round);
    for (const char* sub : {"", "\\a", "\\b", "\\b\\x", "\\copied"}) CreateDirectoryA((folder + sub).c_str(), nullptr);
    SetString(HKEY_LOCAL_MACHINE, kInternetSettings, "ActiveXCache", folder + "\\dpf");
    SetString(HKEY_LOCAL_MACHINE, std::string(kInternetSettings) + "\\ActiveX Cache", "0", folder + "\\dpf");
    if (!CopyFileA(argv[1], (folder + "\\a\\bench.cab").c_str(), FALSE) ||
        !CopyFileA(argv[1], (folder + "\\b\\bench.cab").c_str(), FALSE)) {
      result = static_cast<int>(GetLastError());
      break;
    }
    UKitLoader loader;
    loader.SetUIAllowed(false);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    result = loader.Install((folder + "\\a\\bench.cab").c_str(), 1, nullptr);
    ours = std::min(ours, Seconds(start));
    QueryPerformanceCounter(&start);
    if (!PlatformInstall(folder + "\\b\\bench.cab", folder + "\\b\\x", folder + "\\copied")) result = -1;
    platform = std::min(platform, Seconds(start));
  }

  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  scratchOwner.reset();
  RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
  EmptyFolderEx(base.c_str(), DefDelItemProc, 0);
  RemoveDirectoryA(base.c_str());

  std::printf("Install: %.2f s (result %d); extrac32 + copy: %.2f s; ratio %.2f\n", ours, result, platform,
              platform > 0 ? ours / platform : 0.0);
  std::printf("RESULT %s %.4f %.4f %.2f <=1.5\n", argc == 3 ? argv[2] : "install", ours, platform,
              platform > 0 ? ours / platform : 0.0);
  return result == 0 ? 0 : 1;
}
