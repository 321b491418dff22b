// Helpers of the tests of the built-ins and the interpreter: values computed by edits the engine
// compiles, and failures of such edits or of compiled logic written by hand where the compiler refuses.
#pragma once

#include <initializer_list>
#include <string>

#include "RunTestSupport.h"

const char* const kOpenParen = "TLibFuncs::check_open_paren\xBB" "syntax error: expected opening parenthesis";

// A run as "result|failed edits" followed by the messages it delivered.
inline Rows seen(const RunResult& run) {
  Rows all = run.messages;
  all.insert(all.begin(), std::to_string(run.result) + "|" + std::to_string(run.failed));
  return all;
}

class BuiltinTest : public RunTest {
 protected:
  // The value of an integer expression computed by an edit over the record,
  // or the edit's failure with its engine errors.
  std::string value(const std::string& expression, const std::string& record = "") {
    return only_value("int r;\nr = " + expression + ";\nreturn PASS;", record);
  }
  // The value of a text expression, stored in a variable of 40 characters.
  std::string text(const std::string& expression, const std::string& record = "") {
    return only_value("char r[40];\nstrcpy(r, " + expression + ");\nreturn PASS;", record);
  }
  // An expression and the value an edit computes for it.
  struct Expected {
    std::string expression;
    std::string value;
  };
  void expect_values(std::initializer_list<Expected> cases, const std::string& record = "") {
    for (const Expected& c : cases) EXPECT_EQ(c.value, value(c.expression, record)) << c.expression;
  }
  void expect_texts(std::initializer_list<Expected> cases, const std::string& record = "") {
    for (const Expected& c : cases) EXPECT_EQ(c.value, text(c.expression, record)) << c.expression;
  }
  // The engine errors of a run of logic, or of compiled logic written by hand
  // (it starts with "@"), that stops the run delivering nothing, but the
  // run-time's own last entry that names the edit.
  Rows failure(const std::string& logic) {
    RunResult result = logic[0] == '@' ? hand_run(logic) : run_edit(logic);
    EXPECT_EQ(-1, result.result) << logic;
    EXPECT_EQ(Rows{}, result.messages) << logic;
    return without_edit_entry(engine_errors(h()));
  }
  // Logic and the engine errors of the run it stops, as failure gives them.
  void expect_failures(std::initializer_list<LogicCase> cases) {
    for (const LogicCase& c : cases) EXPECT_EQ(c.rows, failure(c.logic)) << c.logic;
  }
  // Runs an edit "Hand Hn" whose compiled logic is written by hand and whose
  // failure message is 101: the number of failed edits, or -1 when the logic
  // stops the run.
  int failed_with(const std::string& compiled) {
    RunResult result = hand_run(compiled);
    return result.result == 0 ? result.failed : -1;
  }
  RunResult hand_run(const std::string& compiled) {
    std::string tag = "H" + std::to_string(++Hands);
    add_edit(tag, "Hand " + tag, "return PASS;", {}, 101);
    set_compiled(tag, compiled);
    add_to_set("S" + tag, tag);
    return run("1", 0, "S" + tag);
  }

 private:
  std::string only_value(const std::string& logic, const std::string& record) {
    Rows values = values_after(logic, record);
    if (values.size() == 1 && values[0].rfind("r=", 0) == 0) return values[0].substr(2);
    std::string failure;
    for (const std::string& row : values) failure += row + "\n";
    return failure;
  }
  static Rows without_edit_entry(Rows errors) {
    EXPECT_FALSE(errors.empty());
    if (errors.empty()) return errors;
    EXPECT_EQ(0u, errors.back().rfind("TRunEdits::process_edit\xBB" "Edit: ", 0)) << errors.back();
    errors.pop_back();
    return errors;
  }
  int Hands = 0;
};
