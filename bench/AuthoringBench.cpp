// Benchmark of the authoring side. On a metafile of 5,000 edits over 2,000
// fields: recompiles every edit inside one host transaction, then posts one
// field rename that 1,000 edits depend on (propagation and recompilation
// included). On a small metafile, a message that a logged-in agency owns put
// into edit mode and cancelled, and edited, set and posted inside one host
// transaction, and the agency's own row put into edit mode and cancelled
// (best of three rounds of 3,000 each). Then numbered inserts into a lookup
// table with a row at the top key against the same without it, and one
// insert after the top row of a table of 1,000,000 rows. Prints the times.
#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>

#include "BenchSupport.h"

namespace {

const int kFields = 2000;
const int kEdits = 5000;
const int kDependents = 1000;  // edits 1 to 1000 use Field1
const int kCalls = 3000;
const int kRounds = 3;
const int kInserts = 5000;
const int kLargeTable = 1000000;

std::string field(int i) { return "#S\"Field" + std::to_string(i) + "\""; }

std::string edit_logic(int i) {
  int first = i <= kDependents ? 1 : 2 + i % (kFields - 1);
  int second = 2 + (i * 7) % (kFields - 1);
  return "/* edit " + std::to_string(i) + " */\nchar s[20];\nint n;\n"
         "strcpy(s, " + field(first) + ");\nn = strlen(" + field(second) + ");\n"
         "if (n > 3) { error_msg(5); return FAIL; }\n"
         "if (strcmp(s, " + field(first) + ") != 0) set_warning(7);\n"
         "if (inlist(s, \"1,2,3\")) return PASS;\nreturn WARN;\n";
}

std::string metafile_rows() {
  std::string sql = "INSERT INTO RL_Messages(MessageNumber,Message) VALUES (5,'five'),(7,'seven');";
  for (int i = 1; i <= kFields; ++i)
    sql += "INSERT INTO RL_Fields(FieldNumber,FieldName,LocalName,FieldLength) VALUES (" + std::to_string(i) +
           ",'Field" + std::to_string(i) + "','L" + std::to_string(i) + "',8);";
  for (int i = 1; i <= kEdits; ++i)
    sql += "INSERT INTO RL_Edits(EditTag,EditName,EditLogic) VALUES ('E" + std::to_string(i) + "','Edit " +
           std::to_string(i) + "','" + edit_logic(i) + "');";
  return sql;
}

// Number of edits whose source names the renamed field and whose compiled text is not empty.
int rewritten_edits(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_stmt* statement = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_prepare_v2(db, "SELECT count(*) FROM RL_Edits WHERE instr(EditLogic, '#S\"Renamed\"') > 0 "
                     "AND CompiledLogic <> ''", -1, &statement, nullptr);
  int count = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int(statement, 0) : -1;
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return count;
}

bool recompile_and_rename() {
  BenchMetafile metafile(metafile_rows());
  int smf = metafile.handle();

  auto start = std::chrono::steady_clock::now();
  int failures = Qb_BeginTrans(smf) == 0 ? 0 : 1;
  for (int i = 1; i <= kEdits; ++i)
    if (Edit_RecompileEditLogic(smf, ("E" + std::to_string(i)).c_str()) != 0) ++failures;
  if (Qb_CommitTrans(smf) != 0) ++failures;
  printf("recompiled %d edits in one transaction in %.3f s, %d not clean\n", kEdits, seconds_since(start),
         failures);

  start = std::chrono::steady_clock::now();
  int pkey = 0;
  bool posted = Qb_Edit(smf, "RL_Fields", 1) == 0 && Qb_SetFieldByName(smf, "RL_Fields", "FieldName", "Renamed") == 0 &&
                Qb_Post(smf, "RL_Fields", &pkey) == 0;
  printf("renamed a field used by %d edits (rewritten and recompiled) in %.3f s%s\n", kDependents,
         seconds_since(start), posted ? "" : ", FAILED");
  int rewritten = rewritten_edits(metafile.path());
  printf("%d edits now name the field by its new name\n", rewritten);
  return failures == 0 && posted && rewritten == kDependents;
}

// The best time of kRounds rounds of a loop of kCalls; false when a call failed.
template <typename Call>
bool best_of_rounds(const char* what, Call call) {
  double best = 1e9;
  bool ok = true;
  for (int round = 0; round < kRounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCalls && ok; ++i) ok = call(i);
    best = std::min(best, seconds_since(start));
  }
  printf("%s: %d in %.3f s (%.1f us each), best of %d rounds%s\n", what, kCalls, best, best * 1e6 / kCalls, kRounds,
         ok ? "" : ", FAILED");
  return ok;
}

// A row posted through the library with the columns and values given; its PKey, or 0.
int posted_row(int smf, const char* table, std::initializer_list<std::pair<const char*, std::string>> values) {
  int pkey = 0;
  bool made = Qb_Insert(smf, table) == 0;
  for (const auto& value : values) made = made && Qb_SetFieldByName(smf, table, value.first, value.second.c_str()) == 0;
  return made && Qb_Post(smf, table, &pkey) == 0 ? pkey : 0;
}

bool small_calls() {
  BenchMetafile metafile("");
  int smf = metafile.handle();
  int agency = posted_row(smf, "RL_Agencies", {{"AdminCode", "ATT"}, {"OrgName", "AT and T"}, {"Password", "secret"}});
  int message = posted_row(smf, "RL_Messages", {{"AgencyPKey", std::to_string(agency)}, {"MessageNumber", "12"},
                                                {"Message", "Year out of range"}});
  if (agency == 0 || message == 0 || Qb_Login(smf, "ATT", "secret") != 0) return false;
  bool ok = best_of_rounds("Qb_Edit + Qb_Cancel of a message the agency owns", [&](int) {
    return Qb_Edit(smf, "RL_Messages", message) == 0 && Qb_Cancel(smf, "RL_Messages") == 0;
  });
  ok = Qb_BeginTrans(smf) == 0 && ok;
  ok = best_of_rounds("Qb_Edit + Qb_SetFieldByName + Qb_Post of it in one host transaction", [&](int i) {
    int pkey = 0;
    return Qb_Edit(smf, "RL_Messages", message) == 0 &&
           Qb_SetFieldByName(smf, "RL_Messages", "Message", ("Text " + std::to_string(i)).c_str()) == 0 &&
           Qb_Post(smf, "RL_Messages", &pkey) == 0;
  }) && ok;
  ok = Qb_CommitTrans(smf) == 0 && ok;
  return best_of_rounds("Qb_Edit + Qb_Cancel of the agency's own row", [&](int) {
    return Qb_Edit(smf, "RL_Agencies", agency) == 0 && Qb_Cancel(smf, "RL_Agencies") == 0;
  }) && ok;
}

// kInserts posted rows of a lookup table in one host transaction; the time.
double timed_inserts(const std::string& rows, bool& ok) {
  BenchMetafile metafile("CREATE TABLE LT (PKey integer primary key, Code varchar(10));"
                         "INSERT INTO RL_LookupTables(TableName, RecCount) VALUES ('LT', 0);" + rows);
  int smf = metafile.handle();
  auto start = std::chrono::steady_clock::now();
  ok = Qb_BeginTrans(smf) == 0;
  for (int i = 0; i < kInserts && ok; ++i) {
    int pkey = 0;
    ok = Qb_Insert(smf, "LT") == 0 && Qb_SetFieldByName(smf, "LT", "Code", std::to_string(i).c_str()) == 0 &&
         Qb_Post(smf, "LT", &pkey) == 0 && pkey > 0;
  }
  ok = Qb_CommitTrans(smf) == 0 && ok;
  return seconds_since(start);
}

bool numbering_past_the_top() {
  const std::string top = "INSERT INTO LT VALUES (2147483647, 'top');";
  bool plain = false, past = false, large = false;
  double without = timed_inserts("", plain);
  double with = timed_inserts(top, past);
  printf("%d posted rows: %.3f s, after a row at the top key %.3f s (%.2fx)%s\n", kInserts, without, with,
         with / without, plain && past ? "" : ", FAILED");
  BenchMetafile metafile("CREATE TABLE LT (PKey integer primary key, Code varchar(10));"
                         "WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < " +
                         std::to_string(kLargeTable) + ") INSERT INTO LT SELECT k, 'c' FROM n;" + top);
  int smf = metafile.handle();
  auto start = std::chrono::steady_clock::now();
  int pkey = 0;
  large = Qb_Insert(smf, "LT") == 0 && Qb_SetFieldByName(smf, "LT", "Code", "new") == 0 &&
          Qb_Post(smf, "LT", &pkey) == 0 && pkey > 0;
  printf("one posted row after the top row of a table of %d rows: %.4f s%s\n", kLargeTable, seconds_since(start),
         large ? "" : ", FAILED");
  return plain && past && large;
}

}  // namespace

int main() {
  bool ok = recompile_and_rename();
  ok = small_calls() && ok;
  ok = numbering_past_the_top() && ok;
  return ok ? 0 : 1;
}
