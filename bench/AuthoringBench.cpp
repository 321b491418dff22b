// Benchmark: on a metafile of 5,000 edits over 2,000 fields, recompiles every
// edit inside one host transaction, then posts one field rename that 1,000
// edits depend on (propagation and recompilation included). Prints the times.
#include <string>

#include "BenchSupport.h"

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

}  // namespace

int main() {
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
  return failures == 0 && posted && rewritten == kDependents ? 0 : 1;
}
