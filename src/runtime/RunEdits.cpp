// The run driver: layouts and edit-set/layout pairs, options, runs of edits
// over records with the skip rules, run summaries and edit details.
#include "runtime/RunEdits.h"

#include <stdexcept>
#include <utility>
#include <vector>

#include "library/LibFuncs.h"
#include "runtime/EditErrors.h"
#include "runtime/EditSet.h"
#include "runtime/Layout.h"
#include "runtime/QueryHelpers.h"
#include "runtime/Variable.h"
#include "storage/EngineErrorsPump.h"
#include "storage/FastSQLQuery.h"
#include "storage/SQLDB.h"
#include "storage/Utility.h"

namespace {

const char* const kEditLogicSelect = "SELECT CompiledLogic FROM RL_Edits WHERE PKey = ?;";
const char* const kEditDetailsSelect =
    "SELECT f.FieldNumber, piv.FieldOrder FROM RL_EditFieldsPivot piv, RL_Fields f, RL_Edits e WHERE f.PKey = "
    "piv.FieldPKey AND e.PKey = piv.EditPKey AND e.EditTag = ? ORDER BY piv.FieldOrder;";
const char* const kUncompiledSelect =
    "SELECT c.EditName, c.EditTag FROM RL_EditSetEditsPivot a, RL_EditSets b, RL_Edits c WHERE a.EditSetPKey = "
    "b.PKey AND a.EditPKey = c.PKey AND b.EditSetTag = '%s' AND IFNULL(c.CompiledLogic,'') = '' ORDER BY 1;";
const size_t kMessageSize = 1000;

void set(int* out, int value) {
  if (out != nullptr) *out = value;
}

}  // namespace

TRunEdits::TRunEdits(TSQLDB* db, TEngineErrorsPump* pump, TTablesList* tables)
    : FSQLDB(db), FEnginePump(pump), FTablesList(tables) {
  FEditErrors = new TEditErrors(db, pump);
  FTokenMaster = new TTokenMaster(pump);
  FLibFuncs = new TLibFuncs(this, pump, db, tables, FEditErrors, FTokenMaster);
  FEditErrors->SetLibFuncs(FLibFuncs);
}

TRunEdits::~TRunEdits() {
  delete FLibFuncs;
  clear_variables();
  FPairs.clear();
  for (auto& layout : FLayouts) delete layout.second;
  delete FTokenMaster;
  delete FEditErrors;
  delete FEditLogicQry;
  delete FEditDetailsQry;
}

void TRunEdits::add_error(const char* method, const std::string& message) {
  FEnginePump->AddError("TRunEdits", method, message);
}

TLayout* TRunEdits::find_layout(const std::string& upperTag) const {
  auto found = FLayouts.find(upperTag);
  return found == FLayouts.end() ? nullptr : found->second;
}

TLayout* TRunEdits::load_layout(const std::string& upperTag, const char* method) {
  std::unique_ptr<TLayout> layout(new TLayout(FSQLDB, FEnginePump));
  try {
    if (layout->LoadLayout(upperTag) != 0) return nullptr;
  } catch (const std::runtime_error& e) {
    add_error(method, *e.what() != '\0' ? e.what() : "Failure in TRunEdits::UpdateRecord");
    return nullptr;
  }
  FLayouts[upperTag] = layout.get();
  return layout.release();
}

// Reloads a layout in place for the pairs that use it; one that cannot be read
// again is dropped with those pairs, so none goes on with a broken layout.
bool TRunEdits::reload_layout(TLayout* layout, const char* method) {
  forget_last_pair();
  try {
    if (layout->ReloadLayout() == 0) return true;
  } catch (const std::runtime_error& e) {
    if (*e.what() != '\0') add_error(method, e.what());
  }
  drop_layout(layout);
  return false;
}

void TRunEdits::drop_layout(TLayout* layout) {
  forget_last_pair();
  for (size_t i = FPairs.size(); i-- > 0;)
    if (FPairs[i]->Layout == layout) FPairs.erase(FPairs.begin() + static_cast<long>(i));
  FLayouts.erase(layout->GetLayoutTag());
  delete layout;
}

int TRunEdits::UpdateRecord(const std::string& layoutTag, const char* data) {
  std::string tag = uppercase_string(layoutTag);
  TLayout* layout = find_layout(tag);
  if (layout == nullptr && (layout = load_layout(tag, "UpdateRecord")) == nullptr) return -1;
  return layout->LoadData(data) == 0 ? 0 : -1;
}

int TRunEdits::DisplayDataRecord(const std::string& layoutTag, void* owner, void* callback) {
  TLayout* layout = loaded_layout(layoutTag, "DisplayDataRecord");
  return layout == nullptr ? -1 : layout->DisplayDataRecord(owner, callback);
}

TLayout* TRunEdits::loaded_layout(const std::string& layoutTag, const char* method) {
  std::string tag = uppercase_string(layoutTag);
  TLayout* layout = find_layout(tag);
  if (layout == nullptr) add_error(method, "Cannot find record layout with tag \"" + tag + "\"");
  return layout;
}

// Applies a setting to every layout loaded now; the result is the last one's.
template <typename Setting>
int TRunEdits::set_in_every_layout(const char* method, Setting setting) {
  if (FLayouts.empty()) {
    add_error(method, std::string("No layouts in memory. Call Edit_UpdateRecordByTag before calling Edit_") + method +
                          ".");
    return -1;
  }
  int result = 0;
  for (auto& layout : FLayouts) result = setting(layout.second);
  return result;
}

int TRunEdits::DisplayFieldInMessagesAs(int fieldNumber, const std::string& displayName) {
  return set_in_every_layout("DisplayFieldInMessagesAs", [&](TLayout* layout) {
    return layout->DisplayFieldInMessagesAs(fieldNumber, displayName);
  });
}

int TRunEdits::NeverSkipEmptyField(int fieldNumber, int flag) {
  return set_in_every_layout("NeverSkipEmptyField",
                             [&](TLayout* layout) { return layout->NeverSkipEmptyField(fieldNumber, flag); });
}

int TRunEdits::FieldDataByNumber(const std::string& layoutTag, int fieldNumber, int* key, int* startPos,
                                 int* length, char* name, int nameSize, char* displayName, int displaySize,
                                 char* dataType, int typeSize, char* value, int valueSize) {
  TLayout* layout = loaded_layout(layoutTag, "FieldDataByNumber");
  if (layout == nullptr) return -1;
  return layout->FieldDataByNumber(fieldNumber, key, startPos, length, name, nameSize, displayName, displaySize,
                                   dataType, typeSize, value, valueSize);
}

TRunEdits::TPair* TRunEdits::find_layout_editset_pair(const std::string& upperLayoutTag,
                                                      const std::string& upperEditSetTag) const {
  TLayout* layout = find_layout(upperLayoutTag);
  if (layout == nullptr) return nullptr;
  for (const auto& pair : FPairs)
    if (pair->Layout == layout && pair->EditSet->GetEditSetTag() == upperEditSetTag) return pair.get();
  return nullptr;
}

// The set of the first pair from start on with that tag (any letter case);
// more tells whether pairs follow the one found.
TEditSet* TRunEdits::find_editset(const std::string& editSetTag, size_t start, bool& more) const {
  std::string tag = uppercase_string(editSetTag);
  for (size_t i = start; i < FPairs.size(); ++i) {
    if (FPairs[i]->EditSet->GetEditSetTag() != tag) continue;
    more = i + 1 < FPairs.size();
    return FPairs[i]->EditSet.get();
  }
  more = false;
  return nullptr;
}

TEditSet* TRunEdits::prepare_editset(const std::string& upperEditSetTag, const std::string& upperLayoutTag) {
  TLayout* layout = find_layout(upperLayoutTag);
  if (layout == nullptr) return nullptr;
  std::unique_ptr<TEditSet> editSet(new TEditSet(FSQLDB, FEnginePump));
  try {
    if (editSet->LoadEditSet(upperEditSetTag) != 0) return nullptr;
  } catch (const std::runtime_error&) {
    return nullptr;
  }
  editSet->PairWithLayout(layout);
  if (TPair* pair = find_layout_editset_pair(upperLayoutTag, upperEditSetTag)) return pair->EditSet.get();
  FPairs.push_back(std::unique_ptr<TPair>(new TPair{layout, std::move(editSet)}));
  return FPairs.back()->EditSet.get();
}

int TRunEdits::LoadEditSet(const std::string& editSetTag, const std::string& layoutTag) {
  std::string setTag = uppercase_string(editSetTag), tag = uppercase_string(layoutTag);
  if (find_layout_editset_pair(tag, setTag) != nullptr) return 0;
  if (find_layout(tag) == nullptr && load_layout(tag, "LoadEditSet") == nullptr) return -1;
  if (prepare_editset(setTag, tag) != nullptr) return 0;
  add_error("LoadEditSet",
            "Failure to load edit set tag \"" + editSetTag + "\" with layout tag \"" + layoutTag + "\";");
  return -1;
}

// A layout that other pairs still use is reloaded in place instead of deleted.
int TRunEdits::UnloadEditSet(const std::string& editSetTag, const std::string& layoutTag) {
  std::string setTag = uppercase_string(editSetTag), tag = uppercase_string(layoutTag);
  TLayout* layout = find_layout(tag);
  if (layout == nullptr) return 0;
  forget_last_pair();
  for (size_t i = 0; i < FPairs.size(); ++i) {
    if (FPairs[i]->Layout == layout && FPairs[i]->EditSet->GetEditSetTag() == setTag) {
      FPairs.erase(FPairs.begin() + static_cast<long>(i));
      break;
    }
  }
  bool shared = false;
  for (const auto& pair : FPairs) shared = shared || pair->Layout == layout;
  if (shared) reload_layout(layout, "UnloadEditSet");
  else drop_layout(layout);
  return 0;
}

void TRunEdits::forget_last_pair() {
  FLastPair = nullptr;
  FLastEditSetTag.clear();
  FLastLayoutTag.clear();
}

// The options go to the edit in every pair of the set: one set loaded against
// several layouts is one TEditSet per pair.
int TRunEdits::SetEditOptions(const std::string& editSetTag, const std::string& editTag, int suppress,
                              int skipIfEmpty, int skipIfFailed, int noSkipsOverride) {
  int result = 1;
  bool more = true;
  for (size_t start = 0; more;) {
    TEditSet* editSet = find_editset(editSetTag, start, more);
    if (editSet == nullptr) break;
    result = editSet->SetEditOptions(editTag, suppress != 0, skipIfEmpty != 0, skipIfFailed != 0, noSkipsOverride != 0);
    // The search goes on just after the pair found.
    while (FPairs[start]->EditSet.get() != editSet) ++start;
    ++start;
  }
  return result == 1 ? not_initialized(editSetTag, "SetEditOptions") : result;
}

int TRunEdits::GetEditOptions(const std::string& editSetTag, const std::string& editTag, int* suppress,
                              int* skipIfEmpty, int* skipIfFailed, int* noSkipsOverride) {
  bool more = false;
  TEditSet* editSet = find_editset(editSetTag, 0, more);
  if (editSet == nullptr) return not_initialized(editSetTag, "GetEditOptions");
  return editSet->GetEditOptions(editTag, suppress, skipIfEmpty, skipIfFailed, noSkipsOverride);
}

int TRunEdits::ClearEditOptions(const std::string& editSetTag) {
  bool more = false;
  TEditSet* editSet = find_editset(editSetTag, 0, more);
  if (editSet == nullptr) return not_initialized(editSetTag, "ClearEditOptions");
  return editSet->ClearEditOptions();
}

int TRunEdits::not_initialized(const std::string& editSetTag, const char* method) {
  add_error(method, ("Edit set with tag \"" + editSetTag + "\" has not been initialized. Run Edit_LoadEditSet first.")
                        .substr(0, kMessageSize - 1));
  return -1;
}

// A statement kept prepared for the life of the run-time.
TFastSQLQuery* TRunEdits::prepare_kept_query(const char* sql, const char* method, const char* failure) {
  std::unique_ptr<TFastSQLQuery> query(new TFastSQLQuery(FSQLDB));
  prepare_recorded(*query, sql, FEnginePump, "TRunEdits", method, failure);
  return query.release();
}

void TRunEdits::create_edit_logic_query() {
  if (FEditLogicQry == nullptr)
    FEditLogicQry = prepare_kept_query(kEditLogicSelect, "create_edit_logic_query", "Failure to prepare FEditLogicQry");
}

void TRunEdits::create_edit_details_query() {
  if (FEditDetailsQry == nullptr)
    FEditDetailsQry =
        prepare_kept_query(kEditDetailsSelect, "create_edit_details_query", "Failure to prepare FEditDetailsQry");
}

// The pair of a run with its record loaded: the pair of the last run when the
// tags are the same, else found or loaded. Null after recording a failure.
TRunEdits::TPair* TRunEdits::pair_for_run(const char* editSetTag, const char* layoutTag, const char* data,
                                          int& result) {
  if (FLastPair != nullptr && FLastEditSetTag == editSetTag && FLastLayoutTag == layoutTag) {
    result = FLastPair->Layout->LoadData(data) == 0 ? 0 : -1;
    return result == 0 ? FLastPair : nullptr;
  }
  if ((result = UpdateRecord(layoutTag, data)) != 0) return nullptr;
  std::string setTag = uppercase_string(editSetTag), tag = uppercase_string(layoutTag);
  TPair* pair = find_layout_editset_pair(tag, setTag);
  if (pair == nullptr && prepare_editset(setTag, tag) != nullptr) pair = find_layout_editset_pair(tag, setTag);
  if (pair == nullptr) {
    add_error("RunEdits", (std::string("Cannot find edit set tag \"") + editSetTag + "\" in this metafile")
                              .substr(0, kMessageSize - 1));
    result = -1;
    return nullptr;
  }
  FLastPair = pair;
  FLastEditSetTag = editSetTag;
  FLastLayoutTag = layoutTag;
  return pair;
}

int TRunEdits::RunEdits(const char* editSetTag, const char* layoutTag, const char* data, int options,
                        int* failedCount, void* owner, void* callback) {
  create_edit_logic_query();
  set(failedCount, 0);
  int result = 0;
  TPair* pair = pair_for_run(editSetTag, layoutTag, data, result);
  if (pair == nullptr) return result;
  FEditSet = pair->EditSet.get();
  FLayout = pair->Layout;
  FRunningEdit = nullptr;
  if (!FEditSet->IsPairedWith(FLayout)) FEditSet->PairWithLayout(FLayout);
  FEditSet->SetSuppressWarnings((options & kSuppressWarnings) != 0 ? 1 : 0);
  FEditSet->ClearCounts();
  FEditErrors->Initialize(owner, callback, FLayout, FEditSet->GetSuppressWarnings());
  FLibFuncs->SetSystemDate();
  result = run_edit_set(options);
  FSQLDB->EndSharedRead();
  FEditSet = nullptr;
  FLayout = nullptr;
  FRunningEdit = nullptr;
  set(failedCount, FEditErrors->FailedEditsCount());
  return result;
}

// Every edit in run order; the first failure ends the run with -1.
int TRunEdits::run_edit_set(int options) {
  try {
    for (int i = 0; i < FEditSet->GetEditsCount(); ++i) {
      FRunningEdit = FEditSet->GetEditByRunOrderIndex(i);
      if (!skip_edit(FRunningEdit, options)) run_edit(FRunningEdit);
    }
    return 0;
  } catch (const std::runtime_error&) {
    return -1;
  } catch (const std::exception& e) {
    add_error("RunEdits", e.what());
    return -1;
  }
}

bool TRunEdits::skip_edit(TEdit* edit, int options) {
  if (edit->SkipEditSilently() || edit->IsSuppressed()) return true;
  if (edit->IsNoSkipsOverride()) return false;
  bool skipIfEmpty = edit->IsSkipIfEmpty() || (options & kSkipIfEmptyAll) != 0;
  bool skipIfFailed = edit->IsSkipIfFailed() || (options & kSkipIfFailedAll) != 0;
  for (int pass = 0; pass < 2; ++pass) {
    if (!(pass == 0 ? skipIfEmpty : skipIfFailed)) continue;
    for (int i = 0; i < edit->GetFieldsCount(); ++i) {
      TLayoutField* field = edit->GetLayoutField(i);
      if (field == nullptr || edit->GetFieldByMacroOrder(i) <= 0) continue;
      bool skip = pass == 0 ? !field->GetNeverSkipEmpty() && FLayout->FieldIsBlank(field)
                            : field->GetFailedSingleFieldEdit();
      if (skip) {
        edit->IncrSkipsCount();
        return true;
      }
    }
  }
  return false;
}

void TRunEdits::run_edit(TEdit* edit) {
  try {
    if (edit->GetCompiledLogic(FEditLogicQry).empty()) return;
  } catch (const std::runtime_error& e) {
    if (*e.what() != '\0') add_error("RunEdits", e.what());
    add_error("RunEdits", std::string("SQL error: ") + FEditLogicQry->LastErrorMessage());
    throw;
  }
  FTokenMaster->SetCompiledLogic(edit->GetDecodedLogic());
  process_edit();
}

void TRunEdits::collect_uncompiled(const char* editSetTag, std::vector<std::string>& tags) {
  std::string sql = kUncompiledSelect;
  sql.replace(sql.find("%s"), 2, quote_sql_value(editSetTag));
  TFastSQLQuery query(FSQLDB);
  query.SetSQLText(sql, false);
  try {
    query.SetIsActive(true);
    for_each_row(query, [&] { tags.push_back(query.GetFieldByNumber(1)); });
  } catch (const std::runtime_error& e) {
    add_error("GetRunEditsSummary", e.what());
    add_error("GetRunEditsSummary", query.LastErrorMessage());
    add_error("GetRunEditsSummary", query.GetSQLText());
    throw std::runtime_error("");
  }
}

int TRunEdits::GetRunEditsSummary(const char* editSetTag, const char* layoutTag, int all, int* errors,
                                  int* warnings, int* skips, int* errorMessages, int* warningMessages, void* owner,
                                  void* callback) {
  std::vector<std::string> uncompiled;
  try {
    collect_uncompiled(editSetTag, uncompiled);
  } catch (const std::runtime_error&) {
    return -1;
  }
  int* totals[] = {errors, warnings, skips, errorMessages, warningMessages};
  for (int* total : totals) set(total, 0);
  TPair* pair = find_layout_editset_pair(uppercase_string(layoutTag), uppercase_string(editSetTag));
  if (pair == nullptr) {
    add_error("GetRunEditsSummary", std::string("Edit set tag [") + editSetTag + "] / Layout tag [" + layoutTag +
                                        "] pair not loaded for RunEdits processing");
    return -1;
  }
  TEditSet* editSet = pair->EditSet.get();
  if (!editSet->IsPairedWith(pair->Layout)) editSet->PairWithLayout(pair->Layout);
  int sums[5] = {};
  for (int i = 0; i < editSet->GetEditsCount(); ++i) {
    TEdit* edit = editSet->GetEditByRunOrderIndex(i);
    int notInLayout = edit->SkipEditSilently() ? 1 : 0, suppressed = edit->IsSuppressed() ? 1 : 0;
    int notCompiled = 0;
    for (const std::string& tag : uncompiled) notCompiled = notCompiled || tag == edit->GetEditTag();
    int tallies[5] = {edit->GetTallyErrorsCount(), edit->GetTallyWarningsCount(), edit->GetTallySkipsCount(),
                      edit->GetTallyErrorMessagesCount(), edit->GetTallyWarningMessagesCount()};
    if (all == 0 && tallies[0] == 0 && tallies[1] == 0 && tallies[2] == 0 && !notInLayout && !suppressed &&
        !notCompiled)
      continue;
    for (int k = 0; k < 5; ++k) sums[k] += tallies[k];
    if (callback != nullptr)
      reinterpret_cast<RunSummaryCallback>(callback)(owner, edit->GetEditTag().c_str(), edit->GetEditName().c_str(),
                                                     edit->GetAdminCode().c_str(), tallies[0], tallies[1], tallies[2],
                                                     tallies[3], tallies[4], notInLayout, suppressed, notCompiled);
  }
  for (int k = 0; k < 5; ++k) set(totals[k], sums[k]);
  return 0;
}

int TRunEdits::GetEditDetails(const char* editTag, void* owner, void* callback) {
  if (FLayout == nullptr) {
    add_error("GetEditDetails", "No Layout is loaded!");
    return -1;
  }
  create_edit_details_query();
  TFastSQLQuery& query = *FEditDetailsQry;
  // The fields are read before the first call back: the kept statement is
  // free again when a callback asks for the details of another edit.
  std::vector<std::pair<int, int>> fields;
  try {
    query.BindTextParameter(1, editTag);
    for (query.OpenParameterizedQuery(); !query.Eof(); next_row(query))
      fields.emplace_back(query.GetIntFieldByNumber(0), query.GetIntFieldByNumber(1));
    query.ResetParameterizedQuery();
  } catch (const std::runtime_error&) {
    add_error("GetEditDetails", query.LastErrorMessage());
    add_error("GetEditDetails", query.GetSQLText());
    reset_after_failure(query);
    return -1;
  }
  for (const auto& field : fields) {
    if (field.first <= 0) continue;
    int result = FLayout->DisplayOneField(field.first, field.second, owner, callback);
    if (result != 0) return result;
  }
  return 0;
}
