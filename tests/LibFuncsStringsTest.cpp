// The string and string-building built-ins: their results, the variables they write, and the engine
// errors they leave, from compiled logic or logic written by hand where the compiler refuses.
#include "BuiltinTestSupport.h"

namespace {

class LibStrings : public BuiltinTest {};

// Fields of the layout L1: Sex at 1, Age at 2 (3), Birth Date at 5 (8), Site
// at 13 (4), Notes at 17 (6).
const char* const kRecord = "1 4520240105C509 ab  c";

const char* const kFlag = "syntax error: expected trim flag (RIGHT or LEFT)";
const char* const kNoCharTarget = "syntax error: first parameter must be a CHAR[n] variable";
const char* const kFirstComma = "syntax error: expected comma between first and second parameters";
const char* const kClosing = "syntax error: closing parenthesis expected";

std::string too_long(const std::string& variable, const std::string& value, int size) {
  return "TVariable::SetValue - Variable " + variable + ", value \"" + value + "\" longer than declared size (" +
         std::to_string(size) + ")";
}

std::string not_found(const std::string& tag, const std::string& variable) {
  return "TRunEdits::GetVariable\xBB" "In Edit Tag \"" + tag + "\", Variable \"" + variable + "\" not found!";
}

// Logic that lays the value out in a variable of 20 characters by the format.
std::string fmt(const std::string& format, const std::string& value) {
  return "char t[20];\nfmtstr(t, \"" + format + "\", " + value + ");";
}

}  // namespace

TEST_F(LibStrings, NumbersAndTextsFromTexts) {
  expect_values({
      {"at(\"B\", \"ABAB\")", "2"},
      {"at(\"\", \"\")", "1"},
      {"at(\"CD\", \"ABCDEF\", 2)", "2"},
      // An occurrence across a chunk boundary is no hit; a later whole one is.
      {"at(\"BC\", \"ABCD\", 2)", "0"},
      {"at(\"BC\", \"ABCDABBC\", 2)", "4"},
      {"at(\"A\", \"ABCA\", 2)", "1"},
      {"at(\"X\", \"\", 3)", "0"},
      // A negative width is one chunk; a width of 0 asks for the position.
      {"at(\"EF\", \"ABCDEF\", -1)", "1"},
      {"at(\"\", \"\", -1)", "0"},
      {"at(\"EF\", \"ABCDEF\", 0)", "5"},
      {"at(\"C509\", #S\"Site\")", "1"},
      {"empty(\"\")", "1"},
      {"empty(\"   \")", "1"},
      {"empty(\" \t \")", "0"},
      {"empty(#S\"Extra\")", "1"},
      {"strlen(#S\"Notes\")", "6"},
      {"val(\" 42abc\")", "42"},
      {"val(\"-7\")", "-7"},
      {"val(\"abc\")", "0"},
      {"val(#S\"Age\")", "45"},
      {"strcmp(\"ABC\", \"ABD\")", "-1"},
      {"strcmp(\"abc\", \"ABC\")", "1"},
      {"strcmp(\"ABC\", \"ABD\", 2)", "0"},
      {"strcmp(\"AB\", \"ABC\")", "-1"},
      {"strcmp(\"ABC\", \"AB\")", "1"},
      {"strcmp(\"AB\", \"ABC\", 5)", "-1"},
      {"strcmp(\"ABC\", \"ABC\", -3)", "0"},
      {"justified(\"AB \", right)", "0"},
      {"justified(\"AB \", left)", "1"},
      {"justified(\" AB\", left)", "0"},
      {"justified(\"\", right)", "1"},
      {"justified(\"AB\t\", right)", "1"},
      // Any named constant of the flag's value will do.
      {"justified(\"AB \", pass)", "1"},
      // val saturates beyond 32 bits (the trace would show the largest value by the constant's name).
      {"val(\"4294967297\") - 1", "2147483646"},
      {"val(\"99999999999999999999999\") - 1", "2147483646"},
      {"val(\"-2147483649\")", "-2147483648"},
  }, kRecord);
  // A byte of 0x80 or more sorts after every ASCII byte.
  EXPECT_EQ("1", value("strcmp(#S\"Site\", \"C~\")", "1 4520240105C\x80" "09"));
  expect_texts({
      {"upper(\"aB1-z\")", "AB1-Z"},
      {"lower(\"aB1-Z\")", "ab1-z"},
      {"left(\"ABC\", 5)", "ABC"},
      {"left(\"ABC\", -1)", "ABC"},
      {"left(\"ABC\", 0)", ""},
      {"right(\"ABC\", 2)", "BC"},
      {"right(\"ABC\", 0)", ""},
      {"right(\"ABC\", 4)", "ABC"},
      {"right(\"ABC\", -2)", "ABC"},
      {"right(upper(#S\"Site\"), 9)", "C509"},
      {"substr(\"ABCDE\", 2, 3)", "BCD"},
      {"substr(\"ABCDE\", 4)", "DE"},
      {"substr(\"ABCDE\", 2, 0)", "BCDE"},
      {"substr(\"ABCDE\", 4, 9)", "DE"},
      {"substr(\"ABCDE\", 0, 3)", ""},
      {"substr(\"ABCDE\", -1)", ""},
      {"substr(\"ABCDE\", 6)", ""},
      {"trim(\"  A B  \", both)", "A B"},
      {"trim(\"  A  \", left)", "A  "},
      {"trim(\"  A  \", right)", "  A"},
      {"trim(\"   \", right)", ""},
      {"trim(\"\", left)", ""},
      {"trim(\"\tA \", both)", "\tA"},
      {"trim(#S\"Notes\", left)", "ab  c"},
      {"substr(\"ABCDE\", 7)", ""},
      {"substr(\"ABCDE\", 2147483647, 2147483647)", ""},
  }, kRecord);
  // A field beyond a short record reads as empty; the record is still validated.
  EXPECT_EQ((Rows{"0|1", "T64|Edit T64|NAACCR|E|Check the site"}),
            seen(run_edit("char r[9];\nstrcpy(r, substr(#S\"Notes\", 6, 4));\nreturn FAIL;", "1", {5}, 101)));
  EXPECT_EQ(Rows{}, engine_errors(h()));
}

TEST_F(LibStrings, CopiesAppendsNamedVariablesAndNumbersLaidOut) {
  expect_variables({
      {"char v[5];\nstrcpy(v, \"ABCDEFG\", 5);", {"v=ABCDE"}},
      {"char v[5];\nstrcpy(v, \"AB\", -5);", {"v=AB   "}},
      {"char v[5];\nstrcpy(v, \"ABCDEFG\", -5);", {"v=ABCDE"}},
      {"char v[5];\nstrcpy(v, \"AB\", 0);", {"v=AB"}},
      {"char v[5];\nstrcpy(v, \"AB\");\nstrcpy(v, \"\");", {"v="}},
      {"char v[5];\nstrcpy(nameexpr(\"V\"), \"XY\");", {"v=XY"}},
      // The source may be the target itself.
      {"char v[5];\nstrcpy(v, \"AB\");\nstrcpy(v, v, -5);", {"v=AB   "}},
      {"char v[5];\nstrcpy(v, #S\"Notes\", 1);\nstrcat(v, #S\"Site\", 3);\nstrcpy(v, left(v, 1));\n"
       "strcat(v, #S\"Age\");\nstrcpy(v, right(v, 2));", {"v=45"}},
      {"char v[5];\nstrcpy(v, \"AB\");\nstrcat(v, \"CDEF\", 3);", {"v=ABCDE"}},
      {"char v[5];\nstrcpy(v, \"AB\");\nstrcat(v, \"CD\", 0);", {"v=ABCD"}},
      {"char v[5];\nstrcpy(v, \"AB\");\nstrcat(nameexpr(\"V\"), \"Z\");", {"v=ABZ"}},
      {"char v[5];\nstrcpy(v, \"AB\");\nstrcat(v, v);", {"v=ABAB"}},
  }, kRecord);
  expect_variables({
      {"char city[9], r[9];\nstrcpy(city, \"Oslo\");\nstrcpy(r, nameexpr(\"CITY\"));", {"city=Oslo", "r=Oslo"}},
      // An integer variable gives its decimal text.
      {"int k;\nchar r[9];\nk = -42;\nstrcpy(r, nameexpr(\"k\"));", {"k=-42", "r=-42"}},
  });
  expect_failures({
      {"int k;\nstrcpy(nameexpr(\"k\"), \"X\");", {lib("call_strcpy", kNoCharTarget)}},
      {"char r[9];\nstrcpy(r, nameexpr(\"nope\"));", {not_found("T16", "nope"), lib("call_nameexpr"), lib("call_strcpy")}},
  });
  expect_variables({
      {fmt("N=%5ld;", "42"), {"t=N=   42;"}},
      {fmt("%05ld", "42"), {"t=00042"}},
      {fmt("%-5ld|", "42"), {"t=42   |"}},
      {fmt("%3ld", "12345"), {"t=345"}},
      {fmt("%-3ld", "12345"), {"t=123"}},
      {fmt("%ld", "-7"), {"t=-7"}},
      {fmt("%0ld", "42"), {"t="}},
      {fmt("%ld%ld", "1"), {"t=1%ld"}},
      {fmt("[%5ld]", "-12"), {"t=[  -12]"}},
      {fmt("%ld", "-2147483647 - 1"), {"t=-2147483648"}},
      // A negative width gives an empty field.
      {fmt("<%0-4ld>", "42"), {"t=<>"}},
      // Zero fill puts the sign first; digits that do not fit are still cut from the front.
      {fmt("%04ld", "-5"), {"t=-005"}},
      {fmt("%011ld", "-12"), {"t=-0000000012"}},
      {fmt("%03ld", "-12"), {"t=-12"}},
      {fmt("%02ld", "-345"), {"t=45"}},
  });
}

TEST_F(LibStrings, FailuresStopTheRun) {
  expect_failures({
      // Flags that are no side; the call around one records the failure once more.
      {"int n;\nn = justified(\"AB\", both);", {lib("call_justified", kFlag)}},
      {"int n;\nn = strlen(trim(\"AB\", 1));", {lib("call_trim", kFlag), lib("call_strlen", kFlag)}},
      {"int n;\nn = strlen(trim(\"AB\", dt_today));", {lib("call_trim", kFlag), lib("call_strlen", kFlag)}},
      // Targets that cannot take the text.
      {"char v[5];\nstrcpy(v, \"ABCDEFG\");", {lib("call_strcpy", too_long("v", "ABCDEFG", 5))}},
      {"char v[5];\nstrcpy(v, \"AB\");\nstrcat(v, \"CDEF\");", {lib("call_strcat", too_long("v", "ABCDEF", 5))}},
      // Formats that cannot be laid out; a field longer than the variable fails at the store, with its reason.
      {"char t[20];\nfmtstr(t, \"%d\", 1);", {lib("call_fmtstr", "syntax error: format string must include 'ld'")}},
      {"char t[20];\nfmtstr(t, \"ld\", 1);", {lib("call_fmtstr", "syntax error: format string must include '%'")}},
      {"char t[4];\nfmtstr(t, \"%5ld\", 1);", {lib("call_fmtstr", too_long("t", "    1", 4))}},
      // The compiler refuses integer targets, texts for variables and bad
      // separators; written by hand, they fail at run time.
      {"@IN001k;\nMo(N001k,\"001X);\nDR;", {lib("call_strcpy", kNoCharTarget)}},
      {"@IN001k;\nMm(N001k,\"001X);\nDR;", {lib("call_strcat", kNoCharTarget)}},
      {"@IN001k;\nMN(N001k,\"003%ld,U0011);\nDR;", {lib("call_fmtstr", kNoCharTarget)}},
      {"@Mo(\"003abc,\"001X);\nDR;", {lib("call_strcpy", "Variable named \"abc\" not found (is it undeclared?)")}},
      {"@Mm(\"003abc,\"001X);\nDR;", {lib("call_strcat", "Variable named \"abc\" not found (undeclared?)")}},
      {"@MN(\"001t,\"003%ld,U0011);\nDR;", {lib("call_fmtstr", "syntax error: first parameter MUST be a variable")}},
      {"@Mo(", {lib("call_strcpy", "syntax error: invalid first parameter")}},
      {"@HN001v[U0015];\nMo(N001v;\"001X);\nDR;", {lib("call_strcpy", kFirstComma)}},
      {"@HN001v[U0015];\nMm(N001v,\"001X;\nDR;", {lib("call_strcat", kClosing)}},
      {"@HN001v[U0015];\nMo(N001w,\"001X);\nDR;", {not_found("H10", "w"), lib("call_strcpy")}},
      {"@IN001n;\nN001n=MA(\"001a,\"001b;U0011);\nDR;", {lib("call_at", "COMMA or RPAREN expected"), lib("call_at")}},
      {"@HN001v[U0015];\nMo(N001v,Mq(\"001a,U0011;U0011));\nDR;",
       {lib("call_substr", "COMMA or RPAREN expected"), lib("call_substr"), lib("call_strcpy")}},
      {"@IN001n;\nN001n=Mn(\"001a,\"001b,U0011;\nDR;", {lib("call_strcmp", kClosing)}},
      {"@HN001v[U0015];\nMo(N001v,Ms(\"001a;S));\nDR;", {lib("call_trim", kFirstComma), lib("call_strcpy", kFirstComma)}},
      {"@HN001v[U0015];\nMo(N001v,Mt\"001a);\nDR;", {kOpenParen, lib("call_upper"), lib("call_strcpy")}},
      {"@HN001t[U0015];\nMN(N001t;\"003%ld,U0011);\nDR;", {lib("call_fmtstr", kFirstComma)}},
      {"@HN001t[U0015];\nMN(N001t,\"003%ld;U0011);\nDR;",
       {lib("call_fmtstr", "syntax error: expected comma between second and third parameters")}},
  });
  // A huge padding is refused by the declared size without building it.
  Rows padded = failure("char v[5];\nstrcpy(v, \"AB\", -2147483647);");
  ASSERT_EQ(1u, padded.size());
  std::string start = lib("call_strcpy", "TVariable::SetValue - Variable v, value \"AB    ");
  EXPECT_EQ(start, padded[0].substr(0, start.size()));
  EXPECT_EQ(lib("call_strcpy").size() + 199, padded[0].size());
  // A huge width is not built: the field fails at the store at once.
  EXPECT_EQ(1u, failure("char t[4];\nfmtstr(t, \"%099999999999ld\", 1);").size());
}

TEST_F(LibStrings, BuildersFlagsAndArgumentsThatSurviveAUserFunction) {
  expect_variables({{"char r[9], v[5], w[5];\nstrcpy(r, \"x\");\nstrcpy(r, strcpy(v, \"AB\"));\n"
                     "strcpy(w, fmtstr(v, \"%ld\", 7));\nstrcat(w, strcat(v, \"C\"));",
                     {"r=", "v=7C", "w="}}});
  // Written by hand: the length of what fmtstr yields.
  EXPECT_EQ(0, failed_with("@HN001t[U0015];\nIN001n;\nN001n=Mp(MN(N001t,\"003%ld,U0011))+U0011;\nDN001n;"));
  // trim and justified take the flag as the end of the call.
  EXPECT_EQ(0, failed_with("@IN001n;\nN001n=MV(\"002a ,R;\nDN001n;"));
  EXPECT_EQ(1, failed_with("@IN001n;\nN001n=MV(\"002a ,Q;\nDN001n;"));
  // The function's statements empty the cargo stack down to the calling
  // statement's texts only: the field and the constants outlive them. (A
  // function without a return gives 0; a return would end the edit.)
  const std::string function = "\nfunction f()\n{\n  char t[9];\n  strcpy(t, \"zzzz\");\n  strcpy(s, t);\n"
                               "  strcat(s, upper(\"q\"));\n}";
  const std::string checks = "\nif (n == 0 && strcmp(r, \" ab\") == 0 && strcmp(s, \"zzzzQ\") == 0) return PASS;\n"
                             "return FAIL;";
  // "result|failed edits" of a run of the logic with the checks and the function.
  auto outcome = [&](const std::string& logic, const std::string& record = "") {
    return seen(run_edit("char s[9], r[9];\nint n;\n" + logic + checks + function, record, {}, 101)).front();
  };
  EXPECT_EQ("0|0", outcome("n = strcmp(#S\"Site\", \"C50x\", f() + 3);\nstrcpy(r, left(#S\"Notes\", f() + 3));", kRecord));
  // A variable's text is taken as it was when the argument was read.
  EXPECT_EQ("0|0", outcome("strcpy(s, \"abc\");\nn = strcmp(s, \"abx\", f() + 2);\nstrcpy(s, \" abcdef\");\n"
                           "strcpy(r, substr(s, f() + 1, 3));"));
  EXPECT_EQ("0|1", outcome("strcpy(s, \"abc\");\nn = strcmp(s, \"abx\", f() + 3);"));
}

