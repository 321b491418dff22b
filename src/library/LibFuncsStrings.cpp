// The string built-ins.
#include "library/LibFuncs.h"

void TLibFuncs::setup_string_functions() {}
