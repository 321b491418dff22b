// The edit-logic compiler: the exact compiled text of each construct, the
// messages with their line numbers, and the lists of fields, lookup tables and
// messages that an edit uses. Runs against a real metafile with a small data
// dictionary: fields 12 "Site", 30 "Birth Date" (date), 31 "Last Contact"
// (date), 40 "Doctor's Name"; messages 5 and 7; lookup tables SITES (CODE
// indexed with PKey, NAME not indexed) and ZIPS (ZIPCODE indexed alone, CITY
// only behind PKey).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "compiler/EditCompiler.h"
#include "storage/EngineErrorsPump.h"
#include "storage/SQLDB.h"
#include "storage/TableStats.h"

namespace {

using Lines = std::vector<std::string>;

struct Compiled {
  std::string code;
  Lines errors;
  Lines warnings;
};

// A source and its compiled text, for sources that must compile cleanly.
struct TextCase {
  std::string source;
  std::string code;
};

// A source and every message it must give, in order.
struct MessageCase {
  std::string source;
  Lines errors;
  Lines warnings;
};

// A source that must give at least one error, one of them on `line`.
struct LineCase {
  std::string source;
  int line;
};

std::string repeat(const std::string& text, int count) {
  std::string result;
  for (int i = 0; i < count; ++i) result += text;
  return result;
}

// Long sources would flood the failure output.
std::string shown(const std::string& source) {
  return source.size() <= 200 ? source : source.substr(0, 200) + "...";
}

std::string line_prefix(int line) {
  char prefix[32];
  snprintf(prefix, sizeof prefix, "Line %4i: ", line);
  return prefix;
}

bool has_error_on_line(const Lines& errors, int line, const std::string& word = "") {
  for (const std::string& error : errors)
    if (error.rfind(line_prefix(line), 0) == 0 && error.find(word) != std::string::npos) return true;
  return false;
}

bool contains(const Lines& lines, const std::string& text) {
  for (const std::string& line : lines)
    if (line == text) return true;
  return false;
}

class EditCompilerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.file("edits.smf");
    ASSERT_TRUE(create_metafile(path));
    {
      RawDB raw(path);
      ASSERT_EQ(SQLITE_OK,
                raw.exec("INSERT INTO RL_Fields (FieldNumber, FieldName, LocalName, DataType) VALUES "
                         "(12, 'Site', 'Site', 'S '), (30, 'Birth Date', 'Birth Date', 'D1'), "
                         "(31, 'Last Contact', 'Last Contact', 'D1'), "
                         "(40, 'Doctor''s Name', 'Doctor''s Name', 'S ');"));
      ASSERT_EQ(SQLITE_OK, raw.exec("INSERT INTO RL_Messages (MessageNumber, Message) VALUES "
                                    "(5, 'Unknown site code'), (7, 'Site code is short');"));
      ASSERT_EQ(SQLITE_OK,
                raw.exec("CREATE TABLE SITES([PKey] integer not null primary key, "
                         "[CODE] varchar(10) not null, [NAME] varchar(50) null);"
                         "create index xSITES_CODE on SITES([CODE], [PKey]);"
                         "CREATE TABLE ZIPS([PKey] integer not null primary key, "
                         "[ZIPCODE] varchar(10) not null, [CITY] varchar(50) null);"
                         "create index xZIPS_ZIPCODE on ZIPS([ZIPCODE]);"
                         "create index xZIPS_CITY on ZIPS([PKey], [CITY]);"
                         "INSERT INTO RL_LookupTables (TableName, RecCount) VALUES ('SITES', 0), ('ZIPS', 0);"));
      add_table(raw, "SITES", {"PKey", "CODE", "NAME"});
      add_table(raw, "ZIPS", {"PKey", "ZIPCODE", "CITY"});
    }
    ASSERT_TRUE(db.OpenDatabase(path.c_str()));
    compiler = std::make_unique<TEditCompiler>(&db, &pump, &tables);
  }

  // The model the compiler checks lookups against; index texts as SQLite keeps them.
  void add_table(RawDB& raw, const std::string& name, const std::vector<std::string>& columns) {
    auto* table = new TTableDef(name);
    for (int order = 0; order < static_cast<int>(columns.size()); ++order)
      table->AddColumn(new TFieldDef(columns[order], order, order == 0 ? edtInteger : edtVarchar,
                                     order == 0 ? 0 : 50, order != 0, order == 0, false));
    for (const std::string& sql :
         raw.rows("SELECT sql FROM sqlite_master WHERE type = 'index' AND tbl_name = '" + name + "'"))
      table->AddIndex(sql);
    ASSERT_EQ(0, tables.AddTable(table));
  }

  Compiled compile(const std::string& source) {
    Compiled result;
    int errors = -1;
    int warnings = -1;
    try {
      EXPECT_EQ(0, compiler->Compile(source, &errors, &warnings)) << shown(source);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "compile threw \"" << e.what() << "\" for: " << shown(source);
      result.code = "<exception>";
      return result;
    }
    result.code = compiler->GetCompiledCode();
    for (int i = 0; i < compiler->GetErrorCount(); ++i) result.errors.push_back(compiler->GetErrorMessage(i));
    for (int i = 0; i < compiler->GetWarningCount(); ++i)
      result.warnings.push_back(compiler->GetWarningMessage(i));
    EXPECT_EQ(errors, static_cast<int>(result.errors.size())) << shown(source);
    EXPECT_EQ(warnings, static_cast<int>(result.warnings.size())) << shown(source);
    return result;
  }

  void expect_clean(const std::vector<TextCase>& cases) {
    for (const TextCase& c : cases) {
      Compiled result = compile(c.source);
      EXPECT_EQ(c.code, result.code) << shown(c.source);
      EXPECT_EQ(Lines(), result.errors) << shown(c.source);
      EXPECT_EQ(Lines(), result.warnings) << shown(c.source);
    }
  }

  void expect_messages(const std::vector<MessageCase>& cases) {
    for (const MessageCase& c : cases) {
      Compiled result = compile(c.source);
      EXPECT_EQ(c.errors, result.errors) << shown(c.source);
      EXPECT_EQ(c.warnings, result.warnings) << shown(c.source);
    }
  }

  int engine_error_count() {
    int count = -1;
    pump.GetErrorsCount(&count);
    return count;
  }

  std::string engine_error(int index) {
    char buffer[1024] = {};
    pump.GetErrorByIndex(index, buffer, sizeof buffer - 1);
    return buffer;
  }

  TempDir dir;
  std::string path;
  TSQLDB db;
  TEngineErrorsPump pump;
  TTablesList tables;
  std::unique_ptr<TEditCompiler> compiler;
};

// ---------------------------------------------------------------------------
// Compiled text

TEST_F(EditCompilerTest, EmptyBlankAndCommentOnlySources) {
  expect_clean({
      {"", "@"},
      {"   \n\t\r\n  ", "@"},
      {"/* only a comment */", "@"},
      {"/* a\nb\n*/", "@\n\n"},  // newlines inside a comment stay as line marks
      {"/* a\nb */", "@\n"},     // closed by the very last characters
      {"int x; /* one\ntwo */ x = 1;", "@IN001x;\nN001x=U0011;"},
      {"int x;\nx = 1; /* done\n*/", "@IN001x;\nN001x=U0011;\n"},
      {"\n\n  \nint x;\nx = 1;", "@IN001x;\nN001x=U0011;"},  // leading blank lines are dropped
      {"int x;\r\n\tx = 1;\r\n", "@IN001x;\nN001x=U0011;\n"},
  });
}

TEST_F(EditCompilerTest, CompiledTextOfStatements) {
  expect_clean({
      {"int x;\nx = 12;\nreturn PASS;", "@IN001x;\nN001x=U00212;\nDR;"},
      // Declarations: long is int, tablevar is char, a star before a name is passed over.
      {"int a, b[10];\nlong n;\ntablevar t;\nchar * p, c[3];\np = 'a';",
       "@IN001a,N001b[U00210];\nIN001n;\nHN001t;\nH*N001p,N001c[U0013];\nN001p='a';"},
      {"char c;\nc = 'a';\nc = 0;", "@HN001c;\nN001c='a';\nN001c=U0010;"},
      // A constant's character is data, even where it looks like a token.
      {"char c;\nc = 'A';\nif (c == 'M') return 'N';",
       "@HN001c;\nN001c='A';\nF   5(N001cE'M')D'N';"},
      {"int a[5], i;\na[i] = 1;\na[2] = a[i] + 1;",
       "@IN001a[U0015],N001i;\nN001a[N001i]=U0011;\nN001a[U0012]=N001a[N001i]+U0011;"},
      {"int x;\n;\n{ x = 1; }", "@IN001x;\n;\n{N001x=U0011;}"},
      // Keywords and built-in names in any case; "iff" is a name of its own.
      {"int x, iff;\nIF (x) x = 1;\nIf(x) iff = 1;",
       "@IN001x,N003iff;\nF  12(N001x)N001x=U0011;\nF  14(N001x)N003iff=U0011;"},
      {"int x, y, z, w;\nif (not x and y or z mod w) x = 1;\nif (x != 1 && y <= 2 || z >= 3) x = 1;",
       "@IN001x,N001y,N001z,N001w;\nF  12(!N001x&N001y|N001z%N001w)N001x=U0011;\n"
       "F  12(N001xJU0011&N001yKU0012|N001zGU0013)N001x=U0011;"},
      {"int x;\nif (x == dt_error || x == dt_missing || x == dt_valid) x = 1;\n"
       "if (x == dt_day_empty || x == dt_month_empty || x == dt_unknown || x == dt_empty) x = 1;",
       "@IN001x;\nF  12(N001xEZ|N001xEY|N001xEX)N001x=U0011;\n"
       "F  12(N001xEy|N001xEz|N001xEP|N001xEW)N001x=U0011;"},
      {"return FAIL;\nreturn warn;\nreturn true;\nreturn off;\nreturn dt_exact;\nreturn both;\n"
       "return left;\nreturn right;\nreturn on;\nreturn dt_min;\nreturn dt_max;\nreturn step;\n"
       "return dt_today;\nreturn 0;",
       "@DQ;\nDS;\nDR;\nDQ;\nDT;\nDS;\nDR;\nDQ;\nDR;\nDR;\nDS;\nDS;\nDO;\nDU0010;"},
  });
}

TEST_F(EditCompilerTest, CompiledTextOfBuiltInCalls) {
  expect_clean({
      {"char s[10], t[10];\nint n;\nn = strlen(s);\nstrcpy(t, left(s, 2));\nset_warning(7);\n"
       "n = val(s);\nSTRCAT(t, \"x\");",
       "@HN001s[U00210],N001t[U00210];\nIN001n;\nN001n=Mp(N001s);\nMo(N001t,MW(N001s,U0012));\n"
       "M\x84(U0017);\nN001n=M\x80(N001s);\nMm(N001t,\"001x);"},
      {"char s[50];\nstrcpy(s, #S\"Site\");\nif (strlen(s) == 0) return FAIL;\nreturn PASS;",
       "@HN001s[U00250];\nMo(N001s,#12);\nF   3(Mp(N001s)EU0010)DQ;\nDR;"},
      {"char d[9];\nstrcpy(d, dt_today);", "@HN001d[U0019];\nMo(N001d,O);"},
      {"error_msg(0);\nerror_msg(5);\nsave_error_text(5, 7, 0);\nset_warning(5, 7);\nallow_future_date_iop(5);",
       "@ML(U0010);\nML(U0015);\nMg(U0015,U0017,U0010);\nM\x84(U0015,U0017);\nM\x93(U0015);"},
      // A variable message number is taken for message 0, which every metafile has.
      {"int m;\nerror_msg(m);", "@IN001m;\nML(N001m);"},
      {"char s[10];\nsubstr(\"\", \"\", \"\");\nsave_text(\"a\", \"b\", \"c\", \"d\");",
       "@HN001s[U00210];\nMq(\"000,\"000,\"000);\nMh(\"001a,\"001b,\"001c,\"001d);"},
      {"char s[10];\nint n;\nn = externaldll(\"lib\", 1, s, 2, 3, 4, 5, 6);",
       "@HN001s[U00210];\nIN001n;\nN001n=M\x87(\"003lib,U0011,N001s,U0012,U0013,U0014,U0015,U0016);"},
  });
}

TEST_F(EditCompilerTest, InlistListIsNormalised) {
  const std::string head = "@HN001s[U00210];\n";
  expect_clean({
      {"char s[10];\ninlist(#S\"Site\", \" a , b,c,\");", head + "MU(#12,\"005a,b,c);"},
      {"char s[10];\ninlist(#S\"Site\", \" 1, 2 ,3 \");", head + "MU(#12,\"0051,2,3);"},
      {"char s[10];\ninlist(#S\"Site\", \"a, ,b\");", head + "MU(#12,\"005a, ,b);"},
      {"char s[10];\ninlist(#S\"Site\", \"x,\ty ,\");", head + "MU(#12,\"003x,y);"},
      {"char s[10];\ninlist(#S\"Site\", \"  \");", head + "MU(#12,\"002  );"},
      // Only the second argument is a list.
      {"char s[10];\ninlist(s, \"a , b\", \" c , d \");", head + "MU(N001s,\"003a,b,\"007 c , d );"},
  });
}

TEST_F(EditCompilerTest, JumpFieldsCoverTheControlledPart) {
  expect_clean({
      {"int c, x;\nif (c) x = 1; else x = 2;", "@IN001c,N001x;\nF  12(N001c)N001x=U0011;A  12N001x=U0012;"},
      // Line marks inside the controlled part count; those after a keyword follow its field.
      {"int x;\nif (x) {\n  x = 1;\n}\nelse\n  x = 2;",
       "@IN001x;\nF  16(N001x){\nN001x=U0011;\n}\nA  13\nN001x=U0012;"},
      {"int x;\nif\n(x)\n  x = 1;", "@IN001x;\nF  13\n(N001x)\nN001x=U0011;"},
      {"int x, y;\nif (x) y = 1; else if (y) y = 2; else y = 3;",
       "@IN001x,N001y;\nF  12(N001x)N001y=U0011;A  41F  12(N001y)N001y=U0012;A  12N001y=U0013;"},
      {"int x, y;\nif (x) {\n  if (y) {\n    y = 1;\n  }\n  else y = 2;\n}",
       "@IN001x,N001y;\nF  50(N001x){\nF  16(N001y){\nN001y=U0011;\n}\nA  12N001y=U0012;\n}"},
      {"int a, b, x;\nwhile (a) if (b) x = 1; else x = 2;",
       "@IN001a,N001b,N001x;\nB  41(N001a)F  12(N001b)N001x=U0011;A  12N001x=U0012;"},
      {"int x;\nwhile (x < 3) { x = x + 1; }", "@IN001x;\nB  20(N001x<U0013){N001x=N001x+U0011;}"},
      {"int i, n;\nfor (i = 0; i < 3; i = i + 1) n = n + i;",
       "@IN001i,N001n;\nC  18(N001i=U0010;N001i<U0013;N001i=N001i+U0011)N001n=N001n+N001i;"},
      // The do keeps four blanks; its while covers only the semicolon.
      {"int x;\ndo { x = 1; } while (x < 1);", "@IN001x;\nL    {N001x=U0011;}B   1(N001x<U0011);"},
      {"int c, x;\nif (c) { do { x = 1; } while (x < 1); }",
       "@IN001c,N001x;\nF  40(N001c){L    {N001x=U0011;}B   1(N001x<U0011);}"},
  });
}

// An unbraced do-while under if/else/while/for is controlled up to the
// semicolon after its while: a false condition must not land on "while (c);".
TEST_F(EditCompilerTest, UnbracedDoWhileIsControlledToItsSemicolon) {
  expect_clean({
      {"int c, x;\nif (c) do { x = 1; } while (x < 1);",
       "@IN001c,N001x;\nF  38(N001c)L    {N001x=U0011;}B   1(N001x<U0011);"},
      {"int c, x;\nif (c) do { x = 1; } while (x < 1); else x = 2;",
       "@IN001c,N001x;\nF  38(N001c)L    {N001x=U0011;}B   1(N001x<U0011);A  12N001x=U0012;"},
      {"int c, x;\nif (c) x = 2; else do { x = 1; } while (x < 1);",
       "@IN001c,N001x;\nF  12(N001c)N001x=U0012;A  38L    {N001x=U0011;}B   1(N001x<U0011);"},
      {"int c, x;\nwhile (c) do { x = 1; } while (x < 1);",
       "@IN001c,N001x;\nB  38(N001c)L    {N001x=U0011;}B   1(N001x<U0011);"},
      {"int i, x;\nfor (i = 0; i < 1; i = i + 1) do { x = 1; } while (x < 1);",
       "@IN001i,N001x;\nC  38(N001i=U0010;N001i<U0011;N001i=N001i+U0011)L    {N001x=U0011;}B   1(N001x<U0011);"},
  });
}

TEST_F(EditCompilerTest, StringConstantsCarryTheirLength) {
  // The middle length character is 48 + length / 10, the whole quotient.
  const std::string t99(99, 'a');
  const std::string t100(100, 'b');
  const std::string t123(123, 'c');
  const std::string t999(999, 'd');
  expect_clean({
      {"save_text(\"\");", "@Mh(\"000);"},
      {"save_text(\"" + t99 + "\");", "@Mh(\"099" + t99 + ");"},
      {"save_text(\"" + t100 + "\");", "@Mh(\"1:0" + t100 + ");"},
      {"save_text(\"" + t123 + "\");", "@Mh(\"1<3" + t123 + ");"},
      {"save_text(\"" + t999 + "\");", "@Mh(\"9\x93" "9" + t999 + ");"},
      {"save_text(\"a\nb\");", "@Mh(\"003a\nb);"},  // newlines inside are text, not line marks
  });

  // One character too many stops the first pass on the string.
  Compiled tooLong = compile("save_text(\"" + std::string(1000, 'e') + "\");");
  EXPECT_EQ("@Mh(\"", tooLong.code);
  EXPECT_EQ(Lines({"Line    1: string constant is too long ( > 999 characters)",
                   "Line    1: unbalanced parentheses; please review your code"}),
            tooLong.errors);
}

TEST_F(EditCompilerTest, FieldReferencesCompileToFieldNumbers) {
  Compiled result = compile(
      "char s[60];\nint n;\nstrcpy(s, #s\"site\");\nstrcpy(s, #S \"Doctor's Name\");\nstrcpy(s, #S31);\n"
      "n = valid_date_iop(#S\"Birth Date\");\nstrcpy(s, #S\"SITE\");");
  EXPECT_EQ("@HN001s[U00260];\nIN001n;\nMo(N001s,#12);\nMo(N001s,#40);\nMo(N001s,#31);\n"
            "N001n=M\x90(#30);\nMo(N001s,#12);",
            result.code);
  EXPECT_EQ(Lines(), result.errors);
  EXPECT_EQ(Lines(), result.warnings);
  // Named fields only, first use first, each once; a field given by number is not listed.
  ASSERT_EQ(3, compiler->GetLogicListCount('F'));
  EXPECT_EQ(12, compiler->GetLogicFieldNumber(0));
  EXPECT_EQ(40, compiler->GetLogicFieldNumber(1));
  EXPECT_EQ(30, compiler->GetLogicFieldNumber(2));

  // A name the dictionary lacks compiles to 0000 and is listed as field 0.
  result = compile("strlen(#S\"Nowhere\");");
  EXPECT_EQ("@Mp(#0000);", result.code);
  ASSERT_EQ(1, compiler->GetLogicListCount('F'));
  EXPECT_EQ(0, compiler->GetLogicFieldNumber(0));
}

TEST_F(EditCompilerTest, UserFunctionsFillTheHeader) {
  expect_clean({
      {"a();\nb();\nfunction a()\n{\n}\nfunction b()\n{\n}", "B0002500034mA();\nmB();\nnA()\n{\n}\nnB()\n{\n}"},
      // "dysfunction" holds the word too: a record without a body takes letter B.
      {"a();\nb();\nfunction a()\n{\n  int dysfunction;\n}\nfunction b()\n{\n}",
       "C000300000000057mA();\nmC();\nnA()\n{\nIN011dysfunction;\n}\nnC()\n{\n}"},
      {"\n\n  f();\nfunction f()\n{\n}", "A00014mA();\nnA()\n{\n}"},
      // The word inside a string constant is no function.
      {"save_text(\"a function x\");", "@Mh(\"012a function x);"},
  });

  // 26 functions still fit the header letters.
  std::string source;
  for (int i = 0; i < 26; ++i) source += std::string("function g") + char('a' + i) + "()\n{\n}\n";
  Compiled result = compile(source);
  EXPECT_EQ(Lines(), result.errors);
  ASSERT_GT(result.code.size(), 131u);
  EXPECT_EQ('Z', result.code[0]);
  for (int i = 0; i < 26; ++i) {
    size_t definition = result.code.find(std::string("n") + char('A' + i));
    ASSERT_NE(std::string::npos, definition);
    EXPECT_EQ(static_cast<int>(definition + 2), std::atoi(result.code.substr(1 + 5 * i, 5).c_str())) << i;
  }
}

// Worked example: comment line, lookup, else block, messages and a user function.
TEST_F(EditCompilerTest, WholeEditWithListsOfWhatItUses) {
  Compiled result = compile(
      "/* site must be a known code */\n"
      "int found;\n"
      "found = lookup(#S\"Site\", \"SITES.CODE\");\n"
      "if (found) check();\n"
      "else { error_msg(5); }\n"
      "return found;\n"
      "function check()\n"
      "{\n"
      "  if (strlen(#S\"Site\") < 3) set_warning(7);\n"
      "}");
  EXPECT_EQ("A00107\nIN005found;\nN005found=MX(#12,\"010SITES.CODE);\nF   5(N005found)mA();\n"
            "A  12{ML(U0015);}\nDN005found;\nnA()\n{\nF  10(Mp(#12)<U0013)M\x84(U0017);\n}",
            result.code);
  EXPECT_EQ(Lines(), result.errors);
  EXPECT_EQ(Lines(), result.warnings);

  ASSERT_EQ(1, compiler->GetLogicListCount('F'));
  EXPECT_EQ(12, compiler->GetLogicFieldNumber(0));
  ASSERT_EQ(1, compiler->GetLogicListCount('T'));
  EXPECT_EQ("SITES", compiler->GetLogicTableName(0));
  ASSERT_EQ(2, compiler->GetLogicListCount('M'));
  int kind = 0;
  EXPECT_EQ(5, compiler->GetLogicMessageNumber(0, &kind));
  EXPECT_EQ('E', kind);
  EXPECT_EQ(7, compiler->GetLogicMessageNumber(1, &kind));
  EXPECT_EQ('A', kind);
  EXPECT_EQ(0, compiler->GetLogicListCount('E'));
  EXPECT_EQ(0, engine_error_count());
}

// ---------------------------------------------------------------------------
// Result lists

TEST_F(EditCompilerTest, MessageListsKeepKindAndScanOrder) {
  Compiled result = compile(
      "int n;\n"
      "n = valid_date_iop(#S\"Birth Date\");\n"
      "strlen(#S\"Site\");\n"
      "strlen(#S\"Birth Date\");\n"
      "set_warning(7);\n"
      "error_msg(5);\n"
      "error_msg(5);\n"
      "save_error_text(5, 7);\n"
      "error_text(\"Bad site\");\n"
      "save_text(\"Check site\", \"Bad site\");\n"
      "save_warning_text(7);\n"
      "n = 9;");
  EXPECT_EQ(Lines(), result.errors);
  EXPECT_EQ(Lines({"Line   11: save_warning_text is deprecated; set_warning is preferred (see documentation)"}),
            result.warnings);

  ASSERT_EQ(2, compiler->GetLogicListCount('F'));
  EXPECT_EQ(30, compiler->GetLogicFieldNumber(0));
  EXPECT_EQ(12, compiler->GetLogicFieldNumber(1));
  EXPECT_EQ(0, compiler->GetLogicListCount('T'));

  // Numbers: error_msg, save_error_text, save_warning_text, set_warning, each
  // kind and number once; 9 is no message argument.
  const std::vector<std::pair<int, int>> numbers = {{'E', 5}, {'S', 5}, {'S', 7}, {'W', 7}, {'A', 7}};
  ASSERT_EQ(static_cast<int>(numbers.size()), compiler->GetLogicListCount('M'));
  for (size_t i = 0; i < numbers.size(); ++i) {
    int kind = 0;
    EXPECT_EQ(numbers[i].second, compiler->GetLogicMessageNumber(static_cast<int>(i), &kind)) << i;
    EXPECT_EQ(numbers[i].first, kind) << i;
  }
  // Texts: the first argument of error_text and save_text.
  ASSERT_EQ(2, compiler->GetLogicListCount('E'));
  int kind = 0;
  EXPECT_EQ("Bad site", compiler->GetLogicErrorMessage(0, &kind));
  EXPECT_EQ('E', kind);
  EXPECT_EQ("Check site", compiler->GetLogicErrorMessage(1, &kind));
  EXPECT_EQ('S', kind);
}

TEST_F(EditCompilerTest, LookupTableListTakesTheTableArgumentOnly) {
  Compiled result = compile(
      "char s[20];\nint n;\n"
      "n = lookup(#S\"Site\", \"SITES.CODE\");\n"
      "n = ilookup(#S\"Site\", \"sites.code\");\n"
      "n = sqlrangelookup(\"ZIPS\", \"ZIPCODE\", s);");
  EXPECT_EQ(Lines(), result.errors);
  ASSERT_EQ(3, compiler->GetLogicListCount('T'));  // names compared exactly
  EXPECT_EQ("SITES", compiler->GetLogicTableName(0));
  EXPECT_EQ("sites", compiler->GetLogicTableName(1));
  EXPECT_EQ("ZIPS", compiler->GetLogicTableName(2));

  // A table given by a variable is unknown; later strings and texts that look
  // like calls are no tables.
  result = compile(
      "char t[20], s[20];\nint n;\n"
      "strcpy(t, \"SITES.CODE\");\n"
      "if (lookup(#S\"Site\", t)) return PASS;\n"
      "strcpy(s, \"x\");\n"
      "save_text(\"ITEMS(3)\", \"b\");\n"
      "n = ilookup(#S\"Site\", \"ZIPS.ZIPCODE\");\n"
      "return FAIL;");
  EXPECT_EQ(Lines(), result.errors);
  EXPECT_EQ(Lines(), result.warnings);
  ASSERT_EQ(1, compiler->GetLogicListCount('T'));
  EXPECT_EQ("ZIPS", compiler->GetLogicTableName(0));
}

TEST_F(EditCompilerTest, ListGettersReportBadArguments) {
  compile("strlen(#S\"Site\");");
  EXPECT_EQ(-1, compiler->GetLogicListCount('X'));
  ASSERT_EQ(1, engine_error_count());
  EXPECT_EQ("TEditCompiler::GetLogicListCount\xBB" "Invalid value in parameter 'which_list'", engine_error(0));

  int kind = 0;
  EXPECT_EQ("Programmer error", thrown_text([&] { compiler->GetLogicFieldNumber(1); }));
  EXPECT_EQ("Programmer error", thrown_text([&] { compiler->GetLogicTableName(0); }));
  EXPECT_EQ("Programmer error", thrown_text([&] { compiler->GetLogicErrorMessage(-1, &kind); }));
  EXPECT_EQ("Programmer error", thrown_text([&] { compiler->GetLogicMessageNumber(3, &kind); }));
  ASSERT_EQ(5, engine_error_count());
  EXPECT_EQ("TEditCompiler::GetLogicFieldNumber\xBB" "Parameter 'idx' (1) out of bounds for list FLogicFieldsList",
            engine_error(1));
  EXPECT_EQ("TEditCompiler::GetLogicTableName\xBB" "Parameter 'idx' (0) out of bounds for list FLogicTablesList",
            engine_error(2));
  EXPECT_EQ("TEditCompiler::GetLogicErrorMessage\xBB"
            "Parameter 'idx' (-1) out of bounds for list FLogicErrorMessagesList",
            engine_error(3));
  EXPECT_EQ("TEditCompiler::GetLogicMessageNumber\xBB"
            "Parameter 'idx' (3) out of bounds for list FLogicMessageNumbersList",
            engine_error(4));

  EXPECT_EQ(nullptr, compiler->GetErrorMessage(0));
  EXPECT_EQ(nullptr, compiler->GetWarningMessage(-1));
}

TEST_F(EditCompilerTest, NextCompileReplacesEveryResult) {
  Compiled first = compile("int n;\nn = lookup(#S\"Site\", \"SITES\");\nerror_text(\"x\");\nerror_msg(5);\nq = 1;");
  EXPECT_EQ(1u, first.errors.size());
  EXPECT_EQ(1, compiler->GetLogicListCount('F'));
  EXPECT_EQ(1, compiler->GetLogicListCount('T'));
  EXPECT_EQ(1, compiler->GetLogicListCount('M'));
  EXPECT_EQ(1, compiler->GetLogicListCount('E'));

  // The variable declared before is gone too.
  Compiled second = compile("n = 1;");
  EXPECT_EQ(Lines({"Line    1: undeclared variable \"n\""}), second.errors);
  for (char list : {'F', 'T', 'M', 'E'}) EXPECT_EQ(0, compiler->GetLogicListCount(list)) << list;

  Compiled empty = compile("");
  EXPECT_EQ("@", empty.code);
  EXPECT_EQ(Lines(), empty.errors);
  EXPECT_EQ(0, engine_error_count());
}

// ---------------------------------------------------------------------------
// Messages

TEST_F(EditCompilerTest, LexicalTextsWhateverTheMessages) {
  const std::vector<TextCase> cases = {
      {"x = 12;", "@N001x=U00212;"},
      {"if (a == 1) { b = 2; }", "@F  14(N001aEU0011){N001b=U0012;}"},
      {"x = left (s, 2);", "@N001x=R(N001s,U0012);"},  // with a blank: the constant
      {"x = int1;", "@N001x=IU0011;"},                 // a digit does not end the keyword
      {"x = a*b/c;", "@N001x=N005a*b/c;"},             // no operators inside a word
      {"x=a<>b;", "@N001x=N001a>N001b;"},
      {"x = a => b;", "@N001x=N001a>N001b;"},
      {"x = a =< b;", "@N001x=N001a<N001b;"},
      {"x = 1 $ 2;", "@N001x=U0011U0012;"},
      {"x = 'a' ;", "@N001x='a';"},  // the closing quote takes the next character along
      {"save_text(\"(a)\");", "@Mh((N001a)\""},
      {"save_text(\"abc);\nx = 1;", "@Mh(\"\nN001x=U0011;"},
      {"strlen(#Primary);", "@Mp(#N007primary);"},
  };
  for (const TextCase& c : cases) EXPECT_EQ(c.code, compile(c.source).code) << c.source;
}

TEST_F(EditCompilerTest, LexicalMessages) {
  expect_messages({
      {"int x, a, b;\nx = a<>b;", {"Line    2: Syntax error (\"<>\"); did you mean \"!=\"?"}, {}},
      {"int x, a, b;\nx = a => b;", {"Line    2: Syntax error (\"=>\"); did you mean \">=\"?"}, {}},
      {"int x, a, b;\nx = a =< b;", {"Line    2: Syntax error (\"=<\"); did you mean \"<=\"?"}, {}},
      {"int x;\nx = 1 $ 2;\nx = ?;", {"Line    2: Illegal character ($)", "Line    3: Illegal character (?)"}, {}},
      {"foo(1);",
       {"Line    1: call to undefined function \"foo\" (neither quelt-language nor user-defined)",
        "Line    1: undeclared variable \"foo\""},
       {}},
      // The rest of the line goes with an unterminated string; the next line keeps its number.
      {"save_text(\"abc);\nx = $;",
       {"Line    1: unterminated string (\" expected)", "Line    2: Illegal character ($)",
        "Line    1: unbalanced parentheses; please review your code"},
       {}},
      {"save_text(\"(a)\");",
       {"Line    1: Illegal character (\")", "Line    1: unterminated string (\" expected)",
        "Line    1: unbalanced parentheses; please review your code"},
       {}},
      {"strlen(#Primary);", {"Line    1: field identifiers must use form like: #S\"Primary Site\""}, {}},
      {"strlen(#S Site);", {"Line    1: field identifiers must use form like: #S\"Primary Site\""}, {}},
      {"strlen(#S\"Nowhere\");", {"Line    1: field name \"Nowhere\" not in data dictionary"}, {}},
      {"char s[10];\ninlist(#S\"Site\", s);", {"Line    2: the second parameter to INLIST must be a string constant"}, {}},
      {"if (a == 1) { b = 2; }", {"Line    1: variable \"a\" must be declared", "Line    1: undeclared variable \"b\""}, {}},
      {"int x;\nx = a*b;", {"Line    2: variable \"a*b\" must be declared"}, {}},
  });
}

TEST_F(EditCompilerTest, StatementMessages) {
  const std::string head = "char s[10], c;\nint n, a[3];\n";
  std::vector<MessageCase> cases = {
      {"s = \"abc\";",
       {"Line    3: assignment to variables of type ARRAY OF CHAR must use string functions (strcpy, strcat, etc.)"},
       {}},
      {"c = 5;", {"Line    3: illegal assignment: variable \"c\" is declared to be CHAR"}, {}},
      {"n = 'a';", {"Line    3: illegal assignment: variable \"n\" is declared to be NUMERIC (INT or LONG)"}, {}},
      {"c = \"ab\";", {"Line    3: string is longer than space allocated for variable \"c\""}, {}},
      {"n = strcpy(s, \"a\");",
       {"Line    3: variable \"n\" is data type INT; function \"strcpy\" returns data type CHAR"}, {}},
      {"c = strlen(s);", {"Line    3: variable \"c\" is data type CHAR; function \"strlen\" returns data type INT"}, {}},
      {"n = save_text(\"a\");", {"Line    3: variable \"n\" is data type INT; function \"save_text\" returns NOTHING"}, {}},
      {"a[c] = 1;", {"Line    3: subscript variable must be of type integer (int)"}, {}},
      {"a[q] = 1;", {"Line    3: numeric constant or variable required for subscript"}, {}},
      {"n 5;", {"Line    3: = expected"}, {}},
      {"n = m;", {"Line    3: variable \"m\" must be declared"}, {}},
      {"q = 1;", {"Line    3: undeclared variable \"q\""}, {}},
      {"5;", {"Line    3: Invalid syntax."}, {}},
      {"strlen(s) n;", {"Line    3: ; expected"}, {}},
      {"int n;", {"Line    3: variable \"n\" already declared; variable names must be unique"}, {}},
      {"int N;", {"Line    3: variable \"n\" already declared; variable names must be unique"}, {}},
      {"else n = 1;", {"Line    3: ELSE without an IF (or preceding IF needs braces '{' and '}')"}, {}},
      {"for (n = 0; n < 3) n = 1;", {"Line    3: syntax: for(initialize;test;increment)"}, {}},
      {"for (n = 0; n < 3; n = n + 1; n = 1) n = 1;", {"Line    3: syntax: for(initialize;test;increment)"}, {}},
      {"if (n = 1) n = 2;", {}, {"Line    3: possible incorrect assignment (did you mean \"==\"?)"}},
      {"if (1 = n) n = 2;", {"Line    3: assignment operator without a variable (did you mean \"==\"?)"}, {}},
      {"if (q == 1) n = 2;", {"Line    3: variable \"q\" must be declared"}, {}},
      {"if (#S\"Site\") n = 1;", {"Line    3: syntax error: fields must be accessed through function calls"}, {}},
      {"if ((n) c) n = 1;", {"Line    3: operator expected"}, {}},
      {"if (strlen s) n = 1;",
       {"Line    3: opening parenthesis expected following function name", "Line    3: STRLEN error: too few parameters"},
       {}},
      {"return PASS.;", {"Line    3: RETURN statements must end with semi-colon (;)"}, {}},
      {"return n = 1;", {"Line    3: Possibly incorrect assignment"}, {}},
      {"return 1, 2;", {"Line    3: COMMA not valid in RETURN statement"}, {}},
      {"return q;", {"Line    3: undeclared variable \"q\""}, {}},
      {"return PASS", {"Line    3: return statement must end with semi-colon"}, {}},
      {"return 'a';", {}, {}},
      {"return '1';", {"Line    3: expected IDENTIFIER"}, {}},
      {"return '$';", {"Line    3: expected IDENTIFIER"}, {}},
      {"c = '1';", {}, {}},
  };
  for (MessageCase& c : cases) c.source = head + c.source;
  expect_messages(cases);

  // An if whose condition lacks parentheses swallows the rest of the logic.
  Compiled result = compile("int x;\nif x == 1 return FAIL;\nreturn PASS;");
  EXPECT_EQ("@IN001x;\nF   0N001xEU0011DQ;\nDR;", result.code);
  EXPECT_EQ(Lines({"Line    2: ( expected"}), result.errors);

  // A missing semicolon shows on the line of the statement that follows.
  result = compile("int x;\nx = 5\nif (x) x = 1;");
  EXPECT_TRUE(contains(result.errors, "Line    3: ; expected at the end of preceding assignment statement"))
      << testing::PrintToString(result.errors);
  result = compile("int x;\nf();\nx = 5\nfunction f()\n{\n}");
  EXPECT_TRUE(contains(result.errors, "Line    4: ; expected at the end of preceding assignment statement"))
      << testing::PrintToString(result.errors);

  result = compile("int x;\nx = x ++ 1;");
  EXPECT_TRUE(contains(result.errors, "Line    2: syntax error \"++\"")) << testing::PrintToString(result.errors);
  result = compile("int x;\nx -= 1;");
  EXPECT_TRUE(contains(result.errors, "Line    2: syntax error \"-=\"")) << testing::PrintToString(result.errors);
  result = compile("int x;\nfunction f() x = 1;");
  EXPECT_TRUE(contains(result.errors, "Line    2: { expected")) << testing::PrintToString(result.errors);
}

TEST_F(EditCompilerTest, DeclarationMessages) {
  const std::vector<MessageCase> firsts = {
      {"char x = 1;", {"Line    1: syntax error: assignment not allowed in declaration"}, {}},
      {"int char;", {"Line    1: syntax error (variable type in middle of declaration)"}, {}},
      {"int 5;", {"Line    1: syntax error (token should be an IDENTIFIER)"}, {}},
      {"int a[b];", {"Line    1: numeric constant required"}, {}},
      {"int a[5;", {"Line    1: right bracket required"}, {}},
      {"int a b;", {"Line    1: syntax error in declaration"}, {}},
  };
  for (const MessageCase& c : firsts) {
    Compiled result = compile(c.source);
    ASSERT_FALSE(result.errors.empty()) << c.source;
    EXPECT_EQ(c.errors.front(), result.errors.front()) << c.source;
  }
}

TEST_F(EditCompilerTest, BalanceMessagesStopBeforeTheGrammar) {
  expect_messages({
      {"int x;\nx = 1);\n{ x = 2;",
       {"Line    2: closing parenthesis with no matching opening parenthesis",
        "Line    3: unresolved open brace (hint: use Ctrl+B to find matched braces... see Edit Logic menu)"},
       {}},
      // Most recent first, each on its own line.
      {"int x;\nx = (1;\nx = (2;",
       {"Line    3: unbalanced parentheses; please review your code",
        "Line    2: unbalanced parentheses; please review your code"},
       {}},
      {"int x;\nx = 1; }", {"Line    2: closing brace with no matching opening brace"}, {}},
  });

  // Without the second pass the jump fields and header slots stay unwritten.
  Compiled result = compile("int x;\nif (x) {\nx = 1;\n\nx = 2;");
  EXPECT_EQ("@IN001x;\nF    (N001x){\nN001x=U0011;\n\nN001x=U0012;", result.code);
  EXPECT_EQ(Lines({"Line    2: unresolved open brace (hint: use Ctrl+B to find matched braces... see Edit Logic menu)"}),
            result.errors);
  result = compile("f();\nfunction f()\n{\n");
  EXPECT_EQ("A00000mA();\nnA()\n{\n", result.code);
  EXPECT_EQ(Lines({"Line    3: unresolved open brace (hint: use Ctrl+B to find matched braces... see Edit Logic menu)"}),
            result.errors);
}

// Hints of the token reader are no bracket messages: the statements are still parsed.
TEST_F(EditCompilerTest, TokenReaderHintsDoNotStopTheStatementPass) {
  std::vector<MessageCase> cases;
  for (const char* op : {"++", "--"})
    cases.push_back({std::string("int x;\nx") + op + ";",
                     {std::string("Line    2: syntax error \"") + op + "\"",
                      std::string("Line    2: syntax error \"") + op + "\"", "Line    2: = expected"},
                     {}});
  for (const char* op : {"+=", "-="})
    cases.push_back({std::string("int x;\nx ") + op + " 1;\ny = 2;",
                     {std::string("Line    2: syntax error \"") + op + "\"",
                      std::string("Line    2: syntax error \"") + op + "\"", "Line    2: = expected",
                      "Line    3: undeclared variable \"y\""},
                     {}});
  expect_messages(cases);
}

TEST_F(EditCompilerTest, BuiltInCallMessages) {
  const std::string head = "char s[10];\nint n;\n";
  const std::string deprecated =
      "Line    3: save_warning_text is deprecated; set_warning is preferred (see documentation)";
  std::vector<MessageCase> cases = {
      {"strlen();", {"Line    3: STRLEN error: too few parameters"}, {}},
      {"strlen(s, s);", {"Line    3: STRLEN error: too many parameters"}, {}},
      {"inlist(#S\"Site\");", {"Line    3: INLIST error: too few parameters"}, {}},
      {"substr(s, \"3\", 1);", {"Line    3: SUBSTR error: Parameter \"3\" must be data type INT or LONG"}, {}},
      {"substr(s, x);", {"Line    3: SUBSTR error: Parameter #2 references undeclared variable \"x\""}, {}},
      {"strlen(5);", {"Line    3: STRLEN error: Parameter \"5\" must be data type CHAR[] (string)"}, {}},
      {"strlen(n);", {"Line    3: STRLEN error: Variable \"n\" must be data type CHAR[] (string)"}, {}},
      {"substr(s, s);", {"Line    3: SUBSTR error: Variable \"s\" must be data type INT or LONG"}, {}},
      {"strlen(dt_error);", {"Line    3: check_param_type error: Function-STRLEN, Parameter-Z"}, {}},
      {"strlen('a');", {"Line    3: check_param_type error: Function-STRLEN, Parameter-'a'"}, {}},
      {"strlen(s[1]);", {"Line    3: STRLEN error: Parameter #1 references undeclared variable \"s[U0011]\""}, {}},
      // A nested call has its own parameters checked.
      {"at(s, s, strlen(t));", {"Line    3: STRLEN error: Parameter #1 references undeclared variable \"t\""}, {}},
      {"strlen(\"a\" + s);",
       {"Line    3: Syntax error: review function parameters", "Line    3: STRLEN error: too many parameters"},
       {}},
      {"strcmp(s, \"a(b\");", {"Line    3: Function call without closing parenthesis"}, {}},
      {"error_msg(9);", {"Line    3: in function ERROR_MSG, Message #9 does not exist"}, {}},
      {"set_warning(5, 9);", {"Line    3: in function SET_WARNING, Message #9 does not exist"}, {}},
      {"save_error_text(9);", {"Line    3: in function SAVE_ERROR_TEXT, Message #9 does not exist"}, {}},
      {"save_warning_text(5);", {}, {deprecated}},
      {"save_warning_text(9);", {"Line    3: in function SAVE_WARNING_TEXT, Message #9 does not exist"}, {deprecated}},
      {"save_warning_text();", {"Line    3: SAVE_WARNING_TEXT error: too few parameters"}, {deprecated}},
      {"allow_future_date_iop(-1);", {"Line    3: allow_future_date_iop parameter must be >= 0"}, {}},
      {"allow_future_date_iop(0);", {}, {}},
      {"inlist(#S\"Site\", \"1-2-3\");", {}, {"Line    3: ambiguous call to INLIST"}},
      {"inlist(#S\"Site\", \"1-2,5-9\");", {}, {}},
  };
  for (MessageCase& c : cases) c.source = head + c.source;
  expect_messages(cases);
}

TEST_F(EditCompilerTest, ReferenceCheckMessages) {
  const std::string head = "char s[10];\nint n;\n";
  std::vector<MessageCase> cases = {
      {"n = lookup(#S\"Site\", \"SITES.CODE\");", {}, {}},
      {"n = lookup(#S\"Site\", \"SITES\");", {}, {}},
      {"n = lookup(#S\"Site\", \"sites.dbf.code\");", {}, {}},
      {"n = lookup(#S\"Site\", s);", {}, {}},
      {"n = lookup(#S\"Site\", \"SITES.NAME\");",
       {},
       {"Line    3: Index name NAME does not exist. Performance will be improved by creating this index on table SITES"}},
      {"n = rlookup(#S\"Site\", \"SITES.NAME\");",
       {"Line    3: Index name NAME is not valid.  Open table SITES in Table form to find correct index names."},
       {}},
      {"n = rlookup(#S\"Site\", \"SITES\");",
       {"Line    3: RLOOKUP always returns FALSE if no index key is specified. See help for RLOOKUP"}, {}},
      {"n = ilookup(#S\"Site\", \"nope.code\");", {"Line    3: Table NOPE not found in this metafile"}, {}},
      // CITY is indexed only as the second column after PKey.
      {"n = ilookup(#S\"Site\", \"ZIPS.CITY\");",
       {"Line    3: Index name CITY is not valid.  Open table ZIPS in Table form to find correct index names."},
       {}},
      {"n = ilookup(#S\"Site\", \"zips.zipcode\");", {}, {}},
      {"n = sqllookup(\"SITES\", \"CODE\", s);", {}, {}},
      {"n = sqllookup(s, s, s);", {}, {}},
      {"n = sqllookup(\"SITES\", \"CODE, NAME, CITY\", s);",
       {"Line    3: Table \"SITES\" has no column named \"CITY\""},
       {"Line    3: Field \" NAME\" is not indexed. Performance will be improved by creating this index on table SITES"}},
      // Every blank of the column list goes, however many stand together.
      {"n = sqllookup(\"ZIPS\", \" ZIPCODE  ,  CITY \", s);",
       {},
       {"Line    3: Field \" CITY\" is not indexed. Performance will be improved by creating this index on table ZIPS"}},
      {"n = sqlrangelookup(\"nope\", \"CODE\", s);", {"Line    3: Table nope not found in this metafile"}, {}},
      {"n = valid_date_iop(#S\"Birth Date\");", {}, {}},
      {"n = valid_date_iop(s);", {}, {}},
      {"n = valid_date_iop(#S31);", {}, {}},
      {"n = valid_date_iop(#S\"Site\");", {"Line    3: Field \"Site\" must be data type D1 for call to VALID_DATE_IOP"}, {}},
      {"n = valid_date_iop(#S12);", {"Line    3: Field \"Site\" must be data type D1 for call to VALID_DATE_IOP"}, {}},
      {"n = valid_date_iop(#S99);", {"Line    3: field number 99 is not in the data dictionary"}, {}},
      {"n = daydiff_iop(#S\"Birth Date\", #S\"Last Contact\", 1);", {}, {}},
      {"n = daydiff_iop(#S\"Site\", #S\"Birth Date\", 1);",
       {"Line    3: Field \"Site\" must be data type D1 for call to DAYDIFF_IOP"}, {}},
      {"n = yearinterval_iop(#S\"Birth Date\", #S\"Doctor's Name\", 1, 2, 3);",
       {"Line    3: Field \"Doctor's Name\" must be data type D1 for call to YEARINTERVAL_IOP"}, {}},
      {"n = date_year_iop(#S\"Nowhere\");",
       {"Line    3: field name \"Nowhere\" not in data dictionary",
        "Line    3: field number 0000 is not in the data dictionary"},
       {}},
  };
  for (MessageCase& c : cases) c.source = head + c.source;
  expect_messages(cases);
  EXPECT_EQ(0, engine_error_count());
}

TEST_F(EditCompilerTest, SeveralErrorsAreAllReported) {
  Compiled result = compile(
      "int n;\n"
      "char s[10];\n"
      "n = 1 $ 2;\n"
      "s = \"abc\";\n"
      "strlen(n);\n"
      "error_msg(9);\n"
      "save_warning_text(5);\n"
      "if (n = 1) n = 2;\n"
      "strlen(#S\"Nowhere\");\n"
      "return y;");
  // The first pass reports before the second.
  EXPECT_EQ(Lines({"Line    3: Illegal character ($)",
                   "Line    9: field name \"Nowhere\" not in data dictionary",
                   "Line    4: assignment to variables of type ARRAY OF CHAR must use string functions (strcpy, strcat, etc.)",
                   "Line    5: STRLEN error: Variable \"n\" must be data type CHAR[] (string)",
                   "Line    6: in function ERROR_MSG, Message #9 does not exist",
                   "Line   10: undeclared variable \"y\""}),
            result.errors);
  EXPECT_EQ(Lines({"Line    7: save_warning_text is deprecated; set_warning is preferred (see documentation)",
                   "Line    8: possible incorrect assignment (did you mean \"==\"?)"}),
            result.warnings);
}

TEST_F(EditCompilerTest, LineNumbers) {
  expect_messages({
      {"\n\n\nx = ;", {"Line    1: undeclared variable \"x\""}, {}},
      {"/* heading */\n\nx = ;", {"Line    3: undeclared variable \"x\""}, {}},
      {"int x;" + std::string(1233, '\n') + "y = ;", {"Line 1234: undeclared variable \"y\""}, {}},
      {"int x;" + std::string(9999, '\n') + "y = ;", {"Line 10000: undeclared variable \"y\""}, {}},
      // A newline inside a string constant is no line of the logic.
      {"int x;\nsave_text(\"a\nb\");\nx = $;\nq = ;",
       {"Line    3: Illegal character ($)", "Line    4: undeclared variable \"q\""},
       {}},
  });
}

// ---------------------------------------------------------------------------
// Logic that once compiled into something wrong, or threw

TEST_F(EditCompilerTest, UnterminatedCommentIsAnError) {
  const std::vector<LineCase> cases = {
      {"int x;\nx = 1;\n/* open\nmore", 3},
      {"\n\n  /* open", 1},
      {"int x; /* a */ x = 1;\n\n/* b", 3},
      {"save_text(\"a/*b\");", 1},  // comment markers count inside strings too
  };
  for (const LineCase& c : cases) {
    Compiled result = compile(c.source);
    EXPECT_TRUE(has_error_on_line(result.errors, c.line, "comment"))
        << c.source << "\n" << testing::PrintToString(result.errors);
  }
}

TEST_F(EditCompilerTest, BlankCharacterConstantIsAnError) {
  const std::vector<LineCase> cases = {
      {"char c;\nc = ' ';", 2},
      {"char c;\nc = '\t';", 2},
      {"char c;\nint n;\n\nn = strcmp(c, ' ');", 4},
  };
  for (const LineCase& c : cases) {
    Compiled result = compile(c.source);
    EXPECT_TRUE(has_error_on_line(result.errors, c.line, "character constant"))
        << c.source << "\n" << testing::PrintToString(result.errors);
  }
}

TEST_F(EditCompilerTest, UnrepresentableLogicIsRefused) {
  const std::string q99(99, 'q');
  expect_clean({{"int " + q99 + ";\n" + q99 + " = 1;", "@IN099" + q99 + ";\nN099" + q99 + "=U0011;"}});

  // A jump of 9999 still fits its field.
  Compiled result = compile("int x;\nif (x) {" + repeat("x = 1;", 833) + ";}");
  EXPECT_EQ(Lines(), result.errors);
  EXPECT_EQ("F9999(N001x){", result.code.substr(9, 13));

  std::string functions;
  for (int i = 0; i < 27; ++i) functions += "function g" + std::to_string(100 + i) + "()\n{\n}\n";
  const std::vector<std::string> refused = {
      "int x;\nif (x) {" + repeat("x = 1;", 833) + ";;}",            // jump of 10000
      "int x;\n" + repeat("x = 1;", 8400) + "\nfunction f()\n{\n}",  // body beyond 99999
      functions,                                                     // 27 user functions
      "int " + std::string(100, 'q') + ";",                          // name of 100 characters
      "int x;\nx = " + std::string(100, '7') + ";",                  // number of 100 digits
  };
  for (const std::string& source : refused) {
    Compiled refusal = compile(source);
    EXPECT_FALSE(refusal.errors.empty()) << shown(source);
  }
}

TEST_F(EditCompilerTest, MistakesAreMessagesNotExceptions) {
  const std::string form = "field identifiers must use form like: #S\"Primary Site\"";
  const std::vector<MessageCase> cases = {
      {"char s[0];", {"Line    1: "}, {}},
      {"char s[];", {"Line    1: numeric constant required"}, {}},
      {"int a[5];\nchar s[];", {"Line    2: numeric constant required"}, {}},
      {"int n;\nn = valid_date_iop(#Primary);", {"Line    2: " + form}, {}},
      {"int n;\nn = valid_date_iop(#S Site);", {"Line    2: " + form}, {}},
      {"int n;\nn = valid_date_iop(#);", {"Line    2: " + form}, {}},
      {"error_msg(#12);", {"Line    1: " + form}, {}},
      {"error_msg(#S\"Site\");", {"Line    1: "}, {}},
      {"int x;\nfunction", {"Line    2: "}, {}},
      {"function", {"Line    1: "}, {}},
  };
  for (const MessageCase& c : cases) {
    Compiled result = compile(c.source);  // fails the test on an exception
    EXPECT_FALSE(result.errors.empty()) << c.source;
    const std::string& expected = c.errors.front();
    bool found = false;
    for (const std::string& error : result.errors) found = found || error.rfind(expected, 0) == 0;
    EXPECT_TRUE(found) << c.source << "\n" << testing::PrintToString(result.errors);
  }
  // A named constant where a message number belongs: whatever it means, no exception.
  compile("set_warning(PASS);\nerror_msg(dt_today);");
  EXPECT_EQ(0, engine_error_count());
}

TEST_F(EditCompilerTest, LastTokenIsCheckedLikeTheOthers) {
  const std::vector<LineCase> cases = {
      {"int x, y;\nx = 1; y", 2},
      {"int x;\nx = 1;\nreturn", 3},
      {"int x;\nx = 1;\npass", 3},
  };
  for (const LineCase& c : cases) {
    Compiled result = compile(c.source);
    EXPECT_TRUE(has_error_on_line(result.errors, c.line)) << c.source << "\n" << testing::PrintToString(result.errors);
  }
}

}  // namespace
