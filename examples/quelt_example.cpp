// Example host program: creates a metafile in a temporary directory, opens it
// through the public API, lists its tables and columns, reads a row and a
// cursor, and syntax-checks a sample edit.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "quelt.h"

namespace {

int print_table(void*, const char* tableName) {
  printf("  %s\n", tableName);
  return 0;
}

int print_column(void*, const char*, int order, const char* field, const char* type, const char* null,
                 int, const char* defaultValue, const char*, const char*) {
  printf("  %2d %-14s %-12s %-8s %s\n", order, field, type, null, defaultValue);
  return 0;
}

int print_value(void*, const char*, int, int, const char* field, const char*, const char* value) {
  printf("  %-12s = %s\n", field, value);
  return 0;
}

}  // namespace

int main() {
  char dir[] = "/tmp/quelt-example-XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    perror("mkdtemp");
    return 1;
  }
  std::string path = std::string(dir) + "/example.smf";

  char text[256];
  Edit_GetEngineVersion(text, sizeof text);
  printf("engine version: %s\n", text);
  Edit_GetMetafileStructureVersion(text, sizeof text);
  printf("metafile structure version: %s\n", text);

  if (Edit_CreateNewMetafile(path.c_str()) != 0) {
    fprintf(stderr, "cannot create %s\n", path.c_str());
    return 1;
  }
  int smf = -1, versionCompare = 0;
  if (Edit_Initialize(&smf, path.c_str(), text, sizeof text, &versionCompare) != 0) {
    fprintf(stderr, "cannot open %s: %s\n", path.c_str(), text);
    return 1;
  }
  printf("opened %s as handle %d\n", path.c_str(), smf);
  Edit_GetMetafileVersion(smf, text, sizeof text);
  printf("content version: %s\n", text);

  printf("tables:\n");
  Edit_GetTableNames(smf, nullptr, reinterpret_cast<void*>(print_table));
  printf("columns of RL_Fields:\n");
  Edit_GetTableStructure(smf, "RL_Fields", nullptr, reinterpret_cast<void*>(print_column));
  printf("row 1 of RL_Agencies:\n");
  Edit_ReadData(smf, "RL_Agencies", 1, nullptr, reinterpret_cast<void*>(print_value));

  printf("cursor over RL_Control:\n");
  Edit_OpenCursor(smf, "items", "SELECT ItemName, ItemValue FROM RL_Control ORDER BY PKey");
  for (int eof = 0; Edit_CursorEof(smf, "items", &eof) == 0 && !eof; Edit_CursorNext(smf, "items")) {
    char name[64], value[64];
    Edit_GetCursorDataByName(smf, "items", "ItemName", name, sizeof name);
    Edit_GetCursorDataByNumber(smf, "items", 2, value, sizeof value);
    printf("  %-20s %s\n", name, value);
  }
  Edit_CloseCursor(smf, "items");

  const char* logic = "int n;\nn = strlen(\"abc\");\nif (n = 3) return PASS;\nreturn FAIL";
  int errors = 0, warnings = 0;
  Qb_CheckSyntax(smf, logic, &errors, &warnings);
  printf("syntax check of a sample edit: %d error(s), %d warning(s)\n", errors, warnings);
  for (int i = 0; i < errors + warnings; ++i) {
    int line = 0;
    if (i < errors) Qb_GetSyntaxError(smf, i, &line, text, sizeof text);
    else Qb_GetSyntaxWarning(smf, i - errors, &line, text, sizeof text);
    printf("  %s\n", text);
  }
  Edit_Exit(smf);
  remove(path.c_str());
  rmdir(dir);
  return 0;
}
