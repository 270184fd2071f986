#include "kitloader/report.h"

#include <commctrl.h>

#include "delayload/system_library.h"
#include "foundation/errorlog.h"
#include "foundation/handles.h"
#include "kitloader/completion.h"
#include "kitloader/resource_ids.h"

namespace {

constexpr char kUsageText[] =
    "Usage: kitloader.exe [/s][/i <cabfile>[ <cabfile_n>]]\n"
    "/i - \tInstall <cabfile>\n"
    "/s - \tSilent; display no message boxes\n"
    "/? - \tPrint this message\n";

// The creation parameter of a progress window that is not shown.
constexpr LPARAM kProgressStaysHidden = 1;

// The program's own resources live in the executable.
HINSTANCE ResourceModule() { return GetModuleHandleA(nullptr); }

}  // namespace

HWND CreateProgressWindow(HINSTANCE instance, bool show) {
  // A silent run's window is never seen: it owns the run's dialogs and takes
  // the engine's notices and Cancel. Its button and text would only load the
  // themed common controls the manifest asks for, so it is made without them.
  struct alignas(4) HiddenTemplate {
    DLGTEMPLATE dialog;
    WORD menu, windowClass, title;
  };
  static const HiddenTemplate kHidden = {
      {(KL_DIALOG_STYLE) & ~DS_SETFONT, 0, 0, 0, 0, 148, 50}, 0, 0, 0};
  HWND window = show ? CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, &ProgressDlgProc, 0)
                     : CreateDialogIndirectParamA(instance, &kHidden.dialog, nullptr, &ProgressDlgProc,
                                                  kProgressStaysHidden);
  if (!window) {
    LogRecord(kLogWarnings, "CreateProgressWindow()",
              UMessage::Format("CreateDialogParam() failed, %1", static_cast<std::uint32_t>(GetLastError())));
    return nullptr;
  }
  if (show) ShowWindow(window, SW_SHOW);
  return window;
}

void DestroyProgressWindow(HWND window) {
  if (!window) return;
  ShowWindow(window, SW_HIDE);
  CloseWindow(window);
  DestroyWindow(window);
}

INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      // A window nobody sees takes no keyboard focus: giving it one starts
      // the input method's COM support for nothing. Shown later, the window
      // gets its focus when it is activated.
      return lParam != kProgressStaysHidden;
    case WM_COMMAND:
      // The close box arrives here as IDCANCEL too.
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
        CancelRun();
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

INT_PTR CALLBACK PermissionDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SendDlgItemMessageA(dialog, IDOK, BCM_SETSHIELD, 0, TRUE);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        EndDialog(dialog, 1);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 2);
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

PermissionAnswer ShowPermissionDialog(HINSTANCE instance) {
  INT_PTR answer = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_PERMISSION), nullptr, &PermissionDlgProc, 0);
  if (answer == 1) return PermissionAnswer::Continue;
  if (answer != 2)
    LogRecord(kLogWarnings, "ShowPermissionDialog()",
              UMessage::Format("DialogBoxParam() failed, %1", static_cast<std::uint32_t>(GetLastError())));
  return PermissionAnswer::Cancel;
}

void ShowUsageBox() { MessageBoxA(nullptr, kUsageText, "kitloader", MB_OK); }

UString LoadResourceString(UINT id) {
  char buf[1024] = {};
  LoadStringA(ResourceModule(), id, buf, sizeof buf);
  return UString(buf);
}

UString FormatFailureText(std::int32_t result, const char* file) {
  return LoadResourceString(IDS_FAILURE) + "\n\n" + LoadResourceString(IDS_ERROR_LABEL) +
         GetInstallErrorText(static_cast<std::uint32_t>(result)) + LoadResourceString(IDS_FILE_LABEL) +
         UString(file);
}

void ShowFailureBox(HWND owner, std::int32_t result, const char* file) {
  MessageBoxA(owner, FormatFailureText(result, file).c_str(), LoadResourceString(IDS_CAPTION).c_str(), MB_OK);
}

void ShowSuccessBox(HWND owner) {
  MessageBoxA(owner, LoadResourceString(IDS_SUCCESS).c_str(), LoadResourceString(IDS_CAPTION).c_str(), MB_OK);
}

UString GetInstallErrorText(std::uint32_t code) {
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  kit::UniqueModule source;
  if (code >= 2100 && code <= 2999)
    source.reset(kit::LoadSystemLibrary("netmsg.dll", LOAD_LIBRARY_AS_DATAFILE));
  else if (code >= 12000 && code <= 12188)
    source.reset(kit::LoadSystemLibrary("wininet.dll", LOAD_LIBRARY_AS_DATAFILE));
  if (source) flags |= FORMAT_MESSAGE_FROM_HMODULE;

  char* message = nullptr;
  DWORD n = FormatMessageA(flags, source.get(), code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           reinterpret_cast<char*>(&message), 0, nullptr);
  kit::UniqueLocal messageOwner(message);
  if (n && message && *message) return UString(message);
  return UString::Format("%s (%u)\n", LoadResourceString(IDS_UNKNOWN).c_str(), code);
}
