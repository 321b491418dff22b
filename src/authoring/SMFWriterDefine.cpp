// Defining lookup tables: the pending definition (name, columns with their
// exact declarations, index statements with free index names), and creating
// or restructuring the table from it inside one savepoint.
#include <cctype>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "api/SMF.h"
#include "authoring/RebuildKeys.h"
#include "authoring/SMFWriter.h"
#include "storage/SQLDB.h"
#include "storage/SQLQuery.h"
#include "storage/SchemaReads.h"
#include "storage/Utility.h"
#include "storage/WriteScope.h"

namespace {

const char* const kCreateSavePoint = "_CreateTable_";
const char* const kCatalogue = "RL_LookupTables";
const char* const kCorrupted = "WARNING: This metafile may now be corrupted; close without saving";
const size_t kIndexNameLength = 49;

const char* const kBackupFailure = "Unable to rename original table to a back-up name";
const char* const kPortFailure = "Unable to port data from old table structure to new";
const char* const kIndexFailure = "Unable to create index for restructured table";
const char* const kUniqueIndex = "CREATE UNIQUE INDEX ";
// How the database names a duplicate that a unique index refuses.
const char* const kDuplicate = "UNIQUE constraint failed: ";

bool given(const char* text) { return text != nullptr && *text != '\0'; }

bool is_integer(const std::string& text) {
  size_t start = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  return text.size() > start &&
         text.find_first_not_of("0123456789", start) == std::string::npos;
}

// The end of a unique index's statement over one column of a table.
std::string unique_index_target(const std::string& table, const std::string& column) {
  return " ON [" + table + "] ([" + column + "])";
}

// Letter case aside, as the database matches column names.
bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() &&
         posix_stricmp(text.c_str() + text.size() - end.size(), end.c_str()) == 0;
}

}  // namespace

const char* reserved_prefix(const std::string& tableName) {
  std::string upper = uppercase_string(tableName);
  if (upper.compare(0, 3, "RL_") == 0) return "RL_";
  if (upper.compare(0, 7, "SQLITE_") == 0) return "sqlite_";
  return nullptr;
}

bool is_control_table(const std::string& tableName) {
  const char* prefix = reserved_prefix(tableName);
  return prefix != nullptr && strcmp(prefix, "RL_") == 0;
}

std::vector<std::string> lookup_name_refusals(const std::string& tableName) {
  std::vector<std::string> refusals;
  if (const char* prefix = reserved_prefix(tableName))
    refusals.push_back(std::string("You may not start a look-up table name with \"") + prefix + "\"");
  if (!is_plain_identifier(tableName)) refusals.push_back("Invalid look-up table name \"" + tableName + "\"");
  return refusals;
}

std::string table_function_refusal(const std::string& tableName) {
  try {
    if (!names_table_function(tableName)) return std::string();
    return "Invalid look-up table name \"" + tableName +
           "\": the database reads it as a table-valued function, which a table of that name would hide";
  } catch (const std::runtime_error& e) {
    return "Cannot tell whether the database reads \"" + tableName + "\" as a table-valued function: " + e.what();
  }
}

std::string lookup_name_stem(const std::string& tableName) { return tableName.substr(0, 8) + "_"; }

bool TSMFWriter::lookup_name_allowed(const std::string& name, bool isNew, const char* method) {
  std::vector<std::string> refusals = lookup_name_refusals(name);
  if (refusals.empty() && isNew) {
    std::string refusal = table_function_refusal(name);
    if (!refusal.empty()) refusals.push_back(refusal);
  }
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
  if (!lookup_name_allowed(name, restructure == 0, "DefineTableStructure")) return -1;
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
                                : kUniqueIndex + index + unique_index_target(table, column));
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
  if (restructure && !no_reading_cursor("CreateTable", "Table \"" + name + "\" cannot be restructured")) return -1;
  TRebuildKeys keys(FSQLDB, restructure);  // outlives the scope: its settings come back after the commit
  TWriteScope scope(FSQLDB, FEnginePump, "TSMFWriter", "CreateTable", kCreateSavePoint);
  if (!scope.IsOpen()) return -1;
  bool built = false;
  try {
    // The table is taken as the file holds it under the write lock, whichever
    // connection changed it last.
    built = FSMF->follow_schema("CreateTable") && (!restructure || take_old_triggers(name)) &&
            build_table(name, restructure ? &keys : nullptr, pkey);
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
  // The model has just followed the file.
  if (rebuild != nullptr) rebuild->LimitReferrers(FTablesList->TablesWithForeignKeys());
  if (rebuild != nullptr && !move_to_backup(name, *rebuild)) return false;
  std::string create = "CREATE TABLE [" + name + "]( [PKey] integer NOT NULL PRIMARY KEY, \n";
  for (unsigned i = 0; i < FDefineTable->GetColumnsCount(); ++i)
    create += (i == 0 ? "" : ", \n") + rtrim(FDefineTable->GetColumnDef(i)->GetFormattedDef(), " \t");
  if (!create_step(create + ");", "Unable to create table as defined")) return false;
  std::string reason, sql;
  if (rebuild != nullptr && !rebuild->IndexReferringColumns(false, reason, sql)) {
    report_create_failure(kPortFailure, reason, sql);
    return false;
  }
  auto create_indexes = [this] {
    for (unsigned i = 0; i < FDefineTable->GetIndexCount(); ++i)
      if (!create_step(FDefineTable->GetIndexDef(i), kIndexFailure)) return false;
    return true;
  };
  // Where foreign keys stay enforced, a reference to a unique column needs
  // its index before the rows come back; everywhere else the indexes come last.
  bool indexesFirst = false;
  if (rebuild != nullptr && rebuild->StayOn())
    for (const std::string& column : rebuild->ReferredColumns())
      indexesFirst = indexesFirst || !unique_index_over(column).empty();
  if (indexesFirst && !create_indexes()) return false;
  if (rebuild != nullptr && !restore_rows(name, *rebuild, indexesFirst)) return false;
  if (!indexesFirst && !create_indexes()) return false;
  return rebuild != nullptr ? references_kept(*rebuild) : register_table(name, pkey);
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
    if (!rebuild_harmless(name, rebuild)) return false;
    rebuild.Defer();
    if (!rebuild.IndexReferringColumns(true, reason, sql)) {
      report_create_failure(kBackupFailure, reason, sql);
      return false;
    }
  }
  return create_step("CREATE TABLE main.[" + name + "_bak] AS SELECT * FROM main.[" + name + "];", kBackupFailure) &&
         create_step("DROP TABLE main.[" + name + "];", kBackupFailure);
}

// Inside the host's transaction, where foreign keys stay enforced, a rebuild
// that would run ON DELETE actions, or lose track of checks that the host's
// own writes left pending, is refused before anything is changed.
bool TSMFWriter::rebuild_harmless(const std::string& name, TRebuildKeys& rebuild) {
  std::string acting, pending, reason, sql;
  bool read = rebuild.DeleteActions(name, acting, reason, sql) &&
              (!acting.empty() || rebuild.Pending(pending, reason, sql));
  if (!read) {
    report_create_failure(kBackupFailure, reason, sql);
    return false;
  }
  if (!acting.empty()) {
    add_error("CreateTable", kBackupFailure);
    add_error("CreateTable", "Rows of table [" + acting + "] refer to this table with an ON DELETE action, "
                             "which its rebuild would run; restructure it outside a transaction");
  } else if (!pending.empty()) {
    add_error("CreateTable", kPortFailure);
    add_error("CreateTable", pending);
  }
  return acting.empty() && pending.empty();
}

// Copies the rows from the back-up by source column, with their keys, drops
// the back-up, and brings back the triggers of the trigger-maintained columns.
// With the indexes already there, a duplicate is still the index's failure.
bool TSMFWriter::restore_rows(const std::string& name, TRebuildKeys& rebuild, bool indexesFirst) {
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
                   kPortFailure, indexesFirst))
    return false;
  if (!create_step("DROP TABLE IF EXISTS [" + name + "_bak];", "Unable to drop old/back-up table")) return false;
  // The rows are back: the checks that waited for them end before the triggers run.
  rebuild.EndDeferral();
  return reapply_triggers(name, indexesFirst);
}

// Every row of another table that found a row of the table before finds the
// row of the same PKey still, once the indexes that make a column a key are there.
bool TSMFWriter::references_kept(TRebuildKeys& rebuild) {
  std::string reason, sql;
  if (rebuild.Kept(reason, sql)) return true;
  report_create_failure(kPortFailure, reason, sql);
  return false;
}

// A trigger comes back when it sets a trigger-maintained column; a trigger
// that the database refuses is passed over, one whose run throws fails the
// restructure. Updating every row then runs them.
bool TSMFWriter::reapply_triggers(const std::string& name, bool indexesFirst) {
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
  return !reapplied || create_step("UPDATE [" + name + "] SET PKey = PKey;",
                                   "Unable to fire trigger(s) in restructured table", indexesFirst);
}

bool TSMFWriter::create_step(const std::string& sql, const char* failure, bool indexesFirst) {
  TSQLQuery query(FSQLDB);
  query.SetSQLText(sql, false);
  if (query.ExecOneSQL()) return true;
  std::string reason = query.LastErrorMessage();
  std::string index = indexesFirst ? index_refusing(reason) : "";
  if (index.empty())
    report_create_failure(failure, reason, sql);
  else
    report_create_failure(kIndexFailure, reason, index);
  return false;
}

// The definition's unique index that refused a duplicate, as the database
// named it ("UNIQUE constraint failed: Zip.Code"); empty when none did.
std::string TSMFWriter::index_refusing(const std::string& reason) {
  std::string prefix = kDuplicate + std::string(FDefineTable->GetTableName()) + ".";
  return reason.compare(0, prefix.size(), prefix) == 0 ? unique_index_over(reason.substr(prefix.size())) : "";
}

// The statement of the definition's unique index over the column; empty when none.
std::string TSMFWriter::unique_index_over(const std::string& column) {
  std::string target = unique_index_target(FDefineTable->GetTableName(), column);
  for (unsigned i = 0; i < FDefineTable->GetIndexCount(); ++i) {
    std::string index = FDefineTable->GetIndexDef(i);
    if (index.compare(0, strlen(kUniqueIndex), kUniqueIndex) == 0 && ends_with(index, target)) return index;
  }
  return "";
}

void TSMFWriter::report_create_failure(const char* failure, const std::string& reason, const std::string& sql) {
  add_error("CreateTable", failure);
  add_error("CreateTable", kCorrupted);
  add_error("CreateTable", reason);
  add_error("CreateTable", sql);
}

// The new table's catalogue row is written by a statement of its own, never
// through the row buffer: a row of RL_LookupTables that the host holds in
// insert or edit mode stays the host's. Its key is one an int holds.
bool TSMFWriter::register_table(const std::string& name, int* pkey) {
  *pkey = 0;
  const char* failure = "Unable to add newly-created table to RL_LookupTables";
  auto insert = [&name](const TNewRowKey& key) {
    return "INSERT INTO [RL_LookupTables] (" + key.Column + "[TableName], [RecCount]) VALUES (" + key.Value + "'" +
           quote_sql_value(name) + "', 0);";
  };
  TNewRowKey key;
  TRowKey stored;
  try {
    key = new_row_key(FSQLDB, kCatalogue);
    if (!create_step(insert(key), failure)) return false;
    TSQLQuery query(FSQLDB);
    query.OpenSelect("SELECT PKey FROM [RL_LookupTables] WHERE rowid = last_insert_rowid();");
    stored = query.GetKeyFieldByNumber(0);
    if (stored.Found && !stored.Usable) throw TKeyRefusal(stored.Refusal(kCatalogue));
  } catch (const std::runtime_error& e) {
    report_create_failure(failure, e.what(), insert(key));
    return false;
  }
  *pkey = stored.Value;
  return true;
}
