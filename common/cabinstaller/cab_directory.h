// The file table of a cabinet, read from its header without decompressing
// anything, and the rules a stored name must meet before any file of the
// cabinet is written. Win32-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cab {

// Fixed part of the cabinet header (CFHEADER) in bytes.
constexpr std::size_t kHeaderSize = 36;
// The longest stored name a cabinet may carry, without its terminator.
constexpr std::size_t kMaxNameLength = 256;
// One file record (CFFILE) without its name.
constexpr std::size_t kFileRecordSize = 16;

struct Entry {
  std::string name;          // as stored (may use '\' or '/')
  std::uint32_t size = 0;    // uncompressed size
  std::uint16_t attributes = 0;
};

// How many bytes from the start of the file hold the whole file table, taken
// from the fixed header alone; 0 when `header` is no cabinet header.
std::size_t FileTableEnd(const unsigned char* header, std::size_t size);

// Reads the file table from the first bytes of a cabinet. False with a reason
// when the bytes are no cabinet or the table runs past them.
bool ReadFileTable(const unsigned char* data, std::size_t size, std::vector<Entry>* entries, std::string* error);

// Why a stored name may not be extracted below the extraction folder; empty
// when it may. Refused: empty names, absolute or rooted names, drive letters
// and streams (':'), ".." (also written with trailing dots or blanks, which
// Windows strips), components made only of dots or blanks, characters
// Windows refuses in names, device names ("CON", "nul.txt") and overlong
// names.
std::string UnsafeNameReason(const std::string& name);

// The longest full path a file may be extracted to (the platform's path limit
// less its terminator): a longer one could be written but not removed again.
constexpr std::size_t kMaxPathLength = 259;

// Checks every entry, that no two entries name the same file (letter case
// and separators ignored) and that none is longer than kMaxPathLength below a
// folder of folderLength characters. Empty when all may be extracted;
// otherwise the reason, naming the entry.
std::string CheckEntries(const std::vector<Entry>& entries, std::size_t folderLength = 0);

}  // namespace cab
