#include "foundation/m_textconv.h"

#include <windows.h>

#include <memory>
#include <new>

#include "foundation/UClasses.h"
#include "foundation/errorlog.h"

UString createString(const wchar_t* wide) {
  if (!wide) return UString();
  int size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size == 0) {
    LogRecord(kLogWarnings, "::createString",
              UMessage::Format("Failed while obtaining buffer size (WideCharToMultiByte() error: %1)",
                               GetLastError()));
    return UString();
  }
  std::unique_ptr<char[]> buf(new (std::nothrow) char[static_cast<std::size_t>(size) + 5]());
  if (!buf) KL_THROW(8, "::createString", "EXCEPTION - %s", "not enough memory");
  if (WideCharToMultiByte(CP_ACP, 0, wide, -1, buf.get(), size, nullptr, nullptr) == 0) {
    LogRecord(kLogWarnings, "::createString",
              UMessage::Format("Failed to convert wide-char string to multi-byte (WideCharToMultiByte() error: %1)",
                               GetLastError()));
    return UString();
  }
  return UString(buf.get());
}

std::uint32_t StringToWideChar(const char* src, wchar_t* dst, std::uint32_t dstLen) {
  if (!src) {
    LogRecord(kLogWarnings, "::StringToWideChar", UString("Invalid argument: a_src"));
    return 0xFFFFFFFFu;
  }
  if (!dst && dstLen != 0) {
    LogRecord(kLogWarnings, "::StringToWideChar", UString("Invalid arguments: a_dst or a_len"));
    return 0xFFFFFFFFu;
  }
  int needed = MultiByteToWideChar(CP_ACP, 0, src, -1, nullptr, 0);
  if (needed <= 0) return 0xFFFFFFFFu;
  if (dstLen < static_cast<std::uint32_t>(needed)) {
    if (dst && dstLen > 0) dst[0] = L'\0';
    return static_cast<std::uint32_t>(needed);
  }
  return MultiByteToWideChar(CP_ACP, 0, src, -1, dst, static_cast<int>(dstLen)) > 0 ? 0u : 0xFFFFFFFFu;
}

UString SGetErrorText(std::uint32_t code) {
  UString text = UString::Format("%d (0x%x) ", static_cast<int>(code), static_cast<unsigned>(code));
  char* systemText = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           reinterpret_cast<char*>(&systemText), 0, nullptr);
  if (systemText) {
    if (n >= 3) text += UString(systemText, static_cast<int>(n - 2));
    LocalFree(systemText);
  }
  return text;
}

UMessage& UMessage::Arg(const wchar_t* s) { return Substitute(createString(s)); }
