// Host cursors kept open across authoring calls: a rollback that ends their
// read is reported and never starts them over, a refusal decided before the
// first write ends no read, and the writes that drop a table or detach the
// import's source are refused while a cursor is in the middle of its read.
#include <functional>
#include <memory>

#include "AuthoringTestSupport.h"
#include "api/EditAPI.h"
#include "api/SMF.h"
#include "storage/SQLDB.h"

namespace {

// Zip is restructured, renamed and deleted, and then made again.
#define ZIP_SETUP                                                               \
  "CREATE TABLE Zip([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5));" \
  "INSERT INTO Zip VALUES (1, '10001');"                                        \
  "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (2, 'Zip', 1);"
const char* const kSetup =
    "CREATE TABLE H([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(10));"
    "INSERT INTO H VALUES (1, 'h1'), (2, 'h2'), (3, 'h3'), (4, 'h4'), (5, 'h5');"
    "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'H', 5);" ZIP_SETUP;
// Imp imports; Bad is refused once it is made, since its trigger writes a control table.
const char* const kSourceSetup =
    "CREATE TABLE Imp([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5));"
    "INSERT INTO Imp VALUES (1, 'i1');"
    "CREATE TABLE Bad([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5));"
    "CREATE TRIGGER _Bad_t AFTER UPDATE ON Bad BEGIN INSERT INTO RL_Messages(MessageNumber, Message)"
    " VALUES (99, 'x'); END;";
const char* const kWalked = "select PKey, Code from H order by PKey";

std::string ended(const std::string& method, const char* cursor) {
  return tsmf_error(method, std::string("The read of cursor \"") + cursor +
                                "\" was ended by a rollback; the cursor must be opened again");
}

std::string reading(const std::string& what) {
  return what + " while cursor \"c\" is in the middle of its read: read the cursor to its end, or close it, first";
}

// Creates a table of one text column Code, or restructures it, Code taking the old Code.
int create_table(int h, const char* name, int restructure = 0) {
  int pkey = 0;
  if (Qb_DefineTableStructure(h, name, restructure) != 0 ||
      Qb_AddColumnDef(h, "Code", restructure ? "Code" : nullptr, 0, 5, 1, 0, nullptr, nullptr, nullptr, nullptr, 0) !=
          0)
    return -99;
  return Qb_CreateTable(h, &pkey);
}

int restructure_zip(int h) { return create_table(h, "Zip", 1); }

std::string text_of(int h, const char* cursor, const char* column) {
  char value[16] = "";
  int result = Edit_GetCursorDataByName(h, cursor, column, value, sizeof value);
  return result == 0 ? value : "-1";
}

// A rollback's form: what the host does once its cursors are open, with the
// other connection's reader when it has one.
struct TRollback {
  const char* Name;
  std::function<void(int h, const std::string& path)> Before;  // before the cursors open
  std::function<void(int h, const std::string& path)> Undo;     // a call that rolls back
  bool Ends;
};

// A failed post: an empty number makes the statement invalid.
void failed_post(int h, const std::string&) {
  EXPECT_EQ(-1, edit_row(h, "RL_Messages", 1, {{"MessageNumber", ""}}));
}

}  // namespace

class CursorRollback : public MetafileTest {
 protected:
  CursorRollback() : MetafileTest(kSetup) {}
  void SetUp() override {
    Source = File.other("source.smf", kSourceSetup);
    ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  }
  std::string codes() { return value("SELECT group_concat(Code, ' ') FROM (SELECT Code FROM H ORDER BY PKey)"); }

  // The host's walk: while CursorEof gives 0 it reads the row, posts its code
  // with "+" added and steps; after the second row it makes the call. What
  // failed, then the last CursorEof's answer and flag.
  Rows walk(const std::function<int()>& afterSecondRow) {
    EXPECT_EQ(0, Edit_OpenCursor(h(), "walk", kWalked));
    Rows failures;
    int eof = 0;
    for (int rows = 1; Edit_CursorEof(h(), "walk", &eof) == 0 && eof == 0 && rows <= 5; ++rows) {
      int pkey = out_int(Edit_GetCursorIntByNumber, h(), "walk", 1);
      EXPECT_EQ(0, edit_row(h(), "H", pkey, {{"Code", (text_of(h(), "walk", "Code") + "+").c_str()}}));
      if (rows == 2) afterSecondRow();
      int stepped = Edit_CursorNext(h(), "walk");
      if (stepped != 0) failures = outcome(h(), stepped);
    }
    Rows last = outcome(h(), Edit_CursorEof(h(), "walk", &eof));
    last.push_back("eof " + std::to_string(eof));
    failures.insert(failures.end(), last.begin(), last.end());
    EXPECT_EQ(0, Edit_CloseCursor(h(), "walk"));
    return failures;
  }

  std::string Source;
};

// Each row is posted once: a refusal that wrote nothing leaves the walk
// going, inside a transaction that has made a table too; one that undoes a
// table it made ends the read, and the walk stops with the reason.
TEST_F(CursorRollback, TheWalkPostsEachRowOnce) {
  const Rows goesOn{"0", "eof 1"};
  const Rows stops{"-2", ended("CursorNext", "walk"), "-1", ended("CursorEof", "walk"), "eof 1"};
  const struct {
    bool InTransaction;
    const char* Table;
    Rows Walk;
    const char* Codes;
  } forms[] = {
      {false, "NoSuch", goesOn, "h1+ h2+ h3+ h4+ h5+"},
      {true, "NoSuch", goesOn, "h1+ h2+ h3+ h4+ h5+"},
      {false, "Bad", stops, "h1+ h2+ h3 h4 h5"},
      {true, "Bad", stops, "h1+ h2+ h3 h4 h5"},
  };
  int made = 0;
  for (const auto& form : forms) {
    SCOPED_TRACE(std::string(form.Table) + (form.InTransaction ? " in a transaction" : ""));
    exec("UPDATE H SET Code = 'h' || PKey;");
    std::string table = "Made" + std::to_string(++made);
    ASSERT_EQ(0, form.InTransaction ? Qb_BeginTrans(h()) + create_table(h(), table.c_str()) : 0);
    EXPECT_EQ(form.Walk, walk([&] { return Qb_ImportLookupTable(h(), form.Table); }));
    ASSERT_EQ(0, form.InTransaction ? Qb_CommitTrans(h()) : 0);
    EXPECT_EQ(form.Codes, codes());
  }
}

// After a rollback that ended its read a cursor reports it, from the first
// call that meets the ended read until it is opened again, and never starts
// over; the row read before the rollback stays readable until then. A
// rollback of a transaction that changed no schema ends no read, nor does
// any rollback end a sorted result that the database holds apart.
TEST_F(CursorRollback, ARollbackThatEndsAReadIsReportedUntilTheCursorIsOpenedAgain) {
  auto begin = [](int h, const std::string&) { ASSERT_EQ(0, Qb_BeginTrans(h)); };
  auto made = [](int h, const std::string&) { ASSERT_EQ(0, Qb_BeginTrans(h) + create_table(h, "Made")); };
  std::unique_ptr<RawDB> reader;
  const TRollback forms[] = {
      {"Qb_RollbackTrans after a create", begin,
       [](int h, const std::string&) { ASSERT_EQ(0, create_table(h, "Made") + Qb_RollbackTrans(h)); }, true},
      {"Qb_RollbackToSavePoint after a create", begin,
       [](int h, const std::string&) {
         ASSERT_EQ(0, Qb_SavePoint(h, "s") + create_table(h, "Made") + Qb_RollbackToSavePoint(h, "s"));
       },
       true},
      {"a failed post after a create in the transaction", made, failed_post, true},
      {"a refused copy after a create in the transaction", made,
       [](int h, const std::string&) { EXPECT_EQ(-1, Qb_CopyLookupTable(h, "Zip", "Made", 1)); }, true},
      {"a create whose commit another connection's read holds back", nullptr,
       [&reader](int h, const std::string& path) {
         reader = std::make_unique<RawDB>(path);
         reader->exec("BEGIN");
         reader->value("SELECT count(*) FROM RL_Control");
         sqlite3_busy_timeout(InitCheck(h)->GetSQLDB()->Database(), 100);
         EXPECT_EQ(-1, create_table(h, "Made"));
         reader.reset();
       },
       true},
      {"a failed post in a transaction that changed no schema", begin, failed_post, false},
      {"Qb_RollbackTrans of a transaction that changed no schema", begin,
       [](int h, const std::string&) {
         ASSERT_EQ(0, edit_row(h, "H", 5, {{"Code", "z"}}) + Qb_RollbackTrans(h));
       },
       false},
  };
  for (const TRollback& form : forms) {
    SCOPED_TRACE(form.Name);
    if (form.Before) form.Before(h(), path());
    ASSERT_EQ(0, Edit_OpenCursor(h(), "c", kWalked) + Edit_CursorNext(h(), "c"));
    ASSERT_EQ(0, Edit_OpenCursor(h(), "sorted", "select Code from H order by Code desc"));
    ASSERT_EQ(0, Edit_PrepareParameterizedCursor(h(), "p", "select Code from H where PKey >= ? order by PKey"));
    ASSERT_EQ(0, Edit_BindIntParameter(h(), "p", 1, 3) + Edit_OpenParameterizedCursor(h(), "p"));
    form.Undo(h(), path());
    Qb_RollbackTrans(h());
    EXPECT_EQ("h2", text_of(h(), "c", "Code"));
    EXPECT_EQ("h3", text_of(h(), "p", "Code"));
    EXPECT_EQ((Rows{"0", "h4"}), (Rows{std::to_string(Edit_CursorNext(h(), "sorted")), text_of(h(), "sorted", "Code")}));
    if (!form.Ends) {
      EXPECT_EQ((Rows{"0", "h3", "0", "h4"}), (Rows{std::to_string(Edit_CursorNext(h(), "c")), text_of(h(), "c", "Code"),
                                                  std::to_string(Edit_CursorNext(h(), "p")), text_of(h(), "p", "Code")}));
    }
    for (const char* cursor : {"c", "p"}) {
      if (!form.Ends) break;
      int eof = 0, size = 0;
      char buffer[8];
      Rows delivered;
      EXPECT_EQ((Rows{"-2", ended("CursorNext", cursor)}), outcome(h(), Edit_CursorNext(h(), cursor)));
      EXPECT_EQ((Rows{"-1", ended("CursorEof", cursor)}), outcome(h(), Edit_CursorEof(h(), cursor, &eof)));
      EXPECT_EQ(1, eof);
      const std::pair<const char*, std::function<int()>> reads[] = {
          {"ReadCursorData", [&] { return Edit_ReadCursorData(h(), cursor, &delivered, collector<ReadDataCallback>()); }},
          {"GetCursorDataSizeByNumber", [&] { return Edit_GetCursorDataSizeByNumber(h(), cursor, 1, &size); }},
          {"GetCursorDataByNumber", [&] { return Edit_GetCursorDataByNumber(h(), cursor, 1, buffer, sizeof buffer); }},
          {"GetCursorDataSizeByName", [&] { return Edit_GetCursorDataSizeByName(h(), cursor, "Code", &size); }},
          {"GetCursorDataByName", [&] { return Edit_GetCursorDataByName(h(), cursor, "Code", buffer, sizeof buffer); }},
          {"GetCursorIntByNumber", [&] { return Edit_GetCursorIntByNumber(h(), cursor, 1, &size); }},
          {"GetCursorIntByName", [&] { return Edit_GetCursorIntByName(h(), cursor, "Code", &size); }},
      };
      for (const auto& read : reads) EXPECT_EQ((Rows{"-1", ended(read.first, cursor)}), outcome(h(), read.second()));
      // It never starts over.
      EXPECT_EQ((Rows{"-2", ended("CursorNext", cursor)}), outcome(h(), Edit_CursorNext(h(), cursor)));
    }
    if (form.Ends) {
      // Run again with its values, the parameterized cursor reads afresh;
      // the plain one does once it is opened again.
      EXPECT_EQ(0, Edit_ResetParameterizedCursor(h(), "p") + Edit_OpenParameterizedCursor(h(), "p"));
      EXPECT_EQ("h3", text_of(h(), "p", "Code"));
      EXPECT_EQ(0, Edit_CloseCursor(h(), "c") + Edit_OpenCursor(h(), "c", kWalked));
      EXPECT_EQ("h1", text_of(h(), "c", "Code"));
    }
    for (const char* cursor : {"c", "sorted", "p"}) EXPECT_EQ(0, Edit_CloseCursor(h(), cursor));
    exec("DROP TABLE IF EXISTS Made; DELETE FROM RL_LookupTables WHERE TableName = 'Made'; UPDATE H SET Code = 'h' || PKey;");
  }
}

// A write that drops a table, or detaches the import's source, cannot run
// beside a cursor in the middle of its read: it is refused before it changes
// anything, naming the cursor, and the cursor goes on; inside a transaction
// that has made a table too. A cursor at its end, or a parameterized cursor
// prepared or reset, refuses nothing.
TEST_F(CursorRollback, WritesThatDropATableWaitForTheCursorsReadToEnd) {
  const struct {
    const char* Name;
    std::function<int(int h)> Prepare;  // once the cursor is open
    std::function<int(int h)> Call;
    std::string Refusal;
  } forms[] = {
      {"restructure", nullptr, restructure_zip,
       writer_error("CreateTable", reading("Table \"Zip\" cannot be restructured"))},
      {"rename", nullptr, [](int h) { return edit_row(h, "RL_LookupTables", 2, {{"TableName", "Zap"}}); },
       writer_error("post_edit", reading("Table \"Zip\" cannot be renamed"))},
      {"deletion", nullptr, [](int h) { return Qb_Delete(h, "RL_LookupTables", 2); },
       writer_error("verify_delete_impact", reading("Table \"Zip\" cannot be dropped"))},
      // The import's read of the source, made while the cursor reads, lasts
      // as long as the cursor's read. Inside a transaction the transaction
      // holds it, and the database refuses the detach itself.
      {"closing the import", [](int h) { return Qb_ImportLookupTable(h, "Imp"); }, Qb_CloseImportMetafile,
       tsmf_error("CloseImportMetafile", reading("The import's source cannot be detached"))},
  };
  for (bool inTransaction : {false, true}) {
    for (const auto& form : forms) {
      if (inTransaction && form.Prepare) continue;
      SCOPED_TRACE(std::string(form.Name) + (inTransaction ? " in a transaction" : ""));
      ASSERT_EQ(0, inTransaction ? Qb_BeginTrans(h()) + create_table(h(), "Made") : 0);
      ASSERT_EQ(0, Edit_OpenCursor(h(), "c", kWalked));
      ASSERT_EQ(0, Edit_PrepareParameterizedCursor(h(), "p", "select Code from H where PKey = ?"));
      ASSERT_EQ(0, form.Prepare ? form.Prepare(h()) : 0);
      const Rows before = snapshot(path());
      EXPECT_EQ((Rows{"-1", form.Refusal}), outcome(h(), form.Call(h())));
      EXPECT_TRUE(before == snapshot(path()));
      EXPECT_EQ((Rows{"0", "h2"}), (Rows{std::to_string(Edit_CursorNext(h(), "c")), text_of(h(), "c", "Code")}));
      // Read to its end, the cursor refuses nothing; nor does a parameterized one, opened and reset.
      while (out_int(Edit_CursorEof, h(), "c") == 0) ASSERT_EQ(0, Edit_CursorNext(h(), "c"));
      ASSERT_EQ(0, Edit_BindIntParameter(h(), "p", 1, 1) + Edit_OpenParameterizedCursor(h(), "p") +
                       Edit_ResetParameterizedCursor(h(), "p"));
      EXPECT_EQ(0, form.Call(h()));
      ASSERT_EQ(0, Edit_CloseCursor(h(), "c") + Edit_CloseCursor(h(), "p"));
      if (inTransaction) {
        ASSERT_EQ(0, Qb_RollbackTrans(h()));
        continue;
      }
      exec("DROP TABLE IF EXISTS Zip; DROP TABLE IF EXISTS Zap; DROP TABLE IF EXISTS Imp;"
           "DELETE FROM RL_LookupTables WHERE PKey = 2;" ZIP_SETUP);
      Qb_CloseImportMetafile(h());
      ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
    }
  }
}
