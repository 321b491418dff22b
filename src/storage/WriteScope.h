// A change of several statements on one connection that either completes or
// is undone, and leaves the connection as it found it: outside any
// transaction, or inside the host's transaction still open.
#pragma once

#include <string>

#include "storage/SQLDB.h"

class TEngineErrorsPump;

// Recorded when the database itself ended the host's transaction (on some
// I/O errors, a full disk or an interrupt).
extern const char* const kHostTransactionLostText;
// Recorded when the transaction a change opened could not be ended.
extern const char* const kStillInTransactionText;

class TWriteScope {
 public:
  // Outside any transaction it begins one that takes the main database's
  // write lock at once; inside one it sets the savepoint of that name. A null
  // name means the change may not nest: it then needs a connection outside
  // any transaction. Failures are recorded as (className, method, the
  // database's message), the scope's own failure to open after `openFailure`
  // when one is given; without a pump nothing is recorded.
  TWriteScope(TSQLDB* db, TEngineErrorsPump* pump, const char* className, const char* method,
              const char* savepoint, const char* openFailure = nullptr);
  // A scope neither kept nor undone (an exception passed through) is undone.
  // A savepoint in which nothing was written (a refusal decided before the
  // first write) is released rather than rolled back: inside a transaction
  // that has changed the schema any rollback ends every read of the
  // connection, the host's cursors' included.
  ~TWriteScope();
  TWriteScope(const TWriteScope&) = delete;
  TWriteScope& operator=(const TWriteScope&) = delete;

  bool IsOpen() const { return FOpen; }
  // Keeps the changes when `keep` holds and the commit (or release) succeeds;
  // otherwise undoes them. Answers whether they were kept.
  bool Finish(bool keep);

 private:
  bool commit();
  void undo();
  void record(const std::string& message);

  TSQLDB* FDB;
  TEngineErrorsPump* FPump;
  const char* FClass;
  const char* FMethod;
  const char* FSavepoint;
  bool FOutermost;
  bool FOpen = false;
  TSQLDB::TWriteMark FMark;  // what was written before a nested scope opened
};
