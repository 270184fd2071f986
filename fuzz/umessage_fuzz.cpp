// Message templates filled with arguments of every kind, chained and through
// Format (which appends what finds no placeholder).
#include "foundation/m_strings.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = fuzzing::SplitAtNul(data, size, 4);
  const long number = static_cast<long>(parts[1].size()) - 3;
  (void)UMessage(parts[0].c_str()).Arg(parts[1].c_str()).Arg(UString(parts[2])).Arg(number).Arg(7u).Text();
  (void)UMessage::Format(parts[0].c_str(), parts[1].c_str(), number, UString(parts[2]), 7ULL,
                         static_cast<const void*>(data), parts[3].c_str());
  UString replaced(parts[0]);
  replaced.Replace(parts[1].c_str(), parts[2].c_str());
  (void)replaced.Trimmed().Mid(static_cast<int>(number), static_cast<int>(parts[3].size()));
  return 0;
}
