// The row-buffer cycle: edit and insert modes with their refusals and rights, values with the special
// columns, posting as one INSERT or UPDATE with the NULL rule and a changed field length.
#include <algorithm>

#include "AuthoringTestSupport.h"

namespace {

const char* const kSetup =
    "INSERT INTO RL_Agencies(PKey, AdminCode, OrgName) VALUES (2, 'AG2', 'Agency two');"
    "INSERT INTO RL_Fields(PKey, AgencyPKey, FieldNumber, FieldName, LocalName, FieldLength) VALUES"
    " (1, 1, 1, 'F1', 'L1', 5), (2, 2, 2, 'F2', 'L2', 3);"
    "INSERT INTO RL_Layouts(PKey, AgencyPKey, LayoutTag, LayoutName) VALUES (1, 1, 'LA', 'A'), (2, 2, 'LB', 'B');"
    "INSERT INTO RL_LayoutFieldsPivot(PKey, LayoutPKey, FieldPKey, StartPos) VALUES (1, 1, 1, 1), (2, 2, 1, 4);"
    "INSERT INTO RL_Edits(PKey, AgencyPKey, EditTag, EditName, EditLogic, CompiledLogic) VALUES"
    " (1, 1, 'E1', 'One', 'return PASS;', 'DR;'), (2, 2, 'E2', 'Two', '', '');"
    "INSERT INTO RL_EditFieldsPivot(PKey, EditPKey, FieldPKey, FieldOrder) VALUES (1, 2, 1, 1);"
    "CREATE TABLE Codes([PKey] integer NOT NULL PRIMARY KEY, [Code] char(2) NULL collate nocase "
    " check(Code in ('AK','AL')) default '', [Score] integer NULL check(Score between 1 and 9), [Rate] double NULL,"
    " [Note] text NULL);"
    "INSERT INTO Codes VALUES (1, 'AK', 3, 1.5, 'n');";

const char* const kNotInEdit = "Table named \"Codes\" is NOT in Edit mode!";
const char* const kNoMode = "Table named \"Codes\" is NOT in insert or edit mode; ";

class RowBuffer : public MetafileTest {
 protected:
  RowBuffer() : MetafileTest(kSetup) {}
  // Which of these rows may be edited, as "1" or "0" each.
  std::string may_edit(std::initializer_list<std::pair<const char*, int>> targets) {
    std::string allowed;
    for (const auto& [table, pkey] : targets) {
      allowed += Qb_Edit(h(), table, pkey) == 0 ? "1" : "0";
      Qb_Cancel(h(), table);
    }
    return allowed;
  }
};

}  // namespace

TEST_F(RowBuffer, ModesAndTheirRefusals) {
  refused(Qb_Edit(h(), "NoSuch", 1), {writer_error("Edit", "Cannot find table named \"NoSuch\"")});
  // The mode is tested before the column.
  refused(Qb_SetFieldByName(h(), "Codes", "NoSuchColumn", "x"), {writer_error("SetFieldByName", kNoMode + std::string("cannot modify data"))});
  EXPECT_EQ(0, Qb_Cancel(h(), "codes"));  // allowed in every mode
  EXPECT_EQ(0, Qb_Insert(h(), "codes"));
  EXPECT_EQ(0, Qb_Insert(h(), "CODES"));  // already inserting: nothing changes
  refused(Qb_Edit(h(), "Codes", 1), {writer_error("Edit", kNotInEdit)});
  EXPECT_EQ(0, Qb_Cancel(h(), "Codes"));
  EXPECT_EQ(0, Qb_Edit(h(), "Codes", 77));  // lookup tables are open for any PKey
  EXPECT_EQ(0, Qb_Edit(h(), "Codes", 77));
  refused(Qb_Insert(h(), "Codes"), {writer_error("Insert", "Table named \"Codes\" is NOT in Insert mode!")});
  Qb_Cancel(h(), "Codes");

  // A second row while the first is being edited is refused, so the values
  // meant for it can never reach the first row.
  ASSERT_EQ(0, Qb_Edit(h(), "Codes", 1));
  refused(Qb_Edit(h(), "Codes", 2), {writer_error("Edit", kNotInEdit)});
  EXPECT_EQ(0, Qb_SetFieldByName(h(), "Codes", "Note", "first"));
  int pkey = 0;
  EXPECT_EQ(1, out_int(Qb_Post, h(), "Codes"));
  EXPECT_EQ((Rows{"1|first"}), rows("SELECT PKey, Note FROM Codes"));
  refused(Qb_Post(h(), "Codes", &pkey), {writer_error("Post", kNoMode + std::string("cannot post"))});

  ASSERT_EQ(0, Qb_Insert(h(), "Codes"));
  refused(Qb_SetFieldByName(h(), "Codes", "NoSuchColumn", "x"),
          {writer_error("SetFieldByName", "Cannot find field named \"NoSuchColumn\" in table named \"Codes\"")});
  for (int number : {0, -1, 6, INT_MIN})
    refused(Qb_SetFieldByNumber(h(), "Codes", number, "x"),
            {writer_error("SetFieldByNumber", "Column number " + std::to_string(number) +
                                                  "\" in table named \"Codes\" is out of range; assume 1-based numbering")});
  EXPECT_EQ(0, Qb_SetFieldByNumber(h(), "Codes", 5, "by number"));
  EXPECT_EQ(0, set_values(h(), "codes", {{"CODE", "AL"}, {"Note", "later value wins"}}));
  EXPECT_EQ(2, out_int(Qb_Post, h(), "Codes"));
  EXPECT_EQ((Rows{"AL|later value wins"}), rows("SELECT Code, Note FROM Codes WHERE PKey = 2"));
}

TEST_F(RowBuffer, RightsFollowTheOwningAgency) {
  // Layouts of agencies 1 and 2, an edit of agency 2, no such row (owner 0).
  const std::initializer_list<std::pair<const char*, int>> rows = {
      {"RL_Control", 1}, {"RL_LayoutFieldsPivot", 1}, {"RL_LayoutFieldsPivot", 2}, {"RL_EditFieldsPivot", 1},
      {"RL_Fields", 99}};
  EXPECT_EQ("11000", may_edit(rows));
  EXPECT_EQ(0, Qb_Insert(h(), "RL_Edits"));  // inserting needs no rights at all
  EXPECT_EQ(-1, Qb_Login(h(), "AG2", ""));
  ASSERT_EQ(0, Qb_Login(h(), "warden", kSuperUserPassword));
  EXPECT_EQ("11111", may_edit(rows));
}

TEST_F(RowBuffer, SpecialColumnsAndInsertAndUpdateStatements) {
  std::string text = "Programmer error: It is illegal to write directly to RL_Edits.CompiledLogic.";
  for (const char* table : {"RL_Edits", "rl_edits"})
    for (const char* column : {"CompiledLogic", "compiledlogic"}) {
      ASSERT_EQ(0, Qb_Edit(h(), table, 1));
      refused(Qb_SetFieldByName(h(), table, column, "DQ;"),
              {writer_error("SetFieldByName", text), writer_error("SetFieldByName", text + "Use Edit_RecompileEditLogic instead")});
      EXPECT_EQ(-1, Qb_SetFieldByNumber(h(), table, 10, "DQ;"));
      Qb_Cancel(h(), table);
    }
  // New source empties the compiled logic beside it.
  EXPECT_EQ(0, edit_row(h(), "rl_EDITS", 1, {{"editlogic", "return FAIL;"}}));
  EXPECT_EQ((Rows{"return FAIL;|"}), rows("SELECT EditLogic, CompiledLogic FROM RL_Edits WHERE PKey = 1"));
  EXPECT_EQ(0, edit_row(h(), "rl_agencies", 1, {{"PASSWORD", "none pw"}}));
  EXPECT_EQ(0, Qb_Login(h(), "none", "NONE PW"));
  ASSERT_EQ(0, Qb_Insert(h(), "Codes"));
  EXPECT_EQ(0, out_int(Qb_Post, h(), "Codes"));  // nothing set: nothing written
  // Inserts: the text NULL is SQL NULL only in a numeric column.
  EXPECT_EQ(2, insert_row(h(), "Codes", {{"Note", "NULL"}, {"Score", "NULL"}, {"Code", "AL"}, {"Rate", "-2.5e1"}}));
  EXPECT_EQ(3, insert_row(h(), "Codes", {{"Note", "O'Brien"}, {"Score", "7"}, {"Code", "AK"}}));
  EXPECT_EQ(-5, insert_row(h(), "Codes", {{"PKey", "-5"}, {"Code", "AL"}}));  // any key the host gives
  EXPECT_EQ((Rows{"2|AL|<null>|-25.0|NULL", "3|AK|7|<null>|O'Brien"}),
            rows("SELECT PKey, Code, Score, Rate, Note FROM Codes WHERE PKey > 1"));

  // Edits: the text NULL and an empty value of a column with a list or a
  // range write SQL NULL; an empty text without either is written as ''.
  EXPECT_EQ(0, edit_row(h(), "Codes", 2, {{"Code", ""}, {"Score", ""}, {"Note", "NULL"}, {"Rate", ""}}));
  EXPECT_EQ(0, edit_row(h(), "Codes", 3, {{"Note", "null"}}));
  EXPECT_EQ((Rows{"2|<null>|<null>||<null>", "3|AK|7|<null>|null"}),
            rows("SELECT PKey, Code, Score, Rate, Note FROM Codes WHERE PKey > 1"));
  ASSERT_EQ(0, Qb_Edit(h(), "Codes", 3));
  EXPECT_EQ(3, out_int(Qb_Post, h(), "Codes"));  // nothing set: nothing written, PKey reported

  // An empty value in a numeric control-table column is refused by its check.
  refused(edit_row(h(), "RL_Fields", 1, {{"FieldNumber", ""}}),
          {writer_error("post_edit", "CHECK constraint failed: typeof(FieldNumber) = 'integer'"),
           writer_error("post_edit", "SQL: UPDATE [RL_Fields] SET [FieldNumber] = '' WHERE PKey = 1;")});
  EXPECT_EQ((Rows{"-99", writer_error("post_insert", "NOT NULL constraint failed: RL_Messages.Message"),
                  writer_error("post_insert", "SQL: INSERT INTO [RL_Messages] ([MessageNumber]) VALUES ( 12);")}),
            outcome(h(), insert_row(h(), "RL_Messages", {{"MessageNumber", "12"}})));
}

TEST_F(RowBuffer, NewFieldLengthAndUniqueValues) {
  auto layouts = [&] { return value("SELECT count(*) FROM RL_LayoutFieldsPivot WHERE FieldPKey = 1"); };
  ASSERT_EQ(0, Qb_Edit(h(), "RL_Fields", 1));
  ASSERT_EQ(0, Qb_SetFieldByName(h(), "RL_Fields", "FieldLength", "8"));
  EXPECT_EQ("2", layouts());
  ASSERT_EQ(0, Qb_Cancel(h(), "RL_Fields"));
  EXPECT_EQ("2", layouts());
  // A post that fails keeps them too.
  EXPECT_EQ(-1, edit_row(h(), "RL_Fields", 1, {{"FieldLength", "8"}, {"LocalName", "L2"}}));
  EXPECT_EQ("2", layouts());
  EXPECT_EQ(0, edit_row(h(), "RL_Fields", 1, {{"FieldLength", "5"}, {"LocalName", "Same length"}}));
  EXPECT_EQ("2", layouts());
  EXPECT_EQ(0, edit_row(h(), "RL_Fields", 1, {{"FieldLength", "8"}}));
  EXPECT_EQ("0", layouts());
  EXPECT_EQ((Rows{"8|Same length"}), rows("SELECT FieldLength, LocalName FROM RL_Fields WHERE PKey = 1"));
  // Inserting compares nothing.
  EXPECT_EQ(3, insert_row(h(), "RL_Fields", {{"FieldNumber", "3"}, {"FieldName", "F3"}, {"LocalName", "L3"}, {"FieldLength", "9"}}));
  // "unique|clash" after a check of the value in the column, other than in row pkey.
  auto check = [&](const char* table, int pkey, const char* column, const char* value) {
    int isUnique = -1, clash = -1;
    EXPECT_EQ(0, Qb_ValidateUnique(h(), table, pkey, column, value, &isUnique, &clash));
    return std::to_string(isUnique) + "|" + std::to_string(clash);
  };
  EXPECT_EQ("1|0", check("RL_Fields", 1, "FieldName", "F1"));  // the row itself
  EXPECT_EQ("0|1", check("rl_fields", 0, "fieldname", "f1"));  // collate nocase
  EXPECT_EQ("0|2", check("RL_Fields", 0, "FieldNumber", "2"));
  ASSERT_EQ(2, insert_row(h(), "Codes", {{"Note", "O'Brien"}, {"Code", "AL"}}));
  EXPECT_EQ("0|2", check("Codes", 0, "Note", "O'Brien"));

  int isUnique = 7, clash = 7;
  refused(Qb_ValidateUnique(h(), "NoSuch", 0, "Note", "x", &isUnique, &clash),
          {writer_error("ValidateUnique", "Cannot find table named \"NoSuch\"")});
  refused(Qb_ValidateUnique(h(), "Codes", 0, "Nope", "x", &isUnique, &clash),
          {writer_error("ValidateUnique", "Cannot find field named \"Nope\" in table named \"Codes\"")});
  EXPECT_EQ("7|7", std::to_string(isUnique) + "|" + std::to_string(clash));
}

namespace {

class PostedKeys : public MetafileTest {
 protected:
  PostedKeys()
      : MetafileTest(std::string(kSetup) + kHostTables +
                     "CREATE TABLE Loose([PKey] integer, [Name] text);"
                     "CREATE TABLE Named([PKey] text NOT NULL PRIMARY KEY, [Name] text);"
                     "INSERT INTO Loose VALUES (1, 'near'), (4294967298, 'far');") {}
  // The post of a new row with these values.
  int post_new(const char* table, Values values) {
    int pkey = 0;
    EXPECT_EQ(0, Qb_Insert(h(), table));
    EXPECT_EQ(0, set_values(h(), table, values));
    return Qb_Post(h(), table, &pkey);
  }
  // A new lookup table of one column through the exports: its catalogue row's PKey, or -99.
  int create_table(const char* name) {
    int pkey = -99;
    bool made = Qb_DefineTableStructure(h(), name, 0) == 0 &&
                Qb_AddColumnDef(h(), "Name", "", 0, 10, 1, 0, "", "", "", "", 0) == 0 &&
                Qb_CreateTable(h(), &pkey) == 0;
    return made ? pkey : -99;
  }
  // "<rows>|<rows keyed from lowest>" of the rows of the table whose keys are not among those listed.
  std::string new_rows(const char* table, const std::string& oldKeys, int lowest) {
    return value("SELECT count(*) || '|' || count(CASE WHEN PKey >= " + std::to_string(lowest) + " THEN 1 END) FROM " +
                 table + " WHERE PKey NOT IN (" + oldKeys + ")");
  }
  static std::string not_posted(const char* method, const std::string& key, const std::string& table) {
    return writer_error(method, "PKey \"" + key + "\" of table \"" + table +
                                    "\" is not a whole number from -2147483648 to 2147483647; the row is not posted");
  }
};

}  // namespace

// A row is posted only where the exports can reach it again by its key: the
// key the file stores, read back, is a whole number within an int's range.
// Anything else is undone with the reason, since Qb_Edit could never name the
// row and the key handed back would be another row's.
TEST_F(PostedKeys, MustBeKeysTheExportsCanUseOnEveryTable) {
  EXPECT_EQ(20, insert_row(h(), "Codes", {{"PKey", "2e1"}, {"Code", "AK"}}));
  EXPECT_EQ(0, edit_row(h(), "Codes", 20, {{"PKey", "30e-1"}}));
  EXPECT_EQ((Rows{"1", "3"}), rows("SELECT PKey FROM Codes ORDER BY PKey"));

  refused(post_new("Codes", {{"PKey", "4294967298"}, {"Code", "AK"}}),
          {not_posted("post_insert", "4294967298", "Codes")});
  refused(post_new("Shades", {{"PKey", "4294967298"}, {"Name", "far"}}),
          {not_posted("post_insert", "4294967298", "Shades")});
  refused(post_new("Loose", {{"PKey", "2.5"}}), {not_posted("post_insert", "2.5", "Loose")});
  refused(post_new("Named", {{"PKey", "k1"}}), {not_posted("post_insert", "k1", "Named")});
  refused(edit_row(h(), "Codes", 3, {{"PKey", "-2147483649"}, {"Note", "moved"}}),
          {not_posted("post_edit", "-2147483649", "Codes")});
  refused(edit_row(h(), "Loose", 1, {{"PKey", "1.5"}}), {not_posted("post_edit", "1.5", "Loose")});
  EXPECT_EQ((Rows{"1", "3"}), rows("SELECT PKey FROM Codes ORDER BY PKey"));
  EXPECT_EQ((Rows{"1|near", "4294967298|far"}), rows("SELECT PKey, Name FROM Loose ORDER BY PKey"));
  EXPECT_EQ("0", value("SELECT count(*) FROM Shades WHERE PKey > 2 UNION ALL SELECT count(*) FROM Named"));
  EXPECT_EQ("<null>", value("SELECT Note FROM Codes WHERE PKey = 3"));

  // A row stored without a key is refused as a posted NULL is.
  refused(post_new("Loose", {{"Name", "keyless"}}), {not_posted("post_insert", "NULL", "Loose")});
  EXPECT_EQ("2", value("SELECT count(*) FROM Loose"));

  // So is a clash with a row that no int can name.
  int isUnique = 7, clash = 7;
  refused(Qb_ValidateUnique(h(), "Loose", 0, "Name", "far", &isUnique, &clash),
          {writer_error("ValidateUnique", "PKey \"4294967298\" of table \"Loose\" is not a whole number from "
                                          "-2147483648 to 2147483647")});
  EXPECT_EQ("7|7", std::to_string(isUnique) + "|" + std::to_string(clash));
}

// Where the database would number a new row past what an int holds, the row
// takes a free key instead, whoever numbers it: a post, a new membership, a
// new lookup table's catalogue row. The key handed back is the one the row
// holds, after an edit that moves it too.
TEST_F(PostedKeys, RowsTheDatabaseNumbersGetKeysAnIntHolds) {
  exec("INSERT INTO Codes(PKey, Code) VALUES (2147483647, 'AL');"
       "INSERT INTO RL_Messages(PKey, MessageNumber, Message) VALUES (-2147483648, 90, 'low'), (2147483647, 91, 'high');"
       "INSERT INTO RL_LayoutFieldsPivot(PKey, LayoutPKey, FieldPKey, StartPos) VALUES (2147483647, 2, 2, 9);"
       "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (-2147483648, 'Low', 0), (2147483647, 'High', 0);");
  EXPECT_EQ(2, insert_row(h(), "Codes", {{"Code", "AK"}}));
  EXPECT_EQ(2, insert_row(h(), "RL_Messages", {{"MessageNumber", "92"}, {"Message", "next"}}));
  EXPECT_EQ(3, insert_row(h(), "RL_Messages", {{"PKey", "NULL"}, {"MessageNumber", "93"}, {"Message", "null key"}}));
  ASSERT_EQ(0, Qb_AddLayoutsPivot(h(), 1, 2, 5));
  EXPECT_EQ("3", value("SELECT PKey FROM RL_LayoutFieldsPivot WHERE LayoutPKey = 1 AND FieldPKey = 2"));
  ASSERT_EQ(0, Qb_DeleteLayoutsPivot(h(), 1, 2));
  EXPECT_EQ(3, create_table("Fresh"));
  EXPECT_EQ("Fresh", value("SELECT TableName FROM RL_LookupTables WHERE PKey = 3"));

  // A file made elsewhere, with a catalogue row past an int.
  exec("UPDATE RL_LookupTables SET PKey = 4294967297 WHERE PKey = 2147483647;");
  EXPECT_EQ(4, create_table("Fresher"));
  EXPECT_EQ("Fresher", value("SELECT TableName FROM RL_LookupTables WHERE PKey = 4"));
  ASSERT_EQ(0, Qb_CopyLookupTable(h(), "Fresher", "Copied", 1));
  EXPECT_EQ("Copied", value("SELECT TableName FROM RL_LookupTables WHERE PKey = 5"));

  // An edit that moves the row hands back the key it holds as stored.
  int pkey = -1;
  ASSERT_EQ(0, Qb_Edit(h(), "Codes", 2));
  ASSERT_EQ(0, Qb_SetFieldByName(h(), "Codes", "PKey", "2e1"));
  ASSERT_EQ(0, Qb_Post(h(), "Codes", &pkey));
  EXPECT_EQ(20, pkey);
  EXPECT_EQ((Rows{"1", "20", "2147483647"}), rows("SELECT PKey FROM Codes ORDER BY PKey"));
}

// Past the top key a new row takes the key past the greatest below the top,
// else the key below the least, on every path that numbers rows: each is
// found by a seek, where the lowest free key from 1 took a scan of the table
// for every row.
TEST_F(PostedKeys, PastTheTopRowsTakeTheKeyPastTheGreatestOrBelowTheLeast) {
  exec("INSERT INTO RL_Fields(PKey, FieldNumber, FieldName, LocalName, FieldLength) VALUES"
       " (3, 3, 'F3', 'L3', 1), (4, 4, 'F4', 'L4', 1);"
       "INSERT INTO Codes(PKey, Code) VALUES (5, 'AL'), (2147483647, 'AL');"
       "INSERT INTO RL_Agencies(PKey, AdminCode, OrgName) VALUES (6, 'AG6', 'Six'), (2147483647, 'TOP', 'Top');"
       "INSERT INTO RL_Messages(PKey, MessageNumber, Message) VALUES (9, 90, 'nine'), (2147483647, 91, 'high');"
       "INSERT INTO RL_LayoutFieldsPivot(PKey, LayoutPKey, FieldPKey, StartPos) VALUES (6, 1, 2, 4),"
       " (2147483647, 2, 2, 9);"
       "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (8, 'Eight', 0), (2147483647, 'High', 0);");
  EXPECT_EQ(6, insert_row(h(), "Codes", {{"Code", "AK"}}));
  EXPECT_EQ(7, insert_row(h(), "Codes", {{"Code", "AK"}}));
  EXPECT_EQ(7, insert_row(h(), "RL_Agencies", {{"AdminCode", "AG7"}, {"OrgName", "Seven"}}));
  EXPECT_EQ(10, insert_row(h(), "RL_Messages", {{"MessageNumber", "92"}, {"Message", "ten"}}));
  ASSERT_EQ(0, Qb_AddLayoutsPivot(h(), 1, 3, 10));
  ASSERT_EQ(0, Qb_AddLayoutsPivot(h(), 1, 4, 11));
  EXPECT_EQ((Rows{"7|3", "8|4"}),
            rows("SELECT PKey, FieldPKey FROM RL_LayoutFieldsPivot WHERE FieldPKey > 2 ORDER BY PKey"));
  EXPECT_EQ(9, create_table("Fresh"));
  ASSERT_EQ(0, Qb_CopyLookupTable(h(), "Fresh", "Copied", 1));
  EXPECT_EQ((Rows{"9|Fresh", "10|Copied"}), rows("SELECT PKey, TableName FROM RL_LookupTables WHERE PKey IN (9, 10)"));

  // The key below the top taken too, and none lower.
  exec("DELETE FROM Codes; INSERT INTO Codes(PKey, Code) VALUES (2147483646, 'AL'), (2147483647, 'AL');"
       "DELETE FROM RL_Messages WHERE PKey < 2147483647;"
       "INSERT INTO RL_Messages(PKey, MessageNumber, Message) VALUES (2147483646, 93, 'below');");
  EXPECT_EQ(2147483645, insert_row(h(), "Codes", {{"Code", "AK"}}));
  EXPECT_EQ(2147483644, insert_row(h(), "Codes", {{"Code", "AK"}}));
  EXPECT_EQ(2147483645, insert_row(h(), "RL_Messages", {{"MessageNumber", "94"}, {"Message", "next"}}));
}

// With the keys at both ends taken, new rows take other free keys, each
// checked free: none is lost, none takes a key held before, none takes key 1
// of RL_Agencies or RL_Messages.
TEST_F(PostedKeys, PastTheTopWithBothEndsTakenRowsTakeOtherFreeKeys) {
  const std::string top = "2147483646, 2147483647";
  exec("INSERT INTO RL_Fields(PKey, FieldNumber, FieldName, LocalName, FieldLength) VALUES"
       " (3, 3, 'F3', 'L3', 1), (4, 4, 'F4', 'L4', 1), (5, 5, 'F5', 'L5', 1);"
       "INSERT INTO Codes(PKey, Code) VALUES (2147483646, 'AL'), (2147483647, 'AL');"
       "INSERT INTO RL_Agencies(PKey, AdminCode, OrgName) VALUES (2147483646, 'LOW', 'Low'),"
       " (2147483647, 'TOP', 'Top');"
       "DELETE FROM RL_Messages;"
       "INSERT INTO RL_Messages(PKey, MessageNumber, Message) VALUES (2, 90, 'two'), (2147483646, 91, 'low'),"
       " (2147483647, 92, 'high');"
       "INSERT INTO RL_LayoutFieldsPivot(PKey, LayoutPKey, FieldPKey, StartPos) VALUES (2147483646, 2, 2, 9),"
       " (2147483647, 1, 2, 9);"
       "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (2147483646, 'Low', 0),"
       " (2147483647, 'High', 0);");
  Rows posted;
  for (int field = 3; field <= 5; ++field) {
    const std::string name = "N" + std::to_string(field), number = std::to_string(field);
    const char* text = name.c_str();
    posted.push_back(std::to_string(insert_row(h(), "Codes", {{"Code", "AK"}, {"Note", text}})) + "|" + name);
    posted.push_back(std::to_string(insert_row(h(), "RL_Agencies", {{"AdminCode", text}, {"OrgName", text}})) + "|" +
                     name);
    posted.push_back(
        std::to_string(insert_row(h(), "RL_Messages", {{"MessageNumber", number.c_str()}, {"Message", text}})) + "|" +
        name);
    EXPECT_EQ(0, Qb_AddLayoutsPivot(h(), 1, field, 10 + field));
    EXPECT_LT(0, create_table(text));
  }
  std::sort(posted.begin(), posted.end());
  ASSERT_EQ(0, Qb_CopyLookupTable(h(), "N3", "Copied", 1));
  EXPECT_EQ(posted, rows("SELECT PKey || '|' || Note FROM Codes WHERE Note LIKE 'N_' UNION ALL SELECT PKey || '|' || "
                         "AdminCode FROM RL_Agencies WHERE AdminCode LIKE 'N_' UNION ALL SELECT PKey || '|' || Message "
                         "FROM RL_Messages WHERE Message LIKE 'N_' ORDER BY 1 COLLATE BINARY")) << "keys handed back";
  EXPECT_EQ("3|3", new_rows("Codes", "1, " + top, 1));
  EXPECT_EQ("3|3", new_rows("RL_Agencies", "1, 2, " + top, 2));
  EXPECT_EQ("3|3", new_rows("RL_Messages", "2, " + top, 2));
  EXPECT_EQ("3|3", new_rows("RL_LayoutFieldsPivot", "1, 2, " + top, 1));
  EXPECT_EQ("4|4", new_rows("RL_LookupTables", "1, 2, " + top, 1));
}

// Key 1 of RL_Agencies (the agency "NONE") and of RL_Messages (the default
// message) is never given to a row the database numbers, even with its row
// gone: where the database would number the row 1, it takes 2.
TEST_F(PostedKeys, KeyOneOfAgenciesAndMessagesIsNeverNumbered) {
  // Messages belong to the agency posted first, agency 1 being gone.
  auto post_message = [this](const char* number, const char* text) {
    return insert_row(h(), "RL_Messages", {{"AgencyPKey", "2"}, {"MessageNumber", number}, {"Message", text}});
  };
  exec("DELETE FROM RL_Agencies; DELETE FROM RL_Messages;");
  EXPECT_EQ(2, insert_row(h(), "RL_Agencies", {{"AdminCode", "AG3"}, {"OrgName", "Three"}}));
  EXPECT_EQ(2, post_message("90", "ninety"));
  EXPECT_EQ(3, post_message("91", "ninety-one"));
  exec("DELETE FROM RL_Agencies; DELETE FROM RL_Messages;"
       "INSERT INTO RL_Agencies(PKey, AdminCode, OrgName) VALUES (-4, 'LOW', 'Low'), (0, 'ZERO', 'Zero');"
       "INSERT INTO RL_Messages(PKey, MessageNumber, Message) VALUES (0, 92, 'zero');");
  EXPECT_EQ(2, insert_row(h(), "RL_Agencies", {{"AdminCode", "AG4"}, {"OrgName", "Four"}}));
  EXPECT_EQ(2, post_message("93", "ninety-three"));
  EXPECT_EQ((Rows{"-4", "0", "2"}), rows("SELECT PKey FROM RL_Agencies ORDER BY PKey"));
  EXPECT_EQ((Rows{"0", "2"}), rows("SELECT PKey FROM RL_Messages ORDER BY PKey"));
}

namespace {

// O'Who? puts quotes on both sides of the "?" of its name once its column
// it's follows in a statement.
class HostTableRows : public MetafileTest {
 protected:
  HostTableRows()
      : MetafileTest(std::string(kHostTables) +
                     "CREATE TABLE [O'Who?]([PKey] integer NOT NULL PRIMARY KEY, [it's] varchar(5));"
                     "INSERT INTO [O'Who?] VALUES (1, 'x');") {}
};

}  // namespace

// Rows of a table declared WITHOUT ROWID and of tables whose names hold "?"
// are inserted, with their new PKeys, edited, checked for uniqueness and
// deleted like any other; a refused INSERT leaves nothing.
TEST_F(HostTableRows, InsertEditCheckAndDelete) {
  EXPECT_EQ(5, insert_row(h(), "Shades", {{"PKey", "5"}, {"Name", "teal"}}));
  EXPECT_EQ(3, insert_row(h(), "Who?", {{"Name", "cy"}}));
  EXPECT_EQ(0, edit_row(h(), "Shades", 5, {{"Code", "T5"}}));
  EXPECT_EQ(0, edit_row(h(), "Who?", 3, {{"Code", "C3"}}));
  const struct {
    const char *Table, *Column, *Value;
  } values[] = {{"Shades", "Code", "B2"}, {"Who?", "Code", "B2"}, {"O'Who?", "it's", "x"}};
  Rows checks;
  for (const auto& value : values) {
    int isUnique = -1, clash = -1;
    EXPECT_EQ(0, Qb_ValidateUnique(h(), value.Table, 0, value.Column, value.Value, &isUnique, &clash));
    checks.push_back(std::to_string(isUnique) + "|" + std::to_string(clash));
  }
  EXPECT_EQ((Rows{"0|2", "0|2", "0|1"}), checks);
  EXPECT_EQ(0, Qb_Delete(h(), "Shades", 1));
  EXPECT_EQ(0, Qb_Delete(h(), "Who?", 1));
  EXPECT_EQ((Rows{"2|blue|B2", "5|teal|T5"}), rows("SELECT * FROM Shades"));
  EXPECT_EQ((Rows{"2|bob|B2", "3|cy|C3"}), rows("SELECT * FROM [Who?]"));
  Rows before = snapshot(path());
  EXPECT_EQ((Rows{"-99", writer_error("post_insert", "UNIQUE constraint failed: Shades.PKey"),
                  writer_error("post_insert", "SQL: INSERT INTO [Shades] ([PKey], [Name]) VALUES ( 2, 'x') RETURNING PKey;")}),
            outcome(h(), insert_row(h(), "Shades", {{"PKey", "2"}, {"Name", "x"}})));
  EXPECT_EQ(before, snapshot(path()));
}

// A table declared WITHOUT ROWID whose columns take every name of the rowid
// reports the PKey of a posted row as any such table does.
TEST(HostTableRowNames, ColumnsNamedLikeTheRowid) {
  OpenMetafile file("CREATE TABLE Bare([PKey] integer NOT NULL PRIMARY KEY, [rowid] text, [OID] text, [_rowid_] text)"
                    " WITHOUT ROWID;");
  int h = file.handle();
  EXPECT_EQ(7, insert_row(h, "Bare", {{"PKey", "7"}, {"OID", "b"}}));
  EXPECT_EQ((Rows{"7|<null>|b|<null>"}), RawDB(file.path()).rows("SELECT * FROM Bare"));
}

// A new row is found by a name of its rowid that no column takes: a column
// named rowid would find no row, or another row whose value it holds.
TEST(HostTableRowNames, ANewRowIsFoundByARowidNameNoColumnTakes) {
  OpenMetafile file(
      "CREATE TABLE Named([PKey] integer NOT NULL PRIMARY KEY, [RowID] integer);"
      "INSERT INTO Named VALUES (5, 6);"
      "CREATE TABLE AllNames([PKey] integer NOT NULL PRIMARY KEY, [rowid] text, [oid] text, [_rowid_] text);");
  int h = file.handle();
  EXPECT_EQ(6, insert_row(h, "Named", {{"RowID", "5"}}));
  EXPECT_EQ(1, insert_row(h, "AllNames", {{"oid", "b"}}));
  RawDB db(file.path());
  EXPECT_EQ((Rows{"5|6", "6|5"}), db.rows("SELECT * FROM Named"));
  EXPECT_EQ((Rows{"1|<null>|b|<null>"}), db.rows("SELECT * FROM AllNames"));
}
