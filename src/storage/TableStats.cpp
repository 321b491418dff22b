// The in-memory table model and the lookup-table definition request.
#include "storage/TableStats.h"

#include <algorithm>

#include "storage/Utility.h"

TRL_MCO mco_from_table_name(const std::string& name) {
  static const std::map<std::string, TRL_MCO> kinds = {
      {"RL_Agencies", mcoAgencies},
      {"RL_Edits", mcoEdits},
      {"RL_EditSets", mcoEditSets},
      {"RL_Fields", mcoFields},
      {"RL_Layouts", mcoLayouts},
      {"RL_Messages", mcoMessages},
      {"RL_LookupTables", mcoLookupTables},
      {"RL_LayoutFieldsPivot", mcoLayoutFieldsPivot},
      {"RL_EditSetEditsPivot", mcoEditSetEditsPivot},
      {"RL_EditFieldsPivot", mcoEditFieldsPivot},
      {"RL_EditTablesPivot", mcoEditTablesPivot},
      {"RL_EditMessagesPivot", mcoEditMessagesPivot},
      {"RL_EditErrorsPivot", mcoEditErrorsPivot},
      {"RL_Control", mcoControl},
  };
  auto found = kinds.find(name);
  return found == kinds.end() ? mcoNone : found->second;
}

TFieldDef::TFieldDef(std::string name, int order, TEditDataType dataType, int size,
                     bool isNullable, bool isPrimaryKey, bool isAutoInc)
    : FieldName(std::move(name)), ColumnOrder(order), DataType(dataType), ColumnSize(size),
      IsNullable(isNullable), IsPrimaryKey(isPrimaryKey), IsAutoInc(isAutoInc) {}

void TFieldDef::SetValue(const std::string& text) {
  Value = text;
  IsModified = true;
}

void TFieldDef::ClearWriteProperties() {
  Value.clear();
  IsModified = false;
}

TTableDef::TTableDef(std::string name)
    : TableName(std::move(name)), MCO(mco_from_table_name(TableName)) {}

TTableDef::~TTableDef() {
  for (auto& entry : ColumnsByOrder) delete entry.second;
}

int TTableDef::AddColumn(TFieldDef* field) {
  if (field == nullptr || ColumnsByOrder.count(field->GetColumnOrder()) != 0) return -1;
  ColumnsByOrder[field->GetColumnOrder()] = field;
  ColumnsByName[lowercase_string(field->GetFieldName())] = field;
  return 0;
}

TFieldDef* TTableDef::GetColumn(int order) const {
  auto found = ColumnsByOrder.find(order);
  return found == ColumnsByOrder.end() ? nullptr : found->second;
}

TFieldDef* TTableDef::GetColumn(const std::string& name) const {
  auto found = ColumnsByName.find(lowercase_string(name));
  return found == ColumnsByName.end() ? nullptr : found->second;
}

const char* TTableDef::entry(const std::vector<std::string>& list, int i) {
  return i < 0 || static_cast<size_t>(i) >= list.size() ? "" : list[i].c_str();
}

bool TTableDef::Edit(int pkey) {
  if (IsEditing()) return false;
  PostToPKey = pkey;
  State = tsEdit;
  return true;
}

bool TTableDef::Insert() {
  if (IsEditing()) return false;
  PostToPKey = 0;
  State = tsInsert;
  return true;
}

bool TTableDef::Cancel() {
  ClearWriteFields();
  State = tsBrowse;
  PostToPKey = 0;
  return true;
}

void TTableDef::ClearWriteFields() {
  for (auto& entry : ColumnsByOrder) entry.second->ClearWriteProperties();
}

TTablesList::~TTablesList() {
  for (auto& entry : Tables) delete entry.second;
}

int TTablesList::AddTable(TTableDef* table) {
  if (table == nullptr) return -1;
  std::string key = lowercase_string(table->GetTableName());
  if (Tables.count(key) != 0) return -1;
  Tables[key] = table;
  return 0;
}

int TTablesList::RemoveTable(TTableDef* table) {
  if (table == nullptr) return 0;
  auto found = Tables.find(lowercase_string(table->GetTableName()));
  if (found != Tables.end() && found->second == table) {
    delete found->second;
    Tables.erase(found);
    ++Removals;
  }
  return 0;
}

std::vector<std::string> TTablesList::TablesWithForeignKeys() const {
  std::vector<std::string> tables;
  for (const auto& entry : Tables)
    if (entry.second->GetForeignKeyCount() > 0) tables.push_back(entry.second->GetTableName());
  std::sort(tables.begin(), tables.end());
  return tables;
}

TTableDef* TTablesList::GetTable(const std::string& name) const {
  auto found = Tables.find(lowercase_string(name));
  return found == Tables.end() ? nullptr : found->second;
}

TDefineColumn::TDefineColumn(const char* name, const char* formattedDef, const char* sourceName)
    : Name(name == nullptr ? "" : name),
      FormattedDef(formattedDef == nullptr ? "" : formattedDef),
      SourceName(sourceName == nullptr ? "" : sourceName) {}

TDefineTable::~TDefineTable() { ClearAll(); }

void TDefineTable::ClearAll() {
  TableName.clear();
  IsRestructuring = false;
  for (TDefineColumn* column : Columns) delete column;
  Columns.clear();
  IndexDefs.clear();
  TriggerDefs.clear();
}
