#include "http/codebase.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/UClasses.h"
#include "support/test_support.h"

namespace {

constexpr std::uint32_t Word(std::uint32_t high, std::uint32_t low) { return (high << 16) + low; }

struct CodebaseCase {
  const char* codebase;
  const char* url;
  const char* fileName;
  std::uint32_t versionHigh;
  std::uint32_t versionLow;
};

TEST(ParseUpdateInfo, SplitsCodebasesIntoLocationNameAndVersion) {
  const CodebaseCase cases[] = {
      {"http://host/dir/pkg.cab#Version=1,2,3,4", "http://host/dir/pkg.cab", "pkg.cab", Word(1, 2), Word(3, 4)},
      {"C:\\dir\\pkg.cab#1,2,3,4", "C:\\dir\\pkg.cab", "pkg.cab", Word(1, 2), Word(3, 4)},
      {"pkg.cab#Version=1,2,3", "pkg.cab", "pkg.cab", 0, 0},
      {"http://host/pkg.cab", "http://host/pkg.cab", "pkg.cab", 0, 0},
      {"  pkg.cab # Version = 7 , 8 , 9 , 10  ", "pkg.cab", "pkg.cab", Word(7, 8), Word(9, 10)},
      {"a/b\\pkg.cab#v=1,2,3,4", "a/b\\pkg.cab", "pkg.cab", Word(1, 2), Word(3, 4)},
      {"a\\b/pkg.cab#v=1,2,3,4", "a\\b/pkg.cab", "pkg.cab", Word(1, 2), Word(3, 4)},
      {"http://host/dir/.", "http://host/dir/.", "", 0, 0},
      {"http://host/dir/..", "http://host/dir/..", "", 0, 0},
      {"pkg.cab#", "pkg.cab", "pkg.cab", 0, 0},
      {"pkg.cab#x=a,b,c,d", "pkg.cab", "pkg.cab", 0, 0},
      {"pkg.cab#=,,,", "pkg.cab", "pkg.cab", 0, 0},
      {"pkg.cab#-1,0,0,0", "pkg.cab", "pkg.cab", 0xFFFF0000u, 0},
      // A part above 65535 spills into its neighbour.
      {"pkg.cab#1,65536,0,70000", "pkg.cab", "pkg.cab", Word(2, 0), Word(1, 4464)},
      // Numbers past the int range saturate rather than overflow.
      {"pkg.cab#0,99999999999999999999,0,0", "pkg.cab", "pkg.cab", 0x7FFFFFFFu, 0},
      // Five numbers: the first two end up in the major part, read up to the comma.
      {"pkg.cab#1,2,3,4,5", "pkg.cab", "pkg.cab", Word(1, 3), Word(4, 5)},
      {"dir/#1,2,3,4", "dir/", "", Word(1, 2), Word(3, 4)},
      {"##1,2,3,4", "#", "#", Word(1, 2), Word(3, 4)},
      {"", "", "", 0, 0},
      {"#", "", "", 0, 0},
      {",,,", ",,,", ",,,", 0, 0},
      {"///\\\\", "///\\\\", "", 0, 0},
  };
  for (const CodebaseCase& c : cases) {
    UpdateInfo info;
    info.versionHigh = info.versionLow = 0xDEADBEEF;
    EXPECT_EQ(0, ParseUpdateInfo(c.codebase, &info)) << c.codebase;
    EXPECT_EQ(std::string(c.url), info.url.str()) << c.codebase;
    EXPECT_EQ(std::string(c.fileName), info.fileName.str()) << c.codebase;
    EXPECT_EQ(c.versionHigh, info.versionHigh) << c.codebase;
    EXPECT_EQ(c.versionLow, info.versionLow) << c.codebase;
  }
}

TEST(ParseUpdateInfo, NullCodebaseIsEmptyAndMissingOutputRaises) {
  UpdateInfo info;
  EXPECT_EQ(0, ParseUpdateInfo(nullptr, &info));
  EXPECT_TRUE(info.url.empty());
  kittest::MemoryLog log;
  try {
    ParseUpdateInfo("pkg.cab#1,2,3,4", nullptr);
    FAIL() << "no exception";
  } catch (const UException& e) {
    EXPECT_STREQ("EXCEPTION - output parameter is NULL", e.Message());
  }
}

TEST(ParseUpdateInfo, VeryLongTextsAreTakenWhole) {
  std::string folder(100000, 'd');
  std::string codebase = "http://host/" + folder + "/pkg.cab#Version=" + std::string(5000, '1') + ",2,3,4";
  UpdateInfo info;
  ASSERT_EQ(0, ParseUpdateInfo(codebase.c_str(), &info));
  EXPECT_EQ("http://host/" + folder + "/pkg.cab", info.url.str());
  EXPECT_EQ("pkg.cab", info.fileName.str());
  EXPECT_EQ(0x7FFFFFFFu * 65536u + 2u, info.versionHigh);
  EXPECT_EQ(Word(3, 4), info.versionLow);
}

struct UrlCase {
  const char* url;
  bool allowOther;
  bool ok;
  int protocol;
  const char* host;
  const char* path;
  int port;
};

TEST(ParseURL, SplitsUrlsIntoProtocolHostPathAndPort) {
  const UrlCase cases[] = {
      {"HTTP://Host:8080/a", false, true, kProtocolHttp, "Host", "/a", 8080},
      {"http://host", false, true, kProtocolHttp, "host", "/", 80},
      {"  https://host/a/b?c=d  ", false, true, kProtocolHttps, "host", "/a/b?c=d", 443},
      {"ftp://user:pw@files.example/x", false, true, kProtocolFtp, "files.example", "/x", 21},
      {"http://a@b@host", false, true, kProtocolHttp, "host", "/", 80},
      {"https://[::1]:8443/p", false, true, kProtocolHttps, "[::1]", "/p", 8443},
      {"https://[::1]/p", false, true, kProtocolHttps, "[::1]", "/p", 443},
      {"http://host:", false, true, kProtocolHttp, "host", "/", 80},
      {"http://host:abc/", false, true, kProtocolHttp, "host", "/", 0},
      {"http://host:70000/", false, true, kProtocolHttp, "host", "/", 70000},
      {"http://host:99999999999999999999/", false, true, kProtocolHttp, "host", "/", 0x7FFFFFFF},
      {"http://", false, true, kProtocolHttp, "", "/", 80},
      {"http:///x", false, true, kProtocolHttp, "/x", "/", 80},
      {"file://C:/dir/pkg.cab", false, true, kProtocolFile, "C:", "\\dir\\pkg.cab", 0},
      {"FILE://\\\\server\\share\\pkg.cab", false, true, kProtocolFile, "\\", "\\server\\share\\pkg.cab", 0},
      {"file://pkg.cab", false, true, kProtocolFile, "pkg.cab", "", 0},
      {"file://", false, true, kProtocolFile, "", "", 0},
      {"gopher://host/x", false, false, 0, "", "", 0},
      {"gopher://host/x", true, true, kProtocolOther, "host", "/x", 0},
      {"gopher://host:70/x", true, true, kProtocolOther, "host", "/x", 70},
      {"://host/x", true, false, 0, "", "", 0},
      {"host/x", true, false, 0, "", "", 0},
      {"", true, false, 0, "", "", 0},
      {"://", true, false, 0, "", "", 0},
      {"httpx://host", false, false, 0, "", "", 0},
  };
  for (const UrlCase& c : cases) {
    int protocol = 0, port = 0;
    UString host, path;
    EXPECT_EQ(c.ok, ParseURL(c.url, &protocol, &host, &path, &port, c.allowOther)) << c.url;
    EXPECT_EQ(c.protocol, protocol) << c.url;
    EXPECT_EQ(std::string(c.host), host.str()) << c.url;
    EXPECT_EQ(std::string(c.path), path.str()) << c.url;
    EXPECT_EQ(c.port, port) << c.url;
  }
}

TEST(ParseURL, RefusedInputSetsNothing) {
  int protocol = 7, port = 7;
  UString host("keep"), path("keep");
  EXPECT_FALSE(ParseURL("mailto:x@y", &protocol, &host, &path, &port, true));
  EXPECT_FALSE(ParseURL(nullptr, &protocol, &host, &path, &port, true));
  EXPECT_FALSE(ParseURL("http://host/", nullptr, &host, &path, &port, true));
  EXPECT_FALSE(ParseURL("http://host/", &protocol, &host, nullptr, &port, true));
  EXPECT_EQ(7, protocol);
  EXPECT_EQ(7, port);
  EXPECT_EQ("keep", host.str());
  EXPECT_EQ("keep", path.str());
}

TEST(ParseURL, VeryLongUrlIsTakenWhole) {
  std::string host(70000, 'h');
  std::string path = "/" + std::string(70000, 'p');
  int protocol = 0, port = 0;
  UString h, p;
  ASSERT_TRUE(ParseURL(("http://" + host + ":81" + path).c_str(), &protocol, &h, &p, &port, false));
  EXPECT_EQ(host, h.str());
  EXPECT_EQ(path, p.str());
  EXPECT_EQ(81, port);
}

}  // namespace
