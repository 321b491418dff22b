// The QUELT edit-logic compiler of one open metafile: checks the source of an
// edit, reports errors and warnings by line number, writes the compiled text
// that the run-time interprets, and lists the fields, lookup tables and
// messages that the logic uses.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "compiler/CompiledText.h"

class TSQLDB;
class TSQLQuery;
class TEngineErrorsPump;
class TTablesList;
class TTableDef;

// One user function found in the source.
struct RLt_UDFDef {
  char Name[33];  // lower-case, at most 32 characters
  int Offset;     // body position in the compiled text; 0 until defined
  bool Used;
};

// Frees one record; clears one record's Used flag (every compile starts so).
void DeleteUDFDef(RLt_UDFDef* udf);
void ClearUsedFlag(RLt_UDFDef* udf);

// One entry of the message-number or message-text list, with the kind letter
// of the built-in that uses it ('E', 'S', 'W', 'A').
class TLogicMessageObject {
 public:
  TLogicMessageObject(int kind, int number, std::string text)
      : Kind(kind), Number(number), Text(std::move(text)) {}
  int Kind;
  int Number;
  std::string Text;
};

// One declared variable: type 'I' integer or 'H' character, and its size.
class TVariableDef {
 public:
  const std::string& GetName() const { return Name; }
  void SetName(const std::string& name) { Name = name; }
  char GetVarType() const { return VarType; }
  void SetVarType(char type);
  size_t GetVarSize() const { return VarSize; }
  void SetVarSize(size_t size);
  // A value kept with the declaration; the compiler itself never sets one.
  const std::string& GetVarValue() const { return VarValue; }
  void SetVarValue(const std::string& value) { VarValue = value; }
  bool GetIsReported() const { return IsReported; }
  void SetIsReported(bool reported) { IsReported = reported; }

 private:
  std::string Name;
  char VarType = '?';
  size_t VarSize = 1;
  std::string VarValue;
  bool IsReported = false;
};

class TVariablesMap {
 public:
  TVariablesMap() = default;
  ~TVariablesMap() { ClearVariables(); }
  TVariablesMap(const TVariablesMap&) = delete;
  TVariablesMap& operator=(const TVariablesMap&) = delete;

  // Takes the definition, or answers false with the duplicate message (the
  // caller then keeps the definition).
  bool AddVariable(TVariableDef* def, std::string& message);
  TVariableDef* GetVariable(const std::string& name) const;
  void ClearVariables();

 private:
  std::map<std::string, TVariableDef*> Variables;
};

// One construct on the nesting stack of the jump-field walk.
struct RLt_NestedConstruct {
  char Kind;  // the keyword's compiled character
  size_t Line;
  bool Opened = false;
  size_t OpenLine = 0;
  bool Closed = false;
  size_t CloseLine = 0;
  bool AwaitingWhile = false;  // a do whose body is done, before its while
  bool DoWhile = false;        // the while that ends a do
  bool StillOpen() const { return Opened && !Closed; }
};

// One row of the built-in catalogue.
struct TInternFuncDef {
  const char* Name;
  int Code;    // the byte written after 'M' in the compiled text
  int Result;  // 'H' a string, 'I' an integer, 0 nothing
  int MinParams;
  int MaxParams;        // 99: no upper limit
  const char* Types;    // parameter types in order; the last repeats
};

class TEditCompiler {
 public:
  static const size_t kMaxFunctions = 26;

  TEditCompiler(TSQLDB* db, TEngineErrorsPump* pump, TTablesList* tables);
  ~TEditCompiler();
  TEditCompiler(const TEditCompiler&) = delete;
  TEditCompiler& operator=(const TEditCompiler&) = delete;

  // Compiles the source; sets the two counts and returns 0. Problems of the
  // logic are messages; a failing data-dictionary query throws.
  int Compile(const std::string& source, int* errors, int* warnings);
  std::string GetCompiledCode() const { return FCompiled; }
  int GetErrorCount() const { return static_cast<int>(FErrors.size()); }
  int GetWarningCount() const { return static_cast<int>(FWarnings.size()); }
  // The i-th message ("Line    7: ..."), or null outside the list.
  const char* GetErrorMessage(int i) const;
  const char* GetWarningMessage(int i) const;

  // Lists of the last compile: 'F' field numbers, 'T' lookup tables,
  // 'M' message numbers, 'E' message texts. A bad letter records an engine
  // error and gives -1; a bad index records one and throws "Programmer error".
  int GetLogicListCount(char which);
  int GetLogicFieldNumber(int idx);
  std::string GetLogicTableName(int idx);
  std::string GetLogicErrorMessage(int idx, int* kind);
  int GetLogicMessageNumber(int idx, int* kind);

  // Reads a compiled text again with the second pass, as the compiler would
  // have read what it wrote: the header, every token and its operand, the
  // statements and blocks and every jump field. The data dictionary, the
  // declarations, the built-ins' codes and their argument lists are left to
  // the run time.
  static TStructureFault CheckStructure(const std::string& compiled);

  // The built-in catalogue.
  std::string get_intern_func_name(char code) const;
  char get_intern_func_code(const std::string& name) const;
  const TInternFuncDef* get_intern_func_def(char code);

 private:
  // A read position of the second pass, to look ahead and come back.
  struct TReadPosition {
    size_t Pos;
    size_t Line;
    char Id;
    int Type;
    int CharConstant;
    size_t TokenStart;
  };
  // Ends a structure check at its first fault.
  struct TStructureBreak {};

  // Driver (compile steps, result lists).
  void comp_sntx_err(const std::string& message);
  void comp_sntx_warn(const std::string& message);
  std::string line_prefix() const;
  void add_to_logic_fields(int number);
  int strip_comments();
  void findUDFs();
  void write_udf_offsets();
  void update_logic_tables();
  void update_logic_messages();
  void clear_results();
  // Warnings of logic that compiles and yet runs other than it reads; they
  // follow every other message.
  void warn_misread_forms();

  // First pass.
  int tokenize(int& inlistState);
  void skip_white_space(bool holdLineMarks, std::string& heldMarks);
  int match_row();
  void check_closing_quote();
  void take_function_definition();
  void take_field_reference(int& inlistState);
  int take_string_constant(int& inlistState);
  void skip_unterminated_string();
  void take_word(int& inlistState);
  void append_number();
  void append_operand(char tokenChar, const std::string& operand);
  std::string field_name_to_field_num(std::string name);
  void open_dictionary_query(const char* method, const std::string& sql);

  // Second pass.
  int get_next_token();
  bool is_token(char id, int type) const;
  TReadPosition read_position() const;
  void restore_position(const TReadPosition& position);
  std::string extract_var_name(unsigned& length) const;
  bool balance_parens();
  void parse_block(int mode);
  void check_else_position(int endMark, std::vector<int>& ifMarks);
  void parse_if(int& end);
  void parse_else(int& end);
  void parse_while();
  void parse_for();
  void parse_for_prep();
  void parse_assign();
  void parse_subscript();
  char next_code_byte() const;
  void check_result_type(char code);
  void check_assigned_value(TVariableDef* def, const std::string& target);
  void parse_vardecl(char type);
  size_t parse_declared_size();
  void declare_variable(const std::string& name, char type, size_t size);
  void parse_fndecl();
  void parse_fncall();
  void parse_return();
  void walk_expr();
  void walk_expr_tokens();
  void walk_code_block(char kind, int fieldPos, int& end);
  void walk_code_block_steps(char kind, int fieldPos, int& end);
  void close_constructs(std::vector<RLt_NestedConstruct>& stack);
  void report_braces(const RLt_NestedConstruct& construct);

  // Structure check of a compiled text.
  void check_structure();
  bool balanced_from(size_t start, bool skipArguments);
  [[noreturn]] void structure_fault(TStructureFault::TKind kind, size_t position, char character = 0);
  void scan_written_tokens(size_t start);
  size_t written_width(size_t pos, bool& inCharConstant);
  size_t quote_width(size_t pos, bool& inCharConstant);
  size_t function_index(size_t pos) const;
  bool definition_letter(size_t pos) const;
  void skip_arguments();
  void check_header();
  void check_jump_fields(const std::string& original);
  void count_definition();
  static bool written_operand(const std::string& text, size_t pos, bool name);

  // Built-in calls.
  void check_params(unsigned char code, const std::string& text, size_t start);
  void check_further(unsigned char code, const std::string& fname, const std::vector<std::string>& params,
                     const std::vector<bool>& passed);
  bool parse_params(const std::string& text, size_t start, std::vector<std::string>& params);
  bool verify_param_count(const std::string& fname, int count, int min, int max);
  bool check_param_type(const std::string& fname, const std::string& param, int paramNo, int type);
  bool message_number_is_valid(const std::string& fname, const std::string& param);
  void no_such_variable(int paramNo, const std::string& fname, const std::string& varName);

  // Reference checks.
  TVariableDef* find_variable(const std::string& name) const;
  void find_table(const std::string& functionName, std::string tableSpec, std::string extension);
  bool find_index_name(TTableDef* table, std::string name) const;
  TTableDef* find_sql_table(const std::string& name);
  void find_sql_fields(TTableDef* table, std::string columns);
  bool check_date_type(const std::string& fname, const std::string& param);

  TSQLDB* FSQLDB;
  TSQLQuery* FQuery;
  TEngineErrorsPump* FEnginePump;
  TTablesList* FTablesList;
  std::string FSource;
  std::string FCompiled;
  std::string FLastVarName;
  std::string FLastString;
  int FLastNumber = 0;
  std::vector<int> FLogicFieldsList;
  std::vector<std::string> FLogicTablesList;
  std::vector<TLogicMessageObject*> FLogicMessageNumbersList;
  std::vector<TLogicMessageObject*> FLogicErrorMessagesList;
  size_t FSrcPos = 0;
  size_t FCmpPos = 0;
  size_t FLine = 0;
  int FTokRows = 69;
  char FCurTokId = 0;
  int FCurTokType = 0;
  std::vector<std::string> FErrors;
  std::vector<std::string> FWarnings;
  TVariablesMap* FVariables;
  std::vector<RLt_UDFDef*> FUDFs;
  bool FInCharConstant = false;  // first pass: the next quote closes a character constant
  std::vector<size_t> FCutNumbers;  // first pass: where a number cut to 99 digits stands
  int FCharConstant = 0;         // second pass: 1 its character is next, 2 its closing quote
  size_t FTokenStart = 0;        // second pass: where the current token starts
  std::set<size_t> FReportedTokens;  // second pass: where the tokens stand that its messages report

  // Structure check: on only in the compiler that CheckStructure makes.
  bool FStructureOnly = false;
  TStructureFault FFault;
  size_t FFunctions = 0;                 // the header's count of user functions
  std::vector<size_t> FDefinitions;      // where the letter of each function definition stands
  std::vector<size_t> FKeywordFields;    // where each keyword's jump field stands
  size_t FDefinitionsParsed = 0;
  bool FSkipArguments = false;           // the bracket balance passes over argument lists
};
