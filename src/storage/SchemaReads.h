// The library's own reads of the metafile's schema, made through PRAGMA
// statements and the C API: a table-valued function such as
// pragma_table_info is a name in a FROM list, which a table of the file
// spelt the same takes over, while a PRAGMA statement names no table. Also
// the statements that fire a table's triggers, and the authorizer that notes
// what the database reads and writes while it prepares a statement.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

typedef std::vector<std::string> TSchemaRow;

// The named columns (NULL read as empty) of every row of a statement of the
// library's own, `parameters` bound to its parameters in order; throws
// std::runtime_error with the database's reason when it cannot be read.
std::vector<TSchemaRow> schema_rows(sqlite3* db, const std::string& sql, const std::vector<std::string>& parameters,
                                    const std::vector<const char*>& columns);

// "PRAGMA main.<pragma>('<argument>');", the argument quoted as a string.
std::string pragma_text(const char* pragma, const std::string& argument);

// The named columns (NULL read as empty) of every row of pragma_text's statement;
// throws std::runtime_error with the database's reason when it cannot be read.
std::vector<TSchemaRow> pragma_rows(sqlite3* db, const char* pragma, const std::string& argument,
                                    const std::vector<const char*>& columns);

// The names of the tables of the main database (views, indexes and triggers
// aside), in the order of their names, read by kMainTableNamesQuery; throws
// as pragma_rows does.
extern const char* const kMainTableNamesQuery;
std::vector<std::string> main_table_names(sqlite3* db);

// The names (rowid, oid, _rowid_) by which the rowid of the main database's
// table, whose columns (hidden ones too) are `columns`, can be set: those
// that no column takes, where the table has a rowid; none for a view or a
// table without rowid.
std::vector<std::string> free_rowid_names(sqlite3* db, const std::string& table,
                                          const std::vector<std::string>& columns);

// Whether the main database's table, whose columns are `columns`, has a
// rowid (is not declared WITHOUT ROWID): the C API finds it by any of its
// names that no column takes. Only when the columns take all three is the
// table list asked, which prepares every view whose columns it has not yet
// worked out. Throws as pragma_rows does.
bool has_rowid(sqlite3* db, const std::string& table, const std::vector<std::string>& columns);

// The statements of the main database's table (or view) that fire its
// triggers, in the order insert, update, delete: an INSERT of every column
// that can be set (no default is taken, so none decides whether it
// compiles), an UPDATE that sets those columns and the rowid by every free
// name (an UPDATE OF trigger compiles only when a name of its list is set),
// both empty when nothing can be set, and a DELETE.
std::vector<std::string> firing_statements(sqlite3* db, const std::string& table);

// Whether the database reads the name, in a FROM list where no table holds
// it, as one of its table-valued functions or eponymous virtual tables
// (json_each, pragma_table_list, ...): a table of that name would take the
// function's place in every view, trigger and statement that calls it.
// Throws std::runtime_error when it cannot be asked.
bool names_table_function(const std::string& name);

// A connection of the library's own to an empty database in memory, which
// knows the same functions and modules as the metafile's connection; closed
// when it goes. Throws std::runtime_error when it cannot be opened.
class TMemoryDatabase {
 public:
  TMemoryDatabase();
  ~TMemoryDatabase() { sqlite3_close(FDB); }
  TMemoryDatabase(const TMemoryDatabase&) = delete;
  TMemoryDatabase& operator=(const TMemoryDatabase&) = delete;

  sqlite3* Database() const { return FDB; }

 private:
  sqlite3* FDB = nullptr;
};

// Sets an authorizer on the connection for as long as the guard lives.
class TAuthorizerGuard {
 public:
  typedef int (*TAuthorizer)(void* owner, int action, const char* first, const char* second, const char* database,
                             const char* inner);
  TAuthorizerGuard(sqlite3* db, TAuthorizer authorize, void* owner) : FDB(db) {
    sqlite3_set_authorizer(FDB, authorize, owner);
  }
  ~TAuthorizerGuard() { sqlite3_set_authorizer(FDB, nullptr, nullptr); }
  TAuthorizerGuard(const TAuthorizerGuard&) = delete;
  TAuthorizerGuard& operator=(const TAuthorizerGuard&) = delete;

 private:
  sqlite3* FDB;
};
