// Helpers of the authoring tests: whole rows written through the row-buffer
// exports, the built-in super user, and the engine errors of a list that a
// test holds itself.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

#include "ApiTestSupport.h"
#include "storage/EngineErrorsPump.h"

const char* const kSuperUser = "warden";
const char* const kSuperUserPassword = "Gd9wr2";

using Values = std::initializer_list<std::pair<const char*, const char*>>;

// Sets each (column, value) by name; the first result that is not 0, else 0.
inline int set_values(int smf, const char* table, Values values) {
  for (const auto& value : values) {
    int result = Qb_SetFieldByName(smf, table, value.first, value.second);
    if (result != 0) return result;
  }
  return 0;
}

// Inserts a row through the exports; its PKey, or -99 when a step fails.
inline int insert_row(int smf, const char* table, Values values) {
  int pkey = -99;
  if (Qb_Insert(smf, table) != 0 || set_values(smf, table, values) != 0) return -99;
  return Qb_Post(smf, table, &pkey) == 0 ? pkey : -99;
}

// Edits row pkey through the exports; the result of the first step that
// fails (a refused value leaves the row in edit mode), else of the post.
inline int edit_row(int smf, const char* table, int pkey, Values values) {
  int result = Qb_Edit(smf, table, pkey);
  if (result == 0) result = set_values(smf, table, values);
  int posted = -99;
  return result != 0 ? result : Qb_Post(smf, table, &posted);
}

// One engine error of another class than TSMF, as the host reads it.
inline std::string class_error(const std::string& className, const std::string& method, const std::string& message) {
  return className + "::" + method + '\xBB' + message;
}

inline std::string writer_error(const std::string& method, const std::string& message) {
  return class_error("TSMFWriter", method, message);
}

// Every engine error of a list the test holds, one a line.
inline std::string pump_errors(const TEngineErrorsPump& pump) {
  int count = 0;
  pump.GetErrorsCount(&count);
  std::string text;
  for (int i = 0; i < count; ++i) {
    char buffer[200] = "";
    pump.GetErrorByIndex(i, buffer, sizeof buffer - 1);
    text += std::string(text.empty() ? "" : "\n") + buffer;
  }
  return text;
}
