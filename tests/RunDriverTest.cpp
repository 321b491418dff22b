// The run driver through the public calls: run order, skip rules and options,
// summaries, edit details, record display, unloading and the calls it refuses.
#include "RunTestSupport.h"

namespace {

const char* const kRecord = "104520240105C509notes ";

// A field's details and an edit's summary as rows.
const auto collect_field = collect<int, int, int, int, const char*, const char*, int, const char*, const char*>;
const auto collect_summary = collect<const char*, const char*, const char*, int, int, int, int, int, int, int, int>;

class RunDriver : public RunTest {
 protected:
  // Three edits that fail with message 101 whatever the record holds; the
  // multi-field one comes first by name.
  void add_failing_edits() {
    add_edit("EB", "b check", "return FAIL;", {2}, 101);
    add_edit("EA", "A check", "return FAIL;", {1}, 101);
    add_edit("EC", "a multi-field check", "return FAIL;", {1, 2}, 101);
    for (const char* tag : {"EB", "EA", "EC"}) add_to_set("ES1", tag);
  }
  Rows tags(const RunResult& result) {
    Rows tags;
    for (const std::string& message : result.messages) tags.push_back(message.substr(0, message.find('|')));
    return tags;
  }
  // The pair's summary, a row for each edit and then the totals, or "-1" and the engine errors.
  Rows summary(const char* setTag, const char* layoutTag, int reset = 0) {
    Rows rows;
    int t[5];
    if (Edit_GetRunEditsSummary(h(), setTag, layoutTag, reset, &t[0], &t[1], &t[2], &t[3], &t[4], &rows,
                                fn(collect_summary)) != 0) {
      rows = engine_errors(h());
      rows.insert(rows.begin(), "-1");
      return rows;
    }
    collect(&rows, "totals", t[0], t[1], t[2], t[3], t[4]);
    return rows;
  }
};

}  // namespace

TEST_F(RunDriver, RunOrderAndSummaries) {
  // Tags that match nothing load empty; with a layout that is missing every field is missing.
  RunResult none = run(kRecord, 0, "NOSUCH");
  EXPECT_EQ((std::vector<int>{0, 0}), (std::vector<int>{none.result, none.failed}));
  EXPECT_EQ(Rows{}, none.messages);
  add_failing_edits();
  EXPECT_EQ(Rows{}, run(kRecord, 0, "ES1", "NOLAYOUT").messages);
  Rows fields;
  EXPECT_EQ(0, Edit_DisplayDataRecordByTag(h(), "nolayout", &fields, fn(collect_field)));
  EXPECT_EQ(Rows{}, fields);

  add_edit("EU", "Uncompiled", "return PASS;", {1});
  set_compiled("EU", "");
  add_to_set("ES1", "EU");
  EXPECT_EQ((Rows{"-1", "TRunEdits::GetRunEditsSummary\xBB" "Edit set tag [ES1] / Layout tag [L1] pair not loaded for "
                  "RunEdits processing"}),
            summary("ES1", "L1", 1));
  // Single-field edits run first, then multi-field edits, each by name.
  RunResult result = run(kRecord);
  EXPECT_EQ((std::vector<int>{0, 3}), (std::vector<int>{result.result, result.failed}));
  EXPECT_EQ((Rows{"EA|A check|NAACCR|E|Check the site", "EB|b check|NAACCR|E|Check the site",
                  "EC|a multi-field check|NAACCR|E|Check the site"}),
            result.messages);
  run(kRecord);
  EXPECT_EQ((Rows{"EA|A check|NAACCR|2|0|0|2|0|0|0|0", "EB|b check|NAACCR|2|0|0|2|0|0|0|0",
                  "EU|Uncompiled|NAACCR|0|0|0|0|0|0|0|1", "EC|a multi-field check|NAACCR|2|0|0|2|0|0|0|0",
                  "totals|6|0|0|6|0"}),
            summary("es1", "l1"));
  // Without a callback only the totals are reported; null totals are not written.
  EXPECT_EQ(0, Edit_GetRunEditsSummary(h(), "ES1", "L1", 1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr));
}

TEST_F(RunDriver, SkipRulesAndOptions) {
  add_edit("E1", "Age check", "return FAIL;", {2}, 100);
  add_edit("E2", "Age again", "return FAIL;", {2}, 101);
  add_edit("E3", "Extra check", "return FAIL;", {6}, 101);
  for (const char* tag : {"E1", "E2", "E3"}) add_to_set("ES1", tag);
  ASSERT_EQ(0, Edit_LoadEditSet(h(), "es1", "l1"));
  // E3 names a field that the layout lacks: passed over silently. By name,
  // "Age again" (E2) runs before "Age check" (E1).
  EXPECT_EQ((Rows{"E2", "E1"}), tags(run(kRecord)));
  // Skip if empty: Age holds only blanks; tabs are no blanks.
  ASSERT_EQ(0, Edit_SetEditOptions(h(), "ES1", "E1", 0, 1, 0, 0));
  EXPECT_EQ((Rows{"E2"}), tags(run("1   20240105")));
  EXPECT_EQ((Rows{"E2", "E1"}), tags(run("1\t\t\t20240105")));
  ASSERT_EQ(0, Edit_NeverSkipEmptyField(h(), 2, 1));
  EXPECT_EQ((Rows{"E2", "E1"}), tags(run("1   20240105")));
  ASSERT_EQ(0, Edit_NeverSkipEmptyField(h(), 2, 0));
  // Skip if failed: E2 fails on Age, so E1 on the same field is skipped in this record.
  ASSERT_EQ(0, Edit_ClearEditOptions(h(), "ES1"));
  EXPECT_EQ((Rows{"E2", "E1"}), tags(run("1   20240105")));  // skip if empty is cleared too
  ASSERT_EQ(0, Edit_SetEditOptions(h(), "ES1", "E1", 0, 0, 1, 0));
  EXPECT_EQ((Rows{"E2"}), tags(run(kRecord)));
  // Options word: every edit skips when empty; the override runs E1 anyway; suppress.
  ASSERT_EQ(0, Edit_ClearEditOptions(h(), "ES1"));
  EXPECT_EQ((Rows{"E2", "E1"}), tags(run(kRecord)));  // skip if failed is cleared
  EXPECT_EQ(Rows{}, tags(run("1   ", 0x1)));
  ASSERT_EQ(0, Edit_SetEditOptions(h(), "ES1", "E1", 0, 0, 0, 1));
  EXPECT_EQ((Rows{"E1"}), tags(run("1   ", 0x1)));
  ASSERT_EQ(0, Edit_SetEditOptions(h(), "ES1", "E2", 1, 0, 0, 0));
  EXPECT_EQ((Rows{"E1"}), tags(run(kRecord)));
  int options[4] = {-1, -1, -1, -1};
  ASSERT_EQ(0, Edit_GetEditOptions(h(), "es1", "E2", &options[0], &options[1], &options[2], &options[3]));
  EXPECT_EQ((std::vector<int>{1, 0, 0, 0}), std::vector<int>(options, options + 4));
  EXPECT_EQ((Rows{"E2|Age again|NAACCR|7|0|2|7|0|0|1|0", "E1|Age check|NAACCR|7|0|3|7|0|0|0|0",
                  "E3|Extra check|NAACCR|0|0|0|0|0|1|0|0", "totals|14|0|5|14|0"}),
            summary("ES1", "L1"));

  // Edit tags are exact; the set is searched in both of its pairs, and
  // clearing the options clears those of the first pair only.
  ASSERT_EQ(0, Edit_LoadEditSet(h(), "ES1", "L2"));
  const std::string notFound =
      "TEditSet::SetEditOptions\xBB" "Cannot find edit tag \"e1\" in edit set \"Set ES1\" [\"ES1\"]";
  refused(Edit_SetEditOptions(h(), "ES1", "e1", 1, 0, 0, 0), {notFound, notFound});
  ASSERT_EQ(0, Edit_ClearEditOptions(h(), "ES1"));
  ASSERT_EQ(0, Edit_SetEditOptions(h(), "ES1", "E2", 1, 0, 0, 0));
  EXPECT_EQ((Rows{"E1"}), tags(run(kRecord, 0, "ES1", "L2")));
  ASSERT_EQ(0, Edit_ClearEditOptions(h(), "ES1"));
  EXPECT_EQ((Rows{"E2", "E1"}), tags(run(kRecord)));
  EXPECT_EQ(Rows{}, tags(run("1   ", 0x1)));  // E1's override is cleared
  EXPECT_EQ((Rows{"E1"}), tags(run(kRecord, 0, "ES1", "L2")));
}

// A field is marked failed for the rest of its record by a failing edit of
// that one field only; an edit that was only skipped is still summarised.
TEST_F(RunDriver, FailedMarksBelongToOneRecordAndOneFieldEdits) {
  add_edit("A1", "Age 45", "int n;\nn = val(#S\"Age\");\nif (n == 45) return FAIL;\nreturn PASS;", {2}, 101);
  add_edit("A2", "Age next", "return FAIL;", {2}, 101);
  add_edit("M1", "a pair", "return FAIL;", {1, 5}, 101);
  add_edit("M2", "b pair", "return FAIL;", {1, 5}, 101);
  add_edit("S1", "Site", "return FAIL;", {4}, 101);
  for (const char* tag : {"A1", "A2", "M1", "M2", "S1"}) add_to_set("ES1", tag);
  ASSERT_EQ(0, Edit_LoadEditSet(h(), "ES1", "L1"));
  for (const char* tag : {"A2", "M2"}) ASSERT_EQ(0, Edit_SetEditOptions(h(), "ES1", tag, 0, 0, 1, 0));
  ASSERT_EQ(0, Edit_SetEditOptions(h(), "ES1", "S1", 0, 1, 0, 0));
  EXPECT_EQ((Rows{"A1", "M1", "M2"}), tags(run("1 45")));
  EXPECT_EQ((Rows{"A2", "M1", "M2"}), tags(run("1 46")));  // A1's mark went with its record
  EXPECT_EQ((Rows{"A1|Age 45|NAACCR|1|0|0|1|0|0|0|0", "A2|Age next|NAACCR|1|0|1|1|0|0|0|0",
                  "S1|Site|NAACCR|0|0|2|0|0|0|0|0", "M1|a pair|NAACCR|2|0|0|2|0|0|0|0",
                  "M2|b pair|NAACCR|2|0|0|2|0|0|0|0", "totals|6|0|3|6|0"}),
            summary("ES1", "L1"));
}

TEST_F(RunDriver, EditDetailsAndRecordDisplay) {
  add_edit("E1", "Two fields", "return FAIL;", {4, 2}, 101);
  add_to_set("ES1", "E1");
  struct Details {
    int smf;
    Rows fields;
  } details{h(), {}};
  auto on_message = [](void* owner, const char* tag, const char*, const char*, const char*, const char*) {
    auto* d = static_cast<Details*>(owner);
    return Edit_GetEditDetails(d->smf, tag, &d->fields, fn(collect_field));
  };
  int failed = 0;
  ASSERT_EQ(0, Edit_RunEdits(h(), "ES1", "L1", "1   20240105C509", 0, &failed, &details, fn(+on_message)));
  EXPECT_EQ((Rows{"4|13|4|1|Site||4|S |C509", "2|2|2|2|Age||3|S |<BLANK>"}), details.fields);
  // Details are given only from inside a run.
  refused(Edit_GetEditDetails(h(), "E1", &details.fields, fn(collect_field)),
          {"TRunEdits::GetEditDetails\xBB" "No Layout is loaded!"});

  ASSERT_EQ(0, Edit_UpdateRecordByName(h(), "main LAYOUT", "1 4520240105"));
  ASSERT_EQ(0, Edit_DisplayFieldInMessagesAs(h(), 2, "Age at diagnosis"));
  Rows fields;
  ASSERT_EQ(0, Edit_DisplayDataRecordByTag(h(), "l1", &fields, fn(collect_field)));
  // Fields that do not fit in the record read as empty.
  EXPECT_EQ((Rows{"1|1|1|0|Sex||1|S |1", "2|2|2|0|Age|Age at diagnosis|3|S | 45",
                  "3|5|3|0|Birth Date||8|D1|20240105", "4|13|4|0|Site||4|S |<BLANK>", "5|17|5|0|Notes||6|S |<BLANK>"}),
            fields);
  char name[4], display[64], type[8], value[8];
  int key = 0, start = 0, length = 0;
  ASSERT_EQ(0, Edit_FieldDataByNumber(h(), "L1", 3, &key, &start, &length, name, sizeof name, display,
                                      sizeof display, type, sizeof type, value, sizeof value));
  EXPECT_EQ(0, collect(&fields, key, start, length, name, display, type, value));
  EXPECT_EQ("3|5|8|Bir||D1|2024010", fields.back());
  refused(Edit_FieldDataByNumber(h(), "L1", 6, &key, &start, &length, name, 0, display, 0, type, 0, value, 0),
          {"TLayout::FieldDataByNumber\xBB" "Field number 6 not found in layout named \"Main layout\"/Tag \"L1\""});
  // Null out-parameters are not written.
  ASSERT_EQ(0, Edit_UpdateRecordByTag(h(), "L1", nullptr));
  EXPECT_EQ(0, Edit_RunEdits(h(), "ES1", "L1", kRecord, 0, nullptr, nullptr, nullptr));
}

// Cut to an int, the key of field Sex would read field 2 and reach the host as its key.
TEST_F(RunDriver, LayoutFieldKeysBeyondAnIntAreRefusedNotCut) {
  exec("UPDATE RL_Fields SET PKey = 4294967298 WHERE PKey = 1;"
       "UPDATE RL_LayoutFieldsPivot SET FieldPKey = 4294967298 WHERE FieldPKey = 1;");
  refused(Edit_UpdateRecordByTag(h(), "L1", kRecord),
          {"TRunEdits::UpdateRecord\xBB" + key_refusal("4294967298", "RL_Fields")});
}

// Calls refused on a metafile with nothing loaded.
TEST_F(RunDriver, RefusedCalls) {
  const char* const kNullText = "At least one of the char* parameters is NULL";
  Rows sink;
  char text[4];
  refused(Edit_SetEditOptions(h(), "Es1", "EA", 1, 0, 0, 0),
          {"TRunEdits::SetEditOptions\xBB" "Edit set with tag \"Es1\" has not been initialized. Run Edit_LoadEditSet "
           "first."});
  refused(Edit_DisplayDataRecordByTag(h(), "L1", nullptr, fn(collect_field)),
          {"TRunEdits::DisplayDataRecord\xBB" "Cannot find record layout with tag \"L1\""});
  refused(Edit_DisplayFieldInMessagesAs(h(), 2, "Age at diagnosis"),
          {"TRunEdits::DisplayFieldInMessagesAs\xBB" "No layouts in memory. Call Edit_UpdateRecordByTag before calling "
           "Edit_DisplayFieldInMessagesAs."});
  // A name with a quote is looked up as it is, never as SQL.
  refused(Edit_UpdateRecordByName(h(), "x' OR '1'='1", "1"),
          {tsmf_error("UpdateRecordByName", "Layout name \"x' OR '1'='1\" not found in metafile")});
  refused(Edit_DisplayDataRecordByName(h(), nullptr, &sink, fn(collect_field)),
          {tsmf_error("DisplayDataRecordByName", "Layout name \"(null)\" not found in metafile")});
  // Pointers that the host must give.
  refused(Edit_FieldDataByNumber(h(), "L1", 3, nullptr, nullptr, nullptr, text, 4, text, 4, text, 4, nullptr, 0),
          {tsmf_error("DataByFieldNumber", kNullText)});
  refused(Edit_LoadEditSet(h(), "ES1", nullptr), {tsmf_error("LoadEditSet", kNullText)});
  refused(Edit_UnloadEditSet(h(), nullptr, "L1"), {tsmf_error("UnloadEditSet", kNullText)});
  refused(Edit_SetEditOptions(h(), nullptr, "E", 0, 0, 0, 0), {tsmf_error("SetEditOptions", kNullText)});
  refused(Edit_GetEditOptions(h(), "ES1", nullptr, nullptr, nullptr, nullptr, nullptr),
          {tsmf_error("GetEditOptions", kNullText)});
  refused(Edit_ClearEditOptions(h(), nullptr), {tsmf_error("ClearEditOptions", "Parameter edit_set_tag is NULL")});
  refused(Edit_UpdateRecordByTag(h(), nullptr, "1"),
          {tsmf_error("UpdateRecordByTag", "Parameter \"layout_tag\" must not be NULL")});
  refused(Edit_GetEditDetails(h(), nullptr, &sink, nullptr),
          {tsmf_error("GetEditDetails", "Parameter \"edit_tag\" must not be NULL"),
           tsmf_error("GetEditDetails", "Parameter \"callback_func\" must not be NULL")});
  refused(Edit_RunEdits(h(), nullptr, "L1", nullptr, 0, nullptr, &sink, nullptr),
          {tsmf_error("RunEdits", "Parameter \"edit_set_tag\" must not be NULL"),
           tsmf_error("RunEdits", "Parameter \"data\" must not be NULL"),
           tsmf_error("RunEdits", "Parameter \"owner\" is NOT NULL, but parameter \"callback_func\" IS NULL")});
  refused(Edit_GetRunEditsSummary(h(), "ES1", nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  fn(collect_summary)),
          {tsmf_error("GetRunEditsSummary", "Parameter \"layout_tag\" must not be NULL"),
           tsmf_error("GetRunEditsSummary",
                      "Parameter \"callback_func\" is NOT NULL, but parameter \"owner\" IS NULL")});
  refused(Edit_DebugEdit(h(), nullptr, "L1", "", nullptr, nullptr, nullptr, nullptr, nullptr),
          {tsmf_error("DebugEdit", "Parameter \"edit_tag\" must not be NULL"),
           tsmf_error("DebugEdit", "Parameter \"owner\" must not be NULL"),
           tsmf_error("DebugEdit", "Edit_DebugEdit is pointless without at least one callback function")});
}

TEST_F(RunDriver, UnloadingKeepsLayoutsThatOtherPairsUse) {
  add_failing_edits();
  add_to_set("ES2", "EA");
  ASSERT_EQ(0, Edit_LoadEditSet(h(), "ES1", "L1"));
  ASSERT_EQ(0, Edit_LoadEditSet(h(), "ES2", "L1"));
  ASSERT_EQ(0, Edit_UnloadEditSet(h(), "ES1", "L1"));
  EXPECT_EQ((Rows{"EA"}), tags(run(kRecord, 0, "ES2")));
  // Debugging reloads the layout the pair uses; the pair runs on.
  Rows lines;
  auto on_line = collect<int, int, const char*>;
  ASSERT_EQ(0, Edit_DebugEdit(h(), "EB", "l1", kRecord, &lines, fn(on_line), nullptr, nullptr, nullptr));
  EXPECT_EQ((Rows{"1|1|return FAIL;"}), lines);
  EXPECT_EQ((Rows{"EA"}), tags(run(kRecord, 0, "ES2")));
  ASSERT_EQ(0, Edit_UnloadEditSet(h(), "ES2", "L1"));
  ASSERT_EQ(0, Edit_UnloadEditSet(h(), "ES2", "L1"));
  EXPECT_EQ(-1, Edit_DisplayDataRecordByTag(h(), "L1", nullptr, fn(collect_field)));
  // Only a metafile written with foreign keys off can lose an edit's agency:
  // an edit set that cannot be loaded whole is not loaded.
  exec("PRAGMA foreign_keys = OFF; UPDATE RL_Edits SET AgencyPKey = 77 WHERE EditTag = 'EB';");
  refused(Edit_LoadEditSet(h(), "ES1", "L1"),
          {"TEditSet::LoadEditSet\xBB" "Edit with PKey 101 has no agency or message row; it is not loaded",
           "TRunEdits::LoadEditSet\xBB" "Failure to load edit set tag \"ES1\" with layout tag \"L1\";"});
}
