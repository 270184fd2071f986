// The rules of hook sections, version tags, "Run=" commands and action
// results.
#include "cabinstaller/hook_rules.h"

#include <gtest/gtest.h>

TEST(HookRules, KeysVersionsCommandsAndResults) {
  const struct { UStringPairList pairs; const char *source, *action, *infFile; } hooks[] = {
      {{{"InfSection", "a"}, {"RUN", "x.exe"}, {"run", "y.exe"}, {"infsection", "b"}}, "", "Run=y.exe", ""},
      {{{"InfFile", "early.inf"}, {"InfSection", "x=y"}, {"InfFile", "late.inf"}}, "", "InfSection=x=y", "early.inf"},
      {{{"File", "http://far"}, {"file-win32-x86", "thiscab"}, {"File", "ignore"}, {"Tag", "v"}}, "thiscab", "", ""},
  };
  for (const auto& h : hooks) {
    const HookKeys k = ReadHookKeys(h.pairs);
    EXPECT_EQ(k.source + "|" + k.action + "|" + k.infFile + "|" + k.tag,
              UString(h.source) + "|" + h.action + "|" + h.infFile + (k.source.empty() ? "|" : "|v"));
  }

  const struct { const char* text; bool ok; std::uint32_t most, least; } versions[] = {
      {"1,2,3,4", true, 0x10002, 0x30004}, {"FileVersion= 1, 2 ,3,4\n", true, 0x10002, 0x30004},
      {"1.2.3.4", false, 0, 0}, {"2,3,4", false, 0, 0}, {"70000,1,-1,0", true, 70000u * 65536u + 1u, 0xFFFF0000u}};
  for (const auto& v : versions) {
    std::uint32_t most = 0, least = 0;
    EXPECT_EQ(parseVersionText(v.text, &most, &least), v.ok) << v.text;
    EXPECT_TRUE(!v.ok || (most == v.most && least == v.least)) << v.text << " " << most << " " << least;
  }
  EXPECT_TRUE(TagCoversVersion("1,0,0,2\n", "1,0,0,2") && TagCoversVersion("1,1,0,0", "1,0,9,9"));
  EXPECT_FALSE(TagCoversVersion("1,0,0,1", "1,0,0,2") || TagCoversVersion("1.0.0.9", "1,0,0,2"));

  EXPECT_TRUE(KindOfAction("infsection=x") == ActionKind::kInfSection && KindOfAction("RUN=a") == ActionKind::kRun &&
              KindOfAction("Copy=a") == ActionKind::kOther);
  EXPECT_EQ(InfSectionOfAction("InfSection=x= y ") + InfSectionOfAction("InfSection"), "yDefaultInstall");

  const RunMacros macros{"C:\\x\\", "\\\\srv\\obj", "C:\\t", "HTTPS://Host.Example:8/p/a.cab"};
  const struct { const char *action, *line; } commands[] = {
      {"Run=%EXTRACT_DIR%\\a.exe %OBJECT_DIR% %TEMP_DIR1%", "C:\\x\\a.exe \\srv\\obj C:\\t "},
      {"Run=b.exe %HOST_ADDR%/cfg Run=%HOST_ADDR%", "b.exe HTTPS://Host.Example:8/cfg HTTPS://Host.Example:8 "},
      {"Run=c.exe %extract_dir%", "c.exe %extract_dir% "},
  };
  for (const auto& c : commands) {
    UString line;
    EXPECT_TRUE(ExpandRunCommand(c.action, macros, &line));
    EXPECT_EQ(line, c.line);
  }
  UString line;
  EXPECT_FALSE(ExpandRunCommand("Run=%TEMP_DIR1%\\x.exe", {"", "", UString(std::string(260, 't')), ""}, &line));
  // Only the program's name is held to the path limit; its arguments may run to the command line's.
  EXPECT_TRUE(ExpandRunCommand("Run=x.exe " + UString(std::string(32759, 'a')), {}, &line));
  EXPECT_FALSE(ExpandRunCommand("Run=x.exe " + UString(std::string(32760, 'a')), {}, &line));
  EXPECT_EQ(HostOfCodebase("ftp://h") + HostOfCodebase("C:\\pkg\\a.cab"), "ftp://h");
  for (const char* out : {"C:\\x\\..\\a.exe 1", "\"C:\\x\\. .\\a b.exe\" 1", "../a.exe", ".."})
    EXPECT_TRUE(ProgramClimbsOut(out)) << out;
  for (const char* in : {"C:\\x\\a.exe ..\\y ", "\"C:\\x\\a b.exe\" ..", "a..b.exe", ""})
    EXPECT_FALSE(ProgramClimbsOut(in)) << in;
  for (const char* unsafe : {"C:\\x\\sub/a.exe", "C:\\x\\COM1 1", "nul.exe", "a.exe:s"})
    EXPECT_NE(UnsafeProgramReason(unsafe, "C:\\x\\"), "") << unsafe;
  for (const char* safe : {"C:\\x\\a.exe 1", "\"C:\\x\\b\\a b.exe\" ..", "a.exe", "D:\\y\\a.exe"})
    EXPECT_EQ(UnsafeProgramReason(safe, "C:\\x\\"), "") << safe;

  const struct { const char* command; std::uint32_t exitCode; int result; } exits[] = {
      {"a\\tunnelsetup.exe 1", 1, 3010}, {"tunnelsvc.exe", 2, 1603}, {"tunnelsvc.exe", 259, 0},
      {"TunnelSetup.exe", 1, 1}, {"a.exe", 5, 5}};
  for (const auto& e : exits) EXPECT_EQ(RunResultOfExitCode(e.command, e.exitCode), e.result) << e.command;
  const int steps[][3] = {{0, 3010, 3010}, {3010, 0, 3010}, {3010, 5, 5}, {5, 3010, 5}, {7, 0, 7}, {0, 259, 259}};
  for (const auto& s : steps) EXPECT_EQ(NextActionResult(s[0], s[1]), s[2]) << s[0] << " " << s[1];
  EXPECT_EQ(UString(ActionOutcomeText(0)) + ActionOutcomeText(3010) + ActionOutcomeText(259),
            "succeedneed rebootfailed");
}
