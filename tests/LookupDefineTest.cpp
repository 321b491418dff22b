// Defining, creating and restructuring lookup tables: exact declarations, index names with numbered
// fallbacks, the catalogue row, failures that leave the file as it was.
#include "AuthoringTestSupport.h"
#include "api/EditAPI.h"
#include "api/SMF.h"
#include "storage/SQLDB.h"

namespace {

const char* const kSetup =
    "CREATE TABLE Zip([PKey] integer NOT NULL PRIMARY KEY, [Code] char(5) NOT NULL, [Stamp] varchar(1) NULL);"
    "CREATE TRIGGER _Zip_stamp AFTER UPDATE ON Zip BEGIN UPDATE Zip SET [Stamp] = 'x' WHERE PKey = new.PKey; END;"
    "INSERT INTO Zip(PKey, Code) VALUES (7, '12345'), (9, '54321');"
    "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'Zip', 2);"
    "CREATE TABLE Other(a); CREATE INDEX xZipACode ON Other(a);";

class LookupDefine : public MetafileTest {
 protected:
  LookupDefine() : MetafileTest(kSetup) {}
  int column(const char* name, const char* source, int isInteger, int length, int nullable, int trigger,
             const char* inList, const char* low, const char* high, const char* defaultValue, int index) {
    return Qb_AddColumnDef(h(), name, source, isInteger, length, nullable, trigger, inList, low, high, defaultValue,
                           index);
  }
  Rows schema(const std::string& table) {
    return rows("SELECT type, name, sql FROM sqlite_master WHERE tbl_name = '" + table + "' ORDER BY type DESC, name");
  }
};

}  // namespace

TEST_F(LookupDefine, RefusalsAndNewTablesWithExactDeclarationsAndIndexNames) {
  Rows before = snapshot(path());
  const std::string prefix = "You may not start a look-up table name with \"";
  for (const auto& [name, reason] : {std::pair{"RL_Edits", prefix + "RL_\""},
                                     {"rl_new", prefix + "RL_\""},
                                     {"sqlite_master", prefix + "sqlite_\""},
                                     {"Two words", "Invalid look-up table name \"Two words\""},
                                     {"x; DROP TABLE RL_Edits", "Invalid look-up table name \"x; DROP TABLE RL_Edits\""}})
    refused(Qb_DefineTableStructure(h(), name, 1), {writer_error("DefineTableStructure", reason)});
  int pkey = 0;
  refused(Qb_CreateTable(h(), &pkey),
          {writer_error("CreateTable", "No columns have been defined; inappropriate use of Qb_CreateTable")});
  // Columns of a refused definition, or of none at all, make no table without a name.
  const Rows unnamed = {
      writer_error("CreateTable", "No table name has been defined; inappropriate use of Qb_CreateTable")};
  OpenMetafile fresh;
  for (int smf : {h(), fresh.handle()}) {
    ASSERT_EQ(0, Qb_AddColumnDef(smf, "Code", nullptr, 0, 5, 0, 0, nullptr, nullptr, nullptr, nullptr, 1));
    EXPECT_EQ((Rows{"-1", unnamed[0]}), outcome(smf, Qb_CreateTable(smf, &pkey)));
  }
  EXPECT_EQ(Rows{"0"}, RawDB(fresh.path()).rows("SELECT count(*) FROM RL_LookupTables"));
  EXPECT_EQ(before, snapshot(path()));
  ASSERT_EQ(0, Qb_DefineTableStructure(h(), "Fine", 0));
  refused(column("Code", nullptr, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr, 0),
          {writer_error("AddColumnDef", "Character fields cannot be defined with 0 length")});
  EXPECT_EQ(-1, column("a] text, [b", nullptr, 0, 5, 0, 0, nullptr, nullptr, nullptr, nullptr, 0));
  refused(column("Code", "Password] FROM RL_Agencies --", 0, 5, 0, 0, nullptr, nullptr, nullptr, nullptr, 0),
          {writer_error("AddColumnDef", "Invalid column name \"Password] FROM RL_Agencies --\"")});
  refused(column("Age", nullptr, 1, 0, 0, 0, nullptr, "0", "1) OR (1", "0); DROP TABLE RL_Edits; --", 0),
          {writer_error("AddColumnDef", "Value \"1) OR (1\" is not a whole number for column \"Age\""),
           writer_error("AddColumnDef", "Value \"0); DROP TABLE RL_Edits; --\" is not a whole number for column \"Age\"")});
  EXPECT_EQ(-1, Qb_AddColumnDef(h(), nullptr, nullptr, 0, 5, 0, 0, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(-1, Qb_CreateTable(h(), &pkey));  // nothing was added
  EXPECT_EQ(before, snapshot(path()));
  ASSERT_EQ(0, Qb_DefineTableStructure(h(), "StateCodes", 0));
  EXPECT_EQ(0, column("Code", nullptr, 0, 2, 0, 0, "'AK','AL'", "A", "Z", nullptr, 2));
  EXPECT_EQ(0, column("Age", nullptr, 1, 0, 1, 0, "'ignored'", "0", "120", "0", 1));
  EXPECT_EQ(0, column("Descr", "", 0, 40, 1, 0, nullptr, "a", "", nullptr, 0));
  EXPECT_EQ(0, column("Name", nullptr, 0, 7, 0, 0, "", "A'", "Z", "O'Hara", 0));
  EXPECT_EQ(0, column("Flag", nullptr, 0, 1, 0, 1, nullptr, nullptr, nullptr, "", 0));
  EXPECT_EQ(2, out_int(Qb_CreateTable, h()));
  EXPECT_EQ((Rows{"table|StateCodes|CREATE TABLE [StateCodes]( [PKey] integer NOT NULL PRIMARY KEY, \n"
                  "[Code] char(2) NOT NULL collate nocase check([Code] in ('AK','AL')) default '', \n"
                  "[Age] integer NULL check(typeof([Age]) = 'integer') check([Age] between 0 and 120) default 0, \n"
                  "[Descr] varchar(40) NULL collate nocase, \n"
                  "[Name] varchar(7) NOT NULL collate nocase check([Name] between 'A''' and 'Z') default 'O''Hara', \n"
                  "[Flag] varchar(1) NOT NULL collate nocase default '')",
                  "index|xStateCod_Age|CREATE INDEX xStateCod_Age ON [StateCodes] ([Age], [PKey])",
                  "index|xStateCod_Code|CREATE UNIQUE INDEX xStateCod_Code ON [StateCodes] ([Code])"}),
            schema("StateCodes"));
  EXPECT_EQ((Rows{"2|1|StateCodes|0|<null>"}),
            rows("SELECT PKey, AgencyPKey, TableName, RecCount, LastModDate FROM RL_LookupTables WHERE PKey = 2"));
  EXPECT_EQ(6, out_int(Edit_GetColumnsCount, h(), "statecodes"));
  // The trigger-maintained column reads back as one.
  int isTrigger = -1;
  char name[20], type[20], nullable[20];
  ASSERT_EQ(0, Edit_GetColumnStructure(h(), "StateCodes", 6, name, sizeof name, type, sizeof type, nullable,
                                       sizeof nullable, &isTrigger));
  EXPECT_EQ("Flag|varchar(1)|1", std::string(name) + "|" + type + "|" + std::to_string(isTrigger));
  // A name refused as null leaves nothing of the definition before it to create.
  before = snapshot(path());
  refused(Qb_DefineTableStructure(h(), nullptr, 1),
          {tsmf_error("DefineTableStructure", "Parameter \"name\" must not be NULL")});
  EXPECT_EQ(0, column("Extra", nullptr, 0, 3, 1, 0, nullptr, nullptr, nullptr, nullptr, 0));
  refused(Qb_CreateTable(h(), &pkey), unnamed);
  EXPECT_EQ(before, snapshot(path()));

  // Taken index names get a digit; LIKE makes xZipACode take xZip_Code.
  ASSERT_EQ(0, Qb_DefineTableStructure(h(), "Zip2", 0));
  ASSERT_EQ(0, RawDB(path()).exec("CREATE INDEX xZip2_Code ON Other(a); CREATE INDEX xZip2_Code0 ON Other(a);"));
  EXPECT_EQ(0, column("Code", nullptr, 0, 5, 0, 0, nullptr, nullptr, nullptr, nullptr, 1));
  ASSERT_EQ(0, Qb_DefineTableStructure(h(), "Zip", 0));
  for (int i = 0; i <= 9; ++i) RawDB(path()).exec("CREATE INDEX xZip_Code" + std::to_string(i) + " ON Other(a)");
  refused(column("Code", nullptr, 0, 5, 0, 0, nullptr, nullptr, nullptr, nullptr, 1),
          {writer_error("AddColumnDef", "Index name \"xZip_Code\" is already in use, and 10 attempts to modify it have "
                                        "failed.Change either the first 8 characters of the Table name to something "
                                        "unique,or change the column name and try again.")});
}

// A failed creation or restructure leaves no back-up or half-built table.
TEST_F(LookupDefine, FailuresLeaveTheMetafileAsItWas) {
  Rows before = snapshot(path());
  ASSERT_EQ(0, Qb_DefineTableStructure(h(), "Zip", 1));
  ASSERT_EQ(0, column("Code", "NoSuchColumn", 0, 5, 0, 0, nullptr, nullptr, nullptr, nullptr, 0));
  int pkey = 0;
  refused(Qb_CreateTable(h(), &pkey),
          {writer_error("CreateTable", "Unable to port data from old table structure to new"),
           writer_error("CreateTable", "WARNING: This metafile may now be corrupted; close without saving"),
           writer_error("CreateTable", "no such column: NoSuchColumn"),
           writer_error("CreateTable", "INSERT INTO [Zip] ([PKey], [Code]) SELECT [PKey], [NoSuchColumn] FROM [Zip_bak];")});
  EXPECT_EQ(before, snapshot(path()));
  EXPECT_EQ(3, out_int(Edit_GetColumnsCount, h(), "Zip"));

  // A new table whose registration fails is not created either, and the
  // connection is left as it was.
  exec("CREATE TRIGGER refuse BEFORE INSERT ON RL_LookupTables BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  before = snapshot(path());
  ASSERT_EQ(0, Qb_DefineTableStructure(h(), "Fresh", 0));
  ASSERT_EQ(0, column("Code", nullptr, 0, 5, 0, 0, nullptr, nullptr, nullptr, nullptr, 1));
  pkey = 5;
  refused(Qb_CreateTable(h(), &pkey),
          {writer_error("CreateTable", "Unable to add newly-created table to RL_LookupTables"),
           writer_error("CreateTable", "WARNING: This metafile may now be corrupted; close without saving"),
           writer_error("CreateTable", "refused"),
           writer_error("CreateTable",
                        "INSERT INTO [RL_LookupTables] ([TableName], [RecCount]) VALUES ('Fresh', 0);")});
  EXPECT_EQ(0, pkey);
  EXPECT_EQ(before, snapshot(path()));
  EXPECT_EQ(-99, out_int(Edit_GetColumnsCount, h(), "Fresh"));
  EXPECT_NE(0, sqlite3_get_autocommit(InitCheck(h())->GetSQLDB()->Database()));
  exec("DROP TRIGGER refuse;");

  // A new table's registration leaves the rows the host holds in
  // RL_LookupTables' buffer, in edit and then insert mode, as the host's.
  int posted = 0;
  ASSERT_EQ(0, Qb_Edit(h(), "RL_LookupTables", 1));
  ASSERT_EQ(0, Qb_SetFieldByName(h(), "RL_LookupTables", "Comments", "edited"));
  EXPECT_EQ(2, out_int(Qb_CreateTable, h()));
  ASSERT_EQ(0, Qb_Post(h(), "RL_LookupTables", &posted));
  ASSERT_EQ(0, Qb_Insert(h(), "RL_LookupTables"));
  ASSERT_EQ(0, set_values(h(), "RL_LookupTables", {{"TableName", "Held"}, {"RecCount", "5"}}));
  ASSERT_EQ(0, Qb_DefineTableStructure(h(), "Fresh2", 0));
  ASSERT_EQ(0, column("Code", nullptr, 0, 5, 0, 0, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(3, out_int(Qb_CreateTable, h()));
  ASSERT_EQ(0, Qb_Post(h(), "RL_LookupTables", &posted));
  EXPECT_EQ((Rows{"1|Zip|2|edited", "2|Fresh|0|<null>", "3|Fresh2|0|<null>", "4|Held|5|<null>"}),
            rows("SELECT PKey, TableName, RecCount, Comments FROM RL_LookupTables"));
  EXPECT_EQ(-1, Qb_CreateTable(h(), &pkey));  // a second time: the table exists
  EXPECT_EQ(writer_error("CreateTable", "Unable to create table as defined"), engine_errors(h()).front());
  // A restructure without source columns leaves the table empty, and no back-up.
  ASSERT_EQ(0, Qb_DefineTableStructure(h(), "Zip", 1));
  ASSERT_EQ(0, column("Code", nullptr, 0, 5, 1, 0, nullptr, nullptr, nullptr, nullptr, 0));
  ASSERT_EQ(0, Qb_CreateTable(h(), nullptr));  // a restructure has no key to report
  EXPECT_EQ((Rows{"Zip|0"}), rows("SELECT name, (SELECT count(*) FROM Zip) FROM sqlite_master WHERE name LIKE 'Zip%'"));
  ASSERT_EQ(0, Qb_DefineTableStructure(h(), "Keyless", 0));
  ASSERT_EQ(0, column("Code", nullptr, 0, 5, 0, 0, nullptr, nullptr, nullptr, nullptr, 0));
  refused(Qb_CreateTable(h(), nullptr), {writer_error("CreateTable", "Parameter \"pkey\" must not be NULL")});
  EXPECT_EQ((Rows{}), rows("SELECT name FROM sqlite_master WHERE name = 'Keyless'"));
}

namespace {

// Zip with a trigger of another table that writes it, a view that reads it,
// and tables that refer to its keys: Refs plainly, Owned with ON DELETE
// CASCADE, Named by its unique Code. Loose has a PKey that is no row key.
const char* const kReferred =
    "CREATE TABLE Zip([PKey] integer NOT NULL PRIMARY KEY, [Code] char(5) NOT NULL);"
    "CREATE UNIQUE INDEX xZip_Code ON Zip([Code]);"
    "INSERT INTO Zip(PKey, Code) VALUES (7, '12345'), (9, '54321');"
    "CREATE TABLE Named([PKey] integer NOT NULL PRIMARY KEY, [ZipCode] char(5) REFERENCES Zip(Code));"
    "INSERT INTO Named(PKey, ZipCode) VALUES (1, '54321');"
    "CREATE TABLE Loose([PKey] varchar(5), [Code] char(5)); INSERT INTO Loose VALUES ('a', 'x'), ('a', 'y');"
    "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'Zip', 2);"
    "CREATE TABLE Audit([PKey] integer NOT NULL PRIMARY KEY, [N] integer);"
    "CREATE TRIGGER _Audit_zip AFTER INSERT ON Audit BEGIN UPDATE Zip SET Code = Code WHERE PKey = new.N; END;"
    "CREATE VIEW ZipCodes AS SELECT Code FROM Zip;"
    "CREATE TABLE Refs([PKey] integer NOT NULL PRIMARY KEY, [ZipPKey] integer REFERENCES Zip(PKey));"
    "CREATE TABLE Owned([PKey] integer NOT NULL PRIMARY KEY, [ZipPKey] integer REFERENCES Zip(PKey) ON DELETE CASCADE);"
    "INSERT INTO Owned(PKey, ZipPKey) VALUES (1, 9);";

// Restructures Zip (or another table) with a unique Code kept from Code, or
// with no rows kept at all.
int restructure(int h, const char* codeSource, const char* table = "Zip") {
  int pkey = 0;
  if (Qb_DefineTableStructure(h, table, 1) != 0 ||
      Qb_AddColumnDef(h, "Code", codeSource, 0, 6, 0, 0, nullptr, nullptr, nullptr, nullptr, 2) != 0)
    return -99;
  return Qb_CreateTable(h, &pkey);
}

const char* const kPortStep = "Unable to port data from old table structure to new";
const char* const kIndexStep = "Unable to create index for restructured table";

// A restructure that failed at a step and was undone: -1 and its four engine errors.
Rows undone(const char* step, const std::string& reason, const std::string& sql) {
  return {"-1", writer_error("CreateTable", step),
          writer_error("CreateTable", "WARNING: This metafile may now be corrupted; close without saving"),
          writer_error("CreateTable", reason), writer_error("CreateTable", sql)};
}

// A restructure of kReferred's Zip that keeps no row, undone: Named's row loses its Zip.
Rows named_row_lost() {
  return undone(kPortStep, "FOREIGN KEY constraint failed",
                "SELECT c.rowid, p.[PKey] FROM main.[Named] c JOIN main.[Zip] p ON p.[Code] = +c.[ZipCode];");
}

// A restructure of kReferred's Zip inside the host's transaction, refused for Owned's ON DELETE action.
Rows on_delete_refused() {
  return {"-1", writer_error("CreateTable", "Unable to rename original table to a back-up name"),
          writer_error("CreateTable", "Rows of table [Owned] refer to this table with an ON DELETE action, "
                                      "which its rebuild would run; restructure it outside a transaction")};
}

int pragma(int h, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(InitCheck(h)->GetSQLDB()->Database(), sql, -1, &statement, nullptr);
  int value = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int(statement, 0) : -1;
  sqlite3_finalize(statement);
  return value;
}

}  // namespace

// A restructure leaves every other trigger, view and reference naming the
// table, runs no ON DELETE action of the rows that refer to it, keeps their
// keys, and leaves foreign keys enforced, outside a transaction and inside one.
TEST(LookupRestructure, OtherTablesKeepNamingTheTableAndFindingTheirKeys) {
  OpenMetafile file(kReferred);
  int h = file.handle();
  RawDB raw(file.path());
  const std::string others =
      "SELECT sql FROM sqlite_master WHERE name IN ('_Audit_zip', 'ZipCodes', 'Refs', 'Owned', 'Named')";
  const Rows texts = raw.rows(others);
  ASSERT_EQ(Rows{"0"}, outcome(h, restructure(h, "Code")));  // nothing refers to it yet but Owned
  ASSERT_EQ(1, insert_row(h, "Refs", {{"ZipPKey", "7"}}));
  ASSERT_EQ(0, restructure(h, "Code"));
  EXPECT_EQ(texts, raw.rows(others));
  EXPECT_EQ((Rows{"7|12345", "9|54321"}), raw.rows("SELECT * FROM Zip"));
  EXPECT_EQ((Rows{"12345", "54321"}), raw.rows("SELECT * FROM ZipCodes"));
  EXPECT_EQ((Rows{"1|9"}), raw.rows("SELECT * FROM Owned"));
  EXPECT_EQ(1, insert_row(h, "Audit", {{"N", "7"}}));
  EXPECT_EQ(1, pragma(h, "PRAGMA foreign_keys"));
  EXPECT_EQ(-99, insert_row(h, "Refs", {{"ZipPKey", "8"}}));
  Qb_Cancel(h, "Refs");
  EXPECT_EQ(2, insert_row(h, "Named", {{"ZipCode", "12345"}}));
  // A reference that found no key before is no loss; a table whose PKey is
  // no row key gets new keys.
  ASSERT_EQ(SQLITE_OK, raw.exec("INSERT INTO Refs(PKey, ZipPKey) VALUES (2, 99);"));
  EXPECT_EQ(Rows{"0"}, outcome(h, restructure(h, "Code")));
  EXPECT_EQ(Rows{"0"}, outcome(h, restructure(h, "Code", "Loose")));
  EXPECT_EQ((Rows{"1|x", "2|y"}), raw.rows("SELECT * FROM Loose"));

  // A rebuild that would lose a referred key is undone.
  const Rows lost = named_row_lost();
  const Rows before = snapshot(file.path());
  EXPECT_EQ(lost, outcome(h, restructure(h, nullptr)));
  EXPECT_EQ(before, snapshot(file.path()));
  EXPECT_EQ(1, pragma(h, "PRAGMA foreign_keys"));
  // A commit that another connection's read holds back fails with its reason
  // and leaves the connection as it was.
  {
    RawDB reader(file.path());
    ASSERT_EQ(SQLITE_OK, reader.exec("BEGIN; SELECT count(*) FROM Zip;"));
    EXPECT_EQ((Rows{"-1", writer_error("CreateTable", "database is locked")}), outcome(h, restructure(h, "Code")));
    EXPECT_NE(0, sqlite3_get_autocommit(InitCheck(h)->GetSQLDB()->Database()));
    EXPECT_EQ(1, pragma(h, "PRAGMA foreign_keys"));
    ASSERT_EQ(SQLITE_OK, reader.exec("COMMIT;"));
  }
  EXPECT_EQ(before, snapshot(file.path()));

  // Inside the host's transaction the checks are deferred and the host's
  // setting comes back; an ON DELETE action that the rebuild would run is refused.
  ASSERT_EQ(0, Qb_BeginTrans(h));
  EXPECT_EQ(on_delete_refused(),
            outcome(h, restructure(h, "Code")));
  ASSERT_EQ(0, Qb_RollbackTrans(h));
  ASSERT_EQ(SQLITE_OK, raw.exec("DROP TABLE Owned;"));
  ASSERT_EQ(0, Qb_BeginTrans(h));
  EXPECT_EQ(Rows{"0"}, outcome(h, restructure(h, "Code")));
  EXPECT_EQ(0, pragma(h, "PRAGMA defer_foreign_keys"));
  EXPECT_EQ(lost, outcome(h, restructure(h, nullptr)));
  EXPECT_EQ(0, pragma(h, "PRAGMA defer_foreign_keys"));
  EXPECT_EQ(-99, insert_row(h, "Refs", {{"ZipPKey", "8"}}));  // still checked at once
  Qb_Cancel(h, "Refs");
  ASSERT_EQ(0, Qb_CommitTrans(h));
  EXPECT_EQ(texts.size() - 1, raw.rows(others).size());
  EXPECT_EQ((Rows{"1|7", "2|99"}), raw.rows("SELECT * FROM Refs"));
  EXPECT_EQ((Rows{"7|12345", "9|54321"}), raw.rows("SELECT * FROM Zip"));
}

namespace {

// A column of a restructure: its source column (or none), index kind,
// whether a trigger maintains it, whether it is nullable, and whether it is
// an integer (else text).
struct NewColumn {
  const char* Name;
  const char* Source;
  int Index = 0;
  int Trigger = 0;
  int Nullable = 0;
  int Integer = 0;
};

int restructure_to(int h, const char* table, std::initializer_list<NewColumn> columns) {
  if (Qb_DefineTableStructure(h, table, 1) != 0) return -99;
  for (const NewColumn& c : columns)
    if (Qb_AddColumnDef(h, c.Name, c.Source, c.Integer, 6, c.Nullable, c.Trigger, nullptr, nullptr, nullptr, nullptr,
                        c.Index) != 0)
      return -99;
  return Qb_CreateTable(h, nullptr);
}

// Cty keeps its keys in a column that is no row key, stored in another order
// than the keys; Person refers to them. Ward's keys cannot all be kept (one
// is NULL) and Street refers to one. Odd refers to Ward and to Cty, and its
// columns take every name of its rowid, so its rows are told by their values.
// Named refers to Zip's Code once for a code Zip has and once for a code only
// its Alt column holds; its Swap column holds the codes the other way round.
// Area refers to
// Zip, and to P by a column that no unique index covers. Crate refers to Box's
// Code, whose only unique index has another collation than the column.
// Resident refers to Town's primary key, whose index compares names blind to
// case. A trigger of Lot rewrites the code that Bid refers to, and Bid
// follows it where foreign keys are enforced.
const char* const kReferences =
    "CREATE TABLE Cty([PKey] integer NOT NULL, [Name] char(6) NOT NULL);"
    "CREATE UNIQUE INDEX xCty_PKey ON Cty([PKey]);"
    "INSERT INTO Cty VALUES (2, 'Bern'), (1, 'Aarau');"
    "CREATE TABLE Person([PKey] integer NOT NULL PRIMARY KEY, [Who] char(5), [CtyPKey] integer REFERENCES Cty(PKey));"
    "INSERT INTO Person VALUES (1, 'ann', 1), (2, 'bob', 2);"
    "CREATE TABLE Ward([PKey] integer, [Name] char(6));"
    "CREATE UNIQUE INDEX xWard_PKey ON Ward([PKey]);"
    "INSERT INTO Ward VALUES (NULL, 'South'), (1, 'North');"
    "CREATE TABLE Street([PKey] integer NOT NULL PRIMARY KEY, [WardPKey] integer REFERENCES Ward(PKey));"
    "INSERT INTO Street VALUES (1, 1);"
    "CREATE TABLE Odd([rowid] integer, [_rowid_] integer, [oid] integer, [WardPKey] integer REFERENCES Ward(PKey),"
    " [CtyPKey] integer REFERENCES Cty(PKey));"
    "INSERT INTO Odd VALUES (5, 5, 5, 1, 1);"
    "CREATE TABLE Zip([PKey] integer NOT NULL PRIMARY KEY, [Code] char(5) NOT NULL, [Alt] char(5) NOT NULL,"
    " [Swap] char(5) NOT NULL);"
    "CREATE UNIQUE INDEX xZip_Code ON Zip([Code]);"
    "INSERT INTO Zip VALUES (7, '12345', '99999', '22222'), (8, '22222', '33333', '12345');"
    "CREATE TABLE Named([PKey] integer NOT NULL PRIMARY KEY, [ZipCode] char(5) REFERENCES Zip(Code));"
    "INSERT INTO Named VALUES (1, '12345'), (2, '99999');"
    "CREATE TABLE P([PKey] integer NOT NULL PRIMARY KEY, [Name] varchar(10));"
    "CREATE TABLE Area([PKey] integer NOT NULL PRIMARY KEY, [ZipPKey] integer REFERENCES Zip(PKey),"
    " [PName] varchar(10) REFERENCES P(Name));"
    "INSERT INTO Area VALUES (1, 7, 'x');"
    "CREATE TABLE Box([PKey] integer NOT NULL PRIMARY KEY, [Code] char(5) COLLATE NOCASE);"
    "CREATE UNIQUE INDEX xBox_Code ON Box([Code] COLLATE BINARY);"
    "INSERT INTO Box VALUES (1, 'a1');"
    "CREATE TABLE Crate([PKey] integer NOT NULL PRIMARY KEY, [BoxCode] char(5) REFERENCES Box(Code));"
    "INSERT INTO Crate VALUES (1, 'a1');"
    "CREATE TABLE Town([PKey] integer NOT NULL, [Name] char(6) NOT NULL, PRIMARY KEY([Name] COLLATE NOCASE));"
    "INSERT INTO Town VALUES (1, 'bern');"
    "CREATE TABLE Resident([PKey] integer NOT NULL PRIMARY KEY, [TownName] char(6) REFERENCES Town);"
    "INSERT INTO Resident VALUES (1, 'BERN');"
    "CREATE TABLE Lot([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(6));"
    "CREATE UNIQUE INDEX xLot_Code ON Lot([Code]);"
    "CREATE TRIGGER _Lot_code AFTER UPDATE ON Lot BEGIN UPDATE Lot SET [Code] = 'L' || new.PKey WHERE PKey = new.PKey; END;"
    "INSERT INTO Lot VALUES (1, 'old');"
    "CREATE TABLE Bid([PKey] integer NOT NULL PRIMARY KEY, [LotCode] varchar(6) REFERENCES Lot(Code) ON UPDATE CASCADE);"
    "INSERT INTO Bid VALUES (1, 'old');";

const char* const kNamedFinds =
    "SELECT c.rowid, p.[PKey] FROM main.[Named] c JOIN main.[Zip] p ON p.[Code] = +c.[ZipCode];";

}  // namespace

// Every row of another table that found a row before a restructure finds the
// row of the same PKey after it: keys that are distinct whole numbers are
// kept wherever PKey is declared, and a reference that would find another row,
// or none (even while another gains one), undoes the restructure. References
// to other tables are not looked at; one to the table that can no longer be
// checked undoes it. Outside the host's transaction and inside it alike.
TEST(LookupRestructure, ReferencesFindTheRowOfTheSamePKeyAfterward) {
  for (bool inTransaction : {false, true}) {
    SCOPED_TRACE(inTransaction ? "inside a transaction" : "outside a transaction");
    OpenMetafile file(kReferences);
    int h = file.handle();
    RawDB raw(file.path());
    const Rows before = snapshot(file.path());
    if (inTransaction) {
      ASSERT_EQ(0, Qb_BeginTrans(h));
    }
    // Code taken from Alt: Named 1 loses Zip 7, which Named 2 gains.
    EXPECT_EQ(undone(kPortStep, "FOREIGN KEY constraint failed", kNamedFinds),
              outcome(h, restructure_to(h, "Zip", {{"Code", "Alt", 2}})));
    // Code taken from Swap: Named 1 finds Zip 8 instead of 7.
    EXPECT_EQ(undone(kPortStep, "FOREIGN KEY constraint failed", kNamedFinds),
              outcome(h, restructure_to(h, "Zip", {{"Code", "Swap", 2}})));
    // Ward's rows are renumbered, under Odd's and Street's references.
    EXPECT_EQ(undone(kPortStep, "FOREIGN KEY constraint failed",
                     "SELECT quote(c.[WardPKey]), p.[PKey] FROM main.[Odd] c JOIN main.[Ward] p "
                     "ON p.[PKey] = +c.[WardPKey];"),
              outcome(h, restructure_to(h, "Ward", {{"Name", "Name"}})));
    // Resident found Town 1 by its name; Town's primary key becomes PKey.
    EXPECT_EQ(undone(kPortStep, "FOREIGN KEY constraint failed",
                     "SELECT c.rowid, p.[PKey] FROM main.[Resident] c JOIN main.[Town] p ON p.[PKey] = +c.[TownName];"),
              outcome(h, restructure_to(h, "Town", {{"Name", "Name"}})));
    // Without a unique index the database can no longer check Named's reference.
    EXPECT_EQ(inTransaction ? undone(kPortStep, "foreign key mismatch - \"Named\" referencing \"Zip\"",
                                     "INSERT INTO [Zip] ([PKey], [Code]) SELECT [PKey], [Code] FROM [Zip_bak];")
                            : undone(kPortStep, "foreign key mismatch - \"Named\" referencing \"Zip\"", kNamedFinds),
              outcome(h, restructure_to(h, "Zip", {{"Code", "Code"}})));
    if (inTransaction) {
      ASSERT_EQ(0, Qb_CommitTrans(h));
    }
    EXPECT_EQ(before, snapshot(file.path()));

    if (inTransaction) {
      ASSERT_EQ(0, Qb_BeginTrans(h));
    }
    EXPECT_EQ(Rows{"0"}, outcome(h, restructure_to(h, "Cty", {{"Name", "Name"}})));
    // Area's reference to P cannot be checked, before or after: no reason to refuse.
    EXPECT_EQ(Rows{"0"}, outcome(h, restructure_to(h, "Zip", {{"Code", "Code", 2}})));
    // Nor could it check Crate's reference: Box may lose the row it names.
    // While foreign keys are enforced the database refuses Box's rows for it.
    EXPECT_EQ(inTransaction ? undone(kPortStep, "foreign key mismatch - \"Crate\" referencing \"Box\"",
                                     "INSERT INTO [Box] ([PKey], [Code]) SELECT [PKey], [Code] FROM [Box_bak];")
                            : Rows{"0"},
              outcome(h, restructure_to(h, "Box", {{"Code", "Code"}})));
    EXPECT_EQ(Rows{"0"}, outcome(h, restructure_to(h, "Box", {{"Code", nullptr, 2}})));
    // Bid's row follows its lot's new code only where foreign keys are enforced.
    const Rows bidLost = undone(kPortStep, "FOREIGN KEY constraint failed",
                                "SELECT c.rowid, p.[PKey] FROM main.[Bid] c JOIN main.[Lot] p ON p.[Code] = +c.[LotCode];");
    EXPECT_EQ(inTransaction ? Rows{"0"} : bidLost, outcome(h, restructure_to(h, "Lot", {{"Code", "Code", 2, 1}})));
    if (inTransaction) {
      ASSERT_EQ(0, Qb_CommitTrans(h));
    }
    EXPECT_EQ((Rows{"ann|Aarau", "bob|Bern"}),
              raw.rows("SELECT Who, Name FROM Person JOIN Cty ON Cty.PKey = Person.CtyPKey ORDER BY Who"));
    EXPECT_EQ((Rows{"1|Aarau", "2|Bern"}), raw.rows("SELECT * FROM Cty"));
    EXPECT_EQ((Rows{"7|12345", "8|22222"}), raw.rows("SELECT * FROM Zip"));
    EXPECT_EQ((Rows{"1|7|x"}), raw.rows("SELECT * FROM Area"));
    EXPECT_EQ((Rows{inTransaction ? "1|L1" : "1|old"}), raw.rows("SELECT * FROM Bid"));
  }
}

namespace {

// Canton's keys cannot all be kept (one is NULL), nor Region's (one is
// repeated), and no unique index lets the database check Voter's and
// Member's references to them. Node refers to its own keys, which cannot all
// be kept either; Tree and Twig to their own unique codes, and Twig's Alt
// values are not unique. Cty and Knot declare no primary key, which Person's
// reference to Cty and Knot's to itself name no column of.
const char* const kUnkeptKeys =
    "CREATE TABLE Canton([PKey] integer, [Name] char(6) NOT NULL);"
    "INSERT INTO Canton VALUES (2, 'Bern'), (NULL, 'Aarau'), (5, 'Chur');"
    "CREATE TABLE Voter([PKey] integer NOT NULL PRIMARY KEY, [Who] char(5), [CantonPKey] integer REFERENCES Canton(PKey));"
    "INSERT INTO Voter VALUES (1, 'ann', 2);"
    "CREATE TABLE Region([PKey] integer, [Name] char(6) NOT NULL);"
    "INSERT INTO Region VALUES (2, 'Bern'), (2, 'Chur'), (1, 'Aarau');"
    "CREATE TABLE Member([PKey] integer NOT NULL PRIMARY KEY, [Who] char(5), [RegionPKey] integer REFERENCES Region(PKey));"
    "INSERT INTO Member VALUES (1, 'ann', 1);"
    "CREATE TABLE Node([PKey] integer, [Up] integer REFERENCES Node(PKey), [Code] char(3));"
    "CREATE UNIQUE INDEX xNode_PKey ON Node([PKey]);"
    "INSERT INTO Node VALUES (NULL, 0, 'x'), (10, 0, 'r'), (20, 10, 'a'), (30, 20, 'b');"
    "CREATE TABLE Tree([PKey] integer NOT NULL PRIMARY KEY, [Code] char(3) NOT NULL, [Alt] char(3),"
    " [Up] char(3) REFERENCES Tree(Code));"
    "CREATE UNIQUE INDEX xTree_Code ON Tree([Code]);"
    "INSERT INTO Tree VALUES (10, 'r', 'a', NULL), (20, 'a', 'q', 'r'), (30, 'b', 'b', 'a');"
    "CREATE TABLE Twig([PKey] integer NOT NULL PRIMARY KEY, [Code] char(3) NOT NULL, [Alt] char(3),"
    " [Up] char(3) REFERENCES Twig(Code));"
    "CREATE UNIQUE INDEX xTwig_Code ON Twig([Code]);"
    "INSERT INTO Twig VALUES (10, 'r', 'r', NULL), (20, 'a', 'r', 'r');"
    "CREATE TABLE Cty([PKey] integer, [Name] char(6) NOT NULL);"
    "INSERT INTO Cty VALUES (2, 'Bern'), (NULL, 'Aarau'), (5, 'Chur');"
    "CREATE TABLE Person([PKey] integer NOT NULL PRIMARY KEY, [Who] char(5), [CtyPKey] integer REFERENCES Cty);"
    "INSERT INTO Person VALUES (1, 'ann', 2), (2, 'bob', 5);"
    "CREATE TABLE Knot([PKey] integer, [Up] integer REFERENCES Knot, [Code] char(3));"
    "INSERT INTO Knot VALUES (NULL, 0, 'x'), (10, 0, 'r'), (20, 10, 'a');";

}  // namespace

// Where the rows cannot all keep their keys, a row that found a row by a
// reference the database could not check loses it, and the restructure is
// undone. The table's own rows are held to the rule of other tables' rows,
// read through the new table's columns of the same names: each must find the
// row of the same PKey, and that row alone; a referring column left out takes
// its reference with it, and a row that found nothing loses nothing.
TEST(LookupRestructure, UncheckedReferencesToRenumberedRowsAndTheTablesOwnFindTheSameRow) {
  for (bool inTransaction : {false, true}) {
    SCOPED_TRACE(inTransaction ? "inside a transaction" : "outside a transaction");
    OpenMetafile file(kUnkeptKeys);
    int h = file.handle();
    RawDB raw(file.path());
    const Rows before = snapshot(file.path());
    if (inTransaction) {
      ASSERT_EQ(0, Qb_BeginTrans(h));
    }
    EXPECT_EQ(undone(kPortStep, "FOREIGN KEY constraint failed",
                     "SELECT c.rowid, p.[PKey] FROM main.[Voter] c JOIN main.[Canton] p ON p.[PKey] = +c.[CantonPKey];"),
              outcome(h, restructure_to(h, "Canton", {{"Name", "Name"}})));
    EXPECT_EQ(undone(kPortStep, "FOREIGN KEY constraint failed",
                     "SELECT c.rowid, p.[PKey] FROM main.[Member] c JOIN main.[Region] p ON p.[PKey] = +c.[RegionPKey];"),
              outcome(h, restructure_to(h, "Region", {{"Name", "Name"}})));
    EXPECT_EQ(undone(kPortStep, "FOREIGN KEY constraint failed",
                     "SELECT c.rowid, p.[PKey] FROM main.[Node] c JOIN main.[Node] p ON p.[PKey] = +c.[Up];"),
              outcome(h, restructure_to(h, "Node", {{"Up", "Up"}, {"Code", "Code"}})));
    // Codes taken from Alt: row 20 finds no parent, row 30 finds row 10.
    const std::string treeFinds = "SELECT c.[PKey], p.[PKey] FROM main.[Tree] c JOIN main.[Tree] p ON p.[Code] = +c.[Up];";
    EXPECT_EQ(undone(kPortStep, "FOREIGN KEY constraint failed", treeFinds),
              outcome(h, restructure_to(h, "Tree", {{"Code", "Alt", 2}, {"Alt", "Code", 0, 0, 1}, {"Up", "Up", 0, 0, 1}})));
    // Codes left out: no row finds its parent.
    EXPECT_EQ(undone(kPortStep, "FOREIGN KEY constraint failed", treeFinds),
              outcome(h, restructure_to(h, "Tree", {{"Alt", "Alt", 0, 0, 1}, {"Up", "Up", 0, 0, 1}})));
    // Codes taken from Alt, not unique: row 20 finds row 10 and itself.
    EXPECT_EQ(undone(kPortStep, "FOREIGN KEY constraint failed",
                     "SELECT c.[PKey], p.[PKey] FROM main.[Twig] c JOIN main.[Twig] p ON p.[Code] = +c.[Up];"),
              outcome(h, restructure_to(h, "Twig", {{"Code", "Alt"}, {"Alt", "Code", 0, 0, 1}, {"Up", "Up", 0, 0, 1}})));
    // A reference that names no column of a table that declares no primary
    // key finds its rows by PKey.
    EXPECT_EQ(undone(kPortStep, "FOREIGN KEY constraint failed",
                     "SELECT c.rowid, p.[PKey] FROM main.[Person] c JOIN main.[Cty] p ON p.[PKey] = +c.[CtyPKey];"),
              outcome(h, restructure_to(h, "Cty", {{"Name", "Name"}})));
    EXPECT_EQ(undone(kPortStep, "FOREIGN KEY constraint failed",
                     "SELECT c.rowid, p.[PKey] FROM main.[Knot] c JOIN main.[Knot] p ON p.[PKey] = +c.[Up];"),
              outcome(h, restructure_to(h, "Knot", {{"Up", "Up"}, {"Code", "Code"}})));
    if (inTransaction) {
      ASSERT_EQ(0, Qb_CommitTrans(h));
    }
    EXPECT_EQ(before, snapshot(file.path()));

    // Rows that find nothing lose nothing.
    ASSERT_EQ(SQLITE_OK, raw.exec("UPDATE Member SET RegionPKey = 99; UPDATE Twig SET Up = 'zz';"
                                  "UPDATE Person SET CtyPKey = 99; UPDATE Knot SET Up = 99;"));
    if (inTransaction) {
      ASSERT_EQ(0, Qb_BeginTrans(h));
    }
    EXPECT_EQ(Rows{"0"}, outcome(h, restructure_to(h, "Region", {{"Name", "Name"}})));
    EXPECT_EQ(Rows{"0"}, outcome(h, restructure_to(h, "Node", {{"Code", "Code"}})));
    EXPECT_EQ(Rows{"0"}, outcome(h, restructure_to(h, "Tree", {{"Code", "Code", 2}, {"Alt", "Alt", 0, 0, 1},
                                                                 {"Up", "Up", 0, 0, 1}})));
    EXPECT_EQ(Rows{"0"}, outcome(h, restructure_to(h, "Tree", {{"Code", "Alt", 2}, {"Alt", "Code", 0, 0, 1}})));
    EXPECT_EQ(Rows{"0"}, outcome(h, restructure_to(h, "Twig", {{"Up", "Up", 0, 0, 1}})));
    EXPECT_EQ(Rows{"0"}, outcome(h, restructure_to(h, "Cty", {{"Name", "Name"}})));
    EXPECT_EQ(Rows{"0"}, outcome(h, restructure_to(h, "Knot", {{"Up", "Up"}, {"Code", "Code"}})));
    if (inTransaction) {
      ASSERT_EQ(0, Qb_CommitTrans(h));
    }
    EXPECT_EQ((Rows{"1|Bern", "2|Chur", "3|Aarau"}), raw.rows("SELECT * FROM Region"));
    EXPECT_EQ((Rows{"1|x", "2|r", "3|a", "4|b"}), raw.rows("SELECT * FROM Node"));
    EXPECT_EQ((Rows{"10|a|r", "20|q|a", "30|b|b"}), raw.rows("SELECT * FROM Tree"));
    EXPECT_EQ((Rows{"10|zz", "20|zz"}), raw.rows("SELECT * FROM Twig"));
    EXPECT_EQ((Rows{"1|Bern", "2|Aarau", "3|Chur"}), raw.rows("SELECT * FROM Cty"));
    EXPECT_EQ((Rows{"1|99|x", "2|99|r", "3|99|a"}), raw.rows("SELECT * FROM Knot"));
  }
}

namespace {

// DNamed's reference to Zip's codes, Tag's to Kind's, Chain's to itself and
// Two's to Pair's pairs of codes are checked at the commit only; Other is a
// table that nothing refers to. Area refers to Zip, and to P by a column that
// no unique index covers.
const char* const kDeferred =
    "CREATE TABLE Zip([PKey] integer NOT NULL PRIMARY KEY, [Code] char(5) NOT NULL, [Alt] char(5) NOT NULL);"
    "CREATE UNIQUE INDEX xZip_Code ON Zip([Code]);"
    "INSERT INTO Zip VALUES (7, '12345', '99999'), (8, '22222', '33333');"
    "CREATE TABLE DNamed([PKey] integer NOT NULL PRIMARY KEY,"
    " [ZipCode] char(5) REFERENCES Zip(Code) DEFERRABLE INITIALLY DEFERRED);"
    "CREATE TABLE Kind([PKey] integer NOT NULL PRIMARY KEY, [Code] char(5) NOT NULL);"
    "CREATE UNIQUE INDEX xKind_Code ON Kind([Code]);"
    "CREATE TABLE Tag([PKey] integer NOT NULL PRIMARY KEY,"
    " [KindCode] char(5) REFERENCES Kind(Code) DEFERRABLE INITIALLY DEFERRED);"
    "CREATE TABLE Other([PKey] integer NOT NULL PRIMARY KEY, [Code] char(5));"
    "CREATE TABLE P([PKey] integer NOT NULL PRIMARY KEY, [Name] varchar(10));"
    "CREATE TABLE Area([PKey] integer NOT NULL PRIMARY KEY, [ZipPKey] integer REFERENCES Zip(PKey),"
    " [PName] varchar(10) REFERENCES P(Name));"
    "INSERT INTO Area VALUES (1, 7, NULL);"
    "CREATE TABLE Chain([PKey] integer NOT NULL PRIMARY KEY,"
    " [Up] integer REFERENCES Chain(PKey) DEFERRABLE INITIALLY DEFERRED);"
    "CREATE TABLE Pair([PKey] integer NOT NULL PRIMARY KEY, [A] char(2) NOT NULL, [B] char(2) NOT NULL);"
    "CREATE UNIQUE INDEX xPair_AB ON Pair([A], [B]);"
    "CREATE TABLE Two([PKey] integer NOT NULL PRIMARY KEY, [A] char(2), [B] char(2),"
    " FOREIGN KEY([A], [B]) REFERENCES Pair([A], [B]) DEFERRABLE INITIALLY DEFERRED);";

// The refusal of a rebuild that would lose track of a reference left pending.
Rows pending_refused(const std::string& child, const std::string& parent) {
  return {"-1", writer_error("CreateTable", kPortStep),
          writer_error("CreateTable", "A row of table [" + child + "] that refers to table [" + parent +
                                          "] finds no row while the host's transaction holds foreign key checks "
                                          "pending, which the rebuild would lose track of; restructure the table "
                                          "once they are resolved or committed")};
}

}  // namespace

// A row that the host's transaction left finding no row is the host's to
// settle: a restructure that would settle it (or drop it) behind the
// database's count, whether the row refers to the table or is one of its
// own, is refused with nothing changed, and the host's commit then answers as
// it would have without it. Nothing pending, or pending elsewhere, refuses nothing.
TEST(LookupRestructure, AReferenceTheHostLeftPendingStaysTheHosts) {
  OpenMetafile file(kDeferred);
  int h = file.handle();
  RawDB raw(file.path());
  ASSERT_EQ(0, Qb_BeginTrans(h));
  ASSERT_EQ(1, insert_row(h, "Tag", {{"KindCode", "k1"}}));
  EXPECT_EQ(Rows{"0"}, outcome(h, restructure_to(h, "Other", {{"Code", "Code"}})));
  EXPECT_EQ(Rows{"0"}, outcome(h, restructure_to(h, "Zip", {{"Code", "Code", 2}, {"Alt", "Alt"}})));
  EXPECT_EQ(pending_refused("Tag", "Kind"), outcome(h, restructure_to(h, "Tag", {{"KindCode", "KindCode"}})));
  ASSERT_EQ(1, insert_row(h, "Chain", {{"Up", "5"}}));
  EXPECT_EQ(pending_refused("Chain", "Chain"), outcome(h, restructure_to(h, "Chain", {{"Up", "Up", 0, 0, 1, 1}})));
  ASSERT_EQ(1, insert_row(h, "Two", {{"A", "x"}, {"B", "y"}}));
  EXPECT_EQ(pending_refused("Two", "Pair"), outcome(h, restructure_to(h, "Two", {{"A", "A"}, {"B", "B"}})));
  ASSERT_EQ(1, insert_row(h, "DNamed", {{"ZipCode", "99999"}}));
  EXPECT_EQ(pending_refused("DNamed", "Zip"), outcome(h, restructure_to(h, "Zip", {{"Code", "Alt", 2}, {"Alt", "Code"}})));
  EXPECT_EQ((Rows{"-1", tsmf_error("CommitTrans", "FOREIGN KEY constraint failed")}), outcome(h, Qb_CommitTrans(h)));
  ASSERT_EQ(9, insert_row(h, "Zip", {{"Code", "99999"}, {"Alt", "x"}}));
  ASSERT_EQ(1, insert_row(h, "Kind", {{"Code", "k1"}}));
  ASSERT_EQ(5, insert_row(h, "Chain", {{"PKey", "5"}, {"Up", "5"}}));
  ASSERT_EQ(1, insert_row(h, "Pair", {{"A", "x"}, {"B", "y"}}));
  EXPECT_EQ(Rows{"0"}, outcome(h, Qb_CommitTrans(h)));

  ASSERT_EQ(0, Qb_BeginTrans(h));
  ASSERT_EQ(2, insert_row(h, "DNamed", {{"ZipCode", "12345"}}));
  EXPECT_EQ(Rows{"0"}, outcome(h, restructure_to(h, "Zip", {{"Code", "Code", 2}, {"Alt", "Alt"}})));
  EXPECT_EQ(Rows{"0"}, outcome(h, Qb_CommitTrans(h)));
  EXPECT_EQ((Rows{"7|12345|99999", "8|22222|33333", "9|99999|x"}), raw.rows("SELECT * FROM Zip"));
  EXPECT_EQ((Rows{"1|99999", "2|12345"}), raw.rows("SELECT * FROM DNamed"));
  EXPECT_EQ((Rows{"1|k1"}), raw.rows("SELECT * FROM Tag"));
}

namespace {

// S refers to itself with an ON DELETE action, and C to S by a column that
// no index covers. T refers to V by a column that no unique index covers,
// which the database cannot check; D's reference to K is checked at the
// commit only. A host index takes the name the rebuild's own index would take first.
const char* const kHarmless =
    "CREATE TABLE S([PKey] integer NOT NULL PRIMARY KEY, [Code] char(5),"
    " [Up] integer REFERENCES S(PKey) ON DELETE CASCADE);"
    "INSERT INTO S VALUES (1, 'r', 1), (2, 'a', 1), (3, 'b', 2);"
    "CREATE TABLE C([PKey] integer NOT NULL PRIMARY KEY, [SPKey] integer REFERENCES S(PKey));"
    "INSERT INTO C VALUES (1, 3);"
    "CREATE TABLE V([PKey] integer NOT NULL PRIMARY KEY, [Name] varchar(10));"
    "INSERT INTO V VALUES (1, 'v1');"
    "CREATE TABLE T([PKey] integer NOT NULL PRIMARY KEY, [Code] char(5), [VName] varchar(10) REFERENCES V(Name));"
    "INSERT INTO T VALUES (1, 't1', 'v1');"
    "CREATE TABLE K([PKey] integer NOT NULL PRIMARY KEY, [Code] char(5) NOT NULL);"
    "CREATE UNIQUE INDEX xK_Code ON K([Code]);"
    "CREATE TABLE D([PKey] integer NOT NULL PRIMARY KEY, [KCode] char(5) REFERENCES K(Code) DEFERRABLE INITIALLY DEFERRED);"
    "CREATE INDEX [quelt rebuild index 0] ON V([Name]);";

}  // namespace

// Inside the host's transaction a restructure is refused only for what it
// would harm: the table's own ON DELETE action reaches only its own old rows,
// and a reference that the database cannot check leaves nothing pending. The
// indexes the rebuild makes for the referring columns are gone after it, and
// the host's own objects are left alone.
TEST(LookupRestructure, InsideATransactionWhatCannotBeHarmedIsNotRefused) {
  OpenMetafile file(kHarmless);
  int h = file.handle();
  RawDB raw(file.path());
  const std::string others = "SELECT type, name, sql FROM sqlite_master WHERE tbl_name <> 'S' ORDER BY name";
  const Rows schema = raw.rows(others);
  ASSERT_EQ(0, Qb_BeginTrans(h));
  ASSERT_EQ(1, insert_row(h, "D", {{"KCode", "k1"}}));
  EXPECT_EQ(Rows{"0"}, outcome(h, restructure_to(h, "T", {{"Code", "Code"}, {"VName", "VName", 0, 0, 1}})));
  EXPECT_EQ(Rows{"0"}, outcome(h, restructure_to(h, "S", {{"Code", "Code"}, {"Up", "Up", 0, 0, 1, 1}})));
  EXPECT_EQ((Rows{"-1", tsmf_error("CommitTrans", "FOREIGN KEY constraint failed")}), outcome(h, Qb_CommitTrans(h)));
  ASSERT_EQ(1, insert_row(h, "K", {{"Code", "k1"}}));
  EXPECT_EQ(Rows{"0"}, outcome(h, Qb_CommitTrans(h)));
  EXPECT_EQ((Rows{"1|r|1", "2|a|1", "3|b|2"}), raw.rows("SELECT * FROM S"));
  EXPECT_EQ((Rows{"1|t1|v1"}), raw.rows("SELECT * FROM T"));
  EXPECT_EQ((Rows{"1|3"}), raw.rows("SELECT * FROM C"));
  Rows expected = schema;
  for (std::string& row : expected)
    if (row.compare(0, 8, "table|T|") == 0)
      row = "table|T|CREATE TABLE [T]( [PKey] integer NOT NULL PRIMARY KEY, \n[Code] char(6) NOT NULL collate nocase "
            "default '', \n[VName] char(6) NULL collate nocase)";
  EXPECT_EQ(expected, raw.rows(others));
}

namespace {

// Par's Code compares blind to case, its PKey is its row key. ByKey refers to
// PKey by a column that compares blind to case, ByCode to Code by a column
// whose only index compares by bytes, ByText to PKey by a text column;
// Indexed's column has an index, and Keyed refers by its own row key.
const char* const kReferringColumns =
    "CREATE TABLE Par([PKey] integer NOT NULL PRIMARY KEY, [Code] char(5) NOT NULL collate nocase);"
    "CREATE UNIQUE INDEX xPar_Code ON Par([Code]);"
    "INSERT INTO Par VALUES (1, 'a'), (2, 'b');"
    "CREATE TABLE ByKey([PKey] integer NOT NULL PRIMARY KEY, [ParPKey] integer collate nocase REFERENCES Par(PKey));"
    "CREATE TABLE ByCode([PKey] integer NOT NULL PRIMARY KEY, [ParCode] char(5) REFERENCES Par(Code));"
    "CREATE INDEX xByCode ON ByCode([ParCode]);"
    "CREATE TABLE ByText([PKey] integer NOT NULL PRIMARY KEY, [ParPKey] varchar(5) REFERENCES Par(PKey));"
    "CREATE TABLE Indexed([PKey] integer NOT NULL PRIMARY KEY, [ParPKey] integer REFERENCES Par(PKey));"
    "CREATE INDEX xIndexed ON Indexed([ParPKey]);"
    "CREATE TABLE Keyed([PKey] integer NOT NULL PRIMARY KEY REFERENCES Par(PKey));"
    "INSERT INTO ByKey VALUES (1, 1); INSERT INTO ByCode VALUES (1, 'B'); INSERT INTO ByText VALUES (1, '2');"
    "INSERT INTO Indexed VALUES (1, 2); INSERT INTO Keyed VALUES (1);";

int trace_rebuild_indexes(unsigned, void* statements, void*, void* text) {
  std::string sql = static_cast<const char*>(text);
  bool index = sql.compare(0, 13, "CREATE INDEX ") == 0 || sql.compare(0, 11, "DROP INDEX ") == 0;
  if (index && sql.find("quelt rebuild index") != std::string::npos) static_cast<Rows*>(statements)->push_back(sql);
  return 0;
}

}  // namespace

// Inside the host's transaction each referring column that no index covers
// under the collation the database's lookups compare it with has an index
// of the rebuild's own while it runs, and none where no index could serve the
// lookup; outside one, foreign keys are off and nothing is looked up.
TEST(LookupRestructure, ReferringColumnsHaveAnIndexOnlyWhileTheRebuildRuns) {
  for (bool inTransaction : {false, true}) {
    SCOPED_TRACE(inTransaction ? "inside a transaction" : "outside a transaction");
    OpenMetafile file(kReferringColumns);
    int h = file.handle();
    RawDB raw(file.path());
    const Rows schema = raw.rows("SELECT type, name, sql FROM sqlite_master WHERE tbl_name <> 'Par' ORDER BY name");
    Rows statements;
    sqlite3_trace_v2(InitCheck(h)->GetSQLDB()->Database(), SQLITE_TRACE_STMT, trace_rebuild_indexes, &statements);
    if (inTransaction) {
      ASSERT_EQ(0, Qb_BeginTrans(h));
    }
    EXPECT_EQ(Rows{"0"}, outcome(h, restructure_to(h, "Par", {{"Code", "Code", 2}})));
    if (inTransaction) {
      ASSERT_EQ(0, Qb_CommitTrans(h));
    }
    sqlite3_trace_v2(InitCheck(h)->GetSQLDB()->Database(), 0, nullptr, nullptr);
    const Rows made = {"CREATE INDEX main.[quelt rebuild index 0] ON [ByCode]([ParCode] COLLATE [nocase]);",
                       "CREATE INDEX main.[quelt rebuild index 1] ON [ByKey]([ParPKey] COLLATE [nocase]);",
                       "DROP INDEX IF EXISTS main.[quelt rebuild index 0];",
                       "DROP INDEX IF EXISTS main.[quelt rebuild index 1];"};
    EXPECT_EQ(inTransaction ? made : Rows{}, statements);
    EXPECT_EQ(schema, raw.rows("SELECT type, name, sql FROM sqlite_master WHERE tbl_name <> 'Par' ORDER BY name"));
    EXPECT_EQ((Rows{"1|a", "2|b"}), raw.rows("SELECT * FROM Par"));
  }
}

namespace {

// Zip's codes are distinct, its Alt values and the value its trigger writes
// are not; Named refers to its Code when `referred`.
std::string duplicates(bool referred) {
  return std::string(
             "CREATE TABLE Zip([PKey] integer NOT NULL PRIMARY KEY, [Code] char(5) NOT NULL, [Alt] char(5) NOT NULL,"
             " [Tag] varchar(5));"
             "CREATE TRIGGER _Zip_tag AFTER UPDATE ON Zip BEGIN UPDATE Zip SET [Tag] = 'x' WHERE PKey = new.PKey; END;"
             "INSERT INTO Zip VALUES (7, '12345', 'same', NULL), (8, '22222', 'same', NULL);") +
         (referred ? "CREATE UNIQUE INDEX xZip_Code ON Zip([Code]);"
                     "CREATE TABLE Named([PKey] integer NOT NULL PRIMARY KEY, [ZipCode] char(5) REFERENCES Zip(Code));"
                     "INSERT INTO Named VALUES (1, '12345');"
                   : "");
}

}  // namespace

// A duplicate in a new unique index is the index step's failure, with the
// index's statement, inside the host's transaction as outside it: also where
// another table's reference to a unique column needs the indexes before the
// rows come back, whether the copy or the triggers make the duplicate.
TEST(LookupRestructure, ADuplicateIsTheIndexStepsFailureInsideATransactionToo) {
  for (bool referred : {false, true}) {
    for (bool inTransaction : {false, true}) {
      SCOPED_TRACE(std::string(referred ? "referred to, " : "") + (inTransaction ? "inside" : "outside"));
      OpenMetafile file(duplicates(referred));
      int h = file.handle();
      const Rows before = snapshot(file.path());
      // The old unique index on Code keeps its name.
      const std::string codeIndex = referred ? "xZip_Code0" : "xZip_Code";
      if (inTransaction) {
        ASSERT_EQ(0, Qb_BeginTrans(h));
      }
      EXPECT_EQ(undone(kIndexStep, "UNIQUE constraint failed: Zip.Code",
                       "CREATE UNIQUE INDEX " + codeIndex + " ON [Zip] ([Code])"),
                outcome(h, restructure_to(h, "Zip", {{"Code", "Alt", 2}})));
      EXPECT_EQ(undone(kIndexStep, "UNIQUE constraint failed: Zip.Tag", "CREATE UNIQUE INDEX xZip_Tag ON [Zip] ([Tag])"),
                outcome(h, restructure_to(h, "Zip", {{"Code", "Code", 2}, {"Tag", nullptr, 2, 1}})));

      // The copy fails before the indexes are made, but where they must be there first.
      ASSERT_EQ(0, Qb_DefineTableStructure(h, "Zip", 1));
      ASSERT_EQ(0, Qb_AddColumnDef(h, "Code", "Nope", 0, 6, 0, 0, nullptr, nullptr, nullptr, nullptr, 2));
      sqlite3* db = InitCheck(h)->GetSQLDB()->Database();
      const std::string take = "CREATE TABLE Taken(a); CREATE INDEX " + codeIndex + " ON Taken(a);";
      ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, take.c_str(), nullptr, nullptr, nullptr));
      EXPECT_EQ(referred && inTransaction
                    ? undone(kIndexStep, "index " + codeIndex + " already exists",
                             "CREATE UNIQUE INDEX " + codeIndex + " ON [Zip] ([Code])")
                    : undone(kPortStep, "no such column: Nope",
                             "INSERT INTO [Zip] ([PKey], [Code]) SELECT [PKey], [Nope] FROM [Zip_bak];"),
                outcome(h, Qb_CreateTable(h, nullptr)));
      ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "DROP TABLE Taken;", nullptr, nullptr, nullptr));
      if (inTransaction) {
        ASSERT_EQ(0, Qb_CommitTrans(h));
      }
      EXPECT_EQ(before, snapshot(file.path()));
    }
  }
}

// Rows of a table declared WITHOUT ROWID, told apart by their primary key,
// and of a table whose name holds "?" keep finding the rows of a restructured
// table that they refer to, and a restructure that would lose one is undone.
TEST(LookupRestructure, ReferencesFromTablesWithoutRowidOrWithAQuestionMarkInTheirName) {
  const std::string referring =
      "CREATE TABLE Zip([PKey] integer NOT NULL PRIMARY KEY, [Code] char(5) NOT NULL);"
      "CREATE UNIQUE INDEX xZip_Code ON Zip([Code]);"
      "INSERT INTO Zip VALUES (7, '12345'), (8, '22222');"
      "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'Zip', 2);"
      "CREATE TABLE Shades([PKey] integer NOT NULL PRIMARY KEY, [ZipCode] char(5) REFERENCES Zip(Code),"
      " [ZipPKey] integer REFERENCES Zip(PKey)) WITHOUT ROWID;"
      "INSERT INTO Shades VALUES (1, '12345', 8);"
      "CREATE TABLE [Who?]([PKey] integer NOT NULL PRIMARY KEY, [ZipCode] char(5) REFERENCES Zip(Code),"
      " [ZipPKey] integer REFERENCES Zip(PKey));"
      "INSERT INTO [Who?] VALUES (1, '22222', 7);";
  const std::string finds = " p ON p.[PKey] = +c.[ZipPKey];";
  for (bool inTransaction : {false, true}) {
    SCOPED_TRACE(inTransaction ? "inside a transaction" : "outside a transaction");
    OpenMetafile file(referring);
    int h = file.handle();
    RawDB raw(file.path());
    if (inTransaction) {
      ASSERT_EQ(0, Qb_BeginTrans(h));
    }
    EXPECT_EQ(Rows{"0"}, outcome(h, restructure(h, "Code")));
    EXPECT_EQ(undone(kPortStep, "FOREIGN KEY constraint failed",
                     "SELECT quote(c.[PKey]), p.[PKey] FROM main.[Shades] c JOIN main.[Zip]" + finds),
              outcome(h, restructure(h, nullptr)));
    ASSERT_EQ(0, Qb_Delete(h, "Shades", 1));
    EXPECT_EQ(undone(kPortStep, "FOREIGN KEY constraint failed",
                     "SELECT c.rowid, p.[PKey] FROM main.[Who?] c JOIN main.[Zip]" + finds),
              outcome(h, restructure(h, nullptr)));
    if (inTransaction) {
      ASSERT_EQ(0, Qb_CommitTrans(h));
    }
    EXPECT_EQ((Rows{"7|12345", "8|22222"}), raw.rows("SELECT * FROM Zip"));
    EXPECT_EQ((Rows{"1|22222|7"}), raw.rows("SELECT * FROM [Who?]"));
  }
}

// No table of the file takes the rebuild's own reads of the schema, whatever
// its name: beside a table named like a function that lists tables,
// columns, indexes or foreign keys, a restructure keeps the references to
// the table, undoes one that loses a referred row and refuses, inside the
// host's transaction, one that would run another table's ON DELETE action.
TEST(LookupRestructure, NoTableOfTheFileTakesTheRebuildsReadsOfTheSchema) {
  for (const char* shadow : {"pragma_table_info", "pragma_table_list", "pragma_index_list", "pragma_index_xinfo",
                             "pragma_foreign_key_list"}) {
    SCOPED_TRACE(shadow);
    OpenMetafile file(std::string(kReferred) + "CREATE TABLE " + shadow + "(x); INSERT INTO " + shadow +
                      " VALUES (1);");
    int h = file.handle();
    RawDB raw(file.path());
    ASSERT_EQ(Rows{"0"}, outcome(h, restructure(h, "Code")));
    EXPECT_EQ((Rows{"7|12345", "9|54321"}), raw.rows("SELECT * FROM Zip"));
    EXPECT_EQ((Rows{"1|9"}), raw.rows("SELECT * FROM Owned"));
    const Rows before = snapshot(file.path());
    EXPECT_EQ(named_row_lost(), outcome(h, restructure(h, nullptr)));
    EXPECT_EQ(before, snapshot(file.path()));
    ASSERT_EQ(0, Qb_BeginTrans(h));
    EXPECT_EQ(on_delete_refused(),
              outcome(h, restructure(h, "Code")));
    ASSERT_EQ(0, Qb_RollbackTrans(h));
  }
}

// A restructure asks only the tables the model lists with a foreign key for
// their references, as many beside twelve tables without one as beside two,
// inside the host's transaction (where the references are checked) or not.
TEST(LookupRestructure, OnlyTablesWithForeignKeysAreAskedForTheirReferences) {
  for (bool inTransaction : {false, true}) {
    SCOPED_TRACE(inTransaction ? "inside a transaction" : "outside a transaction");
    int asked[2];
    for (int plain : {2, 12}) {
      std::string tables = kReferringColumns;
      for (int i = 0; i < plain; ++i) tables += "CREATE TABLE Plain" + std::to_string(i) + "(a);";
      OpenMetafile file(tables);
      int h = file.handle();
      StatementCount keys("foreign_key_list", InitCheck(h)->GetSQLDB()->Database());
      ASSERT_TRUE(!inTransaction || Qb_BeginTrans(h) == 0);
      EXPECT_EQ(Rows{"0"}, outcome(h, restructure_to(h, "Par", {{"Code", "Code", 2}})));
      ASSERT_TRUE(!inTransaction || Qb_CommitTrans(h) == 0);
      asked[plain == 2 ? 0 : 1] = keys.count();
      EXPECT_EQ((Rows{"1|1"}), RawDB(file.path()).rows("SELECT * FROM ByKey"));
    }
    EXPECT_EQ(asked[0], asked[1]);
  }
}
