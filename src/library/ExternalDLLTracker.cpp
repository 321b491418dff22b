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
#include "runtime/Variable.h"
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
  if (registry().size() >= static_cast<size_t>(kMaxExternalDLLs)) ClearExternalDLLs();
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
// kExternalWords values are passed, later ones are evaluated and dropped. A
// character variable is passed as its own buffer, which the library may write
// into; a later argument (a lookup copying a longer value) may move that
// buffer, so its address is taken only once every argument has run. Cargo
// texts stay where they are until the statement ends.
void TLibFuncs::read_external_words(int64_t* words) {
  TVariable* variables[kExternalWords] = {};
  for (int index = 0; index == 0 || FRunEdits->GetEvalTokenID() == ','; ++index) {
    TValueWord value = argument();
    if (index >= kExternalWords) continue;
    variables[index] = FRunEdits->TextVariable(value);
    // A variable's word holds the offset into its buffer until the buffer is final.
    words[index] = variables[index] != nullptr ? value - variables[index]->GetStringValueAsInteger() : value;
  }
  for (int index = 0; index < kExternalWords; ++index)
    if (variables[index] != nullptr) words[index] += variables[index]->GetStringValueAsInteger();
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
