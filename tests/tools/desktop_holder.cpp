// Keeps Wine's desktop process alive while tests run.
//
// The first program that needs the desktop window makes Wine start
// "explorer.exe /desktop", which inherits that program's output pipes and
// keeps them open until the desktop closes, one second after its last user
// has gone. A test runner that waits for those pipes then waits for every
// other test that keeps the desktop busy. build/wine-run starts this program,
// with its output sent nowhere, before anything else: it starts the desktop
// itself and stays attached to it until no program has been run for a while.
//
//   kit_desktop_holder.exe <stamp file> <ready file> <idle seconds>
//
// The runner touches the stamp file at every run; this program writes the
// ready file once the desktop exists and ends once the stamp is older than
// the idle time (or has gone).
#include <windows.h>

#include <cstdlib>

namespace {

// Seconds since the stamp file was last written; -1 when it cannot be read.
long long SecondsSinceWritten(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
  FILETIME now_ft;
  GetSystemTimeAsFileTime(&now_ft);
  ULARGE_INTEGER now, then;
  now.LowPart = now_ft.dwLowDateTime;
  now.HighPart = now_ft.dwHighDateTime;
  then.LowPart = data.ftLastWriteTime.dwLowDateTime;
  then.HighPart = data.ftLastWriteTime.dwHighDateTime;
  if (now.QuadPart < then.QuadPart) return 0;
  return static_cast<long long>((now.QuadPart - then.QuadPart) / 10000000ULL);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 87;
  const char* stamp = argv[1];
  const char* ready = argv[2];
  const long long idle = std::atoll(argv[3]);
  if (idle <= 0) return 87;

  // Attaches this process to the desktop, starting the desktop process.
  if (!GetDesktopWindow()) return static_cast<int>(GetLastError());

  HANDLE file = CreateFileA(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  CloseHandle(file);

  for (;;) {
    Sleep(2000);
    const long long age = SecondsSinceWritten(stamp);
    if (age < 0 || age > idle) break;
  }
  DeleteFileA(ready);
  return 0;
}
