// The QUELT edit-logic compiler of one open metafile.
#pragma once

class TSQLDB;
class TEngineErrorsPump;
class TTablesList;

class TEditCompiler {
 public:
  TEditCompiler(TSQLDB* db, TEngineErrorsPump* pump, TTablesList* tables);
  TEditCompiler(const TEditCompiler&) = delete;
  TEditCompiler& operator=(const TEditCompiler&) = delete;

 private:
  TSQLDB* FSQLDB;
  TEngineErrorsPump* FEnginePump;
  TTablesList* FTablesList;
};
