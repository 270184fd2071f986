// Unpacking a cabinet with the system's cabinet library (FDI), loaded at run
// time, into the folder the cabinet lies in.
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <fdi.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "cabinstaller/UKitLoader.h"
#include "cabinstaller/cab_directory.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/m_io.h"
#include "delayload/system_library.h"

namespace {

const char kExtract[] = "UKitLoader::ExtractCAB()";
const char kNotify[] = "UKitLoader::notification_function";

using FnFDICreate = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK, int, PERF);
using FnFDIIsCabinet = BOOL(DIAMONDAPI*)(HFDI, INT_PTR, PFDICABINETINFO);
using FnFDICopy = BOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);
using FnFDIDestroy = BOOL(DIAMONDAPI*)(HFDI);

// The files being written by the extraction on this thread, each with the
// SHA-256 of what has streamed into it so far. FDI's write callback gets no
// context of its own; one extraction runs at a time on a thread.
thread_local std::map<int, kit::Sha256>* t_writing = nullptr;

FNALLOC(FdiAlloc) { return std::malloc(cb); }
FNFREE(FdiFree) { std::free(pv); }
FNOPEN(FdiOpen) { return _sopen(pszFile, oflag, _SH_DENYNO, pmode); }
FNREAD(FdiRead) { return static_cast<UINT>(_read(static_cast<int>(hf), pv, cb)); }
FNWRITE(FdiWrite) {
  const int written = _write(static_cast<int>(hf), pv, cb);
  if (written > 0 && t_writing) {
    const auto file = t_writing->find(static_cast<int>(hf));
    if (file != t_writing->end()) file->second.Add(pv, static_cast<std::size_t>(written));
  }
  return static_cast<UINT>(written);
}
FNCLOSE(FdiClose) { return _close(static_cast<int>(hf)); }
FNSEEK(FdiSeek) { return _lseek(static_cast<int>(hf), dist, seektype); }

// A low-level file descriptor that is closed on every path.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : m_fd(fd) {}
  ~UniqueFd() {
    if (m_fd != -1) _close(m_fd);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return m_fd; }

 private:
  int m_fd;
};

// The cabinet library and one FDI context. The library is freed when the
// context was destroyed successfully (or never made); a failed FDIDestroy
// leaves it loaded.
class FdiSession {
 public:
  ~FdiSession() { Destroy(); }

  bool Load() {
    m_library.reset(kit::LoadSystemLibrary("cabinet.dll"));
    if (!m_library) return false;
    create = Entry<FnFDICreate>("FDICreate");
    isCabinet = Entry<FnFDIIsCabinet>("FDIIsCabinet");
    copy = Entry<FnFDICopy>("FDICopy");
    destroy = Entry<FnFDIDestroy>("FDIDestroy");
    if (create && isCabinet && copy && destroy) return true;
    m_library.reset();
    return false;
  }

  bool Create(ERF* erf) {
    m_context = create(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek, cpu80386, erf);
    if (!m_context) m_library.reset();
    return m_context != nullptr;
  }

  HFDI context() const { return m_context; }

  // FDIDestroy; true when it succeeded (or there was no context).
  bool Destroy() {
    if (!m_context) return true;
    HFDI context = m_context;
    m_context = nullptr;
    if (!destroy(context)) {
      m_library.release();  // stays loaded
      return false;
    }
    m_library.reset();
    return true;
  }

  template <class Fn>
  Fn Entry(const char* name) const {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_library.get(), name)));
  }

  FnFDICreate create = nullptr;
  FnFDIIsCabinet isCabinet = nullptr;
  FnFDICopy copy = nullptr;
  FnFDIDestroy destroy = nullptr;

 private:
  kit::UniqueModule m_library;
  HFDI m_context = nullptr;
};

// Reads the cabinet's file table and checks every stored name before
// anything is written. Empty when the cabinet may be extracted.
UString CheckStoredNames(const char* cabPath, std::size_t folderLength) {
  kit::UniqueFile file(CreateFileA(cabPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return UString();  // the open of the extraction itself reports this
  LARGE_INTEGER fileSize{};
  if (!GetFileSizeEx(file.get(), &fileSize)) return UString();
  const auto read = [&file](std::uint64_t offset, unsigned char* buffer, std::size_t count) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD got = 0;
    return SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) &&
           ReadFile(file.get(), buffer, static_cast<DWORD>(count), &got, nullptr) && got == count;
  };
  return UString(cab::CheckStoredNames(read, static_cast<std::uint64_t>(fileSize.QuadPart), folderLength).c_str());
}

bool StopRequested(const UKitLoader* loader) { return loader == nullptr || loader->RequestToStop(); }

FNFDINOTIFY(FdiNotify) {
  UKitLoader* self = static_cast<UKitLoader*>(pfdin->pv);
  switch (fdint) {
    case fdintCABINET_INFO:
      return StopRequested(self) ? 1 : 0;
    case fdintPARTIAL_FILE:
      return StopRequested(self) ? -1 : 0;
    case fdintCOPY_FILE:
      return self ? self->OpenExtractedFile(pfdin->psz1) : -1;
    case fdintCLOSE_FILE_INFO:
      if (!self) {
        _close(static_cast<int>(pfdin->hf));
        return -1;
      }
      return self->CloseExtractedFile(static_cast<int>(pfdin->hf), pfdin->psz1, pfdin->date, pfdin->time,
                                      pfdin->attribs);
    default:
      return 0;
  }
}

}  // namespace

int UKitLoader::OpenExtractedFile(const char* storedName) {
  // Every name was checked before extraction began; a name that would still
  // leave the folder is refused here too.
  if (!cab::UnsafeNameReason(storedName).empty()) return -1;
  UString name(storedName);
  UString folder, file;
  SSplitPath(name, &folder, &file);
  if (!folder.empty()) {
    UString relative = folder.Left(static_cast<int>(folder.length()) - 1);
    WIN32_FIND_DATAA data;
    kit::UniqueFind find(FindFirstFileA((m_strCabFolder + relative).c_str(), &data));
    if (!find) {
      if (createSubFolder(m_strCabFolder.c_str(), relative.c_str()) == 0) {
        LogRecord(kLogWarnings, kNotify,
                  UMessage::Format("Failed to create sub-folder %1 (error: %2)", relative, GetLastError()));
      } else if (m_bRequestToStop.load()) {
        return -1;
      }
    }
  }
  if (m_bRequestToStop.load()) return -1;
  UString path = m_strCabFolder + name;
  // A name stored twice replaces the earlier file instead of leaving its tail.
  int fd = _sopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_SEQUENTIAL, _SH_DENYNO,
                  _S_IREAD | _S_IWRITE);
  if (fd == -1) {
    LogRecord(kLogWarnings, kNotify, UMessage::Format("File_open failed for %1 (error: %2)", path, GetLastError()));
    return -1;
  }
  if (t_writing) {
    t_writing->erase(fd);
    t_writing->try_emplace(fd);
  }
  return fd;
}

int UKitLoader::CloseExtractedFile(int fd, const char* storedName, unsigned short date, unsigned short time,
                                   unsigned short attributes) {
  kit::Sha256Digest digest{};
  bool hashed = t_writing == nullptr;  // outside an extraction nothing is recorded
  if (t_writing) {
    const auto file = t_writing->find(fd);
    hashed = file != t_writing->end() && file->second.Finish(&digest);
    t_writing->erase(fd);
  }
  if (m_bRequestToStop.load() || !hashed) {
    _close(fd);
    if (!hashed) LogRecord(kLogErrors, kNotify, UMessage::Format("%1, %2", "no digest of the extracted file", storedName));
    return -1;
  }
  // The file's time goes on through the descriptor FDI wrote with, before
  // it is closed: no second open per file.
  FILETIME local, utc;
  const HANDLE written = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (written != INVALID_HANDLE_VALUE && DosDateTimeToFileTime(date, time, &local) &&
      LocalFileTimeToFileTime(&local, &utc)) {
    SetFileTime(written, &utc, nullptr, &utc);
  }
  _close(fd);
  const UString path = m_strCabFolder + storedName;
  if (t_writing) m_staged.Record(path, digest);
  SetFileAttributesA(path.c_str(), attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                 FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
  return TRUE;
}

int UKitLoader::ExtractCAB(const char* cabPath) {
  const UString path(cabPath);
  if (path.empty()) {
    LogRecord(kLogErrors, kExtract, UMessage::Format("%1, %2", ".cab file was not found", path));
    return ERROR_FILE_NOT_FOUND;
  }
  UString cabName;
  SSplitPath(path, &m_strCabFolder, &cabName);

  ERF erf{};
  FdiSession fdi;
  if (!fdi.Load() || !fdi.Create(&erf)) {
    LogRecord(kLogErrors, kExtract, UMessage::Format("%1, %2", "failed", erf.erfOper));
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  {
    UniqueFd fd(_sopen(path.c_str(), _O_RDONLY | _O_BINARY | _O_SEQUENTIAL, _SH_DENYNO));
    if (fd.get() == -1) {
      LogRecord(kLogErrors, kExtract, UMessage::Format("%1, %2", "could not open file", path));
      return ERROR_FILE_NOT_FOUND;
    }
    FDICABINETINFO info{};
    if (!fdi.isCabinet(fdi.context(), fd.get(), &info)) {
      LogRecord(kLogErrors, kExtract, UMessage::Format("%1, %2", "not a valid cabinet file", path));
      return ERROR_INVALID_PARAMETER;
    }
  }
  // A stored name must not reach outside the extraction folder: such a
  // cabinet is refused before anything is written.
  UString unsafe = CheckStoredNames(path.c_str(), m_strCabFolder.length());
  if (!unsafe.empty()) {
    LogRecord(kLogErrors, kExtract, UMessage::Format("%1, %2, %3", "unsafe file name in cabinet", unsafe, path));
    return ERROR_BAD_PATHNAME;
  }
  m_staged.Clear();
  std::map<int, kit::Sha256> writing;
  t_writing = &writing;
  const BOOL copied = fdi.copy(fdi.context(), const_cast<char*>(cabName.c_str()),
                               const_cast<char*>(m_strCabFolder.c_str()), 0, FdiNotify, nullptr, this);
  t_writing = nullptr;
  if (!copied) {
    LogRecord(kLogErrors, kExtract, UMessage::Format("%1, %2", "FDICopy failed", erf.erfOper));
    return ERROR_FILE_NOT_FOUND;
  }
  if (!fdi.Destroy()) {
    LogRecord(kLogErrors, kExtract, UMessage::Format("%1, %2", "FDIDestroy failed", erf.erfOper));
    return ERROR_FILE_NOT_FOUND;
  }
  return 0;
}
