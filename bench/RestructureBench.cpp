// Benchmark: restructures a lookup table of 1,000 rows that a table of
// 1,000,000 rows refers to by PKey and by a unique code (both indexed),
// outside and then inside a host transaction; then tables of 5,000 to
// 40,000 rows that as many rows, and their own, refer to by columns no
// index covers, and one referred to by a text column that no index can serve.
// Prints the times and the growth of peak memory.
#include <sys/resource.h>

#include <string>

#include "BenchSupport.h"

namespace {

const int kZips = 1000;
const int kReferrers = 1000000;

std::string metafile_rows() {
  return "CREATE TABLE Zip([PKey] integer NOT NULL PRIMARY KEY, [Code] char(6) NOT NULL collate nocase);"
         "CREATE UNIQUE INDEX xZip_Code ON Zip([Code]);"
         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kZips) + ")"
         " INSERT INTO Zip SELECT i, 'Z' || i FROM n;"
         "INSERT INTO RL_LookupTables(TableName, RecCount) VALUES ('Zip', " + std::to_string(kZips) + ");"
         "CREATE TABLE Big([PKey] integer NOT NULL PRIMARY KEY, [ZipPKey] integer REFERENCES Zip(PKey),"
         " [ZipCode] char(6) collate nocase REFERENCES Zip(Code));"
         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kReferrers) + ")"
         " INSERT INTO Big SELECT i, 1 + i % " + std::to_string(kZips) + ", 'Z' || (1 + i * 7 % " +
         std::to_string(kZips) + ") FROM n;"
         // Without indexes on the referring columns every parent row written
         // under enforced foreign keys scans the whole referring table.
         "CREATE INDEX xBig_ZipPKey ON Big([ZipPKey]); CREATE INDEX xBig_ZipCode ON Big([ZipCode]);";
}

// Ter's rows, each but the first referring to the one before it, and as
// many of Cell's referring to them; no index covers the referring columns.
std::string unindexed_rows(int rows, const char* cellType = "integer") {
  std::string count = std::to_string(rows);
  return "CREATE TABLE Ter([PKey] integer NOT NULL PRIMARY KEY, [Code] char(6) NOT NULL collate nocase,"
         " [Up] integer REFERENCES Ter(PKey));"
         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + count + ")"
         " INSERT INTO Ter SELECT i, 'T' || i, nullif(i - 1, 0) FROM n;"
         "CREATE TABLE Cell([PKey] integer NOT NULL PRIMARY KEY, [TerPKey] " + cellType + " REFERENCES Ter(PKey));"
         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + count + ")"
         " INSERT INTO Cell SELECT i, i FROM n;";
}

bool restructure(int smf, const char* table = "Zip") {
  return Qb_DefineTableStructure(smf, table, 1) == 0 &&
         Qb_AddColumnDef(smf, "Code", "Code", 0, 6, 0, 0, nullptr, nullptr, nullptr, nullptr, 2) == 0 &&
         Qb_CreateTable(smf, nullptr) == 0;
}

long peak_kilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main() {
  BenchMetafile metafile(metafile_rows());
  int smf = metafile.handle();
  long base = peak_kilobytes();

  auto start = std::chrono::steady_clock::now();
  bool outside = restructure(smf);
  printf("restructured a table of %d rows under %d references, outside a transaction, in %.3f s%s\n", kZips,
         2 * kReferrers, seconds_since(start), outside ? "" : ", FAILED");

  start = std::chrono::steady_clock::now();
  bool inside = Qb_BeginTrans(smf) == 0 && restructure(smf) && Qb_CommitTrans(smf) == 0;
  printf("the same inside a host transaction in %.3f s%s\n", seconds_since(start), inside ? "" : ", FAILED");
  printf("peak memory grew by %ld MB\n", (peak_kilobytes() - base) / 1024);

  // A restructure takes the table's own reference away: each is timed on a
  // metafile of its own.
  bool unindexed = true;
  for (int rows : {5000, 10000, 20000, 40000}) {
    double times[2];
    for (bool inTransaction : {false, true}) {
      BenchMetafile small(unindexed_rows(rows));
      int h = small.handle();
      start = std::chrono::steady_clock::now();
      bool done = inTransaction ? Qb_BeginTrans(h) == 0 && restructure(h, "Ter") && Qb_CommitTrans(h) == 0
                                : restructure(h, "Ter");
      times[inTransaction] = seconds_since(start);
      unindexed = unindexed && done;
    }
    printf("a table of %d rows under twice as many references by unindexed columns: %.3f s outside a transaction, "
           "%.3f s inside%s\n",
           rows, times[0], times[1], unindexed ? "" : ", FAILED");
  }
  // A text column referring to the integer key: no index can serve the lookups.
  BenchMetafile text(unindexed_rows(5000, "varchar(6)"));
  start = std::chrono::steady_clock::now();
  bool textual = Qb_BeginTrans(text.handle()) == 0 && restructure(text.handle(), "Ter") &&
                 Qb_CommitTrans(text.handle()) == 0;
  printf("the same for 5000 rows referred to by a text column, inside a transaction: %.3f s%s\n",
         seconds_since(start), textual ? "" : ", FAILED");
  return outside && inside && unindexed && textual ? 0 : 1;
}
