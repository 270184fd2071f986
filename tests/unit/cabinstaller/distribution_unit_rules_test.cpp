// Which files a control's record lists, under which paths and names.
#include "cabinstaller/distribution_unit_rules.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(DistributionUnitRules, RecordedFilesTheirKeysAndCounts) {
  const std::set<std::string> present = {"C:\\dpf\\ctl.dll", "C:\\sys\\shared.dll", "C:\\dpf\\shared.dll",
                                         "C:\\sys\\drivers\\flt.sys", "C:\\sys\\NOEXT"};
  const UStringPairList addCode = {{"ctl.dll", "ctl.dll"},   {"opt.dat", ""},          {"shared.dll", "shared.dll"},
                                   {"flt.sys", "flt.sys"},   {"late.dat", "late.dat"}, {"NOEXT", "NOEXT"},
                                   {"gone", "gone"}};
  const auto files = RecordedFiles(addCode, "C:\\dpf", "C:\\sys",
                                   [&](const UString& path) { return present.count(path.str()) > 0; });
  const struct { const char *entry, *path; bool optional; } expected[] = {
      {"ctl.dll", "C:\\dpf\\ctl.dll", false},            // beside the control
      {"opt.dat", "", true},                              // an emptied section: logged, not listed
      {"shared.dll", "C:\\dpf\\shared.dll", false},      // the control's folder before the system's
      {"flt.sys", "C:\\sys\\drivers\\flt.sys", false},   // found only among the drivers
      {"late.dat", "C:\\dpf\\late.dat", false},          // found nowhere, has a '.': beside the control
      {"NOEXT", "C:\\sys\\NOEXT", false},                // found in the system folder
      {"gone", "", false},                                // found nowhere and no '.': left out
  };
  ASSERT_EQ(std::size(expected), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(expected[i].entry);
    EXPECT_EQ(expected[i].entry, files[i].entry.str());
    EXPECT_EQ(expected[i].path, files[i].path.str());
    EXPECT_EQ(expected[i].optional, files[i].optional);
  }

  // An older record: a dropped file, and a kept one in another case.
  EXPECT_EQ((UStringList{"C:\\dpf\\old.dat"}),
            StaleFileValues({"C:\\dpf\\old.dat", "c:\\DPF\\ctl.dll", "C:\\sys\\drivers\\flt.sys"}, files));
  EXPECT_EQ("C:\\dpf\\ctl.inf", InfCopyPath("C:\\dpf", "C:\\tmp\\x\\ctl.inf").str());
  EXPECT_EQ("C:\\dpf\\ctl.inf", InfCopyPath("C:\\dpf\\", "ctl.inf").str());
}

// Removing one owner of a shared file: the count it leaves, whether the
// file goes, and the same answer again for a removal cut short after the
// owner's value was marked.
TEST(DistributionUnitRules, ReleasingAnOwnerOfASharedFile) {
  const struct {
    const char* label;
    SharedFileFacts facts;
    SharedFileRelease expected;
  } rows[] = {
      {"last owner", {true, false, 0, 0, true, 1}, {true, 0, true}},
      {"one of two", {true, false, 0, 1, true, 2}, {true, 1, false}},
      {"counted by another installer too", {true, false, 0, 0, true, 3}, {true, 2, false}},
      {"count lower than the owners", {true, false, 0, 2, true, 1}, {true, 2, false}},
      {"no count", {true, false, 0, 0, false, 0}, {true, 0, true}},
      {"marked by a removal cut short", {true, true, 1, 1, true, 1}, {true, 1, false}},
      {"marked last, file still there", {true, true, 0, 0, false, 0}, {true, 0, true}},
      {"not an owner", {false, false, 0, 0, true, 1}, {false, 1, false}},
      {"not an owner, no count", {false, false, 0, 0, false, 0}, {false, 0, false}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const SharedFileRelease r = ReleaseSharedFile(row.facts);
    EXPECT_EQ(row.expected.release, r.release);
    EXPECT_EQ(row.expected.newCount, r.newCount);
    EXPECT_EQ(row.expected.deleteFile, r.deleteFile);
  }
  unsigned long count = 99;
  EXPECT_TRUE(ReadOwnerMark(OwnerMark(7), &count));
  EXPECT_EQ(7ul, count);
  for (const char* text : {"", "removing:", "removing:x1", "removing:12345678901", "7"})
    EXPECT_FALSE(ReadOwnerMark(text, &count)) << text;
}

}  // namespace
