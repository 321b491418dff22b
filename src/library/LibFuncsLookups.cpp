// The lookup built-ins: exact and range lookups by table spec, and lookups on
// a concatenation of listed columns. Each key's statement is prepared once and
// kept; a call only rebinds, steps, checks and resets it. A found row is copied
// into the running edit's variables that bear its columns' names.
#include "library/LibFuncs.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "library/LookupQuery.h"
#include "runtime/RunEdits.h"
#include "runtime/Variable.h"
#include "storage/FastSQLQuery.h"
#include "storage/SQLDB.h"
#include "storage/TableStats.h"
#include "storage/Utility.h"

namespace {

const char* const kBlanks = " \t";
const size_t kMaxSQLMessage = 199;

std::string_view trimmed(std::string_view text) {
  size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string quoted(const std::string& name) { return "\"" + name + "\""; }

// The names of a column list: blanks removed, cut at each comma; the text
// after the last comma counts only when there is some.
std::vector<std::string> column_names(const char* columns) {
  std::string list = trim(columns, kBlanks);
  list.erase(std::remove(list.begin(), list.end(), ' '), list.end());
  std::vector<std::string> names;
  size_t start = 0;
  for (size_t comma = list.find(','); comma != std::string::npos; comma = list.find(',', start)) {
    names.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  if (start < list.size()) names.push_back(list.substr(start));
  return names;
}

// True when the key columns of the current row, joined, are the value.
bool concatenation_is(const TLookupQuery& lookup, std::string_view value) {
  size_t pos = 0;
  for (int i = 0; i < lookup.GetColumnsCount(); ++i) {
    std::string_view text = lookup.GetQuery()->GetFieldByNumber(lookup.GetColumnOrder(i));
    if (value.substr(pos, text.size()) != text) return false;
    pos += text.size();
  }
  return pos == value.size();
}

}  // namespace

void TLibFuncs::setup_lookup_functions() {
  set_function(0x58, &TLibFuncs::call_lookup);
  set_function(0x53, &TLibFuncs::call_ilookup);
  set_function(0x66, &TLibFuncs::call_rlookup);
  set_function(0x7B, &TLibFuncs::call_sqllookup);
  set_function(0x7D, &TLibFuncs::call_sqlrangelookup);
}

void TLibFuncs::TLookupQueryDeleter::operator()(TLookupQuery* query) const { delete query; }

TValueWord TLibFuncs::call_lookup() {
  return recorded("call_lookup", [this] { return call_ilookup(); });
}

TValueWord TLibFuncs::call_ilookup() {
  check_open_paren();
  const char* value = kept_text_argument();
  return internal_lookup(value, text_argument(), true);
}

TValueWord TLibFuncs::call_rlookup() {
  return recorded("call_rlookup", [this] {
    check_open_paren();
    const char* value = kept_text_argument();
    return static_cast<TValueWord>(internal_rlookup(value, text_argument()));
  });
}

TValueWord TLibFuncs::call_sqllookup() {
  check_open_paren();
  const char* table = kept_text_argument();
  const char* columns = kept_text_argument();
  return internal_sqllookup(table, columns, text_argument(), true);
}

TValueWord TLibFuncs::call_sqlrangelookup() {
  check_open_paren();
  const char* table = kept_text_argument();
  const char* columns = kept_text_argument();
  return internal_sqlrlookup(table, columns, text_argument());
}

// The value is searched padded to the stored length of a trigger-maintained
// key (and cut to it), else without trailing blanks; a row is the one only when
// its key and the value are the same text apart from blanks at either end.
int TLibFuncs::internal_lookup(const char* value, const char* tableSpec, bool copyRow) {
  TLookupQuery* lookup = spec_query(FLookupQueries, tableSpec, "internal_lookup", false);
  if (lookup->GetPadTo() > 0) {
    FLookupValue.assign(value);
    FLookupValue.resize(lookup->GetPadTo(), ' ');
  } else {
    std::string_view text(value);
    FLookupValue.assign(text.substr(0, text.find_last_not_of(kBlanks) + 1));
  }
  FLookupCompared.assign(trimmed(value));
  return run_lookup(lookup, "internal_lookup", rcTrimmedKey, copyRow);
}

// The row of the greatest key not above the value, in the key's own order.
int TLibFuncs::internal_rlookup(const char* value, const char* tableSpec) {
  TLookupQuery* lookup = spec_query(FRLookupQueries, tableSpec, "internal_rlookup", true);
  FLookupValue.assign(value);
  if (lookup->GetPadTo() > 0) FLookupValue.resize(lookup->GetPadTo(), ' ');
  return run_lookup(lookup, "internal_rlookup", rcNone, true);
}

// The row whose listed columns, joined, are exactly the value.
int TLibFuncs::internal_sqllookup(const char* table, const char* columns, const char* value, bool copyRow) {
  TLookupQuery* lookup = list_query(FSQLLookupQueries, table, columns, "internal_sqllookup", false);
  FLookupValue.assign(value);
  FLookupCompared.assign(value);
  return run_lookup(lookup, "internal_sqllookup", rcConcatenatedKey, copyRow);
}

// The row of the greatest joined key not above the value.
int TLibFuncs::internal_sqlrlookup(const char* table, const char* columns, const char* value) {
  TLookupQuery* lookup = list_query(FSQLRangeLookupQueries, table, columns, "internal_sqlrlookup", true);
  FLookupValue.assign(value);
  return run_lookup(lookup, "internal_sqlrlookup", rcNone, true);
}

// The lookups of a run or of a debugging run read inside one read transaction
// (the shared read or the host's transaction), in which the schema cannot
// change: the table model follows the file once in it, before any kept
// statement or definition is used.
void TLibFuncs::begin_lookup() {
  FSQLDB->BeginSharedRead();
  if (!FSQLDB->IsSchemaChecked()) {
    if (!FRunEdits->FollowSchema()) throw std::runtime_error("SQL error");
    FSQLDB->SetSchemaChecked();
  }
  forget_removed_tables();
}

// A kept statement borrows its table's definition from the table model: once
// the model has dropped or replaced any definition, every kept one is let go.
void TLibFuncs::forget_removed_tables() {
  unsigned removals = FTablesList->GetRemovals();
  if (removals == FLookupRemovals) return;
  FLookupQueries.clear();
  FRLookupQueries.clear();
  FSQLLookupQueries.clear();
  FSQLRangeLookupQueries.clear();
  FLookupRemovals = removals;
}

// The statement of a table spec (TABLE.COLUMN or TABLE.ANY.COLUMN, blind to
// case), made on its first use.
TLookupQuery* TLibFuncs::spec_query(TLookupQueries& cache, const char* tableSpec, const char* method, bool range) {
  begin_lookup();
  FLookupKey.assign(tableSpec);
  uppercase(FLookupKey);
  auto found = cache.find(FLookupKey);
  if (found != cache.end()) return found->second.get();
  std::string table, column;
  parse_table_spec(method, table, column);
  // The statement names the column as the check found it.
  column = trim(column, kBlanks);
  TLookupQueryPtr lookup = new_lookup(method, table);
  int position = key_position(lookup.get(), method, table, column);
  if (lookup->GetTableDef()->GetColumn(position)->GetIsTriggerField())
    lookup->SetPadTo(get_trigger_padded_size(table.c_str(), column.c_str()));
  if (!range) lookup->AddColumnOrder(position);
  return keep_query(cache, std::move(lookup), table, quote_identifier(column), range);
}

// Splits the upper-cased spec in FLookupKey into table and column.
void TLibFuncs::parse_table_spec(const char* method, std::string& table, std::string& column) {
  size_t dot = FLookupKey.find('.');
  if (dot != std::string::npos) {
    table = FLookupKey.substr(0, dot);
    std::string rest = FLookupKey.substr(dot + 1);
    size_t next = rest.find('.');
    if (next == std::string::npos && rest.compare(0, 3, "DBF") == 0)
      lookup_syntax_error(method, "Table spec to LOOKUP function needs column identifier; received (" +
                                      quoted(FLookupKey) + ")");
    column = next == std::string::npos ? rest : rest.substr(next + 1);
  }
  if (table.empty() || column.empty()) {
    record(method, "Cannot find lookup table or column");
    lookup_syntax_error(method, FLookupKey);
  }
}

// The statement of a table and a list of its columns, whose texts joined make
// the key; the two texts are kept apart in the cache key.
TLookupQuery* TLibFuncs::list_query(TLookupQueries& cache, const char* table, const char* columns, const char* method,
                                    bool range) {
  begin_lookup();
  FLookupKey.assign(table);
  FLookupKey.push_back('\0');
  FLookupKey.append(columns);
  auto found = cache.find(FLookupKey);
  if (found != cache.end()) return found->second.get();
  TLookupQueryPtr lookup = new_lookup(method, table);
  std::string key;
  for (const std::string& name : column_names(columns)) {
    lookup->AddColumnOrder(key_position(lookup.get(), method, table, name));
    key += (key.empty() ? "" : " || ") + quote_identifier(name);
  }
  return keep_query(cache, std::move(lookup), table, key, range);
}

// A new query on the table's definition in the table model.
TLibFuncs::TLookupQueryPtr TLibFuncs::new_lookup(const char* method, const std::string& table) {
  TTableDef* definition = FTablesList->GetTable(table);
  if (definition == nullptr) lookup_syntax_error(method, "TablesList does not have a table named " + quoted(table));
  return TLookupQueryPtr(new TLookupQuery(FSQLDB, definition));
}

// The position of a column of the query's table; a name that the table model
// does not know is refused before it reaches any statement.
int TLibFuncs::key_position(TLookupQuery* lookup, const char* method, const std::string& table,
                            const std::string& name) {
  TFieldDef* field = lookup->GetTableDef()->GetColumn(name);
  if (field == nullptr)
    lookup_syntax_error(method, "The table named " + quoted(table) + " does not have a column named " + quoted(name));
  return field->GetColumnOrder();
}

// Prepares the statement that compares the key with the bound value (equal,
// or the greatest not above it) and keeps the query under the key in
// FLookupKey; a statement that cannot be prepared is not kept, and its
// failure passes on.
TLookupQuery* TLibFuncs::keep_query(TLookupQueries& cache, TLookupQueryPtr lookup, const std::string& table,
                                    const std::string& key, bool range) {
  std::string sql = "SELECT * FROM " + quote_identifier(table) + " WHERE " + key +
                    (range ? " <= ? ORDER BY " + key + " DESC LIMIT 1;" : " = ? ;");
  lookup->GetQuery()->SetSQLText(sql, true);
  lookup->GetQuery()->PrepareParameterizedQuery();
  make_room(cache, kMaxCachedLookups);
  return (cache[FLookupKey] = std::move(lookup)).get();
}

size_t TLibFuncs::CachedLookups() const {
  return FLookupQueries.size() + FRLookupQueries.size() + FSQLLookupQueries.size() + FSQLRangeLookupQueries.size();
}

// The length of the stored values of a trigger-maintained column, read from
// its first row; 0 for an empty table.
int TLibFuncs::get_trigger_padded_size(const char* tableName, const char* columnName) {
  TFastSQLQuery query(FSQLDB);
  query.SetSQLText("SELECT LENGTH(" + quote_identifier(columnName) + ") AS PadTo FROM " + quote_identifier(tableName) +
                       " LIMIT 1;",
                   false);
  try {
    query.SetIsActive(true);
  } catch (const std::runtime_error&) {
    lookup_sql_error("get_trigger_padded_size", query.LastErrorMessage(), query.GetSQLText(), std::string::npos);
  }
  int width = query.GetIntFieldByNumber(0);
  query.SetIsActive(false);
  return width;
}

// Binds FLookupValue, looks for a row that passes the check against
// FLookupCompared and copies it when asked; 1 found, 0 not. Every failure on
// the way is an SQL error, and the statement is reset on every way out.
int TLibFuncs::run_lookup(TLookupQuery* lookup, const char* method, TRowCheck check, bool copyRow) {
  TFastSQLQuery* query = lookup->GetQuery();
  try {
    query->BindTextParameter(1, FLookupValue.c_str(), false);
    query->OpenParameterizedQuery();
    bool found = seek_row(lookup, check);
    if (found && copyRow) copy_row(lookup, method);
    query->ResetParameterizedQuery();
    return found ? 1 : 0;
  } catch (const std::runtime_error&) {
    try {
      query->ResetParameterizedQuery();
    } catch (const std::runtime_error&) {
      // The statement's own error is the one to report.
    }
    lookup_sql_error(method, query->LastErrorMessage(), query->GetSQLText(), kMaxSQLMessage);
  }
}

// Moves to the first row that passes the check; false at the end of the rows.
bool TLibFuncs::seek_row(TLookupQuery* lookup, TRowCheck check) {
  TFastSQLQuery* query = lookup->GetQuery();
  while (!query->Eof()) {
    if (check == rcNone) return true;
    if (check == rcTrimmedKey ? trimmed(query->GetFieldByNumber(lookup->GetColumnOrder(0))) == FLookupCompared
                              : concatenation_is(*lookup, FLookupCompared))
      return true;
    if (!query->FetchNext()) throw std::runtime_error("SQL error");
  }
  return false;
}

// Copies every column but the first (PKey) into the variable of its name:
// a character variable grows to hold the whole text, an integer variable
// takes the value as an integer, and a column without a variable is passed over.
void TLibFuncs::copy_row(TLookupQuery* lookup, const char* method) {
  TTableDef* definition = lookup->GetTableDef();
  TFastSQLQuery* query = lookup->GetQuery();
  int count = definition->GetColumnCount();
  for (int position = 1; position < count; ++position) {
    TFieldDef* field = definition->GetColumn(position);
    if (field == nullptr) {
      record(method, "Table named " + quoted(definition->GetTableName()) + " states column count = " +
                         intToString(count) + " but cannot return field at index " + intToString(position + 1));
      throw std::runtime_error("SQL error");
    }
    TVariable* variable = FRunEdits->GetVariable(field->GetFieldName(), false);
    if (variable == nullptr) continue;
    if (variable->IsCharacter()) {
      const char* text = query->GetFieldByNumber(position);
      size_t length = strlen(text);
      size_t declared = field->GetIsTriggerField() ? 0 : static_cast<size_t>(std::max(field->GetColumnSize(), 0));
      variable->SetTableVarValue(text, std::max(declared, length));
    } else if ((variable->GetVariableType() & TVariable::kInteger) != 0) {
      variable->SetValue(0, query->GetIntFieldByNumber(position));
    }
  }
}

void TLibFuncs::lookup_syntax_error(const char* method, const std::string& message) {
  record(method, message);
  throw std::runtime_error("syntax error");
}

void TLibFuncs::lookup_sql_error(const char* method, const char* lastError, const char* sql, size_t limit) {
  record(method, lastError);
  record(method, ("SQL: " + std::string(sql)).substr(0, limit));
  throw std::runtime_error("SQL error");
}
