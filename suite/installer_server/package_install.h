// What the suite's pipe servers do with a package they received: verify it
// with the trust decision of a direct installation and install it with the
// cabinet installer.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "foundation/m_strings.h"

namespace ombrix {

// 0 when the package's signature is valid and its signer trusted. A server
// never waits for a person: without an owner window no trust dialog may
// come up. serviceOnly asks for one of the Installer Service's own signers
// on top (a package that replaces the service itself).
DWORD VerifyReceivedPackage(const UString& path, HWND owner, bool serviceOnly);

// The names the cabinet's file table stores; empty when it is no cabinet.
std::vector<std::string> StoredNamesOf(const UString& path);

// Verifies and installs one package: scope 1 per machine, 2 per user. The
// installer's windows, if any, are owned by `owner`; without one it asks
// nobody. The cabinet installer's result, or the verification's code.
int InstallReceivedPackage(const UString& path, int scope, HWND owner);

}  // namespace ombrix
