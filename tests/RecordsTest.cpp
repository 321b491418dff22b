// Primary-key lists, the edit-set/layout check, and reading rows by primary
// key: whole rows through a callback and single values through the read cache.
#include <gtest/gtest.h>

#include <algorithm>

#include "ApiTestSupport.h"

namespace {

const char* const kColors =
    "CREATE TABLE Colors(PKey integer primary key, Name varchar(20), Note text);"
    "INSERT INTO Colors VALUES(1, 'abc', NULL), (2, 'red', ''), (5, 'blue', 'x');";

void* const kPKeys = collector<PKeyCallback>();
void* const kGaps = collector<LayoutGapCallback>();
void* const kValues = collector<ReadDataCallback>();

std::string value_at(int smf, const char* table, int pkey, int order) {
  char buffer[64] = "";
  EXPECT_EQ(0, Edit_GetDataByColumnOrder(smf, table, pkey, order, buffer, sizeof buffer));
  return buffer;
}

}  // namespace

TEST(Records, PKeysWholeRowsValuesAndCachedReads) {
  OpenMetafile mf(std::string(kColors) + "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'Colors', 3);");
  int h = mf.handle();
  Rows keys;
  EXPECT_EQ(0, Edit_GetPKeys(h, "colors", nullptr, &keys, kPKeys));
  EXPECT_EQ(0, Edit_GetPKeys(h, "Colors", "PKey DESC", &keys, kPKeys));
  EXPECT_EQ(0, Edit_GetPKeys(h, "RL_Agencies", "", &keys, kPKeys));
  EXPECT_EQ((Rows{"colors|1", "colors|2", "colors|5", "Colors|5", "Colors|2", "Colors|1", "RL_Agencies|1"}), keys);
  keys.clear();
  EXPECT_EQ(Rows{"-2"}, outcome(h, Edit_GetPKeys(h, "RL_Edits", nullptr, &keys, kPKeys)));
  EXPECT_EQ((Rows{"-1", tsmf_error("GetPKeys", "TSQLQuery.open_query"),
                  tsmf_error("GetPKeys", "SQL error for table NoSuch: no such table: NoSuch")}),
            outcome(h, Edit_GetPKeys(h, "NoSuch", nullptr, &keys, kPKeys)));
  // A "?" makes a text that never opens: a failure, not an endless walk.
  EXPECT_EQ(-1, Edit_GetPKeys(h, "Colors", "PKey = ?", &keys, kPKeys));
  EXPECT_EQ(Rows{}, keys);
  Rows row;
  EXPECT_EQ(0, Edit_ReadData(h, "colors", 1, &row, kValues));
  EXPECT_EQ((Rows{"colors|1|1|PKey|integer|1", "colors|1|2|Name|varchar(20)|abc", "colors|1|3|Note|text|"}), row);
  row.clear();
  EXPECT_EQ(0, Edit_ReadData(h, "Colors", 99, &row, kValues));
  for (const char* method : {"ReadData", "RefreshReadData"})
    EXPECT_EQ((Rows{"-1", tsmf_error(method, "SQL: SELECT * FROM [NoSuch] WHERE PKey = 1;"),
                    tsmf_error(method, "no such table: NoSuch")}),
              outcome(h, std::string(method) == "ReadData" ? Edit_ReadData(h, "NoSuch", 1, &row, kValues)
                                                           : Edit_RefreshReadData(h, "NoSuch", 1)));
  EXPECT_EQ(Rows{}, row);
  // A table made by another connection, whose "]" must not break the row statement.
  ASSERT_EQ(SQLITE_OK, RawDB(mf.path()).exec("CREATE TABLE \"Odd]Name\"(PKey integer primary key);"
                                             "INSERT INTO \"Odd]Name\" VALUES(1);"));
  EXPECT_EQ(0, Edit_ReadData(h, "Odd]Name", 2, &row, kValues));
  EXPECT_EQ(Rows{"0"}, outcome(h, Edit_ReadData(h, "Odd]Name", 1, &row, kValues)));
  EXPECT_EQ(Rows{"Odd]Name|1|1|PKey|integer|1"}, row);
  row.clear();
  EXPECT_EQ(0, Edit_RefreshReadData(h, "Odd]Name", 1));
  EXPECT_EQ(4, out_int(Edit_GetDataSizeByColumnOrder, h, "Colors", 1, 2));
  char buffer[6];
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(0, Edit_GetDataByColumnOrder(h, "Colors", 1, 2, buffer, 3));
  EXPECT_EQ("abcxxx", std::string(buffer, sizeof buffer));
  EXPECT_EQ(0, Edit_GetDataByColumnOrder(h, "Colors", 1, 2, buffer, 4));
  EXPECT_EQ(std::string("abc\0xx", 6), std::string(buffer, sizeof buffer));
  for (int pkey : {1, 2}) {  // NULL and empty
    EXPECT_EQ(0, out_int(Edit_GetDataSizeByColumnOrder, h, "Colors", pkey, 3));
    EXPECT_EQ((Rows{"-1", tsmf_error("GetDataByColumnOrder", "Failure to retrieve data from table \"Colors\", column number 3")}),
              outcome(h, Edit_GetDataByColumnOrder(h, "Colors", pkey, 3, buffer, sizeof buffer)));
  }
  for (int order : {0, 4, INT_MIN})
    EXPECT_EQ((Rows{"0", tsmf_error("get_data_by_column_order", "In table Colors, column_order " + std::to_string(order) +
                                                                    " is out of range")}),
              outcome(h, out_int(Edit_GetDataSizeByColumnOrder, h, "Colors", 1, order)));
  EXPECT_EQ((Rows{"0", tsmf_error("get_data_by_field_name", "Cannot find field named \"Shade\" in table named \"Colors\"")}),
            outcome(h, out_int(Edit_GetDataSizeByFieldName, h, "Colors", 5, "Shade")));
  EXPECT_EQ((Rows{"-1", tsmf_error("GetDataByFieldName", "Failure to retrieve data from Colors.Note")}),
            outcome(h, Edit_GetDataByFieldName(h, "Colors", 1, "Note", buffer, sizeof buffer)));
  // The cache keeps a row's values but no lock: another connection writes
  // right after a read, and the read row's table may be dropped.
  RawDB raw(mf.path());
  EXPECT_EQ("blue", value_at(h, "Colors", 5, 2));
  ASSERT_EQ(SQLITE_OK, raw.exec("UPDATE Colors SET Name = 'navy' WHERE PKey = 5"));
  EXPECT_EQ("blue", value_at(h, "COLORS", 5, 2));  // one cache entry for any letter case
  EXPECT_EQ(0, Edit_RefreshReadData(h, "colors", 5));
  EXPECT_EQ("navy", value_at(h, "Colors", 5, 2));
  ASSERT_EQ(SQLITE_OK, raw.exec("UPDATE Colors SET Name = 'teal' WHERE PKey = 5"));
  char name[16];
  EXPECT_EQ(0, Edit_GetDataByFieldName(h, "Colors", 5, "Name", name, sizeof name));
  EXPECT_STREQ("navy", name);  // still the cached row, which a read by name then forgets
  EXPECT_EQ("teal", value_at(h, "Colors", 5, 2));
  ASSERT_EQ(SQLITE_OK, raw.exec("UPDATE Colors SET Name = 'gold' WHERE PKey = 5"));
  EXPECT_EQ("red", value_at(h, "Colors", 2, 2));
  EXPECT_EQ("gold", value_at(h, "Colors", 5, 2));

  EXPECT_EQ("Colors", value_at(h, "RL_LookupTables", 1, 3));
  EXPECT_EQ(0, Qb_Delete(h, "RL_LookupTables", 1));
  EXPECT_EQ("", raw.value("SELECT name FROM sqlite_master WHERE name = 'Colors'"));
}

TEST(Records, CheckEditSetAgainstLayoutListsUnplacedFields) {
  OpenMetafile mf(
      "INSERT INTO RL_Fields(PKey, FieldNumber, FieldName, LocalName) VALUES(1, 1, 'F1', 'L1'), (2, 2, 'F2', 'L2');"
      "INSERT INTO RL_Edits(PKey, EditTag, EditName) VALUES(1, 'E1', 'Edit one'), (2, 'E2', 'Edit two');"
      "INSERT INTO RL_EditSets(PKey, EditSetTag, EditSetName) VALUES(1, 'S1', 'Set one');"
      "INSERT INTO RL_Layouts(PKey, LayoutTag, LayoutName) VALUES(1, 'L1', 'One'), (2, 'L2', 'Both');"
      "INSERT INTO RL_EditFieldsPivot VALUES(1, 1, 1, 1), (2, 1, 2, 2), (3, 2, 2, 1);"
      "INSERT INTO RL_EditSetEditsPivot VALUES(1, 1, 1), (2, 2, 1);"
      "INSERT INTO RL_LayoutFieldsPivot VALUES(1, 1, 1, 1), (2, 2, 1, 1), (3, 2, 2, 5);");
  int h = mf.handle();
  Rows gaps;
  EXPECT_EQ(0, Edit_CheckEditSetAgainstLayout(h, 1, 1, &gaps, kGaps));
  std::sort(gaps.begin(), gaps.end());
  EXPECT_EQ((Rows{"2|F2|1|Edit one|E1", "2|F2|2|Edit two|E2"}), gaps);
  gaps.clear();
  EXPECT_EQ(-2, Edit_CheckEditSetAgainstLayout(h, 1, 2, &gaps, kGaps));
  EXPECT_EQ(-2, Edit_CheckEditSetAgainstLayout(h, 99, 1, &gaps, kGaps));
  EXPECT_EQ(Rows{}, gaps);
}

TEST(Records, LongTableNamesNeverReadAnotherRow) {
  // Lengths at which a row statement cut at 99 or 199 characters would end in "PKey = 1234".
  const std::string names[] = {"T" + std::string(64, 'x'), "T" + std::string(164, 'x')};
  std::string setup;
  for (const std::string& name : names)
    setup += "CREATE TABLE " + name + "(PKey integer primary key, Name varchar(10));INSERT INTO " + name +
             " VALUES(1234, 'wrong'), (12345, 'right');";
  OpenMetafile mf(setup);
  int h = mf.handle();
  for (const std::string& name : names) {
    Rows row;
    EXPECT_EQ(0, Edit_ReadData(h, name.c_str(), 12345, &row, kValues));
    EXPECT_EQ(name + "|12345|2|Name|varchar(10)|right", row.at(1));
    EXPECT_EQ("right", value_at(h, name.c_str(), 12345, 2));
    EXPECT_EQ(0, Edit_RefreshReadData(h, name.c_str(), 12345));
    EXPECT_EQ("right", value_at(h, name.c_str(), 12345, 2));
  }
}

// The rows of a table declared WITHOUT ROWID and of one whose name holds "?"
// are listed and read like any other; a "?" in the host's order text is still
// a parameter, which nothing binds.
TEST(Records, TablesWithoutRowidOrWithAQuestionMarkInTheirName) {
  OpenMetafile mf(kHostTables);
  int h = mf.handle();
  Rows keys, row;
  for (const char* table : {"Shades", "Who?"}) {
    EXPECT_EQ(0, Edit_GetPKeys(h, table, "PKey DESC", &keys, kPKeys));
    EXPECT_EQ(0, Edit_ReadData(h, table, 2, &row, kValues));
  }
  EXPECT_EQ((Rows{"Shades|2", "Shades|1", "Who?|2", "Who?|1"}), keys);
  EXPECT_EQ((Rows{"Shades|2|1|PKey|integer|2", "Shades|2|2|Name|varchar(10)|blue", "Shades|2|3|Code|char(2)|B2",
                  "Who?|2|1|PKey|integer|2", "Who?|2|2|Name|varchar(10)|bob", "Who?|2|3|Code|char(2)|B2"}),
            row);
  EXPECT_EQ("red", value_at(h, "Shades", 1, 2));
  EXPECT_EQ("A1", value_at(h, "Who?", 1, 3));
  ASSERT_EQ(SQLITE_OK, RawDB(mf.path()).exec("UPDATE [Who?] SET Code = 'A12' WHERE PKey = 1;"));
  EXPECT_EQ(0, Edit_RefreshReadData(h, "Who?", 1));
  EXPECT_EQ("A12", value_at(h, "Who?", 1, 3));
  EXPECT_EQ(4, out_int(Edit_GetDataSizeByFieldName, h, "who?", 1, "code"));
  const std::string unbound = "Parameterized query: Use OpenParameterizedQuery instead";
  EXPECT_EQ((Rows{"-1", tsmf_error("GetPKeys", unbound), tsmf_error("GetPKeys", "SQL error for table Who?: " + unbound)}),
            outcome(h, Edit_GetPKeys(h, "Who?", "PKey = ?", &keys, kPKeys)));
}

// 4294967298 cut to an int is 2, another row's key: the listing stops there.
TEST(Records, PKeysBeyondAnIntAreRefusedNotCut) {
  OpenMetafile mf(std::string(kColors) + "UPDATE Colors SET PKey = 4294967298 WHERE PKey = 5;");
  Rows keys;
  EXPECT_EQ((Rows{"-1", tsmf_error("GetPKeys", key_refusal("4294967298", "colors"))}),
            outcome(mf.handle(), Edit_GetPKeys(mf.handle(), "colors", nullptr, &keys, kPKeys)));
  EXPECT_EQ((Rows{"colors|1", "colors|2"}), keys);
}
