#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "foundation/m_io.h"

namespace kittest {

std::string WindowsPathOf(const std::string& unixPath) {
  std::string p = "Z:" + unixPath;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

std::string UnixPathOf(const std::string& windowsPath) {
  typedef char*(CDECL * ToUnixProc)(LPCWSTR);
  auto toUnix = reinterpret_cast<ToUnixProc>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) return std::string();
  std::wstring wide(windowsPath.begin(), windowsPath.end());
  char* unixPath = toUnix(wide.c_str());
  if (!unixPath) return std::string();
  std::string result(unixPath);
  HeapFree(GetProcessHeap(), 0, unixPath);
  return result;
}

bool MakeUnixLink(const std::string& target, const std::string& link) {
  const std::string unixLink = UnixPathOf(link), unixTarget = UnixPathOf(target);
  if (unixLink.empty() || unixTarget.empty()) return false;
  RunProcess("Z:\\bin\\ln -s \"" + unixTarget + "\" \"" + unixLink + "\"");
  // The Unix program may finish after its Windows process.
  for (int i = 0; i < 3000 && GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(20);
  const DWORD attributes = GetFileAttributesA(link.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void RemoveUnixLink(const std::string& link) {
  const std::string unixLink = UnixPathOf(link);
  if (unixLink.empty()) return;
  RunProcess("Z:\\bin\\rm -f \"" + unixLink + "\"");
  for (int i = 0; i < 3000 && GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(20);
}

TempFolder::TempFolder() {
  char base[MAX_PATH + 1] = {};
  GetTempPathA(sizeof base, base);
  static LONG counter = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "kittest_%lu_%ld_%lu", GetCurrentProcessId(), InterlockedIncrement(&counter),
                  GetTickCount());
    std::string candidate = std::string(base) + name;
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      m_path = candidate;
      return;
    }
  }
  ADD_FAILURE() << "cannot create a temporary folder under " << base;
}

TempFolder::~TempFolder() {
  if (m_path.empty()) return;
  EmptyFolderEx(m_path.c_str());
  RemoveDirectoryA(m_path.c_str());
}

void WriteTextFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(out.good()) << "cannot write " << path;
  out << text;
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void CopyFileOrFail(const std::string& from, const std::string& to) {
  ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << "copy " << from << " -> " << to << " failed with "
                                                          << GetLastError();
}

ChildProcess StartProcess(const std::string& commandLine, const std::string& currentFolder,
                          const std::vector<std::pair<std::string, std::string>>& environment) {
  ChildProcess child;
  // Environment block: ours plus the overrides.
  std::vector<char> block;
  if (!environment.empty()) {
    char* own = GetEnvironmentStringsA();
    for (const char* p = own; *p; p += std::strlen(p) + 1) {
      std::string entry(p);
      bool overridden = false;
      for (const auto& kv : environment)
        if (entry.size() > kv.first.size() && entry[kv.first.size()] == '=' &&
            _strnicmp(entry.c_str(), kv.first.c_str(), kv.first.size()) == 0)
          overridden = true;
      if (!overridden) block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    }
    FreeEnvironmentStringsA(own);
    for (const auto& kv : environment) {
      std::string entry = kv.first + "=" + kv.second;
      block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    }
    block.push_back('\0');
  }
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::vector<char> cmd(commandLine.begin(), commandLine.end());
  cmd.push_back('\0');
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, block.empty() ? nullptr : block.data(),
                      currentFolder.empty() ? nullptr : currentFolder.c_str(), &si, &pi)) {
    ADD_FAILURE() << "CreateProcess(" << commandLine << ") failed with " << GetLastError();
    return child;
  }
  child.m_info.Adopt(pi);
  return child;
}

ProcessResult ChildProcess::Wait(DWORD timeoutMs) {
  ProcessResult result;
  if (!started()) return result;
  result.started = true;
  if (WaitForSingleObject(handle(), timeoutMs) == WAIT_TIMEOUT) {
    result.timedOut = true;
    TerminateProcess(handle(), 0xDEAD);
    WaitForSingleObject(handle(), 5000);
  }
  GetExitCodeProcess(handle(), &result.exitCode);
  m_info = kit::ProcessInformation();
  return result;
}

ChildProcess::~ChildProcess() {
  if (started() && WaitForSingleObject(handle(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(handle(), 0xDEAD);
    WaitForSingleObject(handle(), 5000);
  }
}

ProcessResult RunProcess(const std::string& commandLine, const std::string& currentFolder,
                         const std::vector<std::pair<std::string, std::string>>& environment, DWORD timeoutMs) {
  return StartProcess(commandLine, currentFolder, environment).Wait(timeoutMs);
}

MemoryLog::MemoryLog(int level) : m_previous(g_pErrorLog) {
  InitializeCriticalSection(&m_lock);
  m_iLevel = level;
  g_pErrorLog = this;
}

MemoryLog::~MemoryLog() {
  g_pErrorLog = m_previous;
  DeleteCriticalSection(&m_lock);
}

int MemoryLog::WriteLine(const char* text) {
  if (!text) return -1;
  EnterCriticalSection(&m_lock);
  m_lines.emplace_back(text);
  LeaveCriticalSection(&m_lock);
  return static_cast<int>(std::strlen(text));
}

std::vector<std::string> MemoryLog::Lines() const {
  EnterCriticalSection(&m_lock);
  std::vector<std::string> copy = m_lines;
  LeaveCriticalSection(&m_lock);
  return copy;
}

bool MemoryLog::Contains(const std::string& fragment) const { return Count(fragment) > 0; }

std::size_t MemoryLog::Count(const std::string& fragment) const {
  std::size_t n = 0;
  for (const std::string& line : Lines())
    if (line.find(fragment) != std::string::npos) ++n;
  return n;
}

void MemoryLog::Clear() {
  EnterCriticalSection(&m_lock);
  m_lines.clear();
  LeaveCriticalSection(&m_lock);
}

}  // namespace kittest

namespace kittest {

std::string FileVersionOf(const std::string& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  std::string data(size, '\0');
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!size || !GetFileVersionInfoA(path.c_str(), 0, size, &data[0]) ||
      !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length)) {
    return "none";
  }
  return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(info->dwFileVersionLS)) + "." + std::to_string(LOWORD(info->dwFileVersionLS));
}

}  // namespace kittest
