// The mask built-ins.
#include "library/LibFuncs.h"

void TLibFuncs::setup_mask_functions() {}
