// Listing the import candidates of one control table: source rows whose key
// the target lacks (kind 1), rows under the same key that differ (kind 2) and
// rows that clash with a target row (kind 3), each handed to the host's
// callback. Every pass is one SELECT over both metafiles.
#include <stdexcept>

#include "authoring/ImportMetafile.h"
#include "quelt.h"
#include "storage/SQLQuery.h"
#include "storage/Utility.h"

namespace {

typedef TImportMetafile::TPass TPass;

enum { kNoMembers = 0, kEditMembers = 1, kFieldMembers = 2 };

const char* const kAgency = "sa.AdminCode != ta.AdminCode";
const char* const kFieldDisplay = "src.FieldName || ' [# ' || src.FieldNumber || ']' as RecordKey";
const char* const kMessageDisplay = "src.MessageNumber || ': ' || src.Message as TheMessage";

std::string differs(const std::string& column) { return "src." + column + " != targ." + column; }

std::string clash(const std::string& same, const std::string& other) {
  return "(src." + same + " = targ." + same + " AND src." + other + " != targ." + other + ")";
}

std::string pair_select(const std::string& display) {
  return "SELECT src.PKey as SrcPKey, targ.PKey as TargPKey, " + display + ", sa.AdminCode ";
}

// Pass 1: source rows whose key no target row has. `select` names the source
// PKey, the display text and the owner's admin code.
TPass absent(const std::string& table, const std::string& select, const std::string& key) {
  return {ImportCandidateAbsent,
          select + "FROM SourceDB." + table + " src, SourceDB.RL_Agencies sa " + "WHERE src.AgencyPKey = sa.PKey " +
              "AND NOT EXISTS ( " + "SELECT targ.PKey FROM " + table + " targ " + "WHERE targ." + key + " = src." +
              key + " ); ",
          kNoMembers};
}

// Pass 2: rows under the same key that differ in a compared column (edits
// also compare their default messages' numbers).
TPass different(const std::string& table, const std::string& display, const std::string& key,
                const std::vector<std::string>& comparisons, bool withMessages) {
  std::string sql = pair_select(display) + "FROM SourceDB." + table + " src, SourceDB.RL_Agencies sa, " +
                    (withMessages ? "SourceDB.RL_Messages sm, " : "") + "\t " + table + " targ, RL_Agencies ta" +
                    (withMessages ? ", RL_Messages tm" : "") +
                    " WHERE sa.PKey = src.AgencyPKey AND ta.PKey = targ.AgencyPKey " +
                    (withMessages ? "AND sm.PKey = src.MessagePKey AND tm.PKey = targ.MessagePKey " : "") + "AND src." +
                    key + " = targ." + key + " AND ( \t";
  for (size_t i = 0; i < comparisons.size(); ++i) sql += (i == 0 ? "" : "  OR ") + comparisons[i];
  return {ImportCandidateDiffers, sql + " );", kNoMembers};
}

// Pass 3: pairs that agree in one identifying column and not in another.
TPass clashing(const std::string& table, const std::string& display, const std::vector<std::string>& clashes) {
  std::string sql = pair_select(display) + "FROM SourceDB." + table + " src, " + table +
                    " targ, SourceDB.RL_Agencies sa WHERE (src.AgencyPKey = sa.PKey) AND (";
  for (size_t i = 0; i < clashes.size(); ++i) sql += (i == 0 ? "" : " OR ") + clashes[i];
  return {ImportCandidateClashes, sql + ");", kNoMembers};
}

// Edits, edit sets and layouts are keyed by tag or by name; edit sets and
// layouts of the same tag and name are also compared by their members.
std::vector<TPass> tagged_passes(const std::string& table, const std::string& tag, const std::string& name,
                                 bool byTag, std::vector<std::string> comparisons, int members) {
  const std::string& key = byTag ? tag : name;
  comparisons.insert(comparisons.begin(), differs(byTag ? name : tag));
  std::string display = "src." + name;
  std::vector<TPass> passes = {absent(table, "SELECT src.PKey as SrcPKey, " + display + ", sa.AdminCode ", key),
                               different(table, display, key, comparisons, table == "RL_Edits"),
                               clashing(table, display, {clash(tag, name), clash(name, tag)})};
  if (members != kNoMembers)
    passes.push_back({ImportCandidateDiffers,
                      pair_select(display) + "FROM SourceDB." + table + " src, " + table +
                          " targ, SourceDB.RL_Agencies sa WHERE src.AgencyPKey = sa.PKey AND src." + tag + " = targ." +
                          tag + " AND src." + name + " = targ." + name + ";",
                      members});
  return passes;
}

std::vector<TPass> agency_passes(bool) {
  return {{ImportCandidateAbsent,
           "SELECT src.PKey as SrcPKey, src.OrgName, src.AdminCode FROM SourceDB.RL_Agencies src WHERE NOT EXISTS ( "
           "SELECT targ.PKey FROM RL_Agencies targ WHERE targ.AdminCode = src.AdminCode ); ",
           kNoMembers},
          {ImportCandidateDiffers,
           "SELECT src.PKey as SrcPKey, targ.PKey as TargPKey, src.OrgName, src.AdminCode FROM SourceDB.RL_Agencies "
           "src, RL_Agencies targ WHERE src.AdminCode = targ.AdminCode AND (   src.OrgName != targ.OrgName OR "
           "src.Comments != targ.Comments);",
           kNoMembers},
          {ImportCandidateClashes,
           "SELECT src.PKey as SrcPKey, targ.PKey as TargPKey, src.OrgName, src.AdminCode FROM SourceDB.RL_Agencies "
           "src, RL_Agencies targ WHERE (src.OrgName = targ.OrgName AND src.AdminCode != targ.AdminCode) OR "
           "(src.AdminCode = targ.AdminCode AND src.OrgName != targ.OrgName);",
           kNoMembers}};
}

std::vector<TPass> edit_passes(bool byTag) {
  return tagged_passes("RL_Edits", "EditTag", "EditName", byTag,
                       {kAgency, "sm.MessageNumber != tm.MessageNumber", differs("Description"), differs("EditLogic"),
                        differs("AdminNotes")},
                       kNoMembers);
}

std::vector<TPass> edit_set_passes(bool byTag) {
  return tagged_passes("RL_EditSets", "EditSetTag", "EditSetName", byTag, {kAgency, differs("Description")},
                       kEditMembers);
}

std::vector<TPass> layout_passes(bool byTag) {
  return tagged_passes("RL_Layouts", "LayoutTag", "LayoutName", byTag, {kAgency, differs("Description")},
                       kFieldMembers);
}

std::vector<TPass> field_passes(bool) {
  return {absent("RL_Fields", std::string("SELECT src.PKey, ") + kFieldDisplay + ", " + "sa.AdminCode ", "FieldNumber"),
          different("RL_Fields", kFieldDisplay, "FieldNumber",
                    {differs("FieldName"), kAgency, differs("FieldLength"), differs("DataType"), differs("LocalName"),
                     differs("Comments")},
                    false),
          clashing("RL_Fields", kFieldDisplay,
                   {clash("FieldName", "FieldNumber"), clash("FieldNumber", "FieldName"),
                    clash("FieldNumber", "FieldLength")}),
          {ImportCandidateClashes,
           pair_select(kFieldDisplay) + "FROM SourceDB.RL_Fields src, RL_Fields targ, SourceDB.RL_Agencies sa  WHERE "
                                        "src.AgencyPKey = sa.PKey AND src.LocalName = targ.LocalName AND "
                                        "src.FieldNumber != targ.FieldNumber;",
           kNoMembers}};
}

std::vector<TPass> message_passes(bool) {
  return {absent("RL_Messages", std::string("SELECT src.PKey, ") + kMessageDisplay + ", sa.AdminCode ", "MessageNumber"),
          different("RL_Messages", kMessageDisplay, "MessageNumber", {kAgency, differs("Message")}, false),
          {ImportCandidateClashes,
           pair_select(kMessageDisplay) + "FROM SourceDB.RL_Messages src, RL_Messages targ, SourceDB.RL_Agencies sa "
                                          "WHERE src.AgencyPKey = sa.PKey AND (src.Message = targ.Message AND "
                                          "src.MessageNumber != targ.MessageNumber);",
           kNoMembers}};
}

std::vector<TPass> table_passes(bool) {
  return {absent("RL_LookupTables", "SELECT src.PKey as SrcPKey, src.TableName, sa.AdminCode ", "TableName"),
          different("RL_LookupTables", "src.TableName", "TableName",
                    {kAgency, differs("RecCount"), differs("LastModDate"), differs("Comments")}, false)};
}

// The members of set (or layout) `pkey` on side `a` that side `b` lacks in its
// set of the same tag or name. An edit counts as present when the other set
// has one of the same tag or one of the same name.
std::string unmatched_edits(const std::string& a, const std::string& aSchema, const std::string& b,
                            const std::string& bSchema, int pkey, bool byTag) {
  std::string key = byTag ? "EditSetTag" : "EditSetName";
  auto lacks = [&](const std::string& column) {
    return "NOT EXISTS (    SELECT " + b + "ed." + column + "    FROM " + bSchema + "RL_EditSetEditsPivot " + b +
           "piv, \t  " + bSchema + "RL_EditSets " + b + "set, " + bSchema + "RL_Edits " + b + "ed    WHERE " + b +
           "set.PKey = " + b + "piv.EditSetPKey    AND " + b + "ed.PKey=" + b + "piv.EditPKey    AND " + b + "set." +
           key + " = " + a + "set." + key + "    AND " + b + "ed." + column + " = " + a + "ed." + column + " )";
  };
  return "SELECT " + a + "ed.EditTag, " + a + "ed.EditName FROM " + aSchema + "RL_EditSetEditsPivot " + a +
         "piv,   " + aSchema + "RL_EditSets " + a + "set, " + aSchema + "RL_Edits " + a + "ed WHERE " + a +
         "set.PKey = " + a + "piv.EditSetPKey AND " + a + "ed.PKey=" + a + "piv.EditPKey AND " + a +
         "piv.EditSetPKey = " + intToString(pkey) + " AND " + lacks("EditTag") + " AND " + lacks("EditName") + ";";
}

// A source field needs a target field of the same number, start position
// and length; a target field only one of the same number.
std::string unmatched_fields(const std::string& a, const std::string& aSchema, const std::string& b,
                             const std::string& bSchema, int pkey, bool byTag, bool strict) {
  std::string key = byTag ? "LayoutTag" : "LayoutName";
  return "SELECT " + a + "fld.FieldNumber FROM " + aSchema + "RL_LayoutFieldsPivot " + a + "piv,   " + aSchema +
         "RL_Layouts " + a + "lo, " + aSchema + "RL_Fields " + a + "fld WHERE " + a + "lo.PKey = " + a +
         "piv.LayoutPKey AND " + a + "fld.PKey=" + a + "piv.FieldPKey AND " + a + "piv.LayoutPKey = " +
         intToString(pkey) + " AND NOT EXISTS (    SELECT " + b + "fld.FieldNumber    FROM " + bSchema +
         "RL_LayoutFieldsPivot " + b + "piv, \t  " + bSchema + "RL_Layouts " + b + "lo, " + bSchema + "RL_Fields " + b +
         "fld    WHERE " + b + "lo.PKey = " + b + "piv.LayoutPKey    AND " + b + "fld.PKey=" + b +
         "piv.FieldPKey    AND " + b + "lo." + key + " = " + a + "lo." + key + "    AND " + b + "fld.FieldNumber = " +
         a + "fld.FieldNumber" +
         (strict ? "    AND " + b + "piv.StartPos = " + a + "piv.StartPos    AND " + b + "fld.FieldLength = " + a +
                       "fld.FieldLength"
                 : std::string()) +
         " );";
}

bool has_rows(TSQLDB* db, const std::string& sql) {
  TSQLQuery query(db);
  query.OpenSelect(sql);
  return !query.Eof();
}

bool next_row(TSQLQuery& query) {
  if (!query.FetchNext()) throw std::runtime_error(query.LastErrorMessage());
  return !query.Eof();
}

}  // namespace

struct TImportMetafile::TListing {
  const char* Table;
  const char* Method;
  const char* Failure;
  std::vector<TPass> (*Passes)(bool byTag);
  const char* TagColumn;  // the keyField that keys the table by tag; null when it has no tag
};

namespace {

const TImportMetafile::TListing kAgencies = {"RL_Agencies", "get_agencies", "Cannot get Agencies from source metafile ",
                                             agency_passes, nullptr};
const TImportMetafile::TListing kEdits = {"RL_Edits", "get_edits", "Cannot get Edits from source metafile ",
                                          edit_passes, "EditTag"};
const TImportMetafile::TListing kEditSets = {"RL_EditSets", "get_edit_sets",
                                             "Cannot get Edit Sets from source metafile ", edit_set_passes,
                                             "EditSetTag"};
const TImportMetafile::TListing kFields = {"RL_Fields", "get_fields", "Cannot get Fields from source metafile ",
                                           field_passes, nullptr};
const TImportMetafile::TListing kLayouts = {"RL_Layouts", "get_layouts", "Cannot get Layouts from source metafile ",
                                            layout_passes, "LayoutTag"};
const TImportMetafile::TListing kMessages = {"RL_Messages", "get_messages",
                                             "Cannot get Messages from source metafile ", message_passes, nullptr};
const TImportMetafile::TListing kTables = {"RL_LookupTables", "get_tables",
                                           "Cannot get Lookup Tables from source metafile ", table_passes, nullptr};

}  // namespace

int TImportMetafile::GetImportCandidates(const char* tableName, const char* keyField, void* owner, void* callback) {
  if (owner == nullptr || callback == nullptr) {
    add_error("GetImportCandidates", "Callback owner and callback function must not be NULL");
    return -1;
  }
  // The listing reads the pair from here; it is held only while one runs. A
  // listing called from another's callback gives back the outer pair when it
  // ends, and the outermost leaves both null.
  struct TRestore {
    TImportMetafile* Import;
    void* Owner;
    void* Callback;
    ~TRestore() {
      Import->FCallbackOwner = Owner;
      Import->FCallback = Callback;
    }
  } restore{this, FCallbackOwner, FCallback};
  FCallbackOwner = owner;
  FCallback = callback;
  if (posix_stricmp(tableName, kAgencies.Table) == 0) return get_agencies();
  if (posix_stricmp(tableName, kEdits.Table) == 0) return get_edits(keyField);
  if (posix_stricmp(tableName, kEditSets.Table) == 0) return get_edit_sets(keyField);
  if (posix_stricmp(tableName, kFields.Table) == 0) return get_fields();
  if (posix_stricmp(tableName, kLayouts.Table) == 0) return get_layouts(keyField);
  if (posix_stricmp(tableName, kMessages.Table) == 0) return get_messages();
  if (posix_stricmp(tableName, kTables.Table) == 0) return get_tables();
  add_error("GetImportCandidates",
            ("Table '" + std::string(tableName) + "' is not a Metafile Consituent Object").substr(0, 99));
  return -1;
}

int TImportMetafile::get_agencies() { return run_listing(kAgencies, false); }
int TImportMetafile::get_edits(const char* keyField) { return run_keyed_listing(kEdits, keyField); }
int TImportMetafile::get_edit_sets(const char* keyField) { return run_keyed_listing(kEditSets, keyField); }
int TImportMetafile::get_fields() { return run_listing(kFields, false); }
int TImportMetafile::get_layouts(const char* keyField) { return run_keyed_listing(kLayouts, keyField); }
int TImportMetafile::get_messages() { return run_listing(kMessages, false); }
int TImportMetafile::get_tables() { return run_listing(kTables, false); }

// Tables with a tag are keyed by it when keyField names it, else by name.
int TImportMetafile::run_keyed_listing(const TListing& listing, const char* keyField) {
  if (keyField == nullptr) {
    add_error("GetImportCandidates", "Parameter \"keyField\" must not be NULL");
    return -1;
  }
  return run_listing(listing, posix_stricmp(keyField, listing.TagColumn) == 0);
}

struct TImportMetafile::TCandidate {
  int Source;
  int Target;
  std::string Display;
  std::string AdminCode;
};

// Each pass's candidates are read whole before the first is delivered.
int TImportMetafile::run_listing(const TListing& listing, bool byTag) {
  ImportCandidateCallback deliver = reinterpret_cast<ImportCandidateCallback>(FCallback);
  for (const TPass& pass : listing.Passes(byTag)) {
    std::vector<TCandidate> candidates;
    std::string reason;
    bool read = read_pass(listing.Table, pass, byTag, candidates, reason);
    for (const TCandidate& candidate : candidates)
      deliver(FCallbackOwner, listing.Table, candidate.Source, candidate.Target, candidate.Display.c_str(),
              candidate.AdminCode.c_str(), pass.Kind);
    if (!read) {
      add_failure(listing.Method, listing.Failure, reason, pass.SQL);
      return -1;
    }
  }
  return 0;
}

// Reads the candidates of one pass, their members compared, and ends its
// statement: a call made from the callback (a write whose failure rolls the
// schema back, say) cannot cut the pass short, and no statement holds the
// file while the host runs. A failure keeps the candidates read before it.
// A key that is not usable fails the pass before its members are compared.
bool TImportMetafile::read_pass(const std::string& table, const TPass& pass, bool byTag,
                                std::vector<TCandidate>& candidates, std::string& reason) {
  TSQLQuery query(FSQLDB);
  try {
    query.OpenSelect(pass.SQL);
    int display = pass.Kind == ImportCandidateAbsent ? 1 : 2;  // the columns before it: the PKeys
    for (bool row = !query.Eof(); row; row = next_row(query)) {
      int source = query.GetUsableKeyByNumber(0, "SourceDB." + table);
      int target = pass.Kind == ImportCandidateAbsent ? -1 : query.GetUsableKeyByNumber(1, table);
      if (pass.Members == kEditMembers && editset_edits_match(source, target, byTag)) continue;
      if (pass.Members == kFieldMembers && layout_fields_match(source, target, byTag)) continue;
      candidates.push_back({source, target, query.GetFieldByNumber(display), query.GetFieldByNumber(display + 1)});
    }
  } catch (const std::runtime_error& e) {
    reason = e.what();
    return false;
  }
  return true;
}

bool TImportMetafile::editset_edits_match(int sourceSetPKey, int targetSetPKey, bool byTag) {
  return !has_rows(FSQLDB, unmatched_edits("src", "SourceDB.", "targ", "", sourceSetPKey, byTag)) &&
         !has_rows(FSQLDB, unmatched_edits("targ", "", "src", "SourceDB.", targetSetPKey, byTag));
}

bool TImportMetafile::layout_fields_match(int sourceLayoutPKey, int targetLayoutPKey, bool byTag) {
  return !has_rows(FSQLDB, unmatched_fields("src", "SourceDB.", "targ", "", sourceLayoutPKey, byTag, true)) &&
         !has_rows(FSQLDB, unmatched_fields("targ", "", "src", "SourceDB.", targetLayoutPKey, byTag, false));
}
