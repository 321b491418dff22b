// String helpers that no export reaches on its own: padding to a width and
// the case-blind find with its word rule.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "storage/Utility.h"

TEST(Utility, PaddingGivesExactlyTheWidth) {
  for (const auto& [text, width, right, left] :
       {std::tuple{"abc", 5u, "abc  ", "  abc"},
        {"abcdef", 4u, "abcd", "cdef"},  // a longer text: right-padding cuts at the right, left keeps the right
        {"7", 3u, "7  ", "  7"},
        {"", 2u, "  ", "  "},
        {"abc", 0u, "", ""}}) {
    EXPECT_EQ(right, padright(text, width, ' ')) << text << " " << width;
    EXPECT_EQ(left, padleft(text, width, ' ')) << text << " " << width;
  }
  EXPECT_EQ("007", padleft("7", 3, '0'));
  EXPECT_EQ("345", padleft("12345", 3, '0'));
}

TEST(Utility, CaseBlindFindResumesWhereAMatchBroke) {
  for (const auto& [text, find, wordStart, position] :
       {std::tuple{"xa", "A", false, 1},
        {"aab", "ab", false, 1},      // the broken match's last character starts the next one
        {"aaab", "aab", false, -1},   // no backtracking further than that
        {"xyz", "a", false, -1},
        {"", "a", false, -1},
        {"abc", "", false, -1},
        {"Pages age", "AGE", false, 1},
        {"Pages age", "AGE", true, 6},  // a match must begin a word
        {"[age]", "AGE", true, 1},
        {"x\tage", "age", true, 2},
        {"x_age", "age", true, -1},
        {"ag", "AGE", false, -1},     // the text ends inside the match
        {"abAB", "ab", true, 0}}) {
    EXPECT_EQ(position, ci_stringFind(text, find, wordStart)) << text << " / " << find << " " << wordStart;
  }
}
