// The in-memory table model of an open metafile (tables, columns, index,
// trigger and constraint texts, the authoring row buffer) and the pending
// definition of a lookup table being created or restructured.
#pragma once

#include <map>
#include <string>
#include <vector>

enum TEditDataType {
  edtOther = 0,
  edtInteger = 1,
  edtDouble = 2,
  edtVarchar = 3,
  edtChar = 4,
  edtText = 5,
  edtDateTime = 6
};

// Kind of a metafile table, from its exact (case-sensitive) name.
enum TRL_MCO {
  mcoNone = 0,
  mcoAgencies = 1,
  mcoEdits = 2,
  mcoEditSets = 3,
  mcoFields = 4,
  mcoLayouts = 5,
  mcoMessages = 6,
  mcoLookupTables = 7,
  mcoLayoutFieldsPivot = 8,
  mcoEditSetEditsPivot = 9,
  mcoEditFieldsPivot = 10,
  mcoEditTablesPivot = 11,
  mcoEditMessagesPivot = 12,
  mcoEditErrorsPivot = 13,
  mcoControl = 14
};

TRL_MCO mco_from_table_name(const std::string& name);

class TFieldDef {
 public:
  TFieldDef(std::string name, int order, TEditDataType dataType, int size, bool isNullable,
            bool isPrimaryKey, bool isAutoInc);

  const char* GetFieldName() const { return FieldName.c_str(); }
  // The owning table's lookup by name keeps the name the column was added under.
  void SetFieldName(const std::string& name) { FieldName = name; }
  int GetColumnOrder() const { return ColumnOrder; }
  TEditDataType GetDataType() const { return DataType; }
  int GetColumnSize() const { return ColumnSize; }
  bool GetIsNullable() const { return IsNullable; }
  bool GetIsPrimaryKey() const { return IsPrimaryKey; }
  bool GetIsAutoInc() const { return IsAutoInc; }
  bool GetIsTriggerField() const { return IsTriggerField; }
  void SetIsTriggerField(bool flag) { IsTriggerField = flag; }

  bool HasDefaultValue() const { return !DefaultValue.empty(); }
  const char* GetDefaultValue() const { return DefaultValue.c_str(); }
  void SetDefaultValue(const std::string& text) { DefaultValue = text; }
  bool HasLimitToList() const { return !LimitToList.empty(); }
  const char* GetLimitToList() const { return LimitToList.c_str(); }
  void SetLimitToList(const std::string& text) { LimitToList = text; }
  // Low bound, byte 0xBB, high bound.
  bool HasCheckBetween() const { return !CheckBetween.empty(); }
  const char* GetCheckBetween() const { return CheckBetween.c_str(); }
  void SetCheckBetween(const std::string& text) { CheckBetween = text; }

  void SetValue(const std::string& text);
  const char* GetValue() const { return Value.c_str(); }
  bool GetIsModified() const { return IsModified; }
  void ClearWriteProperties();

 private:
  std::string FieldName;
  int ColumnOrder;
  TEditDataType DataType;
  int ColumnSize;
  bool IsNullable;
  bool IsPrimaryKey;
  bool IsAutoInc;
  bool IsTriggerField = false;
  std::string DefaultValue;
  std::string LimitToList;
  std::string CheckBetween;
  bool IsModified = false;
  std::string Value;
};

// Row-buffer states of a table definition.
enum TTableState { tsInitial = 0, tsBrowse = 1, tsEdit = 2, tsInsert = 3 };

class TTableDef {
 public:
  explicit TTableDef(std::string name);
  ~TTableDef();
  TTableDef(const TTableDef&) = delete;
  TTableDef& operator=(const TTableDef&) = delete;

  const char* GetTableName() const { return TableName.c_str(); }
  TRL_MCO GetMCO() const { return MCO; }
  // The table's stored texts (its own, its indexes' and its triggers') as
  // they were when the definition was read: a rollback that changes them
  // makes the definition stale.
  const std::string& GetSchemaTexts() const { return SchemaTexts; }
  void SetSchemaTexts(const std::string& texts) { SchemaTexts = texts; }
  // False for a table declared WITHOUT ROWID, whose rows have no rowid to be found by.
  bool GetHasRowid() const { return HasRowid; }
  void SetHasRowid(bool flag) { HasRowid = flag; }

  int GetColumnCount() const { return static_cast<int>(ColumnsByOrder.size()); }
  // 0 and ownership taken, or -1 when the order is taken (the caller keeps the field).
  int AddColumn(TFieldDef* field);
  TFieldDef* GetColumn(int order) const;
  TFieldDef* GetColumn(const std::string& name) const;

  void AddIndex(const std::string& text) { Indexes.push_back(text); }
  void AddTrigger(const std::string& text) { Triggers.push_back(text); }
  void AddForeignKey(const std::string& text) { ForeignKeys.push_back(text); }
  void AddCheck(const std::string& text) { Checks.push_back(text); }
  void AddDefault(const std::string& text) { Defaults.push_back(text); }
  int GetIndexCount() const { return static_cast<int>(Indexes.size()); }
  int GetTriggerCount() const { return static_cast<int>(Triggers.size()); }
  int GetForeignKeyCount() const { return static_cast<int>(ForeignKeys.size()); }
  int GetCheckCount() const { return static_cast<int>(Checks.size()); }
  int GetDefaultCount() const { return static_cast<int>(Defaults.size()); }
  const char* GetIndex(int i) const { return entry(Indexes, i); }
  const char* GetTrigger(int i) const { return entry(Triggers, i); }
  const char* GetForeignKey(int i) const { return entry(ForeignKeys, i); }
  const char* GetCheck(int i) const { return entry(Checks, i); }
  const char* GetDefault(int i) const { return entry(Defaults, i); }

  bool Edit(int pkey);
  bool Insert();
  bool Cancel();
  bool IsEditing() const { return State == tsEdit || State == tsInsert; }
  int GetState() const { return State; }
  int GetPostToPKey() const { return PostToPKey; }
  void ClearWriteFields();

 private:
  static const char* entry(const std::vector<std::string>& list, int i);

  std::string TableName;
  std::string SchemaTexts;
  bool HasRowid = true;
  std::map<int, TFieldDef*> ColumnsByOrder;
  std::map<std::string, TFieldDef*> ColumnsByName;
  std::vector<std::string> Indexes;
  std::vector<std::string> Triggers;
  std::vector<std::string> ForeignKeys;
  std::vector<std::string> Checks;
  std::vector<std::string> Defaults;
  TRL_MCO MCO;
  int State = tsInitial;
  int PostToPKey = 0;
};

class TTablesList {
 public:
  TTablesList() = default;
  ~TTablesList();
  TTablesList(const TTablesList&) = delete;
  TTablesList& operator=(const TTablesList&) = delete;

  // 0 and ownership taken, or -1 when the name is taken (the caller keeps the table).
  int AddTable(TTableDef* table);
  // Deletes the table only when that very object is stored under its name.
  int RemoveTable(TTableDef* table);
  // Counts the tables removed (or replaced) so far: holders of a definition
  // know from a change of it that theirs may be gone.
  unsigned GetRemovals() const { return Removals; }
  TTableDef* GetTable(const std::string& name) const;
  int Count() const { return static_cast<int>(Tables.size()); }
  std::map<std::string, TTableDef*> TablesList() const { return Tables; }
  // The names of the tables that hold a foreign key, in the order of their names.
  std::vector<std::string> TablesWithForeignKeys() const;

 private:
  std::map<std::string, TTableDef*> Tables;
  unsigned Removals = 0;
};

class TDefineColumn {
 public:
  TDefineColumn(const char* name, const char* formattedDef, const char* sourceName);

  void SetIsTriggerMaintained(int flag) { IsTriggerMaintained = flag != 0 ? 1 : 0; }
  const char* GetColumnName() const { return Name.c_str(); }
  const char* GetFormattedDef() const { return FormattedDef.c_str(); }
  const char* GetColumnSourceName() const { return SourceName.c_str(); }
  int GetIsTriggerMaintained() const { return IsTriggerMaintained; }

 private:
  std::string Name;
  std::string FormattedDef;
  std::string SourceName;
  int IsTriggerMaintained = 0;
};

class TDefineTable {
 public:
  TDefineTable() = default;
  ~TDefineTable();
  TDefineTable(const TDefineTable&) = delete;
  TDefineTable& operator=(const TDefineTable&) = delete;

  void ClearAll();
  void SetTableName(const std::string& name) { TableName = name; }
  const char* GetTableName() const { return TableName.c_str(); }
  void SetIsRestructuring(bool flag) { IsRestructuring = flag; }
  bool GetIsRestructuring() const { return IsRestructuring; }

  void AddColumnDef(TDefineColumn* column) { Columns.push_back(column); }  // takes ownership
  unsigned GetColumnsCount() const { return static_cast<unsigned>(Columns.size()); }
  TDefineColumn* GetColumnDef(unsigned i) const { return i < Columns.size() ? Columns[i] : nullptr; }

  void AddIndexDef(const std::string& text) { IndexDefs.push_back(text); }
  unsigned GetIndexCount() const { return static_cast<unsigned>(IndexDefs.size()); }
  const char* GetIndexDef(unsigned i) const { return i < IndexDefs.size() ? IndexDefs[i].c_str() : nullptr; }
  void AddTriggerDef(const std::string& text) { TriggerDefs.push_back(text); }
  unsigned GetTriggerCount() const { return static_cast<unsigned>(TriggerDefs.size()); }
  const char* GetTriggerDef(unsigned i) const {
    return i < TriggerDefs.size() ? TriggerDefs[i].c_str() : nullptr;
  }

 private:
  std::string TableName;
  bool IsRestructuring = false;
  std::vector<TDefineColumn*> Columns;
  std::vector<std::string> IndexDefs;
  std::vector<std::string> TriggerDefs;
};
