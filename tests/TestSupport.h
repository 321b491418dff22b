// Shared helpers of the unit tests: a temporary directory removed after the
// test and small wrappers to build and inspect metafiles with raw SQLite.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

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
