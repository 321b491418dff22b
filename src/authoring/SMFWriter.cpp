// The row-editing component of one open metafile: access rights, entering and
// leaving edit or insert mode, buffering values, uniqueness checks, agency
// stamping and the writer's own transaction statements.
#include "authoring/SMFWriter.h"

#include <cstring>
#include <stdexcept>

#include "api/SMF.h"
#include "authoring/Qb_AccessController.h"
#include "storage/EngineErrorsPump.h"
#include "storage/SQLDB.h"
#include "storage/SQLQuery.h"
#include "storage/Utility.h"
#include "storage/WriteScope.h"

namespace {

const char* const kClearPivotsSavePoint = "_ClearEditLogicPivots_";
const char* const kObjectRefusal = "You do not have access rights to modify this object";

// Where the owning agency of a row is read: the row's own AgencyPKey, or
// that of the layout, edit set or edit that owns a pivot row.
struct TRowOwner {
  TRL_MCO Kind;
  const char* Table;
  const char* OwnerTable;
  const char* OwnerKey;
};

const TRowOwner kRowOwners[] = {
    {mcoEdits, "RL_Edits", nullptr, nullptr},
    {mcoEditSets, "RL_EditSets", nullptr, nullptr},
    {mcoFields, "RL_Fields", nullptr, nullptr},
    {mcoLayouts, "RL_Layouts", nullptr, nullptr},
    {mcoMessages, "RL_Messages", nullptr, nullptr},
    {mcoLookupTables, "RL_LookupTables", nullptr, nullptr},
    {mcoLayoutFieldsPivot, "RL_LayoutFieldsPivot", "RL_Layouts", "LayoutPKey"},
    {mcoEditSetEditsPivot, "RL_EditSetEditsPivot", "RL_EditSets", "EditSetPKey"},
    {mcoEditFieldsPivot, "RL_EditFieldsPivot", "RL_Edits", "EditPKey"},
    {mcoEditTablesPivot, "RL_EditTablesPivot", "RL_Edits", "EditPKey"},
    {mcoEditMessagesPivot, "RL_EditMessagesPivot", "RL_Edits", "EditPKey"},
    {mcoEditErrorsPivot, "RL_EditErrorsPivot", "RL_Edits", "EditPKey"},
};

// The owner of the row whose PKey is bound to its one parameter: no row when
// the row is not there, NULL when it is there without an owner row.
std::string owner_statement(const TRowOwner& owner) {
  if (owner.OwnerTable == nullptr)
    return std::string("SELECT [AgencyPKey] FROM [") + owner.Table + "] WHERE [PKey] = ?;";
  return std::string("SELECT b.[AgencyPKey] FROM [") + owner.Table + "] a LEFT JOIN [" + owner.OwnerTable +
         "] b ON a.[" + owner.OwnerKey + "] = b.[PKey] WHERE a.[PKey] = ?;";
}

std::string in_quotes(const std::string& name) { return "\"" + name + "\""; }

// The first row of a SELECT with one key bound, or no row when it has none or
// cannot run.
void read_first_row(TSQLQuery& query, const std::string& sql, int key) {
  try {
    query.SetSQLText(sql, true);
    query.PrepareParameterizedQuery();
    query.BindIntParameter(1, key);
    query.OpenParameterizedQuery();
  } catch (const std::runtime_error&) {
    query.SetIsActive(false);
  }
}

}  // namespace

bool TSMFWriter::is_column(const TFieldDef* field, const char* schemaName) {
  return posix_stricmp(field->GetFieldName(), schemaName) == 0;
}

TSMFWriter::TSMFWriter(TSMF* owner, TSQLDB* db, TEngineErrorsPump* pump, TQb_AccessController* access,
                       TTablesList* tables)
    : FSMF(owner), FSQLDB(db), FEnginePump(pump), FAccessController(access), FTablesList(tables),
      FDefineTable(new TDefineTable()) {}

TSMFWriter::~TSMFWriter() { delete FDefineTable; }

// Every rights test reads a row's owner, and every post checks its row: their
// statements are kept for the handle's life (the database prepares them again
// when the schema moves).
TSQLQuery& TSMFWriter::kept_query(const std::string& sql) {
  std::unique_ptr<TSQLQuery>& query = FKeptQueries[sql];
  if (query == nullptr) {
    query.reset(new TSQLQuery(FSQLDB));
    try {
      query->SetBoundSQLText(sql);
      query->PrepareParameterizedQuery();
    } catch (const std::runtime_error&) {
      std::string reason = query->LastErrorMessage();
      FKeptQueries.erase(sql);
      throw std::runtime_error(reason);
    }
  }
  return *query;
}

// The first column of a kept statement's first row, not found without a row.
// A statement that fails throws, and is prepared afresh by its next use.
TRowKey TSMFWriter::kept_first_key(const std::string& sql, const std::function<void(TSQLQuery&)>& bind) {
  TSQLQuery& query = kept_query(sql);
  try {
    bind(query);
    query.OpenParameterizedQuery();
    TRowKey key = query.GetKeyFieldByNumber(0);
    query.ResetParameterizedQuery();
    return key;
  } catch (const std::runtime_error&) {
    std::string reason = query.LastErrorMessage();
    FKeptQueries.erase(sql);
    throw std::runtime_error(reason);
  }
}

void TSMFWriter::add_error(const char* method, const std::string& message) {
  FEnginePump->AddError("TSMFWriter", method, message);
}

bool TSMFWriter::no_reading_cursor(const char* method, const std::string& what) {
  std::string refusal = FSMF->ReadingCursorRefusal(what);
  if (!refusal.empty()) add_error(method, refusal);
  return refusal.empty();
}

bool TSMFWriter::exec_logged(const char* method, const std::string& sql, TRowKey* returned) {
  TSQLQuery query(FSQLDB);
  query.SetSQLText(sql, false);
  if (query.ExecOneSQL({}, returned)) return true;
  add_error(method, query.LastErrorMessage());
  add_error(method, "SQL: " + sql);
  return false;
}

int TSMFWriter::ClearEditLogicPivots(int editPKey) {
  static const char* const pivots[] = {"RL_EditFieldsPivot", "RL_EditTablesPivot", "RL_EditMessagesPivot",
                                       "RL_EditErrorsPivot"};
  TWriteScope scope(FSQLDB, FEnginePump, "TSMFWriter", "ClearEditLogicPivots", kClearPivotsSavePoint);
  if (!scope.IsOpen()) return -1;
  TSQLQuery query(FSQLDB);
  for (const char* pivot : pivots) {
    std::string sql = std::string("DELETE FROM ") + pivot + " WHERE EditPKey = " + intToString(editPKey) + ";";
    query.SetSQLText(sql, false);
    if (query.ExecSQL()) continue;
    add_error("ClearEditLogicPivots", "Failure to delete Layout/Field pivot record");
    add_error("ClearEditLogicPivots", query.LastErrorMessage());
    add_error("ClearEditLogicPivots", "SQL: " + sql);
    scope.Finish(false);
    return -1;
  }
  return scope.Finish(true) ? 0 : -1;
}

int TSMFWriter::transaction_result(bool accepted, const char* method, const char* fallback) {
  if (accepted) return 0;
  std::string message = FSQLDB->GetLastDBErrorMessage();
  add_error(method, message.empty() ? fallback : message);
  return -1;
}

int TSMFWriter::BeginTrans() {
  return transaction_result(FSQLDB->BeginTrans(), "BeginTrans", "Unable to begin transaction; reason not known");
}

// A commit that fails on a full disk or an I/O error may end the transaction
// itself: the model then follows that rollback.
int TSMFWriter::CommitTrans() {
  bool open = FSQLDB->InTransaction();
  int result =
      transaction_result(FSQLDB->CommitTrans(), "CommitTrans", "Unable to commit transaction; reason not known");
  if (result != 0 && open && !FSQLDB->InTransaction()) FSQLDB->NotifyRollback();
  return result;
}

// The model follows a rollback once its outcome is recorded.
int TSMFWriter::RollbackTrans() {
  int result = transaction_result(FSQLDB->RollbackTrans(), "RollbackTrans",
                                  "Unable to roll back transaction; reason not known");
  FSQLDB->NotifyRollback();
  return result;
}

TTableDef* TSMFWriter::find_table(const std::string& table, const char* method) {
  TTableDef* definition = FTablesList->GetTable(table);
  if (definition == nullptr) add_error(method, "Cannot find table named " + in_quotes(table));
  return definition;
}

TTableDef* TSMFWriter::find_editing_table(const std::string& table, const char* method) {
  TTableDef* definition = find_table(table, method);
  if (definition == nullptr || definition->IsEditing()) return definition;
  add_error(method, "Table named " + in_quotes(table) + " is NOT in insert or edit mode; cannot modify data");
  return nullptr;
}

// Whether rows of the kind have an owning agency; when they do, `owner` is
// read: not found when the row is not there. A failing statement throws to
// the caller.
bool TSMFWriter::read_owner(TRL_MCO kind, int pkey, TRowKey& owner) {
  for (const TRowOwner& row : kRowOwners) {
    if (row.Kind != kind) continue;
    owner = kept_first_key(owner_statement(row), [pkey](TSQLQuery& query) { query.BindIntParameter(1, pkey); });
    return true;
  }
  return false;
}

// A row without an owner that an agency could be (none, or a key an export
// could not name, never cut to another's) is the super user's alone, even for
// an agency logged in at PKey 0.
bool TSMFWriter::owner_allows(const TRowKey& owner) const {
  if (!owner.Usable) return FAccessController->IsSuperUserLoggedIn();
  return FAccessController->IsLoggedIn(owner.Value);
}

// A row that is neither an agency nor owned by one is anyone's.
bool TSMFWriter::have_access_rights(TRL_MCO kind, int pkey) {
  if (kind == mcoAgencies) return FAccessController->IsLoggedIn(pkey);
  TRowKey owner;
  return !read_owner(kind, pkey, owner) || owner_allows(owner);
}

bool TSMFWriter::rights_refused(TRL_MCO kind, int pkey, const char* method, const char* refusal) {
  if (have_access_rights(kind, pkey)) return false;
  add_error(method, refusal);
  return true;
}

// The rights a row was put into edit mode under are tested again when it is
// written, inside the write: another connection may have changed the row or
// its owner since, and a rollback may have undone what gave them. A row no
// longer in the file is looked for first, whoever the caller: there is
// nothing to write to, and nothing else is written for it. The owner read of
// an owned row tells whether it is there.
TSMFWriter::TEditedRow TSMFWriter::edited_row(TTableDef* table) {
  TRL_MCO kind = table->GetMCO();
  int pkey = table->GetPostToPKey();
  TRowKey owner;
  bool owned = read_owner(kind, pkey, owner);
  if (owned ? !owner.Found : !row_in_file(table->GetTableName(), pkey)) return erGone;
  if (owned ? owner_allows(owner) : have_access_rights(kind, pkey)) return erWritable;
  add_error("post_edit", kObjectRefusal);
  return erRefused;
}

// A row that cannot be looked for counts as there.
bool TSMFWriter::row_in_file(const std::string& table, int pkey) {
  try {
    return kept_first_key("SELECT 1 FROM main." + quote_identifier(table) + " WHERE PKey = ?;",
                          [pkey](TSQLQuery& query) { query.BindIntParameter(1, pkey); })
        .Found;
  } catch (const std::runtime_error&) {
    return true;
  }
}

// A rollback may undo what gave the rights a row entered edit mode under (an
// owner deleted, a login moved): a row stays in edit mode only while the
// logins may change it as the file now holds it, so that no post writes it
// under rights its stored row no longer gives.
void TSMFWriter::FollowRollback() {
  for (const auto& entry : FTablesList->TablesList()) {
    TTableDef* table = entry.second;
    if (table->GetState() != tsEdit) continue;
    bool allowed = false;
    try {
      allowed = have_access_rights(table->GetMCO(), table->GetPostToPKey());
    } catch (const std::exception&) {
    }
    if (!allowed) table->Cancel();
  }
}

// A second row of a table that is being edited is refused: its values would
// otherwise be posted to the first row.
int TSMFWriter::Edit(const std::string& table, int pkey) {
  TTableDef* definition = find_table(table, "Edit");
  if (definition == nullptr) return -1;
  if (rights_refused(definition->GetMCO(), pkey, "Edit", kObjectRefusal)) return -1;
  definition->Edit(pkey);
  if (definition->GetState() == tsEdit && definition->GetPostToPKey() == pkey) return 0;
  add_error("Edit", "Table named " + in_quotes(table) + " is NOT in Edit mode!");
  return -1;
}

int TSMFWriter::Insert(const std::string& table) {
  TTableDef* definition = find_table(table, "Insert");
  if (definition == nullptr) return -1;
  definition->Insert();
  if (definition->GetState() == tsInsert) return 0;
  add_error("Insert", "Table named " + in_quotes(table) + " is NOT in Insert mode!");
  return -1;
}

int TSMFWriter::Cancel(const std::string& table) {
  TTableDef* definition = find_table(table, "Cancel");
  if (definition == nullptr) return -1;
  definition->Cancel();
  return 0;
}

int TSMFWriter::SetFieldByName(const std::string& table, const std::string& column, const std::string& value) {
  TTableDef* definition = find_editing_table(table, "SetFieldByName");
  if (definition == nullptr) return -1;
  TFieldDef* field = definition->GetColumn(column);
  if (field == nullptr) {
    add_error("SetFieldByName",
              "Cannot find field named " + in_quotes(column) + " in table named " + in_quotes(table));
    return -1;
  }
  return set_value(definition, field, value, "SetFieldByName");
}

int TSMFWriter::SetFieldByNumber(const std::string& table, int number, const std::string& value) {
  TTableDef* definition = find_editing_table(table, "SetFieldByNumber");
  if (definition == nullptr) return -1;
  TFieldDef* field = number < 1 ? nullptr : definition->GetColumn(number - 1);
  if (field == nullptr) {
    add_error("SetFieldByNumber", "Column number " + intToString(number) + "\" in table named " + in_quotes(table) +
                                      " is out of range; assume 1-based numbering");
    return -1;
  }
  return set_value(definition, field, value, "SetFieldByNumber");
}

// The special columns are known by the table's kind and the column's schema
// name, so no spelling of the caller's can pass them by.
int TSMFWriter::set_value(TTableDef* table, TFieldDef* field, const std::string& value, const char* method) {
  TRL_MCO kind = table->GetMCO();
  if (kind == mcoAgencies && is_column(field, "Password")) return set_password(field, value, method);
  if (kind == mcoEdits && is_column(field, "CompiledLogic")) {
    std::string text = "Programmer error: It is illegal to write directly to RL_Edits.CompiledLogic.";
    add_error(method, text);
    add_error(method, text + "Use Edit_RecompileEditLogic instead");
    return -1;
  }
  field->SetValue(value);
  if (kind == mcoEdits && is_column(field, "EditLogic")) {
    if (TFieldDef* compiled = table->GetColumn("CompiledLogic")) compiled->SetValue("");
  }
  return 0;
}

// Passwords are stored scrambled, trimmed as a login trims them. An empty one
// could never log in, and one whose scrambled bytes hold a zero would be
// stored cut at it, so that other passwords sharing the bytes before it and
// the length would log in too.
int TSMFWriter::set_password(TFieldDef* field, const std::string& value, const char* method) {
  std::string password = trim(value, " \t");
  if (password.empty() || !TQb_AccessController::IsStoredWhole(password)) {
    add_error(method, "This password cannot be stored; choose another one");
    return -1;
  }
  field->SetValue(TQb_AccessController::StoredPassword(password));
  return 0;
}

int TSMFWriter::ValidateUnique(const char* table, int pkey, const char* column, const char* value, int* isUnique,
                               int* clashPKey) {
  TTableDef* definition = find_table(table, "ValidateUnique");
  if (definition == nullptr) return -1;
  TFieldDef* field = definition->GetColumn(column);
  if (field == nullptr) {
    add_error("ValidateUnique", "Cannot find field named " + in_quotes(column) + " in table named " + in_quotes(table));
    return -1;
  }
  std::string sql = "SELECT PKey FROM " + quote_identifier(definition->GetTableName()) + " WHERE (" +
                    quote_identifier(field->GetFieldName()) + " = ?) AND PKey <> " + intToString(pkey) + ";";
  TSQLQuery query(FSQLDB);
  try {
    query.SetBoundSQLText(sql);
    query.PrepareParameterizedQuery();
    query.BindTextParameter(1, value);
    query.OpenParameterizedQuery();
  } catch (const std::runtime_error&) {
    add_error("ValidateUnique", query.LastErrorMessage());
    add_error("ValidateUnique", "SQL: " + sql);
    return -1;
  }
  TRowKey clash = query.GetKeyFieldByNumber(0);
  if (clash.Found && !clash.Usable) {
    add_error("ValidateUnique", clash.Refusal(definition->GetTableName()));
    return -1;
  }
  *isUnique = clash.Found ? 0 : 1;
  *clashPKey = clash.Value;
  return 0;
}

bool TSMFWriter::is_system_table(TTableDef* table) {
  static const char* const kOwnedObjects[] = {"rl_edits",   "rl_editsets", "rl_fields",
                                              "rl_layouts", "rl_messages", "rl_lookuptables"};
  std::string name = lowercase_string(table->GetTableName());
  for (const char* owned : kOwnedObjects)
    if (name == owned) return true;
  return false;
}

// Buffers as the row's owner the agency asked for (the buffered one, else the
// edited row's own) when the logins may act for it, else a logged-in agency.
int TSMFWriter::set_agency(TTableDef* table, std::string& currentAdminCode, std::string& stampedAdminCode) {
  currentAdminCode.clear();
  stampedAdminCode.clear();
  TFieldDef* agency = table->GetColumn("AgencyPKey");
  if (agency == nullptr) {
    add_error("set_agency",
              "Cannot find field named \"AgencyPKey\" in table named " + in_quotes(table->GetTableName()));
    return -1;
  }
  int requested = 0;
  if (table->GetState() == tsEdit) {
    requested = get_int_val(agency->GetValue(), 0, static_cast<unsigned>(strlen(agency->GetValue())));
    TSQLQuery query(FSQLDB);
    read_first_row(query, "SELECT a.AgencyPKey, b.AdminCode FROM " + quote_identifier(table->GetTableName()) +
                              " a, RL_Agencies b WHERE (b.PKey=a.AgencyPKey) AND a.PKey=?;",
                   table->GetPostToPKey());
    if (requested == 0) requested = query.GetKeyFieldByNumber(0).Value;
    currentAdminCode = query.GetFieldByNumber(1);
  }
  int stamped = 1;
  int result = FAccessController->GetLoggedInAgencyPKey(requested, &stamped);
  agency->SetValue(intToString(stamped));
  TSQLQuery query(FSQLDB);
  read_first_row(query, "SELECT AdminCode FROM RL_Agencies WHERE PKey=?;", stamped);
  stampedAdminCode = query.GetFieldByNumber(0);
  return result;
}
