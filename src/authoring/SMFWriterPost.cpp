// Posting a row buffer: one INSERT, or one UPDATE together with the renames it
// carries into edit logic and lookup tables, each inside a savepoint.
#include <cctype>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "api/SMF.h"
#include "authoring/Qb_AccessController.h"
#include "authoring/SMFWriter.h"
#include "storage/SQLDB.h"
#include "storage/SQLQuery.h"
#include "storage/SchemaReads.h"
#include "storage/Utility.h"
#include "storage/WriteScope.h"

namespace {

const char* const kPostSavePoint = "__smfwriter_post_edit__";
const char* const kPostInsertSavePoint = "__smfwriter_post_insert__";
const char* const kNotPosted = "; the row is not posted";
const char* const kNotInMode = " is NOT in insert or edit mode; cannot post";
// The whole number an integer column stores for the value bound to ?1: the
// column converts text that reads as a number (" 3", "2e1", "1.0") and keeps
// a whole one, and stores any other value as it is, so no row is returned.
const char* const kStoredIntegerKey =
    "SELECT CAST(CAST(?1 AS NUMERIC) AS INTEGER) WHERE CAST(CAST(?1 AS NUMERIC) AS INTEGER) = ?1;";

size_t skip_digits(const std::string& text, size_t i) {
  while (i < text.size() && isdigit(static_cast<unsigned char>(text[i]))) ++i;
  return i;
}

// A decimal number, with an optional sign, fraction and exponent: the only
// text that may stand bare in a statement.
bool is_number(const std::string& text) {
  size_t start = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  size_t i = skip_digits(text, start);
  size_t digits = i - start;
  if (i < text.size() && text[i] == '.') {
    size_t fraction = skip_digits(text, i + 1);
    digits += fraction - i - 1;
    i = fraction;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t exponent = i + 1 < text.size() && (text[i + 1] == '+' || text[i + 1] == '-') ? i + 2 : i + 1;
    i = skip_digits(text, exponent);
    if (i == exponent) return false;
  }
  return i == text.size();
}

// A buffered value as a statement writes it: SQL NULL where the posting rules
// make one, a number bare in a numeric column, anything else quoted.
std::string value_text(const TFieldDef* field, const std::string& value, bool nullText) {
  bool numeric = field->GetDataType() == edtInteger || field->GetDataType() == edtDouble;
  if (value == "NULL" && (numeric || nullText)) return "NULL";
  if (numeric && is_number(value)) return value;
  return "'" + quote_sql_value(value) + "'";
}

void append(std::string& list, const std::string& item) { list += (list.empty() ? "" : ", ") + item; }

// The PKey that a buffer posts to a column of whole numbers: null when it
// posts none, posts NULL or the column holds other values.
const char* posted_integer_key(const TFieldDef* key) {
  if (key == nullptr || !key->GetIsModified() || key->GetDataType() != edtInteger) return nullptr;
  return strcmp(key->GetValue(), "NULL") == 0 ? nullptr : key->GetValue();
}

// The row that keeps key 1 of the table of that kind, as refusals name it.
const char* reserved_key_holder(TRL_MCO kind) {
  return kind == mcoAgencies ? "Agency \"NONE\"" : kind == mcoMessages ? "Message Number 0" : nullptr;
}

}  // namespace

int TSMFWriter::Post(const std::string& table, int* pkey) {
  TTableDef* definition = find_table(table, "Post");
  if (definition == nullptr) return -1;
  if (!definition->IsEditing()) {
    add_error("Post", "Table named \"" + table + "\"" + kNotInMode);
    return -1;
  }
  bool inserting = definition->GetState() == tsInsert;
  *pkey = inserting ? 0 : definition->GetPostToPKey();
  int result = -1;
  if (field_name_allowed(definition))
    result = inserting ? post_insert(definition, pkey) : post_edit(definition, pkey);
  // A rollback re-reads the tables whose definitions it changed: the one
  // posted is looked up again.
  if ((definition = FTablesList->GetTable(table)) != nullptr) definition->Cancel();
  return result;
}

// No field reference can name a field whose name holds a double quote: the
// reference ends at the first one. Renamed into edit logic, such a name would
// close the reference and add statements of its own to every edit using it.
bool TSMFWriter::field_name_allowed(TTableDef* table) {
  if (table->GetMCO() != mcoFields) return true;
  TFieldDef* name = table->GetColumn("FieldName");
  if (name == nullptr || !name->GetIsModified() || strchr(name->GetValue(), '"') == nullptr) return true;
  add_error("Post", "A field name may not hold a double quote (\"): no edit logic could name the field");
  return false;
}

// The column at `order`, or null after recording that the model has none.
TFieldDef* TSMFWriter::column_at(TTableDef* table, int order, const char* method) {
  TFieldDef* field = table->GetColumn(order);
  if (field == nullptr)
    add_error(method, "Mayhem in the tables list! Column " + intToString(order) + " in table \"" +
                          table->GetTableName() + "\" out of range");
  return field;
}

// The buffer is emptied before the write: a rollback that ends the host's
// transaction has the table model read again, and this definition with it.
// A PKey posted as NULL is one the database numbers, as is one not posted.
int TSMFWriter::post_insert(TTableDef* table, int* pkey) {
  *pkey = 0;
  std::vector<std::pair<std::string, std::string>> cells;  // column and value text, in table order
  int keyAt = -1;
  for (int i = 0; i < table->GetColumnCount(); ++i) {
    TFieldDef* field = column_at(table, i, "post_insert");
    if (field == nullptr) return -1;
    if (!field->GetIsModified()) continue;
    if (is_column(field, "PKey")) keyAt = static_cast<int>(cells.size());
    cells.emplace_back(quote_identifier(field->GetFieldName()), value_text(field, field->GetValue(), false));
  }
  if (cells.empty()) return 0;
  std::string tableName = table->GetTableName();
  const char* posted = posted_integer_key(table->GetColumn("PKey"));
  bool keyPosted = posted != nullptr;
  std::string postedKey = keyPosted ? posted : "";  // a copy: the buffer is emptied below
  std::vector<std::string> columnNames;
  for (int i = 0; i < table->GetColumnCount(); ++i) columnNames.push_back(table->GetColumn(i)->GetFieldName());
  bool numbered = database_numbers(table) && (keyAt < 0 || cells[keyAt].second == "NULL");
  table->ClearWriteFields();
  TWriteScope scope(FSQLDB, FEnginePump, "TSMFWriter", "post_insert", kPostInsertSavePoint);
  if (!scope.IsOpen() || !buffer_stands(tableName, "post_insert")) return -1;
  TRowKey inserted;
  bool written = false;
  try {
    if (!posted_key_keeps_one(table->GetMCO(), 0, keyPosted ? postedKey.c_str() : nullptr, "post_insert"))
      return -1;
    TNewRowKey key = numbered ? new_row_key(FSQLDB, tableName) : TNewRowKey();
    if (!key.Key.empty() && keyAt >= 0) cells[keyAt].second = key.Key;
    if (!key.Key.empty() && keyAt < 0) cells.insert(cells.begin(), {"[PKey]", key.Key});
    std::string columns, values;
    for (const auto& cell : cells) {
      append(columns, cell.first);
      append(values, cell.second);
    }
    // A row is found again by a name of its rowid that no column takes; one
    // of a table without rowids, or whose columns take every such name, by
    // nothing the INSERT leaves behind: it returns the row's PKey itself.
    std::vector<std::string> rowids = free_rowid_names(FSQLDB->Database(), tableName, columnNames);
    bool returning = rowids.empty();
    std::string name = quote_identifier(tableName);
    std::string sql = "INSERT INTO " + name + " (" + columns + ") VALUES ( " + values + ")" +
                      (returning ? " RETURNING PKey;" : ";");
    written = returning ? exec_logged("post_insert", sql, &inserted)
                        : exec_logged("post_insert", sql) && read_inserted_pkey(name, rowids.front(), inserted);
    written = written && posted_key_usable(tableName, inserted, "post_insert") &&
              reserved_key_kept(table->GetMCO(), 0, inserted, "post_insert");
  } catch (const TKeyRefusal& e) {
    add_error("post_insert", std::string(e.what()) + kNotPosted);
  } catch (const std::runtime_error& e) {
    add_error("post_insert", e.what());
  }
  if (!scope.Finish(written)) return -1;
  *pkey = inserted.Value;
  return 0;
}

// Whether the database numbers the table's rows by their PKey: the key is
// the table's integer primary key, an alias of the rowid.
bool TSMFWriter::database_numbers(TTableDef* table) {
  TFieldDef* key = table->GetColumn("PKey");
  return key != nullptr && key->GetIsPrimaryKey() && key->GetDataType() == edtInteger && table->GetHasRowid();
}

// Once a post holds the write lock, the table model follows the file as it
// now holds it: a table that another connection changed since its row was
// buffered has been read again, its buffer gone with its old columns, and
// nothing is posted.
bool TSMFWriter::buffer_stands(const std::string& table, const char* method) {
  if (!FSMF->follow_schema(method)) return false;
  TTableDef* definition = FTablesList->GetTable(table);
  if (definition != nullptr && definition->IsEditing()) return true;
  add_error(method, "Table named \"" + table + "\"" + kNotInMode);
  return false;
}

// The PKey of the row just inserted into the (quoted) table, found by that
// name of its rowid; not found when no row has it; false when it cannot be
// asked for.
bool TSMFWriter::read_inserted_pkey(const std::string& quotedTable, const std::string& rowid, TRowKey& pkey) {
  TSQLQuery query(FSQLDB);
  try {
    query.OpenSelect("SELECT PKey FROM " + quotedTable + " WHERE " + rowid + " = last_insert_rowid();");
  } catch (const std::runtime_error& e) {
    add_error("post_insert", e.what());
    return false;
  }
  pkey = query.GetKeyFieldByNumber(0);
  return true;
}

// A row that the exports could not reach by its key is not posted: Qb_Edit
// takes the key as an int, and the key handed back would be another row's.
// A row stored without a key is refused as a key posted NULL is.
bool TSMFWriter::posted_key_usable(const std::string& table, const TRowKey& key, const char* method) {
  if (!key.Found || key.Usable) return true;
  add_error(method, key.Refusal(table) + kNotPosted);
  return false;
}

// Agency 1 ("NONE") and message 1 (message number 0) are what owners and
// edits' messages fall back to, and every caller may act for agency 1: they
// keep key 1, and no other row takes it, as the file stores the key. `from`
// is the edited row's key before the post, 0 for a new row. Checked before
// the write, and again after it by the key as the file then holds it (a key
// column not declared integer is checked only then).
bool TSMFWriter::reserved_key_kept(TRL_MCO kind, int from, const TRowKey& stored, const char* method) {
  const char* holder = reserved_key_holder(kind);
  if (holder == nullptr || !stored.Found || (from == 1) == (stored.Value == 1)) return true;
  add_error(method, from == 1 ? std::string(holder) + " may not be given another PKey"
                              : std::string("PKey 1 belongs to ") + holder);
  return false;
}

// Before the write, so that the refusal comes before those the database's
// constraints would make (rows referring to key 1, key 1 taken).
bool TSMFWriter::posted_key_keeps_one(TRL_MCO kind, int from, const char* posted, const char* method) {
  if (posted == nullptr || reserved_key_holder(kind) == nullptr) return true;
  return reserved_key_kept(kind, from, stored_integer_key(posted), method);
}

// The key a column of whole numbers stores for the posted text, as the
// database converts it; not found when it would store no whole number.
TRowKey TSMFWriter::stored_integer_key(const char* posted) {
  return kept_first_key(kStoredIntegerKey, [posted](TSQLQuery& query) { query.BindTextParameter(1, posted); });
}

// An agency's own code, password or PKey, written while its login stands,
// stays its login's: the login follows the row to the PKey the file now
// holds, and a later rollback that leaves the row in place leaves the login.
// Both are read inside the write, so that no other connection's row comes
// between; a write the commit then undoes is followed as every rollback is.
// A posted PKey is handed back as the row holds it after the post.
int TSMFWriter::post_edit(TTableDef* table, int* posted) {
  TWriteScope scope(FSQLDB, FEnginePump, "TSMFWriter", "post_edit", kPostSavePoint);
  if (!scope.IsOpen() || !buffer_stands(table->GetTableName(), "post_edit")) return -1;
  std::vector<TUpdateEditLogicObject> renames;
  int pkey = table->GetPostToPKey();
  TRowKey moved;
  int result = -1;
  try {
    bool loginFollows = writes_login_form(table) && FAccessController->AgencyLoginStands(pkey);
    TEditedRow row = edited_row(table);
    result = row == erRefused ? -1 : row == erGone ? 0 : write_edited_row(table, renames, moved);
    if (result == 0) result = propagate_renames(table->GetMCO(), pkey, renames);
    if (result == 0 && loginFollows) FAccessController->FollowAgencyWrite(pkey, moved.Found ? moved.Value : pkey);
  } catch (const std::exception& e) {
    add_error("post_edit", e.what());
    result = -1;
  }
  if (!scope.Finish(result == 0)) return -1;
  if (result == 0 && moved.Found) *posted = moved.Value;
  return result;
}

// Whether the edited row is an agency's whose code, password or PKey is set.
bool TSMFWriter::writes_login_form(TTableDef* table) {
  if (table->GetMCO() != mcoAgencies) return false;
  for (int i = 0; i < table->GetColumnCount(); ++i) {
    TFieldDef* field = table->GetColumn(i);
    if (field == nullptr || !field->GetIsModified()) continue;
    if (is_column(field, "AdminCode") || is_column(field, "Password") || is_column(field, "PKey")) return true;
  }
  return false;
}

namespace {

bool is_rename_column(TRL_MCO kind, const TFieldDef* field) {
  const char* name = field->GetFieldName();
  if (kind == mcoFields) return strcmp(name, "FieldName") == 0 || strcmp(name, "FieldNumber") == 0;
  if (kind == mcoMessages) return strcmp(name, "MessageNumber") == 0;
  return kind == mcoLookupTables && strcmp(name, "TableName") == 0;
}

}  // namespace

// Runs the UPDATE of the edited row, noting the renames it makes. A changed
// field length takes the field out of its layouts within the same savepoint.
// A posted PKey is read back as the file stores it, into `moved`.
int TSMFWriter::write_edited_row(TTableDef* table, std::vector<TUpdateEditLogicObject>& renames, TRowKey& moved) {
  int pkey = table->GetPostToPKey();
  if (!posted_key_keeps_one(table->GetMCO(), pkey, posted_integer_key(table->GetColumn("PKey")), "post_edit"))
    return -1;
  std::string sets;
  bool keyPosted = false;
  for (int i = 0; i < table->GetColumnCount(); ++i) {
    TFieldDef* field = column_at(table, i, "post_edit");
    if (field == nullptr) return -1;
    if (!field->GetIsModified()) continue;
    keyPosted = keyPosted || is_column(field, "PKey");
    std::string value = field->GetValue();
    std::string stored;
    if (is_rename_column(table->GetMCO(), field)) get_original_value(table, field, stored);
    if (!stored.empty())
      renames.emplace_back(table->GetTableName(), field->GetFieldName(), stored.c_str(), value.c_str());
    // A rename drops the old table: it is refused before the row is written.
    if (!stored.empty() && stored != value && table->GetMCO() == mcoLookupTables &&
        !no_reading_cursor("post_edit", "Table \"" + stored + "\" cannot be renamed"))
      return -1;
    if (table->GetMCO() == mcoFields && is_column(field, "FieldLength") && pkey > 0 &&
        !compare_old_new_field_length(pkey, get_int_val(value.c_str(), 0, static_cast<unsigned>(value.size()))))
      return -1;
    if (value.empty() && field->GetIsNullable() && (field->HasLimitToList() || field->HasCheckBetween()))
      value = "NULL";
    append(sets, quote_identifier(field->GetFieldName()) + " = " + value_text(field, value, true));
  }
  if (sets.empty()) return 0;
  std::string sql = "UPDATE " + quote_identifier(table->GetTableName()) + " SET " + sets +
                    " WHERE PKey = " + intToString(pkey) + (keyPosted ? " RETURNING PKey;" : ";");
  if (!exec_logged("post_edit", sql, keyPosted ? &moved : nullptr)) return -1;
  if (!posted_key_usable(table->GetTableName(), moved, "post_edit") ||
      !reserved_key_kept(table->GetMCO(), pkey, moved, "post_edit"))
    return -1;
  read_new_values(table->GetTableName(), moved.Found ? moved.Value : pkey, renames);
  return 0;
}

// Takes the table's kind and row, not its definition: a recompilation that
// rolls back may have the table model read definitions again.
int TSMFWriter::propagate_renames(TRL_MCO kind, int pkey, std::vector<TUpdateEditLogicObject>& renames) {
  for (TUpdateEditLogicObject& change : renames) {
    if (kind == mcoLookupTables) return rename_lookup_table(change, pkey);
    bool updated = kind == mcoFields ? update_edit_fields(&change, pkey) : update_edit_messages(&change, pkey);
    if (updated) continue;
    add_error("post_edit", std::string("Failure to update the logic of the edits that depend on ") +
                               change.GetTableName() + "." + change.GetFieldName());
    return -1;
  }
  return 0;
}

// A name written back unchanged renames nothing. A rename refused because
// other objects refer to the table changed nothing, so it warns of no danger.
int TSMFWriter::rename_lookup_table(TUpdateEditLogicObject& change, int pkey) {
  if (strcmp(change.GetOriginalValue(), change.GetNewValue()) == 0) return 0;
  bool referredTo = false;
  int result = FSMF->RenameLookupTable(change.GetOriginalValue(), change.GetNewValue(), true, 1, &referredTo);
  if (result == 0 && !update_edit_tables(&change, pkey)) result = -1;
  if (result != 0 && !referredTo)
    add_error("post_edit",
              "DANGER! Failed attempt to rename table may have corrupted this metafile. Close it WITHOUT saving!");
  return result;
}

void TSMFWriter::get_original_value(TTableDef* table, TFieldDef* field, std::string& value) {
  read_stored_value(table->GetTableName(), field->GetFieldName(), table->GetPostToPKey(), value);
}

// The column's text in row pkey; empty for NULL, no row or a failure.
void TSMFWriter::read_stored_value(const std::string& table, const std::string& column, int pkey,
                                   std::string& value) {
  TSQLQuery query(FSQLDB);
  try {
    query.OpenSelect("SELECT " + quote_identifier(column) + " FROM " + quote_identifier(table) +
                     " WHERE PKey = " + intToString(pkey) + ";");
    value = query.GetFieldByNumber(0);
  } catch (const std::runtime_error&) {
    value.clear();
  }
}

// A rename carries into edit logic the name or number as the row now stores
// it, never the posted text: "1e2" posted as a message number is 100.
void TSMFWriter::read_new_values(const std::string& table, int pkey, std::vector<TUpdateEditLogicObject>& renames) {
  for (TUpdateEditLogicObject& change : renames) {
    std::string stored;
    read_stored_value(table, change.GetFieldName(), pkey, stored);
    if (!stored.empty())
      change = TUpdateEditLogicObject(change.GetTableName(), change.GetFieldName(), change.GetOriginalValue(),
                                      stored.c_str());
  }
}

// False only when the field's layout rows had to go and could not be deleted.
bool TSMFWriter::compare_old_new_field_length(int fieldPKey, int newLength) {
  TSQLQuery query(FSQLDB);
  query.OpenSelect("SELECT FieldLength FROM RL_Fields WHERE PKey=" + intToString(fieldPKey) + ";");
  if (query.GetIntFieldByNumber(0) == newLength) return true;
  return exec_logged("post_edit", "DELETE FROM RL_LayoutFieldsPivot WHERE FieldPKey=" + intToString(fieldPKey) + ";");
}
