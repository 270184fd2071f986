// A cabinet's file table as the installer reads it from a file, and the
// names of its entries.
#include <cstring>

#include "cabinstaller/cab_directory.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)cab::FileTableEnd(data, size);
  std::vector<cab::Entry> entries;
  std::string error;
  if (cab::ReadFileTable(data, size, &entries, &error)) (void)cab::CheckEntries(entries);
  const auto read = [data, size](std::uint64_t offset, unsigned char* buffer, std::size_t count) {
    if (offset > size || count > size - offset) return false;
    if (count) std::memcpy(buffer, data + offset, count);
    return true;
  };
  (void)cab::CheckStoredNames(read, size, size % 200);
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)cab::UnsafeNameReason(text);
  std::string joined;
  const std::size_t cut = text.find('|');
  if (cut != std::string::npos) (void)cab::JoinBelow(text.substr(0, cut), text.substr(cut + 1), &joined);
  return 0;
}
