// The folder one received package lives in: new for every request, with a
// random name and a descriptor that admits only the server's own account,
// and removed with everything in it when the request ends.
#pragma once

#include <windows.h>

#include <string>

#include "foundation/handles.h"
#include "foundation/m_strings.h"

namespace ombrix {

class ReceiveFolder {
 public:
  ReceiveFolder() = default;
  ReceiveFolder(const ReceiveFolder&) = delete;
  ReceiveFolder& operator=(const ReceiveFolder&) = delete;
  // Removes the folder and everything in it, unless Keep() was called.
  ~ReceiveFolder();

  // Creates "<prefix>-<16 random hex digits>" with the descriptor `sddl`.
  // The prefix's folder must exist and be no reparse point; a name that
  // exists already (a folder, a file or a junction someone prepared) is
  // never used. 0 or the error.
  DWORD Create(const UString& prefix, const UString& sddl);

  // The path of the received name inside the folder. The name is converted
  // to the ANSI code page exactly (no best fit, checked by converting back)
  // and the joined path must stay directly inside the folder; anything else
  // is refused with ERROR_INVALID_NAME.
  DWORD Join(const std::u16string& name, UString* path) const;

  const UString& path() const { return m_path; }
  void Keep() { m_keep = true; }

 private:
  UString m_path;
  // Held open without delete sharing: nobody renames the folder away or
  // puts something else in its place while the request runs.
  kit::UniqueFile m_handle;
  bool m_keep = false;
};

// The ANSI form of a UTF-16 text when it converts exactly; false when a
// character has no exact counterpart (best fit or the default character).
bool ExactAnsi(const std::u16string& wide, std::string* ansi);

}  // namespace ombrix
