// Helpers of the tests of the mask and date built-ins: values computed by
// edits that the engine compiles, and runs of compiled logic written by hand
// (the compiler takes no parenthesis inside a literal and no call inside a
// call's arguments).
#pragma once

#include <initializer_list>
#include <string>

#include "RunTestSupport.h"

const char* const kOpenParen = "TLibFuncs::check_open_paren\xBB" "syntax error: expected opening parenthesis";

class BuiltinTest : public RunTest {
 protected:
  // The value of an integer expression computed by an edit over the record,
  // or the edit's failure with its engine errors.
  std::string value(const std::string& expression, const std::string& record = "") {
    Rows values = values_after("int r;\nr = " + expression + ";\nreturn PASS;", record);
    if (values.size() == 1 && values[0].rfind("r=", 0) == 0) return values[0].substr(2);
    std::string failure;
    for (const std::string& row : values) failure += row + "\n";
    return failure;
  }
  // An integer expression and the value an edit computes for it.
  struct Expected {
    const char* expression;
    const char* value;
  };
  void expect_values(std::initializer_list<Expected> cases, const std::string& record = "") {
    for (const Expected& c : cases) EXPECT_EQ(c.value, value(c.expression, record)) << c.expression;
  }
  // The engine errors of a run of an edit that stops on its logic, but the
  // run-time's own last entry that names the edit.
  Rows failure(const std::string& logic) {
    RunResult result = run_edit(logic);
    EXPECT_EQ(-1, result.result) << logic;
    Rows errors = engine_errors(smf());
    if (!errors.empty()) errors.pop_back();
    return errors;
  }
  // Runs an edit "Hand Hn" whose compiled logic is written by hand: the
  // number of failed edits, or -1 when the logic stops the run.
  int failed_with(const std::string& compiled) {
    std::string tag = "H" + std::to_string(++Hands);
    add_edit(tag, "Hand " + tag, "return PASS;");
    set_compiled(tag, compiled);
    add_to_set("S" + tag, tag);
    RunResult result = run("1", 0, "S" + tag);
    return result.result == 0 ? result.failed : -1;
  }
  // The run-time's entry for the hand-written edit n that stopped the run.
  static std::string hand_edit(int n) {
    std::string tag = "H" + std::to_string(n);
    return "TRunEdits::process_edit\xBB" "Edit: Hand " + tag + " [Tag: " + tag + "]";
  }

 private:
  int Hands = 0;
};
