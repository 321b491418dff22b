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
  TValueWord call_lookup();
  TValueWord call_ilookup();
  TValueWord call_rlookup();
  TValueWord call_sqllookup();
  TValueWord call_sqlrangelookup();
  int internal_lookup(const char* value, const char* tableSpec, bool copyRow);
  int internal_rlookup(const char* value, const char* tableSpec);
  int internal_sqllookup(const char* table, const char* columns, const char* value, bool copyRow);
  int internal_sqlrlookup(const char* table, const char* columns, const char* value);
  int get_trigger_padded_size(const char* tableName, const char* columnName);
  // Evaluates the next argument as a text that later arguments cannot move.
  const char* kept_text_argument();
  struct TLookupQueryDeleter {
    void operator()(TLookupQuery* query) const;
  };
  typedef std::unique_ptr<TLookupQuery, TLookupQueryDeleter> TLookupQueryPtr;
  typedef std::map<std::string, TLookupQueryPtr> TLookupQueries;
  // What a lookup checks on each row its statement returns.
  enum TRowCheck { rcNone, rcTrimmedKey, rcConcatenatedKey };
  void forget_removed_tables();
  TLookupQuery* spec_query(TLookupQueries& cache, const char* tableSpec, const char* method, bool range);
  TLookupQuery* list_query(TLookupQueries& cache, const char* table, const char* columns, const char* method,
                           bool range);
  void parse_table_spec(const char* method, std::string& table, std::string& column);
  TLookupQueryPtr new_lookup(const char* method, const std::string& table);
  int key_position(TLookupQuery* lookup, const char* method, const std::string& table, const std::string& name);
  TLookupQuery* keep_query(TLookupQueries& cache, TLookupQueryPtr lookup, const std::string& table,
                           const std::string& key, bool range);
  int run_lookup(TLookupQuery* lookup, const char* method, TRowCheck check, bool copyRow);
  bool seek_row(TLookupQuery* lookup, TRowCheck check);
  void copy_row(TLookupQuery* lookup, const char* method);
  [[noreturn]] void lookup_syntax_error(const char* method, const std::string& message);
  [[noreturn]] void lookup_sql_error(const char* method, const char* lastError, const char* sql);

  // External rule libraries (ExternalDLLTracker.cpp).
  void setup_external_functions();
  TValueWord call_externaldll();
  // The words passed to an external library's entry point.
  static const int kExternalWords = 11;
  void read_external_words(int64_t* words);
  void* external_entry(const char* name);

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

  // Lookups: the statements kept per key, the table model's count of removed
  // definitions when they were made, and buffers that keep their capacity.
  TLookupQueries FLookupQueries;
  TLookupQueries FRLookupQueries;
  TLookupQueries FSQLLookupQueries;
  TLookupQueries FSQLRangeLookupQueries;
  unsigned FLookupRemovals = 0;
  std::string FLookupKey;
  std::string FLookupValue;
  std::string FLookupCompared;
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
