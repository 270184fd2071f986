// The fixed parts of every log line.
#include "foundation/errorlog.h"

#include <gtest/gtest.h>

namespace {

TEST(LogLinePrefix, UsesBlankPaddedHourAndZeroPaddedFields) {
  EXPECT_EQ(FormatLogLinePrefix({2026, 1, 2, 7, 5, 9, 45}, 12, 34, "KITLOADER"), "2026-01-02, 7:05:09:045, 12,34,KITLOADER, ");
  EXPECT_EQ(FormatLogLinePrefix({2026, 12, 31, 0, 0, 0, 0}, 1, 2, ""), "2026-12-31, 0:00:00:000, 1,2,, ");
  EXPECT_EQ(FormatLogLinePrefix({2026, 12, 31, 23, 59, 59, 999}, 4000000000u, 5, "M"),
            "2026-12-31,23:59:59:999, 4000000000,5,M, ");
}

TEST(LogSourceFileField, KeepsTheNameFromItsLastSeparatorOn) {
  EXPECT_EQ(LogSourceFileField("C:\\src\\common\\m_io.cpp"), "\\m_io.cpp");
  EXPECT_EQ(LogSourceFileField("/work/src/m_io.cpp"), "\\m_io.cpp");
  EXPECT_EQ(LogSourceFileField("m_io.cpp"), "");
  EXPECT_EQ(LogSourceFileField(nullptr), "");
}

}  // namespace
