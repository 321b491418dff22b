// A variable declared by the logic of the running edit: a character variable
// (a text buffer of declared size) or an integer variable (int elements).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "runtime/TokenMaster.h"

class TVariable {
 public:
  static const int kCharacter = 1;
  static const int kInteger = 2;
  static const int kArray = 64;

  TVariable(const std::string& name, int type, size_t size);
  ~TVariable();
  TVariable(const TVariable&) = delete;
  TVariable& operator=(const TVariable&) = delete;

  // Gives a pooled variable to a new declaration; key, when given, stands
  // for the name (see TDecodedLogic::NameKey).
  void Reset(const char* name, size_t length, int type, size_t size, const void* key = nullptr);
  const void* GetKey() const { return FKey; }
  const char* GetVariableName() const { return FName.c_str(); }
  const std::string& Name() const { return FName; }
  int GetVariableType() const { return FType; }
  bool IsCharacter() const { return (FType & kCharacter) != 0; }
  // The address of a character variable's text; 0 for an integer variable.
  TValueWord GetStringValueAsInteger() const;
  // True when the address lies in this character variable's text.
  bool HoldsText(const char* address) const {
    return IsCharacter() && FBuffer != nullptr && address >= FBuffer && address <= FBuffer + FSize;
  }
  const char* GetText() const { return FBuffer != nullptr && IsCharacter() ? FBuffer : ""; }
  void SetValue(const char* text);
  void SetTableVarValue(const char* text, size_t size);
  void SetValue(size_t index, int value);
  int GetValue(size_t index) const;
  size_t Count() const { return FValues.size(); }
  size_t GetSize() const { return FSize; }

 private:
  void make_buffer(size_t size);

  std::string FName;
  const void* FKey = nullptr;
  int FType = 0;
  char* FBuffer = nullptr;
  size_t FCapacity = 0;  // the buffer holds FCapacity characters and a NUL
  size_t FSize = 0;
  std::vector<int> FValues;
};
