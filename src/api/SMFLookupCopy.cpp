// TSMF: renaming and copying a lookup table. The new table is made from the
// old one's stored texts: its CREATE text, rows, catalogue row in
// RL_LookupTables, indexes and triggers, all inside one savepoint, and then
// read into the table model. A rename that another table's foreign key would
// leave naming the old table is refused first; one after which a view or
// trigger that worked no longer does, as the database reads them, is undone
// and refused.
#include <algorithm>
#include <stdexcept>
#include <vector>

#include "api/SMF.h"
#include "api/SMFRenameCheck.h"
#include "api/SMFRenameTexts.h"
#include "authoring/SMFWriter.h"
#include "storage/SQLDB.h"
#include "storage/SQLQuery.h"
#include "storage/SchemaReads.h"
#include "storage/TableStats.h"
#include "storage/Utility.h"
#include "storage/WriteScope.h"

namespace {

const char* const kMethod = "RenameLookupTable";
const char* const kRenameSavePoint = "_RenameLookupTable_";

typedef std::vector<std::string> TRow;

// The rows of a select of the library's own, `text` bound to its parameter
// ?1, each of its first `columns` columns; a row that cannot be read throws,
// so that none is left out unnoticed ("Cannot read the " + `what`).
std::vector<TRow> bound_rows(TSQLQuery& query, const std::string& sql, const std::string& text, int columns,
                             const std::string& what) {
  query.SetSQLText(sql, true);
  query.PrepareParameterizedQuery();
  query.BindTextParameter(1, text.c_str());
  query.OpenParameterizedQuery();
  std::vector<TRow> rows;
  for (bool row = !query.Eof(); row; row = !query.Eof()) {
    rows.emplace_back();
    for (int i = 0; i < columns; ++i) rows.back().push_back(query.GetFieldByNumber(i));
    if (!query.FetchNext()) throw std::runtime_error("Cannot read the " + what);
  }
  query.ReleaseParameterizedQuery();
  return rows;
}

// The stored texts of one kind ("table", "index", "trigger") of exactly that
// table, each with its name before it.
std::vector<TRow> schema_entries(TSQLQuery& query, const std::string& tableName, const char* type) {
  const std::string sql = std::string("SELECT [name], [sql] FROM [sqlite_master] WHERE [tbl_name] = ? COLLATE NOCASE "
                                      "AND [type] = '") +
                          type + "';";
  const std::string what = std::string(type) + " texts of table \"" + tableName + "\"";
  return bound_rows(query, sql, tableName, 2, what);
}

// What a statement made, as the database reports while it prepares it:
// each index or trigger, with the table it is on and its schema.
struct TMade {
  int Action;
  std::string Name, Table, Database;
};

int note_made(void* owner, int action, const char* first, const char* second, const char* database, const char*) {
  bool made = action == SQLITE_CREATE_INDEX || action == SQLITE_CREATE_TEMP_INDEX ||
              action == SQLITE_CREATE_TRIGGER || action == SQLITE_CREATE_TEMP_TRIGGER;
  if (made)
    static_cast<std::vector<TMade>*>(owner)->push_back(
        {action, first != nullptr ? first : "", second != nullptr ? second : "", database != nullptr ? database : ""});
  return SQLITE_OK;
}

// The names that an index's (or a trigger's) text changes when its table is renamed.
TRenamedNames renamed_names(bool isIndex, const std::string& oldName, const std::string& newName) {
  const std::string mark = isIndex ? "x" : "_";
  return {oldName, newName, mark + lookup_name_stem(oldName), mark + lookup_name_stem(newName)};
}

// The first other table of `tables` (those of the main database that hold a
// foreign key, by name) whose foreign key refers to the table; empty when none does.
std::string referring_table(sqlite3* db, const std::string& table, const std::vector<std::string>& tables) {
  try {
    for (const std::string& name : tables) {
      if (same_name(name, table)) continue;
      for (const TSchemaRow& key : pragma_rows(db, "foreign_key_list", name, {"table"}))
        if (same_name(key[0], table)) return name;
    }
    return std::string();
  } catch (const std::runtime_error& e) {
    throw std::runtime_error("Cannot read the tables that refer to table \"" + table + "\": " + e.what());
  }
}

// A copy whose own trigger, re-made on it, does not work there.
std::string copy_refusal(const std::string& oldName, const std::string& newName, const TBrokenObject& broken) {
  return "Table \"" + oldName + "\" cannot be copied: " + broken.Kind + " \"" + broken.Name +
         "\", re-made on table \"" + newName + "\", would not work there: " + broken.Reason;
}

std::string rename_refusal(const std::string& oldName, const std::string& referrer) {
  return "Table \"" + oldName + "\" cannot be renamed: " + referrer +
         " refers to it, and would be left naming a table that is gone";
}

}  // namespace

int TSMF::RenameLookupTable(const char* oldName, const char* newName, bool isRename, int agencyPKey,
                            bool* referredTo) {
  if (!parameters_given(kMethod, {{oldName, "oldName"}, {newName, "newName"}})) return -1;
  TTableDef* oldDef = FTablesList->GetTable(oldName);
  if (oldDef == nullptr) {
    add_error(kMethod, std::string("Cannot find table named \"") + oldName + "\"");
    return -1;
  }
  if (!rename_allowed(oldName, newName, isRename)) return -1;
  // The name of one of the database's own table-valued functions changes
  // nothing and warns of no danger.
  std::string function = table_function_refusal(newName);
  if (!function.empty()) {
    add_error(kMethod, function);
    if (referredTo != nullptr) *referredTo = true;
    return -1;
  }
  TWriteScope scope(FSQLDB, FEnginePump, "TSMF", kMethod, kRenameSavePoint);
  if (!scope.IsOpen()) return -1;
  TTableDef* newDef = nullptr;
  {  // the statements end before the commit
    TSQLQuery query(FSQLDB);
    try {
      bool refused = isRename && rename_refused(oldName);
      std::map<std::string, std::string> remade;
      if (!refused) {
        // Which views and triggers work is taken before anything changes.
        TRenameCheck check(FSQLDB, oldName, isRename);
        if (copy_lookup_table(query, oldName, newName, isRename, agencyPKey, remade)) {
          TBrokenObject broken;
          if (check.FindBroken(newName, remade, broken)) {
            refused = isRename;
            add_error(kMethod, isRename ? rename_refusal(oldName, broken.Kind + " \"" + broken.Name + "\"")
                                        : copy_refusal(oldName, newName, broken));
          } else if (read_table_def(newName, oldDef)) {
            std::swap(newDef, FCurrentTableDef);
          } else {
            add_error(kMethod, std::string("Failure to read the definition of table \"") + newName + "\"");
          }
        }
      }
      if (refused && referredTo != nullptr) *referredTo = true;
    } catch (const TRenameCheckFailure& e) {
      add_error(kMethod, e.what());
    } catch (const std::runtime_error& e) {
      add_error(kMethod, e.what());
      add_error(kMethod, failure_reason(query));
    }
  }
  if (!scope.Finish(newDef != nullptr)) {
    delete newDef;
    return -1;
  }
  FTablesList->RemoveTable(FTablesList->GetTable(newName));
  FTablesList->AddTable(newDef);
  if (isRename) FTablesList->RemoveTable(oldDef);
  return 0;
}

// Every refusal is recorded before the answer. New names are plain
// identifiers, since they are pasted into the old table's stored texts.
bool TSMF::rename_allowed(const std::string& oldName, const std::string& newName, bool isRename) {
  bool allowed = true;
  auto refuse = [&](const std::string& message) {
    add_error(kMethod, message);
    allowed = false;
  };
  if (uppercase_string(oldName) == uppercase_string(newName)) refuse("Old table name and new table name are the same");
  if (is_control_table(oldName))
    refuse(std::string("You may not ") + (isRename ? "rename" : "copy") +
           " a metafile control table (starts with \"RL_\")");
  for (const std::string& refusal : lookup_name_refusals(newName)) refuse(refusal);
  return allowed;
}

// Another table whose foreign key refers to the table would be left naming
// one that is gone, and the drop of the old table would meet the rows that
// refer to it: the rename is refused before anything changes.
bool TSMF::rename_refused(const std::string& oldName) {
  // The writer's post has had the model follow the file.
  std::string referrer = referring_table(FSQLDB->Database(), oldName, FTablesList->TablesWithForeignKeys());
  if (!referrer.empty()) add_error(kMethod, rename_refusal(oldName, "table \"" + referrer + "\""));
  return !referrer.empty();
}

bool TSMF::run_rename_step(TSQLQuery& query, const std::string& sql, const char* failure) {
  query.SetSQLText(sql, false);
  if (query.ExecOneSQL()) return true;
  add_error(kMethod, failure);
  add_error(kMethod, query.LastErrorMessage());
  add_error(kMethod, "SQL: " + sql);
  return false;
}

// `remade` receives the new name of each trigger re-made on the new table
// (lower-cased), mapped to its old name.
bool TSMF::copy_lookup_table(TSQLQuery& query, const std::string& oldName, const std::string& newName,
                             bool isRename, int agencyPKey, std::map<std::string, std::string>& remade) {
  std::vector<TRow> indexes = schema_entries(query, oldName, "index");
  std::vector<TRow> triggers = schema_entries(query, oldName, "trigger");
  std::vector<TRow> tables = schema_entries(query, oldName, "table");
  std::string create = tables.empty() ? std::string() : tables.front()[1];
  if (!run_rename_step(query, rename_schema_text(create, {oldName, newName, "", ""}),
                       "CREATE TABLE under new name failed") ||
      !run_rename_step(query, "INSERT INTO [" + newName + "] SELECT * FROM " + quote_identifier(oldName) + ";",
                       "Failure to copy data from old table into new table"))
    return false;
  std::string quotedOld = quote_sql_value(oldName);
  if (isRename ? !run_rename_step(query,
                                  "UPDATE [RL_LookupTables] SET [TableName] = '" + newName +
                                      "' WHERE [TableName] = '" + quotedOld + "';",
                                  "Failure to update table name in RL_LookupTables")
               : !add_copy_to_catalogue(query, oldName, newName, agencyPKey))
    return false;
  return recreate_on_table(query, indexes, "index", oldName, newName, nullptr) &&
         recreate_on_table(query, triggers, "trigger", oldName, newName, &remade) &&
         (!isRename || run_rename_step(query, "DROP TABLE IF EXISTS " + quote_identifier(oldName) + ";",
                                       "Failure to drop old table from the database (metafile)"));
}

// The copy's catalogue row takes the old table's count and comments, and a
// key an int holds.
bool TSMF::add_copy_to_catalogue(TSQLQuery& query, const std::string& oldName, const std::string& newName,
                                 int agencyPKey) {
  const char* failure = "Failure to add new table to RL_LookupTables";
  TNewRowKey key;
  try {
    key = new_row_key(FSQLDB, "RL_LookupTables");
  } catch (const TKeyRefusal& e) {
    add_error(kMethod, failure);
    add_error(kMethod, e.what());
    return false;
  }
  char now[32] = "";
  get_current_date_time(now, sizeof now - 1);
  return run_rename_step(query,
                         "INSERT INTO [RL_LookupTables] (" + key.Column +
                             "[AgencyPKey], [TableName], [RecCount], [LastModDate], [Comments]) SELECT " + key.Value +
                             intToString(agencyPKey) + ", '" + newName + "', a.[RecCount], '" + now +
                             "', a.[Comments] FROM [RL_LookupTables] a WHERE a.[TableName] = '" +
                             quote_sql_value(oldName) + "';",
                         failure);
}

// Runs the old table's index or trigger texts (each after its name) with
// their names and the table they are on rewritten (and the table that a
// trigger's statements write). Each must make one of its kind on the new
// table in the metafile, as the database reports while it prepares it, so
// that none is left on the old table unnoticed; `remade`, when given, maps
// the new name of each (lower-cased), as the database holds it, to the old one.
bool TSMF::recreate_on_table(TSQLQuery& query, const std::vector<std::vector<std::string>>& entries,
                             const char* type, const std::string& oldName, const std::string& newName,
                             std::map<std::string, std::string>* remade) {
  const bool isIndex = std::string(type) == "index";
  const TRenamedNames names = renamed_names(isIndex, oldName, newName);
  std::string failure = std::string("Failure to create ") + type;
  for (const TRow& entry : entries) {
    // Automatic indexes of UNIQUE constraints have no text; the CREATE text makes them.
    if (entry[1].empty()) continue;
    std::string sql = rename_schema_text(entry[1], names);
    std::vector<TMade> made;
    bool ran;
    {
      TAuthorizerGuard guard(FSQLDB->Database(), note_made, &made);
      ran = run_rename_step(query, sql, failure.c_str());
    }
    if (!ran) return false;
    const int action = isIndex ? SQLITE_CREATE_INDEX : SQLITE_CREATE_TRIGGER;
    if (made.size() != 1 || made[0].Action != action || made[0].Database != "main" ||
        !same_name(made[0].Table, newName)) {
      add_error(kMethod, failure.c_str());
      add_error(kMethod, std::string("The ") + type + " was not made on table \"" + newName + "\"");
      add_error(kMethod, "SQL: " + sql);
      return false;
    }
    if (remade != nullptr) (*remade)[lowercase_string(made[0].Name)] = entry[0];
  }
  return true;
}
