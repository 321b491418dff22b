// The keys of a lookup table being rebuilt and the references that rows of
// other tables, and of the table itself, hold to them: which rows keep their
// keys, which row each reference finds before and after, and the foreign-key
// settings of the connection while the table is away.
#pragma once

#include <string>
#include <vector>

class TSQLDB;

// Dropping the old table would run the ON DELETE actions of the rows that
// refer to it, and would fail on them: so outside a transaction foreign keys
// are switched off for the rebuild, and inside one (where they cannot be)
// their checks are deferred until the rows are back. Either way every row of
// another table that found a row before must find the row of the same PKey
// after, as must the table's own rows through its new columns of the same
// names, and the connection's settings are restored at the end.
class TRebuildKeys {
 public:
  // Nothing is changed unless a table is rebuilt.
  TRebuildKeys(TSQLDB* db, bool rebuild);
  ~TRebuildKeys() { Restore(); }
  TRebuildKeys(const TRebuildKeys&) = delete;
  TRebuildKeys& operator=(const TRebuildKeys&) = delete;

  // Whether foreign keys stay enforced during the rebuild (inside a transaction).
  bool StayOn() const { return FEnforced && !FSwitchedOff; }
  // Whether the rows keep their PKeys: the old values are distinct whole numbers.
  bool KeepsRowKeys() const { return FRowKeys; }
  // The columns of the table other than PKey that rows of other tables
  // refer to one by one (the new table declares no reference of its own).
  // While foreign keys stay enforced the database checks them through a
  // unique index as each row arrives, so the new table's unique indexes over
  // them must exist before the rows come back.
  std::vector<std::string> ReferredColumns() const;
  // Only these tables, in the order of their names, have foreign keys, as
  // the table model, which follows the file, read them; until this is said,
  // every table of the file is asked, which costs a search of the schema for each.
  void LimitReferrers(std::vector<std::string> tables);
  // Reads what the table holds before the rebuild; false with the reason
  // and the statement that failed.
  bool Count(const std::string& table, std::string& reason, std::string& sql);
  // The first table whose rows refer to the table with an ON DELETE action
  // (empty when none); false with the reason and the statement that failed.
  bool DeleteActions(const std::string& table, std::string& acting, std::string& reason, std::string& sql);
  // Why the rebuild would harm the host's transaction (empty when it would
  // not): switching deferral off forgets what the rebuild settled of the
  // checks the host's own writes left pending, so a reference to or from the
  // table that finds no row while checks are pending cannot be rebuilt under.
  // False with the reason and the statement that failed.
  bool Pending(std::string& pending, std::string& reason, std::string& sql);
  // Whether every reference that found a row before finds the same row;
  // false with the reason ("FOREIGN KEY constraint failed", or why the
  // reference can no longer be checked) and the check's statement. The
  // rebuild's own tables and indexes are gone after it.
  bool Kept(std::string& reason, std::string& sql);
  // While foreign keys stay enforced, every row of the table that is dropped
  // or written has the database look up the rows that refer to it: a
  // referring column that no index covers under the collation the lookup
  // compares with gets an index of the rebuild's own, which Kept drops, so
  // that the rebuild does not grow with the square of the rows (where the
  // lookup can use one). The table's own references need one only while the
  // old table stands. An index that cannot be made leaves the lookups slow,
  // unless its failure ended the host's transaction: false then, with the
  // reason and the statement.
  bool IndexReferringColumns(bool ownToo, std::string& reason, std::string& sql);
  // The checks wait until EndDeferral.
  void Defer();
  // Gives back the host's setting; switching deferral off forgets the checks
  // still pending, so this comes once the rows are back or the rebuild undone.
  void EndDeferral();
  // The connection's settings as they were; false when foreign keys cannot be
  // switched on again (a transaction that could not be undone is still open).
  bool Restore();

  // The columns, primary key and indexes of a table, as far as they decide
  // which of its columns a reference can be checked against.
  struct TShape;
  // A column of the table that references are checked against, with the
  // collation of the index that checks it where that is not the column's own.
  struct TKey {
    std::string Column;
    std::string Collation;
  };
  // One foreign key to the table: its columns, paired in order, and the
  // parent columns named (all empty: the primary key).
  struct TReference {
    std::string Child;
    bool Self = false;  // the table's own reference, which its new definition does not declare
    bool Checkable = false;  // the database could check it before the rebuild
    std::string Parent;  // the table as the reference names it
    std::vector<std::string> From;
    std::vector<std::string> To;
    std::string Row;  // the expression that tells one referring row from another
    bool ByRowid = false;  // Row is the referring row's rowid
    std::vector<TKey> Keys;  // what it was checked, or compared, against
    // The table of the rows that found one before, with the PKey found;
    // empty when there is nothing to keep: the database could not check the
    // reference and the rows keep their keys, or it names no column to compare.
    std::string Snapshot;
  };

 private:
  bool read_references(std::string& reason, std::string& sql);
  bool read_row_identity(TReference& reference, std::string& reason, std::string& sql);
  bool take_snapshot(size_t index, std::string& reason, std::string& sql);
  bool references_kept(std::string& reason, std::string& sql);
  bool still_checkable(const TShape& shape, TReference& reference, std::string& reason, std::string& sql);
  bool read_shape(const std::string& table, TShape& shape, std::string& reason, std::string& sql);
  static void group_references(const std::vector<std::vector<std::string>>& rows,
                               std::vector<TReference>& references);
  bool finds_none(const std::string& table, const TReference& reference, std::string& pending, std::string& reason,
                  std::string& sql);
  bool read_row_keys(std::string& reason, std::string& sql);
  bool lookup_collations(const TShape& shape, const TReference& reference, std::vector<std::string>& collations);
  bool index_serves(const TReference& reference);
  bool leads_an_index(const std::string& table, const std::string& column, const std::string& collation);
  std::string free_index_name();
  bool drop_own(const std::string& drop, bool kept, std::string& reason, std::string& sql);

  TSQLDB* FDB;
  bool FReferrersKnown = false;
  std::vector<std::string> FReferrers;  // in the order of their names, when known
  std::string FTable;
  bool FEnforced = false;
  bool FSwitchedOff = false;
  bool FDeferred = false;
  bool FHostDeferred = false;
  bool FRowKeys = false;
  std::vector<TReference> FReferences;
  std::vector<std::string> FOwnIndexes;  // quoted names
};
