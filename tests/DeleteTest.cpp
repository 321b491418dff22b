// Deleting rows through the public API: the impact on every control table, failures that undo only the
// deletion, lookup tables that may and may not be dropped; edit-set and layout membership under rights.
#include "AuthoringTestSupport.h"

namespace {

const char* const kSetup =
    "INSERT INTO RL_Agencies(PKey, AdminCode, OrgName) VALUES (2, 'AG2', 'Two');"
    "INSERT INTO RL_Messages(PKey, AgencyPKey, MessageNumber, Message) VALUES (2, 2, 12, 'twelve');"
    "INSERT INTO RL_Fields(PKey, AgencyPKey, FieldNumber, FieldName, LocalName) VALUES (1, 2, 1, 'F1', 'L1'),"
    " (2, 1, 2, 'F2', 'L2');"
    "INSERT INTO RL_Edits(PKey, AgencyPKey, EditTag, EditName, MessagePKey, CompiledLogic) VALUES"
    " (1, 2, 'E1', 'One', 2, 'c1'), (2, 1, 'E2', 'Two', 1, 'c2'), (3, 1, 'E3', 'Three', 1, 'c3');"
    "INSERT INTO RL_EditSets(PKey, AgencyPKey, EditSetTag, EditSetName) VALUES (1, 2, 'S1', 'Set one'),"
    " (2, 1, 'S2', 'Set two');"
    "INSERT INTO RL_Layouts(PKey, AgencyPKey, LayoutTag, LayoutName) VALUES (1, 2, 'LA', 'A'), (2, 1, 'LB', 'B');"
    "CREATE TABLE Zips([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(5));"
    "INSERT INTO RL_LookupTables(PKey, AgencyPKey, TableName, RecCount) VALUES (1, 2, 'ZIPS', 0),"
    " (2, 1, 'RL_Edits', 0), (3, 1, 'Gone', 0), (4, 1, 'x; DROP TABLE RL_Edits', 0);"
    "INSERT INTO RL_EditFieldsPivot(EditPKey, FieldPKey, FieldOrder) VALUES (1, 1, 1), (2, 2, 1);"
    "INSERT INTO RL_EditMessagesPivot(EditPKey, MessagePKey, QueltFunc) VALUES (2, 2, 'E');"
    "INSERT INTO RL_EditTablesPivot(EditPKey, LookupTablePKey) VALUES (3, 1);"
    "INSERT INTO RL_LayoutFieldsPivot(LayoutPKey, FieldPKey, StartPos) VALUES (1, 1, 1), (2, 1, 4);"
    "INSERT INTO RL_EditSetEditsPivot(EditSetPKey, EditPKey) VALUES (1, 1);";

class Deletion : public MetafileTest {
 protected:
  Deletion() : MetafileTest(kSetup) {}
  std::string compiled() { return value("SELECT group_concat(CompiledLogic, ',') FROM RL_Edits"); }
};

}  // namespace

TEST_F(Deletion, AgenciesPassTheirRowsToNone) {
  refused(Qb_Delete(h(), "rl_agencies", 1), {writer_error("verify_delete_impact", "Agency \"NONE\" may not be deleted")});
  EXPECT_EQ(0, Qb_Delete(h(), "RL_Agencies", 2));
  for (const char* table : {"RL_Edits", "RL_EditSets", "RL_Fields", "RL_Layouts", "RL_Messages", "RL_LookupTables"})
    EXPECT_EQ("", value(std::string("SELECT PKey FROM ") + table + " WHERE AgencyPKey <> 1")) << table;
  EXPECT_EQ("1", value("SELECT count(*) FROM RL_Agencies"));
  EXPECT_EQ(0, Qb_Delete(h(), "RL_Agencies", 99));  // no such row: nothing to do
  // A deleted agency's login does not pass to the next agency given its PKey.
  ASSERT_EQ(2, insert_row(h(), "RL_Agencies", {{"AdminCode", "AG3"}, {"OrgName", "Three"}, {"Password", "pw"}}));
  ASSERT_EQ(0, Qb_Login(h(), "AG3", "pw"));
  ASSERT_EQ(0, Qb_Delete(h(), "RL_Agencies", 2));
  ASSERT_EQ(2, insert_row(h(), "RL_Agencies", {{"AdminCode", "NEW"}, {"OrgName", "New"}}));
  EXPECT_EQ(-1, Qb_Edit(h(), "RL_Agencies", 2));
}

// Only the metafile's own lookup table of the row's name is dropped.
TEST_F(Deletion, NoOtherTableIsDroppedAndDependentEditsLoseTheirCompiledLogic) {
  std::string source = File.other("source.smf", "CREATE TABLE Gone(a); INSERT INTO Gone VALUES (1);");
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), source.c_str()));
  for (int pkey : {2, 3, 4}) EXPECT_EQ(0, Qb_Delete(h(), "RL_LookupTables", pkey)) << pkey;
  EXPECT_EQ("1", value("SELECT count(*) FROM RL_LookupTables"));
  EXPECT_EQ("3", value("SELECT count(*) FROM RL_Edits"));
  EXPECT_EQ(0, Qb_CloseImportMetafile(h()));
  EXPECT_EQ("1", RawDB(source).value("SELECT a FROM Gone"));
  EXPECT_EQ(0, Qb_Delete(h(), "RL_Fields", 1));
  EXPECT_EQ(",c2,c3", compiled());
  EXPECT_EQ("0", value("SELECT count(*) FROM RL_LayoutFieldsPivot"));

  refused(Qb_Delete(h(), "RL_Messages", 1), {writer_error("verify_delete_impact", "Message Number 0 may not be deleted")});
  EXPECT_EQ(0, Qb_Delete(h(), "RL_Messages", 2));
  EXPECT_EQ(",,c3", compiled());
  EXPECT_EQ("1|1|1", value("SELECT group_concat(MessagePKey, '|') FROM RL_Edits"));

  EXPECT_EQ(0, Qb_Delete(h(), "rl_lookuptables", 1));
  EXPECT_EQ(Rows{}, engine_errors(h()));
  EXPECT_EQ(",,", compiled());
  EXPECT_EQ("", value("SELECT name FROM sqlite_master WHERE name = 'Zips'"));
  EXPECT_EQ(-1, Qb_Edit(h(), "Zips", 1));  // gone from the model too

  EXPECT_EQ(0, Qb_Delete(h(), "RL_Edits", 1));  // no impact step; its pivot rows go with it
  EXPECT_EQ("0", value("SELECT count(*) FROM RL_EditSetEditsPivot"));
  refused(Qb_Delete(h(), "NoSuch", 1), {writer_error("Delete", "Cannot find table named \"NoSuch\"")});
}

// A failure undoes the deletion only, never the host's own transaction.
TEST_F(Deletion, FailuresUndoOnlyTheDeletion) {
  ASSERT_EQ(SQLITE_OK, RawDB(path()).exec("ALTER TABLE RL_EditFieldsPivot RENAME TO Moved; CREATE TRIGGER keep BEFORE "
                                          "UPDATE ON RL_Fields BEGIN SELECT RAISE(ABORT, 'kept'); END;"));
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  ASSERT_EQ(3, insert_row(h(), "RL_Messages", {{"MessageNumber", "3"}, {"Message", "kept"}}));
  refused(Qb_Delete(h(), "RL_Fields", 1),
          {writer_error("Delete", "Error in attempt to delete PKey 1 from table RL_Fields: TSQLQuery.open_query")});
  refused(Qb_Delete(h(), "RL_Agencies", 2),  // edits and edit sets pass to NONE, fields refuse
          {writer_error("verify_delete_impact", "Cannot update MCO table to change Agency to \"NONE\""),
           writer_error("verify_delete_impact", "UPDATE RL_Fields SET AgencyPKey = 1 WHERE AgencyPKey = 2;")});
  ASSERT_EQ(0, Qb_CommitTrans(h()));
  EXPECT_EQ("kept", value("SELECT Message FROM RL_Messages WHERE PKey = 3"));
  EXPECT_EQ("2|2", value("SELECT group_concat(AgencyPKey, '|') FROM (SELECT AgencyPKey FROM RL_Edits WHERE PKey = 1"
                         " UNION ALL SELECT AgencyPKey FROM RL_EditSets WHERE PKey = 1)"));
  EXPECT_EQ("2", value("SELECT count(*) FROM RL_Fields"));
}

TEST_F(Deletion, MembershipUnderRights) {
  refused(Qb_AddEditSetsPivot(h(), 1, 2),  // edit set of agency 2
          {writer_error("AddEditSetsPivot", "You do not have access rights to modify this edit set")});
  EXPECT_EQ(-1, Qb_DeleteEditSetsPivot(h(), 1, 1));  // refused even when it would change nothing
  refused(Qb_DeleteLayoutsPivot(h(), 1, 1), {writer_error("DeleteLayoutsPivot", "You do not have access rights to modify this layout")});

  EXPECT_EQ(0, Qb_AddEditSetsPivot(h(), 2, 2));
  EXPECT_EQ(0, Qb_AddEditSetsPivot(h(), 2, 2));
  EXPECT_EQ(0, Qb_DeleteEditSetsPivot(h(), 2, 3));  // not a member: nothing to do
  EXPECT_EQ((Rows{"1|1", "2|2"}), rows("SELECT EditSetPKey, EditPKey FROM RL_EditSetEditsPivot ORDER BY 1"));
  EXPECT_EQ(0, Qb_DeleteEditSetsPivot(h(), 2, 2));
  EXPECT_EQ(0, Qb_AddLayoutsPivot(h(), 2, 2, 7));
  EXPECT_EQ(0, Qb_AddLayoutsPivot(h(), 2, 1, 9));  // already placed: its start stays
  EXPECT_EQ((Rows{"1|1|1", "2|1|4", "2|2|7"}),
            rows("SELECT LayoutPKey, FieldPKey, StartPos FROM RL_LayoutFieldsPivot ORDER BY 1, 2"));
  EXPECT_EQ(0, Qb_DeleteLayoutsPivot(h(), 2, 1));

  refused(Qb_AddLayoutsPivot(h(), 2, 99, 1),
          {writer_error("AddLayoutsPivot", "Failure to add Layout/Field pivot record"),
           writer_error("AddLayoutsPivot", "FOREIGN KEY constraint failed"),
           writer_error("AddLayoutsPivot",
                        "SQL: INSERT INTO RL_LayoutFieldsPivot (LayoutPKey, FieldPKey, StartPos) VALUES (2, 99, 1);")});
  ASSERT_EQ(0, Qb_Login(h(), kSuperUser, kSuperUserPassword));
  EXPECT_EQ(0, Qb_DeleteEditSetsPivot(h(), 1, 1));
  EXPECT_EQ((Rows{"2|2|7"}), rows("SELECT LayoutPKey, FieldPKey, StartPos FROM RL_LayoutFieldsPivot WHERE LayoutPKey = 2"));
}

// Agency 1 and message 1 are what owners and edits' messages fall back to,
// and every caller may edit agency 1's rows: no post moves them off key 1,
// however the key is written, and no other row takes it, even where another
// connection took the row away.
TEST_F(Deletion, TheReservedRowsKeepKeyOneAsTheirDeletionIsRefused) {
  const std::string agencyKept = "Agency \"NONE\" may not be given another PKey";
  const std::string messageKept = "Message Number 0 may not be given another PKey";
  // Nothing refers to either row, so the database itself would let them move.
  exec("UPDATE RL_Edits SET MessagePKey = 2;");
  for (const char* table : {"RL_Edits", "RL_EditSets", "RL_Fields", "RL_Layouts", "RL_LookupTables"})
    exec(std::string("UPDATE ") + table + " SET AgencyPKey = 2;");
  ASSERT_EQ(0, edit_row(h(), "RL_Messages", 1, {{"AgencyPKey", "2"}}));  // anyone may take its messages
  ASSERT_EQ(0, Qb_Login(h(), kSuperUser, kSuperUserPassword));
  for (const char* key : {"2147483647", "2e1", " 3"}) {
    refused(edit_row(h(), "RL_Agencies", 1, {{"PKey", key}}), {writer_error("post_edit", agencyKept)});
    refused(edit_row(h(), "RL_Messages", 1, {{"PKey", key}, {"Message", "moved"}}),
            {writer_error("post_edit", messageKept)});
  }
  EXPECT_EQ(0, edit_row(h(), "RL_Agencies", 1, {{"PKey", "1.0"}, {"Comments", "stays"}}));  // stored as 1
  EXPECT_EQ("1|stays", value("SELECT PKey || '|' || Comments FROM RL_Agencies WHERE AdminCode = 'NONE'"));
  EXPECT_EQ("1|2|This edit has no default error message",
            value("SELECT PKey || '|' || AgencyPKey || '|' || Message FROM RL_Messages WHERE MessageNumber = 0"));

  // Taken away by raw SQL, key 1 is still no other row's.
  exec("DELETE FROM RL_Agencies WHERE PKey = 1; DELETE FROM RL_Messages WHERE PKey = 1;"
       "INSERT INTO RL_Agencies(PKey, AdminCode, OrgName) VALUES (3, 'AG3', 'Three');"
       "INSERT INTO RL_Messages(PKey, AgencyPKey, MessageNumber, Message) VALUES (3, 2, 13, 'thirteen');");
  refused(edit_row(h(), "RL_Agencies", 3, {{"PKey", "01"}}),
          {writer_error("post_edit", "PKey 1 belongs to Agency \"NONE\"")});
  refused(edit_row(h(), "RL_Messages", 3, {{"PKey", "1e0"}}),
          {writer_error("post_edit", "PKey 1 belongs to Message Number 0")});
  int pkey = -1;
  ASSERT_EQ(0, Qb_Insert(h(), "RL_Messages"));
  ASSERT_EQ(0, set_values(h(), "RL_Messages",
                          {{"PKey", "1"}, {"AgencyPKey", "2"}, {"MessageNumber", "40"}, {"Message", "forty"}}));
  refused(Qb_Post(h(), "RL_Messages", &pkey), {writer_error("post_insert", "PKey 1 belongs to Message Number 0")});
  EXPECT_EQ((Rows{"2|AG2", "3|AG3"}), rows("SELECT PKey, AdminCode FROM RL_Agencies ORDER BY PKey"));
  EXPECT_EQ((Rows{"2|12", "3|13"}), rows("SELECT PKey, MessageNumber FROM RL_Messages ORDER BY PKey"));
}

// Where the database would refuse the move too (rows refer to agency 1 and
// message 1, or key 1 is taken), the reason given is the one that keeps key 1.
TEST_F(Deletion, KeyOneIsKeptBeforeTheDatabaseRefusesTheMove) {
  const std::string agencyKept = "Agency \"NONE\" may not be given another PKey";
  const std::string messageKept = "Message Number 0 may not be given another PKey";
  const std::string agencyTaken = "PKey 1 belongs to Agency \"NONE\"";
  const std::string messageTaken = "PKey 1 belongs to Message Number 0";
  ASSERT_EQ(0, Qb_Login(h(), kSuperUser, kSuperUserPassword));
  Rows before = snapshot(path());
  for (const char* key : {"77", "2e1"}) {
    refused(edit_row(h(), "RL_Agencies", 1, {{"PKey", key}}), {writer_error("post_edit", agencyKept)});
    refused(edit_row(h(), "RL_Messages", 1, {{"PKey", key}, {"Message", "moved"}}),
            {writer_error("post_edit", messageKept)});
  }
  // A key the column would not take as a whole number is the database's to refuse.
  refused(edit_row(h(), "RL_Agencies", 1, {{"PKey", "0x10"}}),
          {writer_error("post_edit", "datatype mismatch"),
           writer_error("post_edit", "SQL: UPDATE [RL_Agencies] SET [PKey] = '0x10' WHERE PKey = 1 RETURNING PKey;")});
  refused(edit_row(h(), "RL_Agencies", 2, {{"PKey", " 1"}}), {writer_error("post_edit", agencyTaken)});
  refused(edit_row(h(), "RL_Messages", 2, {{"PKey", "1.0"}}), {writer_error("post_edit", messageTaken)});
  auto insert_at_one = [&](const char* table, Values values, const std::string& taken) {
    int pkey = -1;
    ASSERT_EQ(0, Qb_Insert(h(), table));
    ASSERT_EQ(0, set_values(h(), table, values));
    refused(Qb_Post(h(), table, &pkey), {writer_error("post_insert", taken)});
  };
  insert_at_one("RL_Agencies", {{"PKey", "01"}, {"AdminCode", "AG9"}, {"OrgName", "Nine"}}, agencyTaken);
  insert_at_one("RL_Messages", {{"PKey", "1e0"}, {"MessageNumber", "90"}, {"Message", "ninety"}}, messageTaken);
  EXPECT_TRUE(before == snapshot(path()));
}
