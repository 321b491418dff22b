// Testing a lookup table's rename or copy against the views and triggers of
// the metafile by preparing (never running) statements that read them,
// before the change and after it.
#include "api/SMFRenameCheck.h"

#include <sqlite3.h>

#include <algorithm>

#include "storage/SQLDB.h"
#include "storage/Utility.h"

namespace {

// The statements of a table's triggers, one bit each.
const unsigned kInsert = 1, kUpdate = 2, kDelete = 4, kAll = kInsert | kUpdate | kDelete;

std::string failure_text(sqlite3* db) {
  return std::string("Cannot test the views and triggers of the metafile: ") + sqlite3_errmsg(db);
}

// A statement fails as a statement, for a name it reads or a form it may not
// take, with SQLITE_ERROR; any other code says nothing about the schema.
bool is_schema_error(int rc) { return (rc & 0xff) == SQLITE_ERROR; }

// The reason of the first statement of `bits` that did not compile.
std::string reason_of(const std::string (&reasons)[3], unsigned bits) {
  for (int i = 0; i < 3; ++i)
    if ((bits & (1u << i)) != 0) return reasons[i];
  return std::string();
}

bool same_name(const std::string& a, const std::string& b) { return lowercase_string(a) == lowercase_string(b); }

// The authorizer that notes accesses, set for as long as the guard lives.
class TAuthorizerGuard {
 public:
  TAuthorizerGuard(sqlite3* db, int (*authorize)(void*, int, const char*, const char*, const char*, const char*),
                   void* owner)
      : FDB(db) {
    sqlite3_set_authorizer(FDB, authorize, owner);
  }
  ~TAuthorizerGuard() { sqlite3_set_authorizer(FDB, nullptr, nullptr); }
  TAuthorizerGuard(const TAuthorizerGuard&) = delete;
  TAuthorizerGuard& operator=(const TAuthorizerGuard&) = delete;

 private:
  sqlite3* FDB;
};

const char* const kViews = "SELECT [name] FROM [main].[sqlite_master] WHERE [type] = 'view' ORDER BY [name];";
// The tables and views that have triggers, each once whatever the case its triggers name it in.
const char* const kTriggerTables =
    "SELECT min([tbl_name]) FROM [main].[sqlite_master] WHERE [type] = 'trigger' "
    "GROUP BY [tbl_name] COLLATE NOCASE ORDER BY 1;";
// In the order they were made, which is the order they fire in.
const char* const kTriggersOfTable =
    "SELECT [name], [sql] FROM [main].[sqlite_master] WHERE [type] = 'trigger' AND [tbl_name] = ?1 COLLATE NOCASE "
    "ORDER BY [rowid];";
// A table of the main database that has a rowid (not a view, not WITHOUT ROWID).
const char* const kHasRowid =
    "SELECT 1 FROM pragma_table_list WHERE [schema] = 'main' AND [name] = ?1 COLLATE NOCASE AND [type] = 'table' "
    "AND [wr] = 0;";
// Generated columns (hidden 2 and 3) cannot be set.
const char* const kSettableColumns =
    "SELECT [name] FROM pragma_table_xinfo(?1, 'main') WHERE [hidden] NOT IN (2, 3) ORDER BY [cid];";
const char* const kAllColumns = "SELECT [name] FROM pragma_table_xinfo(?1, 'main');";
// A trigger's UPDATE OF list may name the rowid by any of its names.
const char* const kRowidNames[] = {"rowid", "oid", "_rowid_"};

// The rows of a select of the check's own, its parameters bound, each of
// its first `columns` columns; any failure throws.
std::vector<std::vector<std::string>> read_rows(sqlite3* db, const std::string& sql,
                                                const std::vector<std::string>& parameters, int columns) {
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
  for (size_t i = 0; rc == SQLITE_OK && i < parameters.size(); ++i)
    rc = sqlite3_bind_text(statement, static_cast<int>(i + 1), parameters[i].data(),
                           static_cast<int>(parameters[i].size()), SQLITE_TRANSIENT);
  std::vector<std::vector<std::string>> rows;
  while (rc == SQLITE_OK && (rc = sqlite3_step(statement)) == SQLITE_ROW) {
    rows.emplace_back();
    for (int i = 0; i < columns; ++i) {
      const unsigned char* text = sqlite3_column_text(statement, i);
      rows.back().push_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
    }
    rc = SQLITE_OK;
  }
  std::string failure = rc == SQLITE_DONE ? std::string() : failure_text(db);
  sqlite3_finalize(statement);
  if (!failure.empty()) throw TRenameCheckFailure(failure);
  return rows;
}

}  // namespace

TRenameCheck::TRenameCheck(TSQLDB* db, const std::string& oldName, bool everyObject)
    : FDB(db), FOldName(oldName) {
  if (everyObject) {
    TAuthorizerGuard guard(FDB->Database(), authorize, this);
    for (const std::string& view : names(kViews, {})) {
      FReadViews.clear();
      if (view_outcome(view).Compiled != 0) FViews.push_back({view, FReadViews});
    }
  }
  for (const std::string& table : names(kTriggerTables, {})) {
    if (!everyObject && !same_name(table, oldName)) continue;
    FTriggerTables.push_back({table, table_outcome(table)});
    // Where a statement failed already, each trigger tells for itself.
    if (FTriggerTables.back().Before.Compiled != kAll)
      test_triggers_alone(table, [this, &table](const std::string& name, const std::string&) {
        FAlone[lowercase_string(name)] = table_outcome(table).Compiled;
      });
  }
}

bool TRenameCheck::FindBroken(const std::string& newName, const std::map<std::string, std::string>& remade,
                              TBrokenObject& broken) {
  return find_broken_view(broken) || find_broken_trigger(newName, remade, broken);
}

// Views come first: a trigger that reads a broken view fails with it. The
// view named reads none of the others that broke.
bool TRenameCheck::find_broken_view(TBrokenObject& broken) {
  std::vector<std::pair<const TView*, std::string>> failing;
  for (const TView& view : FViews) {
    TOutcome now = view_outcome(view.Name);
    if (now.Compiled == 0) failing.emplace_back(&view, now.Reasons[0]);
  }
  if (failing.empty()) return false;
  for (const auto& [view, reason] : failing) {
    auto reads = [&view = view](const std::pair<const TView*, std::string>& other) {
      return other.first != view &&
             std::count(view->Read.begin(), view->Read.end(), lowercase_string(other.first->Name)) != 0;
    };
    if (std::none_of(failing.begin(), failing.end(), reads)) {
      broken = {"view", view->Name, reason};
      return true;
    }
  }
  broken = {"view", failing.front().first->Name, failing.front().second};
  return true;
}

// The triggers of every table whose statements lost one, or failed already,
// are tested alone on it; those that fail alone where they worked alone
// before are then tested with one another gone, so that a trigger failing
// only through another that fails is not named.
bool TRenameCheck::find_broken_trigger(const std::string& newName, const std::map<std::string, std::string>& remade,
                                       TBrokenObject& broken) {
  std::vector<TCandidate> candidates;
  std::string firstLoss;
  for (const TTriggerTable& table : FTriggerTables) {
    // The old table's triggers now sit on the new table.
    const std::string now = same_name(table.Name, FOldName) ? newName : table.Name;
    bool lost = (table.Before.Compiled & ~table_outcome(now).Compiled) != 0;
    // A trigger that the change broke may hide behind one that was broken before.
    if (!lost && table.Before.Compiled == kAll) continue;
    std::vector<TCandidate> failing = failing_alone(now, table.Before.Compiled, remade);
    if (!lost && failing.empty()) continue;
    if (firstLoss.empty()) firstLoss = now;
    candidates.insert(candidates.end(), failing.begin(), failing.end());
  }
  if (firstLoss.empty()) return false;
  std::sort(candidates.begin(), candidates.end(),
            [](const TCandidate& a, const TCandidate& b) { return a.OldName < b.OldName; });
  for (const TCandidate& candidate : candidates) exec("DROP TRIGGER main." + quote_identifier(candidate.Name) + ";");
  for (const TCandidate& candidate : candidates) {
    exec(candidate.Text);
    TOutcome alone = table_outcome(candidate.Table);
    exec("DROP TRIGGER main." + quote_identifier(candidate.Name) + ";");
    if ((candidate.Lost & ~alone.Compiled) == 0) continue;
    broken = {"trigger", candidate.OldName, candidate.Reason};
    return true;
  }
  // Should no trigger fail on its own, they fail together.
  if (!candidates.empty()) {
    broken = {"trigger", candidates.front().OldName, candidates.front().Reason};
  } else {
    std::string trigger = names(kTriggersOfTable, {firstLoss}).front();
    auto found = remade.find(lowercase_string(trigger));
    broken = {"trigger", found != remade.end() ? found->second : trigger, std::string()};
  }
  return true;
}

// The table's triggers that, alone on it, lost a statement they compiled
// alone before the change.
std::vector<TRenameCheck::TCandidate> TRenameCheck::failing_alone(const std::string& table, unsigned before,
                                                                  const std::map<std::string, std::string>& remade) {
  std::vector<TCandidate> failing;
  test_triggers_alone(table, [&](const std::string& name, const std::string& text) {
    auto found = remade.find(lowercase_string(name));
    std::string oldName = found != remade.end() ? found->second : name;
    auto alone = FAlone.find(lowercase_string(oldName));
    unsigned worked = alone != FAlone.end() ? alone->second : before;
    TOutcome now = table_outcome(table);
    unsigned lost = worked & ~now.Compiled;
    if (lost != 0) failing.push_back({name, oldName, table, text, lost, reason_of(now.Reasons, lost)});
  });
  return failing;
}

// Every trigger of the table dropped, then each made again alone, tested and
// dropped again, and at the end all made again in the order they were made.
// Nothing is rolled back, which would abort the host's open cursors.
void TRenameCheck::test_triggers_alone(
    const std::string& table, const std::function<void(const std::string& name, const std::string& text)>& test) {
  std::vector<std::vector<std::string>> triggers = read_rows(FDB->Database(), kTriggersOfTable, {table}, 2);
  for (const auto& trigger : triggers) exec("DROP TRIGGER main." + quote_identifier(trigger[0]) + ";");
  for (const auto& trigger : triggers) {
    exec(trigger[1]);
    test(trigger[0], trigger[1]);
    exec("DROP TRIGGER main." + quote_identifier(trigger[0]) + ";");
  }
  for (const auto& trigger : triggers) exec(trigger[1]);
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

std::vector<std::string> TRenameCheck::names(const std::string& sql, const std::vector<std::string>& parameters) {
  std::vector<std::string> result;
  for (const auto& row : read_rows(FDB->Database(), sql, parameters, 1)) result.push_back(row.front());
  return result;
}

TRenameCheck::TOutcome TRenameCheck::view_outcome(const std::string& view) {
  TOutcome outcome;
  if (compiles("SELECT * FROM main." + quote_identifier(view) + ";", outcome.Reasons[0])) outcome.Compiled = kInsert;
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
  std::string sets = update_of_every_column(table);
  if (!sets.empty())
    test(kUpdate, 1, "UPDATE " + target + " SET " + sets + ";");
  else
    outcome.Reasons[1] = "no column of \"" + table + "\" can be set";
  test(kDelete, 2, "DELETE FROM " + target + ";");
  return outcome;
}

// Every column set to itself, and the rowid by each of its names that no
// column takes, where the table has one, so that every UPDATE OF trigger
// compiles.
std::string TRenameCheck::update_of_every_column(const std::string& table) {
  std::vector<std::string> columns = names(kSettableColumns, {table});
  if (!names(kHasRowid, {table}).empty()) {
    std::vector<std::string> taken = names(kAllColumns, {table});
    for (const char* rowid : kRowidNames)
      if (std::none_of(taken.begin(), taken.end(), [rowid](const std::string& c) { return same_name(c, rowid); }))
        columns.push_back(rowid);
  }
  std::string sets;
  for (const std::string& column : columns)
    sets += (sets.empty() ? "" : ", ") + quote_identifier(column) + " = " + quote_identifier(column);
  return sets;
}

// Runs one statement of the check's own, which must succeed.
void TRenameCheck::exec(const std::string& sql) {
  sqlite3* db = FDB->Database();
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(statement);
  std::string failure = rc == SQLITE_DONE ? std::string() : failure_text(db);
  sqlite3_finalize(statement);
  if (!failure.empty()) throw TRenameCheckFailure(failure);
}

// The database reports each view that a statement reads as a SELECT under
// the view's name (and each CTE under its own, which may spell a view's).
int TRenameCheck::authorize(void* check, int action, const char*, const char*, const char*, const char* inner) {
  if (action == SQLITE_SELECT && inner != nullptr)
    static_cast<TRenameCheck*>(check)->FReadViews.push_back(lowercase_string(inner));
  return SQLITE_OK;
}
