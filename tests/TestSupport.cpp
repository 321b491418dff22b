// Shared helpers of the unit tests.
#include "TestSupport.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "quelt.h"

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quelt-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  Path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(Path, ignored);
}

bool create_metafile(const std::string& path) { return Edit_CreateNewMetafile(path.c_str()) == 0; }

// Rows in every owner and pivot table; they need agencies 2 and 3.
const char* const kContentRows =
    "INSERT INTO RL_Messages VALUES(2, 2, 7, 'Value out of range', NULL);"
    "INSERT INTO RL_Edits(PKey, AgencyPKey, EditTag, EditName, MessagePKey) VALUES(1, 2, 'E1', 'One', 2);"
    "INSERT INTO RL_EditSets VALUES(1, 2, 'S1', 'Set one', NULL, NULL);"
    "INSERT INTO RL_Fields VALUES(1, 1, 1, 'F1', 'L1', 5, 'S ', NULL, 'field');"
    "INSERT INTO RL_Layouts VALUES(1, 3, 'LAY1', 'Layout one', NULL, NULL);"
    "INSERT INTO RL_LookupTables VALUES(1, 1, 'LU_Colors', 2, NULL, NULL);"
    "INSERT INTO RL_EditSetEditsPivot VALUES(1, 1, 1);"
    "INSERT INTO RL_EditErrorsPivot VALUES(1, 1, 'Bad value', 'E');"
    "INSERT INTO RL_EditMessagesPivot VALUES(1, 1, 2, 'W');"
    "INSERT INTO RL_EditFieldsPivot VALUES(1, 1, 1, 1);"
    "INSERT INTO RL_EditTablesPivot VALUES(1, 1, 1);"
    "INSERT INTO RL_LayoutFieldsPivot VALUES(1, 1, 1, 1);";

bool make_older_metafile(const std::string& path) {
  return create_metafile(path) &&
         RawDB(path).exec(
             "DROP TABLE RL_Agencies;"
             "CREATE TABLE RL_Agencies([PKey] integer not null primary key, [AdminCode] varchar(12) not null, "
             "[OrgName] varchar(50) not null, [Password] varchar(10) null, [Address1] varchar(50) null, "
             "[Address2] varchar(50) null, [City] varchar(30) null, [State] varchar(2) null, "
             "[PostalCode] varchar(10) null, [ContactName] varchar(50) null, [PhoneNumber] varchar(20) null, "
             "[LastModDate] datetime null, [Comments] text null);"
             "create unique index xRL_Agencies_AdminCode on RL_Agencies(AdminCode);"
             "create unique index xRL_Agencies_OrgName on RL_Agencies(OrgName);"
             "INSERT INTO RL_Agencies VALUES(1, 'NONE', 'Nobody', NULL, 'x', 'x', 'x', 'x', 'x', 'x', 'x', "
             "  NULL, 'x');"
             "INSERT INTO RL_Agencies VALUES(2, 'AG2', 'Agency Two', 'pw', '1 Main St', 'Suite 4', "
             "  'Springfield', 'IL', '62701', 'Ann Lee', '555-0101', '20240101', 'Old note');"
             "INSERT INTO RL_Agencies VALUES(3, 'AG3', 'Agency Three', NULL, '9 Elm', NULL, "
             "  'Shelbyville', 'IL', '62565', 'Bob', '555-0202', NULL, NULL);"
             "UPDATE RL_Control SET ItemValue = '5.0' WHERE ItemName = 'MFStructureVersion';" +
             std::string(kContentRows)) == SQLITE_OK;
}

RawDB::RawDB(const std::string& path) {
  if (sqlite3_open(path.c_str(), &Db) != SQLITE_OK) throw std::runtime_error("cannot open " + path);
}

RawDB::~RawDB() { sqlite3_close(Db); }

int RawDB::exec(const std::string& sql) {
  return sqlite3_exec(Db, sql.c_str(), nullptr, nullptr, nullptr);
}

std::vector<std::string> RawDB::rows(const std::string& sql) {
  std::vector<std::string> result;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(Db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
    throw std::runtime_error(std::string("bad test SQL: ") + sqlite3_errmsg(Db));
  while (sqlite3_step(statement) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(statement); ++i) {
      if (i > 0) row += "|";
      const unsigned char* text = sqlite3_column_text(statement, i);
      row += text == nullptr ? "<null>" : reinterpret_cast<const char*>(text);
    }
    result.push_back(row);
  }
  sqlite3_finalize(statement);
  return result;
}

std::string RawDB::value(const std::string& sql) {
  std::vector<std::string> all = rows(sql);
  return all.empty() ? std::string() : all.front();
}

TTableDef* table_model(RawDB& raw, const std::string& name, int skipped) {
  auto* table = new TTableDef(name);
  int order = 0;
  for (const std::string& column : raw.rows("SELECT name FROM pragma_table_info('" + name + "')")) {
    if (order != skipped)
      table->AddColumn(new TFieldDef(column, order, order == 0 ? edtInteger : edtVarchar, order == 0 ? 0 : 50,
                                     order != 0, order == 0, false));
    ++order;
  }
  for (const std::string& sql :
       raw.rows("SELECT sql FROM sqlite_master WHERE type = 'index' AND tbl_name = '" + name + "'"))
    table->AddIndex(sql);
  return table;
}

std::vector<std::string> snapshot(const std::string& path) {
  RawDB raw(path);
  std::vector<std::string> result =
      raw.rows("SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name");
  // Rows in rowid order; those of a table without rowids in the order of
  // its primary key, in which a plain read gives them. The PRAGMA reads the
  // schema even where a table of the file is named like its function.
  for (const std::string& table : raw.rows("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
    std::string quoted = table;
    for (size_t at = quoted.find('\''); at != std::string::npos; at = quoted.find('\'', at + 2)) quoted.insert(at, 1, '\'');
    // schema|name|type|ncol|wr|strict: the flag two fields from the end.
    std::string listed = raw.value("PRAGMA main.table_list('" + quoted + "')");
    bool withoutRowid = listed.size() > 4 && listed.compare(listed.size() - 4, 3, "|1|") == 0;
    for (const std::string& row : raw.rows("SELECT * FROM [" + table + "]" + (withoutRowid ? "" : " ORDER BY rowid")))
      result.push_back(table + ": " + row);
  }
  return result;
}

namespace {

// The counter that connections opened now report to.
StatementCount* gOpenedCount = nullptr;

}  // namespace

StatementCount::StatementCount(const char* mark, sqlite3* db) : Mark(mark), Db(db) {
  if (Db != nullptr) {
    sqlite3_trace_v2(Db, SQLITE_TRACE_STMT, trace, this);
  } else {
    gOpenedCount = this;
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(trace_opened));
  }
}

StatementCount::~StatementCount() {
  if (Db != nullptr) {
    sqlite3_trace_v2(Db, 0, nullptr, nullptr);
  } else {
    sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(trace_opened));
    gOpenedCount = nullptr;
  }
}

int StatementCount::trace(unsigned, void* counter, void* statement, void*) {
  StatementCount* self = static_cast<StatementCount*>(counter);
  const char* sql = sqlite3_sql(static_cast<sqlite3_stmt*>(statement));
  if (self != nullptr && sql != nullptr && strstr(sql, self->Mark) != nullptr) ++self->Count;
  return 0;
}

int StatementCount::trace_opened(sqlite3* db, const char**, const void*) {
  sqlite3_trace_v2(db, SQLITE_TRACE_STMT, trace, gOpenedCount);
  return SQLITE_OK;
}
