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
// Registers a loaded library; returns the number registered.
int AddExternalDLL(const std::string& name, void* handle, void* entry);
// Unloads every registered library, in registration order, and leaves the
// registry empty.
void ClearExternalDLLs();
