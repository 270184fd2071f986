// Who may use the pipe of a suite's installer server, as an SDDL text.
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

}  // namespace ombrix
