// The exports that read a metafile: primary keys, tables, columns, indexes and
// triggers, rows by primary key, and named and parameterized cursors.
#include "api/EditAPI.h"

#include "quelt.h"

using namespace edit_api;

extern "C" {

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
  return forward(smfID, "GetDataSizeByColumnOrder", reads_model_and_rows(), [&](TSMF* smf) {
    return smf->GetDataSizeByColumnOrder(table, pkey, columnOrder, size);
  });
}

QUELT_API int Edit_GetDataByColumnOrder(int smfID, const char* table, int pkey, int columnOrder,
                                        char* buffer, int length) {
  return forward(smfID, "GetDataByColumnOrder", reads_model_and_rows(), [&](TSMF* smf) {
    return smf->GetDataByColumnOrder(table, pkey, columnOrder, buffer, length);
  });
}

QUELT_API int Edit_GetDataSizeByFieldName(int smfID, const char* table, int pkey,
                                          const char* fieldName, int* size) {
  return forward(smfID, "GetDataSizeByFieldName", reads_model_and_rows(), [&](TSMF* smf) {
    return smf->GetDataSizeByFieldName(table, pkey, fieldName, size);
  });
}

QUELT_API int Edit_GetDataByFieldName(int smfID, const char* table, int pkey,
                                      const char* fieldName, char* buffer, int length) {
  return forward(smfID, "GetDataByFieldName", reads_model_and_rows(), [&](TSMF* smf) {
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

}  // extern "C"
