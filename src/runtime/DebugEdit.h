// The trace of one edit debugged over one record: which source lines ran and
// the values of the variables after each executed line, per loop iteration.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "quelt.h"

// One variable's value captured on a line, in one iteration. The setters
// change the record only: a capture already kept by its line stays where it
// was filed.
class TDebugVariable {
 public:
  TDebugVariable(int line, int iteration, std::string name, std::string value, int isString)
      : FLine(line), FIteration(iteration), FName(std::move(name)), FValue(std::move(value)),
        FIsString(isString != 0) {}

  int GetLineNumber() const { return FLine; }
  void SetLineNumber(int line) { FLine = line; }
  int GetIteration() const { return FIteration; }
  void SetIteration(int iteration) { FIteration = iteration; }
  const std::string& GetVariableName() const { return FName; }
  void SetVariableName(const std::string& name) { FName = name; }
  const std::string& GetVariableValue() const { return FValue; }
  void SetVariableValue(const std::string& value) { FValue = value; }
  bool GetIsStringVar() const { return FIsString; }
  void SetIsStringVar(int isString) { FIsString = isString != 0; }

 private:
  int FLine;
  int FIteration;
  std::string FName;
  std::string FValue;
  bool FIsString;
};

// One source line reached: whether it ran, its text and its captures.
class TDebugLine {
 public:
  TDebugLine(int line, bool executed, std::string logic)
      : FLine(line), FExecuted(executed), FLogic(std::move(logic)) {}
  ~TDebugLine() { clear_variables_map(); }
  TDebugLine(const TDebugLine&) = delete;
  TDebugLine& operator=(const TDebugLine&) = delete;

  // Takes ownership; replaces a capture of the same name in the same iteration.
  void AddDebugVariable(TDebugVariable* variable);
  void AddDebugVariable(int iteration, const std::string& name, const std::string& value, int isString);
  const std::string& GetLogic() const { return FLogic; }
  // The line's 0-based index in the source.
  int GetLineNumber() const { return FLine; }
  bool GetLineExecuted() const { return FExecuted; }
  // Variables captured in the lowest iteration number.
  int GetVariablesCount() const;
  int GetVariableIterationsCount() const { return static_cast<int>(FCaptures.size()); }
  // The i-th iteration number in ascending order, -1 past the end.
  int GetVariablesIteration(int i) const;
  // The capture at a 0-based position (name order) of an iteration, or null.
  const TDebugVariable* GetDebugVariable(int iteration, int position) const;
  void clear_variables_map();

 private:
  int FLine;
  bool FExecuted;
  std::string FLogic;
  std::map<int, std::map<std::string, TDebugVariable*>> FCaptures;
};

class TDebugEdit {
 public:
  TDebugEdit() = default;
  ~TDebugEdit() { clear_debug_lines(); }
  TDebugEdit(const TDebugEdit&) = delete;
  TDebugEdit& operator=(const TDebugEdit&) = delete;

  void ParseEditLogic(const std::string& source);
  void ParseCompiledLogic(const std::string& compiled);
  // The source line that holds a compiled-logic position, -1 when there are
  // no lines; and where a source line starts in the compiled logic.
  int FindCompiledLogicLine(size_t position) const;
  int GetPosAtLine(int line) const;
  int GetEditLogicLinesCount() const { return static_cast<int>(FSourceLines.size()); }
  std::string GetEditLogicAtLine(int line) const;
  void AddDebugLine(int line, bool executed, const std::string& logic);
  bool HasDebugLine(int line) const { return FLines.count(line) != 0; }
  bool GetLineExecuted(int line) const;
  std::string GetLogic(int line) const;
  int GetDebugLinesCount() const { return static_cast<int>(FLines.size()); }
  int GetLineNumberAtMapIndex(int i) const;
  void AddDebugVariable(int line, int iteration, const std::string& name, const std::string& value, int isString);
  int GetDebugVariablesCount(int line) const;
  int GetDebugVariableIterationsCount(int line) const;
  int GetDebugVariablesIteration(int line, int i) const;
  std::string GetDebugVariableName(int line, int iteration, int position) const;
  std::string GetDebugVariableValue(int line, int iteration, int position) const;
  int GetDebugVariableIsStringVar(int line, int iteration, int position) const;
  void clear_debug_lines();

 private:
  const TDebugLine* find_line(int line) const;
  const TDebugVariable* find_variable(int line, int iteration, int position) const;

  std::map<int, TDebugLine*> FLines;
  std::vector<int> FCompiledLineStarts;
  std::vector<std::string> FSourceLines;
  // The blank lines that open the source: the compiler keeps no line mark
  // for them, so compiled line k is source line k plus these.
  int FSkippedLines = 0;
};
