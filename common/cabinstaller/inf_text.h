// Parsing of the blocks the profile functions return, and the choice of a
// platform-decorated section variant. Win32-free.
#pragma once

#include <cstddef>

#include "foundation/string_lists.h"

// Walks a block of NUL-terminated section names (ended by an empty name).
// Leading blanks are skipped; a name of blanks only ends the walk.
void ParseSectionNamesBlock(const char* block, std::size_t blockLen, UStringList& names);

// Parses a block of NUL-terminated "key=value" lines (ended by an empty line):
// comments (";") and lines without "=" are skipped, key and value trimmed,
// a line of blanks ends the section.
void ParseSectionBlock(const char* block, std::size_t blockLen, UStringPairList& pairs);

// Picks the first decorated variant of `section` present in `names` (exact,
// case-sensitive): S.P.L, S.P, S.ntx86.L, S.ntx86, S.nt.L, S.nt, S.L, else S.
UString ChooseSectionVariant(const UString& section, const UString& platformTag, const UString& languageTag,
                             const UStringList& names);
