// Creating a metafile (schema texts, indexes, default rows, constraints) and
// upgrading a metafile of the older structure.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "storage/SMFTables.h"
#include "storage/SQLDB.h"

namespace {
using Rows = std::vector<std::string>;

const char* const kSchema = "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name";

std::string table_sql(RawDB& raw, const std::string& name) {
  return raw.value("SELECT sql FROM sqlite_master WHERE name = '" + name + "'");
}

int upgrade(const std::string& path, char* message, int length, const char* version = "5.01") {
  TSQLDB db;
  if (!db.OpenDatabase(path.c_str())) return -99;
  TSMFTables schema(&db);
  return schema.UpdateMetafile(version, message, length);
}
}  // namespace

TEST(SMFTables, CreatesTheSchemaTextsByteForByteAndTheirConstraintsHold) {
  TempDir dir;
  ASSERT_TRUE(create_metafile(dir.file("m.db")));
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
  EXPECT_EQ("CREATE INDEX xRL_Edits_MessagePKey on RL_Edits(MessagePKey)",
            table_sql(raw, "xRL_Edits_MessagePKey"));
  EXPECT_EQ("14|38", raw.value("SELECT sum(type = 'table'), sum(type = 'index' AND name LIKE 'xRL%') "
                               "FROM sqlite_master"));

  EXPECT_EQ((Rows{"1|MFStructureVersion|5.01", "2|MFContentVersion|Metafile author to provide this",
                  "3|MFComment|Metafile comment goes here"}),
            raw.rows("SELECT * FROM RL_Control ORDER BY PKey"));
  EXPECT_EQ((Rows{"1|NONE|No Standard Setter|<null>|<null>|<null>"}), raw.rows("SELECT * FROM RL_Agencies"));
  EXPECT_EQ((Rows{"1|1|0|This edit has no default error message|<null>"}),
            raw.rows("SELECT * FROM RL_Messages"));
  EXPECT_EQ("0", raw.value("SELECT count(*) FROM RL_Edits"));
  // The constraints of the other tables hold.
  ASSERT_EQ(SQLITE_OK, raw.exec("PRAGMA foreign_keys = 1;"
                                "INSERT INTO RL_Agencies(AdminCode, OrgName) VALUES('AG2', 'Two');"
                                "INSERT INTO RL_Agencies(AdminCode, OrgName) VALUES('AG3', 'Three');" +
                                std::string(kContentRows)));
  const std::string field = "INSERT INTO RL_Fields(FieldNumber, FieldName, LocalName, DataType) VALUES";
  EXPECT_EQ(SQLITE_CONSTRAINT, raw.exec(field + "(2, 'F2', 'L2', 'X ')"));
  EXPECT_EQ(SQLITE_CONSTRAINT, raw.exec(field + "('two', 'F2', 'L2', 'D1')"));
  EXPECT_EQ(SQLITE_OK, raw.exec(field + "(2, 'F2', 'L2', 'D1')"));
  EXPECT_EQ(SQLITE_CONSTRAINT, raw.exec("INSERT INTO RL_EditMessagesPivot VALUES(2, 1, 1, 'X')"));
  EXPECT_EQ(SQLITE_CONSTRAINT, raw.exec("INSERT INTO RL_EditErrorsPivot VALUES(2, 1, 'x', 'W')"));
  EXPECT_EQ(SQLITE_CONSTRAINT,
            raw.exec("INSERT INTO RL_EditErrorsPivot VALUES(2, 1, '" + std::string(81, 'x') + "', 'S')"));
  EXPECT_EQ(SQLITE_CONSTRAINT, raw.exec("INSERT INTO RL_Edits(EditTag, EditName) VALUES('e1', 'Other')"));

  ASSERT_EQ(SQLITE_OK, raw.exec("DELETE FROM RL_Edits WHERE PKey = 1"));
  EXPECT_EQ("0|0|0|0|0|1",
            raw.value("SELECT (SELECT count(*) FROM RL_EditSetEditsPivot), (SELECT count(*) FROM RL_EditErrorsPivot), "
                      "(SELECT count(*) FROM RL_EditMessagesPivot), (SELECT count(*) FROM RL_EditFieldsPivot), "
                      "(SELECT count(*) FROM RL_EditTablesPivot), (SELECT count(*) FROM RL_LayoutFieldsPivot)"));
}

TEST(SMFTables, CreationOverAnExistingMetafileLeavesOnlyDefaultRows) {
  TempDir dir;
  std::string path = dir.file("m.db");
  ASSERT_TRUE(create_metafile(path));
  Rows fresh = snapshot(path);
  ASSERT_EQ(SQLITE_OK, RawDB(path).exec("INSERT INTO RL_Agencies VALUES(2, 'AG2', 'Two', NULL, NULL, NULL);"
                                        "INSERT INTO RL_Agencies VALUES(3, 'AG3', 'Three', NULL, NULL, NULL);" +
                                        std::string(kContentRows) +
                                        "UPDATE RL_Control SET ItemValue = 'mine' WHERE ItemName = 'MFComment';"
                                        "CREATE TABLE LU_Colors(PKey integer primary key, Code text);"
                                        "INSERT INTO LU_Colors VALUES(1, 'R');"));
  ASSERT_TRUE(create_metafile(path));
  RawDB raw(path);
  EXPECT_EQ((Rows{"1|R"}), raw.rows("SELECT * FROM LU_Colors"));
  ASSERT_EQ(SQLITE_OK, raw.exec("DROP TABLE LU_Colors"));
  EXPECT_EQ(fresh, snapshot(path));
}

TEST(SMFTables, UpgradesAnOlderMetafile) {
  TempDir dir;
  std::string path = dir.file("old.db");
  ASSERT_TRUE(make_older_metafile(path));
  ASSERT_TRUE(create_metafile(dir.file("fresh.db")));
  Rows before = snapshot(path);
  char message[32];
  memset(message, 'x', sizeof message);
  EXPECT_EQ(-1, upgrade(path, message, sizeof message, "5.0"));
  EXPECT_EQ(before, snapshot(path));
  ASSERT_EQ(0, upgrade(path, message, sizeof message));
  EXPECT_EQ(std::string(sizeof message, 'x'), std::string(message, sizeof message));
  Rows upgraded = snapshot(path);
  EXPECT_EQ(0, upgrade(path, message, sizeof message));  // already at 5.01: untouched
  EXPECT_EQ(upgraded, snapshot(path));
  EXPECT_EQ(std::string(sizeof message, 'x'), std::string(message, sizeof message));

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
  EXPECT_EQ(SQLITE_OK, raw.exec("INSERT INTO RL_EditMessagesPivot(EditPKey, MessagePKey, QueltFunc) "
                                "VALUES(1, 1, 'E')")) << sqlite3_errmsg(raw.handle());
  ASSERT_EQ(SQLITE_OK, raw.exec("DELETE FROM RL_Fields WHERE PKey = 1"));
  EXPECT_EQ("0", raw.value("SELECT count(*) FROM RL_LayoutFieldsPivot"));
}

TEST(SMFTables, FailedUpgradeLeavesTheFileAsItWas) {
  TempDir dir;
  // RL_Fields without the Comments column that the copy needs: fails after
  // agencies, edits and edit sets were already rebuilt.
  std::string path = dir.file("nocomments.db");
  ASSERT_TRUE(make_older_metafile(path));
  ASSERT_EQ(SQLITE_OK, RawDB(path).exec("DROP TABLE RL_Fields;"
                                        "CREATE TABLE RL_Fields([PKey] integer not null primary key, "
                                        "[AgencyPKey], [FieldNumber], [FieldName], [LocalName], [FieldLength], "
                                        "[DataType], [LastModDate]);"
                                        "INSERT INTO RL_Fields VALUES(1, 1, 1, 'F1', 'L1', 5, 'S ', NULL);"));
  Rows before = snapshot(path);
  char message[80];
  memset(message, 'x', sizeof message);
  EXPECT_EQ(-1, upgrade(path, message, sizeof message));
  EXPECT_EQ("* unable to import data into RL_Fields\n", std::string(message));
  EXPECT_EQ(before, snapshot(path));

  // A version update that fails rolls the rebuilt tables back as well.
  path = dir.file("readonlycontrol.db");
  ASSERT_TRUE(make_older_metafile(path));
  ASSERT_EQ(SQLITE_OK, RawDB(path).exec("CREATE TRIGGER keep BEFORE UPDATE ON RL_Control "
                                        "BEGIN SELECT RAISE(ABORT, 'read only'); END;"));
  before = snapshot(path);
  TSQLDB db;
  ASSERT_TRUE(db.OpenDatabase(path.c_str()));
  TSMFTables schema(&db);
  memset(message, 'x', sizeof message);
  EXPECT_EQ(-1, schema.UpdateMetafile("5.01", message, 20));
  EXPECT_EQ("* unable to update mx", std::string(message, 21));
  EXPECT_EQ(before, snapshot(path));
  // The connection gets its foreign keys back and loses the legacy renames.
  std::string pragmas;
  auto append = [](void* out, int, char** values, char**) {
    *static_cast<std::string*>(out) += values[0];
    return 0;
  };
  db.Pragma("PRAGMA foreign_keys; PRAGMA legacy_alter_table;", &pragmas, append);
  EXPECT_EQ("10", pragmas);
}
