// The table model's parts that no export reads back: a column's new name
// and its default, the texts of every kind a table keeps, and the foreign
// keys that reading the schema stores with a table.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "ApiTestSupport.h"
#include "api/EditAPI.h"
#include "api/SMF.h"
#include "storage/TableStats.h"

TEST(TableStats, ColumnNameAndDefault) {
  TTableDef table("LU_Colors");
  TFieldDef* code = new TFieldDef("Code", 0, edtVarchar, 2, false, false, false);
  ASSERT_EQ(0, table.AddColumn(code));
  EXPECT_FALSE(code->HasDefaultValue());
  code->SetDefaultValue("'AK'");
  EXPECT_TRUE(code->HasDefaultValue());
  EXPECT_STREQ("'AK'", code->GetDefaultValue());
  code->SetDefaultValue("");
  EXPECT_FALSE(code->HasDefaultValue());

  // A new name is not a new key: the table still finds the column by its first one.
  code->SetFieldName("Region");
  EXPECT_STREQ("Region", code->GetFieldName());
  EXPECT_EQ(code, table.GetColumn("code"));
  EXPECT_EQ(nullptr, table.GetColumn("region"));
}

TEST(TableStats, EveryKindOfTextInOrderAndEmptyOutOfRange) {
  TTableDef table("LU_Colors");
  struct Kind {
    const char* Name;
    void (TTableDef::*Add)(const std::string&);
    int (TTableDef::*Count)() const;
    const char* (TTableDef::*Get)(int) const;
  };
  const Kind kinds[] = {
      {"index", &TTableDef::AddIndex, &TTableDef::GetIndexCount, &TTableDef::GetIndex},
      {"trigger", &TTableDef::AddTrigger, &TTableDef::GetTriggerCount, &TTableDef::GetTrigger},
      {"foreign key", &TTableDef::AddForeignKey, &TTableDef::GetForeignKeyCount, &TTableDef::GetForeignKey},
      {"check", &TTableDef::AddCheck, &TTableDef::GetCheckCount, &TTableDef::GetCheck},
      {"default", &TTableDef::AddDefault, &TTableDef::GetDefaultCount, &TTableDef::GetDefault},
  };
  for (const Kind& kind : kinds) {
    EXPECT_EQ(0, (table.*kind.Count)()) << kind.Name;
    EXPECT_STREQ("", (table.*kind.Get)(0)) << kind.Name;
    (table.*kind.Add)(std::string(kind.Name) + " 1");
    (table.*kind.Add)(std::string(kind.Name) + " 2");
  }
  for (const Kind& kind : kinds) {
    EXPECT_EQ(2, (table.*kind.Count)()) << kind.Name;
    EXPECT_EQ(std::string(kind.Name) + " 1", (table.*kind.Get)(0));
    EXPECT_EQ(std::string(kind.Name) + " 2", (table.*kind.Get)(1));
    for (int outside : {-1, 2, INT_MIN}) EXPECT_STREQ("", (table.*kind.Get)(outside)) << kind.Name << outside;
  }
}

// Each foreign key reads back as its column, the table and column it
// references, and the actions that are not the default; one without a column
// list references an empty column. The store lists them last declared first.
TEST(TableStats, ForeignKeysAsTheSchemaReaderStoresThem) {
  OpenMetafile file;
  ASSERT_EQ(SQLITE_OK, RawDB(file.path()).exec(
                           "CREATE TABLE Kids(PKey integer primary key, AgencyPKey integer references "
                           "RL_Agencies(PKey) on delete cascade on update set null, Parent integer references Parents, "
                           "Code text references Codes(Code));"));
  TSMF* smf = InitCheck(file.handle());
  ASSERT_TRUE(smf->UpdateTableStats("Kids"));
  const TTableDef* kids = smf->GetCurrentTableDef();
  ASSERT_NE(nullptr, kids);
  Rows keys;
  for (int i = 0; i < kids->GetForeignKeyCount(); ++i) keys.push_back(kids->GetForeignKey(i));
  EXPECT_EQ((Rows{"Code REFERENCES Codes(Code)", "Parent REFERENCES Parents()",
                  "AgencyPKey REFERENCES RL_Agencies(PKey) ON UPDATE SET NULL ON DELETE CASCADE"}),
            keys);
  EXPECT_EQ(4, out_int(Edit_GetColumnsCount, file.handle(), "kids"));  // the definition read is the model's
}
