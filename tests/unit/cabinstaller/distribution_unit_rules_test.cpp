// Which files a control's record lists, under which paths and names, and the
// reference count of a shared file.
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
  const struct {
    const char* entry;
    const char* path;
    bool optional;
  } expected[] = {
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

  // A record of an older version lists a file the package dropped and one it
  // still has, written in another case.
  EXPECT_EQ((UStringList{"C:\\dpf\\old.dat"}),
            StaleFileValues({"C:\\dpf\\old.dat", "c:\\DPF\\ctl.dll", "C:\\sys\\drivers\\flt.sys"}, files));

  EXPECT_EQ("Software\\Microsoft\\Windows\\CurrentVersion\\ModuleUsage\\C:/dpf/ctl.dll",
            ModuleUsageKey("C:\\dpf\\ctl.dll").str());
  EXPECT_EQ("SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\{1}", DistributionUnitKey("{1}").str());
  EXPECT_EQ("C:\\dpf\\ctl.inf", InfCopyPath("C:\\dpf", "C:\\tmp\\x\\ctl.inf").str());
  EXPECT_EQ("C:\\dpf\\ctl.inf", InfCopyPath("C:\\dpf\\", "ctl.inf").str());

  // The count: the owners' values besides ".Owner", at least 1.
  const struct {
    bool read;
    unsigned long values;
    unsigned long count;
  } counts[] = {{true, 2, 1}, {true, 3, 2}, {true, 1, 1}, {true, 0, 1}, {false, 9, 1}};
  for (const auto& c : counts) EXPECT_EQ(c.count, SharedDllCount(c.read, c.values)) << c.values;
}

}  // namespace
