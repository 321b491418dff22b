// The edit run-time of one open metafile.
#include "runtime/RunEdits.h"

TRunEdits::TRunEdits(TSQLDB*, TEngineErrorsPump*, TTablesList*) {}
