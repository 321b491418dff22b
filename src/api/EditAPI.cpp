// The library's exported functions and the process-wide handle table. Each
// export on a handle checks it, empties its engine errors, applies the rule
// for calls from callbacks, forwards to one TSMF operation and turns any
// exception that escapes into a return code.
#include "api/EditAPI.h"

#include <cstring>
#include <stdexcept>
#include <vector>

#include "api/SMF.h"
#include "library/ExternalDLLTracker.h"
#include "quelt.h"
#include "storage/Utility.h"

namespace {

const size_t kInitialSlots = 20;

std::vector<TSMF*>& SMFList() {
  static std::vector<TSMF*> slots(kInitialSlots, nullptr);
  return slots;
}

bool valid_handle(int smfID) {
  return smfID >= 0 && static_cast<size_t>(smfID) < SMFList().size() && SMFList()[smfID] != nullptr;
}

// The one rule for calls made from inside a callback. An export that calls
// back holds the metafile's callback guard, which names what is under way and
// the parts of the metafile that the export walks until it returns. A call
// made meanwhile that would free or replace one of those parts is refused,
// naming the innermost export that walks it; every other call works.
// Exports that deliver what they copied before their first callback walk
// only the metafile object itself, which closing it frees. Runs, summaries,
// debugging runs and import listings read as they deliver and share the
// run-time's state: they count as walking every part.
// An export that reads the table model has it follow the file first; that
// replaces definitions, so it too is refused while the model is walked, but
// only when the model is out of date.
const unsigned kNone = TSMF::kNone, kMetafile = TSMF::kMetafile, kRecords = TSMF::kRecords,
               kTables = TSMF::kTables, kImport = TSMF::kImport, kAll = TSMF::kAll;

struct TReentry {
  const char* UnderWay;  // what the export is, when it calls back; null when it does not
  unsigned Walks;
  unsigned Frees;
  bool ReadsModel;
};
const TReentry kReads{nullptr, kNone, kNone, false};
const char* const kRecordDisplay = "a display of a record";

TReentry frees(unsigned parts) { return {nullptr, kNone, parts, false}; }
TReentry walks(const char* underWay, unsigned parts) { return {underWay, parts, kNone, false}; }
// An export that hands over only what it copied first.
TReentry owns_walk(const char* underWay) { return walks(underWay, kMetafile); }

// A run or a debugging run walks everything and loads the record it runs over.
TReentry runs(const char* underWay) { return {underWay, kAll, kRecords, false}; }

// The exports of the record path (runs, records, options, summaries) never
// read the model this way: a run's lookups have it follow the file themselves.
TReentry reads_model(TReentry reentry = kReads) {
  reentry.ReadsModel = true;
  return reentry;
}

// Posting a lookup table's catalogue row renames the table; deleting it drops the table.
TReentry writes_row(const char* table) {
  return table != nullptr && posix_stricmp(table, "RL_LookupTables") == 0 ? frees(kTables) : kReads;
}

bool refused(TSMF& smf, const char* method, const TReentry& reentry) {
  const char* underWay = smf.WalkOf(reentry.Frees);
  if (underWay != nullptr) smf.RecordRefusal(method, underWay);
  return underWay != nullptr;
}

// Recording must not throw in turn: nothing may leave an export.
void record_escape(TSMF* smf, const char* method, const char* text) {
  if (smf == nullptr) return;
  try {
    smf->RecordException(method, text);
  } catch (...) {
  }
}

// An exception that reaches the boundary is recorded on the handle, so that no
// -1 goes unexplained.
template <typename Operation>
int forward(int smfID, const char* method, const TReentry& reentry, Operation operation) {
  TSMF* smf = nullptr;
  try {
    smf = InitCheck(smfID);
    if (refused(*smf, method, reentry)) return -1;
    if (reentry.ReadsModel && !smf->follow_schema(method)) return -1;
    TSMF::TCallbackGuard guard(*smf, reentry.UnderWay, reentry.Walks);
    return operation(smf);
  } catch (const std::exception& e) {
    record_escape(smf, method, e.what());
  } catch (...) {
    record_escape(smf, method, "");
  }
  return -1;
}

// The engine-error readers test the handle themselves and leave the list alone.
template <typename Operation>
int read_errors(int smfID, Operation operation) {
  if (!valid_handle(smfID)) return -2;
  try {
    return operation(SMFList()[smfID]);
  } catch (...) {
    return -1;
  }
}

// Lowest empty slot, or the index of a slot still to be appended.
size_t free_slot() {
  std::vector<TSMF*>& slots = SMFList();
  for (size_t i = 0; i < slots.size(); ++i)
    if (slots[i] == nullptr) return i;
  return slots.size();
}

void store_in_slot(size_t slot, TSMF* smf) {
  std::vector<TSMF*>& slots = SMFList();
  if (slot == slots.size()) slots.push_back(nullptr);
  slots[slot] = smf;
}

const char* null_parameter(const void* smfID, const void* path, const void* message,
                           int messageLength, const void* versionCompare) {
  if (smfID == nullptr) return "smfID";
  if (path == nullptr) return "path";
  if (message == nullptr && messageLength > 0) return "message";
  if (versionCompare == nullptr) return "versionCompare";
  return nullptr;
}

// The reason of a failed opening, copied without allocating: it runs where
// an exception has been caught and nothing may throw again.
void copy_reason(const char* reason, char* message, int messageLength) {
  if (message != nullptr && messageLength > 0) strncpy(message, reason, static_cast<size_t>(messageLength));
}

}  // namespace

TSMF* InitCheck(int smfID) {
  if (!valid_handle(smfID)) throw std::invalid_argument("Invalid metafile smfID!");
  TSMF* smf = SMFList()[smfID];
  smf->ClearEngineErrorsPump();
  return smf;
}

extern "C" {

QUELT_API int Edit_Initialize(int* smfID, const char* path, char* message, int messageLength,
                              int* versionCompare) {
  TSMF* smf = nullptr;
  try {
    if (const char* missing = null_parameter(smfID, path, message, messageLength, versionCompare)) {
      copy_to_buffer(std::string("Parameter \"") + missing + "\" must not be NULL", message, messageLength);
      return -1;
    }
    *smfID = -1;
    size_t slot = free_slot();
    smf = new TSMF();
    int result = smf->InitializeMetafile(path, message, messageLength, versionCompare, 1);
    if (result != 0) {
      delete smf;
      return result;
    }
    store_in_slot(slot, smf);
    *smfID = static_cast<int>(slot);
    return 0;
  } catch (const std::exception& e) {
    copy_reason(e.what(), message, messageLength);
  } catch (...) {
  }
  delete smf;
  return -1;
}

QUELT_API int Edit_Exit(int smfID) {
  return forward(smfID, "Exit", frees(kAll), [&](TSMF* smf) {
    SMFList()[smfID] = nullptr;
    delete smf;
    return 0;
  });
}

QUELT_API int Edit_UpdateMetafile(const char* path, char* message, int messageLength) {
  if (path == nullptr || (message == nullptr && messageLength > 0)) return -1;
  TSMF* smf = nullptr;
  try {
    smf = new TSMF();
    int versionCompare = 0;
    int result = smf->InitializeMetafile(path, message, messageLength, &versionCompare, 0);
    if (result == 0) result = smf->UpdateMetafile(message, messageLength);
    delete smf;
    return result;
  } catch (const std::exception& e) {
    copy_reason(e.what(), message, messageLength);
  } catch (...) {
  }
  delete smf;
  return -1;
}

QUELT_API int Edit_CreateNewMetafile(const char* path) {
  try {
    return CreateNewMetafile(path);
  } catch (...) {
    return -2;
  }
}

QUELT_API int Edit_CompactMetafile(const char* path) {
  try {
    return CompactMetafile(path);
  } catch (...) {
    return -2;
  }
}

QUELT_API int Edit_GetEngineVersion(char* buffer, int length) {
  try {
    return GetEngineVersion(buffer, length);
  } catch (...) {
    return -2;
  }
}

QUELT_API int Edit_GetMetafileStructureVersion(char* buffer, int length) {
  try {
    return GetMetafileStructureVersion(buffer, length);
  } catch (...) {
    return -1;
  }
}

QUELT_API int Edit_GetMetafileVersion(int smfID, char* buffer, int length) {
  return forward(smfID, "GetMetafileVersion", kReads, [&](TSMF* smf) {
    return smf->GetMetafileVersion(buffer, length);
  });
}

QUELT_API int Edit_GetMetafileComment(int smfID, char* buffer, int length) {
  return forward(smfID, "GetMetafileComment", kReads, [&](TSMF* smf) {
    return smf->GetMetafileComment(buffer, length);
  });
}

QUELT_API int Edit_GetEngineErrorsCount(int smfID, int* count) {
  return read_errors(smfID, [&](TSMF* smf) { return count == nullptr ? -1 : smf->GetEngineErrorsCount(count); });
}

QUELT_API int Edit_GetEngineErrorByIndex(int smfID, int index, char* buffer, int length) {
  return read_errors(smfID, [&](TSMF* smf) {
    return buffer == nullptr && length > 0 ? -1 : smf->GetEngineErrorByIndex(index, buffer, length);
  });
}

QUELT_API int Edit_GetPKeys(int smfID, const char* table, const char* orderBy, void* owner,
                            void* callback) {
  return forward(smfID, "GetPKeys", reads_model(owns_walk("a listing of primary keys")), [&](TSMF* smf) {
    return smf->GetPKeys(table, orderBy, owner, callback);
  });
}

QUELT_API int Edit_CheckEditSetAgainstLayout(int smfID, int editSetPKey, int layoutPKey,
                                             void* owner, void* callback) {
  return forward(smfID, "CheckEditSetAgainstLayout", owns_walk("a check of an edit set against a layout"),
                 [&](TSMF* smf) { return smf->CheckEditSetAgainstLayout(editSetPKey, layoutPKey, owner, callback); });
}

QUELT_API int Edit_GetTableNames(int smfID, void* owner, void* callback) {
  return forward(smfID, "GetTableNames", reads_model(owns_walk("a listing of table names")),
                 [&](TSMF* smf) { return smf->GetTableNames(owner, callback); });
}

QUELT_API int Edit_GetTablesCount(int smfID, int* count) {
  return forward(smfID, "GetTablesCount", reads_model(), [&](TSMF* smf) { return smf->GetTablesCount(count); });
}

QUELT_API int Edit_GetTableNameByIndex(int smfID, int index, char* buffer, int length) {
  return forward(smfID, "GetTableNameByIndex", reads_model(), [&](TSMF* smf) {
    return smf->GetTableNameByIndex(index, buffer, length);
  });
}

QUELT_API int Edit_GetTableStructure(int smfID, const char* table, void* owner, void* callback) {
  return forward(smfID, "GetTableStructure", reads_model(owns_walk("a listing of a table's structure")),
                 [&](TSMF* smf) { return smf->GetTableStructure(table, owner, callback); });
}

QUELT_API int Edit_GetColumnsCount(int smfID, const char* table, int* count) {
  return forward(smfID, "GetColumnsCount", reads_model(), [&](TSMF* smf) {
    return smf->GetColumnsCount(table, count);
  });
}

QUELT_API int Edit_GetColumnStructure(int smfID, const char* table, int columnOrder, char* name,
                                      int nameLength, char* type, int typeLength, char* nullable,
                                      int nullableLength, int* isTriggerField) {
  return forward(smfID, "GetColumnStructure", reads_model(), [&](TSMF* smf) {
    return smf->GetColumnStructure(table, columnOrder, name, nameLength, type, typeLength, nullable,
                                   nullableLength, isTriggerField);
  });
}

QUELT_API int Edit_GetColumnOrder(int smfID, const char* table, const char* fieldName, int* order) {
  return forward(smfID, "GetColumnOrder", reads_model(), [&](TSMF* smf) {
    return smf->GetColumnOrder(table, fieldName, order);
  });
}

QUELT_API int Edit_GetFieldName(int smfID, const char* table, int columnOrder, char* buffer,
                                int length) {
  return forward(smfID, "GetFieldName", reads_model(), [&](TSMF* smf) {
    return smf->GetFieldName(table, columnOrder, buffer, length);
  });
}

QUELT_API int Edit_GetIndexCount(int smfID, const char* table, int* count) {
  return forward(smfID, "GetIndexCount", reads_model(), [&](TSMF* smf) { return smf->GetIndexCount(table, count); });
}

QUELT_API int Edit_GetIndex(int smfID, const char* table, int index, char* buffer, int length) {
  return forward(smfID, "GetIndex", reads_model(), [&](TSMF* smf) {
    return smf->GetIndex(table, index, buffer, length);
  });
}

QUELT_API int Edit_GetTriggerCount(int smfID, const char* table, int* count) {
  return forward(smfID, "GetTriggerCount", reads_model(), [&](TSMF* smf) {
    return smf->GetTriggerCount(table, count);
  });
}

QUELT_API int Edit_GetTrigger(int smfID, const char* table, int index, char* buffer, int length) {
  return forward(smfID, "GetTrigger", reads_model(), [&](TSMF* smf) {
    return smf->GetTrigger(table, index, buffer, length);
  });
}

QUELT_API int Edit_ReadData(int smfID, const char* table, int pkey, void* owner, void* callback) {
  return forward(smfID, "ReadData", reads_model(owns_walk("a reading of a row")),
                 [&](TSMF* smf) { return smf->ReadData(table, pkey, owner, callback); });
}

QUELT_API int Edit_RefreshReadData(int smfID, const char* table, int pkey) {
  return forward(smfID, "RefreshReadData", kReads, [&](TSMF* smf) { return smf->RefreshReadData(table, pkey); });
}

QUELT_API int Edit_GetDataSizeByColumnOrder(int smfID, const char* table, int pkey,
                                            int columnOrder, int* size) {
  return forward(smfID, "GetDataSizeByColumnOrder", reads_model(), [&](TSMF* smf) {
    return smf->GetDataSizeByColumnOrder(table, pkey, columnOrder, size);
  });
}

QUELT_API int Edit_GetDataByColumnOrder(int smfID, const char* table, int pkey, int columnOrder,
                                        char* buffer, int length) {
  return forward(smfID, "GetDataByColumnOrder", reads_model(), [&](TSMF* smf) {
    return smf->GetDataByColumnOrder(table, pkey, columnOrder, buffer, length);
  });
}

QUELT_API int Edit_GetDataSizeByFieldName(int smfID, const char* table, int pkey,
                                          const char* fieldName, int* size) {
  return forward(smfID, "GetDataSizeByFieldName", reads_model(), [&](TSMF* smf) {
    return smf->GetDataSizeByFieldName(table, pkey, fieldName, size);
  });
}

QUELT_API int Edit_GetDataByFieldName(int smfID, const char* table, int pkey,
                                      const char* fieldName, char* buffer, int length) {
  return forward(smfID, "GetDataByFieldName", reads_model(), [&](TSMF* smf) {
    return smf->GetDataByFieldName(table, pkey, fieldName, buffer, length);
  });
}

QUELT_API int Edit_OpenCursor(int smfID, const char* cursorName, const char* sql) {
  return forward(smfID, "OpenCursor", kReads, [&](TSMF* smf) { return smf->OpenCursor(cursorName, sql); });
}

QUELT_API int Edit_CloseCursor(int smfID, const char* cursorName) {
  return forward(smfID, "CloseCursor", kReads, [&](TSMF* smf) {
    return smf->CloseCursor(cursorName);
  });
}

QUELT_API int Edit_CursorRowCount(int smfID, const char* cursorName, int* count) {
  return forward(smfID, "CursorRowCount", kReads, [&](TSMF* smf) { return smf->CursorRowCount(cursorName, count); });
}

QUELT_API int Edit_CursorColCount(int smfID, const char* cursorName, int* count) {
  return forward(smfID, "CursorColCount", kReads, [&](TSMF* smf) { return smf->CursorColCount(cursorName, count); });
}

QUELT_API int Edit_CursorNext(int smfID, const char* cursorName) {
  return forward(smfID, "CursorNext", kReads, [&](TSMF* smf) { return smf->CursorNext(cursorName); });
}

QUELT_API int Edit_CursorEof(int smfID, const char* cursorName, int* eof) {
  return forward(smfID, "CursorEof", kReads, [&](TSMF* smf) { return smf->CursorEof(cursorName, eof); });
}

QUELT_API int Edit_ReadCursorData(int smfID, const char* cursorName, void* owner, void* callback) {
  return forward(smfID, "ReadCursorData", owns_walk("a reading of a cursor's row"), [&](TSMF* smf) {
    return smf->ReadCursorData(cursorName, owner, callback);
  });
}

QUELT_API int Edit_GetCursorDataSizeByNumber(int smfID, const char* cursorName, int columnNumber,
                                             int* size) {
  return forward(smfID, "GetCursorDataSizeByNumber", kReads, [&](TSMF* smf) {
    return smf->GetCursorDataSizeByNumber(cursorName, columnNumber, size);
  });
}

QUELT_API int Edit_GetCursorDataByNumber(int smfID, const char* cursorName, int columnNumber,
                                         char* buffer, int length) {
  return forward(smfID, "GetCursorDataByNumber", kReads, [&](TSMF* smf) {
    return smf->GetCursorDataByNumber(cursorName, columnNumber, buffer, length);
  });
}

QUELT_API int Edit_GetCursorDataSizeByName(int smfID, const char* cursorName,
                                           const char* columnName, int* size) {
  return forward(smfID, "GetCursorDataSizeByName", kReads, [&](TSMF* smf) {
    return smf->GetCursorDataSizeByName(cursorName, columnName, size);
  });
}

QUELT_API int Edit_GetCursorDataByName(int smfID, const char* cursorName, const char* columnName,
                                       char* buffer, int length) {
  return forward(smfID, "GetCursorDataByName", kReads, [&](TSMF* smf) {
    return smf->GetCursorDataByName(cursorName, columnName, buffer, length);
  });
}

QUELT_API int Edit_GetCursorIntByNumber(int smfID, const char* cursorName, int columnNumber,
                                        int* value) {
  return forward(smfID, "GetCursorIntByNumber", kReads, [&](TSMF* smf) {
    return smf->GetCursorIntByNumber(cursorName, columnNumber, value);
  });
}

QUELT_API int Edit_GetCursorIntByName(int smfID, const char* cursorName, const char* columnName,
                                      int* value) {
  return forward(smfID, "GetCursorIntByName", kReads, [&](TSMF* smf) {
    return smf->GetCursorIntByName(cursorName, columnName, value);
  });
}

QUELT_API int Edit_PrepareParameterizedCursor(int smfID, const char* cursorName, const char* sql) {
  return forward(smfID, "PrepareParameterizedCursor", kReads, [&](TSMF* smf) {
    return smf->PrepareParameterizedCursor(cursorName, sql);
  });
}

QUELT_API int Edit_BindIntParameter(int smfID, const char* cursorName, int parameterNumber,
                                    int value) {
  return forward(smfID, "BindIntParameter", kReads, [&](TSMF* smf) {
    return smf->BindIntParameter(cursorName, parameterNumber, value);
  });
}

QUELT_API int Edit_BindTextParameter(int smfID, const char* cursorName, int parameterNumber,
                                     const char* text) {
  return forward(smfID, "BindTextParameter", kReads, [&](TSMF* smf) {
    return smf->BindTextParameter(cursorName, parameterNumber, text);
  });
}

QUELT_API int Edit_OpenParameterizedCursor(int smfID, const char* cursorName) {
  return forward(smfID, "OpenParameterizedCursor", kReads, [&](TSMF* smf) {
    return smf->OpenParameterizedCursor(cursorName);
  });
}

QUELT_API int Edit_ResetParameterizedCursor(int smfID, const char* cursorName) {
  return forward(smfID, "ResetParameterizedCursor", kReads, [&](TSMF* smf) {
    return smf->ResetParameterizedCursor(cursorName);
  });
}

QUELT_API int Edit_ReleaseParameterizedCursor(int smfID, const char* cursorName) {
  return forward(smfID, "ReleaseParameterizedCursor", kReads, [&](TSMF* smf) {
    return smf->ReleaseParameterizedCursor(cursorName);
  });
}

QUELT_API int Edit_UpdateRecordByTag(int smfID, const char* layoutTag, const char* record) {
  return forward(smfID, "UpdateRecordByTag", frees(kRecords), [&](TSMF* smf) {
    return smf->UpdateRecordByTag(layoutTag, record);
  });
}

QUELT_API int Edit_UpdateRecordByName(int smfID, const char* layoutName, const char* record) {
  return forward(smfID, "UpdateRecordByName", frees(kRecords), [&](TSMF* smf) {
    return smf->UpdateRecordByName(layoutName, record);
  });
}

QUELT_API int Edit_DisplayDataRecordByTag(int smfID, const char* layoutTag, void* owner, void* callback) {
  return forward(smfID, "DisplayDataRecordByTag", walks(kRecordDisplay, kMetafile | kRecords),
                 [&](TSMF* smf) { return smf->DisplayDataRecordByTag(layoutTag, owner, callback); });
}

QUELT_API int Edit_DisplayDataRecordByName(int smfID, const char* layoutName, void* owner, void* callback) {
  return forward(smfID, "DisplayDataRecordByName", walks(kRecordDisplay, kMetafile | kRecords),
                 [&](TSMF* smf) { return smf->DisplayDataRecordByName(layoutName, owner, callback); });
}

QUELT_API int Edit_DisplayFieldInMessagesAs(int smfID, int fieldNumber, const char* text) {
  return forward(smfID, "DisplayFieldInMessagesAs", kReads,
                 [&](TSMF* smf) { return smf->DisplayFieldInMessagesAs(fieldNumber, text); });
}

QUELT_API int Edit_NeverSkipEmptyField(int smfID, int fieldNumber, int flag) {
  return forward(smfID, "NeverSkipEmptyField", kReads, [&](TSMF* smf) {
    return smf->NeverSkipEmptyField(fieldNumber, flag);
  });
}

QUELT_API int Edit_FieldDataByNumber(int smfID, const char* layoutTag, int fieldNumber, int* key, int* startPos,
                                     int* length, char* name, int nameSize, char* displayName, int displaySize,
                                     char* dataType, int typeSize, char* value, int valueSize) {
  return forward(smfID, "FieldDataByNumber", kReads, [&](TSMF* smf) {
    return smf->FieldDataByNumber(layoutTag, fieldNumber, key, startPos, length, name, nameSize, displayName,
                                  displaySize, dataType, typeSize, value, valueSize);
  });
}

QUELT_API int Edit_LoadEditSet(int smfID, const char* editSetTag, const char* layoutTag) {
  return forward(smfID, "LoadEditSet", kReads, [&](TSMF* smf) { return smf->LoadEditSet(editSetTag, layoutTag); });
}

QUELT_API int Edit_UnloadEditSet(int smfID, const char* editSetTag, const char* layoutTag) {
  return forward(smfID, "UnloadEditSet", frees(kRecords),
                 [&](TSMF* smf) { return smf->UnloadEditSet(editSetTag, layoutTag); });
}

QUELT_API int Edit_GetRunEditsSummary(int smfID, const char* editSetTag, const char* layoutTag, int all, int* errors,
                                      int* warnings, int* skips, int* errorMessages, int* warningMessages,
                                      void* owner, void* callback) {
  return forward(smfID, "GetRunEditsSummary", walks("a run summary", kAll), [&](TSMF* smf) {
    return smf->GetRunEditsSummary(editSetTag, layoutTag, all, errors, warnings, skips, errorMessages,
                                   warningMessages, owner, callback);
  });
}

QUELT_API int Edit_SetEditOptions(int smfID, const char* editSetTag, const char* editTag, int suppress,
                                  int skipIfEmpty, int skipIfFailed, int noSkipsOverride) {
  return forward(smfID, "SetEditOptions", kReads, [&](TSMF* smf) {
    return smf->SetEditOptions(editSetTag, editTag, suppress, skipIfEmpty, skipIfFailed, noSkipsOverride);
  });
}

QUELT_API int Edit_GetEditOptions(int smfID, const char* editSetTag, const char* editTag, int* suppress,
                                  int* skipIfEmpty, int* skipIfFailed, int* noSkipsOverride) {
  return forward(smfID, "GetEditOptions", kReads, [&](TSMF* smf) {
    return smf->GetEditOptions(editSetTag, editTag, suppress, skipIfEmpty, skipIfFailed, noSkipsOverride);
  });
}

QUELT_API int Edit_ClearEditOptions(int smfID, const char* editSetTag) {
  return forward(smfID, "ClearEditOptions", kReads, [&](TSMF* smf) { return smf->ClearEditOptions(editSetTag); });
}

QUELT_API int Edit_RunEdits(int smfID, const char* editSetTag, const char* layoutTag, const char* data, int options,
                            int* failedCount, void* owner, void* callback) {
  return forward(smfID, "RunEdits", runs("a run of edits"), [&](TSMF* smf) {
    return smf->RunEdits(editSetTag, layoutTag, data, options, failedCount, owner, callback);
  });
}

QUELT_API int Edit_GetEditDetails(int smfID, const char* editTag, void* owner, void* callback) {
  return forward(smfID, "GetEditDetails", walks("a listing of an edit's details", kMetafile | kRecords),
                 [&](TSMF* smf) { return smf->GetEditDetails(editTag, owner, callback); });
}

QUELT_API int Edit_DebugEdit(int smfID, const char* editTag, const char* layoutTag, const char* data, void* owner,
                             void* lineCallback, void* variableCallback, void* fieldCallback, void* messageCallback) {
  return forward(smfID, "DebugEdit", runs("a debugging run"), [&](TSMF* smf) {
    return smf->DebugEdit(editTag, layoutTag, data, owner, lineCallback, variableCallback, fieldCallback,
                          messageCallback);
  });
}

QUELT_API int Edit_RecompileEditLogic(int smfID, const char* editTag) {
  return forward(smfID, "RecompileEditLogic", reads_model(), [&](TSMF* smf) {
    return smf->RecompileEditLogic(editTag);
  });
}

QUELT_API int Edit_UpdateAllAccessField(int smfID, const char* tableName, int pkey, const char* fieldName,
                                        const char* value) {
  return forward(smfID, "UpdateAllAccessField", kReads, [&](TSMF* smf) {
    return smf->UpdateAllAccessField(tableName, pkey, fieldName, value);
  });
}

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
  return forward(smfID, "Edit", reads_model(), [&](TSMF* smf) { return smf->Edit(table, pkey); });
}

QUELT_API int Qb_Insert(int smfID, const char* table) {
  return forward(smfID, "Insert", reads_model(), [&](TSMF* smf) { return smf->Insert(table); });
}

// Dropping a buffer needs no table as the file holds it, so it answers 0 in
// every mode, a locked file too.
QUELT_API int Qb_Cancel(int smfID, const char* table) {
  return forward(smfID, "Cancel", kReads, [&](TSMF* smf) { return smf->Cancel(table); });
}

QUELT_API int Qb_Post(int smfID, const char* table, int* pkey) {
  return forward(smfID, "Post", reads_model(writes_row(table)), [&](TSMF* smf) { return smf->Post(table, pkey); });
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
  return forward(smfID, "ValidateUnique", reads_model(), [&](TSMF* smf) {
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

QUELT_API void Startup() {}

QUELT_API void Shutdown() {
  try {
    for (TSMF*& smf : SMFList()) {
      if (smf != nullptr && smf->IsBusy()) continue;
      delete smf;
      smf = nullptr;
    }
    ClearExternalDLLs();
  } catch (...) {
  }
}
