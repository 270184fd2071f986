#include "cabinstaller/cab_directory.h"

#include <set>

#include "foundation/device_names.h"

namespace cab {
namespace {

constexpr std::uint16_t kPrevCabinet = 0x0001;
constexpr std::uint16_t kNextCabinet = 0x0002;

std::uint16_t U16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t U32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool IsHeader(const unsigned char* p, std::size_t size) {
  return size >= kHeaderSize && p[0] == 'M' && p[1] == 'S' && p[2] == 'C' && p[3] == 'F';
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '/') c = '\\';
  }
  return text;
}

}  // namespace

std::size_t FileTableEnd(const unsigned char* header, std::size_t size) {
  if (!IsHeader(header, size)) return 0;
  const std::uint32_t filesOffset = U32(header + 16);
  const std::uint16_t files = U16(header + 28);
  return static_cast<std::size_t>(filesOffset) + files * (kFileRecordSize + kMaxNameLength + 1);
}

bool ReadFileTable(const unsigned char* data, std::size_t size, std::vector<Entry>* entries, std::string* error) {
  entries->clear();
  if (!IsHeader(data, size)) {
    *error = "no cabinet header";
    return false;
  }
  const std::uint16_t flags = U16(data + 30);
  if (flags & (kPrevCabinet | kNextCabinet)) {
    *error = "the cabinet is part of a set";
    return false;
  }
  const std::uint32_t filesOffset = U32(data + 16);
  const std::uint16_t files = U16(data + 28);
  std::size_t at = filesOffset;
  for (std::uint16_t i = 0; i < files; ++i) {
    if (at > size || size - at < kFileRecordSize + 1) {
      *error = "the file table runs past the end of the cabinet";
      return false;
    }
    Entry entry;
    entry.size = U32(data + at);
    entry.attributes = U16(data + at + 14);
    at += kFileRecordSize;
    std::size_t end = at;
    while (end < size && data[end] != 0 && end - at <= kMaxNameLength) ++end;
    if (end >= size || data[end] != 0) {
      *error = "a stored name has no end";
      return false;
    }
    entry.name.assign(reinterpret_cast<const char*>(data + at), end - at);
    entries->push_back(std::move(entry));
    at = end + 1;
  }
  return true;
}

std::string UnsafeNameReason(const std::string& name) {
  if (name.empty()) return "an empty name";
  if (name.size() > kMaxNameLength) return "a name longer than 256 characters";
  if (name[0] == '\\' || name[0] == '/') return "a rooted name";
  if (name.find('/') != std::string::npos) return "a '/' in the name";
  std::size_t start = 0;
  for (;;) {
    std::size_t end = name.find_first_of("\\/", start);
    std::string part = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty()) return "an empty folder name";
    std::size_t kept = part.find_last_not_of(". ");
    // Windows strips trailing dots and blanks: ".. " is "..".
    if (kept == std::string::npos) return "a name made only of dots or blanks (such as \"..\")";
    if (kit::IsDeviceName(part.data(), part.size())) return "a device name (such as \"NUL\" or \"COM1\")";
    for (unsigned char c : part) {
      if (c < 0x20 || c == ':' || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*') {
        return c == ':' ? "a drive letter or stream (\":\")" : "a character Windows refuses in names";
      }
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return std::string();
}

std::string CheckStoredNames(const ReadAt& read, std::uint64_t fileSize, std::size_t folderLength) {
  unsigned char header[kHeaderSize];
  if (fileSize < kHeaderSize || !read(0, header, kHeaderSize) || !IsHeader(header, kHeaderSize)) return std::string();
  const std::uint64_t tableStart = U32(header + 16);
  if (tableStart < kHeaderSize) return "the file table starts inside the cabinet header";
  std::uint64_t tableEnd = tableStart + U16(header + 28) * std::uint64_t{kFileRecordSize + kMaxNameLength + 1};
  if (tableEnd > fileSize) tableEnd = fileSize;
  std::vector<unsigned char> table(static_cast<std::size_t>(tableEnd));
  if (!read(0, table.data(), table.size())) return "the file table cannot be read";
  std::vector<Entry> entries;
  std::string error;
  if (!ReadFileTable(table.data(), table.size(), &entries, &error)) return error;
  return CheckEntries(entries, folderLength);
}

namespace {

// The components of a path as Windows resolves them: "." dropped, ".."
// taking the one before it away, trailing dots and blanks stripped, letters
// folded.
std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find_first_of("\\/", start);
    const std::string part = Lower(path.substr(start, end == std::string::npos ? std::string::npos : end - start));
    const std::size_t kept = part.find_last_not_of(". ");
    if (kept != std::string::npos) {
      parts.push_back(part.substr(0, kept + 1));
    } else if (part.find("..") != std::string::npos && !parts.empty()) {
      parts.pop_back();  // "..", also with trailing dots or blanks
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

}  // namespace

bool LiesWithin(const std::string& folder, const std::string& path) {
  const std::vector<std::string> base = Components(folder), full = Components(path);
  if (base.empty() || full.size() < base.size()) return false;
  for (std::size_t i = 0; i < base.size(); ++i) {
    if (base[i] != full[i]) return false;
  }
  return true;
}

std::string JoinBelow(const std::string& folder, const std::string& name, std::string* path) {
  std::string reason = UnsafeNameReason(name);
  if (!reason.empty()) return reason;
  std::string joined = folder;
  if (!joined.empty() && joined.back() != '\\') joined += '\\';
  joined += name;
  if (folder.empty() || !LiesWithin(folder, joined) || Components(joined).size() <= Components(folder).size())
    return "a path outside its folder";
  *path = joined;
  return std::string();
}

std::string CheckEntries(const std::vector<Entry>& entries, std::size_t folderLength) {
  std::set<std::string> seen;
  for (const Entry& entry : entries) {
    std::string reason = UnsafeNameReason(entry.name);
    if (reason.empty() && folderLength + entry.name.size() > kMaxPathLength) reason = "a path longer than 259 characters";
    if (!reason.empty()) return reason + ": \"" + entry.name + "\"";
    if (!seen.insert(Lower(entry.name)).second) return "two entries of the same name: \"" + entry.name + "\"";
  }
  return std::string();
}

}  // namespace cab
