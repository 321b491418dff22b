// The writer's operations that no export reaches: agency stamping, the kind
// of a table, and its own transaction statements with their fallback texts.
#include "AuthoringTestSupport.h"
#include "api/EditAPI.h"
#include "api/SMF.h"
#include "authoring/Qb_AccessController.h"
#include "authoring/SMFWriter.h"
#include "storage/TableStats.h"

namespace {

class WriterInternals : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* code : {"AG2", "AG3"})
      ASSERT_LT(0, insert_row(File.handle(), "RL_Agencies",
                              {{"AdminCode", code}, {"OrgName", code}, {"Password", code}}));
    ASSERT_TRUE(Db.OpenDatabase(File.path().c_str()));
    Fields.AddColumn(new TFieldDef("AgencyPKey", 0, edtInteger, 0, false, false, false));
    Odd.AddColumn(new TFieldDef("AgencyPKey", 0, edtInteger, 0, false, false, false));
  }
  // The stamp as "stamped PKey|current admin code|stamped admin code".
  std::string stamp(TTableDef& table, const char* buffered = "") {
    std::string current, stamped;
    table.GetColumn("AgencyPKey")->SetValue(buffered);
    EXPECT_EQ(0, Writer.set_agency(&table, current, stamped));
    return std::string(table.GetColumn("AgencyPKey")->GetValue()) + "|" + current + "|" + stamped;
  }

  OpenMetafile File{
      "INSERT INTO RL_Fields(PKey, AgencyPKey, FieldNumber, FieldName, LocalName) VALUES (1, 3, 1, 'F1', 'L1');"
      "CREATE TABLE \"Odd] \"\"Name\"([PKey] integer PRIMARY KEY, [AgencyPKey] integer);"
      "INSERT INTO \"Odd] \"\"Name\" VALUES (5, 2);"};
  TSQLDB Db;
  TEngineErrorsPump Pump;
  TQb_AccessController Access{&Pump, &Db};
  TTablesList Tables;
  TSMFWriter Writer{nullptr, &Db, &Pump, &Access, &Tables};
  TTableDef Fields{"RL_Fields"};
  TTableDef Odd{"Odd] \"Name"};
};

}  // namespace

TEST_F(WriterInternals, AgencyStampFollowsTheLogins) {
  EXPECT_EQ("1||NONE", stamp(Fields));  // a new row, nobody logged in
  ASSERT_TRUE(Fields.Edit(1));
  EXPECT_EQ("1|AG3|NONE", stamp(Fields));  // the row's agency 3 may not be acted for
  ASSERT_EQ(0, Access.Login("AG2", "ag2"));
  EXPECT_EQ("2|AG3|AG2", stamp(Fields));
  ASSERT_EQ(0, Access.Login("AG3", "AG3"));
  EXPECT_EQ("3|AG3|AG3", stamp(Fields));
  EXPECT_EQ("2|AG3|AG2", stamp(Fields, "2"));  // a buffered agency is asked for first
  // The table's name is quoted, whatever it holds.
  ASSERT_TRUE(Odd.Edit(5));
  EXPECT_EQ("2|AG2|AG2", stamp(Odd));
  EXPECT_EQ("", pump_errors(Pump));

  TTableDef noAgency("RL_Control");
  std::string current = "x", stamped = "y";
  EXPECT_EQ(-1, Writer.set_agency(&noAgency, current, stamped));
  EXPECT_EQ("|", current + "|" + stamped);
  EXPECT_EQ("TSMFWriter::set_agency\xBB" "Cannot find field named \"AgencyPKey\" in table named \"RL_Control\"",
            pump_errors(Pump));

  // The six tables of owned objects are the system tables.
  std::string system;
  for (const char* name : {"RL_Edits", "RL_EDITSETS", "rl_fields", "RL_Layouts", "RL_Messages", "RL_LookupTables",
                           "RL_Agencies", "RL_Control", "RL_EditFieldsPivot", "Zips"}) {
    TTableDef table(name);
    system += TSMFWriter::is_system_table(&table) ? "1" : "0";
  }
  EXPECT_EQ("1111110000", system);
}

TEST_F(WriterInternals, TransactionStatements) {
  EXPECT_EQ(0, Writer.BeginTrans());
  EXPECT_EQ(-1, Writer.BeginTrans());
  EXPECT_EQ(0, Writer.RollbackTrans());
  EXPECT_EQ(-1, Writer.CommitTrans());
  EXPECT_EQ(0, Writer.BeginTrans());
  EXPECT_EQ(0, Writer.CommitTrans());
  EXPECT_EQ(-1, Writer.RollbackTrans());
  EXPECT_EQ("TSMFWriter::BeginTrans\xBB" "cannot start a transaction within a transaction\n"
            "TSMFWriter::CommitTrans\xBB" "cannot commit - no transaction is active\n"
            "TSMFWriter::RollbackTrans\xBB" "cannot rollback - no transaction is active",
            pump_errors(Pump));

  TSQLDB closed;
  TEngineErrorsPump pump;
  TSMFWriter writer(nullptr, &closed, &pump, &Access, &Tables);
  EXPECT_EQ(-1, writer.BeginTrans());
  EXPECT_EQ(-1, writer.CommitTrans());
  EXPECT_EQ(-1, writer.RollbackTrans());
  EXPECT_EQ("TSMFWriter::BeginTrans\xBB" "Unable to begin transaction; reason not known\n"
            "TSMFWriter::CommitTrans\xBB" "Unable to commit transaction; reason not known\n"
            "TSMFWriter::RollbackTrans\xBB" "Unable to roll back transaction; reason not known",
            pump_errors(pump));
}

// The writer's rollback on a metafile's own connection brings its table model
// back in line with the file: a table made in the transaction is gone.
TEST_F(WriterInternals, TheTableModelFollowsTheWritersRollback) {
  int h = File.handle();
  TSMF* smf = InitCheck(h);
  TSMFWriter writer(smf, smf->GetSQLDB(), &Pump, &Access, &Tables);
  ASSERT_EQ(0, writer.BeginTrans());
  ASSERT_EQ(0, Qb_DefineTableStructure(h, "Towns", 0));
  ASSERT_EQ(0, Qb_AddColumnDef(h, "Name", nullptr, 0, 20, 1, 0, nullptr, nullptr, nullptr, nullptr, 0));
  int pkey = 0;
  ASSERT_EQ(0, Qb_CreateTable(h, &pkey));
  ASSERT_EQ(0, Qb_Insert(h, "Towns"));
  ASSERT_EQ(0, writer.RollbackTrans());
  EXPECT_EQ((Rows{"-1", writer_error("Insert", "Cannot find table named \"Towns\"")}),
            outcome(h, Qb_Insert(h, "Towns")));
  EXPECT_EQ("", RawDB(File.path()).value("SELECT name FROM sqlite_master WHERE name = 'Towns'"));
}
