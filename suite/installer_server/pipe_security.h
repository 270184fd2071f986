// Who may use the pipe and the receive folders of a suite's installer
// server, as SDDL texts.
#pragma once

#include "foundation/m_strings.h"

namespace ombrix {

// The Installer Service's pipe (index 0) admits the interactive users; a
// user-mode installer's pipe (1, 2) admits the user it runs for. Clients
// may read and write (the protocol's clients open with GENERIC_WRITE, which
// includes the right to create a pipe instance: a second instance is kept
// out by the one-instance limit of the first); the system and the
// administrators keep full control; clients of low integrity may write.
// Empty when the user's SID cannot be read.
UString PipeSecurity(int pipe);

// A receive folder admits the account the server runs as (the system for
// the Installer Service, the user for a user-mode installer) and nobody
// else; the high-integrity installer's also keeps out the user's processes
// of lower integrity. Empty when the account's SID cannot be read.
UString ReceiveFolderSecurity(int pipe);

}  // namespace ombrix
