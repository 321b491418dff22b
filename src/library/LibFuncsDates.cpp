// The date built-ins.
#include "library/LibFuncs.h"

void TLibFuncs::setup_date_functions() {}
