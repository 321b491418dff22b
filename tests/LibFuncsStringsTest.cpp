// The string and string-building built-ins, run from logic compiled by the
// engine (or written by hand where the compiler would refuse it): their
// results, the variables they write, and the engine errors they leave.

#include "RunTestSupport.h"

namespace {

class LibStrings : public RunTest {
 protected:
  // The value of a text expression, stored in a variable of 40 characters.
  std::string text(const std::string& expression, const std::string& record = "") {
    return only_value(values_after("char r[40];\nstrcpy(r, " + expression + ");\nreturn PASS;", record), "r=");
  }
  // The value of an integer expression.
  std::string number(const std::string& expression, const std::string& record = "") {
    return only_value(values_after("int n;\nn = " + expression + ";\nreturn PASS;", record), "n=");
  }
  // The variables after the logic (ended by a return).
  Rows values(const std::string& logic, const std::string& record = "") {
    return values_after(logic + "\nreturn PASS;", record);
  }
  // The engine errors of a run of one edit that must stop the run.
  Rows failure(const std::string& logic, const std::string& record = "") {
    EXPECT_EQ(-1, run_edit(logic + "\nreturn PASS;", record).result) << logic;
    return engine_errors(smf());
  }
  // True when the logic passes, false when it fails with its message.
  bool passes(const std::string& logic, const std::string& record = "") {
    RunResult result = run_edit(logic, record, {}, 101);
    EXPECT_EQ(0, result.result) << logic;
    return result.messages.empty();
  }
  // A run of compiled logic written by hand, whose failure message is 101.
  RunResult hand_run(const std::string& compiled) {
    std::string tag = "H" + std::to_string(++Hand);
    add_edit(tag, "Edit " + tag, "return PASS;", {}, 101);
    set_compiled(tag, compiled);
    add_to_set("S" + tag, tag);
    return run("1", 0, "S" + tag);
  }
  // The engine errors of a run of compiled logic written by hand.
  Rows hand_compiled(const std::string& compiled) {
    EXPECT_EQ(-1, hand_run(compiled).result) << compiled;
    return engine_errors(smf());
  }

 private:
  static std::string only_value(const Rows& values, const std::string& prefix) {
    if (values.size() == 1 && values[0].compare(0, prefix.size(), prefix) == 0) return values[0].substr(prefix.size());
    std::string all = "<";
    for (const std::string& value : values) all += value + ";";
    return all + ">";
  }
  int Hand = 0;
};

std::string edit_error(const std::string& tag) {
  return "TRunEdits::process_edit\xBB" "Edit: Edit " + tag + " [Tag: " + tag + "]";
}
std::string lib(const std::string& method, const std::string& message = "") {
  return "TLibFuncs::" + method + "\xBB" + message;
}

// Fields of the layout L1: Sex at 1, Age at 2 (3), Birth Date at 5 (8), Site
// at 13 (4), Notes at 17 (6).
const char* const kRecord = "1 4520240105C509 ab  c";

}  // namespace

TEST_F(LibStrings, AtGivesPositionsAndChunks) {
  EXPECT_EQ("2", number("at(\"B\", \"ABAB\")"));
  EXPECT_EQ("1", number("at(\"\", \"\")"));
  EXPECT_EQ("2", number("at(\"CD\", \"ABCDEF\", 2)"));
  // An occurrence across a chunk boundary is no hit; a later whole one is.
  EXPECT_EQ("0", number("at(\"BC\", \"ABCD\", 2)"));
  EXPECT_EQ("4", number("at(\"BC\", \"ABCDABBC\", 2)"));
  EXPECT_EQ("1", number("at(\"A\", \"ABCA\", 2)"));
  EXPECT_EQ("0", number("at(\"X\", \"\", 3)"));
  // A negative width is one chunk; a width of 0 asks for the position.
  EXPECT_EQ("1", number("at(\"EF\", \"ABCDEF\", -1)"));
  EXPECT_EQ("0", number("at(\"\", \"\", -1)"));
  EXPECT_EQ("5", number("at(\"EF\", \"ABCDEF\", 0)"));
  EXPECT_EQ("1", number("at(\"C509\", #S\"Site\")", kRecord));
}

TEST_F(LibStrings, EmptyLengthAndValue) {
  EXPECT_EQ("1", number("empty(\"\")"));
  EXPECT_EQ("1", number("empty(\"   \")"));
  EXPECT_EQ("0", number("empty(\" \t \")"));
  EXPECT_EQ("1", number("empty(#S\"Extra\")", kRecord));
  EXPECT_EQ("6", number("strlen(#S\"Notes\")", kRecord));
  EXPECT_EQ("42", number("val(\" 42abc\")"));
  EXPECT_EQ("-7", number("val(\"-7\")"));
  EXPECT_EQ("0", number("val(\"abc\")"));
  EXPECT_EQ("45", number("val(#S\"Age\")", kRecord));
}

TEST_F(LibStrings, ValueSaturatesBeyondThirtyTwoBits) {
  // (The trace would show the largest value by the constant's name.)
  EXPECT_EQ("2147483646", number("val(\"4294967297\") - 1"));
  EXPECT_EQ("2147483646", number("val(\"99999999999999999999999\") - 1"));
  EXPECT_EQ("-2147483648", number("val(\"-2147483649\")"));
}

TEST_F(LibStrings, CaseAndCuts) {
  EXPECT_EQ("AB1-Z", text("upper(\"aB1-z\")"));
  EXPECT_EQ("ab1-z", text("lower(\"aB1-Z\")"));
  EXPECT_EQ("ABC", text("left(\"ABC\", 5)"));
  EXPECT_EQ("ABC", text("left(\"ABC\", -1)"));
  EXPECT_EQ("", text("left(\"ABC\", 0)"));
  EXPECT_EQ("BC", text("right(\"ABC\", 2)"));
  EXPECT_EQ("", text("right(\"ABC\", 0)"));
  EXPECT_EQ("ABC", text("right(\"ABC\", 4)"));
  EXPECT_EQ("ABC", text("right(\"ABC\", -2)"));
  EXPECT_EQ("C509", text("right(upper(#S\"Site\"), 9)", kRecord));
}

TEST_F(LibStrings, Substrings) {
  EXPECT_EQ("BCD", text("substr(\"ABCDE\", 2, 3)"));
  EXPECT_EQ("DE", text("substr(\"ABCDE\", 4)"));
  EXPECT_EQ("BCDE", text("substr(\"ABCDE\", 2, 0)"));
  EXPECT_EQ("DE", text("substr(\"ABCDE\", 4, 9)"));
  EXPECT_EQ("", text("substr(\"ABCDE\", 0, 3)"));
  EXPECT_EQ("", text("substr(\"ABCDE\", -1)"));
  EXPECT_EQ("", text("substr(\"ABCDE\", 6)"));
}

TEST_F(LibStrings, SubstringsPastTheEndAreEmpty) {
  EXPECT_EQ("", text("substr(\"ABCDE\", 7)"));
  EXPECT_EQ("", text("substr(\"ABCDE\", 2147483647, 2147483647)"));
  // A field beyond a short record reads as empty; the record is still validated.
  RunResult result = run_edit("char r[9];\nstrcpy(r, substr(#S\"Notes\", 6, 4));\nreturn FAIL;", "1", {5}, 101);
  EXPECT_EQ(0, result.result);
  EXPECT_EQ((Rows{"T3|Edit T3|NAACCR|E|Check the site"}), result.messages);
  EXPECT_EQ(Rows{}, engine_errors(smf()));
}

TEST_F(LibStrings, TrimAndJustified) {
  EXPECT_EQ("A B", text("trim(\"  A B  \", both)"));
  EXPECT_EQ("A  ", text("trim(\"  A  \", left)"));
  EXPECT_EQ("  A", text("trim(\"  A  \", right)"));
  EXPECT_EQ("", text("trim(\"   \", right)"));
  EXPECT_EQ("", text("trim(\"\", left)"));
  EXPECT_EQ("\tA", text("trim(\"\tA \", both)"));
  EXPECT_EQ("ab  c", text("trim(#S\"Notes\", left)", kRecord));
  EXPECT_EQ("0", number("justified(\"AB \", right)"));
  EXPECT_EQ("1", number("justified(\"AB \", left)"));
  EXPECT_EQ("0", number("justified(\" AB\", left)"));
  EXPECT_EQ("1", number("justified(\"\", right)"));
  EXPECT_EQ("1", number("justified(\"AB\t\", right)"));
  // Any named constant of the flag's value will do.
  EXPECT_EQ("1", number("justified(\"AB \", pass)"));
}

TEST_F(LibStrings, FlagsThatAreNoSideStopTheRun) {
  EXPECT_EQ((Rows{lib("call_justified", "syntax error: expected trim flag (RIGHT or LEFT)"), edit_error("T1")}),
            failure("int n;\nn = justified(\"AB\", both);"));
  EXPECT_EQ(lib("call_trim", "syntax error: expected trim flag (RIGHT or LEFT)"),
            failure("int n;\nn = strlen(trim(\"AB\", 1));").at(0));
  // The call around it records the failure once more.
  EXPECT_EQ((Rows{lib("call_trim", "syntax error: expected trim flag (RIGHT or LEFT)"),
                  lib("call_strlen", "syntax error: expected trim flag (RIGHT or LEFT)"), edit_error("T3")}),
            failure("int n;\nn = strlen(trim(\"AB\", dt_today));"));
}

TEST_F(LibStrings, Comparisons) {
  EXPECT_EQ("-1", number("strcmp(\"ABC\", \"ABD\")"));
  EXPECT_EQ("1", number("strcmp(\"abc\", \"ABC\")"));
  EXPECT_EQ("0", number("strcmp(\"ABC\", \"ABD\", 2)"));
  EXPECT_EQ("-1", number("strcmp(\"AB\", \"ABC\")"));
  EXPECT_EQ("1", number("strcmp(\"ABC\", \"AB\")"));
  EXPECT_EQ("-1", number("strcmp(\"AB\", \"ABC\", 5)"));
  EXPECT_EQ("0", number("strcmp(\"ABC\", \"ABC\", -3)"));
  // A byte of 0x80 or more sorts after every ASCII byte.
  EXPECT_EQ("1", number("strcmp(#S\"Site\", \"C~\")", "1 4520240105C\x80" "09"));
}

TEST_F(LibStrings, NamedVariables) {
  EXPECT_EQ((Rows{"city=Oslo", "r=Oslo"}),
            values("char city[9], r[9];\nstrcpy(city, \"Oslo\");\nstrcpy(r, nameexpr(\"CITY\"));"));
  // An integer variable gives its decimal text.
  EXPECT_EQ((Rows{"k=-42", "r=-42"}), values("int k;\nchar r[9];\nk = -42;\nstrcpy(r, nameexpr(\"k\"));"));
  EXPECT_EQ((Rows{lib("call_strcpy", "syntax error: first parameter must be a CHAR[n] variable"), edit_error("T3")}),
            failure("int k;\nstrcpy(nameexpr(\"k\"), \"X\");"));
  EXPECT_EQ((Rows{"TRunEdits::GetVariable\xBB" "In Edit Tag \"T4\", Variable \"nope\" not found!", lib("call_nameexpr"),
                  lib("call_strcpy"), edit_error("T4")}),
            failure("char r[9];\nstrcpy(r, nameexpr(\"nope\"));"));
}

TEST_F(LibStrings, CopiesIntoVariables) {
  EXPECT_EQ((Rows{"v=ABCDE"}), values("char v[5];\nstrcpy(v, \"ABCDEFG\", 5);"));
  EXPECT_EQ((Rows{"v=AB   "}), values("char v[5];\nstrcpy(v, \"AB\", -5);"));
  EXPECT_EQ((Rows{"v=ABCDE"}), values("char v[5];\nstrcpy(v, \"ABCDEFG\", -5);"));
  EXPECT_EQ((Rows{"v=AB"}), values("char v[5];\nstrcpy(v, \"AB\", 0);"));
  EXPECT_EQ((Rows{"v="}), values("char v[5];\nstrcpy(v, \"AB\");\nstrcpy(v, \"\");"));
  EXPECT_EQ((Rows{"v=XY"}), values("char v[5];\nstrcpy(nameexpr(\"V\"), \"XY\");"));
  // The source may be the target itself.
  EXPECT_EQ((Rows{"v=AB   "}), values("char v[5];\nstrcpy(v, \"AB\");\nstrcpy(v, v, -5);"));
  EXPECT_EQ((Rows{"v=45"}), values("char v[5];\nstrcpy(v, #S\"Notes\", 1);\nstrcat(v, #S\"Site\", 3);\n"
                                   "strcpy(v, left(v, 1));\nstrcat(v, #S\"Age\");\nstrcpy(v, right(v, 2));",
                                   kRecord));
}

TEST_F(LibStrings, AppendsToVariables) {
  EXPECT_EQ((Rows{"v=ABCDE"}), values("char v[5];\nstrcpy(v, \"AB\");\nstrcat(v, \"CDEF\", 3);"));
  EXPECT_EQ((Rows{"v=ABCD"}), values("char v[5];\nstrcpy(v, \"AB\");\nstrcat(v, \"CD\", 0);"));
  EXPECT_EQ((Rows{"v=ABZ"}), values("char v[5];\nstrcpy(v, \"AB\");\nstrcat(nameexpr(\"V\"), \"Z\");"));
  EXPECT_EQ((Rows{"v=ABAB"}), values("char v[5];\nstrcpy(v, \"AB\");\nstrcat(v, v);"));
}

TEST_F(LibStrings, TargetsThatCannotTakeTheText) {
  std::string tooLong = "TVariable::SetValue - Variable v, value \"ABCDEFG\" longer than declared size (5)";
  EXPECT_EQ((Rows{lib("call_strcpy", tooLong), edit_error("T1")}), failure("char v[5];\nstrcpy(v, \"ABCDEFG\");"));
  EXPECT_EQ((Rows{lib("call_strcat", "TVariable::SetValue - Variable v, value \"ABCDEF\" longer than declared size (5)"),
                  edit_error("T2")}),
            failure("char v[5];\nstrcpy(v, \"AB\");\nstrcat(v, \"CDEF\");"));
  // The compiler refuses an integer target; written by hand, it is refused at run time.
  EXPECT_EQ((Rows{lib("call_strcpy", "syntax error: first parameter must be a CHAR[n] variable"), edit_error("H1")}),
            hand_compiled("@IN001k;\nMo(N001k,\"001X);\nDR;"));
  EXPECT_EQ((Rows{lib("call_strcat", "syntax error: first parameter must be a CHAR[n] variable"), edit_error("H2")}),
            hand_compiled("@IN001k;\nMm(N001k,\"001X);\nDR;"));
  // A huge padding is refused by the declared size without building it.
  Rows padded = failure("char v[5];\nstrcpy(v, \"AB\", -2147483647);");
  ASSERT_EQ(2u, padded.size());
  std::string start = lib("call_strcpy", "TVariable::SetValue - Variable v, value \"AB    ");
  EXPECT_EQ(start, padded[0].substr(0, start.size()));
  EXPECT_EQ(lib("call_strcpy").size() + 199, padded[0].size());
}

TEST_F(LibStrings, TargetsThatAreNoVariables) {
  // The compiler refuses these; written by hand, they fail with the text of the first argument.
  EXPECT_EQ((Rows{lib("call_strcpy", "Variable named \"abc\" not found (is it undeclared?)"), edit_error("H1")}),
            hand_compiled("@Mo(\"003abc,\"001X);\nDR;"));
  EXPECT_EQ((Rows{lib("call_strcat", "Variable named \"abc\" not found (undeclared?)"), edit_error("H2")}),
            hand_compiled("@Mm(\"003abc,\"001X);\nDR;"));
  EXPECT_EQ((Rows{lib("call_strcpy", "syntax error: invalid first parameter"), edit_error("H3")}),
            hand_compiled("@Mo("));
  EXPECT_EQ((Rows{lib("call_strcpy", "syntax error: expected comma between first and second parameters"),
                  edit_error("H4")}),
            hand_compiled("@HN001v[U0015];\nMo(N001v;\"001X);\nDR;"));
  EXPECT_EQ((Rows{lib("call_strcat", "syntax error: closing parenthesis expected"), edit_error("H5")}),
            hand_compiled("@HN001v[U0015];\nMm(N001v,\"001X;\nDR;"));
  EXPECT_EQ((Rows{"TRunEdits::GetVariable\xBB" "In Edit Tag \"H6\", Variable \"w\" not found!", lib("call_strcpy"),
                  edit_error("H6")}),
            hand_compiled("@HN001v[U0015];\nMo(N001w,\"001X);\nDR;"));
}

TEST_F(LibStrings, BadSeparatorsStopTheRun) {
  std::string comma = "COMMA or RPAREN expected";
  EXPECT_EQ((Rows{lib("call_at", comma), lib("call_at"), edit_error("H1")}),
            hand_compiled("@IN001n;\nN001n=MA(\"001a,\"001b;U0011);\nDR;"));
  EXPECT_EQ((Rows{lib("call_substr", comma), lib("call_substr"), lib("call_strcpy"), edit_error("H2")}),
            hand_compiled("@HN001v[U0015];\nMo(N001v,Mq(\"001a,U0011;U0011));\nDR;"));
  EXPECT_EQ((Rows{lib("call_strcmp", "syntax error: closing parenthesis expected"), edit_error("H3")}),
            hand_compiled("@IN001n;\nN001n=Mn(\"001a,\"001b,U0011;\nDR;"));
  std::string trimComma = "syntax error: expected comma between first and second parameters";
  EXPECT_EQ((Rows{lib("call_trim", trimComma), lib("call_strcpy", trimComma), edit_error("H4")}),
            hand_compiled("@HN001v[U0015];\nMo(N001v,Ms(\"001a;S));\nDR;"));
  EXPECT_EQ((Rows{lib("check_open_paren", "syntax error: expected opening parenthesis"), lib("call_upper"),
                  lib("call_strcpy"), edit_error("H5")}),
            hand_compiled("@HN001v[U0015];\nMo(N001v,Mt\"001a);\nDR;"));
}

TEST_F(LibStrings, OmittedClosingParenthesisOfAFlag) {
  // trim and justified take the flag as the end of the call.
  RunResult left = hand_run("@IN001n;\nN001n=MV(\"002a ,R;\nDN001n;");
  EXPECT_EQ(0, left.result);
  EXPECT_EQ(Rows{}, left.messages);
  RunResult right = hand_run("@IN001n;\nN001n=MV(\"002a ,Q;\nDN001n;");
  EXPECT_EQ(0, right.result);
  EXPECT_EQ((Rows{"H2|Edit H2|NAACCR|E|Check the site"}), right.messages);
}

TEST_F(LibStrings, NumbersLaidOut) {
  auto laid_out = [&](const std::string& format, const std::string& value) {
    return values("char t[20];\nfmtstr(t, \"" + format + "\", " + value + ");").at(0);
  };
  EXPECT_EQ("t=N=   42;", laid_out("N=%5ld;", "42"));
  EXPECT_EQ("t=00042", laid_out("%05ld", "42"));
  EXPECT_EQ("t=42   |", laid_out("%-5ld|", "42"));
  EXPECT_EQ("t=345", laid_out("%3ld", "12345"));
  EXPECT_EQ("t=123", laid_out("%-3ld", "12345"));
  EXPECT_EQ("t=-7", laid_out("%ld", "-7"));
  EXPECT_EQ("t=", laid_out("%0ld", "42"));
  EXPECT_EQ("t=1%ld", laid_out("%ld%ld", "1"));
  EXPECT_EQ("t=[  -12]", laid_out("[%5ld]", "-12"));
  EXPECT_EQ("t=-2147483648", laid_out("%ld", "-2147483647 - 1"));
  // A negative width gives an empty field.
  EXPECT_EQ("t=<>", laid_out("<%0-4ld>", "42"));
}

TEST_F(LibStrings, ZeroFillPutsTheSignFirst) {
  auto laid_out = [&](const std::string& format, const std::string& value) {
    return values("char t[20];\nfmtstr(t, \"" + format + "\", " + value + ");").at(0);
  };
  EXPECT_EQ("t=-005", laid_out("%04ld", "-5"));
  EXPECT_EQ("t=-0000000012", laid_out("%011ld", "-12"));
  EXPECT_EQ("t=-12", laid_out("%03ld", "-12"));
  // Digits that do not fit are still cut from the front.
  EXPECT_EQ("t=45", laid_out("%02ld", "-345"));
}

TEST_F(LibStrings, FormatsThatCannotBeLaidOut) {
  EXPECT_EQ((Rows{lib("call_fmtstr", "syntax error: format string must include 'ld'"), edit_error("T1")}),
            failure("char t[20];\nfmtstr(t, \"%d\", 1);"));
  EXPECT_EQ((Rows{lib("call_fmtstr", "syntax error: format string must include '%'"), edit_error("T2")}),
            failure("char t[20];\nfmtstr(t, \"ld\", 1);"));
  EXPECT_EQ((Rows{lib("call_fmtstr", "syntax error: first parameter must be a CHAR[n] variable"), edit_error("H1")}),
            hand_compiled("@IN001k;\nMN(N001k,\"003%ld,U0011);\nDR;"));
  // A field longer than the variable fails at the store, with its reason.
  EXPECT_EQ((Rows{lib("call_fmtstr", "TVariable::SetValue - Variable t, value \"    1\" longer than declared size (4)"),
                  edit_error("T4")}),
            failure("char t[4];\nfmtstr(t, \"%5ld\", 1);"));
  // A huge width is not built: the field fails at the store at once.
  Rows huge = failure("char t[4];\nfmtstr(t, \"%099999999999ld\", 1);");
  EXPECT_EQ(edit_error("T5"), huge.back());
  EXPECT_EQ((Rows{lib("call_fmtstr", "syntax error: first parameter MUST be a variable"), edit_error("H2")}),
            hand_compiled("@MN(\"001t,\"003%ld,U0011);\nDR;"));
  EXPECT_EQ((Rows{lib("call_fmtstr", "syntax error: expected comma between first and second parameters"),
                  edit_error("H3")}),
            hand_compiled("@HN001t[U0015];\nMN(N001t;\"003%ld,U0011);\nDR;"));
  EXPECT_EQ((Rows{lib("call_fmtstr", "syntax error: expected comma between second and third parameters"),
                  edit_error("H4")}),
            hand_compiled("@HN001t[U0015];\nMN(N001t,\"003%ld;U0011);\nDR;"));
}

TEST_F(LibStrings, BuildersYieldAnEmptyText) {
  EXPECT_EQ((Rows{"r=", "v=7C", "w="}),
            values("char r[9], v[5], w[5];\nstrcpy(r, \"x\");\nstrcpy(r, strcpy(v, \"AB\"));\n"
                   "strcpy(w, fmtstr(v, \"%ld\", 7));\nstrcat(w, strcat(v, \"C\"));"));
  // Written by hand: the length of what fmtstr yields.
  RunResult result = hand_run("@HN001t[U0015];\nIN001n;\nN001n=Mp(MN(N001t,\"003%ld,U0011))+U0011;\nDN001n;");
  EXPECT_EQ(0, result.result);
  EXPECT_EQ(Rows{}, result.messages);
}

TEST_F(LibStrings, ArgumentsSurviveAUserFunctionCalledAmongThem) {
  // The function's statements empty the cargo stack down to the calling
  // statement's texts only: the field and the constants outlive them. (A
  // function without a return gives 0; a return would end the edit.)
  const std::string function = "\nfunction f()\n{\n  char t[9];\n  strcpy(t, \"zzzz\");\n  strcpy(s, t);\n"
                               "  strcat(s, upper(\"q\"));\n}";
  const std::string checks = "\nif (n == 0 && strcmp(r, \" ab\") == 0 && strcmp(s, \"zzzzQ\") == 0) return PASS;\n"
                             "return FAIL;";
  EXPECT_TRUE(passes("char s[9], r[9];\nint n;\nn = strcmp(#S\"Site\", \"C50x\", f() + 3);\n"
                     "strcpy(r, left(#S\"Notes\", f() + 3));" + checks + function,
                     kRecord));
  // A variable's text is taken as it was when the argument was read.
  EXPECT_TRUE(passes("char s[9], r[9];\nint n;\nstrcpy(s, \"abc\");\nn = strcmp(s, \"abx\", f() + 2);\n"
                     "strcpy(s, \" abcdef\");\nstrcpy(r, substr(s, f() + 1, 3));" + checks + function));
  EXPECT_FALSE(passes("char s[9], r[9];\nint n;\nstrcpy(s, \"abc\");\nn = strcmp(s, \"abx\", f() + 3);" + checks +
                      function));
}
