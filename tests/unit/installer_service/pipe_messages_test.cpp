// The installer pipe messages: both ends' encoding and decoding, and what a
// server makes of hostile headers.
#include "installer_service/pipe_messages.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace pipeproto;

TEST(PipeMessages, RequestsAndResponsesRoundTripFieldByField) {
  EXPECT_STREQ("\\\\.\\pipe\\NORVANE_INSTALLER_MAPP_PIPE", PipeName(2));
  EXPECT_EQ(std::string(), std::string(PipeName(3)) + PipeName(-1));

  unsigned char version[kVersionRequestSize];
  EncodeVersionRequest(version);
  const unsigned char expected[] = {0xBB, 0xAA, 0x45, 0x55, 12, 0, 0, 0, 3, 0, 0, 0};
  EXPECT_EQ(0, memcmp(expected, version, sizeof expected));
  EXPECT_EQ(RequestKind::kVersion, ClassifyRequest(DecodeHeader(version)));

  unsigned char window[kUiWindowRequestSize];
  EncodeUiWindowRequest(0x00C0FFEE, window);
  EXPECT_EQ(RequestKind::kUiWindow, ClassifyRequest(DecodeHeader(window)));
  EXPECT_EQ(0x00C0FFEEu, ReadWord(window + 12));

  unsigned char response[kResponseSize];
  EncodeResponse(0x17940007, 0x02D30005, response);
  DecodedResponse d = DecodeResponse(response, sizeof response);
  EXPECT_EQ(kCodeResponse, d.response.header.code);
  EXPECT_EQ(20u, d.size);
  EXPECT_EQ(0x1794000702D30005ull, (std::uint64_t(d.response.a) << 32) | d.response.b);
  // A short answer is judged by what arrived, never by the size it claims.
  d = DecodeResponse(response, 16);
  EXPECT_EQ(16u, d.size);
  EXPECT_EQ(0u, d.response.a);
}

TEST(PipeMessages, InstallHeaderNamesAreCutAndAlwaysTerminated) {
  for (std::size_t length : {1u, 258u, 259u, 260u, 400u}) {
    SCOPED_TRACE(length);
    unsigned char header[kInstallHeaderSize];
    std::memset(header, 0xEE, sizeof header);
    EncodeInstallHeader(std::u16string(length, u'\x4E2D'), 16385, header);
    const Header h = DecodeHeader(header);
    EXPECT_EQ(16385u + 532u, h.size);
    EXPECT_EQ(RequestKind::kInstall, ClassifyRequest(h));
    EXPECT_EQ(16385u, AnnouncedPackageSize(h));
    EXPECT_EQ(0, header[530] | header[531]);
    std::u16string name;
    ASSERT_TRUE(DecodeInstallName(header, &name));
    EXPECT_EQ(std::u16string(length < 259 ? length : 259, u'\x4E2D'), name);
  }
  unsigned char unterminated[kInstallHeaderSize];
  std::memset(unterminated, 'a', sizeof unterminated);
  std::u16string name = u"left over";
  EXPECT_FALSE(DecodeInstallName(unterminated, &name));
  EXPECT_TRUE(name.empty());
}

TEST(PipeMessages, ServersClassifyHostileHeadersAndNames) {
  const struct { std::uint32_t magic, size, code; RequestKind kind; } headers[] = {
      {kMagic, 12, 3, RequestKind::kVersion}, {kMagic, 13, 3, RequestKind::kBadSize},
      {kMagic, 12, 5, RequestKind::kBadSize}, {kMagic, 16, 5, RequestKind::kUiWindow},
      {kMagic, 532, 2, RequestKind::kBadSize}, {kMagic, 100, 2, RequestKind::kBadSize},
      {kMagic, 533, 2, RequestKind::kInstall}, {kMagic, 0xC800000 + 532, 2, RequestKind::kInstall},
      {kMagic, 0xC800000 + 533, 2, RequestKind::kTooLarge}, {kMagic, 0xFFFFFFFF, 2, RequestKind::kTooLarge},
      {kMagic, 20, 4, RequestKind::kBadCode}, {kMagic, 12, 0, RequestKind::kBadCode},
      {0x5545AABA, 12, 3, RequestKind::kBadMagic}, {0, 0, 0, RequestKind::kBadMagic},
  };
  for (const auto& c : headers)
    EXPECT_EQ(c.kind, ClassifyRequest(Header{c.magic, c.size, c.code})) << c.magic << " " << c.size << " " << c.code;
  for (const char16_t* bad : {u"", u".", u"..", u"..\\x.cab", u"a/b.cab", u"C:x.cab", u"a.cab:stream", u"a\tb",
                              u".. ", u"  ", u"NUL", u"com1.cab", u"Aux .cab"})
    EXPECT_FALSE(IsPlainFileName(bad));
  for (const char16_t* good : {u"pkg.cab", u"..cab", u"\x4E2D\x6587.cab", u"a b.cab", u"nul1.cab", u"com0"})
    EXPECT_TRUE(IsPlainFileName(good));

  EXPECT_EQ("pkg.cab", PackageNameOf("C:\\dir/sub\\pkg.cab"));
  EXPECT_EQ("pkg.cab", PackageNameOf("C:/dir/pkg.cab"));
  EXPECT_EQ("pkg.cab", PackageNameOf("pkg.cab"));
  EXPECT_EQ("", PackageNameOf("C:\\dir\\"));

  // Whom a client believes: (pipe, server user, own user) -> believed.
  const std::string me = "S-1-5-21-1-2-3-1000", other = "S-1-5-21-1-2-3-1001";
  const struct { int pipe; std::string server, own; bool believed; } servers[] = {
      {0, kSystemUser, me, true},     {0, me, me, false},          {0, other, me, false},
      {0, "", me, false},             {0, "S-1-5-18 ", me, false}, {1, me, me, true},
      {2, me, me, true},              {1, other, me, false},       {2, kSystemUser, me, false},
      {1, "", "", false},             {3, kSystemUser, me, false}, {-1, me, me, false},
      {2, kSystemUser, kSystemUser, true},  // a user-mode installer of a program that runs as the system
  };
  for (const auto& c : servers)
    EXPECT_EQ(c.believed, IsExpectedServer(c.pipe, c.server, c.own)) << c.pipe << " " << c.server << " " << c.own;
}

}  // namespace
