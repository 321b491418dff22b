// The message collector of a run: chooses the text of every failure, warning
// and saved text, expands its macros against the record, delivers it through
// the host's callback and keeps it under the edit that produced it.
#pragma once

#include <string>
#include <vector>

#include "quelt.h"

class TSQLDB;
class TEngineErrorsPump;
class TFastSQLQuery;
class TLayout;
class TEdit;
class TLibFuncs;

class TErrorObject {
 public:
  std::string MessageType;
  std::string MessageText;
  std::string Category;
  int EditPKey = 0;
};

class TEditErrors {
 public:
  TEditErrors(TSQLDB* db, TEngineErrorsPump* pump);
  ~TEditErrors();
  TEditErrors(const TEditErrors&) = delete;
  TEditErrors& operator=(const TEditErrors&) = delete;

  void SetLibFuncs(TLibFuncs* libFuncs) { FLibFuncs = libFuncs; }
  // Starts a record: the callback pair (both or neither), the layout that
  // holds the record and the run's warning suppression.
  void Initialize(void* owner, void* callback, TLayout* layout, int suppressWarnings);
  // The running edit fails ("E") or warns ("W") with its default message.
  void ReportDefaultError(TEdit* edit, const char* type);
  void ReportSaveErrorText(TEdit* edit, int messageNumber);
  void ReportSetWarning(TEdit* edit, int messageNumber);
  void ReportSaveWarningText(TEdit* edit, int messageNumber);
  void SetErrorText(TEdit* edit, const std::string& text);
  void SetSaveText(TEdit* edit, const std::string& text);
  void SetAltMessageNumber(int number) {
    if (number >= 0) FAltMessageNumber = number;
  }
  // Edits with at least one stored message since Initialize.
  int FailedEditsCount() const { return static_cast<int>(FEditsWithMessages.size()); }

  // Expands the %-macros of text for the edit into result; a field macro out
  // of range records an engine error and throws std::runtime_error("").
  void expand_msg_macros(const std::string& text, TEdit* edit, std::string& result);

 private:
  void create_message_query();
  // The message of that number, expanded into result; false when no row.
  bool lookup_message(int number, TEdit* edit, std::string& result);
  void report_numbered(TEdit* edit, int messageNumber, const char* type, const char* category,
                       const char* method);
  // Delivers, stores and counts the message in FText; with firstOnly (an
  // edit whose default message number is "0") only a record's first counts.
  void report(TEdit* edit, const char* type, const char* category, bool firstOnly);
  void deliver(TEdit* edit, const char* type, const std::string& text);
  void add_error_to_map(TEdit* edit, const char* type, const std::string& text, const char* category);
  void clear_errors_map();
  void record_failure(const char* method, const char* text);
  void append_field_macro(char letter, const std::string& argument, TEdit* edit, std::string& result);

  TSQLDB* FSQLDB;
  TFastSQLQuery* FMessageQry = nullptr;
  TEngineErrorsPump* FEnginePump;
  void* FOwner = nullptr;
  MessageCallback FCallback = nullptr;
  int FErrorTextEditPKey = 0;
  std::string FErrorText;
  TLibFuncs* FLibFuncs = nullptr;
  TLayout* FLayout = nullptr;
  int FAltMessageNumber = 0;
  int FSuppressWarnings = 0;
  // Messages of the record in the order they came; the objects beyond the
  // count are kept for reuse, so a record's messages need no new allocation.
  std::vector<TErrorObject> FMessages;
  size_t FMessageCount = 0;
  std::vector<int> FEditsWithMessages;  // distinct edit keys, in order
  std::string FText;                    // the message being chosen
  std::string FLookedUp;                // a numbered message's raw text
};
