// The reads of a rights test: the schema check and the rows an export reads
// share one read of the file, which ends with the call (the host's own
// transaction stays as it was), and the statements kept for them follow
// tables that another connection re-made or broke.
#include "AuthoringTestSupport.h"

namespace {

const char* const kSetup =
    "INSERT INTO RL_Messages(PKey, AgencyPKey, MessageNumber, Message) VALUES (5, 2, 5, 'five'), (6, 1, 6, 'six');";

// RL_Messages made again by another connection, message 5 owned by `owner`
// and its owner column named `column`.
std::string messages_remade(const char* owner, const char* column = "AgencyPKey") {
  return std::string("CREATE TABLE M([PKey] integer NOT NULL PRIMARY KEY, [") + column +
         "] integer NOT NULL DEFAULT 1, [MessageNumber] integer NOT NULL, [Message] varchar(100) NOT NULL,"
         " [LastModDate] datetime NULL);"
         "INSERT INTO M SELECT * FROM RL_Messages; UPDATE M SET [" + column + "] = " + owner + " WHERE PKey = 5;"
         "DROP TABLE RL_Messages; ALTER TABLE M RENAME TO RL_Messages;";
}

class RightsReads : public MetafileTest {
 protected:
  RightsReads() : MetafileTest(kSetup) {}
  void SetUp() override {
    ASSERT_EQ(2, insert_row(h(), "RL_Agencies", {{"AdminCode", "AG2"}, {"OrgName", "Two"}, {"Password", "secret"}}));
    ASSERT_EQ(0, Qb_Login(h(), "AG2", "secret"));
  }
  // Whether message pkey may be edited: "1" or "0".
  std::string may_edit(int pkey) {
    std::string allowed = Qb_Edit(h(), "RL_Messages", pkey) == 0 ? "1" : "0";
    Qb_Cancel(h(), "RL_Messages");
    return allowed;
  }
};

}  // namespace

// Another connection writes at once after each call, and the host's
// transaction, begun before a call, is still the host's to undo.
TEST_F(RightsReads, LeaveNoLockAndKeepTheHostsTransaction) {
  for (const char* table : {"RL_Messages", "RL_Agencies"}) {
    ASSERT_EQ(0, Qb_Edit(h(), table, 2 + (table[3] == 'M') * 3)) << table;
    EXPECT_EQ(SQLITE_OK, RawDB(path()).exec("UPDATE RL_Messages SET Message = 'written' WHERE PKey = 6;")) << table;
    ASSERT_EQ(0, Qb_Cancel(h(), table));
  }
  int clash = 0, unique = 0;
  ASSERT_EQ(0, Qb_ValidateUnique(h(), "RL_Messages", 0, "Message", "five", &unique, &clash));
  EXPECT_EQ(SQLITE_OK, RawDB(path()).exec("UPDATE RL_Messages SET Message = 'again' WHERE PKey = 6;"));
  ASSERT_EQ(0, Qb_BeginTrans(h()));  // no transaction was left open
  ASSERT_EQ(7, insert_row(h(), "RL_Messages", {{"MessageNumber", "7"}, {"Message", "seven"}}));
  EXPECT_EQ("1", may_edit(5));
  EXPECT_EQ(0, Qb_ValidateUnique(h(), "RL_Messages", 0, "Message", "seven", &unique, &clash));
  EXPECT_EQ(7, clash);
  ASSERT_EQ(0, Qb_RollbackTrans(h()));
  EXPECT_EQ("0", value("SELECT count(*) FROM RL_Messages WHERE PKey = 7"));
}

// Re-made elsewhere, the table is read as the file now holds it; broken, the
// test fails with the reason, and works again once the table is whole.
TEST_F(RightsReads, FollowTablesAnotherConnectionRemadeOrBroke) {
  EXPECT_EQ("1", may_edit(5));
  exec(messages_remade("1"));
  exec("UPDATE RL_Agencies SET OrgName = 'Two' WHERE PKey = 2;");
  EXPECT_EQ("1", may_edit(5));  // anyone's now
  exec(messages_remade("3"));
  EXPECT_EQ("0", may_edit(5));  // nobody logged in owns it
  exec(messages_remade("2", "Owner"));
  EXPECT_EQ((Rows{"-1", tsmf_error("Edit", "no such column: AgencyPKey")}),
            outcome(h(), Qb_Edit(h(), "RL_Messages", 5)));
  exec(messages_remade("2"));
  EXPECT_EQ("1", may_edit(5));
  EXPECT_EQ(SQLITE_OK, RawDB(path()).exec("UPDATE RL_Messages SET Message = 'written' WHERE PKey = 6;"));
}
