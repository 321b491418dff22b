// Record layouts: the fields of a layout read from the metafile, the record
// buffer and the value buffer through which every field hands out its slice.
#include "runtime/Layout.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "runtime/QueryHelpers.h"
#include "storage/EngineErrorsPump.h"
#include "storage/FastSQLQuery.h"
#include "storage/Utility.h"

namespace {

const char* const kSetupFieldSelect =
    "SELECT [FieldNumber], [FieldName], [FieldLength], [DataType] FROM [RL_Fields] WHERE [PKey] = ?;";
const char* const kLayoutSelectStart = "SELECT LayoutName, PKey FROM RL_Layouts WHERE LayoutTag = '";
const char* const kLayoutSelectTemplate = "SELECT LayoutName, PKey FROM RL_Layouts WHERE LayoutTag = '%s'";
const size_t kLayoutSelectLimit = 499;
const uint64_t kInitialValueBufferSize = 2500;
const uint64_t kValueBufferSlack = 500;

// The slice lies inside the record; computed in 64 bits so no sum overflows.
bool field_fits(int start, int length, uint64_t recordLength) {
  return start >= 1 && length >= 1 &&
         static_cast<uint64_t>(start) - 1 + static_cast<uint64_t>(length) <= recordLength;
}

// Blanks and tabs only, or nothing at all.
bool is_blank_value(const char* value) { return value[strspn(value, " \t")] == '\0'; }

// A buffer of size + 1 bytes; the size is checked so that size + 1 cannot wrap.
char* allocate_buffer(uint64_t size) {
  char* buffer = size < SIZE_MAX ? static_cast<char*>(malloc(size + 1)) : nullptr;
  if (buffer == nullptr) throw std::bad_alloc();
  return buffer;
}

// Formatted copy: at most size - 1 characters and a NUL; nothing for size < 1.
void copy_out(const char* text, char* buffer, int size) {
  if (buffer != nullptr && size > 0) snprintf(buffer, size, "%s", text);
}

}  // namespace

TLayoutField::TLayoutField(TLayout* layout, TSQLDB* db, TEngineErrorsPump* pump, int pkey, int startPos)
    : FLayout(layout), FSQLDB(db), FEnginePump(pump), FPKey(pkey), FStartPos(startPos) {
  try {
    setup_layout_field();
  } catch (...) {
    delete FSetupFieldQry;
    throw;
  }
}

TLayoutField::~TLayoutField() { delete FSetupFieldQry; }

const char* TLayoutField::GetValue() const { return FLayout->FillFieldValue(FStartPos, FFieldLength); }

int TLayoutField::SetDisplayName(const char* text) {
  std::string name = text != nullptr ? text : "";
  if (uppercase_string(name) == uppercase_string(FFieldName))
    FDisplayName.clear();
  else
    FDisplayName = name;
  return 0;
}

void TLayoutField::create_setup_field_query() {
  if (FSetupFieldQry != nullptr) return;
  FSetupFieldQry = new TFastSQLQuery(FSQLDB);
  prepare_recorded(*FSetupFieldQry, kSetupFieldSelect, FEnginePump, "TLayoutField", "create_setup_field_query",
                   "Failure to prepare FSetupFieldQry");
}

void TLayoutField::setup_layout_field() {
  create_setup_field_query();
  try {
    FSetupFieldQry->BindIntParameter(1, FPKey);
    FSetupFieldQry->OpenParameterizedQuery();
    if (!FSetupFieldQry->Eof()) {
      FFieldNumber = FSetupFieldQry->GetIntFieldByNumber(0);
      FFieldName = FSetupFieldQry->GetFieldByNumber(1);
      FFieldLength = FSetupFieldQry->GetIntFieldByNumber(2);
      FDataType = FSetupFieldQry->GetFieldByNumber(3);
    }
    FSetupFieldQry->ResetParameterizedQuery();
  } catch (const std::runtime_error&) {
    // The layout records the failure: hand it this statement's reason.
    throw std::runtime_error(FSetupFieldQry->LastErrorMessage());
  }
}

TLayout::TLayout(TSQLDB* db, TEngineErrorsPump* pump) : FSQLDB(db), FEnginePump(pump) {
  SetupLayoutFieldBuffer(kInitialValueBufferSize);
}

TLayout::~TLayout() {
  clear_fields();
  free(FValueBuffer);
  free(FRecord);
}

int TLayout::LoadLayout(const std::string& tag) {
  int result = 0;
  FLayoutTag = tag;
  std::string sql = kLayoutSelectStart + quote_sql_value(tag) + "'";
  if (sql.size() > kLayoutSelectLimit) {
    FEnginePump->AddError("TLayout", "LoadLayout",
                          "Layout Tag is much too long! (" + tag +
                              ")\nWhen used in this SQL the total exceeds 500 bytes:\n" + kLayoutSelectTemplate);
    result = -1;
  } else {
    result = read_layout_row(sql);
  }
  create_layout_fields();
  return result;
}

int TLayout::ReloadLayout() {
  std::string tag = FLayoutTag;
  clear_fields();
  free(FRecord);
  FRecord = nullptr;
  FRecordLength = 0;
  FLayoutName.clear();
  FPKey = 0;
  return LoadLayout(tag);
}

// A layout key that is not usable throws its refusal: cut to an int, it
// would build the fields of another layout.
int TLayout::read_layout_row(const std::string& sql) {
  TFastSQLQuery query(FSQLDB);
  try {
    if (open_select(query, sql)) {
      FLayoutName = query.GetFieldByNumber(0);
      FPKey = query.GetUsableKeyByNumber(1, "RL_Layouts");
    }
    query.SetIsActive(false);
    return 0;
  } catch (const TKeyRefusal&) {
    throw;
  } catch (const std::runtime_error& e) {
    record_sql_failure("LoadLayout", e.what(), query, sql);
    query.SetIsActive(false);
    return -1;
  }
}

// A field key that is not usable throws its refusal: cut to an int, it would
// read another field and be handed to the host as that field's key.
void TLayout::create_layout_fields() {
  ++FGeneration;
  std::string sql =
      "SELECT p.FieldPKey, p.StartPos FROM RL_LayoutFieldsPivot p, RL_Fields f "
      "WHERE p.FieldPKey = f.PKey AND p.LayoutPKey = " +
      intToString(FPKey) + " ORDER BY p.StartPos, f.FieldLength DESC;";
  TFastSQLQuery query(FSQLDB);
  try {
    open_select(query, sql);
    for_each_row(query, [&] { add_field(query.GetUsableKeyByNumber(0, "RL_Fields"), query.GetIntFieldByNumber(1)); });
    query.SetIsActive(false);
  } catch (const TKeyRefusal&) {
    throw;
  } catch (const std::runtime_error& e) {
    record_sql_failure("create_layout_fields", e.what(), query, sql);
    query.SetIsActive(false);
    throw std::runtime_error("Failure to create layout field objects");
  }
}

void TLayout::add_field(int pkey, int startPos) {
  auto field = std::make_unique<TLayoutField>(this, FSQLDB, FEnginePump, pkey, startPos);
  TLayoutField*& entry = FFieldMap[field->GetFieldNumber()];
  FFields.push_back(field.get());
  entry = field.release();
}

void TLayout::clear_fields() {
  for (TLayoutField* field : FFields) delete field;
  FFields.clear();
  FFieldMap.clear();
}

// An empty exception text means the thrower has recorded its own errors.
void TLayout::record_sql_failure(const char* method, const char* what, const TFastSQLQuery& query,
                                 const std::string& sql) {
  if (*what != '\0') FEnginePump->AddError("TLayout", method, what);
  FEnginePump->AddError("TLayout", method, std::string("SQL error: ") + query.LastErrorMessage());
  FEnginePump->AddError("TLayout", method, sql);
}

int TLayout::LoadData(const char* record) {
  if (record == nullptr) record = "";
  uint64_t length = strlen(record);
  if (FRecord == nullptr || FRecordLength < length) {
    char* buffer = allocate_buffer(length);
    free(FRecord);
    FRecord = buffer;
    FRecordLength = length;
  }
  memcpy(FRecord, record, length);
  memset(FRecord + length, ' ', FRecordLength - length);
  FRecord[FRecordLength] = '\0';
  for (TLayoutField* field : FFields) field->SetFailedSingleFieldEdit(false);
  return 0;
}

const char* TLayout::FillFieldValue(int start, int length) {
  if (!field_fits(start, length, FRecordLength)) {
    FValueBuffer[0] = '\0';
    return FValueBuffer;
  }
  if (FValueBufferSize <= static_cast<uint64_t>(length))
    SetupLayoutFieldBuffer(static_cast<uint64_t>(length) + kValueBufferSlack);
  memcpy(FValueBuffer, FRecord + (start - 1), length);
  FValueBuffer[length] = '\0';
  return FValueBuffer;
}

bool TLayout::FieldIsBlank(const TLayoutField* field) const {
  if (field == nullptr) return true;
  int start = field->GetStartPos();
  int length = field->GetFieldLength();
  if (!field_fits(start, length, FRecordLength)) return true;
  const char* slice = FRecord + (start - 1);
  for (int i = 0; i < length; ++i)
    if (slice[i] != ' ') return false;
  return true;
}

TLayoutField* TLayout::GetFieldByFieldNumber(int number) const {
  auto found = FFieldMap.find(number);
  return found == FFieldMap.end() ? nullptr : found->second;
}

int TLayout::DisplayFieldInMessagesAs(int number, const std::string& text) {
  TLayoutField* field = GetFieldByFieldNumber(number);
  if (field != nullptr) field->SetDisplayName(text.c_str());
  return 0;
}

int TLayout::NeverSkipEmptyField(int number, int flag) {
  TLayoutField* field = GetFieldByFieldNumber(number);
  if (field != nullptr) field->SetNeverSkipEmpty(flag != 0);
  return 0;
}

int TLayout::DisplayOneField(int number, int order, void* owner, void* callback) {
  TLayoutField* field = GetFieldByFieldNumber(number);
  if (field == nullptr) {
    char message[100];
    snprintf(message, sizeof message, "Field number %d not in Layout with tag %s", number, FLayoutTag.c_str());
    FEnginePump->AddError("TLayout", "DisplayOneField", message);
    return -1;
  }
  display_field(field, order, owner, callback);
  return 0;
}

int TLayout::DisplayDataRecord(void* owner, void* callback) {
  for (const TLayoutField* field : FFields) display_field(field, 0, owner, callback);
  return 0;
}

void TLayout::display_field(const TLayoutField* field, int order, void* owner, void* callback) {
  if (callback == nullptr) return;
  std::string name = field->GetFieldName();
  std::string displayName = field->GetDisplayName();
  std::string dataType = field->GetDataType();
  std::string value = field->GetValue();
  if (is_blank_value(value.c_str())) value = "<BLANK>";
  reinterpret_cast<FieldDetailCallback>(callback)(owner, field->GetPKey(), field->GetStartPos(),
                                                  field->GetFieldNumber(), order, name.c_str(),
                                                  displayName.c_str(), field->GetFieldLength(),
                                                  dataType.c_str(), value.c_str());
}

int TLayout::FieldDataByNumber(int number, int* key, int* startPos, int* length, char* name, int nameSize,
                               char* displayName, int displaySize, char* dataType, int typeSize, char* value,
                               int valueSize) {
  TLayoutField* field = GetFieldByFieldNumber(number);
  if (field == nullptr) {
    char message[500];
    snprintf(message, sizeof message, "Field number %d not found in layout named \"%s\"/Tag \"%s\"", number,
             FLayoutName.c_str(), FLayoutTag.c_str());
    FEnginePump->AddError("TLayout", "FieldDataByNumber", message);
    return -1;
  }
  if (key != nullptr) *key = field->GetPKey();
  if (startPos != nullptr) *startPos = field->GetStartPos();
  if (length != nullptr) *length = field->GetFieldLength();
  copy_out(field->GetFieldName().c_str(), name, nameSize);
  copy_out(field->GetDisplayName().c_str(), displayName, displaySize);
  copy_out(field->GetDataType().c_str(), dataType, typeSize);
  copy_out(field->GetValue(), value, valueSize);
  return 0;
}

void TLayout::SetupLayoutFieldBuffer(uint64_t size) {
  char* buffer = allocate_buffer(size);
  buffer[0] = '\0';
  free(FValueBuffer);
  FValueBuffer = buffer;
  FValueBufferSize = size;
}
