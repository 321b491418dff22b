// TSMF: reading the metafile's schema into the table model: columns with their
// type codes and flags, index, trigger, foreign-key, check and default texts,
// and the defaults, allowed-value lists and ranges parsed back out of them.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <sqlite3.h>

#include "api/SMF.h"
#include "authoring/Qb_AccessController.h"
#include "authoring/SMFWriter.h"
#include "storage/EngineErrorsPump.h"
#include "storage/SQLDB.h"
#include "storage/SQLQuery.h"
#include "storage/SchemaReads.h"
#include "storage/TableStats.h"
#include "storage/Utility.h"

namespace {

// Sizes of the working texts of the parsers below.
const size_t kDefaultTextSize = 199;
const size_t kCheckTextSize = 999;
const size_t kColumnNameSize = 30;
const size_t kDefaultValueSize = 99;
const size_t kRangeSize = 100;
const size_t kValueListSize = 999;
const char* const kBlanks = " \t\r\n";
// The stored texts of tables, indexes and triggers, in an order that makes
// the texts of one table the same however they are read.
const char* const kStoredTextsSelect = "SELECT [tbl_name], [type], [name], [sql] FROM main.sqlite_master";
const char* const kStoredTextsOrder = " ORDER BY [type], [name];";

TEditDataType data_type_code(const std::string& declared) {
  if (declared == "integer") return edtInteger;
  if (declared == "double") return edtDouble;
  if (declared == "text") return edtText;
  if (declared == "datetime") return edtDateTime;
  if (declared >= "varchar") return edtVarchar;
  if (declared >= "char") return edtChar;
  return edtOther;
}

int column_size(TEditDataType code, const std::string& declared) {
  if (code != edtVarchar && code != edtChar) return 0;
  size_t open = declared.find('(');
  size_t close = declared.find(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return 0;
  return atoi(declared.substr(open + 1, close - open - 1).c_str());
}

size_t skip(const std::string& text, size_t i, const char* characters) {
  while (i < text.size() && strchr(characters, text[i]) != nullptr && text[i] != '\0') ++i;
  return i;
}

// Value of the PRAGMA row's column of that name; NULL reads as empty.
std::string pragma_value(int columnCount, char** values, char** names, const char* name) {
  for (int i = 0; i < columnCount; ++i)
    if (names[i] != nullptr && strcmp(names[i], name) == 0) return values[i] == nullptr ? "" : values[i];
  return std::string();
}

// "default <column> TO <value>": the column and the value without quotes.
void parse_default(std::string text, std::string& column, std::string& value) {
  text = text.substr(0, kDefaultTextSize);
  size_t blank = text.find(' ', 8);
  column = text.substr(8 < text.size() ? 8 : text.size(), blank == std::string::npos ? std::string::npos : blank - 8);
  column = column.substr(0, kColumnNameSize);
  value.clear();
  if (blank == std::string::npos || blank + 4 > text.size()) return;
  for (size_t i = blank + 4; i < text.size(); ++i)
    if (text[i] != '\'') value += text[i];
  value = value.substr(0, kDefaultValueSize);
}

// The column that a check text names at `at`: bare up to a blank or "(", or
// in brackets or double quotes, without them.
std::string checked_column(const std::string& check, size_t at) {
  char open = check[at];
  if (open == '[' || open == '"') {
    size_t close = check.find(open == '[' ? ']' : '"', at + 1);
    return check.substr(at + 1, close == std::string::npos ? std::string::npos : close - at - 1);
  }
  size_t end = check.find_first_of(" (", at);
  return check.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// Low bound, byte 0xBB, high bound of "check(<column> between <low> and <high>)".
std::string parse_range(const std::string& check, const std::string& lower, size_t between) {
  const char* skipped = " \t\r\n'";
  size_t andPosition = lower.find(" and ");
  std::string range;
  size_t i = skip(check, between + 7, skipped);
  while (i < check.size() && check[i] != '\'' && i != andPosition) range += check[i++];
  range += '\xBB';
  i = skip(check, skip(check, i, skipped) + 3, skipped);
  while (i < check.size() && check[i] != '\'' && check[i] != ')') range += check[i++];
  return range.substr(0, kRangeSize);
}

// One entry of a table's stored texts (TTableDef::GetSchemaTexts).
std::string stored_text(const std::string& type, const std::string& name, const std::string& sql) {
  return type + '\x1f' + name + '\x1f' + sql + '\x1e';
}

// Adds the current row of a kStoredTextsSelect statement to a table's texts.
void append_stored_text(std::string& texts, const TSQLQuery& query) {
  texts += stored_text(query.GetFieldByNumber(1), query.GetFieldByNumber(2), query.GetFieldByNumber(3));
}

// The catalogue's stored texts of one kind, of every table of the main
// database, in the catalogue's order; false when they cannot all be read.
// The kind is matched as the statements of a single table match it.
bool read_catalogue_kind(TSQLDB* db, const char* kind,
                         std::map<std::string, std::vector<std::pair<std::string, std::string>>>& tables) {
  TSQLQuery query(db);
  try {
    query.OpenSelect(std::string("SELECT [tbl_name], [name], [sql] FROM main.sqlite_master WHERE [type] LIKE '") +
                     kind + "';");
  } catch (const std::runtime_error&) {
    return false;
  }
  for (bool row = !query.Eof(); row; row = !query.Eof()) {
    tables[lowercase_string(query.GetFieldByNumber(0))].emplace_back(query.GetFieldByNumber(1),
                                                                      query.GetFieldByNumber(2));
    if (!query.FetchNext()) return false;
  }
  return true;
}

const char* const kCatalogueKinds[] = {"index", "table", "trigger"};

}  // namespace

// What build_tables_list has read of the catalogue so far.
struct TSMF::TCatalogue {
  struct TKind {
    bool Read = false;
    std::map<std::string, TNamedTexts> Tables;  // by lower-case table name
  };
  std::map<std::string, TKind> Kinds;  // those tried
};

// Sets FCatalogue for as long as it lives.
class TSMF::TCatalogueScope {
 public:
  explicit TCatalogueScope(TSMF& smf) : FSMF(smf) { FSMF.FCatalogue = &FCatalogue; }
  ~TCatalogueScope() { FSMF.FCatalogue = nullptr; }
  TCatalogueScope(const TCatalogueScope&) = delete;
  TCatalogueScope& operator=(const TCatalogueScope&) = delete;

 private:
  TSMF& FSMF;
  TCatalogue FCatalogue;
};

// A failure keeps SQLite's reason in FSchemaFailure for the opening's message.
bool TSMF::build_tables_list() {
  delete FTablesList;
  FTablesList = new TTablesList();
  FSchemaFailure.clear();
  TSQLQuery query(FSQLDB);
  TCatalogueScope catalogue(*this);
  bool allRead = true;
  try {
    query.SetSQLText("SELECT [tbl_name] FROM sqlite_master WHERE [type] LIKE 'table' ORDER BY 1;", true);
    allRead = query.SetIsActive(true);
    while (allRead && !query.Eof()) {
      allRead = UpdateTableStats(query.GetFieldByNumber(0).c_str()) && query.FetchNext();
    }
    if (!allRead) add_error("build_tables_list", "Failure to build list of tables");
  } catch (const std::runtime_error& e) {
    add_error("build_tables_list", e.what());
    allRead = false;
  }
  if (!allRead) {
    FSchemaFailure = failure_reason(query);
    if (!FSchemaFailure.empty()) add_error("build_tables_list", FSchemaFailure);
  }
  FCurrentTableDef = nullptr;
  return allRead;
}

// The statement's reason, or else the one a failing step of another
// statement left with the connection.
std::string TSMF::failure_reason(const TSQLQuery& query) const {
  std::string reason = query.LastErrorMessage();
  if (reason.empty() && sqlite3_errcode(FSQLDB->Database()) != SQLITE_OK) reason = FSQLDB->GetLastDBErrorMessage();
  return reason;
}

void TSMF::discard_current_table_def() {
  delete FCurrentTableDef;
  FCurrentTableDef = nullptr;
}

bool TSMF::UpdateTableStats(const char* tableName) {
  if (tableName == nullptr || !read_table_def(tableName, nullptr)) return false;
  if (FTablesList->AddTable(FCurrentTableDef) != 0) discard_current_table_def();
  return true;
}

// Reads a table into FCurrentTableDef, with the defaults and checks of
// `rules` (the table's own when null). A failure of its columns, indexes or
// constraints answers false; one of its triggers, defaults or checks throws
// "Failure in call to " and the step, since a definition without them would
// lose them at the next restructure.
bool TSMF::read_table_def(const char* tableName, TTableDef* rules) {
  auto require = [](bool done, const char* step) {
    if (!done) throw std::runtime_error(std::string("Failure in call to ") + step);
  };
  try {
    TSQLQuery query(FSQLDB);
    if (!create_table_def(tableName, &query)) {
      discard_current_table_def();
      return false;
    }
    std::string upperName = uppercase_string(FCurrentTableDef->GetTableName());
    if (!add_table_def_indexes(upperName) || !add_table_def_constraints(upperName)) {
      discard_current_table_def();
      return false;
    }
    require(add_table_triggers(upperName), "add_table_triggers");
    FCurrentTableDef->SetSchemaTexts(read_stored_texts(tableName));
    if (rules == nullptr) rules = FCurrentTableDef;
    require(copy_table_defaults(rules, FCurrentTableDef), "copy_table_defaults");
    require(copy_table_checks(rules, FCurrentTableDef), "copy_table_checks");
  } catch (...) {
    discard_current_table_def();
    throw;
  }
  return true;
}

bool TSMF::catalogue_texts(const char* kind, const std::string& tableName, TNamedTexts& texts) {
  auto tried = FCatalogue->Kinds.find(kind);
  if (tried == FCatalogue->Kinds.end()) {
    tried = FCatalogue->Kinds.emplace(kind, TCatalogue::TKind()).first;
    tried->second.Read = read_catalogue_kind(FSQLDB, kind, tried->second.Tables);
  }
  auto found = tried->second.Tables.find(lowercase_string(tableName));
  if (found != tried->second.Tables.end()) texts = found->second;
  return tried->second.Read;
}

bool TSMF::add_catalogue_texts(const char* kind, const std::string& tableName,
                               void (TTableDef::*add)(const std::string&)) {
  TNamedTexts texts;
  if (!catalogue_texts(kind, tableName, texts)) return false;
  for (const auto& text : texts) (FCurrentTableDef->*add)(text.second);
  return true;
}

// Sorted as kStoredTextsOrder sorts them, byte by byte.
std::string TSMF::read_stored_texts(const std::string& tableName) {
  if (FCatalogue != nullptr) {
    std::vector<std::string> entries;
    for (const char* kind : kCatalogueKinds) {
      TNamedTexts texts;
      if (!catalogue_texts(kind, tableName, texts))
        throw std::runtime_error(std::string("Cannot read the ") + kind + " texts of table \"" + tableName + "\"");
      for (const auto& text : texts) entries.push_back(stored_text(kind, text.first, text.second));
    }
    std::sort(entries.begin(), entries.end());
    std::string stored;
    for (const std::string& entry : entries) stored += entry;
    return stored;
  }
  TSQLQuery query(FSQLDB);
  query.SetSQLText(std::string(kStoredTextsSelect) + " WHERE [tbl_name] = ? COLLATE NOCASE" + kStoredTextsOrder, true);
  query.PrepareParameterizedQuery();
  query.BindTextParameter(1, tableName.c_str());
  query.OpenParameterizedQuery();
  std::string texts;
  for (bool row = !query.Eof(); row; row = query.FetchNext() && !query.Eof()) append_stored_text(texts, query);
  if (!query.Eof()) throw std::runtime_error(query.LastErrorMessage());
  return texts;
}

std::map<std::string, TSMF::TStoredTable> TSMF::read_stored_tables() {
  std::map<std::string, TStoredTable> stored;
  TSQLQuery query(FSQLDB);
  query.OpenSelect(std::string(kStoredTextsSelect) + kStoredTextsOrder);
  for (bool row = !query.Eof(); row; row = query.FetchNext() && !query.Eof()) {
    TStoredTable& table = stored[lowercase_string(query.GetFieldByNumber(0))];
    append_stored_text(table.Texts, query);
    if (query.GetFieldByNumber(1) == "table") table.Name = query.GetFieldByNumber(2);
  }
  if (!query.Eof()) throw std::runtime_error(query.LastErrorMessage());
  return stored;
}

// The tables whose stored texts are no longer those the model read are to be
// read again, those gone to be dropped and those new to be added; every
// other table keeps its definition, and with it the row the host holds in
// its buffer.
TSMF::TModelDrift TSMF::model_drift() {
  std::map<std::string, TStoredTable> stored = read_stored_tables();
  TModelDrift drift;
  for (const auto& entry : FTablesList->TablesList()) {
    auto found = stored.find(entry.first);
    if (found == stored.end() || found->second.Name.empty())
      drift.Gone.push_back(entry.second);
    else if (found->second.Texts != entry.second->GetSchemaTexts())
      drift.Changed.push_back(found->second.Name);
  }
  for (const auto& entry : stored)
    if (!entry.second.Name.empty() && FTablesList->GetTable(entry.first) == nullptr)
      drift.Changed.push_back(entry.second.Name);
  return drift;
}

// False when a table could not be read (replace_table_def records why).
// A row cached for the record reads goes with its table's definition: its
// columns may be other ones now.
bool TSMF::follow_drift(const TModelDrift& drift) {
  for (TTableDef* table : drift.Gone) {
    FReadDataCache.erase(lowercase_string(table->GetTableName()));
    FTablesList->RemoveTable(table);
  }
  bool read = true;
  for (const std::string& name : drift.Changed) {
    FReadDataCache.erase(lowercase_string(name));
    read = replace_table_def(name, name) && read;
  }
  return read;
}

bool TSMF::follow_model(const char* method, int version, const char* underWay) {
  FModelSchemaVersion = kNoSchemaVersion;
  try {
    TModelDrift drift = model_drift();
    if (!drift.empty() && underWay != nullptr) {
      RecordRefusal(method, underWay);
      return false;
    }
    if (!follow_drift(drift)) return false;
  } catch (const std::exception& e) {
    add_error(method, e.what());
    return false;
  }
  FModelSchemaVersion = version;
  return true;
}

// One kept statement answers whether the schema moved on; only then are the
// stored texts read and compared.
bool TSMF::follow_schema(const char* method, bool ownWalk) {
  int version = kNoSchemaVersion;
  std::string reason;
  if (!FSQLDB->ReadSchemaVersion(version, reason)) {
    add_error(method, reason);
    return false;
  }
  return version == FModelSchemaVersion || follow_model(method, version, WalkOf(kTables, ownWalk ? 1 : 0));
}

// A rollback may have undone the creation, deletion or change of tables,
// whatever the schema version says. Under a callback that walks the model the
// model is only marked out of date, so that the next check reads it again
// where it may. The logins follow too: a login stands only while its agency's
// row does, and a row stays in edit mode only while the logins may change it.
void TSMF::follow_rollback() {
  if (WalkOf(kTables) != nullptr) {
    FModelSchemaVersion = kNoSchemaVersion;
  } else {
    int version = kNoSchemaVersion;
    std::string unread;  // the next check then compares the texts again
    FSQLDB->ReadSchemaVersion(version, unread);
    follow_model("follow_rollback", version, nullptr);
  }
  if (FQb_AccessController != nullptr) FQb_AccessController->FollowRollback();
  if (FSMFWriter != nullptr) FSMFWriter->FollowRollback();
}

// The columns are those of a statement that reads no row: it names no rowid,
// which a table declared WITHOUT ROWID lacks, and gives every table's columns
// with their declared types in table order.
bool TSMF::create_table_def(std::string tableName, TSQLQuery* query) {
  FCurrentTableDef = new TTableDef(tableName);
  query->OpenSelect("SELECT * FROM main." + quote_identifier(tableName) + " LIMIT 0;");
  std::vector<std::string> names;
  for (int i = 0; i < query->ColCount(); ++i) names.push_back(query->GetColumnName(i));
  FCurrentTableDef->SetHasRowid(has_rowid(FSQLDB->Database(), tableName, names));
  for (int i = 0; i < query->ColCount(); ++i) {
    const std::string& name = names[i];
    std::string declared = lowercase_string(query->GetColumnDataType(i));
    TEditDataType code = data_type_code(declared);
    int size = column_size(code, declared);
    int nullable = 0, primaryKey = 0, autoInc = 0;
    if (!query->GetColumnConstraints(tableName.c_str(), name.c_str(), &nullable, &primaryKey, &autoInc))
      nullable = primaryKey = autoInc = 0;
    TFieldDef* field = new TFieldDef(name, i, code, size, nullable != 0, primaryKey != 0, autoInc != 0);
    if (code == edtVarchar && size == 1) field->SetIsTriggerField(true);
    if (FCurrentTableDef->AddColumn(field) != 0) delete field;
  }
  query->SetIsActive(false);
  return true;
}

// The index and CREATE-text statements match the table name exactly, letter
// case aside: LIKE would let "_" and "%" in a name pick up another table's texts.
static TSQLQuery* prepare_schema_query(TSQLDB* db, const char* type) {
  TSQLQuery* query = new TSQLQuery(db);
  query->SetSQLText(std::string("SELECT [sql] FROM sqlite_master WHERE [tbl_name] = ? COLLATE NOCASE "
                                "AND [type] LIKE '") + type + "';",
                    true);
  try {
    query->PrepareParameterizedQuery();
  } catch (const std::runtime_error&) {
    delete query;
    return nullptr;
  }
  return query;
}

// Binds the table name and opens the statement; false when it cannot run.
static bool open_schema_query(TSQLQuery* query, const std::string& tableName) {
  try {
    query->BindTextParameter(1, tableName.c_str());
    return query->OpenParameterizedQuery();
  } catch (const std::runtime_error&) {
    return false;
  }
}

static void reset_schema_query(TSQLQuery* query) {
  try {
    query->ResetParameterizedQuery();
  } catch (const std::runtime_error&) {
    // The statement is prepared again when its reset keeps failing.
  }
}

// Adds column 0 of every row of an opened schema statement to the table's
// texts of that kind; false when a row cannot be read.
static bool add_schema_texts(TSQLQuery* query, TTableDef* table, void (TTableDef::*add)(const std::string&)) {
  for (bool row = !query->Eof(); row; row = !query->Eof()) {
    (table->*add)(query->GetFieldByNumber(0));
    if (!query->FetchNext()) return false;
  }
  return true;
}

bool TSMF::add_table_def_indexes(std::string tableName) {
  if (FCatalogue != nullptr) return add_catalogue_texts("index", tableName, &TTableDef::AddIndex);
  if (FIndexSQLQuery == nullptr && (FIndexSQLQuery = prepare_schema_query(FSQLDB, "index")) == nullptr)
    return false;
  bool read = open_schema_query(FIndexSQLQuery, tableName) &&
              add_schema_texts(FIndexSQLQuery, FCurrentTableDef, &TTableDef::AddIndex);
  reset_schema_query(FIndexSQLQuery);
  return read;
}

// The model holds the metafile's own tables: the pragmas name its database,
// since without a name they would read an attached import source's schema
// too, and wait for (or fail on) another connection's lock on it.
bool TSMF::add_table_def_constraints(std::string tableName) {
  std::string quoted = quote_sql_value(tableName);
  FSQLDB->Pragma(("PRAGMA main.table_info('" + quoted + "');").c_str(), this, TableInfoCallback);
  FSQLDB->Pragma(("PRAGMA main.foreign_key_list('" + quoted + "');").c_str(), this, ForeignKeyCallback);
  bool opened;
  std::string text;
  if (FCatalogue != nullptr) {
    TNamedTexts texts;
    opened = catalogue_texts("table", tableName, texts);
    if (!texts.empty()) text = texts.front().second;
  } else {
    if (FTableSQLQuery == nullptr && (FTableSQLQuery = prepare_schema_query(FSQLDB, "table")) == nullptr)
      return false;
    opened = open_schema_query(FTableSQLQuery, tableName);
    if (opened) text = FTableSQLQuery->GetFieldByNumber(0);
    reset_schema_query(FTableSQLQuery);
  }
  add_checks(text);
  return opened;
}

// Each CHECK constraint of a CREATE text, from "check" through its closing ")".
void TSMF::add_checks(const std::string& text) {
  std::string lower = lowercase_string(text);
  size_t start = 0;
  for (size_t found; (found = lower.find("check", start)) != std::string::npos;) {
    size_t i = skip(lower, found + 5, kBlanks);
    if (i >= lower.size() || lower[i] != '(') {
      start = found + 5;
      continue;
    }
    int depth = 0;
    size_t close = i;
    for (; close < lower.size(); ++close) {
      if (lower[close] == '(') ++depth;
      if (lower[close] == ')' && --depth == 0) break;
    }
    if (close >= lower.size()) break;  // unbalanced: nothing more is read
    FCurrentTableDef->AddCheck(text.substr(found, close - found + 1));
    start = close + 2;
  }
}

// False when the triggers cannot all be read: the statement cannot be
// prepared or run, or a row cannot be fetched.
bool TSMF::add_table_triggers(std::string tableName) {
  if (FCatalogue != nullptr) return add_catalogue_texts("trigger", tableName, &TTableDef::AddTrigger);
  std::unique_ptr<TSQLQuery> query(prepare_schema_query(FSQLDB, "trigger"));
  return query != nullptr && open_schema_query(query.get(), tableName) &&
         add_schema_texts(query.get(), FCurrentTableDef, &TTableDef::AddTrigger);
}

bool TSMF::copy_table_defaults(TTableDef* source, TTableDef* target) {
  std::string column, value;
  for (int i = 0; i < source->GetDefaultCount(); ++i) {
    parse_default(source->GetDefault(i), column, value);
    if (TFieldDef* field = target->GetColumn(column)) field->SetDefaultValue(value);
  }
  return true;
}

bool TSMF::copy_table_checks(TTableDef* source, TTableDef* target) {
  for (int n = 0; n < source->GetCheckCount(); ++n) {
    std::string check = std::string(source->GetCheck(n)).substr(0, kCheckTextSize);
    size_t i = skip(check, 5, " (");
    if (i >= check.size()) continue;
    std::string column = checked_column(check, i).substr(0, kColumnNameSize);
    std::string lower = lowercase_string(check);
    size_t between = lower.find("between");
    if (between != std::string::npos) {
      TFieldDef* field = target->GetColumn(column);
      if (source->GetColumn(column) != nullptr && field != nullptr)
        field->SetCheckBetween(parse_range(check, lower, between));
      continue;
    }
    size_t in = lower.find(" in(");
    if (in == std::string::npos) in = lower.find(" in ");
    if (in == std::string::npos) continue;
    size_t open = check.find('(', in);
    if (open == std::string::npos) continue;
    size_t close = check.find(')', open + 1);
    std::string list = check.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
    if (TFieldDef* field = target->GetColumn(column)) field->SetLimitToList(list.substr(0, kValueListSize));
  }
  return true;
}

int TSMF::TableInfoCallback(void* owner, int columnCount, char** values, char** columnNames) {
  if (owner == nullptr) return 0;
  TTableDef* table = static_cast<TSMF*>(owner)->GetCurrentTableDef();
  if (table == nullptr) return 1;
  try {
    std::string name = pragma_value(columnCount, values, columnNames, "name");
    std::string type = pragma_value(columnCount, values, columnNames, "type");
    std::string value = pragma_value(columnCount, values, columnNames, "dflt_value");
    if (value.empty()) return 0;
    if (type.find("char") != std::string::npos || type == "text") value = "'" + value + "'";
    table->AddDefault("default " + name + " TO " + value);
    return 0;
  } catch (const std::exception&) {
    return 1;
  }
}

int TSMF::ForeignKeyCallback(void* owner, int columnCount, char** values, char** columnNames) {
  if (owner == nullptr) return 0;
  TTableDef* table = static_cast<TSMF*>(owner)->GetCurrentTableDef();
  if (table == nullptr) return 1;
  try {
    auto value = [&](const char* name) { return pragma_value(columnCount, values, columnNames, name); };
    std::string text = value("from") + " REFERENCES " + value("table") + "(" + value("to") + ")";
    if (value("on_update") != "NO ACTION") text += " ON UPDATE " + value("on_update");
    if (value("on_delete") != "NO ACTION") text += " ON DELETE " + value("on_delete");
    if (value("match") != "NONE") text += " MATCH " + value("match");
    table->AddForeignKey(text);
    return 0;
  } catch (const std::exception&) {
    return 1;
  }
}
