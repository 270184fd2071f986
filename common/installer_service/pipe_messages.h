// The messages of the installer pipe protocol, written and read field by
// field: both ends (the client calls and the suite's pipe servers) use these.
// Win32-free: every field is a 32-bit little-endian word, file names are
// UTF-16 code units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pipeproto {

enum : std::uint32_t {
  kMagic = 0x5545AABB,
  kCodeInstall = 2,
  kCodeVersion = 3,
  kCodeResponse = 4,
  kCodeUiWindow = 5,
};

enum : std::size_t {
  kHeaderSize = 12,
  kVersionRequestSize = 12,
  kUiWindowRequestSize = 16,
  kNameUnits = 260,  // the name field; at most 259 used, the last always zero
  kInstallHeaderSize = kHeaderSize + 2 * kNameUnits,  // 532
  kResponseSize = 20,
  kStreamBlock = 16384,  // the client streams the package in blocks of this size
};

// The largest package the protocol carries: 200 MiB.
constexpr std::uint64_t kMaxPackageSize = 0xC800000;

// The pipe of a pipe index (0 Installer Service, 1 high-integrity and 2
// medium-integrity user-mode installer); empty for any other index.
const char* PipeName(int pipeIndex);

// The system account's SID text.
extern const char kSystemUser[];

// Whether a client believes the server of pipe `pipeIndex`, whose process
// runs as `serverUser` (SID text; empty: unknown): the Installer Service's
// pipe must belong to the system account, a user-mode installer's to the
// client's own user `ownUser`. Anyone else who took the pipe's name is no
// server at all.
bool IsExpectedServer(int pipeIndex, const std::string& serverUser, const std::string& ownUser);

struct Header {
  std::uint32_t magic = 0;
  std::uint32_t size = 0;
  std::uint32_t code = 0;
};

struct Response {
  Header header;
  std::uint32_t a = 0;  // version: high 32 bits; install: the result
  std::uint32_t b = 0;  // version: low 32 bits
};

std::uint32_t ReadWord(const unsigned char* at);
void WriteWord(unsigned char* at, std::uint32_t value);

// Requests and responses into a buffer of exactly their size.
void EncodeVersionRequest(unsigned char (&out)[kVersionRequestSize]);
void EncodeUiWindowRequest(std::uint32_t window, unsigned char (&out)[kUiWindowRequestSize]);
// The name is cut to 259 units; the rest of the field, the last unit
// included, is zero. Size is packageSize + 532.
void EncodeInstallHeader(const std::u16string& name, std::uint32_t packageSize,
                         unsigned char (&out)[kInstallHeaderSize]);
void EncodeResponse(std::uint32_t a, std::uint32_t b, unsigned char (&out)[kResponseSize]);
// The same with the size field given (a server that answers malformed).
void EncodeResponse(std::uint32_t a, std::uint32_t b, std::uint32_t sizeField,
                    unsigned char (&out)[kResponseSize]);

Header DecodeHeader(const unsigned char* bytes);
// A response from the bytes received. `size` is what the caller checks
// against 20: the size field when all 20 bytes came, else the count received
// (a short answer carries no values, whatever its size field claims).
struct DecodedResponse {
  Response response;
  std::uint32_t size = 0;
};
DecodedResponse DecodeResponse(const unsigned char* bytes, std::size_t received);

// The name part of a package path: what follows the last backslash or slash.
std::string PackageNameOf(const std::string& path);

// What a server makes of a request header before reading further.
enum class RequestKind { kVersion, kUiWindow, kInstall, kBadMagic, kBadCode, kBadSize, kTooLarge };
RequestKind ClassifyRequest(const Header& header);
const char* RequestKindText(RequestKind kind);

// The package size an install request announces (its size less the header).
inline std::uint32_t AnnouncedPackageSize(const Header& header) {
  return header.size - static_cast<std::uint32_t>(kInstallHeaderSize);
}

// The file name of an install header's name field (bytes 12..531). False
// when the field has no terminating zero within its 260 units, or the name is
// empty.
bool DecodeInstallName(const unsigned char (&header)[kInstallHeaderSize], std::u16string* name);

// A received name a server may store under its own folder: not empty, no
// path separators, drive colon, stream colon, control characters or names
// made only of dots.
bool IsPlainFileName(const std::u16string& name);

}  // namespace pipeproto
