// What an imported lookup table's source texts may make, what its triggers
// would write, and the names and foreign keys it must leave as they were, as
// the database itself reports while it prepares (never runs) statements and
// reads its catalogue: an import touches no control table, makes only what
// is new and breaks no reference.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

class TSQLDB;

// What a text of the source makes, as the database reports it while it
// prepares the text: its kind ("table", "index" or "trigger") and its name.
// Both are empty when it reports none: the database checks whether an index
// or trigger name is taken before it reports, so an IF NOT EXISTS over a
// taken name reports nothing.
struct TMade {
  std::string Kind;
  std::string Name;
};

// What a text of the source would make, write or read beyond the table
// `table`, an index or a trigger on it in the metafile, empty when nothing;
// `made` receives what it makes. A text that does not prepare at all is left
// for the run to refuse with the database's reason.
std::string definition_refusal(TSQLDB* db, const std::string& text, const std::string& table, TMade& made);

// The name under which a text of the source makes an index or a trigger of
// `table`, as the database reports it in an empty database of its own that
// holds only the table, made by `tableText`: no name is taken there, so no
// IF NOT EXISTS hides it. Empty when that database cannot tell.
std::string name_made_alone(const std::string& tableText, const std::string& text, const std::string& table);

// The read of what the metafile, or the temporary schema of its connection,
// holds under one name, letter case aside as the database compares names.
extern const char* const kHeldObjectQuery;
// What kHeldObjectQuery finds under `name`: its kind and its name as the
// catalogue spells them ("view \"VW\"", "temporary table \"t\""), empty
// when nothing. Throws std::runtime_error with the database's reason.
std::string held_object(TSQLDB* db, const std::string& name);

// The triggers of an imported table, made on it one after another and then
// tested together: the statements that fire them (an INSERT of every column,
// an UPDATE of every column and of the rowid, a DELETE) are compiled as a
// connection that lets triggers fire recursively would compile them, and the
// database's authorizer reports every table they write, however deep.
class TImportTriggers {
 public:
  TImportTriggers(TSQLDB* db, const std::string& table) : FDB(db), FTable(table) {}

  // Before any trigger is made: why the table's own statements could tell
  // nothing of its triggers (one does not compile); empty when they can.
  std::string TableRefusal();
  // A trigger just made from `text`, under `name`.
  void Made(const std::string& name, const std::string& text);
  // Once all are made: why they may not stay, empty when they may. A
  // statement would write a control table or does not compile (a trigger
  // that does not compile says nothing of what it would write once it does),
  // or a trigger fires on none of them (an UPDATE OF list that names no
  // column the table has). The trigger is named by testing each alone, for
  // which they are all dropped: the import must then be undone.
  std::string Refusal();

 private:
  struct TFiring {
    std::string Written;          // the first control table written
    std::string Failure;          // the database's reason for the first statement that failed
    std::set<std::string> Fired;  // the triggers compiled, lower-cased
  };
  TFiring fire();
  std::string refusal(const std::vector<std::string>& names);
  void exec(const std::string& sql);

  TSQLDB* FDB;
  std::string FTable;
  std::vector<std::string> FNames;
  std::vector<std::string> FTexts;
};

// Whether an import leaves a foreign key broken that was not broken before
// it. While no deferred check is pending on the connection before the
// import's first write, one pending after it is the import's. The count
// tells no more than that: the checks the host's transaction holds pending
// are not the import's, and a row the file held broken already, whose parent
// the import writes, takes one off the count. So the tables that each
// statement of the import would write (as the database reports while it
// prepares the statement: directly, through triggers however deep, or
// through foreign-key actions), and the tables whose rows refer to those,
// have their violations read before the statement first writes them, and
// again at the end.
class TForeignKeyWatch {
 public:
  // Before the import's first write.
  explicit TForeignKeyWatch(TSQLDB* db);

  // Before a statement of the import runs. Throws std::runtime_error with
  // the database's reason, `sql` naming the read that failed.
  void Watch(const std::string& statement, std::string& sql);
  // Once the import's statements have run. Throws as Watch does.
  bool Broken(std::string& sql);

 private:
  typedef std::map<std::vector<std::string>, int> TViolations;  // rowid, parent, key number: rows
  void watch_table(const std::string& table, std::string& sql);
  TViolations violations(const std::string& table, std::string& sql);
  void read_references(std::string& sql);

  TSQLDB* FDB;
  bool FPending;
  std::map<std::string, TViolations> FBefore;  // by lower-cased table name
  bool FReferencesRead = false;
  std::multimap<std::string, std::string> FReferring;  // lower-cased: parent, child
};
