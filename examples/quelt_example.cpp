// Example host program: creates a metafile in a temporary directory and
// prints its structure version and control tables.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "storage/SMFTables.h"
#include "storage/SQLDB.h"
#include "storage/SQLQuery.h"

int main() {
  char dir[] = "/tmp/quelt-example-XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    perror("mkdtemp");
    return 1;
  }
  std::string path = std::string(dir) + "/example.smf";
  TSQLDB db;
  if (!db.OpenDatabase(path.c_str())) return 1;
  TSMFTables schema(&db);
  if (!schema.CreateSMFTables("5.01")) {
    fprintf(stderr, "cannot create metafile: %s\n", schema.LastErrorMessage());
    return 1;
  }
  printf("metafile: %s\n", path.c_str());

  TSQLQuery query(&db);
  query.SetSQLText("SELECT ItemName, ItemValue FROM RL_Control ORDER BY PKey", false);
  for (bool ok = query.SetIsActive(true); ok && !query.Eof(); ok = query.FetchNext())
    printf("%-20s %s\n", query.GetFieldByNumber(0).c_str(), query.GetFieldByNumber(1).c_str());

  printf("control tables:\n");
  query.SetSQLText("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name", false);
  for (bool ok = query.SetIsActive(true); ok && !query.Eof(); ok = query.FetchNext())
    printf("  %s\n", query.GetFieldByNumber(0).c_str());
  query.SetIsActive(false);
  return 0;
}
