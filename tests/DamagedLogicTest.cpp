// Compiled logic damaged or written by hand: every such text ends the run
// with -1 and engine errors that say why, never a crash, a hang or a read
// outside the text.
#include "RunTestSupport.h"
#include "storage/Utility.h"

namespace {

const char* const kReading = "TRunEdits::GetCompiledToken\xBB" "Edit";
const size_t kFirstKey = 10000;  // keys apart from those of the edits that add_edit makes

struct Outcome {
  int result;
  Rows errors;  // the entries that name the edit cut as edit_entries_cut does
};

class DamagedLogic : public RunTest {
 protected:
  // Runs an edit of each compiled text in a set of its own; the edits are
  // written in one transaction, as there may be hundreds.
  std::vector<Outcome> run_all(const std::vector<std::string>& texts) {
    std::string sql = "BEGIN;";
    for (size_t i = 0; i < texts.size(); ++i) {
      std::string tag = "D" + std::to_string(Count + i);
      sql += "INSERT INTO RL_Edits(PKey,AgencyPKey,EditTag,EditName,MessagePKey,CompiledLogic) VALUES (" +
             std::to_string(kFirstKey + Count + i) + ",2,'" + tag + "','Damaged " + tag + "',1,'" +
             quote_sql_value(texts[i]) + "');"
             "INSERT INTO RL_EditSets(EditSetTag,EditSetName) VALUES ('S" + tag + "','Set " + tag + "');"
             "INSERT INTO RL_EditSetEditsPivot(EditSetPKey,EditPKey) SELECT s.PKey, e.PKey FROM RL_EditSets s, "
             "RL_Edits e WHERE s.EditSetTag = 'S" + tag + "' AND e.EditTag = '" + tag + "';";
    }
    exec(sql + "COMMIT;");
    std::vector<Outcome> outcomes;
    for (size_t i = 0; i < texts.size(); ++i)
      outcomes.push_back({run("1", 0, "SD" + std::to_string(Count++)).result, edit_entries_cut(engine_errors(h()))});
    return outcomes;
  }
  std::string compiled_of(const std::string& logic) {
    std::string tag = "C" + std::to_string(++Compiled);
    add_edit(tag, "Compiled " + tag, logic);
    return rows("SELECT CompiledLogic FROM RL_Edits WHERE EditTag = '" + tag + "'").at(0);
  }
  int Count = 0;
  int Compiled = 0;
};

std::string reader(const std::string& message) { return "TTokenMaster::GetCompiledToken\xBB" + message; }

// The engine errors of a token whose operand or block runs past the end of the text.
Rows past_end(char token) {
  return {reader(std::string("Token [") + token + "] runs past the end of the compiled logic"), kReading, kEditEntry};
}

}  // namespace

TEST_F(DamagedLogic, TextsThatCannotBeRun) {
  const std::string past = "TTokenMaster::MovePosBy\xBB" "move_by value falls outside range of compiled logic";
  const std::string back = "TTokenMaster::MovePos\xBB" "move_by must be > 0";
  const std::string deep = "logic is nested too deeply";
  const struct {
    std::string compiled;
    Rows errors;
  } cases[] = {
      {"@\x80;", {reader("Token [\x80] not found"), kReading, kEditEntry}},
      // Operands that would run past the end of the text.
      {"@\"099ab;", past_end('"')},
      {"@F", past_end('F')},
      {"@F  1", past_end('F')},
      {"@N009abc", past_end('N')},
      {"@M", past_end('M')},
      {"@m", past_end('m')},
      {"@'", past_end('\'')},
      {"@U005123", past_end('U')},
      // A jump is refused before the part that it would skip runs.
      {"@F  99(Q)DQ;", {past, kEditEntry}},
      {"@Fabcd(Q)DQ;", {back, kEditEntry}},
      {"@F  -1(R)DR;", {back, kEditEntry}},
      {"@IN001n;\nB  -1(N001n<U0013){\nN001n=N001n+U0011;\n}", {back, kEditEntry}},
      {"@IN001i;\nC  -1(N001i=U0010;N001i<U0013;N001i=N001i+U0011);", {back, kEditEntry}},
      {"@IN001n;\nB  22(N001n<U0013){\nN001n=N001n+U0011;", {past, kEditEntry}},
      // A block, a controlled statement or a function that the text ends inside.
      {"@IN001n;\nL    {\nN001n=N001n+U0011;", past_end('{')},
      {"@IN001n;\nB  13(N001n<U0013)N001n=N001n+U0011", past_end('B')},
      {"A00013mA();nA()IN001x;", past_end('n')},
      {"@IN001i;C   0(N001i=U0010;N001i<U0013;((", {"TRunEdits::ExecuteFOR\xBB" "syntax error: expected RPAREN", kEditEntry}},
      // A header that promises more functions than the text holds.
      {"C00001", {past}},
      {"A99999mA();", {past, kEditEntry}},
      // Sizes and nesting beyond reason.
      {"@IN001a[U0109999999999];DR;",
       {"TRunEdits::declare_variables\xBB" "TVariable - Variable a, declared size (1410065407) is out of range",
        kEditEntry}},
      {"@IN001x;N001x=" + std::string(5000, '(') + "U0011;", {"TRunEdits::eval0_variables\xBB" + deep, kEditEntry}},
      {"@" + std::string(5000, '{'), {"TRunEdits::interpret_block\xBB" + deep, kEditEntry}},
  };
  std::vector<std::string> texts;
  for (const auto& c : cases) texts.push_back(c.compiled);
  std::vector<Outcome> outcomes = run_all(texts);
  for (size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(-1, outcomes[i].result) << texts[i];
    EXPECT_EQ(cases[i].errors, outcomes[i].errors) << texts[i];
  }
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
    std::string tokens;
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
        tokens += token;
      }
    }
    outcomes = run_all(damaged);
    for (size_t i = 0; i < damaged.size(); ++i) {
      // A built-in that reads the token itself names its own call next.
      const Rows& errors = outcomes[i].errors;
      ASSERT_LE(2u, errors.size()) << damaged[i];
      EXPECT_EQ(reader(std::string("Token [") + tokens[i] + "] has a damaged length field"), errors[0]) << damaged[i];
      EXPECT_EQ(kEditEntry, errors.back()) << damaged[i];
    }
  }
}
