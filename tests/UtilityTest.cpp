// String and date helpers.
#include <gtest/gtest.h>

#include "storage/Utility.h"

TEST(Utility, TrimAndPad) {
  EXPECT_EQ("", trim(" \t ", " \t"));
  EXPECT_EQ("a b", trim(" a b ", " \t"));
  EXPECT_EQ("a  ", ltrim("  a  ", " "));
  EXPECT_EQ("  a", rtrim("  a  ", " "));
  EXPECT_EQ("abc  ", padright("abc", 5, ' '));
  EXPECT_EQ("abcd", padright("abcdef", 4, ' '));
  EXPECT_EQ("007", padleft("7", 3, '0'));
  EXPECT_EQ("345", padleft("12345", 3, '0'));
  EXPECT_EQ("", padleft("12345", 0, '0'));
}
