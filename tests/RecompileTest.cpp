// Recompiling an edit: stored compiled text, logic pivot rows, result codes, rollback on failure; the
// syntax-check readers; the local-name update.
#include <chrono>
#include <thread>

#include "ApiTestSupport.h"
#include "storage/Utility.h"

namespace {

const char* const kSetup =
    "INSERT INTO RL_Fields(PKey,FieldNumber,FieldName,LocalName,FieldLength,DataType) VALUES"
    " (1,10,'Ten','L10',1,'S '),(2,20,'Twenty','L20',1,'S '),(3,30,'Thirty','L30',1,'S '),"
    " (4,40,'Forty','L40',1,'S ');"
    "INSERT INTO RL_Messages(PKey,MessageNumber,Message) VALUES (2,5,'five'),(3,7,'seven');"
    "CREATE TABLE SITES([PKey] integer not null primary key, [CODE] varchar(10) not null);"
    "CREATE INDEX xSITES_CODE on SITES([CODE], [PKey]);"
    "INSERT INTO RL_LookupTables(PKey,TableName,RecCount) VALUES (1,'SITES',0);"
    "INSERT INTO RL_Edits(PKey,EditTag,EditName,EditLogic,CompiledLogic) VALUES (1,'E1','Edit one','','old');"
    "INSERT INTO RL_EditFieldsPivot(EditPKey,FieldPKey,FieldOrder) VALUES (1,1,1),(1,2,2),(1,3,3);";

// Logic that writes a row to each of the four logic pivots, two to the fields pivot.
const char* const kPivotLogic =
    "char s[10];\nstrcpy(s, #S\"Thirty\");\nif (strlen(#S\"Forty\") > 2) set_warning(7);\n"
    "if (lookup(#S\"Thirty\", \"SITES.CODE\")) return PASS;\nerror_text(\"bad\");\nreturn FAIL;";

class Recompile : public MetafileTest {
 protected:
  Recompile() : MetafileTest(kSetup) {}
  void set_logic(const std::string& logic) {
    EXPECT_EQ(SQLITE_OK, RawDB(path()).exec("UPDATE RL_Edits SET EditLogic = '" + quote_sql_value(logic) + "' WHERE PKey = 1;"));
  }
  // Gives edit E1 the logic and recompiles it: the result code.
  int recompile(const std::string& logic) {
    set_logic(logic);
    return Edit_RecompileEditLogic(h(), "E1");
  }
  Rows field_pivot() { return rows("SELECT FieldPKey, FieldOrder FROM RL_EditFieldsPivot ORDER BY FieldOrder"); }
  // E1's rows of the four logic pivots, each led by its key.
  Rows logic_pivots() {
    return rows("SELECT PKey || '|' || FieldPKey || '|' || FieldOrder FROM RL_EditFieldsPivot WHERE EditPKey = 1 "
                "UNION ALL SELECT PKey || '|' || MessagePKey || '|' || QueltFunc FROM RL_EditMessagesPivot "
                "WHERE EditPKey = 1 UNION ALL SELECT PKey || '|' || ErrorText || '|' || QueltFunc FROM "
                "RL_EditErrorsPivot WHERE EditPKey = 1 UNION ALL SELECT PKey || '|' || LookupTablePKey FROM "
                "RL_EditTablesPivot WHERE EditPKey = 1");
  }
  std::string compiled() { return value("SELECT CompiledLogic FROM RL_Edits WHERE PKey = 1"); }
  // The first syntax error as "line|text".
  std::string first_error() {
    int line = 0;
    char text[200] = "";
    EXPECT_EQ(0, Qb_GetSyntaxError(h(), 0, &line, text, sizeof text));
    return std::to_string(line) + "|" + text;
  }
};

}  // namespace

TEST_F(Recompile, CleanLogicIsStoredWithItsPivotRows) {
  ASSERT_EQ(0, recompile("char s[10];\nstrcpy(s, #S\"Thirty\");\nif (strlen(#S\"Forty\") > 2) set_warning(7);\n"
                         "if (lookup(#S\"Thirty\", \"SITES.CODE\")) return PASS;\nerror_text(\"bad\");\nreturn FAIL;"));
  EXPECT_EQ("@HN001s[U00210];\nMo(N001s,#30);\nF  10(Mp(#40)>U0012)M\x84(U0017);\n"
            "F   3(MX(#30,\"010SITES.CODE))DR;\nMM(\"003bad);\nDQ;",
            compiled());
  // Fields still used keep their old places; new ones follow.
  EXPECT_EQ((Rows{"3|3", "4|4"}), field_pivot());
  EXPECT_EQ((Rows{"1", "3|A", "bad|E", "1"}),
            rows("SELECT IsMultiField FROM RL_Edits WHERE PKey = 1 UNION ALL SELECT MessagePKey || '|' || QueltFunc "
                 "FROM RL_EditMessagesPivot UNION ALL SELECT ErrorText || '|' || QueltFunc FROM RL_EditErrorsPivot "
                 "UNION ALL SELECT LookupTablePKey FROM RL_EditTablesPivot"));
  EXPECT_EQ(Rows{}, engine_errors(h()));

  // Result codes: 0 clean, -3 warnings, -2 errors, -4 both.
  EXPECT_EQ(0, recompile("int x;\nx = 1;\nreturn PASS;"));
  EXPECT_EQ("0", value("SELECT IsMultiField FROM RL_Edits WHERE PKey = 1"));
  EXPECT_EQ(Rows{}, field_pivot());
  EXPECT_EQ(-3, recompile("int x;\nif (x = 1) x = 2;\nreturn PASS;"));
  EXPECT_EQ("@IN001x;\nF  12(N001x=U0011)N001x=U0012;\nDR;", compiled());
  // Errors keep the pivot rows and empty the compiled text.
  ASSERT_EQ(0, RawDB(path()).exec("INSERT INTO RL_EditFieldsPivot(EditPKey,FieldPKey,FieldOrder) VALUES (1,2,1)"));
  EXPECT_EQ(-2, recompile("strcpy(t, #S\"Ten\");"));
  EXPECT_EQ("", compiled());
  EXPECT_EQ((Rows{"2|1"}), field_pivot());
  EXPECT_EQ("1|Line    1: STRCPY error: Parameter #1 references undeclared variable \"t\"", first_error());
  EXPECT_EQ(-4, recompile("int x;\nif (x = 1) y = 2;"));
  EXPECT_EQ(0, Edit_RecompileEditLogic(h(), "NO SUCH TAG"));
  EXPECT_EQ(Rows{}, engine_errors(h()));
}

TEST_F(Recompile, DefaultMessageRowAndTagsThatNeedQuoting) {
  std::string tag = "Tag with a ' quote and far more than twenty characters";
  RawDB(path()).exec("INSERT INTO RL_Edits(PKey,EditTag,EditName,MessagePKey,EditLogic) VALUES "
                     "(2,'" + quote_sql_value(tag) + "','Two',3,'return PASS;')");
  EXPECT_EQ(0, Edit_RecompileEditLogic(h(), tag.c_str()));
  EXPECT_EQ((Rows{"2|3|D"}), rows("SELECT EditPKey, MessagePKey, QueltFunc FROM RL_EditMessagesPivot"));
  EXPECT_EQ("old", compiled());  // the other edit is untouched
  EXPECT_EQ(0, recompile("return PASS;"));  // MessagePKey 1: no default-message row
  EXPECT_EQ((Rows{"2|3|D"}), rows("SELECT EditPKey, MessagePKey, QueltFunc FROM RL_EditMessagesPivot"));
}

TEST_F(Recompile, FailuresRollBackEverything) {
  // The table is in the model only: the compile is clean, but the table has no catalogue row.
  set_logic("if (lookup(#S\"Ten\", \"SITES.CODE\")) return PASS;");
  ASSERT_EQ(0, RawDB(path()).exec("DELETE FROM RL_LookupTables"));
  Rows before = snapshot(path());
  refused(Edit_RecompileEditLogic(h(), "E1"),
          {tsmf_error("update_edit_tables_pivot", "FOREIGN KEY constraint failed"),
           tsmf_error("update_edit_tables_pivot",
                      "INSERT OR IGNORE INTO RL_EditTablesPivot ([EditPKey], [LookupTablePKey]) VALUES (1, 0);")});
  EXPECT_EQ(before, snapshot(path()));

  // A pivot that cannot be cleared fails the recompilation and rolls it back.
  RawDB(path()).exec("INSERT INTO RL_LookupTables(PKey,TableName,RecCount) VALUES (1,'SITES',0);"
                     "INSERT INTO RL_EditTablesPivot(EditPKey,LookupTablePKey) VALUES (1,1);"
                     "CREATE TRIGGER keep BEFORE DELETE ON RL_EditTablesPivot BEGIN SELECT RAISE(ABORT, 'kept'); END;");
  before = snapshot(path());
  std::string clear = "TSMFWriter::ClearEditLogicPivots\xBB";
  refused(Edit_RecompileEditLogic(h(), "E1"), {clear + "Failure to delete Layout/Field pivot record", clear + "kept",
                                               clear + "SQL: DELETE FROM RL_EditTablesPivot WHERE EditPKey = 1;"});
  EXPECT_EQ(before, snapshot(path()));

  // A data dictionary that cannot be read fails the recompilation with its reason.
  ASSERT_EQ(0, RawDB(path()).exec("DROP TRIGGER keep; ALTER TABLE RL_Fields RENAME TO Gone"));
  refused(recompile("strlen(#S\"Ten\");"),
          {"TEditCompiler::field_name_to_field_num\xBB" "failure to open query",
           "TEditCompiler::field_name_to_field_num\xBB" "SQL: SELECT FieldNumber FROM RL_Fields WHERE FieldName = 'Ten';",
           tsmf_error("RecompileEditLogic", "TSQLQuery.open_query")});
  EXPECT_EQ("old", compiled());
}

// Cut to an int, the edit's key would put its pivot rows under edit 2.
TEST_F(Recompile, EditKeysBeyondAnIntAreRefusedNotCut) {
  exec("INSERT INTO RL_Edits(PKey,EditTag,EditName,EditLogic) VALUES (2,'E2','Two',''),"
       " (4294967298,'BIG','Big','strlen(#S\"Ten\");');");
  Rows before = snapshot(path());
  refused(Edit_RecompileEditLogic(h(), "BIG"),
          {tsmf_error("RecompileEditLogic", key_refusal("4294967298", "RL_Edits")),
           tsmf_error("RecompileEditLogic",
                      "SELECT [PKey], [MessagePKey], [EditLogic] FROM [RL_Edits] WHERE [EditTag] = 'BIG';")});
  EXPECT_EQ(before, snapshot(path()));
}

// Pivot rows of another edit at the greatest key an int holds: the rows the
// recompilation writes take free keys, never keys past an int, which no
// export could name again.
TEST_F(Recompile, PivotRowsGetKeysAnIntHolds) {
  exec("INSERT INTO RL_Edits(PKey,EditTag,EditName) VALUES (2,'E2','Two');"
       "INSERT INTO RL_EditFieldsPivot VALUES (2147483647, 2, 1, 1);"
       "INSERT INTO RL_EditMessagesPivot VALUES (2147483647, 2, 2, 'W');"
       "INSERT INTO RL_EditErrorsPivot VALUES (2147483647, 2, 'other', 'E');"
       "INSERT INTO RL_EditTablesPivot VALUES (2147483647, 2, 1);");
  ASSERT_EQ(0, recompile(kPivotLogic));
  EXPECT_EQ((Rows{"1|3|3", "2|4|4", "1|3|A", "1|bad|E", "1|1"}), logic_pivots());
}

// Past the top key each pivot row takes the key past the greatest below it;
// with the keys at both ends taken, another free key: none is lost to the
// INSERT OR IGNORE that writes it over a key already held.
TEST_F(Recompile, PivotRowsPastTheTopTakeFreeKeys) {
  exec("INSERT INTO RL_Edits(PKey,EditTag,EditName) VALUES (2,'E2','Two'), (3,'E3','Three');"
       "INSERT INTO RL_EditFieldsPivot VALUES (8, 2, 1, 1), (2147483647, 2, 2, 2);"
       "INSERT INTO RL_EditMessagesPivot VALUES (8, 2, 2, 'W'), (2147483647, 2, 3, 'W');"
       "INSERT INTO RL_EditErrorsPivot VALUES (8, 2, 'other', 'E'), (2147483647, 2, 'more', 'E');"
       "INSERT INTO RL_EditTablesPivot VALUES (8, 2, 1), (2147483647, 3, 1);");
  ASSERT_EQ(0, recompile(kPivotLogic));
  EXPECT_EQ((Rows{"9|3|3", "10|4|4", "9|3|A", "9|bad|E", "9|1"}), logic_pivots());

  // Deleted here, E1's fields start their order again.
  exec("DELETE FROM RL_EditFieldsPivot; DELETE FROM RL_EditMessagesPivot; DELETE FROM RL_EditErrorsPivot;"
       "DELETE FROM RL_EditTablesPivot;"
       "INSERT INTO RL_EditFieldsPivot VALUES (1, 2, 1, 1), (2147483646, 2, 2, 2), (2147483647, 3, 1, 1);"
       "INSERT INTO RL_EditMessagesPivot VALUES (1, 2, 2, 'W'), (2147483646, 2, 3, 'W'), (2147483647, 3, 2, 'W');"
       "INSERT INTO RL_EditErrorsPivot VALUES (1, 2, 'one', 'E'), (2147483646, 2, 'two', 'E'),"
       " (2147483647, 3, 'three', 'E');"
       "INSERT INTO RL_EditTablesPivot VALUES (1, 2, 1), (2147483647, 3, 1);"
       "INSERT INTO RL_LookupTables(PKey,TableName,RecCount) VALUES (2147483646,'OTHER',0);"
       "INSERT INTO RL_EditTablesPivot VALUES (2147483646, 2, 2147483646);");
  ASSERT_EQ(0, recompile(kPivotLogic));
  Rows keys;
  for (const std::string& row : logic_pivots()) {
    size_t bar = row.find('|');
    long long key = std::stoll(row.substr(0, bar));
    keys.push_back((key > 1 && key < 2147483646 ? "free" : "taken") + row.substr(bar));
  }
  EXPECT_EQ((Rows{"free|3|1", "free|4|2", "free|3|A", "free|bad|E", "free|1"}), keys);
}

// What the write depends on is read inside it: an edit changed by another
// connection while the recompilation waits for the write lock is compiled as
// that connection left it, never its old source beside the new one.
TEST_F(Recompile, TheSourceIsReadInsideTheWrite) {
  set_logic("return PASS;");
  RawDB other(path());
  ASSERT_EQ(SQLITE_OK, other.exec("BEGIN IMMEDIATE"));
  int result = -99;
  std::thread recompiling([this, &result] { result = Edit_RecompileEditLogic(h(), "E1"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(SQLITE_OK, other.exec("UPDATE RL_Edits SET EditLogic = 'return FAIL;' WHERE PKey = 1; COMMIT;"));
  recompiling.join();
  EXPECT_EQ(0, result);
  EXPECT_EQ("return FAIL;|@DQ;", value("SELECT EditLogic || '|' || CompiledLogic FROM RL_Edits WHERE PKey = 1"));
}

TEST_F(Recompile, SyntaxCheckReadersAndLocalNames) {
  int errors = -1, warnings = -1, line = 0, count = 0, kind = 0, number = 0;
  char text[100] = "untouched";
  ASSERT_EQ(0, Qb_CheckSyntax(h(), "int x;\nx = 1;", &errors, &warnings));
  EXPECT_EQ(0, errors);
  refused(Qb_GetSyntaxError(h(), 0, &line, text, sizeof text),
          {tsmf_error("GetSyntaxError", "No errors were generated by the syntax checker")});

  std::string source = "int x;\nerror_msg(5);\nsave_warning_text(7);\nsave_text(\"why\");\nif (x = 1) x = 2;";
  ASSERT_EQ(0, Qb_CheckSyntax(h(), source.c_str(), &errors, &warnings));
  EXPECT_EQ("0|2", std::to_string(errors) + "|" + std::to_string(warnings));
  ASSERT_EQ(0, Qb_GetSyntaxWarning(h(), 1, &line, text, sizeof text));
  EXPECT_EQ("5|Line    5: possible incorrect assignment (did you mean \"==\"?)", std::to_string(line) + "|" + text);
  refused(Qb_GetSyntaxWarning(h(), 2, &line, text, sizeof text),
          {tsmf_error("GetSyntaxWarning", "warning_idx must be between 0 and 1")});
  ASSERT_EQ(0, Qb_GetLogicListCount(h(), 'M', &count));
  ASSERT_EQ(0, Qb_GetLogicMessageNumber(h(), 1, &kind, &number));
  EXPECT_EQ("2|W7", std::to_string(count) + "|" + static_cast<char>(kind) + std::to_string(number));
  ASSERT_EQ(0, Qb_GetLogicErrorMessage(h(), 0, &kind, text, sizeof text));
  EXPECT_EQ("S|why", static_cast<char>(kind) + std::string("|") + text);
  ASSERT_EQ(0, Qb_CheckSyntax(h(), "int n;\nn = lookup(\"a\", \"SITES.CODE\");", &errors, &warnings));
  ASSERT_EQ(0, Qb_GetLogicTableName(h(), 0, text, sizeof text));
  EXPECT_STREQ("SITES", text);

  EXPECT_EQ((Rows{"0", "TEditCompiler::GetLogicListCount\xBB" "Invalid value in parameter 'which_list'"}),
            outcome(h(), Qb_GetLogicListCount(h(), 'X', &count)));
  EXPECT_EQ(-1, count);
  // An index outside a list, below 0 as well, is refused and leaves the outputs alone.
  number = 99;
  kind = 99;
  strcpy(text, "untouched");
  const std::string bounds = "\xBB" "Parameter 'idx' (";
  const std::pair<std::function<int()>, std::string> outside[] = {
      {[&] { return Qb_GetLogicFieldNumber(h(), 0, &number); },
       "TEditCompiler::GetLogicFieldNumber" + bounds + "0) out of bounds for list FLogicFieldsList"},
      {[&] { return Qb_GetLogicFieldNumber(h(), -1, &number); },
       "TEditCompiler::GetLogicFieldNumber" + bounds + "-1) out of bounds for list FLogicFieldsList"},
      {[&] { return Qb_GetLogicTableName(h(), -1, text, sizeof text); },
       "TEditCompiler::GetLogicTableName" + bounds + "-1) out of bounds for list FLogicTablesList"},
      {[&] { return Qb_GetLogicErrorMessage(h(), -1, &kind, text, sizeof text); },
       "TEditCompiler::GetLogicErrorMessage" + bounds + "-1) out of bounds for list FLogicErrorMessagesList"},
      {[&] { return Qb_GetLogicMessageNumber(h(), INT_MIN, &kind, &number); },
       "TEditCompiler::GetLogicMessageNumber" + bounds + std::to_string(INT_MIN) +
           ") out of bounds for list FLogicMessageNumbersList"}};
  for (const auto& [call, error] : outside) refused(call(), {error});
  EXPECT_EQ("99|99|untouched", std::to_string(number) + "|" + std::to_string(kind) + "|" + text);
  refused(Qb_CheckSyntax(h(), nullptr, &errors, &warnings), {tsmf_error("CheckSyntax", "Parameter \"source\" must not be NULL")});
  // A syntax check that cannot read the messages says why.
  ASSERT_EQ(0, RawDB(path()).exec("ALTER TABLE RL_Messages RENAME TO Gone"));
  refused(Qb_CheckSyntax(h(), "error_msg(5);", &errors, &warnings), {tsmf_error("CheckSyntax", "TSQLQuery.open_query")});
  EXPECT_EQ(0, Edit_UpdateAllAccessField(h(), "rl_fields", 3, "localname", "Site of 'origin'"));
  EXPECT_EQ(0, Edit_UpdateAllAccessField(h(), "RL_Fields", 123, "LocalName", std::string(600, 'x').c_str()));
  EXPECT_EQ((Rows{"1|L10", "2|L20", "3|Site of 'origin'", "4|L40"}), rows("SELECT PKey, LocalName FROM RL_Fields ORDER BY PKey"));
  EXPECT_EQ(-1, Edit_UpdateAllAccessField(h(), "RL_Edits", 1, "LocalName", "x"));
  refused(Edit_UpdateAllAccessField(h(), "RL_Fields", 1, "FieldName", "x"),
          {tsmf_error("UpdateAllAccessField", "Inappropriate use of this function; please read documentation")});
  refused(Edit_UpdateAllAccessField(h(), "RL_Fields", 2, "LocalName", "L10"),
          {tsmf_error("UpdateAllAccessField", "UNIQUE constraint failed: RL_Fields.LocalName")});
}

