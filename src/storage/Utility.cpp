// String and date helpers on byte strings shared by every subsystem.
#include "storage/Utility.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

namespace {

char to_upper(char c) { return static_cast<char>(toupper(static_cast<unsigned char>(c))); }
char to_lower(char c) { return static_cast<char>(tolower(static_cast<unsigned char>(c))); }

bool same_letter(char a, char b) { return to_upper(a) == to_upper(b); }

bool is_word_separator(char c) {
  return c == '\t' || c == '\r' || c == '\n' || (c != '\0' && strchr(" !;,+-<>'%^=()[]{}", c) != nullptr);
}

bool may_start_match(const std::string& text, size_t i, char first, bool wordStart) {
  if (!same_letter(text[i], first)) return false;
  return !wordStart || i == 0 || is_word_separator(text[i - 1]);
}

// Length of the match of `find` at position i; equals find.size() when complete.
size_t match_length(const std::string& text, size_t i, const std::string& find) {
  size_t k = 1;
  while (k < find.size() && i + k < text.size() && same_letter(text[i + k], find[k])) ++k;
  return k;
}

}  // namespace

void lowercase(std::string& text) {
  for (char& c : text) c = to_lower(c);
}

void uppercase(std::string& text) {
  for (char& c : text) c = to_upper(c);
}

std::string lowercase_string(std::string text) {
  lowercase(text);
  return text;
}

std::string uppercase_string(std::string text) {
  uppercase(text);
  return text;
}

std::string trim(const std::string& text, const std::string& chars) {
  return rtrim(ltrim(text, chars), chars);
}

std::string ltrim(const std::string& text, const std::string& chars) {
  size_t first = text.find_first_not_of(chars);
  return first == std::string::npos ? std::string() : text.substr(first);
}

std::string rtrim(const std::string& text, const std::string& chars) {
  size_t last = text.find_last_not_of(chars);
  return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

std::string padright(const std::string& text, unsigned width, char fill) {
  return (text + std::string(width, fill)).substr(0, width);
}

std::string padleft(const std::string& text, unsigned width, char fill) {
  std::string padded = std::string(width, fill) + text;
  return padded.substr(padded.size() - width);
}

std::string intToString(int value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

std::string stringReplace(const std::string& text, const std::string& oldText,
                          const std::string& newText) {
  std::string result = text;
  if (oldText.empty()) return result;
  size_t pos = result.find(oldText);
  while (pos != std::string::npos) {
    result.replace(pos, oldText.size(), newText);
    // Never restart inside the inserted text, so no pair can loop for ever.
    size_t restart = std::max(pos + oldText.size() + 1, pos + newText.size());
    if (restart > result.size()) break;
    pos = result.find(oldText, restart);
  }
  return result;
}

std::string ci_stringReplace(const std::string& text, const std::string& find,
                             const std::string& replacement, bool wordStart) {
  if (find.empty()) return text;
  std::string result;
  size_t i = 0;
  while (i < text.size()) {
    if (!may_start_match(text, i, find[0], wordStart)) {
      result += text[i++];
      continue;
    }
    size_t k = match_length(text, i, find);
    if (k == find.size())
      result += replacement;
    else
      result.append(text, i, k);  // resume at the character that broke the match
    i += k;
  }
  return result;
}

int ci_stringFind(const std::string& text, const std::string& find, bool wordStart) {
  size_t found = ci_stringFindFrom(text, find, wordStart, 0);
  return found == std::string::npos ? -1 : static_cast<int>(found);
}

size_t ci_stringFindFrom(const std::string& text, const std::string& find, bool wordStart, size_t from) {
  if (find.empty()) return std::string::npos;
  size_t i = from;
  while (i < text.size()) {
    if (!may_start_match(text, i, find[0], wordStart)) {
      ++i;
      continue;
    }
    size_t k = match_length(text, i, find);
    if (k == find.size()) return i;
    i += k;
  }
  return std::string::npos;
}

int posix_stricmp(const char* a, const char* b) {
  if (a == nullptr) a = "";
  if (b == nullptr) b = "";
  for (;; ++a, ++b) {
    int ca = toupper(static_cast<unsigned char>(*a));
    int cb = toupper(static_cast<unsigned char>(*b));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

bool same_name(const std::string& a, const std::string& b) { return posix_stricmp(a.c_str(), b.c_str()) == 0; }

int get_int_val(const char* buffer, unsigned offset, unsigned length) {
  if (buffer == nullptr) return 0;
  char digits[101];
  unsigned n = length < 100 ? length : 100;
  memcpy(digits, buffer + offset, n);
  digits[n] = '\0';
  long value = strtol(digits, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

char* get_current_date_time(char* buffer, int length) {
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  char text[32];
  strftime(text, sizeof text, "%Y%m%d %H:%M:%S", &local);
  copy_to_buffer(text, buffer, length);
  return buffer;
}

void copy_to_buffer(const std::string& text, char* buffer, int length) {
  if (buffer == nullptr || length < 1) return;
  size_t n = static_cast<size_t>(length);
  size_t textLength = strlen(text.c_str());
  size_t copied = textLength < n ? textLength : n;
  memcpy(buffer, text.data(), copied);
  if (copied < n) memset(buffer + copied, 0, n - copied);
}

std::string quote_sql_value(const std::string& value) {
  return stringReplace(value, "'", "''");
}

std::string quote_identifier(const std::string& name) {
  // SQLite has no escape inside brackets.
  if (name.find(']') == std::string::npos) return "[" + name + "]";
  return "\"" + stringReplace(name, "\"", "\"\"") + "\"";
}

bool is_plain_identifier(const std::string& name) {
  return !name.empty() && !isdigit(static_cast<unsigned char>(name[0])) &&
         std::all_of(name.begin(), name.end(), [](char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}
