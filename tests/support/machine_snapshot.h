// What the machine holds where an installation could write, taken before
// and after runs of the real programs and compared.
#pragma once

#include <map>
#include <set>
#include <string>

namespace kittest {

// "path|size" for the files of the drive (the Windows folder only at its
// top, in the system folder and in the Downloaded Program Files folders),
// "key|value|data" for HKLM\Software and HKCU\Software.
using Snapshot = std::map<std::string, std::string>;

// The entries of a folder (deep: and of its sub-folders), those in `skip`
// left out.
void ListFolder(const std::string& folder, bool deep, const std::set<std::string>& skip, Snapshot* out);

Snapshot TakeSnapshot(const std::set<std::string>& skip = {});

// The entries that appeared (with what they hold), went or changed; "+",
// "-" or "*" before each.
std::set<std::string> Changes(const Snapshot& before, const Snapshot& after);

}  // namespace kittest
