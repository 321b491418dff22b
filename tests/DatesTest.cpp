// The date built-ins: valid and partial dates and the reason a message gives, the parts of a date,
// comparisons, differences, intervals, dates allowed into the future, and failures.
#include <ctime>

#include "BuiltinTestSupport.h"

namespace {

// Date codes as the debugging trace shows an integer variable that holds one.
const char* const kMonthEmpty = "DT_MONTH_EMPTY";
const char* const kDayEmpty = "DT_DAY_EMPTY";
const char* const kEmpty = "DT_EMPTY";
const char* const kError = "DT_ERROR";
const char* const kUnknown = "DT_UNKNOWN";

// The local date `days` from today, the way the engine takes today.
struct tm local_date(int days) {
  time_t now = time(nullptr);
  struct tm date;
  localtime_r(&now, &date);
  date.tm_mday += days;
  date.tm_hour = 12;
  mktime(&date);
  return date;
}

std::string yyyymmdd(const struct tm& date) {
  char text[16];
  strftime(text, sizeof text, "%Y%m%d", &date);
  return text;
}

std::string year_from_now(int years) { return std::to_string(local_date(0).tm_year + 1900 + years); }

class Dates : public BuiltinTest {
 protected:
  void SetUp() override { exec("INSERT INTO RL_Messages(MessageNumber,Message) VALUES (300,'%D1');"); }
  // "W" when the logic's condition holds, else "E", with the reason the date
  // macro of the edit's message gives.
  std::string reason(const std::string& condition) {
    RunResult result = run_edit("if (" + condition + ") return WARN;\nreturn FAIL;", "", {}, 300);
    if (result.result != 0 || result.messages.size() != 1) return "<failed>";
    const std::string& message = result.messages[0];
    return message.substr(message.rfind('|', message.rfind('|') - 1) + 1);
  }
  // Each date and what valid_date_iop and the reason make of it.
  void expect_checks(std::initializer_list<Expected> dates) {
    for (const Expected& date : dates)
      EXPECT_EQ(date.value, reason("valid_date_iop(\"" + std::string(date.expression) + "\")")) << date.expression;
  }
  // Each list of arguments and the value the built-in gives for them.
  void expect_calls(const std::string& function, std::initializer_list<Expected> calls) {
    for (const Expected& call : calls)
      EXPECT_EQ(call.value, value(function + "(" + call.expression + ")")) << function << "(" << call.expression << ")";
  }
};

const char* const kValid = "W|no error / other";
const char* const kBadYear = "E|invalid as to year";
const char* const kBadMonth = "E|invalid as to month";
const char* const kBadDay = "E|invalid as to day";

}  // namespace

TEST_F(Dates, ValidDatesLieBetween1850AndTodayInMonthsOfTheirLength) {
  struct tm today = local_date(0), tomorrow = local_date(1);
  // The day after today fails by the part that passes today's.
  const char* late = tomorrow.tm_year != today.tm_year ? kBadYear : tomorrow.tm_mon != today.tm_mon ? kBadMonth
                                                                                                    : kBadDay;
  std::string next = year_from_now(1) + "0101", thirteenth = year_from_now(-1) + "1301";
  expect_checks({
      {"18491231", kBadYear},
      {"18500101", kValid},
      {yyyymmdd(today).c_str(), kValid},
      {yyyymmdd(tomorrow).c_str(), late},
      {next.c_str(), kBadYear},
      {thirteenth.c_str(), kBadMonth},
      {"20231232", kBadDay},
      // Only 8 characters make a date; eight blanks are the empty date, which is no valid one.
      {"2023120", "E|invalid"},
      {"202312011", "E|invalid"},
      {"        ", "E|"},
      // Leap days and month lengths.
      {"20000229", kValid},
      {"20240229", kValid},
      {"19000229", kBadDay},
      {"20230229", kBadDay},
      {"20240230", kBadDay},
      {"20230431", kBadDay},
      {"20230430", kValid},
      // Partial dates.
      {"2023    ", "W|missing the month"},
      {"20230000", "W|missing the month"},
      {"202311  ", "W|missing the day"},
      {"20231100", "W|missing the day"},
      {"20230015", kBadDay},
      // A blank part may only end the date.
      {"2023 1  ", kBadMonth},
      {"20 3    ", kBadYear},
      {"2023  05", kBadDay},
      {"202311 5", kBadDay},
      // Before the first blank only digits are taken.
      {"20231a  ", kBadMonth},
      {"2023X1  ", kBadMonth},
      {"20X3    ", kBadYear},
      {"2023111a", kBadDay},
      {"\t202    ", kBadYear}});
}

TEST_F(Dates, FutureDatesForOneEditOnlyAndTheLastDateCheckedGivesTheReason) {
  std::string next = year_from_now(1) + "0101", after = year_from_now(2) + "0101";
  auto logic = [](const std::string& date) { return "if (valid_date_iop(\"" + date + "\")) return WARN;\nreturn FAIL;"; };
  add_edit("F1", "Next year", "allow_future_date_iop(1);\n" + logic(next), {}, 300);
  add_edit("F2", "Year after", "allow_future_date_iop(1);\n" + logic(after), {}, 300);
  add_edit("F3", "Next year again", logic(next), {}, 300);
  add_edit("F4", "Two years", "allow_future_date_iop(2);\n" + logic(after), {}, 300);
  for (const char* tag : {"F1", "F2", "F3", "F4"}) add_to_set("ES1", tag);
  // Edits run by name.
  EXPECT_EQ((Rows{"F1|Next year|NAACCR|W|no error / other", "F3|Next year again|NAACCR|E|invalid as to year",
                  "F4|Two years|NAACCR|W|no error / other", "F2|Year after|NAACCR|E|invalid as to year"}),
            run("1").messages);
  // The second date's code when the first is valid; the first's when it is not.
  EXPECT_EQ("E|missing the day", reason("daydiff_iop(\"20230101\", \"202311  \", dt_min) < 0"));
  EXPECT_EQ("E|invalid as to month", reason("daydiff_iop(\"20231301\", \"202311  \", dt_min) < 0"));
  // A later edit's message never gives an earlier edit's reason.
  add_edit("C1", "Checks", "if (valid_date_iop(\"20231301\")) return PASS;\nreturn PASS;");
  add_edit("C2", "Fails", "return FAIL;", {}, 300);
  for (const char* tag : {"C1", "C2"}) add_to_set("ES2", tag);
  EXPECT_EQ((Rows{"C2|Fails|NAACCR|E|"}), run("1", 0, "ES2").messages);
}

TEST_F(Dates, PartsComparisonsDifferencesIntervalsAndFailures) {
  expect_calls("date_day_iop", {
      {R"("20231105")", "5"},
      {R"("202311  ")", kDayEmpty},
      {R"("20231100")", kDayEmpty},
      {R"("2023    ")", kDayEmpty}});
  expect_calls("date_month_iop", {
      {R"("202311  ")", "11"},
      {R"("2023    ")", kMonthEmpty},
      {R"("20230000")", kMonthEmpty}});
  expect_calls("date_year_iop", {{R"("2023    ")", "2023"}});
  for (const char* part : {"date_day_iop", "date_month_iop", "date_year_iop"})
    expect_calls(part, {
        {R"("2023110")", kError},
        {R"("20231301")", kError},
        {R"("        ")", kEmpty}});
  expect_calls("valid_date_iop", {
      {R"("20231205")", "1"},
      {R"("2023    ")", "1"},
      {R"("        ")", "0"}});
  // A date field reads as any text.
  EXPECT_EQ("12", value(R"(date_month_iop(#S"Birth Date"))", "1 4520231205"));
  expect_calls("datecmp_iop", {
      {R"("20230101", "20230101", dt_exact)", "0"},
      {R"("20230101", "20230102", dt_exact)", "-1"},
      {R"("20230102", "20230101", dt_exact)", "1"},
      // Without completion blank parts compare as 00.
      {R"("2023    ", "20230101", 0)", "-1"},
      {R"("2023    ", "20231231", dt_min)", "0"},
      {R"("2023    ", "20230101", dt_exact)", kUnknown},
      // The first date is tested first.
      {R"("20231301", "        ", 0)", kError},
      {R"("        ", "20231301", 0)", kEmpty}});
  expect_calls("daydiff_iop", {
      {R"("20230101", "20231231", dt_exact)", "364"},
      {R"("20231231", "20230101", dt_exact)", "-364"},
      {R"("20231231", "20240301", dt_exact)", "61"},
      {R"("20240101", "20241231", dt_exact)", "365"},
      {R"("19000101", "20000101", dt_exact)", "36524"},
      // dt_max widens the span, dt_min narrows it; February completes to 28 days.
      {R"("2022    ", "2023    ", dt_max)", "729"},
      {R"("2022    ", "2023    ", dt_min)", "1"},
      {R"("202202  ", "2022    ", dt_max)", "333"},
      {R"("20240201", "202402  ", dt_max)", "27"},
      {R"("202303  ", "2023    ", dt_min)", "0"},
      {R"("2023    ", "202303  ", dt_min)", "0"},
      {R"("202303  ", "20230316", dt_min)", "0"},
      {R"("20230316", "202303  ", dt_min)", "0"},
      // The second date of another month takes the month's first day.
      {R"("20230401", "202303  ", dt_min)", "-31"},
      // Other modes fill nothing: month 0, day 0 is the day before the year begins.
      {R"("2023    ", "20230101", 0)", "2"},
      {R"("20230101", "        ", dt_exact)", kEmpty},
      {R"("2023    ", "20230101", dt_exact)", kUnknown},
      {R"("20230101", "2023010", dt_exact)", kError}});
  expect_calls("monthdiff_iop", {
      {R"("20230101", "20230301", dt_exact)", "1"},
      {R"("20230301", "20230101", dt_exact)", "-1"},
      {R"("20230101", "20230130", dt_exact)", "0"},
      {R"("        ", "20230101", dt_exact)", kEmpty}});
  expect_calls("yeardiff_iop", {
      {R"("20220101", "20231231", dt_exact)", "1"},
      {R"("20220101", "20221231", dt_exact)", "0"},
      {R"("2023    ", "20230101", dt_exact)", kUnknown},
      {R"("20231301", "20230101", dt_exact)", kError}});
  expect_calls("dayinterval_iop", {
      {R"("20230101", "20230131", 0, 30, dt_exact)", "1"},
      {R"("20230101", "20230131", 0, 29, dt_exact)", "0"},
      {R"("20230101", "20230131", 30, 30, dt_exact)", "1"},
      {R"("20230131", "20230101", 0, 30, dt_exact)", "0"},
      // The codes pass through the interval tests.
      {R"("20230101", "        ", 0, 30, dt_exact)", kEmpty}});
  expect_calls("monthinterval_iop", {
      {R"("20230101", "20230301", 1, 1, dt_exact)", "1"},
      {R"("202301  ", "20230101", 0, 30, dt_exact)", kUnknown}});
  expect_calls("yearinterval_iop", {
      {R"("20220101", "20231231", 1, 1, dt_exact)", "1"},
      {R"("20220101", "20231231", 2, 5, dt_exact)", "0"},
      {R"("2023011", "20230101", 0, 30, dt_exact)", kError}});
  const std::string bad = "Something bad has happened.";
  expect_failures({
      {"@DM\x90;", {kOpenParen, lib("call_valid_date_iop")}},
      {"@DM\x8C;", {kOpenParen, lib("call_daydiff_iop", bad)}},
      {"@M\x93;", {kOpenParen, lib("call_allow_future_date")}},
      {"@DM\x8F(N001x,\"00820230101,U0010,U0011,T);",
       {"TRunEdits::GetVariable\xBB" "In Edit Tag \"H4\", Variable \"x\" not found!", lib("call_monthinterval_iop", bad)}},
  });
  // The mode is worked out by a comparison of other dates: equal, plus dt_exact.
  // The difference less 364 is 0, which fails the edit.
  EXPECT_EQ(1, failed_with("@DM\x8C(\"00820230101,\"00820231231,M\x8B(\"00820220101,\"00820220101,T)+T)-U003364;"));
  EXPECT_EQ(1, failed_with("@DM\x92(\"00820220101,\"00820231231,M\x8A(\"00820230101)-U0042022,U0011,T)-U0011;"));
}

