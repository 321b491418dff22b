// Calls into the library from inside its own callbacks, every export that calls back with each kind of
// call, and the export boundary that lets no exception out.
#include <cstdlib>
#include <new>

#include "RunTestSupport.h"

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
    "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'Zip', 0);";
const char* const kRecord = "M045198001011234NOTES ";
const char* const kWalkedCursor = "walked";
const char* const kRefusal =
    "Not allowed from a callback while a run of edits, a summary, a debugging run or a listing of import candidates "
    "is under way on this metafile";

// What one callback-delivering call saw, and what the call made from each of
// its callbacks answered ("result|engine errors").
struct TProbe {
  int Handle;
  int (*Inner)(int handle);
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
    if (seen->Inner == nullptr) return 0;
    std::string answer = std::to_string(seen->Inner(seen->Handle));
    for (const std::string& error : engine_errors(seen->Handle)) answer += "|" + error;
    seen->Answers.push_back(answer);
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

struct TOuter {
  const char* Name;
  bool WalksCursor;
  int (*Call)(int handle, TProbe* probe);
};

// Out-values of the calls below, which nothing reads.
int totals[5], failed, pkey;
const TOuter kOuters[] = {
    {"GetPKeys", false,
     [](int h, TProbe* p) { return Edit_GetPKeys(h, "RL_Fields", "", p, probe<PKeyCallback>()); }},
    {"CheckEditSetAgainstLayout", false,
     [](int h, TProbe* p) { return Edit_CheckEditSetAgainstLayout(h, 1, 2, p, probe<LayoutGapCallback>()); }},
    {"GetTableNames", false, [](int h, TProbe* p) { return Edit_GetTableNames(h, p, probe<TableNameCallback>()); }},
    {"GetTableStructure", false,
     [](int h, TProbe* p) { return Edit_GetTableStructure(h, "RL_LookupTables", p, probe<TableStructureCallback>()); }},
    {"ReadData", false, [](int h, TProbe* p) { return Edit_ReadData(h, "RL_Fields", 1, p, kRowProbe); }},
    {"ReadCursorData", true, [](int h, TProbe* p) { return Edit_ReadCursorData(h, kWalkedCursor, p, kRowProbe); }},
    {"DisplayDataRecordByTag", false,
     [](int h, TProbe* p) { return Edit_DisplayDataRecordByTag(h, "L1", p, kFieldProbe); }},
    {"DisplayDataRecordByName", false,
     [](int h, TProbe* p) { return Edit_DisplayDataRecordByName(h, "Main layout", p, kFieldProbe); }},
    {"GetRunEditsSummary", false, [](int h, TProbe* p) {
       return Edit_GetRunEditsSummary(h, "ES1", "L1", 1, &totals[0], &totals[1], &totals[2], &totals[3], &totals[4], p,
                                      probe<RunSummaryCallback>());
     }},
    {"RunEdits", false,
     [](int h, TProbe* p) { return Edit_RunEdits(h, "ES1", "L1", kRecord, 0, &failed, p, probe<MessageCallback>()); }},
    {"GetEditDetails", false,
     [](int h, TProbe* p) { return Edit_RunEdits(h, "ES1", "L1", kRecord, 0, &failed, p, fn(details_of_message)); }},
    {"DebugEdit", false, [](int h, TProbe* p) {
       return Edit_DebugEdit(h, "ED", "L1", kRecord, p, probe<DebugLineCallback>(), nullptr,
                             probe<DebugFieldCallback>(), nullptr);
     }},
    {"GetImportCandidates", false,
     [](int h, TProbe* p) { return Qb_GetImportCandidates(h, "RL_Fields", "", p, probe<ImportCandidateCallback>()); }},
};

struct TInner {
  const char* Name;
  int (*Call)(int handle);
  const char* RefusedAs;  // the method that records the refusal; null when the call is allowed
  bool OnlyWhileWalked;   // refused only from a callback that walks the cursor
};

// Reading calls, two of them delivering callbacks of their own. Edit details
// answer only inside a run: what counts is that the calling export goes on.
int reads(int h) {
  int count = 0;
  char value[20];
  Rows seen;
  Edit_GetEditDetails(h, "EB", &seen, collector<FieldDetailCallback>());
  int result = Edit_GetTablesCount(h, &count);
  result |= Edit_GetTableStructure(h, "RL_Fields", &seen, collector<TableStructureCallback>());
  result |= Edit_GetDataByFieldName(h, "RL_Fields", 1, "FieldName", value, sizeof value);
  return result | Edit_GetCursorDataByNumber(h, kWalkedCursor, 2, value, sizeof value);
}

const TInner kInners[] = {
    {"Exit", [](int h) { return Edit_Exit(h); }, "Exit", false},
    {"UnloadEditSet", [](int h) { return Edit_UnloadEditSet(h, "ES1", "L1"); }, "UnloadEditSet", false},
    {"LoadEditSet", [](int h) { return Edit_LoadEditSet(h, "ES1", "L2"); }, nullptr, false},
    {"Delete a lookup table", [](int h) { return Qb_Delete(h, "RL_LookupTables", 1); }, "Delete", false},
    {"Post a lookup table's rename", [](int h) { return Qb_Post(h, "RL_LookupTables", &pkey); }, "Post", false},
    {"CreateTable", [](int h) { return Qb_CreateTable(h, &pkey); }, "CreateTable", false},
    {"RollbackTrans", [](int h) { return Qb_RollbackTrans(h); }, "RollbackTrans", false},
    {"CloseCursor", [](int h) {
       int closed = Edit_CloseCursor(h, kWalkedCursor);
       return closed != 0 ? closed : Edit_OpenCursor(h, kWalkedCursor, "SELECT PKey, FieldName FROM RL_Fields");
     },
     "CloseCursor", true},
    {"RunEdits", [](int h) { return Edit_RunEdits(h, "ES1", "L1", "1", 0, &failed, nullptr, nullptr); }, "RunEdits",
     false},
    {"UpdateRecordByTag", [](int h) { return Edit_UpdateRecordByTag(h, "L1", "2"); }, "UpdateRecordByTag", false},
    {"CloseImportMetafile", [](int h) { return Qb_CloseImportMetafile(h); }, "CloseImportMetafile", false},
    {"reads", reads, nullptr, false},
};

class Reentry : public RunTest {
 protected:
  Reentry() : RunTest(kReentrySetup) {}
  void SetUp() override {
    add_edit("EB", "b check", "return FAIL;", {2}, 101);
    add_edit("EA", "A check", "return FAIL;", {1}, 101);
    add_edit("ED", "d check", "int x;\r\nx = 1;\r\nreturn PASS;", {3, 4});
    for (const char* tag : {"EB", "EA", "ED"}) add_to_set("ES1", tag);
    std::string source = File.other("source.smf",
                                    "INSERT INTO RL_Fields(PKey, FieldNumber, FieldName, LocalName, FieldLength) "
                                    "VALUES (1, 7, 'Seven', 'S7', 2), (2, 8, 'Eight', 'S8', 2);");
    ASSERT_EQ(0, Qb_OpenImportMetafile(h(), source.c_str()));
    ASSERT_EQ(0, run(kRecord).result);  // loads the pair and the record
    ASSERT_EQ(0, Edit_OpenCursor(h(), kWalkedCursor, "SELECT PKey, FieldName FROM RL_Fields"));
    ASSERT_EQ(0, Qb_Edit(h(), "RL_LookupTables", 1));
    ASSERT_EQ(0, Qb_SetFieldByName(h(), "RL_LookupTables", "TableName", "Zap"));
    ASSERT_EQ(0, Qb_DefineTableStructure(h(), "Fresh", 0));
    ASSERT_EQ(0, Qb_AddColumnDef(h(), "Code", nullptr, 0, 5, 1, 0, nullptr, nullptr, nullptr, nullptr, 0));
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
// replace what it walks is refused; every other call works; the export
// delivers the same callbacks and result as without the call.
TEST_F(Reentry, CallsFromEveryCallback) {
  for (const TOuter& outer : kOuters) {
    for (const TInner& inner : kInners) {
      SCOPED_TRACE(std::string(outer.Name) + " calling " + inner.Name);
      TProbe plain{h(), nullptr, {}, {}}, reentered{h(), inner.Call, {}, {}};
      int expected = outer.Call(h(), &plain);
      EXPECT_EQ(expected, outer.Call(h(), &reentered));
      EXPECT_EQ(plain.Delivered, reentered.Delivered);
      ASSERT_FALSE(reentered.Answers.empty());
      bool refused = inner.RefusedAs != nullptr && (!inner.OnlyWhileWalked || outer.WalksCursor);
      std::string answer = refused ? "-1|" + tsmf_error(inner.RefusedAs, kRefusal) : "0";
      EXPECT_EQ(Rows(reentered.Answers.size(), answer), reentered.Answers);
    }
  }
  // The rename and the definition waited.
  ASSERT_EQ(0, Edit_CloseCursor(h(), kWalkedCursor));  // its statement would keep the table from being renamed
  EXPECT_EQ(0, Qb_Post(h(), "RL_LookupTables", &pkey));
  EXPECT_EQ(0, Qb_CreateTable(h(), &pkey));
  EXPECT_EQ((Rows{"Fresh", "Zap"}), rows("SELECT TableName FROM RL_LookupTables ORDER BY 1"));
}

// Whatever fails inside, an export answers with its failure code.
TEST_F(Reentry, NoExceptionLeavesAnExport) {
  TProbe exits{h(), [](int h) { return with_failing_allocations([h] { return Edit_Exit(h); }); }, {}, {}};
  EXPECT_EQ(0, Edit_GetTableNames(h(), &exits, probe<TableNameCallback>()));
  EXPECT_EQ(Rows(exits.Delivered.size(), "-1"), exits.Answers);
  EXPECT_EQ(-1, with_failing_allocations([this] { return Edit_GetTablesCount(h(), nullptr); }));
  int handle = 0;
  char message[20] = "";
  EXPECT_EQ(-1, with_failing_allocations([&] { return Edit_Initialize(&handle, nullptr, message, 20, nullptr); }));
  EXPECT_STREQ("std::bad_alloc", message);
  EXPECT_EQ(0, Edit_Exit(h()));
}
