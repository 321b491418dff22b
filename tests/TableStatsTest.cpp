// The table model's parts that no export reads back: a column's new name
// and its default, and the texts of every kind a table keeps, foreign keys
// among them.
#include <gtest/gtest.h>

#include <climits>
#include <string>

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
