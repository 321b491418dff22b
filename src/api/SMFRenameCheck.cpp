// Testing a lookup table's rename or copy against the views and triggers of
// the metafile by preparing (never running) statements that read them.
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
// Every trigger with the table or view it is on.
const char* const kTriggers =
    "SELECT [name], [tbl_name] FROM [main].[sqlite_master] WHERE [type] = 'trigger' ORDER BY [name];";
// In the order they were made, which is the order they fire in.
const char* const kTriggersOfTable =
    "SELECT [name], [sql] FROM [main].[sqlite_master] WHERE [type] = 'trigger' AND [tbl_name] = ?1 COLLATE NOCASE "
    "ORDER BY [rowid];";
const char* const kObjectType =
    "SELECT [type] FROM [main].[sqlite_master] WHERE [name] = ?1 COLLATE NOCASE AND [type] IN ('table', 'view');";
// Generated columns (hidden 2 and 3) cannot be set.
const char* const kSettableColumns =
    "SELECT [name] FROM pragma_table_xinfo(?1, 'main') WHERE [hidden] NOT IN (2, 3) ORDER BY [cid];";
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

// Where the table's statements fail already, a trigger of its own that works
// alone is told from one that does not.
TRenameCheck::TRenameCheck(TSQLDB* db, const std::string& oldName) : FDB(db), FOldName(oldName) {
  FBefore = table_outcome(oldName);
  if (FBefore.Compiled != kAll)
    test_triggers_alone(oldName, [this, &oldName](const std::string& trigger) {
      FBeforeAlone[lowercase_string(trigger)] = table_outcome(oldName).Compiled;
    });
}

bool TRenameCheck::FindReferrer(TBrokenObject& referrer) {
  TAuthorizerGuard guard(FDB->Database(), authorize, this);
  return find_referring_view(referrer) || find_referring_trigger(referrer);
}

// A view that touches the table while it is prepared reads it, itself or
// through the views it reads (which the database tells of the read that
// takes no column only as the outermost view's); the one named reads none
// of the others that touch it.
bool TRenameCheck::find_referring_view(TBrokenObject& referrer) {
  struct TViewUse {
    std::string Name;
    std::vector<std::string> Read;  // the views it reads, itself included, lower-cased
  };
  std::vector<TViewUse> touching;
  for (const std::string& view : names(kViews, {})) {
    FUsers.clear();
    FReadViews.clear();
    std::string reason;
    FWatching = true;
    bool compiled = compiles("SELECT * FROM main." + quote_identifier(view) + ";", reason);
    FWatching = false;
    if (compiled && !FUsers.empty()) touching.push_back({view, FReadViews});
  }
  for (const TViewUse& view : touching) {
    auto other = [&view](const TViewUse& use) {
      return !same_name(use.Name, view.Name) &&
             std::count(view.Read.begin(), view.Read.end(), lowercase_string(use.Name)) != 0;
    };
    if (std::none_of(touching.begin(), touching.end(), other)) {
      referrer = {"view", view.Name, std::string()};
      return true;
    }
  }
  return false;
}

// The table's own triggers are re-made on the new table, so they are not
// referrers here; a trigger of another table that reaches the table through
// them (a write into it) is.
bool TRenameCheck::find_referring_trigger(TBrokenObject& referrer) {
  std::vector<std::vector<std::string>> triggers = read_rows(FDB->Database(), kTriggers, {}, 2);
  std::vector<std::string> tables;
  for (const auto& trigger : triggers)
    if (!same_name(trigger[1], FOldName) &&
        std::find_if(tables.begin(), tables.end(), [&](const std::string& t) { return same_name(t, trigger[1]); }) ==
            tables.end())
      tables.push_back(trigger[1]);
  FUsers.clear();
  FWatching = true;
  for (const std::string& table : tables)
    if (table_outcome(table).Compiled != kAll)
      test_triggers_alone(table, [this, &table](const std::string&) { table_outcome(table); });
  FWatching = false;
  // Accesses noted under a view's name, or under none, are the views', which
  // were looked at first.
  for (const auto& trigger : triggers)
    if (!same_name(trigger[1], FOldName) &&
        std::count(FUsers.begin(), FUsers.end(), lowercase_string(trigger[0])) != 0) {
      referrer = {"trigger", trigger[0], std::string()};
      return true;
    }
  return false;
}

bool TRenameCheck::FindBroken(const std::string& newName, const std::map<std::string, std::string>& remade,
                              TBrokenObject& broken) {
  if (table_outcome(newName).Compiled == kAll) return false;
  broken = TBrokenObject();
  test_triggers_alone(newName, [&](const std::string& trigger) {
    auto found = remade.find(lowercase_string(trigger));
    std::string name = found != remade.end() ? found->second : trigger;
    auto before = FBeforeAlone.find(lowercase_string(name));
    TOutcome alone = table_outcome(newName);
    unsigned lost = (before != FBeforeAlone.end() ? before->second : FBefore.Compiled) & ~alone.Compiled;
    if (lost != 0 && (broken.Name.empty() || name < broken.Name))
      broken = {"trigger", name, reason_of(alone.Reasons, lost)};
  });
  return !broken.Name.empty();
}

// Every trigger of the table dropped, then each made again alone, tested and
// dropped again, and at the end all made again in the order they were made.
// Nothing is rolled back, which would abort the host's open cursors.
void TRenameCheck::test_triggers_alone(const std::string& table,
                                       const std::function<void(const std::string&)>& test) {
  std::vector<std::vector<std::string>> triggers = read_rows(FDB->Database(), kTriggersOfTable, {table}, 2);
  for (const auto& trigger : triggers) exec("DROP TRIGGER main." + quote_identifier(trigger[0]) + ";");
  for (const auto& trigger : triggers) {
    exec(trigger[1]);
    test(trigger[0]);
    exec("DROP TRIGGER main." + quote_identifier(trigger[0]) + ";");
  }
  for (const auto& trigger : triggers) exec(trigger[1]);
}

bool TRenameCheck::compiles(const std::string& sql, std::string& reason) {
  FNoted.clear();
  FNotedViews.clear();
  sqlite3* db = FDB->Database();
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_finalize(statement);
    // Only what compiled tells what an object reads once it works.
    for (const std::string& user : FNoted)
      if (std::count(FUsers.begin(), FUsers.end(), user) == 0) FUsers.push_back(user);
    FReadViews.insert(FReadViews.end(), FNotedViews.begin(), FNotedViews.end());
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

// Every column set to itself, and the rowid by each of its names where the
// table has one, so that every UPDATE OF trigger compiles.
std::string TRenameCheck::update_of_every_column(const std::string& table) {
  std::vector<std::string> columns = names(kSettableColumns, {table});
  std::vector<std::string> type = names(kObjectType, {table});
  std::string unused;
  if (!type.empty() && type.front() == "table" &&
      compiles("SELECT rowid FROM main." + quote_identifier(table) + ";", unused))
    columns.insert(columns.end(), std::begin(kRowidNames), std::end(kRowidNames));
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

// An access without an innermost view or trigger is noted under no name.
void TRenameCheck::note_access(const char* table, const char* inner) {
  if (FWatching && table != nullptr && same_name(table, FOldName))
    FNoted.push_back(inner != nullptr ? lowercase_string(inner) : std::string());
}

// Views and triggers of the main database read and write only its tables, so
// a table of that name is the one renamed; the database of a read that takes
// no column is not given. A SELECT under a view's name is that view read.
int TRenameCheck::authorize(void* check, int action, const char* first, const char*, const char*,
                            const char* inner) {
  auto self = static_cast<TRenameCheck*>(check);
  if (action == SQLITE_READ || action == SQLITE_INSERT || action == SQLITE_UPDATE || action == SQLITE_DELETE)
    self->note_access(first, inner);
  else if (action == SQLITE_SELECT && inner != nullptr && self->FWatching)
    self->FNotedViews.push_back(lowercase_string(inner));
  return SQLITE_OK;
}
