// The cabinet file table and the stored-name rules, on bytes made here.
#include "cabinstaller/cab_directory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A cabinet header and file table (no folders or data) holding `names`.
std::vector<unsigned char> Table(const std::vector<std::string>& names, std::uint16_t flags = 0) {
  std::vector<unsigned char> b(cab::kHeaderSize, 0);
  b[0] = 'M', b[1] = 'S', b[2] = 'C', b[3] = 'F';
  b[16] = static_cast<unsigned char>(cab::kHeaderSize);  // file table offset
  b[28] = static_cast<unsigned char>(names.size());
  b[30] = static_cast<unsigned char>(flags);
  for (const std::string& name : names) {
    std::vector<unsigned char> record(cab::kFileRecordSize, 0);
    record[0] = 7;   // size
    record[14] = 0x21;  // attributes
    b.insert(b.end(), record.begin(), record.end());
    b.insert(b.end(), name.begin(), name.end());
    b.push_back(0);
  }
  return b;
}

TEST(CabDirectory, ReadsTheFileTableAndRefusesWhatIsNoWholeTable) {
  std::vector<unsigned char> t = Table({"a.inf", "bin\\x.dll"});
  std::vector<cab::Entry> entries;
  std::string error;
  ASSERT_TRUE(cab::ReadFileTable(t.data(), t.size(), &entries, &error)) << error;
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].name, "bin\\x.dll");
  EXPECT_EQ(entries[1].size, 7u);
  EXPECT_EQ(entries[1].attributes, 0x21);
  EXPECT_GE(cab::FileTableEnd(t.data(), t.size()), t.size());

  // Cut anywhere inside the table, or no header at all, or part of a set.
  for (std::size_t cut = 0; cut < t.size(); ++cut) {
    EXPECT_FALSE(cab::ReadFileTable(t.data(), cut, &entries, &error)) << "cut at " << cut;
  }
  std::vector<unsigned char> notCab = t;
  notCab[0] = 'X';
  EXPECT_FALSE(cab::ReadFileTable(notCab.data(), notCab.size(), &entries, &error));
  EXPECT_EQ(cab::FileTableEnd(notCab.data(), notCab.size()), 0u);
  std::vector<unsigned char> set = Table({"a"}, 0x0002);
  EXPECT_FALSE(cab::ReadFileTable(set.data(), set.size(), &entries, &error));
  std::vector<unsigned char> longName = Table({std::string(300, 'n')});
  EXPECT_FALSE(cab::ReadFileTable(longName.data(), longName.size(), &entries, &error));
}

TEST(CabDirectory, StoredNamesMayNotLeaveTheExtractionFolder) {
  const struct {
    const char* name;
    bool safe;
  } rows[] = {
      {"a.inf", true},          {"bin\\x.dll", true},      {"bin/x.dll", false},     {"deep\\er\\x", true},
      {"..name", true},         {"name.", true},           {"", false},             {"..\\x", false},
      {"../x", false},          {"bin\\..\\..\\x", false}, {".. \\x", false},       {"...\\x", false},
      {".\\x", false},          {"\\x", false},            {"/x", false},           {"C:x", false},
      {"C:\\x", false},         {"x:stream", false},       {"a\\\\b", false},       {"a\\", false},
      {"a?b", false},           {"a*b", false},            {"a<b", false},          {"a|b", false},
      {"a\"b", false},          {"a\tb", false},           {"\\\\host\\share", false},
      {"NUL", false},           {"bin\\com1.dll", false}, {"Con .inf", false},     {"lpt9", false},
      {"conout$", false},       {"console.inf", true},     {"com10", true},         {"nul_x.dll", true},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(cab::UnsafeNameReason(row.name).empty(), row.safe) << "\"" << row.name << "\"";
  }
  EXPECT_FALSE(cab::UnsafeNameReason(std::string(257, 'n')).empty());
}

TEST(CabDirectory, JoinedPathsStayBelowTheirFolder) {
  const struct { const char *folder, *path; bool within; } rows[] = {
      {"C:\\a", "c:\\A\\b", true},    {"C:\\a\\", "C:\\a", true},         {"C:\\a", "C:\\ab", false},
      {"C:\\a", "C:\\a\\..\\b", false}, {"C:\\a", "C:\\a\\b\\..\\c", true}, {"C:\\a", "C:\\a\\.. \\b", false},
      {"C:\\a", "C:/a/./b", true},       {"", "C:\\a", false},
  };
  for (const auto& row : rows) EXPECT_EQ(cab::LiesWithin(row.folder, row.path), row.within) << row.path;
  std::string path;
  EXPECT_EQ(cab::JoinBelow("C:\\a\\", "b\\c.dll", &path), "");
  EXPECT_EQ(path, "C:\\a\\b\\c.dll");
  for (const char* name : {"..\\c.dll", "b/c.dll", "NUL", ""}) EXPECT_NE(cab::JoinBelow("C:\\a", name, &path), "") << name;

  // The installer reads a cabinet's table from its file: a table said to
  // start inside the header is refused before anything is read past it.
  std::vector<unsigned char> t = Table({"a.inf"});
  const auto read = [&t](std::uint64_t at, unsigned char* out, std::size_t n) {
    if (at > t.size() || n > t.size() - at) return false;
    std::copy(t.begin() + at, t.begin() + at + n, out);
    return true;
  };
  EXPECT_EQ(cab::CheckStoredNames(read, t.size(), 10), "");
  t[16] = 4;
  EXPECT_NE(cab::CheckStoredNames(read, t.size(), 10).find("inside the cabinet header"), std::string::npos);
}

TEST(CabDirectory, EveryEntryIsCheckedAndNoFileMayBeStoredTwice) {
  auto entries = [](std::vector<std::string> names) {
    std::vector<cab::Entry> list;
    for (auto& n : names) list.push_back(cab::Entry{n, 0, 0});
    return list;
  };
  EXPECT_EQ(cab::CheckEntries(entries({"a.inf", "bin\\a.inf", "b"})), "");
  EXPECT_NE(cab::CheckEntries(entries({"a.inf", "bin\\x", "BIN\\X"})).find("two entries"), std::string::npos);
  EXPECT_NE(cab::CheckEntries(entries({"a.inf", "..\\x"})).find("\"..\\x\""), std::string::npos);
  EXPECT_EQ(cab::CheckEntries(entries({"a.inf", std::string(250, 'x')}), 9), "");
  EXPECT_NE(cab::CheckEntries(entries({"a.inf", std::string(250, 'x')}), 10).find("longer than 259"), std::string::npos);
}

}  // namespace
