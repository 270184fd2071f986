// Exceptions and the catch-and-log convention.
#include "foundation/UClasses.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "support/test_support.h"

namespace {

TEST(UExceptionRecord, CarriesTheCodeOnlyWhenItHasOne) {
  kittest::MemoryLog log;
  const int line = __LINE__ + 1;
  UException withCode(5, __FILE__, "Raiser()", line, "EXCEPTION - %s, %s", "access", "denied");
  UException withoutCode(-1, __FILE__, "Raiser()", line, "EXCEPTION - %s", "plain");
  UException unlocated("EXCEPTION - %s", "nowhere");
  const std::string at = "1, \\UClasses_test.cpp, " + std::to_string(line) + ", Raiser(), ";
  ASSERT_EQ(log.Lines().size(), 3u);
  EXPECT_EQ(log.Lines()[0], at + "(0x5) EXCEPTION - access, denied\n");
  EXPECT_EQ(log.Lines()[1], at + "EXCEPTION - plain\n");
  EXPECT_EQ(log.Lines()[2], "1, , , , EXCEPTION - nowhere\n");
  EXPECT_EQ(withCode.Code(), 5);
  EXPECT_EQ(withCode.Line(), line);
  EXPECT_STREQ(withCode.File(), "\\UClasses_test.cpp");
  EXPECT_EQ(unlocated.Code(), -1);
}

TEST(UExceptionRecord, CutsLongMessagesAndDropsOverlongNames) {
  kittest::MemoryLog log;
  const std::string longMessage(6000, 'm');
  UException cut(-1, __FILE__, "F()", 1, "%s", longMessage.c_str());
  EXPECT_EQ(std::string(cut.Message()), std::string(5119, 'm'));
  EXPECT_NE(log.Lines()[0].find(", F(), " + std::string(5119, 'm') + "\n"), std::string::npos);

  const std::string name1000(1000, 'f'), name1001(1001, 'f');
  UException kept(-1, __FILE__, name1000.c_str(), 2, "kept");
  UException dropped(-1, __FILE__, name1001.c_str(), 3, "dropped");
  EXPECT_EQ(std::string(kept.Function()), name1000);
  EXPECT_STREQ(dropped.Function(), "");
  EXPECT_EQ(log.Lines()[2], "1, \\UClasses_test.cpp, 3, , dropped\n");

  UException nullFormat(-1, __FILE__, "F()", 4, nullptr);
  EXPECT_STREQ(nullFormat.Message(), "UException::UException(LPCTSTR lpszMsg, ...) - template parameter is NULL");
}

TEST(UExceptionRecord, IsWrittenWhateverTheLevelAndNotWithoutALog) {
  {
    kittest::MemoryLog log(0);
    UException e(2, __FILE__, "F()", 1, "at level zero");
    EXPECT_EQ(log.Lines().size(), 1u);
    UException copy(e);  // copies do not log
    UException assigned;
    assigned = e;
    UBreakException silent;
    EXPECT_EQ(log.Lines().size(), 1u);
  }
  ASSERT_EQ(g_pErrorLog, nullptr);
  UException e(2, __FILE__, "F()", 1, "no log object");
  EXPECT_STREQ(e.Message(), "no log object");
}

TEST(UExceptionCopy, IsDeepAndSetTextKeepsOnlyTheMessage) {
  UException copy;
  {
    UException original(7, __FILE__, "Orig()", 9, "msg %d", 1);
    copy = original;
  }
  EXPECT_STREQ(copy.Message(), "msg 1");
  EXPECT_STREQ(copy.Function(), "Orig()");
  EXPECT_EQ(copy.Code(), 7);
  EXPECT_EQ(copy.Line(), 9);
  copy.SetText("replaced");
  EXPECT_STREQ(copy.Message(), "replaced");
  EXPECT_STREQ(copy.Function(), "");
  EXPECT_STREQ(copy.File(), "");
  EXPECT_EQ(copy.Code(), -1);
  UException empty;
  EXPECT_FALSE(empty.HasMessage());
  EXPECT_EQ(empty.Code(), -1);
}

TEST(CatchAndLogConvention, TurnsWhatIsRaisedIntoTheResultAndOneRecord) {
  kittest::MemoryLog log;
  const std::string caught = "EXCEPTION caught: Op - EXCEPTION\n";

  int result = 11;
  UException local;
  CatchAndLog(KL_CATCH_SITE("Op()", "Op"), result, [&] { KL_THROW(32, "Inner()", "EXCEPTION - %s", "busy"); }, &local);
  EXPECT_EQ(result, 32);
  EXPECT_STREQ(local.Message(), "EXCEPTION - busy");
  ASSERT_EQ(log.Lines().size(), 2u);
  EXPECT_NE(log.Lines()[0].find(", Inner(), (0x20) EXCEPTION - busy\n"), std::string::npos);
  EXPECT_NE(log.Lines()[1].find(", Op(), " + caught), std::string::npos) << log.Lines()[1];
  EXPECT_EQ(log.Lines()[1].rfind("1, \\UClasses_test.cpp, ", 0), 0u);

  log.Clear();
  result = 11;
  CatchAndLog(KL_CATCH_SITE("Op()", "Op"), result, [&] { throw std::runtime_error("x"); }, &local);
  EXPECT_EQ(result, -1);
  EXPECT_STREQ(local.Message(), "Op - EXCEPTION");
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_NE(log.Lines()[0].find(caught), std::string::npos);

  log.Clear();
  result = 11;
  EXPECT_EQ(CatchAndLog(KL_CATCH_SITE("Op()", "Op"), result, [&] {
              result = 3;
              throw UBreakException();
            }),
            3);
  EXPECT_TRUE(log.Lines().empty()) << "a break leaves silently";

  // Below level 1 the caught record is not written (the raise record is).
  kittest::MemoryLog quiet(0);
  CatchAndLog(KL_CATCH_SITE("Op()", "Op"), result, [&] { KL_THROW(5, "Inner()", "EXCEPTION - %s", "x"); });
  EXPECT_EQ(quiet.Count("EXCEPTION caught"), 0u);
  EXPECT_EQ(quiet.Lines().size(), 1u);
}

}  // namespace
