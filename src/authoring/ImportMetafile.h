// The open import of one metafile: a second metafile attached to the
// metafile's connection as "SourceDB" while the built-in super user is logged
// in, the listing of its import candidates and the copy of its lookup tables.
#pragma once

#include <string>
#include <vector>

class TSQLDB;
class TSQLQuery;
class TEngineErrorsPump;
class TQb_AccessController;
class TImportTriggers;
class TForeignKeyWatch;
struct TMade;

class TImportMetafile {
 public:
  TImportMetafile(TSQLDB* db, TEngineErrorsPump* pump, TQb_AccessController* access);
  ~TImportMetafile();
  TImportMetafile(const TImportMetafile&) = delete;
  TImportMetafile& operator=(const TImportMetafile&) = delete;

  // Attaches the source and logs the super user in; 0 or -1.
  int Open(const char* path);
  // Logs the import's super user out and detaches the source; 0 or -1 (the
  // source stays attached when the database refuses the detach).
  int Close();
  bool IsAttached() const { return !FAlias.empty(); }
  // Whether the connection holds a read of the attached source, which the
  // detach cannot run beside.
  bool SourceHeld() const;

  int GetImportCandidates(const char* tableName, const char* keyField, void* owner, void* callback);
  int ImportLookupTable(const std::string& tableName);

  // One statement of a listing, the kind of candidate its rows are, and for
  // pass 4 the members that decide whether a row is one.
  struct TPass {
    int Kind;
    std::string SQL;
    int Members;
  };
  struct TListing;

 private:
  int attach_to_metafile(const std::string& path);
  int detach_from_metafile();
  void add_error(const char* method, const std::string& message);
  void add_failure(const char* method, const std::string& what, const std::string& reason, const std::string& sql);
  // One listing per control table, each running its passes: 0 or -1.
  int get_agencies();
  int get_edits(const char* keyField);
  int get_edit_sets(const char* keyField);
  int get_fields();
  int get_layouts(const char* keyField);
  int get_messages();
  int get_tables();
  int run_keyed_listing(const TListing& listing, const char* keyField);
  int run_listing(const TListing& listing, bool byTag);
  struct TCandidate;
  bool read_pass(const std::string& table, const TPass& pass, bool byTag, std::vector<TCandidate>& candidates,
                 std::string& reason);
  // Whether an edit set (a layout) of the source and one of the target have
  // the same members: neither has a member that the other lacks.
  bool editset_edits_match(int sourceSetPKey, int targetSetPKey, bool byTag);
  bool layout_fields_match(int sourceLayoutPKey, int targetLayoutPKey, bool byTag);
  bool names_free(const std::string& tableName);
  // What the metafile holds under the name (held_object), `step` naming the read.
  std::string held_name(const std::string& name, std::string& step);
  // `reason`, or that another connection holds the source, where the
  // database's last answer was busy and a connection of the import's own,
  // which does not wait, cannot read the source either.
  std::string source_reason(const std::string& reason) const;
  bool import_steps(const std::string& tableName, TForeignKeyWatch& keys, std::string& step, std::string& reason);
  bool refresh_rows(TSQLQuery& runner, const std::string& target, TForeignKeyWatch& keys, std::string& step,
                    std::string& reason);
  std::vector<std::string> source_column(const std::string& tableName, const char* column, const char* kind,
                                         std::string& step);
  // The table being imported, the source's text of it, and the triggers made
  // on it, while they are being made.
  struct TDefinitions {
    std::string Table;
    std::string TableText;
    TImportTriggers* Triggers;
  };
  bool run_definition(TSQLQuery& runner, const TDefinitions& definitions, const std::string& text, std::string& reason);
  std::string nothing_new(const TDefinitions& definitions, const std::string& text, const TMade& made);

  std::string FSourcePath;
  std::string FAlias;
  bool FSuperUserWasLoggedIn = true;
  TSQLDB* FSQLDB;
  TEngineErrorsPump* FEngineErrorsPump;
  TQb_AccessController* FAccessController;
  // The host's owner and callback while a listing of candidates runs; null
  // outside one.
  void* FCallbackOwner = nullptr;
  void* FCallback = nullptr;
};
