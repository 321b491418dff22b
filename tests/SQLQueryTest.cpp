// The checked statement wrapper: text checks, reading rows, counting,
// parameterized SELECTs and a database locked by another connection.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "TestSupport.h"
#include "storage/SQLDB.h"
#include "storage/SQLQuery.h"
#include "storage/Utility.h"

namespace {
class SQLQueryFixture : public SmallTableTest {};

bool parameterized(const std::string& text, bool allow = true) {
  TSQLQuery query(nullptr);
  query.SetSQLText(text, allow);
  return query.GetIsParameterized();
}
}  // namespace

TEST(SQLQuery, ParameterDetectionLooksAtTheFirstMarkOnly) {
  EXPECT_TRUE(parameterized("SELECT * FROM t WHERE a = ?"));
  EXPECT_FALSE(parameterized("SELECT * FROM t WHERE a = '?'"));
  EXPECT_TRUE(parameterized("SELECT ? , 'x'"));
  EXPECT_TRUE(parameterized("SELECT a FROM t WHERE b = 'x' AND a = ?"));
  EXPECT_FALSE(parameterized("SELECT 'a', '?', ?"));
  EXPECT_TRUE(parameterized("'?' quoted at the very start"));
  EXPECT_FALSE(parameterized("SELECT * FROM t WHERE a = ?", false));
}

TEST_F(SQLQueryFixture, RefusesTextsThatDoNotSuitTheOperation) {
  TSQLQuery query(&Db), unbound(nullptr);
  auto open = [&] { return query.SetIsActive(true); };
  auto exec = [&] { return query.ExecSQL(); };
  EXPECT_EQ("SQLText is empty", refusal(query, open));
  EXPECT_EQ("SQLText is empty", refusal(query, exec));
  unbound.SetSQLText("SELECT 1", false);
  EXPECT_EQ("SQLDB not assigned for this query", refusal(unbound, [&] { return unbound.SetIsActive(true); }));
  query.SetSQLText("SELECT a FROM t WHERE a = ?", true);
  EXPECT_EQ("Parameterized query: Use OpenParameterizedQuery instead", refusal(query, open));
  query.SetSQLText("UPDATE t SET a = 1", false);
  EXPECT_EQ("Active property expects SELECT statement; use ExecSQL instead", refusal(query, open));
  query.SetSQLText(" SELECT a FROM t", false);
  EXPECT_EQ("Active property expects SELECT statement; use ExecSQL instead", refusal(query, open));
  query.SetSQLText("select * from t", false);
  EXPECT_EQ("SELECT statement should not use ExecSQL(); use SetActive(true), instead", refusal(query, exec));
  query.SetSQLText("UPDATE nowhere SET a = 1", false);
  EXPECT_EQ("no such table: nowhere", refusal(query, exec));
  query.SetSQLText("INSERT INTO t VALUES(4, 'x'); INSERT INTO t VALUES(5, 'y');", false);
  EXPECT_EQ("<accepted>", refusal(query, exec));
  EXPECT_EQ("5", RawDB(Path).value("SELECT count(*) FROM t"));

  query.SetSQLText("SELECT zz FROM t", false);
  EXPECT_EQ("TSQLQuery.open_query | no such column: zz", failure(query, open));
  // A first step that fails is a failed open, never a row or an empty result.
  query.SetSQLText("SELECT abs(-9223372036854775808)", false);
  EXPECT_EQ("TSQLQuery.open_query | integer overflow", failure(query, open));
  EXPECT_FALSE(query.GetIsActive());
}

TEST_F(SQLQueryFixture, ReadsRowsByNumberAndNameAndCountsThem) {
  TSQLQuery query(&Db);
  query.SetSQLText("SELECT a, b AS Name FROM t ORDER BY a", false);
  ASSERT_TRUE(query.SetIsActive(true));
  EXPECT_FALSE(query.Eof());
  EXPECT_EQ(2, query.ColCount());
  EXPECT_EQ(3, query.RowCount());
  EXPECT_EQ("one", query.GetFieldByName("name"));
  EXPECT_EQ(1, query.GetIntFieldByName("A"));
  EXPECT_EQ("Name", query.GetColumnName(1));
  EXPECT_EQ("GetColumName error: col_idx out of bounds", query.GetColumnName(-1));
  EXPECT_EQ("GetColumName error: col_idx out of bounds", query.GetColumnName(2));
  EXPECT_EQ("integer", lowercase_string(query.GetColumnDataType(0)));
  EXPECT_EQ("GetColumDataType error: col_idx out of bounds", query.GetColumnDataType(2));
  // An unknown name reads nothing rather than column 0.
  EXPECT_EQ("", query.GetFieldByName("nosuch"));
  EXPECT_EQ(0, query.GetIntFieldByName("nosuch"));
  EXPECT_EQ(-1, query.GetColumnNumber("nosuch"));

  EXPECT_TRUE(query.FetchNext());
  EXPECT_TRUE(query.FetchNext());
  EXPECT_EQ("", query.GetFieldByNumber(1));  // NULL
  EXPECT_TRUE(query.FetchNext());
  EXPECT_TRUE(query.Eof());
  EXPECT_EQ("", query.GetFieldByNumber(0));
  EXPECT_EQ("End of result set; no more records", refusal(query, [&] { return query.FetchNext(); }));
  EXPECT_TRUE(query.SetIsActive(false));

  query.SetSQLText("SELECT a FROM t WHERE a > 99", false);
  ASSERT_TRUE(query.SetIsActive(true));
  EXPECT_TRUE(query.Eof());
  EXPECT_EQ("End of result set; no more records", refusal(query, [&] { return query.FetchNext(); }));
  // The count runs on the upper-cased text with the character before ORDER BY cut.
  query.SetSQLText("select count(*) from t order by 1", false);
  ASSERT_TRUE(query.SetIsActive(true));
  EXPECT_EQ(3, query.RowCount());
  query.SetSQLText("SELECT a FROM t WHERE b = 'one'", false);
  ASSERT_TRUE(query.SetIsActive(true));
  EXPECT_EQ(0, query.RowCount());

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
  EXPECT_EQ(0, query.RowCount());
  // Binding a stepped statement is misuse; out of range is the connection's text.
  EXPECT_EQ("TSQLQuery::BindIntParameter | unknown error (SQLITE_MISUSE)",
            failure(query, [&] { query.BindIntParameter(1, 1); }));
  EXPECT_EQ("TSQLQuery::BindTextParameter | SQLITE_MISUSE: bad parameter or other API misuse",
            failure(query, [&] { query.BindTextParameter(1, "x"); }));
  EXPECT_TRUE(query.ResetParameterizedQuery());
  EXPECT_EQ("TSQLQuery::BindTextParameter | column index out of range",
            failure(query, [&] { query.BindTextParameter(3, "x"); }));
  query.BindIntParameter(1, 99);
  ASSERT_TRUE(query.OpenParameterizedQuery());
  EXPECT_TRUE(query.Eof());
  EXPECT_EQ("Parameterized query: Use ReleaseParameterizedQuery instead",
            refusal(query, [&] { return query.SetIsActive(false); }));
  EXPECT_TRUE(query.ReleaseParameterizedQuery());

  query.SetSQLText("SELECT a FROM t WHERE b = ?", true);
  query.PrepareParameterizedQuery();
  query.BindTextParameter(1, "two");
  ASSERT_TRUE(query.OpenParameterizedQuery());
  EXPECT_EQ(2, query.GetIntFieldByNumber(0));
  query.ReleaseParameterizedQuery();
  EXPECT_TRUE(Db.CloseDatabase()) << "every prepared statement was finalized";
}

TEST_F(SQLQueryFixture, ParameterizedFailuresThrowWithTheirTexts) {
  TSQLQuery query(&Db);
  auto prepare = [&] { query.PrepareParameterizedQuery(); };
  auto open = [&] { query.OpenParameterizedQuery(); };
  query.SetSQLText("SELECT a FROM t", false);
  EXPECT_EQ("TSQLQuery::PrepareParameterizedQuery | Not a parameterized query: use open_query instead",
            failure(query, prepare));
  EXPECT_EQ("TSQLQuery::BindIntParameter | Not a parameterized query: nothing to bind",
            failure(query, [&] { query.BindIntParameter(1, 1); }));
  EXPECT_EQ("TSQLQuery::OpenParameterizedQuery | Not a parameterized query: use open_query instead",
            failure(query, open));
  EXPECT_EQ("TSQLQuery::ResetParameterizedQuery | Not a parameterized query: inappropriate call",
            failure(query, [&] { query.ResetParameterizedQuery(); }));
  EXPECT_EQ("TSQLQuery::ReleaseParameterizedQuery | Not a parameterized query: use SetIsActive instead",
            failure(query, [&] { query.ReleaseParameterizedQuery(); }));
  query.SetSQLText("UPDATE t SET a = ?", true);
  EXPECT_EQ("TSQLQuery::PrepareParameterizedQuery | SetActive expects SELECT statement; use ExecSQL instead",
            failure(query, prepare));
  query.SetSQLText("SELECT a FROM t -- ?", true);
  const std::string noParameters = "TSQLQuery::OpenParameterizedQuery | Parameterized query has no bound parameters";
  EXPECT_EQ(noParameters, failure(query, open));  // nothing prepared
  ASSERT_TRUE(query.PrepareParameterizedQuery());
  EXPECT_EQ(noParameters, failure(query, open));  // the only "?" is in a comment
}

TEST_F(SQLQueryFixture, FirstStepThatStaysBusyFailsTheOpen) {
  TSQLQuery query(&Db);
  query.SetSQLText("SELECT a FROM t ORDER BY a", false);
  ASSERT_TRUE(query.SetIsActive(true));  // reads the schema before the lock is taken
  ASSERT_TRUE(query.SetIsActive(false));

  RawDB other(Path);
  ASSERT_EQ(SQLITE_OK, other.exec("BEGIN EXCLUSIVE"));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ("TSQLQuery.open_query | Database busy; cannot fetch next record",
            failure(query, [&] { query.SetIsActive(true); }));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_FALSE(query.GetIsActive());
  ASSERT_EQ(SQLITE_OK, other.exec("COMMIT"));
  ASSERT_TRUE(query.SetIsActive(true));
  EXPECT_EQ(1, query.GetIntFieldByNumber(0));
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
