// The lookup built-ins run by the engine over logic its compiler wrote:
// lookup, ilookup, rlookup, sqllookup and sqlrangelookup against lookup tables
// of the metafile, the copy of a found row into variables, the table specs and
// column lists, and every failure with its engine errors. A second run-time
// over a table model the test controls shows definitions being replaced and
// statements that fail while they step.
#include <cstdio>
#include <filesystem>
#include <memory>

#include "AuthoringTestSupport.h"
#include "RunTestSupport.h"
#include "library/LibFuncs.h"
#include "runtime/RunEdits.h"
#include "storage/EngineErrorsPump.h"
#include "storage/SQLDB.h"
#include "storage/TableStats.h"
#include "storage/Utility.h"

namespace {

// CITY is declared shorter than some of its texts; KEYCOL columns are
// trigger-maintained (varchar(1)) and hold texts of 7 characters; the tables
// AB and ABC give the same text when name and column are written together.
const char* const kLookupTables =
    "CREATE TABLE ZIPS([PKey] integer not null primary key, [CODE] varchar(10) not null collate nocase,"
    " [CITY] varchar(5) null collate nocase, [POP] integer null, [STATE] varchar(2) null collate nocase,"
    " [ZIP] varchar(5) null collate nocase);"
    "CREATE INDEX xZIPS_CODE ON ZIPS([CODE]);"
    "INSERT INTO ZIPS VALUES (1,'10001','New York',8000,'NY','10001'),(2,'abc','Lower',1,'NY','10002'),"
    " (3,'O''BR','Quote',2,'MA','02101'),(4,'  LEAD','Lead',3,'CA','90001'),(5,'def','LOWER',5,'NJ',NULL);"
    "CREATE TABLE BANDS([PKey] integer not null primary key, [LOW] varchar(4) collate nocase, [LABEL] varchar(20));"
    "CREATE INDEX xBANDS_LOW ON BANDS([LOW]);"
    "INSERT INTO BANDS VALUES (1,'100','one hundred'),(2,'200','two hundred'),(3,'300','three hundred'),"
    " (4,'1000','one thousand');"
    "CREATE TABLE TRIG([PKey] integer not null primary key, [KEYCOL] varchar(1), [NAME] varchar(10));"
    "CREATE INDEX xTRIG_KEYCOL ON TRIG([KEYCOL]);"
    "INSERT INTO TRIG VALUES (1,'123    ','padded'),(2,'1234567','full');"
    "CREATE TABLE NOROWS([PKey] integer not null primary key, [KEYCOL] varchar(1));"
    "CREATE TABLE AB([PKey] integer not null primary key, [CD] varchar(5), [NAME] varchar(10));"
    "CREATE TABLE ABC([PKey] integer not null primary key, [D] varchar(5), [NAME] varchar(10));"
    "INSERT INTO AB VALUES (1,'x1','from AB');"
    "INSERT INTO ABC VALUES (1,'x1','from ABC');"
    "CREATE TABLE ODD([PKey] integer not null primary key, \"K]EY\" varchar(5), [NAME] varchar(10));"
    "INSERT INTO ODD VALUES (1,'k1','odd one');"
    "INSERT INTO RL_LookupTables(TableName, RecCount) VALUES ('ZIPS',5),('BANDS',4),('TRIG',2),('NOROWS',0),"
    " ('AB',1),('ABC',1),('ODD',1);";

std::string lib_error(const std::string& method, const std::string& message) {
  return "TLibFuncs::" + method + "\xBB" + message;
}

// The run-time's closing entry for a failed edit, as failed_run shows it.
const char* const kEdit = "<edit>";

// The engine errors of a failed run, the run-time's closing entry that names
// the failed edit shown as kEdit.
Rows failed_run(Rows errors) {
  if (!errors.empty() && errors.back().rfind("TRunEdits::process_edit\xBB" "Edit: ", 0) == 0) errors.back() = kEdit;
  return errors;
}

typedef std::vector<std::pair<std::string, std::string>> Replacements;

class Lookups : public RunTest {
 protected:
  Lookups() : RunTest(kLookupTables) {}

  // Adds the edit of the logic and then replaces string literals in its
  // compiled text, for texts that the compiler would refuse.
  void add_replaced(const std::string& tag, const std::string& logic, const Replacements& texts, int messageNumber = 0) {
    add_edit(tag, "Edit " + tag, logic, {}, messageNumber);
    std::string compiled = rows("SELECT CompiledLogic FROM RL_Edits WHERE EditTag = '" + tag + "'").at(0);
    for (const auto& text : texts) {
      size_t at = compiled.find(literal(text.first));
      EXPECT_NE(std::string::npos, at) << text.first;
      if (at != std::string::npos) compiled.replace(at, literal(text.first).size(), literal(text.second));
    }
    set_compiled(tag, compiled);
  }

  // Runs the call in an edit of its own, its string literal `from` replaced
  // by `to`: "1" or "0", the call's value, or the engine errors of the failed
  // run (see failed_run).
  Rows outcome(const std::string& call, const std::string& from, const std::string& to) {
    std::string tag = "F" + std::to_string(++Outcomes);
    add_replaced(tag, "int n;\nn = " + call + ";\nif (n) return PASS;\nreturn FAIL;", {{from, to}}, 101);
    add_to_set("S" + tag, tag);
    RunResult result = run("", 0, "S" + tag);
    if (result.result == -1) return failed_run(engine_errors(smf()));
    return {result.messages.empty() ? "1" : "0"};
  }

 private:
  // A string literal as compiled logic holds it.
  static std::string literal(const std::string& text) {
    char length[16];
    snprintf(length, sizeof length, "%03zu", text.size());
    return "\"" + (length + text);
  }

  int Outcomes = 0;
};

TEST_F(Lookups, FoundRowIsCopiedIntoTheVariablesOfItsColumns) {
  // Character variables grow to the whole text, even past the column's
  // declared size; PKey is never copied; a column without a variable is
  // passed over.
  EXPECT_EQ((Rows{"city=New York", "code=10001", "found=1", "missing=0", "pkey=0", "pop=8000", "state=NY"}),
            values_after("char city[2], state[1], code[3];\nint pop, pkey, found, missing;\n"
                         "found = lookup(\"10001\", \"zips.code\");\nmissing = lookup(\"99999\", \"ZIPS.Code\");\n"
                         "return PASS;"));
  // The variable that holds the value may receive the row.
  EXPECT_EQ((Rows{"again=1", "city=Quote", "code=O'BR", "found=1"}),
            values_after("char code[1], city[1];\nint found, again;\nfound = lookup(\"O'BR\", \"ZIPS.CODE\");\n"
                         "again = ilookup(code, \"ZIPS.CODE\");\nreturn PASS;"));
}

TEST_F(Lookups, ValuesAreBoundAsTheyAreAndCheckedExactly) {
  EXPECT_EQ((Rows{"blanks=0", "caps=0", "lead=1", "nolead=0", "pkey=1", "quote=1", "same=1", "trailing=1"}),
            values_after("int quote, trailing, lead, nolead, caps, same, blanks, pkey;\n"
                         "quote = lookup(\"O'BR\", \"ZIPS.CODE\");\n"
                         "trailing = lookup(\"10001  \", \"ZIPS.CODE\");\n"
                         "lead = lookup(\"  LEAD\", \"ZIPS.CODE\");\n"
                         "nolead = lookup(\"LEAD\", \"ZIPS.CODE\");\n"
                         "caps = lookup(\"ABC\", \"ZIPS.CODE\");\n"
                         "same = lookup(\"abc\", \"ZIPS.CODE\");\n"
                         "blanks = lookup(\"  \", \"ZIPS.CODE\");\n"
                         "pkey = lookup(\"3\", \"ZIPS.PKEY\");\nreturn PASS;"));
}

TEST_F(Lookups, TriggerMaintainedKeysArePaddedToTheStoredLength) {
  // 12345678 is cut to 1234567, which the row check then refuses; a table
  // without rows gives no width, so its values are searched as they are.
  EXPECT_EQ((Rows{"cut=0", "keycol=123    ", "name=padded", "norows=0", "padded=1"}),
            values_after("char keycol[1], name[1];\nint padded, cut, norows;\n"
                         "padded = lookup(\"123\", \"TRIG.KEYCOL\");\ncut = lookup(\"12345678\", \"TRIG.KEYCOL\");\n"
                         "norows = lookup(\"x\", \"NOROWS.KEYCOL\");\nreturn PASS;"));
}

TEST_F(Lookups, TableSpecsNameTableAndColumn) {
  for (std::string spec : {"zips.dbf.code", "Zips.Any.Code", "ZIPS. CODE\t"})
    EXPECT_EQ(Rows{"1"}, outcome("lookup(\"10001\", \"ZIPS.CODE\")", "ZIPS.CODE", spec)) << spec;
  EXPECT_EQ(Rows{"1"}, outcome("lookup(\"123\", \"TRIG.KEYCOL\")", "TRIG.KEYCOL", "TRIG. KEYCOL"));
  // A name holding "]" cannot be bracketed: it is quoted.
  EXPECT_EQ(Rows{"1"}, outcome("lookup(\"k1\", \"ZIPS.CODE\")", "ZIPS.CODE", "odd.k]ey"));
  EXPECT_EQ(Rows{"1"}, outcome("sqllookup(\"ODD\", \"NAME\", \"k1odd one\")", "NAME", "K]EY, NAME"));
  for (std::string spec : {"zips", "zips.", ".code"})
    EXPECT_EQ((Rows{lib_error("internal_lookup", "Cannot find lookup table or column"),
                    lib_error("internal_lookup", uppercase_string(spec)), lib_error("call_lookup", "syntax error"),
                    kEdit}),
              outcome("lookup(\"1\", \"ZIPS.CODE\")", "ZIPS.CODE", spec));
  for (std::string spec : {"zips.dbf", "zips.DBFX"})
    EXPECT_EQ((Rows{lib_error("internal_lookup", "Table spec to LOOKUP function needs column identifier; received (\"" +
                                                     uppercase_string(spec) + "\")"),
                    lib_error("call_lookup", "syntax error"), kEdit}),
              outcome("lookup(\"1\", \"ZIPS.CODE\")", "ZIPS.CODE", spec));
  EXPECT_EQ((Rows{lib_error("internal_lookup", "TablesList does not have a table named \"NOPE\""),
                  lib_error("call_lookup", "syntax error"), kEdit}),
            outcome("lookup(\"1\", \"ZIPS.CODE\")", "ZIPS.CODE", "nope.code"));
}

TEST_F(Lookups, ColumnsUnknownToTheTableModelAreRefused) {
  EXPECT_EQ((Rows{lib_error("internal_lookup", "The table named \"ZIPS\" does not have a column named \"Y.CODE\""),
                  lib_error("call_lookup", "syntax error"), kEdit}),
            outcome("lookup(\"1\", \"ZIPS.CODE\")", "ZIPS.CODE", "zips.x.y.code"));
  // A name never carries SQL into a statement.
  EXPECT_EQ((Rows{lib_error("internal_rlookup", "The table named \"ZIPS\" does not have a column named "
                                                "\"CODE] <> '' OR [CODE\""),
                  lib_error("call_rlookup", "syntax error"), kEdit}),
            outcome("rlookup(\"1\", \"ZIPS.CODE\")", "ZIPS.CODE", "zips.code] <> '' or [code"));
}

TEST_F(Lookups, OnlyTheSlotOfLookupAndRlookupRecordsFailures) {
  EXPECT_EQ((Rows{lib_error("internal_lookup", "TablesList does not have a table named \"NOPE\""), kEdit}),
            outcome("ilookup(\"1\", \"ZIPS.CODE\")", "ZIPS.CODE", "nope.code"));
  EXPECT_EQ((Rows{lib_error("internal_rlookup", "Table spec to LOOKUP function needs column identifier; received "
                                                "(\"ZIPS.DBF\")"),
                  lib_error("call_rlookup", "syntax error"), kEdit}),
            outcome("rlookup(\"1\", \"ZIPS.CODE\")", "ZIPS.CODE", "zips.dbf"));
  EXPECT_EQ((Rows{lib_error("internal_sqllookup", "TablesList does not have a table named \"nope\""), kEdit}),
            outcome("sqllookup(\"ZIPS\", \"CODE\", \"1\")", "ZIPS", "nope"));
  EXPECT_EQ((Rows{lib_error("internal_sqlrlookup", "The table named \"BANDS\" does not have a column named \"NOPE\""),
                  kEdit}),
            outcome("sqlrangelookup(\"BANDS\", \"LOW\", \"1\")", "LOW", "LOW, NOPE"));
}

TEST_F(Lookups, RangeLookupFindsTheGreatestKeyNotAboveTheValue) {
  std::string declarations = "char label[1];\nint found;\nfound = rlookup(";
  EXPECT_EQ((Rows{"found=1", "label=two hundred"}), values_after(declarations + "\"250\", \"BANDS.LOW\");"));
  EXPECT_EQ((Rows{"found=1", "label=three hundred"}), values_after(declarations + "\"300\", \"bands.low\");"));
  EXPECT_EQ((Rows{"found=0", "label="}), values_after(declarations + "\"050\", \"BANDS.LOW\");"));
  // Keys of a text column compare as texts: 1000 comes before 150.
  EXPECT_EQ((Rows{"found=1", "label=one thousand"}), values_after(declarations + "\"150\", \"BANDS.LOW\");"));
  // The value is bound as it is: O'BR is its own greatest key.
  EXPECT_EQ((Rows{"city=Quote", "found=1"}),
            values_after("char city[1];\nint found;\nfound = rlookup(\"O'BR\", \"ZIPS.CODE\");"));
}

TEST_F(Lookups, SQLLookupsMatchTheListedColumnsJoined) {
  EXPECT_EQ((Rows{"city=New York", "found=1", "pop=8000"}),
            values_after("char city[1];\nint pop, found;\nfound = sqllookup(\"ZIPS\", \"STATE, ZIP\", \"NY10001\");"));
  // Blanks inside the list are removed, as the compiler removes them.
  EXPECT_EQ((Rows{"found=1", "pop=8000"}),
            values_after("int pop, found;\nfound = sqllookup(\"ZIPS\", \" S TATE , ZIP \", \"NY10001\");"));
  // One case-blind column: the statement returns Lower and LOWER, the check keeps LOWER.
  EXPECT_EQ((Rows{"found=1", "pop=5"}), values_after("int pop, found;\nfound = sqllookup(\"ZIPS\", \"CITY\", \"LOWER\");"));
  EXPECT_EQ((Rows{"found=1", "pop=1"}), values_after("int pop, found;\nfound = sqllookup(\"ZIPS\", \"PKEY,STATE\", \"2NY\");"));
  EXPECT_EQ((Rows{"found=1", "pop=2"}), values_after("int pop, found;\nfound = sqllookup(\"ZIPS\", \"CODE\", \"O'BR\");"));
  // A NULL in a listed column keeps its row out.
  EXPECT_EQ((Rows{"found=0", "pop=0"}), values_after("int pop, found;\nfound = sqllookup(\"ZIPS\", \"STATE,ZIP\", \"NJ\");"));
  EXPECT_EQ((Rows{"found=1", "label=two hundred"}),
            values_after("char label[1];\nint found;\nfound = sqlrangelookup(\"BANDS\", \"LOW\", \"250\");"));
}

TEST_F(Lookups, ColumnListsIgnoreOneTrailingComma) {
  EXPECT_EQ(Rows{"1"}, outcome("sqllookup(\"ZIPS\", \"ZIP\", \"02101\")", "ZIP", "ZIP,"));
  EXPECT_EQ((Rows{lib_error("internal_sqllookup", "The table named \"ZIPS\" does not have a column named \"\""), kEdit}),
            outcome("sqllookup(\"ZIPS\", \"ZIP\", \"02101\")", "ZIP", ",ZIP"));
  // An empty list makes a statement that cannot be prepared: nothing is recorded.
  EXPECT_EQ(Rows{kEdit}, outcome("sqllookup(\"ZIPS\", \"ZIP\", \"02101\")", "ZIP", ""));
}

TEST_F(Lookups, SQLLookupCacheKeepsTableAndListApart) {
  EXPECT_EQ((Rows{"a=1", "b=1", "name=from ABC"}),
            values_after("char name[1];\nint a, b;\na = sqllookup(\"AB\", \"CD\", \"x1\");\n"
                         "b = sqllookup(\"ABC\", \"D\", \"x1\");"));
  EXPECT_EQ((Rows{"a=1", "name=from AB"}), values_after("char name[1];\nint a;\na = sqllookup(\"AB\", \"CD\", \"x1\");"));
}

TEST_F(Lookups, TablesChangedBehindTheModelFailTheRun) {
  exec("DROP TABLE NOROWS; CREATE TABLE NOROWS([PKey] integer not null primary key, [OTHER] varchar(5));"
       "DROP TABLE AB; CREATE TABLE AB([PKey] integer not null primary key, [XX] varchar(5));");
  EXPECT_EQ((Rows{lib_error("get_trigger_padded_size", "no such column: KEYCOL"),
                  lib_error("get_trigger_padded_size", "SQL: SELECT LENGTH([KEYCOL]) AS PadTo FROM [NOROWS] LIMIT 1;"),
                  lib_error("call_lookup", "SQL error"), kEdit}),
            outcome("lookup(\"x\", \"ZIPS.CODE\")", "ZIPS.CODE", "norows.keycol"));
  // A statement that cannot be prepared is not kept, and its reason stays with it.
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ((Rows{lib_error("call_lookup", "TFastSQLQuery::PrepareParameterizedQuery"), kEdit}),
              outcome("lookup(\"x\", \"ZIPS.CODE\")", "ZIPS.CODE", "ab.cd"));
}

// A table restructured through the authoring exports is looked up afresh:
// its new columns are copied, its dropped ones are not.
TEST_F(Lookups, RestructuredTablesAreLookedUpThroughTheirNewDefinition) {
  const std::string logic = "char city[1], town[1];\nint found;\nfound = lookup(\"10001\", \"ZIPS.CODE\");\nreturn PASS;";
  EXPECT_EQ((Rows{"city=New York", "found=1", "town="}), values_after(logic));
  ASSERT_EQ(0, Qb_DefineTableStructure(smf(), "ZIPS", 1));
  ASSERT_EQ(0, Qb_AddColumnDef(smf(), "CODE", "CODE", 0, 10, 0, 0, nullptr, nullptr, nullptr, nullptr, 1));
  ASSERT_EQ(0, Qb_AddColumnDef(smf(), "TOWN", "CITY", 0, 20, 1, 0, nullptr, nullptr, nullptr, nullptr, 0));
  int pkey = 0;
  ASSERT_EQ(0, Qb_CreateTable(smf(), &pkey));
  EXPECT_EQ((Rows{"city=", "found=1", "town=New York"}), values_after(logic));
}

// Names that SQL takes as keywords work in every step: a table First with a
// column Key is defined, created with its indexes, filled by its triggers,
// looked up in a run, renamed to Order, restructured, copied to Index,
// deleted and imported, and each index and trigger moves to the table of the
// new name.
TEST_F(Lookups, KeywordNamesWorkFromDefinitionToDeletion) {
  ASSERT_EQ(0, Qb_DefineTableStructure(smf(), "First", 0));
  ASSERT_EQ(0, Qb_AddColumnDef(smf(), "Key", nullptr, 0, 5, 0, 0, "'K1','K2'", nullptr, nullptr, nullptr, 2));
  ASSERT_EQ(0, Qb_AddColumnDef(smf(), "Order", nullptr, 1, 0, 1, 0, nullptr, "0", "9", nullptr, 1));
  ASSERT_EQ(0, Qb_AddColumnDef(smf(), "Label", nullptr, 0, 1, 1, 1, nullptr, nullptr, nullptr, nullptr, 0));
  int first = 0;
  ASSERT_EQ(0, Qb_CreateTable(smf(), &first));
  // The host's triggers name the table bracketed, double-quoted and bare.
  exec("CREATE TRIGGER _First_new AFTER INSERT ON [First] BEGIN UPDATE [First] SET [Label] = [Key] || '-' || [Order]"
       " WHERE PKey = new.PKey; END;"
       "CREATE TRIGGER _First_set AFTER UPDATE ON \"First\" BEGIN UPDATE First SET [Label] = [Key] || '+' || [Order]"
       " WHERE PKey = new.PKey; END;");
  EXPECT_EQ(1, insert_row(smf(), "First", {{"Key", "K1"}, {"Order", "1"}}));
  EXPECT_EQ(2, insert_row(smf(), "First", {{"Key", "K2"}, {"Order", "2"}}));
  add_edit("KW", "Keywords",
           "char label[1];\nif (sqllookup(\"First\", \"Key,Order\", \"K11\") && lookup(\"K2\", \"First.Key\"))"
           " error_text(label);\nreturn FAIL;",
           {}, 101);
  add_to_set("SKW", "KW");
  auto lookedUp = [&] {
    Edit_UnloadEditSet(smf(), "SKW", "L1");
    return run("", 0, "SKW").messages;
  };
  // The insert trigger's update fired the update trigger.
  EXPECT_EQ(Rows{"KW|Keywords|NAACCR|E|K2+2"}, lookedUp());

  ASSERT_EQ(0, edit_row(smf(), "RL_LookupTables", first, {{"TableName", "Order"}}));
  EXPECT_EQ(Rows{"KW|Keywords|NAACCR|E|K2+2"}, lookedUp());
  ASSERT_EQ(0, Qb_DefineTableStructure(smf(), "Order", 1));
  ASSERT_EQ(0, Qb_AddColumnDef(smf(), "Key", "Key", 0, 5, 0, 0, nullptr, nullptr, nullptr, nullptr, 2));
  ASSERT_EQ(0, Qb_AddColumnDef(smf(), "Order", "Order", 1, 0, 1, 0, nullptr, nullptr, nullptr, nullptr, 0));
  ASSERT_EQ(0, Qb_AddColumnDef(smf(), "Label", nullptr, 0, 1, 1, 1, nullptr, nullptr, nullptr, nullptr, 0));
  ASSERT_EQ(0, Qb_CreateTable(smf(), &first));
  // The label, not carried over, was set again by the triggers that came back.
  EXPECT_EQ(Rows{"KW|Keywords|NAACCR|E|K2+2"}, lookedUp());

  ASSERT_EQ(0, Qb_CopyLookupTable(smf(), "Order", "Index", 1));
  auto schema = [&](const std::string& table) {
    return rows("SELECT type, name, sql FROM sqlite_master WHERE tbl_name = '" + table + "' ORDER BY type, name");
  };
  Rows copied = schema("Index");
  EXPECT_EQ((Rows{"index|xIndex_Key0|CREATE UNIQUE INDEX xIndex_Key0 ON [Index] ([Key])",
                  "table|Index|CREATE TABLE [Index]( [PKey] integer NOT NULL PRIMARY KEY, \n[Key] char(5) NOT NULL "
                  "collate nocase default '', \n[Order] integer NULL check(typeof([Order]) = 'integer'), \n"
                  "[Label] varchar(1) NULL collate nocase)",
                  "trigger|_Index_new|CREATE TRIGGER _Index_new AFTER INSERT ON [Index] BEGIN UPDATE [Index] SET "
                  "[Label] = [Key] || '-' || [Order] WHERE PKey = new.PKey; END",
                  "trigger|_Index_set|CREATE TRIGGER _Index_set AFTER UPDATE ON [Index] BEGIN UPDATE [Index] SET "
                  "[Label] = [Key] || '+' || [Order] WHERE PKey = new.PKey; END"}),
            copied);
  EXPECT_EQ((Rows{"K1|K1+1", "K2|K2+2"}), rows("SELECT [Key], [Label] FROM [Index]"));
  // The renamed table's texts (the restructure ran its triggers' texts) are the copy's.
  Rows renamed;
  for (const std::string& text : copied) renamed.push_back(stringReplace(text, "Index", "Order"));
  EXPECT_EQ(renamed, schema("Order"));

  std::string source = path() + ".source";
  std::filesystem::copy_file(path(), source);
  std::string copy = rows("SELECT PKey FROM RL_LookupTables WHERE TableName = 'Index'").at(0);
  EXPECT_EQ(0, Qb_Delete(smf(), "RL_LookupTables", std::stoi(copy)));
  EXPECT_EQ(0, Qb_Delete(smf(), "Order", 1));
  EXPECT_EQ(Rows{}, schema("Index"));
  EXPECT_EQ((Rows{"2|K2|2|K2+2"}), rows("SELECT * FROM [Order]"));
  EXPECT_EQ(Rows{}, rows("SELECT name FROM sqlite_master WHERE sql LIKE '%First%'"));
  // The deleted copy comes back from a copy of the file.
  ASSERT_EQ(0, Qb_OpenImportMetafile(smf(), source.c_str()));
  EXPECT_EQ(0, Qb_ImportLookupTable(smf(), "Index"));
  EXPECT_EQ(0, Qb_CloseImportMetafile(smf()));
  EXPECT_EQ(copied, schema("Index"));
  EXPECT_EQ(4, out_int(Edit_GetColumnsCount, smf(), "Index"));
}

// Writes into the metafile from a connection of its own, as a host's message
// callback might, keeping each answer.
struct CallbackWriter {
  RawDB* Writer;
  std::vector<int> Answers;
};

int write_from_callback(void* owner, const char*, const char*, const char*, const char*, const char*) {
  auto* writes = static_cast<CallbackWriter*>(owner);
  writes->Answers.push_back(writes->Writer->exec("UPDATE ZIPS SET POP = POP + 1 WHERE PKey = 1"));
  return 0;
}

// The lookups of a run share one read transaction, which ends before the host
// is called back and with the run; a transaction the host opened on the
// engine's connection is left to the host.
TEST_F(Lookups, SharedReadsNeverHoldTheFileWhileTheHostRuns) {
  add_edit("LK", "Edit LK", "if (lookup(\"10001\", \"ZIPS.CODE\")) return FAIL;\nreturn PASS;", {}, 101);
  add_to_set("SLK", "LK");
  RawDB writer(path());
  CallbackWriter writes{&writer, {}};
  int failed = 0;
  auto runOnce = [&] {
    return Edit_RunEdits(smf(), "SLK", "L1", "", 0, &failed, &writes, fn(write_from_callback));
  };
  EXPECT_EQ(0, runOnce());
  EXPECT_EQ(SQLITE_OK, writer.exec("UPDATE ZIPS SET POP = 0 WHERE PKey = 2"));

  ASSERT_EQ(0, Qb_BeginTrans(smf()));
  EXPECT_EQ(0, runOnce());
  EXPECT_EQ(SQLITE_BUSY, writer.exec("UPDATE ZIPS SET POP = 0 WHERE PKey = 2"));  // the host's reads hold the lock
  ASSERT_EQ(0, Qb_CommitTrans(smf()));
  EXPECT_EQ(SQLITE_OK, writer.exec("UPDATE ZIPS SET POP = 0 WHERE PKey = 2"));
  EXPECT_EQ((std::vector<int>{SQLITE_OK, SQLITE_BUSY}), writes.Answers);
  EXPECT_EQ("8001", writer.value("SELECT POP FROM ZIPS WHERE PKey = 1"));
}

// A second run-time on the same metafile over a table model that the test
// fills and changes itself, as the authoring side changes the engine's model.
class OwnModel : public Lookups {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Db.OpenDatabase(path().c_str()));
    Runtime = std::make_unique<TRunEdits>(&Db, &Pump, &Tables);
  }

  // Files the definition of a table or view as the file declares it,
  // leaving out the column at `skipped`.
  TTableDef* model(const std::string& name, int skipped = -1) {
    auto* table = new TTableDef(name);
    int order = 0;
    for (const std::string& row : rows("SELECT name || '|' || type FROM pragma_table_info('" + name + "')")) {
      std::string column = row.substr(0, row.find('|'));
      std::string type = lowercase_string(row.substr(row.find('|') + 1));
      int size = type.rfind("varchar(", 0) == 0 ? std::stoi(type.substr(8)) : 0;
      auto* field = new TFieldDef(column, order, size > 0 ? edtVarchar : edtInteger, size, true, order == 0, false);
      field->SetIsTriggerField(size == 1);
      if (order++ == skipped || table->AddColumn(field) != 0) delete field;
    }
    EXPECT_EQ(0, Tables.AddTable(table));
    return table;
  }

  // Runs the logic, its literals replaced, as an edit of its own (failure
  // message 101) on the second run-time: the messages, or the engine errors
  // as failed_run shows them.
  Rows own_run(const std::string& logic, const Replacements& texts) {
    std::string tag = "O" + std::to_string(++Runs);
    add_replaced(tag, logic, texts, 101);
    add_to_set("S" + tag, tag);
    Pump.ClearPump();
    Rows messages;
    int failed = 0;
    int result = Runtime->RunEdits(("S" + tag).c_str(), "L1", "", 0, &failed, &messages, fn(collect_message));
    if (result != -1) return messages;
    Rows errors;
    int count = 0;
    Pump.GetErrorsCount(&count);
    for (int i = 0; i < count; ++i) {
      char text[512];
      Pump.GetErrorByIndex(i, text, sizeof text);
      errors.push_back(text);
    }
    return failed_run(errors);
  }

  TSQLDB Db;
  TEngineErrorsPump Pump;
  TTablesList Tables;
  std::unique_ptr<TRunEdits> Runtime;
  int Runs = 0;
};

TEST_F(OwnModel, ReplacedDefinitionsAreNeverUsedAgain) {
  exec("CREATE TABLE STEPS([PKey] integer not null primary key, [CODE] varchar(10), [POP] integer);"
       "INSERT INTO STEPS VALUES (1,'10001',8000);");
  TTableDef* steps = model("STEPS");
  std::string logic = "int pop, found;\nfound = lookup(\"10001\", \"ZIPS.CODE\");\n"
                      "if (found == 1 && pop == 7000) return PASS;\nreturn FAIL;";
  EXPECT_EQ(Rows{"O1|Edit O1|NAACCR|E|Check the site"}, own_run(logic, {{"ZIPS.CODE", "STEPS.CODE"}}));
  // Restructured: a column before the key, another population.
  exec("DROP TABLE STEPS; CREATE TABLE STEPS([PKey] integer not null primary key, [AREA] integer,"
       " [CODE] varchar(10), [POP] integer); INSERT INTO STEPS VALUES (1,5,'10001',7000);");
  Tables.RemoveTable(steps);
  model("STEPS");
  EXPECT_EQ(Rows{}, own_run(logic, {{"ZIPS.CODE", "STEPS.CODE"}}));
}

TEST_F(OwnModel, StepErrorsAreSQLErrorsAndLeaveTheStatementReset) {
  exec("CREATE TABLE FAULTYDATA([PKey] integer not null primary key, [CODE] varchar(10) collate nocase,"
       " [NAME] varchar(10));"
       "INSERT INTO FAULTYDATA VALUES (1,'Bang','bad'),(2,'boom','ok'),(3,'BOOM','bad'),(4,'fine','ok');"
       "CREATE VIEW FAULTY AS SELECT PKey, CODE, NAME,"
       " CASE WHEN NAME = 'bad' THEN abs(-9223372036854775807 - 1) ELSE 0 END AS BAD FROM FAULTYDATA;");
  model("FAULTY");
  Replacements faulty{{"ZIPS.CODE", "FAULTY.CODE"}};
  Rows failed{lib_error("internal_lookup", "integer overflow"),
              lib_error("internal_lookup", "SQL: SELECT * FROM [FAULTY] WHERE [CODE] = ? ;"),
              lib_error("call_lookup", "SQL error"), kEdit};
  // The first step fails; then a step past a row that the check refused.
  EXPECT_EQ(failed, own_run("int found;\nfound = lookup(\"Bang\", \"ZIPS.CODE\");\nreturn PASS;", faulty));
  EXPECT_EQ(failed, own_run("int found;\nfound = lookup(\"BOOM\", \"ZIPS.CODE\");\nreturn PASS;", faulty));
  EXPECT_EQ(Rows{},
            own_run("int found;\nfound = lookup(\"fine\", \"ZIPS.CODE\");\nif (found) return PASS;\nreturn FAIL;", faulty));
  EXPECT_EQ((Rows{lib_error("internal_rlookup", "integer overflow"),
                  lib_error("internal_rlookup",
                            "SQL: SELECT * FROM [FAULTY] WHERE [CODE] <= ? ORDER BY [CODE] DESC LIMIT 1;"),
                  lib_error("call_rlookup", "SQL error"), kEdit}),
            own_run("int found;\nfound = rlookup(\"Bz\", \"ZIPS.CODE\");\nreturn PASS;", faulty));
  Replacements listed{{"ZIPS", "FAULTY"}, {"CODE, CITY", "CODE, NAME"}};
  EXPECT_EQ((Rows{lib_error("internal_sqllookup", "integer overflow"),
                  lib_error("internal_sqllookup", "SQL: SELECT * FROM [FAULTY] WHERE [CODE] || [NAME] = ? ;"), kEdit}),
            own_run("int found;\nfound = sqllookup(\"ZIPS\", \"CODE, CITY\", \"Bangbad\");\nreturn PASS;", listed));
  EXPECT_EQ(Rows{}, own_run("int found;\nfound = sqllookup(\"ZIPS\", \"CODE, CITY\", \"fineok\");\n"
                            "if (found) return PASS;\nreturn FAIL;",
                            listed));
}

TEST_F(OwnModel, ARowTheDefinitionCannotNameFailsTheCopy) {
  exec("CREATE TABLE GAPS([PKey] integer not null primary key, [CODE] varchar(5), [X] varchar(5), [Y] varchar(5));"
       "INSERT INTO GAPS VALUES (1,'a','x','y');");
  model("GAPS", 2);
  EXPECT_EQ((Rows{lib_error("internal_lookup", "Table named \"GAPS\" states column count = 3 but cannot return field "
                                               "at index 3"),
                  lib_error("internal_lookup", ""),
                  lib_error("internal_lookup", "SQL: SELECT * FROM [GAPS] WHERE [CODE] = ? ;"),
                  lib_error("call_lookup", "SQL error"), kEdit}),
            own_run("int found;\nfound = lookup(\"a\", \"ZIPS.CODE\");\nreturn PASS;", {{"ZIPS.CODE", "GAPS.CODE"}}));
}

TEST_F(OwnModel, CachesOfRunTimeTextsStayBounded) {
  // Masks and table specs that differ on every use, as texts taken from
  // records would: the caches keep to their bounds and every answer stays right.
  model("ZIPS");
  EXPECT_EQ(Rows{},
            own_run("char mask[600], value[600], spec[310];\nint i, fits, found;\nstrcpy(spec, \"ZIPS.CODE\");\n"
                    "while (i < 600) {\n  strcat(mask, \"d\");\n  strcat(value, \"1\");\n"
                    "  fits = fits + match(value, mask);\n  if (i < 300) {\n"
                    "    found = found + lookup(\"10001\", spec);\n    strcat(spec, \" \");\n  }\n  i = i + 1;\n}\n"
                    "if (fits == 600 && found == 300 && match(\"12\", \"dd\") && lookup(\"abc\", \"ZIPS.CODE\")) return PASS;\n"
                    "return FAIL;",
                    {}));
  const TLibFuncs* library = Runtime->GetLibFuncs();
  EXPECT_LT(0u, library->CachedMasks());
  EXPECT_GE(TLibFuncs::kMaxCachedMasks, library->CachedMasks());
  EXPECT_LT(0u, library->CachedLookups());
  EXPECT_GE(TLibFuncs::kMaxCachedLookups, library->CachedLookups());
}

}  // namespace
