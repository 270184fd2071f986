// The test build of the program and the shipped program side by side: the
// platform-facts override must be in the one and absent from the other, and
// the Windows version reaches both through Wine's per-program setting.
#include <gtest/gtest.h>

#include <string>

#include "foundation/handles.h"
#include "support/platform_facts_support.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace {

std::string Wide16(const std::string& s) {
  std::string wide;
  for (char c : s) {
    wide += c;
    wide += '\0';
  }
  return wide;
}

bool Holds(const std::string& image, const std::string& text) {
  return image.find(text) != std::string::npos || image.find(Wide16(text)) != std::string::npos;
}

TEST(TestBuild, ShippedProgramHoldsNoFactsOverride) {
  const std::string shipped = kittest::ReadTextFile(kittest::WindowsPathOf(KITLOADER_SHIPPED_EXE));
  const std::string testable = kittest::ReadTextFile(kittest::WindowsPathOf(KITLOADER_TESTABLE_EXE));
  ASSERT_GT(shipped.size(), 10000u);
  ASSERT_GT(testable.size(), 10000u);
  // The override's environment variables, its fact names that no real code
  // uses, its error text and its source file name.
  for (const char* marker : {"KITLOADER_TEST_FACTS", "KITLOADER_TEST_FACTS_SECTION", "ElevationPrompt",
                             "ElevatedSection", "facts file:", "platform_facts_override"}) {
    EXPECT_FALSE(Holds(shipped, marker)) << marker;
  }
  // The same search finds the override where it belongs.
  EXPECT_TRUE(Holds(testable, "KITLOADER_TEST_FACTS"));
  EXPECT_TRUE(Holds(testable, "ElevationPrompt"));
}

TEST(TestBuild, WindowsVersionFollowsWinesPerProgramSetting) {
  kittest::TempFolder temp;
  // A name of its own, so no other test's program sees the setting.
  const std::string name = "facts_probe_" + std::to_string(GetCurrentProcessId()) + ".exe";
  kittest::CopyFileOrFail(kittest::FactsProbePath(), temp / name);
  const std::string command = "\"" + (temp / name) + "\" report ";
  {
    kittest::WineAppVersion xp(name, "winxp");
    EXPECT_EQ(0u, kittest::RunProcess(command + "\"" + (temp / "xp.txt") + "\"").exitCode);
  }
  EXPECT_EQ(0u, kittest::RunProcess(command + "\"" + (temp / "default.txt") + "\"").exitCode);
  EXPECT_NE(std::string::npos, kittest::ReadTextFile(temp / "xp.txt").find("vista=0"));
  EXPECT_NE(std::string::npos, kittest::ReadTextFile(temp / "default.txt").find("vista=1"));
  EXPECT_FALSE(kittest::RegKeyExists(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\" + name));
}

}  // namespace
