// The trace of a debugged edit: source lines, compiled line starts, the lines
// reached and the variables captured on them.
#include "runtime/DebugEdit.h"

#include <algorithm>
#include <iterator>

#include "storage/Utility.h"

void TDebugLine::AddDebugVariable(TDebugVariable* variable) {
  TDebugVariable*& slot = FCaptures[variable->GetIteration()][variable->GetVariableName()];
  delete slot;
  slot = variable;
}

void TDebugLine::AddDebugVariable(int iteration, const std::string& name, const std::string& value, int isString) {
  AddDebugVariable(new TDebugVariable(FLine, iteration, name, value, isString));
}

int TDebugLine::GetVariablesCount() const {
  return FCaptures.empty() ? 0 : static_cast<int>(FCaptures.begin()->second.size());
}

int TDebugLine::GetVariablesIteration(int i) const {
  if (i < 0 || i >= GetVariableIterationsCount()) return -1;
  return std::next(FCaptures.begin(), i)->first;
}

const TDebugVariable* TDebugLine::GetDebugVariable(int iteration, int position) const {
  auto captures = FCaptures.find(iteration);
  if (captures == FCaptures.end() || position < 0 || position >= static_cast<int>(captures->second.size()))
    return nullptr;
  return std::next(captures->second.begin(), position)->second;
}

void TDebugLine::clear_variables_map() {
  for (auto& iteration : FCaptures)
    for (auto& capture : iteration.second) delete capture.second;
  FCaptures.clear();
}

// Lines end in CRLF or in a bare line feed; a doubled quote shows once and a
// tab as four blanks, as the author sees them.
void TDebugEdit::ParseEditLogic(const std::string& source) {
  FSourceLines.clear();
  size_t opening = std::min(source.find_first_not_of(" \t\r\n"), source.size());
  FSkippedLines = static_cast<int>(std::count(source.begin(), source.begin() + opening, '\n'));
  std::string text = source + "\n";
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    FSourceLines.push_back(ci_stringReplace(ci_stringReplace(line, "''", "'", false), "\t", "    ", false));
  }
}

void TDebugEdit::ParseCompiledLogic(const std::string& compiled) {
  FCompiledLineStarts.clear();
  if (compiled.empty()) return;
  FCompiledLineStarts.push_back(0);
  std::string text = compiled + "\n";
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n') FCompiledLineStarts.push_back(static_cast<int>(i + 1));
}

int TDebugEdit::FindCompiledLogicLine(size_t position) const {
  auto after = std::upper_bound(FCompiledLineStarts.begin(), FCompiledLineStarts.end(), position,
                                [](size_t p, int start) { return p < static_cast<size_t>(start); });
  if (after == FCompiledLineStarts.begin()) return -1;
  return static_cast<int>(after - FCompiledLineStarts.begin()) - 1 + FSkippedLines;
}

int TDebugEdit::GetPosAtLine(int line) const {
  int compiled = line - FSkippedLines;
  return compiled < 0 || compiled >= static_cast<int>(FCompiledLineStarts.size()) ? -1 : FCompiledLineStarts[compiled];
}

std::string TDebugEdit::GetEditLogicAtLine(int line) const {
  return line < 0 || line >= GetEditLogicLinesCount() ? std::string() : FSourceLines[line];
}

void TDebugEdit::AddDebugLine(int line, bool executed, const std::string& logic) {
  TDebugLine*& slot = FLines[line];
  delete slot;
  slot = new TDebugLine(line, executed, logic);
}

const TDebugLine* TDebugEdit::find_line(int line) const {
  auto found = FLines.find(line);
  return found == FLines.end() ? nullptr : found->second;
}

bool TDebugEdit::GetLineExecuted(int line) const {
  const TDebugLine* record = find_line(line);
  return record != nullptr && record->GetLineExecuted();
}

std::string TDebugEdit::GetLogic(int line) const {
  const TDebugLine* record = find_line(line);
  return record != nullptr ? record->GetLogic() : std::string();
}

int TDebugEdit::GetLineNumberAtMapIndex(int i) const {
  if (i < 0 || i >= GetDebugLinesCount()) return -1;
  return std::next(FLines.begin(), i)->first;
}

void TDebugEdit::AddDebugVariable(int line, int iteration, const std::string& name, const std::string& value,
                                  int isString) {
  auto found = FLines.find(line);
  if (found != FLines.end()) found->second->AddDebugVariable(iteration, name, value, isString);
}

int TDebugEdit::GetDebugVariablesCount(int line) const {
  const TDebugLine* record = find_line(line);
  return record != nullptr ? record->GetVariablesCount() : 0;
}

int TDebugEdit::GetDebugVariableIterationsCount(int line) const {
  const TDebugLine* record = find_line(line);
  return record != nullptr ? record->GetVariableIterationsCount() : 0;
}

int TDebugEdit::GetDebugVariablesIteration(int line, int i) const {
  const TDebugLine* record = find_line(line);
  return record != nullptr ? record->GetVariablesIteration(i) : -1;
}

const TDebugVariable* TDebugEdit::find_variable(int line, int iteration, int position) const {
  const TDebugLine* record = find_line(line);
  return record != nullptr ? record->GetDebugVariable(iteration, position) : nullptr;
}

std::string TDebugEdit::GetDebugVariableName(int line, int iteration, int position) const {
  const TDebugVariable* variable = find_variable(line, iteration, position);
  return variable != nullptr ? variable->GetVariableName() : std::string();
}

std::string TDebugEdit::GetDebugVariableValue(int line, int iteration, int position) const {
  const TDebugVariable* variable = find_variable(line, iteration, position);
  return variable != nullptr ? variable->GetVariableValue() : std::string();
}

int TDebugEdit::GetDebugVariableIsStringVar(int line, int iteration, int position) const {
  const TDebugVariable* variable = find_variable(line, iteration, position);
  return variable != nullptr && variable->GetIsStringVar() ? 1 : 0;
}

void TDebugEdit::clear_debug_lines() {
  for (auto& line : FLines) delete line.second;
  FLines.clear();
}
