// Fuzz target: the first line of the input is a data record, the rest is taken
// as an edit's compiled logic. It is stored in a small metafile and run
// through Edit_RunEdits and Edit_DebugEdit. No compiled text may crash the
// run-time, and every failure must leave an engine error that says why.
#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "quelt.h"

namespace {

const char* const kSetup =
    "INSERT INTO RL_Fields(PKey,FieldNumber,FieldName,LocalName,FieldLength,DataType) VALUES"
    " (1,1,'Sex','Sex',1,'S '),(2,2,'Age','Age',3,'S '),(3,3,'Birth Date','BD',8,'D1'),(4,4,'Far','Far',5,'S ');"
    "INSERT INTO RL_Layouts(PKey,LayoutTag,LayoutName) VALUES (1,'L1','Layout');"
    "INSERT INTO RL_LayoutFieldsPivot(LayoutPKey,FieldPKey,StartPos) VALUES (1,1,1),(1,2,2),(1,3,5),(1,4,90);"
    "INSERT INTO RL_Messages(PKey,MessageNumber,Message) VALUES (2,5,'Sex %F1 is %V1; %D1 age %V2%'),"
    " (3,7,'date %V3');"
    "INSERT INTO RL_Edits(PKey,EditTag,EditName,MessagePKey,CompiledLogic) VALUES (1,'F1','Fuzzed',2,'@');"
    "INSERT INTO RL_EditFieldsPivot(EditPKey,FieldPKey,FieldOrder) VALUES (1,1,1),(1,2,2),(1,3,3);"
    "INSERT INTO RL_EditSets(PKey,EditSetTag,EditSetName) VALUES (1,'FS','Fuzz set');"
    "INSERT INTO RL_EditSetEditsPivot(EditSetPKey,EditPKey) VALUES (1,1);"
    // Lookup tables: keys with blanks, quotes, case and range order; a
    // trigger-maintained key (varchar(1)) and a table without rows.
    "CREATE TABLE SITES([PKey] integer not null primary key, [CODE] varchar(10) not null collate nocase,"
    " [CITY] varchar(4), [POP] integer);"
    "CREATE INDEX xSITES_CODE on SITES([CODE], [PKey]);"
    "INSERT INTO SITES VALUES (1,'100','Alpha',10),(2,'200 ','Beta Long',-3),(3,' O''B','Quote',NULL),"
    " (4,'abc',NULL,7),(5,'','Empty',0);"
    "CREATE TABLE TRIG([PKey] integer not null primary key, [KEYCOL] varchar(1), [NAME] varchar(10));"
    "INSERT INTO TRIG VALUES (1,'123    ','padded'),(2,'1234567','full');"
    "CREATE TABLE NOROWS([PKey] integer not null primary key, [KEYCOL] varchar(1));"
    "INSERT INTO RL_LookupTables(TableName,RecCount) VALUES ('SITES',5),('TRIG',2),('NOROWS',0);";

char scratch[] = "/tmp/quelt-run-fuzz-XXXXXX";
sqlite3* raw = nullptr;
sqlite3_stmt* store = nullptr;
int handle = -1;

void close_metafile() {
  sqlite3_finalize(store);
  sqlite3_close(raw);
  Shutdown();
  std::filesystem::remove_all(scratch);
}

void open_metafile() {
  if (mkdtemp(scratch) == nullptr) abort();
  std::string path = std::string(scratch) + "/run.smf";
  if (Edit_CreateNewMetafile(path.c_str()) != 0) abort();
  if (sqlite3_open(path.c_str(), &raw) != SQLITE_OK || sqlite3_exec(raw, kSetup, nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(raw, "UPDATE RL_Edits SET CompiledLogic = ? WHERE PKey = 1;", -1, &store, nullptr) != SQLITE_OK)
    abort();
  int versionCompare = 0;
  char message[256];
  if (Edit_Initialize(&handle, path.c_str(), message, sizeof message, &versionCompare) != 0) abort();
  atexit(close_metafile);
}

int ignore_message(void*, const char*, const char*, const char*, const char*, const char*) { return 0; }
int ignore_line(void*, int, int, const char*) { return 0; }
int ignore_variable(void*, int, int, const char*, const char*, int) { return 0; }
int ignore_field(void*, const char*) { return 0; }

template <typename Function>
void* fn(Function* function) {
  return reinterpret_cast<void*>(function);
}

// A failing call must say why.
void check(int result) {
  int errors = 0;
  if (result != 0 && (result != -1 || Edit_GetEngineErrorsCount(handle, &errors) != 0 || errors < 1)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (handle < 0) open_metafile();
  std::string input(reinterpret_cast<const char*>(data), size);
  input = input.substr(0, input.find('\0'));
  size_t newline = input.find('\n');
  std::string record = input.substr(0, newline);
  std::string logic = newline == std::string::npos ? std::string() : input.substr(newline + 1);
  sqlite3_reset(store);
  sqlite3_bind_text(store, 1, logic.c_str(), static_cast<int>(logic.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(store) != SQLITE_DONE) abort();
  // A loaded edit keeps its logic: the set is loaded afresh for every input.
  check(Edit_UnloadEditSet(handle, "FS", "L1"));
  int failed = 0;
  int owner = 0;
  check(Edit_RunEdits(handle, "FS", "L1", record.c_str(), 0x80, &failed, &owner, fn(ignore_message)));
  check(Edit_RunEdits(handle, "FS", "L1", record.c_str(), 0x3, &failed, &owner, fn(ignore_message)));
  check(Edit_DebugEdit(handle, "F1", "L1", record.c_str(), &owner, fn(ignore_line), fn(ignore_variable),
                       fn(ignore_field), fn(ignore_message)));
  return 0;
}
