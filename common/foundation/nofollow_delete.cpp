#include "foundation/nofollow_delete.h"

#include <cstring>
#include <string>

#include "foundation/UClasses.h"
#include "foundation/m_textconv.h"

namespace kit {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Clears a read-only attribute through the handle, so the delete is allowed.
void ClearReadOnly(HANDLE item, DWORD attributes) {
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return;
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = (attributes & ~FILE_ATTRIBUTE_READONLY) ? (attributes & ~FILE_ATTRIBUTE_READONLY)
                                                                 : FILE_ATTRIBUTE_NORMAL;
  SetFileInformationByHandle(item, FileBasicInfo, &basic, sizeof basic);
}

DWORD DisposeThrough(HANDLE item, const NoFollowInfo& info) {
  ClearReadOnly(item, info.attributes);
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  if (SetFileInformationByHandle(item, FileDispositionInfo, &disposition, sizeof disposition)) return 0;
  return GetLastError();
}

std::string Prefix(const char* folder) {
  std::string prefix = folder;
  if (!prefix.empty() && prefix.back() != '\\' && prefix.back() != '/') prefix += '\\';
  return prefix;
}

DWORD EmptyBelow(HANDLE folder, const std::string& prefix);

// Deletes one entry of a folder being emptied: a real folder is emptied
// first, a link is never entered.
DWORD DeleteEntry(const std::string& path, DWORD listedAttributes) {
  UniqueFile child = OpenNoFollow(path.c_str(), DELETE | FILE_WRITE_ATTRIBUTES | FILE_LIST_DIRECTORY, kShareAll);
  NoFollowInfo info;
  if (!child || !ReadNoFollowInfo(child.get(), &info)) return GetLastError();
  if (FollowedALink(listedAttributes, info)) return ERROR_CANT_ACCESS_FILE;
  const DWORD error = info.IsFolder() && !info.IsLink() ? EmptyBelow(child.get(), path + "\\") : 0;
  const DWORD disposed = DisposeThrough(child.get(), info);
  return error ? error : disposed;
}

// Lists the folder through its own handle (never through a path that could
// lead elsewhere) and deletes every entry.
DWORD EmptyBelow(HANDLE folder, const std::string& prefix) {
  alignas(8) unsigned char buffer[16 * 1024];
  DWORD first = 0;
  FILE_INFO_BY_HANDLE_CLASS listing = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(folder, listing, buffer, sizeof buffer)) {
    listing = FileIdBothDirectoryInfo;
    for (DWORD offset = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + offset);
      const std::wstring wide(entry->FileName, entry->FileNameLength / sizeof(WCHAR));
      if (wide != L"." && wide != L"..") {
        const std::string path = prefix + std::string(createString(wide.c_str()).c_str());
        const DWORD error = DeleteEntry(path, entry->FileAttributes);
        if (error) {
          LogRecord(kLogWarnings, "kit::DeleteTreeNoFollow",
                    UMessage::Format("Failed to delete %1 (error: %2)", path, static_cast<unsigned>(error)));
          if (!first) first = error;
        }
      }
      if (!entry->NextEntryOffset) break;
      offset += entry->NextEntryOffset;
    }
  }
  const DWORD end = GetLastError();
  if (end != ERROR_NO_MORE_FILES && end != ERROR_FILE_NOT_FOUND && !first) first = end;
  return first;
}

}  // namespace

// The folder's listing (or the path's attributes) says a link stands there,
// yet the handle names no link: such an item is left alone.
bool FollowedALink(DWORD listedAttributes, const NoFollowInfo& opened) {
  return listedAttributes != INVALID_FILE_ATTRIBUTES && (listedAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         !opened.IsLink();
}

std::string FinalPathOf(HANDLE item) {
  char path[MAX_PATH * 4];
  const DWORD length = GetFinalPathNameByHandleA(item, path, sizeof path, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= sizeof path) return std::string();
  std::string text(path, length);
  if (text.rfind("\\\\?\\UNC\\", 0) == 0) return "\\" + text.substr(7);
  if (text.rfind("\\\\?\\", 0) == 0) return text.substr(4);
  return text;
}

UniqueFile OpenNoFollow(const char* path, DWORD access, DWORD share) {
  return UniqueFile(CreateFileA(path, access | FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool ReadNoFollowInfo(HANDLE item, NoFollowInfo* info) {
  BY_HANDLE_FILE_INFORMATION data;
  if (!GetFileInformationByHandle(item, &data)) return false;
  info->identity = {data.dwVolumeSerialNumber, data.nFileIndexHigh, data.nFileIndexLow};
  info->attributes = data.dwFileAttributes;
  info->links = data.nNumberOfLinks;
  return true;
}

bool ReadFileIdentity(const char* path, FileIdentity* identity) {
  UniqueFile item = OpenNoFollow(path, 0, kShareAll);
  NoFollowInfo info;
  if (!item || !ReadNoFollowInfo(item.get(), &info)) return false;
  *identity = info.identity;
  return true;
}

DWORD DeleteNoFollow(const char* path, const FileIdentity* expected) {
  UniqueFile item = OpenNoFollow(path, DELETE | FILE_WRITE_ATTRIBUTES, kShareAll);
  if (!item) return GetLastError();
  NoFollowInfo info;
  if (!ReadNoFollowInfo(item.get(), &info)) return GetLastError();
  if (expected && info.identity != *expected) return ERROR_FILE_INVALID;
  if (FollowedALink(GetFileAttributesA(path), info)) return ERROR_CANT_ACCESS_FILE;
  return DisposeThrough(item.get(), info);
}

DWORD DeleteTreeNoFollow(const char* folder, const FileIdentity* expected, bool removeFolder) {
  if (!folder || !*folder) return ERROR_INVALID_PARAMETER;
  UniqueFile root = OpenNoFollow(folder, (removeFolder ? DELETE : 0) | FILE_LIST_DIRECTORY, kShareAll);
  NoFollowInfo info;
  if (!root || !ReadNoFollowInfo(root.get(), &info)) return GetLastError();
  if (expected && info.identity != *expected) return ERROR_FILE_INVALID;
  if (FollowedALink(GetFileAttributesA(folder), info)) return ERROR_CANT_ACCESS_FILE;
  // A link where the folder was is removed as a link, never emptied.
  DWORD error = info.IsFolder() && !info.IsLink() ? EmptyBelow(root.get(), Prefix(folder)) : 0;
  if (removeFolder) {
    const DWORD disposed = DisposeThrough(root.get(), info);
    if (!error) error = disposed;
  }
  return error;
}

DWORD DeleteHeldFolder(UniqueFile* held, const char* folder) {
  if (!held || !*held) return ERROR_INVALID_HANDLE;
  NoFollowInfo info;
  if (!ReadNoFollowInfo(held->get(), &info)) return GetLastError();
  FileIdentity named;
  DWORD error = 0;
  // Empty the tree only while its path still leads to the held folder.
  if (folder && ReadFileIdentity(folder, &named) && named == info.identity && !info.IsLink())
    error = EmptyBelow(held->get(), Prefix(folder));
  else
    error = ERROR_FILE_INVALID;
  DWORD disposed = DisposeThrough(held->get(), info);
  held->reset();
  // A holder without the delete right (one that lets programs take the
  // folder as their current folder) hands over to a handle opened for the
  // deletion, which acts only on the folder it held.
  if (disposed == ERROR_ACCESS_DENIED && folder) disposed = DeleteNoFollow(folder, &info.identity);
  return error ? error : disposed;
}

}  // namespace kit
