// A change of several statements that either completes or is undone.
#include "storage/WriteScope.h"

#include "storage/EngineErrorsPump.h"
#include "storage/SQLDB.h"

const char* const kHostTransactionLostText =
    "The database rolled back the whole transaction: every change made since the host's transaction began is lost";
const char* const kStillInTransactionText = "The change could not be undone: the connection is still in its transaction";

TWriteScope::TWriteScope(TSQLDB* db, TEngineErrorsPump* pump, const char* className, const char* method,
                         const char* savepoint, const char* openFailure)
    : FDB(db), FPump(pump), FClass(className), FMethod(method), FSavepoint(savepoint) {
  // A run's shared read must not hold the change back from its commit.
  FDB->EndSharedRead();
  FOutermost = !FDB->InTransaction();
  // A change that may not nest asks for a transaction all the same, so that
  // the database says why it cannot have one.
  std::string reason;
  if (FOutermost || FSavepoint == nullptr) {
    FOpen = FDB->BeginWrite(reason);
  } else if (!(FOpen = FDB->SavePoint(FSavepoint))) {
    reason = FDB->GetLastDBErrorMessage();
  } else {
    FMark = FDB->MarkWrites();
  }
  if (FOpen) return;
  if (openFailure != nullptr) record(openFailure);
  record(reason);
}

TWriteScope::~TWriteScope() {
  if (FOpen) undo();
}

bool TWriteScope::Finish(bool keep) {
  if (!FOpen) return false;
  if (keep && commit()) return true;
  undo();
  return false;
}

// The message is taken at once: the undo that follows runs statements of its own.
bool TWriteScope::commit() {
  if (FOutermost ? FDB->CommitTrans() : FDB->Release(FSavepoint)) {
    FOpen = false;
    return true;
  }
  record(FDB->GetLastDBErrorMessage());
  return false;
}

// The outermost transaction is rolled back whole; a nested change goes back to
// its savepoint and drops it, so the host's transaction stays as it was. The
// rollback of a transaction that has not changed the schema ends no read.
void TWriteScope::undo() {
  FOpen = false;
  if (!FOutermost && FDB->InTransaction() && !FDB->WroteSince(FMark) && FDB->Release(FSavepoint)) return;
  if (!FDB->InTransaction()) {
    // The database has ended the transaction itself.
    if (!FOutermost) record(kHostTransactionLostText);
    FDB->NotifyRollback();
    return;
  }
  bool undone = FOutermost ? FDB->RollbackTrans() : FDB->RollbackTo(FSavepoint) && FDB->Release(FSavepoint);
  if (!undone) record(FDB->GetLastDBErrorMessage());
  if (FOutermost && FDB->InTransaction()) record(kStillInTransactionText);
  if (!FOutermost && !FDB->InTransaction()) record(kHostTransactionLostText);
  FDB->NotifyRollback();
}

void TWriteScope::record(const std::string& message) {
  if (FPump != nullptr) FPump->AddError(FClass, FMethod, message);
}
