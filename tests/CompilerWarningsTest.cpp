// Warnings of edit logic that compiles and yet runs other than it reads:
// each form warned on its own line after the compile's other messages, the
// sound forms beside them silent, the compiled text stored as before.
#include "ApiTestSupport.h"

namespace {

const char* const kSetup =
    "INSERT INTO RL_Fields(PKey,FieldNumber,FieldName,LocalName,FieldLength,DataType) VALUES (2,230,'Age','Age',3,'S ');"
    "CREATE TABLE ZIPS([PKey] integer not null primary key, [CODE] varchar(10) not null);"
    "CREATE INDEX xZIPS_CODE on ZIPS([CODE], [PKey]);"
    "INSERT INTO RL_Edits(PKey,EditTag,EditName,EditLogic) VALUES (2,'E1','Edit one','');";

// Declarations before each source of the tables: the forms stand on line 3.
const std::string kHead = "int n, x, a[3];\nchar c, s[9];\n";

const std::string kSecond =
    "second comparison in a row: the expression ends before it, so it is not evaluated and what follows runs "
    "out of place (write a range with &&)";
const std::string kOperand =
    "text used as a number: the operator takes its address, which differs from run to run (compare texts with strcmp)";
const std::string kAssigned = "text assigned to an int: the variable takes its address, which differs from run to run";
const std::string kReturned = "text returned: the edit returns its address and so passes";
const std::string kCondition =
    "text first in a condition: the condition ends after it and is its address, so it is always true, and what "
    "follows runs out of place (compare texts with strcmp)";
const std::string kEmptyReturn = "return without a value returns 0: the edit fails";
const std::string kRunInto = "no \";\" before this statement: the statement before runs into it, and it never runs";
const std::string kAfterFunction =
    "statements after a function's body never run: the main logic ends where the first function begins (write "
    "functions after the main logic)";

std::string line(int number, const std::string& message) {
  char prefix[16];
  snprintf(prefix, sizeof prefix, "Line %4d: ", number);
  return prefix + message;
}

std::string kept(const std::string& digits, const std::string& reads) {
  return "number " + digits + " is above 2147483647: it is kept to 32 bits and reads as " + reads;
}

// A source after kHead and every message of its compile, in order.
struct Form {
  std::string source;
  Rows errors = {}, warnings = {};
};

class CompilerWarnings : public MetafileTest {
 protected:
  CompilerWarnings() : MetafileTest(kSetup) {}

  Rows read(int count, int (*reader)(int, int, int*, char*, int)) {
    Rows texts;
    for (int i = 0; i < count; ++i) {
      char text[400] = "";
      int number = 0;
      EXPECT_EQ(0, reader(h(), i, &number, text, sizeof text));
      texts.push_back(text);
    }
    return texts;
  }

  void expect(const std::vector<Form>& forms) {
    for (const Form& form : forms) {
      std::string source = kHead + form.source;
      SCOPED_TRACE(source);
      int errors = -1, warnings = -1;
      ASSERT_EQ(0, Qb_CheckSyntax(h(), source.c_str(), &errors, &warnings));
      EXPECT_EQ(form.errors, read(errors, Qb_GetSyntaxError));
      EXPECT_EQ(form.warnings, read(warnings, Qb_GetSyntaxWarning));
    }
  }
};

}  // namespace

TEST_F(CompilerWarnings, EachFormIsWarnedOnItsLine) {
  expect({
      // A second comparison in a row.
      {"if (0 <= n <= 17) return FAIL;", {}, {line(3, kSecond)}},
      {"x = 1 == 2 == 0;", {}, {line(3, kSecond)}},
      {"while (n < 3 < 9) n = n + 1;", {}, {line(3, kSecond)}},
      {"if (n < 0 <= 17) { n = 1; } return WARN;", {}, {line(3, kSecond)}},
      {"x = strcmp(s, \"a\") == 0\n  == x < n;", {}, {line(4, kSecond)}},
      // A text taken as a number: an operand, an int's value, the outcome.
      {"if (s == \"NY\") return FAIL;", {}, {line(3, kOperand)}},
      {"if ((\"NY\") > 17) return FAIL;", {}, {line(3, kOperand)}},
      {"if (c == 'A') return FAIL;", {}, {line(3, kOperand)}},
      {"x = -s[1];", {}, {line(3, kOperand)}},
      {"x = strcmp(s, c + 1);", {}, {line(3, kOperand)}},
      {"return c == n;", {}, {line(3, kOperand)}},
      {"n = \"4\";", {}, {line(3, kAssigned)}},
      {"a[1] = (\"NY\");", {}, {line(3, kAssigned)}},
      {"n = c;", {}, {line(3, kAssigned)}},
      {"return \"NY\";", {}, {line(3, kReturned)}},
      {"return \"NY\" == n;", {}, {line(3, kReturned)}},
      {"return c;", {}, {line(3, kReturned)}},
      {"return \"NY\" == c;", {}, {line(3, kReturned)}},
      // A condition reads a string constant that leads it alone, so the
      // operator after it is never applied.
      {"if (\"NY\" > 17) return FAIL;", {}, {line(3, kCondition)}},
      {"if (\"NY\" == \"NJ\") return FAIL;", {}, {line(3, kCondition)}},
      {"while (\"NY\" != s) x = x + 1;", {}, {line(3, kCondition)}},
      {"for (n = 0; \"NY\" != s; n = n + 1) x = 1;", {}, {line(3, kCondition)}},
      {"do { n = n + 1; } while (\"NY\" != s);", {}, {line(3, kCondition)}},
      // A return without a value.
      {"if (n) return\n;", {}, {line(3, kEmptyReturn)}},
      // A statement without its ";", run into by the next.
      {"x = 5\nn = 6;", {}, {line(4, kRunInto)}},
      {"x = n \nstrlen(s);", {}, {line(4, kRunInto)}},
      {"x = (n + 1)\nf();\nfunction f()\n{\n}", {}, {line(4, kRunInto)}},
      // Statements after a function's body, once for each body they follow.
      {"function f()\n{\n}\nx = 1;\nreturn FAIL;\nfunction g()\n{\n};\nf();", {},
       {line(6, kAfterFunction), line(11, kAfterFunction)}},
      // A number an int cannot hold, leading zeros aside.
      {"x = 3000000000;", {}, {line(3, kept("3000000000", "-1294967296"))}},
      {"x = 0004294967297;", {}, {line(3, kept("0004294967297", "1"))}},
      {"int b[2147483648];", {}, {line(3, kept("2147483648", "-2147483648"))}},
      {"x = a[4294967296];", {}, {line(3, kept("4294967296", "0"))}},
  });
}

TEST_F(CompilerWarnings, SoundFormsBesideThemDrawNone) {
  expect({
      {"if (0 <= n && n <= 17) return FAIL;"},
      {"x = (n < 3) == 1;"},
      {"x = (n < 3) + (n > 9);"},
      {"substr(s, n < 3, x > 2);"},
      {"if (n == 'A') return FAIL;"},
      {"if (strcmp(s, \"NY\") == 0) return FAIL;"},
      {"c = \"N\";"},
      {"if (lookup(s, \"ZIPS.CODE\") == 1) return PASS;"},
      {"x = 1, n = 2;"},
      {"f();\nreturn PASS;\nfunction f()\n{\n  x = 1;\n}"},
      {"x = 2147483647;\nx = 0002147483647;\nx = -2147483648;"},
      {"return PASS;"},
  });
}

// The other messages keep their places; a spot they report already gets no
// second message.
TEST_F(CompilerWarnings, OtherMessagesComeFirstAndAreNotRepeated) {
  const std::string tooLong = std::string(100, '9');
  expect({
      {"x = 1 < 2 < 3;\nif (n = 1) n = 2;", {},
       {line(4, "possible incorrect assignment (did you mean \"==\"?)"), line(3, kSecond)}},
      {"q = 1;\nreturn;", {line(3, "undeclared variable \"q\"")}, {line(4, kEmptyReturn)}},
      {"strlen(\"a\" + s);", {line(3, "Syntax error: review function parameters"), line(3, "STRLEN error: too many parameters")}},
      {"substr(s, c + 1);", {line(3, "SUBSTR error: Variable \"c+U0011\" must be data type INT or LONG")}},
      {"n = \"45\";", {line(3, "string is longer than space allocated for variable \"n\"")}},
      {"if (#S\"Age\" == \"1\") return PASS;", {line(3, "syntax error: fields must be accessed through function calls")}},
      {"x = " + tooLong + ";", {line(3, "number too long (> 99 digits)")}},
      // The statement run into, and the number, are where the assignment's
      // own check reports them.
      {"x = 3\nstrcpy(s, \"ab\");", {line(4, "variable \"x\" is data type INT; function \"strcpy\" returns data type CHAR")}},
      {"x = strlen(s)\nstrcpy(s, \"ab\");",
       {line(4, "variable \"s\" is data type CHAR; function \"strlen\" returns data type INT")}},
      {"x = 3\nq = 4;", {line(4, "variable \"q\" must be declared")}},
      {"c = 3000000000;", {line(3, "illegal assignment: variable \"c\" is declared to be CHAR")}},
  });
}

// Warnings alone store the compiled text as before; with errors too it is emptied.
TEST_F(CompilerWarnings, RecompilationStoresTheSameText) {
  auto recompile = [this](const std::string& logic) {
    exec("UPDATE RL_Edits SET EditLogic = '" + logic + "', CompiledLogic = 'old' WHERE PKey = 2");
    return Edit_RecompileEditLogic(h(), "E1");
  };
  EXPECT_EQ(-3, recompile("int n;\nn = 3000000000;\nreturn;"));
  EXPECT_EQ("@IN001n;\nN001n=U0103000000000;\nD;", value("SELECT CompiledLogic FROM RL_Edits WHERE PKey = 2"));
  EXPECT_EQ((Rows{line(2, kept("3000000000", "-1294967296")), line(3, kEmptyReturn)}),
            read(2, Qb_GetSyntaxWarning));
  EXPECT_EQ(-4, recompile("q = 1;\nreturn;"));
  EXPECT_EQ("", value("SELECT CompiledLogic FROM RL_Edits WHERE PKey = 2"));
}
