// The login register of one open metafile.
#include "authoring/Qb_AccessController.h"

TQb_AccessController::TQb_AccessController(TEngineErrorsPump* pump, TSQLDB* db)
    : FEnginePump(pump), FSQLDB(db) {}
