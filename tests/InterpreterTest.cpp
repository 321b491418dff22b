// The interpreter of compiled logic, driven through the engine's compiler and
// the public run and debugging calls: arithmetic and its oddities, variables
// and arrays, control statements, user functions and the outcome of an edit.
#include "RunTestSupport.h"

namespace {

class Interpreter : public RunTest {};

// The entry that names the edit whose logic failed.
std::string edit_error(const std::string& tag, const std::string& name = "") {
  return "TRunEdits::process_edit\xBB" "Edit: " + (name.empty() ? "Edit " + tag : name) + " [Tag: " + tag + "]";
}

}  // namespace

TEST_F(Interpreter, ArithmeticWrapsInThirtyTwoBits) {
  EXPECT_EQ((Rows{"a=-3", "b=-1", "c=-2147483648", "d=0", "e=10", "f=14", "g=-2147483648", "h=0", "i=7"}),
            values_after("int a, b, c, d, e, f, g, h, i;\na = -7 / 2;\nb = -7 % 2;\nc = 2147483647 + 1;\n"
                         "d = 65536 * 65536;\ne = 3 + 4 * 2 - 1;\nf = (3 + 4) * 2;\ng = -2147483647 - 1;\n"
                         "h = g / -1 + 2147483648;\ni = 4294967303;\nreturn PASS;"));
  // The one quotient that does not fit, and its remainder.
  EXPECT_EQ((Rows{"m=-2147483648", "q=-2147483648", "r=0"}),
            values_after("int m, q, r;\nm = -2147483647 - 1;\nq = m / -1;\nr = m % -1;\nreturn PASS;"));
}

TEST_F(Interpreter, OperatorsFollowTheirOddRules) {
  // && and || share one level, left to right, and both sides always run.
  EXPECT_EQ((Rows{"a=1", "b=1", "c=0", "x=0", "y=1"}),
            values_after("int a, b, c, x, y;\na = 1;\nb = 1;\nx = a || b && c;\ny = 1 < 2;\nreturn PASS;"));
  EXPECT_EQ((Rows{"n=2", "x=1"}), values_after("int x, n;\nx = 1 || bump();\nx = x && bump();\nreturn PASS;\n"
                                               "function bump()\n{\n  n = n + 1;\n}"));
  EXPECT_EQ((Rows{"a=1", "b=0", "c=-5", "d=3"}),
            values_after("int a, b, c, d;\na = !0;\nb = !7;\nc = -(2 + 3);\nd = 7 - 2 * 2;\nreturn PASS;"));
  // Assignment groups to the right; a second relational operator ends the expression.
  EXPECT_EQ((Rows{"a=3", "b=3", "c=1"}), values_after("int a, b, c;\na = b = 3;\nc = 1 < 2 < 0;\nreturn PASS;"));
}

TEST_F(Interpreter, DivisionByZeroStopsTheRun) {
  add_edit("Z", "Edit Z", "int x;\nx = 3 / 0;\nreturn PASS;");
  add_edit("Z2", "Edit Z2", "int x;\nx = 3 % 0;\nreturn PASS;");
  add_edit("Y", "Edit Y", "return FAIL;", {}, 101);
  for (const char* tag : {"Y", "Z", "Z2"}) add_to_set("ES1", tag);
  RunResult result = run("1");
  EXPECT_EQ(-1, result.result);
  // Y runs first (by name), Z stops the run, Z2 never runs.
  EXPECT_EQ(1, result.failed);
  EXPECT_EQ((Rows{"Y|Edit Y|NAACCR|E|Check the site"}), result.messages);
  EXPECT_EQ((Rows{"TRunEdits::eval4_mult_div_mod\xBB" "divide by zero error", edit_error("Z")}), engine_errors(smf()));
}

TEST_F(Interpreter, VariablesAndArrays) {
  // The trace shows an array by its element 0.
  EXPECT_EQ((Rows{"a=0", "i=2", "x=5"}), values_after("int a[3], i, x;\na[2] = 5;\ni = 2;\nx = a[i];\nreturn PASS;"));
  // Character variables take texts; an integer is stored as its decimal text.
  EXPECT_EQ((Rows{"c=7", "d=", "n=7", "s=x"}),
            values_after("char c, d, s;\nint n;\nn = 7;\nc = n;\nd = 0;\ns = \"x\";\nreturn PASS;"));
  EXPECT_EQ((Rows{"<failed>", "TRunEdits::eval0_variables\xBB" "syntax error: index 3 is greater than number of "
                              "elements in integer array named \"a\"",
                  edit_error("V3", "Values V3"), "TRunEdits::DebugEdit\xBB" "SQL: SELECT a.PKey, a.EditName, b.AdminCode, "
                  "m.MessageNumber, m.Message, a.EditLogic, a.CompiledLogic FROM RL_Edits a, RL_Agencies b, "
                  "RL_Messages m WHERE b.PKey = a.AgencyPKey AND m.PKey = a.MessagePKey AND a.EditTag = 'V3';"}),
            values_after("int a[3];\na[3] = 1;\nreturn PASS;"));
}

TEST_F(Interpreter, TextsLongerThanTheVariableStopTheRun) {
  add_edit("T", "Edit T", "char c;\nint n;\nn = 12;\nc = n;\nreturn PASS;");
  add_to_set("ES1", "T");
  EXPECT_EQ(-1, run("").result);
  EXPECT_EQ((Rows{"TRunEdits::eval0_variables\xBB"
                  "TVariable::SetValue - Variable c, value \"12\" longer than declared size (1)",
                  edit_error("T")}),
            engine_errors(smf()));
}

TEST_F(Interpreter, LoopsAndConditions) {
  EXPECT_EQ((Rows{"i=3", "n=6"}), values_after("int i, n;\nwhile (i < 3) { n = n + 2; i = i + 1; }\nreturn PASS;"));
  EXPECT_EQ((Rows{"i=3", "n=3"}), values_after("int i, n;\nfor (i = 0; i < 3; i = i + 1) n = n + 1;\nreturn PASS;"));
  EXPECT_EQ((Rows{"n=0"}), values_after("int n;\nfor (;;) n = 1;\nreturn PASS;"));
  EXPECT_EQ((Rows{"n=5"}), values_after("int n;\ndo { n = n + 1; } while (n < 5);\nreturn PASS;"));
  // An unbraced statement under a loop is that one statement.
  EXPECT_EQ((Rows{"i=3", "n=1"}),
            values_after("int i, n;\nwhile (i < 3) if (i >= 0) i = i + 1;\nn = n + 1;\nreturn PASS;"));
  EXPECT_EQ((Rows{"a=2", "b=1", "x=12"}),
            values_after("int a, b, x;\na = 2;\nif (a == 1) x = 1; else if (a == 2) { x = 12; b = 1; } else x = 3;\n"
                         "return PASS;"));
}

TEST_F(Interpreter, LoopsMayEndTheLogic) {
  EXPECT_EQ(0, run_edit("int k;\nwhile (k < 3) { k = k + 1; }").result);
  EXPECT_EQ(0, run_edit("int k;\nfor (k = 0; k < 3; k = k + 1) { }").result);
  EXPECT_EQ(Rows{}, engine_errors(smf()));
}

TEST_F(Interpreter, UserFunctions) {
  EXPECT_EQ(Rows{}, run_edit("int x;\nset();\nx = x + 1;\nif (x == 11) return PASS;\nreturn FAIL;\n"
                             "function set()\n{\n  x = 10;\n}", "", {}, 101).messages);
  // A return inside a function decides the edit once the calling statement is done.
  RunResult result = run_edit("int x;\nx = check() + 1;\nreturn PASS;\nfunction check()\n{\n  return FAIL;\n}", "", {},
                              101);
  EXPECT_EQ((Rows{"T2|Edit T2|NAACCR|E|Check the site"}), result.messages);
  EXPECT_EQ(1, result.failed);
  // A function defined before the one that calls it lies behind the call.
  RunResult backward = run_edit("f();\nreturn PASS;\nfunction g()\n{\n}\nfunction f()\n{\n  g();\n}");
  EXPECT_EQ(-1, backward.result);
  EXPECT_EQ((Rows{"TTokenMaster::MovePos\xBB" "move_by must be > 0", edit_error("T3")}), engine_errors(smf()));
}

TEST_F(Interpreter, ReturnDecidesTheEdit) {
  add_edit("P", "Pass", "return 7;", {}, 101);
  add_edit("F", "Fail", "return 0;", {}, 101);
  add_edit("W", "Warn", "return 2;", {}, 101);
  add_edit("N", "No return", "int x;\nx = 1;", {}, 101);
  for (const char* tag : {"P", "F", "W", "N"}) add_to_set("ES1", tag);
  RunResult result = run("");
  EXPECT_EQ(0, result.result);
  EXPECT_EQ(2, result.failed);
  EXPECT_EQ((Rows{"F|Fail|NAACCR|E|Check the site", "W|Warn|NAACCR|W|Check the site"}), result.messages);
  // Suppressed warnings are neither delivered nor counted.
  result = run("", 0x80);
  EXPECT_EQ((Rows{"F|Fail|NAACCR|E|Check the site"}), result.messages);
  Rows summary;
  int totals[5];
  auto collect_summary = [](void* owner, const char* tag, const char*, const char*, int e, int w, int s, int em,
                            int wm, int, int, int) {
    return collect(owner, tag, e, w, s, em, wm);
  };
  ASSERT_EQ(0, Edit_GetRunEditsSummary(smf(), "ES1", "L1", 0, &totals[0], &totals[1], &totals[2], &totals[3],
                                       &totals[4], &summary, fn(+collect_summary)));
  EXPECT_EQ((Rows{"F|2|0|0|2|0", "W|0|1|0|0|1"}), summary);
}

TEST_F(Interpreter, CallsOfRemovedBuiltInsStopTheRun) {
  // A compiled call whose code has no built-in.
  add_edit("B", "Edit B", "return PASS;");
  set_compiled("B", "@Mk(\"001a,\"001b);DR;");
  add_to_set("ES1", "B");
  EXPECT_EQ(-1, run("").result);
  EXPECT_EQ((Rows{"TRunEdits::EvaluateLibFunc\xBB" "syntax error: invalid/deprecated/removed function reference",
                  edit_error("B")}),
            engine_errors(smf()));
}
