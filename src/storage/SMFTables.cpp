// The metafile schema writer. The creation texts below are part of the file
// format: the schema reader parses CHECK and DEFAULT clauses back out of them.
#include "storage/SMFTables.h"

#include <stdexcept>
#include <vector>

#include "storage/SQLDB.h"
#include "storage/SQLQuery.h"
#include "storage/Utility.h"
#include "storage/WriteScope.h"

namespace {

struct TControlTableText {
  const char* Name;
  std::vector<const char*> Columns;
  std::vector<const char*> Indexes;
};

const TControlTableText kControlTables[] = {
    {"RL_Control",
     {"[PKey] integer not null primary key, \r\n",
      "[ItemName] varchar(30) not null, \r\n",
      "[ItemValue] varchar(50) null \r\n"},
     {"create unique index xRL_Control_ItemName on RL_Control(ItemName);"}},
    {"RL_Agencies",
     {"[PKey] integer not null primary key, \r\n",
      "[AdminCode] varchar(12) not null collate nocase, \r\n",
      "[OrgName] varchar(50) not null collate nocase, \r\n",
      "[Password] varchar(10) null collate nocase, \r\n",
      "[LastModDate] datetime null, \r\n",
      "[Comments] text null \r\n"},
     {"create unique index xRL_Agencies_AdminCode on RL_Agencies(AdminCode);",
      "create unique index xRL_Agencies_OrgName on RL_Agencies(OrgName);"}},
    {"RL_Edits",
     {"[PKey] integer not null primary key, \r\n",
      "[AgencyPKey] integer not null default 1 references RL_Agencies(PKey), \r\n",
      "[IsMultiField] integer not null default 0, \r\n",
      "[EditTag] varchar(20) not null collate nocase, \r\n",
      "[EditName] varchar(100) not null collate nocase, \r\n",
      "[MessagePKey] integer not null default 1 references RL_Messages(PKey), \r\n",
      "[LastModDate] datetime null, \r\n",
      "[Description] text null, \r\n",
      "[EditLogic] text null, \r\n",
      "[CompiledLogic] text null, \r\n",
      "[AdminNotes] text null \r\n"},
     {"create index xRL_Edits_AgencyPKey on RL_Edits(AgencyPKey);",
      "create index xRL_Edits_MessagePKey on RL_Edits(MessagePKey);",
      "create unique index xRL_Edits_EditTag on RL_Edits(EditTag);",
      "create unique index xRL_Edits_EditName on RL_Edits(EditName);"}},
    {"RL_EditSets",
     {"[PKey] integer not null primary key, \r\n",
      "[AgencyPKey] integer not null default 1 references RL_Agencies(PKey), \r\n",
      "[EditSetTag] varchar(20) not null collate nocase, \r\n",
      "[EditSetName] varchar(100) not null collate nocase, \r\n",
      "[LastModDate] datetime null, \r\n",
      "[Description] text null \r\n"},
     {"create index xRL_EditSets_AgencyPKey on RL_EditSets(AgencyPKey);",
      "create unique index xRL_EditSets_EditSetTag on RL_EditSets(EditSetTag);",
      "create unique index xRL_EditSets_EditSetName on RL_EditSets(EditSetName);"}},
    {"RL_Fields",
     {"[PKey] integer not null primary key, \r\n",
      "[AgencyPKey] integer not null default 1 references RL_Agencies(PKey), \r\n",
      "[FieldNumber] integer not null check(typeof(FieldNumber) = 'integer'), \r\n",
      "[FieldName] varchar(50) not null collate nocase, \r\n",
      "[LocalName] varchar(50) not null collate nocase, \r\n",
      "[FieldLength] integer not null default 1 check(typeof(FieldLength) = 'integer'), \r\n",
      "[DataType] char(2) not null default 'S ' check(length(DataType) <= 2) "
      "check(DataType in ('S ', 'D1')), \r\n",
      "[LastModDate] datetime null, \r\n",
      "[Comments] text null \r\n"},
     {"create index xRL_Fields_AgencyPKey on RL_Fields(AgencyPKey);",
      "create unique index xRL_Fields_FieldNumber on RL_Fields(FieldNumber);",
      "create unique index xRL_Fields_FieldName on RL_Fields(FieldName);",
      "create unique index xRL_Fields_LocalName on RL_Fields(LocalName);"}},
    {"RL_Layouts",
     {"[PKey] integer not null primary key, \r\n",
      "[AgencyPKey] integer not null default 1 references RL_Agencies(PKey), \r\n",
      "[LayoutTag] varchar(20) not null collate nocase, \r\n",
      "[LayoutName] varchar(100) not null collate nocase, \r\n",
      "[LastModDate] datetime null, \r\n",
      "[Description] text null \r\n"},
     {"create index xRL_Layouts_AgencyPKey on RL_Layouts(AgencyPKey);",
      "create unique index xRL_Layouts_LayoutTag on RL_Layouts(LayoutTag);",
      "create unique index xRL_Layouts_LayoutName on RL_Layouts(LayoutName);"}},
    {"RL_Messages",
     {"[PKey] integer not null primary key, \r\n",
      "[AgencyPKey] integer not null default 1 references RL_Agencies(PKey), \r\n",
      "[MessageNumber] integer not null check(typeof(MessageNumber) = 'integer'), \r\n",
      "[Message] varchar(100) not null collate nocase, \r\n",
      "[LastModDate] datetime null \r\n"},
     {"create index xRL_Messages_AgencyPKey on RL_Messages(AgencyPKey);",
      "create unique index xRL_Messages_MessageNumber on RL_Messages(MessageNumber);",
      "create unique index xRL_Messages_Message on RL_Messages(Message);"}},
    {"RL_LookupTables",
     {"[PKey] integer not null primary key, \r\n",
      "[AgencyPKey] integer not null default 1 references RL_Agencies(PKey), \r\n",
      "[TableName] varchar(50) not null collate nocase, \r\n",
      "[RecCount] integer not null check(typeof(RecCount) = 'integer'), \r\n",
      "[LastModDate] datetime null, \r\n",
      "[Comments] text null \r\n"},
     {"create index xRL_LookupTables_AgencyPKey on RL_LookupTables(AgencyPKey);",
      "create unique index xRL_LookupTables_TableName on RL_LookupTables(TableName);"}},
    {"RL_EditSetEditsPivot",
     {"[PKey] integer not null primary key, \r\n",
      "[EditPKey] integer not null references RL_Edits(PKey) on delete cascade, \r\n",
      "[EditSetPKey] integer not null references RL_EditSets(PKey) on delete cascade \r\n"},
     {"create index xRL_EditSetEditsPivot_EditSetPKey on RL_EditSetEditsPivot(EditSetPKey);",
      "create index xRL_EditSetEditsPivot_EditPKey on RL_EditSetEditsPivot(EditPKey);",
      "create unique index xRL_EditSetEditsPivot_NoDupes on RL_EditSetEditsPivot(EditSetPKey,EditPKey);"}},
    {"RL_EditErrorsPivot",
     {"[PKey] integer not null primary key, \r\n",
      "[EditPKey] integer not null references RL_Edits(PKey) on delete cascade, \r\n",
      "[ErrorText] varchar(80) not null collate nocase \r\n",
      "check(length(ErrorText) <= 80), \r\n",
      "[QueltFunc] char(1) not null check(QueltFunc in ('E','S')) \r\n"},
     {"create index xRL_EditErrorsPivot_EditPKey on RL_EditErrorsPivot(EditPKey);"}},
    {"RL_EditMessagesPivot",
     {"[PKey] integer not null primary key, \r\n",
      "[EditPKey] integer not null references RL_Edits(PKey) on delete cascade, \r\n",
      "[MessagePKey] integer not null references RL_Messages(PKey) on delete cascade, \r\n",
      "[QueltFunc] char(1) not null check(QueltFunc in ('A','D','E','I','S','U','W')) \r\n"},
     {"create index xRL_EditMessagesPivot_EditPKey on RL_EditMessagesPivot(EditPKey);",
      "create index xRL_EditMessagesPivot_MessagePKey on RL_EditMessagesPivot(MessagePKey);",
      "create unique index xRL_EditMessagesPivot_NoDupes on RL_EditMessagesPivot(EditPKey,MessagePKey);"}},
    {"RL_EditFieldsPivot",
     {"[PKey] integer not null primary key, \r\n",
      "[EditPKey] integer not null references RL_Edits(PKey) on delete cascade, \r\n",
      "[FieldPKey] integer not null references RL_Fields(PKey) on delete cascade, \r\n",
      "[FieldOrder] integer not null check(typeof(FieldOrder) = 'integer') \r\n"},
     {"create index xRL_EditFieldsPivot_EditPKey on RL_EditFieldsPivot(EditPKey);",
      "create index xRL_EditFieldsPivot_FieldPKey on RL_EditFieldsPivot(FieldPKey);",
      "create unique index xRL_EditFieldsPivot_NoDupes on RL_EditFieldsPivot(EditPKey,FieldPKey);"}},
    {"RL_EditTablesPivot",
     {"[PKey] integer not null primary key, \r\n",
      "[EditPKey] integer not null references RL_Edits(PKey) on delete cascade, \r\n",
      "[LookupTablePKey] integer not null references RL_LookupTables(PKey) on delete cascade \r\n"},
     {"create index xRL_EditTablesPivot_EditPKey on RL_EditTablesPivot(EditPKey);",
      "create index xRL_EditTablesPivot_LookupTablePKey on RL_EditTablesPivot(LookupTablePKey);",
      "create unique index xRL_EditTablesPivot_NoDupes on RL_EditTablesPivot(EditPKey,LookupTablePKey);"}},
    {"RL_LayoutFieldsPivot",
     {"[PKey] integer not null primary key, \r\n",
      "[LayoutPKey] integer not null references RL_Layouts(PKey) on delete cascade, \r\n",
      "[FieldPKey] integer not null references RL_Fields(PKey) on delete cascade, \r\n",
      "[StartPos] integer not null check(typeof(StartPos) = 'integer') \r\n"},
     {"create index xRL_LayoutFieldsPivot_LayoutPKey on RL_LayoutFieldsPivot(LayoutPKey);",
      "create index xRL_LayoutFieldsPivot_FieldPKey on RL_LayoutFieldsPivot(FieldPKey);",
      "create unique index xRL_LayoutFieldsPivot_NoDupes on RL_LayoutFieldsPivot(LayoutPKey, FieldPkey);"}},
};

const int kControlTableCount = sizeof kControlTables / sizeof kControlTables[0];

const char* const kControlRowPrefix = "INSERT INTO RL_Control (ItemName, ItemValue) ";

const char* const kAgenciesDefaultRow =
    "INSERT INTO RL_Agencies([AdminCode],[OrgName],[Password],[LastModDate],[Comments]) "
    "VALUES('NONE','No Standard Setter', NULL,NULL,NULL);\n";

const char* const kMessagesDefaultRow =
    "INSERT INTO RL_Messages([AgencyPKey],[MessageNumber],[Message],[LastModDate]) "
    "VALUES(1,0,'This edit has no default error message',NULL);";

// The owner tables that the upgrade rebuilds, in the order it rebuilds them.
const TSMFTableId kUpgradedTables[] = {tidAgencies, tidEdits,   tidEditSets,    tidFields,
                                       tidLayouts,  tidMessages, tidLookupTables};

// Older agencies kept address and contact columns; they are folded into Comments.
const char* const kAgenciesCopy =
    "INSERT INTO RL_Agencies ( [PKey], [AdminCode], [OrgName], [Password], [LastModDate], "
    "[Comments] ) SELECT  [PKey], [AdminCode], [OrgName], [Password], [LastModDate], "
    "IFNULL([Comments],'') || char(10) || 'ADDRESS: ' || IFNULL([Address1],'') || char(10) || "
    "IFNULL([Address2],'') || char(10) || IFNULL([City],'') || ' ' || IFNULL([State],'') || ' ' || "
    "IFNULL([PostalCode],'') || char(10) || 'CONTACT: ' || IFNULL([ContactName],'') || char(10) || "
    "'PHONE: ' || IFNULL([PhoneNumber],'') FROM RL_Agencies_BAK WHERE [PKey] != 1;";

const char* copy_statement(TSMFTableId id) {
  switch (id) {
    case tidAgencies:
      return kAgenciesCopy;
    case tidEdits:
      return "INSERT INTO RL_Edits ( [PKey], [AgencyPKey], [IsMultiField], [EditTag], [EditName], "
             "[MessagePKey], [LastModDate], [Description], [EditLogic], [CompiledLogic], "
             "[AdminNotes] ) SELECT  [PKey], [AgencyPKey], [IsMultiField], [EditTag], [EditName], "
             "[MessagePKey], [LastModDate], [Description], [EditLogic], [CompiledLogic], "
             "[AdminNotes] FROM RL_Edits_BAK; ";
    case tidEditSets:
      return "INSERT INTO RL_EditSets ( [PKey], [AgencyPKey], [EditSetTag], [EditSetName], "
             "[LastModDate], [Description] ) SELECT  [PKey], [AgencyPKey], [EditSetTag], "
             "[EditSetName], [LastModDate], [Description] FROM RL_EditSets_BAK; ";
    case tidFields:
      return "INSERT INTO RL_Fields ( [PKey], [AgencyPKey], [FieldNumber], [FieldName], "
             "[LocalName], [FieldLength], [DataType], [LastModDate], [Comments] ) SELECT  [PKey], "
             "[AgencyPKey], [FieldNumber], [FieldName], [LocalName], [FieldLength], [DataType], "
             "[LastModDate], [Comments] FROM RL_Fields_BAK; ";
    case tidLayouts:
      return "INSERT INTO RL_Layouts ( [PKey], [AgencyPKey], [LayoutTag], [LayoutName], "
             "[LastModDate], [Description] ) SELECT  [PKey], [AgencyPKey], [LayoutTag], "
             "[LayoutName], [LastModDate], [Description] FROM RL_Layouts_BAK; ";
    case tidMessages:
      return "INSERT INTO RL_Messages ( [PKey], [AgencyPKey], [MessageNumber], [Message], "
             "[LastModDate] ) SELECT  [PKey], [AgencyPKey], [MessageNumber], [Message], "
             "[LastModDate] FROM RL_Messages_BAK WHERE [PKey] != 1;";
    case tidLookupTables:
      return "INSERT INTO RL_LookupTables ( [PKey], [AgencyPKey], [TableName], [RecCount], "
             "[LastModDate], [Comments] ) SELECT  [PKey], [AgencyPKey], [TableName], [RecCount], "
             "[LastModDate], [Comments] FROM RL_LookupTables_BAK;";
    default:
      return nullptr;
  }
}

bool valid_id(TSMFTableId id) { return id >= 0 && id < kControlTableCount; }

}  // namespace

const char* smf_table_name(TSMFTableId id) { return valid_id(id) ? kControlTables[id].Name : ""; }

TSMFTables::TSMFTables(TSQLDB* db) : FSQLDB(db), FQuery(new TSQLQuery(db)) {}

TSMFTables::~TSMFTables() { delete FQuery; }

const char* TSMFTables::LastErrorMessage() const { return FQuery->LastErrorMessage(); }

bool TSMFTables::run(const std::string& sql) {
  FSQL = sql;
  FQuery->SetSQLText(FSQL, true);
  return FQuery->ExecSQL();
}

bool TSMFTables::CreateSMFTables(const std::string& version) {
  // Foreign keys stay off while tables are dropped and created, so creating
  // over an existing metafile cannot fail half-way on its references.
  if (!toggle_foreign_keys_pragma(false)) return false;
  bool ok = false;
  {
    TWriteScope scope(FSQLDB, nullptr, nullptr, nullptr, nullptr);
    ok = scope.IsOpen();
    for (int id = 0; ok && id < kControlTableCount; ++id)
      ok = create_table(TSMFTableId(id), version) && create_indexes(TSMFTableId(id));
    ok = scope.Finish(ok);
  }
  return toggle_foreign_keys_pragma(true) && ok;
}

bool TSMFTables::create_from_definition(TSMFTableId id, const std::string& defaultRows) {
  const TControlTableText& table = kControlTables[id];
  std::string sql = std::string("DROP TABLE IF EXISTS ") + table.Name + ";\r\n";
  sql += std::string("CREATE TABLE ") + table.Name + "( \r\n";
  for (const char* column : table.Columns) sql += column;
  sql += ");";
  if (!run(sql)) return false;
  return defaultRows.empty() || run(defaultRows);
}

bool TSMFTables::create_table(TSMFTableId id, const std::string& version) {
  switch (id) {
    case tidControl: return create_table_RL_Control(version);
    case tidAgencies: return create_table_RL_Agencies();
    case tidEdits: return create_table_RL_Edits();
    case tidEditSets: return create_table_RL_EditSets();
    case tidFields: return create_table_RL_Fields();
    case tidLayouts: return create_table_RL_Layouts();
    case tidMessages: return create_table_RL_Messages();
    case tidLookupTables: return create_table_RL_LookupTables();
    case tidEditSetEditsPivot: return create_table_RL_EditSetEditsPivot();
    case tidEditErrorsPivot: return create_table_RL_EditErrorsPivot();
    case tidEditMessagesPivot: return create_table_RL_EditMessagesPivot();
    case tidEditFieldsPivot: return create_table_RL_EditFieldsPivot();
    case tidEditTablesPivot: return create_table_RL_EditTablesPivot();
    case tidLayoutFieldsPivot: return create_table_RL_LayoutFieldsPivot();
  }
  return false;
}

bool TSMFTables::create_indexes(TSMFTableId id) {
  if (!valid_id(id)) return false;
  std::string sql;
  for (const char* index : kControlTables[id].Indexes) sql += index;
  return run(sql);
}

bool TSMFTables::create_table_RL_Control(const std::string& version) {
  std::string rows = kControlRowPrefix;
  rows += "VALUES ('MFStructureVersion', '" + quote_sql_value(version) + "');\n";
  rows += kControlRowPrefix;
  rows += "VALUES ('MFContentVersion', 'Metafile author to provide this');\n";
  rows += kControlRowPrefix;
  rows += "VALUES ('MFComment', 'Metafile comment goes here');\n";
  return create_from_definition(tidControl, rows);
}

bool TSMFTables::create_table_RL_Agencies() { return create_from_definition(tidAgencies, kAgenciesDefaultRow); }
bool TSMFTables::create_table_RL_Edits() { return create_from_definition(tidEdits, ""); }
bool TSMFTables::create_table_RL_EditSets() { return create_from_definition(tidEditSets, ""); }
bool TSMFTables::create_table_RL_Fields() { return create_from_definition(tidFields, ""); }
bool TSMFTables::create_table_RL_Layouts() { return create_from_definition(tidLayouts, ""); }
bool TSMFTables::create_table_RL_Messages() { return create_from_definition(tidMessages, kMessagesDefaultRow); }
bool TSMFTables::create_table_RL_LookupTables() { return create_from_definition(tidLookupTables, ""); }
bool TSMFTables::create_table_RL_EditSetEditsPivot() { return create_from_definition(tidEditSetEditsPivot, ""); }
bool TSMFTables::create_table_RL_EditErrorsPivot() { return create_from_definition(tidEditErrorsPivot, ""); }
bool TSMFTables::create_table_RL_EditMessagesPivot() { return create_from_definition(tidEditMessagesPivot, ""); }
bool TSMFTables::create_table_RL_EditFieldsPivot() { return create_from_definition(tidEditFieldsPivot, ""); }
bool TSMFTables::create_table_RL_EditTablesPivot() { return create_from_definition(tidEditTablesPivot, ""); }
bool TSMFTables::create_table_RL_LayoutFieldsPivot() { return create_from_definition(tidLayoutFieldsPivot, ""); }

// Also switches legacy ALTER TABLE behaviour on while foreign keys are off, so
// renaming a table never rewrites the REFERENCES clauses of the other tables.
bool TSMFTables::toggle_foreign_keys_pragma(bool on) {
  return run(on ? "PRAGMA foreign_keys=ON;\nPRAGMA legacy_alter_table=OFF;"
                : "PRAGMA foreign_keys=OFF;\nPRAGMA legacy_alter_table=ON;");
}

bool TSMFTables::rename_table(const std::string& from, const std::string& to) {
  return run("ALTER TABLE " + from + " RENAME TO " + to + ";");
}

bool TSMFTables::import_data_from_BAK(const std::string& version, const std::string& table,
                                      const std::string& backup) {
  if (version != "5.01") return false;
  for (TSMFTableId id : kUpgradedTables)
    if (table == kControlTables[id].Name && backup == table + "_BAK") return run(copy_statement(id));
  return false;
}

bool TSMFTables::drop_BAK_table(const std::string& backup) { return run("DROP TABLE " + backup + ";"); }

bool TSMFTables::update_mf_structure_version(const std::string& version) {
  return run("UPDATE RL_Control SET [ItemValue] = '" + quote_sql_value(version) +
             "' WHERE [ItemName] = 'MFStructureVersion';");
}

std::string TSMFTables::stored_structure_version() {
  TSQLQuery query(FSQLDB);
  query.SetSQLText("SELECT [ItemValue] FROM RL_Control WHERE [ItemName] = 'MFStructureVersion';", true);
  try {
    if (query.SetIsActive(true) && !query.Eof()) return query.GetFieldByNumber(0);
  } catch (const std::runtime_error&) {
    // No readable version: the upgrade itself decides.
  }
  return std::string();
}

// Returns the failure line of the first step that fails, or an empty text.
std::string TSMFTables::rebuild_tables(const std::string& version) {
  for (TSMFTableId id : kUpgradedTables) {
    std::string table = kControlTables[id].Name;
    std::string backup = table + "_BAK";
    if (!rename_table(table, backup)) return "* unable to rename " + table + "\n";
    if (!create_table(id, version)) return "* unable to create " + table + "\n";
    if (!import_data_from_BAK(version, table, backup)) return "* unable to import data into " + table + "\n";
    if (!drop_BAK_table(backup)) return "* unable to drop table " + backup + "\n";
    if (!create_indexes(id)) return "* unable to create indexes on " + table + "\n";
  }
  return std::string();
}

// The rebuild and the version update run in one transaction, so a failed
// upgrade leaves the file exactly as it was. It never nests in another
// transaction, inside which foreign keys could not be switched off.
std::string TSMFTables::upgrade_in_transaction(const std::string& version) {
  TWriteScope scope(FSQLDB, nullptr, nullptr, nullptr, nullptr);
  if (!scope.IsOpen()) return "* unable to begin the upgrade transaction\n";
  std::string failure = rebuild_tables(version);
  if (failure.empty() && !update_mf_structure_version(version))
    failure = "* unable to update metafile structure version in RL_Control\n";
  if (!scope.Finish(failure.empty()) && failure.empty()) failure = "* unable to commit the upgrade\n";
  return failure;
}

int TSMFTables::UpdateMetafile(const std::string& version, char* message, int length) {
  if (version != "5.01") return -1;
  if (stored_structure_version() == version) return 0;
  std::string failure;
  if (!toggle_foreign_keys_pragma(false)) {
    failure = "* unable to disable foreign keys\n";
  } else {
    failure = upgrade_in_transaction(version);
    if (!toggle_foreign_keys_pragma(true)) failure += "* unable to reinstate/enable foreign keys\n";
  }
  if (failure.empty()) return 0;
  copy_to_buffer(failure, message, length);
  return -1;
}
