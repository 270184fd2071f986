// A cabinet's file table and the names of its entries.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cabinstaller/cab_directory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)cab::FileTableEnd(data, size);
  std::vector<cab::Entry> entries;
  std::string error;
  if (cab::ReadFileTable(data, size, &entries, &error)) (void)cab::CheckEntries(entries);
  (void)cab::UnsafeNameReason(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
