// The message built-ins: another numbered message or text for the edit's
// failure, messages delivered at once, and the fail and warn marks.
#include <stdexcept>

#include "library/LibFuncs.h"
#include "runtime/EditErrors.h"
#include "runtime/RunEdits.h"

namespace {

const TTokenID kComma = ',';
const TTokenID kCloseParen = ')';

}  // namespace

void TLibFuncs::setup_message_functions() {
  set_function(0x4C, &TLibFuncs::call_error_msg);
  set_function(0x4D, &TLibFuncs::call_error_text);
  set_function(0x67, &TLibFuncs::call_save_error_text);
  set_function(0x68, &TLibFuncs::call_save_text);
  set_function(0x84, &TLibFuncs::call_set_warning);
  set_function(0x85, &TLibFuncs::call_save_warning_text);
}

// The whole list is read before anything is delivered, so a bad separator
// delivers nothing and sets no mark.
void TLibFuncs::read_message_numbers(std::vector<int>& numbers, const char* method, const char* message) {
  for (;;) {
    numbers.push_back(static_cast<int32_t>(argument()));
    TTokenID separator = FRunEdits->GetEvalTokenID();
    if (separator == kCloseParen) return;
    if (separator != kComma) fail(method, message);
  }
}

TValueWord TLibFuncs::call_error_msg() {
  return recorded("call_error_msg", [this] {
    check_open_paren();
    FEditErrors->SetAltMessageNumber(static_cast<int32_t>(argument()));
    return TValueWord(0);
  });
}

TValueWord TLibFuncs::call_error_text() {
  return recorded("call_error_text", [this] {
    TEdit* edit = FRunEdits->GetRunningEdit();
    check_open_paren();
    FEditErrors->SetErrorText(edit, text_argument());
    FRunEdits->SetReturnFail();
    return TValueWord(0);
  });
}

// Only the first text is delivered; the others are read and dropped so that
// the statement goes on after the call.
TValueWord TLibFuncs::call_save_text() {
  return recorded("call_save_text", [this] {
    TEdit* edit = FRunEdits->GetRunningEdit();
    check_open_paren();
    std::string text = text_argument();
    while (FRunEdits->GetEvalTokenID() == kComma) argument();
    FEditErrors->SetSaveText(edit, text);
    FRunEdits->SetReturnFail();
    return TValueWord(0);
  });
}

TValueWord TLibFuncs::call_save_error_text() {
  return recorded(
      "call_save_error_text",
      [this] {
        TEdit* edit = FRunEdits->GetRunningEdit();
        check_open_paren();
        std::vector<int> numbers;
        read_message_numbers(numbers, "call_save_error_text", "COMMA or RPAREN expected");
        FRunEdits->SetReturnFail();
        for (int number : numbers) FEditErrors->ReportSaveErrorText(edit, number);
        FRunEdits->SetOverrideErrorMessage(true);
        return TValueWord(0);
      },
      "unspecified/unexpected error");
}

// Marks the edit as warned and delivers each numbered message at once.
TValueWord TLibFuncs::report_warnings(const char* method, void (TEditErrors::*report)(TEdit*, int)) {
  TEdit* edit = FRunEdits->GetRunningEdit();
  check_open_paren();
  std::vector<int> numbers;
  read_message_numbers(numbers, method, "syntax error: expected RPAREN");
  FRunEdits->SetReturnWarn();
  for (int number : numbers) (FEditErrors->*report)(edit, number);
  return 0;
}

TValueWord TLibFuncs::call_set_warning() {
  return report_warnings("call_set_warning", &TEditErrors::ReportSetWarning);
}

TValueWord TLibFuncs::call_save_warning_text() {
  return report_warnings("call_save_warning_text", &TEditErrors::ReportSaveWarningText);
}
