// The test build of the program and the shipped program side by side: the
// platform-facts override must be in the one and absent from the other.
#include <gtest/gtest.h>

#include <string>

#include "foundation/handles.h"
#include "support/platform_facts_support.h"
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

}  // namespace
