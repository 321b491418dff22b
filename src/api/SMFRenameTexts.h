// Rewriting the stored CREATE texts of a lookup table, its indexes and its
// triggers for a new table name, by whole names: a keyword that happens to
// spell the old name is never taken for it.
#pragma once

#include <string>

// The names that a renamed or copied table's texts change: the table's own
// name, and the prefix that begins the names of its indexes (or triggers).
struct TRenamedNames {
  std::string OldName;
  std::string NewName;
  std::string OldPrefix;
  std::string NewPrefix;
};

// A CREATE TABLE, CREATE INDEX or CREATE TRIGGER text with the renamed
// table's name, bare, bracketed or quoted and letter case aside, replaced by
// the new name in brackets where it names a table: the table created and the
// table its own foreign keys refer to (REFERENCES), the table after ON, and
// the table that a trigger's UPDATE [OR ...], INSERT [OR ...] INTO, REPLACE
// INTO and DELETE FROM statements write. The old prefix is replaced by the
// new one inside the index's or trigger's own name as the database reads it,
// which is written back in the quotes it had.
std::string rename_schema_text(const std::string& text, const TRenamedNames& names);
