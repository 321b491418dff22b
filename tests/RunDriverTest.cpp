// The run driver through the public calls: run order, skip rules and options,
// summaries, edit details, record display, unloading and the checks of the
// host's pointers.
#include "RunTestSupport.h"

namespace {

class RunDriver : public RunTest {
 protected:
  // Three edits that fail with message 101 whatever the record holds.
  void add_failing_edits() {
    add_edit("EB", "b check", "return FAIL;", {2}, 101);
    add_edit("EA", "A check", "return FAIL;", {1}, 101);
    add_edit("EC", "c check", "return FAIL;", {1, 2}, 101);
    for (const char* tag : {"EB", "EA", "EC"}) add_to_set("ES1", tag);
  }
  Rows tags(const RunResult& result) {
    Rows tags;
    for (const std::string& message : result.messages) tags.push_back(message.substr(0, message.find('|')));
    return tags;
  }
};

const char* const kRecord = "104520240105C509notes ";

int collect_field(void* owner, int pkey, int start, int number, int order, const char* name, const char* display,
                  int length, const char* type, const char* value) {
  return collect(owner, pkey, start, number, order, name, display, length, type, value);
}

int collect_summary(void* owner, const char* tag, const char* name, const char* admin, int e, int w, int s, int em,
                    int wm, int notInLayout, int suppressed, int notCompiled) {
  return collect(owner, tag, name, admin, e, w, s, em, wm, notInLayout, suppressed, notCompiled);
}

}  // namespace

TEST_F(RunDriver, SingleFieldEditsRunFirstThenMultiFieldEditsByName) {
  add_failing_edits();
  RunResult result = run(kRecord);
  EXPECT_EQ(0, result.result);
  EXPECT_EQ(3, result.failed);
  EXPECT_EQ((Rows{"EA", "EB", "EC"}), tags(result));
  EXPECT_EQ("EA|A check|NAACCR|E|Check the site", result.messages.at(0));
}

TEST_F(RunDriver, SkipRulesAndOptions) {
  add_edit("E1", "Age check", "return FAIL;", {2}, 100);
  add_edit("E2", "Age again", "return FAIL;", {2}, 101);
  add_edit("E3", "Extra check", "return FAIL;", {6}, 101);
  for (const char* tag : {"E1", "E2", "E3"}) add_to_set("ES1", tag);
  ASSERT_EQ(0, Edit_LoadEditSet(smf(), "es1", "l1"));
  // E3 names a field that the layout lacks: passed over silently. By name,
  // "Age again" (E2) runs before "Age check" (E1).
  EXPECT_EQ((Rows{"E2", "E1"}), tags(run(kRecord)));
  // Skip if empty: Age holds only blanks.
  ASSERT_EQ(0, Edit_SetEditOptions(smf(), "ES1", "E1", 0, 1, 0, 0));
  EXPECT_EQ((Rows{"E2"}), tags(run("1   20240105")));
  ASSERT_EQ(0, Edit_NeverSkipEmptyField(smf(), 2, 1));
  EXPECT_EQ((Rows{"E2", "E1"}), tags(run("1   20240105")));
  ASSERT_EQ(0, Edit_NeverSkipEmptyField(smf(), 2, 0));
  // Skip if failed: E2 fails on Age, so E1 on the same field is skipped in this record.
  ASSERT_EQ(0, Edit_ClearEditOptions(smf(), "ES1"));
  ASSERT_EQ(0, Edit_SetEditOptions(smf(), "ES1", "E1", 0, 0, 1, 0));
  EXPECT_EQ((Rows{"E2"}), tags(run(kRecord)));
  // Options word: every edit skips when empty; the override runs E1 anyway; suppress.
  ASSERT_EQ(0, Edit_ClearEditOptions(smf(), "ES1"));
  EXPECT_EQ(Rows{}, tags(run("1   ", 0x1)));
  ASSERT_EQ(0, Edit_SetEditOptions(smf(), "ES1", "E1", 0, 0, 0, 1));
  EXPECT_EQ((Rows{"E1"}), tags(run("1   ", 0x1)));
  ASSERT_EQ(0, Edit_SetEditOptions(smf(), "ES1", "E2", 1, 0, 0, 0));
  EXPECT_EQ((Rows{"E1"}), tags(run(kRecord)));
  int options[4] = {-1, -1, -1, -1};
  ASSERT_EQ(0, Edit_GetEditOptions(smf(), "es1", "E2", &options[0], &options[1], &options[2], &options[3]));
  EXPECT_EQ((std::vector<int>{1, 0, 0, 0}), std::vector<int>(options, options + 4));

  Rows summary;
  int totals[5];
  ASSERT_EQ(0, Edit_GetRunEditsSummary(smf(), "ES1", "L1", 0, &totals[0], &totals[1], &totals[2], &totals[3],
                                       &totals[4], &summary, fn(collect_summary)));
  EXPECT_EQ((Rows{"E2|Age again|NAACCR|4|0|2|4|0|0|1|0", "E1|Age check|NAACCR|4|0|3|4|0|0|0|0",
                  "E3|Extra check|NAACCR|0|0|0|0|0|1|0|0"}),
            summary);
  EXPECT_EQ((std::vector<int>{8, 0, 5, 8, 0}), std::vector<int>(totals, totals + 5));
}

TEST_F(RunDriver, OptionErrors) {
  add_failing_edits();
  EXPECT_EQ(-1, Edit_SetEditOptions(smf(), "Es1", "EA", 1, 0, 0, 0));
  EXPECT_EQ((Rows{"TRunEdits::SetEditOptions\xBB"
                  "Edit set with tag \"Es1\" has not been initialized. Run Edit_LoadEditSet first."}),
            engine_errors(smf()));
  ASSERT_EQ(0, Edit_LoadEditSet(smf(), "ES1", "L1"));
  ASSERT_EQ(0, Edit_LoadEditSet(smf(), "ES1", "L2"));
  // Edit tags are exact; the set is searched in both pairs.
  EXPECT_EQ(-1, Edit_SetEditOptions(smf(), "ES1", "ea", 1, 0, 0, 0));
  EXPECT_EQ((Rows{"TEditSet::SetEditOptions\xBB" "Cannot find edit tag \"ea\" in edit set \"Set ES1\" [\"ES1\"]",
                  "TEditSet::SetEditOptions\xBB" "Cannot find edit tag \"ea\" in edit set \"Set ES1\" [\"ES1\"]"}),
            engine_errors(smf()));
  ASSERT_EQ(0, Edit_SetEditOptions(smf(), "ES1", "EA", 1, 0, 0, 0));
  EXPECT_EQ((Rows{"EB", "EC"}), tags(run(kRecord, 0, "ES1", "L2")));
  ASSERT_EQ(0, Edit_ClearEditOptions(smf(), "ES1"));  // the first pair only
  EXPECT_EQ((Rows{"EA", "EB", "EC"}), tags(run(kRecord)));
  EXPECT_EQ((Rows{"EB", "EC"}), tags(run(kRecord, 0, "ES1", "L2")));
  EXPECT_EQ(-1, Edit_ClearEditOptions(smf(), nullptr));
  EXPECT_EQ((Rows{tsmf_error("ClearEditOptions", "Parameter edit_set_tag is NULL")}), engine_errors(smf()));
}

TEST_F(RunDriver, MissingTagsLoadEmpty) {
  RunResult result = run(kRecord, 0, "NOSUCH");
  EXPECT_EQ(0, result.result);
  EXPECT_EQ(0, result.failed);
  EXPECT_EQ(Rows{}, result.messages);
  add_failing_edits();
  EXPECT_EQ(Rows{}, run(kRecord, 0, "ES1", "NOLAYOUT").messages);  // every field is missing
  Rows fields;
  EXPECT_EQ(0, Edit_DisplayDataRecordByTag(smf(), "nolayout", &fields, fn(collect_field)));
  EXPECT_EQ(Rows{}, fields);
}

TEST_F(RunDriver, SummaryFlagsAndTotals) {
  add_failing_edits();
  add_edit("EU", "Uncompiled", "return PASS;", {1});
  set_compiled("EU", "");
  add_to_set("ES1", "EU");
  Rows summary;
  int totals[5];
  EXPECT_EQ(-1, Edit_GetRunEditsSummary(smf(), "ES1", "L1", 1, &totals[0], &totals[1], &totals[2], &totals[3],
                                        &totals[4], &summary, fn(collect_summary)));
  EXPECT_EQ((Rows{"TRunEdits::GetRunEditsSummary\xBB" "Edit set tag [ES1] / Layout tag [L1] pair not loaded for "
                  "RunEdits processing"}),
            engine_errors(smf()));
  run(kRecord);
  run(kRecord);
  ASSERT_EQ(0, Edit_GetRunEditsSummary(smf(), "es1", "l1", 0, &totals[0], &totals[1], &totals[2], &totals[3],
                                       &totals[4], &summary, fn(collect_summary)));
  EXPECT_EQ((Rows{"EA|A check|NAACCR|2|0|0|2|0|0|0|0", "EB|b check|NAACCR|2|0|0|2|0|0|0|0",
                  "EU|Uncompiled|NAACCR|0|0|0|0|0|0|0|1", "EC|c check|NAACCR|2|0|0|2|0|0|0|0"}),
            summary);
  EXPECT_EQ((std::vector<int>{6, 0, 0, 6, 0}), std::vector<int>(totals, totals + 5));
  // Without a callback only the totals are reported; null totals are not written.
  EXPECT_EQ(0, Edit_GetRunEditsSummary(smf(), "ES1", "L1", 1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr));
}

TEST_F(RunDriver, EditDetailsFromAMessageCallback) {
  add_edit("E1", "Two fields", "return FAIL;", {4, 2}, 101);
  add_to_set("ES1", "E1");
  struct Details {
    int smf;
    Rows fields;
  } details{smf(), {}};
  auto on_message = [](void* owner, const char* tag, const char*, const char*, const char*, const char*) {
    auto* d = static_cast<Details*>(owner);
    return Edit_GetEditDetails(d->smf, tag, &d->fields, fn(collect_field));
  };
  int failed = 0;
  ASSERT_EQ(0, Edit_RunEdits(smf(), "ES1", "L1", "1   20240105C509", 0, &failed, &details, fn(+on_message)));
  EXPECT_EQ((Rows{"4|13|4|1|Site||4|S |C509", "2|2|2|2|Age||3|S |<BLANK>"}), details.fields);
  EXPECT_EQ(-1, Edit_GetEditDetails(smf(), "E1", &details.fields, fn(collect_field)));
  EXPECT_EQ((Rows{"TRunEdits::GetEditDetails\xBB" "No Layout is loaded!"}), engine_errors(smf()));
  EXPECT_EQ(-1, Edit_GetEditDetails(smf(), nullptr, &details.fields, nullptr));
  EXPECT_EQ((Rows{tsmf_error("GetEditDetails", "Parameter \"edit_tag\" must not be NULL"),
                  tsmf_error("GetEditDetails", "Parameter \"callback_func\" must not be NULL")}),
            engine_errors(smf()));
}

TEST_F(RunDriver, RecordDisplayAndFieldData) {
  EXPECT_EQ(-1, Edit_DisplayDataRecordByTag(smf(), "L1", nullptr, fn(collect_field)));
  EXPECT_EQ((Rows{"TRunEdits::DisplayDataRecord\xBB" "Cannot find record layout with tag \"L1\""}), engine_errors(smf()));
  EXPECT_EQ(-1, Edit_DisplayFieldInMessagesAs(smf(), 2, "Age at diagnosis"));
  EXPECT_EQ((Rows{"TRunEdits::DisplayFieldInMessagesAs\xBB" "No layouts in memory. Call Edit_UpdateRecordByTag before "
                  "calling Edit_DisplayFieldInMessagesAs."}),
            engine_errors(smf()));
  ASSERT_EQ(0, Edit_UpdateRecordByName(smf(), "main LAYOUT", "1 4520240105"));
  ASSERT_EQ(0, Edit_DisplayFieldInMessagesAs(smf(), 2, "Age at diagnosis"));
  Rows fields;
  ASSERT_EQ(0, Edit_DisplayDataRecordByTag(smf(), "l1", &fields, fn(collect_field)));
  // Fields that do not fit in the record read as empty.
  EXPECT_EQ((Rows{"1|1|1|0|Sex||1|S |1", "2|2|2|0|Age|Age at diagnosis|3|S | 45",
                  "3|5|3|0|Birth Date||8|D1|20240105", "4|13|4|0|Site||4|S |<BLANK>", "5|17|5|0|Notes||6|S |<BLANK>"}),
            fields);
  char name[4], display[64], type[8], value[8];
  int key = 0, start = 0, length = 0;
  ASSERT_EQ(0, Edit_FieldDataByNumber(smf(), "L1", 3, &key, &start, &length, name, sizeof name, display,
                                      sizeof display, type, sizeof type, value, sizeof value));
  EXPECT_EQ((std::vector<std::string>{"3", "5", "8", "Bir", "", "D1", "2024010"}),
            (std::vector<std::string>{std::to_string(key), std::to_string(start), std::to_string(length), name,
                                      display, type, value}));
  EXPECT_EQ(-1, Edit_FieldDataByNumber(smf(), "L1", 6, &key, &start, &length, name, 0, display, 0, type, 0, value, 0));
  EXPECT_EQ((Rows{"TLayout::FieldDataByNumber\xBB" "Field number 6 not found in layout named \"Main layout\"/Tag \"L1\""}),
            engine_errors(smf()));
  EXPECT_EQ(-1, Edit_FieldDataByNumber(smf(), "L1", 3, nullptr, nullptr, nullptr, name, 4, display, 4, type, 4,
                                       nullptr, 0));
  EXPECT_EQ((Rows{tsmf_error("DataByFieldNumber", "At least one of the char* parameters is NULL")}),
            engine_errors(smf()));
  // A name with a quote is looked up as it is, never as SQL.
  EXPECT_EQ(-1, Edit_UpdateRecordByName(smf(), "x' OR '1'='1", "1"));
  EXPECT_EQ((Rows{tsmf_error("UpdateRecordByName", "Layout name \"x' OR '1'='1\" not found in metafile")}),
            engine_errors(smf()));
  EXPECT_EQ(-1, Edit_DisplayDataRecordByName(smf(), nullptr, &fields, fn(collect_field)));
  EXPECT_EQ((Rows{tsmf_error("DisplayDataRecordByName", "Layout name \"(null)\" not found in metafile")}),
            engine_errors(smf()));
}

TEST_F(RunDriver, UnloadingKeepsLayoutsThatOtherPairsUse) {
  add_failing_edits();
  add_to_set("ES2", "EA");
  ASSERT_EQ(0, Edit_LoadEditSet(smf(), "ES1", "L1"));
  ASSERT_EQ(0, Edit_LoadEditSet(smf(), "ES2", "L1"));
  ASSERT_EQ(0, Edit_UnloadEditSet(smf(), "ES1", "L1"));
  EXPECT_EQ((Rows{"EA"}), tags(run(kRecord, 0, "ES2")));
  // Debugging reloads the layout the pair uses; the pair runs on.
  Rows lines;
  auto on_line = [](void* owner, int line, int executed, const char* logic) { return collect(owner, line, executed, logic); };
  ASSERT_EQ(0, Edit_DebugEdit(smf(), "EB", "l1", kRecord, &lines, fn(+on_line), nullptr, nullptr, nullptr));
  EXPECT_EQ((Rows{"1|1|return FAIL;"}), lines);
  EXPECT_EQ((Rows{"EA"}), tags(run(kRecord, 0, "ES2")));
  ASSERT_EQ(0, Edit_UnloadEditSet(smf(), "ES2", "L1"));
  ASSERT_EQ(0, Edit_UnloadEditSet(smf(), "ES2", "L1"));
  EXPECT_EQ(-1, Edit_DisplayDataRecordByTag(smf(), "L1", nullptr, fn(collect_field)));
}

TEST_F(RunDriver, PointerChecks) {
  int failed = 0;
  Rows sink;
  EXPECT_EQ(-1, Edit_RunEdits(smf(), nullptr, "L1", nullptr, 0, &failed, &sink, nullptr));
  EXPECT_EQ((Rows{tsmf_error("RunEdits", "Parameter \"edit_set_tag\" must not be NULL"),
                  tsmf_error("RunEdits", "Parameter \"data\" must not be NULL"),
                  tsmf_error("RunEdits", "Parameter \"owner\" is NOT NULL, but parameter \"callback_func\" IS NULL")}),
            engine_errors(smf()));
  EXPECT_EQ(-1, Edit_GetRunEditsSummary(smf(), "ES1", nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, fn(collect_summary)));
  EXPECT_EQ((Rows{tsmf_error("GetRunEditsSummary", "Parameter \"layout_tag\" must not be NULL"),
                  tsmf_error("GetRunEditsSummary",
                             "Parameter \"callback_func\" is NOT NULL, but parameter \"owner\" IS NULL")}),
            engine_errors(smf()));
  EXPECT_EQ(-1, Edit_DebugEdit(smf(), nullptr, "L1", "", nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ((Rows{tsmf_error("DebugEdit", "Parameter \"edit_tag\" must not be NULL"),
                  tsmf_error("DebugEdit", "Parameter \"owner\" must not be NULL"),
                  tsmf_error("DebugEdit", "Edit_DebugEdit is pointless without at least one callback function")}),
            engine_errors(smf()));
  for (auto call : {+[](int h) { return Edit_LoadEditSet(h, "ES1", nullptr); },
                    +[](int h) { return Edit_UnloadEditSet(h, nullptr, "L1"); },
                    +[](int h) { return Edit_SetEditOptions(h, nullptr, "E", 0, 0, 0, 0); },
                    +[](int h) { return Edit_GetEditOptions(h, "ES1", nullptr, nullptr, nullptr, nullptr, nullptr); }}) {
    EXPECT_EQ(-1, call(smf()));
    EXPECT_EQ(1u, engine_errors(smf()).size());
  }
  EXPECT_EQ(-1, Edit_UpdateRecordByTag(smf(), nullptr, "1"));
  EXPECT_EQ((Rows{tsmf_error("UpdateRecordByTag", "Parameter \"layout_tag\" must not be NULL")}), engine_errors(smf()));
  // Null out-parameters are not written.
  add_failing_edits();
  EXPECT_EQ(0, Edit_RunEdits(smf(), "ES1", "L1", kRecord, 0, nullptr, nullptr, nullptr));
  ASSERT_EQ(0, Edit_UpdateRecordByTag(smf(), "L1", nullptr));
}

TEST_F(RunDriver, AnEditSetThatCannotBeLoadedWholeIsNotLoaded) {
  add_failing_edits();
  // Only a metafile written with foreign keys off can lose an edit's agency.
  exec("PRAGMA foreign_keys = OFF; UPDATE RL_Edits SET AgencyPKey = 77 WHERE EditTag = 'EB';");
  EXPECT_EQ(-1, Edit_LoadEditSet(smf(), "ES1", "L1"));
  EXPECT_EQ((Rows{"TEditSet::LoadEditSet\xBB" "Edit with PKey 101 has no agency or message row; it is not loaded",
                  "TRunEdits::LoadEditSet\xBB" "Failure to load edit set tag \"ES1\" with layout tag \"L1\";"}),
            engine_errors(smf()));
}
