// The checked statement wrapper.
#include "storage/SQLQuery.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "storage/SQLDB.h"
#include "storage/Utility.h"

namespace {
const char* const kOpenQuery = "TSQLQuery.open_query";
const char* const kPrepare = "TSQLQuery::PrepareParameterizedQuery";
const char* const kBindInt = "TSQLQuery::BindIntParameter";
const char* const kBindText = "TSQLQuery::BindTextParameter";
const char* const kOpenParameterized = "TSQLQuery::OpenParameterizedQuery";
const char* const kReset = "TSQLQuery::ResetParameterizedQuery";
const char* const kResetStatement = "TSQLQuery::reset_statement";
const char* const kRelease = "TSQLQuery::ReleaseParameterizedQuery";
const char* const kParameterizedOpen = "Parameterized query: Use OpenParameterizedQuery instead";

bool starts_with_select(const std::string& upperText) {
  return upperText.size() > 6 && upperText.compare(0, 6, "SELECT") == 0;
}
}  // namespace

void TSQLQuery::SetSQLText(const std::string& text, bool allowParameters) {
  FSQLText = text;
  FIsParameterized = false;
  if (text.empty() || !allowParameters) return;
  size_t mark = text.find('?');
  if (mark == std::string::npos) return;
  // Only the first "?" decides: it is a parameter unless quotes stand on both
  // sides of it (the backward search stops at the second character).
  bool quoteBefore = mark > 1 && text.find('\'', 1) < mark;
  bool quoteAfter = text.find('\'', mark + 1) != std::string::npos;
  FIsParameterized = !(quoteBefore && quoteAfter);
}

void TSQLQuery::SetBoundSQLText(const std::string& text) {
  FSQLText = text;
  FIsParameterized = true;
}

bool TSQLQuery::is_select_text() const {
  std::string upper = uppercase_string(FSQLText);
  return upper.size() <= 6 || upper.compare(0, 6, "SELECT") == 0;
}

void TSQLQuery::fill_column_maps() {
  FRowCount = -1;
  FColumnsByName.clear();
  FColumnNames.clear();
  for (int i = 0; i < FColCount; ++i) {
    const char* name = sqlite3_column_name(FStatement, i);
    FColumnNames[i] = name == nullptr ? "" : name;
    FColumnsByName[uppercase_string(FColumnNames[i])] = i;
  }
}

void TSQLQuery::OpenSelect(const std::string& sql) {
  SetSQLText(sql, false);
  close_query();
  if (!open_query(true)) throw std::runtime_error(LastErrorMessage());
}

bool TSQLQuery::SetIsActive(bool active) {
  if (!active) return close_query();
  close_query();
  return open_query();
}

// The reason a text cannot run at all: no text, or no connection.
bool TSQLQuery::text_and_connection_given() {
  if (FSQLText.empty()) FLastError = "SQLText is empty";
  else if (FSQLDB == nullptr) FLastError = "SQLDB not assigned for this query";
  else return true;
  return false;
}

bool TSQLQuery::open_query(bool refuseParameters) {
  if (!text_and_connection_given()) return false;
  if (FIsParameterized) {
    FLastError = kParameterizedOpen;
    return false;
  }
  if (!is_select_text()) {
    FLastError = "Active property expects SELECT statement; use ExecSQL instead";
    return false;
  }
  if (FStatement != nullptr && sqlite3_reset(FStatement) != SQLITE_OK) {
    FLastError = "TSQLQuery::open_query failed to reset statement object";
    return false;
  }
  prepare_statement(kOpenQuery);
  if (refuseParameters && sqlite3_bind_parameter_count(FStatement) > 0) {
    finalize_statement();
    FLastError = kParameterizedOpen;
    return false;
  }
  try {
    step_first_row(kOpenQuery);
  } catch (const std::runtime_error&) {
    finalize_statement();
    throw;
  }
  fill_column_maps();
  return true;
}

bool TSQLQuery::close_query() {
  if (FIsParameterized) {
    FLastError = "Parameterized query: Use ReleaseParameterizedQuery instead";
    return false;
  }
  return !FIsActive || finalize_statement();
}

int TSQLQuery::RowCount() {
  if (FRowCount == -1) FRowCount = get_row_count();
  return FRowCount;
}

int TSQLQuery::get_row_count() {
  if (FIsParameterized || FSQLDB == nullptr) return 0;
  std::string upper = uppercase_string(FSQLText);
  size_t from = upper.find("FROM ");
  if (from == std::string::npos) return 0;
  std::string tail = upper.substr(from);
  size_t orderBy = tail.find("ORDER BY");
  if (orderBy != std::string::npos) tail.erase(orderBy - 1);
  std::string sql = "SELECT COUNT(*) " + tail;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(FSQLDB->Database(), sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return 0;
  }
  int count = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int(statement, 0) : 0;
  sqlite3_finalize(statement);
  return count;
}

int TSQLQuery::GetColumnNumber(const std::string& name) const {
  auto found = FColumnsByName.find(uppercase_string(name));
  return found == FColumnsByName.end() ? -1 : found->second;
}

std::string TSQLQuery::GetFieldByName(const std::string& name) const {
  return GetFieldByNumber(GetColumnNumber(name));
}

int TSQLQuery::GetIntFieldByName(const std::string& name) const {
  return GetIntFieldByNumber(GetColumnNumber(name));
}

std::string TSQLQuery::GetColumnName(int i) const {
  auto found = FColumnNames.find(i);
  if (i < 0 || i >= FColCount || found == FColumnNames.end())
    return "GetColumName error: col_idx out of bounds";
  return found->second;
}

std::string TSQLQuery::GetColumnDataType(int i) const {
  if (i < 0 || i >= FColCount) return "GetColumDataType error: col_idx out of bounds";
  const char* type = FStatement == nullptr ? nullptr : sqlite3_column_decltype(FStatement, i);
  return type == nullptr ? std::string() : std::string(type);
}

bool TSQLQuery::GetColumnConstraints(const char* table, const char* column, int* isNullable,
                                     int* isPrimaryKey, int* isAutoInc) {
  if (FSQLDB == nullptr || FSQLDB->Database() == nullptr || table == nullptr || column == nullptr)
    return false;
  int notNull = 0, primaryKey = 0, autoInc = 0;
  if (sqlite3_table_column_metadata(FSQLDB->Database(), nullptr, table, column, nullptr, nullptr,
                                    &notNull, &primaryKey, &autoInc) != SQLITE_OK)
    return false;
  if (isNullable != nullptr) *isNullable = notNull ? 0 : 1;
  if (isPrimaryKey != nullptr) *isPrimaryKey = primaryKey;
  if (isAutoInc != nullptr) *isAutoInc = autoInc;
  return true;
}

bool TSQLQuery::ExecSQL() {
  if (!text_and_connection_given()) return false;
  try {
    if (starts_with_select(uppercase_string(FSQLText))) {
      FLastError = "SELECT statement should not use ExecSQL(); use SetActive(true), instead";
      return false;
    }
    char* error = nullptr;
    int rc = sqlite3_exec(FSQLDB->Database(), FSQLText.c_str(), nullptr, nullptr, &error);
    if (rc == SQLITE_OK) FLastError.clear();
    else if (error != nullptr) FLastError = error;
    sqlite3_free(error);
    return rc == SQLITE_OK;
  } catch (const std::exception& e) {
    FLastError = *e.what() != '\0' ? e.what() : "undefined error in TSQLDB::ExecSQL";
    return false;
  }
}

// Host text reaches the database one statement at a time, so text pasted into
// a statement can never stack a second one behind it.
bool TSQLQuery::ExecOneSQL(const std::vector<std::string>& texts, TRowKey* returned) {
  if (!text_and_connection_given()) return false;
  sqlite3_stmt* statement = prepare_one_statement();
  if (returned != nullptr) *returned = TRowKey();
  int rc = SQLITE_OK;
  for (size_t i = 0; statement != nullptr && rc == SQLITE_OK && i < texts.size(); ++i)
    rc = sqlite3_bind_text(statement, static_cast<int>(i + 1), texts[i].data(), static_cast<int>(texts[i].size()),
                           SQLITE_TRANSIENT);
  bool done = statement != nullptr && (rc == SQLITE_OK ? step_to_end(statement, returned) : record_db_error());
  sqlite3_finalize(statement);
  return done;
}

bool TSQLQuery::ExecOneSQLPerValue(const std::vector<TSQLValue>& values) {
  if (!text_and_connection_given()) return false;
  sqlite3_stmt* statement = prepare_one_statement();
  bool done = statement != nullptr;
  for (size_t i = 0; done && i < values.size(); ++i) {
    done = sqlite3_bind_value(statement, 1, values[i].get()) == SQLITE_OK ? step_to_end(statement, nullptr)
                                                                            : record_db_error();
    sqlite3_reset(statement);
  }
  sqlite3_finalize(statement);
  return done;
}

// The text as exactly one prepared statement; null with the reason recorded.
sqlite3_stmt* TSQLQuery::prepare_one_statement() {
  sqlite3_stmt* statement = nullptr;
  const char* tail = nullptr;
  FLastError.clear();
  if (sqlite3_prepare_v2(FSQLDB->Database(), FSQLText.c_str(), -1, &statement, &tail) != SQLITE_OK)
    record_db_error();
  else if (statement == nullptr)
    FLastError = "SQLText is empty";
  else if (tail != nullptr && tail[strspn(tail, " \t\r\n")] != '\0')
    FLastError = "SQLText holds more than one statement";
  if (FLastError.empty()) return statement;
  sqlite3_finalize(statement);
  return nullptr;
}

// Steps the statement to its end; `returned`, when given, takes the first
// column of its first row as a row key.
bool TSQLQuery::step_to_end(sqlite3_stmt* statement, TRowKey* returned) {
  int rc = SQLITE_ROW;
  for (int rows = 0; rc == SQLITE_ROW;) {
    rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW && rows++ == 0 && returned != nullptr) *returned = read_row_key(statement, 0);
  }
  return rc == SQLITE_DONE || record_db_error();
}

// Records the connection's last message; always false.
bool TSQLQuery::record_db_error() {
  FLastError = sqlite3_errmsg(FSQLDB->Database());
  return false;
}

bool TSQLQuery::PrepareParameterizedQuery() {
  if (FSQLText.empty()) fail("SQLText is empty", kPrepare);
  if (FSQLDB == nullptr) fail("SQLDB not assigned for this query", kPrepare);
  if (!FIsParameterized) fail("Not a parameterized query: use open_query instead", kPrepare);
  if (!is_select_text()) fail("SetActive expects SELECT statement; use ExecSQL instead", kPrepare);
  reset_statement(kResetStatement);
  FRowCount = -1;
  prepare_statement(kPrepare);
  return true;
}

bool TSQLQuery::BindIntParameter(int n, int value) {
  if (!FIsParameterized) fail("Not a parameterized query: nothing to bind", kBindInt);
  int rc = FStatement == nullptr ? SQLITE_MISUSE : sqlite3_bind_int(FStatement, n, value);
  if (rc == SQLITE_MISUSE) fail("unknown error (SQLITE_MISUSE)", kBindInt);
  if (rc != SQLITE_OK) fail(db_message(), kBindInt);
  return true;
}

bool TSQLQuery::BindTextParameter(int n, const char* text) {
  if (!FIsParameterized) fail("Not a parameterized query: nothing to bind", kBindText);
  int rc = SQLITE_MISUSE;
  if (FStatement != nullptr)
    rc = text == nullptr ? sqlite3_bind_null(FStatement, n)
                         : sqlite3_bind_text(FStatement, n, text, -1, SQLITE_TRANSIENT);
  if (rc == SQLITE_MISUSE) fail(std::string("SQLITE_MISUSE: ") + db_message(), kBindText);
  if (rc != SQLITE_OK) fail(db_message(), kBindText);
  return true;
}

bool TSQLQuery::OpenParameterizedQuery() {
  open_parameterized(kOpenParameterized);
  fill_column_maps();
  return true;
}

bool TSQLQuery::ResetParameterizedQuery() {
  reset_parameterized(kReset, kResetStatement);
  return true;
}

bool TSQLQuery::ReleaseParameterizedQuery() { return release_parameterized(kRelease); }

namespace {

// The lowest key from 1 that no row of the (quoted) table holds, NULL when
// every key up to the greatest an int holds is taken.
std::string lowest_free_key(const std::string& quoted) {
  std::string table = "main." + quoted;
  return "SELECT CASE WHEN NOT EXISTS (SELECT 1 FROM " + table + " WHERE PKey = 1) THEN 1 ELSE (SELECT " +
         "min(a.PKey) + 1 FROM " + table + " a WHERE a.PKey >= 1 AND a.PKey < 2147483647 AND NOT EXISTS (SELECT 1 " +
         "FROM " + table + " b WHERE b.PKey = a.PKey + 1)) END;";
}

// Whether a row counted from this key would be numbered past an int.
bool numbers_past_int(const TRowKey& greatest) {
  return greatest.Found && !greatest.Null && !(greatest.Usable && greatest.Value < INT_MAX);
}

// The database's next number after the key, as text, for the refusal.
TRowKey next_number(const TRowKey& greatest) {
  TRowKey next = greatest;
  next.Usable = false;
  char* end = nullptr;
  errno = 0;
  long long value = greatest.Usable ? greatest.Value : strtoll(greatest.Text.c_str(), &end, 10);
  if (greatest.Usable || (errno == 0 && end != greatest.Text.c_str() && *end == '\0' && value < LLONG_MAX))
    next.Text = std::to_string(value + 1);
  return next;
}

// The first column of the first row of a statement, with the table's name
// bound to its one parameter when it has one.
TRowKey first_key(TSQLDB* db, const std::string& sql, const char* boundTable = nullptr) {
  TSQLQuery query(db);
  if (boundTable == nullptr) {
    query.OpenSelect(sql);
  } else {
    query.SetBoundSQLText(sql);
    query.PrepareParameterizedQuery();
    query.BindTextParameter(1, boundTable);
    query.OpenParameterizedQuery();
  }
  return query.GetKeyFieldByNumber(0);
}

}  // namespace

// The database numbers a row one past the greatest PKey or, with
// AUTOINCREMENT, one past the greatest number it ever gave.
TNewRowKey new_row_key(TSQLDB* db, const std::string& table) {
  std::string quoted = quote_identifier(table);
  TRowKey greatest = first_key(db, "SELECT max(PKey) FROM main." + quoted + ";");
  int autoIncrement = 0;
  TSQLQuery metadata(db);
  if (!numbers_past_int(greatest) &&
      metadata.GetColumnConstraints(table.c_str(), "PKey", nullptr, nullptr, &autoIncrement) && autoIncrement) {
    TRowKey given = first_key(db, "SELECT seq FROM main.sqlite_sequence WHERE name = ?;", table.c_str());
    if (numbers_past_int(given)) greatest = given;
  }
  if (!numbers_past_int(greatest)) return TNewRowKey();
  TRowKey free = first_key(db, lowest_free_key(quoted));
  if (!free.Usable) throw TKeyRefusal(next_number(greatest).Refusal(table));
  std::string key = std::to_string(free.Value);
  return {key, "[PKey], ", key + ", "};
}
