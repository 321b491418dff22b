// The checked statement wrapper.
#include "storage/SQLQuery.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
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

const int kLowestKey = 1;
// Key 1 of these tables is the agency "NONE", which counts as logged in for
// everyone, and message number 0, every new edit's default: no row that the
// library or the database numbers may take it.
const char* const kTablesReservingKeyOne[] = {"RL_Agencies", "RL_Messages"};
// Free keys tried at random before the table is scanned, as many as SQLite
// itself tries past its own limit.
const int kRandomProbes = 100;

int lowest_allowed_key(const std::string& table) {
  for (const char* reserving : kTablesReservingKeyOne)
    if (posix_stricmp(table.c_str(), reserving) == 0) return kLowestKey + 1;
  return kLowestKey;
}

// The lowest key from ?1 that no row of the (quoted) table holds, NULL when
// every key up to the greatest an int holds is taken. It scans the table.
std::string lowest_free_key(const std::string& quoted) {
  std::string table = "main." + quoted;
  return "SELECT CASE WHEN NOT EXISTS (SELECT 1 FROM " + table + " WHERE PKey = ?1) THEN ?1 ELSE (SELECT " +
         "min(a.PKey) + 1 FROM " + table + " a WHERE a.PKey >= ?1 AND a.PKey < 2147483647 AND NOT EXISTS (SELECT " +
         "1 FROM " + table + " b WHERE b.PKey = a.PKey + 1)) END;";
}

// Whether a row counted from this key would be numbered past an int.
bool numbers_past_int(const TRowKey& greatest) {
  return greatest.Found && !greatest.Null && !(greatest.Usable && greatest.Value < INT_MAX);
}

// The key as the database counts from it: no value (an empty table, no
// sequence row) counts as 0.
TRowKey zero_if_none(TRowKey key) {
  if (key.Found && !key.Null) return key;
  TRowKey zero;
  zero.Found = zero.Usable = true;
  return zero;
}

// Whether the database, counting from `a`, would number past `b`'s count.
bool counts_past(const TRowKey& a, const TRowKey& b) {
  return numbers_past_int(a) || (!numbers_past_int(b) && a.Value > b.Value);
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

// A SELECT of the library's own with one parameter, prepared once and run
// again for each value bound to it; a failure throws std::runtime_error with
// the database's reason.
class TBoundSelect {
 public:
  TBoundSelect(TSQLDB* db, const std::string& sql) : FQuery(db) {
    FQuery.SetBoundSQLText(sql);
    guarded([this] { FQuery.PrepareParameterizedQuery(); });
  }
  // The first column of the first row as a key; not found without a row.
  TRowKey FirstKey(int value) { return bound_first_key([this, value] { FQuery.BindIntParameter(1, value); }); }
  TRowKey FirstKey(const char* text) { return bound_first_key([this, text] { FQuery.BindTextParameter(1, text); }); }

 private:
  template <typename Bind>
  TRowKey bound_first_key(Bind bind) {
    guarded([this, &bind] {
      FQuery.ResetParameterizedQuery();
      bind();
      FQuery.OpenParameterizedQuery();
    });
    return FQuery.GetKeyFieldByNumber(0);
  }
  template <typename Step>
  void guarded(Step step) {
    try {
      step();
    } catch (const std::runtime_error&) {
      throw std::runtime_error(FQuery.LastErrorMessage());
    }
  }

  TSQLQuery FQuery;
};

// The first column of the first row of a statement.
TRowKey first_key(TSQLDB* db, const std::string& sql) {
  TSQLQuery query(db);
  query.OpenSelect(sql);
  return query.GetKeyFieldByNumber(0);
}

// The number the database counts a new row of the table from: its greatest
// PKey or, with AUTOINCREMENT, the greatest number it ever gave when that is
// greater. It numbers the row one past it.
TRowKey database_count(TSQLDB* db, const std::string& table, const std::string& quoted) {
  TRowKey counted = zero_if_none(first_key(db, "SELECT max(PKey) FROM main." + quoted + ";"));
  int autoIncrement = 0;
  TSQLQuery metadata(db);
  if (!numbers_past_int(counted) &&
      metadata.GetColumnConstraints(table.c_str(), "PKey", nullptr, nullptr, &autoIncrement) && autoIncrement) {
    TBoundSelect sequence(db, "SELECT seq FROM main.sqlite_sequence WHERE name = ?1;");
    TRowKey given = zero_if_none(sequence.FirstKey(table.c_str()));
    if (counts_past(given, counted)) counted = given;
  }
  return counted;
}

// Finds a free key of a table from the lowest allowed to INT_MAX without
// scanning it: every candidate costs an index seek and is checked free by the
// database before it is handed out. The scan is the last resort, for a table
// that holds nearly every key.
class TFreeKeySeeker {
 public:
  TFreeKeySeeker(TSQLDB* db, const std::string& quoted, int lowest)
      : FDB(db), FQuoted(quoted), FTable("main." + quoted), FLowest(lowest) {}

  std::optional<int> Seek() {
    bool known = false;
    std::optional<int> key = past_greatest(known);
    if (known || is_free(key)) return key;
    key = before_least();
    if (is_free(key)) return key;
    for (int i = 0; i < kRandomProbes; ++i)
      if (is_free(key = at_random())) return key;
    TRowKey scanned = TBoundSelect(FDB, lowest_free_key(FQuoted)).FirstKey(FLowest);
    return scanned.Usable ? std::optional<int>(scanned.Value) : std::nullopt;
  }

 private:
  bool is_free(std::optional<int> key) {
    if (!FTaken) FTaken.emplace(FDB, "SELECT 1 FROM " + FTable + " WHERE PKey = ?1;");
    return key && !FTaken->FirstKey(*key).Found;
  }

  // One past the greatest key below INT_MAX, or the lowest allowed key. It is
  // `known` free when the seek itself found no key between it and INT_MAX.
  std::optional<int> past_greatest(bool& known) {
    TBoundSelect below(FDB, "SELECT PKey FROM " + FTable + " WHERE PKey < ?1 ORDER BY PKey DESC LIMIT 1;");
    TRowKey greatest = below.FirstKey(INT_MAX);
    if (!greatest.Found) return FLowest;
    if (!greatest.Usable) return std::nullopt;
    known = greatest.Value >= FLowest - 1 && greatest.Value < INT_MAX - 1;
    return std::max(FLowest, greatest.Value + 1);
  }

  // One below the least key from the lowest allowed, when that is allowed.
  std::optional<int> before_least() {
    TBoundSelect above(FDB, "SELECT PKey FROM " + FTable + " WHERE PKey >= ?1 ORDER BY PKey LIMIT 1;");
    TRowKey least = above.FirstKey(FLowest);
    if (!least.Found) return FLowest;
    return least.Usable && least.Value > FLowest ? std::optional<int>(least.Value - 1) : std::nullopt;
  }

  int at_random() const {
    unsigned int drawn = 0;
    sqlite3_randomness(sizeof drawn, &drawn);
    unsigned int span = static_cast<unsigned int>(INT_MAX - FLowest) + 1;
    return FLowest + static_cast<int>(drawn % span);
  }

  TSQLDB* FDB;
  std::string FQuoted;
  std::string FTable;
  int FLowest;
  std::optional<TBoundSelect> FTaken;  // prepared on its first use
};

}  // namespace

// The database numbers a row one past the number it counts from; a row it
// would number past an int, or at a reserved key 1, is given a free key.
TNewRowKey new_row_key(TSQLDB* db, const std::string& table) {
  std::string quoted = quote_identifier(table);
  TRowKey counted = database_count(db, table, quoted);
  int lowest = lowest_allowed_key(table);
  bool takesReservedKey = lowest > kLowestKey && counted.Usable && counted.Value == kLowestKey - 1;
  if (!numbers_past_int(counted) && !takesReservedKey) return TNewRowKey();
  std::optional<int> free = TFreeKeySeeker(db, quoted, lowest).Seek();
  if (!free) throw TKeyRefusal(next_number(counted).Refusal(table));
  std::string key = std::to_string(*free);
  return {key, "[PKey], ", key + ", "};
}
