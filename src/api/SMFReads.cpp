// TSMF: primary-key lists, the edit-set/layout check, schema introspection from
// the table model and record reading by primary key through a per-table cache.
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "api/SMF.h"
#include "quelt.h"
#include "storage/EngineErrorsPump.h"
#include "storage/SQLQuery.h"
#include "storage/TableStats.h"
#include "storage/Utility.h"

namespace {

// The fields that the edits of an edit set use and a layout does not place,
// around the edit set's key and the layout's key.
const char* const kLayoutGapSelect =
    "SELECT efp.FieldPKey, f.FieldName, esep.EditPKey, e.EditName, e.EditTag FROM RL_EditFieldsPivot "
    "efp, RL_Fields f, RL_EditSetEditsPivot esep, RL_Edits e WHERE efp.FieldPKey = f.PKey   AND "
    "efp.EditPKey = esep.EditPKey   AND e.PKey = efp.EditPKey   AND esep.EditSetPKey = ";
const char* const kLayoutGapNotPlaced =
    "   AND efp.FieldPKey NOT IN (     SELECT lfp.FieldPKey \t   FROM RL_LayoutFieldsPivot lfp \t   WHERE "
    "lfp.LayoutPKey = ";

std::string row_statement(const char* table, int pkey) {
  return "SELECT * FROM " + quote_identifier(table) + " WHERE PKey = " + intToString(pkey) + ";";
}

int data_size(const std::string& value) { return value.empty() ? 0 : static_cast<int>(value.size()) + 1; }

// Zero-fills the buffer and copies at most length-1 bytes, so it always ends in zero.
void copy_terminated(const std::string& text, char* buffer, int length) {
  if (length < 1) return;
  copy_to_buffer(text.substr(0, length - 1), buffer, length);
}

// The rows of a SELECT, all read before the first callback: what a call made
// from a callback changes or undoes cannot reach a walk, and no statement is
// left open on the file while the host is called. A failure is kept behind
// the rows read before it: the exception's text, then the statement's message
// after `sqlError` (none when a row's key was refused).
template <typename Row>
struct TTakenRows {
  std::vector<Row> Rows;
  std::vector<std::string> Failure;
};

template <typename Row, typename Read>
TTakenRows<Row> take_rows(TSQLDB* db, const std::string& sql, const std::string& sqlError, Read read) {
  TTakenRows<Row> taken;
  TSQLQuery query(db);
  try {
    query.OpenSelect(sql);
    for (bool more = !query.Eof(); more; more = !query.Eof()) {
      taken.Rows.push_back(read(query));
      if (!query.FetchNext()) throw std::runtime_error("TSQLQuery::FetchNext");
    }
  } catch (const TKeyRefusal& e) {
    taken.Failure = {e.what()};
  } catch (const std::runtime_error& e) {
    taken.Failure = {e.what(), sqlError + query.LastErrorMessage()};
  }
  return taken;
}

// Delivers the rows; then 0, -2 when there were none, or -1 after a failure.
template <typename Row, typename Deliver>
int deliver_rows(const TTakenRows<Row>& taken, Deliver deliver) {
  for (const Row& row : taken.Rows) deliver(row);
  if (!taken.Failure.empty()) return -1;
  return taken.Rows.empty() ? -2 : 0;
}

// What one column shows the host, copied out of the table model.
struct TColumnTexts {
  std::string Name, Type, Nullable, DefaultValue, LimitToList, CheckBetween;
  int IsTriggerField;
};

struct TLayoutGap {
  int FieldPKey;
  std::string FieldName;
  int EditPKey;
  std::string EditName;
  std::string EditTag;
};

}  // namespace

int TSMF::GetPKeys(const char* table, const char* orderBy, void* owner, void* callback) {
  if (!parameters_given("GetPKeys", {{table, "table"}, {callback, "callback"}})) return -1;
  std::string order = orderBy != nullptr && *orderBy != '\0' ? orderBy : "PKey";
  // A table of the model is named quoted, whatever its name holds; any other
  // text goes into the statement as the host gave it.
  TTableDef* def = FTablesList->GetTable(table);
  std::string from = def != nullptr ? quote_identifier(def->GetTableName()) : table;
  auto taken = take_rows<int>(FSQLDB, "SELECT PKey FROM " + from + " ORDER BY " + order,
                              std::string("SQL error for table ") + table + ": ",
                              [&](const TSQLQuery& query) { return query.GetUsableKeyByNumber(0, table); });
  int result = deliver_rows(taken, [&](int pkey) { reinterpret_cast<PKeyCallback>(callback)(owner, table, pkey); });
  for (const std::string& failure : taken.Failure) add_error("GetPKeys", failure);
  return result;
}

int TSMF::CheckEditSetAgainstLayout(int editSetPKey, int layoutPKey, void* owner, void* callback) {
  if (!parameters_given("CheckEditSetAgainstLayout", {{callback, "callback"}})) return -1;
  std::string sql = kLayoutGapSelect + intToString(editSetPKey) + kLayoutGapNotPlaced + intToString(layoutPKey) + "); ";
  auto taken = take_rows<TLayoutGap>(FSQLDB, sql, "SQL error: ", [](const TSQLQuery& query) {
    return TLayoutGap{query.GetUsableKeyByNumber(0, "RL_Fields"), query.GetFieldByName("FieldName"),
                      query.GetUsableKeyByNumber(2, "RL_Edits"), query.GetFieldByName("EditName"),
                      query.GetFieldByName("EditTag")};
  });
  int result = deliver_rows(taken, [&](const TLayoutGap& gap) {
    reinterpret_cast<LayoutGapCallback>(callback)(owner, gap.FieldPKey, gap.FieldName.c_str(), gap.EditPKey,
                                                  gap.EditName.c_str(), gap.EditTag.c_str());
  });
  for (const std::string& failure : taken.Failure) add_error("CheckEditSetAgainstLayout", failure);
  return result;
}

TTableDef* TSMF::find_table(const char* table, const char* method) {
  TTableDef* def = FTablesList->GetTable(table);
  if (def == nullptr) add_error(method, std::string("Cannot find table named \"") + table + "\"");
  return def;
}

// The column at an order counted from base (0 or 1), or null after recording
// the out-of-range text with the order as the caller gave it.
TFieldDef* TSMF::find_column(const char* table, int columnOrder, int base, const char* method,
                             const char* orderWord) {
  TTableDef* def = find_table(table, method);
  if (def == nullptr) return nullptr;
  // Tested before subtracting, so that no order can overflow.
  TFieldDef* field = columnOrder < base ? nullptr : def->GetColumn(columnOrder - base);
  if (field == nullptr)
    add_error(method, std::string("In table ") + table + ", " + orderWord + " " + intToString(columnOrder) +
                          " is out of range");
  return field;
}

std::string TSMF::field_data_type_as_string(const TFieldDef* field) {
  if (field == nullptr) return std::string();
  switch (field->GetDataType()) {
    case edtInteger: return "integer";
    case edtDouble: return "double";
    case edtVarchar: return "varchar(" + intToString(field->GetColumnSize()) + ")";
    case edtChar: return "char(" + intToString(field->GetColumnSize()) + ")";
    case edtText: return "text";
    case edtDateTime: return "datetime";
    default: return "unknown";
  }
}

std::string TSMF::field_nullable_as_string(const TFieldDef* field) {
  if (field == nullptr) return std::string();
  return field->GetIsNullable() ? "NULL" : "NOT NULL";
}

// The names are copied before the first callback: a call from a callback may
// change the table model (the undo of a failed write reads it again), never
// what the walk delivers.
int TSMF::GetTableNames(void* owner, void* callback) {
  if (!parameters_given("GetTableNames", {{callback, "callback"}})) return -1;
  std::vector<std::string> names;
  for (const auto& entry : FTablesList->TablesList()) names.push_back(entry.second->GetTableName());
  for (const std::string& name : names) reinterpret_cast<TableNameCallback>(callback)(owner, name.c_str());
  return 0;
}

int TSMF::GetTablesCount(int* count) {
  if (!parameters_given("GetTablesCount", {{count, "count"}})) return -1;
  *count = FTablesList->Count();
  return 0;
}

int TSMF::GetTableNameByIndex(int index, char* buffer, int length) {
  if (!parameters_given("GetTableNameByIndex", {{length > 0 ? buffer : "", "buffer"}})) return -1;
  int count = FTablesList->Count();
  if (index < 0 || index >= count) {
    char message[100];
    snprintf(message, sizeof message, "Parameter idx (%d) must be in range 0 - %d", index, count);
    add_error("GetTableNameByIndex", message);
    return -1;
  }
  auto tables = FTablesList->TablesList();
  auto entry = tables.begin();
  std::advance(entry, index);
  copy_to_buffer(entry->second->GetTableName(), buffer, length);
  return 0;
}

int TSMF::get_table_texts_count(const char* table, const char* method, bool indexes, int* count) {
  if (!parameters_given(method, {{table, "table"}, {count, "count"}})) return -1;
  TTableDef* def = find_table(table, method);
  if (def == nullptr) return -1;
  *count = indexes ? def->GetIndexCount() : def->GetTriggerCount();
  return 0;
}

int TSMF::get_table_text(const char* table, const char* method, bool indexes, int index, char* buffer,
                         int length) {
  if (!parameters_given(method, {{table, "table"}, {length > 0 ? buffer : "", "buffer"}})) return -1;
  if (length > 0) buffer[0] = '\0';
  TTableDef* def = find_table(table, method);
  if (def == nullptr) return -1;
  copy_to_buffer(indexes ? def->GetIndex(index) : def->GetTrigger(index), buffer, length);
  return 0;
}

int TSMF::GetIndexCount(const char* table, int* count) {
  return get_table_texts_count(table, "GetIndexCount", true, count);
}

int TSMF::GetIndex(const char* table, int index, char* buffer, int length) {
  return get_table_text(table, "GetIndex", true, index, buffer, length);
}

int TSMF::GetTriggerCount(const char* table, int* count) {
  return get_table_texts_count(table, "GetTriggerCount", false, count);
}

int TSMF::GetTrigger(const char* table, int index, char* buffer, int length) {
  return get_table_text(table, "GetTrigger", false, index, buffer, length);
}

// The columns are copied before the first callback, as the names of GetTableNames are.
int TSMF::GetTableStructure(const char* table, void* owner, void* callback) {
  if (!parameters_given("GetTableStructure", {{table, "table"}, {callback, "callback"}})) return -1;
  TTableDef* def = find_table(table, "GetTableStructure");
  if (def == nullptr) return -1;
  std::vector<TColumnTexts> columns;
  for (int order = 0; order < def->GetColumnCount(); ++order) {
    const TFieldDef* field = def->GetColumn(order);
    columns.push_back({field->GetFieldName(), field_data_type_as_string(field), field_nullable_as_string(field),
                       field->GetDefaultValue(), field->GetLimitToList(), field->GetCheckBetween(),
                       field->GetIsTriggerField() ? 1 : 0});
  }
  for (size_t i = 0; i < columns.size(); ++i) {
    const TColumnTexts& column = columns[i];
    reinterpret_cast<TableStructureCallback>(callback)(
        owner, table, static_cast<int>(i) + 1, column.Name.c_str(), column.Type.c_str(), column.Nullable.c_str(),
        column.IsTriggerField, column.DefaultValue.c_str(), column.LimitToList.c_str(), column.CheckBetween.c_str());
  }
  return 0;
}

int TSMF::GetColumnsCount(const char* table, int* count) {
  if (!parameters_given("GetColumnsCount", {{table, "table"}, {count, "count"}})) return -1;
  TTableDef* def = find_table(table, "GetColumnsCount");
  if (def == nullptr) return -1;
  *count = def->GetColumnCount();
  return 0;
}

int TSMF::GetColumnStructure(const char* table, int columnOrder, char* name, int nameLength, char* type,
                             int typeLength, char* nullable, int nullableLength, int* isTriggerField) {
  if (!parameters_given("GetColumnStructure", {{table, "table"},
                                               {nameLength > 0 ? name : "", "name"},
                                               {typeLength > 0 ? type : "", "type"},
                                               {nullableLength > 0 ? nullable : "", "nullable"},
                                               {isTriggerField, "isTriggerField"}}))
    return -1;
  TFieldDef* field = find_column(table, columnOrder, 1, "GetColumnStructure", "column_order");
  if (field == nullptr) return -1;
  copy_terminated(field->GetFieldName(), name, nameLength);
  copy_terminated(field_data_type_as_string(field), type, typeLength);
  copy_terminated(field_nullable_as_string(field), nullable, nullableLength);
  *isTriggerField = field->GetIsTriggerField() ? 1 : 0;
  return 0;
}

int TSMF::GetColumnOrder(const char* table, const char* fieldName, int* order) {
  if (!parameters_given("GetColumnOrder", {{table, "table"}, {fieldName, "fieldName"}, {order, "order"}}))
    return -1;
  *order = 0;
  TTableDef* def = find_table(table, "GetColumnOrder");
  if (def == nullptr) return -1;
  TFieldDef* field = def->GetColumn(fieldName);
  if (field == nullptr) {
    add_error("GetColumnOrder",
              std::string("Table \"") + table + "\" has no field named \"" + fieldName + "\"");
    return -1;
  }
  *order = field->GetColumnOrder();
  return 0;
}

int TSMF::GetFieldName(const char* table, int columnOrder, char* buffer, int length) {
  if (length < 1) return 0;
  if (!parameters_given("GetFieldName", {{table, "table"}, {buffer, "buffer"}})) return -1;
  buffer[0] = '\0';
  TFieldDef* field = find_column(table, columnOrder, 0, "GetFieldName", "col_order");
  if (field == nullptr) return -1;
  // The last byte of the buffer is left as it was.
  copy_to_buffer(std::string(field->GetFieldName()).substr(0, length - 1), buffer, length - 1);
  return 0;
}

// A row statement that cannot run (a table the database lacks) is recorded
// with its text and the database's message, then thrown on.
void TSMF::open_row_statement(TSQLQuery* query, const char* table, int pkey, const char* method) {
  std::string sql = row_statement(table, pkey);
  try {
    query->OpenSelect(sql);
  } catch (const std::runtime_error&) {
    add_error(method, "SQL: " + sql);
    add_error(method, query->LastErrorMessage());
    throw std::runtime_error("");
  }
}

// The row and its columns' names and types are copied, and the statement
// ended, before the first callback. Each value is taken by its column's
// name, whatever order the file holds the columns in. Columns that the model
// or the row lacks end the copy; those before them are delivered, then the
// failure is recorded.
int TSMF::ReadData(const char* table, int pkey, void* owner, void* callback) {
  if (!parameters_given("ReadData", {{table, "table"}, {callback, "callback"}})) return -1;
  std::vector<TColumnValue> columns;
  bool complete = true;
  {
    TSQLQuery query(FSQLDB);
    open_row_statement(&query, table, pkey, "ReadData");
    if (query.Eof()) return 0;
    TTableDef* def = find_table(table, "ReadData");
    if (def == nullptr) return -1;
    for (int order = 0; complete && order < def->GetColumnCount(); ++order) {
      const TFieldDef* field = def->GetColumn(order);
      int position = field == nullptr ? -1 : query.GetColumnNumber(field->GetFieldName());
      complete = position >= 0;
      if (complete)
        columns.push_back({field->GetFieldName(), field_data_type_as_string(field), query.GetFieldByNumber(position)});
    }
  }
  deliver_row(owner, callback, table, pkey, columns);
  if (complete) return 0;
  add_error("ReadData", std::string("Error in Engine! Field index out of range for table ") + table);
  return -1;
}

void TSMF::deliver_row(void* owner, void* callback, const char* name, int key,
                       const std::vector<TColumnValue>& columns) {
  for (size_t i = 0; i < columns.size(); ++i)
    reinterpret_cast<ReadDataCallback>(callback)(owner, name, key, static_cast<int>(i) + 1, columns[i].Name.c_str(),
                                                 columns[i].Type.c_str(), columns[i].Value.c_str());
}

std::string TSMF::TCachedRow::value(const std::string& column) const {
  auto found = Values.find(uppercase_string(column));
  return found == Values.end() ? std::string() : found->second;
}

// The row's values are copied and its statement ends at once: a cached row
// holds no lock on the file.
void TSMF::read_row(const char* table, int pkey, const char* method, TCachedRow& row) {
  row = TCachedRow();
  TSQLQuery query(FSQLDB);
  open_row_statement(&query, table, pkey, method);
  if (query.Eof()) return;
  row.Held = true;
  row.PKey = pkey;
  for (int i = 0; i < query.ColCount(); ++i) row.Values[uppercase_string(query.GetColumnName(i))] = query.GetFieldByNumber(i);
}

// The table's cached row, read again only when another PKey is asked for.
TSMF::TCachedRow& TSMF::cached_row(const char* table, int pkey, const char* method) {
  TCachedRow& row = FReadDataCache[lowercase_string(table)];
  if (!row.Held || row.PKey != pkey) read_row(table, pkey, method, row);
  return row;
}

std::string TSMF::get_data_by_column_order(const char* table, int pkey, int columnOrder) {
  TFieldDef* field = find_column(table, columnOrder, 1, "get_data_by_column_order", "column_order");
  if (field == nullptr) return std::string();
  return cached_row(table, pkey, "get_data_by_column_order").value(field->GetFieldName());
}

// A read by name leaves no row cached: the next read runs the statement again.
std::string TSMF::get_data_by_field_name(const char* table, int pkey, const char* fieldName) {
  TTableDef* def = find_table(table, "get_data_by_field_name");
  if (def == nullptr) return std::string();
  if (def->GetColumn(fieldName) == nullptr) {
    add_error("get_data_by_field_name", std::string("Cannot find field named \"") + fieldName +
                                            "\" in table named \"" + table + "\"");
    return std::string();
  }
  TCachedRow& row = cached_row(table, pkey, "get_data_by_field_name");
  row.Held = false;
  return row.value(fieldName);
}

int TSMF::RefreshReadData(const char* table, int pkey) {
  if (!parameters_given("RefreshReadData", {{table, "table"}})) return -1;
  try {
    read_row(table, pkey, "RefreshReadData", FReadDataCache[lowercase_string(table)]);
    return 0;
  } catch (const std::runtime_error&) {
    return -1;
  }
}

int TSMF::GetDataSizeByColumnOrder(const char* table, int pkey, int columnOrder, int* size) {
  if (!parameters_given("GetDataSizeByColumnOrder", {{table, "table"}, {size, "size"}})) return -1;
  *size = data_size(get_data_by_column_order(table, pkey, columnOrder));
  return 0;
}

int TSMF::GetDataByColumnOrder(const char* table, int pkey, int columnOrder, char* buffer, int length) {
  if (length < 1) return 0;
  if (!parameters_given("GetDataByColumnOrder", {{table, "table"}, {buffer, "buffer"}})) return -1;
  buffer[0] = '\0';
  std::string value = get_data_by_column_order(table, pkey, columnOrder);
  if (value.empty()) {
    add_error("GetDataByColumnOrder", std::string("Failure to retrieve data from table \"") + table +
                                          "\", column number " + intToString(columnOrder));
    return -1;
  }
  copy_to_buffer(value, buffer, length);
  return 0;
}

int TSMF::GetDataSizeByFieldName(const char* table, int pkey, const char* fieldName, int* size) {
  if (!parameters_given("GetDataSizeByFieldName", {{table, "table"}, {fieldName, "fieldName"}, {size, "size"}}))
    return -1;
  *size = data_size(get_data_by_field_name(table, pkey, fieldName));
  return 0;
}

int TSMF::GetDataByFieldName(const char* table, int pkey, const char* fieldName, char* buffer, int length) {
  if (length < 1) return 0;
  if (!parameters_given("GetDataByFieldName", {{table, "table"}, {fieldName, "fieldName"}, {buffer, "buffer"}}))
    return -1;
  buffer[0] = '\0';
  std::string value = get_data_by_field_name(table, pkey, fieldName);
  if (value.empty()) {
    add_error("GetDataByFieldName",
              std::string("Failure to retrieve data from ") + table + "." + fieldName);
    return -1;
  }
  copy_to_buffer(value, buffer, length);
  return 0;
}
