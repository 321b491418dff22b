// Creating a metafile (schema texts, indexes, default rows, constraints) and
// upgrading a metafile of the older structure, through the exports.
#include "ApiTestSupport.h"

namespace {

const char* const kSchema = "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name";

std::string table_sql(RawDB& raw, const std::string& name) {
  return raw.value("SELECT sql FROM sqlite_master WHERE name = '" + name + "'");
}

// Upgrades the file: "result|message|bytes of the buffer left unwritten".
std::string upgrade(const std::string& path, int length = 80) {
  char message[80];
  memset(message, 'x', sizeof message);
  int result = Edit_UpdateMetafile(path.c_str(), message, length);
  size_t written = std::string(message, sizeof message).find_last_not_of('x') + 1;
  return std::to_string(result) + "|" + std::string(message, strnlen(message, written)) + "|" +
         std::to_string(sizeof message - written);
}

}  // namespace

TEST(SMFTables, CreatesTheSchemaTextsByteForByteAndTheirConstraintsHold) {
  TempDir dir;
  ASSERT_EQ(0, Edit_CreateNewMetafile(dir.file("m.db").c_str()));
  RawDB raw(dir.file("m.db"));
  EXPECT_EQ("CREATE TABLE RL_Control( \r\n[PKey] integer not null primary key, \r\n"
            "[ItemName] varchar(30) not null, \r\n[ItemValue] varchar(50) null \r\n)",
            table_sql(raw, "RL_Control"));
  EXPECT_EQ("CREATE TABLE RL_Fields( \r\n[PKey] integer not null primary key, \r\n"
            "[AgencyPKey] integer not null default 1 references RL_Agencies(PKey), \r\n"
            "[FieldNumber] integer not null check(typeof(FieldNumber) = 'integer'), \r\n"
            "[FieldName] varchar(50) not null collate nocase, \r\n"
            "[LocalName] varchar(50) not null collate nocase, \r\n"
            "[FieldLength] integer not null default 1 check(typeof(FieldLength) = 'integer'), \r\n"
            "[DataType] char(2) not null default 'S ' check(length(DataType) <= 2) "
            "check(DataType in ('S ', 'D1')), \r\n"
            "[LastModDate] datetime null, \r\n[Comments] text null \r\n)",
            table_sql(raw, "RL_Fields"));
  // No comma after ErrorText: the length check is a constraint of that column.
  EXPECT_EQ("CREATE TABLE RL_EditErrorsPivot( \r\n[PKey] integer not null primary key, \r\n"
            "[EditPKey] integer not null references RL_Edits(PKey) on delete cascade, \r\n"
            "[ErrorText] varchar(80) not null collate nocase \r\ncheck(length(ErrorText) <= 80), \r\n"
            "[QueltFunc] char(1) not null check(QueltFunc in ('E','S')) \r\n)",
            table_sql(raw, "RL_EditErrorsPivot"));
  EXPECT_EQ("CREATE UNIQUE INDEX xRL_LayoutFieldsPivot_NoDupes on RL_LayoutFieldsPivot(LayoutPKey, FieldPkey)",
            table_sql(raw, "xRL_LayoutFieldsPivot_NoDupes"));
  EXPECT_EQ("CREATE INDEX xRL_Edits_MessagePKey on RL_Edits(MessagePKey)", table_sql(raw, "xRL_Edits_MessagePKey"));
  EXPECT_EQ("14|38", raw.value("SELECT sum(type = 'table'), sum(type = 'index' AND name LIKE 'xRL%') FROM sqlite_master"));
  Rows rows;  // every row of every table: the snapshot's data rows start with the table's name
  for (const std::string& row : snapshot(dir.file("m.db")))
    if (row.rfind("RL_", 0) == 0) rows.push_back(row);
  EXPECT_EQ((Rows{"RL_Agencies: 1|NONE|No Standard Setter|<null>|<null>|<null>", "RL_Control: 1|MFStructureVersion|5.01",
                  "RL_Control: 2|MFContentVersion|Metafile author to provide this",
                  "RL_Control: 3|MFComment|Metafile comment goes here",
                  "RL_Messages: 1|1|0|This edit has no default error message|<null>"}),
            rows);
  // The constraints of the other tables hold.
  ASSERT_EQ(SQLITE_OK, raw.exec("PRAGMA foreign_keys = 1;"
                                "INSERT INTO RL_Agencies(AdminCode, OrgName) VALUES('AG2', 'Two'), ('AG3', 'Three');" +
                                std::string(kContentRows)));
  const std::string field = "INSERT INTO RL_Fields(FieldNumber, FieldName, LocalName, DataType) VALUES";
  for (const std::string& refused :
       {field + "(2, 'F2', 'L2', 'X ')", field + "('two', 'F2', 'L2', 'D1')",
        std::string("INSERT INTO RL_EditMessagesPivot VALUES(2, 1, 1, 'X')"),
        std::string("INSERT INTO RL_EditErrorsPivot VALUES(2, 1, 'x', 'W')"),
        "INSERT INTO RL_EditErrorsPivot VALUES(2, 1, '" + std::string(81, 'x') + "', 'S')",
        std::string("INSERT INTO RL_Edits(EditTag, EditName) VALUES('e1', 'Other')")})
    EXPECT_EQ(SQLITE_CONSTRAINT, raw.exec(refused)) << refused;
  EXPECT_EQ(SQLITE_OK, raw.exec(field + "(2, 'F2', 'L2', 'D1')"));
  ASSERT_EQ(SQLITE_OK, raw.exec("DELETE FROM RL_Edits WHERE PKey = 1"));
  EXPECT_EQ("0|0|0|0|0|1",
            raw.value("SELECT (SELECT count(*) FROM RL_EditSetEditsPivot), (SELECT count(*) FROM RL_EditErrorsPivot), "
                      "(SELECT count(*) FROM RL_EditMessagesPivot), (SELECT count(*) FROM RL_EditFieldsPivot), "
                      "(SELECT count(*) FROM RL_EditTablesPivot), (SELECT count(*) FROM RL_LayoutFieldsPivot)"));

  // Creation over an existing metafile leaves only the default rows, and other tables.
  std::string path = dir.file("again.db");
  ASSERT_EQ(0, Edit_CreateNewMetafile(path.c_str()));
  Rows fresh = snapshot(path);
  ASSERT_EQ(SQLITE_OK, RawDB(path).exec("INSERT INTO RL_Agencies VALUES(2, 'AG2', 'Two', NULL, NULL, NULL);"
                                        "INSERT INTO RL_Agencies VALUES(3, 'AG3', 'Three', NULL, NULL, NULL);" +
                                        std::string(kContentRows) +
                                        "UPDATE RL_Control SET ItemValue = 'mine' WHERE ItemName = 'MFComment';"
                                        "CREATE TABLE LU_Colors(PKey integer primary key, Code text);"
                                        "INSERT INTO LU_Colors VALUES(1, 'R');"));
  ASSERT_EQ(0, Edit_CreateNewMetafile(path.c_str()));
  EXPECT_EQ((Rows{"1|R"}), RawDB(path).rows("SELECT * FROM LU_Colors"));
  ASSERT_EQ(SQLITE_OK, RawDB(path).exec("DROP TABLE LU_Colors"));
  EXPECT_EQ(fresh, snapshot(path));
  EXPECT_EQ(-2, Edit_CreateNewMetafile(nullptr));
}

// The temporary metafile object holds prepared statements while the tables are rebuilt.
TEST(SMFTables, UpgradesAnOlderMetafileOnceOrLeavesItAsItWas) {
  TempDir dir;
  std::string path = dir.file("old.db");
  ASSERT_TRUE(make_older_metafile(path));
  ASSERT_TRUE(create_metafile(dir.file("fresh.db")));
  Rows before = snapshot(path);
  EXPECT_EQ("0||79", upgrade(path));  // only the opening's empty text
  Rows upgraded = snapshot(path);
  EXPECT_EQ("0||79", upgrade(path));  // already at 5.01: untouched
  EXPECT_EQ(upgraded, snapshot(path));
  EXPECT_EQ(-1, Edit_UpdateMetafile(nullptr, nullptr, 0));

  // The whole schema, the pivots' REFERENCES included, reads as on a new metafile;
  // rows other than the agencies and the version are as they were.
  RawDB raw(path);
  EXPECT_EQ(RawDB(dir.file("fresh.db")).rows(kSchema), raw.rows(kSchema));
  EXPECT_EQ("5.01", raw.value("SELECT ItemValue FROM RL_Control WHERE ItemName = 'MFStructureVersion'"));
  auto owned_and_pivot_rows = [](const Rows& rows) {
    Rows kept;  // snapshot rows "<table>: <row>"; schema rows begin with their type
    for (const std::string& row : rows)
      if (row.rfind("RL_", 0) == 0 && row.rfind("RL_Agencies: ", 0) != 0 && row.rfind("RL_Control: ", 0) != 0)
        kept.push_back(row);
    return kept;
  };
  EXPECT_EQ(owned_and_pivot_rows(before), owned_and_pivot_rows(upgraded));
  EXPECT_EQ(13u, owned_and_pivot_rows(before).size());  // the filter keeps every content row
  EXPECT_EQ((Rows{"1|NONE|No Standard Setter|<null>|<null>|<null>",
                  "2|AG2|Agency Two|pw|20240101|Old note\nADDRESS: 1 Main St\nSuite 4\n"
                  "Springfield IL 62701\nCONTACT: Ann Lee\nPHONE: 555-0101",
                  "3|AG3|Agency Three|<null>|<null>|\nADDRESS: 9 Elm\n\nShelbyville IL 62565\n"
                  "CONTACT: Bob\nPHONE: 555-0202"}),
            raw.rows("SELECT * FROM RL_Agencies ORDER BY PKey"));
  ASSERT_EQ(SQLITE_OK, raw.exec("PRAGMA foreign_keys = 1"));
  EXPECT_EQ(SQLITE_OK, raw.exec("INSERT INTO RL_EditMessagesPivot(EditPKey, MessagePKey, QueltFunc) VALUES(1, 1, 'E')"))
      << sqlite3_errmsg(raw.handle());
  ASSERT_EQ(SQLITE_OK, raw.exec("DELETE FROM RL_Fields WHERE PKey = 1"));
  EXPECT_EQ("0", raw.value("SELECT count(*) FROM RL_LayoutFieldsPivot"));
  int compare = 9, smf = -1;  // the upgraded file opens as any other
  char message[100];
  ASSERT_EQ(0, Edit_Initialize(&smf, path.c_str(), message, sizeof message, &compare)) << message;
  EXPECT_EQ(0, compare);
  EXPECT_EQ(6, out_int(Edit_GetColumnsCount, smf, "RL_Agencies"));
  EXPECT_EQ(0, Edit_Exit(smf));
  // RL_Fields without the Comments column that the copy needs: fails after
  // agencies, edits and edit sets were already rebuilt.
  path = dir.file("nocomments.db");
  ASSERT_TRUE(make_older_metafile(path));
  ASSERT_EQ(SQLITE_OK, RawDB(path).exec("DROP TABLE RL_Fields;"
                                        "CREATE TABLE RL_Fields([PKey] integer not null primary key, "
                                        "[AgencyPKey], [FieldNumber], [FieldName], [LocalName], [FieldLength], "
                                        "[DataType], [LastModDate]);"
                                        "INSERT INTO RL_Fields VALUES(1, 1, 1, 'F1', 'L1', 5, 'S ', NULL);"));
  before = snapshot(path);
  EXPECT_EQ("-1|* unable to import data into RL_Fields\n|0", upgrade(path));
  EXPECT_EQ(before, snapshot(path));

  // A version update that fails rolls the rebuilt tables back as well; the
  // message is cut to the buffer.
  path = dir.file("readonlycontrol.db");
  ASSERT_TRUE(make_older_metafile(path));
  ASSERT_EQ(SQLITE_OK, RawDB(path).exec("CREATE TRIGGER keep BEFORE UPDATE ON RL_Control "
                                        "BEGIN SELECT RAISE(ABORT, 'read only'); END;"));
  before = snapshot(path);
  EXPECT_EQ("-1|* unable to update m|60", upgrade(path, 20));
  EXPECT_EQ(before, snapshot(path));
}

