// The lookup built-ins.
#include "library/LibFuncs.h"

void TLibFuncs::setup_lookup_functions() {}
