// The statement wrappers where the exports do not reach them: the lean wrapper's first step that fails,
// statements finalized when prepared again, calls that do not suit the statement.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "TestSupport.h"
#include "storage/FastSQLQuery.h"
#include "storage/SQLDB.h"
#include "storage/SQLQuery.h"

namespace {

// How a statement wrapper's call failed: "exception text | LastErrorMessage()", the
// text "<no exception>" when it threw none.
template <class Query, class Action>
std::string failure(const Query& query, Action action) {
  try {
    action();
  } catch (const std::runtime_error& e) {
    return std::string(e.what()) + " | " + query.LastErrorMessage();
  }
  return std::string("<no exception> | ") + query.LastErrorMessage();
}

// The reason a plain call answered false, or "<accepted>" when it answered true.
template <class Query, class Action>
std::string refusal(const Query& query, Action action) {
  return action() ? "<accepted>" : query.LastErrorMessage();
}

}  // namespace

TEST(SQLQuery, FailedFirstStepsAndRefusedCalls) {
  TempDir dir;
  std::string path = dir.file("t.db");
  ASSERT_EQ(SQLITE_OK, RawDB(path).exec("CREATE TABLE t(a integer not null, b text);"
                                        "INSERT INTO t VALUES(1, 'one'), (2, 'two'), (3, NULL);"));
  TSQLDB db;
  ASSERT_TRUE(db.OpenDatabase(path.c_str()));
  TSQLQuery query(&db);
  TFastSQLQuery fast(&db);
  // A first step that fails is a failed open, never a row or an empty result (the cursor tests show the
  // other wrapper's).
  fast.SetSQLText("SELECT abs(-9223372036854775808)", false);
  EXPECT_EQ("TFastSQLQuery::open_query | integer overflow", failure(fast, [&] { fast.SetIsActive(true); }));
  EXPECT_FALSE(fast.GetIsActive());
  TSQLQuery unbound(nullptr);
  unbound.SetSQLText("SELECT 1", false);
  EXPECT_EQ("SQLDB not assigned for this query", refusal(unbound, [&] { return unbound.SetIsActive(true); }));
  query.SetSQLText("select * from t", false);
  EXPECT_EQ("SELECT statement should not use ExecSQL(); use SetActive(true), instead",
            refusal(query, [&] { return query.ExecSQL(); }));
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
  EXPECT_TRUE(db.CloseDatabase()) << "every prepared statement was finalized";
}
