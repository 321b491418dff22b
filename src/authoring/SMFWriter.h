// The row-editing component of one open metafile: the row-buffer cycle over
// control tables and lookup tables under the access rights of the logged-in
// agencies, posting, uniqueness checks, agency stamping, and the propagation
// of renamed fields, messages and lookup tables into dependent edit logic.
#pragma once

#include <string>
#include <vector>

#include "storage/TableStats.h"

class TSMF;
class TSQLDB;
class TSQLQuery;
class TEngineErrorsPump;
class TQb_AccessController;

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

// Ends a savepoint: released when `keep` holds and the release succeeds, else
// rolled back and released. Answers whether the changes were kept.
bool finish_savepoint(TSQLDB* db, const char* name, bool keep);

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

  // Uniqueness and agency stamping.
  int ValidateUnique(const char* table, int pkey, const char* column, const char* value, int* isUnique,
                     int* clashPKey);
  static bool is_system_table(TTableDef* table);
  int set_agency(TTableDef* table, std::string& currentAdminCode, std::string& stampedAdminCode);

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
  // Runs one statement; a failure records the database's message and "SQL: ".
  bool exec_logged(const char* method, const std::string& sql);
  int transaction_result(bool accepted, const char* method, const char* fallback);
  TTableDef* find_table(const std::string& table, const char* method);
  TTableDef* find_editing_table(const std::string& table, const char* method);
  int owner_agency(TRL_MCO kind, int pkey);
  int set_value(TTableDef* table, TFieldDef* field, const std::string& value, const char* method);
  int set_password(TFieldDef* field, const std::string& value, const char* method);
  TFieldDef* column_at(TTableDef* table, int order, const char* method);
  int post_insert(TTableDef* table, int* pkey);
  int post_edit(TTableDef* table);
  int write_edited_row(TTableDef* table, std::vector<TUpdateEditLogicObject>& renames);
  int propagate_renames(TTableDef* table, std::vector<TUpdateEditLogicObject>& renames,
                        const TUpdateEditLogicObject*& renamedTable);
  int rename_lookup_table(TUpdateEditLogicObject& change, int pkey, const TUpdateEditLogicObject*& renamedTable);
  void get_original_value(TTableDef* table, TFieldDef* field, std::string& value);
  bool compare_old_new_field_length(int fieldPKey, int newLength);
  bool update_dependent_edits(TUpdateEditLogicObject* change, const char* pivot, const char* keyColumn,
                              int pkey, TLogicRewrite rewrite);
  bool rewrite_edit_logic(int editPKey, const std::string& oldValue, const std::string& newValue,
                          TLogicRewrite rewrite);

  TSMF* FSMF;
  TSQLDB* FSQLDB;
  TEngineErrorsPump* FEnginePump;
  TQb_AccessController* FAccessController;
  TTablesList* FTablesList;
  TDefineTable* FDefineTable;
};
