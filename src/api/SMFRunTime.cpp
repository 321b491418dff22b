// TSMF: the operations in front of the edit run-time. Each checks the host's
// pointer arguments, records every fault it finds and hands the call to the
// run driver.
#include <string>

#include "api/SMF.h"
#include "runtime/RunEdits.h"
#include "storage/SQLQuery.h"
#include "storage/Utility.h"

namespace {

const char* const kNullText = "At least one of the char* parameters is NULL";

}  // namespace

bool TSMF::texts_given(const char* method, std::initializer_list<const void*> texts) {
  for (const void* text : texts) {
    if (text != nullptr) continue;
    add_error(method, kNullText);
    return false;
  }
  return true;
}

std::string TSMF::get_layout_tag_from_name(const char* layoutName) {
  TSQLQuery query(FSQLDB);
  query.OpenSelect(std::string("SELECT LayoutTag FROM RL_Layouts WHERE LayoutName = '") +
                   quote_sql_value(layoutName) + "';");
  return query.Eof() ? std::string() : query.GetFieldByName("LayoutTag");
}

// The tag of a layout named by the host; empty after recording that it is not found.
std::string TSMF::layout_tag_for(const char* layoutName, const char* method) {
  std::string tag = layoutName != nullptr ? get_layout_tag_from_name(layoutName) : std::string();
  if (tag.empty())
    add_error(method, std::string("Layout name \"") + (layoutName != nullptr ? layoutName : "(null)") +
                          "\" not found in metafile");
  return tag;
}

int TSMF::UpdateRecordByTag(const char* layoutTag, const char* record) {
  if (!parameters_given("UpdateRecordByTag", {{layoutTag, "layout_tag"}})) return -1;
  return FRunEdits->UpdateRecord(layoutTag, record != nullptr ? record : "");
}

int TSMF::UpdateRecordByName(const char* layoutName, const char* record) {
  std::string tag = layout_tag_for(layoutName, "UpdateRecordByName");
  return tag.empty() ? -1 : FRunEdits->UpdateRecord(tag, record != nullptr ? record : "");
}

int TSMF::DisplayDataRecordByTag(const char* layoutTag, void* owner, void* callback) {
  if (!parameters_given("DisplayDataRecordByTag", {{layoutTag, "layout_tag"}, {callback, "callback_func"}}))
    return -1;
  return FRunEdits->DisplayDataRecord(layoutTag, owner, callback);
}

int TSMF::DisplayDataRecordByName(const char* layoutName, void* owner, void* callback) {
  if (!parameters_given("DisplayDataRecordByName", {{callback, "callback_func"}})) return -1;
  std::string tag = layout_tag_for(layoutName, "DisplayDataRecordByName");
  return tag.empty() ? -1 : FRunEdits->DisplayDataRecord(tag, owner, callback);
}

int TSMF::DisplayFieldInMessagesAs(int fieldNumber, const char* text) {
  return FRunEdits->DisplayFieldInMessagesAs(fieldNumber, text != nullptr ? text : "");
}

int TSMF::NeverSkipEmptyField(int fieldNumber, int flag) { return FRunEdits->NeverSkipEmptyField(fieldNumber, flag); }

int TSMF::FieldDataByNumber(const char* layoutTag, int fieldNumber, int* key, int* startPos, int* length, char* name,
                            int nameSize, char* displayName, int displaySize, char* dataType, int typeSize,
                            char* value, int valueSize) {
  if (!texts_given("DataByFieldNumber", {layoutTag, name, displayName, dataType, value})) return -1;
  return FRunEdits->FieldDataByNumber(layoutTag, fieldNumber, key, startPos, length, name, nameSize, displayName,
                                      displaySize, dataType, typeSize, value, valueSize);
}

int TSMF::LoadEditSet(const char* editSetTag, const char* layoutTag) {
  if (!texts_given("LoadEditSet", {editSetTag, layoutTag})) return -1;
  return FRunEdits->LoadEditSet(editSetTag, layoutTag);
}

int TSMF::UnloadEditSet(const char* editSetTag, const char* layoutTag) {
  if (!texts_given("UnloadEditSet", {editSetTag, layoutTag})) return -1;
  return FRunEdits->UnloadEditSet(editSetTag, layoutTag);
}

int TSMF::SetEditOptions(const char* editSetTag, const char* editTag, int suppress, int skipIfEmpty,
                         int skipIfFailed, int noSkipsOverride) {
  if (!texts_given("SetEditOptions", {editSetTag, editTag})) return -1;
  return FRunEdits->SetEditOptions(editSetTag, editTag, suppress, skipIfEmpty, skipIfFailed, noSkipsOverride);
}

int TSMF::GetEditOptions(const char* editSetTag, const char* editTag, int* suppress, int* skipIfEmpty,
                         int* skipIfFailed, int* noSkipsOverride) {
  if (!texts_given("GetEditOptions", {editSetTag, editTag})) return -1;
  return FRunEdits->GetEditOptions(editSetTag, editTag, suppress, skipIfEmpty, skipIfFailed, noSkipsOverride);
}

int TSMF::ClearEditOptions(const char* editSetTag) {
  if (editSetTag == nullptr) {
    add_error("ClearEditOptions", "Parameter edit_set_tag is NULL");
    return -1;
  }
  return FRunEdits->ClearEditOptions(editSetTag);
}

// Both halves of a callback pair, or neither.
bool TSMF::callback_pair_given(const char* method, const void* owner, const void* callback) {
  if (owner != nullptr && callback == nullptr)
    add_error(method, "Parameter \"owner\" is NOT NULL, but parameter \"callback_func\" IS NULL");
  if (callback != nullptr && owner == nullptr)
    add_error(method, "Parameter \"callback_func\" is NOT NULL, but parameter \"owner\" IS NULL");
  return (owner == nullptr) == (callback == nullptr);
}

int TSMF::RunEdits(const char* editSetTag, const char* layoutTag, const char* data, int options, int* failedCount,
                   void* owner, void* callback) {
  bool given = parameters_given("RunEdits", {{editSetTag, "edit_set_tag"}, {layoutTag, "layout_tag"}, {data, "data"}});
  if (!callback_pair_given("RunEdits", owner, callback) || !given) return -1;
  return FRunEdits->RunEdits(editSetTag, layoutTag, data, options, failedCount, owner, callback);
}

int TSMF::GetRunEditsSummary(const char* editSetTag, const char* layoutTag, int all, int* errors, int* warnings,
                             int* skips, int* errorMessages, int* warningMessages, void* owner, void* callback) {
  bool given = parameters_given("GetRunEditsSummary", {{editSetTag, "edit_set_tag"}, {layoutTag, "layout_tag"}});
  if (!callback_pair_given("GetRunEditsSummary", owner, callback) || !given) return -1;
  return FRunEdits->GetRunEditsSummary(editSetTag, layoutTag, all, errors, warnings, skips, errorMessages,
                                       warningMessages, owner, callback);
}

int TSMF::GetEditDetails(const char* editTag, void* owner, void* callback) {
  if (!parameters_given("GetEditDetails", {{editTag, "edit_tag"}, {callback, "callback_func"}})) return -1;
  return FRunEdits->GetEditDetails(editTag, owner, callback);
}

int TSMF::DebugEdit(const char* editTag, const char* layoutTag, const char* data, void* owner, void* lineCallback,
                    void* variableCallback, void* fieldCallback, void* messageCallback) {
  bool given = parameters_given("DebugEdit", {{editTag, "edit_tag"}, {layoutTag, "layout_tag"}, {data, "data"},
                                              {owner, "owner"}});
  if (lineCallback == nullptr && variableCallback == nullptr && fieldCallback == nullptr && messageCallback == nullptr) {
    add_error("DebugEdit", "Edit_DebugEdit is pointless without at least one callback function");
    given = false;
  }
  if (!given) return -1;
  return FRunEdits->DebugEdit(editTag, layoutTag, data, owner, lineCallback, variableCallback, fieldCallback,
                              messageCallback);
}
