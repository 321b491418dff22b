// The compiler's first pass: turns comment-free QUELT source into compiled
// text one token per call, resolving field names and counting lines.
#include <cctype>
#include <cstring>
#include <stdexcept>

#include "compiler/CompiledText.h"
#include "compiler/EditCompiler.h"
#include "storage/EngineErrorsPump.h"
#include "storage/SQLQuery.h"
#include "storage/Utility.h"

namespace {

struct TTokGen {
  const char* Spelling;
  int Id;
  int Class;
  char Compiled;
};

// Searched from the last row to the first, so a later row wins.
const TTokGen tokgenlist[69] = {
    {"!", '!', 10, '!'},         {"not", '!', 10, '!'},       {"\"", 11, 11, '"'},
    {"#", '#', 0, '#'},          {"%", '%', 10, '%'},         {"mod", '%', 10, '%'},
    {"&&", '&', 10, '&'},        {"and", '&', 10, '&'},       {"'", '\'', 2, '\''},
    {"(", '(', 3, '('},          {")", ')', 3, ')'},          {"*", '*', 10, '*'},
    {"+", '+', 10, '+'},         {",", ',', 10, ','},         {"-", '-', 10, '-'},
    {".", '.', 3, '.'},          {"/", '/', 10, '/'},         {":", ':', 3, ':'},
    {";", ';', 3, ';'},          {"<", '<', 10, '<'},         {"=", '=', 10, '='},
    {">", '>', 10, '>'},         {"else", 'A', 14, 'A'},      {"while", 'B', 14, 'B'},
    {"for", 'C', 14, 'C'},       {"return", 'D', 7, 'D'},     {"==", 'E', 10, 'E'},
    {"if", 'F', 14, 'F'},        {">=", 'G', 10, 'G'},        {"char", 'H', 7, 'H'},
    {"int", 'I', 7, 'I'},        {"long", 'I', 7, 'I'},       {"tablevar", 'H', 7, 'H'},
    {"!=", 'J', 10, 'J'},        {"<=", 'K', 10, 'K'},        {"do", 'L', 14, 'L'},
    {"libfnc", 'M', 5, 'M'},     {"var", 'N', 6, 'N'},        {"dt_today", 'O', 9, 'O'},
    {"dt_unknown", 'P', 9, 'P'}, {"fail", '0', 9, 'Q'},       {"pass", '1', 9, 'R'},
    {"dt_max", '2', 9, 'S'},     {"dt_exact", '3', 9, 'T'},   {"number", 'U', 8, 'U'},
    {"dt_empty", 'W', 9, 'W'},   {"dt_valid", 'X', 9, 'X'},   {"false", '0', 9, 'Q'},
    {"off", '0', 9, 'Q'},        {"right", '0', 9, 'Q'},      {"on", '1', 9, 'R'},
    {"true", '1', 9, 'R'},       {"dt_min", '1', 9, 'R'},     {"dt_missing", 'Y', 9, 'Y'},
    {"left", '1', 9, 'R'},       {"warn", '2', 9, 'S'},       {"step", '2', 9, 'S'},
    {"dt_error", 'Z', 9, 'Z'},   {"both", '2', 9, 'S'},       {"dt_day_empty", 'y', 9, 'y'},
    {"dt_month_empty", 'z', 9, 'z'}, {"[", '[', 3, '['},      {"]", ']', 3, ']'},
    {"funccall", 'm', 5, 'm'},   {"function", 'n', 5, 'n'},   {"{", '{', 1, '{'},
    {"or", '|', 10, '|'},        {"||", '|', 10, '|'},        {"}", '}', 1, '}'},
};

const char* const kWordDelimiters = " \t\r!;,+-<>'%^=()[]{}";
const char* const kNameDelimiters = " \t\r\n!;,+-<>'%^=()[]{}";
// White space that never reaches the compiled text.
const char* const kBlanks = " \t\r";
const size_t kMaxOperand = 99;
const size_t kMaxString = 999;

bool is_letter(char c) { return isalpha(static_cast<unsigned char>(c)) != 0; }
bool is_digit(char c) { return isdigit(static_cast<unsigned char>(c)) != 0; }
bool is_white(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

size_t word_end(const std::string& text, size_t pos, const char* delimiters) {
  size_t end = text.find_first_of(delimiters, pos);
  return end == std::string::npos ? text.size() : end;
}

// The list string of INLIST: pieces between commas trimmed, a trailing comma dropped.
std::string normalise_list(const std::string& text) {
  if (rtrim(text, " \t").empty()) return text;
  std::string result;
  size_t start = 0;
  for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1) {
    std::string piece = text.substr(start, comma - start);
    std::string trimmed = trim(piece, " \t");
    result += (trimmed.empty() ? piece : trimmed) + ",";
  }
  std::string rest = text.substr(start);
  if (rest.empty()) return result.substr(0, result.size() - 1);
  std::string trimmed = trim(rest, " \t");
  return result + (trimmed.empty() ? rest : trimmed);
}

}  // namespace

// Passes blanks, tabs, carriage returns and newlines; each newline counts a
// line and leaves a line mark, held back in heldMarks when asked.
void TEditCompiler::skip_white_space(bool holdLineMarks, std::string& heldMarks) {
  while (FSrcPos < FSource.size() && is_white(FSource[FSrcPos])) {
    if (FSource[FSrcPos] == '\n') {
      ++FLine;
      (holdLineMarks ? heldMarks : FCompiled) += '\n';
    }
    ++FSrcPos;
  }
}

// The row of tokgenlist that matches at FSrcPos, or -1. Records the hints for
// "<>", "=>" and "=<", which move on by one character.
int TEditCompiler::match_row() {
  for (int row = FTokRows - 1; row >= 0; --row) {
    const TTokGen& token = tokgenlist[row];
    // "libfnc", "var", "number" and "funccall" stand for tokens with operands
    // that only the compiler writes: in the source they are ordinary names.
    if (strchr("MNUm", token.Compiled) != nullptr) continue;
    size_t length = strlen(token.Spelling);
    if (FSrcPos + length > FSource.size() ||
        strncasecmp(FSource.c_str() + FSrcPos, token.Spelling, length) != 0)
      continue;
    char after = FSrcPos + length < FSource.size() ? FSource[FSrcPos + length] : '\0';
    if (is_letter(token.Spelling[0]) && (is_letter(after) || after == '_')) continue;
    if (after == '(' && token.Class != 14 && token.Class != 10 && token.Class != 7 && token.Class != 3 &&
        token.Id != 'n')
      continue;
    char current = FSource[FSrcPos];
    const char* hint = nullptr;
    if (current == '<' && after == '>') hint = "Syntax error (\"<>\"); did you mean \"!=\"?";
    if (current == '=' && after == '>') hint = "Syntax error (\"=>\"); did you mean \">=\"?";
    if (current == '=' && after == '<') hint = "Syntax error (\"=<\"); did you mean \"<=\"?";
    if (hint != nullptr) {
      comp_sntx_err(hint);
      ++FSrcPos;
      continue;
    }
    return row;
  }
  return -1;
}

void TEditCompiler::append_operand(char tokenChar, const std::string& operand) {
  std::string text = operand;
  if (text.size() > kMaxOperand) {
    comp_sntx_err(tokenChar == 'U' ? "number too long (> 99 digits)" : "name too long (> 99 characters)");
    if (tokenChar == 'U') FCutNumbers.push_back(FCompiled.size());
    text.resize(kMaxOperand);
  }
  FCompiled += tokenChar + length_field(text.size()) + text;
}

void TEditCompiler::append_number() {
  size_t end = FSrcPos;
  while (end < FSource.size() && is_digit(FSource[end])) ++end;
  append_operand('U', FSource.substr(FSrcPos, end - FSrcPos));
  FSrcPos = end;
}

int TEditCompiler::tokenize(int& inlistState) {
  size_t start = FSrcPos;
  std::string heldMarks;
  skip_white_space(false, heldMarks);
  int result = 0;
  int row = FSrcPos < FSource.size() ? match_row() : -1;
  if (row >= 0) {
    const TTokGen& token = tokgenlist[row];
    FSrcPos += strlen(token.Spelling);
    FCompiled += token.Compiled;
    FCurTokId = static_cast<char>(token.Id);
    FCurTokType = token.Class;
    bool openingQuote = token.Id == '\'' && !FInCharConstant;
    bool blank = openingQuote && FSrcPos < FSource.size() && is_white(FSource[FSrcPos]);
    if (blank) comp_sntx_err("blank character constant not supported (use 32)");
    if (token.Class != 11) skip_white_space(token.Class == 14, heldMarks);
    if (token.Class == 14) FCompiled += "    " + heldMarks;
    if (token.Id == 'n') take_function_definition();
    if (token.Id == '#') take_field_reference(inlistState);
    if (token.Id == '\'') {
      FInCharConstant = openingQuote;
      if (FSrcPos < FSource.size()) FCompiled += FSource[FSrcPos++];
      if (openingQuote && !blank) check_closing_quote();
    }
    if (token.Id == 11) result = take_string_constant(inlistState);
    if (result == 0 && FSrcPos < FSource.size() && is_digit(FSource[FSrcPos])) append_number();
  } else if (FSrcPos < FSource.size() && is_letter(FSource[FSrcPos])) {
    take_word(inlistState);
  } else if (FSrcPos < FSource.size() && is_digit(FSource[FSrcPos])) {
    append_number();
  }
  if (result == 0 && FSrcPos < FSource.size() && FSrcPos == start) {
    comp_sntx_err(std::string("Illegal character (") + FSource[FSrcPos] + ")");
    ++FSrcPos;
  }
  if (FSrcPos >= FSource.size()) FCurTokId = '~';
  return result;
}

// The run time reads a character constant as three bytes, quote, character
// and quote: anything else between them, a line break too, would be read as
// what it is not. A source that ends there is left to the run time.
void TEditCompiler::check_closing_quote() {
  size_t next = FSource.find_first_not_of(kBlanks, FSrcPos);
  if (next != std::string::npos && FSource[next] != '\'')
    comp_sntx_err("unterminated character constant (\"'\" expected)");
}

void TEditCompiler::take_function_definition() {
  size_t end = word_end(FSource, FSrcPos, kNameDelimiters);
  std::string name = FSource.substr(FSrcPos, end - FSrcPos).substr(0, 32);
  FSrcPos = end;
  for (size_t i = 0; i < FUDFs.size(); ++i) {
    if (posix_stricmp(FUDFs[i]->Name, name.c_str()) != 0) continue;
    FCompiled += static_cast<char>('A' + i);
    FUDFs[i]->Offset = static_cast<int>(FCompiled.size());
    return;
  }
}

void TEditCompiler::take_field_reference(int& inlistState) {
  if (inlistState == 1) inlistState = 2;
  bool formS = FSrcPos < FSource.size() && (FSource[FSrcPos] == 'S' || FSource[FSrcPos] == 's');
  if (!formS) {
    comp_sntx_err("field identifiers must use form like: #S\"Primary Site\"");
  } else {
    ++FSrcPos;
    // Newlines here are neither counted nor written: no line mark may fall
    // between '#' and its digits.
    while (FSrcPos < FSource.size() && is_white(FSource[FSrcPos])) ++FSrcPos;
    if (FSrcPos < FSource.size() && FSource[FSrcPos] == '"') {
      size_t closing = FSource.find('"', FSrcPos + 1);
      if (closing == std::string::npos) {
        skip_unterminated_string();
        return;
      }
      std::string digits = field_name_to_field_num(FSource.substr(FSrcPos, closing - FSrcPos + 1));
      FCompiled += digits;
      add_to_logic_fields(atoi(digits.c_str()));
      FSrcPos = closing + 1;
      return;
    }
    if (FSrcPos >= FSource.size() || !is_digit(FSource[FSrcPos]))
      comp_sntx_err("field identifiers must use form like: #S\"Primary Site\"");
  }
  while (FSrcPos < FSource.size() && is_digit(FSource[FSrcPos])) FCompiled += FSource[FSrcPos++];
}

// The rest of the line, its newline included, is passed over.
void TEditCompiler::skip_unterminated_string() {
  comp_sntx_err("unterminated string (\" expected)");
  size_t newline = FSource.find('\n', FSrcPos);
  if (newline == std::string::npos) {
    FSrcPos = FSource.size();
    return;
  }
  FSrcPos = newline + 1;
  ++FLine;
  FCompiled += '\n';
}

int TEditCompiler::take_string_constant(int& inlistState) {
  size_t closing = FSource.find('"', FSrcPos);
  if (closing == std::string::npos) {
    skip_unterminated_string();
    return 0;
  }
  std::string text = FSource.substr(FSrcPos, closing - FSrcPos);
  if (inlistState == 1) {
    inlistState = 2;
  } else if (inlistState == 2) {
    text = normalise_list(text);
    inlistState = 0;
  }
  if (text.size() > kMaxString) {
    FCurTokId = '~';
    comp_sntx_err("string constant is too long ( > 999 characters)");
    return 3;
  }
  FCompiled += length_field(text.size()) + text;
  FSrcPos = closing + 1;
  return 0;
}

void TEditCompiler::take_word(int& inlistState) {
  size_t end = word_end(FSource, FSrcPos, kWordDelimiters);
  std::string word = lowercase_string(FSource.substr(FSrcPos, end - FSrcPos));
  FSrcPos = end;
  char code = get_intern_func_code(word);
  if (code != ' ') {
    FCompiled += 'M';
    FCompiled += code;
    if (code == 'U') inlistState = 1;
    return;
  }
  for (size_t i = 0; i < FUDFs.size(); ++i) {
    if (word != FUDFs[i]->Name) continue;
    FCompiled += 'm';
    FCompiled += static_cast<char>('A' + i);
    return;
  }
  size_t next = FSrcPos;
  while (next < FSource.size() && FSource[next] == ' ') ++next;
  if (next < FSource.size() && FSource[next] == '(')
    comp_sntx_err("call to undefined function \"" + word + "\" (neither quelt-language nor user-defined)");
  append_operand('N', word);
  if (inlistState == 1) {
    inlistState = 2;
  } else if (inlistState == 2) {
    comp_sntx_err("the second parameter to INLIST must be a string constant");
    inlistState = 0;
  }
}

std::string TEditCompiler::field_name_to_field_num(std::string name) {
  std::string bare = name;
  if (!bare.empty() && bare.front() == '"') bare.erase(0, 1);
  if (!bare.empty() && bare.back() == '"') bare.pop_back();
  std::string sql = "SELECT FieldNumber FROM RL_Fields WHERE FieldName = '" + quote_sql_value(bare) + "';";
  open_dictionary_query("field_name_to_field_num", sql);
  std::string number = FQuery->Eof() ? std::string() : FQuery->GetFieldByName("FieldNumber");
  FQuery->SetIsActive(false);
  if (number.empty()) {
    comp_sntx_err("field name " + name + " not in data dictionary");
    return "0000";
  }
  return number;
}

// Runs a data-dictionary query on the shared statement. Its failure is a
// problem of the metafile, not of the logic: recorded and thrown.
void TEditCompiler::open_dictionary_query(const char* method, const std::string& sql) {
  FQuery->SetIsActive(false);
  try {
    FQuery->OpenSelect(sql);
  } catch (const std::runtime_error&) {
    FEnginePump->AddError("TEditCompiler", method, "failure to open query");
    FEnginePump->AddError("TEditCompiler", method, "SQL: " + sql);
    throw;
  }
}
