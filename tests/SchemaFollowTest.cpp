// The table model of an open handle follows the schema as the file holds it
// while other connections re-make, retype, restructure or add tables: rows
// read and looked up, restructures, recompilation and posts see the tables
// of the file; the model never changes under a callback that walks it.
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
