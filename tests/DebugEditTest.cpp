// Debugging one edit over one record: the exact sequence of field, message,
// line and variable callbacks, and how sources, loops and failures show.
#include "RunTestSupport.h"
#include "runtime/DebugEdit.h"

namespace {

int on_line(void* owner, int line, int executed, const char* logic) {
  return collect(owner, "line", line, executed, logic);
}
int on_variable(void* owner, int line, int iteration, const char* name, const char* value, int isString) {
  return collect(owner, "var", line, iteration, name, value, isString);
}
int on_field(void* owner, const char* text) { return collect(owner, "field", text); }
int on_message(void* owner, const char* tag, const char*, const char*, const char* type, const char* text) {
  return collect(owner, "message", tag, type, text);
}

class DebugEdit : public RunTest {
 protected:
  // Debugs a new edit "Dn" of the logic (failure message 101; compiled logic
  // written by hand when it starts with "@") over the record: every callback
  // in the order it came, and "<failed>" when the debugging fails.
  Rows trace(const std::string& logic, const std::string& record = "", const std::vector<int>& fields = {}) {
    std::string tag = "D" + std::to_string(++Traced);
    add_edit(tag, "Debugged " + tag, logic[0] == '@' ? "return PASS;" : logic, fields, 101);
    if (logic[0] == '@') set_compiled(tag, logic);
    Calls.clear();
    int result = Edit_DebugEdit(h(), tag.c_str(), "l1", record.c_str(), &Calls, fn(on_line), fn(on_variable),
                                fn(on_field), fn(on_message));
    Rows calls = Calls;
    if (result != 0) calls.push_back("<failed>");
    return calls;
  }
  Rows Calls;  // kept for the test, as the engine must not call back after the debugging
  int Traced = 0;
};

}  // namespace

TEST_F(DebugEdit, CallbacksComeInTheirOrder) {
  EXPECT_EQ((Rows{"field|Age ==  45", "field|Birth Date == 20240105", "message|D1|W|Check the site",
                  "line|1|0|/* sum", "line|2|0|   of ages */", "line|3|1|int i, n;", "var|3|0|i|0|0", "var|3|0|n|0|0",
                  "line|4|1|for (i = 0; i < 3; i = i + 1)", "var|4|0|i|0|0", "var|4|0|n|0|0", "var|4|1|i|1|0",
                  "var|4|1|n|0|0", "var|4|2|i|2|0", "var|4|2|n|1|0", "var|4|3|i|3|0", "var|4|3|n|3|0",
                  "line|5|1|  n = n + i;", "var|5|1|i|0|0", "var|5|1|n|0|0", "var|5|2|i|1|0", "var|5|2|n|1|0",
                  "var|5|3|i|2|0", "var|5|3|n|3|0", "line|6|1|if (n > 100)", "var|6|0|i|3|0", "var|6|0|n|3|0",
                  "line|7|0|  return FAIL;", "line|8|1|return WARN;", "var|8|0|i|3|0", "var|8|0|n|3|0"}),
            trace("/* sum\r\n   of ages */\r\nint i, n;\r\nfor (i = 0; i < 3; i = i + 1)\r\n  n = n + i;\r\n"
                  "if (n > 100)\r\n  return FAIL;\r\nreturn WARN;\r\n\r\n",
                  "1 4520240105", {2, 3}));
  // Bare line feeds; a declaration run again in a loop keeps its one
  // variable; each iteration of a line shows as many variables as its lowest one.
  EXPECT_EQ((Rows{"line|1|1|char c;", "var|1|0|c||1", "line|2|1|int k;", "var|2|0|c||1", "var|2|0|k|0|0",
                  "line|3|1|    c = \"'\";", "var|3|0|c|'|1", "var|3|0|k|0|0",
                  "line|4|1|while (k < 2) { int j; j = j + 1; k = k + 1; }", "var|4|0|c|'|1", "var|4|0|k|0|0",
                  "var|4|1|c|'|1", "var|4|1|j|1|0", "var|4|2|c|'|1", "var|4|2|j|2|0", "line|5|1|return PASS;",
                  "var|5|0|c|'|1", "var|5|0|j|2|0", "var|5|0|k|2|0"}),
            trace("char c;\nint k;\n\tc = \"'\";\nwhile (k < 2) { int j; j = j + 1; k = k + 1; }\nreturn PASS;"));
  // Blank lines that open the source have no line in the compiled logic;
  // every line is reported under its own number and text.
  EXPECT_EQ((Rows{"line|1|0|", "line|2|0|  ", "line|3|1|int x;", "var|3|0|x|0|0", "line|4|1|x = 5 +", "var|4|0|x|6|0",
                  "line|5|1|  1;", "var|5|0|x|6|0", "line|6|1|return x;", "var|6|0|x|6|0"}),
            trace("\r\n  \r\nint x;\r\nx = 5 +\r\n  1;\r\nreturn x;"));
  Rows calls = trace("int a, b, c;\na = dt_empty;\nb = -5;\nc = 536870910;\nreturn PASS;");
  EXPECT_EQ((Rows{"var|5|0|a|DT_EMPTY|0", "var|5|0|b|-5|0", "var|5|0|c|536870910|0"}),
            Rows(calls.end() - 3, calls.end()));
}

TEST_F(DebugEdit, Failures) {
  // A failing edit sends the trace up to its failure; the next run is not traced.
  EXPECT_EQ((Rows{"line|1|1|int x;", "var|1|0|x|0|0", "line|2|1|x = 1;", "var|2|0|x|1|0", "<failed>"}),
            trace("int x;\nx = 1;\nx = x / 0;\nreturn PASS;"));
  add_to_set("ES1", "D1");
  EXPECT_EQ(-1, run("").result);
  EXPECT_EQ(4u, Calls.size());
  // The statement that read the edit, which a failed debugging names last.
  auto read = [](const std::string& tag) {
    return "TRunEdits::DebugEdit\xBB" "SQL: SELECT a.PKey, a.EditName, b.AdminCode, m.MessageNumber, m.Message, "
           "a.EditLogic, a.CompiledLogic FROM RL_Edits a, RL_Agencies b, RL_Messages m WHERE b.PKey = a.AgencyPKey "
           "AND m.PKey = a.MessagePKey AND a.EditTag = '" + tag + "';";
  };
  // Damaged compiled logic fails as in a run.
  EXPECT_EQ(Rows{"<failed>"}, trace("@\xff", "1"));
  EXPECT_EQ((Rows{"TTokenMaster::GetCompiledToken\xBB" "Token [\xFF] not found",
                  "TRunEdits::GetCompiledToken\xBB" "Edit", kEditEntry, read("D2")}),
            edit_entries_cut(engine_errors(h())));
  // A tag that matches no edit.
  Rows lines;
  refused(Edit_DebugEdit(h(), "NOPE", "L1", "", &lines, fn(on_line), nullptr, nullptr, nullptr),
          {"TRunEdits::DebugEdit\xBB" "Edit \"\" does not compile. Run the syntax checker in Quillbench to find and fix "
           "the problem.", read("NOPE")});
  EXPECT_EQ(Rows{}, lines);
  // Logic that is not what the compiler writes runs none of its statements:
  // its fields come first, as before any failure, and no line follows.
  EXPECT_EQ((Rows{"field|Age ==  45", "<failed>"}), trace("@IN001x;N001x=U0011;}", "1 45", {2}));
  EXPECT_EQ((Rows{"TTokenMaster::GetCompiledToken\xBB" "Compiled logic is damaged at position 20",
                  "TRunEdits::GetCompiledToken\xBB" "Edit", kEditEntry, read("D3")}),
            edit_entries_cut(engine_errors(h())));
}

namespace {

// A capture as "line|iteration|name|value|is-string".
std::string shown(const TDebugVariable& variable) {
  return std::to_string(variable.GetLineNumber()) + "|" + std::to_string(variable.GetIteration()) + "|" +
         variable.GetVariableName() + "|" + variable.GetVariableValue() + "|" +
         std::to_string(variable.GetIsStringVar());
}

}  // namespace

// The trace's records on their own: a line and the captures made on it know
// the line's index, and every field of a capture can be set.
TEST(DebugTraceRecords, LinesAndCaptures) {
  TDebugLine line(4, true, "n = n + 1;");
  line.AddDebugVariable(2, "n", "3", 0);
  line.AddDebugVariable(2, "s", "ab", 5);
  EXPECT_EQ(4, line.GetLineNumber());
  ASSERT_NE(nullptr, line.GetDebugVariable(2, 1));
  EXPECT_EQ("4|2|n|3|0 4|2|s|ab|1", shown(*line.GetDebugVariable(2, 0)) + " " + shown(*line.GetDebugVariable(2, 1)));
  TDebugVariable variable(1, 0, "k", "0", 0);
  variable.SetLineNumber(7);
  variable.SetIteration(3);
  variable.SetVariableName("t");
  variable.SetVariableValue("DT_EMPTY");
  variable.SetIsStringVar(-1);
  EXPECT_EQ("7|3|t|DT_EMPTY|1", shown(variable));
  variable.SetIsStringVar(0);
  EXPECT_FALSE(variable.GetIsStringVar());
}
