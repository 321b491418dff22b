// TSMF operations of an import: opening and closing it, listing candidates,
// copying a lookup table and writing a stored agency password.
#include <stdexcept>

#include "api/SMF.h"
#include "authoring/ImportMetafile.h"
#include "authoring/Qb_AccessController.h"
#include "storage/EngineErrorsPump.h"
#include "storage/SQLDB.h"
#include "storage/Utility.h"

namespace {

const char* const kPasswordSavePoint = "_ImportWritePassword_";

}  // namespace

bool TSMF::has_import(const char* method) {
  if (FImportMetafile != nullptr) return true;
  add_error(method, "FImportMetafile is NULL; call OpenImportMetafile first");
  return false;
}

int TSMF::OpenImportMetafile(const char* path) {
  if (!parameters_given("OpenImportMetafile", {{path, "path"}})) return -1;
  if (FImportMetafile != nullptr) {
    add_error("OpenImportMetafile", "Import Metafile is already running");
    return -1;
  }
  FImportMetafile = new TImportMetafile(FSQLDB, FEnginePump, FQb_AccessController);
  return FImportMetafile->Open(path);
}

// A detach that the database refuses keeps the import, so that the close can
// be tried again (after the host's transaction, for instance). Outside a
// transaction only a cursor in the middle of its read holds the source: the
// close is then refused before the super user leaves.
int TSMF::CloseImportMetafile() {
  if (!has_import("CloseImportMetafile")) return -1;
  if (!FSQLDB->InTransaction() && FImportMetafile->SourceHeld()) {
    std::string refusal = ReadingCursorRefusal("The import's source cannot be detached");
    if (!refusal.empty()) {
      add_error("CloseImportMetafile", refusal);
      return -1;
    }
  }
  if (FImportMetafile->Close() != 0 && FImportMetafile->IsAttached()) return -1;
  delete FImportMetafile;
  FImportMetafile = nullptr;
  return 0;
}

int TSMF::GetImportCandidates(const char* tableName, const char* keyField, void* owner, void* callback) {
  if (!parameters_given("GetImportCandidates", {{tableName, "tableName"}}) || !has_import("GetImportCandidates"))
    return -1;
  try {
    return FImportMetafile->GetImportCandidates(tableName, keyField, owner, callback);
  } catch (const std::runtime_error& e) {
    add_error("GetImportCandidates", std::string("Something bad has happened: ") + e.what());
    return -1;
  }
}

int TSMF::ImportLookupTable(const char* tableName) {
  if (!parameters_given("ImportLookupTable", {{tableName, "tableName"}}) || !has_import("ImportLookupTable"))
    return -1;
  try {
    int result = FImportMetafile->ImportLookupTable(tableName);
    return result != 0 ? result : replace_table_def(tableName, tableName) ? 0 : -1;
  } catch (const std::runtime_error& e) {
    add_error("ImportLookupTable", std::string("Something bad has happened: ") + e.what());
    return -1;
  }
}

// Only an open import writes a password in its stored form; the text is
// bound, so any byte of it arrives as it was.
int TSMF::ImportWritePassword(int agencyPKey, const char* password) {
  if (!parameters_given("ImportWritePassword", {{password, "password"}}) || !has_import("ImportWritePassword"))
    return -1;
  if (!FImportMetafile->IsAttached()) {
    add_error("ImportWritePassword", "No attached metafile (did you call attach_to_metafile()?)");
    return -1;
  }
  // An agency whose login stands keeps it under the password written for it;
  // both are read inside the write, so that no other connection's row comes between.
  bool stood = false;
  return write_statement(
      "ImportWritePassword", kPasswordSavePoint,
      "UPDATE [RL_Agencies] SET [Password] = ? WHERE [PKey] = " + intToString(agencyPKey) + ";", {password},
      [&] { stood = FQb_AccessController != nullptr && FQb_AccessController->AgencyLoginStands(agencyPKey); },
      [&] {
        if (stood) FQb_AccessController->FollowAgencyWrite(agencyPKey, agencyPKey);
      });
}
