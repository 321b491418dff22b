// The edit run-time of one open metafile.
#include "runtime/RunEdits.h"

TRunEdits::TRunEdits(TSQLDB* db, TEngineErrorsPump* pump, TTablesList* tables)
    : FSQLDB(db), FEnginePump(pump), FTablesList(tables) {}
