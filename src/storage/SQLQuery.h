// The checked statement wrapper of the facade, the compiler, the schema writer
// and the authoring side: one SQL text, at most one prepared statement, column
// access by number and by name, row counting and parameterized SELECTs.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "storage/QueryBase.h"

class TSQLQuery : public TQueryBase {
 public:
  explicit TSQLQuery(TSQLDB* db) : TQueryBase(db) {}

  void SetSQLText(const std::string& text, bool allowParameters);
  // Sets a statement of the library's own whose parameters it binds: it is
  // parameterized whatever a name pasted into it holds.
  void SetBoundSQLText(const std::string& text);

  // Plain operations: they answer false with the reason in LastErrorMessage;
  // only a failing prepare or first step inside SetIsActive(true) throws.
  bool SetIsActive(bool active);
  // Sets a SELECT of the library's own and opens it. A "?" inside a name
  // pasted into it is no parameter: the prepared statement tells whether it
  // has any, and one that has is refused, since nothing is bound to it. An
  // open that answers false throws std::runtime_error with the reason, like
  // one that fails.
  void OpenSelect(const std::string& sql);
  int RowCount();

  std::string GetFieldByNumber(int i) const { return field_text(i); }
  std::string GetFieldByName(const std::string& name) const;
  int GetIntFieldByName(const std::string& name) const;
  // 0-based number of the result column of that name (case-blind), or -1.
  int GetColumnNumber(const std::string& name) const;
  std::string GetColumnName(int i) const;
  std::string GetColumnDataType(int i) const;
  bool GetColumnConstraints(const char* table, const char* column, int* isNullable,
                            int* isPrimaryKey, int* isAutoInc);
  bool ExecSQL();
  // Runs the text as exactly one statement, with `texts` bound to its "?"
  // parameters in order; a text that holds a second statement is refused.
  // Like ExecSQL it reports failure only by its result and never throws.
  // `returned`, when given, receives the first column of the first row the
  // statement returns (a RETURNING clause) as a row key, not found without one.
  bool ExecOneSQL(const std::vector<std::string>& texts = {}, TRowKey* returned = nullptr);
  // Prepares the text once as exactly one statement and runs it for each value
  // in turn, bound to its "?" parameter as it was read; stops at the first
  // failure. Like ExecOneSQL it never throws.
  bool ExecOneSQLPerValue(const std::vector<TSQLValue>& values);

  // Parameterized operations: they throw std::runtime_error on failure.
  bool PrepareParameterizedQuery();
  bool BindIntParameter(int n, int value);
  bool BindTextParameter(int n, const char* text);
  bool OpenParameterizedQuery();
  bool ResetParameterizedQuery();
  bool ReleaseParameterizedQuery();

 private:
  bool open_query(bool refuseParameters = false);
  bool close_query();
  int get_row_count();
  void fill_column_maps();
  bool is_select_text() const;
  bool text_and_connection_given();
  sqlite3_stmt* prepare_one_statement();
  bool step_to_end(sqlite3_stmt* statement, TRowKey* returned);
  bool record_db_error();

  int FRowCount = -1;
  std::map<std::string, int> FColumnsByName;
  std::map<int, std::string> FColumnNames;
};

// How a new row of a table whose PKey the database numbers is given a key
// that an int holds: while the database's own next number lies within an int
// both texts are empty and the database numbers the row; past it, a free key
// from 1 to 2147483647 leads the INSERT's column and value lists. Key 1 of
// RL_Agencies and RL_Messages is never given: where the database would number
// their row 1, a free key from 2 leads the lists instead.
struct TNewRowKey {
  std::string Key;     // the key given, or empty
  std::string Column;  // "[PKey], " or empty
  std::string Value;   // the key and ", ", or empty
};
// Reads the main database's table (its name unquoted); throws TKeyRefusal
// with the refusal of the database's next number when no key is free, and
// std::runtime_error when the table cannot be read. Called inside the write
// that inserts, so that no other connection takes the key in between.
TNewRowKey new_row_key(TSQLDB* db, const std::string& table);
