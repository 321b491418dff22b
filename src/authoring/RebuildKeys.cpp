// The keys of a lookup table being rebuilt, the references of other tables
// and of its own to its rows, and the foreign-key settings of the connection
// meanwhile.
#include "authoring/RebuildKeys.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "storage/SQLDB.h"
#include "storage/SQLQuery.h"
#include "storage/SchemaReads.h"
#include "storage/Utility.h"

namespace {

using TRows = std::vector<std::vector<std::string>>;

const char* const kRowKey = "PKey";
const char* const kRowKeyValue = "p.[PKey]";
const char* const kLost = "FOREIGN KEY constraint failed";

const char* const kForeignKeys = "foreign_key_list";
const char* const kTableInfo = "table_info";
const char* const kIndexList = "index_list";
const char* const kIndexInfo = "index_xinfo";
const char* const kNameTaken = "SELECT count(*) FROM main.sqlite_master WHERE [name] = ? COLLATE NOCASE;";
// The name of an index that the rebuild makes for itself, and drops.
const char* const kOwnIndexName = "quelt rebuild index ";
// The names a table's rowid goes by, unless a column takes them.
const char* const kRowidNames[] = {"rowid", "_rowid_", "oid"};

int read_flag(void* flag, int columns, char** values, char**) {
  *static_cast<bool*>(flag) = columns > 0 && values[0] != nullptr && strcmp(values[0], "1") == 0;
  return 0;
}

bool pragma_flag(TSQLDB* db, const std::string& name) {
  bool on = false;
  db->Pragma(("PRAGMA " + name + ";").c_str(), &on, read_flag);
  return on;
}

void set_pragma_flag(TSQLDB* db, const std::string& name, bool on) {
  bool ignored = false;
  db->Pragma(("PRAGMA " + name + (on ? " = ON;" : " = OFF;")).c_str(), &ignored, read_flag);
}

// Runs a query, binding texts to its parameters when it has any: the columns
// of every row, or false with the database's reason.
bool query_rows(TSQLDB* db, const std::string& sql, const std::vector<std::string>& texts, TRows& rows,
                std::string& reason) {
  TSQLQuery query(db);
  try {
    query.SetSQLText(sql, !texts.empty());
    if (texts.empty()) {
      if (!query.SetIsActive(true)) throw std::runtime_error(query.LastErrorMessage());
    } else {
      query.PrepareParameterizedQuery();
      for (size_t i = 0; i < texts.size(); ++i) query.BindTextParameter(static_cast<int>(i) + 1, texts[i].c_str());
      query.OpenParameterizedQuery();
    }
    // A step that fails is a failure, never the end of the rows.
    while (!query.Eof()) {
      std::vector<std::string>& row = rows.emplace_back();
      for (int i = 0; i < query.ColCount(); ++i) row.push_back(query.GetFieldByNumber(i));
      if (!query.FetchNext() && !query.Eof()) throw std::runtime_error(query.LastErrorMessage());
    }
    return true;
  } catch (const std::runtime_error&) {
    reason = query.LastErrorMessage();
    return false;
  }
}

// The rows of one of the library's reads of the schema, as the named
// columns; false with the database's reason, `sql` naming the statement.
bool pragma_read(TSQLDB* db, const char* pragma, const std::string& argument, const std::vector<const char*>& columns,
                 TRows& rows, std::string& reason, std::string& sql) {
  sql = pragma_text(pragma, argument);
  try {
    rows = pragma_rows(db->Database(), pragma, argument, columns);
    return true;
  } catch (const std::runtime_error& e) {
    reason = e.what();
    return false;
  }
}

// The foreign keys of every table of the metafile (`child` empty; only
// those of `referrers` when given) or of that one, to the table `parent` (any
// table when empty), each row child, id, from, to, table and the ON DELETE
// action, in the order of the children's names, then of the keys and their columns.
bool foreign_keys(TSQLDB* db, const std::string& child, const std::string& parent, TRows& rows, std::string& reason,
                  std::string& sql, const std::vector<std::string>* referrers = nullptr) {
  std::vector<std::string> children{child};
  if (child.empty() && referrers != nullptr) {
    children = *referrers;
  } else if (child.empty()) {
    try {
      children = main_table_names(db->Database());
    } catch (const std::runtime_error& e) {
      sql = "SELECT [name] FROM [main].[sqlite_master] WHERE [type] = 'table' ORDER BY [name];";
      reason = e.what();
      return false;
    }
  }
  for (const std::string& name : children) {
    TRows keys;
    if (!pragma_read(db, kForeignKeys, name, {"id", "seq", "from", "to", "table", "on_delete"}, keys, reason, sql))
      return false;
    std::stable_sort(keys.begin(), keys.end(), [](const std::vector<std::string>& a, const std::vector<std::string>& b) {
      return std::make_pair(atoi(a[0].c_str()), atoi(a[1].c_str())) < std::make_pair(atoi(b[0].c_str()), atoi(b[1].c_str()));
    });
    for (const auto& key : keys)  // id, seq, from, to, table, on_delete
      if (parent.empty() || same_name(key[4], parent)) rows.push_back({name, key[0], key[2], key[3], key[4], key[5]});
  }
  return true;
}

// The columns of a table, each row name, position in the primary key (0
// when not in it) and declared type, those of the primary key last, in its order.
bool table_columns(TSQLDB* db, const std::string& table, TRows& rows, std::string& reason, std::string& sql) {
  if (!pragma_read(db, kTableInfo, table, {"name", "pk", "type"}, rows, reason, sql)) return false;
  std::stable_sort(rows.begin(), rows.end(), [](const std::vector<std::string>& a, const std::vector<std::string>& b) {
    return atoi(a[1].c_str()) < atoi(b[1].c_str());
  });
  return true;
}

// The collation a column was declared with (BINARY when none).
std::string declared_collation(TSQLDB* db, const std::string& table, const std::string& column) {
  const char* collation = nullptr;
  if (sqlite3_table_column_metadata(db->Database(), "main", table.c_str(), column.c_str(), nullptr, &collation,
                                    nullptr, nullptr, nullptr) != SQLITE_OK ||
      collation == nullptr)
    return "";
  return collation;
}

// Whether the database gives a column numeric affinity by its declared type.
bool numeric_affinity(TSQLDB* db, const std::string& table, const std::string& column) {
  const char* declared = nullptr;
  if (sqlite3_table_column_metadata(db->Database(), "main", table.c_str(), column.c_str(), &declared, nullptr,
                                    nullptr, nullptr, nullptr) != SQLITE_OK)
    return false;
  std::string type = uppercase_string(declared == nullptr ? "" : declared);
  auto has = [&type](const char* part) { return type.find(part) != std::string::npos; };
  return has("INT") || !(type.empty() || has("CHAR") || has("CLOB") || has("TEXT") || has("BLOB"));
}

// The database's own words for a reference it cannot check.
std::string mismatch(const TRebuildKeys::TReference& reference) {
  return "foreign key mismatch - \"" + stringReplace(reference.Child, "\"", "\"\"") + "\" referencing \"" +
         stringReplace(reference.Parent, "\"", "\"\"") + "\"";
}

// Columns of the referring row as one text that tells their values apart.
std::string quoted_values(const std::vector<std::string>& columns) {
  std::string values;
  for (size_t i = 0; i < columns.size(); ++i)
    values += (i == 0 ? "quote(c." : " || ',' || quote(c.") + quote_identifier(columns[i]) + ")";
  return values;
}

bool exec_sql(TSQLDB* db, const std::string& sql, std::string& reason) {
  TSQLQuery query(db);
  query.SetSQLText(sql, false);
  if (query.ExecOneSQL()) return true;
  reason = query.LastErrorMessage();
  return false;
}

// When a referring row c finds a row p of the table, compared as the database
// compares a foreign key: with the collation of the column (or of the index
// that checks it), and the column's affinity applied to the referring value
// (the unary plus takes the referring column's own away).
std::string join_condition(const TRebuildKeys::TReference& reference) {
  std::string on;
  for (size_t i = 0; i < reference.From.size(); ++i) {
    const TRebuildKeys::TKey& key = reference.Keys[i];
    on += (i == 0 ? "p." : " AND p.") + quote_identifier(key.Column) +
          (key.Collation.empty() ? "" : " COLLATE " + quote_identifier(key.Collation)) + " = +c." +
          quote_identifier(reference.From[i]);
  }
  return on;
}

// Which row of the table each referring row finds.
std::string found_select(const std::string& table, const TRebuildKeys::TReference& reference,
                         const std::string& rowKey, const std::string& tail = "") {
  return "SELECT " + reference.Row + ", " + rowKey + " FROM main." + quote_identifier(reference.Child) +
         " c JOIN main." + quote_identifier(table) + " p ON " + join_condition(reference) + tail;
}

// The first row of the snapshot that does not find the row of the same PKey
// now. Where every row it holds found a row that is no longer there to find
// (renumbered, or a column of the table's own gone), any row is one. A row
// told by its rowid is looked up by it, and one of the table's own, which
// no unique index need tell apart, must find that row alone; any other is
// compared with the whole of what the references find now.
std::string lost_statement(const std::string& table, const TRebuildKeys::TReference& reference, bool comparable) {
  const std::string& snapshot = reference.Snapshot;
  if (!comparable) return "SELECT 1 FROM " + snapshot + " LIMIT 1;";
  if (!reference.ByRowid)
    return "SELECT 1 FROM (SELECT [row], [pkey] FROM " + snapshot + " EXCEPT " +
           found_select(table, reference, kRowKeyValue) + ") LIMIT 1;";
  std::string same = " WHERE " + reference.Row + " = s.[row] AND p.[PKey] = s.[pkey]";
  std::string lost =
      "SELECT 1 FROM " + snapshot + " s WHERE NOT EXISTS (" + found_select(table, reference, "1", same) + ")";
  std::string own = "main." + quote_identifier(table);
  if (reference.Self)
    lost += " UNION ALL SELECT 1 FROM " + snapshot + " s JOIN " + own + " c ON " + reference.Row + " = s.[row] JOIN " +
            own + " p ON " + join_condition(reference) + " AND p.[PKey] <> s.[pkey]";
  return lost + " LIMIT 1;";
}

// The first row of the referring table that refers by every column and finds no row.
std::string unfound_select(const std::string& table, const TRebuildKeys::TReference& reference) {
  std::string referring;
  for (const std::string& from : reference.From) referring += "c." + quote_identifier(from) + " IS NOT NULL AND ";
  return "SELECT 1 FROM main." + quote_identifier(reference.Child) + " c WHERE " + referring +
         "NOT EXISTS (SELECT 1 FROM main." + quote_identifier(table) + " p WHERE " + join_condition(reference) +
         ") LIMIT 1;";
}

// Why a rebuild would harm the host's transaction.
std::string pending_refusal(const std::string& child, const std::string& parent) {
  return "A row of table [" + child + "] that refers to table [" + parent +
         "] finds no row while the host's transaction holds foreign key checks pending, which the rebuild would "
         "lose track of; restructure the table once they are resolved or committed";
}

}  // namespace

struct TRebuildKeys::TShape {
  struct TIndex {
    bool Primary = false;  // the index of a primary key that is not the row key
    bool Unique = false;   // unique, over the whole table
    bool Plain = true;     // over columns only, each with its declared collation
    std::vector<TKey> Columns;
  };
  std::string RowKey;  // the integer primary key's column; empty when none
  bool DeclaresKey = false;  // a primary key is declared
  std::vector<TIndex> Indexes;
  std::vector<std::string> Columns;
};

namespace {

bool has_column(const TRebuildKeys::TShape& shape, const std::string& name) {
  for (const std::string& column : shape.Columns)
    if (same_name(column, name)) return true;
  return false;
}

bool has_columns(const TRebuildKeys::TShape& shape, const std::vector<std::string>& names) {
  for (const std::string& name : names)
    if (!has_column(shape, name)) return false;
  return true;
}

bool has_columns(const TRebuildKeys::TShape& shape, const std::vector<TRebuildKeys::TKey>& keys) {
  for (const TRebuildKeys::TKey& key : keys)
    if (!has_column(shape, key.Column)) return false;
  return true;
}

// The columns that a reference the database cannot check names, compared as
// it would compare them if it could; empty when it names one that the table
// lacks, or none while the table declares a primary key. One that names no
// column of a table that declares none means its PKey, as it does once the
// rebuild has declared it.
std::vector<TRebuildKeys::TKey> named_columns(const TRebuildKeys::TShape& shape,
                                              const TRebuildKeys::TReference& reference) {
  if (reference.To.size() == 1 && reference.To[0].empty())
    return shape.DeclaresKey || !has_column(shape, kRowKey) ? std::vector<TRebuildKeys::TKey>{}
                                                            : std::vector<TRebuildKeys::TKey>{{kRowKey, ""}};
  std::vector<TRebuildKeys::TKey> keys;
  for (const std::string& to : reference.To) {
    if (to.empty() || !has_column(shape, to)) return {};
    keys.push_back({to, ""});
  }
  return keys;
}

// The columns of the table that a reference is checked against, paired with
// its own, as the database finds them: the integer primary key for one
// column naming it (or none), else the columns of the first unique index that
// match those named exactly (or the primary key's index, whatever its
// collations). Empty when the database cannot check the reference.
std::vector<TRebuildKeys::TKey> parent_columns(const TRebuildKeys::TShape& shape,
                                               const TRebuildKeys::TReference& reference) {
  bool primary = true;
  for (const std::string& to : reference.To) primary = primary && to.empty();
  size_t count = reference.From.size();
  if (count == 1 && !shape.RowKey.empty() && (primary || same_name(reference.To[0], shape.RowKey)))
    return {{shape.RowKey, ""}};
  for (const auto& index : shape.Indexes) {
    if (!index.Unique || index.Columns.size() != count) continue;
    if (primary) {
      if (index.Primary) return index.Columns;
      continue;
    }
    bool matches = index.Plain;
    for (const TRebuildKeys::TKey& column : index.Columns) {
      bool named = false;
      for (const std::string& to : reference.To) named = named || same_name(to, column.Column);
      matches = matches && named;
    }
    if (!matches) continue;
    std::vector<TRebuildKeys::TKey> keys;
    for (const std::string& to : reference.To) keys.push_back({to, ""});
    return keys;
  }
  return {};
}

}  // namespace

TRebuildKeys::TRebuildKeys(TSQLDB* db, bool rebuild) : FDB(db) {
  if (!rebuild) return;
  FDB->EndSharedRead();
  FEnforced = pragma_flag(FDB, "foreign_keys");
  FSwitchedOff = FEnforced && !FDB->InTransaction();
  if (FSwitchedOff) set_pragma_flag(FDB, "foreign_keys", false);
}

std::vector<std::string> TRebuildKeys::ReferredColumns() const {
  std::vector<std::string> columns;
  for (const TReference& reference : FReferences)
    if (!reference.Self && reference.To.size() == 1 && !reference.To[0].empty() && !same_name(reference.To[0], kRowKey))
      columns.push_back(reference.To[0]);
  return columns;
}

void TRebuildKeys::LimitReferrers(std::vector<std::string> tables) {
  FReferrers = std::move(tables);
  FReferrersKnown = true;
}

bool TRebuildKeys::Count(const std::string& table, std::string& reason, std::string& sql) {
  FTable = table;
  FReferences.clear();
  if (!read_row_keys(reason, sql)) return false;
  if (!FEnforced) return true;
  TShape shape;
  if (!read_references(reason, sql) || !read_shape(FTable, shape, reason, sql)) return false;
  for (size_t i = 0; i < FReferences.size(); ++i) {
    TReference& reference = FReferences[i];
    reference.Self = same_name(reference.Child, FTable);
    reference.Keys = parent_columns(shape, reference);
    reference.Checkable = !reference.Keys.empty();
    // Renumbered rows take from every reference the rows it found, whether
    // or not the database could check it.
    if (!reference.Checkable && !FRowKeys) reference.Keys = named_columns(shape, reference);
    if (!reference.Keys.empty() && (!read_row_identity(reference, reason, sql) || !take_snapshot(i, reason, sql)))
      return false;
  }
  return true;
}

bool TRebuildKeys::DeleteActions(const std::string& table, std::string& acting, std::string& reason,
                                 std::string& sql) {
  TRows rows;
  if (!foreign_keys(FDB, "", table, rows, reason, sql, FReferrersKnown ? &FReferrers : nullptr)) return false;
  // The table's own action reaches only its own old rows, which are copied before they go.
  acting.clear();
  for (const auto& row : rows)  // child, id, from, to, table, on_delete
    if (acting.empty() && !same_name(row[0], table) && row[5] != "NO ACTION" && row[5] != "RESTRICT") acting = row[0];
  return true;
}

// Under the host's own deferral the rebuild's changes are counted where the
// host's are, and nothing is forgotten; nor is anything while none is pending.
bool TRebuildKeys::Pending(std::string& pending, std::string& reason, std::string& sql) {
  pending.clear();
  int current = 0, highest = 0;
  if (!StayOn() || pragma_flag(FDB, "defer_foreign_keys") ||
      sqlite3_db_status(FDB->Database(), SQLITE_DBSTATUS_DEFERRED_FKS, &current, &highest, 0) != SQLITE_OK ||
      current == 0)
    return true;
  // The table's own rows go, and with them whatever their references left
  // pending; a reference that the database cannot check counts no row.
  std::vector<TReference> own;
  TRows rows;
  if (!foreign_keys(FDB, FTable, "", rows, reason, sql)) return false;
  group_references(rows, own);
  for (TReference& reference : own) {
    TShape parent;
    if (!read_shape(reference.Parent, parent, reason, sql)) return false;
    reference.Keys = parent_columns(parent, reference);
    if (!reference.Keys.empty() && !finds_none(reference.Parent, reference, pending, reason, sql)) return false;
    if (!pending.empty()) return true;
  }
  for (const TReference& reference : FReferences) {
    if (reference.Self || !reference.Checkable) continue;
    if (!finds_none(FTable, reference, pending, reason, sql)) return false;
    if (!pending.empty()) return true;
  }
  return true;
}

// Whether a row of the referring table refers to the table by every column
// and finds no row: the refusal that says so in pending.
bool TRebuildKeys::finds_none(const std::string& table, const TReference& reference, std::string& pending,
                              std::string& reason, std::string& sql) {
  TRows unfound;
  sql = unfound_select(table, reference);
  if (!query_rows(FDB, sql, {}, unfound, reason)) return false;
  if (!unfound.empty()) pending = pending_refusal(reference.Child, reference.Parent);
  return true;
}

bool TRebuildKeys::Kept(std::string& reason, std::string& sql) {
  if (!FEnforced) return true;
  bool kept = references_kept(reason, sql);
  // Inside the rebuild's own transaction, so that an undone rebuild takes
  // its snapshots and indexes with it; one that stays fails a rebuild that held.
  for (const TReference& reference : FReferences)
    if (!reference.Snapshot.empty())
      kept = drop_own("DROP TABLE IF EXISTS " + reference.Snapshot + ";", kept, reason, sql);
  for (const std::string& index : FOwnIndexes)
    kept = drop_own("DROP INDEX IF EXISTS main." + index + ";", kept, reason, sql);
  FOwnIndexes.clear();
  return kept;
}

// Runs a drop; whether the rebuild still holds, with the first failure's reason.
bool TRebuildKeys::drop_own(const std::string& drop, bool kept, std::string& reason, std::string& sql) {
  std::string dropReason;
  if (exec_sql(FDB, drop, dropReason) || !kept) return kept;
  reason = dropReason;
  sql = drop;
  return false;
}

bool TRebuildKeys::IndexReferringColumns(bool ownToo, std::string& reason, std::string& sql) {
  TShape shape;
  if (!StayOn() || !read_shape(FTable, shape, reason, sql)) return true;
  for (const TReference& reference : FReferences) {
    std::vector<std::string> collations;
    if (!reference.Checkable || (reference.Self && !ownToo) || !lookup_collations(shape, reference, collations) ||
        !index_serves(reference) || leads_an_index(reference.Child, reference.From[0], collations[0]))
      continue;
    std::string name = free_index_name(), columns;
    for (size_t i = 0; i < reference.From.size(); ++i)
      columns += (i == 0 ? "" : ", ") + quote_identifier(reference.From[i]) + " COLLATE " +
                 quote_identifier(collations[i]);
    if (name.empty()) continue;
    sql = "CREATE INDEX main." + name + " ON " + quote_identifier(reference.Child) + "(" + columns + ");";
    if (exec_sql(FDB, sql, reason))
      FOwnIndexes.push_back(name);
    else if (!FDB->InTransaction())
      return false;  // the database ended the host's transaction: nothing after may run outside it
  }
  return true;
}

// A lookup that compares a value of numeric affinity with a referring column
// that has none is numeric, which no index over that column can serve.
bool TRebuildKeys::index_serves(const TReference& reference) {
  return !numeric_affinity(FDB, FTable, reference.Keys[0].Column) ||
         numeric_affinity(FDB, reference.Child, reference.From[0]);
}

// The collation each referring column is compared with when the database
// looks for the rows that refer to a row of the table: that of the column it
// refers to, or its own where that is the table's row key; false when the
// table has no such column.
bool TRebuildKeys::lookup_collations(const TShape& shape, const TReference& reference,
                                     std::vector<std::string>& collations) {
  for (size_t i = 0; i < reference.Keys.size() && i < reference.From.size(); ++i) {
    const std::string& column = reference.Keys[i].Column;
    if (!has_column(shape, column)) return false;
    collations.push_back(same_name(column, shape.RowKey) ? declared_collation(FDB, reference.Child, reference.From[i])
                                                         : declared_collation(FDB, FTable, column));
    if (collations.back().empty()) return false;
  }
  return !collations.empty();
}

// The row key of a table, or the first column of one of its indexes, with
// that collation.
bool TRebuildKeys::leads_an_index(const std::string& table, const std::string& column, const std::string& collation) {
  TRows rows;
  TShape shape;
  std::string reason, sql;
  if (!read_shape(table, shape, reason, sql) || same_name(shape.RowKey, column)) return true;
  // The first key column of each whole-table index, with its collation.
  if (!pragma_read(FDB, kIndexList, table, {"name", "partial"}, rows, reason, sql)) return false;
  for (const auto& index : rows) {  // name, partial
    TRows columns;
    if (index[1] != "0") continue;
    if (!pragma_read(FDB, kIndexInfo, index[0], {"seqno", "name", "coll"}, columns, reason, sql)) return false;
    for (const auto& key : columns)  // seqno, column, collation
      if (key[0] == "0" && same_name(key[1], column) && same_name(key[2], collation)) return true;
  }
  return false;
}

// A name that no table, index, view or trigger of the metafile has (quoted);
// empty when none of those tried is free.
std::string TRebuildKeys::free_index_name() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = kOwnIndexName + std::to_string(attempt), reason;
    TRows taken;
    if (!query_rows(FDB, kNameTaken, {name}, taken, reason)) return "";
    if (!taken.empty() && taken[0][0] == "0") return quote_identifier(name);
  }
  return "";
}

// Every row that found a row must find the row of the same PKey. The table's
// own rows read the new columns of the same names: a referring column that
// the new definition leaves out took its reference with it, and a row finds
// nothing by a column that is gone.
bool TRebuildKeys::references_kept(std::string& reason, std::string& sql) {
  TShape shape;
  if (!read_shape(FTable, shape, reason, sql)) return false;
  for (TReference& reference : FReferences) {
    if (reference.Snapshot.empty() || (reference.Self && !has_columns(shape, reference.From))) continue;
    if (!still_checkable(shape, reference, reason, sql)) return false;
    bool comparable = FRowKeys && (!reference.Self || has_columns(shape, reference.Keys));
    TRows lost;
    sql = lost_statement(FTable, reference, comparable);
    if (!query_rows(FDB, sql, {}, lost, reason)) return false;
    if (lost.empty()) continue;
    sql = found_select(FTable, reference, kRowKeyValue) + ";";
    reason = kLost;
    return false;
  }
  return true;
}

// Another table's reference that the database could check must still be
// checkable, and is compared with what checks it now.
bool TRebuildKeys::still_checkable(const TShape& shape, TReference& reference, std::string& reason,
                                   std::string& sql) {
  if (reference.Self || !reference.Checkable) return true;
  std::vector<TKey> keys = parent_columns(shape, reference);
  if (!keys.empty()) {
    reference.Keys = keys;
    return true;
  }
  sql = found_select(FTable, reference, kRowKeyValue) + ";";
  reason = mismatch(reference);
  return false;
}

void TRebuildKeys::Defer() {
  if (!StayOn() || FDeferred) return;
  FHostDeferred = pragma_flag(FDB, "defer_foreign_keys");
  FDeferred = true;
  if (!FHostDeferred) set_pragma_flag(FDB, "defer_foreign_keys", true);
}

void TRebuildKeys::EndDeferral() {
  if (FDeferred && !FHostDeferred) set_pragma_flag(FDB, "defer_foreign_keys", false);
  FDeferred = false;
}

bool TRebuildKeys::Restore() {
  EndDeferral();
  if (!FSwitchedOff) return true;
  set_pragma_flag(FDB, "foreign_keys", true);
  FSwitchedOff = !pragma_flag(FDB, "foreign_keys");
  return !FSwitchedOff;
}

// Old keys that are distinct whole numbers are kept as they are.
bool TRebuildKeys::read_row_keys(std::string& reason, std::string& sql) {
  TRows rows;
  FRowKeys = false;
  if (!pragma_read(FDB, kTableInfo, FTable, {"name"}, rows, reason, sql)) return false;
  if (std::none_of(rows.begin(), rows.end(), [](const std::vector<std::string>& row) { return same_name(row[0], kRowKey); }))
    return true;
  std::string table = "main." + quote_identifier(FTable);
  sql = "SELECT (SELECT count(*) = count(DISTINCT [PKey]) FROM " + table + ") AND NOT EXISTS (SELECT 1 FROM " +
        table + " WHERE typeof([PKey]) <> 'integer');";
  rows.clear();
  if (!query_rows(FDB, sql, {}, rows, reason)) return false;
  FRowKeys = !rows.empty() && rows[0][0] == "1";
  return true;
}

bool TRebuildKeys::read_references(std::string& reason, std::string& sql) {
  TRows rows;
  if (!foreign_keys(FDB, "", FTable, rows, reason, sql, FReferrersKnown ? &FReferrers : nullptr)) return false;
  group_references(rows, FReferences);
  return true;
}

void TRebuildKeys::group_references(const std::vector<std::vector<std::string>>& rows,
                                    std::vector<TReference>& references) {
  std::string last;
  for (const auto& row : rows) {  // child, id, from, to, table
    std::string key = row[0] + '\n' + row[1];
    if (references.empty() || key != last) {
      references.emplace_back();
      references.back().Child = row[0];
      references.back().Parent = row[4];
    }
    last = key;
    references.back().From.push_back(row[2]);
    references.back().To.push_back(row[3]);
  }
}

// A referring row is told by its rowid, under whichever of its names no
// column takes; in a table without rowids by its primary key; where every
// name is taken, by the values it refers with.
bool TRebuildKeys::read_row_identity(TReference& reference, std::string& reason, std::string& sql) {
  // The table's own rows keep their PKeys, which tell them apart after.
  if (reference.Self && FRowKeys) {
    reference.Row = "c." + quote_identifier(kRowKey);
    reference.ByRowid = true;
    return true;
  }
  TRows every, columns;
  if (!pragma_read(FDB, "table_xinfo", reference.Child, {"name"}, every, reason, sql)) return false;
  std::vector<std::string> names;
  for (const auto& column : every) names.push_back(column[0]);
  bool withoutRowid = false;
  try {
    withoutRowid = !has_rowid(FDB->Database(), reference.Child, names);
  } catch (const std::runtime_error& e) {
    reason = e.what();
    sql = pragma_text("table_list", reference.Child);
    return false;
  }
  if (!table_columns(FDB, reference.Child, columns, reason, sql)) return false;
  std::vector<std::string> primaryKey;
  for (const auto& column : columns)  // name, position in the primary key
    if (column[1] != "0") primaryKey.push_back(column[0]);
  if (withoutRowid && !primaryKey.empty()) {
    reference.Row = quoted_values(primaryKey);
    return true;
  }
  for (const char* name : kRowidNames) {
    bool taken = false;
    for (const auto& column : columns) taken = taken || same_name(column[0], name);
    if (taken) continue;
    reference.Row = std::string("c.") + name;
    reference.ByRowid = true;
    return true;
  }
  reference.Row = quoted_values(reference.From);
  return true;
}

// Which row each referring row finds before the rebuild, kept in a table of
// the connection's own (its name is no lookup table's). Rows that cannot
// keep their keys found nothing that the rebuild keeps.
bool TRebuildKeys::take_snapshot(size_t index, std::string& reason, std::string& sql) {
  TReference& reference = FReferences[index];
  reference.Snapshot = "temp.[quelt rebuild found " + std::to_string(index) + "]";
  for (const std::string& statement :
       {"DROP TABLE IF EXISTS " + reference.Snapshot + ";", "CREATE TABLE " + reference.Snapshot + "([row], [pkey]);",
        // In the order of the rows, which the check then reads them in.
        "INSERT INTO " + reference.Snapshot + " " +
            found_select(FTable, reference, FRowKeys ? kRowKeyValue : "NULL", " ORDER BY 1") + ";"}) {
    sql = statement;
    if (!exec_sql(FDB, sql, reason)) return false;
  }
  return true;
}

bool TRebuildKeys::read_shape(const std::string& table, TShape& shape, std::string& reason, std::string& sql) {
  TRows names, keys, indexes;
  if (!table_columns(FDB, table, names, reason, sql)) return false;
  for (const auto& name : names) {  // name, position in the primary key, declared type
    shape.Columns.push_back(name[0]);
    if (name[1] != "0") keys.push_back({name[0], uppercase_string(name[2])});
  }
  if (!pragma_read(FDB, kIndexList, table, {"name", "unique", "partial", "origin"}, indexes, reason, sql)) return false;
  bool primaryIndex = false;
  for (const auto& row : indexes) {  // name, unique, partial, origin
    TShape::TIndex& index = shape.Indexes.emplace_back();
    index.Unique = row[1] == "1" && row[2] == "0";
    index.Primary = row[3] == "pk";
    primaryIndex = primaryIndex || index.Primary;
    if (!index.Unique) continue;
    TRows columns;
    if (!pragma_read(FDB, kIndexInfo, row[0], {"cid", "name", "coll", "key"}, columns, reason, sql)) return false;
    for (const auto& column : columns) {  // cid, name, collation, whether a key column
      if (column[3] != "1") continue;
      bool own = column[0][0] != '-' && same_name(column[2], declared_collation(FDB, table, column[1]));
      index.Plain = index.Plain && own;
      index.Columns.push_back({column[1], own ? "" : column[2]});
    }
  }
  // A primary key of one INTEGER column is the row key unless the database
  // made an index for it (declared DESC, or a table without row keys).
  if (keys.size() == 1 && keys[0][1] == "INTEGER" && !primaryIndex) shape.RowKey = keys[0][0];
  shape.DeclaresKey = !keys.empty();
  return true;
}
