// The structure check of a compiled text: every token must be one that the
// first pass writes, and the second pass, reading the text again without the
// data dictionary, the symbol table, the built-in catalogue or the built-ins'
// argument lists, must find nothing to report and write the same header and
// jump fields. The first place where the text departs from what the compiler
// writes is the verdict.
#include <cstdlib>
#include <cstring>

#include "compiler/CompiledText.h"
#include "compiler/EditCompiler.h"

namespace {

const size_t kSlotWidth = 5;
const size_t kFieldWidth = 4;
const size_t kLengthWidth = 3;
const size_t kMaxOperand = 99;
// Where a character constant's closing quote stands after its opening one.
const size_t kClosingQuote = 2;
// Far more function definitions than a source holds that the compiler reads
// without errors (it finds at most 26 functions).
const size_t kMaxDefinitions = 1000;
// Characters that end a name in the source, so a name never holds one.
const char* const kNameEnds = " \t\r!;,+-<>'%^=()[]{}";
// The characters that the first pass writes where a token starts.
const char* const kTokenCharacters = "!\"#%&'()*+,-./:;<=>ABCDEFGHIJKLMNOPQRSTUWXYZ[]mnyz{|}";
const char* const kKeywords = "ABCFL";
// Bytes that cannot stand as a built-in's code: the end of a stored text, and
// the line mark, which the debugging trace counts as a line wherever it stands.
const char kTextEnd = '\0';
const char kLineMark = '\n';

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

}  // namespace

TStructureFault TEditCompiler::CheckStructure(const std::string& compiled) {
  TEditCompiler checker(nullptr, nullptr, nullptr);
  checker.FStructureOnly = true;
  checker.FCompiled = compiled;
  try {
    checker.check_structure();
  } catch (const TStructureBreak&) {
  }
  return checker.FFault;
}

// The steps of a compile after the first pass, on the text as it stands:
// the bracket balance, the statements, and the header and jump fields that
// the compiler would have written.
void TEditCompiler::check_structure() {
  if (FCompiled.empty()) return;
  unsigned char count = static_cast<unsigned char>(FCompiled[0]);
  if (count < '@' || count - '@' > static_cast<int>(kMaxFunctions)) structure_fault(TStructureFault::kDamaged, 0);
  FFunctions = count - '@';
  size_t body = 1 + kSlotWidth * FFunctions;
  if (body > FCompiled.size()) structure_fault(TStructureFault::kJumpPast, 0);
  for (size_t pos = 1; pos < body; ++pos)
    if (!is_digit(static_cast<unsigned char>(FCompiled[pos]))) structure_fault(TStructureFault::kDamaged, pos);
  const std::string original = FCompiled;
  size_t start = FFunctions > 0 ? body : 0;
  scan_written_tokens(body);
  check_header();
  for (size_t field : FKeywordFields) FCompiled.replace(field, kFieldWidth, kFieldWidth, ' ');
  // The second pass, from the state in which the first leaves it: the
  // compiler's own bracket balance or, failing that, the balance outside
  // the built-ins' argument lists, which the run time leaves to them.
  if (!balanced_from(start, false)) balanced_from(start, true);
  FCmpPos = start;
  FLine = 0;
  parse_block(0);
  check_jump_fields(original);
}

bool TEditCompiler::balanced_from(size_t start, bool skipArguments) {
  FCmpPos = start;
  FLine = 0;
  FCharConstant = 0;
  FCurTokId = '~';
  FSkipArguments = skipArguments;
  if (skipArguments) return balance_parens();
  try {
    return balance_parens();
  } catch (const TStructureBreak&) {
    FFault = TStructureFault();
    return false;
  }
}

void TEditCompiler::structure_fault(TStructureFault::TKind kind, size_t position, char character) {
  FFault.Kind = kind;
  FFault.Position = position;
  FFault.Character = character;
  throw TStructureBreak();
}

// Every token as the first pass writes it, noting the jump fields and the
// function definitions on the way.
void TEditCompiler::scan_written_tokens(size_t start) {
  bool inCharConstant = false;
  for (size_t pos = start;; ) {
    pos = skip_line_marks(FCompiled, pos);
    if (pos >= FCompiled.size()) return;
    size_t width = written_width(pos, inCharConstant);
    if (strchr(kKeywords, FCompiled[pos]) != nullptr) FKeywordFields.push_back(pos + 1);
    if (FCompiled[pos] == 'n' && FCompiled[pos + width - 1] != 'n') FDefinitions.push_back(pos + width - 1);
    pos += width;
  }
}

// The width of the token that starts at pos: a character that the first
// pass writes there and the operand that it promises.
size_t TEditCompiler::written_width(size_t pos, bool& inCharConstant) {
  const std::string& text = FCompiled;
  unsigned char c = static_cast<unsigned char>(text[pos]);
  if (c >= 127) structure_fault(TStructureFault::kUnknownByte, pos, static_cast<char>(c));
  if (c == '\0' || strchr(kTokenCharacters, c) == nullptr) structure_fault(TStructureFault::kDamaged, pos);
  auto fits = [&](size_t width) { return pos + width <= text.size(); };
  auto digit_at = [&](size_t at) { return at < text.size() && is_digit(static_cast<unsigned char>(text[at])); };
  size_t width = 1;
  bool written = true;
  if (c == '"') {
    // Tens written as one byte from "0" on, units as a digit, hundreds as a digit.
    unsigned char tens = fits(kLengthWidth + 1) ? static_cast<unsigned char>(text[pos + 2]) : 0;
    written = tens >= '0' && tens - '0' <= static_cast<int>(kMaxOperand) && digit_at(pos + 3);
    size_t length = written ? (tens - '0') * 10 + (text[pos + 3] - '0') : 0;
    width = 1 + kLengthWidth + length;
    written = written && text[pos + 1] == static_cast<char>('0' + length / 100) && fits(width);
  } else if (c == '#') {
    width = text.compare(pos + 1, 1, "-") == 0 ? 2 : 1;
    written = digit_at(pos + width);
    while (digit_at(pos + width)) ++width;
  } else if (c == 'N' || c == 'U') {
    written = written_operand(text, pos, c == 'N');
    width = written ? 1 + kLengthWidth + atoi(text.substr(pos + 1, kLengthWidth).c_str()) : 1;
  } else if (c == 'M' || c == 'm') {
    // A built-in's code is data, whether or not a built-in has it: a call of
    // a code without one stops the edit when it runs, before it reads any
    // argument. A call's letter names a function.
    written = c == 'M' ? fits(2) && text[pos + 1] != kTextEnd && text[pos + 1] != kLineMark
                       : function_index(pos + 1) < FFunctions;
    width = 2;
  } else if (c == 'n') {
    size_t letter = skip_line_marks(text, pos + 1);
    width = definition_letter(letter) ? letter + 1 - pos : 1;
  } else if (c == '\'') {
    width = quote_width(pos, inCharConstant);
  } else if (strchr(kKeywords, c) != nullptr) {
    width = 1 + kFieldWidth;
    written = fits(width);
  }
  if (!written) structure_fault(TStructureFault::kDamaged, pos);
  return width;
}

// The index of the function whose letter stands at pos, or the count of
// functions when none does.
size_t TEditCompiler::function_index(size_t pos) const {
  if (pos >= FCompiled.size() || FCompiled[pos] < 'A') return FFunctions;
  size_t index = static_cast<size_t>(FCompiled[pos] - 'A');
  return index < FFunctions ? index : FFunctions;
}

// The letter after the line marks that follow a definition word; none when
// the first pass did not find the name, and the token that follows stands
// there. A letter's slot holds the body of its last definition, at or after it.
bool TEditCompiler::definition_letter(size_t pos) const {
  size_t index = function_index(pos);
  if (index == FFunctions) return false;
  size_t body = static_cast<size_t>(atoi(FCompiled.substr(1 + kSlotWidth * index, kSlotWidth).c_str()));
  if (body == pos + 1) return true;
  if (body < pos + 1) return false;
  unsigned char next = pos + 1 < FCompiled.size() ? static_cast<unsigned char>(FCompiled[pos + 1]) : '\n';
  return next == '\n' || (next != '\0' && next < 127 && strchr(kTokenCharacters, next) != nullptr);
}

// An opening quote copies the constant's character (never white) and the
// closing quote follows it at once, as the run time reads the three bytes
// together; a closing quote copies the next source character, after the line
// marks before it. A text that ends inside a constant fails where it ends.
size_t TEditCompiler::quote_width(size_t pos, bool& inCharConstant) {
  const std::string& text = FCompiled;
  size_t width = 1;
  if (!inCharConstant) {
    if (pos + 1 < text.size() && strchr(" \t\r\n", text[pos + 1]) != nullptr)
      structure_fault(TStructureFault::kDamaged, pos);
    if (pos + kClosingQuote < text.size() && text[pos + kClosingQuote] != '\'')
      structure_fault(TStructureFault::kDamaged, pos);
    if (pos + 1 < text.size()) ++width;
  } else {
    width = skip_line_marks(text, pos + 1) - pos;
    if (pos + width < text.size()) ++width;
  }
  inCharConstant = !inCharConstant;
  return width;
}

// A name (lower case, as a source word) or a number's digits, with a length
// field of three digits from 1 to 99.
bool TEditCompiler::written_operand(const std::string& text, size_t pos, bool name) {
  if (pos + 1 + kLengthWidth > text.size()) return false;
  for (size_t i = 1; i <= kLengthWidth; ++i)
    if (!is_digit(static_cast<unsigned char>(text[pos + i]))) return false;
  size_t length = static_cast<size_t>(atoi(text.substr(pos + 1, kLengthWidth).c_str()));
  size_t start = pos + 1 + kLengthWidth;
  if (length == 0 || length > kMaxOperand || start + length > text.size()) return false;
  if (name && (text[start] < 'a' || text[start] > 'z')) return false;
  for (size_t i = start; i < start + length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool fitting = name ? !(c >= 'A' && c <= 'Z') && strchr(kNameEnds, c) == nullptr : is_digit(c);
    if (!fitting || c == '\0') return false;
  }
  return true;
}

// The argument list of a built-in call is the built-in's to read at run
// time: through the ")" that closes it, to the end of the text when none
// does, and, when no "(" follows the call, up to the next ";".
void TEditCompiler::skip_arguments() {
  TReadPosition call = read_position();
  get_next_token();
  if (is_token('(', 3)) {
    for (int depth = 1; depth > 0 && FCurTokId != '~';) {
      get_next_token();
      if (is_token('(', 3)) ++depth;
      if (is_token(')', 3)) --depth;
    }
    return;
  }
  restore_position(call);
  for (;;) {
    TReadPosition before = read_position();
    get_next_token();
    if (FCurTokId == '~' || is_token(';', 3)) {
      restore_position(before);
      return;
    }
  }
}

// Each header slot holds the body of the last definition of its function
// (just after its letter), or 0 when there is none.
void TEditCompiler::check_header() {
  for (size_t i = 0; i < FFunctions; ++i) {
    size_t slot = 1 + kSlotWidth * i;
    size_t body = 0;
    for (size_t letter : FDefinitions)
      if (static_cast<size_t>(FCompiled[letter] - 'A') == i) body = letter + 1;
    if (static_cast<size_t>(atoi(FCompiled.substr(slot, kSlotWidth).c_str())) != body)
      structure_fault(TStructureFault::kDamaged, slot);
  }
}

// The parse has written every jump field again into blank fields: a field
// that differs moves back, past the end or elsewhere than the compiler's.
void TEditCompiler::check_jump_fields(const std::string& original) {
  for (size_t field : FKeywordFields) {
    if (FCompiled.compare(field, kFieldWidth, original, field, kFieldWidth) == 0) continue;
    int jump = atoi(original.substr(field, kFieldWidth).c_str());
    TStructureFault::TKind kind = jump < 1 ? TStructureFault::kJumpBack
                                  : field + kFieldWidth + static_cast<size_t>(jump) > original.size()
                                      ? TStructureFault::kJumpPast
                                      : TStructureFault::kDamaged;
    structure_fault(kind, field - 1);
  }
  if (FCompiled != original) {
    size_t pos = 0;
    while (FCompiled[pos] == original[pos]) ++pos;
    structure_fault(TStructureFault::kDamaged, pos);
  }
}

// Each definition opens a body of its own, read by a call of its own: a
// bound on them keeps that reading off the end of the stack.
void TEditCompiler::count_definition() {
  if (++FDefinitionsParsed > kMaxDefinitions) structure_fault(TStructureFault::kDamaged, FTokenStart);
}
