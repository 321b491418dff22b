// The built-in function library of the run-time: the table of built-ins by
// one-byte code, the call frame they share, the date state that the run-time
// sets and reads, the mask and lookup caches, and every built-in's body.
#pragma once

#include <boost/regex.hpp>

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/TokenMaster.h"

class TRunEdits;
class TEngineErrorsPump;
class TSQLDB;
class TTablesList;
class TEditErrors;
class TEdit;
class TLookupQuery;
class TVariable;

class TLibFuncs {
 public:
  // A built-in: reads its own arguments through the run-time, returns its value.
  typedef TValueWord (TLibFuncs::*TLibFunc)();

  TLibFuncs(TRunEdits* runEdits, TEngineErrorsPump* pump, TSQLDB* db, TTablesList* tables,
            TEditErrors* editErrors, TTokenMaster* tokenMaster);
  ~TLibFuncs();
  TLibFuncs(const TLibFuncs&) = delete;
  TLibFuncs& operator=(const TLibFuncs&) = delete;

  // The built-in of that code, or null when the table has none.
  TLibFunc GetFuncPointer(char code) const;
  // Today's local date as YYYYMMDD, the upper bound of valid dates.
  void SetSystemDate();
  int32_t GetSystemDate() const { return FSystemDate; }
  void SetYearsIntoFuture() { FYearsIntoFuture = 0; }
  int GetDateErrorCode() const { return FDateErrorCode; }
  void ClearDateErrorCode() { FDateErrorCode = 0; }

 private:
  void setup_function_pointers();
  void set_function(unsigned char code, TLibFunc function);

  // The call frame every built-in follows.
  void check_open_paren();
  void check_close_paren();
  // Evaluates the next argument.
  TValueWord argument();
  // The text a string argument refers to; "" for a value that is no text.
  const char* text_of(TValueWord value) const;
  // Evaluates the next argument as a text.
  const char* text_argument() { return text_of(argument()); }
  // A string result: a copy on the cargo stack.
  TValueWord string_result(const std::string& text);
  void record(const char* method, const std::string& message);
  // Records the message, then fails with an empty text.
  [[noreturn]] void fail(const char* method, const std::string& message);
  // Runs a built-in's body; a std::runtime_error leaving it is recorded under
  // the method (an empty text as `empty`, when given) and passed on.
  template <typename Body>
  TValueWord recorded(const char* method, Body body, const char* empty = nullptr);

  // Message control (LibFuncsMessages.cpp).
  void setup_message_functions();
  TValueWord call_error_msg();
  TValueWord call_error_text();
  TValueWord call_save_text();
  TValueWord call_save_error_text();
  TValueWord call_set_warning();
  TValueWord call_save_warning_text();
  // Reads message numbers up to the closing parenthesis; another separator
  // records the message under the method and fails.
  void read_message_numbers(std::vector<int>& numbers, const char* method, const char* message);
  TValueWord report_warnings(const char* method, void (TEditErrors::*report)(TEdit*, int));

  // Dates (LibFuncsDates.cpp).
  void setup_date_functions();

  // Strings and string building (LibFuncsStrings.cpp).
  void setup_string_functions();
  TValueWord call_at();
  TValueWord call_empty();
  TValueWord call_strlen();
  TValueWord call_val();
  TValueWord call_upper();
  TValueWord call_lower();
  TValueWord call_left();
  TValueWord call_right();
  TValueWord call_substr();
  TValueWord call_trim();
  TValueWord call_justified();
  TValueWord call_strcmp();
  TValueWord call_nameexpr();
  TValueWord call_strcpy();
  TValueWord call_strcat();
  TValueWord call_fmtstr();
  // The next argument as a text that later arguments cannot change.
  const char* held_text_argument();
  // A string result: the bytes copied onto the cargo stack.
  TValueWord slice_result(const char* text, size_t length);
  TValueWord case_result(int (*convert)(int));
  // The side flag of trim and justified, read as one token; -1 when it is none.
  int side_flag();
  // The CHAR[n] variable that strcpy (copying) or strcat writes; the two word
  // the message for a first argument that is no variable differently.
  TVariable* find_target(bool copying);
  TVariable* char_target(TVariable* variable);
  // Stores FBuilt in the target; strcpy, strcat and fmtstr yield no text.
  TValueWord store_built(TVariable* target);
  void lay_out_field(std::string_view spec, int32_t number, size_t bound);
  // The newest cargo text; "" when there is none.
  const char* newest_cargo() const;

  // Pattern masks, MATCH and INLIST (LibFuncsMasks.cpp).
  void setup_mask_functions();

  // Lookups (LibFuncsLookups.cpp).
  void setup_lookup_functions();

  // External rule libraries (ExternalDLLTracker.cpp).
  void setup_external_functions();

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
  time_t FSystemTime = 0;
  // Strings and string building: the text being built for a target; it keeps
  // its capacity from call to call.
  std::string FBuilt;
};

template <typename Body>
TValueWord TLibFuncs::recorded(const char* method, Body body, const char* empty) {
  try {
    return body();
  } catch (const std::runtime_error& e) {
    record(method, *e.what() == '\0' && empty != nullptr ? empty : e.what());
    throw;
  }
}
