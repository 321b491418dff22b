// Reading and writing the compiled-logic text: token widths, length fields,
// string operands and a token-aware search for built-in calls.
#pragma once

#include <string>
#include <vector>

// Where a compiled text first departs from what the compiler writes.
struct TStructureFault {
  enum TKind {
    kNone,
    kUnknownByte,  // a byte of 127 or above where a token starts
    kJumpBack,     // a jump field that moves by less than one
    kJumpPast,     // a jump field or header that reaches past the end
    kDamaged,      // any other departure
  };
  TKind Kind = kNone;
  size_t Position = 0;
  char Character = 0;  // the byte of kUnknownByte
};

// The three characters of a length field for operand length L.
std::string length_field(size_t length);

// Position of the first body token: just after the header.
size_t body_start(const std::string& text);

// Width of the token at pos (line marks are not tokens), as a reader that
// executes the text steps over it; never 0 and never past the end.
size_t token_width(const std::string& text, size_t pos);

// Position of the next token at or after pos, passing line marks.
size_t skip_line_marks(const std::string& text, size_t pos);

bool is_string_token(const std::string& text, size_t pos);
// Text of the string constant at pos.
std::string string_token_text(const std::string& text, size_t pos);

// One call of a built-in in the compiled text.
struct TCompiledCall {
  size_t Position;                // of its 'M'
  std::vector<size_t> Arguments;  // position of the first token of each argument
  std::vector<int> Numbers;       // number constants before the first ')'
};

// Every call of the built-in with that code, in text order.
std::vector<TCompiledCall> find_calls(const std::string& text, char code);
