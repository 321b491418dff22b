// The edit run-time of one open metafile: layouts and edit-set/layout pairs
// loaded by the host, records run through every edit of a pair with options
// and skip rules, the interpreter of compiled logic, run summaries, edit
// details and the debugging trace.
#pragma once

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "quelt.h"
#include "runtime/TokenMaster.h"

class TSQLDB;
class TEngineErrorsPump;
class TTablesList;
class TFastSQLQuery;
class TLayout;
class TEditSet;
class TEdit;
class TEditErrors;
class TVariable;
class TLibFuncs;
class TDebugEdit;

class TRunEdits {
 public:
  // Bits of the options word of a run.
  static const int kSkipIfEmptyAll = 0x1;
  static const int kSkipIfFailedAll = 0x2;
  static const int kSuppressWarnings = 0x80;

  TRunEdits(TSQLDB* db, TEngineErrorsPump* pump, TTablesList* tables);
  ~TRunEdits();
  TRunEdits(const TRunEdits&) = delete;
  TRunEdits& operator=(const TRunEdits&) = delete;

  // Records and layouts.
  int UpdateRecord(const std::string& layoutTag, const char* data);
  int DisplayDataRecord(const std::string& layoutTag, void* owner, void* callback);
  int DisplayFieldInMessagesAs(int fieldNumber, const std::string& displayName);
  int NeverSkipEmptyField(int fieldNumber, int flag);
  int FieldDataByNumber(const std::string& layoutTag, int fieldNumber, int* key, int* startPos, int* length,
                        char* name, int nameSize, char* displayName, int displaySize, char* dataType,
                        int typeSize, char* value, int valueSize);

  // Edit sets and their options.
  int LoadEditSet(const std::string& editSetTag, const std::string& layoutTag);
  int UnloadEditSet(const std::string& editSetTag, const std::string& layoutTag);
  int SetEditOptions(const std::string& editSetTag, const std::string& editTag, int suppress, int skipIfEmpty,
                     int skipIfFailed, int noSkipsOverride);
  int GetEditOptions(const std::string& editSetTag, const std::string& editTag, int* suppress, int* skipIfEmpty,
                     int* skipIfFailed, int* noSkipsOverride);
  int ClearEditOptions(const std::string& editSetTag);

  // Runs, summaries, edit details and debugging.
  int RunEdits(const char* editSetTag, const char* layoutTag, const char* data, int options, int* failedCount,
               void* owner, void* callback);
  int GetRunEditsSummary(const char* editSetTag, const char* layoutTag, int all, int* errors, int* warnings,
                         int* skips, int* errorMessages, int* warningMessages, void* owner, void* callback);
  int GetEditDetails(const char* editTag, void* owner, void* callback);
  int DebugEdit(const char* editTag, const char* layoutTag, const char* data, void* owner, void* lineCallback,
                void* variableCallback, void* fieldCallback, void* messageCallback);
  // The lookups have the table model follow the file through the metafile,
  // which sets the follower; false when it could not (the reason is recorded).
  void SetSchemaFollower(std::function<bool()> follower) { FSchemaFollower = std::move(follower); }
  bool FollowSchema() const { return !FSchemaFollower || FSchemaFollower(); }
  const TLibFuncs* GetLibFuncs() const { return FLibFuncs; }

  // Interpreter services, also used by the built-in library.
  TValueWord EvaluateExpression();
  TTokenID GetEvalTokenID() const;
  TVariable* GetVariable(const char* name, bool mustExist);
  void SetReturnFail() { FReturnFail = true; }
  void SetReturnWarn() { FReturnWarn = true; }
  void SetOverrideErrorMessage(bool flag) { FOverrideErrorMessage = flag; }
  TEdit* GetRunningEdit() const { return FRunningEdit; }
  TToken* GetCompiledToken() { return read_token(true); }
  TToken* GetHardToken(TTokenID expected);
  // The text a value refers to: a cargo slot in use or a character variable's
  // buffer; null when the value is an integer.
  const char* ValueText(TValueWord value) const;
  // The character variable whose buffer the value points into, or null.
  TVariable* TextVariable(TValueWord value) const;
  void process_edit();

  // Shared with the expression plans.
  static const int kMaxNesting = 400;
  static TValueWord named_constant(char compiled);
  static bool is_relational(TTokenID id);

 private:
  struct TPair {
    TLayout* Layout;  // owned by FLayouts
    std::unique_ptr<TEditSet> EditSet;
  };
  // Counts the nesting of blocks and expressions, so that logic nested
  // deeper than the interpreter can follow fails instead of exhausting the stack.
  class TNesting;
  // A loop being traced: the line of its body and its iteration.
  struct TLoopLine {
    int Line;
    int Iteration;
  };
  // Run driver.
  TLayout* find_layout(const std::string& upperTag) const;
  TLayout* load_layout(const std::string& upperTag, const char* method);
  TLayout* loaded_layout(const std::string& layoutTag, const char* method);
  bool reload_layout(TLayout* layout, const char* method);
  void drop_layout(TLayout* layout);
  TPair* find_layout_editset_pair(const std::string& upperLayoutTag, const std::string& upperEditSetTag) const;
  TEditSet* find_editset(const std::string& editSetTag, size_t& start, bool& more) const;
  TEditSet* find_editset(const std::string& editSetTag) const;
  TEditSet* prepare_editset(const std::string& upperEditSetTag, const std::string& upperLayoutTag);
  TPair* pair_for_run(const char* editSetTag, const char* layoutTag, const char* data, int& result);
  void forget_last_pair();
  template <typename Setting>
  int set_in_every_layout(const char* method, Setting setting);
  int not_initialized(const std::string& editSetTag, const char* method);
  TFastSQLQuery* prepare_kept_query(const char* sql, const char* method, const char* failure);
  void create_edit_logic_query();
  void create_edit_details_query();
  int run_edit_set(int options);
  bool skip_edit(TEdit* edit, int options);
  void run_edit(TEdit* edit);
  void collect_uncompiled(const char* editSetTag, std::vector<std::string>& tags);
  void add_error(const char* method, const std::string& message);

  // Interpreter.
  TToken* read_token(bool pushOperand);
  void reading_failed();
  [[noreturn]] void unclosed(char opener);
  void refuse_damaged_logic();
  // Runs statements up to the terminator (0: the end of the main logic); the
  // opener names what the block belongs to when the text ends before it.
  int interpret_block(TTokenID terminator, char opener = 0);
  void declare_variables(TTokenID type);
  void declare(const char* name, size_t length, int kind, size_t size, const void* key = nullptr);
  int find_variable(const char* name, size_t length) const;
  TVariable* token_variable();
  int execute_return();
  size_t setup_UDF_pointers();
  TValueWord evaluateUDF();
  TValueWord EvaluateLibFunc(char code);
  int ExecuteIF(int jump);
  int ExecuteWHILE(int jump);
  int ExecuteFOR(int jump);
  int ExecuteDO(int jump);
  void run_controlled_part(char keyword);
  bool else_follows();
  TValueWord evaluate_condition();
  void eval0_variables(TValueWord& result);
  void eval1_logical_ops(TValueWord& result);
  void eval2_relational_ops(TValueWord& result);
  void eval3_add_subtract(TValueWord& result);
  void eval4_mult_div_mod(TValueWord& result);
  void eval5_unary_ops(TValueWord& result);
  void eval6_parens(TValueWord& result);
  void eval7_atom(TValueWord& result);
  void next_token();
  bool current_is(TTokenID id) const;
  size_t read_subscript(TVariable* variable);
  TValueWord index_value(TVariable* variable) const;
  size_t checked_index(TVariable* variable, TValueWord index);
  TValueWord variable_value(TVariable* variable, size_t element);
  TValueWord apply_binary(char op, TValueWord left, TValueWord right);
  TValueWord apply_unary(char op, TValueWord value);
  template <typename Operand>
  void left_grouping(TValueWord& result, std::initializer_list<TTokenID> ops, Operand operand);

  // Expression plans.
  TValueWord evaluate();
  TExpressionPlan* plan_at(size_t pos);
  bool build_declaration(const TDecodedToken& head, TExpressionPlan& plan);
  void run_declaration(const TExpressionPlan& plan);
  bool subscripts_fit(TExpressionPlan& plan);
  TVariable* plan_variable(TPlanNode& node, bool mustExist);
  TValueWord run_plan(TPlanNode* nodes, int32_t index);
  void assign(TVariable* variable, size_t index, TValueWord value);
  void expect_open_paren(const char* method);
  void move_to(size_t pos);
  [[noreturn]] void fail(const char* method, const std::string& message);
  void clear_variables();

  // Debugging trace.
  void run_debug_edit(const std::string& editTag, const std::string& sql);
  void end_debugging();
  size_t first_token_pos(size_t pos) const;
  void debug_edit(size_t position, bool executed);
  void debug_lines(size_t from, size_t to);
  void debug_showvars(int line);
  void debug_fields();
  void send_debug_to_callbacks();
  bool push_loop_line(size_t bodyPos);
  void count_loop_iteration();

  TSQLDB* FSQLDB;
  TFastSQLQuery* FEditLogicQry = nullptr;
  TFastSQLQuery* FEditDetailsQry = nullptr;
  TEngineErrorsPump* FEnginePump;
  TEditErrors* FEditErrors;
  TTokenMaster* FTokenMaster;
  std::map<std::string, TLayout*> FLayouts;
  std::vector<int> FUDFOffsets;
  std::vector<TVariable*> FVariables;
  size_t FVariablesCapacity = 0;
  size_t FVariablesInUse = 0;
  TEditSet* FEditSet = nullptr;
  TLayout* FLayout = nullptr;
  TEdit* FRunningEdit = nullptr;
  TToken* FCurrentToken = nullptr;
  TDecodedToken* FCurrentDecoded = nullptr;
  TLibFuncs* FLibFuncs;
  TTablesList* FTablesList;
  bool FStop = false;
  bool FReturnFail = false;
  bool FReturnWarn = false;
  bool FOverrideErrorMessage = false;
  int FNesting = 0;

  // Debugging state: only during a DebugEdit call.
  void* FDebugOwner = nullptr;
  void* FDebugLineCallback = nullptr;
  void* FDebugFieldCallback = nullptr;
  void* FDebugMessageCallback = nullptr;
  void* FDebugVariableCallback = nullptr;
  bool FDebugging = false;
  std::function<bool()> FSchemaFollower;
  TDebugEdit* FDebugEdit = nullptr;
  std::unique_ptr<TEdit> FDebugRunEdit;
  std::vector<TLoopLine> FLoopLines;

  std::vector<std::unique_ptr<TPair>> FPairs;
  // The pair of the last run and the tags it was asked with, so that a run
  // over the same pair finds it without upper-casing or searching.
  TPair* FLastPair = nullptr;
  std::string FLastEditSetTag;
  std::string FLastLayoutTag;
};
