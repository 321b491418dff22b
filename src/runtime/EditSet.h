// Edit sets and edits loaded for one pairing of an edit set with a layout:
// the edits in run order with their fields, options, counts and tallies, and
// each edit's compiled logic once read.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

class TSQLDB;
class TEngineErrorsPump;
class TFastSQLQuery;
class TLayout;
class TLayoutField;
class TDecodedLogic;

class TEdit {
 public:
  TEdit(TSQLDB* db, TEngineErrorsPump* pump, int pkey, std::string editName, std::string editTag,
        std::string adminCode, std::string defaultMessageNumber, std::string defaultErrorMessage);
  ~TEdit();
  TEdit(const TEdit&) = delete;
  TEdit& operator=(const TEdit&) = delete;

  int GetPKey() const { return FPKey; }
  const std::string& GetEditName() const { return FEditName; }
  const std::string& GetEditTag() const { return FEditTag; }
  const std::string& GetAdminCode() const { return FAdminCode; }
  const std::string& GetDefaultMessageNumber() const { return FDefaultMessageNumber; }
  const std::string& GetDefaultErrorMessage() const { return FDefaultErrorMessage; }

  int GetErrorMessagesCount() const { return FCounts[kErrorMessages]; }
  int GetWarningMessagesCount() const { return FCounts[kWarningMessages]; }
  int GetTallyErrorsCount() const { return FTallies[kErrors]; }
  int GetTallyWarningsCount() const { return FTallies[kWarnings]; }
  int GetTallySkipsCount() const { return FTallies[kSkips]; }
  int GetTallyErrorMessagesCount() const { return FTallies[kErrorMessages]; }
  int GetTallyWarningMessagesCount() const { return FTallies[kWarningMessages]; }
  void IncrErrorsCount() { increment(kErrors); }
  void IncrWarningsCount() { increment(kWarnings); }
  void IncrSkipsCount() { increment(kSkips); }
  void IncrMessagesCount() { increment(kErrorMessages); }
  void IncrWarningMessagesCount() { increment(kWarningMessages); }
  void ClearCounts();

  void SuppressEdit(bool on) { FSuppress = on; }
  void SkipIfEmpty(bool on) { FSkipIfEmpty = on; }
  void SkipIfFailed(bool on) { FSkipIfFailed = on; }
  void NoSkipsOverride(bool on) { FNoSkipsOverride = on; }
  bool IsSuppressed() const { return FSuppress; }
  bool IsSkipIfEmpty() const { return FSkipIfEmpty; }
  bool IsSkipIfFailed() const { return FSkipIfFailed; }
  bool IsNoSkipsOverride() const { return FNoSkipsOverride; }

  void AddField(int number);
  int GetFieldsCount() const { return static_cast<int>(FFields.size()); }
  // The field number at a 0-based position of FieldOrder; -1 out of range.
  int GetFieldByMacroOrder(int position) const;
  void SetFieldNotInLayout(int number);
  bool SkipEditSilently() const { return !FFieldsNotInLayout.empty(); }
  // Marks the fields that the layout lacks and keeps the layout's field for
  // each position of FieldOrder (null where it lacks one).
  void PairWithLayout(const TLayout* layout);
  TLayoutField* GetLayoutField(int position) const;

  // Read from the metafile on first use through the run driver's prepared
  // statement, kept once it is not empty; throws std::runtime_error.
  const std::string& GetCompiledLogic(TFastSQLQuery* query);
  // The compiled logic decoded for reading, made once the logic is kept.
  TDecodedLogic* GetDecodedLogic();
  // Sets the logic of an edit read outside an edit set (debugging).
  void SetCompiledLogic(const std::string& logic);
  bool BuildEditFieldsList(TFastSQLQuery* query);

 private:
  enum { kErrors, kWarnings, kSkips, kErrorMessages, kWarningMessages, kCountKinds };
  void increment(int kind) {
    ++FCounts[kind];
    ++FTallies[kind];
  }

  TEngineErrorsPump* FEnginePump;
  std::string FEditName;
  std::string FEditTag;
  std::string FAdminCode;
  std::string FDefaultMessageNumber;
  std::string FDefaultErrorMessage;
  int FPKey;
  int FCounts[kCountKinds] = {};
  int FTallies[kCountKinds] = {};
  bool FSuppress = false;
  bool FSkipIfEmpty = false;
  bool FSkipIfFailed = false;
  bool FNoSkipsOverride = false;
  std::string FCompiledLogic;
  std::unique_ptr<TDecodedLogic> FDecodedLogic;
  std::vector<int> FFields;
  std::vector<int> FFieldsNotInLayout;
  std::vector<TLayoutField*> FLayoutFields;
};

class TEditSet {
 public:
  TEditSet(TSQLDB* db, TEngineErrorsPump* pump);
  ~TEditSet();
  TEditSet(const TEditSet&) = delete;
  TEditSet& operator=(const TEditSet&) = delete;

  int LoadEditSet(const std::string& tag);
  const std::string& GetEditSetTag() const { return FEditSetTag; }
  int GetEditsCount() const { return static_cast<int>(FRunOrder.size()); }
  TEdit* GetEditByRunOrderIndex(int index) const;
  int GetSuppressWarnings() const { return FSuppressWarnings; }
  void SetSuppressWarnings(int suppress) { FSuppressWarnings = suppress; }
  void ClearCounts();
  int SetEditOptions(const std::string& editTag, bool suppress, bool skipIfEmpty, bool skipIfFailed,
                     bool noSkipsOverride);
  int GetEditOptions(const std::string& editTag, int* suppress, int* skipIfEmpty, int* skipIfFailed,
                     int* noSkipsOverride);
  int ClearEditOptions();
  // Pairs every edit with the layout; done again when the layout's fields
  // were rebuilt since (see TLayout::GetGeneration).
  void PairWithLayout(const TLayout* layout);
  bool IsPairedWith(const TLayout* layout) const;

 private:
  int read_edit_set_row(TFastSQLQuery& query, const std::string& tag);
  bool prepare_query(TFastSQLQuery& query, const char* sql, const char* failure);
  void load_edits(TFastSQLQuery& editKeys, TFastSQLQuery& details, TFastSQLQuery& fields);
  void load_edit(int pkey, TFastSQLQuery& details, TFastSQLQuery& fields);
  TEdit* find_edit(const std::string& editTag, const char* method);
  void add_error(const char* method, const std::string& message);

  TSQLDB* FSQLDB;
  TEngineErrorsPump* FEnginePump;
  std::string FEditSetName;
  std::string FEditSetTag;
  int FPKey = 0;
  int FSuppressWarnings = 0;
  std::vector<std::unique_ptr<TEdit>> FEdits;  // owns every edit once
  std::map<std::string, TEdit*> FEditsByName;
  std::map<std::string, TEdit*> FEditsByTag;
  std::vector<TEdit*> FRunOrder;
  const TLayout* FPairedLayout = nullptr;
  unsigned FPairedGeneration = 0;
};
