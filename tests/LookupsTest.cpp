// The lookup built-ins (lookup, ilookup, rlookup, sqllookup, sqlrangelookup)
// run by the engine over lookup tables of the metafile: the found row copied
// into variables, table specs and column lists, every failure with its engine
// errors, and a second run-time over a table model that the test changes.
#include <cstdio>
#include <filesystem>
#include <memory>

#include "AuthoringTestSupport.h"
#include "RunTestSupport.h"
#include "compiler/CompiledText.h"
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
    " [ZIP] varchar(5) null collate nocase); CREATE INDEX xZIPS_CODE ON ZIPS([CODE]);"
    "INSERT INTO ZIPS VALUES (1,'10001','New York',8000,'NY','10001'),(2,'abc','Lower',1,'NY','10002'),"
    " (3,'O''BR','Quote',2,'MA','02101'),(4,'  LEAD','Lead',3,'CA','90001'),(5,'def','LOWER',5,'NJ',NULL);"
    "CREATE TABLE BANDS([PKey] integer not null primary key, [LOW] varchar(4) collate nocase, [LABEL] varchar(20));"
    "CREATE INDEX xBANDS_LOW ON BANDS([LOW]); INSERT INTO BANDS VALUES (1,'100','one hundred'),(2,'200','two hundred'),"
    " (3,'300','three hundred'),(4,'1000','one thousand');"
    "CREATE TABLE TRIG([PKey] integer not null primary key, [KEYCOL] varchar(1), [NAME] varchar(10));"
    "CREATE INDEX xTRIG_KEYCOL ON TRIG([KEYCOL]); INSERT INTO TRIG VALUES (1,'123    ','padded'),(2,'1234567','full');"
    "CREATE TABLE NOROWS([PKey] integer not null primary key, [KEYCOL] varchar(1));"
    "CREATE TABLE LONGTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTT([PKey] integer not null primary key, [KEYCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCC] varchar(1));"
    "CREATE TABLE AB([PKey] integer not null primary key, [CD] varchar(5), [NAME] varchar(10));"
    "CREATE TABLE ABC([PKey] integer not null primary key, [D] varchar(5), [NAME] varchar(10));"
    "INSERT INTO AB VALUES (1,'x1','from AB'); INSERT INTO ABC VALUES (1,'x1','from ABC');"
    "CREATE TABLE ODD([PKey] integer not null primary key, \"K]EY\" varchar(5), [NAME] varchar(10));"
    "INSERT INTO ODD VALUES (1,'k1','odd one'); INSERT INTO RL_LookupTables(TableName, RecCount) VALUES ('ZIPS',5),"
    " ('BANDS',4),('TRIG',2),('NOROWS',0),('AB',1),('ABC',1),('ODD',1);";

// A table and a trigger-maintained column of 80 characters each.
const std::string kLongTable = "LONG" + std::string(76, 'T'), kLongColumn = "KEY" + std::string(77, 'C');

// The engine errors of a failed lookup built-in: the messages of its method
// internal_<builtin>, the message of its call_<builtin> when it has one, and
// the entry that names the edit.
Rows failed(const std::string& builtin, const Rows& messages, const std::string& call = "") {
  Rows errors;
  for (const std::string& message : messages) errors.push_back(lib("internal_" + builtin, message));
  if (!call.empty()) errors.push_back(lib("call_" + builtin, call));
  errors.push_back(kEditEntry);
  return errors;
}

typedef std::vector<std::pair<std::string, std::string>> Replacements;

class Lookups : public RunTest {
 protected:
  Lookups() : RunTest(kLookupTables) {}

  // Runs the logic as an edit of its own whose failure message is 101, its
  // string literals replaced (for texts that the compiler would refuse): "1"
  // when it passes, "0" when it fails, or the engine errors of the failed run.
  Rows outcome(const std::string& logic, const Replacements& texts = {}) {
    std::string tag = "F" + std::to_string(++Outcomes);
    add_edit(tag, "Edit " + tag, logic, {}, 101);
    std::string compiled = rows("SELECT CompiledLogic FROM RL_Edits WHERE EditTag = '" + tag + "'").at(0);
    for (const auto& text : texts) {
      size_t at = compiled.find(literal(text.first));
      EXPECT_NE(std::string::npos, at) << text.first;
      if (at != std::string::npos) compiled.replace(at, literal(text.first).size(), literal(text.second));
    }
    set_compiled(tag, compiled);
    add_to_set("S" + tag, tag);
    RunResult result = run_set("S" + tag);
    if (result.result == -1) return edit_entries_cut(errors());
    return {result.messages.empty() ? "1" : "0"};
  }
  // The outcome of an edit that passes when the expression is not 0 (pop
  // takes the population that a lookup in ZIPS copies).
  Rows value_of(const std::string& expression, const Replacements& texts) {
    return outcome("int n, pop;\nn = " + expression + ";\nif (n) return PASS;\nreturn FAIL;", texts);
  }
  virtual RunResult run_set(const std::string& set) { return run("", 0, set); }
  virtual Rows errors() { return engine_errors(h()); }

 private:
  // A string literal as compiled logic holds it.
  static std::string literal(const std::string& text) { return "\"" + length_field(text.size()) + text; }

  int Outcomes = 0;
};

TEST_F(Lookups, FoundRowsAreCopiedIntoVariables) {
  expect_variables({
      // Character variables grow to the whole text, even past the column's
      // declared size; PKey is never copied; a column without a variable is
      // passed over.
      {"char city[2], state[1], code[3];\nint pop, pkey, found, missing;\nfound = lookup(\"10001\", \"zips.code\");\n"
       "missing = lookup(\"99999\", \"ZIPS.Code\");",
       {"city=New York", "code=10001", "found=1", "missing=0", "pkey=0", "pop=8000", "state=NY"}},
      // The variable that holds the value may receive the row.
      {"char code[1], city[1];\nint found, again;\nfound = lookup(\"O'BR\", \"ZIPS.CODE\");\n"
       "again = ilookup(code, \"ZIPS.CODE\");",
       {"again=1", "city=Quote", "code=O'BR", "found=1"}},
      // Values are bound as they are and checked exactly.
      {"int quote, trailing, lead, nolead, caps, same, blanks, pkey;\nquote = lookup(\"O'BR\", \"ZIPS.CODE\");\n"
       "trailing = lookup(\"10001  \", \"ZIPS.CODE\");\nlead = lookup(\"  LEAD\", \"ZIPS.CODE\");\n"
       "nolead = lookup(\"LEAD\", \"ZIPS.CODE\");\ncaps = lookup(\"ABC\", \"ZIPS.CODE\");\n"
       "same = lookup(\"abc\", \"ZIPS.CODE\");\nblanks = lookup(\"  \", \"ZIPS.CODE\");\n"
       "pkey = lookup(\"3\", \"ZIPS.PKEY\");",
       {"blanks=0", "caps=0", "lead=1", "nolead=0", "pkey=1", "quote=1", "same=1", "trailing=1"}},
      // Trigger-maintained keys are padded to the stored length: 12345678 is
      // cut to 1234567, which the row check then refuses; a table without
      // rows gives no width, so its values are searched as they are.
      {"char keycol[1], name[1];\nint padded, cut, norows;\npadded = lookup(\"123\", \"TRIG.KEYCOL\");\n"
       "cut = lookup(\"12345678\", \"TRIG.KEYCOL\");\nnorows = lookup(\"x\", \"NOROWS.KEYCOL\");",
       {"cut=0", "keycol=123    ", "name=padded", "norows=0", "padded=1"}},
      // A range lookup finds the greatest key not above the value; keys of a
      // text column compare as texts (1000 comes before 150); the value is
      // bound as it is (O'BR is its own greatest key).
      {"char label[1];\nint found;\nfound = rlookup(\"250\", \"BANDS.LOW\");", {"found=1", "label=two hundred"}},
      {"char label[1];\nint found;\nfound = rlookup(\"300\", \"bands.low\");", {"found=1", "label=three hundred"}},
      {"char label[1];\nint found;\nfound = rlookup(\"050\", \"BANDS.LOW\");", {"found=0", "label="}},
      {"char label[1];\nint found;\nfound = rlookup(\"150\", \"BANDS.LOW\");", {"found=1", "label=one thousand"}},
      {"char city[1];\nint found;\nfound = rlookup(\"O'BR\", \"ZIPS.CODE\");", {"city=Quote", "found=1"}},
      // SQL lookups match the listed columns joined; blanks inside the list
      // are removed, as the compiler removes them.
      {"char city[1];\nint pop, found;\nfound = sqllookup(\"ZIPS\", \"STATE, ZIP\", \"NY10001\");",
       {"city=New York", "found=1", "pop=8000"}},
      {"int pop, found;\nfound = sqllookup(\"ZIPS\", \" S TATE , ZIP \", \"NY10001\");", {"found=1", "pop=8000"}},
      // One case-blind column: the statement returns Lower and LOWER, the check keeps LOWER.
      {"int pop, found;\nfound = sqllookup(\"ZIPS\", \"CITY\", \"LOWER\");", {"found=1", "pop=5"}},
      {"int pop, found;\nfound = sqllookup(\"ZIPS\", \"PKEY,STATE\", \"2NY\");", {"found=1", "pop=1"}},
      {"int pop, found;\nfound = sqllookup(\"ZIPS\", \"CODE\", \"O'BR\");", {"found=1", "pop=2"}},
      // A NULL in a listed column keeps its row out.
      {"int pop, found;\nfound = sqllookup(\"ZIPS\", \"STATE,ZIP\", \"NJ\");", {"found=0", "pop=0"}},
      {"char label[1];\nint found;\nfound = sqlrangelookup(\"BANDS\", \"LOW\", \"250\");",
       {"found=1", "label=two hundred"}},
      // The statement cache keeps table and column list apart: AB.CD and ABC.D.
      {"char name[1];\nint a, b;\na = sqllookup(\"AB\", \"CD\", \"x1\");\nb = sqllookup(\"ABC\", \"D\", \"x1\");",
       {"a=1", "b=1", "name=from ABC"}},
      {"char name[1];\nint a;\na = sqllookup(\"AB\", \"CD\", \"x1\");", {"a=1", "name=from AB"}},
  });
}

// Table specs and column lists as the compiler would refuse them, and tables
// changed behind the handle.
TEST_F(Lookups, TableSpecsAndColumnLists) {
  exec("DROP TABLE " + kLongTable + "; CREATE TABLE " + kLongTable + "([PKey] integer not null primary key);");
  exec("DROP TABLE NOROWS; CREATE TABLE NOROWS([PKey] integer not null primary key, [OTHER] varchar(5));"
       "DROP TABLE AB; CREATE TABLE AB([PKey] integer not null primary key, [XX] varchar(5));");
  const std::string lookup = "lookup(\"1\", \"ZIPS.CODE\")", found = "lookup(\"10001\", \"ZIPS.CODE\")",
                    sqllookup = "sqllookup(\"ZIPS\", \"ZIP\", \"02101\")", syntax = "syntax error";
  auto noTable = [](const std::string& builtin, const std::string& table, const std::string& call) {
    return failed(builtin, {"TablesList does not have a table named \"" + table + "\""}, call);
  };
  auto noColumn = [](const std::string& builtin, const std::string& table, const std::string& column,
                     const std::string& call) {
    return failed(builtin, {"The table named \"" + table + "\" does not have a column named \"" + column + "\""}, call);
  };
  auto columnMissing = [](const std::string& builtin, const std::string& spec) {
    return failed(builtin, {"Table spec to LOOKUP function needs column identifier; received (\"" + spec + "\")"},
                  "syntax error");
  };
  auto unknown = [](const std::string& spec) {
    return failed("lookup", {"Cannot find lookup table or column", spec}, "syntax error");
  };
  const struct {
    std::string expression, from, to;
    Rows outcome;
  } cases[] = {
      {found, "ZIPS.CODE", "zips.dbf.code", {"1"}},
      {found, "ZIPS.CODE", "Zips.Any.Code", {"1"}},
      {found, "ZIPS.CODE", "ZIPS. CODE\t", {"1"}},
      {"lookup(\"123\", \"TRIG.KEYCOL\")", "TRIG.KEYCOL", "TRIG. KEYCOL", {"1"}},
      // A name holding "]" cannot be bracketed: it is quoted.
      {"lookup(\"k1\", \"ZIPS.CODE\")", "ZIPS.CODE", "odd.k]ey", {"1"}},
      {"sqllookup(\"ODD\", \"NAME\", \"k1odd one\")", "NAME", "K]EY, NAME", {"1"}},
      {lookup, "ZIPS.CODE", "zips", unknown("ZIPS")},
      {lookup, "ZIPS.CODE", "zips.", unknown("ZIPS.")},
      {lookup, "ZIPS.CODE", ".code", unknown(".CODE")},
      {lookup, "ZIPS.CODE", "zips.dbf", columnMissing("lookup", "ZIPS.DBF")},
      {lookup, "ZIPS.CODE", "zips.DBFX", columnMissing("lookup", "ZIPS.DBFX")},
      {lookup, "ZIPS.CODE", "nope.code", noTable("lookup", "NOPE", syntax)},
      // Columns unknown to the table model are refused; a name never carries
      // SQL into a statement.
      {lookup, "ZIPS.CODE", "zips.x.y.code", noColumn("lookup", "ZIPS", "Y.CODE", syntax)},
      {"rlookup(\"1\", \"ZIPS.CODE\")", "ZIPS.CODE", "zips.code] <> '' or [code",
       noColumn("rlookup", "ZIPS", "CODE] <> '' OR [CODE", syntax)},
      // Only the call of lookup and rlookup records its own failure.
      {"ilookup(\"1\", \"ZIPS.CODE\")", "ZIPS.CODE", "nope.code", noTable("lookup", "NOPE", "")},
      {"rlookup(\"1\", \"ZIPS.CODE\")", "ZIPS.CODE", "zips.dbf", columnMissing("rlookup", "ZIPS.DBF")},
      {"sqllookup(\"ZIPS\", \"CODE\", \"1\")", "ZIPS", "nope", noTable("sqllookup", "nope", "")},
      {"sqlrangelookup(\"BANDS\", \"LOW\", \"1\")", "LOW", "LOW, NOPE", noColumn("sqlrlookup", "BANDS", "NOPE", "")},
      // Column lists ignore one trailing comma; an empty list makes a
      // statement that cannot be prepared: nothing is recorded.
      {sqllookup, "ZIP", "ZIP,", {"1"}},
      {sqllookup, "ZIP", ",ZIP", noColumn("sqllookup", "ZIPS", "", "")},
      {sqllookup, "ZIP", "", {kEditEntry}},
      // Tables changed behind the handle: the table model follows them.
      {lookup, "ZIPS.CODE", "norows.keycol", noColumn("lookup", "NOROWS", "KEYCOL", syntax)},
      {lookup, "ZIPS.CODE", kLongTable + "." + kLongColumn, noColumn("lookup", kLongTable, kLongColumn, syntax)},
      {lookup, "ZIPS.CODE", "ab.cd", noColumn("lookup", "AB", "CD", syntax)},
  };
  for (const auto& c : cases) EXPECT_EQ(c.outcome, value_of(c.expression, {{c.from, c.to}})) << c.expression << c.to;
}

// A table restructured through the authoring exports is looked up afresh:
// its new columns are copied, its dropped ones are not.
TEST_F(Lookups, RestructuredTablesAreLookedUpThroughTheirNewDefinition) {
  const std::string logic = "char city[1], town[1];\nint found;\nfound = lookup(\"10001\", \"ZIPS.CODE\");\nreturn PASS;";
  EXPECT_EQ((Rows{"city=New York", "found=1", "town="}), values_after(logic));
  ASSERT_EQ(0, Qb_DefineTableStructure(h(), "ZIPS", 1));
  ASSERT_EQ(0, Qb_AddColumnDef(h(), "CODE", "CODE", 0, 10, 0, 0, nullptr, nullptr, nullptr, nullptr, 1));
  ASSERT_EQ(0, Qb_AddColumnDef(h(), "TOWN", "CITY", 0, 20, 1, 0, nullptr, nullptr, nullptr, nullptr, 0));
  int pkey = 0;
  ASSERT_EQ(0, Qb_CreateTable(h(), &pkey));
  EXPECT_EQ((Rows{"city=", "found=1", "town=New York"}), values_after(logic));
}

// Names that SQL takes as keywords work in every step: a table First with a
// column Key is defined, created with its indexes, filled by its triggers,
// looked up in a run, renamed to Order, restructured, copied to Index,
// deleted and imported, and each index and trigger moves to the table of the
// new name.
TEST_F(Lookups, KeywordNamesWorkFromDefinitionToDeletion) {
  ASSERT_EQ(0, Qb_DefineTableStructure(h(), "First", 0));
  ASSERT_EQ(0, Qb_AddColumnDef(h(), "Key", nullptr, 0, 5, 0, 0, "'K1','K2'", nullptr, nullptr, nullptr, 2));
  ASSERT_EQ(0, Qb_AddColumnDef(h(), "Order", nullptr, 1, 0, 1, 0, nullptr, "0", "9", nullptr, 1));
  ASSERT_EQ(0, Qb_AddColumnDef(h(), "Label", nullptr, 0, 1, 1, 1, nullptr, nullptr, nullptr, nullptr, 0));
  int first = 0;
  ASSERT_EQ(0, Qb_CreateTable(h(), &first));
  // The host's triggers name the table bracketed, double-quoted and bare.
  exec("CREATE TRIGGER _First_new AFTER INSERT ON [First] BEGIN UPDATE [First] SET [Label] = [Key] || '-' || [Order]"
       " WHERE PKey = new.PKey; END;"
       "CREATE TRIGGER _First_set AFTER UPDATE ON \"First\" BEGIN UPDATE First SET [Label] = [Key] || '+' || [Order]"
       " WHERE PKey = new.PKey; END;");
  EXPECT_EQ(1, insert_row(h(), "First", {{"Key", "K1"}, {"Order", "1"}}));
  EXPECT_EQ(2, insert_row(h(), "First", {{"Key", "K2"}, {"Order", "2"}}));
  add_edit("KW", "Keywords",
           "char label[1];\nif (sqllookup(\"First\", \"Key,Order\", \"K11\") && lookup(\"K2\", \"First.Key\"))"
           " error_text(label);\nreturn FAIL;",
           {}, 101);
  add_to_set("SKW", "KW");
  auto lookedUp = [&] {
    Edit_UnloadEditSet(h(), "SKW", "L1");
    return run("", 0, "SKW").messages;
  };
  // The insert trigger's update fired the update trigger.
  EXPECT_EQ(Rows{"KW|Keywords|NAACCR|E|K2+2"}, lookedUp());

  ASSERT_EQ(0, edit_row(h(), "RL_LookupTables", first, {{"TableName", "Order"}}));
  EXPECT_EQ(Rows{"KW|Keywords|NAACCR|E|K2+2"}, lookedUp());
  ASSERT_EQ(0, Qb_DefineTableStructure(h(), "Order", 1));
  ASSERT_EQ(0, Qb_AddColumnDef(h(), "Key", "Key", 0, 5, 0, 0, nullptr, nullptr, nullptr, nullptr, 2));
  ASSERT_EQ(0, Qb_AddColumnDef(h(), "Order", "Order", 1, 0, 1, 0, nullptr, nullptr, nullptr, nullptr, 0));
  ASSERT_EQ(0, Qb_AddColumnDef(h(), "Label", nullptr, 0, 1, 1, 1, nullptr, nullptr, nullptr, nullptr, 0));
  ASSERT_EQ(0, Qb_CreateTable(h(), &first));
  // The label, not carried over, was set again by the triggers that came back.
  EXPECT_EQ(Rows{"KW|Keywords|NAACCR|E|K2+2"}, lookedUp());

  ASSERT_EQ(0, Qb_CopyLookupTable(h(), "Order", "Index", 1));
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
  EXPECT_EQ(0, Qb_Delete(h(), "RL_LookupTables", std::stoi(copy)));
  EXPECT_EQ(0, Qb_Delete(h(), "Order", 1));
  EXPECT_EQ(Rows{}, schema("Index"));
  EXPECT_EQ((Rows{"2|K2|2|K2+2"}), rows("SELECT * FROM [Order]"));
  EXPECT_EQ(Rows{}, rows("SELECT name FROM sqlite_master WHERE sql LIKE '%First%'"));
  // The deleted copy comes back from a copy of the file.
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), source.c_str()));
  EXPECT_EQ(0, Qb_ImportLookupTable(h(), "Index"));
  EXPECT_EQ(0, Qb_CloseImportMetafile(h()));
  EXPECT_EQ(copied, schema("Index"));
  EXPECT_EQ(4, out_int(Edit_GetColumnsCount, h(), "Index"));
}

// The lookups of a run share one read transaction, which ends before the host
// is called back and with the run; a transaction the host opened on the
// engine's connection is left to the host.
TEST_F(Lookups, SharedReadsNeverHoldTheFileWhileTheHostRuns) {
  add_edit("LK", "Edit LK", "if (lookup(\"10001\", \"ZIPS.CODE\")) return FAIL;\nreturn PASS;", {}, 101);
  add_to_set("SLK", "LK");
  // The host's message callback writes from a connection of its own.
  struct Writes {
    RawDB Writer;
    std::vector<int> Answers;
  } writes{RawDB(path()), {}};
  auto onMessage = [](void* owner, const char*, const char*, const char*, const char*, const char*) {
    auto* w = static_cast<Writes*>(owner);
    w->Answers.push_back(w->Writer.exec("UPDATE ZIPS SET POP = POP + 1 WHERE PKey = 1"));
    return 0;
  };
  int failed = 0;
  auto runOnce = [&] { return Edit_RunEdits(h(), "SLK", "L1", "", 0, &failed, &writes, fn(+onMessage)); };
  EXPECT_EQ(0, runOnce());
  EXPECT_EQ(SQLITE_OK, writes.Writer.exec("UPDATE ZIPS SET POP = 0 WHERE PKey = 2"));

  ASSERT_EQ(0, Qb_BeginTrans(h()));
  EXPECT_EQ(0, runOnce());
  EXPECT_EQ(SQLITE_BUSY, writes.Writer.exec("UPDATE ZIPS SET POP = 0 WHERE PKey = 2"));  // the host's reads hold the lock
  ASSERT_EQ(0, Qb_CommitTrans(h()));
  EXPECT_EQ(SQLITE_OK, writes.Writer.exec("UPDATE ZIPS SET POP = 0 WHERE PKey = 2"));
  EXPECT_EQ((std::vector<int>{SQLITE_OK, SQLITE_BUSY}), writes.Answers);
  EXPECT_EQ("8001", writes.Writer.value("SELECT POP FROM ZIPS WHERE PKey = 1"));
}

// A debugging run's lookups share one read as a run's do. It ends before each
// callback (field, message, line: each writes from a connection of its own)
// and when the debugging run ends, whether the edit passes or fails or a
// lookup fails with the read held, with no callback after the lookup or with
// the lines after it: no lock and no transaction is left open.
TEST_F(Lookups, DebuggingRunsShareReadsThatNeverHoldTheFileWhileTheHostRuns) {
  exec("CREATE TABLE GONE([PKey] integer not null primary key, [CODE] varchar(5));"
       "INSERT INTO RL_LookupTables(TableName, RecCount) VALUES ('GONE',0);");
  const std::string lookedUp = "int n;\nn = lookup(\"10001\", \"ZIPS.CODE\");\n";
  add_edit("DK", "Edit DK", lookedUp + "if (n) error_text(\"found\");\nreturn FAIL;", {2}, 101);
  add_edit("DP", "Edit DP", lookedUp + "return PASS;", {2}, 101);
  add_edit("DG", "Edit DG", lookedUp + "n = lookup(\"x\", \"GONE.CODE\");\nreturn PASS;", {2}, 101);
  exec("DROP TABLE GONE;");
  struct Writes {
    RawDB Writer;
    Rows Calls;
    // The callback as "kind|SQLite code of a write made in it".
    int write(const char* kind) {
      return collect(&Calls, kind, Writer.exec("UPDATE ZIPS SET POP = POP + 1 WHERE PKey = 1"));
    }
  };
  auto onField = [](void* owner, const char*) { return static_cast<Writes*>(owner)->write("field"); };
  auto onLine = [](void* owner, int, int, const char*) { return static_cast<Writes*>(owner)->write("line"); };
  auto onMessage = [](void* owner, const char*, const char*, const char*, const char*, const char*) {
    return static_cast<Writes*>(owner)->write("message");
  };
  Rows gone = failed("lookup", {"TablesList does not have a table named \"GONE\""}, "syntax error");
  gone.insert(gone.begin(), "-1");
  gone.push_back("TRunEdits::DebugEdit\xBB" "syntax error");
  gone.push_back("TRunEdits::DebugEdit\xBB" "SQL: SELECT a.PKey, a.EditName, b.AdminCode, m.MessageNumber, m.Message, "
                 "a.EditLogic, a.CompiledLogic FROM RL_Edits a, RL_Agencies b, RL_Messages m WHERE b.PKey = "
                 "a.AgencyPKey AND m.PKey = a.MessagePKey AND a.EditTag = 'DG';");
  struct Case {
    const char* Tag;
    bool Lines;
    Rows Outcome;
    Rows Calls;
  };
  for (const Case& c : {Case{"DK", true, {"0"}, {"field|0", "message|0", "line|0", "line|0", "line|0", "line|0"}},
                        Case{"DP", false, {"0"}, {"field|0"}}, Case{"DG", true, gone, {"field|0", "line|0", "line|0"}},
                        Case{"DG", false, gone, {"field|0"}}}) {
    const std::string which = std::string(c.Tag) + (c.Lines ? " with lines" : "");
    Writes writes{RawDB(path()), {}};
    EXPECT_EQ(c.Outcome, edit_entries_cut(::outcome(h(), Edit_DebugEdit(h(), c.Tag, "L1", "1 45", &writes,
                                                                        c.Lines ? fn(+onLine) : nullptr, nullptr,
                                                                        fn(+onField), fn(+onMessage)))))
        << which;
    EXPECT_EQ(c.Calls, writes.Calls) << which;
    EXPECT_EQ(SQLITE_OK, writes.Writer.exec("UPDATE ZIPS SET POP = POP + 1 WHERE PKey = 1")) << which;
    EXPECT_EQ(0, Qb_BeginTrans(h())) << which;  // no transaction was left open
    EXPECT_EQ(0, Qb_CommitTrans(h()));
  }
}

// A second run-time on the same metafile over a table model that the test
// fills itself: a model the engine never makes, and caches the test can read.
class OwnModel : public Lookups {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Db.OpenDatabase(path().c_str()));
    Runtime = std::make_unique<TRunEdits>(&Db, &Pump, &Tables);
  }
  // Files the definition of a table or view, leaving out the column at `skipped`.
  void model(const std::string& name, int skipped = -1) {
    RawDB raw(path());
    EXPECT_EQ(0, Tables.AddTable(table_model(raw, name, skipped)));
  }

  RunResult run_set(const std::string& set) override {
    Pump.ClearPump();
    RunResult run;
    run.result = Runtime->RunEdits(set.c_str(), "L1", "", 0, &run.failed, &run.messages, fn(collect_message));
    return run;
  }
  Rows errors() override {
    int count = 0;
    Pump.GetErrorsCount(&count);
    Rows errors;
    for (int i = 0; i < count; ++i) {
      char text[512] = "";
      Pump.GetErrorByIndex(i, text, sizeof text);
      errors.push_back(text);
    }
    return errors;
  }

  TSQLDB Db;
  TEngineErrorsPump Pump;
  TTablesList Tables;
  std::unique_ptr<TRunEdits> Runtime;
};

// A step that fails is an SQL error and leaves the statement reset, and so is
// a row that the definition cannot name.
TEST_F(OwnModel, FailedStepsAndCopiesAreSQLErrors) {
  exec("CREATE TABLE FAULTYDATA([PKey] integer not null primary key, [CODE] varchar(10) collate nocase,"
       " [NAME] varchar(10));"
       "INSERT INTO FAULTYDATA VALUES (1,'Bang','bad'),(2,'boom','ok'),(3,'BOOM','bad'),(4,'fine','ok');"
       "CREATE VIEW FAULTY AS SELECT PKey, CODE, NAME,"
       " CASE WHEN NAME = 'bad' THEN abs(-9223372036854775807 - 1) ELSE 0 END AS BAD FROM FAULTYDATA;"
       "CREATE TABLE GAPS([PKey] integer not null primary key, [CODE] varchar(5), [X] varchar(5), [Y] varchar(5));"
       "INSERT INTO GAPS VALUES (1,'a','x','y');");
  model("FAULTY");
  model("GAPS", 2);
  const Replacements faulty{{"ZIPS.CODE", "FAULTY.CODE"}}, listed{{"ZIPS", "FAULTY"}, {"CODE, CITY", "CODE, NAME"}};
  const Rows overflow =
      failed("lookup", {"integer overflow", "SQL: SELECT * FROM [FAULTY] WHERE [CODE] = ? ;"}, "SQL error");
  const struct {
    std::string expression;
    Replacements texts;
    Rows outcome;
  } cases[] = {
      // The first step fails; then a step past a row that the check refused.
      {"lookup(\"Bang\", \"ZIPS.CODE\")", faulty, overflow},
      {"lookup(\"BOOM\", \"ZIPS.CODE\")", faulty, overflow},
      {"lookup(\"fine\", \"ZIPS.CODE\")", faulty, {"1"}},
      {"rlookup(\"Bz\", \"ZIPS.CODE\")", faulty, failed("rlookup", {"integer overflow",
       "SQL: SELECT * FROM [FAULTY] WHERE [CODE] <= ? ORDER BY [CODE] DESC LIMIT 1;"}, "SQL error")},
      {"sqllookup(\"ZIPS\", \"CODE, CITY\", \"Bangbad\")", listed,
       failed("sqllookup", {"integer overflow", "SQL: SELECT * FROM [FAULTY] WHERE [CODE] || [NAME] = ? ;"})},
      {"sqllookup(\"ZIPS\", \"CODE, CITY\", \"fineok\")", listed, {"1"}},
      {"lookup(\"a\", \"ZIPS.CODE\")", {{"ZIPS.CODE", "GAPS.CODE"}},
       failed("lookup", {"Table named \"GAPS\" states column count = 3 but cannot return field at index 3", "",
                         "SQL: SELECT * FROM [GAPS] WHERE [CODE] = ? ;"}, "SQL error")},
  };
  for (const auto& c : cases) EXPECT_EQ(c.outcome, value_of(c.expression, c.texts)) << c.expression;
}

// Tables changed behind a model that does not follow them: a statement that
// cannot be prepared is not kept, and its reason stays with it.
TEST_F(OwnModel, TablesChangedBehindTheModelFailAsTheirStatementsDo) {
  for (const std::string& table : {std::string("NOROWS"), kLongTable, std::string("AB")}) model(table);
  for (const std::string& key : {std::string("NOROWS.KEYCOL"), kLongTable + "." + kLongColumn}) {
    size_t dot = key.find('.');
    Tables.GetTable(key.substr(0, dot))->GetColumn(key.substr(dot + 1))->SetIsTriggerField(true);
  }
  exec("DROP TABLE " + kLongTable + "; CREATE TABLE " + kLongTable + "([PKey] integer not null primary key);");
  exec("DROP TABLE NOROWS; CREATE TABLE NOROWS([PKey] integer not null primary key, [OTHER] varchar(5));"
       "DROP TABLE AB; CREATE TABLE AB([PKey] integer not null primary key, [XX] varchar(5));");
  const std::string lookup = "lookup(\"1\", \"ZIPS.CODE\")";
  const Rows notPrepared = failed("lookup", {}, "TFastSQLQuery::PrepareParameterizedQuery");
  const struct {
    std::string to;
    Rows outcome;
  } cases[] = {
      {"norows.keycol",
       {lib("get_trigger_padded_size", "no such column: KEYCOL"),
        lib("get_trigger_padded_size", "SQL: SELECT LENGTH([KEYCOL]) AS PadTo FROM [NOROWS] LIMIT 1;"),
        lib("call_lookup", "SQL error"), kEditEntry}},
      // The pad-width statement is recorded whole, however long.
      {kLongTable + "." + kLongColumn,
       {lib("get_trigger_padded_size", "no such column: " + kLongColumn),
        lib("get_trigger_padded_size",
            "SQL: SELECT LENGTH([" + kLongColumn + "]) AS PadTo FROM [" + kLongTable + "] LIMIT 1;"),
        lib("call_lookup", "SQL error"), kEditEntry}},
      {"ab.cd", notPrepared},
      {"ab.cd", notPrepared},
  };
  for (const auto& c : cases) EXPECT_EQ(c.outcome, value_of(lookup, {{"ZIPS.CODE", c.to}})) << c.to;
}

TEST_F(OwnModel, CachesOfRunTimeTextsStayBounded) {
  // Masks and table specs that differ on every use, as texts taken from
  // records would: the caches keep to their bounds and every answer stays right.
  model("ZIPS");
  EXPECT_EQ(Rows{"1"},
            outcome("char mask[600], value[600], spec[310];\nint i, fits, found;\nstrcpy(spec, \"ZIPS.CODE\");\n"
                    "while (i < 600) {\n  strcat(mask, \"d\");\n  strcat(value, \"1\");\n"
                    "  fits = fits + match(value, mask);\n  if (i < 300) {\n"
                    "    found = found + lookup(\"10001\", spec);\n    strcat(spec, \" \");\n  }\n  i = i + 1;\n}\n"
                    "if (fits == 600 && found == 300 && match(\"12\", \"dd\") && lookup(\"abc\", \"ZIPS.CODE\")) return PASS;\n"
                    "return FAIL;"));
  const TLibFuncs* library = Runtime->GetLibFuncs();
  EXPECT_LT(0u, library->CachedMasks());
  EXPECT_GE(TLibFuncs::kMaxCachedMasks, library->CachedMasks());
  EXPECT_LT(0u, library->CachedLookups());
  EXPECT_GE(TLibFuncs::kMaxCachedLookups, library->CachedLookups());
}

}  // namespace

namespace {

class HostTableLookups : public RunTest {
 protected:
  HostTableLookups() : RunTest(kHostTables) {}
};

}  // namespace

// Edits look rows up in a table declared WITHOUT ROWID and in one whose name
// holds "?" like in any other.
TEST_F(HostTableLookups, TablesWithoutRowidOrWithAQuestionMarkInTheirName) {
  expect_variables({
      {"char name[1], code[1];\nint a, b;\na = lookup(\"2\", \"SHADES.PKEY\");\nb = ilookup(\"bob\", \"who?.name\");",
       {"a=1", "b=1", "code=B2", "name=bob"}},
      {"char name[1], code[1];\nint a, b;\na = rlookup(\"az\", \"WHO?.NAME\");\n"
       "b = sqllookup(\"Shades\", \"Name,Code\", \"redR1\");",
       {"a=1", "b=1", "code=R1", "name=red"}},
      {"char name[1], code[1];\nint a;\na = sqlrangelookup(\"Who?\", \"Code\", \"B1\");", {"a=1", "code=A1", "name=ann"}},
  });
}
