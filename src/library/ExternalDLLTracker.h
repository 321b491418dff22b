// The process-wide registry of external rule libraries that edit logic calls:
// each loaded once per name and kept until the host shuts the engine down.
#pragma once

#include <string>

// One loaded library.
struct RLt_ExternalDLL {
  std::string Name;  // as the logic named it, lower-cased
  void* Handle;      // from dlopen
  void* Entry;       // its QueltInterface
};

// The first library registered under exactly that name, or null.
RLt_ExternalDLL* GetExternalDLL(const std::string& name);
// The registry holds at most this many libraries: the names come from the
// logic and may come from records, so a full registry is emptied (its
// libraries unloaded) before the next one is registered.
const int kMaxExternalDLLs = 64;
// Registers a loaded library; returns the number registered.
int AddExternalDLL(const std::string& name, void* handle, void* entry);
// Unloads every registered library, in registration order, and leaves the
// registry empty.
void ClearExternalDLLs();
