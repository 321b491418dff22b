// The interpreter of compiled logic through the run and debugging calls: arithmetic and its oddities,
// variables and arrays, control statements, user functions and the outcome of an edit.
#include "BuiltinTestSupport.h"

namespace {

class Interpreter : public BuiltinTest {};

}  // namespace

TEST_F(Interpreter, ValuesOfStatements) {
  expect_variables({
      // Arithmetic wraps in 32 bits; the one quotient that does not fit, and its remainder.
      {"int a, b, c, d, e, f, g, h, i;\na = -7 / 2;\nb = -7 % 2;\nc = 2147483647 + 1;\nd = 65536 * 65536;\n"
       "e = 3 + 4 * 2 - 1;\nf = (3 + 4) * 2;\ng = -2147483647 - 1;\nh = g / -1 + 2147483648;\ni = 4294967303;",
       {"a=-3", "b=-1", "c=-2147483648", "d=0", "e=10", "f=14", "g=-2147483648", "h=0", "i=7"}},
      {"int m, q, r;\nm = -2147483647 - 1;\nq = m / -1;\nr = m % -1;", {"m=-2147483648", "q=-2147483648", "r=0"}},
      // && and || share one level, left to right, and both sides always run.
      {"int a, b, c, x, y;\na = 1;\nb = 1;\nx = a || b && c;\ny = 1 < 2;", {"a=1", "b=1", "c=0", "x=0", "y=1"}},
      {"int a, b, c, d;\na = !0;\nb = !7;\nc = -(2 + 3);\nd = 7 - 2 * 2;", {"a=1", "b=0", "c=-5", "d=3"}},
      // Assignment groups to the right; a second relational operator ends the expression.
      {"int a, b, c;\na = b = 3;\nc = 1 < 2 < 0;", {"a=3", "b=3", "c=1"}},
      // The trace shows an array by its element 0.
      {"int a[3], i, x;\na[2] = 5;\ni = 2;\nx = a[i];", {"a=0", "i=2", "x=5"}},
      // Character variables take texts; an integer is stored as its decimal text.
      {"char c, d, s;\nint n;\nn = 7;\nc = n;\nd = 0;\ns = \"x\";", {"c=7", "d=", "n=7", "s=x"}},
      {"int i, n;\nwhile (i < 3) { n = n + 2; i = i + 1; }", {"i=3", "n=6"}},
      {"int i, n;\nfor (i = 0; i < 3; i = i + 1) n = n + 1;", {"i=3", "n=3"}},
      {"int n;\nfor (;;) n = 1;", {"n=0"}},
      {"int n;\ndo { n = n + 1; } while (n < 5);", {"n=5"}},
      // An unbraced statement under a loop is that one statement.
      {"int i, n;\nwhile (i < 3) if (i >= 0) i = i + 1;\nn = n + 1;", {"i=3", "n=1"}},
      {"int a, b, x;\na = 2;\nif (a == 1) x = 1; else if (a == 2) { x = 12; b = 1; } else x = 3;", {"a=2", "b=1", "x=12"}},
      {"int a[3];\na[3] = 1;",
       {"<failed>", "TRunEdits::eval0_variables\xBB" "syntax error: index 3 is greater than number of elements in integer "
                    "array named \"a\"",
        "TRunEdits::process_edit\xBB" "Edit: Values V14 [Tag: V14]",
        "TRunEdits::DebugEdit\xBB" "SQL: SELECT a.PKey, a.EditName, b.AdminCode, m.MessageNumber, m.Message, a.EditLogic, "
        "a.CompiledLogic FROM RL_Edits a, RL_Agencies b, RL_Messages m WHERE b.PKey = a.AgencyPKey AND "
        "m.PKey = a.MessagePKey AND a.EditTag = 'V14';"}},
  });
  EXPECT_EQ((Rows{"n=2", "x=1"}),
            values_after("int x, n;\nx = 1 || bump();\nx = x && bump();\nreturn PASS;\nfunction bump()\n{\n  n = n + 1;\n}"));
}

TEST_F(Interpreter, FailuresStopTheRun) {
  expect_failures({
      {"int x;\nx = 3 / 0;", {"TRunEdits::eval4_mult_div_mod\xBB" "divide by zero error"}},
      {"char c;\nint n;\nn = 12;\nc = n;",
       {"TRunEdits::eval0_variables\xBB" "TVariable::SetValue - Variable c, value \"12\" longer than declared size (1)"}},
      // A function defined before the one that calls it lies behind the call.
      {"f();\nreturn PASS;\nfunction g()\n{\n}\nfunction f()\n{\n  g();\n}", {"TTokenMaster::MovePos\xBB" "move_by must be > 0"}},
      // A compiled call whose code has no built-in.
      {"@Mk(\"001a,\"001b);DR;", {"TRunEdits::EvaluateLibFunc\xBB" "syntax error: invalid/deprecated/removed function reference"}},
  });
  // The edits before the failing one run (by name), those after it do not.
  add_edit("Z", "Edit Z", "int x;\nx = 3 % 0;\nreturn PASS;");
  add_edit("Z2", "Edit Z2", "return FAIL;", {}, 101);
  add_edit("Y", "Edit Y", "return FAIL;", {}, 101);
  for (const char* tag : {"Y", "Z", "Z2"}) add_to_set("ES1", tag);
  EXPECT_EQ((Rows{"-1|1", "Y|Edit Y|NAACCR|E|Check the site"}), seen(run("1")));
  EXPECT_EQ((Rows{"TRunEdits::eval4_mult_div_mod\xBB" "divide by zero error", "TRunEdits::process_edit\xBB" "Edit: Edit Z [Tag: Z]"}),
            engine_errors(h()));
}

TEST_F(Interpreter, ReturnsFunctionsAndLoopsDecideTheEdit) {
  EXPECT_EQ(0, run_edit("int k;\nwhile (k < 3) { k = k + 1; }").result);
  EXPECT_EQ(0, run_edit("int k;\nfor (k = 0; k < 3; k = k + 1) { }").result);
  EXPECT_EQ(Rows{}, engine_errors(h()));
  EXPECT_EQ(Rows{}, run_edit("int x;\nset();\nx = x + 1;\nif (x == 11) return PASS;\nreturn FAIL;\n"
                             "function set()\n{\n  x = 10;\n}", "", {}, 101).messages);
  // A return inside a function decides the edit once the calling statement is done.
  EXPECT_EQ((Rows{"0|1", "T4|Edit T4|NAACCR|E|Check the site"}),
            seen(run_edit("int x;\nx = check() + 1;\nreturn PASS;\nfunction check()\n{\n  return FAIL;\n}", "", {}, 101)));
  add_edit("P", "Pass", "return 7;", {}, 101);
  add_edit("F", "Fail", "return 0;", {}, 101);
  add_edit("W", "Warn", "return 2;", {}, 101);
  add_edit("N", "No return", "int x;\nx = 1;", {}, 101);
  for (const char* tag : {"P", "F", "W", "N"}) add_to_set("ES1", tag);
  EXPECT_EQ((Rows{"0|2", "F|Fail|NAACCR|E|Check the site", "W|Warn|NAACCR|W|Check the site"}), seen(run("")));
  // Suppressed warnings are neither delivered nor counted.
  EXPECT_EQ((Rows{"0|1", "F|Fail|NAACCR|E|Check the site"}), seen(run("", 0x80)));
  Rows summary;
  int totals[5];
  ASSERT_EQ(0, Edit_GetRunEditsSummary(h(), "ES1", "L1", 0, &totals[0], &totals[1], &totals[2], &totals[3], &totals[4],
                                       &summary, collector<RunSummaryCallback>()));
  EXPECT_EQ((Rows{"F|Fail|NAACCR|2|0|0|2|0|0|0|0", "W|Warn|NAACCR|0|1|0|0|1|0|0|0"}), summary);
}

