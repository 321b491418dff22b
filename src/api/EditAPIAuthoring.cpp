// The authoring exports (Qb_): syntax checks and compile lists, logins,
// transactions and savepoints, row editing, membership, lookup-table
// definition and copy, and import.
#include "api/EditAPI.h"

#include "quelt.h"
#include "storage/Utility.h"

using namespace edit_api;

namespace {

// Posting a lookup table's catalogue row renames the table; deleting it drops the table.
TReentry writes_row(const char* table) {
  return table != nullptr && posix_stricmp(table, "RL_LookupTables") == 0 ? frees(kTables) : kReads;
}

}  // namespace

extern "C" {

QUELT_API int Qb_CheckSyntax(int smfID, const char* source, int* errors, int* warnings) {
  return forward(smfID, "CheckSyntax", reads_model(), [&](TSMF* smf) {
    return smf->CheckSyntax(source, errors, warnings);
  });
}

QUELT_API int Qb_GetSyntaxError(int smfID, int idx, int* line, char* buffer, int length) {
  return forward(smfID, "GetSyntaxError", kReads, [&](TSMF* smf) {
    return smf->GetSyntaxError(idx, line, buffer, length);
  });
}

QUELT_API int Qb_GetSyntaxWarning(int smfID, int idx, int* line, char* buffer, int length) {
  return forward(smfID, "GetSyntaxWarning", kReads, [&](TSMF* smf) {
    return smf->GetSyntaxWarning(idx, line, buffer, length);
  });
}

QUELT_API int Qb_GetLogicListCount(int smfID, char which, int* count) {
  return forward(smfID, "GetLogicListCount", kReads, [&](TSMF* smf) { return smf->GetLogicListCount(which, count); });
}

QUELT_API int Qb_GetLogicFieldNumber(int smfID, int idx, int* fieldNumber) {
  return forward(smfID, "GetLogicFieldNumber", kReads, [&](TSMF* smf) {
    return smf->GetLogicFieldNumber(idx, fieldNumber);
  });
}

QUELT_API int Qb_GetLogicTableName(int smfID, int idx, char* buffer, int length) {
  return forward(smfID, "GetLogicTableName", kReads, [&](TSMF* smf) {
    return smf->GetLogicTableName(idx, buffer, length);
  });
}

QUELT_API int Qb_GetLogicErrorMessage(int smfID, int idx, int* kind, char* buffer, int length) {
  return forward(smfID, "GetLogicErrorMessage", kReads, [&](TSMF* smf) {
    return smf->GetLogicErrorMessage(idx, kind, buffer, length);
  });
}

QUELT_API int Qb_GetLogicMessageNumber(int smfID, int idx, int* kind, int* messageNumber) {
  return forward(smfID, "GetLogicMessageNumber", kReads, [&](TSMF* smf) {
    return smf->GetLogicMessageNumber(idx, kind, messageNumber);
  });
}

QUELT_API int Qb_ClearEditLogicPivots(int smfID, int editPKey) {
  return forward(smfID, "ClearEditLogicPivots", kReads, [&](TSMF* smf) { return smf->ClearEditLogicPivots(editPKey); });
}

QUELT_API int Qb_Login(int smfID, const char* adminCode, const char* password) {
  return forward(smfID, "Login", kReads, [&](TSMF* smf) { return smf->Login(adminCode, password); });
}

QUELT_API int Qb_GetLoginsCount(int smfID, int* count) {
  return forward(smfID, "GetLoginsCount", kReads, [&](TSMF* smf) { return smf->GetLoginsCount(count); });
}

QUELT_API int Qb_GetLoginByIndex(int smfID, int index, int* agencyPKey, char* buffer, int bufferLength) {
  return forward(smfID, "GetLoginByIndex", kReads, [&](TSMF* smf) {
    return smf->GetLoginByIndex(index, agencyPKey, buffer, bufferLength);
  });
}

QUELT_API int Qb_BeginTrans(int smfID) {
  return forward(smfID, "BeginTrans", kReads, [&](TSMF* smf) { return smf->BeginTrans(); });
}

QUELT_API int Qb_CommitTrans(int smfID) {
  return forward(smfID, "CommitTrans", kReads, [&](TSMF* smf) { return smf->CommitTrans(); });
}

QUELT_API int Qb_RollbackTrans(int smfID) {
  return forward(smfID, "RollbackTrans", frees(kTables), [&](TSMF* smf) { return smf->RollbackTrans(); });
}

QUELT_API int Qb_SavePoint(int smfID, const char* name) {
  return forward(smfID, "SavePoint", kReads, [&](TSMF* smf) { return smf->SavePoint(name); });
}

QUELT_API int Qb_ReleaseSavePoint(int smfID, const char* name) {
  return forward(smfID, "ReleaseSavePoint", kReads, [&](TSMF* smf) { return smf->ReleaseSavePoint(name); });
}

QUELT_API int Qb_RollbackToSavePoint(int smfID, const char* name) {
  return forward(smfID, "RollbackToSavePoint", frees(kTables),
                 [&](TSMF* smf) { return smf->RollbackToSavePoint(name); });
}

QUELT_API int Qb_Edit(int smfID, const char* table, int pkey) {
  return forward(smfID, "Edit", reads_model_and_rows(), [&](TSMF* smf) { return smf->Edit(table, pkey); });
}

QUELT_API int Qb_Insert(int smfID, const char* table) {
  return forward(smfID, "Insert", reads_model(), [&](TSMF* smf) { return smf->Insert(table); });
}

// Dropping a buffer needs no table as the file holds it, so it answers 0 in
// every mode, a locked file too.
QUELT_API int Qb_Cancel(int smfID, const char* table) {
  return forward(smfID, "Cancel", kReads, [&](TSMF* smf) { return smf->Cancel(table); });
}

// A post has the model follow the file once it holds the write lock: that one
// check serves the whole call.
QUELT_API int Qb_Post(int smfID, const char* table, int* pkey) {
  return forward(smfID, "Post", writes_row(table), [&](TSMF* smf) { return smf->Post(table, pkey); });
}

QUELT_API int Qb_SetFieldByName(int smfID, const char* table, const char* column, const char* value) {
  return forward(smfID, "SetFieldByName", reads_model(), [&](TSMF* smf) {
    return smf->SetFieldByName(table, column, value);
  });
}

QUELT_API int Qb_SetFieldByNumber(int smfID, const char* table, int column, const char* value) {
  return forward(smfID, "SetFieldByNumber", reads_model(), [&](TSMF* smf) {
    return smf->SetFieldByNumber(table, column, value);
  });
}

QUELT_API int Qb_ValidateUnique(int smfID, const char* table, int pkey, const char* column, const char* value,
                                int* isUnique, int* clashPKey) {
  return forward(smfID, "ValidateUnique", reads_model_and_rows(), [&](TSMF* smf) {
    return smf->ValidateUnique(table, pkey, column, value, isUnique, clashPKey);
  });
}

QUELT_API int Qb_CopyLookupTable(int smfID, const char* oldName, const char* newName, int agencyPKey) {
  return forward(smfID, "RenameLookupTable", reads_model(frees(kTables)), [&](TSMF* smf) {
    return smf->RenameLookupTable(oldName, newName, false, agencyPKey);
  });
}

QUELT_API int Qb_Delete(int smfID, const char* table, int pkey) {
  return forward(smfID, "Delete", reads_model(writes_row(table)), [&](TSMF* smf) { return smf->Delete(table, pkey); });
}

QUELT_API int Qb_AddEditSetsPivot(int smfID, int editSetPKey, int editPKey) {
  return forward(smfID, "AddEditSetsPivot", kReads, [&](TSMF* smf) {
    return smf->AddEditSetsPivot(editSetPKey, editPKey);
  });
}

QUELT_API int Qb_DeleteEditSetsPivot(int smfID, int editSetPKey, int editPKey) {
  return forward(smfID, "DeleteEditSetsPivot", kReads, [&](TSMF* smf) {
    return smf->DeleteEditSetsPivot(editSetPKey, editPKey);
  });
}

QUELT_API int Qb_AddLayoutsPivot(int smfID, int layoutPKey, int fieldPKey, int startPos) {
  return forward(smfID, "AddLayoutsPivot", kReads, [&](TSMF* smf) {
    return smf->AddLayoutsPivot(layoutPKey, fieldPKey, startPos);
  });
}

QUELT_API int Qb_DeleteLayoutsPivot(int smfID, int layoutPKey, int fieldPKey) {
  return forward(smfID, "DeleteLayoutsPivot", kReads, [&](TSMF* smf) {
    return smf->DeleteLayoutsPivot(layoutPKey, fieldPKey);
  });
}

QUELT_API int Qb_DefineTableStructure(int smfID, const char* name, int restructure) {
  return forward(smfID, "DefineTableStructure", kReads, [&](TSMF* smf) {
    return smf->DefineTableStructure(name, restructure);
  });
}

QUELT_API int Qb_AddColumnDef(int smfID, const char* name, const char* sourceName, int isInteger, int length,
                              int nullable, int triggerMaintained, const char* inList, const char* low,
                              const char* high, const char* defaultValue, int indexKind) {
  return forward(smfID, "AddColumnDef", kReads, [&](TSMF* smf) {
    return smf->AddColumnDef(name, sourceName, isInteger, length, nullable, triggerMaintained, inList, low, high,
                             defaultValue, indexKind);
  });
}

QUELT_API int Qb_CreateTable(int smfID, int* pkey) {
  return forward(smfID, "CreateTable", frees(kTables), [&](TSMF* smf) { return smf->CreateTable(pkey); });
}

QUELT_API int Qb_OpenImportMetafile(int smfID, const char* path) {
  return forward(smfID, "OpenImportMetafile", frees(kImport), [&](TSMF* smf) { return smf->OpenImportMetafile(path); });
}

QUELT_API int Qb_CloseImportMetafile(int smfID) {
  return forward(smfID, "CloseImportMetafile", frees(kImport), [&](TSMF* smf) { return smf->CloseImportMetafile(); });
}

QUELT_API int Qb_GetImportCandidates(int smfID, const char* tableName, const char* keyField, void* owner,
                                     void* callback) {
  return forward(smfID, "GetImportCandidates", walks("a listing of import candidates", kAll), [&](TSMF* smf) {
    return smf->GetImportCandidates(tableName, keyField, owner, callback);
  });
}

QUELT_API int Qb_ImportLookupTable(int smfID, const char* tableName) {
  return forward(smfID, "ImportLookupTable", frees(kTables),
                 [&](TSMF* smf) { return smf->ImportLookupTable(tableName); });
}

QUELT_API int Qb_ImportWritePassword(int smfID, int agencyPKey, const char* password) {
  return forward(smfID, "ImportWritePassword", kReads, [&](TSMF* smf) {
    return smf->ImportWritePassword(agencyPKey, password);
  });
}

}  // extern "C"
