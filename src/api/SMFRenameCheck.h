// Whether a lookup table may be renamed or copied, as the database itself
// reads the views and triggers of the metafile: nothing is run, statements
// are only prepared, which makes SQLite resolve every name that they, and
// every view and trigger they reach, read or write. A view is tested by a
// SELECT * from it; the triggers on a table or view are compiled when a
// statement that fires them is prepared: an INSERT, an UPDATE of every column
// that can be set and of the rowid's names (an UPDATE OF trigger compiles only
// when a name of its list is set) and a DELETE. What compiled before the
// change and no longer does after it is what the change would break.
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
// database's reason.
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
  // doing: they refuse nothing.
  TRenameCheck(TSQLDB* db, const std::string& oldName, bool everyObject);

  // After the change, in which the old table's triggers were re-made on
  // `newName` under the names that `remade` maps (lower-cased) to their old
  // names: true, with `broken` filled, when a view or trigger that worked
  // before no longer does. The view named reads none of the other views that
  // broke; the trigger named fails alone on its table, and still fails when
  // the other triggers that fail alone are gone (a trigger that fires a
  // broken one is not taken for it). The change must then be undone: what
  // the naming drops is not made again.
  bool FindBroken(const std::string& newName, const std::map<std::string, std::string>& remade,
                  TBrokenObject& broken);

 private:
  // What a table's statements did: one bit for each that compiled (INSERT,
  // UPDATE, DELETE; a view's SELECT takes the first), one for each that a
  // view's triggers never make possible, and at the same place the
  // database's reason for each one that did not compile.
  struct TOutcome {
    unsigned Compiled = 0;
    unsigned Impossible = 0;
    std::string Reasons[3];
    static constexpr unsigned kEvery = 7;
    // Nothing that the triggers make possible failed.
    bool Whole() const { return (Compiled | Impossible) == kEvery; }
  };
  struct TView {
    std::string Name;
    std::vector<std::string> Read;  // the views its SELECT reads, lower-cased
  };
  struct TTrigger {
    std::string Name;
    std::string Text;
  };
  struct TTriggerTable {
    std::string Name;
    std::vector<TTrigger> Triggers;  // in the order they were made, which is the order they fire in
    TOutcome Before;
  };
  // A trigger that fails alone after the change: its name now and before,
  // its table now, its text, and the statements it lost.
  struct TCandidate {
    std::string Name;
    std::string OldName;
    std::string Table;
    std::string Text;
    unsigned Lost;
    std::string Reason;
  };

  bool compiles(const std::string& sql, std::string& reason);
  std::vector<std::string> names(const std::string& sql, const std::vector<std::string>& parameters);
  TOutcome view_outcome(const std::string& view);
  TOutcome table_outcome(const std::string& table);
  void exec(const std::string& sql);
  std::vector<TTriggerTable> trigger_tables();
  std::vector<TTrigger> triggers_of(const std::string& table);
  void test_triggers_alone(const std::string& table, const std::vector<TTrigger>& triggers,
                           const TOutcome& together,
                           const std::function<void(const TTrigger& trigger, const TOutcome& alone)>& test);
  bool find_broken_view(TBrokenObject& broken);
  bool find_broken_trigger(const std::string& newName, const std::map<std::string, std::string>& remade,
                           TBrokenObject& broken);
  std::vector<TCandidate> failing_alone(const std::string& table, const std::vector<TTrigger>& triggers,
                                        unsigned before, const TOutcome& after,
                                        const std::map<std::string, std::string>& remade);
  static int authorize(void* check, int action, const char* first, const char* second, const char* database,
                       const char* inner);

  TSQLDB* FDB;
  std::string FOldName;
  std::vector<TView> FViews;                  // the views that worked, by name
  std::vector<TTriggerTable> FTriggerTables;  // the tables and views that have triggers
  // What each trigger (lower-cased name) compiled alone, where its table's statements failed.
  std::map<std::string, unsigned> FAlone;
  // The views that the view being prepared reads, as the database reports them.
  std::vector<std::string> FReadViews;
};
