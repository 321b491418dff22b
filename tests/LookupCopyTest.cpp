// Copying lookup tables: rows, renamed indexes and triggers, the catalogue row, the table model, the
// refusals, and failures that leave nothing behind.
#include "AuthoringTestSupport.h"

namespace {

const char* const kSetup =
    "INSERT INTO RL_Agencies(PKey, AdminCode, OrgName) VALUES (3, 'AG3', 'Agency three');"
    "CREATE TABLE StateCodes( [PKey] integer NOT NULL PRIMARY KEY, \n[Code] char(2) NOT NULL collate nocase"
    " check([Code] in ('AK','AL')) default '', \n[Name] varchar(40) NULL collate nocase default 'none', \n"
    "[Stamp] varchar(1) NULL);"
    "CREATE INDEX xStateCod_Code ON [StateCodes] ([Code], [PKey]);"
    "CREATE UNIQUE INDEX xStateCod_Name ON [StateCodes] ([Name]);"
    "CREATE TRIGGER _StateCod_stamp AFTER UPDATE ON StateCodes BEGIN UPDATE StateCodes SET Stamp = 'x'"
    " WHERE PKey = new.PKey; END;"
    "INSERT INTO StateCodes(Code, Name) VALUES ('AK', 'Alaska'), ('AL', 'Alabama');"
    "INSERT INTO RL_LookupTables(PKey, AgencyPKey, TableName, RecCount, LastModDate, Comments)"
    " VALUES (1, 1, 'StateCodes', 2, '20240101 10:00:00', 'two states'), (2, 1, 'Booked', 0, NULL, NULL);"
    "CREATE TABLE Uniq([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5) UNIQUE);"
    "INSERT INTO Uniq(Code) VALUES ('a'), ('b');"
    "CREATE TABLE ZipCodes1([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5));"
    "CREATE INDEX xZipCodes_Code ON [ZipCodes1] ([Code], [PKey]);"
    "CREATE TABLE Noted([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5));"
    "CREATE TRIGGER Noted_x AFTER UPDATE ON /* the table */ Noted BEGIN SELECT 1; END;";

int collect_structure(void* owner, const char*, int order, const char* field, const char* type, const char* null,
                      int trigger, const char* defaultValue, const char* list, const char* between) {
  return collect(owner, order, field, type, null, trigger, defaultValue, list, between);
}

class LookupCopy : public MetafileTest {
 protected:
  LookupCopy() : MetafileTest(kSetup) {}
  // A copy refused with these engine errors, all of them under RenameLookupTable.
  void copy_refused(const char* from, const char* to, const Rows& messages) {
    Rows errors;
    for (const std::string& message : messages) errors.push_back(tsmf_error("RenameLookupTable", message));
    refused(Qb_CopyLookupTable(h(), from, to, 1), errors);
  }
  Rows structure(const char* table) {
    Rows columns;
    EXPECT_EQ(0, Edit_GetTableStructure(h(), table, &columns, fn(collect_structure)));
    return columns;
  }
};

}  // namespace

TEST_F(LookupCopy, RefusalsAndCopiesOfRowsIndexesTriggersAndTheCatalogueRow) {
  const std::string prefix = "You may not start a look-up table name with \"";
  copy_refused("NoSuch", "Other", {"Cannot find table named \"NoSuch\""});
  copy_refused("StateCodes", "STATECODES", {"Old table name and new table name are the same"});
  copy_refused("rl_edits", "rl_Edits2", {"You may not copy a metafile control table (starts with \"RL_\")", prefix + "RL_\""});
  copy_refused("StateCodes", "SQLite_x", {prefix + "sqlite_\""});
  for (const char* name : {"Two words", "9lives", "", "x; DROP TABLE RL_Edits"})
    copy_refused("StateCodes", name, {std::string("Invalid look-up table name \"") + name + "\""});
  ASSERT_EQ(0, Qb_CopyLookupTable(h(), "StateCodes", "Regions", 3));
  EXPECT_EQ(Rows{}, engine_errors(h()));
  EXPECT_EQ((Rows{"table|Regions|CREATE TABLE [Regions]( [PKey] integer NOT NULL PRIMARY KEY, \n[Code] char(2) NOT "
                  "NULL collate nocase check([Code] in ('AK','AL')) default '', \n[Name] varchar(40) NULL collate "
                  "nocase default 'none', \n[Stamp] varchar(1) NULL)",
                  "trigger|_Regions_stamp|CREATE TRIGGER _Regions_stamp AFTER UPDATE ON [Regions] BEGIN UPDATE "
                  "[Regions] SET Stamp = 'x' WHERE PKey = new.PKey; END",
                  "index|xRegions_Code|CREATE INDEX xRegions_Code ON [Regions] ([Code], [PKey])",
                  "index|xRegions_Name|CREATE UNIQUE INDEX xRegions_Name ON [Regions] ([Name])"}),
            rows("SELECT type, name, sql FROM sqlite_master WHERE tbl_name = 'Regions' ORDER BY name"));
  EXPECT_EQ(rows("SELECT * FROM StateCodes"), rows("SELECT * FROM Regions"));
  Rows catalogue = rows("SELECT PKey, AgencyPKey, TableName, RecCount, length(LastModDate), Comments "
                        "FROM RL_LookupTables WHERE PKey <> 2");
  EXPECT_EQ((Rows{"1|1|StateCodes|2|17|two states", "3|3|Regions|2|17|two states"}), catalogue);
  // The model holds both, the copy with the old table's defaults and checks.
  EXPECT_EQ(structure("StateCodes"), structure("regions"));
  EXPECT_EQ("2|Code|char(2)|NOT NULL|0||'AK','AL'|", structure("Regions")[1]);
  EXPECT_EQ(0, edit_row(h(), "Regions", 1, {{"Name", "Alaska!"}}));
  EXPECT_EQ((Rows{"1|AK|Alaska!|x", "2|AL|Alabama|<null>"}), rows("SELECT * FROM Regions"));
  // Automatic indexes come with the CREATE text; a table without a catalogue row gives a copy without one.
  ASSERT_EQ(0, Qb_CopyLookupTable(h(), "Uniq", "Uniq2", 1));
  EXPECT_EQ((Rows{"1|a", "2|b"}), rows("SELECT * FROM Uniq2"));
  EXPECT_EQ("0", value("SELECT count(*) FROM RL_LookupTables WHERE TableName = 'Uniq2'"));
  EXPECT_EQ(2, out_int(Edit_GetColumnsCount, h(), "Uniq2"));
}

TEST_F(LookupCopy, FailuresLeaveNothingBehind) {
  Rows before = snapshot(path());
  // Equal first eight characters give the copy's index the old one's name.
  copy_refused("ZipCodes1", "ZipCodes2", {"Failure to create index", "index xZipCodes_Code already exists",
                                          "SQL: CREATE INDEX xZipCodes_Code ON [ZipCodes2] ([Code], [PKey])"});
  EXPECT_EQ(before, snapshot(path()));
  EXPECT_EQ(-1, Qb_Edit(h(), "ZipCodes2", 1));
  // A trigger whose name lacks the table's prefix keeps its name, which the old table's trigger holds.
  copy_refused("Noted", "Copied",
               {"Failure to create trigger", "trigger Noted_x already exists",
                "SQL: CREATE TRIGGER Noted_x AFTER UPDATE ON /* the table */ [Copied] BEGIN SELECT 1; END"});
  EXPECT_EQ(before, snapshot(path()));
  EXPECT_EQ(-1, Qb_CopyLookupTable(h(), "StateCodes", "Booked", 1));
  Rows errors = engine_errors(h());
  ASSERT_EQ(3u, errors.size());
  errors.pop_back();  // the statement, which holds the time of the copy
  EXPECT_EQ((Rows{tsmf_error("RenameLookupTable", "Failure to add new table to RL_LookupTables"),
                  tsmf_error("RenameLookupTable", "UNIQUE constraint failed: RL_LookupTables.TableName")}),
            errors);
  EXPECT_EQ(before, snapshot(path()));

  // Inside a host transaction a failed copy undoes only itself.
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  ASSERT_EQ(0, Qb_CopyLookupTable(h(), "StateCodes", "Kept", 1));
  EXPECT_EQ(-1, Qb_CopyLookupTable(h(), "ZipCodes1", "ZipCodes2", 1));
  ASSERT_EQ(0, Qb_CommitTrans(h()));
  EXPECT_EQ("2|1|<null>", value("SELECT (SELECT count(*) FROM Kept), "
                                "(SELECT count(*) FROM RL_LookupTables WHERE TableName = 'Kept'), "
                                "(SELECT name FROM sqlite_master WHERE name = 'ZipCodes2')"));
  EXPECT_EQ(4, out_int(Edit_GetColumnsCount, h(), "Kept"));
  EXPECT_EQ(-99, out_int(Edit_GetColumnsCount, h(), "ZipCodes2"));
}

// A table declared WITHOUT ROWID and one whose name holds "?" are copied with
// their rows and their texts rewritten, and read into the table model; so is
// the table renamed through its catalogue row.
TEST(LookupCopyOfHostTables, CopiesAndRenames) {
  OpenMetafile mf(kHostTables);
  int h = mf.handle();
  RawDB raw(mf.path());
  ASSERT_EQ(0, Qb_CopyLookupTable(h, "Shades", "Tints", 1));
  ASSERT_EQ(0, Qb_CopyLookupTable(h, "Who?", "Whom", 1));
  ASSERT_EQ(0, edit_row(h, "RL_LookupTables", 2, {{"TableName", "Person"}}));
  EXPECT_EQ((Rows{"table|Person|CREATE TABLE [Person]([PKey] integer NOT NULL PRIMARY KEY, [Name] varchar(10), "
                  "[Code] char(2))",
                  "table|Tints|CREATE TABLE [Tints]([PKey] integer NOT NULL PRIMARY KEY, [Name] varchar(10) NOT NULL, "
                  "[Code] char(2)) WITHOUT ROWID",
                  "table|Whom|CREATE TABLE [Whom]([PKey] integer NOT NULL PRIMARY KEY, [Name] varchar(10), "
                  "[Code] char(2))",
                  "index|xPerson_Name|CREATE INDEX [xPerson_Name] ON [Person] ([Name])",
                  "index|xWhom_Name|CREATE INDEX [xWhom_Name] ON [Whom] ([Name])"}),
            raw.rows("SELECT type, name, sql FROM sqlite_master WHERE tbl_name IN ('Tints', 'Whom', 'Person', 'Who?')"
                     " ORDER BY type DESC, name"));
  EXPECT_EQ((Rows{"1|red|R1", "2|blue|B2"}), raw.rows("SELECT * FROM Tints"));
  EXPECT_EQ((Rows{"1|ann|A1", "2|bob|B2"}), raw.rows("SELECT * FROM Whom"));
  EXPECT_EQ(raw.rows("SELECT * FROM Whom"), raw.rows("SELECT * FROM Person"));
  for (const char* table : {"Tints", "Whom", "Person"}) EXPECT_EQ(3, out_int(Edit_GetColumnsCount, h, table)) << table;
  EXPECT_EQ(-99, out_int(Edit_GetColumnsCount, h, "Who?"));
}

namespace {

// Host tables whose names need quoting, with an index and a trigger each that
// begin with the table's prefix: the names are written in back-ticks, double
// quotes and single quotes, the quote inside doubled.
const char* const kQuotedNames =
    "CREATE TABLE [c`d]([PKey] integer NOT NULL PRIMARY KEY, [Name] varchar(10), [Stamp] char(1));"
    "CREATE INDEX `xc``d_Name` ON [c`d]([Name]);"
    "CREATE TRIGGER `_c``d_stamp` AFTER UPDATE ON [c`d] BEGIN UPDATE `c``d` SET Stamp = 'x'"
    " WHERE PKey = new.PKey; END;"
    "INSERT INTO [c`d] VALUES (1, 'ann', NULL), (2, 'bob', NULL);"
    "CREATE TABLE \"it's \"\"q\"\"?\"([PKey] integer NOT NULL PRIMARY KEY, [Code] char(2));"
    "CREATE INDEX \"xit's \"\"q\"\"_Code\" ON \"it's \"\"q\"\"?\"([Code]);"
    "CREATE TRIGGER '_it''s \"q\"_it''s' AFTER DELETE ON [it's \"q\"?] BEGIN SELECT 1; END;"
    "INSERT INTO [it's \"q\"?] VALUES (1, 'A1'), (2, 'B2');"
    "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'c`d', 2), (2, 'it''s \"q\"?', 2);";

// The texts that a copy or rename of those tables to Copy and Quoted writes.
const Rows kCopyTexts = {
    "table|Copy|CREATE TABLE [Copy]([PKey] integer NOT NULL PRIMARY KEY, [Name] varchar(10), [Stamp] char(1))",
    "index|xCopy_Name|CREATE INDEX `xCopy_Name` ON [Copy]([Name])",
    "trigger|_Copy_stamp|CREATE TRIGGER `_Copy_stamp` AFTER UPDATE ON [Copy] BEGIN UPDATE [Copy] SET Stamp = 'x'"
    " WHERE PKey = new.PKey; END"};
const Rows kQuotedTexts = {
    "table|Quoted|CREATE TABLE [Quoted]([PKey] integer NOT NULL PRIMARY KEY, [Code] char(2))",
    "index|xQuoted_Code|CREATE INDEX \"xQuoted_Code\" ON [Quoted]([Code])",
    "trigger|_Quoted_it's|CREATE TRIGGER '_Quoted_it''s' AFTER DELETE ON [Quoted] BEGIN SELECT 1; END"};

class LookupCopyOfQuotedNames : public MetafileTest {
 protected:
  LookupCopyOfQuotedNames() : MetafileTest(kQuotedNames) {}
  Rows texts(const std::string& table) {
    return rows("SELECT type, name, sql FROM sqlite_master WHERE tbl_name = '" + table +
                "' ORDER BY type = 'table' DESC, type, name");
  }
  Rows catalogue() { return rows("SELECT PKey, TableName, RecCount FROM RL_LookupTables ORDER BY PKey"); }
};

}  // namespace

TEST_F(LookupCopyOfQuotedNames, CopiesTakeTheIndexesAndTriggersAlong) {
  Rows rowsCD = rows("SELECT * FROM [c`d]"), rowsQ = rows("SELECT * FROM [it's \"q\"?]");
  ASSERT_EQ((Rows{"0"}), outcome(h(), Qb_CopyLookupTable(h(), "c`d", "Copy", 1)));
  ASSERT_EQ((Rows{"0"}), outcome(h(), Qb_CopyLookupTable(h(), "it's \"q\"?", "Quoted", 1)));
  EXPECT_EQ(kCopyTexts, texts("Copy"));
  EXPECT_EQ(kQuotedTexts, texts("Quoted"));
  EXPECT_EQ(rowsCD, rows("SELECT * FROM Copy"));
  EXPECT_EQ(rowsQ, rows("SELECT * FROM Quoted"));
  EXPECT_EQ((Rows{"1|c`d|2", "2|it's \"q\"?|2", "3|Copy|2", "4|Quoted|2"}), catalogue());
  EXPECT_EQ(3, out_int(Edit_GetColumnsCount, h(), "Copy"));
}

TEST_F(LookupCopyOfQuotedNames, RenamesTakeTheIndexesAndTriggersAlong) {
  Rows rowsCD = rows("SELECT * FROM [c`d]"), rowsQ = rows("SELECT * FROM [it's \"q\"?]");
  ASSERT_EQ((Rows{"0"}), outcome(h(), edit_row(h(), "RL_LookupTables", 1, {{"TableName", "Copy"}})));
  ASSERT_EQ((Rows{"0"}), outcome(h(), edit_row(h(), "RL_LookupTables", 2, {{"TableName", "Quoted"}})));
  EXPECT_EQ(kCopyTexts, texts("Copy"));
  EXPECT_EQ(kQuotedTexts, texts("Quoted"));
  EXPECT_EQ("0", value("SELECT count(*) FROM sqlite_master WHERE tbl_name IN ('c`d', 'it''s \"q\"?')"));
  EXPECT_EQ(rowsCD, rows("SELECT * FROM Copy"));
  EXPECT_EQ(rowsQ, rows("SELECT * FROM Quoted"));
  EXPECT_EQ((Rows{"1|Copy|2", "2|Quoted|2"}), catalogue());
  EXPECT_EQ(-99, out_int(Edit_GetColumnsCount, h(), "c`d"));
  EXPECT_EQ(2, out_int(Edit_GetColumnsCount, h(), "Quoted"));
}

namespace {

// Tables whose foreign keys refer to themselves, with and without an action,
// and one whose key refers to another table.
const char* const kReferences =
    "CREATE TABLE Tree([PKey] integer NOT NULL PRIMARY KEY, [Parent] integer REFERENCES Tree(PKey) ON DELETE CASCADE,"
    " [Name] varchar(10));"
    "INSERT INTO Tree VALUES (1, NULL, 'root'), (2, 1, 'kid'), (3, 2, 'grandkid');"
    "CREATE TABLE Grid([PKey] integer NOT NULL PRIMARY KEY, [Up] integer, FOREIGN KEY ([Up]) REFERENCES \"grid\");"
    "INSERT INTO Grid VALUES (1, NULL), (2, 1);"
    "CREATE TABLE Leaf([PKey] integer NOT NULL PRIMARY KEY, [TreeKey] integer REFERENCES Tree(PKey));"
    "INSERT INTO Leaf VALUES (1, 3);"
    "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'Tree', 3), (2, 'Grid', 2), (3, 'Leaf', 1);";

std::string tree_text(const std::string& name) {
  return name + "|CREATE TABLE [" + name + "]([PKey] integer NOT NULL PRIMARY KEY, [Parent] integer " +
         "REFERENCES [" + name + "](PKey) ON DELETE CASCADE, [Name] varchar(10))";
}

}  // namespace

// A copy and a rename keep every row and take the table's references to
// itself along, so the copy's rows hang from the copy; a reference to another
// table stays.
TEST(LookupCopyOfReferences, ReferencesToTheTableItselfFollowItsNewName) {
  OpenMetafile mf(kReferences);
  int h = mf.handle();
  RawDB raw(mf.path());
  ASSERT_EQ(0, edit_row(h, "RL_LookupTables", 3, {{"TableName", "Twig"}}));
  EXPECT_EQ(Rows{"CREATE TABLE [Twig]([PKey] integer NOT NULL PRIMARY KEY, [TreeKey] integer REFERENCES "
                 "Tree(PKey))|1|3"},
            raw.rows("SELECT sql, t.* FROM sqlite_master, Twig t WHERE name = 'Twig'"));
  ASSERT_EQ(SQLITE_OK, raw.exec("DROP TABLE Twig;"));
  ASSERT_EQ(0, Qb_CopyLookupTable(h, "Tree", "Grove", 1));
  ASSERT_EQ(0, edit_row(h, "RL_LookupTables", 1, {{"TableName", "Forest"}}));
  ASSERT_EQ(0, edit_row(h, "RL_LookupTables", 2, {{"TableName", "Mesh"}}));
  EXPECT_EQ((Rows{tree_text("Forest"), tree_text("Grove"),
                  "Mesh|CREATE TABLE [Mesh]([PKey] integer NOT NULL PRIMARY KEY, [Up] integer, FOREIGN KEY "
                  "([Up]) REFERENCES [Mesh])"}),
            raw.rows("SELECT name, sql FROM sqlite_master WHERE name IN ('Forest', 'Grove', 'Mesh') ORDER BY 1"));
  const Rows tree = {"1|<null>|root", "2|1|kid", "3|2|grandkid"};
  EXPECT_EQ(tree, raw.rows("SELECT * FROM Forest"));
  EXPECT_EQ((Rows{"1|<null>", "2|1"}), raw.rows("SELECT * FROM Mesh"));
  EXPECT_EQ(4, insert_row(h, "Forest", {{"Parent", "3"}, {"Name", "leaf"}}));
  ASSERT_EQ(SQLITE_OK, raw.exec("PRAGMA foreign_keys = ON; DELETE FROM Forest WHERE PKey = 1;"));
  EXPECT_EQ(Rows{}, raw.rows("SELECT * FROM Forest"));
  EXPECT_EQ(tree, raw.rows("SELECT * FROM Grove"));
}

namespace {

// A lookup table whose own trigger qualifies a column by the table's name.
const char* const kQualifyingTrigger =
    "CREATE TABLE LT([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(10), [Stamp] varchar(1) NULL);"
    "CREATE TRIGGER _LT_q AFTER INSERT ON LT BEGIN UPDATE LT SET Stamp = LT.Code WHERE PKey = new.PKey; END;"
    "INSERT INTO LT(Code) VALUES ('a'), ('b');"
    "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'LT', 2);";

}  // namespace

// The copy's own triggers are tested as the database reads them once they
// sit on the copy: one that would not work there (its write follows the copy,
// the column it qualifies by the old name does not) refuses the copy, which
// leaves nothing behind; one that reads the old table by a name the rewrite
// leaves works on the copy, and one that did not work before is no reason.
TEST(LookupCopyOfTriggers, ACopyWhoseOwnTriggerWouldNotWorkOnItIsRefused) {
  OpenMetafile mf(kQualifyingTrigger);
  int h = mf.handle();
  RawDB raw(mf.path());
  const Rows before = snapshot(mf.path());
  const std::string refusal =
      "Table \"LT\" cannot be copied: trigger \"_LT_q\", re-made on table \"LT3\", would not work there: "
      "no such column: LT.Code";
  EXPECT_EQ((Rows{"-1", tsmf_error("RenameLookupTable", refusal)}), outcome(h, Qb_CopyLookupTable(h, "LT", "LT3", 1)));
  EXPECT_EQ(before, snapshot(mf.path()));
  EXPECT_EQ(-99, out_int(Edit_GetColumnsCount, h, "LT3"));
  EXPECT_EQ(1, out_int(Edit_GetTriggerCount, h, "LT"));
  ASSERT_EQ(SQLITE_OK, raw.exec("INSERT INTO LT(PKey, Code) VALUES (3, 'c')"));
  EXPECT_EQ("c", raw.value("SELECT Stamp FROM LT WHERE PKey = 3"));

  ASSERT_EQ(SQLITE_OK, raw.exec("DROP TRIGGER _LT_q;"
                                "CREATE TRIGGER _LT_count AFTER INSERT ON LT BEGIN UPDATE LT SET Stamp ="
                                " (SELECT count(*) FROM \"main\".LT) WHERE PKey = new.PKey; END;"
                                "CREATE TRIGGER _LT_broken AFTER DELETE ON LT BEGIN SELECT * FROM NoSuch; END;"));
  ASSERT_EQ((Rows{"0"}), outcome(h, Qb_CopyLookupTable(h, "LT", "LT3", 1)));
  EXPECT_EQ(2, out_int(Edit_GetTriggerCount, h, "LT3"));
  ASSERT_EQ(SQLITE_OK, raw.exec("INSERT INTO LT3(PKey, Code) VALUES (9, 'z')"));
  EXPECT_EQ("3", raw.value("SELECT Stamp FROM LT3 WHERE PKey = 9"));  // the rows of the old table
  EXPECT_NE(SQLITE_OK, raw.exec("DELETE FROM LT3"));

  // An UPDATE OF trigger on the rowid is compiled too.
  ASSERT_EQ(SQLITE_OK, raw.exec("CREATE TRIGGER _LT_rowid AFTER UPDATE OF _rowid_ ON LT BEGIN"
                                " UPDATE LT SET Stamp = LT.Code WHERE PKey = new.PKey; END;"));
  const std::string rowidRefusal =
      "Table \"LT\" cannot be copied: trigger \"_LT_rowid\", re-made on table \"LT4\", would not work there: "
      "no such column: LT.Code";
  EXPECT_EQ((Rows{"-1", tsmf_error("RenameLookupTable", rowidRefusal)}),
            outcome(h, Qb_CopyLookupTable(h, "LT", "LT4", 1)));
  // Testing the triggers of a table that has a broken one rolls nothing
  // back, so the host's cursor goes on.
  ASSERT_EQ(SQLITE_OK, raw.exec("DROP TRIGGER _LT_rowid"));
  ASSERT_EQ(0, Edit_OpenCursor(h, "c", "SELECT PKey FROM LT ORDER BY PKey"));
  ASSERT_EQ(0, Edit_CursorNext(h, "c"));
  ASSERT_EQ((Rows{"0"}), outcome(h, Qb_CopyLookupTable(h, "LT", "LT5", 1)));
  EXPECT_EQ(2, out_int(Edit_GetTriggerCount, h, "LT5"));
  EXPECT_EQ(2, out_int(Edit_GetCursorIntByNumber, h, "c", 1));  // the row after the first
  ASSERT_EQ(0, Edit_CursorNext(h, "c"));
  EXPECT_EQ(3, out_int(Edit_GetCursorIntByNumber, h, "c", 1));
}

// A new lookup table may not take a name that the database reads as one of
// its own table-valued functions or eponymous virtual tables, in any letter
// case: made, copied, renamed or imported, it is refused with nothing made,
// and a view that calls the function goes on working. A module's name that
// the database does not read so is a name like any other.
TEST_F(LookupCopy, NamesOfTheDatabasesOwnFunctionsAreRefusedForNewTables) {
  exec("CREATE VIEW Parts AS SELECT value FROM json_each('[1, 2]') JOIN pragma_table_list ON 1 LIMIT 2;");
  std::string source = File.other("source.smf");
  const Rows before = snapshot(path());
  for (const char* name : {"json_each", "JSON_TREE", "pragma_table_list", "Pragma_Foreign_Key_List", "dbstat"}) {
    const std::string refusal = std::string("Invalid look-up table name \"") + name +
                                "\": the database reads it as a table-valued function, which a table of that name "
                                "would hide";
    refused(Qb_DefineTableStructure(h(), name, 0), {writer_error("DefineTableStructure", refusal)});
    copy_refused("StateCodes", name, {refusal});
    refused(edit_row(h(), "RL_LookupTables", 1, {{"TableName", name}}), {tsmf_error("RenameLookupTable", refusal)});
    ASSERT_EQ(SQLITE_OK, RawDB(source).exec(std::string("CREATE TABLE \"") + name + "\"([PKey] integer PRIMARY KEY);"));
    ASSERT_EQ(0, Qb_OpenImportMetafile(h(), source.c_str()));
    refused(Qb_ImportLookupTable(h(), name), {class_error("TImportMetafile", "ImportLookupTable", refusal)});
    ASSERT_EQ(0, Qb_CloseImportMetafile(h()));
    EXPECT_EQ(before, snapshot(path())) << name;
  }
  EXPECT_EQ("2", value("SELECT count(*) FROM Parts"));
  EXPECT_EQ(Rows{"0"}, outcome(h(), Qb_CopyLookupTable(h(), "StateCodes", "fts5", 1)));
  EXPECT_EQ("2", value("SELECT count(*) FROM Parts"));
}
