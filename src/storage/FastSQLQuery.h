// The lean statement wrapper of the run-time paths: SELECTs prepared once and
// then reset, rebound and stepped per record; columns by number only.
#pragma once

#include <sqlite3.h>

#include <string>

class TSQLDB;

class TFastSQLQuery {
 public:
  explicit TFastSQLQuery(TSQLDB* db) : FSQLDB(db) {}
  ~TFastSQLQuery();
  TFastSQLQuery(const TFastSQLQuery&) = delete;
  TFastSQLQuery& operator=(const TFastSQLQuery&) = delete;

  void SetSQLText(const std::string& text, bool allowParameters);
  const char* GetSQLText() const { return FSQLText.c_str(); }
  const char* LastErrorMessage() const { return FLastError.c_str(); }

  bool SetIsActive(bool active);  // opening throws std::runtime_error on failure
  bool GetIsActive() const { return FIsActive; }
  bool GetIsParameterized() const { return FIsParameterized; }
  bool Eof() const { return FEof; }
  int ColCount() const { return FColCount; }
  bool FetchNext();

  // The text stays valid until the statement is stepped, reset or closed.
  const char* GetFieldByNumber(int i) const;
  int GetIntFieldByNumber(int i) const;

  // Each throws std::runtime_error on failure.
  bool PrepareParameterizedQuery();
  bool BindIntParameter(int n, int value);
  bool BindTextParameter(int n, const char* text);
  bool OpenParameterizedQuery();
  bool ResetParameterizedQuery();
  bool ReleaseParameterizedQuery();

 private:
  void fail(const std::string& reason, const char* exceptionText);
  void reset_statement();
  void prepare_statement(const char* exceptionText);
  void start_result_set(const char* exceptionText);
  bool close_statement();
  bool finalize_statement();
  const char* db_message() const;

  std::string FSQLText;
  std::string FLastError;
  sqlite3_stmt* FStatement = nullptr;
  int FColCount = 0;
  bool FEof = false;
  bool FIsActive = false;
  bool FIsParameterized = false;
  bool FHasRow = false;  // a row is current, so its columns may be read
  TSQLDB* FSQLDB;
};
