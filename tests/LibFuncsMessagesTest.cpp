// Messages of failing edits with the macros of their text expanded or refused, and the message built-ins:
// which messages reach the host, in which order and with which type, and the marks they leave.
#include "BuiltinTestSupport.h"

namespace {

const char* const kRecord = "1 4520240105C509notes ";

class LibMessages : public BuiltinTest {
 protected:
  // Runs the logic as the only edit of a set, over the Age field, with the
  // default message 100 ("Age %V1 is out of range for %F1").
  RunResult run_logic(const std::string& logic, int options = 0) {
    std::string tag = "T" + std::to_string(++Count);
    add_edit(tag, "Edit " + tag, logic, {2}, 100);
    add_to_set("S" + tag, tag);
    return run(kRecord, options, "S" + tag);
  }
  // Each logic and the messages of its run, without the edit's tag, name and agency.
  void expect_delivered(std::initializer_list<LogicCase> cases, int options = 0) {
    for (const LogicCase& c : cases) {
      RunResult result = run_logic(c.logic, options);
      EXPECT_EQ(0, result.result) << c.logic;
      Rows messages;
      for (const std::string& message : result.messages) messages.push_back(message.substr(message.rfind("|NAACCR|") + 8));
      EXPECT_EQ(c.rows, messages) << c.logic;
    }
  }

  int Count = 0;
};

const char* const kDefault = "E|Age  45 is out of range for Age";
const char* const kDefaultWarning = "W|Age  45 is out of range for Age";

class Messages : public RunTest {
 protected:
  // The text delivered when an edit with those fields fails with `message`,
  // or the run's engine errors when the expansion fails.
  Rows delivered(const std::string& message, const std::string& record, const std::vector<int>& fields = {2, 3}) {
    int number = 200 + ++Count;
    exec("INSERT INTO RL_Messages(MessageNumber,Message) VALUES (" + std::to_string(number) + ",'" + message + "');");
    RunResult result = run_edit("return FAIL;", record, fields, number);
    if (result.result != 0) return engine_errors(h());
    Rows texts;
    for (const std::string& text : result.messages) texts.push_back(text.substr(text.rfind('|') + 1));
    return texts;
  }
  int Count = 0;
};

std::string macro_error(const std::string& argument, int edit) {
  return "TEditErrors::expand_msg_macros\xBB" "Field macro order (" + argument + ") out of range for edit tag \"T" +
         std::to_string(edit) + "\"";
}

}  // namespace

TEST_F(LibMessages, WhatReachesTheHost) {
  expect_delivered({
      // error_msg chooses another message for the edit's failure or warning.
      {"error_msg(101);\nreturn FAIL;", {"E|Check the site"}},
      {"error_msg(101);\nreturn WARN;", {"W|Check the site"}},
      // A negative number leaves the choice as it was; 0 goes back to the default.
      {"int k;\nk = -1;\nerror_msg(101);\nerror_msg(k);\nreturn FAIL;", {"E|Check the site"}},
      {"error_msg(101);\nerror_msg(0);\nreturn FAIL;", {kDefault}},
      // The choice is the edit's own: the next edit reports its default again.
      {"return FAIL;", {kDefault}},
      {"error_msg(101);\nreturn PASS;", {}},
      // error_text replaces the failure text.
      {"error_text(\"Age was %V1\");\nreturn FAIL;", {"E|Age was  45"}},
      // A stored error text is an error even where the edit warns.
      {"error_text(\"Age was %V1\");\nreturn WARN;", {"E|Age was  45"}},
      // save_text delivers its first text at once and fails the edit; the statement goes on after the call.
      {"save_text(\"Note: %V1\");\nreturn PASS;", {"M|Note:  45", kDefault}},
      {"int n;\nsave_text(\"a\", \"b\");\nn = 1;\nif (n == 1) save_text(\"c\");\nreturn PASS;", {"M|a", "M|c", kDefault}},
      // save_error_text delivers numbered errors; the default failure message does not follow, even on a pass.
      {"save_error_text(101, 100, 101);\nreturn FAIL;", {"E|Check the site", kDefault, "E|Check the site"}},
      {"save_error_text(101);\nreturn PASS;", {"E|Check the site"}},
      {"int k;\nk = 7;\nsave_error_text(k);\nreturn FAIL;", {"E|Engine error: Message number 7 not found"}},
      // Warnings are delivered at once; the warn mark takes the warning path at the return, whatever its value.
      {"set_warning(101);\nreturn FAIL;", {"W|Check the site", kDefaultWarning}},
      {"save_warning_text(101, 100);\nreturn PASS;", {"W|Check the site", kDefaultWarning, kDefaultWarning}},
      {"int k;\nk = 7;\nset_warning(k);\nreturn PASS;", {"W|Engine error: Message number 7 not found", kDefaultWarning}},
  });
  // Suppressed warnings deliver nothing; the edit still takes the warning path.
  expect_delivered({
      {"set_warning(101);\nreturn FAIL;", {}},
      {"save_warning_text(101);\nreturn FAIL;", {}},
  }, 0x80);
  // error_text fails the edit whatever it returns.
  EXPECT_EQ((Rows{"0|1", "T19|Edit T19|NAACCR|E|Bad Age"}), seen(run_logic("error_text(\"Bad %F1\");\nreturn PASS;")));
  // The fail mark of save_text leads to no message when the logic ends without a return.
  EXPECT_EQ((Rows{"0|1", "T20|Edit T20|NAACCR|M|x"}), seen(run_logic("save_text(\"x\");")));
}

TEST_F(LibMessages, FailuresDeliverNothing) {
  std::string unexpected = "unspecified/unexpected error";
  std::string notFound = "TRunEdits::GetVariable\xBB" "In Edit Tag \"";
  expect_failures({
      {"@Mg(U003101U003100);\nDR;",
       {lib("call_save_error_text", "COMMA or RPAREN expected"), lib("call_save_error_text", unexpected)}},
      {"@M\x84(U003101,U003100;\nDR;", {lib("call_set_warning", "syntax error: expected RPAREN")}},
      {"@M\x85(U003101;\nDR;", {lib("call_save_warning_text", "syntax error: expected RPAREN")}},
      {"@MgU003101);\nDR;", {kOpenParen, lib("call_save_error_text", unexpected)}},
      {"@M\x84U003101);\nDR;", {kOpenParen}},
      {"@MLU003101);\nDR;", {kOpenParen, lib("call_error_msg")}},
      {"@Mh(M](\"004nope));\nDR;", {notFound + "H7\", Variable \"nope\" not found!", lib("call_nameexpr"), lib("call_save_text")}},
      {"@MM(U0011/U0010);\nDR;", {"TRunEdits::eval4_mult_div_mod\xBB" "divide by zero error", lib("call_error_text")}},
      // Every text of save_text is read before the first is delivered.
      {"save_text(\"a\", nameexpr(\"nope\"));\nreturn PASS;",
       {notFound + "T9\", Variable \"nope\" not found!", lib("call_nameexpr"), lib("call_save_text")}},
  });
}

TEST_F(Messages, FieldMacrosShowNamesAndValues) {
  // Notes, six characters, taken as a date: too short to hold one.
  exec("UPDATE RL_Fields SET DataType = 'D1' WHERE FieldNumber = 5");
  EXPECT_EQ((Rows{"no macro here"}), delivered("no macro here", kRecord));
  EXPECT_EQ((Rows{"Age failed with  45, born Y:2024 M:01 D:05."}),
            delivered("%F1 failed with %V1, born %v2.", kRecord));
  // A blank value is <BLANK>; a blank or short date is shown by its parts all the same.
  EXPECT_EQ((Rows{"<BLANK> / Y:     M:   D:  "}), delivered("%V1 / %V2", "1   "));
  // A shorter record is padded with blanks to the longest seen.
  EXPECT_EQ((Rows{"Y:2024 M:01 D:2 "}), delivered("%V1", "1 452024012", {3}));
  // Letters end no argument: %F1x is field 1.
  EXPECT_EQ((Rows{"Age and Birth Date."}), delivered("%F1x and %F2.", kRecord));
  ASSERT_EQ(0, Edit_DisplayFieldInMessagesAs(h(), 2, "Age at diagnosis"));
  EXPECT_EQ((Rows{"Age at diagnosis [Age] / Age at diagnosis [Age] / Birth Date"}),
            delivered("%F1 / %s1 / %l2", kRecord));
  ASSERT_EQ(0, Edit_DisplayFieldInMessagesAs(h(), 2, "AGE"));
  EXPECT_EQ((Rows{"Age"}), delivered("%T1", kRecord));
  EXPECT_EQ((Rows{"Y:note M:s  D:   as a date"}), delivered("%V1 as a date", kRecord, {5}));
  // The text after a macro whose argument holds the next % is not repeated.
  EXPECT_EQ((Rows{"AgeBirth Date end"}), delivered("%F1%F2 end", kRecord));
  EXPECT_EQ((Rows{"Bad Y:2024 M:01 D:05!"}), delivered("Bad %V2%D1!", kRecord));
  // Without a date check the date macro adds nothing, and takes one character after it.
  EXPECT_EQ((Rows{"Birth Y:2024 M:01 D:05 is  today"}), delivered("Birth %V2 is %D1 today", kRecord));
  EXPECT_EQ((Rows{"ends with "}), delivered("ends with %D", kRecord));
}

TEST_F(Messages, DefaultMessageZeroAndMacrosThatCannotBeExpanded) {
  RunResult result = run_edit("return FAIL;", kRecord, {2}, 0);
  EXPECT_EQ((Rows{"T1|Edit T1|NAACCR|E|This edit has no default error message"}), result.messages);
  // Without an owner, or without a callback, nothing is delivered, yet the edit counts.
  int failed = 0;
  EXPECT_EQ(0, Edit_RunEdits(h(), "ST1", "L1", kRecord, 0, &failed, nullptr, nullptr));
  EXPECT_EQ(1, failed);
  // Macros that cannot be expanded stop the run.
  auto edit = [](const std::string& n) { return "TRunEdits::process_edit\xBB" "Edit: Edit T" + n + " [Tag: T" + n + "]"; };
  EXPECT_EQ((Rows{macro_error("3", 2), edit("2")}), delivered("%F3 failed", kRecord));
  EXPECT_EQ((Rows{macro_error("0", 3), edit("3")}), delivered("%F0", kRecord));
  EXPECT_EQ(macro_error("sure", 4), delivered("100% sure", kRecord).at(0));
  EXPECT_EQ(macro_error("", 5), delivered("trailing %", kRecord).at(0));
  EXPECT_EQ(macro_error("", 6), delivered("%F", kRecord).at(0));

  // Such an edit delivers and counts only its first message of a record, in
  // every record; a stored error text is gone with its record.
  add_edit("Z1", "After a warning", "set_warning(101);\nreturn FAIL;", {2}, 0);
  add_edit("Z2", "A stored text", "int n;\nn = val(#S\"Age\");\nif (n == 45) error_text(\"Stored\");\n"
           "if (n == 46) return FAIL;", {2}, 0);
  for (const char* tag : {"T1", "Z1"}) add_to_set("ZS", tag);
  add_to_set("ZT", "Z2");
  const std::string zero = "|E|This edit has no default error message";
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ((Rows{"Z1|After a warning|NAACCR|W|Check the site", "T1|Edit T1|NAACCR" + zero}),
              run(kRecord, 0, "ZS").messages);
  EXPECT_EQ(Rows{}, run(kRecord, 0, "ZT").messages);
  EXPECT_EQ((Rows{"Z2|A stored text|NAACCR" + zero}), run("1 46", 0, "ZT").messages);
  Rows summary;
  int totals[5];
  ASSERT_EQ(0, Edit_GetRunEditsSummary(h(), "ZS", "L1", 0, &totals[0], &totals[1], &totals[2], &totals[3], &totals[4],
                                       &summary, fn(collect<const char*, const char*, const char*, int, int, int, int,
                                                            int, int, int, int>)));
  EXPECT_EQ((Rows{"Z1|After a warning|NAACCR|0|2|0|0|2|0|0|0", "T1|Edit T1|NAACCR|2|0|0|2|0|0|0|0"}),
            summary);
}
