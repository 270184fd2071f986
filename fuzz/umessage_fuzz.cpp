// Message templates with up to six arguments of every kind, chained and
// through Format; the finished text must always be producible.
#include <cstddef>
#include <cstdint>

#include "foundation/m_strings.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = fuzzing::SplitAtNul(data, size, 4);
  const char* templ = parts[0].c_str();
  const long number = static_cast<long>(parts[1].size()) - 3;
  UMessage chained(templ);
  chained.Arg(parts[1].c_str()).Arg(UString(parts[2])).Arg(number).Arg(static_cast<unsigned>(size)).Arg(parts[3].c_str());
  (void)chained.Text();
  (void)UMessage::Format(templ, parts[1].c_str(), number, UString(parts[2]), 7ULL, static_cast<const void*>(templ),
                         parts[3].c_str());
  UString replaced(parts[0]);
  replaced.Replace(parts[1].c_str(), parts[2].c_str());
  (void)replaced.Trimmed().Mid(static_cast<int>(number), static_cast<int>(parts[3].size()));
  return 0;
}
