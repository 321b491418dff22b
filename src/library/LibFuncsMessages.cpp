// The message built-ins.
#include "library/LibFuncs.h"

void TLibFuncs::setup_message_functions() {}
