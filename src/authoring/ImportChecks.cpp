// What an imported lookup table's source texts make, what its triggers
// would write and what its statements would write, told by the database's
// authorizer while statements are prepared (never run), and the names and
// foreign-key violations the database's catalogue and checks report.
#include "authoring/ImportChecks.h"

#include <sqlite3.h>

#include <cstring>
#include <stdexcept>

#include "authoring/SMFWriter.h"
#include "storage/SQLDB.h"
#include "storage/SchemaReads.h"
#include "storage/Utility.h"

namespace {

// A name the authorizer reports, which may be null.
bool names(const char* reported, const std::string& name) { return reported != nullptr && same_name(reported, name); }

bool in_main(const char* database) { return database != nullptr && strcmp(database, "main") == 0; }

// What the database reports while it prepares a text of the source: the
// text may make only the table of the import's name, an index or a trigger
// on it, in the metafile, reading nothing but that table. Anything else it
// would make, write or read, in the metafile, its temporary schema or the
// source (a table made as a copy of a control table's rows, say), is refused
// before the text runs.
struct TDefinitionCheck {
  std::string Table;
  std::string Refused;  // what the text would make or write beyond those
  TMade Made;
};

// The first of the table, index or trigger a text makes.
void note_made(TDefinitionCheck& check, const char* kind, const char* name) {
  if (check.Made.Kind.empty() && name != nullptr) check.Made = {kind, name};
}

std::string described(int action, const char* first, const char* second, const char* database) {
  auto name = [](const char* text) { return std::string("\"") + (text != nullptr ? text : "") + "\""; };
  std::string where = database != nullptr ? std::string(" in ") + database : std::string();
  switch (action) {
    case SQLITE_CREATE_INDEX:
    case SQLITE_CREATE_TEMP_INDEX:
      return "index " + name(first) + " on table " + name(second) + where;
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_CREATE_TEMP_TRIGGER:
      return "trigger " + name(first) + " on table " + name(second) + where;
    case SQLITE_CREATE_TABLE:
    case SQLITE_CREATE_TEMP_TABLE:
    case SQLITE_CREATE_VTABLE:
      return "table " + name(first) + where;
    case SQLITE_CREATE_VIEW:
    case SQLITE_CREATE_TEMP_VIEW:
      return "view " + name(first) + where;
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
      return "a write of table " + name(first) + where;
    case SQLITE_READ:
    case SQLITE_SELECT:
      return "a read of " + (first != nullptr ? "table " + name(first) + where : std::string("another table"));
    default:
      return "a change of another kind (" + std::to_string(action) + ")";
  }
}

int authorize_definition(void* owner, int action, const char* first, const char* second, const char* database,
                         const char*) {
  TDefinitionCheck& check = *static_cast<TDefinitionCheck*>(owner);
  bool allowed = false;
  switch (action) {
    case SQLITE_CREATE_TABLE:
    case SQLITE_CREATE_VTABLE:
      allowed = in_main(database) && names(first, check.Table);
      if (allowed) note_made(check, "table", first);
      break;
    case SQLITE_CREATE_INDEX:
    case SQLITE_CREATE_TRIGGER:
      allowed = in_main(database) && names(second, check.Table);
      if (allowed) note_made(check, action == SQLITE_CREATE_INDEX ? "index" : "trigger", first);
      break;
    case SQLITE_REINDEX:  // the index being made
      allowed = in_main(database);
      break;
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:  // the schema's own record of what is made
      allowed = in_main(database) && names(first, "sqlite_master");
      break;
    case SQLITE_READ:  // the table's own columns, in its checks and its indexes, and the schema's record
      allowed = in_main(database) && (names(first, check.Table) || names(first, "sqlite_master"));
      break;
    case SQLITE_FUNCTION:
      allowed = true;
      break;
  }
  if (allowed) return SQLITE_OK;
  if (check.Refused.empty()) check.Refused = described(action, first, second, database);
  return SQLITE_DENY;
}

// The first control table that a statement being prepared writes, in the
// statement itself or in any trigger it fires, however deep, and every
// trigger whose statements it compiles.
int note_firing(void* owner, int action, const char* first, const char*, const char*, const char* inner) {
  auto& firing = *static_cast<std::pair<std::string*, std::set<std::string>*>*>(owner);
  bool write = action == SQLITE_INSERT || action == SQLITE_UPDATE || action == SQLITE_DELETE;
  if (write && firing.first->empty() && first != nullptr && is_control_table(first))
    *firing.first = first;
  if (inner != nullptr) firing.second->insert(lowercase_string(inner));
  return SQLITE_OK;
}

bool recursive_triggers(sqlite3* db) {
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA recursive_triggers;", -1, &statement, nullptr);
  bool on = statement != nullptr && sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_int(statement, 0) != 0;
  sqlite3_finalize(statement);
  return on;
}

// While it lives, triggers fire triggers of their own table and a REPLACE
// fires DELETE triggers, as they do on a connection that sets
// recursive_triggers: what is compiled then holds what is compiled without.
class TRecursiveTriggers {
 public:
  // Throws when the setting cannot be made: the check would then miss triggers.
  explicit TRecursiveTriggers(sqlite3* db) : FDB(db), FWasOn(recursive_triggers(db)) {
    if (!FWasOn && sqlite3_exec(FDB, "PRAGMA recursive_triggers = ON;", nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(FDB));
  }
  ~TRecursiveTriggers() {
    if (!FWasOn) sqlite3_exec(FDB, "PRAGMA recursive_triggers = OFF;", nullptr, nullptr, nullptr);
  }
  TRecursiveTriggers(const TRecursiveTriggers&) = delete;
  TRecursiveTriggers& operator=(const TRecursiveTriggers&) = delete;

 private:
  sqlite3* FDB;
  bool FWasOn;
};

// What the database reports while it prepares a text of the source on that connection.
TDefinitionCheck prepared_definition(sqlite3* db, const std::string& text, const std::string& table) {
  TDefinitionCheck check{table, "", {}};
  TAuthorizerGuard guard(db, authorize_definition, &check);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, text.c_str(), -1, &statement, nullptr);
  sqlite3_finalize(statement);
  return check;
}

// Runs one statement; false when it does not run to its end.
bool run_alone(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  bool done = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK && statement != nullptr &&
              sqlite3_step(statement) == SQLITE_DONE;
  sqlite3_finalize(statement);
  return done;
}

}  // namespace

std::string definition_refusal(TSQLDB* db, const std::string& text, const std::string& table, TMade& made) {
  TDefinitionCheck check = prepared_definition(db->Database(), text, table);
  made = check.Made;
  if (check.Refused.empty()) return std::string();
  return "A text of the source would make " + check.Refused + ", not table \"" + table +
         "\" or an index or a trigger of it in the metafile";
}

std::string name_made_alone(const std::string& tableText, const std::string& text, const std::string& table) {
  try {
    TMemoryDatabase alone;
    if (!run_alone(alone.Database(), tableText)) return std::string();
    return prepared_definition(alone.Database(), text, table).Made.Name;
  } catch (const std::runtime_error&) {
    return std::string();
  }
}

const char* const kHeldObjectQuery =
    "SELECT '' AS [held], [type], [name] FROM [main].[sqlite_master] WHERE [name] = ?1 COLLATE NOCASE UNION ALL "
    "SELECT 'temporary ', [type], [name] FROM [temp].[sqlite_master] WHERE [name] = ?1 COLLATE NOCASE;";

std::string held_object(TSQLDB* db, const std::string& name) {
  std::vector<TSchemaRow> held = schema_rows(db->Database(), kHeldObjectQuery, {name}, {"held", "type", "name"});
  if (held.empty()) return std::string();
  return held[0][0] + held[0][1] + " \"" + held[0][2] + "\"";
}

std::string TImportTriggers::TableRefusal() {
  TFiring firing = fire();
  if (firing.Failure.empty()) return std::string();
  return "Table \"" + FTable + "\" does not take every statement in the metafile (" + firing.Failure +
         "), so what its triggers would write cannot be told";
}

void TImportTriggers::Made(const std::string& name, const std::string& text) {
  FNames.push_back(name);
  FTexts.push_back(text);
}

std::string TImportTriggers::Refusal() {
  std::string together = refusal(FNames);
  if (together.empty() || FNames.size() == 1) return together;
  for (const std::string& name : FNames) exec("DROP TRIGGER main." + quote_identifier(name) + ";");
  for (size_t i = 0; i < FNames.size(); ++i) {
    exec(FTexts[i]);
    std::string alone = refusal({FNames[i]});
    if (!alone.empty()) return alone;
    exec("DROP TRIGGER main." + quote_identifier(FNames[i]) + ";");
  }
  return together;
}

// Why the triggers of that list, the only ones on the table, may not stay.
std::string TImportTriggers::refusal(const std::vector<std::string>& names) {
  TFiring firing = fire();
  std::string who = names.size() == 1 ? "Trigger \"" + names[0] + "\"" : "A trigger of table \"" + FTable + "\"";
  if (!firing.Written.empty()) return who + " would write control table \"" + firing.Written + "\"";
  if (!firing.Failure.empty()) return who + " would not work in the metafile: " + firing.Failure;
  for (const std::string& name : names)
    if (firing.Fired.count(lowercase_string(name)) == 0)
      return "Trigger \"" + name + "\" fires on no statement that table \"" + FTable +
             "\" takes, so what it would write cannot be told";
  return std::string();
}

TImportTriggers::TFiring TImportTriggers::fire() {
  sqlite3* db = FDB->Database();
  std::vector<std::string> statements = firing_statements(db, FTable);
  TFiring firing;
  std::pair<std::string*, std::set<std::string>*> notes{&firing.Written, &firing.Fired};
  TRecursiveTriggers recursive(db);
  TAuthorizerGuard guard(db, note_firing, &notes);
  for (const std::string& sql : statements) {
    sqlite3_stmt* statement = nullptr;
    if (!sql.empty() && sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK &&
        firing.Failure.empty())
      firing.Failure = sqlite3_errmsg(db);
    sqlite3_finalize(statement);
  }
  return firing;
}

// A statement of the check's own, which must succeed.
void TImportTriggers::exec(const std::string& sql) {
  char* error = nullptr;
  int rc = sqlite3_exec(FDB->Database(), sql.c_str(), nullptr, nullptr, &error);
  std::string reason = error != nullptr ? error : "";
  sqlite3_free(error);
  if (rc != SQLITE_OK) throw std::runtime_error(reason);
}

namespace {

// Every table of the metafile that a statement being prepared writes.
int note_written(void* owner, int action, const char* first, const char*, const char* database, const char*) {
  bool write = action == SQLITE_INSERT || action == SQLITE_UPDATE || action == SQLITE_DELETE;
  if (write && first != nullptr && in_main(database))
    static_cast<std::set<std::string>*>(owner)->insert(lowercase_string(first));
  return SQLITE_OK;
}

// Whether the connection holds a deferred foreign-key check pending; when the
// database cannot say, it is taken to hold one, which only asks for the
// closer check.
bool checks_pending(TSQLDB* db) {
  int current = 0, highest = 0;
  return sqlite3_db_status(db->Database(), SQLITE_DBSTATUS_DEFERRED_FKS, &current, &highest, 0) != SQLITE_OK ||
         current != 0;
}

}  // namespace

TForeignKeyWatch::TForeignKeyWatch(TSQLDB* db) : FDB(db), FPending(checks_pending(db)) {}

void TForeignKeyWatch::Watch(const std::string& statement, std::string& sql) {
  std::set<std::string> written;
  {
    TAuthorizerGuard guard(FDB->Database(), note_written, &written);
    sqlite3_stmt* prepared = nullptr;
    sqlite3_prepare_v2(FDB->Database(), statement.c_str(), -1, &prepared, nullptr);
    sqlite3_finalize(prepared);
  }
  read_references(sql);
  for (const std::string& table : written) {
    watch_table(table, sql);
    auto children = FReferring.equal_range(table);
    for (auto child = children.first; child != children.second; ++child) watch_table(child->second, sql);
  }
}

// A write that finds the parent of a row broken before the import (by a
// connection without foreign keys) takes one off the pending count, which
// may so hide one the import breaks: the count alone cannot clear it.
bool TForeignKeyWatch::Broken(std::string& sql) {
  if (!FPending && checks_pending(FDB)) return true;
  for (const auto& [table, before] : FBefore)
    for (const auto& [violation, rows] : violations(table, sql)) {
      auto was = before.find(violation);
      if (rows > (was == before.end() ? 0 : was->second)) return true;
    }
  return false;
}

// While nothing is pending, a table whose violations cannot be read (a
// foreign key that finds no unique key to refer to) is left to the count:
// the database refuses the import's write of it on the same ground, with
// that statement's own text.
void TForeignKeyWatch::watch_table(const std::string& table, std::string& sql) {
  if (FBefore.count(table) != 0) return;
  try {
    FBefore[table] = violations(table, sql);
  } catch (const std::runtime_error&) {
    if (FPending) throw;
  }
}

TForeignKeyWatch::TViolations TForeignKeyWatch::violations(const std::string& table, std::string& sql) {
  sql = pragma_text("foreign_key_check", table);
  TViolations found;
  for (const TSchemaRow& row : pragma_rows(FDB->Database(), "foreign_key_check", table, {"rowid", "parent", "fkid"}))
    ++found[row];
  return found;
}

// Which tables refer to which, read once, before the first statement writes.
void TForeignKeyWatch::read_references(std::string& sql) {
  if (FReferencesRead) return;
  sql = kMainTableNamesQuery;
  for (const std::string& child : main_table_names(FDB->Database())) {
    sql = pragma_text("foreign_key_list", child);
    for (const TSchemaRow& key : pragma_rows(FDB->Database(), "foreign_key_list", child, {"table"}))
      FReferring.emplace(lowercase_string(key[0]), lowercase_string(child));
  }
  FReferencesRead = true;
}
