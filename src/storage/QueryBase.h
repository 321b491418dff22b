// What the two statement wrappers share: one SQL text and at most one prepared
// statement on a borrowed connection, its result-set state, fetching with the
// busy retry, column reads by number and the parameterized steps.
#pragma once

#include <sqlite3.h>

#include <string>

class TSQLDB;

class TQueryBase {
 public:
  const char* GetSQLText() const { return FSQLText.c_str(); }
  const char* LastErrorMessage() const { return FLastError.c_str(); }
  bool GetIsActive() const { return FIsActive; }
  bool GetIsParameterized() const { return FIsParameterized; }
  bool Eof() const { return FEof; }
  int ColCount() const { return FColCount; }
  bool FetchNext();
  int GetIntFieldByNumber(int i) const;

 protected:
  explicit TQueryBase(TSQLDB* db) : FSQLDB(db) {}
  ~TQueryBase();
  TQueryBase(const TQueryBase&) = delete;
  TQueryBase& operator=(const TQueryBase&) = delete;

  // Records the reason and throws std::runtime_error(exceptionText).
  [[noreturn]] void fail(const std::string& reason, const char* exceptionText);
  const char* db_message() const;
  // Text of column i of the current row; "" without a row, out of range or NULL.
  const char* field_text(int i) const;
  bool finalize_statement();
  void prepare_statement(const char* exceptionText);
  void reset_statement(const char* exceptionText);
  // Steps the first row: a busy or failing first step throws, never reads as
  // a row or as an empty result.
  void step_first_row(const char* exceptionText);
  void open_parameterized(const char* exceptionText);
  void reset_parameterized(const char* exceptionText, const char* resetExceptionText);
  bool release_parameterized(const char* exceptionText);

  std::string FSQLText;
  std::string FLastError;
  sqlite3_stmt* FStatement = nullptr;
  int FColCount = 0;
  bool FEof = false;
  bool FIsActive = false;
  bool FIsParameterized = false;
  bool FHasRow = false;     // a row is current, so its columns may be read
  bool FStepFailed = false;  // the last step failed
  TSQLDB* FSQLDB;
};
