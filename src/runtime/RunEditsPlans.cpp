// Expressions decoded once into trees: the interpreter's own expressions
// (statements, conditions, loop headers, returns, sizes) that call nothing and
// read no field are parsed once, exactly as the evaluator would read their
// tokens, and then evaluated from the tree without reading the tokens again.
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "library/LibFuncs.h"
#include "runtime/RunEdits.h"
#include "runtime/Variable.h"

namespace {

const int kMaxPlanDepth = 32;
const size_t kMaxPlanNodes = 256;

// Parses an expression the way the evaluator reads it, level by level, into
// plan nodes. Anything the tree cannot stand for (a call, a field, a token
// the evaluator would refuse, too deep a nesting) abandons the plan, and the
// expression is then always read token by token.
class TPlanBuilder {
 public:
  TPlanBuilder(TDecodedLogic& logic, const TTokenMaster& reader, TExpressionPlan& plan)
      : FLogic(logic), FReader(reader), FPlan(plan) {}

  bool Build(size_t start) {
    FPos = start;
    next();
    if (!FOk || FToken == nullptr || FToken->GetTokenType() == 11 || is(';', 3) || is('#', 0)) return false;
    FPlan.Root = eval0();
    FPlan.EndTokenPos = static_cast<uint32_t>(FTokenPos);
    FPlan.EndToken = &FLogic.At(FTokenPos);
    FPlan.EndTableToken = FToken;
    return FOk && FPlan.Nodes.size() <= kMaxPlanNodes;
  }

 private:
  void next() {
    FTokenPos = FPos;
    TDecodedToken& token = FLogic.At(FPos);
    FDecoded = &token;
    FPos = token.Next;
    FToken = token.AtEnd ? nullptr : FReader.TokenFor(token.Compiled);
    if (token.Fault != 0) FOk = false;
  }
  bool is(TTokenID id) const { return FToken != nullptr && FToken->GetTokenID() == id; }
  bool is(TTokenID id, TTokenType type) const { return is(id) && FToken->GetTokenType() == type; }
  bool of_type(TTokenType type) const { return FToken != nullptr && FToken->GetTokenType() == type; }

  int32_t add(TPlanNode node) {
    FPlan.Nodes.push_back(node);
    return static_cast<int32_t>(FPlan.Nodes.size()) - 1;
  }
  int32_t variable_node(TPlanNode::TKind kind) {
    TPlanNode node;
    node.Kind = kind;
    node.TextPos = FDecoded->OperandPos;
    node.TextLength = FDecoded->OperandLength;
    node.Key = FLogic.NameKey(node.TextPos, node.TextLength);
    return add(node);
  }
  int32_t give_up() {
    FOk = false;
    return -1;
  }

  // A variable and its subscript, when "[" follows; the token after them is current.
  int32_t variable() {
    int32_t node = variable_node(TPlanNode::kVariable);
    next();
    if (!is('[')) return node;
    FPlan.Subscripted.push_back(node);
    next();
    TPlanNode index;
    if (of_type(8)) index.Value = FDecoded->Number;
    int32_t subscript = of_type(6) ? variable_node(TPlanNode::kIndexVariable) : add(index);
    next();
    if (!is(']')) return give_up();
    next();
    FPlan.Nodes[node].Left = subscript;
    return node;
  }

  int32_t eval0() {
    if (++FDepth > kMaxPlanDepth) return give_up();
    if (FPlan.Depth < FDepth) FPlan.Depth = FDepth;
    int32_t result;
    if (!of_type(6)) {
      result = eval1();
    } else {
      size_t nodes = FPlan.Nodes.size(), subscripted = FPlan.Subscripted.size(), variablePos = FTokenPos;
      int32_t target = variable();
      if (FOk && is('=')) {
        next();
        TPlanNode assign;
        assign.Kind = TPlanNode::kAssign;
        assign.Left = target;
        assign.Right = eval0();
        result = add(assign);
      } else {
        // Not an assignment: the variable is read again, as an operand.
        FPlan.Nodes.resize(nodes);
        FPlan.Subscripted.resize(subscripted);
        FPos = variablePos;
        next();
        result = FOk ? eval1() : -1;
      }
    }
    --FDepth;
    return result;
  }

  int32_t binary(char op, int32_t left, int32_t right) {
    TPlanNode node;
    node.Kind = TPlanNode::kBinary;
    node.Op = op;
    node.Left = left;
    node.Right = right;
    return add(node);
  }

  // One level of left-grouping operators over the next level.
  int32_t left_grouping(const char* ops, int32_t (TPlanBuilder::*operand)()) {
    int32_t result = (this->*operand)();
    while (FOk && FToken != nullptr && FToken->GetTokenID() > 0 && strchr(ops, FToken->GetTokenID()) != nullptr) {
      char op = static_cast<char>(FToken->GetTokenID());
      next();
      result = binary(op, result, (this->*operand)());
    }
    return result;
  }

  int32_t eval1() { return left_grouping("&|", &TPlanBuilder::eval2); }

  int32_t eval2() {
    int32_t result = eval3();
    if (!FOk || !of_type(10) || !TRunEdits::is_relational(FToken->GetTokenID())) return result;
    char op = static_cast<char>(FToken->GetTokenID());
    next();
    return binary(op, result, eval3());
  }

  int32_t eval3() { return left_grouping("+-", &TPlanBuilder::eval4); }
  int32_t eval4() { return left_grouping("*/%", &TPlanBuilder::eval5); }

  int32_t eval5() {
    if (!of_type(10) || !(is('+') || is('-') || is('!'))) return eval6();
    TPlanNode node;
    node.Kind = TPlanNode::kUnary;
    node.Op = static_cast<char>(FToken->GetTokenID());
    next();
    node.Left = eval6();
    return add(node);
  }

  int32_t eval6() {
    if (!is('(', 3)) return eval7();
    next();
    int32_t result = eval0();
    next();  // whatever ended the inner expression is taken as its ")"
    return result;
  }

  int32_t eval7() {
    TPlanNode node;
    switch (FToken != nullptr ? FToken->GetTokenType() : -1) {
      case 2:
        node.Value = static_cast<signed char>(FDecoded->OneChar);
        break;
      case 6:
        return variable();
      case 8:
        node.Value = FDecoded->Number;
        break;
      case 9:
        if (FDecoded->Compiled == 'O') node.Kind = TPlanNode::kToday;
        else node.Value = static_cast<int32_t>(TRunEdits::named_constant(static_cast<char>(FDecoded->Compiled)));
        break;
      case 11:
        node.Kind = TPlanNode::kString;
        node.TextPos = FDecoded->OperandPos;
        node.TextLength = FDecoded->OperandLength;
        break;
      default:
        // An empty pair of parentheses leaves the value as it was: not a tree.
        return give_up();
    }
    int32_t added = add(node);
    next();
    return added;
  }

  TDecodedLogic& FLogic;
  const TTokenMaster& FReader;
  TExpressionPlan& FPlan;
  size_t FPos = 0;
  size_t FTokenPos = 0;
  TDecodedToken* FDecoded = nullptr;
  TToken* FToken = nullptr;
  int FDepth = 0;
  bool FOk = true;
};

}  // namespace

TExpressionPlan* TRunEdits::plan_at(size_t pos) {
  TDecodedLogic* logic = FTokenMaster->GetDecodedLogic();
  TDecodedToken& head = logic->At(pos);
  if (head.PlanTried || pos >= logic->Text().size()) return head.Plan;
  std::unique_ptr<TExpressionPlan> built(new TExpressionPlan());
  bool declaration = !head.AtEnd && head.Fault == 0 && (head.Compiled == 'H' || head.Compiled == 'I');
  bool made = declaration ? build_declaration(head, *built) : TPlanBuilder(*logic, *FTokenMaster, *built).Build(pos);
  if (!made) built.reset();
  return logic->SetPlan(pos, std::move(built));
}

// Reads a declaration as declare_variables does; every size must have a
// plan of its own, so that where the reading ends never depends on a call.
bool TRunEdits::build_declaration(const TDecodedToken& head, TExpressionPlan& plan) {
  TDecodedLogic* logic = FTokenMaster->GetDecodedLogic();
  plan.Kind = head.Compiled == 'H' ? TVariable::kCharacter : TVariable::kInteger;
  size_t pos = head.Next;
  auto read = [&]() -> TDecodedToken* {
    TDecodedToken& token = logic->At(pos);
    pos = token.Next;
    return token.Fault == 0 ? &token : nullptr;
  };
  for (;;) {
    TDecodedToken* token = read();
    if (token != nullptr && token->Compiled == '*') token = read();
    if (token == nullptr) return false;
    if (token->AtEnd || token->Compiled == ';') break;
    uint32_t length = token->Compiled == 'N' ? token->OperandLength : 0;
    TExpressionPlan::TDeclared declared{token->OperandPos, length, -1, logic->NameKey(token->OperandPos, length)};
    TDecodedToken* after = read();
    if (after != nullptr && after->Compiled == '[') {
      declared.SizePos = static_cast<int32_t>(pos);
      TExpressionPlan* size = plan_at(pos);
      if (size == nullptr || size->Kind != 0 || !size->Subscripted.empty()) return false;
      pos = logic->At(size->EndTokenPos).Next;
      after = read();
    }
    if (after == nullptr) return false;
    plan.Declared.push_back(declared);
    if (after->AtEnd || after->Compiled == ';') break;
  }
  plan.End = static_cast<uint32_t>(pos);
  return true;
}

void TRunEdits::run_declaration(const TExpressionPlan& plan) {
  for (const TExpressionPlan::TDeclared& declared : plan.Declared) {
    int kind = plan.Kind;
    size_t size = 1;
    if (declared.SizePos >= 0) {
      kind |= TVariable::kArray;
      FTokenMaster->SetPos(static_cast<size_t>(declared.SizePos));
      size = static_cast<size_t>(static_cast<int32_t>(evaluate()));
    }
    if (declared.NameLength > 0)
      declare(FTokenMaster->GetCompiledLogic() + declared.NamePos, declared.NameLength, kind, size, declared.Key);
  }
  FTokenMaster->SetPos(plan.End);
}

// Evaluates the expression at the read position from its plan when it has
// one that fits the running edit's variables, else token by token.
TValueWord TRunEdits::evaluate() {
  size_t start = FTokenMaster->GetPos();
  TExpressionPlan* plan = plan_at(start);
  if (plan == nullptr || plan->Kind != 0 || FNesting + plan->Depth > kMaxNesting || !subscripts_fit(*plan))
    return EvaluateExpression();
  FTokenMaster->SavePos();
  TValueWord value = run_plan(plan->Nodes.data(), plan->Root);
  FTokenMaster->SetReadAfter(*plan->EndToken);
  FCurrentDecoded = plan->EndToken;
  FCurrentToken = plan->EndTableToken;
  return value;
}

// A variable read with a subscript must be an array, as its declaration says.
bool TRunEdits::subscripts_fit(TExpressionPlan& plan) {
  for (int32_t index : plan.Subscripted) {
    TVariable* variable = plan_variable(plan.Nodes[index], false);
    if (variable == nullptr || (variable->GetVariableType() & TVariable::kArray) == 0) return false;
  }
  return true;
}

TVariable* TRunEdits::plan_variable(TPlanNode& node, bool mustExist) {
  if (node.Slot >= 0 && static_cast<size_t>(node.Slot) < FVariablesInUse &&
      FVariables[node.Slot]->GetKey() == node.Key)
    return FVariables[node.Slot];
  const char* name = FTokenMaster->GetCompiledLogic() + node.TextPos;
  node.Slot = find_variable(name, node.TextLength);
  if (node.Slot >= 0) return FVariables[node.Slot];
  if (mustExist) GetVariable(std::string(name, node.TextLength).c_str(), true);
  return nullptr;
}

TValueWord TRunEdits::run_plan(TPlanNode* nodes, int32_t index) {
  TPlanNode& node = nodes[index];
  switch (node.Kind) {
    case TPlanNode::kConstant:
      return node.Value;
    case TPlanNode::kString:
      return reinterpret_cast<TValueWord>(
          FTokenMaster->PushCargo(FTokenMaster->GetCompiledLogic() + node.TextPos, node.TextLength));
    case TPlanNode::kToday: {
      char date[16];
      snprintf(date, sizeof date, "%d", static_cast<int>(FLibFuncs->GetSystemDate()));
      return reinterpret_cast<TValueWord>(FTokenMaster->CopyToCargo(date));
    }
    case TPlanNode::kVariable: {
      TVariable* variable = plan_variable(node, true);
      size_t element = node.Left >= 0 ? checked_index(variable, run_plan(nodes, node.Left)) : 0;
      return variable_value(variable, element);
    }
    case TPlanNode::kIndexVariable:
      return index_value(plan_variable(node, true));
    case TPlanNode::kAssign: {
      TPlanNode& target = nodes[node.Left];
      TVariable* variable = plan_variable(target, true);
      size_t element = target.Left >= 0 ? checked_index(variable, run_plan(nodes, target.Left)) : 0;
      TValueWord value = run_plan(nodes, node.Right);
      assign(variable, element, value);
      return value;
    }
    case TPlanNode::kUnary:
      return apply_unary(node.Op, run_plan(nodes, node.Left));
    case TPlanNode::kBinary: {
      TValueWord left = run_plan(nodes, node.Left);
      return apply_binary(node.Op, left, run_plan(nodes, node.Right));
    }
  }
  return 0;
}
