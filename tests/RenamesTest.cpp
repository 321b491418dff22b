// Renames carried into edit logic: a posted field name or number, message number or lookup-table name
// reaches the source of every edit the pivots list, which is recompiled; failures roll the post back.
#include "AuthoringTestSupport.h"
#include "api/EditAPI.h"
#include "api/SMF.h"
#include "storage/SQLDB.h"

namespace {

const char* const kSetup =
    "INSERT INTO RL_Fields(PKey, FieldNumber, FieldName, LocalName, FieldLength) VALUES"
    " (1, 10, 'AGE', 'L1', 3), (2, 11, 'AGES', 'L2', 3), (3, 12, 'Other', 'L3', 3);"
    "INSERT INTO RL_Messages(PKey, MessageNumber, Message) VALUES (2, 12, 'twelve'), (3, 112, 'many'), (4, 5, 'five');"
    "CREATE TABLE ZIPS([PKey] integer NOT NULL PRIMARY KEY, [CODE] varchar(10) NOT NULL, [Stamp] varchar(1) NULL);"
    "CREATE INDEX xZIPS_CODE ON [ZIPS] ([CODE], [PKey]);"
    "CREATE TRIGGER _ZIPS_stamp AFTER UPDATE ON ZIPS BEGIN UPDATE ZIPS SET Stamp = 'x' WHERE PKey = new.PKey; END;"
    "INSERT INTO ZIPS(CODE) VALUES ('12345'), ('54321');"
    "CREATE TABLE ZIPSX([PKey] integer NOT NULL PRIMARY KEY, [CODE] varchar(10) NOT NULL);"
    "CREATE INDEX xZIPSX_CODE ON [ZIPSX] ([CODE], [PKey]);"
    "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'ZIPS', 2), (2, 'ZIPSX', 0);"
    "CREATE TABLE TAKEN(a);";

const char* const kFieldLogic =
    "char s[10];\nstrcpy(s, #S\"AGE\");\nstrcpy(s, #s \t\"age\");\nstrcpy(s, #S\"AGES\");\nstrcpy(s, \"AGE\");\n"
    "if (s == 'x') return FAIL;\nreturn PASS;";
const char* const kMessageLogic =
    "char s[20];\nint n;\nn = 12;\nstrcpy(s, substr(#S\"Other\", 12, 1));\n"
    "if (n > 1) error_msg(12);\nif (n > 2) SET_WARNING( 12 );\nif (n > 3) error_msg(112);\n"
    "if (n > 4) save_error_text(5, 12);\nreturn FAIL;";
const char* const kTableLogic =
    "if (lookup(#S\"AGE\", \"ZIPS.CODE\")) return PASS;\nif (lookup(#S\"AGE\", \"zips.code\")) return PASS;\n"
    "if (lookup(#S\"AGE\", \"ZIPSX.CODE\")) return PASS;\nreturn FAIL;";

class Renames : public MetafileTest {
 protected:
  Renames() : MetafileTest(kSetup) {
    const char* const logics[] = {kFieldLogic, kMessageLogic, kTableLogic};
    for (int pkey = 1; pkey <= 3; ++pkey) {
      std::string tag = "E" + std::to_string(pkey);
      EXPECT_EQ(pkey, insert_row(h(), "RL_Edits", {{"EditTag", tag.c_str()}, {"EditName", tag.c_str()},
                                                   {"EditLogic", logics[pkey - 1]}}));
      // E1 compares a character variable's address with a constant: a warning.
      EXPECT_EQ(pkey == 1 ? -3 : 0, Edit_RecompileEditLogic(h(), tag.c_str())) << tag;
    }
  }
  std::string logic(int pkey) { return value("SELECT EditLogic FROM RL_Edits WHERE PKey = " + std::to_string(pkey)); }
  std::string compiled(int pkey) { return value("SELECT CompiledLogic FROM RL_Edits WHERE PKey = " + std::to_string(pkey)); }
  const std::string kDependents = "Failure to update the logic of the edits that depend on RL_Fields.FieldName";
  const std::string kDanger = "DANGER! Failed attempt to rename table may have corrupted this metafile. Close it WITHOUT saving!";
};

}  // namespace

TEST_F(Renames, FieldNameReachesEveryReferenceInAnyCaseAndNumberOnlyTheCompiledText) {
  std::string before = compiled(1);
  ASSERT_EQ(0, edit_row(h(), "RL_Fields", 1, {{"FieldName", "YEARS"}}));
  EXPECT_EQ(
      "char s[10];\nstrcpy(s, #S\"YEARS\");\nstrcpy(s, #S\"YEARS\");\nstrcpy(s, #S\"AGES\");\nstrcpy(s, \"AGE\");\n"
      "if (s == 'x') return FAIL;\nreturn PASS;",
      logic(1));
  EXPECT_EQ(before, compiled(1));  // fields are compiled by number
  EXPECT_EQ("if (lookup(#S\"YEARS\", \"ZIPS.CODE\")) return PASS;\nif (lookup(#S\"YEARS\", \"zips.code\")) return PASS;\n"
            "if (lookup(#S\"YEARS\", \"ZIPSX.CODE\")) return PASS;\nreturn FAIL;",
            logic(3));
  EXPECT_EQ(kMessageLogic, logic(2));
  EXPECT_EQ(Rows{}, engine_errors(h()));

  std::string source = logic(1), expected = before;
  ASSERT_EQ(0, edit_row(h(), "RL_Fields", 1, {{"FieldNumber", "40"}}));
  EXPECT_EQ(source, logic(1));
  for (size_t at = expected.find("#10"); at != std::string::npos; at = expected.find("#10", at)) expected.replace(at, 3, "#40");
  EXPECT_EQ(expected, compiled(1));
  EXPECT_NE(before, expected);
}

TEST_F(Renames, MessageNumberAndLookupTableNameReachTheirUses) {
  ASSERT_EQ(0, edit_row(h(), "RL_Messages", 2, {{"MessageNumber", "15"}}));
  EXPECT_EQ("char s[20];\nint n;\nn = 12;\nstrcpy(s, substr(#S\"Other\", 12, 1));\n"
            "if (n > 1) error_msg(15);\nif (n > 2) SET_WARNING( 15 );\nif (n > 3) error_msg(112);\n"
            "if (n > 4) save_error_text(5, 15);\nreturn FAIL;",
            logic(2));
  EXPECT_NE("", compiled(2));
  EXPECT_EQ(Rows{}, engine_errors(h()));
  // The logic takes the number as stored, not the text posted.
  ASSERT_EQ(0, edit_row(h(), "RL_Messages", 2, {{"MessageNumber", "1.6e1"}}));
  EXPECT_EQ("char s[20];\nint n;\nn = 12;\nstrcpy(s, substr(#S\"Other\", 12, 1));\n"
            "if (n > 1) error_msg(16);\nif (n > 2) SET_WARNING( 16 );\nif (n > 3) error_msg(112);\n"
            "if (n > 4) save_error_text(5, 16);\nreturn FAIL;",
            logic(2));
  EXPECT_NE("", compiled(2));
  ASSERT_EQ(0, edit_row(h(), "RL_LookupTables", 1, {{"TableName", "POSTCODES"}}));
  EXPECT_EQ("if (lookup(#S\"AGE\", \"POSTCODES.CODE\")) return PASS;\nif (lookup(#S\"AGE\", \"POSTCODES.code\")) return PASS;\n"
            "if (lookup(#S\"AGE\", \"ZIPSX.CODE\")) return PASS;\nreturn FAIL;",
            logic(3));
  EXPECT_NE("", compiled(3));
  RawDB db(path());
  EXPECT_EQ((Rows{"table|POSTCODES|CREATE TABLE [POSTCODES]([PKey] integer NOT NULL PRIMARY KEY, [CODE] varchar(10) NOT "
                  "NULL, [Stamp] varchar(1) NULL)",
                  "trigger|_POSTCODE_stamp|CREATE TRIGGER _POSTCODE_stamp AFTER UPDATE ON [POSTCODES] BEGIN UPDATE "
                  "[POSTCODES] SET Stamp = 'x' WHERE PKey = new.PKey; END",
                  "index|xPOSTCODE_CODE|CREATE INDEX xPOSTCODE_CODE ON [POSTCODES] ([CODE], [PKey])"}),
            db.rows("SELECT type, name, sql FROM sqlite_master WHERE tbl_name LIKE '%CODES' ORDER BY name"));
  EXPECT_EQ((Rows{"1|12345|<null>", "2|54321|<null>"}), db.rows("SELECT * FROM POSTCODES"));
  EXPECT_EQ((Rows{"1|POSTCODES|2", "2|ZIPSX|0"}), db.rows("SELECT PKey, TableName, RecCount FROM RL_LookupTables"));
  EXPECT_EQ("", db.value("SELECT name FROM sqlite_master WHERE tbl_name = 'ZIPS'"));
  // The model knows the new table and has forgotten the old one.
  EXPECT_EQ(3, out_int(Edit_GetColumnsCount, h(), "postcodes"));
  EXPECT_EQ(1, out_int(Edit_GetTriggerCount, h(), "POSTCODES"));
  EXPECT_EQ(-1, Qb_Edit(h(), "ZIPS", 1));
  // Writing the same name back renames nothing.
  EXPECT_EQ(0, edit_row(h(), "RL_LookupTables", 1, {{"TableName", "POSTCODES"}, {"Comments", "kept"}}));
}

TEST_F(Renames, FailedRenamesLeaveEverything) {
  Rows before = snapshot(path());
  refused(edit_row(h(), "RL_LookupTables", 1, {{"TableName", "TAKEN"}}),
          {tsmf_error("RenameLookupTable", "CREATE TABLE under new name failed"),
           tsmf_error("RenameLookupTable", "table [TAKEN] already exists"),
           tsmf_error("RenameLookupTable", "SQL: CREATE TABLE [TAKEN]([PKey] integer NOT NULL PRIMARY KEY, "
                                           "[CODE] varchar(10) NOT NULL, [Stamp] varchar(1) NULL)"),
           writer_error("post_edit", kDanger)});
  EXPECT_EQ(before, snapshot(path()));
  EXPECT_EQ(3, out_int(Edit_GetColumnsCount, h(), "ZIPS"));
  // A rename whose propagation fails after the table was renamed is undone in
  // the file and in the table model.
  ASSERT_EQ(SQLITE_OK, RawDB(path()).exec("CREATE TRIGGER keep BEFORE UPDATE OF EditLogic ON RL_Edits "
                                          "BEGIN SELECT RAISE(ABORT, 'kept'); END;"));
  before = snapshot(path());
  refused(edit_row(h(), "RL_LookupTables", 1, {{"TableName", "POSTCODES"}}), {writer_error("post_edit", kDanger)});
  EXPECT_EQ(before, snapshot(path()));
  EXPECT_EQ(3, out_int(Edit_GetColumnsCount, h(), "ZIPS"));
  EXPECT_EQ(-1, Qb_Edit(h(), "POSTCODES", 1));

  refused(edit_row(h(), "RL_Fields", 1, {{"FieldName", "YEARS"}}), {writer_error("post_edit", kDependents)});
  EXPECT_EQ(before, snapshot(path()));
}

// A rename that would leave a foreign key (whatever its action), a trigger or
// a view naming the old table is refused, changes nothing and warns of no
// danger; a string, a column or an alias that spells the name where the
// database reads no table refers to nothing.
TEST_F(Renames, RenamesThatWouldLeaveReferencesToTheOldTableAreRefusedAndChangeNothing) {
  const char* const child = "CREATE TABLE Child([PKey] integer PRIMARY KEY, [Note] text, [ZipKey] integer REFERENCES ";
  const char* const rows = "INSERT INTO Child VALUES (1, 'a', 1), (2, 'b', 1), (3, 'c', 2);";
  const struct {
    std::string Create, Referrer, Drop;
  } cases[] = {
      {child + std::string("ZIPS(PKey) ON DELETE CASCADE);") + rows, "table \"Child\"", "DROP TABLE Child"},
      {child + std::string("[zips](PKey) ON DELETE SET NULL);") + rows, "table \"Child\"", "DROP TABLE Child"},
      {child + std::string("\"Zips\");") + rows, "table \"Child\"", "DROP TABLE Child"},
      {"CREATE TABLE Log(a); CREATE TRIGGER log_zip AFTER UPDATE ON Log BEGIN UPDATE `Zips` SET CODE = 'l'; END;",
       "trigger \"log_zip\"", "DROP TABLE Log"},
      {"CREATE VIEW Codes AS SELECT CODE FROM main.ZIPS;", "view \"Codes\"", "DROP VIEW Codes"},
      {"CREATE TRIGGER _ZIPS_count AFTER INSERT ON ZIPS BEGIN SELECT (SELECT count(*) FROM ZIPS); END;",
       "trigger \"_ZIPS_count\"", "DROP TRIGGER _ZIPS_count"},
      // Where a table's name stands, the database takes a string for one.
      {"CREATE VIEW Quoted AS SELECT * FROM main.'ZIPS';", "view \"Quoted\"", "DROP VIEW Quoted"},
      {"CREATE TABLE Log(a); CREATE TRIGGER log_zip AFTER INSERT ON Log BEGIN INSERT INTO 'Zips'(CODE) "
       "VALUES (new.a); END;",
       "trigger \"log_zip\"", "DROP TABLE Log"},
      {"CREATE TRIGGER _ZIPS_count AFTER INSERT ON ZIPS WHEN (SELECT count(*) FROM 'ZIPS') > 0 BEGIN SELECT 1; END;",
       "trigger \"_ZIPS_count\"", "DROP TRIGGER _ZIPS_count"},
      {"CREATE VIEW Listed AS SELECT * FROM RL_Control, (ZIPS);", "view \"Listed\"", "DROP VIEW Listed"},
      {"CREATE VIEW Listed AS SELECT * FROM RL_Control AS c, ZIPS;", "view \"Listed\"", "DROP VIEW Listed"},
      // A column the table's own trigger qualifies by the old name, once its write is renamed.
      {"CREATE TRIGGER _ZIPS_q AFTER INSERT ON ZIPS BEGIN UPDATE ZIPS SET Stamp = ZIPS.Stamp; END;",
       "trigger \"_ZIPS_q\"", "DROP TRIGGER _ZIPS_q"}};
  // A string, a column or an alias spelt like the table names no table.
  exec("CREATE TRIGGER _ZIPSX_note AFTER INSERT ON ZIPSX BEGIN SELECT 'ZIPS'; END;"
       "CREATE TABLE Tree([PKey] integer PRIMARY KEY, [Zips] integer);"
       "CREATE TRIGGER tree_zips AFTER DELETE ON Tree BEGIN UPDATE Tree SET Zips = NULL WHERE Zips = old.PKey; "
       "SELECT old.Zips, Tree.Zips FROM Tree; END;"
       "CREATE VIEW Aliased AS SELECT 1 AS ZIPS, (SELECT 2) ZIPS2 FROM Tree AS ZIPS;");
  for (const auto& c : cases) {
    exec(c.Create);
    Rows before = snapshot(path());
    refused(edit_row(h(), "RL_LookupTables", 1, {{"TableName", "POSTCODES"}}),
            {tsmf_error("RenameLookupTable", "Table \"ZIPS\" cannot be renamed: " + c.Referrer +
                                                 " refers to it, and would be left naming a table that is gone")});
    EXPECT_EQ(before, snapshot(path())) << c.Create;
    exec(c.Drop);
  }
  EXPECT_EQ((Rows{"0"}), outcome(h(), edit_row(h(), "RL_LookupTables", 1, {{"TableName", "POSTCODES"}})));
}

// A field name holding a double quote would close the references to it in
// every edit that uses the field, another agency's too, and add statements of
// its own: it is refused on edit and on insert, and nothing is written.
TEST_F(Renames, AFieldNameHoldingADoubleQuoteIsRefusedAndCarriesNothing) {
  exec("INSERT INTO RL_Agencies(PKey, AdminCode, OrgName, Password) VALUES (2, 'VIC', 'Victim', 'x');"
       "UPDATE RL_Edits SET AgencyPKey = 2 WHERE PKey = 1;");
  ASSERT_EQ(-1, Qb_Edit(h(), "RL_Edits", 1));
  Rows before = snapshot(path());
  const std::string refusal = "A field name may not hold a double quote (\"): no edit logic could name the field";
  refused(edit_row(h(), "RL_Fields", 1, {{"FieldName", "VICF\"); return FAIL; strcpy(s, #S\"VICF"}}),
          {writer_error("Post", refusal)});
  int pkey = -1;
  ASSERT_EQ(0, Qb_Insert(h(), "RL_Fields"));
  ASSERT_EQ(0, set_values(h(), "RL_Fields", {{"FieldNumber", "13"}, {"FieldName", "A\"B"}, {"LocalName", "L4"}}));
  refused(Qb_Post(h(), "RL_Fields", &pkey), {writer_error("Post", refusal)});
  EXPECT_EQ(0, pkey);
  EXPECT_EQ(before, snapshot(path()));
  // The buffer is left as after any post.
  refused(Qb_Post(h(), "RL_Fields", &pkey),
          {writer_error("Post", "Table named \"RL_Fields\" is NOT in insert or edit mode; cannot post")});

  ASSERT_EQ(0, edit_row(h(), "RL_Fields", 1, {{"FieldName", "VICF"}}));
  EXPECT_EQ("char s[10];\nstrcpy(s, #S\"VICF\");\nstrcpy(s, #S\"VICF\");\nstrcpy(s, #S\"AGES\");\n"
            "strcpy(s, \"AGE\");\nif (s == 'x') return FAIL;\nreturn PASS;",
            logic(1));
}

// A recompilation that fails as a statement fails the post; logic that no
// longer compiles does not.
TEST_F(Renames, RecompilationFailuresAndCompileErrors) {
  ASSERT_EQ(SQLITE_OK, RawDB(path()).exec("CREATE TRIGGER keep BEFORE DELETE ON RL_EditTablesPivot "
                                          "BEGIN SELECT RAISE(ABORT, 'kept'); END;"));
  Rows before = snapshot(path());
  EXPECT_EQ(-1, edit_row(h(), "RL_Fields", 1, {{"FieldName", "YEARS"}}));
  EXPECT_EQ(writer_error("post_edit", kDependents), engine_errors(h()).back());
  EXPECT_EQ(before, snapshot(path()));

  ASSERT_EQ(SQLITE_OK, RawDB(path()).exec("DROP TRIGGER keep;"
                                          "UPDATE RL_Edits SET EditLogic = 'strcpy(t, #S\"AGE\");' WHERE PKey = 1"));
  EXPECT_EQ(0, edit_row(h(), "RL_Fields", 1, {{"FieldName", "YEARS"}}));
  EXPECT_EQ("strcpy(t, #S\"YEARS\");", logic(1));
  EXPECT_EQ("", compiled(1));
  EXPECT_EQ(Rows{}, engine_errors(h()));
}

// Cut to an int, the dependent edit's key would name edit 2, another agency's.
TEST_F(Renames, DependentEditKeysBeyondAnIntAreRefusedNotCut) {
  exec("INSERT INTO RL_Agencies(PKey, AdminCode, OrgName) VALUES (2, 'AG2', 'Two');"
       "UPDATE RL_Edits SET PKey = 4294967298 WHERE PKey = 1;"
       "UPDATE RL_EditFieldsPivot SET EditPKey = 4294967298 WHERE EditPKey = 1;"
       "UPDATE RL_Edits SET AgencyPKey = 2, EditLogic = 'strcpy(s, #S\"AGE\");' WHERE PKey = 2;");
  Rows before = snapshot(path());
  refused(edit_row(h(), "RL_Fields", 1, {{"FieldName", "YEARS"}}),
          {writer_error("post_edit", key_refusal("4294967298", "RL_Edits")), writer_error("post_edit", kDependents)});
  EXPECT_EQ(before, snapshot(path()));
}

namespace {

// Lookup table LT with an index and a trigger that writes it, and tables A and
// B beside it, B with a generated column, which no UPDATE may set.
const char* const kChecked =
    "CREATE TABLE LT([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(10) NOT NULL, [Stamp] varchar(1) NULL);"
    "CREATE INDEX xLT_Code ON [LT] ([Code]);"
    "CREATE TRIGGER _LT_stamp AFTER UPDATE OF Code ON LT BEGIN UPDATE LT SET Stamp = 'x' WHERE PKey = new.PKey; END;"
    "INSERT INTO LT(Code) VALUES ('a'), ('b');"
    "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'LT', 2);"
    "CREATE TABLE A([PKey] integer PRIMARY KEY, [k] integer, [Note] text);"
    "CREATE TABLE B([PKey] integer PRIMARY KEY, [k] integer, [Seen] text,"
    " [Twice] integer GENERATED ALWAYS AS (k * 2) VIRTUAL);"
    "INSERT INTO A(k) VALUES (1), (2); INSERT INTO B(k) VALUES (1);";

const char* const kRefusedTail = " refers to it, and would be left naming a table that is gone";

class RenameChecks : public MetafileTest {
 protected:
  RenameChecks() : MetafileTest(kChecked) {}

  // Renames LT to LT2 through its catalogue row: -1 with exactly the refusal
  // naming `referrer` (no DANGER line), the file as it was, LT with its rows,
  // index, trigger and catalogue row, nothing named after LT2 and the table
  // model as it was; then each of `works` still runs on the file.
  void expect_refused(const std::string& referrer, const std::vector<std::string>& works) {
    const Rows before = snapshot(path());
    refused(edit_row(h(), "RL_LookupTables", 1, {{"TableName", "LT2"}}),
            {tsmf_error("RenameLookupTable", "Table \"LT\" cannot be renamed: " + referrer + kRefusedTail)});
    EXPECT_EQ(before, snapshot(path())) << referrer;
    EXPECT_EQ((Rows{"1|a|<null>", "2|b|<null>"}), rows("SELECT * FROM LT WHERE PKey < 3"));
    EXPECT_EQ((Rows{"1|LT"}), rows("SELECT PKey, TableName FROM RL_LookupTables"));
    EXPECT_EQ("0", value("SELECT count(*) FROM sqlite_master WHERE name LIKE '%LT2%' OR tbl_name = 'LT2'"));
    EXPECT_EQ(3, out_int(Edit_GetColumnsCount, h(), "LT"));
    EXPECT_EQ(1, out_int(Edit_GetIndexCount, h(), "LT"));
    EXPECT_EQ(value("SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND tbl_name = 'LT'"),
              std::to_string(out_int(Edit_GetTriggerCount, h(), "LT")));
    EXPECT_EQ(-99, out_int(Edit_GetColumnsCount, h(), "LT2"));
    RawDB raw(path());
    for (const std::string& sql : works)
      EXPECT_EQ(SQLITE_OK, raw.exec(sql)) << sql << ": " << sqlite3_errmsg(raw.handle());
  }

  // Renames LT to LT2, which must succeed.
  void expect_renamed() {
    ASSERT_EQ((Rows{"0"}), outcome(h(), edit_row(h(), "RL_LookupTables", 1, {{"TableName", "LT2"}})));
    EXPECT_EQ((Rows{"1|a|<null>", "2|b|<null>"}), rows("SELECT * FROM LT2"));
    EXPECT_EQ("", value("SELECT name FROM sqlite_master WHERE name = 'LT'"));
    EXPECT_EQ(3, out_int(Edit_GetColumnsCount, h(), "LT2"));
    EXPECT_EQ(-99, out_int(Edit_GetColumnsCount, h(), "LT"));
  }
};

}  // namespace

// The four forms the database reads as LT that a reading of the texts missed:
// a FROM list that goes on after a join's ON or USING clause, and a schema
// name in quotes or brackets, in a view, in another table's trigger and in
// LT's own trigger, re-made on the new table as it was written.
TEST_F(RenameChecks, ViewsAndTriggersThatTheDatabaseReadsAsTheTableRefuseTheRename) {
  exec("CREATE VIEW v AS SELECT count(*) AS n FROM A JOIN B ON A.k = B.k, LT;");
  expect_refused("view \"v\"", {"SELECT n FROM v"});
  EXPECT_EQ("2", value("SELECT n FROM v"));
  exec("DROP VIEW v; CREATE VIEW v AS SELECT Code FROM \"main\".LT;");
  expect_refused("view \"v\"", {"SELECT Code FROM v"});
  exec("DROP VIEW v; CREATE VIEW v AS SELECT Code FROM [main].[LT];");
  expect_refused("view \"v\"", {"SELECT Code FROM v"});
  exec("DROP VIEW v;"
       "CREATE TRIGGER a_reads AFTER INSERT ON A BEGIN UPDATE A SET Note = (SELECT count(*) FROM \"main\".LT)"
       " WHERE PKey = new.PKey; END;");
  expect_refused("trigger \"a_reads\"", {"INSERT INTO A(k) VALUES (3)"});
  EXPECT_EQ("3|2", value("SELECT k, Note FROM A WHERE k = 3"));
  exec("DROP TRIGGER a_reads;"
       "CREATE TRIGGER a_reads AFTER INSERT ON A BEGIN SELECT * FROM [main].[LT]; END;");
  expect_refused("trigger \"a_reads\"", {"INSERT INTO A(k) VALUES (4)"});
  exec("DROP TRIGGER a_reads;"
       "CREATE TRIGGER _LT_count AFTER INSERT ON LT BEGIN UPDATE LT SET Stamp = (SELECT count(*) FROM \"main\".LT)"
       " WHERE PKey = new.PKey; END;");
  expect_refused("trigger \"_LT_count\"", {"INSERT INTO LT(PKey, Code) VALUES (9, 'c')"});
  EXPECT_EQ("9|c|3", value("SELECT * FROM LT WHERE PKey = 9"));
  exec("DELETE FROM LT WHERE PKey = 9; DROP TRIGGER _LT_count;");
  expect_renamed();
}

// Forms beyond those: a subquery in a view's select list, a trigger's WHEN
// clause, an UPDATE OF trigger (compiled only when its column is set), an
// INSTEAD OF trigger on a view, a name in back-quotes and one as a string,
// each where the database reads it as the table.
const char* const kInsteadOfView =
    "CREATE VIEW vB AS SELECT 1 AS x; CREATE TRIGGER vb_ins INSTEAD OF INSERT ON vB BEGIN SELECT 1; END;"
    "CREATE VIEW vA AS SELECT 1 AS y;";
TEST_F(RenameChecks, SubqueriesWhenClausesUpdateOfAndInsteadOfTriggersAndQuotedNamesRefuseTheRename) {
  const struct {
    std::string Create, Referrer, Works, Drop;
  } cases[] = {
      {"CREATE VIEW v AS SELECT k, (SELECT count(*) FROM \"main\".\"LT\") AS c FROM A;", "view \"v\"",
       "SELECT c FROM v", "DROP VIEW v"},
      {"CREATE VIEW v AS SELECT * FROM A LEFT JOIN B USING (k), `main`.`LT`;", "view \"v\"", "SELECT * FROM v",
       "DROP VIEW v"},
      {"CREATE VIEW v AS SELECT * FROM A JOIN B ON (A.k = B.k), 'main'.'LT';", "view \"v\"", "SELECT * FROM v",
       "DROP VIEW v"},
      {"CREATE TRIGGER a_when AFTER INSERT ON A WHEN (SELECT count(*) FROM [main].[LT]) > 0 BEGIN SELECT 1; END;",
       "trigger \"a_when\"", "INSERT INTO A(k) VALUES (5)", "DROP TRIGGER a_when"},
      {"CREATE TRIGGER b_seen AFTER UPDATE OF Seen ON B BEGIN DELETE FROM A WHERE k IN "
       "(SELECT A.PKey FROM A JOIN B USING (k), LT WHERE 0); END;",
       "trigger \"b_seen\"", "UPDATE B SET Seen = 'y'", "DROP TRIGGER b_seen"},
      {"CREATE VIEW va AS SELECT k FROM A; CREATE TRIGGER va_insert INSTEAD OF INSERT ON va BEGIN "
       "INSERT INTO A(k) SELECT count(*) FROM A JOIN B USING (k), LT; END;",
       "trigger \"va_insert\"", "INSERT INTO va VALUES (6)", "DROP VIEW va"},
      {"CREATE TRIGGER _LT_when AFTER UPDATE OF Stamp ON LT WHEN EXISTS (SELECT 1 FROM `main`.LT WHERE 0) "
       "BEGIN SELECT 1; END;",
       "trigger \"_LT_when\"", "UPDATE LT SET Stamp = NULL", "DROP TRIGGER _LT_when"},
      {"CREATE TRIGGER a_string AFTER DELETE ON A BEGIN SELECT * FROM 'main'.'LT'; END;",
       "trigger \"a_string\"", "DELETE FROM A WHERE k = 6", "DROP TRIGGER a_string"},
      // A trigger that writes through a view's INSTEAD OF trigger, or beside
      // one that does, is named for what it reads itself.
      {std::string(kInsteadOfView) + "CREATE TRIGGER va_ins INSTEAD OF INSERT ON vA BEGIN INSERT INTO vB VALUES (1);"
       " INSERT INTO A(k) SELECT count(*) FROM LT; END;",
       "trigger \"va_ins\"", "INSERT INTO vA VALUES (1)", "DROP VIEW vA; DROP VIEW vB"},
      {std::string(kInsteadOfView) + "CREATE TRIGGER a_aaa AFTER INSERT ON A BEGIN INSERT INTO vB VALUES (1); END;"
       "CREATE TRIGGER a_zzz AFTER INSERT ON A BEGIN SELECT * FROM LT; END;",
       "trigger \"a_zzz\"", "INSERT INTO A(k) VALUES (3)", "DROP TRIGGER a_aaa; DROP TRIGGER a_zzz; DROP VIEW vA; DROP VIEW vB"},
      // UPDATE OF triggers on the rowid, by any of its names.
      {"CREATE TRIGGER a_rowid AFTER UPDATE OF rowid ON A BEGIN SELECT * FROM LT; END;", "trigger \"a_rowid\"",
       "UPDATE A SET rowid = rowid", "DROP TRIGGER a_rowid"},
      {"CREATE TRIGGER b_oid AFTER UPDATE OF oid ON B BEGIN SELECT Code FROM LT; END;", "trigger \"b_oid\"",
       "UPDATE B SET oid = oid", "DROP TRIGGER b_oid"},
      {"CREATE TABLE WR([id] integer PRIMARY KEY, [rowid] text, [v] text) WITHOUT ROWID;"
       "CREATE TRIGGER wr_upd AFTER UPDATE OF v ON WR BEGIN SELECT Code FROM LT; END;",
       "trigger \"wr_upd\"", "UPDATE WR SET v = v", "DROP TABLE WR"},
      // Reads inside a CTE, a subquery of a FROM list, a window function, and
      // a branch the database folds away but still resolves.
      {"CREATE TRIGGER a_codes AFTER INSERT ON A BEGIN UPDATE A SET Note = (WITH codes AS (SELECT Code FROM LT)"
       " SELECT group_concat(Code) FROM codes) WHERE PKey = new.PKey; END;",
       "trigger \"a_codes\"", "INSERT INTO A(k) VALUES (9)", "DROP TRIGGER a_codes"},
      {"CREATE TRIGGER a_window AFTER DELETE ON A BEGIN SELECT n FROM (SELECT count(*) OVER () AS n FROM LT); END;",
       "trigger \"a_window\"", "DELETE FROM A WHERE k = 9", "DROP TRIGGER a_window"},
      {"CREATE VIEW v AS SELECT k FROM A WHERE 1 OR EXISTS (SELECT 1 FROM LT);", "view \"v\"", "SELECT * FROM v",
       "DROP VIEW v"},
      // A CTE spelt like another view, or like another trigger, names neither.
      {"CREATE VIEW summary AS SELECT count(*) AS n FROM detail;"
       "CREATE VIEW detail AS WITH summary AS (SELECT 'x' AS tag) SELECT Code, tag FROM summary, LT;",
       "view \"detail\"", "SELECT * FROM summary", "DROP VIEW summary; DROP VIEW detail"},
      {"CREATE TRIGGER b_innocent AFTER INSERT ON B BEGIN SELECT 1; END;"
       "CREATE TRIGGER z_reader AFTER INSERT ON A BEGIN SELECT * FROM (WITH b_innocent AS (SELECT Code FROM LT)"
       " SELECT * FROM b_innocent); END;",
       "trigger \"z_reader\"", "INSERT INTO A(k) VALUES (10)", "DROP TRIGGER b_innocent; DROP TRIGGER z_reader"},
      {"CREATE TRIGGER _LT_a AFTER INSERT ON LT BEGIN INSERT INTO A(k) VALUES (new.PKey); END;"
       "CREATE TRIGGER a_r AFTER INSERT ON A BEGIN SELECT * FROM (WITH c AS (SELECT Code FROM LT) SELECT * FROM c); END;",
       "trigger \"a_r\"", "INSERT INTO A(k) VALUES (11)", "DROP TRIGGER _LT_a; DROP TRIGGER a_r"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Create);
    exec(c.Create);
    expect_refused(c.Referrer, {c.Works});
    exec(c.Drop);
  }
  expect_renamed();
}

// A view that reads a broken view is not taken for the one that names the
// table, nor a trigger that fires a broken trigger; where a table's
// statements failed already, a trigger of its own that the rename breaks
// still refuses it.
TEST_F(RenameChecks, TheObjectThatNamesTheTableIsNamedNotThoseThatReachIt) {
  exec("CREATE VIEW Aouter AS SELECT count(*) AS n FROM Zinner;"
       "CREATE VIEW Zinner AS SELECT * FROM A JOIN B USING (k), LT;");
  expect_refused("view \"Zinner\"", {"SELECT n FROM Aouter"});
  exec("DROP VIEW Aouter; DROP VIEW Zinner;"
       "CREATE TRIGGER a_fires AFTER INSERT ON A BEGIN UPDATE B SET Seen = 'a' WHERE k = new.k; END;"
       "CREATE TRIGGER b_reads AFTER UPDATE OF Seen ON B BEGIN SELECT * FROM \"main\".LT; END;");
  expect_refused("trigger \"b_reads\"", {"INSERT INTO A(k) VALUES (1)"});
  EXPECT_EQ("a", value("SELECT Seen FROM B"));
  exec("DROP TRIGGER a_fires; DROP TRIGGER b_reads;"
       "CREATE TRIGGER a_broken AFTER INSERT ON A BEGIN SELECT * FROM NoSuch; END;"
       "CREATE TRIGGER a_reads AFTER INSERT ON A BEGIN SELECT * FROM \"main\".LT; END;");
  expect_refused("trigger \"a_reads\"", {"DROP TRIGGER a_broken", "INSERT INTO A(k) VALUES (7)"});
  // The same on LT itself, whose triggers are compared as re-made on LT2.
  exec("DROP TRIGGER a_reads;"
       "CREATE TRIGGER _LT_broken AFTER INSERT ON LT BEGIN SELECT * FROM NoSuch; END;"
       "CREATE TRIGGER _LT_reads AFTER INSERT ON LT BEGIN SELECT * FROM [main].LT; END;");
  expect_refused("trigger \"_LT_reads\"", {"DROP TRIGGER _LT_broken", "INSERT INTO LT(PKey, Code) VALUES (9, 'c')"});
}

// Where the database reads no table, or an object did not work before the
// rename, nothing stands in the way: a CTE or an alias spelt like the table,
// and a view or trigger that already named a table that is not there. Those
// that worked still do, and those that did not still do not.
TEST_F(RenameChecks, NamesTheDatabaseDoesNotReadAsTheTableAndObjectsBrokenBeforeDoNotRefuse) {
  exec("CREATE VIEW cte AS WITH LT AS (SELECT 1 AS q) SELECT q FROM LT;"
       "CREATE VIEW aliased AS SELECT LT.k FROM A AS LT JOIN B ON LT.k = B.k;"
       "CREATE TRIGGER a_cte AFTER INSERT ON A BEGIN UPDATE A SET Note = (WITH LT(n) AS (SELECT 5) SELECT n FROM LT)"
       " WHERE PKey = new.PKey; END;"
       "CREATE VIEW broken AS SELECT * FROM LT, NoSuch;"
       "CREATE TRIGGER b_broken AFTER DELETE ON B BEGIN DELETE FROM LT WHERE PKey IN (SELECT x FROM NoSuch); END;");
  {
    RawDB raw(path());
    EXPECT_NE(SQLITE_OK, raw.exec("SELECT * FROM broken"));
    EXPECT_NE(SQLITE_OK, raw.exec("DELETE FROM B"));
  }
  expect_renamed();
  EXPECT_EQ((Rows{"1"}), rows("SELECT q FROM cte"));
  EXPECT_EQ((Rows{"1"}), rows("SELECT k FROM aliased"));
  exec("INSERT INTO A(k) VALUES (8);");
  EXPECT_EQ("5", value("SELECT Note FROM A WHERE k = 8"));
  RawDB raw(path());
  EXPECT_NE(SQLITE_OK, raw.exec("SELECT * FROM broken"));
  EXPECT_NE(SQLITE_OK, raw.exec("DELETE FROM B"));
}

// Inside the host's transaction a refused rename undoes only itself.
TEST_F(RenameChecks, ARefusalInsideTheHostsTransactionUndoesOnlyItself) {
  exec("CREATE VIEW v AS SELECT count(*) AS n FROM A JOIN B ON A.k = B.k, LT;");
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  ASSERT_EQ(0, edit_row(h(), "RL_LookupTables", 1, {{"Comments", "kept"}}));
  refused(edit_row(h(), "RL_LookupTables", 1, {{"TableName", "LT2"}}),
          {tsmf_error("RenameLookupTable", std::string("Table \"LT\" cannot be renamed: view \"v\"") + kRefusedTail)});
  ASSERT_EQ(0, Qb_CommitTrans(h()));
  EXPECT_EQ((Rows{"1|LT|kept"}), rows("SELECT PKey, TableName, Comments FROM RL_LookupTables"));
  EXPECT_EQ("2", value("SELECT n FROM v"));
  EXPECT_EQ(3, out_int(Edit_GetColumnsCount, h(), "LT"));
  EXPECT_EQ(-99, out_int(Edit_GetColumnsCount, h(), "LT2"));
}

// The table's own foreign key goes with it to its new name: a trigger of
// another table whose writes the database checks against the table's rows
// reads nothing that is gone.
TEST_F(RenameChecks, TheTablesOwnForeignKeysRefuseNothing) {
  exec("CREATE TABLE P([id] integer PRIMARY KEY); INSERT INTO P VALUES (1);"
       "ALTER TABLE LT ADD COLUMN [pid] integer REFERENCES P(id) ON DELETE CASCADE;"
       "CREATE TABLE Q([x] integer);"
       "CREATE TRIGGER tq AFTER INSERT ON Q BEGIN DELETE FROM P WHERE id = new.x; END;");
  ASSERT_EQ((Rows{"0"}), outcome(h(), edit_row(h(), "RL_LookupTables", 1, {{"TableName", "LT2"}})));
  EXPECT_EQ((Rows{"P|id|pid"}), rows("SELECT \"table\", \"to\", \"from\" FROM pragma_foreign_key_list('LT2')"));
  EXPECT_EQ(SQLITE_OK, RawDB(path()).exec("INSERT INTO Q VALUES (1)"));
}

// No table of the file takes the check's own reads of the schema, whatever
// its name and shape: with a table named like a function that lists tables,
// columns or foreign keys, an UPDATE OF rowid trigger and another table's
// foreign key that the rename would break still refuse it, and say nothing
// of danger.
TEST_F(RenameChecks, NoTableOfTheFileTakesTheChecksReadsOfTheSchema) {
  for (const std::string shadow :
       {"CREATE TABLE pragma_table_list(x);",
        "CREATE TABLE pragma_table_list(schema, name, type, ncol, wr, strict);"
        "INSERT INTO pragma_table_list VALUES ('main', 'A', 'view', 3, 1, 0);",
        "CREATE TABLE pragma_table_xinfo(name, hidden);", "CREATE TABLE pragma_foreign_key_list(x);"}) {
    SCOPED_TRACE(shadow);
    exec(shadow + "CREATE TRIGGER a_rowid AFTER UPDATE OF rowid ON A BEGIN SELECT * FROM LT; END;");
    expect_refused("trigger \"a_rowid\"", {"UPDATE A SET rowid = rowid"});
    exec("DROP TRIGGER a_rowid; CREATE TABLE R([z] integer REFERENCES LT(PKey));");
    expect_refused("table \"R\"", {"INSERT INTO R VALUES (1)"});
    exec("DROP TABLE R; DROP TABLE " + shadow.substr(13, shadow.find('(') - 13) + ";");
  }
  expect_renamed();
}

// A view whose only trigger is an INSTEAD OF INSERT fails every UPDATE and
// DELETE as it always will: that is no failure that a trigger of its own
// could hide, and its trigger is not dropped and made again to be tested
// alone.
TEST_F(RenameChecks, StatementsThatAViewsTriggersNeverMakePossibleHideNothing) {
  exec("CREATE VIEW v1 AS SELECT k FROM A; CREATE TRIGGER v1_in INSTEAD OF INSERT ON v1 BEGIN SELECT 1; END;"
       "CREATE VIEW v2 AS SELECT k FROM B; CREATE TRIGGER v2_in INSTEAD OF INSERT ON V2 BEGIN SELECT 2; END;");
  const std::string triggers = "SELECT rowid, name, sql FROM sqlite_master WHERE name LIKE 'v_\\_in' ESCAPE '\\'";
  const Rows before = rows(triggers);
  ASSERT_EQ(2u, before.size());
  expect_renamed();
  EXPECT_EQ(before, rows(triggers));
}

// A table whose one trigger did not work before the rename is judged by its
// own statements: its trigger is not dropped and made again, and the rename
// reads the catalogue and foreign keys as often beside twelve such tables as
// beside two.
TEST_F(RenameChecks, TablesWhoseOneTriggerWasBrokenBeforeAreJudgedByTheirStatements) {
  const std::string triggers = "SELECT rowid, name FROM sqlite_master WHERE type = 'trigger' AND name LIKE 'r%'";
  const char* names[] = {"LT2", "LT"};
  int reads[2], keys[2];
  for (int round : {0, 1}) {
    for (int i = round * 2; i < (round == 0 ? 2 : 12); ++i) {
      std::string n = std::to_string(i);
      exec("CREATE TABLE T" + n + "(a); CREATE TRIGGER r" + n + " AFTER INSERT ON T" + n +
           " BEGIN SELECT * FROM NoSuch; END;");
    }
    const Rows before = rows(triggers);
    ASSERT_EQ(0, Qb_Edit(h(), "RL_LookupTables", 1));
    ASSERT_EQ(0, Qb_SetFieldByName(h(), "RL_LookupTables", "TableName", names[round]));
    sqlite3* db = InitCheck(h())->GetSQLDB()->Database();
    StatementCount catalogue("sqlite_master", db), foreign("foreign_key_list", db), dropped("DROP TRIGGER", db);
    int pkey = 0;
    ASSERT_EQ((Rows{"0"}), outcome(h(), Qb_Post(h(), "RL_LookupTables", &pkey)));
    reads[round] = catalogue.count();
    keys[round] = foreign.count();
    EXPECT_EQ(0, dropped.count());
    EXPECT_EQ(before, rows(triggers));
  }
  EXPECT_EQ(reads[0], reads[1]);
  EXPECT_EQ(keys[0], keys[1]);
  EXPECT_EQ((Rows{"1|a|<null>", "2|b|<null>"}), rows("SELECT * FROM LT"));
}
