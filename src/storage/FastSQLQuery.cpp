// The lean statement wrapper of the run-time paths.
#include "storage/FastSQLQuery.h"

#include <cstdio>
#include <stdexcept>

#include "storage/SQLDB.h"

namespace {
const char* const kOpenQuery = "TFastSQLQuery::open_query";
const char* const kResetStatement = "TFastSQLQuery::reset_statement";
const char* const kPrepare = "TFastSQLQuery::PrepareParameterizedQuery";
const char* const kBindInt = "TFastSQLQuery::BindIntParameter";
const char* const kBindText = "TFastSQLQuery::BindTextParameter";
const char* const kOpenParameterized = "TFastSQLQuery::OpenParameterizedQuery";
const char* const kReset = "TFastSQLQuery::ResetParameterizedQuery";
const char* const kRelease = "TFastSQLQuery::ReleaseParameterizedQuery";
const char* const kMisuse = "unknown error (SQLITE_MISUSE)";
}  // namespace

TFastSQLQuery::~TFastSQLQuery() { sqlite3_finalize(FStatement); }

void TFastSQLQuery::SetSQLText(const std::string& text, bool allowParameters) {
  FSQLText = text;
  FIsParameterized = allowParameters && text.find('?') != std::string::npos;
}

const char* TFastSQLQuery::db_message() const {
  return FSQLDB == nullptr ? "" : FSQLDB->GetLastDBErrorMessage();
}

void TFastSQLQuery::fail(const std::string& reason, const char* exceptionText) {
  FLastError = reason;
  throw std::runtime_error(exceptionText);
}

void TFastSQLQuery::reset_statement() {
  if (FStatement != nullptr && sqlite3_reset(FStatement) != SQLITE_OK)
    fail("Failure to reset statement object", kResetStatement);
  FHasRow = false;
}

void TFastSQLQuery::prepare_statement(const char* exceptionText) {
  finalize_statement();
  FColCount = 0;
  FEof = false;
  sqlite3* db = FSQLDB == nullptr ? nullptr : FSQLDB->Database();
  if (sqlite3_prepare_v2(db, FSQLText.c_str(), -1, &FStatement, nullptr) != SQLITE_OK) {
    finalize_statement();
    fail(db_message(), exceptionText);
  }
}

// A busy or failing first step is a failure of the open, never an empty result.
void TFastSQLQuery::start_result_set(const char* exceptionText) {
  FEof = false;
  if (!TSQLDB::StepRow(FStatement, FEof, FHasRow, FLastError)) throw std::runtime_error(exceptionText);
  FColCount = sqlite3_column_count(FStatement);
  FLastError.clear();
  FIsActive = true;
}

bool TFastSQLQuery::SetIsActive(bool active) {
  if (!active) return close_statement();
  close_statement();
  reset_statement();
  prepare_statement(kOpenQuery);
  start_result_set(kOpenQuery);
  return true;
}

bool TFastSQLQuery::close_statement() {
  return !FIsActive || finalize_statement();
}

bool TFastSQLQuery::finalize_statement() {
  FIsActive = false;
  FHasRow = false;
  int rc = sqlite3_finalize(FStatement);
  FStatement = nullptr;
  return rc == SQLITE_OK;
}

bool TFastSQLQuery::FetchNext() {
  FLastError.clear();
  if (FEof) {
    FLastError = "End of result set; no more records";
    return false;
  }
  // A statement that was never opened has no result set to move through.
  if (!FIsActive) {
    FLastError = "SQLITE_MISUSE: Statement is bad";
    return false;
  }
  return TSQLDB::StepRow(FStatement, FEof, FHasRow, FLastError);
}

const char* TFastSQLQuery::GetFieldByNumber(int i) const {
  if (!FIsActive || !FHasRow || i < 0 || i >= FColCount) return "";
  const unsigned char* text = sqlite3_column_text(FStatement, i);
  return text == nullptr ? "" : reinterpret_cast<const char*>(text);
}

int TFastSQLQuery::GetIntFieldByNumber(int i) const {
  if (!FIsActive || !FHasRow || i < 0 || i >= FColCount) return 0;
  return sqlite3_column_int(FStatement, i);
}

bool TFastSQLQuery::PrepareParameterizedQuery() {
  reset_statement();
  prepare_statement(kPrepare);
  return true;
}

bool TFastSQLQuery::BindIntParameter(int n, int value) {
  int rc = FStatement == nullptr ? SQLITE_MISUSE : sqlite3_bind_int(FStatement, n, value);
  if (rc == SQLITE_MISUSE) fail(kMisuse, kBindInt);
  if (rc != SQLITE_OK) fail(db_message(), kBindInt);
  return true;
}

bool TFastSQLQuery::BindTextParameter(int n, const char* text) {
  int rc = SQLITE_MISUSE;
  if (FStatement != nullptr)
    rc = text == nullptr ? sqlite3_bind_null(FStatement, n)
                         : sqlite3_bind_text(FStatement, n, text, -1, SQLITE_TRANSIENT);
  if (rc == SQLITE_RANGE) {
    char message[100];
    snprintf(message, sizeof message, "parameter index [%d] out of range (SQLITE_RANGE error)", n);
    fail(message, kBindText);
  }
  if (rc == SQLITE_MISUSE) fail(kMisuse, kBindText);
  if (rc != SQLITE_OK) fail(db_message(), kBindText);
  return true;
}

bool TFastSQLQuery::OpenParameterizedQuery() {
  if (!FIsParameterized) fail("Not a parameterized query: use open_query instead", kOpenParameterized);
  if (FStatement == nullptr || sqlite3_bind_parameter_count(FStatement) == 0)
    fail("Parameterized query has no bound parameters", kOpenParameterized);
  // A second open without a reset starts the result set again, bindings kept.
  sqlite3_reset(FStatement);
  start_result_set(kOpenParameterized);
  return true;
}

bool TFastSQLQuery::ResetParameterizedQuery() {
  if (!FIsParameterized) fail("Not a parameterized query: inappropriate call", kReset);
  reset_statement();
  return true;
}

bool TFastSQLQuery::ReleaseParameterizedQuery() {
  if (!FIsParameterized) fail("Not a parameterized query: use SetIsActive instead", kRelease);
  return finalize_statement();
}
