// The writer's operations that no export reaches: agency stamping, the kind
// of a table, and its own transaction statements with their fallback texts.
#include "AuthoringTestSupport.h"
#include "authoring/Qb_AccessController.h"
#include "authoring/SMFWriter.h"
#include "storage/EngineErrorsPump.h"
#include "storage/TableStats.h"

namespace {

class WriterInternals : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* code : {"AG2", "AG3"})
      ASSERT_LT(0, insert_row(File.handle(), "RL_Agencies", {{"AdminCode", code}, {"OrgName", code}, {"Password", code}}));
    ASSERT_TRUE(Db.OpenDatabase(File.path().c_str()));
    Fields.AddColumn(new TFieldDef("AgencyPKey", 0, edtInteger, 0, false, false, false));
  }
  // The stamp as "stamped PKey|current admin code|stamped admin code".
  std::string stamp(const char* buffered = "") {
    std::string current, stamped;
    Fields.GetColumn("AgencyPKey")->SetValue(buffered);
    EXPECT_EQ(0, Writer.set_agency(&Fields, current, stamped));
    return std::string(Fields.GetColumn("AgencyPKey")->GetValue()) + "|" + current + "|" + stamped;
  }
  std::string errors(const TEngineErrorsPump& pump) {
    int count = 0;
    pump.GetErrorsCount(&count);
    std::string text;
    for (int i = 0; i < count; ++i) {
      char buffer[200] = "";
      pump.GetErrorByIndex(i, buffer, sizeof buffer - 1);
      text += std::string(text.empty() ? "" : "\n") + buffer;
    }
    return text;
  }

  OpenMetafile File{"INSERT INTO RL_Fields(PKey, AgencyPKey, FieldNumber, FieldName, LocalName) VALUES (1, 3, 1, 'F1', 'L1')"};
  TSQLDB Db;
  TEngineErrorsPump Pump;
  TQb_AccessController Access{&Pump, &Db};
  TTablesList Tables;
  TSMFWriter Writer{nullptr, &Db, &Pump, &Access, &Tables};
  TTableDef Fields{"RL_Fields"};
};

}  // namespace

TEST_F(WriterInternals, AgencyStampFollowsTheLogins) {
  EXPECT_EQ("1||NONE", stamp());  // a new row, nobody logged in
  ASSERT_TRUE(Fields.Edit(1));
  EXPECT_EQ("1|AG3|NONE", stamp());  // the row's agency 3 may not be acted for
  ASSERT_EQ(0, Access.Login("AG2", "ag2"));
  EXPECT_EQ("2|AG3|AG2", stamp());
  ASSERT_EQ(0, Access.Login("AG3", "AG3"));
  EXPECT_EQ("3|AG3|AG3", stamp());
  EXPECT_EQ("2|AG3|AG2", stamp("2"));  // a buffered agency is asked for first
  TTableDef noAgency("RL_Control");
  std::string current, stamped;
  EXPECT_EQ(-1, Writer.set_agency(&noAgency, current, stamped));
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
  EXPECT_EQ("TSMFWriter::BeginTrans\xBB" "cannot start a transaction within a transaction\n"
            "TSMFWriter::CommitTrans\xBB" "cannot commit - no transaction is active",
            errors(Pump));

  TSQLDB closed;
  TEngineErrorsPump pump;
  TSMFWriter writer(nullptr, &closed, &pump, &Access, &Tables);
  EXPECT_EQ(-1, writer.BeginTrans());
  EXPECT_EQ(-1, writer.CommitTrans());
  EXPECT_EQ(-1, writer.RollbackTrans());
  EXPECT_EQ("TSMFWriter::BeginTrans\xBB" "Unable to begin transaction; reason not known\n"
            "TSMFWriter::CommitTrans\xBB" "Unable to commit transaction; reason not known\n"
            "TSMFWriter::RollbackTrans\xBB" "Unable to roll back transaction; reason not known",
            errors(pump));
}
