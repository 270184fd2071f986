// What the user sees: progress window, usage box and the final report.
#pragma once

#include <windows.h>

#include <cstdint>

#include "foundation/m_strings.h"

// Creates the modeless progress window (shown unless silent); may be null.
HWND CreateProgressWindow(HINSTANCE instance, bool show);
void DestroyProgressWindow(HWND window);

void ShowUsageBox();
void ShowFailureBox(HWND owner, std::int32_t result, const char* file);
void ShowSuccessBox(HWND owner);


// The text of an install result: the system's message (netmsg.dll for
// network-management codes, wininet.dll for internet codes), or the
// unknown-code form "<Unknown> (<code>)\n".
UString GetInstallErrorText(std::uint32_t code);
