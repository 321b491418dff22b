// TSMF: construction, destruction, opening with the structure-version check,
// the upgrade, version and comment queries, engine errors, and the operations
// that take no handle (creating and compacting a metafile, version texts).
#include "api/SMF.h"

#include <stdexcept>

#include "authoring/ImportMetafile.h"
#include "authoring/Qb_AccessController.h"
#include "authoring/SMFWriter.h"
#include "compiler/EditCompiler.h"
#include "runtime/RunEdits.h"
#include "storage/EngineErrorsPump.h"
#include "storage/SMFTables.h"
#include "storage/SQLDB.h"
#include "storage/SQLQuery.h"
#include "storage/TableStats.h"
#include "storage/Utility.h"

const char* const kEngineVersion = "5.0.0.15";
const char* const kStructureVersion = "5.01";

namespace {

void release_statement(TSQLQuery*& query) {
  if (query == nullptr) return;
  try {
    query->ReleaseParameterizedQuery();
  } catch (const std::runtime_error&) {
    // Destruction finalizes the statement all the same.
  }
  delete query;
  query = nullptr;
}

template <typename T>
void delete_all(std::map<std::string, T*>& entries) {
  for (auto& entry : entries) delete entry.second;
  entries.clear();
}

}  // namespace

TSMF::~TSMF() {
  if (FSQLDB != nullptr) FSQLDB->SetRollbackListener(nullptr);
  delete FImportMetafile;  // closes the import while the logins and the connection exist
  release_statement(FIndexSQLQuery);
  release_statement(FTableSQLQuery);
  delete FTablesList;
  for (auto& cursor : FCursors) cursor.second->SetIsActive(false);
  delete_all(FCursors);
  delete FRunEdits;
  delete FQb_AccessController;
  delete FSMFWriter;
  delete FEditCompiler;
  delete FEnginePump;
  delete FSQLDB;
}

void TSMF::add_error(const char* method, const std::string& message) {
  FEnginePump->AddError("TSMF", method, message);
}

TSMF::TCallbackGuard::TCallbackGuard(TSMF& smf, const char* underWay, unsigned walked)
    : FSMF(underWay != nullptr ? &smf : nullptr) {
  if (FSMF != nullptr) FSMF->FWalks.push_back({underWay, walked});
}

TSMF::TCallbackGuard::~TCallbackGuard() {
  if (FSMF != nullptr) FSMF->FWalks.pop_back();
}

TSMF::TCallRead::TCallRead(TSMF& smf, bool held) : FDB(held ? smf.FSQLDB : nullptr) {
  if (FDB != nullptr) FDB->BeginSharedRead();
}

TSMF::TCallRead::~TCallRead() {
  if (FDB != nullptr) FDB->EndSharedRead();
}

const char* TSMF::WalkOf(unsigned parts, size_t skipped) const {
  size_t depth = 0;
  for (auto walk = FWalks.rbegin(); walk != FWalks.rend(); ++walk, ++depth)
    if (depth >= skipped && (walk->Walked & parts) != 0) return walk->UnderWay;
  return nullptr;
}

void TSMF::RecordRefusal(const char* method, const char* underWay) {
  add_error(method, std::string("Not allowed from a callback while ") + underWay + " is under way on this metafile");
}

void TSMF::RecordException(const char* method, const std::string& text) {
  int count = 0;
  FEnginePump->GetErrorsCount(&count);
  if (!text.empty()) add_error(method, text);
  else if (count == 0) add_error(method, "Unexpected engine failure");
}

bool TSMF::parameters_given(const char* method, TParameterList parameters) {
  bool given = true;
  for (const auto& parameter : parameters) {
    if (parameter.first != nullptr) continue;
    add_error(method, std::string("Parameter \"") + parameter.second + "\" must not be NULL");
    given = false;
  }
  return given;
}

int TSMF::InitializeMetafile(const char* path, char* message, int messageLength,
                             int* versionCompare, int checkVersion) {
  FEnginePump = new TEngineErrorsPump();
  FSQLDB = new TSQLDB();
  if (message != nullptr && messageLength > 0) message[0] = '\0';
  if (!FSQLDB->OpenDatabase(path)) return -1;
  // Read first: a change made while the model is read shows at the next check.
  int version = kNoSchemaVersion;
  std::string unread;
  if (FSQLDB->ReadSchemaVersion(version, unread)) FModelSchemaVersion = version;
  if (!build_tables_list()) {
    FSQLDB->CloseDatabase();
    std::string reason = FSchemaFailure.empty() ? std::string() : ": " + FSchemaFailure;
    copy_to_buffer("Unable to build tables list" + reason, message, messageLength);
    return -1;
  }
  if (checkVersion != 0 && !check_mf_structure_version(message, messageLength, versionCompare)) {
    FSQLDB->CloseDatabase();
    return -1;
  }
  FSQLDB->SetRollbackListener([this] { follow_rollback(); });
  FRunEdits = new TRunEdits(FSQLDB, FEnginePump, FTablesList);
  // The run's lookups follow the file under the run's own walk of the model.
  FRunEdits->SetSchemaFollower([this] { return follow_schema("follow_schema", true); });
  FQb_AccessController = new TQb_AccessController(FEnginePump, FSQLDB);
  FSMFWriter = new TSMFWriter(this, FSQLDB, FEnginePump, FQb_AccessController, FTablesList);
  FEditCompiler = new TEditCompiler(FSQLDB, FEnginePump, FTablesList);
  return 0;
}

bool TSMF::check_mf_structure_version(char* message, int messageLength, int* versionCompare) {
  TSQLQuery query(FSQLDB);
  try {
    query.OpenSelect("SELECT [ItemValue] FROM RL_Control WHERE [ItemName] = 'MFStructureVersion';");
    if (query.Eof()) return true;
    std::string stored = query.GetFieldByNumber(0);
    int comparison = std::string(kStructureVersion).compare(stored);
    if (versionCompare != nullptr) *versionCompare = comparison < 0 ? -1 : comparison > 0 ? 1 : 0;
    if (comparison == 0) return true;
    copy_to_buffer(std::string("Engine expects metafile structure version \"") + kStructureVersion +
                       "\", but metafile is version \"" + stored + "\"",
                   message, messageLength);
    return false;
  } catch (const std::runtime_error&) {
    copy_to_buffer(std::string("SQL error: ") + query.LastErrorMessage(), message, messageLength);
    return false;
  }
}

int TSMF::UpdateMetafile(char* message, int messageLength) {
  TSMFTables schema(FSQLDB);
  try {
    return schema.UpdateMetafile(kStructureVersion, message, messageLength);
  } catch (const std::exception&) {
    return -1;
  }
}

int TSMF::read_control_item(const char* item, const char* method, char* buffer, int length) {
  if (!parameters_given(method, {{length > 0 ? buffer : "", "buffer"}})) return -1;
  TSQLQuery query(FSQLDB);
  try {
    query.OpenSelect(std::string("SELECT [ItemValue] FROM RL_Control WHERE [ItemName] = '") + item + "';");
    copy_to_buffer(query.GetFieldByNumber(0), buffer, length);
    return 0;
  } catch (const std::runtime_error& e) {
    add_error(method, e.what());
    add_error(method, std::string("SQL error: ") + query.LastErrorMessage());
    return -1;
  }
}

int TSMF::GetMetafileVersion(char* buffer, int length) {
  return read_control_item("MFContentVersion", "GetMetafileVersion", buffer, length);
}

int TSMF::GetMetafileComment(char* buffer, int length) {
  return read_control_item("MFComment", "GetMetafileComment", buffer, length);
}

void TSMF::ClearEngineErrorsPump() { FEnginePump->ClearPump(); }

int TSMF::GetEngineErrorsCount(int* count) { return FEnginePump->GetErrorsCount(count); }

int TSMF::GetEngineErrorByIndex(int index, char* buffer, int length) {
  // Any index below 1 is out of range; tested first so that it cannot overflow.
  return FEnginePump->GetErrorByIndex(index < 1 ? -1 : index - 1, buffer, length);
}

int CreateNewMetafile(const char* path) {
  if (path == nullptr) return -2;
  TSQLDB db;
  if (!db.OpenDatabase(path)) return -2;
  TSMFTables schema(&db);
  return schema.CreateSMFTables(kStructureVersion) ? 0 : -2;
}

int CompactMetafile(const char* path) {
  if (path == nullptr) return -2;
  TSQLDB db;
  return db.OpenDatabase(path) && db.Vacuum() ? 0 : -2;
}

int GetEngineVersion(char* buffer, int length) {
  if (buffer == nullptr && length > 0) return -2;
  copy_to_buffer(kEngineVersion, buffer, length);
  return 0;
}

int GetMetafileStructureVersion(char* buffer, int length) {
  if (buffer == nullptr && length > 0) return -1;
  copy_to_buffer(kStructureVersion, buffer, length);
  return 0;
}
