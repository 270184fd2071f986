// The file table of a cabinet, read from its header without decompressing
// anything, and the rules a stored name must meet before any file of the
// cabinet is written. Win32-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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
  std::string name;          // as stored
  std::uint32_t size = 0;    // uncompressed size
  std::uint16_t attributes = 0;
};

// How many bytes from the start of the file hold the whole file table, taken
// from the fixed header alone; 0 when `header` is no cabinet header.
std::size_t FileTableEnd(const unsigned char* header, std::size_t size);

// Reads the file table from the first bytes of a cabinet. False with a reason
// when the bytes are no cabinet or the table runs past them.
bool ReadFileTable(const unsigned char* data, std::size_t size, std::vector<Entry>* entries, std::string* error);

// Reads `count` bytes at `offset` of a cabinet; false unless all were read.
using ReadAt = std::function<bool(std::uint64_t offset, unsigned char* buffer, std::size_t count)>;

// Reads the file table of a cabinet of fileSize bytes through `read` and
// checks every stored name (CheckEntries, below a folder of folderLength
// characters). Empty when all may be extracted, and for bytes that are no
// cabinet header (the cabinet library refuses those itself); otherwise the
// reason. A file table said to start inside the fixed header is refused.
std::string CheckStoredNames(const ReadAt& read, std::uint64_t fileSize, std::size_t folderLength);

// Why a name may not be joined to a folder (a stored name, an INF's file or
// section name, a recorded INF name); empty when it may. Refused: empty
// names, absolute or rooted names, drive letters and streams (':'), ".."
// (also written with trailing dots or blanks, which Windows strips),
// components made only of dots or blanks, '/' (the extraction makes folders
// only at '\', so such a name would fail there), characters Windows refuses
// in names, device names ("CON", "nul.txt") and overlong names.
std::string UnsafeNameReason(const std::string& name);

// Whether `path` is `folder` or lies below it, compared without regard to
// case after "." and ".." are resolved, '/' is read as '\' and trailing
// dots and blanks of every component are dropped, as Windows does.
bool LiesWithin(const std::string& folder, const std::string& path);

// Joins a name to a folder: the reason the name is refused (UnsafeNameReason,
// or a joined path that does not lie below the folder), or empty with *path
// set to the joined path.
std::string JoinBelow(const std::string& folder, const std::string& name, std::string* path);

// The longest full path a file may be extracted to (the platform's path limit
// less its terminator): a longer one could be written but not removed again.
constexpr std::size_t kMaxPathLength = 259;

// Checks every entry, that no two entries name the same file (letter case
// and separators ignored) and that none is longer than kMaxPathLength below a
// folder of folderLength characters. Empty when all may be extracted;
// otherwise the reason, naming the entry.
std::string CheckEntries(const std::vector<Entry>& entries, std::size_t folderLength = 0);

}  // namespace cab
