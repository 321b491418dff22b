// Testing a lookup table's rename or copy against the views and triggers of
// the metafile by preparing (never running) statements that read them,
// before the change and after it.
#include "api/SMFRenameCheck.h"

#include <sqlite3.h>

#include <algorithm>

#include "storage/SQLDB.h"
#include "storage/SchemaReads.h"
#include "storage/Utility.h"

namespace {

// A view's SELECT takes the bit of a table's INSERT.
const unsigned kSelect = 1;

const char* const kCannotTest = "Cannot test the views and triggers of the metafile: ";

std::string failure_text(sqlite3* db) { return kCannotTest + std::string(sqlite3_errmsg(db)); }

// A statement fails as a statement, for a name it reads or a form it may not
// take, with SQLITE_ERROR; any other code says nothing about the schema.
bool is_schema_error(int rc) { return (rc & 0xff) == SQLITE_ERROR; }

// The reason of the first statement of `bits` that did not compile.
std::string reason_of(const std::string (&reasons)[3], unsigned bits) {
  for (int i = 0; i < 3; ++i)
    if ((bits & (1u << i)) != 0) return reasons[i];
  return std::string();
}

const char* const kViews = "SELECT [name] FROM [main].[sqlite_master] WHERE [type] = 'view' ORDER BY [name];";
// Every trigger, in the order they were made, which is the order they fire in.
const char* const kTriggers =
    "SELECT [tbl_name], [name], [sql] FROM [main].[sqlite_master] WHERE [type] = 'trigger' ORDER BY [rowid];";
const char* const kTriggersOfTable =
    "SELECT [name], [sql] FROM [main].[sqlite_master] WHERE [type] = 'trigger' AND [tbl_name] = ?1 COLLATE NOCASE "
    "ORDER BY [rowid];";
// How the database refuses a statement on a view that none of its triggers
// makes possible (the view's name as the file holds it, letter case aside).
std::string view_refusal(const std::string& view) { return "cannot modify " + view + " because it is a view"; }

// The rows of a select of the check's own, its parameters bound, as the
// named columns; a failure throws, saying what could not be tested.
std::vector<TSchemaRow> read_rows(sqlite3* db, const std::string& sql, const std::vector<std::string>& parameters,
                                  const std::vector<const char*>& columns) {
  try {
    return schema_rows(db, sql, parameters, columns);
  } catch (const std::runtime_error& e) {
    throw TRenameCheckFailure(std::string(kCannotTest) + e.what());
  }
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
  for (TTriggerTable& table : trigger_tables()) {
    if (!everyObject && !same_name(table.Name, oldName)) continue;
    table.Before = table_outcome(table.Name);
    // Where a statement failed already, each trigger tells for itself.
    if (!table.Before.Whole())
      test_triggers_alone(table.Name, table.Triggers, table.Before,
                          [this](const TTrigger& trigger, const TOutcome& alone) {
                            FAlone[lowercase_string(trigger.Name)] = alone.Compiled;
                          });
    FTriggerTables.push_back(std::move(table));
  }
}

// The tables and views that have triggers, by name, each once whatever the
// case its triggers name it in (the least name, byte by byte), from one read
// of the catalogue.
std::vector<TRenameCheck::TTriggerTable> TRenameCheck::trigger_tables() {
  std::map<std::string, TTriggerTable> tables;
  for (const auto& row : read_rows(FDB->Database(), kTriggers, {}, {"tbl_name", "name", "sql"})) {
    TTriggerTable& table = tables[lowercase_string(row[0])];
    if (table.Name.empty() || row[0] < table.Name) table.Name = row[0];
    table.Triggers.push_back({row[1], row[2]});
  }
  std::vector<TTriggerTable> ordered;
  for (auto& entry : tables) ordered.push_back(std::move(entry.second));
  std::sort(ordered.begin(), ordered.end(),
            [](const TTriggerTable& a, const TTriggerTable& b) { return a.Name < b.Name; });
  return ordered;
}

std::vector<TRenameCheck::TTrigger> TRenameCheck::triggers_of(const std::string& table) {
  std::vector<TTrigger> triggers;
  for (const auto& row : read_rows(FDB->Database(), kTriggersOfTable, {table}, {"name", "sql"}))
    triggers.push_back({row[0], row[1]});
  return triggers;
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
  std::string firstLoss;  // the first trigger of the first table that lost a statement
  for (const TTriggerTable& table : FTriggerTables) {
    // The old table's triggers now sit on the new table, under their new names.
    const bool moved = same_name(table.Name, FOldName);
    const std::string now = moved ? newName : table.Name;
    TOutcome after = table_outcome(now);
    bool lost = (table.Before.Compiled & ~after.Compiled) != 0;
    // A trigger that the change broke may hide behind one that was broken before.
    if (!lost && table.Before.Whole()) continue;
    std::vector<TTrigger> triggers = moved ? triggers_of(now) : table.Triggers;
    std::vector<TCandidate> failing = failing_alone(now, triggers, table.Before.Compiled, after, remade);
    if (!lost && failing.empty()) continue;
    if (firstLoss.empty()) firstLoss = triggers.front().Name;
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
    auto found = remade.find(lowercase_string(firstLoss));
    broken = {"trigger", found != remade.end() ? found->second : firstLoss, std::string()};
  }
  return true;
}

// The table's triggers that, alone on it, lost a statement they compiled
// alone before the change; `after` is what the table compiled with them all.
std::vector<TRenameCheck::TCandidate> TRenameCheck::failing_alone(const std::string& table,
                                                                  const std::vector<TTrigger>& triggers,
                                                                  unsigned before, const TOutcome& after,
                                                                  const std::map<std::string, std::string>& remade) {
  std::vector<TCandidate> failing;
  auto judge = [&](const TTrigger& trigger, const TOutcome& now) {
    auto found = remade.find(lowercase_string(trigger.Name));
    std::string oldName = found != remade.end() ? found->second : trigger.Name;
    auto alone = FAlone.find(lowercase_string(oldName));
    unsigned worked = alone != FAlone.end() ? alone->second : before;
    unsigned lost = worked & ~now.Compiled;
    if (lost != 0)
      failing.push_back({trigger.Name, oldName, table, trigger.Text, lost, reason_of(now.Reasons, lost)});
  };
  test_triggers_alone(table, triggers, after, judge);
  return failing;
}

// What each of the table's triggers compiles alone on it. A table's only
// trigger is alone on it already: it compiles what the table compiles
// (`together`). Several are dropped, each made again
// alone, tested and dropped again, and at the end all made again in the
// order they were made: nothing is rolled back, which would abort the host's
// open cursors. Every change of the catalogue costs a search of it, so
// this is done only where the table's statements cannot tell.
void TRenameCheck::test_triggers_alone(
    const std::string& table, const std::vector<TTrigger>& triggers, const TOutcome& together,
    const std::function<void(const TTrigger& trigger, const TOutcome& alone)>& test) {
  if (triggers.size() == 1) {
    test(triggers.front(), together);
    return;
  }
  for (const TTrigger& trigger : triggers) exec("DROP TRIGGER main." + quote_identifier(trigger.Name) + ";");
  for (const TTrigger& trigger : triggers) {
    exec(trigger.Text);
    test(trigger, table_outcome(table));
    exec("DROP TRIGGER main." + quote_identifier(trigger.Name) + ";");
  }
  for (const TTrigger& trigger : triggers) exec(trigger.Text);
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
  for (const auto& row : read_rows(FDB->Database(), sql, parameters, {"name"})) result.push_back(row.front());
  return result;
}

TRenameCheck::TOutcome TRenameCheck::view_outcome(const std::string& view) {
  TOutcome outcome;
  if (compiles("SELECT * FROM main." + quote_identifier(view) + ";", outcome.Reasons[0])) outcome.Compiled = kSelect;
  return outcome;
}

// An INSERT, an UPDATE that sets every column that can be set, and a DELETE.
// On a view, one that no trigger makes possible fails as it always will.
TRenameCheck::TOutcome TRenameCheck::table_outcome(const std::string& table) {
  TOutcome outcome;
  std::vector<std::string> statements;
  try {
    statements = firing_statements(FDB->Database(), table);
  } catch (const std::runtime_error& e) {
    throw TRenameCheckFailure(kCannotTest + std::string(e.what()));
  }
  for (size_t at = 0; at < statements.size(); ++at) {
    std::string& reason = outcome.Reasons[at];
    if (statements[at].empty())
      reason = "no column of \"" + table + "\" can be set";
    else if (compiles(statements[at], reason))
      outcome.Compiled |= 1u << at;
    else if (same_name(reason, view_refusal(table)))
      outcome.Impossible |= 1u << at;
  }
  return outcome;
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
