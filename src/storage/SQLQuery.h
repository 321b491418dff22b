// The checked statement wrapper of the facade, the compiler, the schema writer
// and the authoring side: one SQL text, at most one prepared statement, column
// access by number and by name, row counting and parameterized SELECTs.
#pragma once

#include <sqlite3.h>

#include <map>
#include <string>

class TSQLDB;

class TSQLQuery {
 public:
  explicit TSQLQuery(TSQLDB* db);
  ~TSQLQuery();
  TSQLQuery(const TSQLQuery&) = delete;
  TSQLQuery& operator=(const TSQLQuery&) = delete;

  void SetSQLText(const std::string& text, bool allowParameters);
  const char* GetSQLText() const { return FSQLText.c_str(); }
  const char* LastErrorMessage() const { return FLastError.c_str(); }

  // Plain operations: they answer false with the reason in LastErrorMessage;
  // only a failing prepare or first step inside SetIsActive(true) throws.
  bool SetIsActive(bool active);
  bool GetIsActive() const { return FIsActive; }
  bool GetIsParameterized() const { return FIsParameterized; }
  bool Eof() const { return FEof; }
  int ColCount() const { return FColCount; }
  int RowCount();
  bool FetchNext();

  std::string GetFieldByNumber(int i) const;
  int GetIntFieldByNumber(int i) const;
  std::string GetFieldByName(const std::string& name) const;
  int GetIntFieldByName(const std::string& name) const;
  // 0-based number of the result column of that name (case-blind), or -1.
  int GetColumnNumber(const std::string& name) const;
  std::string GetColumnName(int i) const;
  std::string GetColumnDataType(int i) const;
  bool GetColumnConstraints(const char* table, const char* column, int* isNullable,
                            int* isPrimaryKey, int* isAutoInc);
  bool ExecSQL();

  // Parameterized operations: they throw std::runtime_error on failure.
  bool PrepareParameterizedQuery();
  bool BindIntParameter(int n, int value);
  bool BindTextParameter(int n, const char* text);
  bool OpenParameterizedQuery();
  bool ResetParameterizedQuery();
  bool ReleaseParameterizedQuery();

 private:
  bool open_query();
  bool close_query();
  int get_row_count();
  void fail(const std::string& reason, const char* exceptionText);
  void prepare_statement(const char* exceptionText);
  bool finalize_statement();
  void start_result_set(const char* exceptionText);
  bool is_select_text() const;
  const char* db_message() const;

  std::string FSQLText;
  std::string FLastError;
  sqlite3_stmt* FStatement = nullptr;
  int FColCount = 0;
  int FRowCount = -1;
  bool FEof = false;
  bool FIsActive = false;
  bool FIsParameterized = false;
  bool FHasRow = false;  // a row is current, so its columns may be read
  std::map<std::string, int> FColumnsByName;
  std::map<int, std::string> FColumnNames;
  TSQLDB* FSQLDB;
};
