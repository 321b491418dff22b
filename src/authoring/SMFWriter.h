// The row-editing component of one open metafile: the row-buffer cycle over
// control tables and lookup tables under the access rights of the logged-in
// agencies, posting, uniqueness checks, agency stamping, the propagation of
// renamed fields, messages and lookup tables into dependent edit logic,
// deletion with its impact, membership, and lookup-table definition.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "storage/TableStats.h"

class TSMF;
class TSQLDB;
class TSQLQuery;
class TEngineErrorsPump;
class TQb_AccessController;
class TRebuildKeys;
struct TRowKey;

// One changed name or number that the post of an edited row hands to rename
// propagation: table, column, the value stored before the post, the new value.
class TUpdateEditLogicObject {
 public:
  TUpdateEditLogicObject(const char* table, const char* field, const char* original, const char* value)
      : TableName(table), FieldName(field), OriginalValue(original), NewValue(value) {}

  const char* GetTableName() const { return TableName.c_str(); }
  const char* GetFieldName() const { return FieldName.c_str(); }
  const char* GetOriginalValue() const { return OriginalValue.c_str(); }
  const char* GetNewValue() const { return NewValue.c_str(); }

 private:
  std::string TableName;
  std::string FieldName;
  std::string OriginalValue;
  std::string NewValue;
};

// "RL_" or "sqlite_" when the name begins with it (letter case aside): the
// names of control tables and of the database's own tables; else null.
const char* reserved_prefix(const std::string& tableName);
// Whether the name is a control table's: it begins "RL_", letter case aside.
bool is_control_table(const std::string& tableName);
// Why a name cannot be a new lookup table's: a reserved prefix, or a name that
// would need quoting (it is pasted into the table's statements). Empty when it can.
std::vector<std::string> lookup_name_refusals(const std::string& tableName);
// Why the database would not have a new lookup table of that name: it reads
// the name as one of its own table-valued functions, which the table would
// hide from every view, trigger and statement that calls it (or it cannot
// tell). Empty when it would.
std::string table_function_refusal(const std::string& tableName);
// The first 8 characters of a lookup table's name and "_": "x" + it begins
// the names of the table's indexes, "_" + it those of its triggers.
std::string lookup_name_stem(const std::string& tableName);

class TSMFWriter {
 public:
  TSMFWriter(TSMF* owner, TSQLDB* db, TEngineErrorsPump* pump, TQb_AccessController* access,
             TTablesList* tables);
  ~TSMFWriter();
  TSMFWriter(const TSMFWriter&) = delete;
  TSMFWriter& operator=(const TSMFWriter&) = delete;

  // Deletes the edit's rows in the field, lookup-table, message and
  // message-text pivots; 0, or -1 with engine errors.
  int ClearEditLogicPivots(int editPKey);

  // Whole-transaction statements with the writer's own failure texts.
  int BeginTrans();
  int CommitTrans();
  int RollbackTrans();

  // The row-buffer cycle: 0, or -1 with engine errors.
  int Edit(const std::string& table, int pkey);
  int Insert(const std::string& table);
  int Cancel(const std::string& table);
  int SetFieldByName(const std::string& table, const std::string& column, const std::string& value);
  int SetFieldByNumber(const std::string& table, int number, const std::string& value);
  int Post(const std::string& table, int* pkey);
  bool have_access_rights(TRL_MCO kind, int pkey);
  // Records the refusal and answers true when the logins may not change the row.
  bool rights_refused(TRL_MCO kind, int pkey, const char* method, const char* refusal);
  // After a rollback: leaves edit mode on every row the logins may no longer
  // change. Never throws.
  void FollowRollback();

  // Uniqueness, the tables of owned objects, and agency stamping.
  int ValidateUnique(const char* table, int pkey, const char* column, const char* value, int* isUnique,
                     int* clashPKey);
  static bool is_system_table(TTableDef* table);
  int set_agency(TTableDef* table, std::string& currentAdminCode, std::string& stampedAdminCode);

  // Deletion with its impact on dependent rows, and membership of edit sets
  // and layouts: 0, or -1 with engine errors.
  int Delete(const std::string& table, int pkey);
  bool verify_delete_impact(const std::string& table, int pkey, std::string& droppedTable);
  int AddEditSetsPivot(int editSetPKey, int editPKey);
  int DeleteEditSetsPivot(int editSetPKey, int editPKey);
  int AddLayoutsPivot(int layoutPKey, int fieldPKey, int startPos);
  int DeleteLayoutsPivot(int layoutPKey, int fieldPKey);

  // Lookup-table definition: name it, add its columns, then create it (or
  // restructure the table of that name): 0, or -1 with engine errors.
  int DefineTableStructure(const std::string& name, int restructure);
  // Empties the definition, as a refused name does.
  void ClearTableDefinition();
  int AddColumnDef(const char* name, const char* sourceName, int isInteger, int length, int nullable,
                   int triggerMaintained, const char* inList, const char* low, const char* high,
                   const char* defaultValue, int indexKind);
  int CreateTable(int* pkey);
  bool index_name_exists(const std::string& name);

  // Rename propagation: rewrite and recompile the edits that depend on the
  // changed row; false when an edit could not be rewritten or recompiled.
  bool update_edit_fields(TUpdateEditLogicObject* change, int fieldPKey);
  bool update_edit_tables(TUpdateEditLogicObject* change, int tablePKey);
  bool update_edit_messages(TUpdateEditLogicObject* change, int messagePKey);

 private:
  typedef std::string (*TLogicRewrite)(const std::string& logic, const std::string& oldValue,
                                       const std::string& newValue);

  static bool is_column(const TFieldDef* field, const char* schemaName);
  void add_error(const char* method, const std::string& message);
  // False, after recording the refusal of `what` under `method`, while a
  // host cursor is in the middle of its read: dropping a table cannot run
  // beside it. Called before anything is written.
  bool no_reading_cursor(const char* method, const std::string& what);
  // Runs one statement; a failure records the database's message and "SQL: ".
  // `returned` receives what ExecOneSQL returns through it.
  bool exec_logged(const char* method, const std::string& sql, TRowKey* returned = nullptr);
  int transaction_result(bool accepted, const char* method, const char* fallback);
  TTableDef* find_table(const std::string& table, const char* method);
  TTableDef* find_editing_table(const std::string& table, const char* method);
  bool read_owner(TRL_MCO kind, int pkey, TRowKey& owner);
  bool owner_allows(const TRowKey& owner) const;
  TSQLQuery& kept_query(const std::string& sql);
  TRowKey kept_first_key(const std::string& sql, const std::function<void(TSQLQuery&)>& bind);
  int set_value(TTableDef* table, TFieldDef* field, const std::string& value, const char* method);
  int set_password(TFieldDef* field, const std::string& value, const char* method);
  bool field_name_allowed(TTableDef* table);
  TFieldDef* column_at(TTableDef* table, int order, const char* method);
  int post_insert(TTableDef* table, int* pkey);
  bool read_inserted_pkey(const std::string& quotedTable, const std::string& rowid, TRowKey& pkey);
  bool posted_key_usable(const std::string& table, const TRowKey& key, const char* method);
  bool reserved_key_kept(TRL_MCO kind, int from, const TRowKey& stored, const char* method);
  // The refusal of reserved_key_kept, decided before any statement of the
  // post runs, by the key the column would store for `posted` (null when no
  // key is posted).
  bool posted_key_keeps_one(TRL_MCO kind, int from, const char* posted, const char* method);
  TRowKey stored_integer_key(const char* posted);
  static bool database_numbers(TTableDef* table);
  int post_edit(TTableDef* table, int* posted);
  bool buffer_stands(const std::string& table, const char* method);
  enum TEditedRow { erWritable, erGone, erRefused };
  TEditedRow edited_row(TTableDef* table);
  bool row_in_file(const std::string& table, int pkey);
  static bool writes_login_form(TTableDef* table);
  int write_edited_row(TTableDef* table, std::vector<TUpdateEditLogicObject>& renames, TRowKey& moved);
  int propagate_renames(TRL_MCO kind, int pkey, std::vector<TUpdateEditLogicObject>& renames);
  int rename_lookup_table(TUpdateEditLogicObject& change, int pkey);
  void get_original_value(TTableDef* table, TFieldDef* field, std::string& value);
  void read_stored_value(const std::string& table, const std::string& column, int pkey, std::string& value);
  void read_new_values(const std::string& table, int pkey, std::vector<TUpdateEditLogicObject>& renames);
  bool compare_old_new_field_length(int fieldPKey, int newLength);
  bool update_dependent_edits(TUpdateEditLogicObject* change, const char* pivot, const char* keyColumn,
                              int pkey, TLogicRewrite rewrite);
  bool rewrite_edit_logic(int editPKey, const std::string& oldValue, const std::string& newValue,
                          TLogicRewrite rewrite);
  bool delete_row(const std::string& table, int pkey);
  bool impact_exec(const std::string& sql, const char* failure, bool withReason);
  bool clear_dependent_logic(const char* pivot, const char* keyColumn, int pkey, const char* failure);
  bool settle_agency(int pkey);
  bool settle_message(int pkey);
  bool settle_lookup_table(int pkey, std::string& droppedTable);
  std::string main_table_named(const std::string& name);
  struct TMembership;
  int change_membership(const TMembership& membership, int ownerPKey, int memberPKey, bool adding, int startPos);
  bool write_membership(const TMembership& membership, int ownerPKey, int memberPKey, bool adding, int startPos,
                        std::string& sql, std::string& reason);
  bool has_definition(const char* method);
  // A new table's name may not be one the database reads as a function either.
  bool lookup_name_allowed(const std::string& name, bool isNew, const char* method);
  bool integer_value_allowed(const std::string& column, const char* value);
  std::string column_definition(const std::string& column, int isInteger, int length, int nullable,
                                int triggerMaintained, const char* inList, const char* low, const char* high,
                                const char* defaultValue);
  int add_column_index(const std::string& column, int indexKind);
  bool take_old_triggers(const std::string& name);
  // A null rebuild creates a new table.
  bool build_table(const std::string& name, TRebuildKeys* rebuild, int* pkey);
  bool move_to_backup(const std::string& name, TRebuildKeys& rebuild);
  bool rebuild_harmless(const std::string& name, TRebuildKeys& rebuild);
  // With indexesFirst the indexes are there before the rows come back.
  bool restore_rows(const std::string& name, TRebuildKeys& rebuild, bool indexesFirst);
  bool references_kept(TRebuildKeys& rebuild);
  bool reapply_triggers(const std::string& name, bool indexesFirst);
  bool create_step(const std::string& sql, const char* failure, bool indexesFirst = false);
  std::string index_refusing(const std::string& reason);
  std::string unique_index_over(const std::string& column);
  void report_create_failure(const char* failure, const std::string& reason, const std::string& sql);
  bool register_table(const std::string& name, int* pkey);

  TSMF* FSMF;
  TSQLDB* FSQLDB;
  TEngineErrorsPump* FEnginePump;
  TQb_AccessController* FAccessController;
  TTablesList* FTablesList;
  TDefineTable* FDefineTable;
  // The statements of the rights tests and of the checks every post makes,
  // by their text.
  std::map<std::string, std::unique_ptr<TSQLQuery>> FKeptQueries;
};
