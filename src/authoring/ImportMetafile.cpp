// The open import of one metafile: attaching and detaching the source, the
// import super user, and the copy of a lookup table from the source.
#include "authoring/ImportMetafile.h"

#include <cstring>
#include <functional>
#include <stdexcept>

#include "authoring/Qb_AccessController.h"
#include "authoring/SMFWriter.h"
#include "storage/EngineErrorsPump.h"
#include "storage/SQLDB.h"
#include "storage/SQLQuery.h"
#include "storage/SchemaReads.h"
#include "storage/Utility.h"
#include "storage/WriteScope.h"

namespace {

const char* const kSourceAlias = "SourceDB";
const char* const kNoAttachment = "No attached metafile (did you call attach_to_metafile()?)";
const char* const kImportSavePoint = "_ImportLookupTable_";
const size_t kRowRefreshTriggers = 5;  // from this many triggers on, rows are refreshed one by one
// Opens an existing file for reading and writing, never creating one.
const char* const kExistingFileMode = "?mode=rw";

// Runs one statement with `texts` bound; false with the database's reason.
bool run(TSQLQuery& runner, const std::string& sql, std::string& reason, const std::vector<std::string>& texts = {}) {
  runner.SetSQLText(sql, false);
  if (runner.ExecOneSQL(texts)) return true;
  reason = runner.LastErrorMessage();
  return false;
}

// Runs `take` on every row of an open reader; a failing step throws.
void each_row(TSQLQuery& reader, const std::function<void()>& take) {
  for (bool row = !reader.Eof(); row; row = reader.FetchNext() && !reader.Eof()) take();
  if (!reader.Eof()) throw std::runtime_error(reader.LastErrorMessage());
}

// The first column of every row of an open reader, as text.
std::vector<std::string> first_column(TSQLQuery& reader) {
  std::vector<std::string> texts;
  each_row(reader, [&] { texts.push_back(reader.GetFieldByNumber(0)); });
  return texts;
}

// The first column of every row of an open reader, as the values read.
std::vector<TSQLValue> first_column_values(TSQLQuery& reader) {
  std::vector<TSQLValue> values;
  each_row(reader, [&] { values.push_back(reader.GetValueByNumber(0)); });
  return values;
}

bool same_name(const char* a, const std::string& b) {
  return a != nullptr && posix_stricmp(a, b.c_str()) == 0;
}

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
  std::string Trigger;  // the name of the trigger it makes
};

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
      allowed = in_main(database) && same_name(first, check.Table);
      break;
    case SQLITE_CREATE_INDEX:
    case SQLITE_CREATE_TRIGGER:
      allowed = in_main(database) && same_name(second, check.Table);
      if (allowed && action == SQLITE_CREATE_TRIGGER) check.Trigger = first;
      break;
    case SQLITE_REINDEX:  // the index being made
      allowed = in_main(database);
      break;
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:  // the schema's own record of what is made
      allowed = in_main(database) && same_name(first, "sqlite_master");
      break;
    case SQLITE_READ:  // the table's own columns, in its checks and its indexes, and the schema's record
      allowed = in_main(database) && (same_name(first, check.Table) || same_name(first, "sqlite_master"));
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
// statement itself or in any trigger it fires, however deep.
int note_control_writes(void* owner, int action, const char* first, const char*, const char*, const char*) {
  std::string& written = *static_cast<std::string*>(owner);
  bool write = action == SQLITE_INSERT || action == SQLITE_UPDATE || action == SQLITE_DELETE;
  if (write && written.empty() && first != nullptr && uppercase_string(first).compare(0, 3, "RL_") == 0)
    written = first;
  return SQLITE_OK;
}

}  // namespace

TImportMetafile::TImportMetafile(TSQLDB* db, TEngineErrorsPump* pump, TQb_AccessController* access)
    : FSQLDB(db), FEngineErrorsPump(pump), FAccessController(access) {}

TImportMetafile::~TImportMetafile() {
  if (IsAttached()) Close();
}

void TImportMetafile::add_error(const char* method, const std::string& message) {
  FEngineErrorsPump->AddError("TImportMetafile", method, message);
}

// Records a failed step: what failed, the reason when there is one, and the statement.
void TImportMetafile::add_failure(const char* method, const std::string& what, const std::string& reason,
                                  const std::string& sql) {
  add_error(method, what);
  if (!reason.empty()) add_error(method, reason);
  add_error(method, "SQL: " + sql);
}

int TImportMetafile::Open(const char* path) {
  if (!FAlias.empty()) {
    add_error("Open", "Another instance of TImportMetafile is active");
    return -1;
  }
  FSourcePath = path;
  if (attach_to_metafile(FSourcePath) != 0) return -1;
  FAccessController->AddImportSuperUser(FSuperUserWasLoggedIn);
  return 0;
}

// The super user leaves once, even when the detach must be tried again.
int TImportMetafile::Close() {
  FAccessController->RemoveImportSuperUser(FSuperUserWasLoggedIn);
  FSuperUserWasLoggedIn = true;
  return detach_from_metafile();
}

// The path is bound, never pasted into the statement; a source that does not
// exist is refused by the database rather than made.
int TImportMetafile::attach_to_metafile(const std::string& path) {
  TSQLQuery query(FSQLDB);
  std::string sql = std::string("ATTACH DATABASE ? AS ") + kSourceAlias + ";", reason;
  if (run(query, sql, reason, {file_uri(path) + kExistingFileMode})) {
    FAlias = kSourceAlias;
    return 0;
  }
  add_failure("attach_to_metafile", "Cannot attach to metafile \"" + path + "\"", reason, sql);
  return -1;
}

int TImportMetafile::detach_from_metafile() {
  if (FAlias.empty()) {
    add_error("detach_from_metafile", kNoAttachment);
    return -1;
  }
  TSQLQuery query(FSQLDB);
  std::string sql = "DETACH DATABASE " + FAlias + ";", reason;
  if (run(query, sql, reason)) {
    FAlias.clear();
    return 0;
  }
  add_failure("detach_from_metafile", "Cannot detach from metafile aliased \"" + FAlias + "\"", reason, sql);
  return -1;
}

// The whole copy is one savepoint: a failure at any step leaves the metafile
// as it was. Control tables and the database's own tables are never copied.
int TImportMetafile::ImportLookupTable(const std::string& tableName) {
  if (FAlias.empty()) {
    add_error("ImportLookupTable", kNoAttachment);
    return -1;
  }
  if (const char* prefix = reserved_prefix(tableName)) {
    add_error("ImportLookupTable", std::string("You may not start a look-up table name with \"") + prefix + "\"");
    return -1;
  }
  std::string function = table_function_refusal(tableName);
  if (!function.empty()) {
    add_error("ImportLookupTable", function);
    return -1;
  }
  TWriteScope scope(FSQLDB, FEngineErrorsPump, "TImportMetafile", "ImportLookupTable", kImportSavePoint);
  if (!scope.IsOpen()) return -1;
  std::string step, reason;
  bool imported = false;
  try {
    imported = import_steps(tableName, step, reason);
  } catch (const std::runtime_error& e) {
    reason = e.what();
  }
  if (!imported) add_failure("ImportLookupTable", "Cannot import lookup table \"" + tableName + "\"", reason, step);
  return scope.Finish(imported) ? 0 : -1;
}

// The source's own texts create the table, its indexes and its triggers; the
// rows are copied before the triggers exist, which then fill their columns.
// The triggers are made one by one, each tested as soon as it is made.
// `step` is the statement the failure is reported with.
bool TImportMetafile::import_steps(const std::string& tableName, std::string& step, std::string& reason) {
  TSQLQuery runner(FSQLDB);
  std::vector<std::string> tables = source_texts(tableName, "table", step);
  if (tables.empty()) {
    reason = "The source metafile has no table of that name";
    return false;
  }
  std::string made;
  if (!run_definition(runner, tables.front(), tableName, made, reason)) return false;
  for (const std::string& index : source_texts(tableName, "index", step))
    if (!index.empty() && !run_definition(runner, index, tableName, made, reason))
      return false;  // UNIQUE constraints' indexes have no text
  std::string target = "main." + quote_identifier(tableName);
  step = "INSERT INTO " + target + " SELECT * FROM " + FAlias + "." + quote_identifier(tableName) + ";";
  if (!run(runner, step, reason)) return false;
  std::vector<std::string> triggers = source_texts(tableName, "trigger", step);
  std::vector<std::string> before;
  std::string written;
  if (!triggers.empty() && !firing_outcome(tableName, before, written, reason)) return false;
  for (const std::string& trigger : triggers)
    if (!run_definition(runner, trigger, tableName, made, reason) || !trigger_kept(tableName, made, before, reason))
      return false;
  if (triggers.empty()) return true;
  if (triggers.size() < kRowRefreshTriggers) {
    step = "UPDATE " + target + " SET PKey = PKey;";
    return run(runner, step, reason);
  }
  return refresh_rows(runner, target, step, reason);
}

// One refresh per distinct key, bound as it was read (no literal spells every
// real exactly): it finds every row of that key, all rows whose key is NULL at
// once, so each row is refreshed exactly once. The keys are all read before
// the first refresh, whose triggers may change the table.
bool TImportMetafile::refresh_rows(TSQLQuery& runner, const std::string& target, std::string& step,
                                   std::string& reason) {
  step = "SELECT DISTINCT PKey FROM " + target + ";";
  TSQLQuery reader(FSQLDB);
  reader.OpenSelect(step);
  std::vector<TSQLValue> keys = first_column_values(reader);
  step = "UPDATE " + target + " SET PKey=PKey WHERE PKey IS ?;";
  runner.SetSQLText(step, false);
  if (runner.ExecOneSQLPerValue(keys)) return true;
  reason = runner.LastErrorMessage();
  return false;
}

// Runs a text of the source once the database, preparing it, has reported
// that it makes nothing but the table, an index or a trigger on it in the
// metafile; `made` receives the name of the trigger it makes.
bool TImportMetafile::run_definition(TSQLQuery& runner, const std::string& text, const std::string& tableName,
                                     std::string& made, std::string& reason) {
  TDefinitionCheck check{tableName, "", ""};
  {
    TAuthorizerGuard guard(FSQLDB->Database(), authorize_definition, &check);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(FSQLDB->Database(), text.c_str(), -1, &statement, nullptr);
    sqlite3_finalize(statement);
  }
  if (!check.Refused.empty()) {
    reason = "A text of the source would make " + check.Refused + ", not table \"" + tableName +
             "\" or an index or a trigger of it in the metafile";
    return false;
  }
  made = check.Trigger;
  return run(runner, text, reason);
}

// Prepares (never runs) the statements that fire the table's triggers: the
// reason of each that does not compile, empty for each that does, and in
// `written` the first control table that any of them writes.
bool TImportMetafile::firing_outcome(const std::string& tableName, std::vector<std::string>& reasons,
                                     std::string& written, std::string& reason) {
  sqlite3* db = FSQLDB->Database();
  std::vector<std::string> statements;
  try {
    statements = firing_statements(db, tableName);
  } catch (const std::runtime_error& e) {
    reason = e.what();
    return false;
  }
  written.clear();
  reasons.clear();
  TAuthorizerGuard guard(db, note_control_writes, &written);
  for (const std::string& sql : statements) {
    sqlite3_stmt* statement = nullptr;
    int rc = sql.empty() ? SQLITE_OK : sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
    reasons.push_back(rc == SQLITE_OK ? std::string() : sqlite3_errmsg(db));
    sqlite3_finalize(statement);
  }
  return true;
}

// A trigger just made on the table may not write a control table, whenever
// it would fire and whatever its WHEN clause says, nor keep a statement on
// the table that compiled before it from compiling: a trigger that does not
// compile says nothing of what it would write once it does.
bool TImportMetafile::trigger_kept(const std::string& tableName, const std::string& trigger,
                                   const std::vector<std::string>& before, std::string& reason) {
  std::vector<std::string> now;
  std::string written;
  if (!firing_outcome(tableName, now, written, reason)) return false;
  if (!written.empty()) {
    reason = "Trigger \"" + trigger + "\" would write control table \"" + written + "\"";
    return false;
  }
  for (size_t i = 0; i < now.size() && i < before.size(); ++i) {
    if (!before[i].empty() || now[i].empty()) continue;
    reason = "Trigger \"" + trigger + "\" would not work in the metafile: " + now[i];
    return false;
  }
  return true;
}

// The source's texts of one kind for exactly that table name.
std::vector<std::string> TImportMetafile::source_texts(const std::string& tableName, const char* type,
                                                       std::string& step) {
  step = "SELECT m.sql FROM " + FAlias + ".sqlite_master m WHERE m.tbl_name = ? AND m.type LIKE '" + type + "%';";
  TSQLQuery reader(FSQLDB);
  reader.SetSQLText(step, true);
  reader.PrepareParameterizedQuery();
  reader.BindTextParameter(1, tableName.c_str());
  reader.OpenParameterizedQuery();
  return first_column(reader);
}
