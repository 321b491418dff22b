// Shared helpers of the unit tests: a temporary directory removed after the
// test and small wrappers to build and inspect metafiles with raw SQLite.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "storage/SQLDB.h"
#include "storage/TableStats.h"

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return Path; }
  std::string file(const std::string& name) const { return Path + "/" + name; }

 private:
  std::string Path;
};

// Creates a metafile of the current structure at `path`; true on success.
bool create_metafile(const std::string& path);

// Rows in every owner and pivot table of a metafile; they need agencies 2 and 3.
extern const char* const kContentRows;

// A metafile of the structure before "5.01" at `path`: agencies with address
// and contact columns (and the same index names), agencies 1 to 3, the rows of
// kContentRows, every other table as now; true on success.
bool make_older_metafile(const std::string& path);

// A raw SQLite connection for setting up and checking files behind the engine's back.
class RawDB {
 public:
  explicit RawDB(const std::string& path);
  ~RawDB();
  RawDB(const RawDB&) = delete;
  RawDB& operator=(const RawDB&) = delete;

  sqlite3* handle() const { return Db; }
  // Runs SQL; returns the SQLite code.
  int exec(const std::string& sql);
  // Rows of a query, each row's columns joined with '|' (NULL as "<null>").
  std::vector<std::string> rows(const std::string& sql);
  // First column of the first row, or "" when none.
  std::string value(const std::string& sql);

 private:
  sqlite3* Db = nullptr;
};

// The definition of a table of the file for a table model that a test builds
// itself: the first column the integer key, the others texts of 50 characters,
// with the table's index texts; `skipped` leaves the column of that order out.
TTableDef* table_model(RawDB& raw, const std::string& name, int skipped = -1);

// Counts the statements run whose text holds `mark`: those of `db`, or, with
// no connection given, those of every connection opened while it lives.
class StatementCount {
 public:
  explicit StatementCount(const char* mark, sqlite3* db = nullptr);
  ~StatementCount();
  StatementCount(const StatementCount&) = delete;
  StatementCount& operator=(const StatementCount&) = delete;

  int count() const { return Count; }

 private:
  static int trace(unsigned, void* counter, void* statement, void*);
  static int trace_opened(sqlite3* db, const char**, const void*);
  const char* Mark;
  sqlite3* Db;
  int Count = 0;
};

// Every table of the file with its rows, and every schema entry with its SQL:
// two equal snapshots mean the file was left exactly as it was.
std::vector<std::string> snapshot(const std::string& path);
