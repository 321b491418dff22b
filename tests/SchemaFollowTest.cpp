// The table model of an open handle follows the schema as the file holds it
// while other connections re-make, retype, restructure or add tables: rows
// read and looked up, restructures, recompilation and posts see the tables
// of the file; the model never changes under a callback that walks it; a
// debugging run's lookup checks the schema in the read of its statement, even
// when another connection changes the table between the two (a VFS shim puts
// the change there).
#include <chrono>
#include <functional>
#include <thread>

#include "AuthoringTestSupport.h"
#include "RunTestSupport.h"

namespace {

// LT and NUMS are lookup tables; TT's Stamp is kept by its trigger.
const char* const kTables =
    "CREATE TABLE LT([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5), [Label] varchar(5));"
    "CREATE INDEX xLT_Code ON LT([Code], [PKey]); INSERT INTO LT VALUES (1, 'C1', 'L1');"
    "CREATE TABLE NUMS([PKey] integer NOT NULL PRIMARY KEY, [Num] integer); INSERT INTO NUMS VALUES (1, 1);"
    "CREATE TABLE TT([PKey] integer NOT NULL PRIMARY KEY, [Key] varchar(5), [Stamp] varchar(10));"
    "CREATE TRIGGER _TT_old AFTER UPDATE ON [TT] BEGIN UPDATE [TT] SET [Stamp] = 'old' WHERE PKey = new.PKey; END;"
    "INSERT INTO TT(PKey, [Key]) VALUES (1, 'k1'); UPDATE TT SET [Key] = [Key];"
    "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'LT', 1), (2, 'NUMS', 1), (3, 'TT', 1);";

// Another connection re-makes LT with its columns in another order.
const char* const kLabelFirst =
    "CREATE TABLE LT_new([PKey] integer NOT NULL PRIMARY KEY, [Label] varchar(5), [Code] varchar(5));"
    "INSERT INTO LT_new(PKey, Label, Code) SELECT PKey, Label, Code FROM LT; DROP TABLE LT;"
    "ALTER TABLE LT_new RENAME TO LT; CREATE INDEX xLT_Code ON LT([Code], [PKey]);";
// ... and retypes NUMS.Num from integer to text.
const char* const kNumAsText =
    "CREATE TABLE NUMS_new([PKey] integer NOT NULL PRIMARY KEY, [Num] varchar(5));"
    "INSERT INTO NUMS_new SELECT * FROM NUMS; DROP TABLE NUMS; ALTER TABLE NUMS_new RENAME TO NUMS;";

// An edit that looks C1 up in LT with the built-in and fails with "code/label".
std::string shown_by(const std::string& builtin) {
  return "char code[1], label[1], shown[12];\nint found;\nfound = " + builtin +
         "(\"C1\", \"LT.CODE\");\nstrcpy(shown, code);\nstrcat(shown, \"/\");\nstrcat(shown, label);\n"
         "error_text(shown);\nreturn FAIL;";
}

int ignore_line(void*, int, int, const char*) { return 0; }

class SchemaFollow : public RunTest {
 protected:
  SchemaFollow() : RunTest(kTables) {}
  Rows read_row(const char* table) {
    Rows row;
    EXPECT_EQ(0, Edit_ReadData(h(), table, 1, &row, collector<ReadDataCallback>()));
    return row;
  }
  std::string compiled(const char* tag) {
    return value(std::string("SELECT CompiledLogic FROM RL_Edits WHERE EditTag = '") + tag + "'");
  }
  // Another handle makes lookup table NEWT and an edit E1 of that logic that
  // looks it up, and compiles it; the compiled text.
  std::string made_elsewhere(const char* logic) {
    OtherHandle other(path());
    int o = other.handle(), pkey = 0;
    EXPECT_EQ(0, Qb_DefineTableStructure(o, "NEWT", 0));
    EXPECT_EQ(0, Qb_AddColumnDef(o, "Code", nullptr, 0, 5, 1, 0, nullptr, nullptr, nullptr, nullptr, 1));
    EXPECT_EQ(0, Qb_CreateTable(o, &pkey));
    EXPECT_LT(0, insert_row(o, "RL_Edits", {{"EditTag", "E1"}, {"EditName", "E1"}, {"EditLogic", logic}}));
    EXPECT_EQ(0, Edit_RecompileEditLogic(o, "E1"));
    return compiled("E1");
  }
};

}  // namespace

TEST_F(SchemaFollow, RowsAreReadByTheColumnsTheFileHolds) {
  EXPECT_EQ((Rows{"LT|1|1|PKey|integer|1", "LT|1|2|Code|varchar(5)|C1", "LT|1|3|Label|varchar(5)|L1"}), read_row("LT"));
  exec(kLabelFirst);
  EXPECT_EQ((Rows{"LT|1|1|PKey|integer|1", "LT|1|2|Label|varchar(5)|L1", "LT|1|3|Code|varchar(5)|C1"}), read_row("LT"));
  exec("ALTER TABLE LT DROP COLUMN Label;");
  EXPECT_EQ((Rows{"LT|1|1|PKey|integer|1", "LT|1|2|Code|varchar(5)|C1"}), read_row("LT"));

  // The row kept for reads by column goes with its table's old columns.
  char value[8] = "";
  ASSERT_EQ(0, Edit_GetDataByColumnOrder(h(), "LT", 1, 2, value, sizeof value));
  exec("ALTER TABLE LT ADD COLUMN Extra varchar(5) DEFAULT 'E1';");
  EXPECT_EQ(Rows{"0"}, outcome(h(), Edit_GetDataByColumnOrder(h(), "LT", 1, 3, value, sizeof value)));
  EXPECT_STREQ("E1", value);
  exec("ALTER TABLE LT RENAME COLUMN Code TO Kode;");
  EXPECT_EQ(Rows{"0"}, outcome(h(), Edit_GetDataByFieldName(h(), "LT", 1, "Kode", value, sizeof value)));
  EXPECT_STREQ("C1", value);
}

// Runs keep their lookup statements from run to run, inside the host's
// transaction or not, and debugging runs look up as runs do.
TEST_F(SchemaFollow, LookupsFindAndCopyRowsByTheColumnsTheFileHolds) {
  add_edit("LK", "Lookup", shown_by("lookup"), {}, 101);
  add_edit("RK", "Range", shown_by("rlookup"), {}, 101);
  add_to_set("SL", "LK");
  add_to_set("SL", "RK");
  const Rows found{"LK|Lookup|NAACCR|E|C1/L1", "RK|Range|NAACCR|E|C1/L1"};
  EXPECT_EQ(found, run("", 0, "SL").messages);
  exec(kLabelFirst);
  Rows debugged;
  EXPECT_EQ(0, Edit_DebugEdit(h(), "RK", "L1", "", &debugged, fn(ignore_line), nullptr, nullptr,
                              fn(collect_message)));
  EXPECT_EQ(Rows{found.back()}, debugged);
  EXPECT_EQ(found, run("", 0, "SL").messages);
  // Inside the host's transaction too, every run reads the file anew.
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  EXPECT_EQ(found, run("", 0, "SL").messages);
  ASSERT_EQ(0, Qb_CommitTrans(h()));
  exec("ALTER TABLE LT DROP COLUMN Label;");
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  EXPECT_EQ((Rows{"LK|Lookup|NAACCR|E|C1/", "RK|Range|NAACCR|E|C1/"}), run("", 0, "SL").messages);
  ASSERT_EQ(0, Qb_CommitTrans(h()));
}

// A restructure re-makes the triggers the file holds when its write begins.
TEST_F(SchemaFollow, ARestructureKeepsTheTriggersAnotherConnectionMade) {
  exec("DROP TRIGGER _TT_old; CREATE TRIGGER _TT_new AFTER UPDATE ON [TT] BEGIN UPDATE [TT] SET [Stamp] = 'new' "
       "WHERE PKey = new.PKey; END;");
  ASSERT_EQ(0, Qb_DefineTableStructure(h(), "TT", 1));
  ASSERT_EQ(0, Qb_AddColumnDef(h(), "Key", "Key", 0, 5, 1, 0, nullptr, nullptr, nullptr, nullptr, 0));
  ASSERT_EQ(0, Qb_AddColumnDef(h(), "Stamp", "Stamp", 0, 10, 1, 1, nullptr, nullptr, nullptr, nullptr, 0));
  int pkey = 0;
  EXPECT_EQ(Rows{"0"}, outcome(h(), Qb_CreateTable(h(), &pkey)));
  EXPECT_EQ(Rows{"_TT_new"}, rows("SELECT name FROM sqlite_master WHERE type = 'trigger' AND tbl_name = 'TT'"));
  EXPECT_EQ(Rows{"1|k1|new"}, rows("SELECT * FROM TT"));
}

// A compiled logic that compiles is never emptied because the handle
// recompiling it opened before its lookup table was made.
TEST_F(SchemaFollow, AnOlderHandleRecompilesLogicThatLooksUpATableMadeElsewhere) {
  std::string written = made_elsewhere("if (lookup(\"x\", \"NEWT.CODE\")) return PASS;\nreturn FAIL;");
  ASSERT_NE("", written);
  EXPECT_EQ(Rows{"0"}, outcome(h(), Edit_RecompileEditLogic(h(), "E1")));
  EXPECT_EQ(written, compiled("E1"));
}

TEST_F(SchemaFollow, AFieldRenamePostedOnAnOlderHandleRecompilesLogicThatLooksUpATableMadeElsewhere) {
  ASSERT_NE("", made_elsewhere("if (lookup(#S\"Site\", \"NEWT.CODE\")) return PASS;\nreturn FAIL;"));
  EXPECT_EQ(0, edit_row(h(), "RL_Fields", 4, {{"FieldName", "Place"}}));
  std::string renamed = compiled("E1");
  EXPECT_NE("", renamed);
  OtherHandle fresh(path());
  EXPECT_EQ(0, Edit_RecompileEditLogic(fresh.handle(), "E1"));
  EXPECT_EQ(renamed, compiled("E1"));
}

TEST_F(SchemaFollow, AValueIsPostedAsTheColumnIsNowTyped) {
  exec(kNumAsText);
  EXPECT_EQ(0, edit_row(h(), "NUMS", 1, {{"Num", "007"}}));
  EXPECT_EQ("007|text", value("SELECT Num || '|' || typeof(Num) FROM NUMS"));
}

namespace {

// Runs the write on another thread while a second connection holds the write
// lock, then has that connection make its change and commit: the write, which
// followed the model on entry, meets the change once it holds the lock.
void change_while_waiting(const std::string& path, const std::string& change, const std::function<void()>& write) {
  RawDB other(path);
  ASSERT_EQ(SQLITE_OK, other.exec("BEGIN IMMEDIATE"));
  std::thread writing(write);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(SQLITE_OK, other.exec(change + "COMMIT;"));
  writing.join();
}

}  // namespace

TEST_F(SchemaFollow, WritesFollowChangesMadeWhileTheyWaitForTheLock) {
  ASSERT_EQ(0, Qb_Edit(h(), "NUMS", 1));
  ASSERT_EQ(0, Qb_SetFieldByName(h(), "NUMS", "Num", "007"));
  Rows posted;
  change_while_waiting(path(), kNumAsText, [&] {
    int pkey = 0;
    posted = outcome(h(), Qb_Post(h(), "NUMS", &pkey));
  });
  EXPECT_EQ((Rows{"-1", writer_error("post_edit", "Table named \"NUMS\" is NOT in insert or edit mode; cannot post")}),
            posted);
  EXPECT_EQ("1|text", value("SELECT Num || '|' || typeof(Num) FROM NUMS"));

  ASSERT_LT(0, insert_row(h(), "RL_Edits", {{"EditTag", "E1"}, {"EditName", "E1"},
                                            {"EditLogic", "if (lookup(\"x\", \"NEWT.CODE\")) return PASS;\nreturn FAIL;"}}));
  Rows recompiled;
  change_while_waiting(path(),
                       "CREATE TABLE NEWT([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5));"
                       "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (4, 'NEWT', 0);",
                       [&] { recompiled = outcome(h(), Edit_RecompileEditLogic(h(), "E1")); });
  std::string written = compiled("E1");
  OtherHandle fresh(path());
  EXPECT_EQ(recompiled, outcome(fresh.handle(), Edit_RecompileEditLogic(fresh.handle(), "E1")));  // -3: no index on CODE
  EXPECT_NE("", written);
  EXPECT_EQ(written, compiled("E1"));
}

// Only the tables another connection changed are read again: a row being
// edited in a table it did not change stays in the buffer.
TEST_F(SchemaFollow, ARowBufferOfATableNobodyChangedSurvives) {
  ASSERT_EQ(0, Qb_Edit(h(), "LT", 1));
  ASSERT_EQ(0, Qb_SetFieldByName(h(), "LT", "Label", "X1"));
  exec(kNumAsText);
  EXPECT_EQ(Rows{"0"}, outcome(h(), Qb_SetFieldByName(h(), "LT", "Code", "X2")));
  int pkey = 0;
  EXPECT_EQ(Rows{"0"}, outcome(h(), Qb_Post(h(), "LT", &pkey)));
  EXPECT_EQ(Rows{"1|X2|X1"}, rows("SELECT * FROM LT"));
  EXPECT_EQ((Rows{"NUMS|1|1|PKey|integer|1", "NUMS|1|2|Num|varchar(5)|1"}), read_row("NUMS"));
}

namespace {

// A run's message callback in which another connection re-makes LT, once,
// a write of the host's fails, and the host then asks the handle for LT's columns.
struct TChangeInCallback {
  int Handle;
  std::string Path;
  Rows Seen;
};

int change_and_ask(void* owner, const char*, const char*, const char*, const char*, const char* text) {
  auto* seen = static_cast<TChangeInCallback*>(owner);
  seen->Seen.push_back(text);
  if (seen->Seen.size() > 1) return 0;
  EXPECT_EQ(SQLITE_OK, RawDB(seen->Path).exec(kLabelFirst));
  // A write that fails and is undone leaves the model to be read where it may.
  EXPECT_EQ(-1, Qb_AddLayoutsPivot(seen->Handle, 1, 999, 1));
  int count = -1;
  for (const std::string& answer : outcome(seen->Handle, Edit_GetColumnsCount(seen->Handle, "LT", &count)))
    seen->Seen.push_back(answer);
  return 0;
}

}  // namespace

// The model that a run walks is never replaced from its callbacks: a call that
// would need it replaced is refused. The run's next lookup follows the file.
TEST_F(SchemaFollow, TheModelNeverChangesUnderACallbackThatWalksIt) {
  add_edit("LK", "Lookup", shown_by("lookup"), {}, 101);
  add_edit("RK", "Range", shown_by("rlookup"), {}, 101);
  add_to_set("SL", "LK");
  add_to_set("SL", "RK");
  TChangeInCallback seen{h(), path(), {}};
  int failed = 0;
  EXPECT_EQ(0, Edit_RunEdits(h(), "SL", "L1", "", 0, &failed, &seen, fn(change_and_ask)));
  EXPECT_EQ((Rows{"C1/L1", "-1",
                  tsmf_error("GetColumnsCount",
                             "Not allowed from a callback while a run of edits is under way on this metafile"),
                  "C1/L1"}),
            seen.Seen);
  EXPECT_EQ((Rows{"LT|1|1|PKey|integer|1", "LT|1|2|Label|varchar(5)|L1", "LT|1|3|Code|varchar(5)|C1"}), read_row("LT"));
}

namespace {

// A VFS shim that lets a test put another connection's change between two
// statements of the library that no callback separates. Registered as the
// default VFS, it opens every file through "unix"; on a main database file it
// swaps in a copy of unix's methods whose xUnlock, once a hook is armed, runs
// the hook once, right after the file has dropped to no lock. The library
// opens its files with the default VFS, so a handle opened while the shim is
// registered drops its locks through it; a connection opened with "unix" by
// name (as the hook's own must be) passes it by. One shim at a time; it is
// unregistered when it goes, after the handles that use it have closed.
class TUnlockShim {
 public:
  TUnlockShim() : Real(sqlite3_vfs_find("unix")), Vfs(*Real) {
    Vfs.zName = "quelt-test-unlock-shim";
    Vfs.xOpen = &open;
    Current = this;
    EXPECT_EQ(SQLITE_OK, sqlite3_vfs_register(&Vfs, 1));
  }
  ~TUnlockShim() {
    sqlite3_vfs_unregister(&Vfs);
    Current = nullptr;
  }
  TUnlockShim(const TUnlockShim&) = delete;
  TUnlockShim& operator=(const TUnlockShim&) = delete;

  void Arm(std::function<void()> hook) { Hook = std::move(hook); }
  int Fired() const { return FiredCount; }

 private:
  static int open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    TUnlockShim& shim = *Current;
    int rc = shim.Real->xOpen(shim.Real, name, file, flags, outFlags);
    if (rc != SQLITE_OK || (flags & SQLITE_OPEN_MAIN_DB) == 0 || file->pMethods == nullptr) return rc;
    if (shim.RealMethods == nullptr) {
      shim.RealMethods = file->pMethods;
      shim.Methods = *file->pMethods;
      shim.Methods.xUnlock = &unlock;
    }
    // The file stays unix's own: only its table of methods is the shim's.
    if (file->pMethods == shim.RealMethods) file->pMethods = &shim.Methods;
    return rc;
  }
  static int unlock(sqlite3_file* file, int lock) {
    TUnlockShim& shim = *Current;
    int rc = shim.RealMethods->xUnlock(file, lock);
    if (rc == SQLITE_OK && lock == SQLITE_LOCK_NONE && shim.Hook) {
      std::function<void()> hook = std::move(shim.Hook);
      shim.Hook = nullptr;
      ++shim.FiredCount;
      hook();
    }
    return rc;
  }

  static TUnlockShim* Current;
  sqlite3_vfs* Real;
  sqlite3_vfs Vfs;
  const sqlite3_io_methods* RealMethods = nullptr;
  sqlite3_io_methods Methods{};
  std::function<void()> Hook;
  int FiredCount = 0;
};

TUnlockShim* TUnlockShim::Current = nullptr;

// LT re-made with its columns in the order of the fixture.
const char* const kCodeFirst =
    "CREATE TABLE LT_new([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5), [Label] varchar(5));"
    "INSERT INTO LT_new(PKey, Code, Label) SELECT PKey, Code, Label FROM LT; DROP TABLE LT;"
    "ALTER TABLE LT_new RENAME TO LT; CREATE INDEX xLT_Code ON LT([Code], [PKey]);";

// A debugging run whose first field callback arms the shim: the next time the
// library's connection drops its lock, another connection re-makes LT with
// its columns in another order.
struct TRacedDebugging {
  TUnlockShim* Shim;
  std::string Path;
  Rows Calls;
};

int arm_at_field(void* owner, const char* text) {
  auto* raced = static_cast<TRacedDebugging*>(owner);
  raced->Calls.push_back(std::string("field|") + text);
  raced->Shim->Arm([path = raced->Path] {
    sqlite3* other = nullptr;
    EXPECT_EQ(SQLITE_OK, sqlite3_open_v2(path.c_str(), &other, SQLITE_OPEN_READWRITE, "unix"));
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(other, kLabelFirst, nullptr, nullptr, nullptr));
    sqlite3_close(other);
  });
  return 0;
}
int raced_line(void* owner, int line, int executed, const char* logic) {
  return collect(&static_cast<TRacedDebugging*>(owner)->Calls, "line", line, executed, logic);
}
int raced_message(void* owner, const char* tag, const char*, const char*, const char* type, const char* text) {
  return collect(&static_cast<TRacedDebugging*>(owner)->Calls, "message", tag, type, text);
}

}  // namespace

// A debugging run's lookup checks the schema and runs its statement in one
// read, as a run's does: another connection that re-makes the table once the
// library's connection holds no lock (here at the first moment it does after
// the run has begun) changes nothing that the lookup finds or copies.
TEST_F(SchemaFollow, ADebuggingRunsLookupChecksTheSchemaInTheReadOfItsStatement) {
  add_edit("LK", "Lookup", shown_by("lookup"), {2}, 101);
  add_edit("RK", "Range", shown_by("rlookup"), {2}, 101);
  TUnlockShim shim;
  {  // the handle closes before the shim goes
    OtherHandle debugger(path());  // opened through the shim
    int d = debugger.handle();
    for (const char* builtin : {"lookup", "rlookup"}) {
      const std::string tag = builtin[0] == 'l' ? "LK" : "RK";
      exec(kCodeFirst);
      ASSERT_EQ(3, out_int(Edit_GetColumnsCount, d, "LT"));  // the model is the file's when the run begins
      TRacedDebugging raced{&shim, path(), {}};
      int fired = shim.Fired();
      EXPECT_EQ(Rows{"0"}, outcome(d, Edit_DebugEdit(d, tag.c_str(), "L1", "1 45", &raced, fn(raced_line), nullptr,
                                                      fn(arm_at_field), fn(raced_message))));
      EXPECT_EQ(fired + 1, shim.Fired());
      EXPECT_EQ((Rows{"field|Age ==  45", "message|" + tag + "|E|C1/L1",
                      "line|1|1|char code[1], label[1], shown[12];", "line|2|1|int found;",
                      "line|3|1|found = " + std::string(builtin) + "(\"C1\", \"LT.CODE\");",
                      "line|4|1|strcpy(shown, code);", "line|5|1|strcat(shown, \"/\");", "line|6|1|strcat(shown, label);",
                      "line|7|1|error_text(shown);", "line|8|1|return FAIL;"}),
                raced.Calls)
          << builtin;
      EXPECT_EQ("PKey|Label|Code", value("SELECT group_concat(name, '|') FROM pragma_table_info('LT')"));
    }
  }
}
