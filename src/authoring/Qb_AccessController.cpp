// The login register of one open metafile.
#include "authoring/Qb_AccessController.h"

TQb_AccessController::TQb_AccessController(TEngineErrorsPump*, TSQLDB*) {}
