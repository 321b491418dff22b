// The process-wide registry of external rule libraries and the built-in that
// calls them: externaldll(library, word, ...) loads lib<library>.so through the
// platform's library search and calls its QueltInterface with eleven words.
#include "library/ExternalDLLTracker.h"

#include <dlfcn.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include "library/LibFuncs.h"
#include "runtime/RunEdits.h"
#include "storage/SQLDB.h"
#include "storage/Utility.h"

namespace {

typedef int32_t (*TQueltInterface)(int64_t, int64_t, int64_t, int64_t, int64_t, int64_t, int64_t, int64_t, int64_t,
                                   int64_t, int64_t);

const char* const kMethod = "call_externaldll";

std::vector<std::unique_ptr<RLt_ExternalDLL>>& registry() {
  static std::vector<std::unique_ptr<RLt_ExternalDLL>> libraries;
  return libraries;
}

// "lib" + the name cut before its last "." + ".so".
std::string library_file(const std::string& name) { return "lib" + name.substr(0, name.rfind('.')) + ".so"; }

}  // namespace

RLt_ExternalDLL* GetExternalDLL(const std::string& name) {
  for (const auto& library : registry())
    if (library->Name == name) return library.get();
  return nullptr;
}

int AddExternalDLL(const std::string& name, void* handle, void* entry) {
  registry().emplace_back(new RLt_ExternalDLL{name, handle, entry});
  return static_cast<int>(registry().size());
}

void ClearExternalDLLs() {
  for (const auto& library : registry()) dlclose(library->Handle);
  registry().clear();
}

void TLibFuncs::setup_external_functions() { set_function(0x87, &TLibFuncs::call_externaldll); }

TValueWord TLibFuncs::call_externaldll() {
  const char* name = nullptr;
  recorded(kMethod, [&] {
    check_open_paren();
    name = kept_text_argument();
    return 0;
  });
  if (FRunEdits->GetEvalTokenID() != ',')
    fail(kMethod, "syntax error: expected comma between first and second parameters");
  int64_t words[kExternalWords] = {};
  recorded(kMethod, [&] {
    read_external_words(words);
    return 0;
  });
  TQueltInterface entry = reinterpret_cast<TQueltInterface>(external_entry(name));
  // A rule library is the host's own code too.
  FSQLDB->EndSharedRead();
  return recorded(
      kMethod,
      [&] {
        return static_cast<TValueWord>(entry(words[0], words[1], words[2], words[3], words[4], words[5], words[6],
                                             words[7], words[8], words[9], words[10]));
      },
      "failure in call to external dll");
}

// Every argument after the library name is an expression; the first
// kExternalWords values are passed, later ones are evaluated and dropped.
void TLibFuncs::read_external_words(int64_t* words) {
  words[0] = argument();
  for (int extra = 1; FRunEdits->GetEvalTokenID() == ','; ++extra) {
    TValueWord value = argument();
    if (extra < kExternalWords) words[extra] = value;
  }
}

// The entry point of the named library, loaded and registered on first use.
// The name comes from edit logic and so maybe from record data: a path in it is
// refused, so only the platform's library search decides what is loaded.
void* TLibFuncs::external_entry(const char* name) {
  std::string lowered = lowercase_string(name);
  if (lowered.find('/') != std::string::npos) fail(kMethod, "External dll name must not contain \"/\": " + lowered);
  if (RLt_ExternalDLL* library = GetExternalDLL(lowered)) return library->Entry;
  std::string file = library_file(lowered);
  void* handle = dlopen(file.c_str(), RTLD_LAZY);
  if (handle == nullptr) {
    const char* reason = dlerror();
    fail(kMethod, std::string(reason != nullptr ? reason : "") + file);
  }
  dlerror();
  void* entry = dlsym(handle, "QueltInterface");
  if (dlerror() != nullptr || entry == nullptr) {
    dlclose(handle);
    fail(kMethod, "Cannot find QueltInterface function in external dll: " + lowered);
  }
  AddExternalDLL(lowered, handle, entry);
  return entry;
}
