// Rename propagation: a changed field name or number, lookup-table name or
// message number is carried into the QUELT source of every edit that the
// pivot tables list as depending on it, and each such edit is recompiled.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>

#include "api/SMF.h"
#include "authoring/SMFWriter.h"
#include "storage/SQLQuery.h"
#include "storage/Utility.h"

namespace {

const char* const kMessageFunctions[] = {"set_warning", "save_warning_text", "error_msg", "save_error_text"};

// Replaces each occurrence of `find` (letter case aside; beginning a word when
// wordStart holds) that `ends` accepts as whole at the position after it.
std::string replace_whole(const std::string& text, const std::string& find, const std::string& replacement,
                          bool wordStart, bool (*ends)(const std::string& text, size_t end)) {
  std::string result;
  size_t copied = 0;
  size_t at = ci_stringFindFrom(text, find, wordStart, 0);
  while (at != std::string::npos) {
    size_t end = at + find.size();
    bool whole = ends(text, end);
    if (whole) {
      result.append(text, copied, at - copied).append(replacement);
      copied = end;
    }
    at = ci_stringFindFrom(text, find, wordStart, whole ? end : at + 1);
  }
  return result.append(text, copied, std::string::npos);
}

bool ends_table_name(const std::string& text, size_t end) {
  return end < text.size() && (text[end] == '"' || text[end] == '.');
}

bool ends_number(const std::string& text, size_t end) {
  return end >= text.size() || !isdigit(static_cast<unsigned char>(text[end]));
}

// A field reference is #S, the blanks the compiler allows, and the name in
// double quotes, in any letter case; the rewritten one reads #S"new".
std::string rewrite_field_name(const std::string& logic, const std::string& oldName, const std::string& newName) {
  std::string quoted = lowercase_string("\"" + oldName + "\"");
  std::string result;
  size_t copied = 0;
  for (size_t at = ci_stringFindFrom(logic, "#S", false, 0); at != std::string::npos;
       at = ci_stringFindFrom(logic, "#S", false, std::max(at + 2, copied))) {
    size_t name = logic.find_first_not_of(" \t\r\n", at + 2);
    if (name == std::string::npos || lowercase_string(logic.substr(name, quoted.size())) != quoted) continue;
    result.append(logic, copied, at - copied).append("#S\"" + newName + "\"");
    copied = name + quoted.size();
  }
  return result.append(logic, copied, std::string::npos);
}

// A string constant naming the table alone or the table and a column; one
// naming a longer table that merely begins with the old name is left alone.
std::string rewrite_table_name(const std::string& logic, const std::string& oldName, const std::string& newName) {
  return replace_whole(logic, "\"" + oldName, "\"" + newName, false, ends_table_name);
}

// Only the argument text of the message functions changes, up to the first
// ")", and only where the whole number matches.
std::string rewrite_message_number(const std::string& logic, const std::string& oldNumber,
                                   const std::string& newNumber) {
  std::string result = logic;
  for (const char* name : kMessageFunctions) {
    size_t at = ci_stringFindFrom(result, name, true, 0);
    while (at != std::string::npos) {
      size_t start = at + strlen(name);
      size_t close = result.find(')', start);
      if (close != std::string::npos) {
        std::string arguments = replace_whole(result.substr(start, close + 1 - start), oldNumber, newNumber, true,
                                              ends_number);
        result.replace(start, close + 1 - start, arguments);
        start += arguments.size();
      }
      at = ci_stringFindFrom(result, name, true, start);
    }
  }
  return result;
}

}  // namespace

bool TSMFWriter::update_edit_fields(TUpdateEditLogicObject* change, int fieldPKey) {
  if (strcmp(change->GetFieldName(), "FieldName") == 0)
    return update_dependent_edits(change, "RL_EditFieldsPivot", "FieldPKey", fieldPKey, rewrite_field_name);
  // Compiled logic holds fields by number: recompiling is enough.
  if (strcmp(change->GetFieldName(), "FieldNumber") == 0)
    return update_dependent_edits(change, "RL_EditFieldsPivot", "FieldPKey", fieldPKey, nullptr);
  return true;
}

bool TSMFWriter::update_edit_tables(TUpdateEditLogicObject* change, int tablePKey) {
  if (strcmp(change->GetFieldName(), "TableName") != 0) return true;
  return update_dependent_edits(change, "RL_EditTablesPivot", "LookupTablePKey", tablePKey, rewrite_table_name);
}

bool TSMFWriter::update_edit_messages(TUpdateEditLogicObject* change, int messagePKey) {
  if (strcmp(change->GetFieldName(), "MessageNumber") != 0) return true;
  return update_dependent_edits(change, "RL_EditMessagesPivot", "MessagePKey", messagePKey,
                                rewrite_message_number);
}

// Every dependent edit is listed before any is changed. An edit whose logic
// cannot be written, or whose recompilation fails as a statement, makes the
// result false; compile errors do not (the edit is passed over until fixed).
// An edit key that is not usable changes none: cut to an int, it would
// rewrite another agency's edit.
bool TSMFWriter::update_dependent_edits(TUpdateEditLogicObject* change, const char* pivot, const char* keyColumn,
                                        int pkey, TLogicRewrite rewrite) {
  std::vector<int> editKeys;
  std::vector<std::string> editTags;
  bool result = true;
  try {
    TSQLQuery query(FSQLDB);
    query.OpenSelect(std::string("SELECT a.[EditPKey], b.[EditTag] FROM [") + pivot +
                     "] a, [RL_Edits] b WHERE a.[EditPKey] = b.[PKey] AND a.[" + keyColumn +
                     "] = " + intToString(pkey) + ";");
    for (bool row = !query.Eof(); row; row = query.FetchNext() && !query.Eof()) {
      editKeys.push_back(query.GetUsableKeyByNumber(0, "RL_Edits"));
      editTags.push_back(query.GetFieldByNumber(1));
    }
    if (!query.Eof()) return false;
    for (size_t i = 0; i < editKeys.size(); ++i) {
      if (rewrite != nullptr &&
          !rewrite_edit_logic(editKeys[i], change->GetOriginalValue(), change->GetNewValue(), rewrite))
        result = false;
      else if (FSMF->RecompileEditLogic(editTags[i].c_str()) == -1)
        result = false;
    }
  } catch (const TKeyRefusal& e) {
    add_error("post_edit", e.what());
    return false;
  } catch (const std::runtime_error&) {
    return false;
  }
  return result;
}

bool TSMFWriter::rewrite_edit_logic(int editPKey, const std::string& oldValue, const std::string& newValue,
                                    TLogicRewrite rewrite) {
  TSQLQuery query(FSQLDB);
  std::string key = intToString(editPKey);
  query.OpenSelect("SELECT [EditLogic] FROM [RL_Edits] WHERE [PKey] = " + key + ";");
  std::string logic = rewrite(query.GetFieldByNumber(0), oldValue, newValue);
  query.SetIsActive(false);
  query.SetSQLText("UPDATE [RL_Edits] SET [EditLogic] = ? WHERE [PKey] = " + key, false);
  return query.ExecOneSQL({logic});
}
