#include "cabinstaller/inf_text.h"

#include <cstring>

namespace {
// The length of the NUL-terminated entry at p, bounded by end.
std::size_t EntryLength(const char* p, const char* end) {
  const void* nul = std::memchr(p, '\0', static_cast<std::size_t>(end - p));
  return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - p) : static_cast<std::size_t>(end - p);
}
}  // namespace

void ParseSectionNamesBlock(const char* block, std::size_t blockLen, UStringList& names) {
  if (!block) return;
  const char* p = block;
  const char* end = block + blockLen;
  while (p < end) {
    std::size_t len = EntryLength(p, end);
    std::size_t skip = 0;
    while (skip < len && p[skip] == ' ') ++skip;
    if (skip == len) break;  // empty or blank name ends the walk
    names.emplace_back(std::string(p + skip, len - skip));
    p += len + 1;
  }
}

void ParseSectionBlock(const char* block, std::size_t blockLen, UStringPairList& pairs) {
  if (!block) return;
  const char* p = block;
  const char* end = block + blockLen;
  while (p < end) {
    std::size_t len = EntryLength(p, end);
    const char* next = p + len + 1;
    std::size_t skip = 0;
    while (skip < len && p[skip] == ' ') ++skip;
    if (skip == len) break;  // a line of blanks ends the section
    std::string line(p + skip, len - skip);
    p = next;
    if (line[0] == ';') continue;
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    pairs.emplace_back(UString(line.substr(0, eq)).Trimmed(), UString(line.substr(eq + 1)).Trimmed());
  }
}

UString ChooseSectionVariant(const UString& section, const UString& platformTag, const UString& languageTag,
                             const UStringList& names) {
  const UString& s = section;
  const UString& pl = platformTag;
  const UString& l = languageTag;
  const UString candidates[] = {
      s + "." + pl + "." + l, s + "." + pl, s + ".ntx86." + l, s + ".ntx86",
      s + ".nt." + l,         s + ".nt",    s + "." + l,
  };
  for (const UString& c : candidates)
    for (const UString& n : names)
      if (n == c) return c;
  return s;
}
