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

#include "runtime/TokenMaster.h"

class TRunEdits;
class TEngineErrorsPump;
class TSQLDB;
class TTablesList;
class TEditErrors;
class TLookupQuery;

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

  // Dates (LibFuncsDates.cpp).
  void setup_date_functions();
  TValueWord call_valid_date_iop();
  TValueWord call_date_day_iop();
  TValueWord call_date_month_iop();
  TValueWord call_date_year_iop();
  TValueWord call_datecmp_iop();
  TValueWord call_daydiff_iop();
  TValueWord call_dayinterval_iop();
  TValueWord call_monthdiff_iop();
  TValueWord call_monthinterval_iop();
  TValueWord call_yeardiff_iop();
  TValueWord call_yearinterval_iop();
  TValueWord call_allow_future_date_iop();
  bool check_date_format(const char* date);
  bool date_is_valid(const char* date);
  static void parse_date(const char* date, int& year, int& month, int& day);
  static bool is_leap_year(int year);
  static int get_day_of_year(int yyyymmdd);
  int check_date_integrity(const char* date, long mode);
  static int complete_date(const char* date, long mode, const char* other, bool isFirst);
  int calculate_daydiff(const char* first, const char* second, long mode);
  int calculate_monthdiff(const char* first, const char* second, long mode);
  int calculate_yeardiff(const char* first, const char* second, long mode);
  int complete_pair(const char* first, const char* second, long mode, int& n1, int& n2);
  int compare_dates(const char* first, const char* second, long mode);
  // A date argument copied at once: 8 characters, and one more that tells a longer text.
  struct TDateText {
    char Text[10];
  };
  typedef int (TLibFuncs::*TDateMeasure)(const char* first, const char* second, long mode);
  const char* date_argument(TDateText& date);
  int32_t integer_argument() { return static_cast<int32_t>(argument()); }
  // dt_error or dt_empty for a date that has no parts to give, else 0.
  int partless_date(const char* date);
  template <typename Part>
  TValueWord one_date(const char* method, Part part);
  // The built-ins of two dates: the measure of (first, second, mode), or with
  // `interval` whether it lies between the low and high read before the mode.
  TValueWord two_dates(const char* method, TDateMeasure measure, bool interval, const char* empty);
  template <typename Work>
  int guarded_difference(const char* method, Work work);

  // Strings and string building (LibFuncsStrings.cpp).
  void setup_string_functions();

  // Pattern masks, MATCH and INLIST (LibFuncsMasks.cpp).
  void setup_mask_functions();
  TValueWord call_match();
  TValueWord call_inlist();
  std::string translate_mask_to_regex(const std::string& mask);
  void find_regex_pattern(const char* mask);
  // The next argument's text copied onto the cargo stack, where later
  // arguments can neither change nor move it.
  const char* kept_text_argument() { return FTokenMaster->CopyToCargo(text_argument()); }
  // Whether the whole subject fits the mask; a failure of the regular-expression
  // library while it matches is recorded as `invalid` and the mask first.
  bool fits_mask(std::string_view subject, const char* mask, const char* method, const char* invalid);
  bool inlist(std::string_view source, std::string_view list, const char* mask, int32_t start, int32_t length);
  size_t inlist_start(int32_t start, size_t sourceLength);

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

  // Pattern masks: every mask compiled once, by its text; the one selected
  // last; the results of a match, kept so that matching allocates nothing.
  std::map<std::string, boost::regex, std::less<>> FRegexCache;
  const boost::regex* FCurrentRegex = nullptr;
  boost::cmatch FMatchResults;
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
