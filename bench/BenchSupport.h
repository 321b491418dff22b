// What the benchmarks share: a metafile in a fresh temporary directory, filled
// with raw SQL and opened by handle, a lookup table and its rename, and a stopwatch.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "quelt.h"

class BenchMetafile {
 public:
  // Creates the metafile, runs `sql` on it and opens it; exits on a failure.
  explicit BenchMetafile(const std::string& sql) {
    if (mkdtemp(Dir) == nullptr) exit(1);
    Path = std::string(Dir) + "/bench.smf";
    if (Edit_CreateNewMetafile(Path.c_str()) != 0) exit(1);
    sqlite3* db = nullptr;
    sqlite3_open(Path.c_str(), &db);
    int rc = sqlite3_exec(db, ("BEGIN;" + sql + "COMMIT;").c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    int versionCompare = 0;
    char message[256];
    if (rc != SQLITE_OK || Edit_Initialize(&Handle, Path.c_str(), message, sizeof message, &versionCompare) != 0)
      exit(1);
  }
  ~BenchMetafile() {
    Edit_Exit(Handle);
    remove(Path.c_str());
    rmdir(Dir);
  }
  BenchMetafile(const BenchMetafile&) = delete;
  BenchMetafile& operator=(const BenchMetafile&) = delete;

  int handle() const { return Handle; }
  const std::string& path() const { return Path; }

 private:
  char Dir[32] = "/tmp/quelt-bench-XXXXXX";
  std::string Path;
  int Handle = -1;
};

// Lookup table LT (PKey 2 of RL_LookupTables) with two rows, and a table Other(Code).
inline std::string lookup_table() {
  return "CREATE TABLE LT([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(10));"
         "INSERT INTO LT(Code) VALUES ('a'), ('b');"
         "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (2, 'LT', 2);"
         "CREATE TABLE Other(Code);";
}

// Renames LT (or whatever PKey 2 of RL_LookupTables names) by a posted row.
inline bool rename_to(int smf, const char* name) {
  int pkey = 0;
  return Qb_Edit(smf, "RL_LookupTables", 2) == 0 && Qb_SetFieldByName(smf, "RL_LookupTables", "TableName", name) == 0 &&
         Qb_Post(smf, "RL_LookupTables", &pkey) == 0;
}

inline double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
