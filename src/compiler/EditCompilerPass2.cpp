// The compiler's second pass: reads the compiled text back token by token,
// checks the grammar, variables and calls, and writes the jump fields of
// if, else, while and for.
#include <climits>
#include <cstdio>
#include <stdexcept>

#include "compiler/CompiledText.h"
#include "compiler/EditCompiler.h"
#include "storage/EngineErrorsPump.h"

namespace {

struct TTokDef {
  const char* Name;
  int Id;
  int Type;
};

// Indexed through the compiled character (see get_next_token).
const TTokDef toklist[47] = {
    {"!", 33, 10},        {"\"", 11, 11},      {"#", 35, 0},         {"mod", 37, 10},
    {"&&", 38, 10},       {"'", 39, 2},        {"(", 40, 3},         {")", 41, 3},
    {"*", 42, 10},        {"+", 43, 10},       {",", 44, 10},        {"-", 45, 10},
    {".", 46, 3},         {"/", 47, 10},       {":", 58, 3},         {";", 59, 3},
    {"<", 60, 10},        {"=", 61, 10},       {">", 62, 10},        {"else", 65, 14},
    {"while", 66, 14},    {"for", 67, 14},     {"return", 68, 7},    {"==", 69, 10},
    {"if", 70, 14},       {">=", 71, 10},      {"char", 72, 7},      {"int", 73, 7},
    {"!=", 74, 10},       {"<=", 75, 10},      {"do", 76, 14},       {"libfnc", 77, 5},
    {"var", 78, 6},       {"dt_today", 79, 9}, {"dt_unknown", 80, 9}, {"fail", 48, 9},
    {"pass", 49, 9},      {"dt_max", 50, 9},   {"dt_exact", 51, 9},  {"number", 85, 8},
    {"[", 91, 3},         {"]", 93, 3},        {"funccall", 109, 5}, {"function", 110, 5},
    {"{", 123, 1},        {"||", 124, 10},     {"}", 125, 1},
};

const char* const kLetterRunEnd = " !;,+-<>'%^=()[]{}\t\r";
const char* const kOpenBraceHint = "unresolved open brace (hint: use Ctrl+B to find matched braces... see Edit Logic menu)";
const char* const kCloseBraceHint = "close brace without open brace (hint: use Ctrl+B to find matched braces... see Edit Logic menu)";
const int kMaxJump = 9999;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Saturating conversion: a number token may hold up to 99 digits.
int number_value(const std::string& digits) {
  long long value = 0;
  for (char c : digits) {
    if (!is_digit(c)) break;
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return INT_MAX;
  }
  return static_cast<int>(value);
}

}  // namespace

int TEditCompiler::get_next_token() {
  const std::string& text = FCompiled;
  // The character of a character constant is data, whatever it looks like:
  // 'A' is no else and 'M' no built-in call.
  if (FCharConstant == 1 && FCmpPos < text.size()) {
    FTokenStart = FCmpPos;
    ++FCmpPos;
    FCurTokType = 6;
    FCharConstant = 2;
    return FCurTokType;
  }
  while (FCmpPos < text.size() && (text[FCmpPos] == '\n' || text[FCmpPos] == '@')) {
    if (text[FCmpPos] == '\n') ++FLine;
    ++FCmpPos;
  }
  FTokenStart = FCmpPos;
  if (FCmpPos >= text.size()) {
    FCurTokId = '~';
    FCurTokType = 3;
    return FCurTokType;
  }
  unsigned char c = static_cast<unsigned char>(text[FCmpPos]);
  auto take = [this](int row, size_t width) {
    FCurTokId = static_cast<char>(toklist[row].Id);
    FCurTokType = toklist[row].Type;
    FCmpPos = std::min(FCmpPos + width, FCompiled.size());
  };
  FCharConstant = c != '\'' ? 0 : FCharConstant == 2 ? 0 : 1;
  if (c == '!') {
    take(0, 1);
  } else if (c == '"') {
    size_t width = 1;
    if (FCmpPos + 1 < text.size()) {
      FLastString = string_token_text(text, FCmpPos);
      width = FLastString.size() + 4;
    }
    take(1, width);
  } else if (c == '#') {
    take(2, 1);
    if (FCmpPos < text.size() && text[FCmpPos] == '-') ++FCmpPos;
    while (FCmpPos < text.size() && is_digit(text[FCmpPos])) ++FCmpPos;
  } else if (c >= 37 && c <= 47) {
    char next = FCmpPos + 1 < text.size() ? text[FCmpPos + 1] : '\0';
    if (c == '+' && next == '+') comp_sntx_err("syntax error \"++\"");
    if (c == '+' && next == '=') comp_sntx_err("syntax error \"+=\"");
    if (c == '-' && next == '-') comp_sntx_err("syntax error \"--\"");
    if (c == '-' && next == '=') comp_sntx_err("syntax error \"-=\"");
    take(c - 34, 1);
  } else if (c >= 58 && c <= 62) {
    take(c - 44, 1);
  } else if (c >= 'A' && c <= 'L') {
    take(c - 46, toklist[c - 46].Type == 14 ? 5 : 1);
  } else if (c == 'M') {
    take(31, 2);
  } else if (c == 'N') {
    unsigned length = 0;
    FLastVarName = extract_var_name(length);
    take(32, length + 4);
  } else if (c >= 'O' && c <= 'T') {
    take(c - 46, 1);
  } else if (c == 'U') {
    unsigned length = 0;
    std::string digits = extract_var_name(length);
    FLastNumber = number_value(digits);
    FCurTokType = 8;
    FCmpPos = std::min(FCmpPos + length + 4, text.size());
  } else if (c >= '{' && c <= '}') {
    take(c - 79, 1);
  } else if (c == '[' || c == ']') {
    FCurTokId = static_cast<char>(c);
    FCurTokType = 3;
    ++FCmpPos;
  } else if (c == 'm' || c == 'n') {
    FCurTokId = static_cast<char>(c);
    FCurTokType = 5;
    FCmpPos = std::min(FCmpPos + 2, text.size());
  } else if (is_digit(static_cast<char>(c))) {
    while (FCmpPos < text.size() && is_digit(text[FCmpPos])) ++FCmpPos;
    FCurTokType = 8;
  } else if (isalpha(c)) {
    size_t end = text.find_first_of(kLetterRunEnd, FCmpPos);
    FCmpPos = end == std::string::npos ? text.size() : end;
    FCurTokType = 6;
  } else {
    comp_sntx_err(std::string("Illegal character (") + static_cast<char>(c) + ")");
    ++FCmpPos;
  }
  return FCurTokType;
}

std::string TEditCompiler::extract_var_name(unsigned& length) const {
  length = 0;
  if (FCmpPos + 4 > FCompiled.size()) return std::string();
  int value = 0;
  for (size_t i = 1; i <= 3; ++i) {
    char digit = FCompiled[FCmpPos + i];
    if (!is_digit(digit)) return std::string();
    value = value * 10 + (digit - '0');
  }
  if (FCmpPos + 4 + value > FCompiled.size()) return std::string();
  length = static_cast<unsigned>(value);
  return FCompiled.substr(FCmpPos + 4, length);
}

bool TEditCompiler::is_token(char id, int type) const { return FCurTokId == id && FCurTokType == type; }

bool TEditCompiler::balance_parens() {
  // Each bracket with its line and position.
  std::vector<std::pair<size_t, size_t>> parens, braces;
  // Only the bracket messages decide: the token reader may report others on the way.
  bool balanced = true;
  auto unmatched = [&](const char* message) {
    comp_sntx_err(message);
    balanced = false;
  };
  for (get_next_token(); FCurTokId != '~'; get_next_token()) {
    if (FSkipArguments && is_token('M', 5)) {
      skip_arguments();
      continue;
    }
    if (is_token('(', 3)) parens.emplace_back(FLine, FTokenStart);
    if (is_token('{', 1)) braces.emplace_back(FLine, FTokenStart);
    if (is_token(')', 3)) {
      if (parens.empty()) unmatched("closing parenthesis with no matching opening parenthesis");
      else parens.pop_back();
    }
    if (is_token('}', 1)) {
      if (braces.empty()) unmatched("closing brace with no matching opening brace");
      else braces.pop_back();
    }
  }
  size_t line = FLine;
  for (auto open = parens.rbegin(); open != parens.rend(); ++open) {
    FLine = open->first;
    FTokenStart = open->second;
    unmatched("unbalanced parentheses; please review your code");
  }
  for (auto open = braces.rbegin(); open != braces.rend(); ++open) {
    FLine = open->first;
    FTokenStart = open->second;
    unmatched(kOpenBraceHint);
  }
  FLine = line;
  return balanced;
}

void TEditCompiler::parse_block(int mode) {
  int depth = 0;
  int endMark = -1;  // where the controlled part of the latest if or else ended
  std::vector<int> ifMarks;
  get_next_token();
  if (is_token('{', 1)) {
    depth = 1;
    get_next_token();
  } else if (mode == 1) {
    comp_sntx_err("{ expected");
  }
  // Every token is dispatched, the last one of the text included.
  for (; FCurTokId != '~'; get_next_token()) {
    if (is_token('D', 7)) {
      parse_return();
    } else if (is_token('H', 7) || is_token('I', 7)) {
      parse_vardecl(FCurTokId);
    } else if (is_token('F', 14)) {
      int end = 0;
      parse_if(end);
      if (end < endMark) ifMarks.push_back(endMark);
      endMark = end;
    } else if (is_token('A', 14)) {
      check_else_position(endMark, ifMarks);
      parse_else(endMark);
    } else if (is_token('B', 14)) {
      parse_while();
    } else if (is_token('C', 14)) {
      parse_for();
    } else if (is_token('L', 14)) {
      // A do's block and its closing while (...) are read as the statements that follow.
    } else if (is_token('N', 6)) {
      get_next_token();
      parse_assign();
    } else if (is_token('M', 5) || is_token('m', 5)) {
      parse_fncall();
      get_next_token();
      // The run time leaves a call that the text ends in to its built-in.
      if (!is_token(';', 3) && !(FStructureOnly && FCurTokId == '~')) comp_sntx_err("; expected");
    } else if (is_token('n', 5)) {
      parse_fndecl();
      parse_block(1);
    } else if (is_token(';', 3)) {
    } else if (is_token('}', 1)) {
      --depth;
      if (mode == 1 && depth == 0) return;
      if (depth < 0) comp_sntx_err("unmatched }");
    } else if (is_token('{', 1)) {
      ++depth;
    } else if (FErrors.empty()) {
      comp_sntx_err("Invalid syntax.");
    }
  }
}

// An else must stand where the controlled part of an earlier if ended.
void TEditCompiler::check_else_position(int endMark, std::vector<int>& ifMarks) {
  int position = static_cast<int>(FCmpPos);
  if (position <= endMark) return;
  int last = endMark;
  while (!ifMarks.empty()) {
    last = ifMarks.back();
    ifMarks.pop_back();
    if (last == position) break;
  }
  if (position > last) comp_sntx_err("ELSE without an IF (or preceding IF needs braces '{' and '}')");
}

void TEditCompiler::parse_if(int& end) {
  int fieldPos = static_cast<int>(FCmpPos) - 4;
  get_next_token();
  if (!is_token('(', 3)) comp_sntx_err("( expected");
  walk_expr();
  walk_code_block('F', fieldPos, end);
}

void TEditCompiler::parse_else(int& end) { walk_code_block('A', static_cast<int>(FCmpPos) - 4, end); }

void TEditCompiler::parse_while() {
  int fieldPos = static_cast<int>(FCmpPos) - 4;
  get_next_token();
  if (!is_token('(', 3)) comp_sntx_err("( expected");
  walk_expr();
  int unused = 0;
  walk_code_block('B', fieldPos, unused);
}

void TEditCompiler::parse_for() {
  int fieldPos = static_cast<int>(FCmpPos) - 4;
  parse_for_prep();
  int unused = 0;
  walk_code_block('C', fieldPos, unused);
}

void TEditCompiler::parse_for_prep() {
  get_next_token();
  if (!is_token('(', 3)) comp_sntx_err("( expected");
  int depth = 1, semicolons = 0;
  bool closed = false;
  for (get_next_token(); FCurTokId != '~'; get_next_token()) {
    if (is_token('(', 3)) ++depth;
    if (is_token(';', 3)) ++semicolons;
    if (is_token(')', 3) && --depth == 0) {
      closed = true;
      break;
    }
  }
  if (!closed) comp_sntx_err(") expected");
  if (semicolons != 2) comp_sntx_err("syntax: for(initialize;test;increment)");
}

void TEditCompiler::walk_expr() {
  try {
    walk_expr_tokens();
  } catch (const std::runtime_error& e) {
    FEnginePump->AddError("TEditCompiler", "walk_expr", e.what());
    throw;
  }
}

// From the condition's '(' to its matching ')', which is left just behind.
void TEditCompiler::walk_expr_tokens() {
  int depth = 0, calls = 0;
  bool inCall = false, haveVariable = false;
  TVariableDef* lastVariable = nullptr;
  while (FCurTokId != '~') {
    if (is_token('(', 3)) {
      ++depth;
    } else if (is_token(')', 3)) {
      if (--depth == 0) return;
      if (inCall && --calls == 0) inCall = false;
      get_next_token();
      if (!is_token(')', 3) && FCurTokType != 10) {
        comp_sntx_err("operator expected");
      } else if (FCurTokType == 10) {
        TReadPosition operatorPosition = read_position();
        get_next_token();
        if (is_token('F', 14)) comp_sntx_err("improper nesting of IF");
        if (is_token('B', 14)) comp_sntx_err("improper nesting of WHILE");
        restore_position(operatorPosition);
      }
      continue;
    } else if (is_token('M', 5)) {
      unsigned char code = static_cast<unsigned char>(FCompiled[FCmpPos - 1]);
      inCall = true;
      ++calls;
      get_next_token();
      if (is_token('(', 3)) {
        ++depth;
        ++calls;
      } else if (!FStructureOnly) {
        comp_sntx_err("opening parenthesis expected following function name");
      }
      if (!FStructureOnly) check_params(code, FCompiled, FCmpPos);
    } else if (is_token('N', 6)) {
      lastVariable = FStructureOnly ? nullptr : find_variable(FLastVarName);
      haveVariable = FStructureOnly || lastVariable != nullptr;
      if (!haveVariable) comp_sntx_err("variable \"" + FLastVarName + "\" must be declared");
    } else if (is_token('=', 10)) {
      if (!haveVariable)
        comp_sntx_err("assignment operator without a variable (did you mean \"==\"?)");
      else if (depth > 0)
        comp_sntx_warn("possible incorrect assignment (did you mean \"==\"?)");
    } else if (FCurTokType == 0 && !inCall) {
      comp_sntx_err("syntax error: fields must be accessed through function calls");
    }
    get_next_token();
  }
}

TEditCompiler::TReadPosition TEditCompiler::read_position() const {
  return TReadPosition{FCmpPos, FLine, FCurTokId, FCurTokType, FCharConstant, FTokenStart};
}

void TEditCompiler::restore_position(const TReadPosition& position) {
  FCmpPos = position.Pos;
  FLine = position.Line;
  FCurTokId = position.Id;
  FCurTokType = position.Type;
  FCharConstant = position.CharConstant;
  FTokenStart = position.TokenStart;
}

void TEditCompiler::walk_code_block(char kind, int fieldPos, int& end) {
  try {
    walk_code_block_steps(kind, fieldPos, end);
  } catch (const std::runtime_error& e) {
    FEnginePump->AddError("TEditCompiler", "walk_code_block", e.what());
    throw;
  }
}

// Finds where the controlled part of a construct ends, writes the jump field,
// and goes back so that parse_block parses the part itself.
void TEditCompiler::walk_code_block_steps(char kind, int fieldPos, int& end) {
  TReadPosition entry = read_position();
  size_t start = FCmpPos;
  std::vector<RLt_NestedConstruct> stack;
  stack.push_back(RLt_NestedConstruct{kind, FLine});
  while (!stack.empty() && FCmpPos < FCompiled.size()) {
    get_next_token();
    RLt_NestedConstruct& top = stack.back();
    bool closing = false;
    if (FCurTokType == 14) {
      RLt_NestedConstruct construct{FCurTokId, FLine};
      construct.DoWhile = FCurTokId == 'B' && top.AwaitingWhile;
      stack.push_back(construct);
      if (FCurTokId == 'C') parse_for_prep();
    } else if (is_token('{', 1)) {
      top.Opened = true;
      top.OpenLine = FLine;
    } else if (is_token('}', 1)) {
      if (!top.Opened) comp_sntx_err("} found without matching {");
      top.Closed = true;
      top.CloseLine = FLine;
      closing = true;
    } else if (is_token(';', 3)) {
      closing = !top.Opened;
    }
    if (closing) close_constructs(stack);
  }
  for (const RLt_NestedConstruct& construct : stack) report_braces(construct);
  size_t jump = FCmpPos - start;
  if (jump > static_cast<size_t>(kMaxJump)) {
    TReadPosition here = read_position();
    FLine = entry.Line;
    comp_sntx_err("controlled block too long (> 9999 compiled characters)");
    restore_position(here);
  } else if (fieldPos >= 0 && static_cast<size_t>(fieldPos) + 4 <= FCompiled.size()) {
    char field[16];
    snprintf(field, sizeof field, "%4i", static_cast<int>(jump));
    FCompiled.replace(fieldPos, 4, field);
  }
  if (kind == 'F' || kind == 'A') {
    get_next_token();
    end = static_cast<int>(FCmpPos);
  }
  restore_position(entry);
}

// Reports the braces a construct left unmatched, on the line of the brace.
void TEditCompiler::report_braces(const RLt_NestedConstruct& construct) {
  size_t line = FLine;
  if (construct.Opened && !construct.Closed) {
    FLine = construct.OpenLine;
    comp_sntx_err(kOpenBraceHint);
  }
  if (construct.Closed && !construct.Opened) {
    FLine = construct.CloseLine;
    comp_sntx_err(kCloseBraceHint);
  }
  FLine = line;
}

// Drops the constructs that the current '}' or ';' completes.
void TEditCompiler::close_constructs(std::vector<RLt_NestedConstruct>& stack) {
  bool elseClosed = false;
  while (!stack.empty()) {
    RLt_NestedConstruct& construct = stack.back();
    if (construct.Kind == 'A') {
      if (construct.StillOpen()) return;
      elseClosed = true;
      stack.pop_back();
    } else if (construct.Kind == 'F' && elseClosed) {
      elseClosed = false;
      report_braces(construct);
      stack.pop_back();
    } else if (construct.Kind == 'F' && stack.size() > 1) {
      TReadPosition here = read_position();
      get_next_token();
      if (is_token('A', 14)) {
        for (auto nearest = stack.rbegin(); nearest != stack.rend(); ++nearest) {
          if (nearest->Kind != 'F') continue;
          if (nearest->StillOpen()) comp_sntx_err("mismatched braces; expected '}' before ELSE");
          break;
        }
        stack.push_back(RLt_NestedConstruct{'A', FLine});
        return;
      }
      restore_position(here);
      if (construct.StillOpen()) return;
      stack.pop_back();
    } else if (construct.Kind == 'L' && !construct.StillOpen() && !construct.AwaitingWhile) {
      // A do is complete only with the while (...); that follows its body.
      TReadPosition here = read_position();
      get_next_token();
      bool whileFollows = is_token('B', 14);
      restore_position(here);
      if (whileFollows) {
        construct.AwaitingWhile = true;
        return;
      }
      stack.pop_back();
    } else {
      if (construct.StillOpen()) return;
      bool endsDo = construct.DoWhile;
      stack.pop_back();
      if (endsDo && !stack.empty()) stack.pop_back();
    }
  }
}

void TEditCompiler::parse_assign() {
  std::string target = FLastVarName;
  TVariableDef* def = FStructureOnly ? nullptr : find_variable(target);
  if (def == nullptr && !FStructureOnly) {
    comp_sntx_err("undeclared variable \"" + target + "\"");
    return;
  }
  if (def != nullptr && def->GetVarType() == 'H' && def->GetVarSize() > 1 && is_token('=', 10)) {
    comp_sntx_err("assignment to variables of type ARRAY OF CHAR must use string functions (strcpy, strcat, etc.)");
    return;
  }
  if (is_token('[', 3)) parse_subscript();
  if (!is_token('=', 10)) {
    comp_sntx_err("= expected");
    return;
  }
  char noted = next_code_byte();
  get_next_token();
  while (FCurTokId != '~' && !is_token(';', 3)) {
    if (is_token('M', 5)) {
      if (!FStructureOnly) check_result_type(noted);
      parse_fncall();
      get_next_token();
    } else if (is_token('m', 5)) {
      parse_fncall();
      get_next_token();
    } else if (is_token('n', 5)) {
      comp_sntx_err("; expected at the end of preceding assignment statement");
      return;
    } else if (is_token('{', 1) || is_token('}', 1)) {
      comp_sntx_err(std::string("illegal character ( '") + FCurTokId + "' ) within assignment statement");
      return;
    } else {
      if (!FStructureOnly) check_assigned_value(def, target);
      noted = next_code_byte();
      get_next_token();
      if (is_token(',', 10)) break;
    }
    if (FCurTokType == 14 || FCurTokType == 7) {
      comp_sntx_err("; expected at the end of preceding assignment statement");
      return;
    }
  }
  FLastVarName.clear();
}

void TEditCompiler::parse_subscript() {
  get_next_token();
  if (FCurTokType != 8 && !(FStructureOnly && is_token('N', 6))) {
    TVariableDef* index = is_token('N', 6) ? find_variable(FLastVarName) : nullptr;
    if (index == nullptr) comp_sntx_err("numeric constant or variable required for subscript");
    else if (index->GetVarType() != 'I') comp_sntx_err("subscript variable must be of type integer (int)");
  }
  get_next_token();
  if (!is_token(']', 3)) comp_sntx_err("right bracket required for subscript");
  get_next_token();
}

// The code byte of the next token when it is a built-in call.
char TEditCompiler::next_code_byte() const {
  size_t next = skip_line_marks(FCompiled, FCmpPos);
  return next + 1 < FCompiled.size() ? FCompiled[next + 1] : '\0';
}

void TEditCompiler::check_result_type(char code) {
  TVariableDef* variable = find_variable(FLastVarName);
  // A character constant such as 'M' can read as a call here; it has no result type.
  if (variable == nullptr || FCmpPos >= FCompiled.size() || get_intern_func_name(code).empty()) return;
  const TInternFuncDef* function = get_intern_func_def(code);
  if (variable->GetVarType() == function->Result) return;
  std::string returns = function->Result == 'H' ? "data type CHAR" : function->Result == 'I' ? "data type INT" : "NOTHING";
  comp_sntx_err("variable \"" + FLastVarName + "\" is data type " +
                (variable->GetVarType() == 'H' ? "CHAR" : "INT") + "; function \"" + function->Name +
                "\" returns " + returns);
}

void TEditCompiler::check_assigned_value(TVariableDef* def, const std::string& target) {
  if (FCurTokType == 2 && def->GetVarType() != 'H' && !def->GetIsReported()) {
    comp_sntx_err("illegal assignment: variable \"" + target + "\" is declared to be NUMERIC (INT or LONG)");
    def->SetIsReported(true);
  } else if (FCurTokType == 8 && FLastNumber != 0 && def->GetVarType() != 'I') {
    comp_sntx_err("illegal assignment: variable \"" + target + "\" is declared to be CHAR");
    def->SetIsReported(true);
  } else if (FCurTokType == 11 && FLastString.size() > def->GetVarSize()) {
    comp_sntx_err("string is longer than space allocated for variable \"" + target + "\"");
    def->SetIsReported(true);
  } else if (is_token('N', 6) && find_variable(FLastVarName) == nullptr) {
    comp_sntx_err("variable \"" + FLastVarName + "\" must be declared");
  }
}

void TEditCompiler::parse_vardecl(char type) {
  // Declarations are the run time's to refuse; only their end is structure.
  if (FStructureOnly) {
    while (FCurTokId != '~' && !is_token(';', 3)) get_next_token();
    return;
  }
  while (FCurTokId != '~') {
    get_next_token();
    if (is_token('*', 10)) get_next_token();
    // A token that is no name is reported once; the one after it is read as
    // the separator, as after a name.
    bool named = is_token('N', 6);
    if (!named) {
      if (is_token('H', 7) || is_token('I', 7)) comp_sntx_err("syntax error (variable type in middle of declaration)");
      else comp_sntx_err("syntax error (token should be an IDENTIFIER)");
      if (FCurTokId == '~' || is_token(';', 3)) return;
    }
    std::string name = named ? FLastVarName : std::string();
    size_t size = 1;
    get_next_token();
    if (is_token('=', 10)) {
      comp_sntx_err("syntax error: assignment not allowed in declaration");
    } else if (FCurTokType == 10 && !is_token(',', 10)) {
      comp_sntx_err("syntax error in declaration");
    } else if (is_token('[', 3)) {
      size = parse_declared_size();
    }
    if (named) {
      if (name.empty()) comp_sntx_err("syntax error in declaration");
      else if (size == 0) comp_sntx_err("array size must be greater than 0");
      else declare_variable(name, type, size);
    }
    if (is_token(',', 10)) continue;
    if (is_token(';', 3) || FCurTokId == '~') return;
    comp_sntx_err("syntax error in declaration");
    while (FCurTokId != '~' && !is_token(';', 3)) get_next_token();
    return;
  }
}

// "[n]" of a declaration; the current token is '['. Leaves the token after ']'.
size_t TEditCompiler::parse_declared_size() {
  get_next_token();
  bool number = FCurTokType == 8;
  if (!number) comp_sntx_err("numeric constant required");
  size_t size = static_cast<size_t>(FLastNumber);
  FLastNumber = 0;
  if (number) get_next_token();
  if (!is_token(']', 3)) comp_sntx_err("right bracket required");
  else get_next_token();
  return size;
}

void TEditCompiler::declare_variable(const std::string& name, char type, size_t size) {
  TVariableDef* def = new TVariableDef();
  def->SetName(name);
  def->SetVarType(type);
  def->SetVarSize(size);
  std::string message;
  if (!FVariables->AddVariable(def, message)) {
    comp_sntx_err(message);
    delete def;
  }
}

void TEditCompiler::parse_fndecl() {
  if (FStructureOnly) count_definition();
  get_next_token();
  if (!is_token('(', 3)) comp_sntx_err("( expected");
  get_next_token();
  if (!is_token(')', 3)) comp_sntx_err(") expected");
}

void TEditCompiler::parse_fncall() {
  bool builtIn = is_token('M', 5);
  if (builtIn && FStructureOnly) {
    skip_arguments();
    return;
  }
  unsigned char code = static_cast<unsigned char>(FCompiled[FCmpPos - 1]);
  get_next_token();
  if (!is_token('(', 3)) comp_sntx_err("( expected");
  else if (builtIn) check_params(code, FCompiled, FCmpPos);
  int depth = 1;
  while (depth > 0 && FCmpPos < FCompiled.size()) {
    get_next_token();
    if (is_token('(', 3)) ++depth;
    if (is_token(')', 3)) --depth;
    if (FCurTokId == ';') break;
  }
  if (depth >= 1) comp_sntx_err(") expected");
}

void TEditCompiler::parse_return() {
  int depth = 0;
  bool operand = false, endedOnSemicolon = false, lineSet = false;
  size_t firstLine = FLine;
  while (true) {
    get_next_token();
    if (!lineSet) {
      firstLine = FLine;
      lineSet = true;
    }
    if (FCurTokId == '~') break;
    if (is_token(';', 3)) {
      endedOnSemicolon = true;
      break;
    }
    if (operand) {
      if (FCurTokType == 3 && !is_token(')', 3)) {
        comp_sntx_err("RETURN statements must end with semi-colon (;)");
        continue;
      }
      if (FCurTokType != 3 && FCurTokType != 10) break;
      operand = false;
    }
    if (FCurTokType == 9 || FCurTokType == 8) {
      operand = true;
    } else if (is_token('(', 3)) {
      ++depth;
    } else if (is_token(')', 3)) {
      if (--depth < 0) comp_sntx_err("closing ) encountered without opening (");
      operand = true;
    } else if (is_token('=', 10)) {
      comp_sntx_err("Possibly incorrect assignment");
    } else if (is_token(',', 10)) {
      comp_sntx_err("COMMA not valid in RETURN statement");
    } else if (FCurTokType == 5) {
      parse_fncall();
      operand = true;
    } else if (FCurTokType == 2) {
      get_next_token();
      // The constant's character is read as data; a returned one must be a letter.
      if (FCurTokType != 6 || !isalpha(static_cast<unsigned char>(FCompiled[FCmpPos - 1])))
        comp_sntx_err("expected IDENTIFIER");
      get_next_token();
      if (FCurTokType != 2) comp_sntx_err("unterminated character constant (\"'\" expected)");
      operand = true;
    } else if (is_token('N', 6)) {
      if (!FStructureOnly && find_variable(FLastVarName) == nullptr)
        comp_sntx_err("undeclared variable \"" + FLastVarName + "\"");
      FLastVarName.clear();
      operand = true;
    }
  }
  if (depth > 0) comp_sntx_err(") expected");
  // A return that the text ends in runs to its end.
  if (!endedOnSemicolon && !(FStructureOnly && FCurTokId == '~')) {
    size_t line = FLine;
    FLine = firstLine;
    comp_sntx_err("return statement must end with semi-colon");
    FLine = line;
  }
}
