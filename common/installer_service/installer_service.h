// The client of the installer pipe protocol: the Installer Service (pipe 0)
// and the high- and medium-integrity user-mode installers (pipes 1 and 2).
#pragma once

#include <windows.h>

#include <cstdint>

enum : int {
  kPipeInstallerService = 0,
  kPipeHighIntegrityInstaller = 1,
  kPipeMediumIntegrityInstaller = 2,
};

// How long a presence test waits for a free instance of the service's pipe:
// a service whose every instance stays busy that long counts as absent.
constexpr DWORD kServicePresenceWaitMs = 20000;

// The version of the server listening on the pipe; 0 when none answers.
std::uint64_t srvGetServiceVersion(DWORD timeoutMs, int pipeIndex);

// Gives the server the parent window for its own windows: 0, or -1.
int srvSetUIWindow(HWND window, DWORD timeoutMs, int pipeIndex);

// Streams the package to the server and returns its install result, or -1
// when the client or the transport fails.
int srvInstallControl(const char* packagePath, DWORD unused, int pipeIndex);
