// Compiled logic damaged or written by hand: every such text ends the run
// with -1 and engine errors that say why, never a crash, a hang or a read
// outside the text.
#include "RunTestSupport.h"

namespace {

class DamagedLogic : public RunTest {
 protected:
  // The engine errors of a run of an edit whose compiled logic is `compiled`.
  Rows errors_of(const std::string& compiled) {
    std::string tag = "D" + std::to_string(++Count);
    add_edit(tag, "Damaged " + tag, "return PASS;");
    set_compiled(tag, compiled);
    add_to_set("S" + tag, tag);
    int failed = 0;
    EXPECT_EQ(-1, Edit_RunEdits(smf(), ("S" + tag).c_str(), "L1", "1", 0, &failed, nullptr, nullptr)) << compiled;
    return engine_errors(smf());
  }
  int Count = 0;
};

// The entries that name the damaged edit, by its number.
std::string edit(int n) {
  std::string tag = "D" + std::to_string(n);
  return "TRunEdits::process_edit\xBB" "Edit: Damaged " + tag + " [Tag: " + tag + "]";
}
std::string reading(int n) { return "TRunEdits::GetCompiledToken\xBB" "Edit: Damaged D" + std::to_string(n); }
std::string reader(const std::string& message) { return "TTokenMaster::GetCompiledToken\xBB" + message; }

}  // namespace

TEST_F(DamagedLogic, TokensThatCannotBeRead) {
  EXPECT_EQ((Rows{reader("Token [\x80] not found"), reading(1), edit(1)}), errors_of("@\x80;"));
  // Operands that would run past the end of the text.
  for (std::string text : {"@\"099ab;", "@F", "@F  1", "@N9x9abc", "@M", "@m", "@'", "@U005123"}) {
    Rows errors = errors_of(text);
    ASSERT_EQ(3u, errors.size()) << text;
    EXPECT_EQ(reader(std::string("Token [") + text[text.find_first_of("\"FNMm'U")] +
                     "] runs past the end of the compiled logic"),
              errors[0])
        << text;
  }
}

TEST_F(DamagedLogic, JumpsAndHeadersOutsideTheText) {
  EXPECT_EQ((Rows{"TTokenMaster::MovePosBy\xBB" "move_by value falls outside range of compiled logic", edit(1)}),
            errors_of("@F  99(Q)DQ;"));
  EXPECT_EQ((Rows{"TTokenMaster::MovePos\xBB" "move_by must be > 0", edit(2)}), errors_of("@Fabcd(Q)DQ;"));
  // A header that promises more functions than the text holds.
  EXPECT_EQ((Rows{"TTokenMaster::MovePosBy\xBB" "move_by value falls outside range of compiled logic"}),
            errors_of("C00001"));
  EXPECT_EQ((Rows{"TTokenMaster::MovePosBy\xBB" "move_by value falls outside range of compiled logic", edit(4)}),
            errors_of("A99999mA();"));
  EXPECT_EQ((Rows{"TRunEdits::ExecuteFOR\xBB" "syntax error: expected RPAREN", edit(5)}),
            errors_of("@IN001i;C   0(N001i=U0010;N001i<U0013;(("));
}

TEST_F(DamagedLogic, SizesAndNestingBeyondReason) {
  EXPECT_EQ((Rows{"TRunEdits::declare_variables\xBB"
                  "TVariable - Variable a, declared size (1410065407) is out of range",
                  edit(1)}),
            errors_of("@IN001a[U0109999999999];DR;"));
  Rows errors = errors_of("@IN001x;N001x=" + std::string(5000, '(') + "U0011;");
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ("TRunEdits::eval0_variables\xBB" "logic is nested too deeply", errors[0]);
  errors = errors_of("@" + std::string(5000, '{'));
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ("TRunEdits::interpret_block\xBB" "logic is nested too deeply", errors[0]);
}

TEST_F(DamagedLogic, DebuggingDamagedLogicFailsTheSameWay) {
  add_edit("DX", "Damaged DX", "return PASS;");
  set_compiled("DX", "@\xff");
  Rows lines;
  auto on_line = [](void* owner, int line, int executed, const char* logic) { return collect(owner, line, executed, logic); };
  EXPECT_EQ(-1, Edit_DebugEdit(smf(), "DX", "L1", "1", &lines, fn(+on_line), nullptr, nullptr, nullptr));
  Rows errors = engine_errors(smf());
  ASSERT_EQ(4u, errors.size());
  EXPECT_EQ(reader("Token [\xff] not found"), errors[0]);
  // The trace up to the failure is still sent.
  EXPECT_EQ(Rows{}, lines);
}
