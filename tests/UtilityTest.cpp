// String helpers that build SQL texts and rewrite names in edit logic.
#include <gtest/gtest.h>

#include "storage/Utility.h"

TEST(Utility, ReplaceRestartsPastTheReplacedSpan) {
  EXPECT_EQ("it''s", stringReplace("it's", "'", "''"));
  EXPECT_EQ("a''''b", stringReplace("a''b", "'", "''"));
  EXPECT_EQ("baba", stringReplace("aaaa", "a", "b"));
  EXPECT_EQ("xxab", stringReplace("ab", "a", "xxa"));  // would find its own insertion for ever
  EXPECT_EQ("O''Brien", quote_sql_value("O'Brien"));
}

TEST(Utility, CaseBlindReplace) {
  EXPECT_EQ("SELECT Years FROM t", ci_stringReplace("SELECT Age FROM t", "age", "Years", true));
  EXPECT_EQ("Pages (Years", ci_stringReplace("Pages (age", "AGE", "Years", true));
  EXPECT_EQ("PYears", ci_stringReplace("Page", "AGE", "Years", false));
  EXPECT_EQ("Abx", ci_stringReplace("Abx", "abc", "Z", false));
  EXPECT_EQ("xb", ci_stringReplace("xa", "a", "b", false));
  EXPECT_EQ("aaab", ci_stringReplace("aaab", "aab", "X", false));  // no backtracking
}
