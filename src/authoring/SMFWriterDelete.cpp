// Deleting a row with its impact on the rows that depend on it (owned
// objects pass to agency "NONE", dependent edits lose their compiled logic, a
// lookup table's own table is dropped), and the membership of edits in edit
// sets and of fields in layouts.
#include <stdexcept>

#include "authoring/Qb_AccessController.h"
#include "authoring/SMFWriter.h"
#include "storage/EngineErrorsPump.h"
#include "storage/SQLDB.h"
#include "storage/SQLQuery.h"
#include "storage/Utility.h"
#include "storage/WriteScope.h"

namespace {

const char* const kDeleteSavePoint = "_Delete_";
const char* const kMembershipSavePoint = "_Membership_";
const char* const kImpact = "verify_delete_impact";

bool is_table(const std::string& name, const char* table) { return posix_stricmp(name.c_str(), table) == 0; }

}  // namespace

// Every failure undoes the deletion only, never more: the host's transaction
// stays as the host left it.
int TSMFWriter::Delete(const std::string& table, int pkey) {
  TWriteScope scope(FSQLDB, FEnginePump, "TSMFWriter", "Delete", kDeleteSavePoint);
  if (!scope.IsOpen()) return -1;
  std::string dropped;
  bool deleted = false;
  try {
    deleted = verify_delete_impact(table, pkey, dropped) && delete_row(table, pkey);
  } catch (const std::runtime_error& e) {
    add_error("Delete", "Error in attempt to delete PKey " + intToString(pkey) + " from table " + table + ": " +
                            e.what());
  }
  if (!scope.Finish(deleted)) return -1;
  // The model and the logins follow only a deletion that stands.
  if (!dropped.empty()) FTablesList->RemoveTable(FTablesList->GetTable(dropped));
  if (is_table(table, "RL_Agencies")) FAccessController->ForgetAgency(pkey);
  return 0;
}

bool TSMFWriter::delete_row(const std::string& table, int pkey) {
  TTableDef* definition = find_table(table, "Delete");
  return definition != nullptr &&
         exec_logged("Delete", "DELETE FROM " + quote_identifier(definition->GetTableName()) + " WHERE [PKey] = " +
                                   intToString(pkey) + ";");
}

bool TSMFWriter::verify_delete_impact(const std::string& table, int pkey, std::string& droppedTable) {
  if (is_table(table, "RL_Agencies")) return settle_agency(pkey);
  if (is_table(table, "RL_Fields"))
    return clear_dependent_logic("RL_EditFieldsPivot", "FieldPKey", pkey,
                                 "Cannot clear CompiledLogic for Edit that references deleted field");
  if (is_table(table, "RL_Messages")) return settle_message(pkey);
  if (is_table(table, "RL_LookupTables")) return settle_lookup_table(pkey, droppedTable);
  return true;
}

bool TSMFWriter::impact_exec(const std::string& sql, const char* failure, bool withReason) {
  TSQLQuery query(FSQLDB);
  query.SetSQLText(sql, false);
  if (query.ExecOneSQL()) return true;
  add_error(kImpact, failure);
  if (withReason) add_error(kImpact, query.LastErrorMessage());
  add_error(kImpact, sql);
  return false;
}

bool TSMFWriter::settle_agency(int pkey) {
  if (pkey == 1) {
    add_error(kImpact, "Agency \"NONE\" may not be deleted");
    return false;
  }
  for (const char* owned : {"RL_Edits", "RL_EditSets", "RL_Fields", "RL_Layouts", "RL_Messages", "RL_LookupTables"})
    if (!impact_exec(std::string("UPDATE ") + owned + " SET AgencyPKey = 1 WHERE AgencyPKey = " + intToString(pkey) +
                         ";",
                     "Cannot update MCO table to change Agency to \"NONE\"", false))
      return false;
  return true;
}

// Empties the compiled logic of every edit that the pivot lists for the row;
// an edit key that is not usable throws, since cut to an int it names another.
bool TSMFWriter::clear_dependent_logic(const char* pivot, const char* keyColumn, int pkey, const char* failure) {
  std::vector<int> edits;
  TSQLQuery query(FSQLDB);
  query.OpenSelect(std::string("SELECT EditPKey FROM ") + pivot + " WHERE " + keyColumn + " = " + intToString(pkey) +
                   ";");
  for (bool row = !query.Eof(); row; row = query.FetchNext() && !query.Eof())
    edits.push_back(query.GetUsableKeyByNumber(0, "RL_Edits"));
  if (!query.Eof()) throw std::runtime_error(query.LastErrorMessage());
  for (int edit : edits)
    if (!impact_exec("UPDATE RL_Edits SET CompiledLogic = '' WHERE PKey = " + intToString(edit) + ";", failure, false))
      return false;
  return true;
}

bool TSMFWriter::settle_message(int pkey) {
  if (pkey == 1) {
    add_error(kImpact, "Message Number 0 may not be deleted");
    return false;
  }
  return impact_exec("UPDATE RL_Edits SET MessagePKey = 1 WHERE MessagePKey = " + intToString(pkey) + ";",
                     "Cannot reset Default Message for Edit that references deleted message object", false) &&
         clear_dependent_logic("RL_EditMessagesPivot", "MessagePKey", pkey,
                               "Cannot clear CompiledLogic for Edit that references deleted message object");
}

// Only a lookup table of the metafile itself is dropped: never a control or
// database table, and never one of an attached import source. The table is
// known before anything is written, so that a host cursor in the middle of
// its read, beside which no table can be dropped, refuses the deletion with
// nothing changed.
bool TSMFWriter::settle_lookup_table(int pkey, std::string& droppedTable) {
  std::string name;
  {
    // The reading statement must end before the table can be dropped.
    TSQLQuery query(FSQLDB);
    query.OpenSelect("SELECT TableName FROM RL_LookupTables WHERE PKey = " + intToString(pkey) + ";");
    if (!query.Eof()) name = query.GetFieldByNumber(0);
  }
  name = name.empty() ? name : main_table_named(name);
  if (!name.empty() && !no_reading_cursor(kImpact, "Table \"" + name + "\" cannot be dropped")) return false;
  // The deletion is undone anyway after a failure: nothing more is written.
  if (!clear_dependent_logic("RL_EditTablesPivot", "LookupTablePKey", pkey,
                             "Cannot clear CompiledLogic for Edit that references deleted lookup table"))
    return false;
  if (name.empty()) return true;
  if (!impact_exec("DROP TABLE IF EXISTS main." + quote_identifier(name) + ";",
                   "Cannot drop lookup table from metafile database", true))
    return false;
  droppedTable = name;
  return true;
}

// The name as the main database stores it, when it holds a table of that
// name that is not reserved; else empty.
std::string TSMFWriter::main_table_named(const std::string& name) {
  if (reserved_prefix(name) != nullptr) return std::string();
  TSQLQuery query(FSQLDB);
  query.SetSQLText("SELECT name FROM main.sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE;", true);
  query.PrepareParameterizedQuery();
  query.BindTextParameter(1, name.c_str());
  query.OpenParameterizedQuery();
  return query.GetFieldByNumber(0);
}

struct TSMFWriter::TMembership {
  const char* Method;
  TRL_MCO OwnerKind;
  const char* Refusal;
  const char* Pivot;
  const char* OwnerKey;
  const char* MemberKey;
  const char* Failure;
};

namespace {

const char* const kEditSetRefusal = "You do not have access rights to modify this edit set";
const char* const kLayoutRefusal = "You do not have access rights to modify this layout";

}  // namespace

int TSMFWriter::AddEditSetsPivot(int editSetPKey, int editPKey) {
  static const TMembership kAdd = {"AddEditSetsPivot", mcoEditSets, kEditSetRefusal, "RL_EditSetEditsPivot",
                                   "EditSetPKey", "EditPKey", "Failure to add Edit Set/Edit pivot record"};
  return change_membership(kAdd, editSetPKey, editPKey, true, 0);
}

int TSMFWriter::DeleteEditSetsPivot(int editSetPKey, int editPKey) {
  static const TMembership kDelete = {"DeleteEditSetsPivot", mcoEditSets, kEditSetRefusal, "RL_EditSetEditsPivot",
                                      "EditSetPKey", "EditPKey", "Failure to delete Edit Set/Edit pivot record"};
  return change_membership(kDelete, editSetPKey, editPKey, false, 0);
}

int TSMFWriter::AddLayoutsPivot(int layoutPKey, int fieldPKey, int startPos) {
  static const TMembership kAdd = {"AddLayoutsPivot", mcoLayouts, kLayoutRefusal, "RL_LayoutFieldsPivot",
                                   "LayoutPKey", "FieldPKey", "Failure to add Layout/Field pivot record"};
  return change_membership(kAdd, layoutPKey, fieldPKey, true, startPos);
}

int TSMFWriter::DeleteLayoutsPivot(int layoutPKey, int fieldPKey) {
  static const TMembership kDelete = {"DeleteLayoutsPivot", mcoLayouts, kLayoutRefusal, "RL_LayoutFieldsPivot",
                                      "LayoutPKey", "FieldPKey", "Failure to delete Layout/Field pivot record"};
  return change_membership(kDelete, layoutPKey, fieldPKey, false, 0);
}

// Adds or deletes the pivot row (a layout's with its start position); rights
// come first, and nothing is written when nothing would change. The rights,
// the presence query and the change are one write, so no other connection
// comes between.
int TSMFWriter::change_membership(const TMembership& membership, int ownerPKey, int memberPKey, bool adding,
                                  int startPos) {
  if (rights_refused(membership.OwnerKind, ownerPKey, membership.Method, membership.Refusal)) return -1;
  TWriteScope scope(FSQLDB, FEnginePump, "TSMFWriter", membership.Method, kMembershipSavePoint);
  if (!scope.IsOpen()) return -1;
  // Tested again once the write holds the lock: the owner as the file holds it now.
  if (rights_refused(membership.OwnerKind, ownerPKey, membership.Method, membership.Refusal)) {
    scope.Finish(false);
    return -1;
  }
  std::string sql, reason;
  if (write_membership(membership, ownerPKey, memberPKey, adding, startPos, sql, reason))
    return scope.Finish(true) ? 0 : -1;
  add_error(membership.Method, membership.Failure);
  add_error(membership.Method, reason);
  add_error(membership.Method, "SQL: " + sql);
  scope.Finish(false);
  return -1;
}

// False with the failing statement and the database's reason, or with the
// reading statement and the refusal of a pivot row key that is not usable.
bool TSMFWriter::write_membership(const TMembership& membership, int ownerPKey, int memberPKey, bool adding,
                                  int startPos, std::string& sql, std::string& reason) {
  bool withStart = adding && membership.OwnerKind == mcoLayouts;
  sql = std::string("SELECT PKey FROM ") + membership.Pivot + " WHERE " + membership.OwnerKey + " = " +
        intToString(ownerPKey) + " AND " + membership.MemberKey + " = " + intToString(memberPKey) + ";";
  TSQLQuery query(FSQLDB);
  try {
    query.OpenSelect(sql);
    bool present = !query.Eof();
    if (adding == present) return true;
    int rowPKey = adding ? 0 : query.GetUsableKeyByNumber(0, membership.Pivot);
    query.SetIsActive(false);
    TNewRowKey key = adding ? new_row_key(FSQLDB, membership.Pivot) : TNewRowKey();
    sql = adding ? std::string("INSERT INTO ") + membership.Pivot + " (" + key.Column + membership.OwnerKey + ", " +
                       membership.MemberKey + (withStart ? ", StartPos" : "") + ") VALUES (" + key.Value +
                       intToString(ownerPKey) + ", " + intToString(memberPKey) +
                       (withStart ? ", " + intToString(startPos) : "") + ");"
                 : std::string("DELETE FROM ") + membership.Pivot + " WHERE PKey=" + intToString(rowPKey) + ";";
    query.SetSQLText(sql, false);
    if (query.ExecOneSQL()) return true;
  } catch (const TKeyRefusal& e) {
    reason = e.what();
    return false;
  } catch (const std::runtime_error&) {
  }
  reason = query.LastErrorMessage();
  return false;
}
