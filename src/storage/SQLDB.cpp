// One SQLite connection to one metafile.
#include "storage/SQLDB.h"

#include <unistd.h>

#include "storage/Utility.h"

const char* const kDatabaseBusyText = "Database busy; cannot fetch next record";

namespace {
const int kBusyTries = 3;
}  // namespace

// The SQLite library is initialised by every connection object but never shut
// down: other handles, and the host itself, may still hold open connections.
TSQLDB::TSQLDB() { sqlite3_initialize(); }

TSQLDB::~TSQLDB() { CloseDatabase(); }

bool TSQLDB::OpenDatabase(const char* path) {
  if (FDatabase != nullptr) return true;
  if (path == nullptr) return false;
  if (sqlite3_open(path, &FDatabase) != SQLITE_OK) return false;
  FDBName = path;
  sqlite3_exec(FDatabase, "PRAGMA foreign_keys = 1", nullptr, nullptr, nullptr);
  return true;
}

bool TSQLDB::CloseDatabase() {
  if (FDatabase == nullptr) return false;
  if (sqlite3_close(FDatabase) != SQLITE_OK) return false;
  FDatabase = nullptr;
  return true;
}

bool TSQLDB::Vacuum() {
  if (FDatabase == nullptr) return false;
  return exec("Vacuum;");
}

bool TSQLDB::BeginTrans() { return exec("BEGIN"); }
bool TSQLDB::CommitTrans() { return exec("COMMIT"); }
bool TSQLDB::RollbackTrans() { return exec("ROLLBACK"); }

bool TSQLDB::SavePoint(const char* name) { return exec_savepoint("SAVEPOINT ", name); }
bool TSQLDB::Release(const char* name) { return exec_savepoint("RELEASE ", name); }
bool TSQLDB::RollbackTo(const char* name) { return exec_savepoint("ROLLBACK TO ", name); }

bool TSQLDB::exec_savepoint(const char* verb, const char* name) {
  if (name == nullptr) return false;
  return exec(verb + quote_identifier(name));
}

bool TSQLDB::exec(const std::string& sql) {
  // On a closed connection SQLite answers its misuse code.
  return sqlite3_exec(FDatabase, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

const char* TSQLDB::GetLastDBErrorMessage() const {
  return FDatabase == nullptr ? "" : sqlite3_errmsg(FDatabase);
}

int TSQLDB::Pragma(const char* sql, void* context,
                   int (*callback)(void* context, int columnCount, char** values, char** names)) {
  if (callback == nullptr || sql == nullptr) return 0;
  char* error = nullptr;
  int rc = sqlite3_exec(FDatabase, sql, callback, context, &error);
  sqlite3_free(error);
  return rc;
}

int TSQLDB::StepStatement(sqlite3_stmt* statement) {
  if (statement == nullptr) return SQLITE_MISUSE;
  int rc = SQLITE_BUSY;
  for (int attempt = 0; attempt < kBusyTries; ++attempt) {
    rc = sqlite3_step(statement);
    if (rc != SQLITE_BUSY) break;
    sleep(1);
  }
  return rc;
}

bool TSQLDB::StepRow(sqlite3_stmt* statement, bool& eof, bool& hasRow, std::string& lastError) {
  hasRow = false;
  int rc = StepStatement(statement);
  if (rc == SQLITE_ROW) {
    hasRow = true;
    return true;
  }
  if (rc == SQLITE_DONE) {
    eof = true;
    return true;
  }
  if (rc == SQLITE_BUSY)
    lastError = kDatabaseBusyText;
  else if (rc == SQLITE_MISUSE)
    lastError = "SQLITE_MISUSE: Statement is bad";
  else
    lastError = sqlite3_errmsg(sqlite3_db_handle(statement));
  return false;
}
