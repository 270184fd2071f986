// The one update engine of the process.
#pragma once

#include "engine/USmartUpdateEx.h"

// Built before WinMain runs (on first use during static initialisation) and
// destroyed at process exit.
USmartUpdateEx& ProcessEngine();
