// The row-editing component of one open metafile: edits control tables and
// lookup tables under the access rights of the logged-in agencies.
#pragma once

class TSMF;
class TSQLDB;
class TEngineErrorsPump;
class TQb_AccessController;
class TTablesList;
class TDefineTable;

class TSMFWriter {
 public:
  TSMFWriter(TSMF* owner, TSQLDB* db, TEngineErrorsPump* pump, TQb_AccessController* access,
             TTablesList* tables);
  ~TSMFWriter();
  TSMFWriter(const TSMFWriter&) = delete;
  TSMFWriter& operator=(const TSMFWriter&) = delete;

  // Deletes the edit's rows in the field, lookup-table, message and
  // message-text pivots; 0, or -1 with engine errors.
  int ClearEditLogicPivots(int editPKey);

 private:
  TSQLDB* FSQLDB;
  TEngineErrorsPump* FEnginePump;
  TDefineTable* FDefineTable;
};
