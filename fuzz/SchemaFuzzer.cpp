// Fuzz target: rewrites a stored CREATE TABLE, INDEX or TRIGGER text for a
// renamed table. The first four lines of the input are the old and new table
// names and the old and new prefixes; the rest is the text. No text may crash
// or hang the rewrite; a text that names nothing to rename comes back whole,
// and a second rewrite for a table renamed to itself changes nothing.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "api/SMFRenameTexts.h"
#include "storage/Utility.h"

namespace {

// The next line of `input` from `at` on, without its newline; `at` moves past it.
std::string next_line(const std::string& input, size_t& at) {
  size_t newline = input.find('\n', at);
  size_t end = newline == std::string::npos ? input.size() : newline;
  std::string line = input.substr(at, end - at);
  at = newline == std::string::npos ? input.size() : newline + 1;
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  size_t at = 0;
  TRenamedNames names;
  names.OldName = next_line(input, at);
  names.NewName = next_line(input, at);
  names.OldPrefix = next_line(input, at);
  names.NewPrefix = next_line(input, at);
  const std::string text = input.substr(at);

  rename_schema_text(text, names);

  // A name is read from consecutive bytes of the text, but for a doubled quote
  // that stands for one: an old name that holds no quote and that the text
  // does not spell, letter case aside, is found nowhere. With the prefix kept
  // as well, the text comes back whole.
  const std::string oldName = lowercase_string(names.OldName);
  const bool absent = oldName.find_first_of("'\"`") == std::string::npos &&
                      lowercase_string(text).find(oldName) == std::string::npos;
  if ((oldName.empty() || absent) &&
      rename_schema_text(text, {names.OldName, names.NewName, names.OldPrefix, names.OldPrefix}) != text)
    abort();

  // A table renamed to itself still has its name rewritten in brackets (or
  // quotes), but the rewritten name reads back as the same name in the same
  // place, so a second rewrite changes nothing.
  const TRenamedNames same = {names.OldName, names.OldName, names.OldPrefix, names.OldPrefix};
  const std::string once = rename_schema_text(text, same);
  if (rename_schema_text(once, same) != once) abort();
  return 0;
}
