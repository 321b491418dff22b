// String and date helpers on byte strings shared by every subsystem:
// case conversion, trimming, padding, search and replace, integer parsing.
#pragma once

#include <string>

void lowercase(std::string& text);
void uppercase(std::string& text);
std::string lowercase_string(std::string text);
std::string uppercase_string(std::string text);

std::string trim(const std::string& text, const std::string& chars);
std::string ltrim(const std::string& text, const std::string& chars);
std::string rtrim(const std::string& text, const std::string& chars);

// Left- or right-justifies text in exactly `width` characters: padright
// cuts a longer text at the right, padleft keeps its rightmost characters.
std::string padright(const std::string& text, unsigned width, char fill);
std::string padleft(const std::string& text, unsigned width, char fill);

std::string intToString(int value);

// Replaces occurrences of `oldText`; the search restarts one character past
// the replaced span, so doubling quotes never finds an inserted quote again.
std::string stringReplace(const std::string& text, const std::string& oldText,
                          const std::string& newText);

// Case-insensitive replace and find; with wordStart a match must begin a word.
std::string ci_stringReplace(const std::string& text, const std::string& find,
                             const std::string& replacement, bool wordStart);
// Position of the first match, or -1.
int ci_stringFind(const std::string& text, const std::string& find, bool wordStart);
// The same search starting at `from`, where the word rule still looks at the
// character before; npos when there is no match.
size_t ci_stringFindFrom(const std::string& text, const std::string& find, bool wordStart, size_t from);

int posix_stricmp(const char* a, const char* b);
// Whether two names are the same, letter case aside, as the database compares
// the names of tables, columns, indexes and triggers.
bool same_name(const std::string& a, const std::string& b);

// atoi over at most the first 100 of `length` bytes at `offset`.
int get_int_val(const char* buffer, unsigned offset, unsigned length);

// Local date and time as "%Y%m%d %H:%M:%S", copied with strncpy semantics.
char* get_current_date_time(char* buffer, int length);

// Copies text into a caller buffer with strncpy semantics; nothing for length < 1.
void copy_to_buffer(const std::string& text, char* buffer, int length);

// Doubles single quotes so a value can be pasted between quotes in SQL.
std::string quote_sql_value(const std::string& value);

// A name as an SQL identifier: in brackets, or in double quotes with inner
// double quotes doubled when it holds "]".
std::string quote_identifier(const std::string& name);
// True for letters, digits and "_" only, not starting with a digit: a name
// that brackets always quote, SQL keywords included.
bool is_plain_identifier(const std::string& name);
