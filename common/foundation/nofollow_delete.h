// Deleting without following links. Every item is opened with
// FILE_FLAG_OPEN_REPARSE_POINT and deleted through that handle, so a
// junction, a symbolic link or a mount point planted where a file or a
// folder was expected is removed as itself and what it points to is never
// touched. A folder tree is never entered through a link. Where the platform
// opens a link's target in spite of the flag (Wine with its Unix links), the
// link is left in place and ERROR_CANT_ACCESS_FILE reported.
#pragma once

#include <windows.h>

#include <string>

#include "foundation/handles.h"

namespace kit {

// What names one file or folder whatever path reaches it: the volume's serial
// number and the file index.
struct FileIdentity {
  DWORD volume = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
  bool operator==(const FileIdentity& o) const {
    return volume == o.volume && indexHigh == o.indexHigh && indexLow == o.indexLow;
  }
  bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

// What a handle opened without following links names.
struct NoFollowInfo {
  FileIdentity identity;
  DWORD attributes = 0;
  DWORD links = 0;
  bool IsLink() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
  bool IsFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

// Opens a file, a folder or a link itself (never its target). `access` is
// added to the attribute-reading right the other calls need.
UniqueFile OpenNoFollow(const char* path, DWORD access, DWORD share);

// Reads what an open handle names. False with the thread's last error set.
bool ReadNoFollowInfo(HANDLE item, NoFollowInfo* info);

// Whether a handle opened without following links went through one all the
// same: the path's own attributes (`pathAttributes`, from GetFileAttributes)
// say a link stands there, yet the handle names no link, as a platform that
// keeps no reparse data opens its own links. Acting on such a handle acts on
// the target.
bool FollowedALink(DWORD pathAttributes, const NoFollowInfo& opened);

// The path of what an open handle names, links in its folders resolved, in
// the plain "C:\\..." form. Empty when the system cannot tell.
std::string FinalPathOf(HANDLE item);

// The identity of what `path` itself names (a link's own identity for a
// link). False when it cannot be opened.
bool ReadFileIdentity(const char* path, FileIdentity* identity);

// Deletes the file, the empty folder or the link `path` names, through a
// handle opened without following links. With `expected`, only when the item
// is the one with that identity (ERROR_FILE_INVALID otherwise: something else
// took its place). A read-only item has that attribute cleared first.
// 0, ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND when there is nothing, or the
// error that stopped it.
DWORD DeleteNoFollow(const char* path, const FileIdentity* expected = nullptr);

// Empties the folder tree `folder` and, with `removeFolder`, the folder
// itself. A link inside is removed as a link and never entered. With
// `expected`, nothing is touched unless `folder` is still the folder with that
// identity. 0, or the first error met (the walk goes on past it).
DWORD DeleteTreeNoFollow(const char* folder, const FileIdentity* expected, bool removeFolder);

// For a folder this process holds open (OpenNoFollow with FILE_LIST_DIRECTORY
// access, with or without DELETE, and without delete sharing, so that nobody
// can move it away): empties `folder` when it still names the held folder,
// then deletes the folder through the held handle and closes it. A holder
// without DELETE is closed first and the folder deleted through a new handle
// only while `folder` still names it. 0, or the first error met.
DWORD DeleteHeldFolder(UniqueFile* held, const char* folder);

}  // namespace kit
