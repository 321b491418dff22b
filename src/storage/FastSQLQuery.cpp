// The lean statement wrapper of the run-time paths.
#include "storage/FastSQLQuery.h"

#include <cstdio>

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

void TFastSQLQuery::SetSQLText(const std::string& text, bool allowParameters) {
  FSQLText = text;
  FIsParameterized = allowParameters && text.find('?') != std::string::npos;
}

// Opens without any check of the text: whatever it is, it runs.
bool TFastSQLQuery::SetIsActive(bool active) {
  if (FIsActive) {
    bool closed = finalize_statement();
    if (!active) return closed;
  }
  if (!active) return true;
  reset_statement(kResetStatement);
  prepare_statement(kOpenQuery);
  step_first_row(kOpenQuery);
  return true;
}

bool TFastSQLQuery::PrepareParameterizedQuery() {
  reset_statement(kResetStatement);
  prepare_statement(kPrepare);
  return true;
}

bool TFastSQLQuery::BindIntParameter(int n, int value) {
  int rc = FStatement == nullptr ? SQLITE_MISUSE : sqlite3_bind_int(FStatement, n, value);
  if (rc == SQLITE_MISUSE) fail(kMisuse, kBindInt);
  if (rc != SQLITE_OK) fail(db_message(), kBindInt);
  return true;
}

bool TFastSQLQuery::BindTextParameter(int n, const char* text, bool copyText) {
  int rc = SQLITE_MISUSE;
  if (FStatement != nullptr)
    rc = text == nullptr ? sqlite3_bind_null(FStatement, n)
                         : sqlite3_bind_text(FStatement, n, text, -1, copyText ? SQLITE_TRANSIENT : SQLITE_STATIC);
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
  open_parameterized(kOpenParameterized);
  return true;
}

bool TFastSQLQuery::ResetParameterizedQuery() {
  reset_parameterized(kReset, kResetStatement);
  return true;
}

bool TFastSQLQuery::ReleaseParameterizedQuery() { return release_parameterized(kRelease); }
