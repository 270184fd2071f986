// A small program of the test build that reports what the rights helpers
// answer in a process of its own, and holds files open for other tests.
//
//   facts_probe report <file>          writes the helpers' answers to <file>
//   facts_probe elevate <file>         starts "facts_probe report <file>" through
//                                      the elevation prompt; exit code 0 or the error
//   facts_probe hold <file> <event>    opens <file> without sharing, signals
//                                      "<event>.ready" and waits for "<event>.release"
//   facts_probe module                 exit code: length of its own module path
//   facts_probe version <pipe> <ms>    exit code 0 when the pipe's server answers
//                                      the version query (waiting <ms> for an instance)
//   facts_probe                        (no arguments) creates the file that
//                                      KITTEST_NOARGS_MARKER names: proof of a start
//                                      without arguments
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/m_sys.h"
#include "foundation/m_uac_helpers.h"
#include "installer_service/installer_service.h"

namespace {

int Report(const char* file) {
  const DWORD integrity = uGetProcessIntegrityLevel(GetCurrentProcess());
  const bool nonAdmin = IsNonAdminUser();
  const bool vista = IsWindowsVersionAtLeast(6, 0, 0);
  std::string text = "integrity=" + std::to_string(integrity) + "\nnonadmin=" + std::to_string(nonAdmin) +
                     "\nvista=" + std::to_string(vista) + "\n";
  // Written under a temporary name and renamed, so a waiting test never
  // reads half a report.
  const std::string partial = std::string(file) + ".partial";
  FILE* out = std::fopen(partial.c_str(), "wb");
  if (!out) return 2;
  std::fputs(text.c_str(), out);
  std::fclose(out);
  return MoveFileExA(partial.c_str(), file, MOVEFILE_REPLACE_EXISTING) ? 0 : 3;
}

int Elevate(const char* file) {
  const UString self = SGetModuleFileName(nullptr);
  const std::string parameters = std::string("report \"") + file + "\"";
  if (RunAsAdmin(nullptr, self.c_str(), parameters.c_str(), false)) return 0;
  return static_cast<int>(GetLastError());
}

int Hold(const char* file, const char* event) {
  kit::UniqueFile held(CreateFileA(file, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!held) return 2;
  kit::UniqueHandle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, (std::string(event) + ".ready").c_str()));
  kit::UniqueHandle release(OpenEventA(SYNCHRONIZE, FALSE, (std::string(event) + ".release").c_str()));
  if (!ready || !release) return 3;
  SetEvent(ready.get());
  return WaitForSingleObject(release.get(), 120000) == WAIT_OBJECT_0 ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "report" && argc == 3) return Report(argv[2]);
  if (mode == "elevate" && argc == 3) return Elevate(argv[2]);
  if (mode == "hold" && argc == 4) return Hold(argv[2], argv[3]);
  if (mode == "module") return static_cast<int>(SGetModuleFileName(nullptr).length());
  if (mode == "version" && argc == 4)
    return srvGetServiceVersion(std::strtoul(argv[3], nullptr, 0), std::atoi(argv[2])) != 0 ? 0 : 1;
  if (argc == 1) {
    char marker[MAX_PATH + 1] = {};
    DWORD n = GetEnvironmentVariableA("KITTEST_NOARGS_MARKER", marker, sizeof marker);
    if (n && n < sizeof marker) {
      kit::UniqueFile file(CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
      return file ? 0 : 2;
    }
  }
  std::fprintf(stderr, "usage: facts_probe report|elevate <file> | hold <file> <event> | module\n");
  return 87;
}
