// The date built-ins and the date model under them: the checks of an
// 8-character YYYYMMDD text with their error codes, the completion of
// partial dates, and differences in days, months and years.
#include <cstring>
#include <stdexcept>

#include "library/LibFuncs.h"

namespace {

// Values of the QUELT date constants, and the codes a check leaves: the
// part at fault, or the part a valid partial date lacks.
enum : int32_t {
  dt_min = 1,
  dt_max = 2,
  dt_exact = 3,
  dt_month_empty = 0x1fffffff,
  dt_day_empty = 0x2fffffff,
  dt_empty = 0x3fffffff,
  dt_valid = 0x4fffffff,
  dt_error = 0x6fffffff,
  dt_unknown = 0x7fffffff,
  kBadDay = 4,
  kBadMonth = 8,
  kBadYear = 16,
  kNoDay = 32,
  kNoMonth = 64
};

const char* const kSomethingBad = "Something bad has happened.";

// First day of each month in a common year (1-based) and its days; row 0 is a blank month.
const int MonthDaysOfYear[13][2] = {{0, 0},     {1, 31},    {32, 28},   {60, 31},   {91, 30},
                                    {121, 31},  {152, 30},  {182, 31},  {213, 31},  {244, 30},
                                    {274, 31},  {305, 30},  {335, 31}};

int days_in_month(int month) { return MonthDaysOfYear[month][1]; }

// The code of a wrong character by the part it stands in.
int code_at(size_t pos) { return pos < 4 ? kBadYear : pos < 6 ? kBadMonth : kBadDay; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The number in a slice of a date that passed the format check: its slices
// hold only digits, or only blanks, which read as 0.
int slice_number(const char* text, size_t length) {
  int number = 0;
  for (size_t i = 0; i < length; ++i)
    if (is_digit(text[i])) number = number * 10 + (text[i] - '0');
  return number;
}

// A measure that is no number of days passes through the tests of a difference.
bool is_date_code(int value) { return value == dt_error || value == dt_empty || value == dt_unknown; }

}  // namespace

void TLibFuncs::setup_date_functions() {
  set_function(0x88, &TLibFuncs::call_date_day_iop);
  set_function(0x89, &TLibFuncs::call_date_month_iop);
  set_function(0x8A, &TLibFuncs::call_date_year_iop);
  set_function(0x8B, &TLibFuncs::call_datecmp_iop);
  set_function(0x8C, &TLibFuncs::call_daydiff_iop);
  set_function(0x8D, &TLibFuncs::call_dayinterval_iop);
  set_function(0x8E, &TLibFuncs::call_monthdiff_iop);
  set_function(0x8F, &TLibFuncs::call_monthinterval_iop);
  set_function(0x90, &TLibFuncs::call_valid_date_iop);
  set_function(0x91, &TLibFuncs::call_yeardiff_iop);
  set_function(0x92, &TLibFuncs::call_yearinterval_iop);
  set_function(0x93, &TLibFuncs::call_allow_future_date_iop);
}

// A blank part may only end the date: the year alone, the year and month, or
// nothing at all. Characters before the first blank must be digits.
bool TLibFuncs::check_date_format(const char* date) {
  FDateErrorCode = dt_valid;
  if (strlen(date) != 8) {
    FDateErrorCode = dt_error;
    return false;
  }
  const char* blank = strchr(date, ' ');
  size_t p = blank != nullptr ? static_cast<size_t>(blank - date) : 8;
  if (p != 0 && p != 4 && p != 6 && p != 8) {
    FDateErrorCode = code_at(p);
    return false;
  }
  for (size_t i = 0; i < 8; ++i) {
    if (i < p ? is_digit(date[i]) : date[i] == ' ') continue;
    FDateErrorCode = code_at(i);
    return false;
  }
  if (p == 0) FDateErrorCode = dt_empty;
  return true;
}

bool TLibFuncs::date_is_valid(const char* date) {
  if (!check_date_format(date)) return false;
  if (FDateErrorCode == dt_empty) return true;
  int y, m, d;
  parse_date(date, y, m, d);
  int64_t maxYear = FSystemDate / 10000 + FYearsIntoFuture;
  int todayMonth = FSystemDate / 100 % 100;
  if (y < 1850 || y > maxYear) FDateErrorCode = kBadYear;
  else if (m < 0 || m > 12) FDateErrorCode = kBadMonth;
  else if (d > 31) FDateErrorCode = kBadDay;
  else if (d > days_in_month(m) && !(d == 29 && m == 2 && is_leap_year(y))) FDateErrorCode = kBadDay;
  else if (y * 10000 + m * 100 + d > maxYear * 10000 + FSystemDate % 10000)
    FDateErrorCode = m > todayMonth ? kBadMonth : kBadDay;
  if (FDateErrorCode != dt_valid) return false;
  if (m == 0) FDateErrorCode = kNoMonth;
  else if (d == 0) FDateErrorCode = kNoDay;
  return true;
}

void TLibFuncs::parse_date(const char* date, int& year, int& month, int& day) {
  year = slice_number(date, 4);
  month = slice_number(date + 4, 2);
  day = slice_number(date + 6, 2);
}

bool TLibFuncs::is_leap_year(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int TLibFuncs::get_day_of_year(int yyyymmdd) {
  int year = yyyymmdd / 10000, month = yyyymmdd / 100 % 100, day = yyyymmdd % 100;
  return day + MonthDaysOfYear[month][0] - 1 + (month > 2 && is_leap_year(year) ? 1 : 0);
}

int TLibFuncs::check_date_integrity(const char* date, long mode) {
  if (!date_is_valid(date)) return dt_error;
  if (FDateErrorCode == dt_empty) return dt_empty;
  if ((FDateErrorCode == kNoDay || FDateErrorCode == kNoMonth) && mode == dt_exact) return dt_unknown;
  return dt_valid;
}

// Fills the blank parts of a date from the other date of the pair: dt_max
// widens the span between them, dt_min narrows it, other modes fill nothing.
int TLibFuncs::complete_date(const char* date, long mode, const char* other, bool isFirst) {
  int y, m, d, oy, om, od;
  parse_date(date, y, m, d);
  parse_date(other, oy, om, od);
  if (m == 0 && mode == dt_min) {
    if (isFirst) m = y == oy && om > 0 ? om : 12;
    else m = y == oy ? (om == 0 ? 12 : om) : 1;
  } else if (m == 0 && mode == dt_max) {
    m = isFirst ? 1 : 12;
  }
  if (d == 0 && mode == dt_min) {
    if (isFirst) d = y == oy && m == om && od > 0 ? od : days_in_month(m);
    else if (y == oy && (om == 0 || om == m)) d = od > 0 ? od : days_in_month(m);
    else d = 1;
  } else if (d == 0 && mode == dt_max) {
    d = isFirst ? 1 : days_in_month(m);
  }
  return y * 10000 + m * 100 + d;
}

// The integrity code of the first date that is not a plain valid one, or
// dt_valid with both dates completed into n1 and n2.
int TLibFuncs::complete_pair(const char* first, const char* second, long mode, int& n1, int& n2) {
  int code = check_date_integrity(first, mode);
  if (code == dt_valid) code = check_date_integrity(second, mode);
  if (code != dt_valid) return code;
  n1 = complete_date(first, mode, second, true);
  n2 = complete_date(second, mode, first, false);
  return dt_valid;
}

int TLibFuncs::compare_dates(const char* first, const char* second, long mode) {
  int n1, n2;
  int code = complete_pair(first, second, mode, n1, n2);
  if (code != dt_valid) return code;
  return n1 < n2 ? -1 : n1 > n2 ? 1 : 0;
}

template <typename Work>
int TLibFuncs::guarded_difference(const char* method, Work work) {
  try {
    return work();
  } catch (...) {
    record(method, std::string("failure in call to ") + method);
    throw std::runtime_error("");
  }
}

int TLibFuncs::calculate_daydiff(const char* first, const char* second, long mode) {
  return guarded_difference("calculate_daydiff", [&] {
    int n1, n2;
    int code = complete_pair(first, second, mode, n1, n2);
    if (code != dt_valid) return code;
    bool firstEarlier = n1 <= n2;
    int early = firstEarlier ? n1 : n2, late = firstEarlier ? n2 : n1;
    int earlyDay = get_day_of_year(early), lateDay = get_day_of_year(late);
    for (int year = early / 10000; year < late / 10000; ++year) lateDay += is_leap_year(year) ? 366 : 365;
    return firstEarlier ? lateDay - earlyDay : earlyDay - lateDay;
  });
}

// A month counts 30 days and a year 365.
int TLibFuncs::calculate_monthdiff(const char* first, const char* second, long mode) {
  return guarded_difference("calculate_monthdiff", [&] {
    int days = calculate_daydiff(first, second, mode);
    return is_date_code(days) ? days : days / 30;
  });
}

int TLibFuncs::calculate_yeardiff(const char* first, const char* second, long mode) {
  return guarded_difference("calculate_yeardiff", [&] {
    int days = calculate_daydiff(first, second, mode);
    return is_date_code(days) ? days : days / 365;
  });
}

const char* TLibFuncs::date_argument(TDateText& date) {
  const char* text = text_argument();
  size_t length = strnlen(text, sizeof date.Text - 1);
  memcpy(date.Text, text, length);
  date.Text[length] = '\0';
  return date.Text;
}

int TLibFuncs::partless_date(const char* date) {
  if (!date_is_valid(date)) return dt_error;
  return FDateErrorCode == dt_empty ? dt_empty : 0;
}

template <typename Part>
TValueWord TLibFuncs::one_date(const char* method, Part part) {
  ClearDateErrorCode();
  return recorded(method, [&] {
    check_open_paren();
    TDateText date;
    return static_cast<TValueWord>(part(date_argument(date)));
  });
}

TValueWord TLibFuncs::two_dates(const char* method, TDateMeasure measure, bool interval, const char* empty) {
  ClearDateErrorCode();
  return recorded(
      method,
      [&] {
        check_open_paren();
        TDateText first, second;
        date_argument(first);
        date_argument(second);
        int32_t low = interval ? integer_argument() : 0;
        int32_t high = interval ? integer_argument() : 0;
        long mode = integer_argument();
        int value = (this->*measure)(first.Text, second.Text, mode);
        if (!interval || is_date_code(value)) return static_cast<TValueWord>(value);
        return static_cast<TValueWord>(low <= value && value <= high);
      },
      empty);
}

TValueWord TLibFuncs::call_valid_date_iop() {
  return one_date("call_valid_date_iop", [this](const char* date) { return partless_date(date) == 0; });
}

TValueWord TLibFuncs::call_date_day_iop() {
  return one_date("call_date_day_iop", [this](const char* date) -> int {
    if (int code = partless_date(date)) return code;
    if (FDateErrorCode == kNoDay || FDateErrorCode == kNoMonth) return dt_day_empty;
    return slice_number(date + 6, 2);
  });
}

TValueWord TLibFuncs::call_date_month_iop() {
  return one_date("call_date_month_iop", [this](const char* date) -> int {
    if (int code = partless_date(date)) return code;
    return FDateErrorCode == kNoMonth ? dt_month_empty : slice_number(date + 4, 2);
  });
}

TValueWord TLibFuncs::call_date_year_iop() {
  return one_date("call_date_year_iop", [this](const char* date) -> int {
    if (int code = partless_date(date)) return code;
    return slice_number(date, 4);
  });
}

TValueWord TLibFuncs::call_datecmp_iop() {
  return two_dates("call_datecmp_iop", &TLibFuncs::compare_dates, false, nullptr);
}

TValueWord TLibFuncs::call_daydiff_iop() {
  return two_dates("call_daydiff_iop", &TLibFuncs::calculate_daydiff, false, kSomethingBad);
}

TValueWord TLibFuncs::call_dayinterval_iop() {
  return two_dates("call_dayinterval_iop", &TLibFuncs::calculate_daydiff, true, kSomethingBad);
}

TValueWord TLibFuncs::call_monthdiff_iop() {
  return two_dates("call_monthdiff_iop", &TLibFuncs::calculate_monthdiff, false, kSomethingBad);
}

TValueWord TLibFuncs::call_monthinterval_iop() {
  return two_dates("call_monthinterval_iop", &TLibFuncs::calculate_monthdiff, true, kSomethingBad);
}

TValueWord TLibFuncs::call_yeardiff_iop() {
  return two_dates("call_yeardiff_iop", &TLibFuncs::calculate_yeardiff, false, kSomethingBad);
}

TValueWord TLibFuncs::call_yearinterval_iop() {
  return two_dates("call_yearinterval_iop", &TLibFuncs::calculate_yeardiff, true, kSomethingBad);
}

TValueWord TLibFuncs::call_allow_future_date_iop() {
  ClearDateErrorCode();
  return recorded("call_allow_future_date", [this] {
    check_open_paren();
    FYearsIntoFuture = integer_argument();
    return TValueWord(0);
  });
}
