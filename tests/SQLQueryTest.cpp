// The statement wrappers where the exports do not reach them: first steps that fail or wait for another
// connection's lock, statements finalized when prepared again, calls that do not suit the statement.
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

TEST_F(SQLQueryFixture, FailedFirstStepsAndRefusedCalls) {
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
  TSQLQuery unbound(nullptr);
  unbound.SetSQLText("SELECT 1", false);
  EXPECT_EQ("SQLDB not assigned for this query", refusal(unbound, [&] { return unbound.SetIsActive(true); }));
  query.SetSQLText("UPDATE t SET a = 1", false);
  EXPECT_EQ("Active property expects SELECT statement; use ExecSQL instead", refusal(query, [&] { return query.SetIsActive(true); }));
  query.SetSQLText("select * from t", false);
  EXPECT_EQ("SELECT statement should not use ExecSQL(); use SetActive(true), instead", refusal(query, [&] { return query.ExecSQL(); }));
  ASSERT_TRUE(query.SetIsActive(true));
  EXPECT_EQ("GetColumName error: col_idx out of bounds", query.GetColumnName(2));

  // Statements prepared again finalize the earlier ones.
  query.SetSQLText("SELECT b FROM t WHERE a = ?", true);
  ASSERT_TRUE(query.PrepareParameterizedQuery());
  ASSERT_TRUE(query.PrepareParameterizedQuery());
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
  EXPECT_TRUE(query.ReleaseParameterizedQuery());
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
