// SQL through every text parameter of the authoring exports: names and values holding quotes,
// brackets, ";" and whole statements change nothing they name and run nothing they hold.
#include "AuthoringTestSupport.h"

namespace {

const char* const kSetup =
    "INSERT INTO RL_Agencies(PKey, AdminCode, OrgName) VALUES (2, 'AG2', 'Agency two');"
    "INSERT INTO RL_Fields(PKey, AgencyPKey, FieldNumber, FieldName, LocalName, FieldLength) VALUES"
    " (1, 1, 1, 'F1', 'L1', 5), (2, 2, 2, 'F2', 'L2', 3);"
    "CREATE TABLE Codes([PKey] integer NOT NULL PRIMARY KEY, [Rate] double NULL, [Note] text NULL);"
    "INSERT INTO Codes VALUES (1, 1.5, 'one'), (2, 2.5, 'two');"
    "INSERT INTO RL_LookupTables(TableName, RecCount) VALUES ('Codes', 2);";

const char* const kHostile[] = {
    "x'); DROP TABLE RL_Edits; --",
    "1; DROP TABLE RL_Edits",
    "Codes] SET Note = 'hacked' --",
    "Note] = 'hacked' WHERE 1=1 --",
    "\"; DELETE FROM RL_Agencies; --",
    "1 WHERE 1=1 --",
    "a'' || (SELECT Password FROM RL_Agencies) || ''",
};

class AuthoringSecurity : public MetafileTest {
 protected:
  AuthoringSecurity() : MetafileTest(kSetup) {}
};

}  // namespace

TEST_F(AuthoringSecurity, NamesAreLookedUpValuesAreData) {
  Rows before = snapshot(path());
  int isUnique = 0, clash = 0, pkey = 0;
  for (const char* name : kHostile) {
    EXPECT_EQ(-1, Qb_Edit(h(), name, 1)) << name;
    EXPECT_EQ(-1, Qb_Insert(h(), name)) << name;
    EXPECT_EQ(-1, Qb_Post(h(), name, &pkey)) << name;
    EXPECT_EQ(-1, Qb_Cancel(h(), name)) << name;
    EXPECT_EQ(-1, Qb_SetFieldByNumber(h(), name, 1, "x")) << name;
    EXPECT_EQ(-1, Qb_ValidateUnique(h(), name, 0, "Note", "x", &isUnique, &clash)) << name;
    EXPECT_EQ(-1, Qb_ValidateUnique(h(), "Codes", 0, name, "x", &isUnique, &clash)) << name;
    EXPECT_EQ(-1, Qb_CopyLookupTable(h(), name, "Copy", 1)) << name;
    EXPECT_EQ(-1, Qb_CopyLookupTable(h(), "Codes", name, 1)) << name;
    ASSERT_EQ(0, Qb_Edit(h(), "Codes", 1));
    EXPECT_EQ(-1, Qb_SetFieldByName(h(), "Codes", name, "x")) << name;
    EXPECT_EQ(0, Qb_Cancel(h(), "Codes"));
  }
  EXPECT_EQ(before, snapshot(path()));
  pkey = 3;
  for (const char* value : kHostile) {
    EXPECT_EQ(pkey, insert_row(h(), "Codes", {{"Rate", value}, {"Note", value}})) << value;
    EXPECT_EQ(0, edit_row(h(), "Codes", pkey, {{"Rate", value}, {"Note", value}})) << value;
    EXPECT_EQ((Rows{std::string(value) + "|" + value}),
              rows("SELECT Rate, Note FROM Codes WHERE PKey = " + std::to_string(pkey)));
    EXPECT_EQ(0, Qb_ValidateUnique(h(), "Codes", 0, "Note", value, &isUnique, &clash));
    EXPECT_EQ(pkey++, clash);
  }
  EXPECT_EQ((Rows{"1|1.5|one", "2|2.5|two"}), rows("SELECT * FROM Codes WHERE PKey < 3"));
  // A numeric control-table column takes only numbers: text is refused by its
  // check and changes no other row.
  EXPECT_EQ(-1, edit_row(h(), "RL_Fields", 1, {{"FieldLength", "8 WHERE 1=1 --"}}));
  EXPECT_EQ((Rows{"1|5", "2|3"}), rows("SELECT PKey, FieldLength FROM RL_Fields"));
  EXPECT_EQ("14", value("SELECT count(*) FROM sqlite_master WHERE name LIKE 'RL_%' AND type = 'table'"));
}

TEST_F(AuthoringSecurity, DefinitionsDeletionsAndImportsTakeNoSQLAndNullsAreRefused) {
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), File.other("source.smf").c_str()));
  Rows before = snapshot(path());
  Rows found;
  for (const char* name : kHostile) {
    EXPECT_EQ(-1, Qb_Delete(h(), name, 1)) << name;
    EXPECT_EQ(-1, Qb_DefineTableStructure(h(), name, 0)) << name;
    EXPECT_EQ(-1, Qb_ImportLookupTable(h(), name)) << name;
    EXPECT_EQ(-1, Qb_GetImportCandidates(h(), name, name, &found, collector<ImportCandidateCallback>())) << name;
    EXPECT_EQ(0, Qb_GetImportCandidates(h(), "RL_Edits", name, &found, collector<ImportCandidateCallback>())) << name;
  }
  EXPECT_EQ(before, snapshot(path()));

  // Text defaults and bounds are values; the value list stays inside its statement.
  ASSERT_EQ(0, Qb_DefineTableStructure(h(), "Safe", 0));
  for (const char* value : kHostile)
    EXPECT_EQ(-1, Qb_AddColumnDef(h(), value, nullptr, 0, 5, 1, 0, nullptr, nullptr, nullptr, nullptr, 0)) << value;
  ASSERT_EQ(0, Qb_AddColumnDef(h(), "Note", nullptr, 0, 50, 1, 0, nullptr, "a'", "z');", kHostile[0], 0));
  ASSERT_EQ(0, Qb_AddColumnDef(h(), "Kind", nullptr, 0, 5, 1, 0, "'a'))); DROP TABLE RL_Edits; --", nullptr, nullptr,
                               nullptr, 0));
  int pkey = 0;
  EXPECT_EQ(-1, Qb_CreateTable(h(), &pkey));
  EXPECT_EQ(writer_error("CreateTable", "SQLText holds more than one statement"), engine_errors(h())[2]);
  EXPECT_EQ(before, snapshot(path()));
  ASSERT_EQ(0, Qb_DefineTableStructure(h(), "Safe", 0));
  ASSERT_EQ(0, Qb_AddColumnDef(h(), "Note", nullptr, 0, 50, 1, 0, nullptr, "a'", "z');", kHostile[0], 0));
  ASSERT_EQ(0, Qb_CreateTable(h(), &pkey));
  EXPECT_EQ(2, insert_row(h(), "Safe", {{"PKey", "2"}}));
  EXPECT_EQ((Rows{"2|x'); DROP TABLE RL_Edits; --"}), rows("SELECT * FROM Safe"));
  EXPECT_EQ("14", value("SELECT count(*) FROM sqlite_master WHERE name LIKE 'RL_%' AND type = 'table'"));
  int isUnique = 0;
  ASSERT_EQ(0, Qb_Insert(h(), "Codes"));
  expect_null_refusals(h(), {
      {"Edit:table", [&] { return Qb_Edit(h(), nullptr, 1); }},
      {"Insert:table", [&] { return Qb_Insert(h(), nullptr); }},
      {"Cancel:table", [&] { return Qb_Cancel(h(), nullptr); }},
      {"SetFieldByName:column", [&] { return Qb_SetFieldByName(h(), "Codes", nullptr, "x"); }},
      {"SetFieldByName:value", [&] { return Qb_SetFieldByName(h(), "Codes", "Note", nullptr); }},
      {"SetFieldByNumber:value", [&] { return Qb_SetFieldByNumber(h(), "Codes", 1, nullptr); }},
      {"Post:pkey", [&] { return Qb_Post(h(), "Codes", nullptr); }},
      {"ValidateUnique:value", [&] { return Qb_ValidateUnique(h(), "Codes", 0, "Note", nullptr, &isUnique, &pkey); }},
      {"ValidateUnique:isUnique", [&] { return Qb_ValidateUnique(h(), "Codes", 0, "Note", "x", nullptr, &pkey); }},
      {"RenameLookupTable:oldName", [&] { return Qb_CopyLookupTable(h(), nullptr, "x", 1); }},
      {"RenameLookupTable:newName", [&] { return Qb_CopyLookupTable(h(), "Codes", nullptr, 1); }},
      {"Login:adminCode", [&] { return Qb_Login(h(), nullptr, "x"); }},
      {"Login:password", [&] { return Qb_Login(h(), "x", nullptr); }},
      {"GetLoginsCount:count", [&] { return Qb_GetLoginsCount(h(), nullptr); }},
  });
  EXPECT_EQ(-1, Qb_Edit(-1, "Codes", 1));
  EXPECT_EQ(-1, Qb_Edit(9999, "Codes", 1));
}
