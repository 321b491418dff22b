// Host transactions and savepoints through the public API: refusals with the
// database's message, nesting, and savepoint names that can never be SQL.
#include "AuthoringTestSupport.h"

namespace {

int add_message(int smf, const char* number) {
  return insert_row(smf, "RL_Messages", {{"MessageNumber", number}, {"Message", number}});
}

std::string messages(const OpenMetafile& file) {
  return RawDB(file.path()).value("SELECT group_concat(MessageNumber) FROM RL_Messages");
}

}  // namespace

TEST(Transactions, RefusalsCarryTheDatabaseMessage) {
  OpenMetafile file;
  int h = file.handle();
  EXPECT_EQ(-1, Qb_CommitTrans(h));
  EXPECT_EQ((Rows{tsmf_error("CommitTrans", "cannot commit - no transaction is active")}), engine_errors(h));
  EXPECT_EQ(-1, Qb_RollbackTrans(h));
  EXPECT_EQ((Rows{tsmf_error("RollbackTrans", "cannot rollback - no transaction is active")}), engine_errors(h));
  EXPECT_EQ(0, Qb_BeginTrans(h));
  EXPECT_EQ(-1, Qb_BeginTrans(h));
  EXPECT_EQ((Rows{tsmf_error("BeginTrans", "cannot start a transaction within a transaction")}), engine_errors(h));
  EXPECT_EQ(0, Qb_RollbackTrans(h));
  EXPECT_EQ(-1, Qb_ReleaseSavePoint(h, "nosuch"));
  EXPECT_EQ((Rows{tsmf_error("ReleaseSavePoint", "no such savepoint: nosuch")}), engine_errors(h));
  EXPECT_EQ(-1, Qb_RollbackToSavePoint(h, "nosuch"));
  EXPECT_EQ((Rows{tsmf_error("RollbackToSavePoint", "no such savepoint: nosuch")}), engine_errors(h));
  EXPECT_EQ(-1, Qb_SavePoint(h, nullptr));
  EXPECT_EQ((Rows{tsmf_error("SavePoint", "Parameter \"name\" must not be NULL")}), engine_errors(h));
}

TEST(Transactions, HostTransactionsAndSavepointsGroupPosts) {
  OpenMetafile file;
  int h = file.handle();
  ASSERT_EQ(0, Qb_BeginTrans(h));
  EXPECT_EQ(2, add_message(h, "10"));
  ASSERT_EQ(0, Qb_RollbackTrans(h));
  EXPECT_EQ("0", messages(file));

  ASSERT_EQ(0, Qb_SavePoint(h, "outer"));  // opens a transaction of its own
  add_message(h, "11");
  ASSERT_EQ(0, Qb_SavePoint(h, "inner"));
  add_message(h, "12");
  ASSERT_EQ(0, Qb_RollbackToSavePoint(h, "inner"));
  ASSERT_EQ(0, Qb_ReleaseSavePoint(h, "outer"));
  EXPECT_EQ("0,11", messages(file));
  EXPECT_EQ(-1, Qb_CommitTrans(h));
}

TEST(Transactions, SavepointNamesAreNeverSQL) {
  OpenMetafile file;
  int h = file.handle();
  for (std::string name : {std::string("x; DELETE FROM RL_Agencies; --"), std::string("a]b\"c'd"),
                           std::string(120, 'n')}) {
    EXPECT_EQ(0, Qb_SavePoint(h, name.c_str())) << name;
    add_message(h, "20");
    EXPECT_EQ(0, Qb_RollbackToSavePoint(h, name.c_str())) << name;
    EXPECT_EQ(0, Qb_ReleaseSavePoint(h, name.c_str())) << name;
  }
  EXPECT_EQ("1", RawDB(file.path()).value("SELECT count(*) FROM RL_Agencies"));
  EXPECT_EQ("0", messages(file));
}
