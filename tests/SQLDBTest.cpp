// The connection: opening, pragmas and savepoint names (transactions are
// tested through the exports).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "storage/SQLDB.h"

namespace {
int collect(void* context, int, char** values, char**) {
  static_cast<std::vector<std::string>*>(context)->push_back(values[0] ? values[0] : "<null>");
  return 0;
}

std::string first_value(TSQLDB& db, const char* sql) {
  std::vector<std::string> rows;
  db.Pragma(sql, &rows, collect);
  return rows.empty() ? "" : rows[0];
}
}  // namespace

TEST(SQLDB, OpensOnceAndAnswersFalseWhenClosed) {
  TSQLDB closed;
  EXPECT_STREQ("", closed.GetLastDBErrorMessage());
  EXPECT_FALSE(closed.Vacuum());
  EXPECT_FALSE(closed.BeginTrans());
  EXPECT_FALSE(closed.SavePoint("sp"));
  EXPECT_FALSE(closed.CloseDatabase());

  TempDir dir;
  std::string path = dir.file("new.db");
  TSQLDB db;
  ASSERT_TRUE(db.OpenDatabase(path.c_str()));
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ("1", first_value(db, "PRAGMA foreign_keys"));
  EXPECT_TRUE(db.OpenDatabase(dir.file("other.db").c_str()));
  EXPECT_FALSE(std::filesystem::exists(dir.file("other.db")));
  EXPECT_TRUE(db.Vacuum());
  EXPECT_TRUE(db.CloseDatabase());
  EXPECT_FALSE(db.CloseDatabase());
}

TEST(SQLDB, PragmaRunsEveryStatementWithItsRows) {
  TempDir dir;
  TSQLDB db;
  ASSERT_TRUE(db.OpenDatabase(dir.file("t.db").c_str()));
  std::vector<std::string> rows;
  EXPECT_EQ(0, db.Pragma("this is not SQL", nullptr, nullptr));
  EXPECT_EQ(SQLITE_ERROR, db.Pragma("this is not SQL", &rows, collect));
  ASSERT_EQ(SQLITE_OK, db.Pragma("CREATE TABLE t(a); INSERT INTO t VALUES(1); INSERT INTO t VALUES(2);",
                                 &rows, collect));
  EXPECT_EQ("2", first_value(db, "SELECT count(*) FROM t"));
  // Long savepoint names are never cut, so a cut name does not match.
  std::string longName(120, 'n');
  EXPECT_TRUE(db.SavePoint(longName.c_str()));
  EXPECT_FALSE(db.Release(longName.substr(0, 89).c_str()));
  EXPECT_TRUE(db.Release(longName.c_str()));
}
