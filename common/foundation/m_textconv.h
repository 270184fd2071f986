// Conversions between the two character widths, and system error texts.
#pragma once

#include <cstdint>

#include "foundation/m_strings.h"

// Wide text to narrow text in the ANSI code page; null gives the empty text.
UString createString(const wchar_t* wide);

// Narrow text to wide text. Returns 0 on success, the number of wide
// characters needed (terminator included) when `dstLen` is too small, and
// 0xFFFFFFFF on failure. A null destination with length 0 is a size query.
std::uint32_t StringToWideChar(const char* src, wchar_t* dst, std::uint32_t dstLen);

// "%d (0x%x) " of the code followed by the system's message for it.
UString SGetErrorText(std::uint32_t code);
