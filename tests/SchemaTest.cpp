// The schema as the introspection exports read it: tables, columns with types, defaults, allowed values
// and ranges, and index and trigger texts.
#include <gtest/gtest.h>

#include "ApiTestSupport.h"
#include "api/EditAPI.h"
#include "api/SMF.h"
#include "storage/SQLDB.h"

namespace {

const std::string kSep(1, '\xBB');

Rows structure(int smf, const char* table) {
  Rows rows;
  EXPECT_EQ(0, Edit_GetTableStructure(smf, table, &rows, collector<TableStructureCallback>()));
  return rows;
}

std::string text(int (*read)(int, const char*, int, char*, int), int smf, const char* table, int index) {
  char buffer[80];
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(0, read(smf, table, index, buffer, sizeof buffer));
  return std::string(buffer, strnlen(buffer, sizeof buffer)) + (buffer[sizeof buffer - 1] == '\0' ? "" : "<cut>");
}

}  // namespace

// Tables are listed by lower-cased name; columns carry types, defaults, lists
// and ranges; names made by other tools that are no plain identifiers are
// quoted when read.
TEST(Schema, TablesAndTheirColumns) {
  OpenMetafile mf(
      "CREATE TABLE Scores(PKey integer not null primary key, Score INTEGER check(Score between 1 and 9), "
      "Grade char(1) check (Grade between 'A' and 'Z'), Flag varchar(1) default 'N', Amount real, "
      "Payload blob, Noted text check(length(Noted) < 5));"
      "CREATE TABLE aCodes(PKey integer primary key); CREATE TABLE Zeta(PKey integer primary key);"
      "CREATE TABLE [Odd Name](PKey integer primary key, [Some Code] varchar(4));"
      "CREATE TABLE \"order\"(PKey integer primary key);"
      "CREATE TABLE \"Br]ack\"\"et\"(PKey integer primary key, Flag varchar(1));"
      "CREATE TABLE \"9lives\"(PKey integer primary key);");
  int h = mf.handle(), count = 0;
  Rows fields = structure(h, "rl_fields");
  EXPECT_EQ("rl_fields|2|AgencyPKey|integer|NOT NULL|0|1||", fields.at(1));
  EXPECT_EQ("rl_fields|7|DataType|char(2)|NOT NULL|0|S |'S ', 'D1'|", fields.at(6));
  EXPECT_EQ((Rows{"Scores|1|PKey|integer|NOT NULL|0|||", "Scores|2|Score|integer|NULL|0|||1" + kSep + "9",
                  "Scores|3|Grade|char(1)|NULL|0|||A" + kSep + "Z", "Scores|4|Flag|varchar(1)|NULL|1|N||",
                  "Scores|5|Amount|char(0)|NULL|0|||", "Scores|6|Payload|unknown|NULL|0|||",
                  "Scores|7|Noted|text|NULL|0|||"}),
            structure(h, "Scores"));
  EXPECT_EQ((Rows{"Odd Name|1|PKey|integer|NULL|0|||", "Odd Name|2|Some Code|varchar(4)|NULL|0|||"}),
            structure(h, "Odd Name"));
  EXPECT_EQ((Rows{"order|1|PKey|integer|NULL|0|||"}), structure(h, "order"));
  EXPECT_EQ((Rows{"Br]ack\"et|1|PKey|integer|NULL|0|||", "Br]ack\"et|2|Flag|varchar(1)|NULL|1|||"}),
            structure(h, "Br]ack\"et"));
  EXPECT_EQ((Rows{"9lives|1|PKey|integer|NULL|0|||"}), structure(h, "9lives"));

  Rows names;
  EXPECT_EQ(0, Edit_GetTableNames(h, &names, collector<TableNameCallback>()));
  EXPECT_EQ((Rows{"9lives", "aCodes", "Br]ack\"et", "Odd Name", "order", "RL_Agencies", "RL_Control",
                  "RL_EditErrorsPivot", "RL_EditFieldsPivot", "RL_EditMessagesPivot", "RL_Edits", "RL_EditSetEditsPivot",
                  "RL_EditSets", "RL_EditTablesPivot", "RL_Fields", "RL_LayoutFieldsPivot", "RL_Layouts",
                  "RL_LookupTables", "RL_Messages", "Scores", "Zeta"}),
            names);
  EXPECT_EQ(-1, Edit_GetColumnsCount(h, "Missing", &count));  // a miss adds no table
  EXPECT_EQ(21, out_int(Edit_GetTablesCount, h));
  char buffer[8];
  EXPECT_EQ(0, Edit_GetTableNameByIndex(h, 20, buffer, sizeof buffer));
  EXPECT_EQ(std::string("Zeta\0\0\0\0", 8), std::string(buffer, sizeof buffer));
  EXPECT_EQ(0, Edit_GetTableNameByIndex(h, 5, buffer, 4));
  EXPECT_EQ(std::string("RL_A\0\0\0\0", 8), std::string(buffer, sizeof buffer));
  EXPECT_EQ((Rows{"-1", tsmf_error("GetTableNameByIndex", "Parameter idx (21) must be in range 0 - 21")}),
            outcome(h, Edit_GetTableNameByIndex(h, 21, buffer, sizeof buffer)));
  EXPECT_EQ(std::string("RL_A\0\0\0\0", 8), std::string(buffer, sizeof buffer));
}

TEST(Schema, IndexTriggerAndColumnTexts) {
  // The "_" of Codes_1 must not match the "1" of Codes11, which is created
  // first so that a pattern match would also take its CREATE text.
  OpenMetafile mf(
      "CREATE TABLE Codes11(PKey integer primary key, Code char(1) check(Code in ('X','Y')));"
      "CREATE INDEX xCodes11_Code ON Codes11(Code);"
      "CREATE TRIGGER tCodes11 AFTER INSERT ON Codes11 BEGIN SELECT 1; END;"
      "CREATE TABLE Codes_1(PKey integer primary key, Code char(1), Name varchar(10) unique);");
  int h = mf.handle();
  EXPECT_EQ("CREATE UNIQUE INDEX xRL_Control_ItemName on RL_Control(ItemName)",
            text(Edit_GetIndex, h, "RL_Control", 0));
  EXPECT_EQ("", text(Edit_GetIndex, h, "RL_Control", 99));
  char buffer[4] = "xxx";
  EXPECT_EQ((Rows{"-1", tsmf_error("GetTrigger", "Cannot find table named \"Nope\"")}),
            outcome(h, Edit_GetTrigger(h, "Nope", 0, buffer, sizeof buffer)));
  EXPECT_EQ(std::string("\0xx", 3), std::string(buffer, 3));

  EXPECT_EQ(1, out_int(Edit_GetIndexCount, h, "codes11"));
  EXPECT_EQ("CREATE INDEX xCodes11_Code ON Codes11(Code)", text(Edit_GetIndex, h, "codes11", 0));
  EXPECT_EQ(1, out_int(Edit_GetTriggerCount, h, "Codes11"));
  EXPECT_EQ("CREATE TRIGGER tCodes11 AFTER INSERT ON Codes11 BEGIN SELECT 1; END",
            text(Edit_GetTrigger, h, "Codes11", 0));
  EXPECT_EQ("Codes11|2|Code|char(1)|NULL|0||'X','Y'|", structure(h, "Codes11").at(1));
  // Codes_1 holds only the index of its UNIQUE column, which has no text.
  EXPECT_EQ(1, out_int(Edit_GetIndexCount, h, "Codes_1"));
  EXPECT_EQ("", text(Edit_GetIndex, h, "Codes_1", 0));
  EXPECT_EQ(0, out_int(Edit_GetTriggerCount, h, "Codes_1"));
  EXPECT_EQ("Codes_1|2|Code|char(1)|NULL|0|||", structure(h, "Codes_1").at(1));
  int trigger = -1;
  char name[4], type[14], nullable[12];
  memset(type, 'x', sizeof type);
  EXPECT_EQ(0, Edit_GetColumnStructure(h, "RL_Fields", 4, name, 4, type, 14, nullable, 12, &trigger));
  EXPECT_EQ(std::string("Fie\0", 4), std::string(name, sizeof name));
  EXPECT_EQ(std::string("varchar(50)\0\0\0", 14), std::string(type, sizeof type));
  EXPECT_STREQ("NOT NULL", nullable);
  EXPECT_EQ(0, trigger);
  for (int column : {0, 10, INT_MIN})
    EXPECT_EQ((Rows{"-1", tsmf_error("GetColumnStructure", "In table RL_Fields, column_order " + std::to_string(column) +
                                                               " is out of range")}),
              outcome(h, Edit_GetColumnStructure(h, "RL_Fields", column, name, 4, type, 14, nullable, 12, &trigger)));
  // GetFieldName counts from 0 and never writes the buffer's last byte.
  char field[8];
  memset(field, 'x', sizeof field);
  EXPECT_EQ(0, Edit_GetFieldName(h, "RL_Fields", 0, field, sizeof field));
  EXPECT_EQ(std::string("PKey\0\0\0x", 8), std::string(field, sizeof field));
  EXPECT_EQ(0, Edit_GetFieldName(h, "RL_Fields", 3, field, 4));
  EXPECT_EQ(std::string("Fiey\0\0\0x", 8), std::string(field, sizeof field));
  EXPECT_EQ(0, Edit_GetFieldName(h, "Nope", 0, field, 0));
  for (int column : {9, -1, INT_MAX})
    EXPECT_EQ((Rows{"-1", tsmf_error("GetFieldName", "In table RL_Fields, col_order " + std::to_string(column) +
                                                         " is out of range")}),
              outcome(h, Edit_GetFieldName(h, "RL_Fields", column, field, sizeof field)));
  EXPECT_EQ('\0', field[0]);
  EXPECT_EQ(3, out_int(Edit_GetColumnOrder, h, "RL_Fields", "fieldname"));
  int order = 5;
  EXPECT_EQ((Rows{"-1", tsmf_error("GetColumnOrder", "Table \"RL_Fields\" has no field named \"Nope\"")}),
            outcome(h, Edit_GetColumnOrder(h, "RL_Fields", "Nope", &order)));
  EXPECT_EQ(0, order);
}

// A table declared WITHOUT ROWID and one whose name holds "?" are listed with
// their columns, indexes and triggers like any other.
TEST(Schema, TablesWithoutRowidOrWithAQuestionMarkInTheirName) {
  OpenMetafile mf(kHostTables);
  int h = mf.handle();
  EXPECT_EQ((Rows{"shades|1|PKey|integer|NOT NULL|0|||", "shades|2|Name|varchar(10)|NOT NULL|0|||",
                  "shades|3|Code|char(2)|NULL|0|||"}),
            structure(h, "shades"));
  EXPECT_EQ((Rows{"Who?|1|PKey|integer|NOT NULL|0|||", "Who?|2|Name|varchar(10)|NULL|0|||",
                  "Who?|3|Code|char(2)|NULL|0|||"}),
            structure(h, "Who?"));
  EXPECT_EQ(16, out_int(Edit_GetTablesCount, h));
  char name[8];
  EXPECT_EQ(0, Edit_GetTableNameByIndex(h, 15, name, sizeof name));
  EXPECT_STREQ("Who?", name);
  EXPECT_EQ("CREATE INDEX [xWho?_Name] ON [Who?] ([Name])", text(Edit_GetIndex, h, "Who?", 0));
  EXPECT_EQ(0, out_int(Edit_GetTriggerCount, h, "Shades"));
}

namespace {

// `count` lookup tables, each with a CHECK, an index and a trigger.
std::string lookup_tables(int count) {
  std::string sql;
  for (int i = 1; i <= count; ++i) {
    std::string n = std::to_string(i);
    sql += "CREATE TABLE L" + n + "([PKey] integer NOT NULL PRIMARY KEY, [Code] char(2) check([Code] in ('a', 'b')),"
           " [Up] varchar(1));"
           "CREATE INDEX xL" + n + "_Code ON [L" + n + "] ([Code], [PKey]);"
           "CREATE TRIGGER _L" + n + "_Up AFTER UPDATE ON L" + n + " BEGIN UPDATE L" + n +
           " SET [Up] = upper(NEW.Code) WHERE PKey = NEW.PKey; END;";
  }
  return sql;
}

const char* const kCatalogue = "sqlite_master";
// The statement that takes the columns of one table.
const char* const kColumnsRead = " LIMIT 0;";

}  // namespace

// Opening reads the catalogue as often for 20 lookup tables as for 2; the
// texts it keeps of each table are those a single table's read would keep,
// so a table another connection changes is the only one read again.
TEST(Schema, OpeningReadsTheCatalogueAsOftenWhateverTheTables) {
  TempDir dir;
  int reads[2], columnReads[2];
  for (int size : {0, 1}) {
    std::string path = dir.file("m" + std::to_string(size) + ".smf");
    ASSERT_TRUE(create_metafile(path));
    ASSERT_EQ(SQLITE_OK, RawDB(path).exec(lookup_tables(size == 0 ? 2 : 20)));
    int h = -1;
    {
      StatementCount catalogue(kCatalogue);
      h = open_metafile(path);
      reads[size] = catalogue.count();
    }
    ASSERT_EQ(SQLITE_OK, RawDB(path).exec("CREATE INDEX xL2_Up ON [L2] ([Up]);"));
    StatementCount columns(kColumnsRead, InitCheck(h)->GetSQLDB()->Database());
    EXPECT_EQ(2, out_int(Edit_GetIndexCount, h, "L2"));
    columnReads[size] = columns.count();
    EXPECT_EQ(1, out_int(Edit_GetTriggerCount, h, "L1"));
    EXPECT_EQ(0, Edit_Exit(h));
  }
  EXPECT_EQ(reads[0], reads[1]);
  EXPECT_EQ(1, columnReads[0]);
  EXPECT_EQ(1, columnReads[1]);
}
