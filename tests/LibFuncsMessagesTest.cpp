// The message built-ins, run from logic compiled by the engine (or written
// by hand where the compiler would refuse it): which messages reach the
// host, in which order and with which type, and the marks they leave.
#include "RunTestSupport.h"

namespace {

class LibMessages : public RunTest {
 protected:
  // Runs the logic as the only edit of a set, over the Age field, with the
  // default message 100 ("Age %V1 is out of range for %F1").
  RunResult run_logic(const std::string& logic, int options = 0) {
    std::string tag = "T" + std::to_string(++Count);
    add_edit(tag, "Edit " + tag, logic, {2}, 100);
    add_to_set("S" + tag, tag);
    return run(kRecord, options, "S" + tag);
  }
  // The messages of the run, without the edit's tag, name and agency.
  Rows delivered(const std::string& logic, int options = 0) {
    RunResult result = run_logic(logic, options);
    EXPECT_EQ(0, result.result) << logic;
    Rows messages;
    for (const std::string& message : result.messages) messages.push_back(message.substr(message.rfind("|NAACCR|") + 8));
    return messages;
  }
  // The engine errors of a run of compiled logic written by hand, which must
  // stop the run without delivering anything.
  Rows hand_compiled(const std::string& compiled) {
    std::string tag = "H" + std::to_string(++Count);
    add_edit(tag, "Edit " + tag, "return PASS;", {2}, 100);
    set_compiled(tag, compiled);
    add_to_set("S" + tag, tag);
    RunResult result = run(kRecord, 0, "S" + tag);
    EXPECT_EQ(-1, result.result) << compiled;
    EXPECT_EQ(Rows{}, result.messages) << compiled;
    return engine_errors(smf());
  }

  static constexpr const char* kRecord = "1 4520240105C509notes ";
  static constexpr const char* kDefault = "E|Age  45 is out of range for Age";
  int Count = 0;
};

std::string edit_error(const std::string& tag) {
  return "TRunEdits::process_edit\xBB" "Edit: Edit " + tag + " [Tag: " + tag + "]";
}
std::string lib(const std::string& method, const std::string& message = "") {
  return "TLibFuncs::" + method + "\xBB" + message;
}

}  // namespace

TEST_F(LibMessages, ErrorMsgChoosesAnotherMessage) {
  EXPECT_EQ((Rows{"E|Check the site"}), delivered("error_msg(101);\nreturn FAIL;"));
  EXPECT_EQ((Rows{"W|Check the site"}), delivered("error_msg(101);\nreturn WARN;"));
  // A negative number leaves the choice as it was; 0 goes back to the default.
  EXPECT_EQ((Rows{"E|Check the site"}), delivered("int k;\nk = -1;\nerror_msg(101);\nerror_msg(k);\nreturn FAIL;"));
  EXPECT_EQ((Rows{kDefault}), delivered("error_msg(101);\nerror_msg(0);\nreturn FAIL;"));
  // The choice is the edit's own: the next edit reports its default again.
  EXPECT_EQ((Rows{kDefault}), delivered("return FAIL;"));
  EXPECT_EQ(Rows{}, delivered("error_msg(101);\nreturn PASS;"));
}

TEST_F(LibMessages, ErrorTextReplacesTheFailureText) {
  EXPECT_EQ((Rows{"E|Age was  45"}), delivered("error_text(\"Age was %V1\");\nreturn FAIL;"));
  // It marks the edit as failed, whatever it returns.
  RunResult result = run_logic("error_text(\"Bad %F1\");\nreturn PASS;");
  EXPECT_EQ((Rows{"T2|Edit T2|NAACCR|E|Bad Age"}), result.messages);
  EXPECT_EQ(1, result.failed);
}

TEST_F(LibMessages, SaveTextDeliversAtOnceAndFails) {
  EXPECT_EQ((Rows{"M|Note:  45", kDefault}), delivered("save_text(\"Note: %V1\");\nreturn PASS;"));
  // Only the first text is delivered; the statement goes on after the call.
  EXPECT_EQ((Rows{"M|a", "M|c", kDefault}),
            delivered("int n;\nsave_text(\"a\", \"b\");\nn = 1;\nif (n == 1) save_text(\"c\");\nreturn PASS;"));
  // The fail mark leads to no message when the logic ends without a return.
  RunResult result = run_logic("save_text(\"x\");");
  EXPECT_EQ((Rows{"T3|Edit T3|NAACCR|M|x"}), result.messages);
  EXPECT_EQ(1, result.failed);
}

TEST_F(LibMessages, SaveErrorTextDeliversNumberedErrors) {
  EXPECT_EQ((Rows{"E|Check the site", "E|Age  45 is out of range for Age", "E|Check the site"}),
            delivered("save_error_text(101, 100, 101);\nreturn FAIL;"));
  // The default failure message does not follow, even on a passing return.
  EXPECT_EQ((Rows{"E|Check the site"}), delivered("save_error_text(101);\nreturn PASS;"));
  EXPECT_EQ((Rows{"E|Engine error: Message number 7 not found"}),
            delivered("int k;\nk = 7;\nsave_error_text(k);\nreturn FAIL;"));
}

TEST_F(LibMessages, WarningsDeliveredAtOnce) {
  // The warn mark takes the warning path at the return, whatever its value.
  EXPECT_EQ((Rows{"W|Check the site", "W|Age  45 is out of range for Age"}),
            delivered("set_warning(101);\nreturn FAIL;"));
  EXPECT_EQ((Rows{"W|Check the site", "W|Age  45 is out of range for Age", "W|Age  45 is out of range for Age"}),
            delivered("save_warning_text(101, 100);\nreturn PASS;"));
  // Suppressed warnings deliver nothing; the edit still takes the warning path.
  EXPECT_EQ(Rows{}, delivered("set_warning(101);\nreturn FAIL;", 0x80));
  EXPECT_EQ(Rows{}, delivered("save_warning_text(101);\nreturn FAIL;", 0x80));
  EXPECT_EQ((Rows{"W|Engine error: Message number 7 not found", "W|Age  45 is out of range for Age"}),
            delivered("int k;\nk = 7;\nset_warning(k);\nreturn PASS;"));
}

TEST_F(LibMessages, BadSeparatorsDeliverNothing) {
  EXPECT_EQ((Rows{lib("call_save_error_text", "COMMA or RPAREN expected"),
                  lib("call_save_error_text", "unspecified/unexpected error"), edit_error("H1")}),
            hand_compiled("@Mg(U003101U003100);\nDR;"));
  EXPECT_EQ((Rows{lib("call_set_warning", "syntax error: expected RPAREN"), edit_error("H2")}),
            hand_compiled("@M\x84(U003101,U003100;\nDR;"));
  EXPECT_EQ((Rows{lib("call_save_warning_text", "syntax error: expected RPAREN"), edit_error("H3")}),
            hand_compiled("@M\x85(U003101;\nDR;"));
}

TEST_F(LibMessages, FailuresInsideTheCalls) {
  std::string paren = lib("check_open_paren", "syntax error: expected opening parenthesis");
  EXPECT_EQ((Rows{paren, lib("call_save_error_text", "unspecified/unexpected error"), edit_error("H1")}),
            hand_compiled("@MgU003101);\nDR;"));
  EXPECT_EQ((Rows{paren, edit_error("H2")}), hand_compiled("@M\x84U003101);\nDR;"));
  EXPECT_EQ((Rows{paren, lib("call_error_msg"), edit_error("H3")}), hand_compiled("@MLU003101);\nDR;"));
  EXPECT_EQ((Rows{"TRunEdits::GetVariable\xBB" "In Edit Tag \"H4\", Variable \"nope\" not found!", lib("call_nameexpr"),
                  lib("call_save_text"), edit_error("H4")}),
            hand_compiled("@Mh(M](\"004nope));\nDR;"));
  EXPECT_EQ((Rows{"TRunEdits::eval4_mult_div_mod\xBB" "divide by zero error", lib("call_error_text"), edit_error("H5")}),
            hand_compiled("@MM(U0011/U0010);\nDR;"));
  // Every text of save_text is read before the first is delivered.
  RunResult result = run_logic("save_text(\"a\", nameexpr(\"nope\"));\nreturn PASS;");
  EXPECT_EQ(-1, result.result);
  EXPECT_EQ(Rows{}, result.messages);
  EXPECT_EQ((Rows{"TRunEdits::GetVariable\xBB" "In Edit Tag \"T6\", Variable \"nope\" not found!", lib("call_nameexpr"),
                  lib("call_save_text"), edit_error("T6")}),
            engine_errors(smf()));
}
