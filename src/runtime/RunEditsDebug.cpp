// Debugging one edit over one record: the edit read by tag outside any edit
// set, run once with the trace on, and the trace sent through the host's
// field, message, line and variable callbacks. Its lookups share a read as a
// run's do, ended before each of those callbacks and when the debugging ends.
#include <algorithm>
#include <stdexcept>

#include "library/LibFuncs.h"
#include "runtime/DebugEdit.h"
#include "runtime/EditErrors.h"
#include "runtime/EditSet.h"
#include "runtime/Layout.h"
#include "runtime/RunEdits.h"
#include "runtime/Variable.h"
#include "storage/FastSQLQuery.h"
#include "storage/SQLDB.h"
#include "storage/Utility.h"

namespace {

const char* const kDebugEditSelect =
    "SELECT a.PKey, a.EditName, b.AdminCode, m.MessageNumber, m.Message, a.EditLogic, a.CompiledLogic FROM "
    "RL_Edits a, RL_Agencies b, RL_Messages m WHERE b.PKey = a.AgencyPKey AND m.PKey = a.MessagePKey AND "
    "a.EditTag = '";

// An integer variable as the trace shows it: the date result codes by name.
std::string shown_integer(int value) {
  static const char* const kDateCodes[] = {"DT_MONTH_EMPTY", "DT_DAY_EMPTY", "DT_EMPTY", "DT_VALID",
                                           "DT_MISSING",     "DT_ERROR",     "DT_UNKNOWN"};
  if (value >= 0x1fffffff && (value & 0x0fffffff) == 0x0fffffff) return kDateCodes[(value >> 28) - 1];
  return std::to_string(value);
}

}  // namespace

int TRunEdits::DebugEdit(const char* editTag, const char* layoutTag, const char* data, void* owner,
                         void* lineCallback, void* variableCallback, void* fieldCallback, void* messageCallback) {
  FEditSet = nullptr;
  std::string tag = uppercase_string(layoutTag);
  // The layout is read afresh, in place, so the pairs that use it stay valid.
  if (TLayout* loaded = find_layout(tag)) {
    if (!reload_layout(loaded, "DebugEdit")) return -1;
  }
  int result = UpdateRecord(tag, data);
  if (result != 0) return result;
  FLayout = find_layout(tag);
  FEditErrors->Initialize(owner, messageCallback, FLayout, 0);
  FDebugOwner = owner;
  FDebugLineCallback = lineCallback;
  FDebugVariableCallback = variableCallback;
  FDebugFieldCallback = fieldCallback;
  FDebugMessageCallback = messageCallback;
  FDebugging = true;
  std::string sql = kDebugEditSelect + quote_sql_value(editTag) + "';";
  try {
    run_debug_edit(editTag, sql);
  } catch (const std::runtime_error& e) {
    if (*e.what() != '\0') add_error("DebugEdit", e.what());
    add_error("DebugEdit", "SQL: " + sql);
    result = -1;
  } catch (...) {
    end_debugging();
    throw;
  }
  end_debugging();
  return result;
}

void TRunEdits::run_debug_edit(const std::string& editTag, const std::string& sql) {
  TFastSQLQuery query(FSQLDB);
  query.SetSQLText(sql, false);
  query.SetIsActive(true);
  std::string name = query.GetFieldByNumber(1), admin = query.GetFieldByNumber(2);
  std::string number = query.GetFieldByNumber(3), message = query.GetFieldByNumber(4);
  std::string source = query.GetFieldByNumber(5), compiled = query.GetFieldByNumber(6);
  if (compiled.empty())
    throw std::runtime_error("Edit \"" + name +
                             "\" does not compile. Run the syntax checker in Quillbench to find and fix the problem.");
  // Cut to an int, the key would list another edit's fields.
  int pkey = query.GetUsableKeyByNumber(0, "RL_Edits");
  FDebugRunEdit.reset(new TEdit(FSQLDB, FEnginePump, pkey, name, editTag, admin, number, message));
  FRunningEdit = FDebugRunEdit.get();
  query.SetIsActive(false);
  FRunningEdit->BuildEditFieldsList(&query);
  FRunningEdit->PairWithLayout(FLayout);
  FRunningEdit->SetCompiledLogic(compiled);
  FLibFuncs->SetSystemDate();
  FDebugEdit = new TDebugEdit();
  FTokenMaster->SetCompiledLogic(FRunningEdit->GetDecodedLogic());
  FDebugEdit->ParseEditLogic(source);
  FDebugEdit->ParseCompiledLogic(compiled);
  process_edit();
}

// Ends the debugging state on every way out, so the next run is not traced
// and nothing refers to the debugged edit or layout, and ends the lookups'
// shared read, which no export leaves open.
void TRunEdits::end_debugging() {
  FSQLDB->EndSharedRead();
  delete FDebugEdit;
  FDebugEdit = nullptr;
  FRunningEdit = nullptr;
  FDebugRunEdit.reset();
  FDebugging = false;
  FDebugOwner = nullptr;
  FDebugLineCallback = FDebugVariableCallback = FDebugFieldCallback = FDebugMessageCallback = nullptr;
  FLoopLines.clear();
  FLayout = nullptr;
  FEditSet = nullptr;
}

size_t TRunEdits::first_token_pos(size_t pos) const {
  const char* text = FTokenMaster->GetCompiledLogic();
  size_t length = FTokenMaster->GetCompiledLength();
  while (pos < length && text[pos] == '\n') ++pos;
  return pos;
}

void TRunEdits::debug_edit(size_t position, bool executed) {
  if (!FDebugging || FDebugEdit == nullptr) return;
  int line = FDebugEdit->FindCompiledLogicLine(position);
  if (!FDebugEdit->GetLineExecuted(line)) FDebugEdit->AddDebugLine(line, executed, FDebugEdit->GetEditLogicAtLine(line));
  if (executed) debug_showvars(line);
}

// Every line from that of the first token at `from` to that of `to`.
void TRunEdits::debug_lines(size_t from, size_t to) {
  if (!FDebugging || FDebugEdit == nullptr) return;
  int first = FDebugEdit->FindCompiledLogicLine(first_token_pos(from));
  int last = FDebugEdit->FindCompiledLogicLine(to);
  for (int line = first; line <= std::max(first, last); ++line) debug_edit(FDebugEdit->GetPosAtLine(line), true);
}

void TRunEdits::debug_showvars(int line) {
  if (!FDebugEdit->HasDebugLine(line)) return;
  int iteration = FLoopLines.empty() ? 0 : FLoopLines.back().Iteration;
  for (size_t i = 0; i < FVariablesInUse; ++i) {
    const TVariable* variable = FVariables[i];
    bool isString = variable->IsCharacter();
    std::string value = isString ? variable->GetText() : shown_integer(variable->Count() > 0 ? variable->GetValue(0) : 0);
    FDebugEdit->AddDebugVariable(line, iteration, variable->Name(), value, isString ? 1 : 0);
  }
}

void TRunEdits::debug_fields() {
  if (FDebugFieldCallback == nullptr || FLayout == nullptr) return;
  // No host code runs inside the lookups' shared read.
  FSQLDB->EndSharedRead();
  for (int i = 0; i < FRunningEdit->GetFieldsCount(); ++i) {
    TLayoutField* field = FLayout->GetFieldByFieldNumber(FRunningEdit->GetFieldByMacroOrder(i));
    if (field == nullptr) continue;
    std::string text = field->GetFieldName() + " == " + field->GetValue();
    reinterpret_cast<DebugFieldCallback>(FDebugFieldCallback)(FDebugOwner, text.c_str());
  }
}

void TRunEdits::send_debug_to_callbacks() {
  if (FDebugEdit == nullptr || FDebugLineCallback == nullptr) return;
  FSQLDB->EndSharedRead();
  auto sendLine = reinterpret_cast<DebugLineCallback>(FDebugLineCallback);
  auto sendVariable = reinterpret_cast<DebugVariableCallback>(FDebugVariableCallback);
  int next = 0;
  int lines = std::min(FDebugEdit->GetDebugLinesCount(), FDebugEdit->GetEditLogicLinesCount());
  for (int i = 0; i < lines; ++i) {
    int line = FDebugEdit->GetLineNumberAtMapIndex(i);
    for (; next < line; ++next) sendLine(FDebugOwner, next + 1, 0, FDebugEdit->GetEditLogicAtLine(next).c_str());
    sendLine(FDebugOwner, line + 1, FDebugEdit->GetLineExecuted(line) ? 1 : 0, FDebugEdit->GetLogic(line).c_str());
    next = line + 1;
    if (sendVariable == nullptr) continue;
    int count = FDebugEdit->GetDebugVariablesCount(line);
    for (int k = 0; k < FDebugEdit->GetDebugVariableIterationsCount(line); ++k) {
      int iteration = FDebugEdit->GetDebugVariablesIteration(line, k);
      for (int v = 0; v < count; ++v)
        sendVariable(FDebugOwner, line + 1, iteration, FDebugEdit->GetDebugVariableName(line, iteration, v).c_str(),
                     FDebugEdit->GetDebugVariableValue(line, iteration, v).c_str(),
                     FDebugEdit->GetDebugVariableIsStringVar(line, iteration, v));
    }
  }
}

// The line of a loop's body goes on the loop stack with iteration 1, unless
// the top holds it already; true when it was pushed.
bool TRunEdits::push_loop_line(size_t bodyPos) {
  if (FDebugEdit == nullptr) return false;
  int line = FDebugEdit->FindCompiledLogicLine(first_token_pos(bodyPos));
  if (!FLoopLines.empty() && FLoopLines.back().Line == line) return false;
  FLoopLines.push_back(TLoopLine{line, 1});
  return true;
}

void TRunEdits::count_loop_iteration() {
  if (!FLoopLines.empty()) ++FLoopLines.back().Iteration;
}
