// The command line of the per-user registration application.
#include "suite/userregsvr/userregsvr_args.h"

#include <gtest/gtest.h>

namespace {

TEST(UserRegisterArgs, SwitchesAndOneQuotedFile) {
  const struct {
    const char* line;
    bool silent, redirect, unregister;
    const char* file;
    bool ok;
  } rows[] = {
      {"/s \"C:\\Program Files\\x.dll\"", true, false, false, "C:\\Program Files\\x.dll", true},
      {"/s /r \"C:\\a b\\x.dll\"", true, true, false, "C:\\a b\\x.dll", true},
      {"-R -S x.dll", true, true, false, "x.dll", true},
      {"x.dll", false, false, false, "x.dll", true},
      {"/s /u x.dll", true, false, true, "x.dll", true},
      {"-U /r x.dll", false, true, true, "x.dll", true},
      {"", false, false, false, "", false},
      {"/s /r", true, true, false, "", false},
      {"/s /q x.dll", true, false, false, "", false},
      {"a.dll b.dll", false, false, false, "a.dll", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    const UserRegisterArgs args = ParseUserRegisterArgs(row.line);
    EXPECT_EQ(args.error.empty(), row.ok) << args.error;
    EXPECT_EQ(args.silent, row.silent);
    EXPECT_EQ(args.redirect, row.redirect);
    EXPECT_EQ(args.unregister, row.unregister);
    EXPECT_EQ(args.file, row.file);
  }
}

}  // namespace
