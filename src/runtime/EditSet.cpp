// Edit sets and their edits: loading a set's edits in run order with their
// fields, pairing them with a layout, options, counts and compiled logic.
#include "runtime/EditSet.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "runtime/Layout.h"
#include "runtime/QueryHelpers.h"
#include "runtime/TokenMaster.h"
#include "storage/EngineErrorsPump.h"
#include "storage/FastSQLQuery.h"
#include "storage/Utility.h"

namespace {

const char* const kEditKeysSelect =
    "SELECT piv.EditPKey FROM RL_EditSetEditsPivot piv, RL_Edits a WHERE a.PKey = piv.EditPKey AND "
    "a.IsMultiField = ? AND piv.EditSetPKey = ? ORDER BY a.EditName;";
const char* const kEditDetailsSelect =
    "SELECT a.EditName, a.EditTag, b.AdminCode, m.MessageNumber, m.Message FROM RL_Edits a, RL_Agencies b, "
    "RL_Messages m WHERE b.PKey = a.AgencyPKey AND m.PKey = a.MessagePKey AND a.PKey = ?;";
const char* const kEditFieldsSelect =
    "SELECT f.FieldNumber FROM RL_EditFieldsPivot piv, RL_Fields f WHERE f.PKey = piv.FieldPKey AND "
    "piv.EditPKey = ? ORDER BY piv.FieldOrder;";
const size_t kFieldsReserve = 20;
const size_t kRunOrderReserve = 1000;

void add_unique(std::vector<int>& numbers, int number) {
  if (std::find(numbers.begin(), numbers.end(), number) == numbers.end()) numbers.push_back(number);
}

void set_options(TEdit* edit, bool suppress, bool skipIfEmpty, bool skipIfFailed, bool noSkipsOverride) {
  edit->SuppressEdit(suppress);
  edit->SkipIfEmpty(skipIfEmpty);
  edit->SkipIfFailed(skipIfFailed);
  edit->NoSkipsOverride(noSkipsOverride);
}

}  // namespace

// An edit reads through the statements it is given, never on its own.
TEdit::TEdit(TSQLDB*, TEngineErrorsPump* pump, int pkey, std::string editName, std::string editTag,
             std::string adminCode, std::string defaultMessageNumber, std::string defaultErrorMessage)
    : FEnginePump(pump),
      FEditName(std::move(editName)),
      FEditTag(std::move(editTag)),
      FAdminCode(std::move(adminCode)),
      FDefaultMessageNumber(std::move(defaultMessageNumber)),
      FDefaultErrorMessage(std::move(defaultErrorMessage)),
      FPKey(pkey) {
  FFields.reserve(kFieldsReserve);
  FFieldsNotInLayout.reserve(kFieldsReserve);
}

TEdit::~TEdit() = default;

void TEdit::ClearCounts() { std::fill(FCounts, FCounts + kCountKinds, 0); }

void TEdit::AddField(int number) { add_unique(FFields, number); }

int TEdit::GetFieldByMacroOrder(int position) const {
  return position < 0 || position >= GetFieldsCount() ? -1 : FFields[position];
}

void TEdit::SetFieldNotInLayout(int number) {
  if (number >= 1) add_unique(FFieldsNotInLayout, number);
}

void TEdit::PairWithLayout(const TLayout* layout) {
  FFieldsNotInLayout.clear();
  FLayoutFields.assign(FFields.size(), nullptr);
  for (size_t i = 0; i < FFields.size(); ++i) {
    if (layout != nullptr) FLayoutFields[i] = layout->GetFieldByFieldNumber(FFields[i]);
    if (FLayoutFields[i] == nullptr) SetFieldNotInLayout(FFields[i]);
  }
}

TLayoutField* TEdit::GetLayoutField(int position) const {
  return position < 0 || static_cast<size_t>(position) >= FLayoutFields.size() ? nullptr
                                                                                : FLayoutFields[position];
}

const std::string& TEdit::GetCompiledLogic(TFastSQLQuery* query) {
  if (!FCompiledLogic.empty()) return FCompiledLogic;
  try {
    query->BindIntParameter(1, FPKey);
    query->OpenParameterizedQuery();
    if (!query->Eof()) FCompiledLogic = query->GetFieldByNumber(0);
    query->ResetParameterizedQuery();
  } catch (const std::runtime_error&) {
    // The exception carries the statement's reason to the run's engine errors.
    std::string reason = query->LastErrorMessage();
    reset_after_failure(*query);
    throw std::runtime_error(reason);
  }
  return FCompiledLogic;
}

TDecodedLogic* TEdit::GetDecodedLogic() {
  if (FDecodedLogic == nullptr && !FCompiledLogic.empty())
    FDecodedLogic = std::make_unique<TDecodedLogic>(FCompiledLogic);
  return FDecodedLogic.get();
}

void TEdit::SetCompiledLogic(const std::string& logic) {
  FCompiledLogic = logic;
  FDecodedLogic.reset();
}

bool TEdit::BuildEditFieldsList(TFastSQLQuery* query) {
  std::string sql =
      "SELECT f.FieldNumber FROM RL_EditFieldsPivot piv, RL_Fields f WHERE f.PKey = piv.FieldPKey AND "
      "piv.EditPKey = " +
      intToString(FPKey) + " ORDER BY piv.FieldOrder;";
  try {
    query->SetIsActive(false);
    open_select(*query, sql);
    for_each_row(*query, [&] { AddField(query->GetIntFieldByNumber(0)); });
    return query->SetIsActive(false);
  } catch (const std::runtime_error& e) {
    FEnginePump->AddError("TEdit", "BuildEditFieldsList", e.what());
    FEnginePump->AddError("TEdit", "BuildEditFieldsList", "SQL: " + sql);
    query->SetIsActive(false);
    throw;
  }
}

TEditSet::TEditSet(TSQLDB* db, TEngineErrorsPump* pump) : FSQLDB(db), FEnginePump(pump) {
  FRunOrder.reserve(kRunOrderReserve);
}

TEditSet::~TEditSet() = default;

int TEditSet::LoadEditSet(const std::string& tag) {
  TFastSQLQuery editKeys(FSQLDB);
  TFastSQLQuery details(FSQLDB);
  TFastSQLQuery fields(FSQLDB);
  int result = read_edit_set_row(editKeys, tag);
  if (!prepare_query(editKeys, kEditKeysSelect, "Failure to prepare edit PKeys parameterized query")) result = -1;
  if (!prepare_query(details, kEditDetailsSelect, "Failure to prepare edit details parameterized query"))
    result = -1;
  if (!prepare_query(fields, kEditFieldsSelect, "Failure to prepare edit fieldss parameterized query"))
    result = -1;
  if (result != 0) return result;
  try {
    load_edits(editKeys, details, fields);
  } catch (const std::runtime_error& e) {
    add_error("LoadEditSet", e.what());
    result = -1;
  }
  return result;  // the three statements are released as they go out of scope
}

int TEditSet::read_edit_set_row(TFastSQLQuery& query, const std::string& tag) {
  std::string sql = "SELECT PKey, EditSetName FROM RL_EditSets WHERE EditSetTag = '" + quote_sql_value(tag) + "';";
  FEditSetTag = tag;
  try {
    if (open_select(query, sql)) {
      FPKey = query.GetUsableKeyByNumber(0, "RL_EditSets");  // cut, it would load another set's edits
      FEditSetName = query.GetFieldByNumber(1);
    }
    query.SetIsActive(false);
    return 0;
  } catch (const std::runtime_error& e) {
    add_error("LoadEditSet", e.what());
    add_error("LoadEditSet", "SQL: " + sql);
    query.SetIsActive(false);
    return -1;
  }
}

bool TEditSet::prepare_query(TFastSQLQuery& query, const char* sql, const char* failure) {
  query.SetSQLText(sql, true);
  try {
    return query.PrepareParameterizedQuery();
  } catch (const std::runtime_error&) {
    add_error("LoadEditSet", failure);
    add_error("LoadEditSet", std::string("SQL: ") + sql);
    return false;
  }
}

// Single-field edits by name, then multi-field edits by name. An edit key
// that is not usable throws its refusal: cut, it would load another edit.
void TEditSet::load_edits(TFastSQLQuery& editKeys, TFastSQLQuery& details, TFastSQLQuery& fields) {
  for (int multiField = 0; multiField <= 1; ++multiField) {
    editKeys.BindIntParameter(1, multiField);
    editKeys.BindIntParameter(2, FPKey);
    editKeys.OpenParameterizedQuery();
    for_each_row(editKeys, [&] {
      int pkey = editKeys.GetUsableKeyByNumber(0, "RL_Edits");
      if (pkey > 0) load_edit(pkey, details, fields);
    });
    editKeys.ResetParameterizedQuery();
  }
}

void TEditSet::load_edit(int pkey, TFastSQLQuery& details, TFastSQLQuery& fields) {
  details.BindIntParameter(1, pkey);
  details.OpenParameterizedQuery();
  // Only a metafile whose foreign keys were off can lose these rows; a set
  // that cannot be loaded whole is not loaded at all.
  if (details.Eof()) {
    details.ResetParameterizedQuery();
    throw std::runtime_error("Edit with PKey " + intToString(pkey) + " has no agency or message row; it is not loaded");
  }
  std::string name = details.GetFieldByNumber(0);
  std::string tag = details.GetFieldByNumber(1);
  TEdit* edit = nullptr;
  auto found = FEditsByTag.find(tag);
  if (found != FEditsByTag.end()) {
    edit = found->second;
  } else {
    FEdits.push_back(std::make_unique<TEdit>(FSQLDB, FEnginePump, pkey, name, tag, details.GetFieldByNumber(2),
                                             details.GetFieldByNumber(3), details.GetFieldByNumber(4)));
    edit = FEdits.back().get();
  }
  fields.BindIntParameter(1, pkey);
  fields.OpenParameterizedQuery();
  for_each_row(fields, [&] {
    int number = fields.GetIntFieldByNumber(0);
    if (number > 0) edit->AddField(number);
  });
  fields.ResetParameterizedQuery();
  FRunOrder.push_back(edit);
  FEditsByName[name] = edit;
  FEditsByTag[tag] = edit;
  details.ResetParameterizedQuery();
}

TEdit* TEditSet::GetEditByRunOrderIndex(int index) const {
  return index < 0 || index >= GetEditsCount() ? nullptr : FRunOrder[index];
}

void TEditSet::ClearCounts() {
  for (TEdit* edit : FRunOrder) edit->ClearCounts();
}

TEdit* TEditSet::find_edit(const std::string& editTag, const char* method) {
  auto found = FEditsByTag.find(editTag);
  if (found != FEditsByTag.end()) return found->second;
  char message[1000];
  snprintf(message, sizeof message, "Cannot find edit tag \"%s\" in edit set \"%s\" [\"%s\"]", editTag.c_str(),
           FEditSetName.c_str(), FEditSetTag.c_str());
  add_error(method, message);
  return nullptr;
}

int TEditSet::SetEditOptions(const std::string& editTag, bool suppress, bool skipIfEmpty, bool skipIfFailed,
                             bool noSkipsOverride) {
  TEdit* edit = find_edit(editTag, "SetEditOptions");
  if (edit == nullptr) return -1;
  set_options(edit, suppress, skipIfEmpty, skipIfFailed, noSkipsOverride);
  return 0;
}

int TEditSet::GetEditOptions(const std::string& editTag, int* suppress, int* skipIfEmpty, int* skipIfFailed,
                             int* noSkipsOverride) {
  TEdit* edit = find_edit(editTag, "GetEditOptions");
  if (edit == nullptr) return -1;
  auto put = [](int* out, bool on) {
    if (out != nullptr) *out = on ? 1 : 0;
  };
  put(suppress, edit->IsSuppressed());
  put(skipIfEmpty, edit->IsSkipIfEmpty());
  put(skipIfFailed, edit->IsSkipIfFailed());
  put(noSkipsOverride, edit->IsNoSkipsOverride());
  return 0;
}

int TEditSet::ClearEditOptions() {
  for (TEdit* edit : FRunOrder) set_options(edit, false, false, false, false);
  return 0;
}

void TEditSet::PairWithLayout(const TLayout* layout) {
  for (const auto& edit : FEdits) edit->PairWithLayout(layout);
  FPairedLayout = layout;
  FPairedGeneration = layout != nullptr ? layout->GetGeneration() : 0;
}

bool TEditSet::IsPairedWith(const TLayout* layout) const {
  return layout != nullptr && layout == FPairedLayout && FPairedGeneration == layout->GetGeneration();
}

void TEditSet::add_error(const char* method, const std::string& message) {
  FEnginePump->AddError("TEditSet", method, message);
}
