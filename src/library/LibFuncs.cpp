// The built-in function library: the function table, the call frame every
// built-in follows, and the date state that the run-time sets and reads.
#include "library/LibFuncs.h"

#include <ctime>
#include <stdexcept>

#include "runtime/RunEdits.h"
#include "storage/EngineErrorsPump.h"

TLibFuncs::TLibFuncs(TRunEdits* runEdits, TEngineErrorsPump* pump, TSQLDB* db, TTablesList* tables,
                     TEditErrors* editErrors, TTokenMaster* tokenMaster)
    : FRunEdits(runEdits), FTokenMaster(tokenMaster), FEngineErrorsPump(pump), FSQLDB(db), FTablesList(tables),
      FEditErrors(editErrors) {
  setup_function_pointers();
}

TLibFuncs::~TLibFuncs() = default;

void TLibFuncs::setup_function_pointers() {
  for (TLibFunc& entry : FFuncTable) entry = nullptr;
  setup_message_functions();
  setup_date_functions();
  setup_string_functions();
  setup_mask_functions();
  setup_lookup_functions();
  setup_external_functions();
}

void TLibFuncs::set_function(unsigned char code, TLibFunc function) {
  int slot = code < 128 ? code - 0x41 : code;
  if (slot >= 0) FFuncTable[slot] = function;
}

// Codes 0x41 to 0x7F select slots 0 to 62, codes 0x80 to 0xFF the slot of
// their unsigned value; every other code selects nothing.
TLibFuncs::TLibFunc TLibFuncs::GetFuncPointer(char code) const {
  int c = static_cast<signed char>(code);
  int slot = c > 0 ? c - 0x41 : c + 256;
  if (slot < 0 || slot > 255) return nullptr;
  return FFuncTable[slot];
}

void TLibFuncs::SetSystemDate() {
  time_t now = time(nullptr);
  // The date is worked out again only when the clock has moved on.
  if (now == FSystemTime && FSystemDate != 0) return;
  FSystemTime = now;
  struct tm local;
  localtime_r(&now, &local);
  FSystemDate = local.tm_year * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday + 19000000;
}

void TLibFuncs::record(const char* method, const std::string& message) {
  FEngineErrorsPump->AddError("TLibFuncs", method, message);
}

void TLibFuncs::fail(const char* method, const std::string& message) {
  record(method, message);
  throw std::runtime_error("");
}

void TLibFuncs::check_open_paren() {
  if (FTokenMaster->GetHardToken('(') == nullptr) fail("check_open_paren", "syntax error: expected opening parenthesis");
}

void TLibFuncs::check_close_paren() {
  FTokenMaster->SavePos();
  TToken* token = FTokenMaster->GetCompiledToken();
  if (token == nullptr || token->GetTokenID() != ')') FTokenMaster->RestorePos();
}

TValueWord TLibFuncs::argument() { return FRunEdits->EvaluateExpression(); }

const char* TLibFuncs::text_of(TValueWord value) const {
  const char* text = FRunEdits->ValueText(value);
  return text != nullptr ? text : "";
}

const char* TLibFuncs::kept_text_argument() {
  const char* text = text_argument();
  return FTokenMaster->IsCargoText(text) ? text : FTokenMaster->CopyToCargo(text);
}
