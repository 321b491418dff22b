// TSMF, the one object per open metafile: opening and version check, schema
// reading into the table model, introspection, record reading by primary key
// and named cursors. Every export on a handle forwards to one of its operations.
#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

class TSQLDB;
class TSQLQuery;
class TTablesList;
class TTableDef;
class TFieldDef;
class TEngineErrorsPump;
class TRunEdits;
class TQb_AccessController;
class TSMFWriter;
class TEditCompiler;
class TImportMetafile;

extern const char* const kEngineVersion;
extern const char* const kStructureVersion;

class TSMF {
 public:
  TSMF() = default;
  ~TSMF();
  TSMF(const TSMF&) = delete;
  TSMF& operator=(const TSMF&) = delete;

  // Opening, versions and engine errors.
  int InitializeMetafile(const char* path, char* message, int messageLength, int* versionCompare,
                         int checkVersion);
  int UpdateMetafile(char* message, int messageLength);
  int GetMetafileVersion(char* buffer, int length);
  int GetMetafileComment(char* buffer, int length);
  void ClearEngineErrorsPump();
  int GetEngineErrorsCount(int* count);
  int GetEngineErrorByIndex(int index, char* buffer, int length);
  TTableDef* GetCurrentTableDef() const { return FCurrentTableDef; }
  // The compiler of this metafile, whose last compiled text the compile fuzz target checks.
  TEditCompiler* GetEditCompiler() const { return FEditCompiler; }

  // The parts of the metafile that an export may walk while it calls back
  // into the host, and that another call may free or replace.
  enum TPart : unsigned {
    kNone = 0,
    kMetafile = 1,  // the metafile object: closing the metafile frees it
    kRecords = 2,   // loaded layouts with their records, and the loaded edit sets
    kTables = 4,    // the table model and the lookup tables
    kImport = 8,    // the attached import source
    kAll = kMetafile | kRecords | kTables | kImport
  };
  // Held by an export for as long as it calls back into the host, nested
  // exports included: it names what is under way ("a run of edits") and the
  // parts of the metafile that the export walks meanwhile (TPart bits). Not
  // held when underWay is null.
  class TCallbackGuard {
   public:
    TCallbackGuard(TSMF& smf, const char* underWay, unsigned walked);
    ~TCallbackGuard();
    TCallbackGuard(const TCallbackGuard&) = delete;
    TCallbackGuard& operator=(const TCallbackGuard&) = delete;

   private:
    TSMF* FSMF;
  };
  // Held by an export that reads rows of its own besides the table model, and
  // neither writes nor calls back: its schema check and its reads share one
  // read transaction, begun only when no transaction is open, and ended when
  // it goes. Not held when `held` is false.
  class TCallRead {
   public:
    TCallRead(TSMF& smf, bool held);
    ~TCallRead();
    TCallRead(const TCallRead&) = delete;
    TCallRead& operator=(const TCallRead&) = delete;

   private:
    TSQLDB* FDB;
  };
  // True while an export is calling back into the host.
  bool IsBusy() const { return !FWalks.empty(); }
  // What is under way in the innermost export that walks any of these parts,
  // or null; the `skipped` innermost walks do not count.
  const char* WalkOf(unsigned parts, size_t skipped = 0) const;
  // Records why a call made from a callback is refused.
  void RecordRefusal(const char* method, const char* underWay);
  // Records an exception that reached an export; an empty text is recorded as
  // "Unexpected engine failure" unless the failure was recorded already.
  void RecordException(const char* method, const std::string& text);

  // Schema reading into the table model.
  bool build_tables_list();
  bool UpdateTableStats(const char* tableName);
  bool create_table_def(std::string tableName, TSQLQuery* query);
  bool add_table_def_indexes(std::string tableName);
  bool add_table_def_constraints(std::string tableName);
  bool add_table_triggers(std::string tableName);
  bool copy_table_defaults(TTableDef* source, TTableDef* target);
  bool copy_table_checks(TTableDef* source, TTableDef* target);
  static int TableInfoCallback(void* owner, int columnCount, char** values, char** columnNames);
  static int ForeignKeyCallback(void* owner, int columnCount, char** values, char** columnNames);

  // Primary-key lists and the edit-set/layout check.
  int GetPKeys(const char* table, const char* orderBy, void* owner, void* callback);
  int CheckEditSetAgainstLayout(int editSetPKey, int layoutPKey, void* owner, void* callback);

  // Schema introspection.
  int GetTableNames(void* owner, void* callback);
  int GetTablesCount(int* count);
  int GetTableNameByIndex(int index, char* buffer, int length);
  int GetIndexCount(const char* table, int* count);
  int GetIndex(const char* table, int index, char* buffer, int length);
  int GetTriggerCount(const char* table, int* count);
  int GetTrigger(const char* table, int index, char* buffer, int length);
  int GetTableStructure(const char* table, void* owner, void* callback);
  int GetColumnsCount(const char* table, int* count);
  int GetColumnStructure(const char* table, int columnOrder, char* name, int nameLength, char* type,
                         int typeLength, char* nullable, int nullableLength, int* isTriggerField);
  int GetColumnOrder(const char* table, const char* fieldName, int* order);
  int GetFieldName(const char* table, int columnOrder, char* buffer, int length);
  static std::string field_data_type_as_string(const TFieldDef* field);
  static std::string field_nullable_as_string(const TFieldDef* field);

  // Record reading by primary key.
  int ReadData(const char* table, int pkey, void* owner, void* callback);
  int RefreshReadData(const char* table, int pkey);
  int GetDataSizeByColumnOrder(const char* table, int pkey, int columnOrder, int* size);
  int GetDataByColumnOrder(const char* table, int pkey, int columnOrder, char* buffer, int length);
  int GetDataSizeByFieldName(const char* table, int pkey, const char* fieldName, int* size);
  int GetDataByFieldName(const char* table, int pkey, const char* fieldName, char* buffer, int length);

  // Named cursors, plain and parameterized.
  int OpenCursor(const char* cursorName, const char* sql);
  int CloseCursor(const char* cursorName);
  int CursorRowCount(const char* cursorName, int* count);
  int CursorColCount(const char* cursorName, int* count);
  int CursorNext(const char* cursorName);
  int CursorEof(const char* cursorName, int* eof);
  int ReadCursorData(const char* cursorName, void* owner, void* callback);
  int GetCursorDataSizeByNumber(const char* cursorName, int columnNumber, int* size);
  int GetCursorDataByNumber(const char* cursorName, int columnNumber, char* buffer, int length);
  int GetCursorDataSizeByName(const char* cursorName, const char* columnName, int* size);
  int GetCursorDataByName(const char* cursorName, const char* columnName, char* buffer, int length);
  int GetCursorIntByNumber(const char* cursorName, int columnNumber, int* value);
  int GetCursorIntByName(const char* cursorName, const char* columnName, int* value);
  int PrepareParameterizedCursor(const char* cursorName, const char* sql);
  int BindIntParameter(const char* cursorName, int parameterNumber, int value);
  int BindTextParameter(const char* cursorName, int parameterNumber, const char* text);
  int OpenParameterizedCursor(const char* cursorName);
  int ResetParameterizedCursor(const char* cursorName);
  int ReleaseParameterizedCursor(const char* cursorName);
  static bool sql_is_valid(std::string& sql, std::string& message);
  // The refusal of `what` ("Table \"t\" cannot be restructured") while a
  // cursor is in the middle of its read, which holds a read of the database
  // that dropping a table or detaching the import's source cannot run beside;
  // empty while none is. A cursor at its end, or prepared or reset and not
  // yet opened, holds nothing.
  std::string ReadingCursorRefusal(const std::string& what) const;

  // Recompilation, the syntax check and its results, and the local-name update.
  int RecompileEditLogic(const char* editTag);
  bool update_edit_fields_pivot(int editPKey, std::vector<int>& oldOrder);
  bool update_default_message_in_pivot(int editPKey, int messagePKey);
  bool update_edit_messages_pivot(int editPKey);
  bool update_edit_errors_pivot(int editPKey);
  bool update_edit_tables_pivot(int editPKey);
  int ClearEditLogicPivots(int editPKey);
  int CheckSyntax(const char* source, int* errors, int* warnings);
  int GetSyntaxError(int idx, int* line, char* buffer, int length);
  int GetSyntaxWarning(int idx, int* line, char* buffer, int length);
  int GetLogicListCount(char which, int* count);
  int GetLogicFieldNumber(int idx, int* fieldNumber);
  int GetLogicTableName(int idx, char* buffer, int length);
  int GetLogicErrorMessage(int idx, int* kind, char* buffer, int length);
  int GetLogicMessageNumber(int idx, int* kind, int* messageNumber);
  int UpdateAllAccessField(const char* tableName, int pkey, const char* fieldName, const char* value);
  // The run-time: records and layouts, edit sets and options, runs,
  // summaries, edit details and debugging.
  int UpdateRecordByTag(const char* layoutTag, const char* record);
  int UpdateRecordByName(const char* layoutName, const char* record);
  int DisplayDataRecordByTag(const char* layoutTag, void* owner, void* callback);
  int DisplayDataRecordByName(const char* layoutName, void* owner, void* callback);
  int DisplayFieldInMessagesAs(int fieldNumber, const char* text);
  int NeverSkipEmptyField(int fieldNumber, int flag);
  int FieldDataByNumber(const char* layoutTag, int fieldNumber, int* key, int* startPos, int* length, char* name,
                        int nameSize, char* displayName, int displaySize, char* dataType, int typeSize, char* value,
                        int valueSize);
  int LoadEditSet(const char* editSetTag, const char* layoutTag);
  int UnloadEditSet(const char* editSetTag, const char* layoutTag);
  int SetEditOptions(const char* editSetTag, const char* editTag, int suppress, int skipIfEmpty, int skipIfFailed,
                     int noSkipsOverride);
  int GetEditOptions(const char* editSetTag, const char* editTag, int* suppress, int* skipIfEmpty, int* skipIfFailed,
                     int* noSkipsOverride);
  int ClearEditOptions(const char* editSetTag);
  int RunEdits(const char* editSetTag, const char* layoutTag, const char* data, int options, int* failedCount,
               void* owner, void* callback);
  int GetRunEditsSummary(const char* editSetTag, const char* layoutTag, int all, int* errors, int* warnings,
                         int* skips, int* errorMessages, int* warningMessages, void* owner, void* callback);
  int GetEditDetails(const char* editTag, void* owner, void* callback);
  int DebugEdit(const char* editTag, const char* layoutTag, const char* data, void* owner, void* lineCallback,
                void* variableCallback, void* fieldCallback, void* messageCallback);

  bool cursor_name_exists(std::string& name, std::string& message);
  TSQLQuery* get_cursor_from_list(std::string& name);

  // Authoring: logins, transactions and savepoints, the row-buffer cycle,
  // uniqueness, and the rename and copy of lookup tables.
  int Login(const char* adminCode, const char* password);
  int GetLoginsCount(int* count);
  int GetLoginByIndex(int index, int* agencyPKey, char* buffer, int bufferLength);
  int BeginTrans();
  int CommitTrans();
  int RollbackTrans();
  int SavePoint(const char* name);
  int ReleaseSavePoint(const char* name);
  int RollbackToSavePoint(const char* name);
  int Edit(const char* table, int pkey);
  int Insert(const char* table);
  int Cancel(const char* table);
  int Post(const char* table, int* pkey);
  int SetFieldByName(const char* table, const char* column, const char* value);
  int SetFieldByNumber(const char* table, int column, const char* value);
  int ValidateUnique(const char* table, int pkey, const char* column, const char* value, int* isUnique,
                     int* clashPKey);
  // `referredTo`, when given, is set when a rename is refused because other
  // objects refer to the table: another table's foreign key (found before
  // anything changes), or a view or trigger that the rename would break (the
  // rename is then undone), or views and triggers that call the database's
  // table-valued function of the new name; either way nothing is left changed.
  int RenameLookupTable(const char* oldName, const char* newName, bool isRename, int agencyPKey,
                        bool* referredTo = nullptr);
  int Delete(const char* table, int pkey);
  int AddEditSetsPivot(int editSetPKey, int editPKey);
  int DeleteEditSetsPivot(int editSetPKey, int editPKey);
  int AddLayoutsPivot(int layoutPKey, int fieldPKey, int startPos);
  int DeleteLayoutsPivot(int layoutPKey, int fieldPKey);
  int DefineTableStructure(const char* name, int restructure);
  int AddColumnDef(const char* name, const char* sourceName, int isInteger, int length, int nullable,
                   int triggerMaintained, const char* inList, const char* low, const char* high,
                   const char* defaultValue, int indexKind);
  int CreateTable(int* pkey);
  int OpenImportMetafile(const char* path);
  int CloseImportMetafile();
  int GetImportCandidates(const char* tableName, const char* keyField, void* owner, void* callback);
  int ImportLookupTable(const char* tableName);
  int ImportWritePassword(int agencyPKey, const char* password);
  // Drops the model's entries of both names and reads `readName` afresh
  // from the database; false when it cannot be read.
  bool replace_table_def(const std::string& removedName, const std::string& readName);
  // Brings the table model and the logins in line with the file after a rollback.
  void follow_rollback();
  // Brings the table model in line with the schema as the file holds it, when
  // the schema has changed since the model last followed it (by this
  // connection or another); a table not changed keeps its definition and
  // its row buffer. False, with the reason recorded under `method`, when the
  // schema cannot be read, or when the model would change while an export
  // that calls back into the host walks it (the refusal of a call from a
  // callback): the innermost walk is the caller's own when `ownWalk`.
  bool follow_schema(const char* method, bool ownWalk = false);
  // The metafile's connection, shared by every component of the metafile.
  TSQLDB* GetSQLDB() const { return FSQLDB; }

 private:
  typedef std::initializer_list<std::pair<const void*, const char*>> TParameterList;

  // Records "Parameter \"x\" must not be NULL" for each null parameter.
  bool parameters_given(const char* method, TParameterList parameters);
  void add_error(const char* method, const std::string& message);
  bool check_mf_structure_version(char* message, int messageLength, int* versionCompare);
  int read_control_item(const char* item, const char* method, char* buffer, int length);
  void discard_current_table_def();
  TTableDef* find_table(const char* table, const char* method);
  TFieldDef* find_column(const char* table, int columnOrder, int base, const char* method,
                         const char* orderWord);
  int get_table_texts_count(const char* table, const char* method, bool indexes, int* count);
  int get_table_text(const char* table, const char* method, bool indexes, int index, char* buffer,
                     int length);
  void open_row_statement(TSQLQuery* query, const char* table, int pkey, const char* method);
  // One value of a row with its column's name and type, copied for delivery.
  struct TColumnValue {
    std::string Name, Type, Value;
  };
  // One ReadDataCallback per column, in order from 1, of a row copied before the first.
  static void deliver_row(void* owner, void* callback, const char* name, int key,
                          const std::vector<TColumnValue>& columns);
  // A row read by primary key: its values by upper-cased column name, kept
  // without the statement, which ends as soon as the row is read.
  struct TCachedRow {
    bool Held = false;
    int PKey = 0;
    std::map<std::string, std::string> Values;
    std::string value(const std::string& column) const;
  };
  void read_row(const char* table, int pkey, const char* method, TCachedRow& row);
  TCachedRow& cached_row(const char* table, int pkey, const char* method);
  std::string get_data_by_column_order(const char* table, int pkey, int columnOrder);
  std::string get_data_by_field_name(const char* table, int pkey, const char* fieldName);
  TSQLQuery* find_cursor(const char* cursorName, const char* method);
  TSQLQuery* find_read_cursor(const char* cursorName, const char* method);
  int cursor_value(const char* cursorName, const char* method, int columnNumber,
                   const char* columnName, std::string& value);
  int run_cursor_step(const char* cursorName, const char* method, const std::function<void(TSQLQuery*)>& step);
  int recompile_edit_logic(const std::string& editTag);
  struct TEditSource {
    int PKey = 0;
    int MessagePKey = 0;
    std::string Logic;
  };
  bool read_edit_source(const std::string& quotedTag, TEditSource& edit);
  int store_compiled_logic(const std::string& quotedTag, int pkey, int messagePKey, bool hasErrors);
  bool read_field_order(int pkey, std::vector<int>& order);
  bool exec_logged(const char* method, const std::string& sql, bool withStatement);
  // Runs one statement, `texts` bound to its parameters, inside a write scope
  // of its own, with `before` run in it first and `after` once the statement
  // is written: 0, or -1 with engine errors.
  int write_statement(const char* method, const char* savepoint, const std::string& sql,
                      const std::vector<std::string>& texts, const std::function<void()>& before = nullptr,
                      const std::function<void()>& after = nullptr);
  int select_pkey(const char* table, const std::string& condition);
  int read_compiler_message(const char* method, bool errors, int idx, int* line, char* buffer, int length);
  bool texts_given(const char* method, std::initializer_list<const void*> texts);
  bool callback_pair_given(const char* method, const void* owner, const void* callback);
  std::string get_layout_tag_from_name(const char* layoutName);
  std::string layout_tag_for(const char* layoutName, const char* method);
  bool read_table_def(const char* tableName, TTableDef* rules);
  // Why a statement failed: its own message, else the connection's.
  std::string failure_reason(const TSQLQuery& query) const;
  // A table's stored texts as its definition keeps them (TTableDef::GetSchemaTexts).
  std::string read_stored_texts(const std::string& tableName);
  // The texts of one kind of the table from FCatalogue, each as its name
  // and its text; false when that kind cannot be read.
  typedef std::vector<std::pair<std::string, std::string>> TNamedTexts;
  bool catalogue_texts(const char* kind, const std::string& tableName, TNamedTexts& texts);
  // Adds the table's catalogue texts of that kind to FCurrentTableDef.
  bool add_catalogue_texts(const char* kind, const std::string& tableName,
                           void (TTableDef::*add)(const std::string&));
  void add_checks(const std::string& createText);
  struct TStoredTable {
    std::string Name;  // empty when the texts belong to no table (a view's)
    std::string Texts;
  };
  // Every table's stored texts, by lower-case name.
  std::map<std::string, TStoredTable> read_stored_tables();
  // How the table model differs from the stored texts.
  struct TModelDrift {
    std::vector<TTableDef*> Gone;       // definitions of tables the file no longer holds
    std::vector<std::string> Changed;   // tables to read (again), named as the file names them
    bool empty() const { return Gone.empty() && Changed.empty(); }
  };
  TModelDrift model_drift();
  bool follow_drift(const TModelDrift& drift);
  // Brings the model in line with the stored texts, read at schema `version`,
  // which it then remembers; while `underWay` names an export that walks the
  // model, a model that would change is refused instead.
  bool follow_model(const char* method, int version, const char* underWay);

  bool has_access_controller(const char* method);
  bool has_writer(const char* method);
  bool has_import(const char* method);
  int transaction_result(bool accepted, const char* method);
  bool rename_allowed(const std::string& oldName, const std::string& newName, bool isRename);
  bool rename_refused(const std::string& oldName);
  bool copy_lookup_table(TSQLQuery& query, const std::string& oldName, const std::string& newName, bool isRename,
                         int agencyPKey, std::map<std::string, std::string>& remade);
  bool add_copy_to_catalogue(TSQLQuery& query, const std::string& oldName, const std::string& newName,
                             int agencyPKey);
  bool run_rename_step(TSQLQuery& query, const std::string& sql, const char* failure);
  bool recreate_on_table(TSQLQuery& query, const std::vector<std::vector<std::string>>& entries, const char* type,
                         const std::string& oldName, const std::string& newName,
                         std::map<std::string, std::string>* remade);

  TSQLDB* FSQLDB = nullptr;
  TTablesList* FTablesList = nullptr;
  TTableDef* FCurrentTableDef = nullptr;
  TEngineErrorsPump* FEnginePump = nullptr;
  TRunEdits* FRunEdits = nullptr;
  std::map<std::string, TCachedRow> FReadDataCache;
  std::map<std::string, TSQLQuery*> FCursors;
  TQb_AccessController* FQb_AccessController = nullptr;
  TSMFWriter* FSMFWriter = nullptr;
  TEditCompiler* FEditCompiler = nullptr;
  TSQLQuery* FIndexSQLQuery = nullptr;
  TSQLQuery* FTableSQLQuery = nullptr;
  // While build_tables_list reads every table, each kind of catalogue text
  // is read once for all of them, on first use; null otherwise.
  struct TCatalogue;
  class TCatalogueScope;
  TCatalogue* FCatalogue = nullptr;
  TImportMetafile* FImportMetafile = nullptr;
  std::string FSchemaFailure;  // SQLite's reason when the last reading of the schema failed
  // The schema version the model last followed whole; none (the schema never
  // reports it) until the model is read, and after a follow that failed.
  static const int kNoSchemaVersion = -1;
  int FModelSchemaVersion = kNoSchemaVersion;
  struct TWalk {
    const char* UnderWay;
    unsigned Walked;
  };
  std::vector<TWalk> FWalks;  // the exports calling back, innermost last
};

// Operations that take no metafile handle.
int CreateNewMetafile(const char* path);
int CompactMetafile(const char* path);
int GetEngineVersion(char* buffer, int length);
int GetMetafileStructureVersion(char* buffer, int length);
