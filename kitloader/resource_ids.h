// Identifiers of the program's dialogs, controls and strings (shared by the
// resource scripts and the code).
#pragma once

// The style of both dialogs (needs windows.h first).
#define KL_DIALOG_STYLE DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU

#define IDD_PROGRESS 101
#define IDD_PERMISSION 102
#define IDC_PERMISSION_TEXT 1000

#define IDS_CAPTION 1
#define IDS_FAILURE 2
#define IDS_FILE_LABEL 3
#define IDS_ERROR_LABEL 4
#define IDS_UNKNOWN 5
#define IDS_SUCCESS 6
