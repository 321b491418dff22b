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
// rows are copied before the triggers exist, which then fill their columns
// once they are tested. `step` is the statement the failure is reported with.
bool TImportMetafile::import_steps(const std::string& tableName, std::string& step, std::string& reason) {
  TSQLQuery runner(FSQLDB);
  std::vector<std::string> tables = source_texts(tableName, "table", step);
  if (tables.empty()) {
    reason = "The source metafile has no table of that name";
    return false;
  }
  if (!run_definition(runner, tables.front(), tableName, nullptr, reason)) return false;
  for (const std::string& index : source_texts(tableName, "index", step))
    if (!index.empty() && !run_definition(runner, index, tableName, nullptr, reason))
      return false;  // UNIQUE constraints' indexes have no text
  std::string target = "main." + quote_identifier(tableName);
  step = "INSERT INTO " + target + " SELECT * FROM " + FAlias + "." + quote_identifier(tableName) + ";";
  if (!run(runner, step, reason)) return false;
  std::vector<std::string> triggers = source_texts(tableName, "trigger", step);
  if (triggers.empty()) return true;
  TImportTriggers made(FSQLDB, tableName);
  reason = made.TableRefusal();
  if (!reason.empty()) return false;
  for (const std::string& trigger : triggers)
    if (!run_definition(runner, trigger, tableName, &made, reason)) return false;
  reason = made.Refusal();
  if (!reason.empty()) return false;
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
// metafile; a trigger it makes joins `triggers`, when given.
bool TImportMetafile::run_definition(TSQLQuery& runner, const std::string& text, const std::string& tableName,
                                     TImportTriggers* triggers, std::string& reason) {
  std::string trigger;
  reason = definition_refusal(FSQLDB, text, tableName, trigger);
  if (!reason.empty() || !run(runner, text, reason)) return false;
  if (triggers != nullptr && !trigger.empty()) triggers->Made(trigger, text);
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
