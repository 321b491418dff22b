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
  // Entries of the caches keyed by texts that the logic meets at run time.
  size_t CachedMasks() const { return FRegexCache.size(); }
  size_t CachedLookups() const;

  // Such a cache holds at most this many entries: the full cache is emptied
  // before the next entry goes in, so memory stays flat over any batch.
  static constexpr size_t kMaxCachedMasks = 512;
  static constexpr size_t kMaxCachedLookups = 256;
  template <typename Cache>
  static void make_room(Cache& cache, size_t bound) {
    if (cache.size() >= bound) cache.clear();
  }

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
  // The same text where later arguments can neither change nor move it: a
  // variable's text is copied onto the cargo stack (a user function or a
  // lookup called by a later argument may assign the variable).
  const char* kept_text_argument();
  int32_t integer_argument() { return static_cast<int32_t>(argument()); }
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
  TValueWord call_match();
  TValueWord call_inlist();
  std::string translate_mask_to_regex(const std::string& mask);
  // Makes FCurrentRegex the compiled expression of the mask, translated and
  // compiled on its first use; valid until the next mask is looked up.
  void find_regex_pattern(const char* mask);
  // Whether the whole subject fits the mask; a failure of the regular-expression
  // library while it matches is recorded as `invalid` and the mask first.
  bool fits_mask(std::string_view subject, const char* mask, const char* method, const char* invalid);
  bool inlist(std::string_view source, std::string_view list, const char* mask, int32_t start, int32_t length);
  size_t inlist_start(int32_t start, size_t sourceLength);

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
  struct TLookupQueryDeleter {
    void operator()(TLookupQuery* query) const;
  };
  typedef std::unique_ptr<TLookupQuery, TLookupQueryDeleter> TLookupQueryPtr;
  typedef std::map<std::string, TLookupQueryPtr> TLookupQueries;
  // What a lookup checks on each row its statement returns.
  enum TRowCheck { rcNone, rcTrimmedKey, rcConcatenatedKey };
  void begin_lookup();
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
  // Records the statement's error and "SQL: " with its text, cut to limit
  // characters (the lookup statements' rows are cut, the pad width's is whole).
  [[noreturn]] void lookup_sql_error(const char* method, const char* lastError, const char* sql, size_t limit);

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

  // Pattern masks: the masks compiled, by their text; the results of a
  // match, kept so that matching allocates nothing.
  std::map<std::string, boost::regex, std::less<>> FRegexCache;
  // The expression the last look-up chose, in the cache (no copy per match).
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
