// An expression of compiled logic decoded once into a tree. Only expressions
// that call nothing and read no field get one; evaluating the tree gives the
// same value, the same assignments and the same engine errors, in the same
// order, as reading the expression's tokens one by one.
#pragma once

#include <cstdint>
#include <vector>

struct TPlanNode {
  enum TKind : uint8_t {
    kConstant,       // Value
    kString,         // the text at TextPos, pushed on the cargo stack
    kToday,          // today's date, pushed on the cargo stack
    kVariable,       // the variable named at TextPos; Left: its subscript or -1
    kIndexVariable,  // a variable used as a subscript: element 0 of an integer one
    kAssign,         // Left: the target variable node; Right: the value
    kUnary,          // Op applied to Left
    kBinary,         // Left Op Right
  };
  TKind Kind = kConstant;
  char Op = 0;
  int32_t Value = 0;
  int32_t Left = -1;
  int32_t Right = -1;
  uint32_t TextPos = 0;
  uint32_t TextLength = 0;
  int32_t Slot = -1;          // the variable pool entry that answered the name last
  const void* Key = nullptr;  // the name, interned: equal keys are equal names
};

// A plan stands for an expression, or for a declaration when Kind is set.
struct TExpressionPlan {
  // A declared name, with the start of its size expression (-1 for none).
  struct TDeclared {
    uint32_t NamePos;
    uint32_t NameLength;  // 0 when the token in its place is no name
    int32_t SizePos;
    const void* Key;
  };
  int Kind = 0;  // the declaration's variable kind; 0 for an expression
  std::vector<TDeclared> Declared;
  uint32_t End = 0;  // where reading goes on after the declaration

  std::vector<TPlanNode> Nodes;
  int32_t Root = -1;
  // Where the token that ended the expression was read, and how deep the
  // expression nests (the interpreter's own nesting limit still applies).
  uint32_t EndTokenPos = 0;
  struct TDecodedToken* EndToken = nullptr;
  class TToken* EndTableToken = nullptr;  // null at the end of the text
  int Depth = 0;
  // Variables followed by "[": reading them so needs them to be arrays, which
  // only the running edit's declarations tell.
  std::vector<int32_t> Subscripted;
};
