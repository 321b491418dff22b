// Warnings of logic that compiles without a fault and yet runs other than it
// reads: a second comparison in a row, a text taken as a number, a return
// without a value, a statement run into by the one before, statements after
// a function's body and numbers an int cannot hold. They read the compiled
// text as the run time reads it and come after every other message.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>

#include "compiler/CompiledText.h"
#include "compiler/EditCompiler.h"

namespace {

const char* const kSecondComparison =
    "second comparison in a row: the expression ends before it, so it is not evaluated and what follows runs "
    "out of place (write a range with &&)";
const char* const kTextOperand =
    "text used as a number: the operator takes its address, which differs from run to run (compare texts with "
    "strcmp)";
const char* const kTextAssigned = "text assigned to an int: the variable takes its address, which differs from run to run";
const char* const kTextReturned = "text returned: the edit returns its address and so passes";
const char* const kTextCondition =
    "text first in a condition: the condition ends after it and is its address, so it is always true, and what "
    "follows runs out of place (compare texts with strcmp)";
const char* const kEmptyReturn = "return without a value returns 0: the edit fails";
const char* const kRunInto = "no \";\" before this statement: the statement before runs into it, and it never runs";
const char* const kAfterFunction =
    "statements after a function's body never run: the main logic ends where the first function begins (write "
    "functions after the main logic)";

const char* const kRelational = "EJ<>KG";
const char* const kArithmetic = "+-*/%";
const char* const kKeywords = "ABCFL";
// Tokens that end an operand: names, numbers, strings, character and named
// constants, and closing brackets.
const char* const kOperandEnds = "NU\"')]OPQRSTWXYZyz";
// Tokens that begin a statement the run time would run: an assignment or a call.
const char* const kStatementStarts = "NMm";
// Where an assignment's expression ends: separators, braces and the words
// that begin another statement.
const char* const kExpressionEnds = ";,={}ABCDFHILn";
// A subscript is read as one token between its brackets: '[', the token, ']'.
const long kSubscriptWidth = 3;
// The token character and its three-character length field.
const size_t kOperandStart = 4;
const char* const kIntMax = "2147483647";
const char* const kIntMinMagnitude = "2147483648";

bool is_one_of(char c, const char* set) { return c != '\0' && strchr(set, c) != nullptr; }
bool is_operator(char c) { return is_one_of(c, kRelational) || is_one_of(c, kArithmetic); }

// One token of the body as the run time steps over it.
struct TToken {
  size_t Pos;
  size_t Width;
  size_t Line;  // 0-based, counted as the second pass counts
  char Char;
};

// Where a bracket stands: the enclosing parenthesis and the call it opens.
struct TFrame {
  size_t Depth = 0;       // parentheses around the token
  long Open = -1;         // index of the innermost '(' around it
  unsigned char Code = 0; // built-in code when that '(' opens a built-in's arguments
  size_t Argument = 0;    // 0-based argument of that call the token stands in
};

class TMisreadForms {
 public:
  using TVariableLookup = std::function<const TVariableDef*(const std::string&)>;
  using TArgumentType = std::function<char(unsigned char code, size_t argument)>;
  struct TFinding {
    size_t Pos;
    size_t Line;
    std::string Text;
  };

  TMisreadForms(const std::string& text, const std::vector<size_t>& cutNumbers, TVariableLookup variable,
                TArgumentType argumentType)
      : FText(text), FCutNumbers(cutNumbers), FVariable(std::move(variable)),
        FArgumentType(std::move(argumentType)) {}

  std::vector<TFinding> Find() {
    read_tokens();
    for (size_t i = 0; i < FTokens.size(); ++i) {
      char c = FTokens[i].Char;
      if (c == '"' || c == 'N') check_text_operand(i);
      if (c == 'D' && next_is(i, ';')) add(i, kEmptyReturn);
      if (c == '=' && FFrames[i].Depth == 0 && !FInDeclaration[i]) check_run_into(i);
      if (c == 'n') check_after_function(i);
      if (c == 'U') check_number(i);
    }
    check_comparisons();
    std::stable_sort(FFindings.begin(), FFindings.end(),
                     [](const TFinding& a, const TFinding& b) { return a.Pos < b.Pos; });
    return FFindings;
  }

 private:
  void read_tokens() {
    size_t line = 0;
    for (size_t pos = body_start(FText); pos < FText.size();) {
      if (FText[pos] == '\n') {
        ++line;
        ++pos;
        continue;
      }
      size_t width = token_width(FText, pos);
      FTokens.push_back(TToken{pos, width, line, FText[pos]});
      pos += width;
    }
    frame_tokens();
  }

  // The parentheses around each token, the call they belong to and which
  // argument; and whether the token stands in a declaration.
  void frame_tokens() {
    std::vector<TFrame> stack(1);
    bool declaration = false;
    FMatch.assign(FTokens.size(), -1);
    for (size_t i = 0; i < FTokens.size(); ++i) {
      char c = FTokens[i].Char;
      if (c == ')' && stack.size() > 1) {
        FMatch[i] = stack.back().Open;
        FMatch[stack.back().Open] = static_cast<long>(i);
        stack.pop_back();
      }
      if (c == 'H' || c == 'I') declaration = true;
      FFrames.push_back(stack.back());
      FInDeclaration.push_back(declaration);
      if (c == ';') declaration = false;
      if (c == ',') ++stack.back().Argument;
      if (c == '(') {
        TFrame frame;
        frame.Depth = stack.back().Depth + 1;
        frame.Open = static_cast<long>(i);
        if (i > 0 && FTokens[i - 1].Char == 'M') frame.Code = static_cast<unsigned char>(FText[FTokens[i - 1].Pos + 1]);
        stack.push_back(frame);
      }
    }
  }

  char char_at(long i) const {
    return i >= 0 && static_cast<size_t>(i) < FTokens.size() ? FTokens[i].Char : '\0';
  }
  bool next_is(size_t i, char c) const { return char_at(static_cast<long>(i) + 1) == c; }
  // The operand after a token's length field; empty for a token cut short.
  size_t operand_length(size_t i) const {
    return FTokens[i].Width > kOperandStart ? FTokens[i].Width - kOperandStart : 0;
  }
  std::string operand(size_t i) const {
    size_t length = operand_length(i);
    return length == 0 ? std::string() : FText.substr(FTokens[i].Pos + kOperandStart, length);
  }

  void add(size_t i, const std::string& text) { FFindings.push_back(TFinding{FTokens[i].Pos, FTokens[i].Line, text}); }

  // A '(' that opens a call's arguments rather than a group.
  bool opens_call(long i) const { return char_at(i) == '(' && is_one_of(char_at(i - 1), "Mm"); }

  // Where a statement may begin: the run time passes over a text standing
  // there, and a variable there is an assignment's target.
  bool statement_start(long i) const {
    char c = char_at(i);
    if (c == ';') return FFrames[i].Depth == 0;  // not inside a for's header
    if (c == '\0' || is_one_of(c, "{}AL")) return true;
    if (c != ')' || FMatch[i] < 0) return false;
    return is_one_of(char_at(FMatch[i] - 1), "FBC");
  }

  // Where a condition's expression begins: just inside the parenthesis
  // after if, while or for, or after a semicolon of a for's header.
  bool condition_start(long i) const {
    char c = char_at(i);
    if (c == '(') return is_one_of(char_at(i - 1), "FBC");
    return c == ';' && FFrames[i].Depth > 0 && char_at(FFrames[i].Open - 1) == 'C';
  }

  // The tokens a string constant or a character variable stands over: its
  // subscript and the parentheses that only group it. False for any other
  // token, for an assignment's target and inside a declaration.
  bool text_span(size_t i, long& lo, long& hi) const {
    if (FInDeclaration[i]) return false;
    lo = hi = static_cast<long>(i);
    if (FTokens[i].Char == 'N') {
      if (variable_type(i) != 'H') return false;
      if (char_at(hi + 1) == '[') {
        if (char_at(hi + kSubscriptWidth) != ']') return false;
        hi += kSubscriptWidth;
      }
      if (char_at(hi + 1) == '=') return false;
    }
    while (char_at(lo - 1) == '(' && !opens_call(lo - 1) && FMatch[lo - 1] == hi + 1) {
      --lo;
      ++hi;
    }
    return true;
  }

  // A text taken as a number: as an operand of an operator, the value of an
  // int, or the outcome.
  void check_text_operand(size_t i) {
    long lo = 0, hi = 0;
    if (!text_span(i, lo, hi) || statement_start(lo - 1)) return;
    bool text = FTokens[i].Char == '"';
    char before = char_at(lo - 1), after = char_at(hi + 1);
    // A return and a condition read a string constant that leads their
    // expression alone: the operator after it is never applied.
    bool leads = text && lo == static_cast<long>(i);
    if (leads && is_operator(after) && condition_start(lo - 1)) {
      FTextOperators.insert(hi + 1);
      add(i, kTextCondition);
      return;
    }
    if (before == 'D') {
      if (leads) FTextOperators.insert(hi + 1);
      if (leads || after == ';') add(i, kTextReturned);
      else if (is_operator(after)) add_operand(i, hi + 1, true);
      return;
    }
    if (!is_operator(before) && !is_operator(after)) {
      if (before == '=' && is_one_of(after, ";,)") && assigned_to_int(lo - 1, text ? operand_length(i) : 0))
        add(i, kTextAssigned);
      return;
    }
    long op = is_operator(after) ? hi + 1 : lo - 1;
    bool reported = static_cast<size_t>(lo) == i && argument_start(lo - 1) && is_operator(after) &&
                    argument_reported(i, text);
    // A field beside the operator is refused already, and the comparison with it.
    bool field = char_at(op == hi + 1 ? op + 1 : op - 1) == '#';
    add_operand(i, op, !reported && !field);
  }

  // Texts on both sides of one operator are one warning, or none when the
  // operator is reported already.
  void add_operand(size_t i, long op, bool warn) {
    if (FTextOperators.insert(op).second && warn) add(i, kTextOperand);
  }

  char variable_type(size_t i) const {
    const TVariableDef* def = FVariable(operand(i));
    return def == nullptr ? '\0' : def->GetVarType();
  }

  // The '(' or ',' that begins an argument of a built-in call.
  bool argument_start(long i) const {
    char c = char_at(i);
    if (c == '(') return opens_call(i) && char_at(i - 1) == 'M';
    return c == ',' && FFrames[i].Code != 0;
  }

  // The call checker already reports an argument that begins with a string
  // and goes on, and one that begins with a character variable where an int
  // belongs.
  bool argument_reported(size_t i, bool text) const {
    if (text) return true;
    return FArgumentType(FFrames[i].Code, FFrames[i].Argument) == 'I';
  }

  // The '=' at i assigns to an int; a string longer than the int's size is
  // reported by the assignment check already.
  bool assigned_to_int(long i, size_t stringLength) const {
    long target = i - 1;
    if (char_at(target) == ']') target -= kSubscriptWidth;
    if (char_at(target) != 'N') return false;
    const TVariableDef* def = FVariable(operand(static_cast<size_t>(target)));
    return def != nullptr && def->GetVarType() == 'I' && stringLength <= def->GetVarSize();
  }

  // An assignment whose expression meets a variable or a call right after an
  // operand: the statement written there is read as part of it.
  void check_run_into(size_t i) {
    size_t depth = 0;
    for (size_t j = i + 1; j < FTokens.size(); ++j) {
      char c = FTokens[j].Char;
      if (c == '(') {
        ++depth;
        continue;
      }
      if (c == ')') {
        if (depth == 0) return;
        if (--depth > 0) continue;
      } else if (depth > 0) {
        continue;
      } else if (is_one_of(c, kExpressionEnds)) {
        return;
      }
      if (is_one_of(c, kOperandEnds) && is_one_of(char_at(static_cast<long>(j) + 1), kStatementStarts)) {
        add(j + 1, kRunInto);
        return;
      }
    }
  }

  // The first statement after a function's body, up to the next function.
  void check_after_function(size_t i) {
    size_t open = i + 3;
    if (!next_is(i, '(') || char_at(static_cast<long>(i) + 2) != ')' || char_at(static_cast<long>(open)) != '{') return;
    size_t depth = 0, j = open;
    for (; j < FTokens.size(); ++j) {
      if (FTokens[j].Char == '{') ++depth;
      if (FTokens[j].Char == '}' && --depth == 0) break;
    }
    for (++j; j < FTokens.size() && FTokens[j].Char == ';';) ++j;
    if (j < FTokens.size() && FTokens[j].Char != 'n') add(j, kAfterFunction);
  }

  // A number above the largest int, which the run time keeps to 32 bits;
  // -2147483648 keeps its value.
  void check_number(size_t i) {
    // The first pass notes them in text order.
    if (std::binary_search(FCutNumbers.begin(), FCutNumbers.end(), FTokens[i].Pos)) return;
    std::string digits = operand(i);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return;
    std::string value = digits.substr(std::min(digits.find_first_not_of('0'), digits.size()));
    size_t width = strlen(kIntMax);
    if (value.size() < width || (value.size() == width && value <= kIntMax)) return;
    if (value == kIntMinMagnitude && i > 0 && FTokens[i - 1].Char == '-') return;
    uint32_t kept = 0;
    for (char digit : value) kept = kept * 10u + static_cast<uint32_t>(digit - '0');
    char reads[16];
    snprintf(reads, sizeof reads, "%d", static_cast<int32_t>(kept));
    add(i, "number " + digits + " is above 2147483647: it is kept to 32 bits and reads as " + reads);
  }

  // A relational operator after a comparison at the same depth, with no
  // logical operator, comma, assignment or statement end between: the run
  // time's comparison takes one operator and leaves the second to end it.
  // One warning for a chain: what follows the second is out of place anyway.
  void check_comparisons() {
    enum TState { kNone, kCompared, kWarned };
    std::vector<TState> state(1, kNone);
    for (size_t i = 0; i < FTokens.size(); ++i) {
      char c = FTokens[i].Char;
      if (c == '(') state.push_back(kNone);
      if (c == ')' && state.size() > 1) state.pop_back();
      if (is_one_of(c, "&|,=;{}DHIn") || is_one_of(c, kKeywords)) state.back() = kNone;
      if (!is_one_of(c, kRelational)) continue;
      // Only a comparison that has its right operand is complete.
      bool complete = i > 0 && is_one_of(FTokens[i - 1].Char, kOperandEnds);
      if (state.back() == kCompared && complete) {
        add(i, kSecondComparison);
        state.back() = kWarned;
      } else if (state.back() == kNone) {
        state.back() = kCompared;
      }
    }
  }

  const std::string& FText;
  const std::vector<size_t>& FCutNumbers;
  TVariableLookup FVariable;
  TArgumentType FArgumentType;
  std::vector<TToken> FTokens;
  std::vector<TFrame> FFrames;
  std::vector<bool> FInDeclaration;
  std::vector<long> FMatch;
  std::vector<TFinding> FFindings;
  std::set<long> FTextOperators;  // operators already warned of for a text operand
};

}  // namespace

void TEditCompiler::warn_misread_forms() {
  auto variable = [this](const std::string& name) -> const TVariableDef* { return find_variable(name); };
  auto argumentType = [this](unsigned char code, size_t argument) {
    if (get_intern_func_name(static_cast<char>(code)).empty()) return '\0';
    std::string types = get_intern_func_def(static_cast<char>(code))->Types;
    return types.empty() ? '\0' : types[std::min(argument, types.size() - 1)];
  };
  TMisreadForms forms(FCompiled, FCutNumbers, variable, argumentType);
  std::vector<TMisreadForms::TFinding> findings = forms.Find();
  // A token that the second pass reports already gets no second message.
  auto reported = [this](const TMisreadForms::TFinding& finding) { return FReportedTokens.count(finding.Pos) != 0; };
  findings.erase(std::remove_if(findings.begin(), findings.end(), reported), findings.end());
  for (const TMisreadForms::TFinding& finding : findings) {
    FLine = finding.Line;
    comp_sntx_warn(finding.Text);
  }
}
