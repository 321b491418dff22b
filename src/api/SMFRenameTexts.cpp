// Rewriting stored CREATE texts for a renamed table. The text is read as SQL
// tokens (words, quoted names, strings, comments), so a name is replaced only
// where the statement's form puts a table name.
#include "api/SMFRenameTexts.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "storage/Utility.h"

namespace {

struct TToken {
  size_t Begin;
  size_t End;
  bool Bare;         // a bare word: a keyword or a name
  // A bare word or quoted name as the database reads it: unquoted, its
  // doubled quotes single; empty for anything else. A string has one too:
  // where only a name may stand, it is one.
  std::string Unquoted;
  std::string Name;  // the same, lower-cased
};

bool is_word_byte(char c, bool first) {
  unsigned char byte = static_cast<unsigned char>(c);
  return isalpha(byte) || c == '_' || byte >= 0x80 || (!first && (isdigit(byte) || c == '$'));
}

// The end of the string or quoted name opening at `at`; its text without the
// quotes (a doubled closing quote stands for one) goes to `inner`.
size_t quoted_end(const std::string& text, size_t at, char close, std::string& inner) {
  for (size_t i = at + 1; i < text.size(); ++i) {
    if (text[i] != close) {
      inner += text[i];
    } else if (close != ']' && i + 1 < text.size() && text[i + 1] == close) {
      inner += text[i++];
    } else {
      return i + 1;
    }
  }
  return text.size();
}

// Where the blanks and comments that start at `at` end.
size_t skip_blanks(const std::string& text, size_t at) {
  while (at < text.size()) {
    if (isspace(static_cast<unsigned char>(text[at]))) {
      ++at;
    } else if (text.compare(at, 2, "--") == 0) {
      at = std::min(text.find('\n', at), text.size());
    } else if (text.compare(at, 2, "/*") == 0) {
      size_t close = text.find("*/", at + 2);
      at = close == std::string::npos ? text.size() : close + 2;
    } else {
      break;
    }
  }
  return at;
}

TToken read_token(const std::string& text, size_t at) {
  TToken token{at, at + 1, false, std::string(), std::string()};
  char c = text[at];
  if (c == '\'' || c == '"' || c == '`' || c == '[') {
    token.End = quoted_end(text, at, c == '[' ? ']' : c, token.Unquoted);
    token.Name = lowercase_string(token.Unquoted);
  } else if (is_word_byte(c, true)) {
    while (token.End < text.size() && is_word_byte(text[token.End], false)) ++token.End;
    token.Bare = true;
    token.Unquoted = text.substr(at, token.End - at);
    token.Name = lowercase_string(token.Unquoted);
  } else if (isdigit(static_cast<unsigned char>(c))) {
    while (token.End < text.size() && (is_word_byte(text[token.End], false) || text[token.End] == '.')) ++token.End;
  }
  return token;
}

// A name written back in the quotes that `open` began, a closing quote inside
// it doubled; a bare word stays bare. Brackets have no escape, but a name read
// from them holds no "]", and the new prefix adds none.
std::string requoted(const std::string& name, char open) {
  if (open == '[') return "[" + name + "]";
  if (open != '"' && open != '`' && open != '\'') return name;
  const std::string quote(1, open);
  return quote + stringReplace(name, quote, quote + quote) + quote;
}

std::vector<TToken> sql_tokens(const std::string& text) {
  std::vector<TToken> tokens;
  for (size_t at = skip_blanks(text, 0); at < text.size(); at = skip_blanks(text, tokens.back().End))
    tokens.push_back(read_token(text, at));
  return tokens;
}

// A text read as SQL tokens, with the tests its rewrite uses.
class TSqlText {
 public:
  explicit TSqlText(const std::string& text) : FText(text), FTokens(sql_tokens(text)), FEnd(FTokens.size()) {}

 protected:
  bool keyword(size_t i, const char* word) const { return i < FEnd && FTokens[i].Bare && FTokens[i].Name == word; }
  bool mark(size_t i, char c) const {
    return i < FEnd && !FTokens[i].Bare && FTokens[i].End == FTokens[i].Begin + 1 && FText[FTokens[i].Begin] == c;
  }
  size_t find_keyword(const char* word, size_t from) const {
    while (from < FEnd && !keyword(from, word)) ++from;
    return from;
  }
  // The name proper of a name that may be qualified by its database's.
  size_t unqualified(size_t i) const { return mark(i + 1, '.') ? i + 2 : i; }
  size_t statement_target(size_t start) const;

  const std::string& FText;
  const std::vector<TToken> FTokens;
  const size_t FEnd;
};

// The table that the statement starting at `start` writes, or FEnd.
size_t TSqlText::statement_target(size_t start) const {
  size_t verb = start + 1;
  if (keyword(start, "update")) return keyword(verb, "or") ? verb + 2 : verb;
  if (keyword(start, "insert") && keyword(verb, "or")) verb += 2;
  if (keyword(start, "insert") || keyword(start, "replace")) return keyword(verb, "into") ? verb + 1 : FEnd;
  if (keyword(start, "delete")) return keyword(verb, "from") ? verb + 1 : FEnd;
  return FEnd;
}

class TTextRewrite : public TSqlText {
 public:
  TTextRewrite(const std::string& text, const TRenamedNames& names)
      : TSqlText(text), FNames(names), FOldName(lowercase_string(names.OldName)) {}

  std::string Run();

 private:
  struct TEdit {
    size_t Begin;
    size_t End;
    std::string Text;
  };

  void rename_table(size_t i);
  void rename_references(size_t from);
  void rename_prefix(size_t i);
  size_t body_begin(size_t from) const;
  void rename_targets(size_t begin);
  std::string edited() const;

  const TRenamedNames& FNames;
  const std::string FOldName;
  std::vector<TEdit> FEdits;
};

std::string TTextRewrite::Run() {
  size_t i = 0;
  if (!keyword(i++, "create")) return FText;
  while (keyword(i, "temp") || keyword(i, "temporary") || keyword(i, "unique")) ++i;
  bool isTable = keyword(i, "table"), isTrigger = keyword(i, "trigger");
  if (!isTable && !isTrigger && !keyword(i, "index")) return FText;
  if (keyword(++i, "if") && keyword(i + 1, "not") && keyword(i + 2, "exists")) i += 3;
  i = unqualified(i);
  if (isTable) {
    rename_table(i);
    rename_references(i + 1);
  } else {
    rename_prefix(i);
    size_t table = unqualified(find_keyword("on", i + 1) + 1);
    rename_table(table);
    if (isTrigger) rename_targets(body_begin(table + 1));
  }
  return edited();
}

void TTextRewrite::rename_table(size_t i) {
  if (i < FEnd && !FOldName.empty() && FTokens[i].Name == FOldName)
    FEdits.push_back({FTokens[i].Begin, FTokens[i].End, quote_identifier(FNames.NewName)});
}

// A table's foreign keys that refer to the table itself: REFERENCES is
// reserved, so a bare one is always the keyword and a name follows it.
void TTextRewrite::rename_references(size_t from) {
  for (size_t i = from; i < FEnd; ++i)
    if (keyword(i, "references")) rename_table(unqualified(i + 1));
}

// The prefix is looked for in the name as the database reads it, since quotes
// inside it are doubled in the text; a name without it is left as written.
void TTextRewrite::rename_prefix(size_t i) {
  if (i >= FEnd || FNames.OldPrefix.empty()) return;
  const TToken& token = FTokens[i];
  std::string renamed = stringReplace(token.Unquoted, FNames.OldPrefix, FNames.NewPrefix);
  if (renamed != token.Unquoted) FEdits.push_back({token.Begin, token.End, requoted(renamed, FText[token.Begin])});
}

// The BEGIN that opens a trigger's body: the table's own name before it, and
// a column of the WHEN clause (new.Begin, or one inside parentheses), may
// spell the word too.
size_t TTextRewrite::body_begin(size_t from) const {
  int depth = 0;
  for (size_t i = from; i < FEnd; ++i) {
    if (mark(i, '(')) ++depth;
    if (mark(i, ')')) --depth;
    if (depth == 0 && keyword(i, "begin") && !mark(i - 1, '.')) return i;
  }
  return FEnd;
}

// The statements of a trigger's body follow its BEGIN, each ended by ";".
void TTextRewrite::rename_targets(size_t begin) {
  for (size_t start = begin + 1; start < FEnd; ++start) {
    rename_table(statement_target(start));
    while (start < FEnd && !mark(start, ';')) ++start;
  }
}

std::string TTextRewrite::edited() const {
  std::string text;
  size_t copied = 0;
  for (const TEdit& edit : FEdits) {
    text += FText.substr(copied, edit.Begin - copied) + edit.Text;
    copied = edit.End;
  }
  return text + FText.substr(copied);
}

}  // namespace

std::string rename_schema_text(const std::string& text, const TRenamedNames& names) {
  return TTextRewrite(text, names).Run();
}
