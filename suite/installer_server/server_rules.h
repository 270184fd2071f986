// The decisions of the suite's pipe servers that need no system call: their
// command line, the answer a client gets for a request's result, where a
// received package may be stored, and which package is the Installer
// Service's own update. Win32-free.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ombrix {

// The answers the clients read with a meaning of their own.
enum : std::uint32_t {
  kAnswerInstalled = 0,
  kAnswerUpdatesItself = 2,
  kAnswerRestartNeeded = 3,
  kAnswerDependency = 0x10000000,
  kAnswerInstallFailed = 1603,  // ERROR_INSTALL_FAILURE
  kAnswerNotNewer = 1638,       // ERROR_PRODUCT_VERSION: an update that is not newer
};

// The command line shared by the servers. `extra` are the options only one
// program knows ("/temp"): each takes a value and lands in `extraValues` in
// the same order (empty when not given).
struct ServerOptions {
  int pipe = -1;
  std::uint64_t version = 0x0001000000000001ull;  // 1.0.0.1
  bool forceResult = false;                       // answer `result` instead of installing
  std::uint32_t result = 0;
  std::uint32_t answerSize = 20;
  std::uint32_t holdMs = 0;
  bool keep = false;
  bool discard = false;
  std::string stopEvent;
  std::uint32_t idleMs = 120000;
  std::uint32_t ioTimeoutMs = 10000;
  std::uint32_t deadlineMs = 300000;  // a whole request, from its first byte to its answer
  std::vector<std::string> extraValues;
};

// "a.b.c.d" as the four 16-bit parts of a 64-bit version.
bool ParseVersion(const char* text, std::uint64_t* version);

// False on an unknown option, a missing value or a bad number or version.
// The pipe index is checked by the caller.
bool ParseServerOptions(int argc, const char* const* argv, ServerOptions* options,
                        const std::vector<std::string>& extra = {});

// Where a result comes from: the installation (or the self-update) of a
// received package, or the receiving itself (a Win32 error).
enum class ResultOf { kInstall, kReceive };

// What the client is told of a result: the one table of answers. A failure
// whose code happens to be one of the answers with a meaning (0 or 3010
// while receiving; 2, 3, 0x10000000 from anywhere) would be read as
// "installed", "updating itself", "restart needed" or "dependency", so it
// becomes 1603; an installation that needs a restart becomes 3.
std::uint32_t AnswerFor(ResultOf from, std::int32_t result);

// Whether `path` names the entry `name` directly inside `folder` (a path
// without a trailing separator): the folder, one backslash, the name, and
// nothing that any path parsing would read as another separator, a parent
// or a stream.
bool IsDirectlyInside(const std::string& folder, const std::string& name, const std::string& path);

// The name under which the older services expect their update.
extern const char kServiceUpdateName[];
// The Installer Service's program in its update package.
extern const char kServiceProgramName[];

// Whether a received package is the Installer Service's update: it comes
// under the fixed update name, or its file table carries the service's
// program (letter case ignored, in any folder of the cabinet).
bool IsServiceUpdate(const std::string& packageName, const std::vector<std::string>& storedNames);

}  // namespace ombrix
