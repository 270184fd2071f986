// The installer pipe protocol's messages, field by field.
#include "installer_service/pipe_messages.h"

#include <cstring>

#include "foundation/device_names.h"

namespace pipeproto {

const char* PipeName(int pipeIndex) {
  switch (pipeIndex) {
    case 0: return "\\\\.\\pipe\\NORVANE_INSTALLER_SERVICE_PIPE";
    case 1: return "\\\\.\\pipe\\NORVANE_INSTALLER_APP_PIPE";
    case 2: return "\\\\.\\pipe\\NORVANE_INSTALLER_MAPP_PIPE";
    default: return "";
  }
}

const char kSystemUser[] = "S-1-5-18";

bool IsExpectedServer(int pipeIndex, const std::string& serverUser, const std::string& ownUser) {
  if (serverUser.empty()) return false;
  switch (pipeIndex) {
    case 0: return serverUser == kSystemUser;
    case 1:
    case 2: return serverUser == ownUser;
    default: return false;
  }
}

std::uint32_t ReadWord(const unsigned char* at) {
  return std::uint32_t(at[0]) | (std::uint32_t(at[1]) << 8) | (std::uint32_t(at[2]) << 16) |
         (std::uint32_t(at[3]) << 24);
}

void WriteWord(unsigned char* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

namespace {
void WriteHeader(unsigned char* out, std::uint32_t size, std::uint32_t code) {
  WriteWord(out, kMagic);
  WriteWord(out + 4, size);
  WriteWord(out + 8, code);
}
}  // namespace

void EncodeVersionRequest(unsigned char (&out)[kVersionRequestSize]) {
  WriteHeader(out, kVersionRequestSize, kCodeVersion);
}

void EncodeUiWindowRequest(std::uint32_t window, unsigned char (&out)[kUiWindowRequestSize]) {
  WriteHeader(out, kUiWindowRequestSize, kCodeUiWindow);
  WriteWord(out + kHeaderSize, window);
}

void EncodeInstallHeader(const std::u16string& name, std::uint32_t packageSize,
                         unsigned char (&out)[kInstallHeaderSize]) {
  std::memset(out, 0, sizeof out);
  WriteHeader(out, packageSize + static_cast<std::uint32_t>(kInstallHeaderSize), kCodeInstall);
  const std::size_t units = name.size() < kNameUnits - 1 ? name.size() : kNameUnits - 1;
  for (std::size_t i = 0; i < units; ++i) {
    out[kHeaderSize + 2 * i] = static_cast<unsigned char>(name[i] & 0xFF);
    out[kHeaderSize + 2 * i + 1] = static_cast<unsigned char>(name[i] >> 8);
  }
}

void EncodeResponse(std::uint32_t a, std::uint32_t b, std::uint32_t sizeField, unsigned char (&out)[kResponseSize]) {
  WriteHeader(out, sizeField, kCodeResponse);
  WriteWord(out + 12, a);
  WriteWord(out + 16, b);
}

void EncodeResponse(std::uint32_t a, std::uint32_t b, unsigned char (&out)[kResponseSize]) {
  EncodeResponse(a, b, kResponseSize, out);
}

Header DecodeHeader(const unsigned char* bytes) {
  return Header{ReadWord(bytes), ReadWord(bytes + 4), ReadWord(bytes + 8)};
}

DecodedResponse DecodeResponse(const unsigned char* bytes, std::size_t received) {
  DecodedResponse d;
  if (received >= kHeaderSize) d.response.header = DecodeHeader(bytes);
  d.size = static_cast<std::uint32_t>(received);
  if (received >= kResponseSize) {
    d.response.a = ReadWord(bytes + 12);
    d.response.b = ReadWord(bytes + 16);
    d.size = d.response.header.size;
  }
  return d;
}

std::string PackageNameOf(const std::string& path) {
  const std::size_t at = path.find_last_of("\\/");
  return at == std::string::npos ? path : path.substr(at + 1);
}

RequestKind ClassifyRequest(const Header& header) {
  if (header.magic != kMagic) return RequestKind::kBadMagic;
  switch (header.code) {
    case kCodeVersion:
      return header.size == kVersionRequestSize ? RequestKind::kVersion : RequestKind::kBadSize;
    case kCodeUiWindow:
      return header.size == kUiWindowRequestSize ? RequestKind::kUiWindow : RequestKind::kBadSize;
    case kCodeInstall:
      if (header.size <= kInstallHeaderSize) return RequestKind::kBadSize;
      return AnnouncedPackageSize(header) > kMaxPackageSize ? RequestKind::kTooLarge : RequestKind::kInstall;
    default:
      return RequestKind::kBadCode;
  }
}

const char* RequestKindText(RequestKind kind) {
  switch (kind) {
    case RequestKind::kVersion: return "version request";
    case RequestKind::kUiWindow: return "UI-window request";
    case RequestKind::kInstall: return "install request";
    case RequestKind::kBadMagic: return "bad magic";
    case RequestKind::kBadCode: return "unknown message code";
    case RequestKind::kBadSize: return "size does not fit the message code";
    case RequestKind::kTooLarge: return "package too large";
  }
  return "unknown";
}

bool DecodeInstallName(const unsigned char (&header)[kInstallHeaderSize], std::u16string* name) {
  name->clear();
  for (std::size_t i = 0; i < kNameUnits; ++i) {
    const char16_t unit = static_cast<char16_t>(header[kHeaderSize + 2 * i] | (header[kHeaderSize + 2 * i + 1] << 8));
    if (unit == 0) return !name->empty();
    name->push_back(unit);
  }
  name->clear();
  return false;
}

bool IsPlainFileName(const std::u16string& name) {
  if (name.empty() || kit::IsDeviceName(name.data(), name.size())) return false;
  // Windows drops trailing dots and blanks: ".. " names the parent folder.
  bool onlyDotsOrBlanks = true;
  for (char16_t c : name) {
    if (c < 0x20 || c == u'\\' || c == u'/' || c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' ||
        c == u'>' || c == u'|')
      return false;
    if (c != u'.' && c != u' ') onlyDotsOrBlanks = false;
  }
  return !onlyDotsOrBlanks;
}

}  // namespace pipeproto
