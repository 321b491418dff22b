// The string built-ins, which inspect and cut texts, and the string-building
// built-ins strcpy, strcat and fmtstr, which write a character variable.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "library/LibFuncs.h"
#include "runtime/RunEdits.h"
#include "runtime/Variable.h"

namespace {

const TTokenID kComma = ',';
const TTokenID kCloseParen = ')';
const TTokenID kMinus = '-';
const TTokenID kLibCall = 'M';
const TTokenID kVariableToken = 'N';
const TTokenType kNamedConstant = 9;
const TTokenID kRightFlag = 48;  // right, then left and both

const int kRight = 0;
const int kLeft = 1;
const int kBoth = 2;

// Padding or a field is built at most this far beyond the target's declared
// size: the declared-size message shows less of the text, so it reads the same.
const size_t kBeyondTarget = 256;
const size_t kMessageSize = 200;

const char* const kCommaOrParen = "COMMA or RPAREN expected";
const char* const kCloseExpected = "syntax error: closing parenthesis expected";
const char* const kFirstComma = "syntax error: expected comma between first and second parameters";
const char* const kTrimFlag = "syntax error: expected trim flag (RIGHT or LEFT)";
const char* const kCharTarget = "syntax error: first parameter must be a CHAR[n] variable";

bool is_blank(char c) { return c == ' '; }

// Chunk number (from 1) of the first chunk of `width` bytes that holds the
// needle whole; 0 when none does.
TValueWord chunk_holding(std::string_view needle, std::string_view haystack, int32_t width) {
  if (haystack.empty()) return 0;
  size_t size = width < 0 ? haystack.size() : static_cast<size_t>(width);
  for (size_t p = haystack.find(needle); p != std::string_view::npos; p = haystack.find(needle, p + 1)) {
    size_t chunk = p / size;
    if (p + needle.size() <= (chunk + 1) * size) return static_cast<TValueWord>(chunk + 1);
  }
  return 0;
}

// -1, 0 or 1 as a is below, equal to or above b, on unsigned bytes; a proper
// prefix is the smaller.
TValueWord compare(std::string_view a, std::string_view b) {
  int order = memcmp(a.data(), b.data(), a.size() < b.size() ? a.size() : b.size());
  if (order == 0 && a.size() != b.size()) order = a.size() < b.size() ? -1 : 1;
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

// A width as atoi reads it, held between 0 and bound.
size_t width_of(const char* text, size_t bound) {
  long long width = strtoll(text, nullptr, 10);
  if (width < 0) return 0;
  return static_cast<unsigned long long>(width) < bound ? static_cast<size_t>(width) : bound;
}

}  // namespace

void TLibFuncs::setup_string_functions() {
  set_function(0x41, &TLibFuncs::call_at);
  set_function(0x4B, &TLibFuncs::call_empty);
  set_function(0x4E, &TLibFuncs::call_fmtstr);
  set_function(0x56, &TLibFuncs::call_justified);
  set_function(0x57, &TLibFuncs::call_left);
  set_function(0x59, &TLibFuncs::call_lower);
  set_function(0x5D, &TLibFuncs::call_nameexpr);
  set_function(0x65, &TLibFuncs::call_right);
  set_function(0x6D, &TLibFuncs::call_strcat);
  set_function(0x6E, &TLibFuncs::call_strcmp);
  set_function(0x6F, &TLibFuncs::call_strcpy);
  set_function(0x70, &TLibFuncs::call_strlen);
  set_function(0x71, &TLibFuncs::call_substr);
  set_function(0x73, &TLibFuncs::call_trim);
  set_function(0x74, &TLibFuncs::call_upper);
  set_function(0x80, &TLibFuncs::call_val);
}

const char* TLibFuncs::newest_cargo() const {
  const char* text = FTokenMaster->GetCallCargo();
  return text != nullptr ? text : "";
}

TValueWord TLibFuncs::slice_result(const char* text, size_t length) {
  return reinterpret_cast<TValueWord>(FTokenMaster->PushCargo(text, length));
}

TValueWord TLibFuncs::call_at() {
  return recorded("call_at", [this] {
    check_open_paren();
    std::string_view needle = kept_text_argument();
    std::string_view haystack = kept_text_argument();
    int32_t width = 1;
    if (FRunEdits->GetEvalTokenID() == kComma) width = integer_argument();
    else if (FRunEdits->GetEvalTokenID() != kCloseParen) fail("call_at", kCommaOrParen);
    // A width of 0 has no chunks of its own: it asks for the position, as 1 does.
    if (width != 1 && width != 0) return chunk_holding(needle, haystack, width);
    size_t position = haystack.find(needle);
    return position == std::string_view::npos ? 0 : static_cast<TValueWord>(position + 1);
  });
}

TValueWord TLibFuncs::call_empty() {
  return recorded("call_empty", [this] {
    check_open_paren();
    for (const char* p = text_argument(); *p != '\0'; ++p)
      if (!is_blank(*p)) return TValueWord(0);
    return TValueWord(1);
  });
}

TValueWord TLibFuncs::call_strlen() {
  return recorded("call_strlen", [this] {
    check_open_paren();
    return static_cast<TValueWord>(strlen(text_argument()));
  });
}

// The number at the start of the text, held to the 32-bit range.
TValueWord TLibFuncs::call_val() {
  return recorded("call_val", [this] {
    check_open_paren();
    long long value = strtoll(text_argument(), nullptr, 10);
    if (value > INT32_MAX) return TValueWord(INT32_MAX);
    if (value < INT32_MIN) return TValueWord(INT32_MIN);
    return static_cast<TValueWord>(value);
  });
}

TValueWord TLibFuncs::case_result(int (*convert)(int)) {
  check_open_paren();
  char* text = FTokenMaster->CopyToCargo(text_argument());
  for (char* p = text; *p != '\0'; ++p) *p = static_cast<char>(convert(static_cast<unsigned char>(*p)));
  return reinterpret_cast<TValueWord>(text);
}

TValueWord TLibFuncs::call_upper() {
  return recorded("call_upper", [this] { return case_result(toupper); });
}

TValueWord TLibFuncs::call_lower() {
  return recorded("call_lower", [this] { return case_result(tolower); });
}

TValueWord TLibFuncs::call_left() {
  return recorded("call_left", [this] {
    check_open_paren();
    std::string_view text = kept_text_argument();
    int32_t n = integer_argument();
    size_t length = n < 0 || static_cast<size_t>(n) >= text.size() ? text.size() : static_cast<size_t>(n);
    return slice_result(text.data(), length);
  });
}

TValueWord TLibFuncs::call_right() {
  return recorded("call_right", [this] {
    check_open_paren();
    std::string_view text = kept_text_argument();
    int32_t n = integer_argument();
    size_t length = n < 0 || static_cast<size_t>(n) > text.size() ? text.size() : static_cast<size_t>(n);
    return slice_result(text.data() + text.size() - length, length);
  });
}

// A start past the end gives the empty text, as the start just after it does.
TValueWord TLibFuncs::call_substr() {
  return recorded("call_substr", [this] {
    check_open_paren();
    std::string_view text = kept_text_argument();
    int32_t numbers[2] = {0, 0};
    for (int count = 0; FRunEdits->GetEvalTokenID() == kComma; ++count) {
      int32_t number = integer_argument();
      if (count < 2) numbers[count] = number;
    }
    if (FRunEdits->GetEvalTokenID() != kCloseParen) fail("call_substr", kCommaOrParen);
    int32_t start = numbers[0], length = numbers[1];
    if (start < 1 || static_cast<size_t>(start) > text.size()) return slice_result("", 0);
    std::string_view rest = text.substr(static_cast<size_t>(start) - 1);
    if (length >= 1 && static_cast<size_t>(length) < rest.size()) rest = rest.substr(0, static_cast<size_t>(length));
    return slice_result(rest.data(), rest.size());
  });
}

int TLibFuncs::side_flag() {
  TToken* token = FTokenMaster->GetCompiledToken();
  if (token == nullptr || token->GetTokenType() != kNamedConstant) return -1;
  int flag = token->GetTokenID() - kRightFlag;
  return flag >= kRight && flag <= kBoth ? flag : -1;
}

TValueWord TLibFuncs::call_trim() {
  return recorded("call_trim", [this] {
    check_open_paren();
    std::string_view text = text_argument();
    if (FRunEdits->GetEvalTokenID() != kComma) throw std::runtime_error(kFirstComma);
    int flag = side_flag();
    if (flag < 0) throw std::runtime_error(kTrimFlag);
    check_close_paren();
    size_t first = flag == kRight ? 0 : text.find_first_not_of(' ');
    if (first == std::string_view::npos) return slice_result("", 0);
    size_t end = flag == kLeft ? text.size() : text.find_last_not_of(' ') + 1;
    return slice_result(text.data() + first, end - first);
  });
}

TValueWord TLibFuncs::call_justified() {
  return recorded("call_justified", [this] {
    check_open_paren();
    std::string_view text = text_argument();
    int flag = side_flag();
    if (flag != kRight && flag != kLeft) throw std::runtime_error(kTrimFlag);
    check_close_paren();
    if (text.empty()) return TValueWord(1);
    return TValueWord(!is_blank(flag == kRight ? text.back() : text.front()));
  });
}

TValueWord TLibFuncs::call_strcmp() {
  return recorded("call_strcmp", [this] {
    check_open_paren();
    std::string_view a = kept_text_argument();
    std::string_view b = kept_text_argument();
    int32_t n = 0;
    if (FRunEdits->GetEvalTokenID() == kComma) n = integer_argument();
    if (FRunEdits->GetEvalTokenID() != kCloseParen) throw std::runtime_error(kCloseExpected);
    if (n >= 1) {
      a = a.substr(0, static_cast<size_t>(n));
      b = b.substr(0, static_cast<size_t>(n));
    }
    return compare(a, b);
  });
}

// The named variable's own text, with the name left as the newest cargo
// text for strcpy and strcat. An integer variable gives its decimal text.
TValueWord TLibFuncs::call_nameexpr() {
  return recorded("call_nameexpr", [this] {
    check_open_paren();
    const char* name = text_argument();
    TVariable* variable = FRunEdits->GetVariable(name, true);
    TValueWord value = variable->GetStringValueAsInteger();
    if (!variable->IsCharacter()) {
      char digits[16];
      snprintf(digits, sizeof digits, "%d", variable->Count() > 0 ? variable->GetValue(0) : 0);
      value = reinterpret_cast<TValueWord>(FTokenMaster->CopyToCargo(digits));
    }
    FTokenMaster->CopyToCargo(name);
    return value;
  });
}

TVariable* TLibFuncs::char_target(TVariable* variable) {
  if (!variable->IsCharacter()) throw std::runtime_error(kCharTarget);
  return variable;
}

// The target is a variable token or a call (in practice nameexpr) that leaves
// the variable's name as the newest cargo text.
TVariable* TLibFuncs::find_target(bool copying) {
  check_open_paren();
  FTokenMaster->SavePos();
  TToken* token = FTokenMaster->GetCompiledToken();
  if (token == nullptr) throw std::runtime_error("syntax error: invalid first parameter");
  const char* newest = newest_cargo();
  if (token->GetTokenID() == kVariableToken) {
    TVariable* variable = FRunEdits->GetVariable(newest, true);
    if (FTokenMaster->GetHardToken(kComma) == nullptr) throw std::runtime_error(kFirstComma);
    return char_target(variable);
  }
  if (token->GetTokenID() == kLibCall) {
    FTokenMaster->RestorePos();
    argument();
    return char_target(FRunEdits->GetVariable(newest_cargo(), true));
  }
  if (!copying) throw std::runtime_error(std::string("Variable named \"") + newest + "\" not found (undeclared?)");
  char message[kMessageSize];
  snprintf(message, sizeof message, "Variable named \"%s\" not found (is it undeclared?)", newest);
  throw std::runtime_error(message);
}

TValueWord TLibFuncs::store_built(TVariable* target) {
  target->SetValue(FBuilt.c_str());
  return reinterpret_cast<TValueWord>(FTokenMaster->CopyToCargo(""));
}

// strcpy(target, s [, n]): s cut to n bytes, or padded with blanks to n bytes
// when n is written with a minus sign.
TValueWord TLibFuncs::call_strcpy() {
  return recorded("call_strcpy", [this] {
    TVariable* target = find_target(true);
    std::string_view text = kept_text_argument();
    bool pad = false;
    int32_t n = 0;
    if (FRunEdits->GetEvalTokenID() == kComma) {
      FTokenMaster->SavePos();
      TToken* token = FTokenMaster->GetCompiledToken();
      pad = token != nullptr && token->GetTokenID() == kMinus;
      if (!pad) FTokenMaster->RestorePos();
      n = integer_argument();
    }
    if (FRunEdits->GetEvalTokenID() != kCloseParen) throw std::runtime_error(kCloseExpected);
    FBuilt.assign(text);
    if (n >= 1) {
      // Padding beyond what the declared-size message can show changes nothing.
      size_t width = std::min<size_t>(static_cast<size_t>(n), target->GetSize() + kBeyondTarget);
      if (pad && FBuilt.size() < width) FBuilt.append(width - FBuilt.size(), ' ');
      if (FBuilt.size() > static_cast<size_t>(n)) FBuilt.resize(static_cast<size_t>(n));
    }
    return store_built(target);
  });
}

TValueWord TLibFuncs::call_strcat() {
  return recorded("call_strcat", [this] {
    TVariable* target = find_target(false);
    std::string_view text = kept_text_argument();
    int32_t n = 0;
    if (FRunEdits->GetEvalTokenID() == kComma) n = integer_argument();
    if (FRunEdits->GetEvalTokenID() != kCloseParen) throw std::runtime_error(kCloseExpected);
    if (n >= 1) text = text.substr(0, static_cast<size_t>(n));
    FBuilt.assign(target->GetText());
    FBuilt.append(text);
    return store_built(target);
  });
}

// fmtstr(target, format, number): the number laid out by the one "%...ld" of
// the format, between the text before it and the text after it.
TValueWord TLibFuncs::call_fmtstr() {
  check_open_paren();
  if (FTokenMaster->GetHardToken(kVariableToken) == nullptr)
    fail("call_fmtstr", "syntax error: first parameter MUST be a variable");
  TVariable* target = FRunEdits->GetVariable(newest_cargo(), true);
  if (!target->IsCharacter()) fail("call_fmtstr", kCharTarget);
  if (FTokenMaster->GetHardToken(kComma) == nullptr) fail("call_fmtstr", kFirstComma);
  const char* format = kept_text_argument();
  if (FRunEdits->GetEvalTokenID() != kComma)
    fail("call_fmtstr", "syntax error: expected comma between second and third parameters");
  int32_t number = integer_argument();
  const char* percent = strchr(format, '%');
  if (percent == nullptr) fail("call_fmtstr", "syntax error: format string must include '%'");
  const char* ld = strstr(percent + 1, "ld");
  if (ld == nullptr) fail("call_fmtstr", "syntax error: format string must include 'ld'");
  FBuilt.assign(format, static_cast<size_t>(percent - format));
  lay_out_field(std::string_view(percent + 1, static_cast<size_t>(ld - percent - 1)), number,
                target->GetSize() + kBeyondTarget);
  FBuilt.append(ld + 2);
  // The store's own failure says nothing anywhere else: its reason is recorded here.
  try {
    return store_built(target);
  } catch (const std::runtime_error& e) {
    fail("call_fmtstr", e.what());
  }
}

// Appends the field of exactly the spec's width: "0" fills with zeros after
// the sign, "-" aligns left, a width alone aligns right; digits that do not
// fit lose their first characters, or their last when aligned left.
void TLibFuncs::lay_out_field(std::string_view spec, int32_t number, size_t bound) {
  char buffer[16];
  std::string_view digits(buffer, static_cast<size_t>(snprintf(buffer, sizeof buffer, "%d", number)));
  if (spec.empty()) {
    FBuilt.append(digits);
    return;
  }
  char kind = spec[0];
  // The width ends before the "ld" that follows the spec.
  size_t width = width_of(spec.data() + (kind == '0' || kind == '-' ? 1 : 0), bound);
  if (digits.size() >= width) {
    FBuilt.append(kind == '-' ? digits.substr(0, width) : digits.substr(digits.size() - width));
    return;
  }
  size_t fill = width - digits.size();
  if (kind == '-') {
    FBuilt.append(digits).append(fill, ' ');
  } else if (kind == '0' && number < 0) {
    FBuilt.append(1, '-').append(fill, '0').append(digits.substr(1));
  } else {
    FBuilt.append(fill, kind == '0' ? '0' : ' ').append(digits);
  }
}
