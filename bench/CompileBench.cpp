// Benchmark: recompiles every edit of a metafile with a few thousand edits
// and prints the time taken, per edit and in all.
#include <string>

#include "BenchSupport.h"

namespace {

const int kEdits = 3000;

// A realistic edit: declarations, field reads, conditions, calls and messages.
std::string edit_logic(int i) {
  return "/* edit " + std::to_string(i) + " */\n"
         "char site[10], code[20];\nint n, i;\n"
         "strcpy(site, #S\"Site\");\n"
         "if (empty(site)) return PASS;\n"
         "n = strlen(site);\n"
         "for (i = 0; i < n; i = i + 1) {\n"
         "  if (strcmp(substr(site, i, 1), \" \") == 0) { error_msg(5); return FAIL; }\n"
         "}\n"
         "if (valid_date_iop(#S\"Birth Date\") != dt_valid) { set_warning(7); return WARN; }\n"
         "if (inlist(#S\"Site\", \"1,2,3,4,5\")) return PASS;\n"
         "if (lookup(#S\"Site\", \"SITES.CODE\")) return PASS;\n"
         "error_text(\"unknown site\");\nreturn FAIL;\n";
}

std::string metafile_rows() {
  std::string sql =
      "INSERT INTO RL_Fields(FieldNumber,FieldName,LocalName,FieldLength,DataType) VALUES"
      " (12,'Site','Site',3,'S '),(30,'Birth Date','BD',8,'D1');"
      "INSERT INTO RL_Messages(MessageNumber,Message) VALUES (5,'five'),(7,'seven');"
      "CREATE TABLE SITES([PKey] integer not null primary key, [CODE] varchar(10) not null);"
      "CREATE INDEX xSITES_CODE on SITES([CODE], [PKey]);"
      "INSERT INTO RL_LookupTables(TableName,RecCount) VALUES ('SITES',0);";
  for (int i = 1; i <= kEdits; ++i)
    sql += "INSERT INTO RL_Edits(EditTag,EditName,EditLogic) VALUES ('E" + std::to_string(i) + "','Edit " +
           std::to_string(i) + "','" + edit_logic(i) + "');";
  return sql;
}

}  // namespace

int main() {
  BenchMetafile metafile(metafile_rows());
  int smf = metafile.handle();

  auto start = std::chrono::steady_clock::now();
  for (int i = 1; i <= kEdits; ++i) {
    int errors = 0, warnings = 0;
    Qb_CheckSyntax(smf, edit_logic(i).c_str(), &errors, &warnings);
  }
  double checkSeconds = seconds_since(start);
  printf("syntax-checked %d edits in %.3f s (%.3f ms per edit)\n", kEdits, checkSeconds,
         1000.0 * checkSeconds / kEdits);

  start = std::chrono::steady_clock::now();
  int failures = 0;
  for (int i = 1; i <= kEdits; ++i)
    if (Edit_RecompileEditLogic(smf, ("E" + std::to_string(i)).c_str()) != 0) ++failures;
  double seconds = seconds_since(start);

  // Each recompilation outside a host transaction commits on its own.
  printf("recompiled %d edits in %.3f s (%.3f ms per edit), %d not clean\n", kEdits, seconds,
         1000.0 * seconds / kEdits, failures);
  return failures == 0 ? 0 : 1;
}
