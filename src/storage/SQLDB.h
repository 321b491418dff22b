// One SQLite connection to one metafile: open and close, transactions,
// savepoints, vacuum and pragmas with a row callback; the URI that names a file.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <string>

// How long any statement of the library's connections waits for another
// connection's lock before it answers busy.
const int kBusyTimeoutMs = 3000;

class TSQLDB {
 public:
  TSQLDB();
  ~TSQLDB();
  TSQLDB(const TSQLDB&) = delete;
  TSQLDB& operator=(const TSQLDB&) = delete;

  sqlite3* Database() const { return FDatabase; }
  // The path of the open file; empty until a file is opened.
  const char* GetDBName() const { return FDBName.c_str(); }

  bool OpenDatabase(const char* path);
  bool CloseDatabase();
  bool Vacuum();

  bool BeginTrans();
  // Begins a transaction that holds the write lock of the main database from
  // its start, waiting for it as any statement waits: one that has read first
  // could not wait for that lock when another connection holds it. Attached
  // databases are not locked, so another connection's lock on one of them
  // delays nothing. False with the database's reason.
  bool BeginWrite(std::string& reason);
  // Inside a transaction that has not read the main database yet, takes its
  // write lock before anything reads it, waiting for it as BeginWrite does:
  // once a transaction has read, its first write can no longer wait for
  // another connection's write lock. Does nothing otherwise. False with the
  // database's reason.
  bool TakeWriteLockFirst(std::string& reason);
  bool CommitTrans();
  bool RollbackTrans();
  bool SavePoint(const char* name);
  bool Release(const char* name);
  bool RollbackTo(const char* name);
  bool InTransaction() const;
  // Whether a read or write transaction of the attached database of that
  // name is open (held by the host's transaction, or by a statement in the
  // middle of its read).
  bool HoldsTransaction(const char* schema) const;

  // A database's schema version, when it was held and could be read.
  struct TVersionMark {
    bool Known = false;
    int Version = 0;
  };
  // What the connection has written so far, to tell later whether it has
  // written anything since: rows (triggers' included) and the schemas.
  struct TWriteMark {
    sqlite3_int64 Changes = 0;
    TVersionMark Main, Temp;
  };
  // Takes no lock: a schema version is read only when its database is held
  // already.
  TWriteMark MarkWrites();
  // Conservative: true when it cannot tell.
  bool WroteSince(const TWriteMark& mark);

  // Whoever keeps a picture of the schema learns of each rollback (which may
  // have undone a change of it) from NotifyRollback, called once the
  // rollback's own outcome has been taken.
  void SetRollbackListener(std::function<void()> listener) { FRollbackListener = std::move(listener); }
  void NotifyRollback();

  // The lookups of a run or of a debugging run share one read transaction
  // instead of taking and dropping the file's shared lock each time. The
  // first lookup begins it, only when no transaction is open; it ends before
  // the host is called back and when the run ends, so no host statement ever
  // runs inside it.
  void BeginSharedRead();
  void EndSharedRead();
  // The lookups check the schema once for each read they hold (the shared
  // read, or the host's transaction) until the host is next called back: the
  // mark is set only while such a read is held, and goes when a shared read
  // begins or ends and before every callback.
  bool IsSchemaChecked() const { return FSchemaChecked; }
  void SetSchemaChecked() { FSchemaChecked = FSharedRead || InTransaction(); }

  // The main database's schema version, which every change of its tables,
  // indexes or triggers moves on, by this connection or another. Read by a
  // statement kept for it, which leaves no lock; false with the database's reason.
  bool ReadSchemaVersion(int& version, std::string& reason);

  const char* GetLastDBErrorMessage() const;
  int Pragma(const char* sql, void* context,
             int (*callback)(void* context, int columnCount, char** values, char** names));

  // Steps to the next row of a result set for the statement wrappers: true on a
  // row or at the end (which sets eof); false with the reason in lastError.
  static bool StepRow(sqlite3_stmt* statement, bool& eof, bool& hasRow, std::string& lastError);
  // Whether the statement's program reads a database (a table or the
  // schema), as the database's own EXPLAIN of its text tells: one in the
  // middle of such a read holds the database's read. False when it cannot tell.
  static bool ReadsDatabase(sqlite3_stmt* statement);

 private:
  bool exec(const std::string& sql);
  bool take_main_write_lock(sqlite3_stmt* lock, std::string& reason);
  bool exec_savepoint(const char* verb, const char* name);
  bool read_version(sqlite3_stmt*& kept, const char* schema, int& version, std::string& reason);
  TVersionMark mark_version(sqlite3_stmt*& kept, const char* schema);
  bool schema_changed(sqlite3_stmt*& kept, const char* schema, const TVersionMark& mark);
  bool prepare_shared_read();
  void finalize_shared_read();
  void finalize_kept_statements();

  sqlite3* FDatabase = nullptr;
  std::string FDBName;
  sqlite3_stmt* FBeginRead = nullptr;
  sqlite3_stmt* FEndRead = nullptr;
  bool FSharedRead = false;
  bool FSchemaChecked = false;
  sqlite3_stmt* FSchemaVersion = nullptr;
  sqlite3_stmt* FTempSchemaVersion = nullptr;
  std::function<void()> FRollbackListener;
};

// The URI of exactly the file at `path`, every byte of it part of the name:
// bytes other than letters, digits and "/-._~" are escaped, so "?", "#" and
// "%" stay in the name, and a relative path starts at "./", so that no name
// ("", ":memory:", "file:...") stands for anything but that file.
std::string file_uri(const std::string& path);

// Text reported when a fetch stays busy past the wait.
extern const char* const kDatabaseBusyText;
