// The mask built-ins: MATCH and INLIST, the translation of the mask language
// into regular expressions, and the cache of compiled masks.
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string_view>

#include "library/LibFuncs.h"
#include "runtime/RunEdits.h"

namespace {

const char* const kBlanks = " \t";

// The text a class character stands for inside a bracket expression; null
// for a byte that is no class.
const char* class_text(char c, bool inGroup) {
  switch (c) {
    case 'x': return "[:alnum:]";
    case 'b': return "[:blank:]";
    case 'a': return "[:alpha:]";
    case 'u': return "[:upper:]";
    case 'l': return "[:lower:]";
    case 'd': return "[:digit:]";
    case '@': return inGroup ? "[^[:blank:]]" : "^[:blank:]";
    case '?': return ".";
    default: return nullptr;
  }
}

// One translation of a mask into the text of a regular expression.
class TMaskTranslation {
 public:
  explicit TMaskTranslation(const std::string& mask) : FMask(mask) {}
  std::string run();

 private:
  // Each translates the mask from position i and returns where the next byte is.
  size_t step(size_t i);
  size_t class_character(size_t i, const char* text);
  size_t escape(size_t i);
  size_t range(size_t i);
  void close_set();
  bool next_is(size_t i, char c) const { return i + 1 < FMask.size() && FMask[i + 1] == c; }
  [[noreturn]] void fail(const char* separator, const std::string& reason) const;

  const std::string& FMask;
  std::string FOut;
  bool FInSet = false;
  bool FInGroup = false;
  size_t FSetStart = 0;  // where the set's members begin in the output
};

std::string TMaskTranslation::run() {
  for (size_t i = 0; i < FMask.size();) i = step(i);
  return FOut;
}

size_t TMaskTranslation::step(size_t i) {
  char c = FMask[i];
  if (const char* text = class_text(c, FInGroup)) return class_character(i, text);
  switch (c) {
    case '!': return escape(i);
    case ':': return range(i);
    case '{':
      FOut += '[';
      FInSet = true;
      FSetStart = FOut.size();
      break;
    case '}': close_set(); break;
    case '[':
      FOut += '(';
      FInGroup = true;
      break;
    case ']':
      FOut += ')';
      FInGroup = false;
      break;
    case ',': FOut += '|'; break;
    case '-': FOut += "\\-"; break;
    default: FOut += c;
  }
  return i + 1;
}

size_t TMaskTranslation::class_character(size_t i, const char* text) {
  char c = FMask[i];
  if (c == '@' && FInSet && !FInGroup)
    fail(": ", "\"Not-blank\" character \"@\" inside sub-pattern \"{}\" does not process properly. "
               "Try \"[@]\" or \"[@]*\" instead.");
  if (c == '?' && FInSet && ((i > 0 && FMask[i - 1] == ',') || next_is(i, ',')))
    fail(". ", "The \"any\" character \"?\" inside sub-pattern \"{}\" cannot be combined with other mask "
               "characters. Try optional sub-pattern syntax like \"[?,a,b,d]\" instead. "
               "(Reminder: The \"?\" means ANYTHING. All other tokens are redundant.)");
  size_t end = FMask.find_first_not_of(c, i);
  size_t run = (end == std::string::npos ? FMask.size() : end) - i;
  bool bare = c == '?' || (run == 1 && (FInSet || (c == '@' && FInGroup)));
  FOut += bare ? text : std::string("[") + text + "]";
  if (run == 1) return i + 1;
  char count[32];
  snprintf(count, sizeof count, "{%d,%d}", static_cast<int>(run), static_cast<int>(run));
  FOut += count;
  return i + run;
}

// '!' takes the next byte literally: as it is, or escaped where it would
// otherwise mean something to the expression.
size_t TMaskTranslation::escape(size_t i) {
  if (i + 1 >= FMask.size()) return i + 1;
  char next = FMask[i + 1];
  if (next == '+' || next == '-' || next == '{' || next == '?') FOut += '\\';
  FOut += next;
  return i + 2;
}

// 'A:Z' is the range from the byte written last to the next one.
size_t TMaskTranslation::range(size_t i) {
  if (FInSet) {
    FOut += '-';
    return i + 1;
  }
  if (FOut.empty()) fail(": ", "The range character \":\" has no character before it.");
  char low = FOut.back();
  FOut.pop_back();
  FOut += '[';
  FOut += low;
  FOut += '-';
  if (i + 1 >= FMask.size()) return i + 1;
  FOut += FMask[i + 1];
  FOut += ']';
  return i + 2;
}

// A set is one bracket expression of its members; a set of only '?' is any
// one character.
void TMaskTranslation::close_set() {
  if (FInSet && FOut.size() == FSetStart + 1 && FOut.back() == '.') FOut.erase(FSetStart - 1, 1);
  else FOut += ']';
  FInSet = false;
}

void TMaskTranslation::fail(const char* separator, const std::string& reason) const {
  throw std::runtime_error("Syntax error in MATCH mask: \"" + FMask + "\"" + separator + reason);
}

// Whether the item of an INLIST list holds the value: a range "low-high"
// (split at its first '-') holds it between its ends, any other item when
// equal. A blank value is held only by a blank item of the slice's length.
bool item_holds(std::string_view item, std::string_view value, size_t sliceLength) {
  if (value.empty()) return item.find_first_not_of(kBlanks) == std::string_view::npos && item.size() == sliceLength;
  size_t dash = item.find('-');
  if (dash == std::string_view::npos) return item == value;
  return item.substr(0, dash) <= value && value <= item.substr(dash + 1);
}

// The length of the text without its trailing blanks.
size_t trimmed_length(std::string_view text) {
  size_t last = text.find_last_not_of(kBlanks);
  return last == std::string_view::npos ? 0 : last + 1;
}

}  // namespace

void TLibFuncs::setup_mask_functions() {
  set_function(0x55, &TLibFuncs::call_inlist);
  set_function(0x5A, &TLibFuncs::call_match);
}

std::string TLibFuncs::translate_mask_to_regex(const std::string& mask) { return TMaskTranslation(mask).run(); }

void TLibFuncs::find_regex_pattern(const char* mask) {
  auto found = FRegexCache.find(std::string_view(mask));
  if (found == FRegexCache.end()) {
    boost::regex compiled(translate_mask_to_regex(mask));
    make_room(FRegexCache, kMaxCachedMasks);
    found = FRegexCache.emplace(mask, std::move(compiled)).first;
  }
  FCurrentRegex = &found->second;
}

bool TLibFuncs::fits_mask(std::string_view subject, const char* mask, const char* method, const char* invalid) {
  find_regex_pattern(mask);
  try {
    return boost::regex_match(subject.data(), subject.data() + subject.size(), FMatchResults, *FCurrentRegex);
  } catch (const std::runtime_error&) {
    // The library's own message follows, as the failure passes on.
    record(method, invalid + std::string(mask) + "\"");
    throw;
  }
}

TValueWord TLibFuncs::call_match() {
  return recorded("call_match", [this] {
    check_open_paren();
    const char* value = kept_text_argument();
    const char* mask = kept_text_argument();
    return TValueWord(fits_mask(value, mask, "call_match", "MATCH pattern invalid: \""));
  });
}

TValueWord TLibFuncs::call_inlist() {
  return recorded("call_inlist", [this] {
    check_open_paren();
    const char* source = kept_text_argument();
    const char* list = kept_text_argument();
    const char* mask = "";
    int32_t start = 0, length = 0;
    for (int read = 2; FRunEdits->GetEvalTokenID() == ','; ++read) {
      if (read == 2) mask = kept_text_argument();
      else if (read == 3) start = integer_argument();
      else if (read == 4) length = integer_argument();
      else argument();
    }
    if (FRunEdits->GetEvalTokenID() != ')') throw std::runtime_error("syntax error: expected COMMA or RPAREN");
    return TValueWord(inlist(source, list, mask, start, length));
  });
}

bool TLibFuncs::inlist(std::string_view source, std::string_view list, const char* mask, int32_t start,
                       int32_t length) {
  size_t kept = trimmed_length(source);
  if (*mask != '\0') {
    if (!fits_mask(source, mask, "call_inlist", "INLIST match pattern invalid: \"")) return false;
    if (kept == 0) return true;
  }
  size_t from = inlist_start(start, source.size());
  size_t end = source.size();
  if (length == 0 && kept > 0) end = kept;
  if (length > 0 && from + length < end) end = from + length;
  std::string_view slice = from < end ? source.substr(from, end - from) : std::string_view();
  std::string_view value = slice.substr(0, trimmed_length(slice));
  for (size_t at = 0; at < list.size();) {
    size_t comma = std::min(list.find(',', at), list.size());
    if (item_holds(list.substr(at, comma - at), value, slice.size())) return true;
    at = comma + 1;
  }
  return false;
}

// The 0-based start of the slice: a start from 1 up to the source's length
// counts from 1, none or 0 is the first byte, any other fails.
size_t TLibFuncs::inlist_start(int32_t start, size_t sourceLength) {
  if (start < 0 || static_cast<size_t>(start) > sourceLength) {
    char message[100];
    snprintf(message, sizeof message, "INLIST start pos (%d) is invalid compared to length of source string (%d)",
             static_cast<int>(start), static_cast<int>(sourceLength));
    fail("call_inlist", message);
  }
  return start > 0 ? static_cast<size_t>(start) - 1 : 0;
}
