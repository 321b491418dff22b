// Reads of the metafile's schema through PRAGMA statements and the C API,
// and the statements that fire a table's triggers.
#include "storage/SchemaReads.h"

#include <algorithm>
#include <stdexcept>

#include "storage/Utility.h"

namespace {

// A trigger's UPDATE OF list may name the rowid by any of its names.
const char* const kRowidNames[] = {"rowid", "oid", "_rowid_"};

// The statement's result column of that name; throws when it has none.
int column_number(sqlite3_stmt* statement, const char* name) {
  for (int i = 0; i < sqlite3_column_count(statement); ++i)
    if (same_name(sqlite3_column_name(statement, i), name)) return i;
  throw std::runtime_error(std::string("The schema read has no column \"") + name + "\"");
}

std::string column_text(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

}  // namespace

std::vector<TSchemaRow> schema_rows(sqlite3* db, const std::string& sql, const std::vector<std::string>& parameters,
                                    const std::vector<const char*>& columns) {
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
  for (size_t i = 0; rc == SQLITE_OK && i < parameters.size(); ++i)
    rc = sqlite3_bind_text(statement, static_cast<int>(i + 1), parameters[i].data(),
                           static_cast<int>(parameters[i].size()), SQLITE_TRANSIENT);
  std::vector<TSchemaRow> rows;
  std::string failure;
  try {
    std::vector<int> numbers;
    for (const char* column : columns)
      if (rc == SQLITE_OK) numbers.push_back(column_number(statement, column));
    while (rc == SQLITE_OK && (rc = sqlite3_step(statement)) == SQLITE_ROW) {
      TSchemaRow& row = rows.emplace_back();
      for (int number : numbers) row.push_back(column_text(statement, number));
      rc = SQLITE_OK;
    }
    if (rc != SQLITE_DONE) failure = sqlite3_errmsg(db);
  } catch (const std::runtime_error& e) {
    failure = e.what();
  }
  sqlite3_finalize(statement);
  if (!failure.empty()) throw std::runtime_error(failure);
  return rows;
}

namespace {

// What the database answers when it prepares the statement: its code and its reason.
std::string prepared(sqlite3* db, const std::string& sql, unsigned flags) {
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v3(db, sql.c_str(), -1, flags, &statement, nullptr);
  sqlite3_finalize(statement);
  return std::to_string(rc) + (rc == SQLITE_OK ? "" : std::string(" ") + sqlite3_errmsg(db));
}

}  // namespace

std::string pragma_text(const char* pragma, const std::string& argument) {
  return std::string("PRAGMA main.") + pragma + "('" + quote_sql_value(argument) + "');";
}

std::vector<TSchemaRow> pragma_rows(sqlite3* db, const char* pragma, const std::string& argument,
                                    const std::vector<const char*>& columns) {
  return schema_rows(db, pragma_text(pragma, argument), {}, columns);
}

const char* const kMainTableNamesQuery =
    "SELECT [name] FROM [main].[sqlite_master] WHERE [type] = 'table' ORDER BY [name];";

std::vector<std::string> main_table_names(sqlite3* db) {
  std::vector<std::string> names;
  for (const TSchemaRow& row : schema_rows(db, kMainTableNamesQuery, {}, {"name"})) names.push_back(row[0]);
  return names;
}

namespace {

// Whether one of the table's columns takes the name.
bool takes(const std::vector<std::string>& columns, const char* name) {
  return std::any_of(columns.begin(), columns.end(), [name](const std::string& c) { return same_name(c, name); });
}

}  // namespace

// The C API answers for a name that no column takes only where the table
// has a rowid: never for a view or a table without rowid.
std::vector<std::string> free_rowid_names(sqlite3* db, const std::string& table,
                                          const std::vector<std::string>& columns) {
  std::vector<std::string> names;
  for (const char* rowid : kRowidNames) {
    if (takes(columns, rowid)) continue;
    if (sqlite3_table_column_metadata(db, "main", table.c_str(), rowid, nullptr, nullptr, nullptr, nullptr,
                                      nullptr) == SQLITE_OK)
      names.push_back(rowid);
  }
  return names;
}

bool has_rowid(sqlite3* db, const std::string& table, const std::vector<std::string>& columns) {
  for (const char* rowid : kRowidNames) {
    if (takes(columns, rowid)) continue;
    int rc = sqlite3_table_column_metadata(db, "main", table.c_str(), rowid, nullptr, nullptr, nullptr, nullptr,
                                           nullptr);
    if (rc != SQLITE_OK && rc != SQLITE_ERROR) throw std::runtime_error(sqlite3_errmsg(db));
    return rc == SQLITE_OK;
  }
  // schema|name|type|ncol|wr|strict
  std::vector<TSchemaRow> listed = pragma_rows(db, "table_list", table, {"wr"});
  return listed.empty() || listed.front()[0] != "1";
}

std::vector<std::string> firing_statements(sqlite3* db, const std::string& table) {
  const std::string target = "main." + quote_identifier(table);
  std::vector<std::string> columns, all;
  // Generated columns (hidden 2 and 3) cannot be set.
  for (const TSchemaRow& column : pragma_rows(db, "table_xinfo", table, {"name", "hidden"})) {
    all.push_back(column[0]);
    if (column[1] != "2" && column[1] != "3") columns.push_back(column[0]);
  }
  std::string names, values;
  for (const std::string& column : columns) {
    names += (names.empty() ? "" : ", ") + quote_identifier(column);
    values += values.empty() ? "NULL" : ", NULL";
  }
  std::string sets;
  for (const std::string& rowid : free_rowid_names(db, table, all)) columns.push_back(rowid);
  for (const std::string& column : columns)
    sets += (sets.empty() ? "" : ", ") + quote_identifier(column) + " = " + quote_identifier(column);
  if (names.empty()) return {"", "", "DELETE FROM " + target + ";"};
  return {"INSERT INTO " + target + " (" + names + ") VALUES (" + values + ");",
          "UPDATE " + target + " SET " + sets + ";", "DELETE FROM " + target + ";"};
}

// Asked of a connection of the same library to an empty database in memory,
// which knows the same functions and modules: a statement that fails for a
// name it cannot find has the connection read every attached file's schema
// again, which would wait on an import source that another connection holds.
// The name reads otherwise with virtual tables than without them.
bool names_table_function(const std::string& name) {
  TMemoryDatabase memory;
  const std::string sql = "SELECT 1 FROM main." + quote_identifier(name) + ";";
  return prepared(memory.Database(), sql, 0) != prepared(memory.Database(), sql, SQLITE_PREPARE_NO_VTAB);
}

TMemoryDatabase::TMemoryDatabase() {
  if (sqlite3_open_v2(":memory:", &FDB, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr) == SQLITE_OK) return;
  std::string reason = FDB != nullptr ? sqlite3_errmsg(FDB) : "out of memory";
  sqlite3_close(FDB);
  throw std::runtime_error(reason);
}
