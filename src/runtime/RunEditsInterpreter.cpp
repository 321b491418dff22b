// The interpreter of compiled edit logic: statements and blocks, control
// statements driven by their jump fields, expressions by recursive descent
// over value words, variables, user functions and built-in calls.
#include <strings.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "library/LibFuncs.h"
#include "runtime/EditErrors.h"
#include "runtime/EditSet.h"
#include "runtime/Layout.h"
#include "runtime/RunEdits.h"
#include "runtime/Variable.h"
#include "storage/EngineErrorsPump.h"

namespace {

const size_t kPoolGrowth = 20;
const size_t kNameMessageSize = 100;

// Integer arithmetic of the logic: 32-bit two's complement that wraps.
TValueWord wrap(uint32_t value) { return static_cast<int32_t>(value); }
uint32_t low(TValueWord value) { return static_cast<uint32_t>(value); }

}  // namespace

// Keeps the cargo texts of the statement that calls a user function alive
// while the function's own statements empty the stack.
class TCargoFloor {
 public:
  explicit TCargoFloor(TTokenMaster* reader) : FReader(reader), FFloor(reader->RaiseCargoFloor()) {}
  ~TCargoFloor() { FReader->RestoreCargoFloor(FFloor); }
  TCargoFloor(const TCargoFloor&) = delete;
  TCargoFloor& operator=(const TCargoFloor&) = delete;

 private:
  TTokenMaster* FReader;
  size_t FFloor;
};

TValueWord TRunEdits::named_constant(char compiled) {
  switch (compiled) {
    case 'Q': return 0;
    case 'R': return 1;
    case 'S': return 2;
    case 'T': return 3;
    case 'P': return 0x7fffffff;
    case 'W': return 0x3fffffff;
    case 'X': return 0x4fffffff;
    case 'Y': return 0x5fffffff;
    case 'Z': return 0x6fffffff;
    case 'y': return 0x2fffffff;
    case 'z': return 0x1fffffff;
    default: return 0;
  }
}

bool TRunEdits::is_relational(TTokenID id) {
  return id == 'E' || id == 'J' || id == '<' || id == '>' || id == 'K' || id == 'G';
}

class TRunEdits::TNesting {
 public:
  TNesting(TRunEdits* runEdits, const char* method) : FRunEdits(runEdits) {
    if (++FRunEdits->FNesting > kMaxNesting) {
      --FRunEdits->FNesting;
      FRunEdits->fail(method, "logic is nested too deeply");
    }
  }
  ~TNesting() { --FRunEdits->FNesting; }
  TNesting(const TNesting&) = delete;
  TNesting& operator=(const TNesting&) = delete;

 private:
  TRunEdits* FRunEdits;
};

void TRunEdits::fail(const char* method, const std::string& message) {
  add_error(method, message);
  throw std::runtime_error("");
}

TToken* TRunEdits::read_token(bool pushOperand) {
  try {
    return FTokenMaster->ReadToken(pushOperand);
  } catch (const std::runtime_error&) {
    reading_failed();
    throw;
  }
}

void TRunEdits::reading_failed() {
  add_error("GetCompiledToken", "Edit: " + (FRunningEdit != nullptr ? FRunningEdit->GetEditName() : std::string()));
}

// A block or controlled statement that the end of the text cuts short: the
// text is damaged (run on, a loop around it would never end), and the
// reading fails as for any other damaged token.
void TRunEdits::unclosed(char opener) {
  try {
    FTokenMaster->PastEnd(opener);
  } catch (const std::runtime_error&) {
    reading_failed();
    throw;
  }
}

// Logic that is not what the compiler writes fails as a damaged token would,
// before any of its statements runs.
void TRunEdits::refuse_damaged_logic() {
  try {
    FTokenMaster->RefuseDamagedLogic();
  } catch (const std::runtime_error&) {
    reading_failed();
    throw;
  }
}

TToken* TRunEdits::GetHardToken(TTokenID expected) {
  TToken* token = GetCompiledToken();
  return token != nullptr && token->GetTokenID() == expected ? token : nullptr;
}

void TRunEdits::next_token() {
  FCurrentToken = GetCompiledToken();
  FCurrentDecoded = &FTokenMaster->LastDecoded();
}

TTokenID TRunEdits::GetEvalTokenID() const {
  return FCurrentToken != nullptr ? FCurrentToken->GetTokenID() : -1;
}

bool TRunEdits::current_is(TTokenID id) const { return FCurrentToken != nullptr && FCurrentToken->GetTokenID() == id; }

const char* TRunEdits::ValueText(TValueWord value) const {
  const char* text = reinterpret_cast<const char*>(value);
  if (text == nullptr) return nullptr;
  if (FTokenMaster->IsCargoText(text) || TextVariable(value) != nullptr) return text;
  return nullptr;
}

TVariable* TRunEdits::TextVariable(TValueWord value) const {
  const char* text = reinterpret_cast<const char*>(value);
  for (size_t i = 0; i < FVariablesInUse; ++i)
    if (FVariables[i]->HoldsText(text)) return FVariables[i];
  return nullptr;
}

void TRunEdits::process_edit() {
  FEditErrors->SetAltMessageNumber(0);
  FReturnFail = false;
  FReturnWarn = false;
  FVariablesInUse = 0;
  if (FDebugging) debug_fields();
  FStop = false;
  try {
    refuse_damaged_logic();
    FTokenMaster->MovePosBy(static_cast<int>(setup_UDF_pointers()));
    FLibFuncs->SetYearsIntoFuture();
    // A message of this edit never tells an earlier edit's date failure.
    FLibFuncs->ClearDateErrorCode();
    FOverrideErrorMessage = false;
    interpret_block(0);
    if (FReturnFail) {
      FReturnFail = false;
      FRunningEdit->IncrErrorsCount();
    }
    if (FReturnWarn) {
      FReturnWarn = false;
      if (FEditSet == nullptr || FEditSet->GetSuppressWarnings() == 0) FRunningEdit->IncrWarningsCount();
    }
    if (FDebugging) send_debug_to_callbacks();
  } catch (const std::runtime_error& e) {
    if (FRunningEdit != nullptr)
      add_error("process_edit", "Edit: " + FRunningEdit->GetEditName() + " [Tag: " + FRunningEdit->GetEditTag() + "]");
    else if (*e.what() != '\0')
      add_error("process_edit", e.what());
    if (FDebugging) send_debug_to_callbacks();
    throw;
  }
}

size_t TRunEdits::setup_UDF_pointers() {
  const TDecodedLogic* logic = FTokenMaster->GetDecodedLogic();
  FUDFOffsets.assign(logic->UDFOffsets().begin(), logic->UDFOffsets().end());
  return logic->BodyStart();
}

int TRunEdits::interpret_block(TTokenID terminator, char opener) {
  TNesting nesting(this, "interpret_block");
  int result = 0;
  do {
    FTokenMaster->ResetTopOfStringsStack();
    size_t saved = FTokenMaster->GetPos();
    TToken* token = read_token(false);
    if (token == nullptr) break;
    TTokenID id = token->GetTokenID();
    switch (token->GetTokenType()) {
      case 1:  // brace
        if (FDebugging) debug_edit(FTokenMaster->GetPos(), true);
        if (id == '{') return interpret_block('}', '{');
        if (terminator != '}') FTokenMaster->SetPos(saved);
        return result;
      case 3:  // punctuation
        if (id == ';' && terminator == ';') return result;
        break;
      case 5:  // function
      case 6:  // variable
        FTokenMaster->SetPos(saved);
        if (id == 'n') return result;
        evaluate();
        if (FDebugging) debug_lines(saved, id == 'm' ? saved : FTokenMaster->GetPos());
        if (current_is(';') && terminator == ';') return result;
        break;
      case 7:  // type or return
        if (id == 'D') {
          result = execute_return();
          if (FDebugging) debug_lines(saved, FTokenMaster->GetPos());
        } else {
          TExpressionPlan* plan = plan_at(saved);
          if (plan != nullptr && plan->Kind != 0) run_declaration(*plan);
          else declare_variables(id);
          if (FDebugging) debug_edit(FTokenMaster->GetPos(), true);
        }
        // A declaration or return controlled by a keyword is that one statement.
        if (terminator == ';') return result;
        break;
      case 14: {  // keyword with its jump field
        int jump = FTokenMaster->LastDecoded().Number;
        if (id == 'A') FTokenMaster->MovePosBy(jump);
        else result = id == 'B' ? ExecuteWHILE(jump) : id == 'C' ? ExecuteFOR(jump) : id == 'F' ? ExecuteIF(jump)
                                                                                                 : ExecuteDO(jump);
        // Controlled by another keyword, a control statement is that one
        // statement; a do still reads the ";" after its condition.
        if (terminator == ';' && id != 'L') return result;
        break;
      }
      default:
        break;
    }
  } while (FTokenMaster->GetPos() < FTokenMaster->GetCompiledLength() && !FStop);
  // Only the main logic ends with the text.
  if (terminator != 0 && !FStop) unclosed(opener);
  return result;
}

void TRunEdits::declare_variables(TTokenID type) {
  int kind = type == 'H' ? TVariable::kCharacter : TVariable::kInteger;
  for (;;) {
    TToken* token = GetCompiledToken();
    if (token != nullptr && token->GetTokenID() == '*') token = GetCompiledToken();
    if (token == nullptr || token->GetTokenID() == ';') return;
    bool named = token->GetTokenID() == 'N';
    std::string name = named ? FTokenMaster->GetCallCargo() : "";
    int variableKind = kind;
    size_t size = 1;
    next_token();
    if (current_is('[')) {
      variableKind |= TVariable::kArray;
      size = static_cast<size_t>(static_cast<int32_t>(evaluate()));
      next_token();
    }
    if (named) declare(name.c_str(), name.size(), variableKind, size);
    if (FCurrentToken == nullptr || current_is(';')) return;
  }
}

// A name already declared in this edit keeps its variable: the earliest
// declaration is the one every lookup finds.
void TRunEdits::declare(const char* name, size_t length, int kind, size_t size, const void* key) {
  if (find_variable(name, length) >= 0) return;
  if (FVariablesInUse == FVariablesCapacity) {
    FVariablesCapacity += kPoolGrowth;
    FVariables.resize(FVariablesCapacity, nullptr);
  }
  TVariable*& entry = FVariables[FVariablesInUse];
  try {
    if (entry == nullptr) entry = new TVariable(std::string(name, length), kind, size);
    entry->Reset(name, length, kind, size, key);
  } catch (const std::runtime_error& e) {
    fail("declare_variables", e.what());
  }
  ++FVariablesInUse;
}

void TRunEdits::clear_variables() {
  for (TVariable* variable : FVariables) delete variable;
  FVariables.clear();
  FVariablesCapacity = 0;
  FVariablesInUse = 0;
}

int TRunEdits::find_variable(const char* name, size_t length) const {
  for (size_t i = 0; i < FVariablesInUse; ++i) {
    const std::string& declared = FVariables[i]->Name();
    if (declared.size() == length && strncasecmp(declared.c_str(), name, length) == 0) return static_cast<int>(i);
  }
  return -1;
}

TVariable* TRunEdits::GetVariable(const char* name, bool mustExist) {
  int index = find_variable(name, strlen(name));
  if (index >= 0) return FVariables[index];
  if (!mustExist) return nullptr;
  char message[kNameMessageSize];
  snprintf(message, sizeof message, "In Edit Tag \"%s\", Variable \"%s\" not found!",
           FRunningEdit != nullptr ? FRunningEdit->GetEditTag().c_str() : "", name);
  fail("GetVariable", message);
}

// The variable of the name token just read, through the token's hint of the
// pool entry that answered it last.
TVariable* TRunEdits::token_variable() {
  TDecodedToken& token = *FCurrentDecoded;
  const char* name = FTokenMaster->GetCompiledLogic() + token.OperandPos;
  int slot = token.VariableSlot;
  if (slot >= 0 && static_cast<size_t>(slot) < FVariablesInUse) {
    const std::string& declared = FVariables[slot]->Name();
    if (declared.size() == token.OperandLength && memcmp(declared.data(), name, token.OperandLength) == 0)
      return FVariables[slot];
  }
  TVariable* variable = GetVariable(FTokenMaster->GetCallCargo(), true);
  token.VariableSlot = find_variable(variable->Name().c_str(), variable->Name().size());
  return variable;
}

TValueWord TRunEdits::EvaluateExpression() {
  FTokenMaster->SavePos();
  next_token();
  TValueWord result = 0;
  if (FCurrentToken == nullptr) {
    eval0_variables(result);
  } else if (current_is(';') && FCurrentToken->GetTokenType() == 3) {
    return 0;
  } else if (FCurrentToken->GetTokenType() == 11) {
    result = reinterpret_cast<TValueWord>(FTokenMaster->GetCallCargo());
    next_token();
  } else if (current_is('#')) {
    TLayoutField* field = FLayout != nullptr ? FLayout->GetFieldByFieldNumber(FCurrentDecoded->Number) : nullptr;
    result = reinterpret_cast<TValueWord>(FTokenMaster->CopyToCargo(field != nullptr ? field->GetValue() : ""));
    next_token();
  } else {
    eval0_variables(result);
  }
  return result;
}

void TRunEdits::eval0_variables(TValueWord& result) {
  TNesting nesting(this, "eval0_variables");
  if (FCurrentToken == nullptr || FCurrentToken->GetTokenType() != 6) {
    eval1_logical_ops(result);
    return;
  }
  TToken* variableToken = FCurrentToken;
  TDecodedToken* variableDecoded = FCurrentDecoded;
  size_t afterVariable = FTokenMaster->GetPos();
  TVariable* variable = token_variable();
  next_token();
  size_t index = 0;
  if (current_is('[') && (variable->GetVariableType() & TVariable::kArray) != 0) index = read_subscript(variable);
  if (current_is('=')) {
    next_token();
    eval0_variables(result);
    assign(variable, index, result);
    return;
  }
  // No assignment: the variable is an operand, read again from its token.
  FTokenMaster->SetPos(afterVariable);
  FCurrentToken = variableToken;
  FCurrentDecoded = variableDecoded;
  FTokenMaster->CopyToCargo(variable->GetVariableName());
  eval1_logical_ops(result);
}

// A number, or an integer variable's element 0 (its value, not its name).
TValueWord TRunEdits::index_value(TVariable* variable) const {
  return !variable->IsCharacter() && variable->Count() > 0 ? variable->GetValue(0) : 0;
}

size_t TRunEdits::read_subscript(TVariable* variable) {
  next_token();
  TValueWord index = 0;
  if (FCurrentToken != nullptr && FCurrentToken->GetTokenType() == 8) index = FCurrentDecoded->Number;
  else if (FCurrentToken != nullptr && FCurrentToken->GetTokenType() == 6) index = index_value(token_variable());
  next_token();
  if (!current_is(']')) fail("eval0_variables", "RBRACKET expected");
  size_t element = checked_index(variable, index);
  next_token();
  return element;
}

// An element of an integer array must exist; a character array takes any.
size_t TRunEdits::checked_index(TVariable* variable, TValueWord index) {
  if (!variable->IsCharacter() && (index < 0 || static_cast<uint64_t>(index) >= variable->Count())) {
    char message[kNameMessageSize * 2];
    snprintf(message, sizeof message,
             "syntax error: index %lld is greater than number of elements in integer array named \"%s\"",
             static_cast<long long>(index), variable->GetVariableName());
    fail("eval0_variables", message);
  }
  return static_cast<size_t>(index < 0 ? 0 : index);
}

TValueWord TRunEdits::variable_value(TVariable* variable, size_t element) {
  if (variable->IsCharacter()) return variable->GetStringValueAsInteger();
  try {
    return variable->GetValue(element);
  } catch (const std::runtime_error& e) {
    fail("eval7_atom", e.what());
  }
}

// A character variable takes the text a value refers to; an integer is
// stored as its decimal text (0 as the empty text), never read as an address.
void TRunEdits::assign(TVariable* variable, size_t index, TValueWord value) {
  if (!variable->IsCharacter()) {
    variable->SetValue(index, static_cast<int32_t>(value));
    return;
  }
  const char* text = ValueText(value);
  char digits[16];
  if (text == nullptr) {
    if (value == 0) digits[0] = '\0';
    else snprintf(digits, sizeof digits, "%d", static_cast<int32_t>(value));
    text = digits;
  }
  try {
    variable->SetValue(text);
  } catch (const std::runtime_error& e) {
    fail("eval0_variables", e.what());
  }
}

// Logical operators look at the whole word; arithmetic wraps in 32 bits.
TValueWord TRunEdits::apply_binary(char op, TValueWord left, TValueWord right) {
  int32_t left32 = static_cast<int32_t>(left), right32 = static_cast<int32_t>(right);
  switch (op) {
    case '&': return left != 0 && right != 0;
    case '|': return left != 0 || right != 0;
    case 'E': return left == right;
    case 'J': return left != right;
    case '<': return left < right;
    case '>': return left > right;
    case 'K': return left <= right;
    case 'G': return left >= right;
    case '+': return wrap(low(left) + low(right));
    case '-': return wrap(low(left) - low(right));
    case '*': return wrap(low(left) * low(right));
    default: break;
  }
  if (right32 == 0) fail("eval4_mult_div_mod", "divide by zero error");
  // The one quotient that does not fit wraps, and its remainder is 0.
  if (left32 == INT32_MIN && right32 == -1) return op == '/' ? INT32_MIN : 0;
  return op == '/' ? left32 / right32 : left32 % right32;
}

TValueWord TRunEdits::apply_unary(char op, TValueWord value) {
  if (op == '-') return wrap(0u - low(value));
  if (op == '!') return value == 0 ? 1 : 0;
  return value;
}

// One level of left-grouping binary operators over the next level.
template <typename Operand>
void TRunEdits::left_grouping(TValueWord& result, std::initializer_list<TTokenID> ops, Operand operand) {
  (this->*operand)(result);
  for (;;) {
    TTokenID op = GetEvalTokenID();
    bool listed = false;
    for (TTokenID candidate : ops) listed = listed || op == candidate;
    if (!listed) return;
    next_token();
    TValueWord right = 0;
    (this->*operand)(right);
    result = apply_binary(static_cast<char>(op), result, right);
  }
}

void TRunEdits::eval1_logical_ops(TValueWord& result) {
  left_grouping(result, {'&', '|'}, &TRunEdits::eval2_relational_ops);
}

void TRunEdits::eval2_relational_ops(TValueWord& result) {
  eval3_add_subtract(result);
  if (FCurrentToken == nullptr || FCurrentToken->GetTokenType() != 10 || !is_relational(GetEvalTokenID())) return;
  char op = static_cast<char>(GetEvalTokenID());
  next_token();
  TValueWord right = 0;
  eval3_add_subtract(right);
  result = apply_binary(op, result, right);
}

void TRunEdits::eval3_add_subtract(TValueWord& result) {
  left_grouping(result, {'+', '-'}, &TRunEdits::eval4_mult_div_mod);
}

void TRunEdits::eval4_mult_div_mod(TValueWord& result) {
  left_grouping(result, {'*', '/', '%'}, &TRunEdits::eval5_unary_ops);
}

void TRunEdits::eval5_unary_ops(TValueWord& result) {
  if (FCurrentToken == nullptr || FCurrentToken->GetTokenType() != 10 ||
      !(current_is('+') || current_is('-') || current_is('!'))) {
    eval6_parens(result);
    return;
  }
  char op = static_cast<char>(GetEvalTokenID());
  next_token();
  eval6_parens(result);
  result = apply_unary(op, result);
}

void TRunEdits::eval6_parens(TValueWord& result) {
  if (!current_is('(') || FCurrentToken->GetTokenType() != 3) {
    eval7_atom(result);
    return;
  }
  next_token();
  eval0_variables(result);
  next_token();
}

void TRunEdits::eval7_atom(TValueWord& result) {
  switch (FCurrentToken != nullptr ? FCurrentToken->GetTokenType() : -1) {
    case 2:  // character constant
      result = static_cast<signed char>(FCurrentDecoded->OneChar);
      break;
    case 5:  // function
      result = current_is('m') ? evaluateUDF() : EvaluateLibFunc(FCurrentDecoded->OneChar);
      break;
    case 6: {  // variable
      TVariable* variable = token_variable();
      next_token();
      size_t index = 0;
      if (current_is('[') && (variable->GetVariableType() & TVariable::kArray) != 0) index = read_subscript(variable);
      result = variable_value(variable, index);
      return;  // the token after the operand is current already
    }
    case 8:  // number
      result = FCurrentDecoded->Number;
      break;
    case 9:  // named constant
      if (current_is('O')) {
        char date[16];
        snprintf(date, sizeof date, "%d", static_cast<int>(FLibFuncs->GetSystemDate()));
        result = reinterpret_cast<TValueWord>(FTokenMaster->CopyToCargo(date));
      } else {
        result = named_constant(FCurrentToken->GetCompiled());
      }
      break;
    case 11:  // string constant
      result = reinterpret_cast<TValueWord>(FTokenMaster->GetCallCargo());
      break;
    default:
      if (current_is(')') && FCurrentToken->GetTokenType() == 3) return;
      fail("eval7_atom", "syntax error: expected RPAREN");
  }
  next_token();
}

TValueWord TRunEdits::EvaluateLibFunc(char code) {
  TLibFuncs::TLibFunc function = FLibFuncs->GetFuncPointer(code);
  if (function == nullptr) fail("EvaluateLibFunc", "syntax error: invalid/deprecated/removed function reference");
  return (FLibFuncs->*function)();
}

TValueWord TRunEdits::evaluateUDF() {
  size_t index = static_cast<unsigned char>(FCurrentDecoded->OneChar) - 'A';
  if (index >= FUDFOffsets.size() || FUDFOffsets[index] == 0) return 0;
  size_t call = FTokenMaster->GetPos();
  size_t body = static_cast<size_t>(FUDFOffsets[index]);
  FTokenMaster->MovePosBy(body > call ? static_cast<int>(std::min<size_t>(body - call, INT_MAX)) : 0);
  if (FDebugging) debug_edit(body, true);
  int result;
  {
    TCargoFloor floor(FTokenMaster);
    result = interpret_block('}', 'n');
  }
  FTokenMaster->MovePosTo(call);
  return result;
}

int TRunEdits::execute_return() {
  TValueWord value = evaluate();
  if (value != 2 && !FReturnWarn) {
    if (value != 0 && !FReturnFail) {
      FStop = true;
      return static_cast<int>(value);
    }
    FReturnFail = false;
    FTokenMaster->CopyToCargo("FAIL");
    if (!FOverrideErrorMessage) FEditErrors->ReportDefaultError(FRunningEdit, "E");
    FRunningEdit->IncrErrorsCount();
    if (FRunningEdit->GetFieldsCount() == 1 && FRunningEdit->GetFieldByMacroOrder(0) > 0) {
      TLayoutField* field = FRunningEdit->GetLayoutField(0);
      if (field != nullptr) field->SetFailedSingleFieldEdit(true);
    }
  } else {
    FReturnWarn = false;
    FTokenMaster->CopyToCargo("WARN");
    if (FEditSet == nullptr || FEditSet->GetSuppressWarnings() == 0) {
      FEditErrors->ReportDefaultError(FRunningEdit, "W");
      FRunningEdit->IncrWarningsCount();
    }
  }
  FStop = true;
  return static_cast<int>(value);
}

void TRunEdits::expect_open_paren(const char* method) {
  TToken* token = read_token(false);
  if (token == nullptr || token->GetTokenID() != '(') fail(method, "syntax error: expected opening parenthesis");
}

// Loops may end exactly at the end of the logic; any other target must lie inside it.
void TRunEdits::move_to(size_t pos) {
  if (pos == FTokenMaster->GetCompiledLength()) FTokenMaster->SetPos(pos);
  else FTokenMaster->MovePosTo(pos);
}

// Runs the part that a keyword controls: a braced block, or one statement.
void TRunEdits::run_controlled_part(char keyword) {
  size_t start = FTokenMaster->GetPos();
  TToken* token = read_token(false);
  if (token != nullptr && token->GetTokenType() == 1 && token->GetTokenID() == '{') {
    if (FDebugging) debug_edit(FTokenMaster->GetPos(), true);
    interpret_block('}', '{');
  } else {
    FTokenMaster->SetPos(start);
    interpret_block(';', keyword);
  }
}

// True when the token that follows is an else; the position is kept after it,
// else it goes back.
bool TRunEdits::else_follows() {
  size_t start = FTokenMaster->GetPos();
  TToken* token = read_token(false);
  if (token != nullptr && token->GetTokenID() == 'A') return true;
  FTokenMaster->SetPos(start);
  return false;
}

TValueWord TRunEdits::evaluate_condition() {
  size_t start = FTokenMaster->GetPos();
  TValueWord condition = evaluate();
  if (FDebugging) debug_lines(start, FTokenMaster->GetPos());
  return condition;
}

int TRunEdits::ExecuteIF(int jump) {
  expect_open_paren("ExecuteIF");
  bool holds = evaluate_condition() != 0;
  FTokenMaster->CheckMoveBy(jump);
  if (FDebugging) debug_edit(first_token_pos(FTokenMaster->GetPos()), holds);
  if (holds) {
    run_controlled_part('F');
    if (else_follows()) FTokenMaster->MovePosBy(FTokenMaster->LastDecoded().Number);
  } else {
    FTokenMaster->MovePosBy(jump);
    if (else_follows()) run_controlled_part('A');
  }
  return 0;
}

int TRunEdits::ExecuteWHILE(int jump) {
  expect_open_paren("ExecuteWHILE");
  size_t condition = FTokenMaster->GetPos();
  bool holds = evaluate_condition() != 0;
  FTokenMaster->CheckMoveBy(jump);
  size_t end = FTokenMaster->GetPos() + static_cast<size_t>(jump);
  if (!holds) {
    FTokenMaster->MovePosBy(jump);
    return 0;
  }
  bool pushed = FDebugging && push_loop_line(FTokenMaster->GetPos());
  run_controlled_part('B');
  while (!FStop) {
    move_to(condition);
    if (evaluate_condition() == 0) break;
    if (FDebugging) count_loop_iteration();
    run_controlled_part('B');
  }
  if (pushed) FLoopLines.pop_back();
  move_to(end);
  return 0;
}

int TRunEdits::ExecuteFOR(int jump) {
  expect_open_paren("ExecuteFOR");
  evaluate();
  size_t condition = FTokenMaster->GetPos();
  bool holds = evaluate_condition() != 0;
  size_t increment = FTokenMaster->GetPos();
  for (int depth = 1; depth > 0;) {
    TToken* token = read_token(false);
    if (token == nullptr) fail("ExecuteFOR", "syntax error: expected RPAREN");
    if (token->GetTokenType() == 3 && token->GetTokenID() == '(') ++depth;
    if (token->GetTokenType() == 3 && token->GetTokenID() == ')') --depth;
  }
  FTokenMaster->CheckMoveBy(jump);
  if (!holds) {
    FTokenMaster->MovePosBy(jump);
    return 0;
  }
  size_t body = FTokenMaster->GetPos();
  bool pushed = FDebugging && push_loop_line(body);
  for (;;) {
    run_controlled_part('C');
    if (FStop) break;
    move_to(increment);
    evaluate();
    move_to(condition);
    if (evaluate_condition() == 0) {
      move_to(body + static_cast<size_t>(jump));
      break;
    }
    if (FDebugging) count_loop_iteration();
    move_to(body);
  }
  if (pushed) FLoopLines.pop_back();
  return 0;
}

int TRunEdits::ExecuteDO(int) {
  TToken* token = GetCompiledToken();
  if (token == nullptr || token->GetTokenID() != '{') fail("ExecuteDO", "syntax error: expected opening brace \"{\"");
  size_t body = FTokenMaster->GetPos();
  bool pushed = FDebugging && push_loop_line(body);
  for (;;) {
    interpret_block('}', '{');
    if (FStop) break;
    token = GetCompiledToken();
    if (token == nullptr || token->GetTokenID() != 'B') fail("ExecuteDO", "syntax error: expected WHILE");
    token = GetCompiledToken();
    if (token == nullptr || token->GetTokenID() != '(') fail("ExecuteDO", "syntax error: expected LPAREN \"(\"");
    if (evaluate_condition() == 0) break;
    if (FDebugging) count_loop_iteration();
    move_to(body);
  }
  if (pushed) FLoopLines.pop_back();
  return 0;
}
