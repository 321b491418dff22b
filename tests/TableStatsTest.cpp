// The table model, its row buffer, and the lookup-table definition request.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "storage/TableStats.h"

TEST(TableStats, KindComesFromTheExactName) {
  const char* names[] = {"RL_Agencies", "RL_Edits", "RL_EditSets", "RL_Fields", "RL_Layouts",
                         "RL_Messages", "RL_LookupTables", "RL_LayoutFieldsPivot", "RL_EditSetEditsPivot",
                         "RL_EditFieldsPivot", "RL_EditTablesPivot", "RL_EditMessagesPivot",
                         "RL_EditErrorsPivot", "RL_Control"};
  for (int kind = 1; kind <= 14; ++kind)
    EXPECT_EQ(kind, TTableDef(names[kind - 1]).GetMCO()) << names[kind - 1];
  EXPECT_EQ(0, TTableDef("rl_fields").GetMCO());
  EXPECT_EQ(0, TTableDef("RL_Fieldsx").GetMCO());
}

TEST(TableStats, ColumnsTextsAndRowBuffer) {
  TTableDef table("RL_Edits");
  ASSERT_EQ(0, table.AddColumn(new TFieldDef("PKey", 0, edtInteger, 0, false, true, false)));
  ASSERT_EQ(0, table.AddColumn(new TFieldDef("EditTag", 1, edtVarchar, 20, false, false, false)));
  TFieldDef duplicate("Other", 1, edtText, 0, true, false, false);
  EXPECT_EQ(-1, table.AddColumn(&duplicate));  // the caller keeps it
  EXPECT_EQ(2, table.GetColumnCount());
  EXPECT_STREQ("PKey", table.GetColumn("PKEY")->GetFieldName());
  EXPECT_EQ(nullptr, table.GetColumn(2));
  EXPECT_EQ(nullptr, table.GetColumn(-1));
  EXPECT_EQ(nullptr, table.GetColumn("Other"));
  EXPECT_STREQ("", table.GetIndex(0));
  table.AddCheck("check(a)");
  EXPECT_STREQ("check(a)", table.GetCheck(0));
  EXPECT_STREQ("", table.GetCheck(-1));

  EXPECT_EQ(0, table.GetState());
  EXPECT_TRUE(table.Edit(5));
  EXPECT_FALSE(table.Insert());
  EXPECT_FALSE(table.Edit(6));
  EXPECT_EQ(2, table.GetState());
  EXPECT_EQ(5, table.GetPostToPKey());
  table.GetColumn("edittag")->SetValue("E1");
  EXPECT_TRUE(table.GetColumn(1)->GetIsModified());
  EXPECT_TRUE(table.Cancel());
  EXPECT_EQ(1, table.GetState());
  EXPECT_EQ(0, table.GetPostToPKey());
  EXPECT_STREQ("", table.GetColumn(1)->GetValue());
  EXPECT_FALSE(table.GetColumn(1)->GetIsModified());
  EXPECT_TRUE(table.Insert());
  EXPECT_EQ(3, table.GetState());
  EXPECT_FALSE(table.Edit(7));
  EXPECT_TRUE(table.Cancel());
  EXPECT_EQ(1, table.GetState());
}

TEST(TableStats, TablesListKeysByLowerCasedName) {
  TTablesList list;
  TTableDef* fields = new TTableDef("RL_Fields");
  ASSERT_EQ(0, list.AddTable(fields));
  ASSERT_EQ(0, list.AddTable(new TTableDef("LU_Colors")));
  TTableDef sameName("rl_fields");
  EXPECT_EQ(-1, list.AddTable(&sameName));
  EXPECT_EQ(fields, list.GetTable("RL_FIELDS"));
  EXPECT_EQ(nullptr, list.GetTable("RL_Edits"));
  EXPECT_EQ(0, list.RemoveTable(&sameName));  // another object under that name: kept
  std::vector<std::string> names;
  for (const auto& entry : list.TablesList()) names.push_back(entry.first + "=" + entry.second->GetTableName());
  EXPECT_EQ((std::vector<std::string>{"lu_colors=LU_Colors", "rl_fields=RL_Fields"}), names);
  EXPECT_EQ(0, list.RemoveTable(fields));
  EXPECT_EQ(1, list.Count());
  EXPECT_EQ(nullptr, list.GetTable("RL_Fields"));
}

TEST(TableStats, DefinitionRequest) {
  TDefineTable definition;
  EXPECT_EQ(nullptr, definition.GetColumnDef(0));
  EXPECT_EQ(nullptr, definition.GetIndexDef(0));
  EXPECT_EQ(nullptr, definition.GetTriggerDef(0));
  definition.SetTableName("LU_Colors");
  definition.SetIsRestructuring(true);
  TDefineColumn* code = new TDefineColumn("Code", "[Code] varchar(2) not null", nullptr);
  code->SetIsTriggerMaintained(5);
  definition.AddColumnDef(code);
  definition.AddIndexDef("create index xLU_Colors_Code on LU_Colors(Code);");
  EXPECT_STREQ("", definition.GetColumnDef(0)->GetColumnSourceName());
  EXPECT_EQ(1, definition.GetColumnDef(0)->GetIsTriggerMaintained());
  definition.ClearAll();
  EXPECT_EQ(0u, definition.GetColumnsCount() + definition.GetIndexCount());
  EXPECT_STREQ("", definition.GetTableName());
  EXPECT_FALSE(definition.GetIsRestructuring());
}
