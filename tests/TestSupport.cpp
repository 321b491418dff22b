// Shared helpers of the unit tests.
#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "storage/SMFTables.h"
#include "storage/SQLDB.h"

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quelt-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  Path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(Path, ignored);
}

bool create_metafile(const std::string& path) {
  TSQLDB db;
  if (!db.OpenDatabase(path.c_str())) return false;
  TSMFTables schema(&db);
  return schema.CreateSMFTables("5.01");
}

RawDB::RawDB(const std::string& path) {
  if (sqlite3_open(path.c_str(), &Db) != SQLITE_OK) throw std::runtime_error("cannot open " + path);
}

RawDB::~RawDB() { sqlite3_close(Db); }

int RawDB::exec(const std::string& sql) {
  return sqlite3_exec(Db, sql.c_str(), nullptr, nullptr, nullptr);
}

std::vector<std::string> RawDB::rows(const std::string& sql) {
  std::vector<std::string> result;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(Db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
    throw std::runtime_error(std::string("bad test SQL: ") + sqlite3_errmsg(Db));
  while (sqlite3_step(statement) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(statement); ++i) {
      if (i > 0) row += "|";
      const unsigned char* text = sqlite3_column_text(statement, i);
      row += text == nullptr ? "<null>" : reinterpret_cast<const char*>(text);
    }
    result.push_back(row);
  }
  sqlite3_finalize(statement);
  return result;
}

std::string RawDB::value(const std::string& sql) {
  std::vector<std::string> all = rows(sql);
  return all.empty() ? std::string() : all.front();
}

std::vector<std::string> snapshot(const std::string& path) {
  RawDB raw(path);
  std::vector<std::string> result =
      raw.rows("SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name");
  for (const std::string& table :
       raw.rows("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"))
    for (const std::string& row : raw.rows("SELECT * FROM [" + table + "] ORDER BY rowid"))
      result.push_back(table + ": " + row);
  return result;
}
