// What the two statement wrappers share.
#include "storage/QueryBase.h"

#include <climits>
#include <stdexcept>

#include "storage/SQLDB.h"

const char* const kReadEndedText = "The read was ended by a rollback";

TQueryBase::~TQueryBase() { sqlite3_finalize(FStatement); }

void TQueryBase::fail(const std::string& reason, const char* exceptionText) {
  FLastError = reason;
  throw std::runtime_error(exceptionText);
}

const char* TQueryBase::db_message() const {
  return FSQLDB == nullptr ? "" : FSQLDB->GetLastDBErrorMessage();
}

bool TQueryBase::FetchNext() {
  FLastError.clear();
  if (FReadEnded) {
    FLastError = kReadEndedText;
    return false;
  }
  if (FEof || FHalted) {
    FLastError = "End of result set; no more records";
    return false;
  }
  // A statement that was never opened has no result set to move through.
  if (!FIsActive) {
    FLastError = "SQLITE_MISUSE: Statement is bad";
    return false;
  }
  FStepFailed = !TSQLDB::StepRow(FStatement, FEof, FHasRow, FLastError);
  if (!FStepFailed) return true;
  // The failed step has ended the read already: it is marked so, at its end.
  int code = FStatement == nullptr ? SQLITE_MISUSE : sqlite3_extended_errcode(sqlite3_db_handle(FStatement));
  if (code == SQLITE_ABORT_ROLLBACK) {
    FReadEnded = FEof = true;
    FLastError = kReadEndedText;
  }
  // A busy or locked database stops the step before it reads; any other
  // failure halts the statement, which a further step would start over.
  FHalted = (code & 0xff) != SQLITE_BUSY && (code & 0xff) != SQLITE_LOCKED;
  return false;
}

void TQueryBase::EndHaltedRead() {
  if (FHalted) FEof = true;
}

bool TQueryBase::IsReading() {
  if (FStatement == nullptr || !sqlite3_stmt_busy(FStatement)) return false;
  if (FReadsDatabase < 0) FReadsDatabase = TSQLDB::ReadsDatabase(FStatement) ? 1 : 0;
  return FReadsDatabase == 1;
}

const char* TQueryBase::field_text(int i) const {
  if (!FIsActive || !FHasRow || i < 0 || i >= FColCount) return "";
  const unsigned char* text = sqlite3_column_text(FStatement, i);
  return text == nullptr ? "" : reinterpret_cast<const char*>(text);
}

int TQueryBase::GetIntFieldByNumber(int i) const {
  if (!FIsActive || !FHasRow || i < 0 || i >= FColCount) return 0;
  return sqlite3_column_int(FStatement, i);
}

std::string TRowKey::Refusal(const std::string& table) const {
  return "PKey \"" + Text + "\" of table \"" + table + "\" is not a whole number from " + std::to_string(INT_MIN) +
         " to " + std::to_string(INT_MAX);
}

TRowKey read_row_key(sqlite3_stmt* statement, int i) {
  TRowKey key;
  key.Found = true;
  int type = sqlite3_column_type(statement, i);
  if (type == SQLITE_INTEGER) {
    sqlite3_int64 value = sqlite3_column_int64(statement, i);
    key.Usable = value >= INT_MIN && value <= INT_MAX;
    if (key.Usable) key.Value = static_cast<int>(value);
  }
  if (key.Usable) return key;
  // Only a key that is refused is spelt out, for its message.
  const unsigned char* text = sqlite3_column_text(statement, i);
  key.Null = type == SQLITE_NULL;
  key.Text = key.Null ? "NULL" : text == nullptr ? "" : reinterpret_cast<const char*>(text);
  return key;
}

TRowKey TQueryBase::GetKeyFieldByNumber(int i) const {
  if (!FIsActive || !FHasRow || i < 0 || i >= FColCount) return TRowKey();
  return read_row_key(FStatement, i);
}

int TQueryBase::GetUsableKeyByNumber(int i, const std::string& table) const {
  TRowKey key = GetKeyFieldByNumber(i);
  if (!key.Usable) throw TKeyRefusal(key.Refusal(table));
  return key.Value;
}

TSQLValue TQueryBase::GetValueByNumber(int i) const {
  if (!FIsActive || !FHasRow || i < 0 || i >= FColCount) throw std::runtime_error("No current row to read a value from");
  TSQLValue value(sqlite3_value_dup(sqlite3_column_value(FStatement, i)));
  if (value == nullptr) throw std::runtime_error("out of memory");
  return value;
}

bool TQueryBase::finalize_statement() {
  FIsActive = false;
  FHasRow = false;
  FStepFailed = false;
  FReadEnded = FHalted = false;
  FReadsDatabase = -1;
  int rc = sqlite3_finalize(FStatement);
  FStatement = nullptr;
  return rc == SQLITE_OK;
}

void TQueryBase::prepare_statement(const char* exceptionText) {
  finalize_statement();
  FColCount = 0;
  FEof = false;
  sqlite3* db = FSQLDB == nullptr ? nullptr : FSQLDB->Database();
  if (sqlite3_prepare_v2(db, FSQLText.c_str(), -1, &FStatement, nullptr) != SQLITE_OK) {
    finalize_statement();
    fail(db_message(), exceptionText);
  }
}

// After a failed step SQLite's reset answers that step's error again, yet the
// statement is reset: only a reset that fails of itself is a failure.
void TQueryBase::reset_statement(const char* exceptionText) {
  FHasRow = false;
  bool stepFailed = FStepFailed;
  FStepFailed = false;
  if (FStatement != nullptr && sqlite3_reset(FStatement) != SQLITE_OK && !stepFailed)
    fail("Failure to reset statement object", exceptionText);
}

void TQueryBase::step_first_row(const char* exceptionText) {
  FEof = false;
  FStepFailed = !TSQLDB::StepRow(FStatement, FEof, FHasRow, FLastError);
  if (FStepFailed) throw std::runtime_error(exceptionText);
  FColCount = sqlite3_column_count(FStatement);
  FLastError.clear();
  FIsActive = true;
}

void TQueryBase::open_parameterized(const char* exceptionText) {
  if (!FIsParameterized) fail("Not a parameterized query: use open_query instead", exceptionText);
  if (FStatement == nullptr || sqlite3_bind_parameter_count(FStatement) == 0)
    fail("Parameterized query has no bound parameters", exceptionText);
  // A second open without a reset starts the result set again, bindings kept.
  sqlite3_reset(FStatement);
  FReadEnded = FHalted = false;
  step_first_row(exceptionText);
}

void TQueryBase::reset_parameterized(const char* exceptionText, const char* resetExceptionText) {
  if (!FIsParameterized) fail("Not a parameterized query: inappropriate call", exceptionText);
  reset_statement(resetExceptionText);
}

bool TQueryBase::release_parameterized(const char* exceptionText) {
  if (!FIsParameterized) fail("Not a parameterized query: use SetIsActive instead", exceptionText);
  return finalize_statement();
}
