// A cabinet's file table and the names of its entries.
#include "cabinstaller/cab_directory.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)cab::FileTableEnd(data, size);
  std::vector<cab::Entry> entries;
  std::string error;
  if (cab::ReadFileTable(data, size, &entries, &error)) (void)cab::CheckEntries(entries);
  (void)cab::UnsafeNameReason(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
