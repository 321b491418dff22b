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
    "INSERT INTO RL_EditSets(PKey, EditSetTag, EditSetName) VALUES (1, 'S1', 'Set');"
    "INSERT INTO RL_Fields(PKey, FieldNumber, FieldName, LocalName) VALUES (1, 1, 'F1', 'L1');";

TSQLDB* connection(int h) { return InitCheck(h)->GetSQLDB(); }

// The number of pages of the connection's main database, its open transaction included.
std::string page_count(TSQLDB* db) {
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db->Database(), "PRAGMA page_count", -1, &statement, nullptr);
  std::string pages = sqlite3_step(statement) == SQLITE_ROW ? std::to_string(sqlite3_column_int(statement, 0)) : "";
  sqlite3_finalize(statement);
  return pages;
}

// The highest PKey of Zips, read on the handle's own connection.
int last_zip(int h) {
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(connection(h)->Database(), "SELECT max(PKey) FROM Zips", -1, &statement, nullptr);
  int zip = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int(statement, 0) : 0;
  sqlite3_finalize(statement);
  return zip;
}

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

const std::string kLocked = "database is locked";

// Every kind of write through the exports, each answering `success` when it
// can write; `error` is what it records when it cannot, after `openFailure`
// when the write could not even begin.
struct Write {
  Write(std::function<int()> call, std::string error, int success, std::string openFailure = "")
      : call(std::move(call)), error(std::move(error)), success(success), openFailure(std::move(openFailure)) {}
  std::function<int()> call;
  std::string error;
  int success;
  std::string openFailure;
};

std::vector<Write> every_write(int h) {
  static int pkey = 0, message = 100;
  return {
      {[h] { return edit_row(h, "RL_Messages", 2, {{"Message", "changed"}}); }, writer_error("post_edit", kLocked), 0},
      {[h] {
         // A posted PKey is read back by the UPDATE itself.
         int zip = last_zip(h);
         return edit_row(h, "Zips", zip, {{"PKey", std::to_string(zip + 1).c_str()}});
       },
       writer_error("post_edit", kLocked), 0},
      {[h] {
         std::string number = std::to_string(++message);
         if (Qb_Insert(h, "RL_Messages") != 0) return -2;
         set_values(h, "RL_Messages", {{"MessageNumber", number.c_str()}, {"Message", "new"}});
         return Qb_Post(h, "RL_Messages", &pkey);
       },
       writer_error("post_insert", kLocked), 0},
      {[h] { return Qb_AddEditSetsPivot(h, 1, 1); }, writer_error("AddEditSetsPivot", kLocked), 0},
      {[h] { return Edit_RecompileEditLogic(h, "E1"); }, tsmf_error("RecompileEditLogic", kLocked), -3,
       tsmf_error("RecompileEditLogic", "Failure to create savepoint")},
      {[h] { return Qb_ClearEditLogicPivots(h, 1); }, writer_error("ClearEditLogicPivots", kLocked), 0},
      {[h] { return Qb_CopyLookupTable(h, "Zips", "Zips2", 1); }, tsmf_error("RenameLookupTable", kLocked), 0},
      {[h] { return Qb_ImportLookupTable(h, "Imp"); }, class_error("TImportMetafile", "ImportLookupTable", kLocked), 0},
      {[h] { return define_zip2(h) == 0 ? Qb_CreateTable(h, &pkey) : -2; }, writer_error("CreateTable", kLocked), 0},
      {[h] { return Edit_UpdateAllAccessField(h, "RL_Fields", 1, "LocalName", "changed"); },
       tsmf_error("UpdateAllAccessField", kLocked), 0},
      {[h] { return Qb_ImportWritePassword(h, 1, "stored"); }, tsmf_error("ImportWritePassword", kLocked), 0},
      {[h] { return Qb_Delete(h, "RL_Messages", 2); }, writer_error("Delete", kLocked), 0},
  };
}

// An open import with the source Imp beside the metafile of kWriteSetup.
std::string open_import(const OpenMetafile& file) {
  std::string source = file.other("source.smf", "CREATE TABLE Imp([PKey] integer NOT NULL PRIMARY KEY, [A] text);");
  EXPECT_EQ(0, Qb_OpenImportMetafile(file.handle(), source.c_str()));
  return source;
}

void expect_written(const OpenMetafile& file) {
  ASSERT_EQ(0, Edit_Exit(file.handle()));
  RawDB db(file.path());
  EXPECT_EQ("Imp,RL_LookupTables,Zip2,Zips,Zips2",
            db.value("SELECT group_concat(name) FROM (SELECT name FROM sqlite_master WHERE type = 'table' AND "
                     "name NOT LIKE 'RL_%' OR name = 'RL_LookupTables' ORDER BY name)"));
  EXPECT_EQ("1|1", db.value("SELECT EditSetPKey, EditPKey FROM RL_EditSetEditsPivot"));
  EXPECT_NE("", db.value("SELECT CompiledLogic FROM RL_Edits"));
  EXPECT_EQ("changed|stored", db.value("SELECT LocalName, (SELECT Password FROM RL_Agencies) FROM RL_Fields"));
}

}  // namespace

// A write waits for another connection's lock up to the bound; past it, any
// write is undone whole, leaves the connection outside any transaction and
// records the database's message; once the lock has gone the same call
// succeeds and its change reaches the file.
TEST(Transactions, WritesWaitForOtherConnectionsOrAreUndone) {
  OpenMetafile file(kWriteSetup);
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
  open_import(file);
  sqlite3_busy_timeout(connection(h)->Database(), 100);  // the same for every write, with a shorter bound
  for (const Write& write : every_write(h)) {
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
  EXPECT_EQ((Rows{"-1", tsmf_error("CommitTrans", kLocked)}), outcome(h, Qb_CommitTrans(h)));
  EXPECT_TRUE(connection(h)->InTransaction());
  reader.reset();
  ASSERT_EQ(0, Qb_CommitTrans(h));
  ASSERT_EQ(0, Qb_CloseImportMetafile(h));
  EXPECT_EQ("0|committed", RawDB(file.path()).value("SELECT MessageNumber, Message FROM RL_Messages"));
  expect_written(file);
}

// Another connection that holds the import source's write lock delays no
// write, since none writes to the source; one that holds the metafile's
// makes every write wait for it up to the bound and then fail before it has
// changed anything.
TEST(Transactions, WritesWaitOnlyForTheMetafilesOwnLock) {
  OpenMetafile file(kWriteSetup);
  int h = file.handle();
  RawDB metafileHolder(file.path()), sourceHolder(open_import(file));
  bool first = true;
  for (const Write& write : every_write(h)) {
    Rows before = snapshot(file.path());
    ASSERT_EQ(SQLITE_OK, metafileHolder.exec("BEGIN IMMEDIATE"));
    // The first write waits the whole bound, the others a shorter one.
    sqlite3_busy_timeout(connection(h)->Database(), first ? kBusyTimeoutMs : 100);
    auto start = std::chrono::steady_clock::now();
    Rows refused{"-1", write.error};
    if (!write.openFailure.empty()) refused.insert(refused.begin() + 1, write.openFailure);
    EXPECT_EQ(refused, outcome(h, write.call()));
    EXPECT_TRUE(!first || std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(kBusyTimeoutMs - 100));
    EXPECT_FALSE(connection(h)->InTransaction()) << write.error;
    ASSERT_EQ(SQLITE_OK, metafileHolder.exec("ROLLBACK"));
    EXPECT_TRUE(before == snapshot(file.path())) << write.error;

    ASSERT_EQ(SQLITE_OK, sourceHolder.exec("BEGIN IMMEDIATE"));
    sqlite3_busy_timeout(connection(h)->Database(), kBusyTimeoutMs);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(write.success, write.call()) << write.error;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << write.error;
    EXPECT_FALSE(connection(h)->InTransaction()) << write.error;
    ASSERT_EQ(SQLITE_OK, sourceHolder.exec("ROLLBACK"));
    EXPECT_TRUE(before != snapshot(file.path())) << write.error;
    first = false;
  }
  ASSERT_EQ(0, Qb_CloseImportMetafile(h));
  expect_written(file);
}

// A table made, copied or restructured beside a source held exclusively by
// another connection is read back into the model at once and whole: its
// columns are asked of the metafile alone.
TEST(Transactions, TablesWrittenBesideAnExclusiveSourceAreReadBackAtOnce) {
  OpenMetafile file(kWriteSetup);
  int h = file.handle();
  RawDB sourceHolder(open_import(file));
  ASSERT_EQ(SQLITE_OK, sourceHolder.exec("BEGIN EXCLUSIVE"));
  auto start = std::chrono::steady_clock::now();
  int pkey = 0;
  ASSERT_EQ(0, Qb_DefineTableStructure(h, "Towns", 0));
  ASSERT_EQ(0, Qb_AddColumnDef(h, "Name", nullptr, 0, 20, 1, 0, nullptr, nullptr, nullptr, "none", 0));
  EXPECT_EQ(0, Qb_CreateTable(h, &pkey));
  EXPECT_EQ(0, Qb_CopyLookupTable(h, "Towns", "Towns2", 1));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  for (const char* table : {"Towns", "Towns2"}) {
    Rows columns;
    EXPECT_EQ(0, Edit_GetTableStructure(h, table, &columns, collector<TableStructureCallback>()));
    EXPECT_EQ((Rows{std::string(table) + "|1|PKey|integer|NOT NULL|0|||",
                    std::string(table) + "|2|Name|varchar(20)|NULL|0|none||"}),
              columns);
  }
  ASSERT_EQ(SQLITE_OK, sourceHolder.exec("ROLLBACK"));
}

// A full database fails the write cleanly, alone or inside the host's
// transaction, which goes on, and says why; writes work again once there is
// room.
TEST(Transactions, AFullDatabaseFailsTheWriteCleanly) {
  OpenMetafile file(kWriteSetup);
  int h = file.handle();
  auto limit_pages = [&](const std::string& pages) {
    std::string pragma = "PRAGMA max_page_count = " + pages;
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(connection(h)->Database(), pragma.c_str(), nullptr, nullptr, nullptr));
  };
  limit_pages(RawDB(file.path()).value("PRAGMA page_count"));
  const Rows before = snapshot(file.path());
  EXPECT_EQ((Rows{"-1", tsmf_error("RenameLookupTable", "CREATE TABLE under new name failed"),
                  tsmf_error("RenameLookupTable", "database or disk is full"),
                  tsmf_error("RenameLookupTable",
                             "SQL: CREATE TABLE [Zips2]([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5))")}),
            outcome(h, Qb_CopyLookupTable(h, "Zips", "Zips2", 1)));
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

// A write of one statement that fills the database, inside the host's
// transaction, which the database then ends whole: the write says so after the
// database's message, and the table model no longer holds the table that
// the transaction made.
TEST(Transactions, OneStatementWritesReportTheHostsLostTransaction) {
  OpenMetafile file(kWriteSetup);
  int h = file.handle();
  open_import(file);
  const std::string huge(60000, 'x');
  struct FullWrite {
    std::function<int()> call;
    std::string failure;
    std::string lost;
  };
  int pkey = 0;
  const FullWrite writes[] = {
      {[&] { return edit_row(h, "RL_Messages", 2, {{"Message", huge.c_str()}}); },
       writer_error("post_edit", "database or disk is full"), writer_error("post_edit", kHostTransactionLostText)},
      {[&] {
         Qb_Insert(h, "RL_Messages");
         set_values(h, "RL_Messages", {{"MessageNumber", "77"}, {"Message", huge.c_str()}});
         return Qb_Post(h, "RL_Messages", &pkey);
       },
       writer_error("post_insert", "database or disk is full"), writer_error("post_insert", kHostTransactionLostText)},
      {[&] { return Edit_UpdateAllAccessField(h, "RL_Fields", 1, "LocalName", huge.c_str()); },
       tsmf_error("UpdateAllAccessField", "database or disk is full"),
       tsmf_error("UpdateAllAccessField", kHostTransactionLostText)},
      {[&] { return Qb_ImportWritePassword(h, 1, huge.c_str()); },
       tsmf_error("ImportWritePassword", "database or disk is full"),
       tsmf_error("ImportWritePassword", kHostTransactionLostText)},
  };
  for (const FullWrite& write : writes) {
    ASSERT_EQ(0, Qb_BeginTrans(h));
    ASSERT_EQ(0, Qb_DefineTableStructure(h, "Towns", 0));
    ASSERT_EQ(0, Qb_AddColumnDef(h, "Name", nullptr, 0, 20, 1, 0, nullptr, nullptr, nullptr, nullptr, 0));
    ASSERT_EQ(0, Qb_CreateTable(h, &pkey));
    std::string pages = page_count(connection(h));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(connection(h)->Database(), ("PRAGMA max_page_count = " + pages).c_str(), nullptr,
                                      nullptr, nullptr));
    Rows errors = outcome(h, write.call());
    ASSERT_LE(3u, errors.size()) << write.failure;
    EXPECT_EQ((Rows{"-1", write.failure, write.lost}), (Rows{errors.front(), errors[1], errors.back()}));
    EXPECT_FALSE(connection(h)->InTransaction()) << write.failure;
    EXPECT_EQ((Rows{"-1", writer_error("Insert", "Cannot find table named \"Towns\"")}),
              outcome(h, Qb_Insert(h, "Towns")));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(connection(h)->Database(), "PRAGMA max_page_count = 100000", nullptr, nullptr,
                                      nullptr));
  }
  EXPECT_EQ("0,12", messages(file));
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
