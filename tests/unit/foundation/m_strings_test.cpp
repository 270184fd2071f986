#include "foundation/m_strings.h"

#include <gtest/gtest.h>

TEST(UMessage, PlaceholderOneTwiceGetsTheArgumentInBothPlaces) {
  EXPECT_EQ(UMessage("a %1 b %1 c").Arg("X").Text(), "a X b X c");
}
