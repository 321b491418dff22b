// The exports of the record path and of compilation: records and their
// display, edit sets and their options, runs, summaries, edit details,
// debugging runs and recompiling an edit.
#include "api/EditAPI.h"

#include "quelt.h"

using namespace edit_api;

namespace {

const char* const kRecordDisplay = "a display of a record";

// A run or a debugging run walks everything and loads the record it runs over.
TReentry runs(const char* underWay) { return {underWay, kAll, kRecords, false, false}; }

}  // namespace

extern "C" {

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

}  // extern "C"
