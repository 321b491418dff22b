// Calls into the library from inside its own callbacks, every export that calls back with each kind of
// call, walks that go on while a failed write's undo reads the table model again, and the export
// boundary that lets no exception out.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <new>

#include "AuthoringTestSupport.h"
#include "RunTestSupport.h"
#include "api/EditAPI.h"
#include "api/SMF.h"
#include "storage/SQLDB.h"
#include "storage/WriteScope.h"

namespace {

// While set, every allocation through operator new fails, so that the
// export boundary can be tried with exceptions thrown anywhere inside.
bool gAllocationsFail = false;

// The result of a call made while allocations fail; 99 when an exception left it.
template <typename Call>
int with_failing_allocations(Call call) {
  int result = 99;
  gAllocationsFail = true;
  try {
    result = call();
  } catch (...) {
  }
  gAllocationsFail = false;
  return result;
}

const char* const kReentrySetup =
    "CREATE TABLE Zip([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5));"
    "INSERT INTO Zip VALUES (1, '10001');"
    "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'Zip', 1);";
const char* const kSourceSetup =
    "INSERT INTO RL_Fields(PKey, FieldNumber, FieldName, LocalName, FieldLength) "
    "VALUES (1, 7, 'Seven', 'S7', 2), (2, 8, 'Eight', 'S8', 2);"
    "CREATE TABLE Imp([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5));"
    "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'Imp', 0);";
const char* const kRecord = "M045198001011234NOTES ";
// The cursor that ReadCursorData walks. It reads no table, so that its
// statement keeps no table from being dropped or a database from being detached.
const char* const kWalkedCursor = "walked";
const char* const kWalkedSelect = "SELECT 7 AS PKey, 'Seven' AS FieldName";

std::string refusal(const char* method, const std::string& underWay) {
  return "-1|" + tsmf_error(method, "Not allowed from a callback while " + underWay + " is under way on this metafile");
}

// A call's result and the engine errors it left, "|"-joined.
std::string answer(int h, int result) {
  std::string text = std::to_string(result);
  for (const std::string& error : engine_errors(h)) text += "|" + error;
  return text;
}

// What one callback-delivering call delivered, and what the call made from
// its first callback answered.
struct TProbe {
  int Handle;
  std::string (*Inner)(int handle);
  Rows Delivered;
  Rows Answers;
};

template <typename Callback>
struct Probe;
template <typename... Args>
struct Probe<int (*)(void*, Args...)> {
  static int call(void* owner, Args... args) {
    TProbe* seen = static_cast<TProbe*>(owner);
    collect(&seen->Delivered, args...);
    if (seen->Inner != nullptr && seen->Answers.empty()) seen->Answers.push_back(seen->Inner(seen->Handle));
    return 0;
  }
};

// The probe in the shape of one of the header's callbacks.
template <typename Callback>
void* probe() {
  return fn(&Probe<Callback>::call);
}
void* const kFieldProbe = probe<FieldDetailCallback>();
void* const kRowProbe = probe<ReadDataCallback>();

// Edit details are delivered only from inside a run.
int details_of_message(void* owner, const char* tag, const char*, const char*, const char*, const char*) {
  return Edit_GetEditDetails(static_cast<TProbe*>(owner)->Handle, tag, owner, kFieldProbe);
}

// The calls below that an export refuses from its callbacks, by name, with
// what each refusal names as under way: closing the metafile and the calls
// that unload or reload records; the calls that change tables or the import.
using Refusals = std::map<std::string, std::string>;
const char* const kRecordRefusals[] = {"Exit", "UnloadEditSet", "UpdateRecordByTag", "RunEdits", "DebugEdit"};
const char* const kTableAndImportRefusals[] = {
    "Post a lookup table's rename", "Delete a lookup table", "CreateTable", "CopyLookupTable", "ImportLookupTable",
    "RollbackTrans", "RollbackToSavePoint", "OpenImportMetafile", "CloseImportMetafile"};

template <size_t N>
Refusals refusing(const char* const (&calls)[N], const std::string& underWay, Refusals more = {}) {
  for (const char* call : calls) more.emplace(call, underWay);
  return more;
}
// Runs, summaries, debugging runs and import listings refuse every call that
// frees or replaces anything of the metafile's.
Refusals refusing_all(const std::string& underWay) {
  return refusing(kRecordRefusals, underWay, refusing(kTableAndImportRefusals, underWay));
}

struct TOuter {
  const char* Name;
  Refusals Refused;
  int (*Call)(int handle, TProbe* probe);
};

// Out-values of the calls below, which nothing reads.
int totals[5], failed, pkey;

// Walks that hand over what they copied first refuse only closing the metafile.
const TOuter kOuters[] = {
    {"GetPKeys", {{"Exit", "a listing of primary keys"}},
     [](int h, TProbe* p) { return Edit_GetPKeys(h, "RL_Fields", "", p, probe<PKeyCallback>()); }},
    {"CheckEditSetAgainstLayout", {{"Exit", "a check of an edit set against a layout"}},
     [](int h, TProbe* p) { return Edit_CheckEditSetAgainstLayout(h, 1, 2, p, probe<LayoutGapCallback>()); }},
    {"GetTableNames", {{"Exit", "a listing of table names"}},
     [](int h, TProbe* p) { return Edit_GetTableNames(h, p, probe<TableNameCallback>()); }},
    {"GetTableStructure", {{"Exit", "a listing of a table's structure"}},
     [](int h, TProbe* p) { return Edit_GetTableStructure(h, "Zip", p, probe<TableStructureCallback>()); }},
    {"ReadData", {{"Exit", "a reading of a row"}},
     [](int h, TProbe* p) { return Edit_ReadData(h, "Zip", 1, p, kRowProbe); }},
    {"ReadCursorData", {{"Exit", "a reading of a cursor's row"}},
     [](int h, TProbe* p) { return Edit_ReadCursorData(h, kWalkedCursor, p, kRowProbe); }},
    {"DisplayDataRecordByTag", refusing(kRecordRefusals, "a display of a record"),
     [](int h, TProbe* p) { return Edit_DisplayDataRecordByTag(h, "L1", p, kFieldProbe); }},
    {"DisplayDataRecordByName", refusing(kRecordRefusals, "a display of a record"),
     [](int h, TProbe* p) { return Edit_DisplayDataRecordByName(h, "Main layout", p, kFieldProbe); }},
    {"GetRunEditsSummary", refusing_all("a run summary"), [](int h, TProbe* p) {
       return Edit_GetRunEditsSummary(h, "ES1", "L1", 1, &totals[0], &totals[1], &totals[2], &totals[3], &totals[4], p,
                                      probe<RunSummaryCallback>());
     }},
    {"RunEdits", refusing_all("a run of edits"),
     [](int h, TProbe* p) { return Edit_RunEdits(h, "ES1", "L1", kRecord, 0, &failed, p, probe<MessageCallback>()); }},
    // The details walk the run's layout; the run beneath them walks the rest.
    {"GetEditDetails",
     refusing(kRecordRefusals, "a listing of an edit's details", refusing(kTableAndImportRefusals, "a run of edits")),
     [](int h, TProbe* p) { return Edit_RunEdits(h, "ES1", "L1", kRecord, 0, &failed, p, fn(details_of_message)); }},
    {"DebugEdit", refusing_all("a debugging run"), [](int h, TProbe* p) {
       return Edit_DebugEdit(h, "ED", "L1", kRecord, p, probe<DebugLineCallback>(), nullptr,
                             probe<DebugFieldCallback>(), nullptr);
     }},
    {"GetImportCandidates", refusing_all("a listing of import candidates"),
     [](int h, TProbe* p) { return Qb_GetImportCandidates(h, "RL_Fields", "", p, probe<ImportCandidateCallback>()); }},
};

std::string gPath, gSource;  // the metafile and the import's source

sqlite3* connection(int h) { return InitCheck(h)->GetSQLDB()->Database(); }

void set_page_limit(int h, const std::string& pages) {
  sqlite3_exec(connection(h), ("PRAGMA max_page_count = " + pages).c_str(), nullptr, nullptr, nullptr);
}

// The main database can grow no further.
void fill_up(int h) {
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(connection(h), "PRAGMA page_count", -1, &statement, nullptr);
  sqlite3_step(statement);
  set_page_limit(h, std::to_string(sqlite3_column_int(statement, 0)));
  sqlite3_finalize(statement);
}

// Defines a lookup table of that name with one column; then creates it.
int define_table(int h, const char* name) {
  if (Qb_DefineTableStructure(h, name, 0) != 0) return -99;
  return Qb_AddColumnDef(h, "Name", nullptr, 0, 20, 1, 0, nullptr, nullptr, nullptr, nullptr, 0);
}
int create_table(int h, const char* name) {
  int created = 0;
  return define_table(h, name) != 0 ? -99 : Qb_CreateTable(h, &created);
}

// Another handle on the file changes Zip behind the model of this one: it
// gains the column Town, or loses it again.
void restructure_elsewhere(int) {
  int other = -1, compare = 0;
  char message[200] = "";
  ASSERT_EQ(0, Edit_Initialize(&other, gPath.c_str(), message, sizeof message, &compare)) << message;
  int columns = out_int(Edit_GetColumnsCount, other, "Zip");
  ASSERT_EQ(0, Qb_DefineTableStructure(other, "Zip", 1));
  ASSERT_EQ(0, Qb_AddColumnDef(other, "Code", "Code", 0, 5, 1, 0, nullptr, nullptr, nullptr, nullptr, 0));
  if (columns == 2) {
    ASSERT_EQ(0, Qb_AddColumnDef(other, "Town", nullptr, 0, 20, 1, 0, nullptr, nullptr, nullptr, nullptr, 0));
  }
  int created = 0;
  ASSERT_EQ(0, Qb_CreateTable(other, &created));
  ASSERT_EQ(0, Edit_Exit(other));
}

// A write that fails, whose undo reads again the tables changed behind the model.
std::string failed_write(int h) { return answer(h, Qb_AddEditSetsPivot(h, 1, 999)); }
// Another connection restructures Zip (as restructure_elsewhere), then a write fails.
std::string restructured_then_failed_write(int h) {
  restructure_elsewhere(h);
  return failed_write(h);
}
const std::string kFailedWrite =
    "-1|" + writer_error("AddEditSetsPivot", "Failure to add Edit Set/Edit pivot record") + "|" +
    writer_error("AddEditSetsPivot", "FOREIGN KEY constraint failed") + "|" +
    writer_error("AddEditSetsPivot", "SQL: INSERT INTO RL_EditSetEditsPivot (EditSetPKey, EditPKey) VALUES (1, 999);");

// A post into a full database, which rolls the host's whole transaction back.
// The answer shows the text posted, which the error list cuts, as "<text>".
std::string full_post(int h) {
  fill_up(h);
  const std::string text(60000, 'x');
  std::string posted = answer(h, edit_row(h, "RL_Messages", 2, {{"Message", text.c_str()}}));
  size_t from = posted.find("xxx"), to = posted.find('|', from);
  return from == std::string::npos ? posted : posted.replace(from, to - from, "<text>");
}
const std::string kFullPost =
    "-1|" + writer_error("post_edit", "database or disk is full") + "|" +
    writer_error("post_edit", "SQL: UPDATE [RL_Messages] SET [Message] = '<text>") + "|" +
    writer_error("post_edit", kHostTransactionLostText);

void begin(int h) { ASSERT_EQ(0, Qb_BeginTrans(h)); }

// A host transaction that has made the table TOWNS.
void towns_made_in_transaction(int h) {
  begin(h);
  ASSERT_EQ(0, create_table(h, "TOWNS"));
}

struct TInner {
  const char* Name;
  std::string (*Call)(int handle);
  void (*Prepare)(int handle) = nullptr;  // before the calls of the export that calls back
  std::string Allowed = "0";              // what the call answers when it is not refused
  const char* Method = nullptr;           // under which a refusal is recorded, when not the name
};

// Reading calls, two of them delivering callbacks of their own. Edit details
// answer only inside a run: what counts is that the calling export goes on.
std::string reads(int h) {
  int count = 0;
  char value[20];
  Rows seen;
  Edit_GetEditDetails(h, "EB", &seen, collector<FieldDetailCallback>());
  int result = Edit_GetTablesCount(h, &count);
  result |= Edit_GetTableStructure(h, "RL_Fields", &seen, collector<TableStructureCallback>());
  result |= Edit_GetDataByFieldName(h, "RL_Fields", 1, "FieldName", value, sizeof value);
  return answer(h, result | Edit_GetCursorDataByNumber(h, kWalkedCursor, 2, value, sizeof value));
}

const TInner kInners[] = {
    {"Exit", [](int h) { return answer(h, Edit_Exit(h)); }},
    {"UnloadEditSet", [](int h) { return answer(h, Edit_UnloadEditSet(h, "ES1", "L1")); }},
    {"LoadEditSet", [](int h) { return answer(h, Edit_LoadEditSet(h, "ES1", "L2")); }},
    {"UpdateRecordByTag", [](int h) { return answer(h, Edit_UpdateRecordByTag(h, "L1", "2")); }},
    {"RunEdits",
     [](int h) {
       Rows messages;
       std::string result = answer(h, Edit_RunEdits(h, "ES1", "L1", "1", 0, &failed, &messages, fn(collect_message)));
       for (const std::string& message : messages) result += "|" + message;
       return result;
     },
     nullptr, "0|EA|A check|NAACCR|E|Check the site|EB|b check|NAACCR|E|Check the site"},
    {"DebugEdit",
     [](int h) {
       Rows lines;
       return answer(h, Edit_DebugEdit(h, "ED", "L1", "1", &lines, collector<DebugLineCallback>(), nullptr, nullptr,
                                       nullptr));
     }},
    {"Post a lookup table's rename", [](int h) { return answer(h, Qb_Post(h, "RL_LookupTables", &pkey)); },
     [](int h) {
       begin(h);
       ASSERT_EQ(0, Qb_Edit(h, "RL_LookupTables", 1));
       ASSERT_EQ(0, Qb_SetFieldByName(h, "RL_LookupTables", "TableName", "Zap"));
     },
     "0", "Post"},
    {"Delete a lookup table", [](int h) { return answer(h, Qb_Delete(h, "RL_LookupTables", 1)); }, begin, "0",
     "Delete"},
    {"CreateTable", [](int h) { return answer(h, Qb_CreateTable(h, &pkey)); },
     [](int h) {
       begin(h);
       ASSERT_EQ(0, define_table(h, "Fresh"));
     }},
    {"CopyLookupTable", [](int h) { return answer(h, Qb_CopyLookupTable(h, "Zip", "Zop", 1)); }, begin, "0",
     "RenameLookupTable"},
    {"ImportLookupTable", [](int h) { return answer(h, Qb_ImportLookupTable(h, "Imp")); }, begin},
    // Dropping a table made since the transaction began frees its definition.
    {"RollbackTrans", [](int h) { return answer(h, Qb_RollbackTrans(h)); },
     [](int h) {
       begin(h);
       ASSERT_EQ(0, create_table(h, "Fresh"));
     }},
    {"RollbackToSavePoint", [](int h) { return answer(h, Qb_RollbackToSavePoint(h, "probe")); },
     [](int h) {
       ASSERT_EQ(0, Qb_SavePoint(h, "probe"));
       ASSERT_EQ(0, create_table(h, "Fresh"));
     }},
    // The import is open: a second opening that is not refused says so.
    {"OpenImportMetafile", [](int h) { return answer(h, Qb_OpenImportMetafile(h, gSource.c_str())); }, nullptr,
     "-1|" + tsmf_error("OpenImportMetafile", "Import Metafile is already running")},
    {"CloseImportMetafile", [](int h) { return answer(h, Qb_CloseImportMetafile(h)); }},
    {"CursorNext and CloseCursor",
     [](int h) {
       int stepped = Edit_CursorNext(h, kWalkedCursor);
       return answer(h, stepped != 0 ? stepped : Edit_CloseCursor(h, kWalkedCursor));
     }},
    {"reads", reads},
    {"A failed write over a table restructured elsewhere", failed_write, restructure_elsewhere, kFailedWrite},
    {"A post into a full database", full_post, towns_made_in_transaction, kFullPost},
};

class Reentry : public RunTest {
 protected:
  Reentry() : RunTest(kReentrySetup) {}
  void SetUp() override {
    add_edit("EB", "b check", "return FAIL;", {2}, 101);
    add_edit("EA", "A check", "return FAIL;", {1}, 101);
    add_edit("ED", "d check", "int x;\r\nx = 1;\r\nreturn PASS;", {3, 4});
    for (const char* tag : {"EB", "EA", "ED"}) add_to_set("ES1", tag);
    gPath = path();
    gSource = File.other("source.smf", kSourceSetup);
    restore();
  }
  // Undoes whatever a call from a callback left: the host's transaction, the
  // full database, the unloaded pair, the loaded record, the closed import
  // and cursor. Each step that finds nothing to undo fails harmlessly.
  void restore() {
    set_page_limit(h(), "1073741823");
    Qb_Cancel(h(), "RL_LookupTables");
    Qb_RollbackTrans(h());
    Qb_OpenImportMetafile(h(), gSource.c_str());
    Edit_OpenCursor(h(), kWalkedCursor, kWalkedSelect);
    ASSERT_EQ(0, run(kRecord).result);  // loads the pair and the record
  }
  Rows table_names() {
    Rows names;
    EXPECT_EQ(0, Edit_GetTableNames(h(), &names, collector<TableNameCallback>()));
    return names;
  }
};

}  // namespace

void* operator new(size_t size) {
  void* block = gAllocationsFail ? nullptr : std::malloc(size != 0 ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return gAllocationsFail ? nullptr : std::malloc(size != 0 ? size : 1);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }

// While an export calls back, a call from its callback that would free or
// replace what it walks is refused, naming what is under way; every other
// call works as it does outside a callback; the export delivers the same
// callbacks and result as without the call.
TEST_F(Reentry, CallsFromEveryCallback) {
  const Rows tables = table_names();
  for (const TOuter& outer : kOuters) {
    for (const TInner& inner : kInners) {
      SCOPED_TRACE(std::string(outer.Name) + " calling " + inner.Name);
      if (inner.Prepare != nullptr) inner.Prepare(h());
      TProbe plain{h(), nullptr, {}, {}}, reentered{h(), inner.Call, {}, {}};
      int expected = outer.Call(h(), &plain);
      int result = outer.Call(h(), &reentered);
      EXPECT_EQ(expected, result);
      EXPECT_EQ(plain.Delivered, reentered.Delivered);
      auto refused = outer.Refused.find(inner.Name);
      const char* method = inner.Method != nullptr ? inner.Method : inner.Name;
      EXPECT_EQ(Rows{refused == outer.Refused.end() ? inner.Allowed : refusal(method, refused->second)},
                reentered.Answers);
      restore();
      // The table model follows every change undone.
      ASSERT_EQ(tables, table_names());
    }
  }
}

namespace {

// A walk whose first callback makes a write, and whose every callback then
// asks the table model for the columns of the table it was given.
struct TWalk {
  int Handle;
  std::string (*Write)(int handle);
  Rows Seen;
};

void see(void* owner, const char* table) {
  TWalk* walk = static_cast<TWalk*>(owner);
  if (walk->Seen.empty()) walk->Seen.push_back(walk->Write(walk->Handle));
  int count = -1;
  int result = Edit_GetColumnsCount(walk->Handle, table, &count);
  walk->Seen.push_back(std::string(table) + " " + answer(walk->Handle, result) + " " + std::to_string(count));
}

int see_name(void* owner, const char* table) {
  see(owner, table);
  return 0;
}
int see_column(void* owner, const char* table, int, const char*, const char*, const char*, int, const char*,
               const char*, const char*) {
  see(owner, table);
  return 0;
}
int see_value(void* owner, const char* table, int, int, const char*, const char*, const char*) {
  see(owner, table);
  return 0;
}

}  // namespace

// The undo of a failed write reads the changed tables again at once: a walk
// delivers what it copied before its first callback, and the calls made from
// its later callbacks find the tables as the file has them.
TEST_F(Reentry, AFailedWriteUnderAWalkRereadsTheModelAtOnce) {
  TWalk row{h(), restructured_then_failed_write, {}};  // Zip gains Town
  EXPECT_EQ(0, Edit_ReadData(h(), "Zip", 1, &row, fn(see_value)));
  EXPECT_EQ((Rows{kFailedWrite, "Zip 0 3", "Zip 0 3"}), row.Seen);

  TWalk structure{h(), restructured_then_failed_write, {}};  // and loses it again
  EXPECT_EQ(0, Edit_GetTableStructure(h(), "Zip", &structure, fn(see_column)));
  EXPECT_EQ((Rows{kFailedWrite, "Zip 0 2", "Zip 0 2", "Zip 0 2"}), structure.Seen);

  towns_made_in_transaction(h());
  TWalk names{h(), full_post, {}};
  EXPECT_EQ(0, Edit_GetTableNames(h(), &names, fn(see_name)));
  EXPECT_EQ(kFullPost, names.Seen.front());
  const std::string gone = "TOWNS -1|" + tsmf_error("GetColumnsCount", "Cannot find table named \"TOWNS\"") + " -1";
  EXPECT_NE(names.Seen.end(), std::find(names.Seen.begin(), names.Seen.end(), gone));
  EXPECT_EQ(-1, Qb_CommitTrans(h()));  // the database ended the transaction
}

// Whatever fails inside, an export answers with its failure code.
TEST_F(Reentry, NoExceptionLeavesAnExport) {
  TProbe exits{h(), [](int h) { return std::to_string(with_failing_allocations([h] { return Edit_Exit(h); })); },
               {}, {}};
  EXPECT_EQ(0, Edit_GetTableNames(h(), &exits, probe<TableNameCallback>()));
  EXPECT_EQ(Rows{"-1"}, exits.Answers);
  EXPECT_EQ(-1, with_failing_allocations([this] { return Edit_GetTablesCount(h(), nullptr); }));
  int handle = 0;
  char message[20] = "";
  EXPECT_EQ(-1, with_failing_allocations([&] { return Edit_Initialize(&handle, nullptr, message, 20, nullptr); }));
  EXPECT_STREQ("std::bad_alloc", message);
  EXPECT_EQ(0, Edit_Exit(h()));
}
