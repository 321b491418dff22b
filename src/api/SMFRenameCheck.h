// Whether the views and triggers of a metafile still work once a lookup table
// has been renamed or copied, as the database itself reads them: nothing is
// run, a statement is only prepared, which makes SQLite resolve every name
// that it, and every view and trigger it reaches, reads. A view is tested by
// a SELECT * from it; the triggers on a table or view are compiled when a
// statement that fires them is prepared: an INSERT, an UPDATE of every column
// that can be set (an UPDATE OF trigger compiles only when its columns are
// set) and a DELETE.
#pragma once

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

// A view or trigger that worked before the change and no longer does: its
// kind ("view" or "trigger"), its name as the file held it before the change,
// and the database's reason.
struct TBrokenObject {
  std::string Kind;
  std::string Name;
  std::string Reason;
};

class TRenameCheck {
 public:
  // Tests, before the change and inside its write, which views and which
  // triggers work: every view and every table's triggers when `everyObject`
  // holds (a rename), else only the triggers of table `oldName` (a copy).
  // Where a table's statements fail already, each of its triggers is tested
  // alone as well. Objects that do not work already are not the change's
  // doing: they refuse nothing. Throws TRenameCheckFailure when a test cannot
  // be made, as FindBroken does.
  TRenameCheck(TSQLDB* db, const std::string& oldName, bool everyObject);

  // After the change, in which the old table's triggers were re-made on
  // `newName` under the names that `remade` maps (lower-cased) to their old
  // names: true, with `broken` filled, when a view or trigger that worked
  // before no longer does. A view is named only when it fails with every
  // other view that the change broke stood in for by a table of its columns
  // (a view that reads a broken view is not taken for the one that names the
  // table); a trigger only when it fails alone, every other trigger of the
  // schema dropped (a trigger that fires a broken one is not taken for it).
  // Both tests run inside a savepoint of their own that is rolled back.
  bool FindBroken(const std::string& newName, const std::map<std::string, std::string>& remade,
                  TBrokenObject& broken);

 private:
  // What a test prepared: one bit for each statement that compiled (INSERT,
  // UPDATE, DELETE; a view's SELECT takes the first), and at the same place
  // the database's reason for each one that did not.
  struct TOutcome {
    unsigned Compiled = 0;
    std::string Reasons[3];
  };
  struct TView {
    std::string Name;
    std::vector<std::string> Columns;
  };
  struct TTriggerTable {
    std::string Name;
    TOutcome Before;
  };
  struct TCandidate {
    std::string OldName;
    std::string Name;
    std::string Table;
    unsigned Before;
  };

  bool compiles(const std::string& sql, std::string& reason);
  bool read_rows(const std::string& sql, const std::vector<std::string>& parameters, int columns,
                 std::vector<std::vector<std::string>>& rows, std::string* reason);
  std::vector<std::string> names(const std::string& sql, const std::vector<std::string>& parameters);
  TOutcome view_outcome(const std::string& view);
  TOutcome table_outcome(const std::string& table);
  TOutcome alone_outcome(const std::string& trigger, const std::string& table);
  TOutcome stood_in_outcome(const TView& view, const std::vector<const TView*>& others);
  bool exec(const std::string& sql);
  bool find_broken_view(TBrokenObject& broken);
  bool find_broken_trigger(const std::string& newName, const std::map<std::string, std::string>& remade,
                           TBrokenObject& broken);

  TSQLDB* FDB;
  std::string FOldName;
  bool FEveryObject;
  std::vector<TView> FViews;                  // the views that worked, by name
  std::vector<TTriggerTable> FTriggerTables;  // the tables and views that have triggers
  // What each trigger (lower-cased name) compiled alone, where its table's statements failed.
  std::map<std::string, unsigned> FAlone;
};
