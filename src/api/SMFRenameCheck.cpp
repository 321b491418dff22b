// Testing the views and triggers of a metafile against its schema, before and
// after a lookup table is renamed or copied, by preparing (never running)
// statements that read them.
#include "api/SMFRenameCheck.h"

#include <sqlite3.h>

#include <algorithm>

#include "storage/SQLDB.h"
#include "storage/Utility.h"

namespace {

const char* const kTrialSavePoint = "_RenameLookupTableCheck_";

// The statements of a table's triggers; a view's SELECT takes the first bit.
const unsigned kInsert = 1, kUpdate = 2, kDelete = 4, kAll = kInsert | kUpdate | kDelete;
const unsigned kSelect = kInsert;

std::string failure_text(sqlite3* db) {
  return std::string("Cannot test the views and triggers of the metafile: ") + sqlite3_errmsg(db);
}

// A statement fails as a statement, for a name it reads or a form it may not
// take, with SQLITE_ERROR; any other code says nothing about the schema.
bool is_schema_error(int rc) { return (rc & 0xff) == SQLITE_ERROR; }

// What a test changes stays inside a savepoint of its own, rolled back when
// the test is done; rolled back too when an exception passes, after which the
// change fails as a whole.
class TTrialSavePoint {
 public:
  explicit TTrialSavePoint(TSQLDB* db) : FDB(db) {
    if (!FDB->SavePoint(kTrialSavePoint)) throw TRenameCheckFailure(failure_text(FDB->Database()));
    FOpen = true;
  }
  ~TTrialSavePoint() {
    if (FOpen) undo();
  }
  TTrialSavePoint(const TTrialSavePoint&) = delete;
  TTrialSavePoint& operator=(const TTrialSavePoint&) = delete;

  // A trial that could not be undone must not be kept by the change.
  void Undo() {
    if (!undo()) throw TRenameCheckFailure(failure_text(FDB->Database()));
  }

 private:
  bool undo() {
    FOpen = false;
    bool undone = FDB->RollbackTo(kTrialSavePoint);
    return FDB->Release(kTrialSavePoint) && undone;
  }

  TSQLDB* FDB;
  bool FOpen = false;
};

std::string key(const std::string& name) { return lowercase_string(name); }

// The reason of the first statement of `bits` that did not compile.
std::string reason_of(const std::string (&reasons)[3], unsigned bits) {
  for (int i = 0; i < 3; ++i)
    if ((bits & (1u << i)) != 0) return reasons[i];
  return std::string();
}

const char* const kViews = "SELECT [name] FROM [main].[sqlite_master] WHERE [type] = 'view' ORDER BY [name];";
const char* const kViewColumns = "SELECT [name] FROM pragma_table_info(?1, 'main') ORDER BY [cid];";
// Generated columns (hidden 2 and 3) cannot be set.
const char* const kSettableColumns =
    "SELECT [name] FROM pragma_table_xinfo(?1, 'main') WHERE [hidden] NOT IN (2, 3) ORDER BY [cid];";
// The tables and views that have triggers, each once whatever the case its triggers name it in.
const char* const kTriggerTables =
    "SELECT min([tbl_name]) FROM [main].[sqlite_master] WHERE [type] = 'trigger' "
    "GROUP BY [tbl_name] COLLATE NOCASE ORDER BY 1;";
const char* const kTriggersOfTable =
    "SELECT [name] FROM [main].[sqlite_master] WHERE [type] = 'trigger' AND [tbl_name] = ?1 COLLATE NOCASE "
    "ORDER BY [name];";
const char* const kOtherTriggers =
    "SELECT [name] FROM [main].[sqlite_master] WHERE [type] = 'trigger' AND [name] <> ?1 ORDER BY [name];";

}  // namespace

TRenameCheck::TRenameCheck(TSQLDB* db, const std::string& oldName, bool everyObject)
    : FDB(db), FOldName(oldName), FEveryObject(everyObject) {
  if (everyObject) {
    for (const std::string& view : names(kViews, {})) {
      if (view_outcome(view).Compiled == 0) continue;
      FViews.push_back({view, names(kViewColumns, {view})});
    }
  }
  for (const std::string& table : names(kTriggerTables, {})) {
    if (!everyObject && key(table) != key(oldName)) continue;
    FTriggerTables.push_back({table, table_outcome(table)});
    // Where a statement failed already, each trigger tells for itself.
    if (FTriggerTables.back().Before.Compiled != kAll)
      for (const std::string& trigger : names(kTriggersOfTable, {table}))
        FAlone[key(trigger)] = alone_outcome(trigger, table).Compiled;
  }
}

bool TRenameCheck::FindBroken(const std::string& newName, const std::map<std::string, std::string>& remade,
                              TBrokenObject& broken) {
  return (FEveryObject && find_broken_view(broken)) || find_broken_trigger(newName, remade, broken);
}

// Views come first: a trigger that reads a broken view fails with it.
bool TRenameCheck::find_broken_view(TBrokenObject& broken) {
  std::vector<const TView*> failing;
  std::vector<std::string> reasons;
  for (const TView& view : FViews) {
    TOutcome now = view_outcome(view.Name);
    if (now.Compiled != 0) continue;
    failing.push_back(&view);
    reasons.push_back(now.Reasons[0]);
  }
  if (failing.empty()) return false;
  for (size_t i = 0; i < failing.size(); ++i) {
    std::vector<const TView*> others = failing;
    others.erase(others.begin() + static_cast<std::ptrdiff_t>(i));
    TOutcome alone = others.empty() ? TOutcome() : stood_in_outcome(*failing[i], others);
    if (alone.Compiled == 0) {
      broken = {"view", failing[i]->Name, others.empty() ? reasons[i] : alone.Reasons[0]};
      return true;
    }
  }
  // Every broken view reads a table that is gone, directly or through
  // another; a view whose columns no table could stand for ends here.
  broken = {"view", failing.front()->Name, reasons.front()};
  return true;
}

// The triggers of a table whose statements compiled before and no longer do,
// and those of a table where one failed already, are tested one by one, in
// the order of their names as the file held them.
bool TRenameCheck::find_broken_trigger(const std::string& newName, const std::map<std::string, std::string>& remade,
                                       TBrokenObject& broken) {
  std::vector<TCandidate> candidates;
  TBrokenObject failedTable;
  for (const TTriggerTable& table : FTriggerTables) {
    // The old table's triggers now sit on the new table.
    const std::string now = key(table.Name) == key(FOldName) ? newName : table.Name;
    const bool whole = table.Before.Compiled == kAll;
    TOutcome after;
    if (whole) {
      after = table_outcome(now);
      if (after.Compiled == kAll) continue;
    }
    size_t first = candidates.size();
    for (const std::string& trigger : names(kTriggersOfTable, {now})) {
      auto found = remade.find(key(trigger));
      std::string oldName = found != remade.end() ? found->second : trigger;
      auto alone = FAlone.find(key(oldName));
      unsigned before = whole ? kAll : alone != FAlone.end() ? alone->second : 0;
      candidates.push_back({oldName, trigger, now, before});
    }
    if (whole && failedTable.Name.empty() && candidates.size() > first) {
      auto least = std::min_element(candidates.begin() + static_cast<std::ptrdiff_t>(first), candidates.end(),
                                    [](const TCandidate& a, const TCandidate& b) { return a.OldName < b.OldName; });
      failedTable = {"trigger", least->OldName, reason_of(after.Reasons, kAll & ~after.Compiled)};
    }
  }
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const TCandidate& a, const TCandidate& b) { return a.OldName < b.OldName; });
  for (const TCandidate& candidate : candidates) {
    if (candidate.Before == 0) continue;
    TOutcome alone = alone_outcome(candidate.Name, candidate.Table);
    unsigned lost = candidate.Before & ~alone.Compiled;
    if (lost == 0) continue;
    broken = {"trigger", candidate.OldName, reason_of(alone.Reasons, lost)};
    return true;
  }
  // A table's statements fail only where one of the triggers they compile
  // fails alone; should none, the table's first trigger is named.
  if (failedTable.Name.empty()) return false;
  broken = failedTable;
  return true;
}

bool TRenameCheck::compiles(const std::string& sql, std::string& reason) {
  sqlite3* db = FDB->Database();
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_finalize(statement);
    return true;
  }
  if (!is_schema_error(rc)) throw TRenameCheckFailure(failure_text(db));
  reason = sqlite3_errmsg(db);
  return false;
}

// The rows of a select of the check's own, its parameters bound. A select
// that fails as a statement answers false with the reason when `reason` is
// given; any other failure throws.
bool TRenameCheck::read_rows(const std::string& sql, const std::vector<std::string>& parameters, int columns,
                             std::vector<std::vector<std::string>>& rows, std::string* reason) {
  sqlite3* db = FDB->Database();
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
  for (size_t i = 0; rc == SQLITE_OK && i < parameters.size(); ++i)
    rc = sqlite3_bind_text(statement, static_cast<int>(i + 1), parameters[i].data(),
                           static_cast<int>(parameters[i].size()), SQLITE_TRANSIENT);
  rows.clear();
  while (rc == SQLITE_OK && (rc = sqlite3_step(statement)) == SQLITE_ROW) {
    rows.emplace_back();
    for (int i = 0; i < columns; ++i) {
      const unsigned char* text = sqlite3_column_text(statement, i);
      rows.back().push_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
    }
    rc = SQLITE_OK;
  }
  bool read = rc == SQLITE_DONE;
  if (!read && (reason == nullptr || !is_schema_error(rc))) {
    std::string failure = failure_text(db);
    sqlite3_finalize(statement);
    throw TRenameCheckFailure(failure);
  }
  if (!read) *reason = sqlite3_errmsg(db);
  sqlite3_finalize(statement);
  return read;
}

std::vector<std::string> TRenameCheck::names(const std::string& sql, const std::vector<std::string>& parameters) {
  std::vector<std::vector<std::string>> rows;
  read_rows(sql, parameters, 1, rows, nullptr);
  std::vector<std::string> result;
  for (const auto& row : rows) result.push_back(row.front());
  return result;
}

TRenameCheck::TOutcome TRenameCheck::view_outcome(const std::string& view) {
  TOutcome outcome;
  if (compiles("SELECT * FROM main." + quote_identifier(view) + ";", outcome.Reasons[0])) outcome.Compiled = kSelect;
  return outcome;
}

// An INSERT, an UPDATE that sets every column that can be set, and a DELETE.
TRenameCheck::TOutcome TRenameCheck::table_outcome(const std::string& table) {
  TOutcome outcome;
  const std::string target = "main." + quote_identifier(table);
  auto test = [&](unsigned bit, int at, const std::string& sql) {
    if (compiles(sql, outcome.Reasons[at])) outcome.Compiled |= bit;
  };
  test(kInsert, 0, "INSERT INTO " + target + " DEFAULT VALUES;");
  std::vector<std::vector<std::string>> columns;
  if (read_rows(kSettableColumns, {table}, 1, columns, &outcome.Reasons[1])) {
    std::string sets;
    for (const auto& column : columns)
      sets += (sets.empty() ? "" : ", ") + quote_identifier(column.front()) + " = " + quote_identifier(column.front());
    if (!sets.empty())
      test(kUpdate, 1, "UPDATE " + target + " SET " + sets + ";");
    else
      outcome.Reasons[1] = "no column of \"" + table + "\" can be set";
  }
  test(kDelete, 2, "DELETE FROM " + target + ";");
  return outcome;
}

// The table's statements with no other trigger of the schema left.
TRenameCheck::TOutcome TRenameCheck::alone_outcome(const std::string& trigger, const std::string& table) {
  TTrialSavePoint trial(FDB);
  for (const std::string& other : names(kOtherTriggers, {trigger}))
    if (!exec("DROP TRIGGER main." + quote_identifier(other) + ";"))
      throw TRenameCheckFailure(failure_text(FDB->Database()));
  TOutcome outcome = table_outcome(table);
  trial.Undo();
  return outcome;
}

// The view read with every other view of `others` replaced by a table of its
// columns. A view that no table can stand for leaves the test undecided,
// which counts as the view compiling.
TRenameCheck::TOutcome TRenameCheck::stood_in_outcome(const TView& view, const std::vector<const TView*>& others) {
  TTrialSavePoint trial(FDB);
  bool stood = true;
  for (const TView* other : others) {
    std::string columns;
    for (const std::string& column : other->Columns)
      columns += (columns.empty() ? "" : ", ") + quote_identifier(column);
    const std::string name = "main." + quote_identifier(other->Name);
    stood = stood && exec("DROP VIEW " + name + ";") && exec("CREATE TABLE " + name + "(" + columns + ");");
  }
  TOutcome outcome;
  if (stood)
    outcome = view_outcome(view.Name);
  else
    outcome.Compiled = kSelect;
  trial.Undo();
  return outcome;
}

// Runs one statement of the check's own; false when it fails as a statement.
bool TRenameCheck::exec(const std::string& sql) {
  sqlite3* db = FDB->Database();
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(statement);
  bool done = rc == SQLITE_DONE;
  std::string failure = done ? std::string() : failure_text(db);
  sqlite3_finalize(statement);
  if (!done && !is_schema_error(rc)) throw TRenameCheckFailure(failure);
  return done;
}
