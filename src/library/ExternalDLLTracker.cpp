// The process-wide registry of external rule libraries.
#include "library/ExternalDLLTracker.h"

#include "library/LibFuncs.h"

#include <dlfcn.h>

#include <string>
#include <vector>

namespace {

struct RLt_ExternalDLL {
  std::string Name;
  void* Handle;
};

std::vector<RLt_ExternalDLL*>& registry() {
  static std::vector<RLt_ExternalDLL*> libraries;
  return libraries;
}

}  // namespace

void ClearExternalDLLs() {
  for (RLt_ExternalDLL* library : registry()) {
    if (library->Handle != nullptr) dlclose(library->Handle);
    delete library;
  }
  registry().clear();
}

void TLibFuncs::setup_external_functions() {}
