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

}  // namespace
