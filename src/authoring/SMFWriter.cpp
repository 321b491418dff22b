// The row-editing component of one open metafile.
#include "authoring/SMFWriter.h"

#include "storage/EngineErrorsPump.h"
#include "storage/SQLQuery.h"
#include "storage/TableStats.h"
#include "storage/Utility.h"

TSMFWriter::TSMFWriter(TSMF*, TSQLDB* db, TEngineErrorsPump* pump, TQb_AccessController*, TTablesList*)
    : FSQLDB(db), FEnginePump(pump), FDefineTable(new TDefineTable()) {}

TSMFWriter::~TSMFWriter() { delete FDefineTable; }

int TSMFWriter::ClearEditLogicPivots(int editPKey) {
  static const char* const pivots[] = {"RL_EditFieldsPivot", "RL_EditTablesPivot", "RL_EditMessagesPivot",
                                       "RL_EditErrorsPivot"};
  TSQLQuery query(FSQLDB);
  for (const char* pivot : pivots) {
    std::string sql = std::string("DELETE FROM ") + pivot + " WHERE EditPKey = " + intToString(editPKey) + ";";
    query.SetSQLText(sql, false);
    if (query.ExecSQL()) continue;
    FEnginePump->AddError("TSMFWriter", "ClearEditLogicPivots", "Failure to delete Layout/Field pivot record");
    FEnginePump->AddError("TSMFWriter", "ClearEditLogicPivots", query.LastErrorMessage());
    FEnginePump->AddError("TSMFWriter", "ClearEditLogicPivots", "SQL: " + sql);
    return -1;
  }
  return 0;
}
