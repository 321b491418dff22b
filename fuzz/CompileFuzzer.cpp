// Fuzz target: runs the syntax check on arbitrary QUELT source against a small
// metafile with fields, messages and a lookup table. No source may crash or
// hang the compiler, and every text it compiles without errors must pass the
// run time's structure check.
#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "api/EditAPI.h"
#include "api/SMF.h"
#include "compiler/EditCompiler.h"
#include "quelt.h"

namespace {

const char* const kSetup =
    "INSERT INTO RL_Fields(FieldNumber,FieldName,LocalName,FieldLength,DataType) VALUES"
    " (12,'Site','Site',3,'S '),(30,'Birth Date','BD',8,'D1'),(31,'O''Brien','OB',2,'S ');"
    "INSERT INTO RL_Messages(MessageNumber,Message) VALUES (5,'five'),(7,'seven');"
    "CREATE TABLE SITES([PKey] integer not null primary key, [CODE] varchar(10) not null, [CITY] text);"
    "CREATE INDEX xSITES_CODE on SITES([CODE], [PKey]);"
    "INSERT INTO RL_LookupTables(TableName,RecCount) VALUES ('SITES',0);";

char scratch[] = "/tmp/quelt-fuzz-XXXXXX";

// Closes the metafile, so leak checks at exit stay quiet, and removes its directory.
void close_metafile() {
  Shutdown();
  std::filesystem::remove_all(scratch);
}

// The metafile is made once per process in a temporary directory.
int open_metafile() {
  if (mkdtemp(scratch) == nullptr) abort();
  std::string path = std::string(scratch) + "/fuzz.smf";
  if (Edit_CreateNewMetafile(path.c_str()) != 0) abort();
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK || sqlite3_exec(db, kSetup, nullptr, nullptr, nullptr) != SQLITE_OK)
    abort();
  sqlite3_close(db);
  int handle = -1, versionCompare = 0;
  char message[256];
  if (Edit_Initialize(&handle, path.c_str(), message, sizeof message, &versionCompare) != 0) abort();
  atexit(close_metafile);
  return handle;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int handle = open_metafile();
  std::string source(reinterpret_cast<const char*>(data), size);
  int errors = 0, warnings = 0;
  // A compile reports problems of the logic as messages; it never fails.
  if (Qb_CheckSyntax(handle, source.c_str(), &errors, &warnings) != 0) abort();
  int count = 0;
  for (char list : {'F', 'T', 'M', 'E'})
    if (Qb_GetLogicListCount(handle, list, &count) != 0 || count < 0) abort();
  if (errors == 0) {
    const std::string compiled = InitCheck(handle)->GetEditCompiler()->GetCompiledCode();
    if (TEditCompiler::CheckStructure(compiled).Kind != TStructureFault::kNone) abort();
  }
  return 0;
}
