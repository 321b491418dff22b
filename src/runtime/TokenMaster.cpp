// The reader of compiled edit logic, its token table, cargo stack and the
// decoding of each read position.
#include "runtime/TokenMaster.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>

#include "compiler/EditCompiler.h"
#include "storage/EngineErrorsPump.h"

namespace {

const size_t kInitialCargoSlots = 100;
const size_t kCargoGrowth = 20;
const size_t kSmallCargo = 100;
const size_t kFieldDigits = 20;
const size_t kJumpWidth = 4;
// A string's length field holds the tens of lengths up to 999 in one byte.
const int kMaxStringTens = 99;

enum { kNoFault, kUnknownByte, kPastEnd, kDamagedLength };

const char* const kMoveBack = "move_by must be > 0";
const char* const kMovePast = "move_by value falls outside range of compiled logic";

std::string not_found(char character) { return "Token [" + std::string(1, character) + "] not found"; }

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// Every token of compiled logic: its spelling, compiled character and class.
struct TTokenRow {
  const char* Spelling;
  char Compiled;
  TTokenType Type;
};
const TTokenRow kTokenRows[] = {
    {"#", '#', 0},           {"{", '{', 1},           {"}", '}', 1},           {"'", '\'', 2},
    {"(", '(', 3},           {")", ')', 3},           {".", '.', 3},           {":", ':', 3},
    {";", ';', 3},           {"[", '[', 3},           {"]", ']', 3},           {"libfnc", 'M', 5},
    {"funccall", 'm', 5},    {"function", 'n', 5},    {"var", 'N', 6},         {"return", 'D', 7},
    {"char", 'H', 7},        {"int", 'I', 7},         {"number", 'U', 8},      {"dt_today", 'O', 9},
    {"dt_unknown", 'P', 9},  {"fail", 'Q', 9},        {"pass", 'R', 9},        {"dt_max", 'S', 9},
    {"dt_exact", 'T', 9},    {"dt_empty", 'W', 9},    {"dt_valid", 'X', 9},    {"dt_missing", 'Y', 9},
    {"dt_error", 'Z', 9},    {"dt_day_empty", 'y', 9}, {"dt_month_empty", 'z', 9}, {"!", '!', 10},
    {"mod", '%', 10},        {"&&", '&', 10},         {"*", '*', 10},          {"+", '+', 10},
    {",", ',', 10},          {"-", '-', 10},          {"/", '/', 10},          {"<", '<', 10},
    {"=", '=', 10},          {">", '>', 10},          {"==", 'E', 10},         {">=", 'G', 10},
    {"!=", 'J', 10},         {"<=", 'K', 10},         {"||", '|', 10},         {"\"", '"', 11},
    {"else", 'A', 14},       {"while", 'B', 14},      {"for", 'C', 14},        {"if", 'F', 14},
    {"do", 'L', 14},
};

// A token's identity is its character, but for the string constant's (11)
// and those of the named constants of values 0 to 3 (their digits).
TTokenID token_id(char compiled) {
  if (compiled == '"') return 11;
  if (compiled >= 'Q' && compiled <= 'T') return '0' + (compiled - 'Q');
  return compiled;
}

// Digits of a field number, saturating: a field number never wraps.
int32_t saturated_number(const unsigned char* digits, size_t count) {
  int64_t value = 0;
  for (size_t i = 0; i < count && is_digit(digits[i]); ++i) {
    value = value * 10 + (digits[i] - '0');
    if (value > INT32_MAX) return INT32_MAX;
  }
  return static_cast<int32_t>(value);
}

// Digits of a number constant kept to 32 bits: they wrap as the arithmetic does.
int32_t wrapped_number(const unsigned char* digits, size_t count) {
  uint32_t value = 0;
  for (size_t i = 0; i < count && is_digit(digits[i]); ++i) value = value * 10u + (digits[i] - '0');
  return static_cast<int32_t>(value);
}

// A jump field as atoi reads it: blanks, an optional sign, digits.
int32_t jump_value(const unsigned char* field, size_t count) {
  size_t i = 0;
  while (i < count && (field[i] == ' ' || field[i] == '\t')) ++i;
  bool negative = i < count && field[i] == '-';
  if (i < count && (field[i] == '-' || field[i] == '+')) ++i;
  int32_t value = saturated_number(field + i, count - i);
  return negative ? -value : value;
}

}  // namespace

TToken::TToken(const char* text, TTokenID id, TTokenType type, char compiled)
    : FSpelling(text != nullptr ? text : ""), FTokenID(id), FTokenType(type), FCompiled(compiled) {}

TCargo::TCargo(size_t n) : FSize(n >= kSmallCargo ? n + 1 : kSmallCargo + 1) {
  FBuffer = static_cast<char*>(malloc(FSize));
  if (FBuffer == nullptr) throw std::bad_alloc();
  FBuffer[0] = '\0';
}

TCargo::~TCargo() { free(FBuffer); }

TDecodedLogic::TDecodedLogic(std::string text)
    : FText(std::move(text)), FTokens(FText.size()) {
  FEnd.AtEnd = true;
  FEnd.Next = static_cast<uint32_t>(FText.size());
  for (size_t pos = 0; pos < FTokens.size(); ++pos) decode(pos, FTokens[pos]);
  read_header();
  FFault = TEditCompiler::CheckStructure(FText);
}

// What reading at p0 gives. An operand that would run past the end of the
// text makes the token a fault, so no read ever leaves the text.
void TDecodedLogic::decode(size_t p0, TDecodedToken& token) const {
  const auto* text = reinterpret_cast<const unsigned char*>(FText.data());
  const size_t length = FText.size();
  size_t pos = p0;
  while (pos < length && text[pos] == '\n') ++pos;
  token.Next = static_cast<uint32_t>(pos);
  if (pos >= length) {
    token.AtEnd = true;
    return;
  }
  unsigned char c = text[pos];
  token.Compiled = c;
  if (c >= 127) {
    token.Fault = kUnknownByte;
    return;
  }
  auto operand = [&](size_t start, size_t count) {
    if (start + count > length) {
      token.Fault = kPastEnd;
      return false;
    }
    token.Pushes = true;
    token.OperandPos = static_cast<uint32_t>(start);
    token.OperandLength = static_cast<uint32_t>(count);
    pos = start + count;
    return true;
  };
  auto width = [&](size_t count) {
    if (pos + count > length) token.Fault = kPastEnd;
    else pos += count;
  };
  switch (c) {
    case '"': {
      if (pos + 4 > length) {
        token.Fault = kPastEnd;
        break;
      }
      // The tens byte runs from "0" up to 99 past it; the units are a digit.
      if (text[pos + 2] < '0' || text[pos + 2] > '0' + kMaxStringTens || !is_digit(text[pos + 3])) {
        token.Fault = kDamagedLength;
        break;
      }
      operand(pos + 4, static_cast<size_t>((text[pos + 2] - '0') * 10 + (text[pos + 3] - '0')));
      break;
    }
    case '#': {
      size_t end = pos + 1;
      while (end < length && end - pos - 1 < kFieldDigits && is_digit(text[end])) ++end;
      if (operand(pos + 1, end - pos - 1)) token.Number = saturated_number(text + token.OperandPos, token.OperandLength);
      break;
    }
    case '\'':
      if (pos + 1 < length) token.OneChar = static_cast<char>(text[pos + 1]);
      width(3);
      break;
    case 'A': case 'B': case 'C': case 'F': case 'L':
      if (operand(pos + 1, kJumpWidth)) token.Number = jump_value(text + token.OperandPos, kJumpWidth);
      break;
    case 'M': case 'm':
      if (pos + 2 <= length) token.OneChar = static_cast<char>(text[pos + 1]);
      width(c == 'M' ? 2 : 4);
      break;
    case 'n':
      width(2);
      break;
    case 'N': case 'U': {
      if (pos + 4 > length) {
        token.Fault = kPastEnd;
        break;
      }
      // Three digits of a length from 1 up: anything else is no length field.
      const unsigned char* field = text + pos + 1;
      bool digits = is_digit(field[0]) && is_digit(field[1]) && is_digit(field[2]);
      size_t count = digits ? (field[0] - '0') * 100 + (field[1] - '0') * 10 + (field[2] - '0') : 0;
      if (count == 0) {
        token.Fault = kDamagedLength;
        break;
      }
      if (!operand(pos + 4, count) || c != 'U') break;
      // A number is digits only: a longer length would take in the next token.
      const unsigned char* number = text + token.OperandPos;
      if (std::find_if_not(number, number + count, is_digit) != number + count)
        token.Fault = kDamagedLength;
      else
        token.Number = wrapped_number(text + token.OperandPos, count);
      break;
    }
    case 'O': case 'P': case 'Q': case 'R': case 'S': case 'T':
    case 'W': case 'X': case 'Y': case 'Z': case 'y': case 'z':
    case '!': case '%': case '&': case '(': case ')': case '*': case '+': case ',': case '-':
    case '.': case '/': case ':': case ';': case '<': case '=': case '>': case 'D': case 'E':
    case 'G': case 'H': case 'I': case 'J': case 'K': case '[': case ']': case '{': case '|': case '}':
      token.OneChar = static_cast<char>(c);
      ++pos;
      break;
    default:
      break;  // a blank token: nothing is consumed here
  }
  // Every read makes progress, measured from before the line feeds.
  if (pos == p0) ++pos;
  token.Next = static_cast<uint32_t>(pos);
}

TExpressionPlan* TDecodedLogic::SetPlan(size_t pos, std::unique_ptr<TExpressionPlan> plan) {
  if (pos >= FTokens.size()) return nullptr;
  TDecodedToken& token = FTokens[pos];
  token.PlanTried = true;
  token.Plan = plan.get();
  if (plan != nullptr) FPlans.push_back(std::move(plan));
  return token.Plan;
}

const void* TDecodedLogic::NameKey(size_t pos, size_t length) {
  return &*FNames.insert(FText.substr(pos, length)).first;
}

void TDecodedLogic::read_header() {
  size_t length = FText.size();
  int count = length > 0 ? static_cast<unsigned char>(FText[0]) - '@' : 0;
  if (count < 0) count = 0;
  for (int i = 0; i < count; ++i) {
    size_t slot = 1 + 5 * static_cast<size_t>(i);
    if (slot >= length) break;
    size_t end = slot + 5 < length ? slot + 5 : length;
    FUDFOffsets.push_back(saturated_number(reinterpret_cast<const unsigned char*>(FText.data()) + slot, end - slot));
  }
  FBodyStart = 1 + 5 * static_cast<size_t>(count);
}

TTokenMaster::TTokenMaster(TEngineErrorsPump* pump) : FEnginePump(pump) {
  FEndToken.AtEnd = true;
  FLast = &FEndToken;
  // A character without a row reads as a blank token.
  for (TToken*& token : FTokens) token = new TToken(" ", 0, 0, ' ');
  for (const TTokenRow& row : kTokenRows) add_token(row.Spelling, token_id(row.Compiled), row.Type, row.Compiled);
  FCargo.reserve(kInitialCargoSlots);
  for (size_t i = 0; i < kInitialCargoSlots; ++i) FCargo.push_back(new TCargo(kSmallCargo));
  FCargoCapacity = kInitialCargoSlots;
}

TTokenMaster::~TTokenMaster() {
  for (TCargo* slot : FCargo) delete slot;
  for (TToken* token : FTokens) delete token;
}

void TTokenMaster::add_token(const char* spelling, TTokenID id, TTokenType type, char compiled) {
  unsigned char slot = static_cast<unsigned char>(compiled);
  if (slot >= kTokenSlots) return;
  delete FTokens[slot];
  FTokens[slot] = new TToken(spelling, id, type, compiled);
}

void TTokenMaster::SetCompiledLogic(TDecodedLogic* logic) {
  FLogic = logic;
  FCompiledLogic = logic != nullptr ? logic->Text().c_str() : "";
  FLength = logic != nullptr ? logic->Text().size() : 0;
  FPos = 0;
  FLast = &FEndToken;
}

void TTokenMaster::fault(const TDecodedToken& token) {
  std::string character(1, static_cast<char>(token.Compiled));
  if (token.Fault == kUnknownByte) fail("GetCompiledToken", not_found(static_cast<char>(token.Compiled)));
  if (token.Fault == kDamagedLength) fail("GetCompiledToken", "Token [" + character + "] has a damaged length field");
  PastEnd(token.Compiled);
}

void TTokenMaster::refuse(const TStructureFault& fault) const {
  switch (fault.Kind) {
    case TStructureFault::kUnknownByte:
      fail("GetCompiledToken", not_found(fault.Character));
    case TStructureFault::kJumpBack:
      fail("MovePos", kMoveBack);
    case TStructureFault::kJumpPast:
      fail("MovePosBy", kMovePast);
    default:
      break;
  }
  fail("GetCompiledToken", "Compiled logic is damaged at position " + std::to_string(fault.Position));
}

void TTokenMaster::PastEnd(char opener) {
  fail("GetCompiledToken", "Token [" + std::string(1, opener) + "] runs past the end of the compiled logic");
}

TToken* TTokenMaster::GetHardToken(TTokenID expected) {
  TToken* token = GetCompiledToken();
  return token != nullptr && token->GetTokenID() == expected ? token : nullptr;
}

char* TTokenMaster::push_cargo_slowly(const char* text, size_t length) {
  if (FCargoTop == FCargoCapacity) {
    for (size_t i = 0; i < kCargoGrowth; ++i) FCargo.push_back(new TCargo(kSmallCargo));
    FCargoCapacity += kCargoGrowth;
  }
  TCargo*& slot = FCargo[FCargoTop];
  if (slot->GetCargoSize() < length + 1) {
    TCargo* larger = new TCargo(length);
    delete slot;
    slot = larger;
  }
  slot->SetCargoBytes(text, length);
  ++FCargoTop;
  return slot->GetCargoAddress();
}

char* TTokenMaster::CopyToCargo(const char* text) {
  if (text == nullptr) text = "";
  return PushCargo(text, strlen(text));
}

char* TTokenMaster::GetCallCargo() const {
  return FCargoTop == 0 ? nullptr : FCargo[FCargoTop - 1]->GetCargoAddress();
}

size_t TTokenMaster::RaiseCargoFloor() {
  size_t floor = FCargoFloor;
  FCargoFloor = FCargoTop;
  return floor;
}

bool TTokenMaster::IsCargoText(const char* address) const {
  for (size_t i = 0; i < FCargoTop; ++i) {
    const char* start = FCargo[i]->GetCargoAddress();
    if (address >= start && address < start + FCargo[i]->GetCargoSize()) return true;
  }
  return false;
}

void TTokenMaster::CheckMoveBy(int distance) const {
  if (distance < 1) fail("MovePos", kMoveBack);
  if (FPos + static_cast<size_t>(distance) > FLength) fail("MovePosBy", kMovePast);
}

void TTokenMaster::MovePosBy(int distance) {
  CheckMoveBy(distance);
  FPos += static_cast<size_t>(distance);
}

void TTokenMaster::MovePosTo(size_t pos) {
  if (pos >= FLength) fail("MovePosTo", "move_to must be < length of compiled logic");
  FPos = pos;
}

void TTokenMaster::SkipNewLines() {
  while (FPos < FLength && FCompiledLogic[FPos] == '\n') ++FPos;
}

char* TTokenMaster::extract_field_number() {
  size_t start = FPos;
  while (FPos < FLength && FPos - start < kFieldDigits && is_digit(FCompiledLogic[FPos])) ++FPos;
  return PushCargo(FCompiledLogic + start, FPos - start);
}

void TTokenMaster::fail(const char* method, const std::string& message) const {
  FEnginePump->AddError("TTokenMaster", method, message);
  throw std::runtime_error("");
}
