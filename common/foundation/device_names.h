// Whether a file name names one of Windows' devices (CON, NUL, COM1, ...),
// which a path opens instead of a file whatever folder precedes it: "NUL"
// swallows what is written to it and "COM1" writes to a port. Win32-free;
// for narrow and UTF-16 names alike.
#pragma once

#include <cstddef>
#include <cstring>

namespace kit {

// `name` is one path element of `length` units. Windows ignores an
// extension and the blanks before it ("nul .txt" is NUL).
template <class Char>
bool IsDeviceName(const Char* name, std::size_t length) {
  std::size_t end = 0;
  while (end < length && name[end] != Char('.')) ++end;
  while (end > 0 && name[end - 1] == Char(' ')) --end;
  char base[8] = {};
  if (end >= sizeof base) return false;
  for (std::size_t i = 0; i < end; ++i) {
    const Char c = name[i];
    if (c <= Char(0) || c > Char(0x7E)) return false;
    base[i] = static_cast<char>(c >= Char('A') && c <= Char('Z') ? c - 'A' + 'a' : c);
  }
  for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"})
    if (std::strcmp(base, device) == 0) return true;
  return end == 4 && (std::strncmp(base, "com", 3) == 0 || std::strncmp(base, "lpt", 3) == 0) && base[3] >= '1' &&
         base[3] <= '9';
}

}  // namespace kit
