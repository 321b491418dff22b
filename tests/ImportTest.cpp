// Importing from a second metafile: opening and closing with the import super user, candidates of every
// control table, lookup-table import with indexes, rows and triggers, and stored passwords.
#include <algorithm>
#include <filesystem>

#include "AuthoringTestSupport.h"
#include "api/EditAPI.h"
#include "api/SMF.h"
#include "authoring/ImportChecks.h"
#include "authoring/ImportMetafile.h"
#include "authoring/Qb_AccessController.h"
#include "storage/SQLDB.h"

namespace {

const char* const kTarget =
    "INSERT INTO RL_Agencies(PKey, AdminCode, OrgName) VALUES (2, 'AG2', 'Two');"
    "INSERT INTO RL_Messages(PKey, MessageNumber, Message) VALUES (2, 12, 'twelve');"
    "INSERT INTO RL_Edits(PKey, EditTag, EditName, EditLogic) VALUES (1, 'E1', 'One', 'a'), (2, 'E2', 'Two', 'b');"
    "INSERT INTO RL_EditSets(PKey, EditSetTag, EditSetName) VALUES (1, 'S1', 'Set one');"
    "INSERT INTO RL_EditSetEditsPivot(EditSetPKey, EditPKey) VALUES (1, 1);"
    "INSERT INTO RL_Fields(PKey, FieldNumber, FieldName, LocalName, FieldLength) VALUES (1, 1, 'F1', 'L1', 5);"
    "INSERT INTO RL_Layouts(PKey, LayoutTag, LayoutName) VALUES (1, 'LA', 'A');"
    "INSERT INTO RL_LayoutFieldsPivot(LayoutPKey, FieldPKey, StartPos) VALUES (1, 1, 1);"
    "CREATE TABLE Zip([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5));"
    "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'Zip', 2);";

const char* const kSource =
    "INSERT INTO RL_Agencies(PKey, AdminCode, OrgName) VALUES (2, 'AG2', 'Two changed'), (3, 'AG3', 'Three'),"
    " (4, 'AG4', 'Two');"
    "INSERT INTO RL_Messages(PKey, MessageNumber, Message) VALUES (2, 12, 'twelve!'), (3, 13, 'TWELVE');"
    "INSERT INTO RL_Edits(PKey, EditTag, EditName, EditLogic) VALUES (1, 'E1', 'One', 'A'), (2, 'E2', 'Second', 'b'),"
    " (3, 'E3', 'Three', 'c');"
    "INSERT INTO RL_EditSets(PKey, EditSetTag, EditSetName) VALUES (1, 'S1', 'Set one'), (2, 'S2', 'Set two');"
    "INSERT INTO RL_EditSetEditsPivot(EditSetPKey, EditPKey) VALUES (1, 1), (1, 3);"
    "INSERT INTO RL_Fields(PKey, FieldNumber, FieldName, LocalName, FieldLength) VALUES (1, 1, 'F1', 'X1', 6),"
    " (2, 2, 'F2', 'L1', 5);"
    "INSERT INTO RL_Layouts(PKey, LayoutTag, LayoutName) VALUES (1, 'LA', 'A');"
    "INSERT INTO RL_LayoutFieldsPivot(LayoutPKey, FieldPKey, StartPos) VALUES (1, 1, 1);"
    "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'Zip', 3), (2, 'Counties', 2);"
    "CREATE TABLE Zip([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5));"
    "CREATE TABLE Counties([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5) UNIQUE, [Stamp] varchar(1));"
    "CREATE INDEX xCounties_Code ON [Counties] ([Code], [PKey]);"
    "CREATE TRIGGER _Counties_stamp AFTER UPDATE ON Counties BEGIN"
    " UPDATE Counties SET [Stamp] = 'x' WHERE PKey = new.PKey; END;"
    "INSERT INTO Counties(Code) VALUES ('A'), ('B');"
    "CREATE TABLE Busy([PKey] integer NOT NULL PRIMARY KEY, [N] integer);"
    "INSERT INTO Busy(N) VALUES (0), (0), (0);";

const char* const kNotOpen = "FImportMetafile is NULL; call OpenImportMetafile first";

class Import : public MetafileTest {
 protected:
  Import() : MetafileTest(kTarget) {}
  void SetUp() override {
    Source = File.other("source.smf", kSource);
    RawDB source(Source);
    add_refresh_triggers(source, "Busy", "UPDATE Busy SET N = N + 1 WHERE PKey = new.PKey AND N < 5;");
  }
  // Five triggers on the source's table, each running `action` once after a
  // row's key is written: an import refreshes its rows one by one.
  static void add_refresh_triggers(RawDB& source, const std::string& table, const std::string& action) {
    for (int i = 1; i <= 5; ++i)
      ASSERT_EQ(SQLITE_OK, source.exec("CREATE TRIGGER [_" + table + "_" + std::to_string(i) +
                                       "] AFTER UPDATE OF PKey ON [" + table + "] BEGIN " + action + " END;"));
  }
  Rows candidates(const char* table, const char* keyField = "") {
    Rows found;
    EXPECT_EQ(0, Qb_GetImportCandidates(h(), table, keyField, &found, collector<ImportCandidateCallback>())) << table;
    std::sort(found.begin(), found.end());
    return found;
  }
  // An error of the importer.
  static std::string import_error(const char* method, const std::string& message) {
    return class_error("TImportMetafile", method, message);
  }
  // The source's stored text of the object `name` made to read `sql`, which
  // the database would not store so (it keeps no IF NOT EXISTS).
  static std::string stored_text(const std::string& name, const std::string& sql) {
    return "PRAGMA writable_schema = ON; UPDATE sqlite_master SET sql = '" + sql + "' WHERE name = '" + name +
           "'; PRAGMA writable_schema = OFF;";
  }
  sqlite3* connection() { return InitCheck(h())->GetSQLDB()->Database(); }
  // Until a busy timeout is set again, `other` commits when the handle's
  // connection first waits for a lock.
  void commit_on_first_wait(RawDB& other) {
    sqlite3_busy_handler(
        connection(),
        [](void* raw, int waits) -> int { return waits == 0 && static_cast<RawDB*>(raw)->exec("COMMIT") == SQLITE_OK; },
        &other);
  }

  std::string Source;
};

}  // namespace

TEST_F(Import, OpenAndCloseWithTheImportSuperUser) {
  refused(Qb_CloseImportMetafile(h()), {tsmf_error("CloseImportMetafile", kNotOpen)});
  ASSERT_EQ(0, Qb_Login(h(), "", ""));
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  EXPECT_EQ(0, Qb_Edit(h(), "RL_Agencies", 2));  // every agency may be edited meanwhile
  EXPECT_EQ(0, Qb_Cancel(h(), "RL_Agencies"));
  refused(Qb_OpenImportMetafile(h(), Source.c_str()), {tsmf_error("OpenImportMetafile", "Import Metafile is already running")});
  ASSERT_EQ(0, Qb_Login(h(), "", ""));
  EXPECT_EQ(3, out_int(Qb_GetLoginsCount, h()));
  ASSERT_EQ(0, Qb_CloseImportMetafile(h()));
  EXPECT_EQ(2, out_int(Qb_GetLoginsCount, h()));  // only the import's super user left
  EXPECT_EQ(-1, Qb_Edit(h(), "RL_Agencies", 2));

  // A super user logged in before the import stays.
  ASSERT_EQ(0, Qb_Login(h(), kSuperUser, kSuperUserPassword));
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  ASSERT_EQ(0, Qb_CloseImportMetafile(h()));
  EXPECT_EQ(0, Qb_Edit(h(), "RL_Agencies", 2));
}

// One import object attaches one source: opening it again is refused and
// leaves the source attached and the super user logged in.
TEST_F(Import, AnImportObjectOpensOnce) {
  TSQLDB db;
  ASSERT_TRUE(db.OpenDatabase(path().c_str()));
  TEngineErrorsPump pump;
  TQb_AccessController access(&pump, &db);
  TImportMetafile import(&db, &pump, &access);
  ASSERT_EQ(0, import.Open(Source.c_str()));
  EXPECT_EQ(-1, import.Open(File.other("second.smf").c_str()));
  EXPECT_EQ("TImportMetafile::Open\xBB" "Another instance of TImportMetafile is active", pump_errors(pump));
  EXPECT_TRUE(import.IsAttached());
  EXPECT_TRUE(access.IsLoggedIn(2));
  EXPECT_EQ(0, import.Close());
  EXPECT_FALSE(access.IsLoggedIn(2));
}

TEST_F(Import, PathsAreDataAndFailedOpensOrClosesMayBeTriedAgain) {
  std::string quoted = File.other("it's; DETACH DATABASE main; --.smf");
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), quoted.c_str()));
  EXPECT_EQ(Rows{}, candidates("RL_LookupTables"));
  ASSERT_EQ(0, Qb_CloseImportMetafile(h()));

  std::string missing = File.file("no/such/dir.smf");
  refused(Qb_OpenImportMetafile(h(), missing.c_str()),
          {import_error("attach_to_metafile", "Cannot attach to metafile \"" + missing + "\""),
           import_error("attach_to_metafile", "unable to open database: file://" + missing + "?mode=rw"),
           import_error("attach_to_metafile", "SQL: ATTACH DATABASE ? AS SourceDB;")});
  EXPECT_EQ(-1, Qb_OpenImportMetafile(h(), Source.c_str()));
  EXPECT_EQ((Rows{"0", import_error("detach_from_metafile", "No attached metafile (did you call attach_to_metafile()?)")}),
            outcome(h(), Qb_CloseImportMetafile(h())));
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  // A detach that the database refuses keeps the import open for another try.
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  candidates("RL_Fields");
  refused(Qb_CloseImportMetafile(h()), {import_error("detach_from_metafile", "Cannot detach from metafile aliased \"SourceDB\""),
                                        import_error("detach_from_metafile", "database SourceDB is locked"),
                                        import_error("detach_from_metafile", "SQL: DETACH DATABASE SourceDB;")});
  EXPECT_EQ(-1, Qb_Edit(h(), "RL_Agencies", 2));  // the super user has left all the same
  ASSERT_EQ(0, Qb_CommitTrans(h()));
  EXPECT_EQ(0, Qb_CloseImportMetafile(h()));
  EXPECT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
}

// A source that does not exist is refused, as one that cannot be opened is,
// and is not made; nobody is logged in for it. A name holding "?", "#" or
// "%" names its own file, and ":memory:" no database of SQLite's own.
TEST_F(Import, AMissingSourceIsRefusedAndNotMade) {
  const int logins = out_int(Qb_GetLoginsCount, h());
  const std::string dir = File.file("");
  for (const auto& [name, uri] : {std::pair{"absent.smf", "file://" + dir + "absent.smf"},
                                  {"it?mode=rwc#1%41", "file://" + dir + "it%3Fmode%3Drwc%231%2541"},
                                  {":memory:", std::string("file:./%3Amemory%3A")}}) {
    std::string missing = name[0] == ':' ? name : dir + name;
    refused(Qb_OpenImportMetafile(h(), missing.c_str()),
            {import_error("attach_to_metafile", "Cannot attach to metafile \"" + missing + "\""),
             import_error("attach_to_metafile", "unable to open database: " + uri + "?mode=rw"),
             import_error("attach_to_metafile", "SQL: ATTACH DATABASE ? AS SourceDB;")});
    EXPECT_FALSE(std::filesystem::exists(missing)) << missing;
    EXPECT_EQ(logins, out_int(Qb_GetLoginsCount, h())) << missing;
    EXPECT_EQ((Rows{"0", import_error("detach_from_metafile", "No attached metafile (did you call attach_to_metafile()?)")}),
              outcome(h(), Qb_CloseImportMetafile(h())));
  }
  std::string odd = File.other("it?mode=rwc#1%41", "INSERT INTO RL_LookupTables VALUES (1, 1, 'Odd', 0, NULL, NULL);");
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), odd.c_str()));
  EXPECT_EQ(Rows{"RL_LookupTables|1|-1|Odd|NONE|1"}, candidates("RL_LookupTables"));
}

TEST_F(Import, CandidatesOfEveryControlTableAndRefusals) {
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  Rows all;
  for (const auto& [table, key] : {std::pair{"rl_agencies", ""}, {"RL_Edits", "edittag"}, {"RL_EDITS", "EditName"},
                                   {"RL_EditSets", "EditSetTag"}, {"RL_Fields", ""}, {"RL_Layouts", "LayoutTag"},
                                   {"RL_Messages", ""}, {"RL_LookupTables", ""}})
    for (const std::string& candidate : candidates(table, key)) all.push_back(candidate);
  EXPECT_EQ((Rows{"RL_Agencies|2|2|Two changed|AG2|2", "RL_Agencies|2|2|Two changed|AG2|3", "RL_Agencies|3|-1|Three|AG3|1",
                  "RL_Agencies|4|-1|Two|AG4|1", "RL_Agencies|4|2|Two|AG4|3",
                  // by tag, then by name
                  "RL_Edits|1|1|One|NONE|2", "RL_Edits|2|2|Second|NONE|2", "RL_Edits|2|2|Second|NONE|3",
                  "RL_Edits|3|-1|Three|NONE|1", "RL_Edits|1|1|One|NONE|2", "RL_Edits|2|-1|Second|NONE|1",
                  "RL_Edits|2|2|Second|NONE|3", "RL_Edits|3|-1|Three|NONE|1",
                  "RL_EditSets|1|1|Set one|NONE|2", "RL_EditSets|2|-1|Set two|NONE|1",
                  "RL_Fields|1|1|F1 [# 1]|NONE|2", "RL_Fields|1|1|F1 [# 1]|NONE|3", "RL_Fields|2|-1|F2 [# 2]|NONE|1",
                  "RL_Fields|2|1|F2 [# 2]|NONE|3", "RL_Layouts|1|1|A|NONE|2", "RL_Messages|2|2|12: twelve!|NONE|2",
                  "RL_Messages|3|-1|13: TWELVE|NONE|1", "RL_Messages|3|2|13: TWELVE|NONE|3",
                  "RL_LookupTables|1|1|Zip|NONE|2", "RL_LookupTables|2|-1|Counties|NONE|1"}),
            all);
  // The same members under the same tag and name are no candidate.
  ASSERT_EQ(SQLITE_OK, RawDB(path()).exec("INSERT INTO RL_Edits(PKey, EditTag, EditName) VALUES (3, 'E3', 'Three');"
                                          "INSERT INTO RL_EditSetEditsPivot(EditSetPKey, EditPKey) VALUES (1, 3);"
                                          "UPDATE RL_Fields SET FieldLength = 6;"));
  EXPECT_EQ((Rows{"RL_EditSets|2|-1|Set two|NONE|1"}), candidates("RL_EditSets", "EditSetTag"));
  EXPECT_EQ(Rows{}, candidates("RL_Layouts", "LayoutName"));
  ASSERT_EQ(0, Qb_CloseImportMetafile(h()));
  Rows found;
  refused(Qb_GetImportCandidates(h(), "RL_Fields", "", &found, collector<ImportCandidateCallback>()),
          {tsmf_error("GetImportCandidates", kNotOpen)});
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  refused(Qb_GetImportCandidates(h(), "RL_Fields", "", nullptr, collector<ImportCandidateCallback>()),
          {import_error("GetImportCandidates", "Callback owner and callback function must not be NULL")});
  std::string longName(120, 'z');
  refused(Qb_GetImportCandidates(h(), longName.c_str(), "", &found, collector<ImportCandidateCallback>()),
          {import_error("GetImportCandidates", ("Table '" + longName + "' is not a Metafile Consituent Object").substr(0, 99))});
  EXPECT_EQ(-1, Qb_GetImportCandidates(h(), "RL_Edits", nullptr, &found, collector<ImportCandidateCallback>()));
  EXPECT_EQ(-1, Qb_GetImportCandidates(h(), nullptr, "", &found, collector<ImportCandidateCallback>()));
  ASSERT_EQ(SQLITE_OK, RawDB(Source).exec("DROP TABLE RL_LayoutFieldsPivot"));
  EXPECT_EQ(-1, Qb_GetImportCandidates(h(), "RL_Layouts", "LayoutTag", &found, collector<ImportCandidateCallback>()));
  Rows errors = engine_errors(h());
  ASSERT_EQ(3u, errors.size());
  EXPECT_EQ(import_error("get_layouts", "Cannot get Layouts from source metafile "), errors[0]);
  EXPECT_EQ(0u, errors[2].find(import_error("get_layouts", "SQL: SELECT src.PKey as SrcPKey, targ.PKey as TargPKey, src.LayoutName")));
  EXPECT_EQ(Rows{}, found);  // the layouts' first passes found nothing to report
}

// Cut to an int, a source key would name source row 2 to the host.
TEST_F(Import, KeysBeyondAnIntAreRefusedNotCut) {
  ASSERT_EQ(SQLITE_OK, RawDB(Source).exec("UPDATE RL_Edits SET PKey = 4294967298 WHERE PKey = 3;"));
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  Rows found;
  refused(Qb_GetImportCandidates(h(), "RL_Edits", "EditTag", &found, collector<ImportCandidateCallback>()),
          {import_error("get_edits", "Cannot get Edits from source metafile "),
           import_error("get_edits", key_refusal("4294967298", "SourceDB.RL_Edits")),
           import_error("get_edits", "SQL: SELECT src.PKey as SrcPKey, src.EditName, sa.AdminCode FROM "
                                     "SourceDB.RL_Edits src, SourceDB.RL_Agencies sa WHERE src.AgencyPKey = sa.PKey "
                                     "AND NOT EXISTS ( SELECT targ.PKey FROM RL_Edits targ WHERE targ.EditTag = "
                                     "src.EditTag ); ")});
  EXPECT_EQ(Rows{}, found);
}

// A listing called from another's callback delivers to its own owner and
// gives the outer listing its owner back for the rows still to come.
TEST_F(Import, NestedListingsDeliverToTheirOwnOwners) {
  struct Outer {
    int Handle;
    Rows Delivered, Inner;
    int InnerResult;
  } outer{h(), {}, {}, -99};
  ImportCandidateCallback listing = [](void* owner, const char* table, int source, int target, const char* display,
                                       const char* adminCode, int kind) {
    Outer* o = static_cast<Outer*>(owner);  // a null owner crashes here
    collect(&o->Delivered, table, source, target, display, adminCode, kind);
    if (o->Delivered.size() == 1)
      o->InnerResult = Qb_GetImportCandidates(o->Handle, "RL_Fields", "", &o->Inner, collector<ImportCandidateCallback>());
    return 0;
  };
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  EXPECT_EQ(0, Qb_GetImportCandidates(h(), "RL_Edits", "EditTag", &outer, fn(listing)));
  EXPECT_EQ(0, outer.InnerResult);
  std::sort(outer.Delivered.begin(), outer.Delivered.end());
  std::sort(outer.Inner.begin(), outer.Inner.end());
  EXPECT_EQ(candidates("RL_Edits", "EditTag"), outer.Delivered);
  EXPECT_EQ((Rows{"RL_Fields|1|1|F1 [# 1]|NONE|2", "RL_Fields|1|1|F1 [# 1]|NONE|3", "RL_Fields|2|-1|F2 [# 2]|NONE|1",
                  "RL_Fields|2|1|F2 [# 2]|NONE|3"}),
            outer.Inner);
  EXPECT_EQ((Rows{"RL_Messages|2|2|12: twelve!|NONE|2", "RL_Messages|3|-1|13: TWELVE|NONE|1",
                  "RL_Messages|3|2|13: TWELVE|NONE|3"}),
            candidates("RL_Messages"));
}

TEST_F(Import, LookupTablesWithIndexesRowsAndTriggers) {
  EXPECT_EQ(-1, Qb_ImportLookupTable(h(), "Counties"));
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  Rows catalogue = rows("SELECT * FROM RL_LookupTables");
  ASSERT_EQ(0, Qb_ImportLookupTable(h(), "Counties"));
  EXPECT_EQ((Rows{"1|A|x", "2|B|x"}), rows("SELECT * FROM Counties"));
  EXPECT_EQ((Rows{"index|sqlite_autoindex_Counties_1", "index|xCounties_Code", "table|Counties",
                  "trigger|_Counties_stamp"}),
            rows("SELECT type, name FROM sqlite_master WHERE tbl_name = 'Counties' ORDER BY type, name"));
  EXPECT_EQ(catalogue, rows("SELECT * FROM RL_LookupTables"));
  EXPECT_EQ(3, out_int(Edit_GetColumnsCount, h(), "Counties"));
  ASSERT_EQ(0, Qb_ImportLookupTable(h(), "Busy"));  // five triggers: one refresh per row
  EXPECT_EQ((Rows{"5", "5", "5"}), rows("SELECT N FROM Busy"));
  EXPECT_EQ("0", RawDB(Source).value("SELECT max(N) FROM Busy"));

  // A restructure never reaches the source's table of that name.
  ASSERT_EQ(SQLITE_OK, RawDB(Source).exec("CREATE TABLE Only(a); INSERT INTO Only VALUES (1);"));
  ASSERT_EQ(0, Qb_DefineTableStructure(h(), "Only", 1));
  ASSERT_EQ(0, Qb_AddColumnDef(h(), "a", "a", 1, 0, 1, 0, nullptr, nullptr, nullptr, nullptr, 0));
  int pkey = 0;
  EXPECT_EQ(-1, Qb_CreateTable(h(), &pkey));
  EXPECT_EQ(writer_error("CreateTable", "no such table: main.Only"), engine_errors(h())[2]);
  EXPECT_EQ("1", RawDB(Source).value("SELECT a FROM Only"));
}

TEST_F(Import, FailedLookupTableImportsLeaveNothing) {
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  Rows before = snapshot(path());
  auto import_refused = [&](const char* table, Rows messages) {
    for (std::string& message : messages) message = import_error("ImportLookupTable", message);
    refused(Qb_ImportLookupTable(h(), table), messages);
  };
  const char* schemaQuery = "SQL: SELECT m.sql FROM SourceDB.sqlite_master m WHERE m.tbl_name = ? AND m.type LIKE 'table%';";
  import_refused("counties",  // the name must be spelled as the source spells it
                 {"Cannot import lookup table \"counties\"", "The source metafile has no table of that name", schemaQuery});
  import_refused("RL_Edits", {"You may not start a look-up table name with \"RL_\""});
  ASSERT_EQ(SQLITE_OK, RawDB(Source).exec("CREATE TRIGGER _Counties_fail AFTER UPDATE ON Counties BEGIN"
                                          " SELECT RAISE(ABORT, 'refused'); END;"));
  EXPECT_EQ(-1, Qb_ImportLookupTable(h(), "Counties"));  // the refresh fails: no half-imported table
  EXPECT_EQ(import_error("ImportLookupTable", "refused"), engine_errors(h())[1]);
  EXPECT_EQ(before, snapshot(path()));
  EXPECT_EQ(-1, Qb_Edit(h(), "Counties", 1));
}

TEST_F(Import, StoredPasswordsArriveUnchanged) {
  refused(Qb_ImportWritePassword(h(), 2, "x"), {tsmf_error("ImportWritePassword", kNotOpen)});
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  ASSERT_EQ(3, insert_row(h(), "RL_Agencies", {{"AdminCode", "SRC"}, {"OrgName", "Source"}, {"Password", "secret"}}));
  std::string stored = value("SELECT Password FROM RL_Agencies WHERE PKey = 3");
  EXPECT_EQ(0, Qb_ImportWritePassword(h(), 2, stored.c_str()));
  EXPECT_EQ(0, Qb_ImportWritePassword(h(), 99, stored.c_str()));  // no such agency: nothing written
  ASSERT_EQ(0, Qb_CloseImportMetafile(h()));
  EXPECT_EQ(0, Qb_Login(h(), "AG2", "secret"));

  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  EXPECT_EQ(0, Qb_ImportWritePassword(h(), 2, "it's'; DELETE FROM RL_Agencies; --"));
  EXPECT_EQ((Rows{"it's'; DELETE FROM RL_Agencies; --|3"}),
            rows("SELECT Password, (SELECT count(*) FROM RL_Agencies) FROM RL_Agencies WHERE PKey = 2"));
}

// A table declared WITHOUT ROWID whose name holds "?" is imported, its rows
// refreshed one by one under its five triggers, and read into the model.
TEST_F(Import, ATableWithoutRowidWithAQuestionMarkInItsName) {
  RawDB source(Source);
  ASSERT_EQ(SQLITE_OK, source.exec("CREATE TABLE [Who?]([PKey] integer NOT NULL PRIMARY KEY, [N] integer) WITHOUT ROWID;"
                                   "INSERT INTO [Who?] VALUES (1, 0), (2, 0);"));
  add_refresh_triggers(source, "Who?", "UPDATE [Who?] SET N = N + 1 WHERE PKey = new.PKey AND N < 5;");
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  ASSERT_EQ(0, Qb_ImportLookupTable(h(), "Who?"));
  EXPECT_EQ((Rows{"1|5", "2|5"}), rows("SELECT * FROM [Who?]"));
  EXPECT_EQ(5, out_int(Edit_GetTriggerCount, h(), "Who?"));
  EXPECT_EQ(2, out_int(Edit_GetColumnsCount, h(), "Who?"));
}

// Rows refreshed one by one are found by their own keys, whatever they hold:
// five triggers fill every Tag of a table keyed by text, with or without
// rowid, and count each row once in a table keyed by integers beyond 32 bits,
// a real that 15 digits do not spell, a real whose quote() reads back as
// another number, both infinities, a quote, a NUL byte, a blob, a number and a
// text that read alike, and NULL in two rows; a column named Inf is no key. A
// refresh that a trigger refuses is reported with its statement and leaves
// nothing behind.
TEST_F(Import, RowsRefreshedOneByOneWhateverTheirKeysHold) {
  RawDB source(Source);
  for (const std::string table : {"Lettered", "Unnumbered", "Refusing"}) {
    ASSERT_EQ(SQLITE_OK, source.exec("CREATE TABLE " + table +
                                     "([PKey] text NOT NULL PRIMARY KEY, [Name] varchar(10), [Tag] varchar(1))" +
                                     (table == "Unnumbered" ? " WITHOUT ROWID;" : ";") + "INSERT INTO " + table +
                                     "(PKey, Name) VALUES ('k1', 'ann'), ('k2', 'bob'), ('7', 'cy');"));
    add_refresh_triggers(source, table, "UPDATE " + table + " SET Tag = upper(Name) WHERE PKey = new.PKey;");
  }
  ASSERT_EQ(SQLITE_OK, source.exec("CREATE TRIGGER _Refusing_bob AFTER UPDATE ON Refusing WHEN new.Name = 'bob'"
                                   " BEGIN SELECT RAISE(ABORT, 'not bob'); END;"
                                   "CREATE TABLE Kinds([PKey] PRIMARY KEY, [Name] varchar(10), [Hits] DEFAULT 0);"
                                   "INSERT INTO Kinds(PKey, Name) VALUES (4294967297, 'big'), (-2147483649, 'low'),"
                                   " (0.1 + 0.2, 'sum'), ('it''s', 'quote'), (CAST(X'610062' AS TEXT), 'nul'),"
                                   " (X'00FF', 'blob'), (7, 'seven'), ('7', 'text7'), (NULL, 'none1'), (NULL, 'none2'),"
                                   " (1e-300 / 11, 'tiny'), (9e999, 'inf'), (-9e999, 'minf');"
                                   "CREATE TABLE Infinite([PKey] PRIMARY KEY, [Name] varchar(10), [Inf], [Hits] DEFAULT 0);"
                                   "INSERT INTO Infinite(PKey, Name, Inf) VALUES (9e999, 'inf', 1), (1, 'one', 1), (2, 'two', 1);"));
  for (const std::string table : {"Kinds", "Infinite"})
    add_refresh_triggers(source, table,
                         "UPDATE " + table + " SET Hits = Hits + 1 WHERE PKey IS new.PKey AND Name = new.Name;");
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  for (const char* table : {"Lettered", "Unnumbered", "Kinds", "Infinite"})
    ASSERT_EQ(0, Qb_ImportLookupTable(h(), table)) << table;
  const Rows tagged{"7|cy|CY", "k1|ann|ANN", "k2|bob|BOB"};
  EXPECT_EQ(tagged, rows("SELECT * FROM Lettered ORDER BY PKey"));
  EXPECT_EQ(tagged, rows("SELECT * FROM Unnumbered ORDER BY PKey"));
  EXPECT_EQ((Rows{"big|5", "blob|5", "inf|5", "low|5", "minf|5", "none1|5", "none2|5", "nul|5", "quote|5", "seven|5",
                  "sum|5", "text7|5", "tiny|5"}),
            rows("SELECT Name, Hits FROM Kinds ORDER BY Name"));
  EXPECT_EQ((Rows{"inf|5", "one|5", "two|5"}), rows("SELECT Name, Hits FROM Infinite ORDER BY Name"));
  Rows before = snapshot(path());
  refused(Qb_ImportLookupTable(h(), "Refusing"),
          {import_error("ImportLookupTable", "Cannot import lookup table \"Refusing\""),
           import_error("ImportLookupTable", "not bob"),
           import_error("ImportLookupTable", "SQL: UPDATE main.[Refusing] SET PKey=PKey WHERE PKey IS ?;")});
  EXPECT_EQ(before, snapshot(path()));
}

// A trigger of the source's table that would write a control table, in any
// spelling, through a view or another table's trigger (one that a REPLACE
// fires too), whenever it fires and whatever its WHEN clause says, is
// refused, named beside other triggers, with nothing left changed; so is one
// that does not compile in the metafile, or that fires on no statement the
// table takes, either of which would hide what it writes. One that reads a
// control table, or writes only its own table, imports.
TEST_F(Import, TriggersThatWouldWriteAControlTableAreRefused) {
  exec("CREATE TABLE Other(a); CREATE TRIGGER _Other_log AFTER INSERT ON Other BEGIN"
       " UPDATE RL_Messages SET Message = 'x' WHERE PKey = 1; END;"
       "CREATE VIEW Entry AS SELECT 1 AS a; CREATE TRIGGER _Entry_in INSTEAD OF INSERT ON Entry BEGIN"
       " DELETE FROM RL_Agencies WHERE PKey = 2; END;"
       "CREATE TABLE Unique1(a UNIQUE); CREATE TRIGGER _Unique1_out AFTER DELETE ON Unique1 BEGIN"
       " DELETE FROM RL_Messages WHERE PKey = 2; END;");
  const std::string zap = "DROP TABLE IF EXISTS Zap; CREATE TABLE Zap([PKey] integer NOT NULL PRIMARY KEY,"
                          " [Code] varchar(5), [Stamp] varchar(1)); INSERT INTO Zap(Code) VALUES ('a'), ('b');";
  const std::string writes = "Trigger \"_Zap_1\" would write control table ";
  const std::string one = "CREATE TRIGGER _Zap_1 ";
  struct Form {
    std::string source;  // after the table, or in its place
    std::string reason;  // empty: it imports
  } forms[] = {
      {one + "AFTER UPDATE ON Zap WHEN new.PKey = 1 BEGIN UPDATE RL_Agencies SET PKey = 77 WHERE PKey = 1;"
             " UPDATE RL_Agencies SET PKey = 1 WHERE PKey = 2; END;",
       writes + "\"RL_Agencies\""},
      {one + "AFTER UPDATE OF Code ON Zap WHEN new.Code = 'go' BEGIN DELETE FROM rl_messages WHERE PKey > 1; END;",
       writes + "\"RL_Messages\""},
      {one + "BEFORE DELETE ON Zap BEGIN INSERT INTO \"RL_Agencies\"(AdminCode, OrgName) VALUES ('x', 'y'); END;",
       writes + "\"RL_Agencies\""},
      {one + "AFTER INSERT ON Zap BEGIN REPLACE INTO [Rl_Edits](PKey, EditTag, EditName) VALUES (1, 'E', 'e'); END;",
       writes + "\"RL_Edits\""},
      {one + "AFTER INSERT ON Zap BEGIN INSERT INTO `RL_Fields`(PKey, FieldNumber, FieldName, LocalName, FieldLength)"
             " VALUES (1, 1, 'F', 'F', 1) ON CONFLICT DO UPDATE SET FieldName = 'G'; END;",
       writes + "\"RL_Fields\""},
      {one + "AFTER UPDATE OF rowid ON Zap WHEN 0 BEGIN DELETE FROM RL_LayoutFieldsPivot; END;",
       writes + "\"RL_LayoutFieldsPivot\""},
      {one + "AFTER UPDATE ON Zap BEGIN INSERT INTO Other VALUES (new.Code); END;", writes + "\"RL_Messages\""},
      {one + "AFTER DELETE ON Zap BEGIN INSERT INTO Entry VALUES (1); END;", writes + "\"RL_Agencies\""},
      {one + "AFTER INSERT ON Zap BEGIN INSERT OR REPLACE INTO Unique1 VALUES (new.Code); END;",
       writes + "\"RL_Messages\""},
      {"CREATE TRIGGER _Zap_0 AFTER UPDATE ON Zap BEGIN SELECT 1; END;" + one +
           "AFTER DELETE ON Zap BEGIN DELETE FROM RL_Agencies; END;"
           "CREATE TRIGGER _Zap_2 AFTER INSERT ON Zap BEGIN SELECT 2; END;",
       writes + "\"RL_Agencies\""},
      {one + "AFTER INSERT ON Zap BEGIN INSERT INTO Later VALUES (1); DELETE FROM RL_Agencies; END;",
       "Trigger \"_Zap_1\" would not work in the metafile: no such table: main.Later"},
      // An INSERT that takes the default would not compile whatever the triggers.
      {"DROP TABLE Zap; CREATE TABLE Zap([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5) DEFAULT (nofunc()),"
       " [Stamp] varchar(1)); INSERT INTO Zap(Code) VALUES ('a'), ('b');" +
           one + "AFTER INSERT ON Zap BEGIN INSERT INTO Later VALUES (1); DELETE FROM RL_Messages; END;",
       "Trigger \"_Zap_1\" would not work in the metafile: no such table: main.Later"},
      {one + "AFTER UPDATE OF Future ON Zap BEGIN UPDATE RL_Messages SET Message = 'x'; END;",
       "Trigger \"_Zap_1\" fires on no statement that table \"Zap\" takes, so what it would write cannot be told"},
      {one + "AFTER UPDATE ON Zap BEGIN UPDATE Zap SET Stamp = (SELECT min(AdminCode) FROM RL_Agencies)"
             " WHERE PKey = new.PKey; END;",
       ""},
  };
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  for (const Form& form : forms) {
    ASSERT_EQ(SQLITE_OK, RawDB(Source).exec(zap + form.source)) << form.source;
    if (form.reason.empty()) {
      ASSERT_EQ(0, Qb_ImportLookupTable(h(), "Zap")) << form.source;
      EXPECT_EQ((Rows{"1|a|AG2", "2|b|AG2"}), rows("SELECT * FROM Zap"));
      continue;
    }
    Rows before = snapshot(path());
    refused(Qb_ImportLookupTable(h(), "Zap"),
            {import_error("ImportLookupTable", "Cannot import lookup table \"Zap\""),
             import_error("ImportLookupTable", form.reason),
             import_error("ImportLookupTable",
                          "SQL: SELECT m.sql FROM SourceDB.sqlite_master m WHERE m.tbl_name = ? AND m.type LIKE "
                          "'trigger%';")});
    EXPECT_EQ(before, snapshot(path())) << form.source;
    EXPECT_EQ(-1, Qb_Edit(h(), "Zap", 1)) << form.source;  // the table model has no such table
  }
}

// A source text is run in the metafile only where the database, preparing
// it, reports that it makes the table, an index or a trigger on it there and
// nothing else: a temporary trigger, which the source's catalogue can list as
// a trigger of the table, would outlive the import on the connection.
TEST_F(Import, SourceTextsMakeOnlyTheTableItsIndexesAndTriggersInTheMetafile) {
  ASSERT_EQ(SQLITE_OK, RawDB(Source).exec(
                           "CREATE TABLE Zap([PKey] integer NOT NULL PRIMARY KEY, [Code]); INSERT INTO Zap VALUES (1, 'a');"
                           "CREATE TRIGGER evil AFTER UPDATE ON Zap BEGIN SELECT 1; END; PRAGMA writable_schema = ON;"
                           "UPDATE sqlite_master SET sql = 'CREATE TEMP TRIGGER evil AFTER UPDATE ON main.Zap BEGIN"
                           " UPDATE Zap SET Code = ''b''; END' WHERE name = 'evil';"));
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  Rows before = snapshot(path());
  refused(Qb_ImportLookupTable(h(), "Zap"),
          {import_error("ImportLookupTable", "Cannot import lookup table \"Zap\""),
           import_error("ImportLookupTable",
                        "A text of the source would make trigger \"evil\" on table \"Zap\" in temp, not table "
                        "\"Zap\" or an index or a trigger of it in the metafile"),
           import_error("ImportLookupTable",
                        "SQL: SELECT m.sql FROM SourceDB.sqlite_master m WHERE m.tbl_name = ? AND m.type LIKE "
                        "'trigger%';")});
  EXPECT_EQ(before, snapshot(path()));
  RawDB other(path());
  ASSERT_EQ(SQLITE_OK, other.exec("CREATE TABLE Zap(PKey integer PRIMARY KEY, Code); INSERT INTO Zap VALUES (1, 'a');"));
  EXPECT_EQ(0, Qb_BeginTrans(h()));  // no trigger of the connection's own fires on the table now
  EXPECT_EQ(0, Qb_Edit(h(), "Zap", 1));
  EXPECT_EQ(0, Qb_SetFieldByName(h(), "Zap", "Code", "c"));
  int pkey = 0;
  EXPECT_EQ(0, Qb_Post(h(), "Zap", &pkey));
  EXPECT_EQ(0, Qb_CommitTrans(h()));
  EXPECT_EQ("c", value("SELECT Code FROM Zap"));
}

// Every object an import makes is new: a name the metafile (or its
// connection's temporary schema) holds, letter case aside, under the
// table's name or under the name of an index or trigger that the source's
// catalogue lists for the table, refuses the import before anything runs,
// whatever the source's text says (IF NOT EXISTS included).
TEST_F(Import, NamesTheMetafileHoldsAreRefusedBeforeAnythingRuns) {
  exec("CREATE TABLE B([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5));"
       "INSERT INTO B(Code) VALUES ('1'), ('2'), ('3');"
       "CREATE VIEW VW AS SELECT 1 AS PKey, 'x' AS Code; CREATE TRIGGER _VW_in INSTEAD OF INSERT ON VW BEGIN"
       " INSERT INTO RL_Messages(MessageNumber, Message) VALUES (99, 'through the view'); END;"
       "CREATE INDEX xZip_Code ON Zip(Code); CREATE TRIGGER _Zip_t AFTER UPDATE ON Zip BEGIN SELECT 1; END;");
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(connection(), "CREATE TEMP TABLE Tmp(a);", nullptr, nullptr, nullptr));
  const std::string columns = "([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5))", table = columns + ";";
  auto if_not_exists = [&](const std::string& name) {
    return "INSERT INTO " + name + " VALUES (200, 'a'), (201, 'b');" +
           stored_text(name, "CREATE TABLE IF NOT EXISTS " + name + columns);
  };
  const std::string newTable = "CREATE TABLE New" + table;
  struct Form {
    const char* name;
    std::string source;
    std::string held;
  } forms[] = {
      {"B", "CREATE TABLE B" + table, "table \"B\""},
      {"B",
       "CREATE TABLE B" + table + "CREATE TRIGGER _B_src AFTER UPDATE ON B BEGIN UPDATE B SET Code = Code || 'src!'"
           " WHERE PKey = 1; END;" + if_not_exists("B"),
       "table \"B\""},
      {"b", "CREATE TABLE b" + table, "table \"B\""},
      {"VW", "CREATE TABLE VW" + table + if_not_exists("VW"), "view \"VW\""},
      {"Tmp", "CREATE TABLE Tmp" + table, "temporary table \"Tmp\""},
      {"New", newTable + "CREATE INDEX XZIP_CODE ON New(Code);", "index \"xZip_Code\""},
      {"New", newTable + "CREATE TRIGGER [_zip_T] AFTER UPDATE ON New BEGIN SELECT 1; END;", "trigger \"_Zip_t\""},
      {"New", newTable + "CREATE TRIGGER Zip AFTER UPDATE ON New BEGIN SELECT 1; END;", "table \"Zip\""},
  };
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  for (const Form& form : forms) {
    ASSERT_EQ(SQLITE_OK, RawDB(Source).exec("DROP TABLE IF EXISTS B; DROP TABLE IF EXISTS VW; DROP TABLE IF EXISTS Tmp;"
                                            "DROP TABLE IF EXISTS New;" + form.source))
        << form.source;
    Rows before = snapshot(path());
    refused(Qb_ImportLookupTable(h(), form.name),
            {import_error("ImportLookupTable", "Cannot import lookup table \"" + std::string(form.name) + "\""),
             import_error("ImportLookupTable", "The metafile already holds " + form.held)});
    EXPECT_EQ(before, snapshot(path())) << form.source;
  }
  // Named anew, the index and the trigger import with their table.
  ASSERT_EQ(SQLITE_OK, RawDB(Source).exec("DROP TABLE New;" + newTable + "INSERT INTO New VALUES (200, 'a');"
                                          "CREATE INDEX xNew_Code ON New(Code);"
                                          "CREATE TRIGGER _New_t AFTER UPDATE ON New BEGIN SELECT 1; END;"));
  ASSERT_EQ(0, Qb_ImportLookupTable(h(), "New"));
  EXPECT_EQ((Rows{"200|a"}), rows("SELECT * FROM New"));
}

// A name taken by another connection while the import waits for the
// metafile's write lock, once the names were found free: a text that then
// makes nothing new (IF NOT EXISTS) is refused once it has run, with what
// the metafile holds under its name, and the import is undone; a plain text
// fails as the database says.
TEST_F(Import, ANameTakenWhileTheImportWaitsIsNeverWrittenInto) {
  const std::string table = "([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5))";
  const std::string query = "SQL: SELECT m.sql FROM SourceDB.sqlite_master m WHERE m.tbl_name = ? AND m.type LIKE '";
  const std::string nothingNew = "A text of the source makes nothing new in the metafile, which already holds ";
  struct Form {
    std::string source;  // beside the table New with rows 200 and 201
    std::string taken;   // what the other connection makes meanwhile
    Rows reasons;        // after "Cannot import lookup table "New""
  } forms[] = {
      {stored_text("New", "CREATE TABLE IF NOT EXISTS New" + table), "CREATE TABLE New" + table + ";",
       {nothingNew + "table \"New\"", query + "table%';"}},
      {"", "CREATE TABLE New" + table + ";", {"table New already exists", query + "table%';"}},
      {"CREATE INDEX xNew_Code ON New(Code);" +
           stored_text("xNew_Code", "CREATE INDEX IF NOT EXISTS xNew_Code ON New(Code)"),
       "CREATE INDEX xnew_code ON Zip(Code);", {nothingNew + "index \"xnew_code\"", query + "index%';"}},
      {"CREATE TRIGGER _New_t AFTER UPDATE ON New BEGIN SELECT 1; END;" +
           stored_text("_New_t", "CREATE TRIGGER IF NOT EXISTS _New_t AFTER UPDATE ON New BEGIN SELECT 1; END"),
       "CREATE TRIGGER _New_t AFTER UPDATE ON Zip BEGIN SELECT 1; END;",
       {nothingNew + "trigger \"_New_t\"", query + "trigger%';"}},
      {"CREATE INDEX xNew_Code ON New(Code);", "CREATE INDEX xNew_Code ON Zip(Code);",
       {"index xNew_Code already exists", query + "index%';"}},
  };
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  for (const Form& form : forms) {
    ASSERT_EQ(SQLITE_OK, RawDB(Source).exec("DROP TABLE IF EXISTS New; CREATE TABLE New" + table +
                                            "; INSERT INTO New VALUES (200, 'a'), (201, 'b');" + form.source))
        << form.source;
    // What the file holds once the other connection has made its object, and nothing more.
    std::string expected = File.file("expected.smf");
    std::filesystem::copy_file(path(), expected, std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(SQLITE_OK, RawDB(expected).exec(form.taken));
    RawDB other(path());
    ASSERT_EQ(SQLITE_OK, other.exec("BEGIN IMMEDIATE;" + form.taken));
    commit_on_first_wait(other);
    Rows errors{import_error("ImportLookupTable", "Cannot import lookup table \"New\"")};
    for (const std::string& reason : form.reasons) errors.push_back(import_error("ImportLookupTable", reason));
    refused(Qb_ImportLookupTable(h(), "New"), errors);
    sqlite3_busy_timeout(connection(), kBusyTimeoutMs);
    EXPECT_EQ(snapshot(expected), snapshot(path())) << form.source;
    ASSERT_EQ(SQLITE_OK, other.exec("DROP TABLE IF EXISTS New; DROP INDEX IF EXISTS xNew_Code;"
                                    "DROP TRIGGER IF EXISTS _New_t;"));
  }
}

// An import that leaves a foreign key broken (its own rows', or a row its
// refresh writes or deletes elsewhere) is refused and undone, inside the
// host's transaction as outside it, and the host's own writes still commit;
// checks the host's transaction held pending before are not the import's.
TEST_F(Import, AnImportThatBreaksAForeignKeyIsRefusedAndUndone) {
  exec("CREATE TABLE F1([PKey] integer NOT NULL PRIMARY KEY); INSERT INTO F1 VALUES (1);"
       "CREATE TABLE G([PKey] integer NOT NULL PRIMARY KEY, [Parent] integer REFERENCES F1(PKey)"
       " DEFERRABLE INITIALLY DEFERRED); INSERT INTO G VALUES (1, 1);");
  const std::string referring = "([PKey] integer NOT NULL PRIMARY KEY, [Parent] integer REFERENCES F1(PKey)"
                                " DEFERRABLE INITIALLY DEFERRED);";
  ASSERT_EQ(SQLITE_OK, RawDB(Source).exec(
                           "CREATE TABLE F1([PKey] integer NOT NULL PRIMARY KEY);"
                           "CREATE TABLE Clean" + referring + "INSERT INTO Clean VALUES (1, 1);"
                           "CREATE TABLE Broken" + referring + "INSERT INTO Broken VALUES (1, 77);"
                           "CREATE TABLE Writer([PKey] integer NOT NULL PRIMARY KEY); INSERT INTO Writer VALUES (1);"
                           "CREATE TRIGGER _Writer_g AFTER UPDATE ON Writer BEGIN"
                           " INSERT INTO G(Parent) VALUES (88); END;"
                           "CREATE TABLE Remover([PKey] integer NOT NULL PRIMARY KEY); INSERT INTO Remover VALUES (1);"
                           "CREATE TRIGGER _Remover_f AFTER UPDATE ON Remover BEGIN DELETE FROM F1; END;"));
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  const Rows broken{"-1", import_error("ImportLookupTable", "FOREIGN KEY constraint failed")};
  enum Host { Alone, InTransaction, WithItsOwnPending };
  for (Host host : {Alone, InTransaction, WithItsOwnPending}) {
    SCOPED_TRACE(host);
    Rows before = snapshot(path());
    if (host != Alone) {
      ASSERT_EQ(0, Qb_BeginTrans(h()));
      ASSERT_LT(0, insert_row(h(), "RL_Messages", {{"MessageNumber", "50"}, {"Message", "the host's"}}));
    }
    if (host == WithItsOwnPending) {
      ASSERT_EQ(2, insert_row(h(), "G", {{"Parent", "99"}}));
    }
    for (const char* table : {"Broken", "Writer", "Remover"}) {
      EXPECT_EQ(broken, outcome(h(), Qb_ImportLookupTable(h(), table))) << table;
      EXPECT_EQ(-1, Qb_Insert(h(), table)) << table;  // the table model has no such table
    }
    EXPECT_EQ((Rows{"0"}), outcome(h(), Qb_ImportLookupTable(h(), "Clean")));
    if (host == WithItsOwnPending) {
      ASSERT_EQ(99, insert_row(h(), "F1", {{"PKey", "99"}}));  // the host mends its own
    }
    if (host != Alone) {
      ASSERT_EQ(0, Qb_CommitTrans(h()));
    }
    EXPECT_EQ((Rows{"1|1"}), rows("SELECT * FROM Clean"));
    EXPECT_EQ(host == Alone ? "" : "the host's", value("SELECT Message FROM RL_Messages WHERE MessageNumber = 50"));
    EXPECT_EQ(host == WithItsOwnPending ? "1,99" : "1", value("SELECT group_concat(Parent) FROM G"));
    EXPECT_EQ(host == WithItsOwnPending ? "1,99" : "1", value("SELECT group_concat(PKey) FROM F1"));
    EXPECT_EQ("Clean", value("SELECT group_concat(name) FROM sqlite_master WHERE name IN"
                             " ('Clean', 'Broken', 'Writer', 'Remover')"));
    exec("DROP TABLE Clean; DELETE FROM RL_Messages WHERE MessageNumber = 50; DELETE FROM G WHERE PKey = 2;"
         "DELETE FROM F1 WHERE PKey = 99;");
    EXPECT_EQ(before, snapshot(path()));
  }
}

// Rows the metafile holds broken already (written by a connection without
// foreign keys) that an import's rows mend do not hide a reference the
// import breaks itself, outside the host's transaction as inside it; an
// import that only mends them is kept.
TEST_F(Import, ReferencesAnImportMendsDoNotHideOneItBreaks) {
  exec("CREATE TABLE F1([PKey] integer NOT NULL PRIMARY KEY); INSERT INTO F1 VALUES (1);"
       "CREATE TABLE G([PKey] integer NOT NULL PRIMARY KEY, [Parent] integer REFERENCES B(PKey)"
       " DEFERRABLE INITIALLY DEFERRED); INSERT INTO G VALUES (1, 1);");
  ASSERT_EQ(SQLITE_OK, RawDB(Source).exec("CREATE TABLE B([PKey] integer NOT NULL PRIMARY KEY, [Ref] integer"
                                          " REFERENCES F1(PKey) DEFERRABLE INITIALLY DEFERRED);"
                                          "INSERT INTO B VALUES (1, 77);"));
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  for (bool inTransaction : {false, true}) {
    SCOPED_TRACE(inTransaction ? "in a transaction" : "alone");
    Rows before = snapshot(path());
    ASSERT_EQ(0, inTransaction ? Qb_BeginTrans(h()) : 0);
    EXPECT_EQ((Rows{"-1", import_error("ImportLookupTable", "FOREIGN KEY constraint failed")}),
              outcome(h(), Qb_ImportLookupTable(h(), "B")));
    ASSERT_EQ(0, inTransaction ? Qb_CommitTrans(h()) : 0);
    EXPECT_EQ(before, snapshot(path()));
  }
  ASSERT_EQ(SQLITE_OK, RawDB(Source).exec("UPDATE B SET Ref = 1;"));
  EXPECT_EQ((Rows{"0"}), outcome(h(), Qb_ImportLookupTable(h(), "B")));
  EXPECT_EQ(Rows{}, rows("PRAGMA foreign_key_check"));
  // A key that finds no unique column to refer to is the row copy's failure, as the database reports it.
  exec("CREATE TABLE Q([C] integer);");
  ASSERT_EQ(SQLITE_OK, RawDB(Source).exec("CREATE TABLE P([PKey] integer NOT NULL PRIMARY KEY, [C] integer"
                                          " REFERENCES Q(C));"));
  refused(Qb_ImportLookupTable(h(), "P"),
          {import_error("ImportLookupTable", "Cannot import lookup table \"P\""),
           import_error("ImportLookupTable", "foreign key mismatch - \"P\" referencing \"Q\""),
           import_error("ImportLookupTable", "SQL: INSERT INTO main.[P] SELECT * FROM SourceDB.[P];")});
}

// An import refused because another connection holds the source says that
// the source is locked; one refused because another holds the metafile
// gives the database's reason. Neither changes anything.
TEST_F(Import, ASourceAnotherConnectionHoldsIsSaidToBeLocked) {
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  sqlite3_busy_timeout(connection(), 100);
  const std::string sourceNames =
      "SQL: SELECT m.name FROM SourceDB.sqlite_master m WHERE m.tbl_name = ? AND m.type LIKE 'index%';";
  const std::pair<std::string, Rows> holders[] = {
      {Source, {"The source metafile \"" + Source + "\" is locked by another connection", sourceNames}},
      {path(), {"database is locked", std::string("SQL: ") + kHeldObjectQuery}},
  };
  for (const auto& [held, reasons] : holders) {
    Rows before = snapshot(path());
    RawDB holder(held);
    ASSERT_EQ(SQLITE_OK, holder.exec("BEGIN EXCLUSIVE"));
    Rows errors{import_error("ImportLookupTable", "Cannot import lookup table \"Counties\"")};
    for (const std::string& reason : reasons) errors.push_back(import_error("ImportLookupTable", reason));
    refused(Qb_ImportLookupTable(h(), "Counties"), errors);
    ASSERT_EQ(SQLITE_OK, holder.exec("ROLLBACK"));
    EXPECT_EQ(before, snapshot(path())) << held;
  }
  EXPECT_EQ(0, Qb_ImportLookupTable(h(), "Counties"));
}

// In a host transaction that has not read the metafile yet, the import
// waits for another connection's write lock as it does outside one, though
// it reads the metafile before it writes.
TEST_F(Import, AFreshHostTransactionWaitsForAnotherWriter) {
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), Source.c_str()));
  RawDB other(path());
  ASSERT_EQ(SQLITE_OK,
            other.exec("BEGIN IMMEDIATE; INSERT INTO RL_Messages(MessageNumber, Message) VALUES (60, 'x');"));
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  commit_on_first_wait(other);
  EXPECT_EQ((Rows{"0"}), outcome(h(), Qb_ImportLookupTable(h(), "Counties")));
  ASSERT_EQ(0, Qb_CommitTrans(h()));
  EXPECT_EQ((Rows{"1|A|x", "2|B|x"}), rows("SELECT * FROM Counties"));
}
