// The lean statement wrapper of the run-time paths.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "TestSupport.h"
#include "storage/FastSQLQuery.h"
#include "storage/SQLDB.h"

namespace {
class FastSQLQueryFixture : public SmallTableTest {};
}  // namespace

TEST_F(FastSQLQueryFixture, OpensAnyTextAndFetches) {
  TFastSQLQuery query(&Db);
  query.SetSQLText("SELECT * FROM t WHERE b = '?'", true);  // quotes are not considered here
  EXPECT_TRUE(query.GetIsParameterized());
  query.SetSQLText("SELECT a FROM t WHERE a = ?", false);
  EXPECT_FALSE(query.GetIsParameterized());

  query.SetSQLText("SELECT a, b FROM t ORDER BY a", false);
  ASSERT_TRUE(query.SetIsActive(true));
  EXPECT_STREQ("one", query.GetFieldByNumber(1));
  EXPECT_STREQ("", query.GetFieldByNumber(2));
  EXPECT_TRUE(query.FetchNext());
  EXPECT_TRUE(query.FetchNext());
  EXPECT_STREQ("", query.GetFieldByNumber(1));  // NULL
  EXPECT_TRUE(query.FetchNext());
  EXPECT_TRUE(query.Eof());
  EXPECT_EQ(0, query.GetIntFieldByNumber(0));
  EXPECT_EQ("End of result set; no more records", refusal(query, [&] { return query.FetchNext(); }));

  // Markers of a text opened plainly read as NULL.
  query.SetSQLText("SELECT a FROM t WHERE b IS ?", true);
  ASSERT_TRUE(query.SetIsActive(true));
  EXPECT_EQ(3, query.GetIntFieldByNumber(0));
  query.SetSQLText("DELETE FROM t WHERE a = 1", false);
  EXPECT_TRUE(query.SetIsActive(true));
  EXPECT_TRUE(query.Eof());
  EXPECT_EQ("2", RawDB(Path).value("SELECT count(*) FROM t"));

  auto open = [&] { query.SetIsActive(true); };
  query.SetSQLText("SELECT zz FROM t", false);
  EXPECT_EQ("TFastSQLQuery::open_query | no such column: zz", failure(query, open));
  query.SetSQLText("SELECT abs(-9223372036854775808)", false);
  EXPECT_EQ("TFastSQLQuery::open_query | integer overflow", failure(query, open));
  EXPECT_FALSE(query.GetIsActive());
}

TEST_F(FastSQLQueryFixture, ParameterizedSelects) {
  TFastSQLQuery query(&Db);
  query.SetSQLText("SELECT a FROM t WHERE a = ? OR b = ? ORDER BY a", true);
  EXPECT_EQ("TFastSQLQuery::OpenParameterizedQuery | Parameterized query has no bound parameters",
            failure(query, [&] { query.OpenParameterizedQuery(); }));
  ASSERT_TRUE(query.PrepareParameterizedQuery());
  ASSERT_TRUE(query.PrepareParameterizedQuery());  // the earlier statement is finalized
  EXPECT_EQ("TFastSQLQuery::BindTextParameter | parameter index [3] out of range (SQLITE_RANGE error)",
            failure(query, [&] { query.BindTextParameter(3, "x"); }));
  EXPECT_EQ("TFastSQLQuery::BindIntParameter | column index out of range",
            failure(query, [&] { query.BindIntParameter(3, 1); }));

  query.BindIntParameter(1, 3);
  query.BindTextParameter(2, "one");
  ASSERT_TRUE(query.OpenParameterizedQuery());
  EXPECT_EQ(1, query.GetIntFieldByNumber(0));
  EXPECT_TRUE(query.FetchNext());
  EXPECT_EQ(3, query.GetIntFieldByNumber(0));
  EXPECT_TRUE(query.ResetParameterizedQuery());
  query.BindIntParameter(1, 2);
  query.BindTextParameter(2, "none");
  ASSERT_TRUE(query.OpenParameterizedQuery());
  EXPECT_EQ(2, query.GetIntFieldByNumber(0));
  EXPECT_TRUE(query.SetIsActive(false));  // closes the parameterized statement too
  EXPECT_TRUE(Db.CloseDatabase()) << "every prepared statement was finalized";

  query.SetSQLText("SELECT a FROM t", false);
  EXPECT_EQ("TFastSQLQuery::ReleaseParameterizedQuery | Not a parameterized query: use SetIsActive instead",
            failure(query, [&] { query.ReleaseParameterizedQuery(); }));
}

TEST_F(FastSQLQueryFixture, BusyFirstStepIsRetriedUntilTheLockGoes) {
  TFastSQLQuery query(&Db);
  query.SetSQLText("SELECT a FROM t ORDER BY a", false);
  ASSERT_TRUE(query.SetIsActive(true));  // reads the schema before the lock is taken
  ASSERT_TRUE(query.SetIsActive(false));

  RawDB other(Path);
  ASSERT_EQ(SQLITE_OK, other.exec("BEGIN EXCLUSIVE"));
  std::thread releaser([&other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    other.exec("COMMIT");
  });
  auto start = std::chrono::steady_clock::now();
  std::string outcome = failure(query, [&] { query.SetIsActive(true); });
  auto elapsed = std::chrono::steady_clock::now() - start;
  releaser.join();
  EXPECT_EQ("<no exception> | ", outcome);
  EXPECT_GE(elapsed, std::chrono::milliseconds(1500));
  EXPECT_EQ(1, query.GetIntFieldByNumber(0));
}
