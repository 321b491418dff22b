// Record layouts: which field of the data dictionary starts at which position
// of a fixed-width record, the record currently loaded and each field's slice
// of it, with the host's display names and never-skip-empty flags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <string>
#include <vector>

#include "quelt.h"

class TSQLDB;
class TEngineErrorsPump;
class TFastSQLQuery;
class TLayout;

class TLayoutField {
 public:
  // Reads the field's definition from RL_Fields; throws std::runtime_error.
  TLayoutField(TLayout* layout, TSQLDB* db, TEngineErrorsPump* pump, int pkey, int startPos);
  ~TLayoutField();
  TLayoutField(const TLayoutField&) = delete;
  TLayoutField& operator=(const TLayoutField&) = delete;

  int GetPKey() const { return FPKey; }
  int GetStartPos() const { return FStartPos; }
  int GetFieldNumber() const { return FFieldNumber; }
  int GetFieldLength() const { return FFieldLength; }
  const std::string& GetFieldName() const { return FFieldName; }
  const std::string& GetDisplayName() const { return FDisplayName; }
  const std::string& GetDataType() const { return FDataType; }
  // The field's slice of the current record, in the layout's value buffer:
  // valid until the next value is read from any field of the layout.
  const char* GetValue() const;
  int SetDisplayName(const char* text);
  bool GetFailedSingleFieldEdit() const { return FFailedSingleFieldEdit; }
  void SetFailedSingleFieldEdit(bool failed) { FFailedSingleFieldEdit = failed; }
  bool GetNeverSkipEmpty() const { return FNeverSkipEmpty; }
  void SetNeverSkipEmpty(bool flag) { FNeverSkipEmpty = flag; }

 private:
  void create_setup_field_query();
  void setup_layout_field();

  TLayout* FLayout;
  TSQLDB* FSQLDB;
  TFastSQLQuery* FSetupFieldQry = nullptr;
  TEngineErrorsPump* FEnginePump;
  int FPKey;
  int FStartPos;
  int FFieldNumber = 0;
  std::string FFieldName;
  std::string FDisplayName;
  int FFieldLength = 0;
  std::string FDataType;
  bool FFailedSingleFieldEdit = false;
  bool FNeverSkipEmpty = false;
};

class TLayout {
 public:
  TLayout(TSQLDB* db, TEngineErrorsPump* pump);
  ~TLayout();
  TLayout(const TLayout&) = delete;
  TLayout& operator=(const TLayout&) = delete;

  // Reads the layout row and builds its fields: 0, or -1 with engine errors;
  // a failure to build the fields throws std::runtime_error.
  int LoadLayout(const std::string& tag);
  // Forgets the fields, the record, display names and flags and loads the
  // same tag again, keeping this object (pairs that use it stay valid).
  int ReloadLayout();
  // Copies a record in, blank-padded to the longest record seen; clears the
  // failed-single-field marks. Returns 0.
  int LoadData(const char* record);
  // The slice at the 1-based start; empty when it does not fit in the record.
  const char* FillFieldValue(int start, int length);
  // The skip-if-empty test on the record itself: only spaces, or empty.
  bool FieldIsBlank(const TLayoutField* field) const;
  TLayoutField* GetFieldByFieldNumber(int number) const;
  int DisplayFieldInMessagesAs(int number, const std::string& text);
  int NeverSkipEmptyField(int number, int flag);
  int DisplayOneField(int number, int order, void* owner, void* callback);
  int DisplayDataRecord(void* owner, void* callback);
  int FieldDataByNumber(int number, int* key, int* startPos, int* length, char* name, int nameSize,
                        char* displayName, int displaySize, char* dataType, int typeSize, char* value,
                        int valueSize);
  void SetupLayoutFieldBuffer(uint64_t size);

  const std::string& GetLayoutTag() const { return FLayoutTag; }
  int GetPKey() const { return FPKey; }
  int GetFieldsCount() const { return static_cast<int>(FFields.size()); }
  // Changes every time the fields are rebuilt, so that holders of field
  // pointers know to look them up again.
  unsigned GetGeneration() const { return FGeneration; }

 private:
  int read_layout_row(const std::string& sql);
  void create_layout_fields();
  void add_field(int pkey, int startPos);
  void clear_fields();
  void record_sql_failure(const char* method, const char* what, const TFastSQLQuery& query,
                          const std::string& sql);
  void display_field(const TLayoutField* field, int order, void* owner, void* callback);

  TSQLDB* FSQLDB;
  TEngineErrorsPump* FEnginePump;
  std::string FLayoutName;
  std::string FLayoutTag;
  int FPKey = 0;
  char* FRecord = nullptr;
  uint64_t FRecordLength = 0;
  std::vector<TLayoutField*> FFields;
  std::unordered_map<int, TLayoutField*> FFieldMap;
  char* FValueBuffer = nullptr;
  uint64_t FValueBufferSize = 0;
  unsigned FGeneration = 0;
};
