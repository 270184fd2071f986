// What the user sees: progress window, permission dialog, usage box and the
// final report.
#pragma once

#include <windows.h>

#include <cstdint>

#include "foundation/m_strings.h"

// Creates the modeless progress window (shown unless silent); null when the
// window cannot be created.
HWND CreateProgressWindow(HINSTANCE instance, bool show);
void DestroyProgressWindow(HWND window);

// The progress window: Cancel (the button or the close box) ends the run
// with -2; nothing else is acted on.
INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The "Permission Required" dialog: button 1 carries the elevation shield and
// ends it with 1 (continue), button 2 with 2 (cancel).
INT_PTR CALLBACK PermissionDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

enum class PermissionAnswer { Continue, Cancel };

// Shows the permission dialog modally, without owner. A dialog that cannot
// be shown counts as cancel: nothing is elevated without the user's consent.
PermissionAnswer ShowPermissionDialog(HINSTANCE instance);

void ShowUsageBox();
void ShowFailureBox(HWND owner, std::int32_t result, const char* file);
void ShowSuccessBox(HWND owner);

// A string of the program's string table (empty when missing), cut at 1023
// bytes.
UString LoadResourceString(UINT id);

// The text of an install result: the system's message (netmsg.dll for
// network-management codes, wininet.dll for internet codes), or the
// unknown-code form "<Unknown> (<code>)\n".
UString GetInstallErrorText(std::uint32_t code);

// The failure box's text: headline, empty line, error label and text, file
// label and file.
UString FormatFailureText(std::int32_t result, const char* file);
