// The edit run-time of one open metafile: loads layouts and edit sets and runs
// compiled edit logic over records.
#pragma once

class TSQLDB;
class TEngineErrorsPump;
class TTablesList;

class TRunEdits {
 public:
  TRunEdits(TSQLDB* db, TEngineErrorsPump* pump, TTablesList* tables);
  TRunEdits(const TRunEdits&) = delete;
  TRunEdits& operator=(const TRunEdits&) = delete;
};
