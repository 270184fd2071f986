// A program that package hooks start: exit_with.exe <code> [<ms> [<file>]]
// sleeps <ms>, writes its current folder to <file> and exits with <code>.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2) return ERROR_BAD_ARGUMENTS;
  if (argc > 2) Sleep(std::strtoul(argv[2], nullptr, 0));
  if (argc > 3) {
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    if (std::FILE* file = std::fopen(argv[3], "w")) {
      std::fputs(folder, file);
      std::fclose(file);
    }
  }
  return static_cast<int>(std::strtoul(argv[1], nullptr, 0));
}
