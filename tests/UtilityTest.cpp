// String and date helpers.
#include <gtest/gtest.h>

#include <cstring>

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

TEST(Utility, CaseNumbersAndComparison) {
  std::string text = "Ab\xE9z";  // bytes above 0x7F pass through unchanged
  uppercase(text);
  EXPECT_EQ("AB\xE9Z", text);
  EXPECT_EQ("rl_fields", lowercase_string("RL_Fields"));
  EXPECT_EQ("-5", intToString(-5));
  EXPECT_EQ(0, posix_stricmp("RL_Fields", "rl_fields"));
  EXPECT_NE(0, posix_stricmp("ab", "abc"));
  EXPECT_EQ(42, get_int_val("xx  42yy", 2, 4));
  EXPECT_EQ(0, get_int_val("abc", 0, 3));
  EXPECT_EQ(-17, get_int_val("ab-17", 2, 3));
}

TEST(Utility, ReplaceRestartsPastTheReplacedSpan) {
  EXPECT_EQ("it''s", stringReplace("it's", "'", "''"));
  EXPECT_EQ("a''''b", stringReplace("a''b", "'", "''"));
  EXPECT_EQ("baba", stringReplace("aaaa", "a", "b"));
  EXPECT_EQ("xxab", stringReplace("ab", "a", "xxa"));  // would find its own insertion for ever
  EXPECT_EQ("O''Brien", quote_sql_value("O'Brien"));
}

TEST(Utility, CaseBlindReplaceAndFind) {
  EXPECT_EQ("SELECT Years FROM t", ci_stringReplace("SELECT Age FROM t", "age", "Years", true));
  EXPECT_EQ("Pages (Years", ci_stringReplace("Pages (age", "AGE", "Years", true));
  EXPECT_EQ("PYears", ci_stringReplace("Page", "AGE", "Years", false));
  EXPECT_EQ("Abx", ci_stringReplace("Abx", "abc", "Z", false));
  EXPECT_EQ("xb", ci_stringReplace("xa", "a", "b", false));
  EXPECT_EQ("aaab", ci_stringReplace("aaab", "aab", "X", false));  // no backtracking
  EXPECT_EQ(1, ci_stringFind("aab", "ab", false));
  EXPECT_EQ(1, ci_stringFind("xa", "A", false));
  EXPECT_EQ(-1, ci_stringFind("xyz", "a", false));
  EXPECT_EQ(-1, ci_stringFind("aaab", "aab", false));
  EXPECT_EQ(6, ci_stringFind("Pages age", "AGE", true));
  EXPECT_EQ(1, ci_stringFind("[age]", "AGE", true));
}

TEST(Utility, CurrentDateTime) {
  char buffer[20];
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(buffer, get_current_date_time(buffer, sizeof buffer));
  std::string stamp(buffer);
  ASSERT_EQ(17u, stamp.size());
  EXPECT_EQ(" ::", stamp.substr(8, 1) + stamp[11] + stamp[14]);
  EXPECT_EQ(std::string(3, '\0'), std::string(buffer + 17, 3));
}
