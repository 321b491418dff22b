// The QUELT edit-logic compiler of one open metafile.
#include "compiler/EditCompiler.h"

TEditCompiler::TEditCompiler(TSQLDB* db, TEngineErrorsPump* pump, TTablesList* tables)
    : FSQLDB(db), FEnginePump(pump), FTablesList(tables) {}
