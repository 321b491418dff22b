// The metafile schema writer: creates the fourteen RL_ control tables with
// their indexes and default rows, and upgrades a metafile of the preceding
// structure to the current one.
#pragma once

#include <string>

class TSQLDB;
class TSQLQuery;

// Creation order of the control tables (not the order of TRL_MCO).
enum TSMFTableId {
  tidControl = 0,
  tidAgencies = 1,
  tidEdits = 2,
  tidEditSets = 3,
  tidFields = 4,
  tidLayouts = 5,
  tidMessages = 6,
  tidLookupTables = 7,
  tidEditSetEditsPivot = 8,
  tidEditErrorsPivot = 9,
  tidEditMessagesPivot = 10,
  tidEditFieldsPivot = 11,
  tidEditTablesPivot = 12,
  tidLayoutFieldsPivot = 13
};

class TSMFTables {
 public:
  explicit TSMFTables(TSQLDB* db);
  ~TSMFTables();
  TSMFTables(const TSMFTables&) = delete;
  TSMFTables& operator=(const TSMFTables&) = delete;

  // Drops and creates every control table in one transaction; true on success.
  bool CreateSMFTables(const std::string& version);
  // Upgrades the older structure to `version`; 0, or -1 with failure lines
  // copied into the message buffer. A file already at `version` is left alone.
  int UpdateMetafile(const std::string& version, char* message, int length);
  const char* LastErrorMessage() const;

  bool create_table(TSMFTableId id, const std::string& version);
  bool create_indexes(TSMFTableId id);
  bool create_table_RL_Control(const std::string& version);
  bool create_table_RL_Agencies();
  bool create_table_RL_Edits();
  bool create_table_RL_EditSets();
  bool create_table_RL_Fields();
  bool create_table_RL_Layouts();
  bool create_table_RL_Messages();
  bool create_table_RL_LookupTables();
  bool create_table_RL_EditSetEditsPivot();
  bool create_table_RL_EditErrorsPivot();
  bool create_table_RL_EditMessagesPivot();
  bool create_table_RL_EditFieldsPivot();
  bool create_table_RL_EditTablesPivot();
  bool create_table_RL_LayoutFieldsPivot();

  // Steps of the upgrade.
  bool toggle_foreign_keys_pragma(bool on);
  bool rename_table(const std::string& from, const std::string& to);
  bool import_data_from_BAK(const std::string& version, const std::string& table,
                            const std::string& backup);
  bool drop_BAK_table(const std::string& backup);
  bool update_mf_structure_version(const std::string& version);

 private:
  bool run(const std::string& sql);
  bool create_from_definition(TSMFTableId id, const std::string& defaultRows);
  std::string stored_structure_version();
  std::string rebuild_tables(const std::string& version);
  std::string upgrade_in_transaction(const std::string& version);

  TSQLDB* FSQLDB;
  TSQLQuery* FQuery;
  std::string FSQL;
};

const char* smf_table_name(TSMFTableId id);
