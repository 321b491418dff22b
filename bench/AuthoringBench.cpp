// Benchmark: on a metafile of 5,000 edits over 2,000 fields, recompiles every
// edit inside one host transaction, then posts one field rename that 1,000
// edits depend on (propagation and recompilation included). Prints the times.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "quelt.h"

namespace {

const int kFields = 2000;
const int kEdits = 5000;
const int kDependents = 1000;  // edits 1 to 1000 use Field1

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

void build_metafile(const std::string& path) {
  if (Edit_CreateNewMetafile(path.c_str()) != 0) exit(1);
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  std::string sql = "BEGIN;INSERT INTO RL_Messages(MessageNumber,Message) VALUES (5,'five'),(7,'seven');";
  for (int i = 1; i <= kFields; ++i)
    sql += "INSERT INTO RL_Fields(FieldNumber,FieldName,LocalName,FieldLength) VALUES (" + std::to_string(i) +
           ",'Field" + std::to_string(i) + "','L" + std::to_string(i) + "',8);";
  for (int i = 1; i <= kEdits; ++i)
    sql += "INSERT INTO RL_Edits(EditTag,EditName,EditLogic) VALUES ('E" + std::to_string(i) + "','Edit " +
           std::to_string(i) + "','" + edit_logic(i) + "');";
  sql += "COMMIT;";
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) exit(1);
  sqlite3_close(db);
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

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  char dir[] = "/tmp/quelt-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  std::string path = std::string(dir) + "/authoring.smf";
  build_metafile(path);
  int smf = -1, versionCompare = 0;
  char message[256];
  if (Edit_Initialize(&smf, path.c_str(), message, sizeof message, &versionCompare) != 0) return 1;

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
  Edit_Exit(smf);
  int rewritten = rewritten_edits(path);
  printf("%d edits now name the field by its new name\n", rewritten);
  remove(path.c_str());
  rmdir(dir);
  return failures == 0 && posted && rewritten == kDependents ? 0 : 1;
}
