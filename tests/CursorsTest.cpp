// Named cursors over the host's own SELECTs, plain and parameterized: the text
// and name checks, walking and reading rows, and the exact engine errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "ApiTestSupport.h"

namespace {

const char* const kItems =
    "CREATE TABLE Items(PKey integer primary key, Name varchar(20), Qty integer);"
    "INSERT INTO Items VALUES(1, 'abc', 10), (2, 'ABC', 20), (3, 'Def', NULL);";

// The declared type's letter case is SQLite's business, so it is compared lower-cased.
int collect_cell(void* owner, const char* cursor, int first, int number, const char* column, const char* type,
                 const char* value) {
  std::string lowerType = type;
  std::transform(lowerType.begin(), lowerType.end(), lowerType.begin(), ::tolower);
  return collect(owner, cursor, first, number, column, lowerType.c_str(), value);
}

std::string text_by_name(int smf, const char* cursor, const char* column) {
  char buffer[32] = "?";
  EXPECT_EQ(0, Edit_GetCursorDataByName(smf, cursor, column, buffer, sizeof buffer));
  return buffer;
}

}  // namespace

TEST(Cursors, PlainAndParameterizedCursors) {
  OpenMetafile mf(kItems);
  int h = mf.handle(), value = -1;
  ASSERT_EQ(0, Edit_OpenCursor(h, "Cur1", "select PKey, Name from Items order by PKey"));
  EXPECT_EQ(3, out_int(Edit_CursorRowCount, h, "cur1"));
  Rows cells;
  EXPECT_EQ(0, Edit_ReadCursorData(h, "CUR1", &cells, fn(collect_cell)));
  EXPECT_EQ((Rows{"cur1|1|1|PKey|integer|1", "cur1|1|2|Name|varchar(20)|abc"}), cells);
  char buffer[4];
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(0, Edit_GetCursorDataByNumber(h, "Cur1", 2, buffer, 2));
  EXPECT_EQ("abxx", std::string(buffer, 4));
  for (int number : {0, 3, INT_MIN}) {
    EXPECT_EQ((Rows{"-1", tsmf_error("GetCursorDataSizeByNumber", "column_number is out of range")}),
              outcome(h, Edit_GetCursorDataSizeByNumber(h, "Cur1", number, &value)));
    EXPECT_EQ(0, out_int(Edit_GetCursorIntByNumber, h, "Cur1", number));
  }
  EXPECT_EQ(0, Edit_CursorNext(h, "Cur1"));
  EXPECT_EQ("ABC", text_by_name(h, "Cur1", "name"));
  EXPECT_EQ(2, out_int(Edit_GetCursorIntByName, h, "Cur1", "pkey"));
  // A column the cursor lacks is an error, never the first column's value.
  auto unknown = [](const char* method) {
    return Rows{"-1", tsmf_error(method, "Cannot find column named \"Qty\" in cursor named \"Cur1\"")};
  };
  EXPECT_EQ(unknown("GetCursorDataByName"), outcome(h, Edit_GetCursorDataByName(h, "Cur1", "Qty", buffer, sizeof buffer)));
  EXPECT_EQ(unknown("GetCursorDataSizeByName"), outcome(h, Edit_GetCursorDataSizeByName(h, "Cur1", "Qty", &value)));
  EXPECT_EQ(unknown("GetCursorIntByName"), outcome(h, Edit_GetCursorIntByName(h, "Cur1", "Qty", &value)));

  // Next, Eof, Next, Eof, Next: the third row, its end, then past it.
  EXPECT_EQ((std::vector<int>{0, 0, 0, 1, -2}),
            (std::vector<int>{Edit_CursorNext(h, "Cur1"), out_int(Edit_CursorEof, h, "Cur1"),
                              Edit_CursorNext(h, "Cur1"), out_int(Edit_CursorEof, h, "Cur1"),
                              Edit_CursorNext(h, "Cur1")}));
  EXPECT_EQ(Rows{tsmf_error("CursorNext", "End of result set; no more records")}, engine_errors(h));
  const char* again = "select PKey from Items";
  EXPECT_EQ((Rows{"-1", tsmf_error("OpenCursor", "A cursor named \"cur1\" already exists."), tsmf_error("OpenCursor", "CUR1"),
                  tsmf_error("OpenCursor", again)}),
            outcome(h, Edit_OpenCursor(h, "CUR1", again)));
  EXPECT_EQ(0, Edit_CloseCursor(h, "CUR1"));
  EXPECT_EQ((Rows{"-1", tsmf_error("CloseCursor", "Cannot find cursor named \"cur1\"")}), outcome(h, Edit_CloseCursor(h, "cur1")));

  // The cursor runs the upper-cased text, so 'abc' finds only the row holding ABC.
  ASSERT_EQ(0, Edit_OpenCursor(h, "upper", "select PKey from Items where Name = 'abc'"));
  EXPECT_EQ(2, out_int(Edit_GetCursorIntByNumber, h, "upper", 1));
  // A parameterized cursor binds, opens and resets.
  ASSERT_EQ(0, Edit_PrepareParameterizedCursor(h, "p", "select * from Items where PKey = ?"));
  EXPECT_EQ(0, out_int(Edit_CursorColCount, h, "p"));
  EXPECT_EQ((Rows{"-2", tsmf_error("CursorNext", "SQLITE_MISUSE: Statement is bad")}),  // never opened
            outcome(h, Edit_CursorNext(h, "p")));
  EXPECT_EQ(0, Edit_BindIntParameter(h, "p", 1, 2));
  EXPECT_EQ(0, Edit_OpenParameterizedCursor(h, "P"));
  EXPECT_EQ("ABC", text_by_name(h, "p", "Name"));
  EXPECT_EQ(0, out_int(Edit_CursorRowCount, h, "p"));
  EXPECT_EQ((Rows{"-1", tsmf_error("BindIntParameter", "unknown error (SQLITE_MISUSE)")}),  // a row is current: reset first
            outcome(h, Edit_BindIntParameter(h, "p", 1, 3)));
  EXPECT_EQ(0, Edit_ResetParameterizedCursor(h, "p"));
  EXPECT_EQ(0, Edit_BindIntParameter(h, "p", 1, 3));
  EXPECT_EQ(0, Edit_OpenParameterizedCursor(h, "p"));
  EXPECT_EQ("Def", text_by_name(h, "p", "Name"));
  EXPECT_EQ(0, Edit_ResetParameterizedCursor(h, "p"));
  EXPECT_EQ(0, Edit_OpenParameterizedCursor(h, "p"));  // the binding outlives the reset
  EXPECT_EQ("Def", text_by_name(h, "p", "Name"));
  EXPECT_EQ(0, Edit_ResetParameterizedCursor(h, "p"));
  EXPECT_EQ((Rows{"-1", tsmf_error("BindIntParameter", "column index out of range")}),
            outcome(h, Edit_BindIntParameter(h, "p", 2, 1)));
  EXPECT_EQ(0, Edit_CloseCursor(h, "p"));

  // A bound text keeps its letter case while the SQL text is upper-cased.
  ASSERT_EQ(0, Edit_PrepareParameterizedCursor(h, "q", "select PKey from Items where Name = ?"));
  EXPECT_EQ(0, Edit_BindTextParameter(h, "q", 1, "abc"));
  EXPECT_EQ(0, Edit_OpenParameterizedCursor(h, "q"));
  EXPECT_EQ(1, out_int(Edit_GetCursorIntByName, h, "q", "PKey"));
  EXPECT_EQ(0, Edit_ReleaseParameterizedCursor(h, "Q"));
  for (const char* sql : {"select PKey from Items", "select PKey from Items where Name = '?'"})
    EXPECT_EQ((Rows{"-1", tsmf_error("PrepareParameterizedCursor", "TSQLQuery::PrepareParameterizedQuery"),
                    tsmf_error("PrepareParameterizedCursor", "SQL error: Not a parameterized query: use open_query instead")}),
              outcome(h, Edit_PrepareParameterizedCursor(h, "q", sql)));
  // A plain cursor refuses the parameterized operations; releasing it still removes it.
  ASSERT_EQ(0, Edit_OpenCursor(h, "Plain", "select * from Items"));
  EXPECT_EQ((Rows{"-1", tsmf_error("BindIntParameter", "Not a parameterized query: nothing to bind")}),
            outcome(h, Edit_BindIntParameter(h, "Plain", 1, 1)));
  EXPECT_EQ((Rows{"-1", tsmf_error("ReleaseParameterizedCursor", "Not a parameterized query: use SetIsActive instead")}),
            outcome(h, Edit_ReleaseParameterizedCursor(h, "Plain")));
  EXPECT_EQ(-1, Edit_CloseCursor(h, "Plain"));
}

TEST(Cursors, RefusedTextsListNothingAndClosingTheHandleReleasesCursors) {
  OpenMetafile mf(kItems);
  int h = mf.handle(), eof = -1;
  // Another connection's lock that stays fails the open once the busy bound has passed; one that goes is
  // waited for.
  RawDB other(mf.path());
  ASSERT_EQ(SQLITE_OK, other.exec("BEGIN EXCLUSIVE"));
  const char* items = "select PKey from Items";
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ((Rows{"-1", tsmf_error("OpenCursor", "TSQLQuery.open_query"),
                  tsmf_error("OpenCursor", "SQL error: Database busy; cannot fetch next record"),
                  tsmf_error("OpenCursor", items)}),
            outcome(h, Edit_OpenCursor(h, "c", items)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kBusyTimeoutMs - 100));
  std::thread releaser([&other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    other.exec("COMMIT");
  });
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, Edit_OpenCursor(h, "c", items));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  releaser.join();
  EXPECT_EQ(0, Edit_CloseCursor(h, "c"));
  const std::pair<const char*, Rows> cases[] = {
      {"update Items set Qty = 1", {"SQL does not contain a SELECT statement"}},
      {"select\tPKey from Items", {"SQL does not contain a SELECT statement"}},
      {"select Qty as LASTUPDATE from Items", {"SQL contains an UPDATE statement; not allowed"}},
      {"select 'insert ' from Items", {"SQL contains an INSERT statement; not allowed"}},
      {"select * from Items where Name = 'delete me'", {"SQL contains a DELETE statement; not allowed"}},
      {" select PKey from Items", {"Active property expects SELECT statement; use ExecSQL instead"}},
      {"select PKey from Items where PKey = ?", {"Parameterized query: Use OpenParameterizedQuery instead"}},
      {"select * from NoSuch", {"TSQLQuery.open_query", "SQL error: no such table: NOSUCH"}},
      // A first step that fails is a failed open, never a row or an empty result.
      {"select abs(-9223372036854775808)", {"TSQLQuery.open_query", "SQL error: integer overflow"}},
  };
  for (const auto& c : cases) {
    Rows expected{"-1"};
    for (const std::string& message : c.second) expected.push_back(tsmf_error("OpenCursor", message));
    expected.push_back(tsmf_error("OpenCursor", c.first));
    EXPECT_EQ(expected, outcome(h, Edit_OpenCursor(h, "c", c.first)));
    EXPECT_EQ((Rows{"-1", tsmf_error("CursorEof", "Cannot find cursor named \"c\"")}), outcome(h, Edit_CursorEof(h, "c", &eof)));
  }
  EXPECT_EQ(0, Edit_OpenCursor(h, "c", "select PKey from Items"));
  // Closing the handle releases the cursors, whose reads hold their lock.
  RawDB raw(mf.path());
  ASSERT_EQ(0, Edit_PrepareParameterizedCursor(h, "p", "select * from Items where PKey = ?"));
  ASSERT_EQ(4, out_int(Edit_GetDataSizeByColumnOrder, h, "Items", 1, 2));
  EXPECT_EQ(SQLITE_BUSY, raw.exec("INSERT INTO Items VALUES(9, 'z', 1)"));
  EXPECT_EQ(0, Edit_Exit(h));
  EXPECT_EQ(SQLITE_OK, raw.exec("DROP TABLE Items"));
}

// A table declared WITHOUT ROWID is read through cursors like any other. A
// "?" that the host writes into a cursor's text decides as it always does,
// even inside a name: outside quotes it makes the text parameterized.
TEST(Cursors, TablesWithoutRowidOrWithAQuestionMarkInTheirName) {
  OpenMetafile mf(kHostTables);
  int h = mf.handle();
  ASSERT_EQ(0, Edit_OpenCursor(h, "c", "select Name from Shades order by PKey desc"));
  EXPECT_EQ(2, out_int(Edit_CursorRowCount, h, "c"));
  EXPECT_EQ("blue", text_by_name(h, "c", "Name"));
  EXPECT_EQ((Rows{"-1", tsmf_error("OpenCursor", "Parameterized query: Use OpenParameterizedQuery instead"),
                  tsmf_error("OpenCursor", "select Name from [Who?]")}),
            outcome(h, Edit_OpenCursor(h, "w", "select Name from [Who?]")));
  ASSERT_EQ(0, Edit_PrepareParameterizedCursor(h, "w", "select Name from [Who?] where PKey = ?"));
  ASSERT_EQ(0, Edit_BindIntParameter(h, "w", 1, 2));
  ASSERT_EQ(0, Edit_OpenParameterizedCursor(h, "w"));
  EXPECT_EQ("bob", text_by_name(h, "w", "Name"));
}

// A step that fails in the middle of a read halts it; stepped again it would
// start over from the first row, so the cursor is at its end instead, plain
// and parameterized alike, until a parameterized one is opened again.
TEST(Cursors, AStepThatFailsMidReadEndsTheWalkAndNeverStartsItOver) {
  OpenMetafile mf(
      "CREATE TABLE Big(PKey integer primary key, V integer);"
      "INSERT INTO Big VALUES (1, 5), (2, -9223372036854775808), (3, 7);");
  int h = mf.handle();
  ASSERT_EQ(0, Edit_OpenCursor(h, "plain", "select PKey, abs(V) from Big order by PKey"));
  ASSERT_EQ(0, Edit_PrepareParameterizedCursor(h, "bound", "select PKey, abs(V) from Big where PKey >= ? order by PKey"));
  ASSERT_EQ(0, Edit_BindIntParameter(h, "bound", 1, 1));
  ASSERT_EQ(0, Edit_OpenParameterizedCursor(h, "bound"));
  for (const char* cursor : {"plain", "bound"}) {
    EXPECT_EQ(1, out_int(Edit_GetCursorIntByNumber, h, cursor, 1)) << cursor;
    EXPECT_EQ((Rows{"-2", tsmf_error("CursorNext", "integer overflow")}), outcome(h, Edit_CursorNext(h, cursor)))
        << cursor;
    EXPECT_EQ(1, out_int(Edit_CursorEof, h, cursor)) << cursor;
    EXPECT_EQ((Rows{"-2", tsmf_error("CursorNext", "End of result set; no more records")}),
              outcome(h, Edit_CursorNext(h, cursor)))
        << cursor;
  }
  // Reset and opened again, from a key past the failing row, the parameterized cursor reads on.
  EXPECT_EQ(0, Edit_ResetParameterizedCursor(h, "bound"));
  ASSERT_EQ(0, Edit_BindIntParameter(h, "bound", 1, 3));
  ASSERT_EQ(0, Edit_OpenParameterizedCursor(h, "bound"));
  EXPECT_EQ(0, out_int(Edit_CursorEof, h, "bound"));
  EXPECT_EQ(7, out_int(Edit_GetCursorIntByNumber, h, "bound", 2));
}
