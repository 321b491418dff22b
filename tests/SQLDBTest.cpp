// The connection: opening with its file name, transactions, savepoints whose
// names are never SQL, and pragmas with a row callback.
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

bool run(TSQLDB& db, const std::string& sql) {
  std::vector<std::string> rows;
  return db.Pragma(sql.c_str(), &rows, collect) == SQLITE_OK;
}
}  // namespace

TEST(SQLDB, OpensOnceAndAnswersFalseWhenClosed) {
  TSQLDB closed;
  EXPECT_STREQ("", closed.GetLastDBErrorMessage());
  EXPECT_STREQ("", closed.GetDBName());
  EXPECT_FALSE(closed.Vacuum());
  EXPECT_FALSE(closed.BeginTrans());
  EXPECT_FALSE(closed.SavePoint("sp"));
  EXPECT_FALSE(closed.InTransaction());
  EXPECT_FALSE(closed.CloseDatabase());

  TempDir dir;
  std::string path = dir.file("new.db");
  TSQLDB db;
  ASSERT_TRUE(db.OpenDatabase(path.c_str()));
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(path, db.GetDBName());
  EXPECT_EQ("1", first_value(db, "PRAGMA foreign_keys"));
  EXPECT_TRUE(db.OpenDatabase(dir.file("other.db").c_str()));  // the first file stays open
  EXPECT_EQ(path, db.GetDBName());
  EXPECT_FALSE(std::filesystem::exists(dir.file("other.db")));
  EXPECT_TRUE(db.Vacuum());
  EXPECT_TRUE(db.CloseDatabase());
  EXPECT_FALSE(db.CloseDatabase());

  TSQLDB unopenable;
  EXPECT_FALSE(unopenable.OpenDatabase(dir.file("no/such/dir.db").c_str()));
  EXPECT_STREQ("", unopenable.GetDBName());
}

TEST(SQLDB, TransactionsSavepointsAndPragma) {
  TempDir dir;
  TSQLDB db;
  ASSERT_TRUE(db.OpenDatabase(dir.file("t.db").c_str()));
  std::vector<std::string> rows;
  EXPECT_EQ(0, db.Pragma("this is not SQL", nullptr, nullptr));
  EXPECT_EQ(SQLITE_ERROR, db.Pragma("this is not SQL", &rows, collect));
  ASSERT_TRUE(run(db, "CREATE TABLE t(a); INSERT INTO t VALUES(1); INSERT INTO t VALUES(2);"));
  EXPECT_EQ("2", first_value(db, "SELECT count(*) FROM t"));

  EXPECT_FALSE(db.CommitTrans());
  EXPECT_STREQ("cannot commit - no transaction is active", db.GetLastDBErrorMessage());
  ASSERT_TRUE(db.BeginTrans());
  EXPECT_TRUE(db.InTransaction());
  ASSERT_TRUE(run(db, "INSERT INTO t VALUES(3)"));
  EXPECT_TRUE(db.RollbackTrans());
  EXPECT_FALSE(db.InTransaction());
  EXPECT_EQ("2", first_value(db, "SELECT count(*) FROM t"));
  std::string reason;
  ASSERT_TRUE(db.BeginWrite(reason)) << reason;
  ASSERT_TRUE(run(db, "INSERT INTO t VALUES(3)"));
  EXPECT_TRUE(db.CommitTrans());
  EXPECT_EQ("3", first_value(db, "SELECT count(*) FROM t"));

  EXPECT_TRUE(db.SavePoint("sp1"));
  ASSERT_TRUE(run(db, "INSERT INTO t VALUES(4)"));
  EXPECT_TRUE(db.RollbackTo("sp1"));
  EXPECT_TRUE(db.Release("sp1"));
  EXPECT_EQ("3", first_value(db, "SELECT count(*) FROM t"));
  EXPECT_FALSE(db.Release("nosuch"));
  EXPECT_STREQ("no such savepoint: nosuch", db.GetLastDBErrorMessage());
  EXPECT_FALSE(db.SavePoint(nullptr));

  // A name is one identifier, never a second statement, and is never cut, so
  // a cut name does not match.
  std::string longName(120, 'n');
  for (const std::string& name : {std::string("x\"; DELETE FROM t; --"), std::string("a]b\"c'd"), longName}) {
    EXPECT_TRUE(db.SavePoint(name.c_str())) << name;
    ASSERT_TRUE(run(db, "INSERT INTO t VALUES(5)"));
    EXPECT_TRUE(db.RollbackTo(name.c_str())) << name;
    EXPECT_TRUE(db.Release(name.c_str())) << name;
  }
  EXPECT_EQ("3", first_value(db, "SELECT count(*) FROM t"));
  EXPECT_TRUE(db.SavePoint(longName.c_str()));
  EXPECT_FALSE(db.Release(longName.substr(0, 89).c_str()));
  EXPECT_TRUE(db.Release(longName.c_str()));
  EXPECT_FALSE(db.InTransaction());
}
