// Reading and writing the compiled-logic text.
#include "compiler/CompiledText.h"

#include <cctype>
#include <cstdlib>

namespace {

size_t digits_end(const std::string& text, size_t pos) {
  while (pos < text.size() && isdigit(static_cast<unsigned char>(text[pos]))) ++pos;
  return pos;
}

// Length of a name or number operand: three decimal digits; below zero when
// the field holds other characters.
long decimal_length(const std::string& text, size_t pos) {
  if (pos + 4 > text.size()) return 0;
  return (text[pos + 1] - '0') * 100L + (text[pos + 2] - '0') * 10L + (text[pos + 3] - '0');
}

// Length of a string operand: the tens byte read unsigned, the hundreds
// ignored; below zero when the units are no digit.
long string_length(const std::string& text, size_t pos) {
  if (pos + 4 > text.size()) return 0;
  return 10L * (static_cast<unsigned char>(text[pos + 2]) - '0') + (text[pos + 3] - '0');
}

// A length below zero reads as "the rest of the text".
size_t operand_count(long length) { return length < 0 ? std::string::npos : static_cast<size_t>(length); }

}  // namespace

std::string length_field(size_t length) {
  std::string field;
  field += static_cast<char>('0' + length / 100);
  field += static_cast<char>('0' + length / 10);
  field += static_cast<char>('0' + length % 10);
  return field;
}

size_t body_start(const std::string& text) {
  if (text.empty()) return 0;
  size_t functions = static_cast<unsigned char>(text[0]) - '@';
  return std::min(text.size(), 1 + 5 * functions);
}

size_t token_width(const std::string& text, size_t pos) {
  long width = 1;
  long length = 0;
  switch (text[pos]) {
    case '"': width = 4 + (length = string_length(text, pos)); break;
    case 'N':
    case 'U': width = 4 + (length = decimal_length(text, pos)); break;
    case '#': width = static_cast<long>(digits_end(text, pos + 1) - pos); break;
    case 'M':
    case 'm':
    case 'n': width = 2; break;
    case 'A':
    case 'B':
    case 'C':
    case 'F':
    case 'L': width = 5; break;
    case '\'': width = 3; break;
  }
  // A length field that decodes below zero or past the text ends the walk:
  // a walk never stands still or steps back.
  size_t rest = text.size() - pos;
  return length < 0 || static_cast<size_t>(width) > rest ? rest : static_cast<size_t>(width);
}

size_t skip_line_marks(const std::string& text, size_t pos) {
  while (pos < text.size() && text[pos] == '\n') ++pos;
  return pos;
}

bool is_string_token(const std::string& text, size_t pos) {
  return pos < text.size() && text[pos] == '"' && pos + 4 <= text.size();
}

std::string string_token_text(const std::string& text, size_t pos) {
  if (!is_string_token(text, pos)) return std::string();
  return text.substr(pos + 4, operand_count(string_length(text, pos)));
}

std::vector<TCompiledCall> find_calls(const std::string& text, char code) {
  std::vector<TCompiledCall> calls;
  for (size_t pos = skip_line_marks(text, body_start(text)); pos < text.size();
       pos = skip_line_marks(text, pos + token_width(text, pos))) {
    if (text[pos] != 'M' || pos + 1 >= text.size() || text[pos + 1] != code) continue;
    size_t open = skip_line_marks(text, pos + 2);
    if (open >= text.size() || text[open] != '(') continue;
    TCompiledCall call{pos, {}, {}};
    bool closed = false;
    int depth = 1;
    size_t next = skip_line_marks(text, open + 1);
    if (next < text.size() && text[next] != ')') call.Arguments.push_back(next);
    for (size_t p = next; p < text.size() && depth > 0; p = skip_line_marks(text, p + token_width(text, p))) {
      char c = text[p];
      if (c == '(') ++depth;
      if (c == ')') {
        --depth;
        closed = true;
      }
      if (c == ',' && depth == 1) call.Arguments.push_back(skip_line_marks(text, p + 1));
      if (c == 'U' && !closed && p + 4 <= text.size())
        call.Numbers.push_back(atoi(text.substr(p + 4, operand_count(decimal_length(text, p))).c_str()));
    }
    calls.push_back(call);
  }
  return calls;
}
