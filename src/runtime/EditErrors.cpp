// The message collector: chooses each message's text, expands its macros
// against the record, delivers it to the host and keeps it for the count of
// edits with messages. Texts are built in reused members, so a record's
// messages allocate nothing once the collector has warmed up.
#include "runtime/EditErrors.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "library/LibFuncs.h"
#include "runtime/EditSet.h"
#include "runtime/Layout.h"
#include "runtime/QueryHelpers.h"
#include "storage/EngineErrorsPump.h"
#include "storage/FastSQLQuery.h"
#include "storage/SQLDB.h"

namespace {

const char* const kMessageSelect = "SELECT [Message] FROM [RL_Messages] WHERE [MessageNumber] = ?;";
// The characters that end a macro's argument.
const char* const kTerminators = " \"[]{}()!@#$&*-_+=\\|;:'<>,.?/";

// The D macro's text for the last date error code; null for codes it does not know.
const char* date_error_text(int code) {
  switch (code) {
    case 4: return "invalid as to day";
    case 8: return "invalid as to month";
    case 16: return "invalid as to year";
    case 32: return "missing the day";
    case 64: return "missing the month";
    case 128: return "missing the year";
    case 256: return "unknown as to day";
    case 512: return "unknown as to month";
    case 1024: return "unknown as to year";
    case 4096: return "date is an empty string";
    case 0x4fffffff: return "no error / other";
    case 0x5fffffff: return "missing";
    case 0x6fffffff: return "invalid";
    case 0x7fffffff: return "unknown";
    default: return nullptr;
  }
}

// A YYYYMMDD value as "Y:yyyy M:mm D:dd"; a shorter value is blank-padded.
void append_date_value(const char* value, std::string& result) {
  char date[8];
  memset(date, ' ', sizeof date);
  memcpy(date, value, strnlen(value, sizeof date));
  result += "Y:";
  result.append(date, 4);
  result += " M:";
  result.append(date + 4, 2);
  result += " D:";
  result.append(date + 6, 2);
}

bool is_type(const char* type, const char* wanted) { return strcmp(type, wanted) == 0; }

}  // namespace

TEditErrors::TEditErrors(TSQLDB* db, TEngineErrorsPump* pump) : FSQLDB(db), FEnginePump(pump) {}

TEditErrors::~TEditErrors() { delete FMessageQry; }

void TEditErrors::Initialize(void* owner, void* callback, TLayout* layout, int suppressWarnings) {
  bool both = owner != nullptr && callback != nullptr;
  FOwner = both ? owner : nullptr;
  FCallback = both ? reinterpret_cast<MessageCallback>(callback) : nullptr;
  clear_errors_map();
  FLayout = layout;
  FErrorTextEditPKey = 0;
  FErrorText.clear();
  FSuppressWarnings = suppressWarnings;
}

void TEditErrors::ReportDefaultError(TEdit* edit, const char* type) {
  const char* category = "";
  try {
    if (FErrorTextEditPKey == edit->GetPKey()) {
      FText = FErrorText;
      type = "E";
      category = "ERROR_TEXT";
    } else {
      FErrorTextEditPKey = 0;
      FErrorText.clear();
      if (FAltMessageNumber != 0) {
        category = "ERROR_MSG";
        if (!lookup_message(FAltMessageNumber, edit, FText)) FText.clear();
      } else {
        expand_msg_macros(edit->GetDefaultErrorMessage(), edit, FText);
      }
    }
  } catch (const std::runtime_error& e) {
    record_failure("ReportDefaultError", e.what());
    throw;
  }
  report(edit, type, category, edit->GetDefaultMessageNumber() == "0");
}

void TEditErrors::ReportSaveErrorText(TEdit* edit, int messageNumber) {
  report_numbered(edit, messageNumber, "E", "SAVE_ERROR_TEXT", "ReportSaveErrorText");
}

void TEditErrors::ReportSetWarning(TEdit* edit, int messageNumber) {
  if (FSuppressWarnings != 0) return;
  report_numbered(edit, messageNumber, "W", "SET_WARNING", "ReportSetWarning");
}

void TEditErrors::ReportSaveWarningText(TEdit* edit, int messageNumber) {
  if (FSuppressWarnings != 0) return;
  report_numbered(edit, messageNumber, "W", "SAVE_WARNING_TEXT", "ReportSaveWarningText");
}

void TEditErrors::report_numbered(TEdit* edit, int messageNumber, const char* type, const char* category,
                                  const char* method) {
  try {
    if (!lookup_message(messageNumber, edit, FText)) {
      FText = "Engine error: Message number ";
      FText += std::to_string(messageNumber);
      FText += " not found";
    }
  } catch (const std::runtime_error& e) {
    record_failure(method, e.what());
    throw;
  }
  report(edit, type, category, false);
}

// Expanded now, against the record's current values; delivered only by a
// later ReportDefaultError for the same edit.
void TEditErrors::SetErrorText(TEdit* edit, const std::string& text) {
  expand_msg_macros(text, edit, FText);
  FErrorText = FText;
  FErrorTextEditPKey = edit->GetPKey();
}

void TEditErrors::SetSaveText(TEdit* edit, const std::string& text) {
  expand_msg_macros(text, edit, FText);
  report(edit, "M", "SAVE_TEXT", false);
}

void TEditErrors::report(TEdit* edit, const char* type, const char* category, bool firstOnly) {
  bool hadMessage = edit->GetErrorMessagesCount() != 0 || edit->GetWarningMessagesCount() != 0;
  if (!firstOnly || !hadMessage) deliver(edit, type, FText);
  add_error_to_map(edit, type, FText, category);
  if (is_type(type, "E")) {
    if (!firstOnly || edit->GetErrorMessagesCount() == 0) edit->IncrMessagesCount();
  } else if (is_type(type, "W")) {
    if (!firstOnly || edit->GetWarningMessagesCount() == 0) edit->IncrWarningMessagesCount();
  }
}

void TEditErrors::deliver(TEdit* edit, const char* type, const std::string& text) {
  if (FCallback == nullptr) return;
  FSQLDB->EndSharedRead();
  FCallback(FOwner, edit->GetEditTag().c_str(), edit->GetEditName().c_str(), edit->GetAdminCode().c_str(), type,
            text.c_str());
}

void TEditErrors::add_error_to_map(TEdit* edit, const char* type, const std::string& text, const char* category) {
  if (FMessageCount == FMessages.size()) FMessages.emplace_back();
  TErrorObject& message = FMessages[FMessageCount++];
  message.MessageType = type;
  message.MessageText = text;
  message.Category = category;
  message.EditPKey = edit->GetPKey();
  // An edit's messages come together, so the last key is nearly always the one.
  int pkey = edit->GetPKey();
  if (FEditsWithMessages.empty() ||
      (FEditsWithMessages.back() != pkey &&
       std::find(FEditsWithMessages.begin(), FEditsWithMessages.end(), pkey) == FEditsWithMessages.end()))
    FEditsWithMessages.push_back(pkey);
}

void TEditErrors::clear_errors_map() {
  FMessageCount = 0;
  FEditsWithMessages.clear();
}

void TEditErrors::create_message_query() {
  if (FMessageQry != nullptr) return;
  auto query = std::make_unique<TFastSQLQuery>(FSQLDB);
  prepare_recorded(*query, kMessageSelect, FEnginePump, "TEditErrors", "create_message_query",
                   "Failure to prepare FMessageQry");
  FMessageQry = query.release();
}

bool TEditErrors::lookup_message(int number, TEdit* edit, std::string& result) {
  create_message_query();
  FMessageQry->BindIntParameter(1, number);
  FMessageQry->OpenParameterizedQuery();
  bool found = !FMessageQry->Eof();
  if (found) FLookedUp = FMessageQry->GetFieldByNumber(0);
  FMessageQry->ResetParameterizedQuery();
  if (found) expand_msg_macros(FLookedUp, edit, result);
  return found;
}

// Records why a message could not be chosen and readies the message query
// for the next record.
void TEditErrors::record_failure(const char* method, const char* text) {
  if (*text != '\0') FEnginePump->AddError("TEditErrors", method, text);
  if (FMessageQry == nullptr) return;
  if (*FMessageQry->LastErrorMessage() != '\0')
    FEnginePump->AddError("TEditErrors", method, FMessageQry->LastErrorMessage());
  reset_after_failure(*FMessageQry);
}

void TEditErrors::expand_msg_macros(const std::string& text, TEdit* edit, std::string& result) {
  if (&text == &result) {
    std::string copy(text);
    expand_msg_macros(copy, edit, result);
    return;
  }
  size_t percent = text.find('%');
  if (percent == std::string::npos) {
    result = text;
    return;
  }
  result.assign(text, 0, percent);
  size_t rest = percent + 1;  // the remaining text starts with the macro letter
  for (;;) {
    char letter = rest < text.size() ? static_cast<char>(toupper(static_cast<unsigned char>(text[rest]))) : '\0';
    size_t searchFrom = rest;
    size_t resume;  // where the text after the macro starts
    if (letter == 'D') {
      const char* dateText = date_error_text(FLibFuncs != nullptr ? FLibFuncs->GetDateErrorCode() : 0);
      if (dateText != nullptr) result += dateText;
      if (rest + 1 >= text.size()) return;  // nothing follows the letter
      resume = searchFrom = rest + 2;
    } else {
      size_t argumentStart = std::min(rest + 1, text.size());
      resume = std::min(text.find_first_of(kTerminators, argumentStart), text.size());
      append_field_macro(letter, text.substr(argumentStart, resume - argumentStart), edit, result);
    }
    size_t next = text.find('%', searchFrom);
    if (next == std::string::npos) {
      result.append(text, resume, std::string::npos);
      return;
    }
    // A '%' inside the argument went with the argument: nothing to append.
    if (next >= resume) result.append(text, resume, next - resume);
    rest = next + 1;
  }
}

void TEditErrors::append_field_macro(char letter, const std::string& argument, TEdit* edit, std::string& result) {
  long order = strtol(argument.c_str(), nullptr, 10);
  int number = order >= 1 && order - 1 <= INT_MAX ? edit->GetFieldByMacroOrder(static_cast<int>(order - 1)) : -1;
  if (number == -1) {
    FEnginePump->AddError("TEditErrors", "expand_msg_macros",
                          "Field macro order (" + argument + ") out of range for edit tag \"" + edit->GetEditTag() +
                              "\"");
    throw std::runtime_error("");
  }
  TLayoutField* field = FLayout != nullptr ? FLayout->GetFieldByFieldNumber(number) : nullptr;
  if (field == nullptr) return;
  if (letter == 'F' || letter == 'S' || letter == 'L' || letter == 'T') {
    const std::string& displayName = field->GetDisplayName();
    const std::string& name = field->GetFieldName();
    if (!displayName.empty() && displayName != name) {
      result += displayName;
      result += " [";
      result += name;
      result += ']';
    } else {
      result += name;
    }
  } else if (letter == 'V') {
    const char* value = field->GetValue();
    if (field->GetDataType() == "D1")
      append_date_value(value, result);
    else if (value[strspn(value, " \t")] == '\0')
      result += "<BLANK>";
    else
      result += value;
  }
}
