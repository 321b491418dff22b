// The built-in function library: the function table and the date state.
#include "library/LibFuncs.h"

#include <ctime>

TLibFuncs::TLibFuncs(TRunEdits* runEdits, TEngineErrorsPump* pump, TSQLDB* db, TTablesList* tables,
                     TEditErrors* editErrors, TTokenMaster* tokenMaster)
    : FRunEdits(runEdits), FTokenMaster(tokenMaster), FEngineErrorsPump(pump), FSQLDB(db), FTablesList(tables),
      FEditErrors(editErrors) {
  setup_function_pointers();
}

void TLibFuncs::setup_function_pointers() {
  for (TLibFunc& entry : FFuncTable) entry = nullptr;
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
  FSystemDate = (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
}
