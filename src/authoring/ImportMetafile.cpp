// The open import of one metafile: attaching and detaching the source, the
// import super user, and the copy of a lookup table from the source.
#include "authoring/ImportMetafile.h"

#include <functional>
#include <stdexcept>

#include "authoring/ImportChecks.h"
#include "authoring/Qb_AccessController.h"
#include "authoring/SMFWriter.h"
#include "storage/EngineErrorsPump.h"
#include "storage/SQLDB.h"
#include "storage/SQLQuery.h"
#include "storage/Utility.h"
#include "storage/WriteScope.h"

namespace {

const char* const kSourceAlias = "SourceDB";
const char* const kNoAttachment = "No attached metafile (did you call attach_to_metafile()?)";
const char* const kImportSavePoint = "_ImportLookupTable_";
const char* const kForeignKeyFailed = "FOREIGN KEY constraint failed";
// The kinds of the source's catalogue rows that name what is made for a table besides itself.
const char* const kListedKinds[] = {"index", "trigger"};
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

// Whether the connection's last answer was busy: another connection held a
// database it reads, past the wait.
bool answered_busy(TSQLDB* db) { return (sqlite3_errcode(db->Database()) & 0xff) == SQLITE_BUSY; }

// Whether another connection holds the file so that it cannot be read now:
// asked of a connection of the import's own, which does not wait.
bool held_by_another(const std::string& path) {
  sqlite3* db = nullptr;
  bool held = sqlite3_open_v2((file_uri(path) + "?mode=ro").c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                              nullptr) == SQLITE_OK &&
              (sqlite3_exec(db, "PRAGMA schema_version;", nullptr, nullptr, nullptr) & 0xff) == SQLITE_BUSY;
  sqlite3_close(db);
  return held;
}

std::string cannot_import(const std::string& tableName) { return "Cannot import lookup table \"" + tableName + "\""; }

// The first column of every row of an open reader, as the values read.
std::vector<TSQLValue> first_column_values(TSQLQuery& reader) {
  std::vector<TSQLValue> values;
  each_row(reader, [&] { values.push_back(reader.GetValueByNumber(0)); });
  return values;
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

bool TImportMetafile::SourceHeld() const { return IsAttached() && FSQLDB->HoldsTransaction(FAlias.c_str()); }

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
  std::string step, reason;
  if (!FSQLDB->TakeWriteLockFirst(reason)) {
    add_error("ImportLookupTable", reason);
    return -1;
  }
  if (!names_free(tableName)) return -1;
  TWriteScope scope(FSQLDB, FEngineErrorsPump, "TImportMetafile", "ImportLookupTable", kImportSavePoint);
  if (!scope.IsOpen()) return -1;
  TForeignKeyWatch keys(FSQLDB);
  bool imported = false, keysKept = true;
  try {
    imported = import_steps(tableName, keys, step, reason);
    if (imported) imported = keysKept = !keys.Broken(step);
  } catch (const std::runtime_error& e) {
    imported = false;
    reason = e.what();
  }
  if (!keysKept)
    add_error("ImportLookupTable", kForeignKeyFailed);
  else if (!imported)
    add_failure("ImportLookupTable", cannot_import(tableName), reason, step);
  return scope.Finish(imported) ? 0 : -1;
}

// Decided before the first write, so that a refusal changes nothing and ends
// no read: every object an import makes is new, so the metafile may hold
// nothing under the table's name, nor under the name of an index or trigger
// that the source's catalogue lists for the table.
bool TImportMetafile::names_free(const std::string& tableName) {
  std::string step, held;
  try {
    held = held_name(tableName, step);
    for (const char* kind : kListedKinds)
      for (const std::string& name : source_column(tableName, "name", kind, step))
        if (held.empty()) held = held_name(name, step);
  } catch (const std::runtime_error& e) {
    add_failure("ImportLookupTable", cannot_import(tableName), e.what(), step);
    return false;
  }
  if (held.empty()) return true;
  add_error("ImportLookupTable", cannot_import(tableName));
  add_error("ImportLookupTable", "The metafile already holds " + held);
  return false;
}

// Preparing the read loads the schema of every database the connection has
// not read yet, the source's too.
std::string TImportMetafile::held_name(const std::string& name, std::string& step) {
  step = kHeldObjectQuery;
  try {
    return held_object(FSQLDB, name);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(source_reason(e.what()));
  }
}

std::string TImportMetafile::source_reason(const std::string& reason) const {
  if (!answered_busy(FSQLDB) || !held_by_another(FSourcePath)) return reason;
  return "The source metafile \"" + FSourcePath + "\" is locked by another connection";
}

// The source's own texts create the table, its indexes and its triggers; the
// rows are copied before the triggers exist, which then fill their columns
// once they are tested. `step` is the statement the failure is reported with.
bool TImportMetafile::import_steps(const std::string& tableName, TForeignKeyWatch& keys, std::string& step,
                                   std::string& reason) {
  TSQLQuery runner(FSQLDB);
  std::vector<std::string> tables = source_column(tableName, "sql", "table", step);
  if (tables.empty()) {
    reason = "The source metafile has no table of that name";
    return false;
  }
  TDefinitions definitions{tableName, tables.front(), nullptr};
  if (!run_definition(runner, definitions, tables.front(), reason)) return false;
  for (const std::string& index : source_column(tableName, "sql", "index", step))
    if (!index.empty() && !run_definition(runner, definitions, index, reason))
      return false;  // UNIQUE constraints' indexes have no text
  std::string target = "main." + quote_identifier(tableName);
  std::string copy = "INSERT INTO " + target + " SELECT * FROM " + FAlias + "." + quote_identifier(tableName) + ";";
  keys.Watch(copy, step);
  step = copy;
  if (!run(runner, step, reason)) {
    reason = source_reason(reason);
    return false;
  }
  std::vector<std::string> triggers = source_column(tableName, "sql", "trigger", step);
  if (triggers.empty()) return true;
  TImportTriggers made(FSQLDB, tableName);
  reason = made.TableRefusal();
  if (!reason.empty()) return false;
  definitions.Triggers = &made;
  for (const std::string& trigger : triggers)
    if (!run_definition(runner, definitions, trigger, reason)) return false;
  reason = made.Refusal();
  if (!reason.empty()) return false;
  if (triggers.size() < kRowRefreshTriggers) {
    std::string refresh = "UPDATE " + target + " SET PKey = PKey;";
    keys.Watch(refresh, step);
    step = refresh;
    return run(runner, step, reason);
  }
  return refresh_rows(runner, target, keys, step, reason);
}

// One refresh per distinct key, bound as it was read (no literal spells every
// real exactly): it finds every row of that key, all rows whose key is NULL at
// once, so each row is refreshed exactly once. The keys are all read before
// the first refresh, whose triggers may change the table.
bool TImportMetafile::refresh_rows(TSQLQuery& runner, const std::string& target, TForeignKeyWatch& keys,
                                   std::string& step, std::string& reason) {
  step = "SELECT DISTINCT PKey FROM " + target + ";";
  TSQLQuery reader(FSQLDB);
  reader.OpenSelect(step);
  std::vector<TSQLValue> values = first_column_values(reader);
  std::string refresh = "UPDATE " + target + " SET PKey=PKey WHERE PKey IS ?;";
  keys.Watch(refresh, step);
  step = refresh;
  runner.SetSQLText(step, false);
  if (runner.ExecOneSQLPerValue(values)) return true;
  reason = runner.LastErrorMessage();
  return false;
}

// Runs a text of the source once the database, preparing it, has reported
// that it makes nothing but the table, an index or a trigger on it in the
// metafile; a trigger it makes joins the definitions' triggers, when they
// are kept. A text that, run, leaves the schema as it was has made nothing
// new (an IF NOT EXISTS over a name taken) and is refused.
bool TImportMetafile::run_definition(TSQLQuery& runner, const TDefinitions& definitions, const std::string& text,
                                     std::string& reason) {
  TMade made;
  int before = 0, after = 0;
  reason = definition_refusal(FSQLDB, text, definitions.Table, made);
  if (!reason.empty() || !FSQLDB->ReadSchemaVersion(before, reason) || !run(runner, text, reason) ||
      !FSQLDB->ReadSchemaVersion(after, reason))
    return false;
  if (after == before) {
    reason = nothing_new(definitions, text, made);
    return false;
  }
  if (definitions.Triggers != nullptr && made.Kind == "trigger") definitions.Triggers->Made(made.Name, text);
  return true;
}

// Why a text of the source that made nothing is refused: what the metafile
// already holds under the name the text gives, which the database reports
// for an index or a trigger only where that name is free.
std::string TImportMetafile::nothing_new(const TDefinitions& definitions, const std::string& text, const TMade& made) {
  std::string name = !made.Name.empty() ? made.Name : name_made_alone(definitions.TableText, text, definitions.Table);
  std::string held = name.empty() ? std::string() : held_object(FSQLDB, name);
  return "A text of the source makes nothing new in the metafile" +
         (held.empty() ? std::string() : ", which already holds " + held);
}

// One column of the source's catalogue rows of one kind for exactly that
// table name.
std::vector<std::string> TImportMetafile::source_column(const std::string& tableName, const char* column,
                                                        const char* kind, std::string& step) {
  step = std::string("SELECT m.") + column + " FROM " + FAlias +
         ".sqlite_master m WHERE m.tbl_name = ? AND m.type LIKE '" + kind + "%';";
  TSQLQuery reader(FSQLDB);
  try {
    reader.SetSQLText(step, true);
    reader.PrepareParameterizedQuery();
    reader.BindTextParameter(1, tableName.c_str());
    reader.OpenParameterizedQuery();
    return first_column(reader);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(source_reason(e.what()));
  }
}
