// Compiled logic damaged or written by hand: a text that is not what the
// compiler writes ends the run with -1 and engine errors that say where,
// before any of its statements runs; never a crash, a hang or a read outside
// the text. What the compiler writes runs as written.
#include "RunTestSupport.h"
#include "compiler/EditCompiler.h"

namespace {

const char* const kReading = "TRunEdits::GetCompiledToken\xBB" "Edit";
const size_t kFirstKey = 10000;  // keys apart from those of the edits that add_edit makes

struct Outcome {
  int result;
  Rows errors;  // the entries that name the edit cut as edit_entries_cut does
  int failed;   // the edits that the record failed, in a run that ended
  std::string tag;
};

int ignore_line(void*, int, int, const char*) { return 0; }

class DamagedLogic : public RunTest {
 protected:
  // Runs an edit of each compiled text in a set of its own.
  std::vector<Outcome> run_all(const std::vector<std::string>& texts) {
    std::vector<Outcome> outcomes;
    for (const std::string& tag : store_all(texts)) {
      RunResult result = run("1", 0, "S" + tag);
      outcomes.push_back({result.result, edit_entries_cut(engine_errors(h())), result.failed, tag});
    }
    return outcomes;
  }
  // Debugs an edit of each compiled text; the errors end with the statement
  // that read the edit, named by debug_read.
  std::vector<Outcome> debug_all(const std::vector<std::string>& texts) {
    std::vector<Outcome> outcomes;
    for (const std::string& tag : store_all(texts)) {
      Rows lines;
      int result = Edit_DebugEdit(h(), tag.c_str(), "L1", "1", &lines, fn(ignore_line), nullptr, nullptr, nullptr);
      outcomes.push_back({result, edit_entries_cut(engine_errors(h())), 0, tag});
    }
    return outcomes;
  }
  // The statement that a failed debugging run of the edit of that tag names last.
  static std::string debug_read(const std::string& tag) {
    return "TRunEdits::DebugEdit\xBB" "SQL: SELECT a.PKey, a.EditName, b.AdminCode, m.MessageNumber, m.Message, "
           "a.EditLogic, a.CompiledLogic FROM RL_Edits a, RL_Agencies b, RL_Messages m WHERE b.PKey = a.AgencyPKey "
           "AND m.PKey = a.MessagePKey AND a.EditTag = '" + tag + "';";
  }
  std::string compiled_of(const std::string& logic) {
    std::string tag = "C" + std::to_string(++Compiled);
    add_edit(tag, "Compiled " + tag, logic);
    return rows("SELECT CompiledLogic FROM RL_Edits WHERE EditTag = '" + tag + "'").at(0);
  }

 private:
  // An edit of each compiled text, each in a set of its own, written in one
  // transaction, as there may be hundreds; their tags.
  std::vector<std::string> store_all(const std::vector<std::string>& texts) {
    std::string sql = "BEGIN;";
    std::vector<std::string> tags;
    for (const std::string& text : texts) {
      std::string tag = "D" + std::to_string(Count);
      sql += "INSERT INTO RL_Edits(PKey,AgencyPKey,EditTag,EditName,MessagePKey,CompiledLogic) VALUES (" +
             std::to_string(kFirstKey + Count) + ",2,'" + tag + "','Damaged " + tag + "',1," + text_literal(text) +
             ");"
             "INSERT INTO RL_EditSets(EditSetTag,EditSetName) VALUES ('S" + tag + "','Set " + tag + "');"
             "INSERT INTO RL_EditSetEditsPivot(EditSetPKey,EditPKey) SELECT s.PKey, e.PKey FROM RL_EditSets s, "
             "RL_Edits e WHERE s.EditSetTag = 'S" + tag + "' AND e.EditTag = '" + tag + "';";
      tags.push_back(tag);
      ++Count;
    }
    exec(sql + "COMMIT;");
    return tags;
  }
  // The text as a literal of its bytes, so that it may hold any byte, 0x00
  // too (the engine then reads the text up to it).
  static std::string text_literal(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string literal = "CAST(X'";
    for (unsigned char c : text) {
      literal += kHex[c >> 4];
      literal += kHex[c & 0xF];
    }
    return literal + "' AS TEXT)";
  }

  int Count = 0;
  int Compiled = 0;
};

std::string reader(const std::string& message) { return "TTokenMaster::GetCompiledToken\xBB" + message; }

// The engine errors of a text that departs from what the compiler writes at that position.
Rows damaged_at(size_t position) {
  return {reader("Compiled logic is damaged at position " + std::to_string(position)), kReading, kEditEntry};
}

// The text with its first "from" replaced by "to".
std::string replaced(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  return at == std::string::npos ? "<" + from + " not found>" : text.replace(at, from.size(), to);
}

}  // namespace

TEST_F(DamagedLogic, TextsThatCannotBeRun) {
  const std::string past = "TTokenMaster::MovePosBy\xBB" "move_by value falls outside range of compiled logic";
  const std::string back = "TTokenMaster::MovePos\xBB" "move_by must be > 0";
  const struct {
    std::string compiled;
    Rows errors;
  } cases[] = {
      {"@\x80;", {reader("Token [\x80] not found"), kReading, kEditEntry}},
      // Operands that would run past the end of the text, or a constant's quote
      // that the text ends on, which the compiler writes for a source that ends so.
      {"@\"099ab;", damaged_at(1)},
      {"@F", damaged_at(1)},
      {"@F  1", damaged_at(1)},
      {"@N009abc", damaged_at(1)},
      {"@M", damaged_at(1)},
      {"@m", damaged_at(1)},
      {"@'", {reader("Token ['] runs past the end of the compiled logic"), kReading, kEditEntry}},
      {"@U005123", damaged_at(1)},
      // Jumps that move back or past the end, or elsewhere than the compiler's.
      {"@F  99(Q)DQ;", {past, kReading, kEditEntry}},
      {"@Fabcd(Q)DQ;", {back, kReading, kEditEntry}},
      {"@F  -1(R)DR;", {back, kReading, kEditEntry}},
      {"@IN001n;\nB  -1(N001n<U0013){\nN001n=N001n+U0011;\n}", {back, kReading, kEditEntry}},
      {"@IN001i;\nC  -1(N001i=U0010;N001i<U0013;N001i=N001i+U0011);", {back, kReading, kEditEntry}},
      {"@IN001n;\nB  13(N001n<U0013)N001n=N001n+U0011", damaged_at(9)},
      // A block, a condition or a function body that the text ends inside.
      {"@IN001n;\nB  22(N001n<U0013){\nN001n=N001n+U0011;", damaged_at(27)},
      {"@IN001n;\nL    {\nN001n=N001n+U0011;", damaged_at(14)},
      {"A00013mA();nA()IN001x;", damaged_at(15)},
      {"@IN001i;C   0(N001i=U0010;N001i<U0013;((", damaged_at(39)},
      // A header that promises more functions than the text holds, or a body
      // where no function is defined.
      {"C00001", {past, kReading, kEditEntry}},
      {"A99999mA();", damaged_at(1)},
      // Sizes beyond reason are the declaration's to refuse when it runs.
      {"@IN001a[U0109999999999];DR;",
       {"TRunEdits::declare_variables\xBB" "TVariable - Variable a, declared size (1410065407) is out of range",
        kEditEntry}},
      // Nesting that no block closes: refused at its innermost bracket.
      {"@IN001x;N001x=" + std::string(5000, '(') + "U0011;", damaged_at(5013)},
      {"@" + std::string(5000, '{'), damaged_at(5000)},
      // Closed, it is what the compiler writes, and fails where the run reaches its bound.
      {"@IN001x;N001x=" + std::string(5000, '(') + "U0011" + std::string(5000, ')') + ";",
       {"TRunEdits::eval0_variables\xBB" "logic is nested too deeply", kEditEntry}},
      {"@" + std::string(5000, '{') + std::string(5000, '}'),
       {"TRunEdits::interpret_block\xBB" "logic is nested too deeply", kEditEntry}},
  };
  std::vector<std::string> texts;
  for (const auto& c : cases) texts.push_back(c.compiled);
  std::vector<Outcome> outcomes = run_all(texts);
  for (size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(-1, outcomes[i].result) << texts[i];
    EXPECT_EQ(cases[i].errors, outcomes[i].errors) << texts[i];
  }
}

// The damage that let a loop run for ever: each is refused before any
// statement runs, at the position where the text departs from the compiler's.
TEST_F(DamagedLogic, DamagedLoopsAreRefusedBeforeTheyRun) {
  const std::string loop = compiled_of("int i, n;\nwhile (i < 4) { n = n + 2; i = i + 1; }\nreturn PASS;");
  const std::string doLoop = compiled_of("int x, k;\nif (x > 5) k = 1;\ndo { x = x + 1; } while (x < 3);");
  const std::string step = "N001i=N001i+U0011;";
  const std::string forLoop =
      compiled_of("int i, n;\nfor (i = 0; i < 3; i = i + 1) {\n  if (n == 'x') n = 1;\n  n = strlen(\"ab\");\n}");
  const struct {
    std::string compiled;
    std::string faulty;  // what stands where the text departs from the compiler's
  } cases[] = {
      // A byte where no token starts would read as a blank token: three bytes
      // of the step moved.
      {replaced(loop, step, "N001Ni=001i+U0011;"), "N001Ni"},
      // A function definition inside the body would end it at once.
      {replaced(loop, step, "n001i=N001i+U0011;"), "001i=N001i+"},
      // An expression that stops at a token that cannot continue it.
      {replaced(loop, step, "N001i=N001i;U0011;"), "U0011;}"},
      // A jump that lands an if on the while that closes a do.
      {replaced(doLoop, "F  12", "F  38"), "F  38"},
      // A text that ends inside the condition of a do.
      {doLoop.substr(0, doLoop.find("(N001x<U0013)") + 6), "(N001x"},
      // An opening brace replaced: the body shrinks to one statement.
      {replaced(loop, "{N001n", "-N001n"), "}"},
      // A character constant is quote, character and quote: a step whose
      // constant lost its closing quote reads as i = i.
      {replaced(forLoop, "N001i+U0011)", "N001i'+U0011)"), "'+U0011"},
      {replaced(forLoop, "N001i+U0011)", "N001i+''U0011)"), "''U0011"},
      {replaced(forLoop, "'x')", "'x)"), "'x)"},
      {replaced(forLoop, "'x')", "'x\n')"), "'x\n'"},
      {replaced(forLoop, "'x')", "'xx')"), "'xx'"},
  };
  std::vector<std::string> texts;
  for (const auto& c : cases) texts.push_back(c.compiled);
  std::vector<Outcome> outcomes = run_all(texts);
  for (size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(-1, outcomes[i].result) << texts[i];
    EXPECT_EQ(damaged_at(texts[i].rfind(cases[i].faulty)), outcomes[i].errors) << texts[i];
  }
}

// A built-in call is read by its form, whatever its code byte: a code that
// no built-in has stops the edit where the call runs, in a run and in a
// debugging run alike, and a call that does not run changes nothing. Only a
// byte that ends the stored text or a line cannot stand as a code.
TEST_F(DamagedLogic, CallsOfCodesWithoutABuiltInStopTheEditWhereTheyRun) {
  const std::string removed = "TRunEdits::EvaluateLibFunc\xBB" "syntax error: invalid/deprecated/removed function reference";
  const struct {
    std::string compiled;
    std::string call;  // the call whose code is replaced
    Rows errors;       // none: the call does not run, and the edit fails the record
  } forms[] = {
      {compiled_of("save_text(\"a\");\nreturn PASS;"), "Mh(", {removed, kEditEntry}},
      {compiled_of("int x;\nx = 1 + strlen(\"ab\");\nreturn PASS;"), "Mp(", {removed, kEditEntry}},
      {compiled_of("int x;\nx = strlen(upper(\"ab\"));\nreturn PASS;"), "Mt(",
       {removed, lib("call_strlen"), kEditEntry}},
      {compiled_of("if (strlen(\"ab\") > 1) return FAIL;\nreturn PASS;"), "Mp(", {removed, kEditEntry}},
      {compiled_of("int i, n;\nfor (i = 0; i < 3; i = i + 1) {\n  if (n == 'x') n = 1;\n  n = strlen(\"ab\");\n}"),
       "Mp(", {removed, kEditEntry}},
      {compiled_of("check();\nreturn PASS;\nfunction check()\n{\n  save_text(\"a\");\n}"), "Mh(",
       {removed, kEditEntry}},
      {compiled_of("int x;\nif (x > 1) save_text(\"a\");\nreturn FAIL;"), "Mh(", {}},
  };
  // Past the catalogue, between its codes, below it, setvar's, and codes
  // that would read as tokens.
  const std::string codes = "\x94" "B5k!)'@\xFF";
  std::vector<std::string> texts;
  std::vector<Rows> errors;
  for (const auto& form : forms) {
    for (char code : codes) {
      texts.push_back(replaced(form.compiled, form.call, std::string("M") + code + "("));
      errors.push_back(form.errors);
    }
    // 0x00 ends the stored text at the call's code; a line mark would be a
    // line of the trace.
    size_t call = form.compiled.find(form.call);
    for (const std::string& code : {std::string(1, '\0'), std::string("\n")}) {
      texts.push_back(replaced(form.compiled, form.call, "M" + code + "("));
      errors.push_back(damaged_at(call));
      TStructureFault fault = TEditCompiler::CheckStructure(texts.back());
      EXPECT_EQ(TStructureFault::kDamaged, fault.Kind) << texts.back();
      EXPECT_EQ(call, fault.Position) << texts.back();
    }
  }
  std::vector<Outcome> runs = run_all(texts), debugged = debug_all(texts);
  for (size_t i = 0; i < texts.size(); ++i) {
    bool stops = !errors[i].empty();
    EXPECT_EQ(stops ? -1 : 0, runs[i].result) << texts[i];
    EXPECT_EQ(errors[i], runs[i].errors) << texts[i];
    EXPECT_EQ(stops ? 0 : 1, runs[i].failed) << texts[i];
    EXPECT_EQ(stops ? -1 : 0, debugged[i].result) << texts[i];
    if (stops) errors[i].push_back(debug_read(debugged[i].tag));
    EXPECT_EQ(errors[i], debugged[i].errors) << texts[i];
  }
}

// Texts the compiler writes keep their results, also where they fail at the
// point the run reaches: a do without braces, or an if that ends the text.
TEST_F(DamagedLogic, CompiledTextsRunAsWritten) {
  const std::string opening = "TRunEdits::ExecuteDO\xBB" "syntax error: expected opening brace \"{\"";
  std::vector<std::string> texts = {compiled_of("int x;\nreturn FAIL;\ndo x = x + 1; while (x < 3);"),
                                    compiled_of("int x;\ndo x = x + 1; while (x < 3);\nreturn PASS;"),
                                    compiled_of("int x;\nif (x)")};
  ASSERT_EQ("@IN001x;\nDQ;\nL    N001x=N001x+U0011;B   1(N001x<U0013);", texts[0]);
  std::vector<Outcome> outcomes = run_all(texts);
  EXPECT_EQ(0, outcomes[0].result);
  EXPECT_EQ(Rows{}, outcomes[0].errors);
  EXPECT_EQ(-1, outcomes[1].result);
  EXPECT_EQ((Rows{opening, kEditEntry}), outcomes[1].errors);
  EXPECT_EQ(-1, outcomes[2].result);
  EXPECT_EQ((Rows{"TTokenMaster::MovePos\xBB" "move_by must be > 0", kEditEntry}), outcomes[2].errors);
}

// Every kind of loop, braced and not, with a function: every token runs.
const char* const kLoops[] = {
    "int i, n;\nfor (i = 0; i < 3; i = i + 1) {\n  n = n + i;\n}\nwhile (n < 10) {\n  n = n + 1;\n}\n"
    "do {\n  bump();\n} while (n > 5);\nreturn PASS;\nfunction bump()\n{\n  n = n - 1;\n}",
    "char s[9];\nint i;\nfor (i = 0; i < 3; i = i + 1) strcat(s, \"ab\");\nwhile (i < 6) i = i + 1;\n"
    "do { i = i - 1; } while (i > 2);\nreturn PASS;"};

TEST_F(DamagedLogic, CutLoopsAndDamagedLengthFieldsEndTheRun) {
  for (const char* logic : kLoops) {
    std::string compiled = compiled_of(logic);
    // Cut anywhere, a text either still reads as whole statements and runs,
    // or fails with engine errors; it never runs for ever.
    std::vector<std::string> cuts;
    for (size_t length = 1; length < compiled.size(); ++length) cuts.push_back(compiled.substr(0, length));
    std::vector<Outcome> outcomes = run_all(cuts);
    for (size_t i = 0; i < cuts.size(); ++i)
      EXPECT_TRUE(outcomes[i].result == 0 || (outcomes[i].result == -1 && !outcomes[i].errors.empty())) << cuts[i];
    // Names and numbers: three digits of a length from 1, and a number's
    // length takes in digits only; strings: a tens byte from "0" to 99 past
    // it and a units digit.
    std::vector<std::string> damaged;
    std::vector<size_t> positions;
    for (size_t pos = 0; pos < compiled.size(); ++pos) {
      char token = compiled[pos];
      std::vector<std::string> fields{"0\xFF" "0", "00x", "0/0"};
      if ((token == 'N' || token == 'U') && compiled.find_first_not_of("0123456789", pos + 1) == pos + 4) {
        fields = {"0\xFF" "0", "-01", "000"};
        char longer[16];
        snprintf(longer, sizeof longer, "%03d", std::stoi(compiled.substr(pos + 1, 3)) + 1);
        if (token == 'U') fields.push_back(longer);
      } else if (token != '"') {
        continue;
      }
      for (const std::string& field : fields) {
        damaged.push_back(compiled);
        damaged.back().replace(pos + 1, 3, field);
        positions.push_back(pos);
      }
    }
    outcomes = run_all(damaged);
    for (size_t i = 0; i < damaged.size(); ++i) EXPECT_EQ(damaged_at(positions[i]), outcomes[i].errors) << damaged[i];
  }
}
