// The edit-logic compiler: the exact compiled text of each construct, the messages with their line
// numbers, and the lists of fields, lookup tables and messages an edit uses (dictionary: see SetUp).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "compiler/EditCompiler.h"
#include "storage/EngineErrorsPump.h"
#include "storage/SQLDB.h"

namespace {

using Lines = std::vector<std::string>;

// Marks a compiled text or a list that a case does not compare.
const char* const kAny = "*";

// A source, its compiled text, every message it must give in order (none: a
// clean compile) and the result lists as `lists()` renders them.
struct Case {
  std::string source, code;
  Lines errors = {}, warnings = {};
  std::string lists = kAny;
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

// The cases with the same declarations before each source.
std::vector<Case> after(const std::string& head, std::vector<Case> cases) {
  for (Case& c : cases) c.source = head + c.source;
  return cases;
}

const char* const kOpenBrace = "unresolved open brace (hint: use Ctrl+B to find matched braces... see Edit Logic menu)";
const char* const kUnbalanced = "unbalanced parentheses; please review your code";
const char* const kFieldForm = "field identifiers must use form like: #S\"Primary Site\"";
const char* const kDeprecated = "save_warning_text is deprecated; set_warning is preferred (see documentation)";
const char* const kTextOperand =
    "text used as a number: the operator takes its address, which differs from run to run (compare texts with strcmp)";

// Sources of that many user functions g100, g101, ...
std::string functions(int count) {
  std::string source;
  for (int i = 0; i < count; ++i) source += "function g" + std::to_string(100 + i) + "()\n{\n}\n";
  return source;
}

std::string line(int number, const std::string& message) {
  std::string digits = std::to_string(number);
  return "Line " + std::string(digits.size() < 4 ? 4 - digits.size() : 0, ' ') + digits + ": " + message;
}

// Fields 12 "Site", 30 and 31 (dates), 40 "Doctor's Name"; messages 5 and 7; lookup tables SITES (CODE
// indexed with PKey, NAME not indexed) and ZIPS (ZIPCODE indexed alone, CITY only behind PKey).
class EditCompilerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string path = dir.file("edits.smf");
    ASSERT_TRUE(create_metafile(path));
    {
      RawDB raw(path);
      ASSERT_EQ(SQLITE_OK,
                raw.exec("INSERT INTO RL_Fields (FieldNumber, FieldName, LocalName, DataType) VALUES "
                         "(12, 'Site', 'Site', 'S '), (30, 'Birth Date', 'Birth Date', 'D1'), "
                         "(31, 'Last Contact', 'Last Contact', 'D1'), (40, 'Doctor''s Name', 'Doctor''s Name', 'S ');"
                         "INSERT INTO RL_Messages (MessageNumber, Message) VALUES (5, 'Unknown'), (7, 'Short');"
                         "CREATE TABLE SITES([PKey] integer not null primary key, [CODE] varchar(10) not null, "
                         "[NAME] varchar(50) null);"
                         "create index xSITES_CODE on SITES([CODE], [PKey]);"
                         "CREATE TABLE ZIPS([PKey] integer not null primary key, [ZIPCODE] varchar(10) not null, "
                         "[CITY] varchar(50) null);"
                         "create index xZIPS_ZIPCODE on ZIPS([ZIPCODE]);"
                         "create index xZIPS_CITY on ZIPS([PKey], [CITY]);"
                         "INSERT INTO RL_LookupTables (TableName, RecCount) VALUES ('SITES', 0), ('ZIPS', 0);"));
      for (const char* table : {"SITES", "ZIPS"}) ASSERT_EQ(0, tables.AddTable(table_model(raw, table)));
    }
    ASSERT_TRUE(db.OpenDatabase(path.c_str()));
    compiler = std::make_unique<TEditCompiler>(&db, &pump, &tables);
  }

  // Compiles the cases in order, with one compiler, so that each compile
  // starts from what the one before left.
  void expect(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(shown(c.source));
      int errors = -1, warnings = -1;
      EXPECT_NO_THROW(EXPECT_EQ(0, compiler->Compile(c.source, &errors, &warnings)));
      Lines errorTexts, warningTexts;
      for (int i = 0; i < compiler->GetErrorCount(); ++i) errorTexts.push_back(compiler->GetErrorMessage(i));
      for (int i = 0; i < compiler->GetWarningCount(); ++i) warningTexts.push_back(compiler->GetWarningMessage(i));
      EXPECT_EQ(c.code == kAny ? compiler->GetCompiledCode() : c.code, compiler->GetCompiledCode());
      EXPECT_EQ(c.errors, errorTexts);
      EXPECT_EQ(c.warnings, warningTexts);
      EXPECT_EQ(std::to_string(errorTexts.size()) + "|" + std::to_string(warningTexts.size()),
                std::to_string(errors) + "|" + std::to_string(warnings));  // the counts the call gave
      EXPECT_EQ(c.lists == kAny ? lists() : c.lists, lists());
      // What the compiler writes without errors is what the run time reads.
      if (errors == 0) {
        EXPECT_EQ(TStructureFault::kNone, TEditCompiler::CheckStructure(compiler->GetCompiledCode()).Kind);
      }
    }
    int engineErrors = -1;
    pump.GetErrorsCount(&engineErrors);
    EXPECT_EQ(0, engineErrors);
  }

  // The result lists: " F<field>" each, " T<table>", " M<kind><number>", " E<kind>:<text>".
  std::string lists() {
    std::string text;
    int kind = 0;
    for (int i = 0; i < compiler->GetLogicListCount('F'); ++i) text += " F" + std::to_string(compiler->GetLogicFieldNumber(i));
    for (int i = 0; i < compiler->GetLogicListCount('T'); ++i) text += " T" + compiler->GetLogicTableName(i);
    for (int i = 0; i < compiler->GetLogicListCount('M'); ++i) {
      int number = compiler->GetLogicMessageNumber(i, &kind);
      text += std::string(" M") + static_cast<char>(kind) + std::to_string(number);
    }
    for (int i = 0; i < compiler->GetLogicListCount('E'); ++i) {
      std::string message = compiler->GetLogicErrorMessage(i, &kind);
      text += std::string(" E") + static_cast<char>(kind) + ":" + message;
    }
    return text;
  }

  TempDir dir;
  TSQLDB db;
  TEngineErrorsPump pump;
  TTablesList tables;
  std::unique_ptr<TEditCompiler> compiler;
};

TEST_F(EditCompilerTest, CompiledTextOfStatementsJumpFieldsAndBuiltInCalls) {
  expect({
      {"", "@"},
      {"   \n\t\r\n  ", "@"},
      {"/* a\nb\n*/", "@\n\n"},  // newlines inside a comment stay as line marks
      {"/* a\nb */", "@\n"},     // closed by the very last characters
      {"int x; /* one\ntwo */ x = 1;", "@IN001x;\nN001x=U0011;"},
      {"int x;\nx = 1; /* done\n*/", "@IN001x;\nN001x=U0011;\n"},
      {"\n\n  \nint x;\nx = 1;", "@IN001x;\nN001x=U0011;"},  // leading blank lines are dropped
      {"int x;\r\n\tx = 1;\r\n", "@IN001x;\nN001x=U0011;\n"},
      // Declarations: long is int, tablevar is char, a star before a name is passed over.
      {"int a, b[10];\nlong n;\ntablevar t;\nchar * p, c[3];\np = 'a';",
       "@IN001a,N001b[U00210];\nIN001n;\nHN001t;\nH*N001p,N001c[U0013];\nN001p='a';"},
      {"char c;\nc = 'a';\nc = 0;", "@HN001c;\nN001c='a';\nN001c=U0010;"},
      // A constant's character is data, even where it looks like a token.
      {"char c;\nc = 'A';\nif (c == 'M') return 'N';", "@HN001c;\nN001c='A';\nF   5(N001cE'M')D'N';", {},
       {line(3, kTextOperand)}},
      {"int a[5], i;\na[i] = 1;\na[2] = a[i] + 1;",
       "@IN001a[U0015],N001i;\nN001a[N001i]=U0011;\nN001a[U0012]=N001a[N001i]+U0011;"},
      {"int x;\n;\n{ x = 1; }", "@IN001x;\n;\n{N001x=U0011;}"},
      // Keywords and built-in names in any case; "iff" is a name of its own.
      {"int x, iff;\nIF (x) x = 1;\nIf(x) iff = 1;", "@IN001x,N003iff;\nF  12(N001x)N001x=U0011;\nF  14(N001x)N003iff=U0011;"},
      {"int x, y, z, w;\nif (not x and y or z mod w) x = 1;\nif (x != 1 && y <= 2 || z >= 3) x = 1;",
       "@IN001x,N001y,N001z,N001w;\nF  12(!N001x&N001y|N001z%N001w)N001x=U0011;\n"
       "F  12(N001xJU0011&N001yKU0012|N001zGU0013)N001x=U0011;"},
      {"int x;\nif (x == dt_error || x == dt_missing || x == dt_valid) x = 1;\n"
       "if (x == dt_day_empty || x == dt_month_empty || x == dt_unknown || x == dt_empty) x = 1;",
       "@IN001x;\nF  12(N001xEZ|N001xEY|N001xEX)N001x=U0011;\nF  12(N001xEy|N001xEz|N001xEP|N001xEW)N001x=U0011;"},
      {"return FAIL;\nreturn warn;\nreturn true;\nreturn off;\nreturn dt_exact;\nreturn both;\nreturn left;\n"
       "return right;\nreturn on;\nreturn dt_min;\nreturn dt_max;\nreturn step;\nreturn dt_today;\nreturn 0;",
       "@DQ;\nDS;\nDR;\nDQ;\nDT;\nDS;\nDR;\nDQ;\nDR;\nDR;\nDS;\nDS;\nDO;\nDU0010;"},
      // Fields by name in any case, with blanks before the quote, or by number.
      {"char s[60];\nint n;\nstrcpy(s, #s\"site\");\nstrcpy(s, #S \"Doctor's Name\");\nstrcpy(s, #S31);\n"
       "n = valid_date_iop(#S\"Birth Date\");\nstrcpy(s, #S\"SITE\");",
       "@HN001s[U00260];\nIN001n;\nMo(N001s,#12);\nMo(N001s,#40);\nMo(N001s,#31);\nN001n=M\x90(#30);\nMo(N001s,#12);",
       // Named fields only, first use first, each once; a field given by number is not listed.
       {}, {}, " F12 F40 F30"},
      // A name of 99 characters is the longest.
      {"int " + std::string(99, 'q') + ";", "@IN099" + std::string(99, 'q') + ";"},
  });
  const std::string loop = "L    {N001x=U0011;}B   1(N001x<U0011);";
  expect({
      {"int c, x;\nif (c) x = 1; else x = 2;", "@IN001c,N001x;\nF  12(N001c)N001x=U0011;A  12N001x=U0012;"},
      // Line marks inside the controlled part count; those after a keyword follow its field.
      {"int x;\nif (x) {\n  x = 1;\n}\nelse\n  x = 2;", "@IN001x;\nF  16(N001x){\nN001x=U0011;\n}\nA  13\nN001x=U0012;"},
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
      {"int x;\ndo { x = 1; } while (x < 1);", "@IN001x;\n" + loop},
      {"int c, x;\nif (c) { do { x = 1; } while (x < 1); }", "@IN001c,N001x;\nF  40(N001c){" + loop + "}"},
      // A jump of 9999 still fits its field.
      {"int x;\nif (x) {" + repeat("x = 1;", 833) + ";}", "@IN001x;\nF9999(N001x){" + repeat("N001x=U0011;", 833) + ";}"},
      // An unbraced do-while under if/else/while/for is controlled up to the
      // semicolon after its while: a false condition must not land on "while (c);".
      {"int c, x;\nif (c) do { x = 1; } while (x < 1);", "@IN001c,N001x;\nF  38(N001c)" + loop},
      {"int c, x;\nif (c) do { x = 1; } while (x < 1); else x = 2;",
       "@IN001c,N001x;\nF  38(N001c)" + loop + "A  12N001x=U0012;"},
      {"int c, x;\nif (c) x = 2; else do { x = 1; } while (x < 1);",
       "@IN001c,N001x;\nF  12(N001c)N001x=U0012;A  38" + loop},
      {"int c, x;\nwhile (c) do { x = 1; } while (x < 1);", "@IN001c,N001x;\nB  38(N001c)" + loop},
      {"int i, x;\nfor (i = 0; i < 1; i = i + 1) do { x = 1; } while (x < 1);",
       "@IN001i,N001x;\nC  38(N001i=U0010;N001i<U0011;N001i=N001i+U0011)" + loop},
  });
  // The middle length character is 48 + length / 10, the whole quotient.
  const std::string t99(99, 'a'), t123(123, 'c'), t999(999, 'd');
  const std::string head = "@HN001s[U00210];\n";
  expect({
      {"char s[10], t[10];\nint n;\nn = strlen(s);\nstrcpy(t, left(s, 2));\nset_warning(7);\nn = val(s);\n"
       "STRCAT(t, \"x\");",
       "@HN001s[U00210],N001t[U00210];\nIN001n;\nN001n=Mp(N001s);\nMo(N001t,MW(N001s,U0012));\nM\x84(U0017);\n"
       "N001n=M\x80(N001s);\nMm(N001t,\"001x);"},
      {"char s[50];\nstrcpy(s, #S\"Site\");\nif (strlen(s) == 0) return FAIL;\nreturn PASS;",
       "@HN001s[U00250];\nMo(N001s,#12);\nF   3(Mp(N001s)EU0010)DQ;\nDR;"},
      {"char d[9];\nstrcpy(d, dt_today);", "@HN001d[U0019];\nMo(N001d,O);"},
      {"error_msg(0);\nerror_msg(5);\nsave_error_text(5, 7, 0);\nset_warning(5, 7);\nallow_future_date_iop(5);",
       "@ML(U0010);\nML(U0015);\nMg(U0015,U0017,U0010);\nM\x84(U0015,U0017);\nM\x93(U0015);"},
      // A variable message number is taken for message 0, which every metafile has.
      {"int m;\nerror_msg(m);", "@IN001m;\nML(N001m);"},
      {"char s[10];\nsubstr(\"\", \"\", \"\");\nsave_text(\"a\", \"b\", \"c\", \"d\");",
       head + "Mq(\"000,\"000,\"000);\nMh(\"001a,\"001b,\"001c,\"001d);"},
      {"char s[10];\nint n;\nn = externaldll(\"lib\", 1, s, 2, 3, 4, 5, 6);",
       head + "IN001n;\nN001n=M\x87(\"003lib,U0011,N001s,U0012,U0013,U0014,U0015,U0016);"},
      // The list of INLIST loses the blanks around its items; only the second argument is a list.
      {"char s[10];\ninlist(#S\"Site\", \" a , b,c,\");", head + "MU(#12,\"005a,b,c);"},
      {"char s[10];\ninlist(#S\"Site\", \"a, ,b\");", head + "MU(#12,\"005a, ,b);"},
      {"char s[10];\ninlist(#S\"Site\", \"x,\ty ,\");", head + "MU(#12,\"003x,y);"},
      {"char s[10];\ninlist(#S\"Site\", \"  \");", head + "MU(#12,\"002  );"},
      {"char s[10];\ninlist(s, \"a , b\", \" c , d \");", head + "MU(N001s,\"003a,b,\"007 c , d );"},
      {"save_text(\"\");", "@Mh(\"000);"},
      {"save_text(\"" + t99 + "\");", "@Mh(\"099" + t99 + ");"},
      {"save_text(\"" + t123 + "\");", "@Mh(\"1<3" + t123 + ");"},
      {"save_text(\"" + t999 + "\");", "@Mh(\"9\x93" "9" + t999 + ");"},
      {"save_text(\"a\nb\");", "@Mh(\"003a\nb);"},  // newlines inside are text, not line marks
      // One character too many stops the first pass on the string.
      {"save_text(\"" + std::string(1000, 'e') + "\");", "@Mh(\"",
       {line(1, "string constant is too long ( > 999 characters)"), line(1, kUnbalanced)}},
  });
}

TEST_F(EditCompilerTest, UserFunctionsFillTheHeaderAndResultListsWhatAnEditUses) {
  expect({
      {"a();\nb();\nfunction a()\n{\n}\nfunction b()\n{\n}", "B0002500034mA();\nmB();\nnA()\n{\n}\nnB()\n{\n}"},
      // "dysfunction" holds the word too: a record without a body takes letter B.
      {"a();\nb();\nfunction a()\n{\n  int dysfunction;\n}\nfunction b()\n{\n}",
       "C000300000000057mA();\nmC();\nnA()\n{\nIN011dysfunction;\n}\nnC()\n{\n}"},
      {"\n\n  f();\nfunction f()\n{\n}", "A00014mA();\nnA()\n{\n}"},
      // The word inside a string constant is no function.
      {"save_text(\"a function x\");", "@Mh(\"012a function x);"},
  });

  // 26 functions still fit the header letters, each slot the place of its definition's body.
  std::string code = "Z", bodies;
  for (int i = 0; i < 26; ++i) {
    code += std::string(2, '0') + std::to_string(133 + 9 * i);
    bodies += std::string("n") + char('A' + i) + "()\n{\n}\n";
  }
  expect({{functions(26), code + bodies}});
  expect({
      // Worked example: comment line, lookup, else block, messages and a user function.
      {"/* site must be a known code */\nint found;\nfound = lookup(#S\"Site\", \"SITES.CODE\");\nif (found) check();\n"
       "else { error_msg(5); }\nreturn found;\nfunction check()\n{\n  if (strlen(#S\"Site\") < 3) set_warning(7);\n}",
       "A00107\nIN005found;\nN005found=MX(#12,\"010SITES.CODE);\nF   5(N005found)mA();\nA  12{ML(U0015);}\n"
       "DN005found;\nnA()\n{\nF  10(Mp(#12)<U0013)M\x84(U0017);\n}",
       {}, {}, " F12 TSITES ME5 MA7"},
      // A name the dictionary lacks is listed as field 0.
      {"strlen(#S\"Nowhere\");", "@Mp(#0000);", {line(1, "field name \"Nowhere\" not in data dictionary")}, {}, " F0"},
      // Message numbers: error_msg, save_error_text, save_warning_text and
      // set_warning, each kind and number once (9 is no message argument);
      // texts: the first argument of error_text and save_text.
      {"int n;\nn = valid_date_iop(#S\"Birth Date\");\nstrlen(#S\"Site\");\nstrlen(#S\"Birth Date\");\nset_warning(7);\n"
       "error_msg(5);\nerror_msg(5);\nsave_error_text(5, 7);\nerror_text(\"Bad site\");\n"
       "save_text(\"Check site\", \"Bad site\");\nsave_warning_text(7);\nn = 9;",
       kAny, {}, {line(11, kDeprecated)}, " F30 F12 ME5 MS5 MS7 MW7 MA7 EE:Bad site ES:Check site"},
      // Tables are the table argument of a lookup, compared exactly.
      {"char s[20];\nint n;\nn = lookup(#S\"Site\", \"SITES.CODE\");\nn = ilookup(#S\"Site\", \"sites.code\");\n"
       "n = sqlrangelookup(\"ZIPS\", \"ZIPCODE\", s);",
       kAny, {}, {}, " F12 TSITES Tsites TZIPS"},
      // A table given by a variable is unknown; later strings and texts that
      // look like calls are no tables.
      {"char t[20], s[20];\nint n;\nstrcpy(t, \"SITES.CODE\");\nif (lookup(#S\"Site\", t)) return PASS;\n"
       "strcpy(s, \"x\");\nsave_text(\"ITEMS(3)\", \"b\");\nn = ilookup(#S\"Site\", \"ZIPS.ZIPCODE\");\nreturn FAIL;",
       kAny, {}, {}, " F12 TZIPS ES:ITEMS(3)"},
      // The next compile replaces every result, the variables declared before too.
      {"int n;\nn = lookup(#S\"Site\", \"SITES\");\nerror_text(\"x\");\nerror_msg(5);\nq = 1;", kAny,
       {line(5, "undeclared variable \"q\"")}, {}, " F12 TSITES ME5 EE:x"},
      {"n = 1;", "@N001n=U0011;", {line(1, "undeclared variable \"n\"")}, {}, ""},
      {"", "@", {}, {}, ""},
  });
}

TEST_F(EditCompilerTest, LexicalDeclarationBalanceAndStatementMessages) {
  const std::string undeclared = "undeclared variable ";
  expect({
      {"x = 12;", "@N001x=U00212;", {line(1, undeclared + "\"x\"")}},
      {"if (a == 1) { b = 2; }", "@F  14(N001aEU0011){N001b=U0012;}",
       {line(1, "variable \"a\" must be declared"), line(1, undeclared + "\"b\"")}},
      // With a blank, left is the constant; a digit does not end the keyword.
      {"x = left (s, 2);", "@N001x=R(N001s,U0012);", {line(1, undeclared + "\"x\""), line(1, undeclared + "\"s\"")}},
      {"x = int1;", "@N001x=IU0011;",
       {line(1, undeclared + "\"x\""), line(1, "syntax error (token should be an IDENTIFIER)")}},
      // No operators inside a word.
      {"x = a*b/c;", "@N001x=N005a*b/c;", {line(1, undeclared + "\"x\""), line(1, undeclared + "\"a*b/c\"")}},
      {"int x;\nx = a*b;", kAny, {line(2, "variable \"a*b\" must be declared")}},
      {"x=a<>b;", "@N001x=N001a>N001b;",
       {line(1, "Syntax error (\"<>\"); did you mean \"!=\"?"), line(1, undeclared + "\"x\""),
        line(1, undeclared + "\"a\""), line(1, undeclared + "\"b\"")}},
      {"int x, a, b;\nx = a => b;", "@IN001x,N001a,N001b;\nN001x=N001a>N001b;",
       {line(2, "Syntax error (\"=>\"); did you mean \">=\"?")}},
      {"int x, a, b;\nx = a =< b;", "@IN001x,N001a,N001b;\nN001x=N001a<N001b;",
       {line(2, "Syntax error (\"=<\"); did you mean \"<=\"?")}},
      {"int x;\nx = 1 $ 2;\nx = ?;", "@IN001x;\nN001x=U0011U0012;\nN001x=;",
       {line(2, "Illegal character ($)"), line(3, "Illegal character (?)")}},
      // The closing quote takes the next character along.
      {"x = 'a' ;", "@N001x='a';", {line(1, undeclared + "\"x\"")}},
      {"foo(1);", kAny, {line(1, "call to undefined function \"foo\" (neither quelt-language nor user-defined)"),
        line(1, undeclared + "\"foo\"")}},
      {"save_text(\"(a)\");", "@Mh((N001a)\"",
       {line(1, "Illegal character (\")"), line(1, "unterminated string (\" expected)"), line(1, kUnbalanced)}},
      // The rest of the line goes with an unterminated string; the next line keeps its number.
      {"save_text(\"abc);\nx = $;", "@Mh(\"\nN001x=;",
       {line(1, "unterminated string (\" expected)"), line(2, "Illegal character ($)"), line(1, kUnbalanced)}},
      {"strlen(#Primary);", "@Mp(#N007primary);", {line(1, kFieldForm)}},
      {"strlen(#S Site);", "@Mp(#N004site);", {line(1, kFieldForm)}},
      {"char s[10];\ninlist(#S\"Site\", s);", kAny, {line(2, "the second parameter to INLIST must be a string constant")}},
      {"char x = 1;", kAny, {line(1, "syntax error: assignment not allowed in declaration"), line(1, "syntax error in declaration")}},
      // A token that is no name is reported once, and the next is its separator.
      {"int char;", kAny, {line(1, "syntax error (variable type in middle of declaration)")}},
      {"int 5;", kAny, {line(1, "syntax error (token should be an IDENTIFIER)")}},
      {"int 5, x;\nx = 1;", kAny, {line(1, "syntax error (token should be an IDENTIFIER)")}},
      {"int char x;", kAny,
       {line(1, "syntax error (variable type in middle of declaration)"), line(1, "syntax error in declaration")}},
      {"int a[b];", kAny,
       {line(1, "numeric constant required"), line(1, "right bracket required"), line(1, "array size must be greater than 0"),
        line(1, "syntax error in declaration")}},
      {"int a[5;", kAny, {line(1, "right bracket required")}},
      {"int a b;", kAny, {line(1, "syntax error in declaration")}},
      {"int x;\nx = 1);\n{ x = 2;", kAny,
       {line(2, "closing parenthesis with no matching opening parenthesis"), line(3, kOpenBrace)}},
      // Most recent first, each on its own line.
      {"int x;\nx = (1;\nx = (2;", kAny, {line(3, kUnbalanced), line(2, kUnbalanced)}},
      {"int x;\nx = 1; }", kAny, {line(2, "closing brace with no matching opening brace")}},
      // Without the second pass the jump fields and header slots stay unwritten.
      {"int x;\nif (x) {\nx = 1;\n\nx = 2;", "@IN001x;\nF    (N001x){\nN001x=U0011;\n\nN001x=U0012;", {line(2, kOpenBrace)}},
      {"f();\nfunction f()\n{\n", "A00000mA();\nnA()\n{\n", {line(3, kOpenBrace)}},
      // The first pass reports before the second.
      {"int n;\nchar s[10];\nn = 1 $ 2;\ns = \"abc\";\nstrlen(n);\nerror_msg(9);\nsave_warning_text(5);\n"
       "if (n = 1) n = 2;\nstrlen(#S\"Nowhere\");\nreturn y;",
       kAny,
       {line(3, "Illegal character ($)"), line(9, "field name \"Nowhere\" not in data dictionary"),
        line(4, "assignment to variables of type ARRAY OF CHAR must use string functions (strcpy, strcat, etc.)"),
        line(5, "STRLEN error: Variable \"n\" must be data type CHAR[] (string)"),
        line(6, "in function ERROR_MSG, Message #9 does not exist"), line(10, "undeclared variable \"y\"")},
       {line(7, kDeprecated), line(8, "possible incorrect assignment (did you mean \"==\"?)")}},
      {"\n\n\nx = ;", kAny, {line(1, "undeclared variable \"x\"")}},
      {"/* heading */\n\nx = ;", kAny, {line(3, "undeclared variable \"x\"")}},
      {"int x;" + std::string(1233, '\n') + "y = ;", kAny, {line(1234, "undeclared variable \"y\"")}},
      {"int x;" + std::string(9999, '\n') + "y = ;", kAny, {line(10000, "undeclared variable \"y\"")}},
      // A newline inside a string constant is no line of the logic.
      {"int x;\nsave_text(\"a\nb\");\nx = $;\nq = ;", kAny, {line(3, "Illegal character ($)"), line(4, "undeclared variable \"q\"")}},
  });
  expect(after("char s[10], c;\nint n, a[3];\n", {
      {"s = \"abc\";", kAny,
       {line(3, "assignment to variables of type ARRAY OF CHAR must use string functions (strcpy, strcat, etc.)")}},
      {"c = 5;", kAny, {line(3, "illegal assignment: variable \"c\" is declared to be CHAR")}},
      {"n = 'a';", kAny, {line(3, "illegal assignment: variable \"n\" is declared to be NUMERIC (INT or LONG)")}},
      {"c = \"ab\";", kAny, {line(3, "string is longer than space allocated for variable \"c\"")}},
      {"n = strcpy(s, \"a\");", kAny, {line(3, "variable \"n\" is data type INT; function \"strcpy\" returns data type CHAR")}},
      {"c = strlen(s);", kAny, {line(3, "variable \"c\" is data type CHAR; function \"strlen\" returns data type INT")}},
      {"n = save_text(\"a\");", kAny, {line(3, "variable \"n\" is data type INT; function \"save_text\" returns NOTHING")}},
      {"a[c] = 1;", kAny, {line(3, "subscript variable must be of type integer (int)")}},
      {"a[q] = 1;", kAny, {line(3, "numeric constant or variable required for subscript")}},
      {"n 5;", kAny, {line(3, "= expected")}},
      {"n = m;", kAny, {line(3, "variable \"m\" must be declared")}},
      {"q = 1;", kAny, {line(3, "undeclared variable \"q\"")}},
      {"5;", kAny, {line(3, "Invalid syntax.")}},
      {"strlen(s) n;", kAny, {line(3, "; expected")}},
      {"int N;", kAny, {line(3, "variable \"n\" already declared; variable names must be unique")}},
      {"else n = 1;", kAny, {line(3, "ELSE without an IF (or preceding IF needs braces '{' and '}')")}},
      {"for (n = 0; n < 3) n = 1;", kAny, {line(3, "syntax: for(initialize;test;increment)")}},
      {"for (n = 0; n < 3; n = n + 1; n = 1) n = 1;", kAny, {line(3, "syntax: for(initialize;test;increment)")}},
      {"if (n = 1) n = 2;", kAny, {}, {line(3, "possible incorrect assignment (did you mean \"==\"?)")}},
      {"if (1 = n) n = 2;", kAny, {line(3, "assignment operator without a variable (did you mean \"==\"?)")}},
      {"if (q == 1) n = 2;", kAny, {line(3, "variable \"q\" must be declared")}},
      {"if (#S\"Site\") n = 1;", kAny, {line(3, "syntax error: fields must be accessed through function calls")}},
      {"if ((n) c) n = 1;", kAny, {line(3, "operator expected")}},
      {"if (strlen s) n = 1;", kAny,
       {line(3, "opening parenthesis expected following function name"), line(3, "STRLEN error: too few parameters")}},
      {"return PASS.;", kAny, {line(3, "RETURN statements must end with semi-colon (;)")}},
      {"return n = 1;", kAny, {line(3, "Possibly incorrect assignment")}},
      {"return 1, 2;", kAny, {line(3, "COMMA not valid in RETURN statement")}},
      {"return q;", kAny, {line(3, "undeclared variable \"q\"")}},
      {"return PASS", kAny, {line(3, "return statement must end with semi-colon")}},
      {"n = n ++ 1;", kAny, {line(3, "syntax error \"++\""), line(3, "syntax error \"++\"")}},
      // An if whose condition lacks parentheses swallows the rest of the logic.
      {"if n == 1 return FAIL;\nreturn PASS;", "@HN001s[U00210],N001c;\nIN001n,N001a[U0013];\nF   0N001nEU0011DQ;\nDR;",
       {line(3, "( expected")}},
      // A missing semicolon shows on the line of the statement that follows.
      {"n = 5\nif (n) n = 1;", kAny, {line(4, "; expected at the end of preceding assignment statement"), line(4, "= expected")}},
      {"f();\nn = 5\nfunction f()\n{\n}", kAny, {line(5, "; expected at the end of preceding assignment statement")}},
      {"function f() n = 1;", kAny, {line(3, "{ expected")}},
  }));
}

TEST_F(EditCompilerTest, BuiltInCallAndReferenceCheckMessages) {
  expect(after("char s[10];\nint n;\n", {
      {"strlen();", kAny, {line(3, "STRLEN error: too few parameters")}},
      {"strlen(s, s);", kAny, {line(3, "STRLEN error: too many parameters")}},
      {"inlist(#S\"Site\");", kAny, {line(3, "INLIST error: too few parameters")}},
      {"substr(s, \"3\", 1);", kAny, {line(3, "SUBSTR error: Parameter \"3\" must be data type INT or LONG")}},
      {"substr(s, x);", kAny, {line(3, "SUBSTR error: Parameter #2 references undeclared variable \"x\"")}},
      {"strlen(5);", kAny, {line(3, "STRLEN error: Parameter \"5\" must be data type CHAR[] (string)")}},
      {"strlen(n);", kAny, {line(3, "STRLEN error: Variable \"n\" must be data type CHAR[] (string)")}},
      {"substr(s, s);", kAny, {line(3, "SUBSTR error: Variable \"s\" must be data type INT or LONG")}},
      {"strlen(dt_error);", kAny, {line(3, "check_param_type error: Function-STRLEN, Parameter-Z")}},
      {"strlen('a');", kAny, {line(3, "check_param_type error: Function-STRLEN, Parameter-'a'")}},
      {"strlen(s[1]);", kAny, {line(3, "STRLEN error: Parameter #1 references undeclared variable \"s[U0011]\"")}},
      // A nested call has its own parameters checked.
      {"at(s, s, strlen(t));", kAny, {line(3, "STRLEN error: Parameter #1 references undeclared variable \"t\"")}},
      {"strlen(\"a\" + s);", kAny, {line(3, "Syntax error: review function parameters"), line(3, "STRLEN error: too many parameters")}},
      {"strcmp(s, \"a(b\");", kAny, {line(3, "Function call without closing parenthesis")}},
      {"error_msg(9);", kAny, {line(3, "in function ERROR_MSG, Message #9 does not exist")}},
      {"set_warning(5, 9);", kAny, {line(3, "in function SET_WARNING, Message #9 does not exist")}},
      {"save_warning_text(5);", kAny, {}, {line(3, kDeprecated)}},
      {"save_warning_text(9);", kAny, {line(3, "in function SAVE_WARNING_TEXT, Message #9 does not exist")}, {line(3, kDeprecated)}},
      {"save_warning_text();", kAny, {line(3, "SAVE_WARNING_TEXT error: too few parameters")}, {line(3, kDeprecated)}},
      {"allow_future_date_iop(-1);", kAny, {line(3, "allow_future_date_iop parameter must be >= 0")}},
      {"allow_future_date_iop(0);", kAny},
      {"inlist(#S\"Site\", \"1-2-3\");", kAny, {}, {line(3, "ambiguous call to INLIST")}},
      {"inlist(#S\"Site\", \"1-2,5-9\");", kAny},
  }));
  const std::string noIndex = " does not exist. Performance will be improved by creating this index on table ";
  const std::string invalid = " is not valid.  Open table ";
  const std::string names = " in Table form to find correct index names.";
  const std::string notIndexed = " is not indexed. Performance will be improved by creating this index on table ";
  expect(after("char s[10];\nint n;\n", {
      {"n = lookup(#S\"Site\", \"SITES.CODE\");", kAny},
      {"n = lookup(#S\"Site\", \"SITES\");", kAny},
      {"n = lookup(#S\"Site\", \"sites.dbf.code\");", kAny},
      {"n = lookup(#S\"Site\", s);", kAny},
      {"n = lookup(#S\"Site\", \"SITES.NAME\");", kAny, {}, {line(3, "Index name NAME" + noIndex + "SITES")}},
      {"n = rlookup(#S\"Site\", \"SITES.NAME\");", kAny, {line(3, "Index name NAME" + invalid + "SITES" + names)}},
      {"n = rlookup(#S\"Site\", \"SITES\");", kAny,
       {line(3, "RLOOKUP always returns FALSE if no index key is specified. See help for RLOOKUP")}},
      {"n = ilookup(#S\"Site\", \"nope.code\");", kAny, {line(3, "Table NOPE not found in this metafile")}},
      // CITY is indexed only as the second column after PKey.
      {"n = ilookup(#S\"Site\", \"ZIPS.CITY\");", kAny, {line(3, "Index name CITY" + invalid + "ZIPS" + names)}},
      {"n = ilookup(#S\"Site\", \"zips.zipcode\");", kAny},
      {"n = sqllookup(\"SITES\", \"CODE\", s);", kAny},
      {"n = sqllookup(s, s, s);", kAny},
      {"n = sqllookup(\"SITES\", \"CODE, NAME, CITY\", s);", kAny, {line(3, "Table \"SITES\" has no column named \"CITY\"")},
       {line(3, "Field \" NAME\"" + notIndexed + "SITES")}},
      // Every blank of the column list goes, however many stand together.
      {"n = sqllookup(\"ZIPS\", \" ZIPCODE  ,  CITY \", s);", kAny, {}, {line(3, "Field \" CITY\"" + notIndexed + "ZIPS")}},
      {"n = sqlrangelookup(\"nope\", \"CODE\", s);", kAny, {line(3, "Table nope not found in this metafile")}},
      {"n = valid_date_iop(#S\"Birth Date\");", kAny},
      {"n = valid_date_iop(s);", kAny},
      {"n = valid_date_iop(#S31);", kAny},
      {"n = valid_date_iop(#S\"Site\");", kAny, {line(3, "Field \"Site\" must be data type D1 for call to VALID_DATE_IOP")}},
      {"n = valid_date_iop(#S12);", kAny, {line(3, "Field \"Site\" must be data type D1 for call to VALID_DATE_IOP")}},
      {"n = valid_date_iop(#S99);", kAny, {line(3, "field number 99 is not in the data dictionary")}},
      {"n = daydiff_iop(#S\"Birth Date\", #S\"Last Contact\", 1);", kAny},
      {"n = daydiff_iop(#S\"Site\", #S\"Birth Date\", 1);", kAny,
       {line(3, "Field \"Site\" must be data type D1 for call to DAYDIFF_IOP")}},
      {"n = yearinterval_iop(#S\"Birth Date\", #S\"Doctor's Name\", 1, 2, 3);", kAny,
       {line(3, "Field \"Doctor's Name\" must be data type D1 for call to YEARINTERVAL_IOP")}},
      {"n = date_year_iop(#S\"Nowhere\");", kAny,
       {line(3, "field name \"Nowhere\" not in data dictionary"), line(3, "field number 0000 is not in the data dictionary")}},
  }));
}

// Logic that once compiled into something wrong, or threw.
TEST_F(EditCompilerTest, MistakesOnceMisreadAreMessages) {
  const std::string comment = "unterminated comment (\"*/\" expected)";
  const std::string blank = "blank character constant not supported (use 32)";
  const std::string unterminated = "unterminated character constant (\"'\" expected)";
  const std::string hint = "syntax error \"";
  const std::string notMessage = " is not a message number";
  expect({
      // An unterminated comment, also one opened inside a string.
      {"int x;\nx = 1;\n/* open\nmore", "@", {line(3, comment)}},
      {"\n\n  /* open", "@", {line(1, comment)}},
      {"int x; /* a */ x = 1;\n\n/* b", "@", {line(3, comment)}},
      {"save_text(\"a/*b\");", "@", {line(1, comment)}},
      // A blank character constant.
      {"char c;\nc = ' ';", "@HN001c;\nN001c='';", {line(2, blank)}},
      {"char c;\nc = '\t';", "@HN001c;\nN001c='';", {line(2, blank)}},
      {"char c;\nint n;\n\nn = strcmp(c, ' ');", kAny,
       {line(4, blank), line(4, "check_param_type error: Function-STRCMP, Parameter-''")}},
      // Hints of the token reader are no bracket messages: the statements are still parsed.
      {"int x;\nx++;", kAny, {line(2, hint + "++\""), line(2, hint + "++\""), line(2, "= expected")}},
      {"int x;\nx--;", kAny, {line(2, hint + "--\""), line(2, hint + "--\""), line(2, "= expected")}},
      {"int x;\nx += 1;\ny = 2;", kAny,
       {line(2, hint + "+=\""), line(2, hint + "+=\""), line(2, "= expected"), line(3, "undeclared variable \"y\"")}},
      {"int x;\nx -= 1;\ny = 2;", kAny,
       {line(2, hint + "-=\""), line(2, hint + "-=\""), line(2, "= expected"), line(3, "undeclared variable \"y\"")}},
      // A returned character constant is a letter; an assigned one any character.
      {"char c;\nreturn 'a';", kAny},
      {"char c;\nreturn '1';", kAny, {line(2, "expected IDENTIFIER")}},
      {"char c;\nreturn '$';", kAny, {line(2, "expected IDENTIFIER")}},
      {"char c;\nc = '1';", kAny},
      // The run time reads quote, character and quote: the closing quote
      // follows the character on its line; it may be a quote, a backslash or
      // any byte but white space itself.
      {"int i;\nfor (i = 0; i < 3; i = i '+1) i = i;",
       "@IN001i;\nC  12(N001i=U0010;N001i<U0013;N001i=N001i'+U0011)N001i=N001i;", {line(2, unterminated)}},
      {"char c;\nc = 'x;", "@HN001c;\nN001c='x;", {line(2, unterminated)}},
      {"char c;\nc = 'x\n';", "@HN001c;\nN001c='x\n';", {line(2, unterminated)}},
      {"char c;\nc = '\\n';", "@HN001c;\nN001c='\\N001n';",
       {line(2, unterminated), line(2, "variable \"n\" must be declared")}},
      {"char c;\nc = 'xy';", kAny, {line(2, unterminated), line(2, "variable \"y\" must be declared")}},
      {"char c;\nc = ''';\nc = '\\';\nc = '\"';\nc = '\xE9'\t;\nc = 'x'\n;\nc = 'y\r'",
       "@HN001c;\nN001c=''';\nN001c='\\';\nN001c='\"';\nN001c='\xE9';\nN001c='x'\n;\nN001c='y'"},
      // What the compiled text cannot represent.
      {"int x;\nif (x) {" + repeat("x = 1;", 833) + ";;}", kAny,
       {line(2, "controlled block too long (> 9999 compiled characters)")}},
      {"int x;\n" + repeat("x = 1;", 8400) + "\nfunction f()\n{\n}", kAny,
       {line(3, "edit logic too long for user functions (> 99999 compiled characters)")}},
      {functions(27), "@", {line(1, "too many user functions (at most 26)")}},
      {"int " + std::string(100, 'q') + ";", "@IN099" + std::string(99, 'q') + ";", {line(1, "name too long (> 99 characters)")}},
      {"int x;\nx = " + std::string(100, '7') + ";", "@IN001x;\nN001x=U099" + std::string(99, '7') + ";",
       {line(2, "number too long (> 99 digits)")}},
      // Arrays of no size, field forms where they do not belong, a last word "function".
      {"char s[0];", "@HN001s[U0010];", {line(1, "array size must be greater than 0")}},
      {"char s[];", kAny, {line(1, "numeric constant required"), line(1, "array size must be greater than 0")}},
      {"int a[5];\nchar s[];", kAny, {line(2, "numeric constant required"), line(2, "array size must be greater than 0")}},
      {"int n;\nn = valid_date_iop(#Primary);", kAny, {line(2, kFieldForm)}},
      {"int n;\nn = valid_date_iop(#S Site);", kAny, {line(2, kFieldForm)}},
      {"int n;\nn = valid_date_iop(#);", kAny,
       {line(2, kFieldForm), line(2, "check_param_type error: Function-VALID_DATE_IOP, Parameter-#")}},
      {"error_msg(#12);", kAny, {line(1, kFieldForm), line(1, "in function ERROR_MSG, parameter #12" + notMessage)}},
      {"error_msg(#S\"Site\");", kAny, {line(1, "in function ERROR_MSG, parameter #12" + notMessage)}},
      {"int x;\nfunction", "A00016IN001x;\nnA", {line(2, "( expected"), line(2, ") expected"), line(2, "{ expected")}},
      {"function", "A00008nA", {line(1, "( expected"), line(1, ") expected"), line(1, "{ expected")}},
      // A named constant where a message number belongs.
      {"set_warning(PASS);\nerror_msg(dt_today);", kAny,
       {line(1, "in function SET_WARNING, parameter R" + notMessage), line(2, "in function ERROR_MSG, parameter O" + notMessage)}},
      // The last token is dispatched like every other.
      {"int x, y;\nx = 1; y", kAny, {line(2, "= expected")}},
      {"int x;\nx = 1;\nreturn", kAny, {line(3, "return statement must end with semi-colon")}},
      {"int x;\nx = 1;\npass", kAny, {line(3, "Invalid syntax.")}},
      // A quote copied into a length field: the walks over the text end there.
      {"'te\"\"0,", "@'tN004e\"\"0,", {line(1, unterminated), line(1, "undeclared variable \"e\"\"0\"")}},
      {"'te\"\"1\"", "@'tN005e\"\"1\"", {line(1, unterminated), line(1, "undeclared variable \"e\"\"1\"\"")}},
  });
}

// What a declaration keeps beside its type and size, and the user-function
// records that every compile starts by marking unused.
TEST(CompilerRecords, DeclarationValueAndUserFunctionRecords) {
  TVariableDef def;
  EXPECT_EQ("", def.GetVarValue());
  def.SetVarValue("twelve");
  def.SetVarType('H');
  EXPECT_EQ("H|twelve", std::string(1, def.GetVarType()) + "|" + def.GetVarValue());

  std::vector<RLt_UDFDef*> udfs = {new RLt_UDFDef{"f", 7, true}, new RLt_UDFDef{"g", 0, true}};
  std::for_each(udfs.begin(), udfs.end(), ClearUsedFlag);
  for (const RLt_UDFDef* udf : udfs) EXPECT_FALSE(udf->Used) << udf->Name;
  EXPECT_EQ(7, udfs[0]->Offset);
  std::for_each(udfs.begin(), udfs.end(), DeleteUDFDef);  // the sanitizer build sees a wrong free
}

}  // namespace
