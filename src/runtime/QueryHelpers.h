// Helpers for the run-time's statements: a step that fails is an error, never
// the end of the rows; a failed read leaves the statement ready to be bound
// again; a kept statement that cannot be prepared is recorded.
#pragma once

#include <stdexcept>
#include <string>

#include "storage/EngineErrorsPump.h"
#include "storage/FastSQLQuery.h"

// Opens a plain SELECT; true when a first row is there to be read.
inline bool open_select(TFastSQLQuery& query, const std::string& sql) {
  query.SetSQLText(sql, false);
  query.SetIsActive(true);
  return !query.Eof();
}

// Moves to the next row; a busy or failing step throws std::runtime_error
// with the statement's reason, so it never reads as the end of the rows.
inline void next_row(TFastSQLQuery& query) {
  if (!query.FetchNext() && !query.Eof()) throw std::runtime_error(query.LastErrorMessage());
}

// Calls visit() for the current row and each row after it.
template <typename Visit>
void for_each_row(TFastSQLQuery& query, Visit visit) {
  for (; !query.Eof(); next_row(query)) visit();
}

// Readies a statement for its next use on a way out after a failure; a reset
// that fails too leaves it to be prepared again.
inline void reset_after_failure(TFastSQLQuery& query) {
  try {
    query.ResetParameterizedQuery();
  } catch (const std::runtime_error&) {
  }
}

// Prepares a statement kept for reuse; a failure records the given text and
// the statement's reason, then throws an empty std::runtime_error.
inline void prepare_recorded(TFastSQLQuery& query, const char* sql, TEngineErrorsPump* pump,
                             const char* className, const char* method, const char* failure) {
  query.SetSQLText(sql, true);
  try {
    query.PrepareParameterizedQuery();
  } catch (const std::runtime_error&) {
    pump->AddError(className, method, failure);
    if (*query.LastErrorMessage() != '\0') pump->AddError(className, method, query.LastErrorMessage());
    throw std::runtime_error("");
  }
}
