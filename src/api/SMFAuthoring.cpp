// TSMF operations of the authoring side: logins, transactions and savepoints,
// the row-buffer cycle with its uniqueness check, deletion, membership and
// lookup-table definition, each forwarded to the metafile's connection,
// access controller or writer.
#include <stdexcept>

#include "api/SMF.h"
#include "authoring/Qb_AccessController.h"
#include "authoring/SMFWriter.h"
#include "storage/EngineErrorsPump.h"
#include "storage/SQLDB.h"
#include "storage/TableStats.h"

bool TSMF::has_access_controller(const char* method) {
  if (FQb_AccessController != nullptr) return true;
  add_error(method, "FQb_AccessController is NULL (Engine programmer error)");
  return false;
}

bool TSMF::has_writer(const char* method) {
  if (FSMFWriter != nullptr) return true;
  add_error(method, "Engine programmer error: FSMFWriter not instantiated");
  return false;
}

int TSMF::Login(const char* adminCode, const char* password) {
  if (!parameters_given("Login", {{adminCode, "adminCode"}, {password, "password"}}) ||
      !has_access_controller("Login"))
    return -1;
  return FQb_AccessController->Login(adminCode, password);
}

int TSMF::GetLoginsCount(int* count) {
  if (!parameters_given("GetLoginsCount", {{count, "count"}}) || !has_access_controller("GetLoginsCount"))
    return -1;
  return FQb_AccessController->GetLoginsCount(count);
}

int TSMF::GetLoginByIndex(int index, int* agencyPKey, char* buffer, int bufferLength) {
  if (!parameters_given("GetLoginByIndex",
                        {{agencyPKey, "agencyPKey"}, {bufferLength > 0 ? buffer : "", "buffer"}}) ||
      !has_access_controller("GetLoginByIndex"))
    return -1;
  return FQb_AccessController->GetLoginByIndex(index, agencyPKey, buffer, bufferLength);
}

int TSMF::transaction_result(bool accepted, const char* method) {
  if (accepted) return 0;
  add_error(method, FSQLDB->GetLastDBErrorMessage());
  return -1;
}

int TSMF::BeginTrans() { return transaction_result(FSQLDB->BeginTrans(), "BeginTrans"); }

// A commit that fails on a full disk or an I/O error may end the transaction
// itself: the model then follows that rollback.
int TSMF::CommitTrans() {
  bool open = FSQLDB->InTransaction();
  int result = transaction_result(FSQLDB->CommitTrans(), "CommitTrans");
  if (result != 0 && open && !FSQLDB->InTransaction()) follow_rollback();
  return result;
}

// The model follows a rollback once its outcome is recorded.
int TSMF::RollbackTrans() {
  int result = transaction_result(FSQLDB->RollbackTrans(), "RollbackTrans");
  follow_rollback();
  return result;
}

// The connection quotes savepoint names, so a name is always one identifier.
int TSMF::SavePoint(const char* name) {
  if (!parameters_given("SavePoint", {{name, "name"}})) return -1;
  return transaction_result(FSQLDB->SavePoint(name), "SavePoint");
}

int TSMF::ReleaseSavePoint(const char* name) {
  if (!parameters_given("ReleaseSavePoint", {{name, "name"}})) return -1;
  return transaction_result(FSQLDB->Release(name), "ReleaseSavePoint");
}

int TSMF::RollbackToSavePoint(const char* name) {
  if (!parameters_given("RollbackToSavePoint", {{name, "name"}})) return -1;
  int result = transaction_result(FSQLDB->RollbackTo(name), "RollbackToSavePoint");
  follow_rollback();
  return result;
}

int TSMF::Edit(const char* table, int pkey) {
  if (!parameters_given("Edit", {{table, "table"}}) || !has_writer("Edit")) return -1;
  return FSMFWriter->Edit(table, pkey);
}

int TSMF::Insert(const char* table) {
  if (!parameters_given("Insert", {{table, "table"}}) || !has_writer("Insert")) return -1;
  return FSMFWriter->Insert(table);
}

int TSMF::Cancel(const char* table) {
  if (!parameters_given("Cancel", {{table, "table"}}) || !has_writer("Cancel")) return -1;
  return FSMFWriter->Cancel(table);
}

int TSMF::Post(const char* table, int* pkey) {
  if (!parameters_given("Post", {{table, "table"}, {pkey, "pkey"}}) || !has_writer("Post")) return -1;
  return FSMFWriter->Post(table, pkey);
}

int TSMF::SetFieldByName(const char* table, const char* column, const char* value) {
  if (!parameters_given("SetFieldByName", {{table, "table"}, {column, "column"}, {value, "value"}}) ||
      !has_writer("SetFieldByName"))
    return -1;
  return FSMFWriter->SetFieldByName(table, column, value);
}

int TSMF::SetFieldByNumber(const char* table, int column, const char* value) {
  if (!parameters_given("SetFieldByNumber", {{table, "table"}, {value, "value"}}) ||
      !has_writer("SetFieldByNumber"))
    return -1;
  return FSMFWriter->SetFieldByNumber(table, column, value);
}

int TSMF::ValidateUnique(const char* table, int pkey, const char* column, const char* value, int* isUnique,
                         int* clashPKey) {
  if (!parameters_given("ValidateUnique", {{table, "table"},
                                           {column, "column"},
                                           {value, "value"},
                                           {isUnique, "isUnique"},
                                           {clashPKey, "clashPKey"}}) ||
      !has_writer("ValidateUnique"))
    return -1;
  return FSMFWriter->ValidateUnique(table, pkey, column, value, isUnique, clashPKey);
}

// Every change of a table's definition passes through the model's
// RemoveTable, which lets the lookups forget what they cached for it.
bool TSMF::replace_table_def(const std::string& removedName, const std::string& readName) {
  FTablesList->RemoveTable(FTablesList->GetTable(removedName));
  FTablesList->RemoveTable(FTablesList->GetTable(readName));
  bool read = false;
  try {
    read = UpdateTableStats(readName.c_str());
  } catch (const std::runtime_error& e) {
    add_error("UpdateTableStats", e.what());
  }
  if (!read) add_error("UpdateTableStats", "Failure to read the definition of table \"" + readName + "\"");
  FCurrentTableDef = nullptr;
  return read;
}

int TSMF::Delete(const char* table, int pkey) {
  if (!parameters_given("Delete", {{table, "table"}}) || !has_writer("Delete")) return -1;
  return FSMFWriter->Delete(table, pkey);
}

int TSMF::AddEditSetsPivot(int editSetPKey, int editPKey) {
  if (!has_writer("AddEditSetsPivot")) return -1;
  return FSMFWriter->AddEditSetsPivot(editSetPKey, editPKey);
}

int TSMF::DeleteEditSetsPivot(int editSetPKey, int editPKey) {
  if (!has_writer("DeleteEditSetsPivot")) return -1;
  return FSMFWriter->DeleteEditSetsPivot(editSetPKey, editPKey);
}

int TSMF::AddLayoutsPivot(int layoutPKey, int fieldPKey, int startPos) {
  if (!has_writer("AddLayoutsPivot")) return -1;
  return FSMFWriter->AddLayoutsPivot(layoutPKey, fieldPKey, startPos);
}

int TSMF::DeleteLayoutsPivot(int layoutPKey, int fieldPKey) {
  if (!has_writer("DeleteLayoutsPivot")) return -1;
  return FSMFWriter->DeleteLayoutsPivot(layoutPKey, fieldPKey);
}

// A null name is refused as any other refused name is: nothing of the
// definition before it is left for CreateTable.
int TSMF::DefineTableStructure(const char* name, int restructure) {
  if (!has_writer("DefineTableStructure")) return -1;
  if (parameters_given("DefineTableStructure", {{name, "name"}}))
    return FSMFWriter->DefineTableStructure(name, restructure);
  FSMFWriter->ClearTableDefinition();
  return -1;
}

int TSMF::AddColumnDef(const char* name, const char* sourceName, int isInteger, int length, int nullable,
                       int triggerMaintained, const char* inList, const char* low, const char* high,
                       const char* defaultValue, int indexKind) {
  if (!parameters_given("AddColumnDef", {{name, "name"}}) || !has_writer("AddColumnDef")) return -1;
  return FSMFWriter->AddColumnDef(name, sourceName, isInteger, length, nullable, triggerMaintained, inList, low, high,
                                  defaultValue, indexKind);
}

int TSMF::CreateTable(int* pkey) {
  if (!has_writer("CreateTable")) return -1;
  return FSMFWriter->CreateTable(pkey);
}
