// Finding and driving another process's dialogs and message boxes, the way a
// user would see them (Wine's null graphics driver keeps them real).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace kittest {

// UTF-8 -> UTF-16, for comparing window texts with the expected ones.
std::wstring Wide(const std::string& utf8);
// UTF-16 -> UTF-8, for readable failure messages.
std::string Utf8(const std::wstring& wide);

std::wstring WindowText(HWND window);
std::wstring ControlText(HWND dialog, int id);

// A visible top-level window of process `processId` that `match` accepts;
// waits until one appears, the process ends or timeoutMs has passed (null).
HWND WaitForWindow(HANDLE process, DWORD processId, const std::function<bool(HWND)>& match,
                   DWORD timeoutMs = 30000);

// The kinds of window the program shows.
bool IsMessageBox(HWND window);       // one OK button (id 1), no Cancel
bool IsProgressWindow(HWND window);   // Cancel (id 2) and no button 1
bool IsPermissionDialog(HWND window); // buttons 1 and 2 and the text 1000

// Presses a button as a click would (WM_COMMAND with BN_CLICKED).
void PressButton(HWND dialog, int id);

// The first static control with a text: a message box's text, the progress
// window's line.
std::wstring StaticText(HWND dialog);

}  // namespace kittest
