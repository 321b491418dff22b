// Messages of failing and warning edits: the macros of the default message
// expanded against the record, display names, the default message 0, and
// macros that cannot be expanded.
#include "RunTestSupport.h"

namespace {

class Messages : public RunTest {
 protected:
  // The text delivered when an edit with those fields fails with `message`,
  // or the run's engine errors when the expansion fails.
  Rows delivered(const std::string& message, const std::string& record, const std::vector<int>& fields = {2, 3}) {
    int number = 200 + ++Count;
    exec("INSERT INTO RL_Messages(MessageNumber,Message) VALUES (" + std::to_string(number) + ",'" + message + "');");
    RunResult result = run_edit("return FAIL;", record, fields, number);
    if (result.result != 0) return engine_errors(smf());
    Rows texts;
    for (const std::string& text : result.messages) texts.push_back(text.substr(text.rfind('|') + 1));
    return texts;
  }
  int Count = 0;
};

const char* const kRecord = "1 4520240105C509notes ";

std::string macro_error(const std::string& argument, int edit) {
  return "TEditErrors::expand_msg_macros\xBB" "Field macro order (" + argument + ") out of range for edit tag \"T" +
         std::to_string(edit) + "\"";
}

}  // namespace

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
  ASSERT_EQ(0, Edit_DisplayFieldInMessagesAs(smf(), 2, "Age at diagnosis"));
  EXPECT_EQ((Rows{"Age at diagnosis [Age] / Age at diagnosis [Age] / Birth Date"}),
            delivered("%F1 / %s1 / %l2", kRecord));
  ASSERT_EQ(0, Edit_DisplayFieldInMessagesAs(smf(), 2, "AGE"));
  EXPECT_EQ((Rows{"Age"}), delivered("%T1", kRecord));
  EXPECT_EQ((Rows{"Y:note M:s  D:   as a date"}), delivered("%V1 as a date", kRecord, {5}));
  // The text after a macro whose argument holds the next % is not repeated.
  EXPECT_EQ((Rows{"AgeBirth Date end"}), delivered("%F1%F2 end", kRecord));
  EXPECT_EQ((Rows{"Bad Y:2024 M:01 D:05!"}), delivered("Bad %V2%D1!", kRecord));
  // Without a date check the date macro adds nothing, and takes one character after it.
  EXPECT_EQ((Rows{"Birth Y:2024 M:01 D:05 is  today"}), delivered("Birth %V2 is %D1 today", kRecord));
  EXPECT_EQ((Rows{"ends with "}), delivered("ends with %D", kRecord));
}

TEST_F(Messages, MacrosThatCannotBeExpandedStopTheRun) {
  std::string edit = "TRunEdits::process_edit\xBB" "Edit: Edit T1 [Tag: T1]";
  EXPECT_EQ((Rows{macro_error("3", 1), edit}), delivered("%F3 failed", kRecord));
  EXPECT_EQ((Rows{macro_error("0", 2), "TRunEdits::process_edit\xBB" "Edit: Edit T2 [Tag: T2]"}),
            delivered("%F0", kRecord));
  EXPECT_EQ(macro_error("sure", 3), delivered("100% sure", kRecord).at(0));
  EXPECT_EQ(macro_error("", 4), delivered("trailing %", kRecord).at(0));
  EXPECT_EQ(macro_error("", 5), delivered("%F", kRecord).at(0));
}

TEST_F(Messages, DefaultMessageZeroAndWarnings) {
  RunResult result = run_edit("return FAIL;", kRecord, {2}, 0);
  EXPECT_EQ((Rows{"T1|Edit T1|NAACCR|E|This edit has no default error message"}), result.messages);
  // Without an owner, or without a callback, nothing is delivered, yet the edit counts.
  int failed = 0;
  EXPECT_EQ(0, Edit_RunEdits(smf(), "ST1", "L1", kRecord, 0, &failed, nullptr, nullptr));
  EXPECT_EQ(1, failed);
}
