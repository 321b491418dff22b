// Host transactions and savepoints, and writes of several statements inside and outside them: refusals,
// nesting, other connections' locks, a full database, a transaction the database ends itself.
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "AuthoringTestSupport.h"
#include "RunTestSupport.h"
#include "api/EditAPI.h"
#include "api/SMF.h"
#include "storage/SQLDB.h"
#include "storage/WriteScope.h"

namespace {

int add_message(int smf, const char* number) {
  return insert_row(smf, "RL_Messages", {{"MessageNumber", number}, {"Message", number}});
}

std::string messages(const OpenMetafile& file) {
  return RawDB(file.path()).value("SELECT group_concat(MessageNumber) FROM RL_Messages");
}

}  // namespace

TEST(Transactions, RefusalsNestingAndSavepointNames) {
  OpenMetafile file;
  int h = file.handle();
  EXPECT_EQ((Rows{"-1", tsmf_error("CommitTrans", "cannot commit - no transaction is active")}), outcome(h, Qb_CommitTrans(h)));
  EXPECT_EQ((Rows{"-1", tsmf_error("RollbackTrans", "cannot rollback - no transaction is active")}),
            outcome(h, Qb_RollbackTrans(h)));
  ASSERT_EQ(0, Qb_BeginTrans(h));
  EXPECT_EQ((Rows{"-1", tsmf_error("BeginTrans", "cannot start a transaction within a transaction")}),
            outcome(h, Qb_BeginTrans(h)));
  EXPECT_EQ(2, add_message(h, "10"));
  ASSERT_EQ(0, Qb_RollbackTrans(h));
  EXPECT_EQ("0", messages(file));
  EXPECT_EQ((Rows{"-1", tsmf_error("ReleaseSavePoint", "no such savepoint: nosuch")}),
            outcome(h, Qb_ReleaseSavePoint(h, "nosuch")));
  EXPECT_EQ((Rows{"-1", tsmf_error("RollbackToSavePoint", "no such savepoint: nosuch")}),
            outcome(h, Qb_RollbackToSavePoint(h, "nosuch")));
  EXPECT_EQ((Rows{"-1", tsmf_error("SavePoint", "Parameter \"name\" must not be NULL")}), outcome(h, Qb_SavePoint(h, nullptr)));

  ASSERT_EQ(0, Qb_SavePoint(h, "outer"));  // opens a transaction of its own
  add_message(h, "11");
  // Names are never SQL, and never cut: a cut name is another name.
  for (std::string name : {std::string("x; DELETE FROM RL_Agencies; --"), std::string("a]b\"c'd"),
                           std::string(120, 'n')}) {
    ASSERT_EQ(0, Qb_SavePoint(h, name.c_str())) << name;
    add_message(h, "12");
    EXPECT_EQ(0, Qb_RollbackToSavePoint(h, name.c_str())) << name;
    EXPECT_TRUE(name.size() < 90 || Qb_ReleaseSavePoint(h, name.substr(0, 89).c_str()) == -1);
    EXPECT_EQ(0, Qb_ReleaseSavePoint(h, name.c_str())) << name;
  }
  ASSERT_EQ(0, Qb_ReleaseSavePoint(h, "outer"));
  EXPECT_EQ("0,11", messages(file));
  EXPECT_EQ("1", RawDB(file.path()).value("SELECT count(*) FROM RL_Agencies"));
  EXPECT_EQ(-1, Qb_CommitTrans(h));
}

namespace {

using namespace std::chrono_literals;

const std::string kZipsSetup =
    "CREATE TABLE Zips([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5));"
    "INSERT INTO Zips(Code) VALUES ('12345');"
    "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'Zips', 1);";
const std::string kWriteSetup =
    kZipsSetup +
    "INSERT INTO RL_Messages(PKey, MessageNumber, Message) VALUES (2, 12, 'twelve');"
    "INSERT INTO RL_Edits(PKey, EditTag, EditName, EditLogic) VALUES"
    " (1, 'E1', 'One', 'if (lookup(\"12345\", \"Zips.Code\")) return PASS;\nreturn FAIL;');"
    "INSERT INTO RL_EditSets(PKey, EditSetTag, EditSetName) VALUES (1, 'S1', 'Set');";

TSQLDB* connection(int h) { return InitCheck(h)->GetSQLDB(); }

// A read transaction of another connection on the file, as a process that
// validates records holds one; it ends when the connection closes.
std::unique_ptr<RawDB> other_reader(const std::string& path) {
  auto reader = std::make_unique<RawDB>(path);
  reader->exec("BEGIN");
  reader->value("SELECT count(*) FROM RL_Control");
  return reader;
}

int define_zip2(int h) {
  return Qb_DefineTableStructure(h, "Zip2", 0) == 0
             ? Qb_AddColumnDef(h, "Code", nullptr, 0, 5, 0, 0, nullptr, nullptr, nullptr, nullptr, 1)
             : -1;
}

}  // namespace

// A write waits for another connection's lock up to the bound; past it, any
// write of several statements is undone whole, leaves the connection outside
// any transaction and records the database's message; once the lock has gone
// the same call succeeds and its change reaches the file.
TEST(Transactions, WritesWaitForOtherConnectionsOrAreUndone) {
  OpenMetafile file(kWriteSetup);
  std::string source = file.other("source.smf", "CREATE TABLE Imp([PKey] integer NOT NULL PRIMARY KEY, [A] text);");
  int h = file.handle();
  auto reader = other_reader(file.path());
  std::thread releaser([&reader] {
    std::this_thread::sleep_for(300ms);
    reader.reset();
  });
  EXPECT_EQ(0, edit_row(h, "RL_Messages", 2, {{"Message", "waited"}}));
  releaser.join();
  reader = other_reader(file.path());
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(-1, edit_row(h, "RL_Messages", 2, {{"Message", "lost"}}));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kBusyTimeoutMs - 100));
  reader.reset();
  ASSERT_EQ(0, Qb_OpenImportMetafile(h, source.c_str()));
  sqlite3_busy_timeout(connection(h)->Database(), 100);  // the same for every write, with a shorter bound
  int pkey = 0;
  const std::string locked = "database is locked";
  struct Write {
    std::function<int()> call;
    std::string error;
    int success;
  };
  const Write writes[] = {
      {[&] { return edit_row(h, "RL_Messages", 2, {{"Message", "changed"}}); }, writer_error("post_edit", locked), 0},
      {[&] { return Qb_AddEditSetsPivot(h, 1, 1); }, writer_error("AddEditSetsPivot", locked), 0},
      {[&] { return Edit_RecompileEditLogic(h, "E1"); }, tsmf_error("RecompileEditLogic", locked), -3},
      {[&] { return Qb_ClearEditLogicPivots(h, 1); }, writer_error("ClearEditLogicPivots", locked), 0},
      {[&] { return Qb_CopyLookupTable(h, "Zips", "Zips2", 1); }, tsmf_error("RenameLookupTable", locked), 0},
      {[&] { return Qb_ImportLookupTable(h, "Imp"); }, class_error("TImportMetafile", "ImportLookupTable", locked), 0},
      {[&] { return define_zip2(h) == 0 ? Qb_CreateTable(h, &pkey) : -2; }, writer_error("CreateTable", locked), 0},
      {[&] { return Qb_Delete(h, "RL_Messages", 2); }, writer_error("Delete", locked), 0},
  };
  for (const Write& write : writes) {
    Rows before = snapshot(file.path());
    reader = other_reader(file.path());
    EXPECT_EQ((Rows{"-1", write.error}), outcome(h, write.call()));
    EXPECT_FALSE(connection(h)->InTransaction()) << write.error;
    reader.reset();
    EXPECT_TRUE(before == snapshot(file.path())) << write.error;
    EXPECT_EQ(write.success, write.call()) << write.error;
    EXPECT_TRUE(before != snapshot(file.path())) << write.error;
  }
  // The host's own commit that stays busy keeps its transaction for another try.
  ASSERT_EQ(0, Qb_BeginTrans(h));
  ASSERT_EQ(0, edit_row(h, "RL_Messages", 1, {{"Message", "committed"}}));
  reader = other_reader(file.path());
  EXPECT_EQ((Rows{"-1", tsmf_error("CommitTrans", locked)}), outcome(h, Qb_CommitTrans(h)));
  EXPECT_TRUE(connection(h)->InTransaction());
  reader.reset();
  ASSERT_EQ(0, Qb_CommitTrans(h));
  ASSERT_EQ(0, Qb_CloseImportMetafile(h));
  ASSERT_EQ(0, Edit_Exit(h));
  RawDB db(file.path());
  EXPECT_EQ((Rows{"0|committed"}), db.rows("SELECT MessageNumber, Message FROM RL_Messages"));
  EXPECT_EQ("Imp,RL_LookupTables,Zip2,Zips,Zips2",
            db.value("SELECT group_concat(name) FROM (SELECT name FROM sqlite_master WHERE type = 'table' AND "
                     "name NOT LIKE 'RL_%' OR name = 'RL_LookupTables' ORDER BY name)"));
  EXPECT_EQ("1|1", db.value("SELECT EditSetPKey, EditPKey FROM RL_EditSetEditsPivot"));
  EXPECT_NE("", db.value("SELECT CompiledLogic FROM RL_Edits"));
}

// A full database fails the write cleanly, alone or inside the host's
// transaction, which goes on; writes work again once there is room.
TEST(Transactions, AFullDatabaseFailsTheWriteCleanly) {
  OpenMetafile file(kWriteSetup);
  int h = file.handle();
  auto limit_pages = [&](const std::string& pages) {
    std::string pragma = "PRAGMA max_page_count = " + pages;
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(connection(h)->Database(), pragma.c_str(), nullptr, nullptr, nullptr));
  };
  limit_pages(RawDB(file.path()).value("PRAGMA page_count"));
  const Rows before = snapshot(file.path());
  ASSERT_EQ(0, define_zip2(h));
  int pkey = 0;
  for (bool host : {false, true}) {
    if (host) {
      ASSERT_EQ(0, Qb_BeginTrans(h));
      ASSERT_EQ(0, edit_row(h, "RL_Messages", 2, {{"Message", "kept"}}));
    }
    EXPECT_EQ((Rows{"-1", writer_error("CreateTable", "Unable to create table as defined"),
                    writer_error("CreateTable", "WARNING: This metafile may now be corrupted; close without saving"),
                    writer_error("CreateTable", "database or disk is full"),
                    writer_error("CreateTable", "CREATE TABLE [Zip2]( [PKey] integer NOT NULL PRIMARY KEY, \n"
                                                "[Code] char(5) NOT NULL collate nocase default '');")}),
              outcome(h, Qb_CreateTable(h, &pkey)));
    EXPECT_EQ(host, connection(h)->InTransaction());
    EXPECT_TRUE(host || before == snapshot(file.path()));
  }
  ASSERT_EQ(0, Qb_CommitTrans(h));
  EXPECT_EQ("kept", RawDB(file.path()).value("SELECT Message FROM RL_Messages WHERE PKey = 2"));
  limit_pages("100000");
  EXPECT_EQ(0, Qb_CreateTable(h, &pkey));
  EXPECT_EQ("Zip2", RawDB(file.path()).value("SELECT TableName FROM RL_LookupTables WHERE PKey = 2"));
}

namespace {

// An SQL function that interrupts the statement calling it, after which the
// database rolls the whole transaction back.
void interrupt_statement(sqlite3_context* context, int, sqlite3_value**) {
  sqlite3_interrupt(sqlite3_context_db_handle(context));
  sqlite3_result_int(context, 0);
}

}  // namespace

// When the database ends the host's transaction itself, the write says so and
// the table model follows the file: a table made in that transaction is gone.
TEST(Transactions, TheDatabaseEndingTheHostsTransactionIsReported) {
  OpenMetafile file(kWriteSetup +
                    "CREATE TRIGGER _Zips_halt AFTER UPDATE ON Zips BEGIN SELECT interrupt_statement() FROM RL_Control; END;");
  int h = file.handle();
  ASSERT_EQ(SQLITE_OK, sqlite3_create_function(connection(h)->Database(), "interrupt_statement", 0, SQLITE_UTF8,
                                               nullptr, interrupt_statement, nullptr, nullptr));
  ASSERT_EQ(0, Qb_BeginTrans(h));
  ASSERT_EQ(0, define_zip2(h));
  int pkey = 0;
  ASSERT_EQ(0, Qb_CreateTable(h, &pkey));
  ASSERT_EQ(0, Qb_Insert(h, "Zip2"));
  EXPECT_EQ((Rows{"-1", writer_error("post_edit", "interrupted"),
                  writer_error("post_edit", "SQL: UPDATE [Zips] SET [Code] = '99999' WHERE PKey = 1;"),
                  writer_error("post_edit", kHostTransactionLostText)}),
            outcome(h, edit_row(h, "Zips", 1, {{"Code", "99999"}})));
  EXPECT_EQ(-1, Qb_CommitTrans(h));
  EXPECT_EQ(-1, Qb_Insert(h, "Zip2"));
  EXPECT_EQ(0, Qb_Edit(h, "Zips", 1));
  EXPECT_EQ("12345", RawDB(file.path()).value("SELECT Code FROM Zips"));
}

namespace {

const char* const kZipCheck = "if (lookup(\"12345\", \"Zips.Code\")) return PASS;\nreturn FAIL;";

// The run-time fixture with the lookup table Zips and an edit set ES1 whose
// one edit looks it up.
class ModelRollback : public RunTest {
 protected:
  ModelRollback() : RunTest(kZipsSetup) {
    add_edit("Z1", "Zip check", kZipCheck);
    add_to_set("ES1", "Z1");
  }
  Rows lookup_tables() {
    Rows names;
    Edit_GetTableNames(h(), &names, collector<TableNameCallback>());
    Rows lookups;
    for (const std::string& name : names)
      if (name.compare(0, 3, "RL_") != 0) lookups.push_back(name);
    return lookups;
  }
};

}  // namespace

// After the host's rollback (of its transaction or to its savepoint) the
// table model holds again exactly the tables of the file: a deleted lookup
// table is back for runs, checks and recompiles, a created one is gone; the
// row the host holds in another table's buffer survives.
TEST_F(ModelRollback, TheTableModelFollowsTheHostsRollback) {
  for (bool savepoint : {false, true}) {
    SCOPED_TRACE(savepoint ? "savepoint" : "transaction");
    auto begin = [&] { return savepoint ? Qb_SavePoint(h(), "host") : Qb_BeginTrans(h()); };
    auto undo = [&] {
      return savepoint ? Qb_RollbackToSavePoint(h(), "host") + Qb_ReleaseSavePoint(h(), "host") : Qb_RollbackTrans(h());
    };
    ASSERT_EQ(0, Qb_Insert(h(), "RL_Messages"));
    ASSERT_EQ(0, Qb_SetFieldByName(h(), "RL_Messages", "Message", savepoint ? "held 2" : "held 1"));

    ASSERT_EQ(0, begin());
    ASSERT_EQ(0, Qb_Delete(h(), "RL_LookupTables", 1));
    EXPECT_EQ(Rows{}, lookup_tables());
    ASSERT_EQ(0, undo());
    EXPECT_EQ(Rows{"Zips"}, lookup_tables());
    RunResult result = run("");
    EXPECT_EQ(0, result.result);
    EXPECT_EQ(Rows{}, result.messages);
    int errors = -1, warnings = -1;
    EXPECT_EQ(0, Qb_CheckSyntax(h(), kZipCheck, &errors, &warnings));
    EXPECT_EQ(0, errors);
    EXPECT_EQ(-3, Edit_RecompileEditLogic(h(), "Z1"));
    EXPECT_NE("", RawDB(path()).value("SELECT CompiledLogic FROM RL_Edits WHERE EditTag = 'Z1'"));

    ASSERT_EQ(0, begin());
    ASSERT_EQ(0, define_zip2(h()));
    int pkey = 0;
    ASSERT_EQ(0, Qb_CreateTable(h(), &pkey));
    EXPECT_EQ((Rows{"Zip2", "Zips"}), lookup_tables());
    ASSERT_EQ(0, undo());
    EXPECT_EQ(Rows{"Zips"}, lookup_tables());
    EXPECT_EQ(-1, Qb_Insert(h(), "Zip2"));

    ASSERT_EQ(0, Qb_SetFieldByName(h(), "RL_Messages", "MessageNumber", savepoint ? "52" : "51"));
    ASSERT_EQ(0, Qb_Post(h(), "RL_Messages", &pkey));
  }
  EXPECT_EQ((Rows{"51|held 1", "52|held 2"}),
            rows("SELECT MessageNumber, Message FROM RL_Messages WHERE MessageNumber IN (51, 52)"));
}
