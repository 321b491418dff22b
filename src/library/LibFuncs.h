// The built-in function library of the run-time: the table of built-ins by
// one-byte code and the date state that the run-time sets and reads.
#pragma once

#include <cstdint>

#include "runtime/TokenMaster.h"

class TRunEdits;
class TEngineErrorsPump;
class TSQLDB;
class TTablesList;
class TEditErrors;

class TLibFuncs {
 public:
  // A built-in: reads its own arguments through the run-time, returns its value.
  typedef TValueWord (TLibFuncs::*TLibFunc)();

  TLibFuncs(TRunEdits* runEdits, TEngineErrorsPump* pump, TSQLDB* db, TTablesList* tables,
            TEditErrors* editErrors, TTokenMaster* tokenMaster);
  TLibFuncs(const TLibFuncs&) = delete;
  TLibFuncs& operator=(const TLibFuncs&) = delete;

  // The built-in of that code, or null when the table has none.
  TLibFunc GetFuncPointer(char code) const;
  // Today's local date as YYYYMMDD, the upper bound of valid dates.
  void SetSystemDate();
  int32_t GetSystemDate() const { return FSystemDate; }
  void SetYearsIntoFuture() { FYearsIntoFuture = 0; }
  int GetDateErrorCode() const { return FDateErrorCode; }

 private:
  void setup_function_pointers();

  TRunEdits* FRunEdits;
  TTokenMaster* FTokenMaster;
  TEngineErrorsPump* FEngineErrorsPump;
  TSQLDB* FSQLDB;
  TTablesList* FTablesList;
  TEditErrors* FEditErrors;
  int64_t FYearsIntoFuture = 0;
  int32_t FDateErrorCode = 0;
  TLibFunc FFuncTable[256];
  int32_t FSystemDate = 0;
};
