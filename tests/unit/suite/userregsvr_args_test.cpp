// The command line of the per-user registration application.
#include "suite/userregsvr/userregsvr_args.h"

#include <gtest/gtest.h>

namespace {

TEST(UserRegisterArgs, SwitchesAndOneQuotedFile) {
  const struct {
    const char* line;
    bool silent, redirect;
    const char* file;
    bool ok;
  } rows[] = {
      {"/s \"C:\\Program Files\\x.dll\"", true, false, "C:\\Program Files\\x.dll", true},
      {"/s /r \"C:\\a b\\x.dll\"", true, true, "C:\\a b\\x.dll", true},
      {"-R -S x.dll", true, true, "x.dll", true},
      {"x.dll", false, false, "x.dll", true},
      {"", false, false, "", false},
      {"/s /r", true, true, "", false},
      {"/s /q x.dll", true, false, "", false},
      {"a.dll b.dll", false, false, "a.dll", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    const UserRegisterArgs args = ParseUserRegisterArgs(row.line);
    EXPECT_EQ(args.error.empty(), row.ok) << args.error;
    EXPECT_EQ(args.silent, row.silent);
    EXPECT_EQ(args.redirect, row.redirect);
    EXPECT_EQ(args.file, row.file);
  }
}

}  // namespace
