// The rules of hook sections, version tags, "Run=" commands and action
// results: one table per rule.
#include "cabinstaller/hook_rules.h"

#include <gtest/gtest.h>

TEST(HookRules, ReadHookKeys) {
  const struct { UStringPairList pairs; const char *source, *action, *infFile, *tag; } hooks[] = {
      {{{"InfSection", "a"}, {"RUN", "x.exe"}, {"run", "y.exe"}, {"infsection", "b"}}, "", "Run=y.exe", "", ""},
      {{{"InfFile", "early.inf"}, {"InfSection", "x=y"}, {"InfFile", "late.inf"}}, "", "InfSection=x=y", "early.inf", ""},
      {{{"File", "http://far"}, {"file-win32-x86", "thiscab"}, {"File", "ignore"}, {"Tag", "v"}}, "thiscab", "", "", "v"},
  };
  for (const auto& h : hooks) {
    const HookKeys k = ReadHookKeys(h.pairs);
    EXPECT_EQ(k.source + "|" + k.action + "|" + k.infFile + "|" + k.tag,
              UString(h.source) + "|" + h.action + "|" + h.infFile + "|" + h.tag);
  }
}

TEST(HookRules, ParseVersionText) {
  const struct { const char* text; bool ok; std::uint32_t most, least; } versions[] = {
      {"1,2,3,4", true, 0x10002, 0x30004}, {"FileVersion= 1, 2 ,3,4\n", true, 0x10002, 0x30004},
      {"1.2.3.4", false, 0, 0}, {"2,3,4", false, 0, 0}, {"70000,1,-1,0", true, 70000u * 65536u + 1u, 0xFFFF0000u}};
  for (const auto& v : versions) {
    std::uint32_t most = 0, least = 0;
    EXPECT_EQ(parseVersionText(v.text, &most, &least), v.ok) << v.text;
    EXPECT_TRUE(!v.ok || (most == v.most && least == v.least)) << v.text << " " << most << " " << least;
  }
}

TEST(HookRules, TagCoversVersion) {
  const struct { const char *tag, *fileVersion; bool covers; } tags[] = {
      {"1,0,0,2\n", "1,0,0,2", true}, {"1,1,0,0", "1,0,9,9", true},
      {"1,0,0,1", "1,0,0,2", false}, {"1.0.0.9", "1,0,0,2", false}};
  for (const auto& t : tags) EXPECT_EQ(TagCoversVersion(t.tag, t.fileVersion), t.covers) << t.tag;
}

TEST(HookRules, KindOfAction) {
  const struct { const char* action; ActionKind kind; } kinds[] = {
      {"infsection=x", ActionKind::kInfSection}, {"RUN=a", ActionKind::kRun}, {"Copy=a", ActionKind::kOther}};
  for (const auto& k : kinds) EXPECT_TRUE(KindOfAction(k.action) == k.kind) << k.action;
}

TEST(HookRules, InfSectionOfAction) {
  const struct { const char *action, *section; } sections[] = {{"InfSection=x= y ", "y"}, {"InfSection", "DefaultInstall"}};
  for (const auto& s : sections) EXPECT_EQ(InfSectionOfAction(s.action), s.section) << s.action;
}

TEST(HookRules, ExpandRunCommand) {
  const RunMacros macros{"C:\\x\\", "\\\\srv\\obj", "C:\\t", "HTTPS://Host.Example:8/p/a.cab"};
  const struct { UString action; RunMacros macros; bool ok; const char* line; } commands[] = {
      {"Run=%EXTRACT_DIR%\\a.exe %OBJECT_DIR% %TEMP_DIR1%", macros, true, "C:\\x\\a.exe \\srv\\obj C:\\t "},
      {"Run=b.exe %HOST_ADDR%/cfg Run=%HOST_ADDR%", macros, true, "b.exe HTTPS://Host.Example:8/cfg HTTPS://Host.Example:8 "},
      {"Run=c.exe %extract_dir%", macros, true, "c.exe %extract_dir% "},
      {"Run=%TEMP_DIR1%\\x.exe", {"", "", UString(std::string(260, 't')), ""}, false, nullptr},
      // Only the program's name is held to the path limit; its arguments may run to the command line's.
      {"Run=x.exe " + UString(std::string(32759, 'a')), {}, true, nullptr},
      {"Run=x.exe " + UString(std::string(32760, 'a')), {}, false, nullptr},
  };
  for (const auto& c : commands) {
    UString line;
    EXPECT_EQ(ExpandRunCommand(c.action, c.macros, &line), c.ok) << c.action.length();
    if (c.line) {
      EXPECT_EQ(line, c.line);
    }
  }
}

TEST(HookRules, HostOfCodebase) {
  const struct { const char *codebase, *host; } hosts[] = {{"ftp://h", "ftp://h"}, {"C:\\pkg\\a.cab", ""}};
  for (const auto& h : hosts) EXPECT_EQ(HostOfCodebase(h.codebase), h.host) << h.codebase;
}

TEST(HookRules, ProgramClimbsOut) {
  const struct { const char* command; bool climbs; } climbs[] = {
      {"C:\\x\\..\\a.exe 1", true}, {"\"C:\\x\\. .\\a b.exe\" 1", true}, {"../a.exe", true}, {"..", true},
      {"C:\\x\\a.exe ..\\y ", false}, {"\"C:\\x\\a b.exe\" ..", false}, {"a..b.exe", false}, {"", false}};
  for (const auto& c : climbs) EXPECT_EQ(ProgramClimbsOut(c.command), c.climbs) << c.command;
}

TEST(HookRules, UnsafeProgramReason) {
  const struct { const char* command; bool unsafe; } programs[] = {
      {"C:\\x\\sub/a.exe", true}, {"C:\\x\\COM1 1", true}, {"nul.exe", true}, {"a.exe:s", true},
      {"C:\\x\\a.exe 1", false}, {"\"C:\\x\\b\\a b.exe\" ..", false}, {"a.exe", false}, {"D:\\y\\a.exe", false}};
  for (const auto& p : programs) EXPECT_EQ(UnsafeProgramReason(p.command, "C:\\x\\") != "", p.unsafe) << p.command;
}

TEST(HookRules, RunResultOfExitCode) {
  const struct { const char* command; std::uint32_t exitCode; int result; } exits[] = {
      {"a\\tunnelsetup.exe 1", 1, 3010}, {"tunnelsvc.exe", 2, 1603}, {"tunnelsvc.exe", 259, 0},
      {"TunnelSetup.exe", 1, 1}, {"a.exe", 5, 5}};
  for (const auto& e : exits) EXPECT_EQ(RunResultOfExitCode(e.command, e.exitCode), e.result) << e.command;
}

TEST(HookRules, NextActionResult) {
  const int steps[][3] = {{0, 3010, 3010}, {3010, 0, 3010}, {3010, 5, 5}, {5, 3010, 5}, {7, 0, 7}, {0, 259, 259}};
  for (const auto& s : steps) EXPECT_EQ(NextActionResult(s[0], s[1]), s[2]) << s[0] << " " << s[1];
}

TEST(HookRules, ActionOutcomeText) {
  const struct { int accumulated; const char* text; } outcomes[] = {{0, "succeed"}, {3010, "need reboot"}, {259, "failed"}};
  for (const auto& o : outcomes) EXPECT_STREQ(ActionOutcomeText(o.accumulated), o.text);
}
