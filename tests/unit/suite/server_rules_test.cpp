// The pipe servers' command line, the answers their clients read, and which
// package is the Installer Service's own update.
#include "installer_server/server_rules.h"

#include <gtest/gtest.h>

namespace {

using namespace ombrix;

TEST(ServerRules, CommandLinesAreReadOrRefusedWhole) {
  const struct { std::vector<const char*> args; bool ok; int pipe; std::uint64_t version; bool forced;
                 std::uint32_t result; const char* temp; } cases[] = {
      {{"/pipe", "2"}, true, 2, 0x0001000000000001ull, false, 0, ""},
      {{"/pipe", "0", "/result", "0x10000000", "/version", "6010.2007.1001.0", "/temp", "C:\\t"}, true, 0,
       0x177A07D703E90000ull, true, 0x10000000, "C:\\t"},
      {{"/keep", "/discard", "/result", "3", "/deadline", "500"}, true, -1, 0x0001000000000001ull, true, 3, ""},
      // A value missing, not a number, three parts, a part too large, a sign,
      // beyond 32 bits, an unknown option.
      {{"/pipe"}, false, 0, 0, false, 0, ""}, {{"/pipe", "1x"}, false, 0, 0, false, 0, ""},
      {{"/version", "1.2.3"}, false, 0, 0, false, 0, ""}, {{"/version", "1.2.3.65536"}, false, 0, 0, false, 0, ""},
      {{"/version", "1.2.-3.4"}, false, 0, 0, false, 0, ""}, {{"/result", "0x100000000"}, false, 0, 0, false, 0, ""},
      {{"/unknown", "1"}, false, 0, 0, false, 0, ""},
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv{"server.exe"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ServerOptions o;
    SCOPED_TRACE(c.args.empty() ? "" : c.args[0]);
    ASSERT_EQ(c.ok, ParseServerOptions(static_cast<int>(argv.size()), argv.data(), &o, {"/temp"}));
    if (!c.ok) continue;
    EXPECT_EQ(c.pipe, o.pipe);
    EXPECT_EQ(c.version, o.version);
    EXPECT_EQ(c.forced, o.forceResult);
    EXPECT_EQ(c.result, o.result);
    EXPECT_EQ(c.temp, o.extraValues[0]);
  }
}

TEST(ServerRules, FailuresNeverReadAsAnswersWithAMeaning) {
  constexpr ResultOf I = ResultOf::kInstall, R = ResultOf::kReceive;
  const struct { ResultOf from; std::int32_t result; std::uint32_t answer; } cases[] = {
      {I, 0, 0}, {I, 3010, 3}, {I, 2, 1603}, {I, 3, 1603}, {I, 0x10000000, 1603}, {I, -1, 0xFFFFFFFF},
      {I, static_cast<std::int32_t>(0x800B0004), 0x800B0004}, {I, 1223, 1223}, {I, 1638, 1638},
      // Receiving never succeeds by a code: a vanished folder (3), a missing
      // file (2), a lost success code.
      {R, 0, 1603}, {R, 3010, 1603}, {R, 2, 1603}, {R, 3, 1603}, {R, 0x10000000, 1603}, {R, 123, 123}, {R, 170, 170},
  };
  for (const auto& c : cases) EXPECT_EQ(c.answer, AnswerFor(c.from, c.result)) << c.result;
}

TEST(ServerRules, AReceivedNameStaysDirectlyInsideItsFolder) {
  const std::string f = "C:\\t\\r-01";
  const struct { std::string folder, name, path; bool inside; } cases[] = {
      {f, "pkg.cab", f + "\\pkg.cab", true}, {f, "a b.cab", f + "\\a b.cab", true}, {f, "..", f + "\\..", false},
      {f, "pkg.cab", f + "\\x\\pkg.cab", false}, {f, ". .", f + "\\. .", false}, {f, "pkg.", f + "\\pkg.", false},
      {f, "pkg ", f + "\\pkg ", false}, {f, "a:s", f + "\\a:s", false}, {f, "a/b", f + "\\a/b", false},
      {f, "\x95\\.cab", f + "\\\x95\\.cab", false},  // a DBCS trail byte that reads as a separator
      {f + "\\", "pkg.cab", f + "\\\\pkg.cab", false}, {"", "pkg.cab", "\\pkg.cab", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.inside, IsDirectlyInside(c.folder, c.name, c.path)) << c.name;
}

TEST(ServerRules, TheServiceUpdateByNameOrByItsProgram) {
  const struct { const char* name; std::vector<std::string> stored; bool update; } cases[] = {
      {"NorvaneISUpdate.cab", {}, true}, {"norvaneisupdate.CAB", {"x.inf"}, true},
      {"svc-6010.cab", {"NorvaneISUpdate.inf", "OmbrixSvc.exe"}, true}, {"svc.cab", {"bin\\ombrixsvc.exe"}, true},
      {"ombrixctl.cab", {"ombrixctl.inf", "ombrixctl.dll"}, false},
      {"NorvaneISUpdate.cab.old", {"ombrixsvc.exe.txt", "xombrixsvc.exe"}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.update, IsServiceUpdate(c.name, c.stored)) << c.name;
}

}  // namespace
