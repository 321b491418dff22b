// MATCH and INLIST: what each mask accepts, lists of values and ranges with slices of the source, and the
// failures of masks and arguments as the engine records them.
#include "BuiltinTestSupport.h"

namespace {

class Masks : public BuiltinTest {
 protected:
  std::string match(const std::string& value, const std::string& mask) {
    return this->value("match(\"" + value + "\", \"" + mask + "\")");
  }
};

std::string match_logic(const std::string& value, const std::string& mask) {
  return "int r;\nr = match(\"" + value + "\", \"" + mask + "\");";
}

std::string match_error(const std::string& message) { return lib("call_match", message); }
std::string inlist_error(const std::string& message) { return lib("call_inlist", message); }

const char* const kStackMessage = "Ran out of stack space trying to match the regular expression.";
const char* const kComplexityMessage =
    "The complexity of matching the regular expression exceeded predefined bounds.  Try refactoring the regular "
    "expression to make each choice made by the state machine unambiguous.  This exception is thrown to prevent "
    "\"eternal\" matches that take an indefinite period time to locate.";

struct Case {
  const char* value;
  const char* mask;
  const char* fits;
};

}  // namespace

TEST_F(Masks, MatchAndInlistValues) {
  const Case cases[] = {
      {"123", "ddd", "1"},
      {"12", "ddd", "0"},
      {"1234", "ddd", "0"},
      {"12-34", "dd-dd", "1"},
      {"12x34", "dd-dd", "0"},
      {"aB3", "lud", "1"},
      {"Ab3", "lud", "0"},
      {"a1", "xx", "1"},
      {"a_", "xx", "0"},
      {" \t", "bb", "1"},
      {"ab", "@@", "1"},
      {"a ", "@@", "0"},
      {"B", "?", "1"},
      {"BC", "?", "0"},
      {"B-D", "???", "1"},
      {"BC", "???", "0"},
      // Capital letters and other bytes stand for themselves; expression operators keep their meaning.
      {"XYZ", "XYZ", "1"},
      {"xyz", "XYZ", "0"},
      {"ABXC", "AB.C", "1"},
      {"AAAB", "A*B", "1"},
      {"", "", "1"},
      {"a", "", "0"},
      // Masks are kept by their exact bytes: "U" is no class and finds no "u" kept before it.
      {"Q", "u", "1"},
      {"Q", "U", "0"},
      {"U", "U", "1"},
      {"A-1", "u!-d", "1"},
      {"a-1", "u!-d", "0"},
      {"x", "!x", "1"},
      {"a", "!x", "0"},
      {"?", "!?", "1"},
      {"a", "!?", "0"},
      {"a", "!.", "1"},
      {"!", "!!", "1"},
      {"XY", "XY!", "1"},
      {"+", "!+", "1"},
      {"Q", "A:Z", "1"},
      {"q", "A:Z", "0"},
      {"5", "{0:9}", "1"},
      {"x", "{0:9}", "0"},
      // Sets and groups.
      {"a", "[a,d]", "1"},
      {"7", "[a,d]", "1"},
      {"-", "[a,d]", "0"},
      {"x", "[@]", "1"},
      {" ", "[@]", "0"},
      {"a", "{ad}", "1"},
      {"7", "{ad}", "1"},
      {"-", "{a!-}", "1"},
      {"x", "{?}", "1"},
      {"x5y", "{?}d{?}", "1"},
      // Each {?} is one character of any kind, next to another one too.
      {"xy", "{?}{?}", "1"},
      {"x", "{?}{?}", "0"},
      {"xyz", "{?}{?}{?}", "1"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.fits, match(c.value, c.mask)) << c.value << " / " << c.mask;
  // A set holds only its members, never the brackets of the translation.
  for (const char* sex : {"(", ")"}) EXPECT_EQ("0", value(R"(match(#S"Sex", "{ad}"))", sex)) << sex;
  EXPECT_EQ("0", value(R"(match(#S"Sex", "{0:9}"))", "("));
  EXPECT_EQ("1", value(R"(match(#S"Sex", "{?}"))", "("));
  expect_values({
      {R"(inlist("B", "A,B,C"))", "1"},
      {R"(inlist("D", "A,B,C"))", "0"},
      // Ranges compare byte by byte: "BZZ" lies within A-C, "CA" and "7" do not.
      {R"(inlist("BZZ", "A-C"))", "1"},
      {R"(inlist("CA", "A-C"))", "0"},
      {R"(inlist("7", "10-20"))", "0"},
      {R"(inlist("15", "10-20"))", "1"},
      {R"(inlist("5-7", "1-5-9"))", "1"},
      // The source loses its trailing blanks and tabs; so does the value a slice gives.
      {"inlist(\"AB \t \", \"AB\")", "1"},
      {R"(inlist("12345", "23", "", 2, 2))", "1"},
      {R"(inlist("12345", "2345", "", 2))", "1"},
      {R"(inlist("12345", "12345", "", 0))", "1"},
      {R"(inlist("12 45", "2", "", 2, 2))", "1"},
      // A length that is negative or runs past the end reaches the end of the source.
      {R"(inlist("12345", "45", "", 4, -1))", "1"},
      {R"(inlist("123", "23", "", 2, 50))", "1"},
      // A blank value is found only as a blank item of the slice's own length.
      {R"(inlist("  ", "A,  ,B"))", "1"},
      {R"(inlist("  ", "A, ,B"))", "0"},
      {R"(inlist("", "A,,B"))", "1"},
      {R"(inlist("", "A,B"))", "0"},
      {R"(inlist("", ""))", "0"},
      {R"(inlist("A    ", "A", "", 2))", "0"},
      {R"(inlist("12", "10-20", "dd"))", "1"},
      {R"(inlist("1X", "10-20", "dd"))", "0"},
      {R"(inlist("30", "10-20", "dd"))", "0"},
      // A blank source that fits the mask is in any list.
      {R"(inlist("  ", "A", "bb"))", "1"},
      // The mask sees the whole source, trailing blanks and all, before any slicing.
      {R"(inlist("12 ", "12", "dd"))", "0"},
      {R"(inlist("X12", "12", "udd", 2))", "1"},
  });
  // The compiler trims the items of a literal list; compiled logic from
  // elsewhere keeps their blanks, and a return of 0 fails the edit. A comma
  // at the start gives an empty item, one at the end none.
  const std::pair<const char*, int> items[] = {
      {"@DMU(\"001B,\"004A, B);", 1},
      {"@DMU(\"002 B,\"004A, B);", 0},
      {"@DMU(\"001B,\"004A,B,);", 0},
      {"@DMU(\"000,\"004,A,B);", 0},
      {"@DMU(\"000,\"004A,B,);", 1},
  };
  for (const auto& [compiled, failed] : items) EXPECT_EQ(failed, failed_with(compiled)) << compiled;
  expect_values({
      // A start may point at the last byte.
      {R"(inlist("ABC", "C", "", 3))", "1"},
      // A start past the trimmed source leaves an empty slice.
      {R"(inlist("A    ", "A", "", 4))", "0"},
      {R"(inlist("A    ", "X,,Y", "", 5))", "1"},
  });
  std::string start = "INLIST start pos (";
  std::string invalid = ") is invalid compared to length of source string (3)";
  expect_failures({
      {"int r;\nr = inlist(\"ABC\", \"C\", \"\", 4);", {inlist_error(start + "4" + invalid), inlist_error("")}},
      {"int r;\nr = inlist(\"ABC\", \"C\", \"\", -1);", {inlist_error(start + "-1" + invalid), inlist_error("")}},
  });
  // Arguments outlive calls inside later arguments: the start of the outer
  // call is worked out by INLIST and MATCH over other texts (hand-compiled:
  // the compiler takes no call inside a call's arguments).
  EXPECT_EQ(0, failed_with("@DMU(\"002QB,\"001B,\"000,MU(\"001Z,\"003A,Z)+MZ(\"002xy,\"002aa));"));
  EXPECT_EQ(0, failed_with("@DMU(\"002Q7,\"0017,\"002ud,MU(\"001Z,\"003A,Z,\"001u)+U0011);"));
}

TEST_F(Masks, RefusedMasksMalformedCallsAndMatchesBeyondTheLibrarysLimits) {
  std::string any = "\". The \"any\" character \"?\" inside sub-pattern \"{}\" cannot be combined with other mask "
                    "characters. Try optional sub-pattern syntax like \"[?,a,b,d]\" instead. (Reminder: The \"?\" "
                    "means ANYTHING. All other tokens are redundant.)";
  std::string syntax = "Syntax error in MATCH mask: \"";
  // A range with nothing before it; INLIST names MATCH in these messages too.
  std::string range = syntax + ":9\": The range character \":\" has no character before it.";
  std::string open = match_error("Unmatched [ or [^ in character class declaration.  The error occurred while "
                                 "parsing the regular expression: '[A->>>HERE>>>'.");
  expect_failures({
      {match_logic("a", "{?,a}"), {match_error(syntax + "{?,a}" + any)}},
      {match_logic("a", "{a,?}"), {match_error(syntax + "{a,?}" + any)}},
      {match_logic("a", "{@}"), {match_error(syntax + "{@}\": \"Not-blank\" character \"@\" inside sub-pattern \"{}\" "
                                             "does not process properly. Try \"[@]\" or \"[@]*\" instead.")}},
      {match_logic("5", ":9"), {match_error(range)}},
      {"int r;\nr = inlist(\"5\", \"5\", \":9\");", {inlist_error(range)}},
      // An open range, an unbalanced group, a repeat with nothing before it;
      // a mask that fails is never kept: it fails again in the next run. Then
      // calls without parentheses or separators.
      {match_logic("A", "A:"), {open}},
      {match_logic("a", "[a"), {match_error("Unmatched marking parenthesis ( or \\(.  The error occurred while parsing "
                                            "the regular expression fragment: '[:alpha:]]>>>HERE>>>'.")}},
      {match_logic("A", "A:"), {open}},
      {"@DMZ;", {kOpenParen, match_error("")}},
      {"@DMU;", {kOpenParen, inlist_error("")}},
      {"@DMU(\"001B,\"003A,B;", {inlist_error("syntax error: expected COMMA or RPAREN")}},
  });
  EXPECT_EQ(1u, failure(match_logic("a", "*a")).size());
  std::string value = "\"041" + std::string(40, 'A') + "C";
  auto errors_of = [&](const std::string& call) {
    EXPECT_EQ(-1, failed_with("@IN001r;\nN001r=" + call + ",\"006(A*)*B);\nDR;"));
    Rows errors = engine_errors(h());
    EXPECT_EQ(3u, errors.size());
    errors.resize(3);
    return errors;
  };
  // Which of its limits the library meets first is its own affair; its message follows the built-in's.
  Rows errors = errors_of("MZ(" + value);
  EXPECT_EQ(match_error("MATCH pattern invalid: \"(A*)*B\""), errors[0]);
  EXPECT_TRUE(errors[1] == match_error(kStackMessage) || errors[1] == match_error(kComplexityMessage)) << errors[1];
  errors = errors_of("MU(" + value + ",\"001A");
  EXPECT_EQ(inlist_error("INLIST match pattern invalid: \"(A*)*B\""), errors[0]);
  EXPECT_TRUE(errors[1] == inlist_error(kStackMessage) || errors[1] == inlist_error(kComplexityMessage)) << errors[1];
}

