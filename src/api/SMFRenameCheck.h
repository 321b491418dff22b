// Whether a lookup table may be renamed or copied, as the database itself
// resolves the views and triggers of the metafile: nothing is run, statements
// are only prepared, which makes SQLite resolve every name that they, and
// every view and trigger they reach, read or write. A view is tested by a
// SELECT * from it; the triggers on a table or view are compiled when a
// statement that fires them is prepared: an INSERT, an UPDATE of every column
// that can be set and of the rowid's names (an UPDATE OF trigger compiles only
// when a name of its list is set) and a DELETE. While the views and other
// tables' triggers are prepared before a rename, an authorizer notes every
// read and write of the table and the innermost view or trigger that makes it.
#pragma once

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

class TSQLDB;

// A test that could not be made for another reason than a name that the
// statement reads (the connection was interrupted, or out of memory, or a
// list could not be read); its text says so, with the database's reason.
class TRenameCheckFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A view or trigger that the change would break: its kind ("view" or
// "trigger"), its name as the file held it before the change, and the
// database's reason where the database gave one.
struct TBrokenObject {
  std::string Kind;
  std::string Name;
  std::string Reason;
};

class TRenameCheck {
 public:
  // Taken inside the change's write, before anything changes: which of the
  // table's own statements compile with its triggers.
  TRenameCheck(TSQLDB* db, const std::string& oldName);

  // Before a rename: the first view, by name, then the first trigger of
  // another table or view, by name, that reads or writes the table as the
  // database resolves it. A trigger that a broken trigger of its table keeps
  // from compiling is tested alone. Objects that do not compile for another
  // reason are not the rename's doing: they refuse nothing.
  bool FindReferrer(TBrokenObject& referrer);

  // After the table's triggers were re-made on `newName` (`remade` maps the
  // new name of each, lower-cased, to its old one), and after the old table
  // went when it is renamed: the first re-made trigger, by its old name, that
  // alone no longer compiles a statement that it compiled alone on the old
  // table.
  bool FindBroken(const std::string& newName, const std::map<std::string, std::string>& remade,
                  TBrokenObject& broken);

 private:
  // What a table's statements did: one bit for each that compiled (INSERT,
  // UPDATE, DELETE), and the database's reason for the first that did not.
  struct TOutcome {
    unsigned Compiled = 0;
    std::string Reasons[3];
  };

  bool compiles(const std::string& sql, std::string& reason);
  std::vector<std::string> names(const std::string& sql, const std::vector<std::string>& parameters);
  TOutcome table_outcome(const std::string& table);
  std::string update_of_every_column(const std::string& table);
  void exec(const std::string& sql);
  bool find_referring_view(TBrokenObject& referrer);
  bool find_referring_trigger(TBrokenObject& referrer);
  void test_triggers_alone(const std::string& table, const std::function<void(const std::string&)>& test);
  void note_access(const char* table, const char* inner);
  static int authorize(void* check, int action, const char* first, const char* second, const char* database,
                       const char* inner);

  TSQLDB* FDB;
  std::string FOldName;
  TOutcome FBefore;
  // Where the table's statements failed: what each of its triggers, by its
  // lower-cased name, compiled alone.
  std::map<std::string, unsigned> FBeforeAlone;
  // While a referrer is looked for, the views and triggers that read or write
  // the table, lower-cased.
  std::vector<std::string> FUsers;
  std::vector<std::string> FNoted;  // those of the statement being prepared
  // The views read by the statements that compiled, and by the one being prepared.
  std::vector<std::string> FReadViews;
  std::vector<std::string> FNotedViews;
  bool FWatching = false;
};
