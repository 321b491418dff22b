// TSMF: named cursors over the host's own read-only SQL, plain and
// parameterized, kept in one list under their lower-cased names.
#include <functional>
#include <stdexcept>

#include "api/SMF.h"
#include "quelt.h"
#include "storage/EngineErrorsPump.h"
#include "storage/SQLQuery.h"
#include "storage/Utility.h"

namespace {

int data_size(const std::string& value) { return value.empty() ? 0 : static_cast<int>(value.size()) + 1; }

}  // namespace

bool TSMF::sql_is_valid(std::string& sql, std::string& message) {
  uppercase(sql);
  if (sql.find("SELECT ") == std::string::npos) message = "SQL does not contain a SELECT statement";
  else if (sql.find("UPDATE ") != std::string::npos) message = "SQL contains an UPDATE statement; not allowed";
  else if (sql.find("INSERT ") != std::string::npos) message = "SQL contains an INSERT statement; not allowed";
  else if (sql.find("DELETE ") != std::string::npos) message = "SQL contains a DELETE statement; not allowed";
  else return true;
  return false;
}

bool TSMF::cursor_name_exists(std::string& name, std::string& message) {
  lowercase(name);
  if (FCursors.count(name) == 0) return false;
  message = "A cursor named \"" + name + "\" already exists.";
  return true;
}

TSQLQuery* TSMF::get_cursor_from_list(std::string& name) {
  lowercase(name);
  auto found = FCursors.find(name);
  return found == FCursors.end() ? nullptr : found->second;
}

TSQLQuery* TSMF::find_cursor(const char* cursorName, const char* method) {
  std::string name = cursorName;
  TSQLQuery* cursor = get_cursor_from_list(name);
  if (cursor == nullptr) add_error(method, std::string("Cannot find cursor named \"") + cursorName + "\"");
  return cursor;
}

// A cursor whose read a rollback ended has no row to read; null, after
// recording why, for it as for a cursor not found.
TSQLQuery* TSMF::find_read_cursor(const char* cursorName, const char* method) {
  TSQLQuery* cursor = find_cursor(cursorName, method);
  if (cursor == nullptr || !cursor->ReadEnded()) return cursor;
  add_error(method, std::string("The read of cursor \"") + cursorName +
                        "\" was ended by a rollback; the cursor must be opened again");
  return nullptr;
}

std::string TSMF::ReadingCursorRefusal(const std::string& what) const {
  for (const auto& listed : FCursors)
    if (listed.second->IsReading())
      return what + " while cursor \"" + listed.first +
             "\" is in the middle of its read: read the cursor to its end, or close it, first";
  return std::string();
}

int TSMF::OpenCursor(const char* cursorName, const char* sql) {
  if (!parameters_given("OpenCursor", {{cursorName, "cursorName"}, {sql, "sql"}})) return -1;
  std::string text = sql, name = cursorName, message;
  if (!sql_is_valid(text, message)) {
    add_error("OpenCursor", message);
    add_error("OpenCursor", sql);
    return -1;
  }
  if (cursor_name_exists(name, message)) {
    add_error("OpenCursor", message);
    add_error("OpenCursor", cursorName);
    add_error("OpenCursor", sql);
    return -1;
  }
  TSQLQuery* cursor = new TSQLQuery(FSQLDB);
  cursor->SetSQLText(text, true);
  try {
    if (!cursor->SetIsActive(true)) {
      // A cursor that can never deliver a row is refused, not listed.
      add_error("OpenCursor", cursor->LastErrorMessage());
      add_error("OpenCursor", sql);
      delete cursor;
      return -1;
    }
  } catch (const std::runtime_error& e) {
    add_error("OpenCursor", e.what());
    add_error("OpenCursor", std::string("SQL error: ") + cursor->LastErrorMessage());
    add_error("OpenCursor", sql);
    delete cursor;
    return -1;
  }
  FCursors[name] = cursor;
  return 0;
}

int TSMF::CloseCursor(const char* cursorName) {
  if (!parameters_given("CloseCursor", {{cursorName, "cursorName"}})) return -1;
  TSQLQuery* cursor = find_cursor(cursorName, "CloseCursor");
  if (cursor == nullptr) return -1;
  cursor->SetIsActive(false);
  delete cursor;
  FCursors.erase(lowercase_string(cursorName));
  return 0;
}

int TSMF::CursorRowCount(const char* cursorName, int* count) {
  if (!parameters_given("CursorRowCount", {{cursorName, "cursorName"}, {count, "count"}})) return -1;
  TSQLQuery* cursor = find_cursor(cursorName, "CursorRowCount");
  if (cursor == nullptr) return -1;
  *count = cursor->RowCount();
  return 0;
}

int TSMF::CursorColCount(const char* cursorName, int* count) {
  if (!parameters_given("CursorColCount", {{cursorName, "cursorName"}, {count, "count"}})) return -1;
  TSQLQuery* cursor = find_cursor(cursorName, "CursorColCount");
  if (cursor == nullptr) return -1;
  *count = cursor->ColCount();
  return 0;
}

int TSMF::CursorNext(const char* cursorName) {
  if (!parameters_given("CursorNext", {{cursorName, "cursorName"}})) return -1;
  TSQLQuery* cursor = find_cursor(cursorName, "CursorNext");
  if (cursor == nullptr) return -1;
  if (cursor->FetchNext()) return 0;
  if (find_read_cursor(cursorName, "CursorNext") != nullptr) add_error("CursorNext", cursor->LastErrorMessage());
  cursor->EndHaltedRead();
  return -2;
}

int TSMF::CursorEof(const char* cursorName, int* eof) {
  if (!parameters_given("CursorEof", {{cursorName, "cursorName"}, {eof, "eof"}})) return -1;
  TSQLQuery* cursor = find_cursor(cursorName, "CursorEof");
  if (cursor == nullptr) return -1;
  // An ended read is at its end, so that a walk that tests only the flag stops.
  *eof = cursor->Eof() ? 1 : 0;
  return find_read_cursor(cursorName, "CursorEof") != nullptr ? 0 : -1;
}

// The row is copied before the first callback, so that a callback may step,
// reset or close the cursor without changing what this call delivers.
int TSMF::ReadCursorData(const char* cursorName, void* owner, void* callback) {
  if (!parameters_given("ReadCursorData", {{cursorName, "cursorName"}, {callback, "callback"}})) return -1;
  TSQLQuery* cursor = find_read_cursor(cursorName, "ReadCursorData");
  if (cursor == nullptr) return -1;
  std::string name = lowercase_string(cursorName);
  int firstColumnValue = cursor->GetIntFieldByNumber(0);
  std::vector<TColumnValue> columns;
  for (int i = 0; i < cursor->ColCount(); ++i)
    columns.push_back({cursor->GetColumnName(i), cursor->GetColumnDataType(i), cursor->GetFieldByNumber(i)});
  deliver_row(owner, callback, name.c_str(), firstColumnValue, columns);
  return 0;
}

// Reads one column of the current row, by 1-based number when columnName is
// null, else by name; 0, or -1 after recording why the column has no value.
int TSMF::cursor_value(const char* cursorName, const char* method, int columnNumber,
                       const char* columnName, std::string& value) {
  TSQLQuery* cursor = find_read_cursor(cursorName, method);
  if (cursor == nullptr) return -1;
  if (columnName == nullptr) {
    if (columnNumber < 1 || columnNumber > cursor->ColCount()) {
      add_error(method, "column_number is out of range");
      return -1;
    }
    value = cursor->GetFieldByNumber(columnNumber - 1);
    return 0;
  }
  if (cursor->GetIsActive() && cursor->GetColumnNumber(columnName) < 0) {
    add_error(method, std::string("Cannot find column named \"") + columnName + "\" in cursor named \"" +
                          cursorName + "\"");
    return -1;
  }
  value = cursor->GetFieldByName(columnName);
  return 0;
}

int TSMF::GetCursorDataSizeByNumber(const char* cursorName, int columnNumber, int* size) {
  if (!parameters_given("GetCursorDataSizeByNumber", {{cursorName, "cursorName"}, {size, "size"}})) return -1;
  std::string value;
  if (cursor_value(cursorName, "GetCursorDataSizeByNumber", columnNumber, nullptr, value) != 0) return -1;
  *size = data_size(value);
  return 0;
}

int TSMF::GetCursorDataByNumber(const char* cursorName, int columnNumber, char* buffer, int length) {
  if (!parameters_given("GetCursorDataByNumber", {{cursorName, "cursorName"}, {length > 0 ? buffer : "", "buffer"}}))
    return -1;
  std::string value;
  if (cursor_value(cursorName, "GetCursorDataByNumber", columnNumber, nullptr, value) != 0) return -1;
  if (length < 1) return 0;
  buffer[0] = '\0';
  if (!value.empty()) copy_to_buffer(value, buffer, length);
  return 0;
}

int TSMF::GetCursorDataSizeByName(const char* cursorName, const char* columnName, int* size) {
  if (!parameters_given("GetCursorDataSizeByName",
                        {{cursorName, "cursorName"}, {columnName, "columnName"}, {size, "size"}}))
    return -1;
  std::string value;
  if (cursor_value(cursorName, "GetCursorDataSizeByName", 0, columnName, value) != 0) return -1;
  *size = data_size(value);
  return 0;
}

int TSMF::GetCursorDataByName(const char* cursorName, const char* columnName, char* buffer, int length) {
  if (length < 1) return 0;
  if (!parameters_given("GetCursorDataByName",
                        {{cursorName, "cursorName"}, {columnName, "columnName"}, {buffer, "buffer"}}))
    return -1;
  buffer[0] = '\0';
  std::string value;
  if (cursor_value(cursorName, "GetCursorDataByName", 0, columnName, value) != 0) return -1;
  if (!value.empty()) copy_to_buffer(value, buffer, length);
  return 0;
}

int TSMF::GetCursorIntByNumber(const char* cursorName, int columnNumber, int* value) {
  if (!parameters_given("GetCursorIntByNumber", {{cursorName, "cursorName"}, {value, "value"}})) return -1;
  TSQLQuery* cursor = find_read_cursor(cursorName, "GetCursorIntByNumber");
  if (cursor == nullptr) return -1;
  // A number out of range reads 0; tested first so that it cannot overflow.
  *value = columnNumber < 1 ? 0 : cursor->GetIntFieldByNumber(columnNumber - 1);
  return 0;
}

int TSMF::GetCursorIntByName(const char* cursorName, const char* columnName, int* value) {
  if (!parameters_given("GetCursorIntByName",
                        {{cursorName, "cursorName"}, {columnName, "columnName"}, {value, "value"}}))
    return -1;
  TSQLQuery* cursor = find_read_cursor(cursorName, "GetCursorIntByName");
  if (cursor == nullptr) return -1;
  *value = 0;
  if (!cursor->GetIsActive()) return 0;
  int number = cursor->GetColumnNumber(columnName);
  if (number < 0) {
    add_error("GetCursorIntByName", std::string("Cannot find column named \"") + columnName +
                                        "\" in cursor named \"" + cursorName + "\"");
    return -1;
  }
  *value = cursor->GetIntFieldByNumber(number);
  return 0;
}

int TSMF::PrepareParameterizedCursor(const char* cursorName, const char* sql) {
  if (!parameters_given("PrepareParameterizedCursor", {{cursorName, "cursorName"}, {sql, "sql"}})) return -1;
  std::string text = sql, name = cursorName, message;
  if (!sql_is_valid(text, message) || cursor_name_exists(name, message)) {
    add_error("PrepareParameterizedCursor", message);
    return -1;
  }
  TSQLQuery* cursor = new TSQLQuery(FSQLDB);
  cursor->SetSQLText(text, true);
  try {
    cursor->PrepareParameterizedQuery();
  } catch (const std::runtime_error& e) {
    add_error("PrepareParameterizedCursor", e.what());
    add_error("PrepareParameterizedCursor", std::string("SQL error: ") + cursor->LastErrorMessage());
    delete cursor;
    return -1;
  }
  FCursors[name] = cursor;
  return 0;
}

// Runs one parameterized step on a listed cursor; a step that throws is
// recorded with the statement's reason.
int TSMF::run_cursor_step(const char* cursorName, const char* method,
                          const std::function<void(TSQLQuery*)>& step) {
  TSQLQuery* cursor = find_cursor(cursorName, method);
  if (cursor == nullptr) return -1;
  try {
    step(cursor);
    return 0;
  } catch (const std::runtime_error&) {
    add_error(method, cursor->LastErrorMessage());
    return -1;
  }
}

int TSMF::BindIntParameter(const char* cursorName, int parameterNumber, int value) {
  if (!parameters_given("BindIntParameter", {{cursorName, "cursorName"}})) return -1;
  return run_cursor_step(cursorName, "BindIntParameter",
                         [&](TSQLQuery* cursor) { cursor->BindIntParameter(parameterNumber, value); });
}

int TSMF::BindTextParameter(const char* cursorName, int parameterNumber, const char* text) {
  if (!parameters_given("BindTextParameter", {{cursorName, "cursorName"}, {text, "text"}})) return -1;
  return run_cursor_step(cursorName, "BindTextParameter",
                         [&](TSQLQuery* cursor) { cursor->BindTextParameter(parameterNumber, text); });
}

int TSMF::OpenParameterizedCursor(const char* cursorName) {
  if (!parameters_given("OpenParameterizedCursor", {{cursorName, "cursorName"}})) return -1;
  return run_cursor_step(cursorName, "OpenParameterizedCursor",
                         [](TSQLQuery* cursor) { cursor->OpenParameterizedQuery(); });
}

int TSMF::ResetParameterizedCursor(const char* cursorName) {
  if (!parameters_given("ResetParameterizedCursor", {{cursorName, "cursorName"}})) return -1;
  return run_cursor_step(cursorName, "ResetParameterizedCursor",
                         [](TSQLQuery* cursor) { cursor->ResetParameterizedQuery(); });
}

int TSMF::ReleaseParameterizedCursor(const char* cursorName) {
  if (!parameters_given("ReleaseParameterizedCursor", {{cursorName, "cursorName"}})) return -1;
  TSQLQuery* cursor = find_cursor(cursorName, "ReleaseParameterizedCursor");
  if (cursor == nullptr) return -1;
  int result = 0;
  try {
    cursor->ReleaseParameterizedQuery();
  } catch (const std::runtime_error&) {
    add_error("ReleaseParameterizedCursor", cursor->LastErrorMessage());
    result = -1;
  }
  delete cursor;
  FCursors.erase(lowercase_string(cursorName));
  return result;
}
