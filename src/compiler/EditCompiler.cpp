// The compiler driver: one compile from source to compiled text, the symbol
// table, the user-function records and the result lists read by recompilation
// and by the authoring host.
#include "compiler/EditCompiler.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "compiler/CompiledText.h"
#include "storage/EngineErrorsPump.h"
#include "storage/SQLQuery.h"
#include "storage/Utility.h"

namespace {

const char* const kUDFNameDelimiters = " \t\r\n!;,+-<>'%^=()[]{}";
const int kMaxBodyPosition = 99999;

// Built-in codes whose calls name a lookup table.
const char kLookupCodes[] = {'X', 'S', 'f'};
const char kSQLLookupCodes[] = {'{', '}'};

}  // namespace

void TVariableDef::SetVarType(char type) {
  if (type != 'I' && type != 'H') throw std::runtime_error("TVariableDef::SetVarType - invalid var_type");
  VarType = type;
}

void TVariableDef::SetVarSize(size_t size) {
  if (size == 0) throw std::runtime_error("TVariableDef::SetVarSize - var_size must be > 0");
  VarSize = size;
}

bool TVariablesMap::AddVariable(TVariableDef* def, std::string& message) {
  std::string key = lowercase_string(def->GetName());
  if (Variables.count(key) != 0) {
    message = "variable \"" + def->GetName() + "\" already declared; variable names must be unique";
    return false;
  }
  Variables[key] = def;
  return true;
}

TVariableDef* TVariablesMap::GetVariable(const std::string& name) const {
  auto found = Variables.find(lowercase_string(name));
  return found == Variables.end() ? nullptr : found->second;
}

void TVariablesMap::ClearVariables() {
  for (auto& entry : Variables) delete entry.second;
  Variables.clear();
}

TEditCompiler::TEditCompiler(TSQLDB* db, TEngineErrorsPump* pump, TTablesList* tables)
    : FSQLDB(db), FQuery(new TSQLQuery(db)), FEnginePump(pump), FTablesList(tables),
      FVariables(new TVariablesMap()) {}

void DeleteUDFDef(RLt_UDFDef* udf) { delete udf; }

void ClearUsedFlag(RLt_UDFDef* udf) { udf->Used = false; }

TEditCompiler::~TEditCompiler() {
  std::for_each(FUDFs.begin(), FUDFs.end(), DeleteUDFDef);
  delete FVariables;
  clear_results();
  delete FQuery;
}

void TEditCompiler::clear_results() {
  FErrors.clear();
  FWarnings.clear();
  FLogicFieldsList.clear();
  FLogicTablesList.clear();
  for (TLogicMessageObject* entry : FLogicMessageNumbersList) delete entry;
  FLogicMessageNumbersList.clear();
  for (TLogicMessageObject* entry : FLogicErrorMessagesList) delete entry;
  FLogicErrorMessagesList.clear();
}

std::string TEditCompiler::line_prefix() const {
  char prefix[32];
  snprintf(prefix, sizeof prefix, "Line %4i: ", static_cast<int>(FLine + 1));
  return prefix;
}

void TEditCompiler::comp_sntx_err(const std::string& message) {
  if (FStructureOnly) structure_fault(TStructureFault::kDamaged, FTokenStart);
  FErrors.push_back(line_prefix() + message);
  FReportedTokens.insert(FTokenStart);
}

void TEditCompiler::comp_sntx_warn(const std::string& message) {
  if (FStructureOnly) return;
  FWarnings.push_back(line_prefix() + message);
  FReportedTokens.insert(FTokenStart);
}

void TEditCompiler::add_to_logic_fields(int number) {
  for (int known : FLogicFieldsList)
    if (known == number) return;
  FLogicFieldsList.push_back(number);
}

const char* TEditCompiler::GetErrorMessage(int i) const {
  return i < 0 || i >= GetErrorCount() ? nullptr : FErrors[i].c_str();
}

const char* TEditCompiler::GetWarningMessage(int i) const {
  return i < 0 || i >= GetWarningCount() ? nullptr : FWarnings[i].c_str();
}

int TEditCompiler::Compile(const std::string& source, int* errors, int* warnings) {
  FSource = source;
  clear_results();
  FVariables->ClearVariables();
  std::for_each(FUDFs.begin(), FUDFs.end(), ClearUsedFlag);
  FCompiled = "@";
  FLastVarName.clear();
  FLastString.clear();
  FLastNumber = 0;
  FLine = 0;
  FInCharConstant = false;
  FCutNumbers.clear();
  // Nothing of the last compile's second pass carries over.
  FCharConstant = 0;
  if (!FSource.empty() && strip_comments() == 0) {
    findUDFs();
    if (FUDFs.size() > kMaxFunctions) {
      comp_sntx_err("too many user functions (at most 26)");
    } else {
      size_t n = FUDFs.size();
      FCompiled[0] = static_cast<char>('@' + n);
      for (size_t i = 0; i < n; ++i) FCompiled += "00000";
      FSrcPos = 0;
      FLine = 0;
      FCurTokId = 0;
      int inlistState = 0;
      do {
        tokenize(inlistState);
      } while (FCurTokId != '~');
      FCmpPos = n > 0 ? 5 * n + 1 : 0;
      FLine = 0;
      FReportedTokens.clear();
      // Logic whose brackets do not balance stops before the second pass, its
      // header slots left at "00000".
      if (balance_parens()) {
        FCmpPos = n > 0 ? 5 * n + 1 : 0;
        FLine = 0;
        parse_block(0);
        write_udf_offsets();
        warn_misread_forms();
      }
    }
  }
  if (errors != nullptr) *errors = GetErrorCount();
  if (warnings != nullptr) *warnings = GetWarningCount();
  update_logic_tables();
  update_logic_messages();
  return 0;
}

// Writes each function's body position into its header slot.
void TEditCompiler::write_udf_offsets() {
  for (size_t i = 0; i < FUDFs.size(); ++i) {
    int offset = FUDFs[i]->Offset;
    if (offset > kMaxBodyPosition) {
      FLine = 0;
      for (int p = 0; p < offset; ++p)
        if (FCompiled[p] == '\n') ++FLine;
      comp_sntx_err("edit logic too long for user functions (> 99999 compiled characters)");
      continue;
    }
    char slot[16];
    snprintf(slot, sizeof slot, "%05d", offset);
    FCompiled.replace(1 + 5 * i, 5, slot);
  }
}

// Removes /* */ comments, keeping their newlines as line breaks, after
// dropping the white space that opens the source. 0 done, 1 nothing left,
// 2 a comment that never closes (reported on the line where it opens).
int TEditCompiler::strip_comments() {
  FSrcPos = 0;
  size_t start = FSource.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return 1;
  std::string stripped;
  size_t pos = start;
  while (pos < FSource.size()) {
    if (FSource.compare(pos, 2, "/*") != 0) {
      size_t next = FSource.find("/*", pos);
      if (next == std::string::npos) next = FSource.size();
      stripped.append(FSource, pos, next - pos);
      pos = next;
      continue;
    }
    size_t end = FSource.find("*/", pos + 2);
    if (end == std::string::npos) {
      FLine = 0;
      for (char c : stripped)
        if (c == '\n') ++FLine;
      comp_sntx_err("unterminated comment (\"*/\" expected)");
      return 2;
    }
    for (size_t i = pos + 2; i < end; ++i)
      if (FSource[i] == '\n') stripped += '\n';
    pos = end + 2;
  }
  FSource = stripped;
  return 0;
}

void TEditCompiler::findUDFs() {
  std::for_each(FUDFs.begin(), FUDFs.end(), DeleteUDFDef);
  FUDFs.clear();
  std::string lower = lowercase_string(FSource);
  size_t pos = 0;
  for (size_t word; (word = lower.find("function", pos)) != std::string::npos;) {
    size_t quote = lower.find('"', pos);
    if (quote != std::string::npos && quote < word) {
      size_t closing = lower.find('"', quote + 1);
      if (closing != std::string::npos && closing > word) {
        pos = word + 8;
        continue;
      }
    }
    size_t start = std::min(word + 9, lower.size());
    size_t end = lower.find_first_of(kUDFNameDelimiters, start);
    if (end == std::string::npos) end = lower.size();
    end = std::min(end, start + 32);
    RLt_UDFDef* udf = new RLt_UDFDef();
    std::string name = lower.substr(start, end - start);
    memcpy(udf->Name, name.c_str(), name.size() + 1);
    udf->Offset = 0;
    udf->Used = true;
    FUDFs.push_back(udf);
    if (FUDFs.size() > kMaxFunctions) return;
    pos = end;
  }
}

// Lookup tables named by the calls of the compiled text, read token by token
// so that only the table argument of a lookup call is ever taken.
void TEditCompiler::update_logic_tables() {
  auto add = [this](const std::string& name) {
    if (name.empty()) return;
    for (const std::string& known : FLogicTablesList)
      if (known == name) return;
    FLogicTablesList.push_back(name);
  };
  for (char code : kLookupCodes)
    for (const TCompiledCall& call : find_calls(FCompiled, code))
      if (call.Arguments.size() >= 2 && is_string_token(FCompiled, call.Arguments[1])) {
        std::string text = string_token_text(FCompiled, call.Arguments[1]);
        add(text.substr(0, text.find_first_of(".)")));
      }
  for (char code : kSQLLookupCodes)
    for (const TCompiledCall& call : find_calls(FCompiled, code))
      if (!call.Arguments.empty() && is_string_token(FCompiled, call.Arguments[0]))
        add(string_token_text(FCompiled, call.Arguments[0]));
}

void TEditCompiler::update_logic_messages() {
  struct TMessageCall {
    char Code;
    int Kind;
    bool Texts;
  };
  static const TMessageCall calls[] = {{'L', 'E', false},         {'M', 'E', true},
                                       {'g', 'S', false},         {'h', 'S', true},
                                       {'\x85', 'W', false},      {'\x84', 'A', false}};
  for (const TMessageCall& kind : calls) {
    for (const TCompiledCall& call : find_calls(FCompiled, kind.Code)) {
      if (kind.Texts) {
        if (call.Arguments.empty() || !is_string_token(FCompiled, call.Arguments[0])) continue;
        std::string text = string_token_text(FCompiled, call.Arguments[0]);
        bool known = false;
        for (TLogicMessageObject* entry : FLogicErrorMessagesList)
          known = known || (entry->Kind == kind.Kind && entry->Text == text);
        if (!known) FLogicErrorMessagesList.push_back(new TLogicMessageObject(kind.Kind, 0, text));
        continue;
      }
      for (int number : call.Numbers) {
        bool known = false;
        for (TLogicMessageObject* entry : FLogicMessageNumbersList)
          known = known || (entry->Kind == kind.Kind && entry->Number == number);
        if (!known) FLogicMessageNumbersList.push_back(new TLogicMessageObject(kind.Kind, number, ""));
      }
    }
  }
}

int TEditCompiler::GetLogicListCount(char which) {
  switch (which) {
    case 'F': return static_cast<int>(FLogicFieldsList.size());
    case 'T': return static_cast<int>(FLogicTablesList.size());
    case 'M': return static_cast<int>(FLogicMessageNumbersList.size());
    case 'E': return static_cast<int>(FLogicErrorMessagesList.size());
  }
  FEnginePump->AddError("TEditCompiler", "GetLogicListCount", "Invalid value in parameter 'which_list'");
  return -1;
}

// Records the out-of-bounds error and throws when idx is outside a list of that size.
static void check_list_index(TEngineErrorsPump* pump, const char* method, const char* list, int idx,
                             size_t size) {
  if (idx >= 0 && static_cast<size_t>(idx) < size) return;
  char message[160];
  snprintf(message, sizeof message, "Parameter 'idx' (%d) out of bounds for list %s", idx, list);
  pump->AddError("TEditCompiler", method, message);
  throw std::runtime_error("Programmer error");
}

int TEditCompiler::GetLogicFieldNumber(int idx) {
  check_list_index(FEnginePump, "GetLogicFieldNumber", "FLogicFieldsList", idx, FLogicFieldsList.size());
  return FLogicFieldsList[idx];
}

std::string TEditCompiler::GetLogicTableName(int idx) {
  check_list_index(FEnginePump, "GetLogicTableName", "FLogicTablesList", idx, FLogicTablesList.size());
  return FLogicTablesList[idx];
}

std::string TEditCompiler::GetLogicErrorMessage(int idx, int* kind) {
  check_list_index(FEnginePump, "GetLogicErrorMessage", "FLogicErrorMessagesList", idx,
                   FLogicErrorMessagesList.size());
  if (kind != nullptr) *kind = FLogicErrorMessagesList[idx]->Kind;
  return FLogicErrorMessagesList[idx]->Text;
}

int TEditCompiler::GetLogicMessageNumber(int idx, int* kind) {
  check_list_index(FEnginePump, "GetLogicMessageNumber", "FLogicMessageNumbersList", idx,
                   FLogicMessageNumbersList.size());
  if (kind != nullptr) *kind = FLogicMessageNumbersList[idx]->Kind;
  return FLogicMessageNumbersList[idx]->Number;
}
