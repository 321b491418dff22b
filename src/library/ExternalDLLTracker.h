// The process-wide registry of external rule libraries loaded for edit logic.
#pragma once

// Unloads every registered external library, in registration order, and
// leaves the registry empty.
void ClearExternalDLLs();
