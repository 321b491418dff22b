// Rewriting the stored CREATE texts of a lookup table, its indexes and its
// triggers for a new table name, by whole names: a keyword that happens to
// spell the old name is never taken for it. Also whether a text names a table.
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

// True when the SQL text names the table, letter case aside, where a table's
// name stands (after FROM, JOIN, INTO or IN, in a FROM list, after "main.",
// before the "." of a column it qualifies, or as the table a trigger's
// statement writes), bare, quoted or as a string; a column or alias spelt like
// the table does not count.
bool text_names_table(const std::string& text, const std::string& tableName);
