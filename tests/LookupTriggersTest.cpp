// The triggers of lookup tables: their texts rewritten by whole names when tables named like SQL keywords
// are copied and renamed, and trigger texts that cannot be read, which must never leave a table in the
// model without its triggers; a copy whose new table cannot be read into the model is undone.
#include <cstring>

#include "AuthoringTestSupport.h"
#include "api/EditAPI.h"
#include "api/SMF.h"
#include "api/SMFRenameTexts.h"
#include "storage/SQLDB.h"

namespace {

std::string replaced(std::string text, const std::string& mark, const std::string& by) {
  for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + by.size()))
    text.replace(at, mark.size(), by);
  return text;
}

// A table's texts with %T standing for the table where it is named, %S for
// its name inside a string, %X and %P for the prefixes of index and trigger names.
const char* const kTexts[] = {
    "CREATE TABLE %T(PKey integer primary key, [Key] varchar(10), Stamp varchar(10))",
    "CREATE INDEX %X_Key ON %T([Key])",
    "CREATE TRIGGER %P_u AFTER UPDATE OF [Key] ON %T WHEN new.[Key] <> 'on %S' "
    "BEGIN UPDATE OR IGNORE %T SET Stamp = 'u' WHERE PKey = new.PKey; END",
    "CREATE TRIGGER %P_i AFTER INSERT ON /* itself */ %T WHEN new.[Key] = 'call' BEGIN DELETE FROM %T WHERE [Key] = "
    "'gone'; INSERT INTO %T([Key], Stamp) VALUES ('echo', 'i'); INSERT OR REPLACE INTO %T(PKey, [Key], Stamp) VALUES "
    "(50, 'or', 'i'); REPLACE INTO\n%T(PKey, [Key], Stamp) VALUES (60, 'replace', 'i'); END"};

// The texts of table `name` as `written` there.
Rows texts(const std::string& name, const std::string& written, const std::string& string) {
  Rows all;
  for (const char* text : kTexts) {
    std::string filled = replaced(replaced(text, "%T", written), "%S", string);
    all.push_back(replaced(replaced(filled, "%X", "x" + name.substr(0, 8)), "%P", "_" + name.substr(0, 8)));
  }
  return all;
}

std::string joined(const Rows& texts) {
  std::string sql;
  for (const std::string& text : texts) sql += text + ";";
  return sql;
}

// The statements that read the texts of this kind of a table into the model
// ("trigger" or "index") are interrupted while the handler below is set on
// their connection.
const char* gInterruptedKind = "trigger";

int interrupt_schema_reads(void* db) {
  sqlite3* connection = static_cast<sqlite3*>(db);
  const std::string mark = std::string("LIKE '") + gInterruptedKind + "'";
  for (sqlite3_stmt* s = sqlite3_next_stmt(connection, nullptr); s != nullptr; s = sqlite3_next_stmt(connection, s))
    if (sqlite3_stmt_busy(s) && sqlite3_sql(s) != nullptr && strstr(sqlite3_sql(s), mark.c_str()) != nullptr)
      return 1;
  return 0;
}

void interrupt_schema_reads_of(sqlite3* db, const char* kind) {
  if (kind != nullptr) gInterruptedKind = kind;
  sqlite3_progress_handler(db, kind != nullptr ? 1 : 0, kind != nullptr ? interrupt_schema_reads : nullptr, db);
}

void interrupt_trigger_reads_of(sqlite3* db, bool interrupted) {
  interrupt_schema_reads_of(db, interrupted ? "trigger" : nullptr);
}

int interrupt_on_open(sqlite3* db, const char**, const void*) {
  interrupt_trigger_reads_of(db, true);
  return SQLITE_OK;
}

const std::string kZip =
    "CREATE TABLE Zip([PKey] integer NOT NULL PRIMARY KEY, [Code] char(5) NOT NULL, [Stamp] varchar(1) NULL);"
    "CREATE TRIGGER _Zip_stamp AFTER UPDATE ON Zip BEGIN UPDATE Zip SET [Stamp] = 'x' WHERE PKey = new.PKey; END;"
    "INSERT INTO Zip(PKey, Code) VALUES (7, '12345');"
    "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'Zip', 1);";

// Restructures Zip, its rows and trigger-maintained column kept.
int restructure_zip(int h) {
  int pkey = 0;
  if (Qb_DefineTableStructure(h, "Zip", 1) != 0 ||
      Qb_AddColumnDef(h, "Code", "Code", 0, 5, 0, 0, nullptr, nullptr, nullptr, nullptr, 0) != 0 ||
      Qb_AddColumnDef(h, "Stamp", nullptr, 0, 1, 1, 1, nullptr, nullptr, nullptr, nullptr, 0) != 0)
    return -99;
  return Qb_CreateTable(h, &pkey);
}

// Tables named like SQL keywords, as their texts write them.
struct KeywordTable {
  std::string name, written;
};
const KeywordTable kKeywordTables[] = {
    {"Of", "Of"}, {"On", "[On]"}, {"Or", "\"Or\""}, {"Update", "`Update`"}, {"Begin", "Begin"}};

}  // namespace

// Each table is copied and then renamed; the copy and the renamed table keep
// triggers that write to themselves, never to the old table.
TEST(LookupTriggers, TablesNamedLikeKeywordsAreCopiedAndRenamedWithTheirTriggers) {
  for (const KeywordTable& c : kKeywordTables) {
    SCOPED_TRACE(c.name);
    OpenMetafile file(joined(texts(c.name, c.written, c.written)) +
                      "INSERT INTO " + c.written + "(PKey, [Key]) VALUES (1, 'a'), (2, 'gone');"
                      "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, '" + c.name + "', 2);");
    int h = file.handle();
    RawDB raw(file.path());
    auto schema = [&](const std::string& table) {
      return raw.rows("SELECT sql FROM sqlite_master WHERE tbl_name = '" + table + "' ORDER BY rowid");
    };
    const Rows original = {"1|a|<null>", "2|gone|<null>"};
    const Rows fired = {"1|b|u", "3|call|<null>", "4|echo|i", "50|or|i", "60|replace|i"};
    for (const std::string suffix : {"Copy", "Moved"}) {
      std::string target = c.name + suffix;
      if (suffix == "Copy") {
        ASSERT_EQ(0, Qb_CopyLookupTable(h, c.name.c_str(), target.c_str(), 1)) << engine_errors(h).at(0);
        EXPECT_EQ(original, raw.rows("SELECT * FROM " + c.written));
      } else {
        ASSERT_EQ(0, edit_row(h, "RL_LookupTables", 1, {{"TableName", target.c_str()}})) << engine_errors(h).at(0);
        EXPECT_EQ(Rows{}, schema(c.name));
      }
      EXPECT_EQ(texts(target, "[" + target + "]", c.written), schema(target));
      EXPECT_EQ(original, raw.rows("SELECT * FROM " + target));
      EXPECT_EQ(0, edit_row(h, target.c_str(), 1, {{"Key", "b"}}));
      EXPECT_NE(-99, insert_row(h, target.c_str(), {{"Key", "call"}}));
      EXPECT_EQ(fired, raw.rows("SELECT * FROM " + target));
    }
  }
}

// Another table's trigger that writes such a table refers to it, so the table
// is not renamed; the same words in that trigger's own clauses refer to nothing.
TEST(LookupTriggers, TablesNamedLikeKeywordsWrittenByAnotherTableAreNotRenamed) {
  for (const KeywordTable& c : kKeywordTables) {
    SCOPED_TRACE(c.name);
    OpenMetafile file(joined(texts(c.name, c.written, c.written)) +
                      "CREATE TABLE Log(a); CREATE TRIGGER log AFTER UPDATE OF a ON Log BEGIN UPDATE OR IGNORE " +
                      c.written + " SET Stamp = 'l'; END;"
                      "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, '" + c.name + "', 0);");
    int h = file.handle();
    EXPECT_EQ((Rows{"-1", tsmf_error("RenameLookupTable", "Table \"" + c.name +
                                                              "\" cannot be renamed: trigger \"log\" refers to it, "
                                                              "and would be left naming a table that is gone")}),
              outcome(h, edit_row(h, "RL_LookupTables", 1, {{"TableName", "Moved"}})));
  }
}

// Copying, renaming or restructuring a table whose trigger texts cannot be
// read fails; nothing is left half done, and no later restructure loses them.
TEST(LookupTriggers, TriggerTextsThatCannotBeReadAreFailures) {
  OpenMetafile file(kZip);
  int h = file.handle();
  sqlite3* db = InitCheck(h)->GetSQLDB()->Database();
  const Rows before = snapshot(file.path());
  interrupt_trigger_reads_of(db, true);
  EXPECT_EQ((Rows{"-1", tsmf_error("RenameLookupTable", "Failure in call to add_table_triggers"),
                  tsmf_error("RenameLookupTable", "interrupted")}),
            outcome(h, Qb_CopyLookupTable(h, "Zip", "Zip2", 1)));
  EXPECT_EQ(-1, edit_row(h, "RL_LookupTables", 1, {{"TableName", "Zip3"}}));
  EXPECT_EQ(tsmf_error("RenameLookupTable", "Failure in call to add_table_triggers"), engine_errors(h).at(0));
  EXPECT_EQ(before, snapshot(file.path()));
  EXPECT_EQ(3, out_int(Edit_GetColumnsCount, h, "Zip"));
  EXPECT_EQ(-99, out_int(Edit_GetColumnsCount, h, "Zip2"));

  // The restructure is done, but the model cannot read the table back.
  EXPECT_EQ((Rows{"-1", tsmf_error("UpdateTableStats", "Failure in call to add_table_triggers"),
                  tsmf_error("UpdateTableStats", "Failure to read the definition of table \"Zip\"")}),
            outcome(h, restructure_zip(h)));
  EXPECT_EQ(-99, out_int(Edit_GetTriggerCount, h, "Zip"));
  // Restructured again, the table is read first, and its trigger kept.
  EXPECT_EQ(-1, restructure_zip(h));
  interrupt_trigger_reads_of(db, false);
  EXPECT_EQ(0, restructure_zip(h));
  EXPECT_EQ(1, out_int(Edit_GetTriggerCount, h, "Zip"));
  EXPECT_EQ(0, edit_row(h, "Zip", 7, {{"Code", "54321"}}));  // the rows keep their keys
  EXPECT_EQ((Rows{"7|54321|x"}), RawDB(file.path()).rows("SELECT * FROM Zip"));

  // A metafile whose trigger texts cannot be read does not open.
  sqlite3_auto_extension(reinterpret_cast<void (*)()>(interrupt_on_open));
  TSMF smf;
  char message[100];
  EXPECT_EQ(-1, smf.InitializeMetafile(file.path().c_str(), message, sizeof message, nullptr, 1));
  sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(interrupt_on_open));
  EXPECT_STREQ("Unable to build tables list: interrupted", message);
  int count = 0;
  ASSERT_EQ(0, smf.GetEngineErrorsCount(&count));
  ASSERT_EQ(2, count);
  EXPECT_EQ(0, smf.GetEngineErrorByIndex(1, message, sizeof message));
  EXPECT_EQ(tsmf_error("build_tables_list", "Failure in call to add_table_triggers"), message);
}

// A copy whose new table cannot be read into the model (its index texts
// cannot be read) says so, and is undone whole.
TEST(LookupTriggers, ACopyThatCannotBeReadBackIsUndone) {
  OpenMetafile file(kZip);
  int h = file.handle();
  sqlite3* db = InitCheck(h)->GetSQLDB()->Database();
  const Rows before = snapshot(file.path());
  interrupt_schema_reads_of(db, "index");
  EXPECT_EQ((Rows{"-1", tsmf_error("RenameLookupTable", "Failure to read the definition of table \"Zip2\"")}),
            outcome(h, Qb_CopyLookupTable(h, "Zip", "Zip2", 1)));
  interrupt_schema_reads_of(db, nullptr);
  EXPECT_EQ(before, snapshot(file.path()));
  EXPECT_EQ(-99, out_int(Edit_GetColumnsCount, h, "Zip2"));
  EXPECT_EQ(1, out_int(Edit_GetTriggerCount, h, "Zip"));
  EXPECT_EQ(0, Qb_CopyLookupTable(h, "Zip", "Zip2", 1));
  EXPECT_EQ(3, out_int(Edit_GetColumnsCount, h, "Zip2"));
}

// Only names in a table's place change, a table's references to itself
// included; words, strings, comments, columns and other tables that spell the
// old name stay, and damaged texts come back whole.
TEST(LookupTriggers, TextsRenamedOnlyWhereTheyNameTheTable) {
  const TRenamedNames names = {"On", "Next", "_On_", "_Next_"};
  const std::pair<const char*, const char*> cases[] = {
      {"CREATE TABLE \"on\"(a)", "CREATE TABLE [Next](a)"},
      {"CREATE TABLE Onward(a)", "CREATE TABLE Onward(a)"},
      {"CREATE TABLE [On](a REFERENCES \"ON\"(a), b REFERENCES main.on, c REFERENCES Onward, d CHECK (d <> "
       "'REFERENCES On'), FOREIGN KEY (a) REFERENCES `on`)",
       "CREATE TABLE [Next](a REFERENCES [Next](a), b REFERENCES main.[Next], c REFERENCES Onward, d CHECK (d <> "
       "'REFERENCES On'), FOREIGN KEY (a) REFERENCES [Next])"},
      {"CREATE TRIGGER _On_t AFTER INSERT ON main.[On] BEGIN SELECT 1; END",
       "CREATE TRIGGER _Next_t AFTER INSERT ON main.[Next] BEGIN SELECT 1; END"},
      {"CREATE TRIGGER IF NOT EXISTS \"_On_t\" BEFORE DELETE ON `On` FOR EACH ROW BEGIN "
       "INSERT INTO [On](a) VALUES ('ON [On]') ON CONFLICT(a) DO UPDATE SET a = 'On'; UPDATE Other SET [On] = 1; "
       "DELETE FROM -- [On]\n[On]; END",
       "CREATE TRIGGER IF NOT EXISTS \"_Next_t\" BEFORE DELETE ON [Next] FOR EACH ROW BEGIN "
       "INSERT INTO [Next](a) VALUES ('ON [On]') ON CONFLICT(a) DO UPDATE SET a = 'On'; UPDATE Other SET [On] = 1; "
       "DELETE FROM -- [On]\n[Next]; END"},
      {"CREATE UNIQUE INDEX x_On_a ON [On](a) WHERE a <> '_On_'",
       "CREATE UNIQUE INDEX x_Next_a ON [Next](a) WHERE a <> '_On_'"},
      {"CREATE TRIGGER t AFTER UPDATE ON 'On' BEGIN UPDATE 'On' SET a = 'On'; END",
       "CREATE TRIGGER t AFTER UPDATE ON [Next] BEGIN UPDATE [Next] SET a = 'On'; END"},
      {"CREATE TRIGGER t AFTER UPDATE ON [On] BEGIN UPDATE [On",
       "CREATE TRIGGER t AFTER UPDATE ON [Next] BEGIN UPDATE [Next]"},
      {"CREATE TRIGGER _On_t AFTER UPDATE ON", "CREATE TRIGGER _Next_t AFTER UPDATE ON"},
      {"DROP TABLE [On]", "DROP TABLE [On]"},
      {"", ""}};
  for (const auto& [text, renamed] : cases) EXPECT_EQ(renamed, rename_schema_text(text, names)) << text;
  // The body begins at the first BEGIN after the table's name that is no column of the WHEN clause.
  const TRenamedNames begin = {"Begin", "Next", "_Begin_", "_Next_"};
  EXPECT_EQ(
      "CREATE TRIGGER _Next_t AFTER INSERT ON [Next] BEGIN UPDATE [Next] SET a = 1; END",
      rename_schema_text("CREATE TRIGGER _Begin_t AFTER INSERT ON Begin BEGIN UPDATE Begin SET a = 1; END", begin));
  EXPECT_EQ("CREATE TRIGGER t AFTER INSERT ON [Next] WHEN new.Begin IS NULL AND (SELECT begin FROM x) BEGIN "
            "DELETE FROM [Next]; END",
            rename_schema_text("CREATE TRIGGER t AFTER INSERT ON \"Begin\" WHEN new.Begin IS NULL AND (SELECT begin "
                               "FROM x) BEGIN DELETE FROM Begin; END",
                               begin));
}
