// What an imported lookup table's source texts may make, and what its
// triggers would write, as the database itself reports while it prepares
// (never runs) statements: an import touches no control table.
#pragma once

#include <set>
#include <string>
#include <vector>

class TSQLDB;

// What a text of the source would make, write or read beyond the table
// `table`, an index or a trigger on it in the metafile, empty when nothing;
// `trigger` receives the name of the trigger it makes. A text that does not
// prepare at all is left for the run to refuse with the database's reason.
std::string definition_refusal(TSQLDB* db, const std::string& text, const std::string& table, std::string& trigger);

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
