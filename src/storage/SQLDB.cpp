// One SQLite connection to one metafile.
#include "storage/SQLDB.h"

#include <cstring>

#include "storage/Utility.h"

const char* const kDatabaseBusyText = "Database busy; cannot fetch next record";

namespace {

// Writes to the main database and changes nothing: run first in a deferred
// transaction, it takes the main database's write lock alone.
const char* const kMainWriteLock = "DELETE FROM main.RL_Control WHERE 0;";

// URI names are taken, as SQLite built to take them does anyway, so that an
// import can attach its source without creating it; every path is therefore
// opened as the URI of its file.
const int kOpenFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI;
const char* const kHexDigits = "0123456789ABCDEF";

bool is_uri_plain(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string file_uri(const std::string& path) {
  std::string uri = !path.empty() && path[0] == '/' ? "file://" : "file:./";
  for (unsigned char c : path) {
    if (is_uri_plain(c))
      uri += static_cast<char>(c);
    else
      uri += {'%', kHexDigits[c >> 4], kHexDigits[c & 0xF]};
  }
  return uri;
}

// The SQLite library is initialised by every connection object but never shut
// down: other handles, and the host itself, may still hold open connections.
TSQLDB::TSQLDB() { sqlite3_initialize(); }

TSQLDB::~TSQLDB() { CloseDatabase(); }

bool TSQLDB::OpenDatabase(const char* path) {
  if (FDatabase != nullptr) return true;
  if (path == nullptr) return false;
  // A connection that failed to open is closed, so that nothing takes it for an open one.
  if (sqlite3_open_v2(file_uri(path).c_str(), &FDatabase, kOpenFlags, nullptr) != SQLITE_OK) {
    sqlite3_close(FDatabase);
    FDatabase = nullptr;
    return false;
  }
  FDBName = path;
  sqlite3_busy_timeout(FDatabase, kBusyTimeoutMs);
  sqlite3_exec(FDatabase, "PRAGMA foreign_keys = 1", nullptr, nullptr, nullptr);
  return true;
}

bool TSQLDB::CloseDatabase() {
  if (FDatabase == nullptr) return false;
  EndSharedRead();
  finalize_kept_statements();
  if (sqlite3_close(FDatabase) != SQLITE_OK) return false;
  FDatabase = nullptr;
  return true;
}

bool TSQLDB::Vacuum() {
  if (FDatabase == nullptr) return false;
  return exec("Vacuum;");
}

bool TSQLDB::BeginTrans() { return exec("BEGIN"); }

// A file without the control tables (one being made into a metafile) has no
// import attached: there every database may be locked at once.
bool TSQLDB::BeginWrite(std::string& reason) {
  if (FDatabase == nullptr) return false;
  sqlite3_stmt* lock = nullptr;
  int prepared = sqlite3_prepare_v2(FDatabase, kMainWriteLock, -1, &lock, nullptr);
  bool begun = prepared == SQLITE_OK ? take_main_write_lock(lock, reason)
                                     : prepared == SQLITE_ERROR && exec("BEGIN IMMEDIATE");
  if (!begun && prepared != SQLITE_OK) reason = GetLastDBErrorMessage();
  sqlite3_finalize(lock);
  return begun;
}

// The lock is taken before anything is read, so the connection's busy wait
// applies to it.
bool TSQLDB::take_main_write_lock(sqlite3_stmt* lock, std::string& reason) {
  if (!exec("BEGIN")) {
    reason = GetLastDBErrorMessage();
    return false;
  }
  if (sqlite3_step(lock) == SQLITE_DONE) return true;
  reason = GetLastDBErrorMessage();
  exec("ROLLBACK");
  return false;
}

// Preparing the statement reads the schema without keeping a lock. A file
// without the control tables is left for its first write to lock.
bool TSQLDB::TakeWriteLockFirst(std::string& reason) {
  if (!InTransaction() || sqlite3_txn_state(FDatabase, "main") != SQLITE_TXN_NONE) return true;
  sqlite3_stmt* lock = nullptr;
  bool taken = sqlite3_prepare_v2(FDatabase, kMainWriteLock, -1, &lock, nullptr) != SQLITE_OK ||
               sqlite3_step(lock) == SQLITE_DONE;
  if (!taken) reason = GetLastDBErrorMessage();
  sqlite3_finalize(lock);
  return taken;
}

bool TSQLDB::CommitTrans() { return exec("COMMIT"); }

bool TSQLDB::RollbackTrans() { return exec("ROLLBACK"); }

bool TSQLDB::SavePoint(const char* name) { return exec_savepoint("SAVEPOINT ", name); }
bool TSQLDB::Release(const char* name) { return exec_savepoint("RELEASE ", name); }

bool TSQLDB::RollbackTo(const char* name) { return exec_savepoint("ROLLBACK TO ", name); }

bool TSQLDB::InTransaction() const { return FDatabase != nullptr && !sqlite3_get_autocommit(FDatabase); }

bool TSQLDB::HoldsTransaction(const char* schema) const {
  return FDatabase != nullptr && sqlite3_txn_state(FDatabase, schema) > SQLITE_TXN_NONE;
}

TSQLDB::TWriteMark TSQLDB::MarkWrites() {
  TWriteMark mark;
  if (FDatabase == nullptr) return mark;
  mark.Changes = sqlite3_total_changes64(FDatabase);
  mark.Main = mark_version(FSchemaVersion, "main");
  mark.Temp = mark_version(FTempSchemaVersion, "temp");
  return mark;
}

TSQLDB::TVersionMark TSQLDB::mark_version(sqlite3_stmt*& kept, const char* schema) {
  TVersionMark mark;
  std::string unread;
  mark.Known = HoldsTransaction(schema) && read_version(kept, schema, mark.Version, unread);
  return mark;
}

// Rows written anywhere count in the changes; the library changes the schema
// of the main database, and of the temporary one for its own tables.
bool TSQLDB::WroteSince(const TWriteMark& mark) {
  if (FDatabase == nullptr || sqlite3_total_changes64(FDatabase) != mark.Changes) return true;
  return schema_changed(FSchemaVersion, "main", mark.Main) || schema_changed(FTempSchemaVersion, "temp", mark.Temp);
}

bool TSQLDB::schema_changed(sqlite3_stmt*& kept, const char* schema, const TVersionMark& mark) {
  if (sqlite3_txn_state(FDatabase, schema) != SQLITE_TXN_WRITE) return false;
  int version = 0;
  std::string unread;
  return !mark.Known || !read_version(kept, schema, version, unread) || version != mark.Version;
}

void TSQLDB::NotifyRollback() {
  if (FRollbackListener) FRollbackListener();
}

// A savepoint name comes from the host: its statement is run alone, never by
// a call that would go on to run whatever follows it.
bool TSQLDB::exec_savepoint(const char* verb, const char* name) {
  if (name == nullptr || FDatabase == nullptr) return false;
  std::string sql = verb + quote_identifier(name);
  sqlite3_stmt* statement = nullptr;
  const char* tail = nullptr;
  bool done = sqlite3_prepare_v2(FDatabase, sql.c_str(), -1, &statement, &tail) == SQLITE_OK &&
              statement != nullptr && *tail == '\0' && sqlite3_step(statement) == SQLITE_DONE;
  sqlite3_finalize(statement);
  return done;
}

bool TSQLDB::exec(const std::string& sql) {
  // On a closed connection SQLite answers its misuse code.
  return sqlite3_exec(FDatabase, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

void TSQLDB::BeginSharedRead() {
  if (FSharedRead || FDatabase == nullptr || !sqlite3_get_autocommit(FDatabase) || !prepare_shared_read()) return;
  // Without it each lookup simply takes the lock itself.
  FSharedRead = sqlite3_step(FBeginRead) == SQLITE_DONE;
  sqlite3_reset(FBeginRead);
  FSchemaChecked = false;
}

void TSQLDB::EndSharedRead() {
  FSchemaChecked = false;
  if (!FSharedRead) return;
  FSharedRead = false;
  sqlite3_step(FEndRead);
  sqlite3_reset(FEndRead);
  // Nothing wrote inside it; should the end still fail, the connection must
  // not stay in a transaction the host never began.
  if (!sqlite3_get_autocommit(FDatabase)) exec("ROLLBACK");
}

bool TSQLDB::prepare_shared_read() {
  if (FBeginRead != nullptr) return true;
  if (sqlite3_prepare_v2(FDatabase, "BEGIN", -1, &FBeginRead, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(FDatabase, "COMMIT", -1, &FEndRead, nullptr) == SQLITE_OK)
    return true;
  finalize_shared_read();
  return false;
}

void TSQLDB::finalize_shared_read() {
  sqlite3_finalize(FBeginRead);
  sqlite3_finalize(FEndRead);
  FBeginRead = FEndRead = nullptr;
}

void TSQLDB::finalize_kept_statements() {
  finalize_shared_read();
  sqlite3_finalize(FSchemaVersion);
  sqlite3_finalize(FTempSchemaVersion);
  FSchemaVersion = FTempSchemaVersion = nullptr;
}

bool TSQLDB::ReadSchemaVersion(int& version, std::string& reason) {
  return read_version(FSchemaVersion, "main", version, reason);
}

// Each database's version is read by a statement kept for it.
bool TSQLDB::read_version(sqlite3_stmt*& kept, const char* schema, int& version, std::string& reason) {
  if (FDatabase == nullptr) return false;
  std::string sql = std::string("PRAGMA ") + schema + ".schema_version;";
  if (kept == nullptr && sqlite3_prepare_v2(FDatabase, sql.c_str(), -1, &kept, nullptr) != SQLITE_OK) {
    reason = GetLastDBErrorMessage();
    sqlite3_finalize(kept);
    kept = nullptr;
    return false;
  }
  bool read = sqlite3_step(kept) == SQLITE_ROW;
  if (read)
    version = sqlite3_column_int(kept, 0);
  else
    reason = GetLastDBErrorMessage();
  sqlite3_reset(kept);
  return read;
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

bool TSQLDB::StepRow(sqlite3_stmt* statement, bool& eof, bool& hasRow, std::string& lastError) {
  hasRow = false;
  // A busy database has been waited for already, by the connection's timeout.
  int rc = statement == nullptr ? SQLITE_MISUSE : sqlite3_step(statement);
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

// The program of a statement that reads a database opens a transaction on it.
bool TSQLDB::ReadsDatabase(sqlite3_stmt* statement) {
  const char* text = statement == nullptr ? nullptr : sqlite3_sql(statement);
  sqlite3_stmt* explain = nullptr;
  if (text == nullptr || sqlite3_prepare_v2(sqlite3_db_handle(statement), (std::string("EXPLAIN ") + text).c_str(),
                                            -1, &explain, nullptr) != SQLITE_OK) {
    sqlite3_finalize(explain);
    return false;
  }
  bool reads = false;
  while (!reads && sqlite3_step(explain) == SQLITE_ROW) {
    const unsigned char* opcode = sqlite3_column_text(explain, 1);
    reads = opcode != nullptr && strcmp(reinterpret_cast<const char*>(opcode), "Transaction") == 0;
  }
  sqlite3_finalize(explain);
  return reads;
}
