// Defining lookup tables: the pending definition (name, columns with their
// exact declarations, index statements with free index names), and creating
// or restructuring the table from it inside one savepoint.
#include <cctype>
#include <cstring>
#include <map>
#include <stdexcept>
#include <vector>

#include "api/SMF.h"
#include "authoring/SMFWriter.h"
#include "storage/SQLDB.h"
#include "storage/SQLQuery.h"
#include "storage/Utility.h"
#include "storage/WriteScope.h"

namespace {

const char* const kCreateSavePoint = "_CreateTable_";
const char* const kCorrupted = "WARNING: This metafile may now be corrupted; close without saving";
const size_t kIndexNameLength = 49;

const char* const kBackupFailure = "Unable to rename original table to a back-up name";
const char* const kPortFailure = "Unable to port data from old table structure to new";
// The queries of a rebuild bind the names they look at; each parameter comes
// before any quote, where the statement wrapper takes it for one.
// Tables with a foreign key to the table.
const char* const kReferringTables =
    "SELECT DISTINCT m.[name] FROM (SELECT ? AS [target]) t, main.sqlite_master m, "
    "pragma_foreign_key_list(m.[name], 'main') f WHERE m.[type] = 'table' AND f.[table] = t.[target] COLLATE NOCASE;";
// Those whose rows would be changed by an ON DELETE action when it is dropped.
const char* const kDeleteActions =
    "SELECT m.[name] FROM (SELECT ? AS [target]) t, main.sqlite_master m, "
    "pragma_foreign_key_list(m.[name], 'main') f WHERE m.[type] = 'table' AND f.[table] = t.[target] COLLATE NOCASE "
    "AND f.[on_delete] NOT IN ('NO ACTION', 'RESTRICT');";
// Rows of the first table whose reference to the second finds no key.
const char* const kLostReferences =
    "SELECT count(*) FROM (SELECT ? AS [child], ? AS [target]) t, pragma_foreign_key_check(t.[child], 'main') c "
    "WHERE c.[parent] = t.[target] COLLATE NOCASE;";
// Whether PKey is the table's integer primary key, so that its values are
// whole numbers, present and unique.
const char* const kRowKey =
    "SELECT count(*) FROM (SELECT ? AS [target]) t, pragma_table_info(t.[target], 'main') c "
    "WHERE c.[name] = 'PKey' COLLATE NOCASE AND c.[pk] = 1 AND upper(c.[type]) = 'INTEGER' "
    "AND (SELECT max([pk]) FROM pragma_table_info(t.[target], 'main')) = 1;";

bool given(const char* text) { return text != nullptr && *text != '\0'; }

bool is_integer(const std::string& text) {
  size_t start = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  return text.size() > start &&
         text.find_first_not_of("0123456789", start) == std::string::npos;
}

int read_flag(void* flag, int columns, char** values, char**) {
  *static_cast<bool*>(flag) = columns > 0 && values[0] != nullptr && strcmp(values[0], "1") == 0;
  return 0;
}

bool pragma_flag(TSQLDB* db, const std::string& name) {
  bool on = false;
  db->Pragma(("PRAGMA " + name + ";").c_str(), &on, read_flag);
  return on;
}

void set_pragma_flag(TSQLDB* db, const std::string& name, bool on) {
  bool ignored = false;
  db->Pragma(("PRAGMA " + name + (on ? " = ON;" : " = OFF;")).c_str(), &ignored, read_flag);
}

// Runs a query of bound texts: the first column of each row, or false with
// the database's reason.
bool column_values(TSQLDB* db, const char* sql, const std::vector<std::string>& texts,
                   std::vector<std::string>& values, std::string& reason) {
  TSQLQuery query(db);
  try {
    query.SetSQLText(sql, true);
    query.PrepareParameterizedQuery();
    for (size_t i = 0; i < texts.size(); ++i) query.BindTextParameter(static_cast<int>(i) + 1, texts[i].c_str());
    // A step that fails is a failure, never the end of the rows.
    for (query.OpenParameterizedQuery(); !query.Eof();) {
      values.push_back(query.GetFieldByNumber(0));
      if (!query.FetchNext() && !query.Eof()) throw std::runtime_error(query.LastErrorMessage());
    }
    return true;
  } catch (const std::runtime_error&) {
    reason = query.LastErrorMessage();
    return false;
  }
}

}  // namespace

// The keys of a table being rebuilt, its rows' and other tables' references
// to them. Dropping the old table would run the ON DELETE actions of the rows
// that refer to it, and would fail on them: so outside a transaction foreign
// keys are switched off for the rebuild, and inside one (where they cannot
// be) their checks are deferred until the rows are back. Either way the
// references are counted before and after, and the connection's settings
// are restored at the end.
class TRebuildKeys {
 public:
  // Nothing is changed unless a table is rebuilt.
  TRebuildKeys(TSQLDB* db, bool rebuild) : FDB(db) {
    if (!rebuild) return;
    FDB->EndSharedRead();
    FEnforced = pragma_flag(FDB, "foreign_keys");
    FSwitchedOff = FEnforced && !FDB->InTransaction();
    if (FSwitchedOff) set_pragma_flag(FDB, "foreign_keys", false);
  }
  ~TRebuildKeys() { Restore(); }
  TRebuildKeys(const TRebuildKeys&) = delete;
  TRebuildKeys& operator=(const TRebuildKeys&) = delete;

  // Whether foreign keys stay enforced during the rebuild (inside a transaction).
  bool StayOn() const { return FEnforced && !FSwitchedOff; }
  // Whether the rows keep their PKeys.
  bool KeepsRowKeys() const { return FRowKeys; }
  // Reads what the table holds before the rebuild; false with the reason
  // and the statement that failed.
  bool Count(const std::string& table, std::string& reason, std::string& sql) {
    std::vector<std::string> rowKey;
    sql = kRowKey;
    if (!column_values(FDB, kRowKey, {table}, rowKey, reason)) return false;
    FRowKeys = !rowKey.empty() && rowKey[0] == "1";
    return !FEnforced || count_lost(table, FLostBefore, reason, sql);
  }
  // Whether every row of another table finds the key it found before; false
  // with the reason and the statement.
  bool Kept(const std::string& table, std::string& reason, std::string& sql) {
    if (!FEnforced) return true;
    std::map<std::string, TLost> after;
    if (!count_lost(table, after, reason, sql)) return false;
    for (const auto& [child, lost] : after) {
      auto before = FLostBefore.find(child);
      long was = before == FLostBefore.end() ? 0 : before->second.Rows;
      if (lost.Rows >= 0 && (was < 0 || lost.Rows <= was)) continue;
      sql = kLostReferences;
      reason = lost.Rows >= 0 ? "FOREIGN KEY constraint failed" : lost.Reason;
      return false;
    }
    return true;
  }
  // The checks wait until EndDeferral.
  void Defer() {
    if (!StayOn() || FDeferred) return;
    FHostDeferred = pragma_flag(FDB, "defer_foreign_keys");
    FDeferred = true;
    if (!FHostDeferred) set_pragma_flag(FDB, "defer_foreign_keys", true);
  }
  // Gives back the host's setting; switching deferral off forgets the checks
  // still pending, so this comes once the rows are back or the rebuild undone.
  void EndDeferral() {
    if (FDeferred && !FHostDeferred) set_pragma_flag(FDB, "defer_foreign_keys", false);
    FDeferred = false;
  }
  // The connection's settings as they were; false when foreign keys cannot be
  // switched on again (a transaction that could not be undone is still open).
  bool Restore() {
    EndDeferral();
    if (!FSwitchedOff) return true;
    set_pragma_flag(FDB, "foreign_keys", true);
    FSwitchedOff = !pragma_flag(FDB, "foreign_keys");
    return !FSwitchedOff;
  }

 private:
  // Rows of a table whose references find no key; -1 when the database
  // cannot check them, for the reason given.
  struct TLost {
    long Rows = 0;
    std::string Reason;
  };

  // Each table that refers to the table, with its lost references.
  bool count_lost(const std::string& table, std::map<std::string, TLost>& lost, std::string& reason,
                  std::string& sql) {
    std::vector<std::string> children;
    sql = kReferringTables;
    if (!column_values(FDB, kReferringTables, {table}, children, reason)) return false;
    for (const std::string& child : children) {
      std::vector<std::string> count;
      TLost& entry = lost[child];
      bool counted = column_values(FDB, kLostReferences, {child, table}, count, entry.Reason) && !count.empty();
      entry.Rows = counted ? std::stol(count[0]) : -1;
    }
    return true;
  }

  TSQLDB* FDB;
  bool FEnforced = false;
  bool FSwitchedOff = false;
  bool FDeferred = false;
  bool FHostDeferred = false;
  bool FRowKeys = false;
  std::map<std::string, TLost> FLostBefore;
};

const char* reserved_prefix(const std::string& tableName) {
  std::string upper = uppercase_string(tableName);
  if (upper.compare(0, 3, "RL_") == 0) return "RL_";
  if (upper.compare(0, 7, "SQLITE_") == 0) return "sqlite_";
  return nullptr;
}

std::vector<std::string> lookup_name_refusals(const std::string& tableName) {
  std::vector<std::string> refusals;
  if (const char* prefix = reserved_prefix(tableName))
    refusals.push_back(std::string("You may not start a look-up table name with \"") + prefix + "\"");
  if (!is_plain_identifier(tableName)) refusals.push_back("Invalid look-up table name \"" + tableName + "\"");
  return refusals;
}

std::string lookup_name_stem(const std::string& tableName) { return tableName.substr(0, 8) + "_"; }

bool TSMFWriter::lookup_name_allowed(const std::string& name, const char* method) {
  std::vector<std::string> refusals = lookup_name_refusals(name);
  for (const std::string& refusal : refusals) add_error(method, refusal);
  return refusals.empty();
}

bool TSMFWriter::has_definition(const char* method) {
  if (FDefineTable != nullptr) return true;
  add_error(method, "Engine programmer error: FDefineTable not instantiated");
  return false;
}

void TSMFWriter::ClearTableDefinition() {
  if (FDefineTable != nullptr) FDefineTable->ClearAll();
}

// Control tables and the database's own tables can never be defined as
// lookup tables, and names are plain identifiers that brackets always quote.
// A refused name leaves the definition empty, which CreateTable refuses.
int TSMFWriter::DefineTableStructure(const std::string& name, int restructure) {
  if (!has_definition("DefineTableStructure")) return -1;
  FDefineTable->ClearAll();
  if (!lookup_name_allowed(name, "DefineTableStructure")) return -1;
  FDefineTable->SetTableName(name);
  FDefineTable->SetIsRestructuring(restructure != 0);
  return 0;
}

bool TSMFWriter::integer_value_allowed(const std::string& column, const char* value) {
  if (!given(value) || is_integer(value)) return true;
  add_error("AddColumnDef", std::string("Value \"") + value + "\" is not a whole number for column \"" + column + "\"");
  return false;
}

// Names are plain identifiers (keywords too: every statement brackets them),
// integer bounds and defaults must be numbers, and text bounds and defaults
// have their quotes doubled; the value list is SQL by contract and stays
// inside the one CREATE statement.
int TSMFWriter::AddColumnDef(const char* name, const char* sourceName, int isInteger, int length, int nullable,
                             int triggerMaintained, const char* inList, const char* low, const char* high,
                             const char* defaultValue, int indexKind) {
  if (!has_definition("AddColumnDef")) return -1;
  std::string column = name;
  std::string source = sourceName == nullptr ? "" : sourceName;
  bool valid = true;
  for (const std::string* checked : {&column, &source}) {
    if ((checked == &source && source.empty()) || is_plain_identifier(*checked)) continue;
    add_error("AddColumnDef", "Invalid column name \"" + *checked + "\"");
    valid = false;
  }
  if (isInteger != 0) {
    bool bounds = given(low) && given(high);
    valid = (!bounds || (integer_value_allowed(column, low) && integer_value_allowed(column, high))) && valid;
    valid = integer_value_allowed(column, defaultValue) && valid;
  } else if (length <= 0) {
    add_error("AddColumnDef", "Character fields cannot be defined with 0 length");
    valid = false;
  }
  if (!valid) return -1;
  TDefineColumn* definition = new TDefineColumn(
      column.c_str(),
      column_definition(column, isInteger, length, nullable, triggerMaintained, inList, low, high, defaultValue).c_str(),
      source.c_str());
  definition->SetIsTriggerMaintained(triggerMaintained);
  FDefineTable->AddColumnDef(definition);
  return indexKind <= 0 ? 0 : add_column_index(column, indexKind);
}

std::string TSMFWriter::column_definition(const std::string& column, int isInteger, int length, int nullable,
                                          int triggerMaintained, const char* inList, const char* low,
                                          const char* high, const char* defaultValue) {
  std::string name = "[" + column + "]";
  std::string text = name;
  if (isInteger != 0)
    text += " integer ";
  else
    text += (triggerMaintained == 0 && length <= 6 ? " char(" : " varchar(") + intToString(length) + ") ";
  text += nullable != 0 ? "NULL " : "NOT NULL ";
  bool bounds = given(low) && given(high);
  if (isInteger != 0) {
    text += "check(typeof(" + name + ") = 'integer') ";
    if (bounds) text += "check(" + name + " between " + low + " and " + high + ") ";
  } else {
    text += "collate nocase ";
    if (given(inList))
      text += "check(" + name + " in (" + inList + ")) ";
    else if (bounds)
      text += "check(" + name + " between '" + quote_sql_value(low) + "' and '" + quote_sql_value(high) + "') ";
  }
  if (defaultValue == nullptr && nullable != 0) return text;
  if (!given(defaultValue)) return text + (isInteger != 0 ? "default 0" : "default ''");
  return text + (isInteger != 0 ? std::string("default ") + defaultValue
                                : "default '" + quote_sql_value(defaultValue) + "'");
}

// Pending index texts are not consulted: only the database's index names.
int TSMFWriter::add_column_index(const std::string& column, int indexKind) {
  std::string table = FDefineTable->GetTableName();
  std::string base = "x" + lookup_name_stem(table) + column;
  std::string index;
  for (int attempt = -1; attempt <= 9 && index.empty(); ++attempt) {
    std::string candidate = (attempt < 0 ? base : base + intToString(attempt)).substr(0, kIndexNameLength);
    if (!index_name_exists(candidate)) index = candidate;
  }
  if (index.empty()) {
    add_error("AddColumnDef", ("Index name \"" + base +
                               "\" is already in use, and 10 attempts to modify it have failed.Change either the first "
                               "8 characters of the Table name to something unique,or change the column name and try "
                               "again.")
                                  .substr(0, 498));
    return -1;
  }
  FDefineTable->AddIndexDef(indexKind == 1
                                ? "CREATE INDEX " + index + " ON [" + table + "] ([" + column + "], [PKey])"
                                : "CREATE UNIQUE INDEX " + index + " ON [" + table + "] ([" + column + "])");
  return 0;
}

bool TSMFWriter::index_name_exists(const std::string& name) {
  TSQLQuery query(FSQLDB);
  try {
    query.SetSQLText("SELECT [name] FROM sqlite_master WHERE [type] LIKE 'index' AND [name] LIKE ?;", true);
    query.PrepareParameterizedQuery();
    query.BindTextParameter(1, name.c_str());
    query.OpenParameterizedQuery();
    return !query.Eof();
  } catch (const std::runtime_error&) {
    add_error("index_name_exists", FSQLDB->GetLastDBErrorMessage());
    return false;
  }
}

// A failure anywhere rolls the whole creation or restructure back, so no
// back-up table or half-built table is ever left behind.
int TSMFWriter::CreateTable(int* pkey) {
  if (!has_definition("CreateTable")) return -1;
  if (FDefineTable->GetColumnsCount() == 0) {
    add_error("CreateTable", "No columns have been defined; inappropriate use of Qb_CreateTable");
    return -1;
  }
  std::string name = FDefineTable->GetTableName();
  if (name.empty()) {
    add_error("CreateTable", "No table name has been defined; inappropriate use of Qb_CreateTable");
    return -1;
  }
  bool restructure = FDefineTable->GetIsRestructuring();
  // Only a new table's row has a key to report.
  if (!restructure && pkey == nullptr) {
    add_error("CreateTable", "Parameter \"pkey\" must not be NULL");
    return -1;
  }
  if (restructure && !take_old_triggers(name)) return -1;
  TRebuildKeys keys(FSQLDB, restructure);  // outlives the scope: its settings come back after the commit
  TWriteScope scope(FSQLDB, FEnginePump, "TSMFWriter", "CreateTable", kCreateSavePoint);
  if (!scope.IsOpen()) return -1;
  bool built = false;
  try {
    built = build_table(name, restructure ? &keys : nullptr, pkey);
  } catch (const std::runtime_error& e) {
    add_error("CreateTable", e.what());
  }
  bool kept = scope.Finish(built);
  if (!keys.Restore()) {
    add_error("CreateTable", "Foreign keys could not be switched on again: the connection is still in a transaction");
    return -1;
  }
  if (!kept) return -1;
  return FSMF->replace_table_def(name, name) ? 0 : -1;
}

// The triggers of the table being restructured come back on the new one. A
// table that the model lacks (its triggers could not be read, say) is read
// again first, so that its triggers are not lost with the old table.
bool TSMFWriter::take_old_triggers(const std::string& name) {
  TTableDef* old = FTablesList->GetTable(name);
  if (old == nullptr && !main_table_named(name).empty()) {
    if (!FSMF->replace_table_def(name, name)) return false;
    old = FTablesList->GetTable(name);
  }
  for (int i = 0; old != nullptr && i < old->GetTriggerCount(); ++i) FDefineTable->AddTriggerDef(old->GetTrigger(i));
  return true;
}

bool TSMFWriter::build_table(const std::string& name, TRebuildKeys* rebuild, int* pkey) {
  if (rebuild != nullptr && !move_to_backup(name, *rebuild)) return false;
  std::string create = "CREATE TABLE [" + name + "]( [PKey] integer NOT NULL PRIMARY KEY, \n";
  for (unsigned i = 0; i < FDefineTable->GetColumnsCount(); ++i)
    create += (i == 0 ? "" : ", \n") + rtrim(FDefineTable->GetColumnDef(i)->GetFormattedDef(), " \t");
  if (!create_step(create + ");", "Unable to create table as defined")) return false;
  auto create_indexes = [this] {
    for (unsigned i = 0; i < FDefineTable->GetIndexCount(); ++i)
      if (!create_step(FDefineTable->GetIndexDef(i), "Unable to create index for restructured table")) return false;
    return true;
  };
  // Where foreign keys stay enforced, a reference to a unique column needs
  // its index before the rows come back.
  bool indexesFirst = rebuild != nullptr && rebuild->StayOn();
  if (indexesFirst && !create_indexes()) return false;
  if (rebuild != nullptr && !restore_rows(name, *rebuild)) return false;
  if (!indexesFirst && !create_indexes()) return false;
  return rebuild != nullptr ? references_kept(name, *rebuild) : register_table(name, pkey);
}

// The rows go to the back-up by a copy, not a rename, which would carry every
// trigger, view and reference of other tables along to the back-up. Only the
// metafile's own table is restructured, never one of an attached import source.
bool TSMFWriter::move_to_backup(const std::string& name, TRebuildKeys& rebuild) {
  std::string reason, sql;
  if (!rebuild.Count(name, reason, sql)) {
    report_create_failure(kBackupFailure, reason, sql);
    return false;
  }
  if (rebuild.StayOn()) {
    std::vector<std::string> acting;
    if (!column_values(FSQLDB, kDeleteActions, {name}, acting, reason)) {
      report_create_failure(kBackupFailure, reason, kDeleteActions);
      return false;
    }
    if (!acting.empty()) {
      add_error("CreateTable", kBackupFailure);
      add_error("CreateTable", "Rows of table [" + acting[0] + "] refer to this table with an ON DELETE action, "
                               "which its rebuild would run; restructure it outside a transaction");
      return false;
    }
    rebuild.Defer();
  }
  return create_step("CREATE TABLE main.[" + name + "_bak] AS SELECT * FROM main.[" + name + "];", kBackupFailure) &&
         create_step("DROP TABLE main.[" + name + "];", kBackupFailure);
}

// Copies the rows from the back-up by source column, with their keys, drops
// the back-up, and brings back the triggers of the trigger-maintained columns.
bool TSMFWriter::restore_rows(const std::string& name, TRebuildKeys& rebuild) {
  // Rows of other tables may refer to the keys, which the copy keeps.
  std::string targets = rebuild.KeepsRowKeys() ? ", [PKey]" : "", sources = targets;
  size_t keys = targets.size();
  for (unsigned i = 0; i < FDefineTable->GetColumnsCount(); ++i) {
    TDefineColumn* column = FDefineTable->GetColumnDef(i);
    if (*column->GetColumnSourceName() == '\0') continue;
    targets += ", [" + std::string(column->GetColumnName()) + "]";
    sources += ", [" + std::string(column->GetColumnSourceName()) + "]";
  }
  if (targets.size() > keys &&
      !create_step("INSERT INTO [" + name + "] (" + targets.substr(2) + ") SELECT " + sources.substr(2) + " FROM [" +
                       name + "_bak];",
                   kPortFailure))
    return false;
  if (!create_step("DROP TABLE IF EXISTS [" + name + "_bak];", "Unable to drop old/back-up table")) return false;
  // The rows are back: the checks that waited for them end before the triggers run.
  rebuild.EndDeferral();
  return reapply_triggers(name);
}

// Every row of another table that found its key in the table before finds
// it still, once the indexes that make a column a key are there.
bool TSMFWriter::references_kept(const std::string& name, TRebuildKeys& rebuild) {
  std::string reason, sql;
  if (rebuild.Kept(name, reason, sql)) return true;
  report_create_failure(kPortFailure, reason, sql);
  return false;
}

// A trigger comes back when it sets a trigger-maintained column; a trigger
// that the database refuses is passed over, one whose run throws fails the
// restructure. Updating every row then runs them.
bool TSMFWriter::reapply_triggers(const std::string& name) {
  bool reapplied = false;
  TSQLQuery query(FSQLDB);
  for (unsigned i = 0; i < FDefineTable->GetColumnsCount(); ++i) {
    TDefineColumn* column = FDefineTable->GetColumnDef(i);
    if (column->GetIsTriggerMaintained() == 0) continue;
    std::string setColumn = "SET [" + std::string(column->GetColumnName()) + "] ";
    for (unsigned t = 0; t < FDefineTable->GetTriggerCount(); ++t) {
      std::string trigger = FDefineTable->GetTriggerDef(t);
      if (trigger.find(setColumn) == std::string::npos) continue;
      query.SetSQLText(trigger, false);
      try {
        reapplied = query.ExecOneSQL() || reapplied;
      } catch (const std::runtime_error&) {
        report_create_failure("Unable to reapply trigger to restructured table", query.LastErrorMessage(), trigger);
        return false;
      }
    }
  }
  return !reapplied ||
         create_step("UPDATE [" + name + "] SET PKey = PKey;", "Unable to fire trigger(s) in restructured table");
}

bool TSMFWriter::create_step(const std::string& sql, const char* failure) {
  TSQLQuery query(FSQLDB);
  query.SetSQLText(sql, false);
  if (query.ExecOneSQL()) return true;
  report_create_failure(failure, query.LastErrorMessage(), sql);
  return false;
}

void TSMFWriter::report_create_failure(const char* failure, const std::string& reason, const std::string& sql) {
  add_error("CreateTable", failure);
  add_error("CreateTable", kCorrupted);
  add_error("CreateTable", reason);
  add_error("CreateTable", sql);
}

// The new table's catalogue row is written by a statement of its own, never
// through the row buffer: a row of RL_LookupTables that the host holds in
// insert or edit mode stays the host's.
bool TSMFWriter::register_table(const std::string& name, int* pkey) {
  *pkey = 0;
  if (!create_step("INSERT INTO [RL_LookupTables] ([TableName], [RecCount]) VALUES ('" + quote_sql_value(name) +
                       "', 0);",
                   "Unable to add newly-created table to RL_LookupTables"))
    return false;
  *pkey = static_cast<int>(sqlite3_last_insert_rowid(FSQLDB->Database()));
  return true;
}
