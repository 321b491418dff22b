// The statement wrappers, the checked one and the lean one of the run-time
// paths: failed first steps, reads without a row or by unknown names,
// statements finalized when prepared again, a database locked by another
// connection, and single statements with bound texts.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "TestSupport.h"
#include "storage/FastSQLQuery.h"
#include "storage/SQLDB.h"
#include "storage/SQLQuery.h"

namespace {
class SQLQueryFixture : public SmallTableTest {};
}  // namespace

TEST_F(SQLQueryFixture, FailedFirstStepsFailTheOpen) {
  TSQLQuery query(&Db);
  TFastSQLQuery fast(&Db);
  for (const auto& [text, reason] : {std::pair{"SELECT zz FROM t", "no such column: zz"},
                                     // A first step that fails is a failed open, never a row or an empty result.
                                     {"SELECT abs(-9223372036854775808)", "integer overflow"}}) {
    query.SetSQLText(text, false);
    EXPECT_EQ(std::string("TSQLQuery.open_query | ") + reason, failure(query, [&] { query.SetIsActive(true); }));
    EXPECT_FALSE(query.GetIsActive());
    fast.SetSQLText(text, false);
    EXPECT_EQ(std::string("TFastSQLQuery::open_query | ") + reason, failure(fast, [&] { fast.SetIsActive(true); }));
    EXPECT_FALSE(fast.GetIsActive());
  }
  // Texts that do not suit the operation are refused with their reason.
  TSQLQuery unbound(nullptr);
  unbound.SetSQLText("SELECT 1", false);
  EXPECT_EQ("SQLDB not assigned for this query", refusal(unbound, [&] { return unbound.SetIsActive(true); }));
  query.SetSQLText("UPDATE t SET a = 1", false);
  EXPECT_EQ("Active property expects SELECT statement; use ExecSQL instead", refusal(query, [&] { return query.SetIsActive(true); }));
  query.SetSQLText("select * from t", false);
  EXPECT_EQ("SELECT statement should not use ExecSQL(); use SetActive(true), instead", refusal(query, [&] { return query.ExecSQL(); }));
}

TEST_F(SQLQueryFixture, ReadsWithoutARowOrByUnknownNamesReadNothing) {
  TSQLQuery query(&Db);
  query.SetSQLText("SELECT a, b AS Name FROM t WHERE a = '?' OR a > 1 ORDER BY a", true);  // a quoted "?" is no marker
  ASSERT_TRUE(query.SetIsActive(true));
  EXPECT_EQ("two", query.GetFieldByName("name"));
  EXPECT_EQ(2, query.GetIntFieldByName("A"));
  EXPECT_EQ("Name", query.GetColumnName(1));
  EXPECT_EQ("GetColumName error: col_idx out of bounds", query.GetColumnName(2));
  // An unknown name reads nothing rather than column 0.
  EXPECT_EQ("", query.GetFieldByName("nosuch"));
  EXPECT_EQ(0, query.GetIntFieldByName("nosuch"));
  EXPECT_EQ(-1, query.GetColumnNumber("nosuch"));
  EXPECT_TRUE(query.FetchNext());
  EXPECT_EQ("", query.GetFieldByNumber(1));  // NULL
  EXPECT_TRUE(query.FetchNext());
  EXPECT_TRUE(query.Eof());
  EXPECT_EQ("", query.GetFieldByNumber(0));
  EXPECT_EQ("End of result set; no more records", refusal(query, [&] { return query.FetchNext(); }));

  TFastSQLQuery fast(&Db);
  fast.SetSQLText("SELECT a, b FROM t WHERE a = 3", false);
  ASSERT_TRUE(fast.SetIsActive(true));
  EXPECT_STREQ("", fast.GetFieldByNumber(1));  // NULL
  EXPECT_STREQ("", fast.GetFieldByNumber(2));
  EXPECT_TRUE(fast.FetchNext());
  EXPECT_TRUE(fast.Eof());
  EXPECT_EQ(0, fast.GetIntFieldByNumber(0));
  EXPECT_EQ("End of result set; no more records", refusal(fast, [&] { return fast.FetchNext(); }));

  int nullableA = -1, nullableB = -1, primaryKey = -1, autoInc = -1;
  EXPECT_TRUE(query.GetColumnConstraints("t", "a", &nullableA, &primaryKey, &autoInc));
  EXPECT_TRUE(query.GetColumnConstraints("t", "b", &nullableB, &primaryKey, &autoInc));
  EXPECT_EQ("0 1", std::to_string(nullableA) + " " + std::to_string(nullableB));
}

TEST_F(SQLQueryFixture, ParameterizedSelects) {
  TSQLQuery query(&Db);
  query.SetSQLText("SELECT b FROM t WHERE a = ?", true);
  ASSERT_TRUE(query.PrepareParameterizedQuery());
  ASSERT_TRUE(query.PrepareParameterizedQuery());  // the earlier statement is finalized
  query.BindIntParameter(1, 2);
  ASSERT_TRUE(query.OpenParameterizedQuery());
  EXPECT_EQ("two", query.GetFieldByName("B"));
  // Binding a stepped statement is misuse; out of range is the connection's text.
  EXPECT_EQ("TSQLQuery::BindIntParameter | unknown error (SQLITE_MISUSE)",
            failure(query, [&] { query.BindIntParameter(1, 1); }));
  EXPECT_TRUE(query.ResetParameterizedQuery());
  EXPECT_EQ("TSQLQuery::BindTextParameter | column index out of range", failure(query, [&] { query.BindTextParameter(3, "x"); }));
  EXPECT_TRUE(query.ReleaseParameterizedQuery());
  query.SetSQLText("SELECT a FROM t", false);
  EXPECT_EQ("TSQLQuery::OpenParameterizedQuery | Not a parameterized query: use open_query instead",
            failure(query, [&] { query.OpenParameterizedQuery(); }));

  TFastSQLQuery fast(&Db);
  fast.SetSQLText("SELECT a FROM t WHERE a = ? OR b = ? ORDER BY a", true);
  EXPECT_EQ("TFastSQLQuery::OpenParameterizedQuery | Parameterized query has no bound parameters",
            failure(fast, [&] { fast.OpenParameterizedQuery(); }));  // nothing prepared
  ASSERT_TRUE(fast.PrepareParameterizedQuery());
  ASSERT_TRUE(fast.PrepareParameterizedQuery());
  EXPECT_EQ("TFastSQLQuery::BindTextParameter | parameter index [3] out of range (SQLITE_RANGE error)",
            failure(fast, [&] { fast.BindTextParameter(3, "x"); }));
  fast.BindIntParameter(1, 3);
  fast.BindTextParameter(2, "one");
  ASSERT_TRUE(fast.OpenParameterizedQuery());
  EXPECT_EQ(1, fast.GetIntFieldByNumber(0));
  EXPECT_TRUE(fast.FetchNext());
  EXPECT_EQ(3, fast.GetIntFieldByNumber(0));
  EXPECT_TRUE(fast.SetIsActive(false));  // closes the parameterized statement too
  EXPECT_TRUE(Db.CloseDatabase()) << "every prepared statement was finalized";
}

TEST_F(SQLQueryFixture, BusyFirstStepsWaitForTheLock) {
  TSQLQuery query(&Db);
  TFastSQLQuery fast(&Db);
  query.SetSQLText("SELECT a FROM t ORDER BY a", false);
  fast.SetSQLText("SELECT a FROM t ORDER BY a", false);
  ASSERT_TRUE(query.SetIsActive(true) && query.SetIsActive(false));  // read the schema before the lock is taken
  ASSERT_TRUE(fast.SetIsActive(true) && fast.SetIsActive(false));

  // A lock that stays fails the open once the busy bound has passed; one that goes is waited for.
  RawDB other(Path);
  ASSERT_EQ(SQLITE_OK, other.exec("BEGIN EXCLUSIVE"));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ("TSQLQuery.open_query | Database busy; cannot fetch next record", failure(query, [&] { query.SetIsActive(true); }));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_FALSE(query.GetIsActive());
  std::thread releaser([&other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    other.exec("COMMIT");
  });
  start = std::chrono::steady_clock::now();
  EXPECT_EQ("<no exception> | ", failure(fast, [&] { fast.SetIsActive(true); }));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  releaser.join();
  EXPECT_EQ(1, fast.GetIntFieldByNumber(0));
}

TEST_F(SQLQueryFixture, ExecOneSQLRunsExactlyOneStatement) {
  TSQLQuery query(&Db);
  auto exec = [&] { return query.ExecOneSQL(); };
  EXPECT_EQ("SQLText is empty", refusal(query, exec));
  query.SetSQLText("  -- nothing but a comment", false);
  EXPECT_EQ("SQLText is empty", refusal(query, exec));
  query.SetSQLText("UPDATE t SET b = 'x'; DELETE FROM t;", false);
  EXPECT_EQ("SQLText holds more than one statement", refusal(query, exec));
  query.SetSQLText("UPDATE t SET b = 'x' WHERE a = 1; \n", false);
  EXPECT_EQ("<accepted>", refusal(query, exec));
  query.SetSQLText("UPDATE t SET b = ? WHERE a = ?", false);
  EXPECT_TRUE(query.ExecOneSQL({"it's; DELETE FROM t", "2"}));
  query.SetSQLText("INSERT INTO t VALUES(NULL, 'n')", false);
  EXPECT_EQ("NOT NULL constraint failed: t.a", refusal(query, exec));
  query.SetSQLText("UPDATE nosuch SET b = 1", false);
  EXPECT_EQ("no such table: nosuch", refusal(query, exec));
  TSQLQuery check(&Db);
  check.OpenSelect("SELECT group_concat(a || '=' || ifnull(b, '-'), ',') FROM t");
  EXPECT_EQ("1=x,2=it's; DELETE FROM t,3=-", check.GetFieldByNumber(0));
}
