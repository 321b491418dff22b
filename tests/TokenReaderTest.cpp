// The token reader of compiled logic on its own: its token table, the
// one-character slot, field numbers, line feeds and the cargo stack.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/TokenMaster.h"
#include "storage/EngineErrorsPump.h"

namespace {

using Rows = std::vector<std::string>;

class TokenReader : public ::testing::Test {
 protected:
  void read(const std::string& text) {
    Logic = std::make_unique<TDecodedLogic>(text);
    Reader.SetCompiledLogic(Logic.get());
  }
  // Each token to the end as "spelling|id|type|compiled|one character|cargo".
  Rows tokens() {
    Rows rows;
    for (TToken* token; (token = Reader.GetCompiledToken()) != nullptr;) {
      char* cargo = Reader.GetCallCargo();
      rows.push_back(token->GetSpelling() + "|" + std::to_string(token->GetTokenID()) + "|" +
                     std::to_string(token->GetTokenType()) + "|" + token->GetCompiled() + "|" +
                     *Reader.GetOneChar() + "|" + (cargo != nullptr ? cargo : "-"));
      Reader.ResetTopOfStringsStack();
    }
    return rows;
  }
  TEngineErrorsPump Pump;
  TTokenMaster Reader{&Pump};
  std::unique_ptr<TDecodedLogic> Logic;
};

}  // namespace

TEST_F(TokenReader, EveryCompiledCharacterReadsAsItsToken) {
  // A user-function call's letter and parentheses are one token; a
  // character constant's closing quote goes with it.
  read("#12{}'a'();.:[]MqmA()nAN003abcDHIU00242OPQRSTWXYZyz!%&*+,-/<=>EGJK|\"002hiA   5B  12C9999F   0L    V");
  EXPECT_EQ((Rows{"#|35|0|#| |12",          "{|123|1|{|{|-",          "}|125|1|}|}|-",
                  "'|39|2|'|a|-",           "(|40|3|(|(|-",           ")|41|3|)|)|-",
                  ";|59|3|;|;|-",           ".|46|3|.|.|-",           ":|58|3|:|:|-",
                  "[|91|3|[|[|-",           "]|93|3|]|]|-",           "libfnc|77|5|M|q|-",
                  "funccall|109|5|m|A|-",   "function|110|5|n| |-",
                  "var|78|6|N| |abc",       "return|68|7|D|D|-",      "char|72|7|H|H|-",
                  "int|73|7|I|I|-",         "number|85|8|U| |42",     "dt_today|79|9|O|O|-",
                  "dt_unknown|80|9|P|P|-",  "fail|48|9|Q|Q|-",        "pass|49|9|R|R|-",
                  "dt_max|50|9|S|S|-",      "dt_exact|51|9|T|T|-",    "dt_empty|87|9|W|W|-",
                  "dt_valid|88|9|X|X|-",    "dt_missing|89|9|Y|Y|-",  "dt_error|90|9|Z|Z|-",
                  "dt_day_empty|121|9|y|y|-", "dt_month_empty|122|9|z|z|-", "!|33|10|!|!|-",
                  "mod|37|10|%|%|-",        "&&|38|10|&|&|-",         "*|42|10|*|*|-",
                  "+|43|10|+|+|-",          ",|44|10|,|,|-",          "-|45|10|-|-|-",
                  "/|47|10|/|/|-",          "<|60|10|<|<|-",          "=|61|10|=|=|-",
                  ">|62|10|>|>|-",          "==|69|10|E|E|-",         ">=|71|10|G|G|-",
                  "!=|74|10|J|J|-",         "<=|75|10|K|K|-",         "|||124|10|||||-",
                  "\"|11|11|\"| |hi",       "else|65|14|A| |   5",    "while|66|14|B| |  12",
                  "for|67|14|C| |9999",     "if|70|14|F| |   0",      "do|76|14|L| |    ",
                  // A character without a row is a blank token of one character.
                  " |0|0| | |-"}),
            tokens());
  // The table's slots take new tokens; a character beyond it has none.
  Reader.add_token("vee", 'V', 6, 'V');
  Reader.add_token("high", 200, 6, static_cast<char>(200));
  read("V");
  EXPECT_EQ(Rows{"vee|86|6|V| |-"}, tokens());
  read("\xC8");
  EXPECT_THROW(Reader.GetCompiledToken(), std::runtime_error);
  char error[64] = "";
  Pump.GetErrorByIndex(0, error, sizeof error);
  EXPECT_EQ("TTokenMaster::GetCompiledToken\xBBToken [\xC8] not found", std::string(error));
}

TEST_F(TokenReader, FieldNumbersLineFeedsAndTheOneCharacterSlot) {
  // At most 20 digits of a field number, pushed on the cargo stack; the
  // first non-digit stays to be read.
  read("12345678901234567890123;");
  EXPECT_EQ("12345678901234567890", std::string(Reader.extract_field_number()));
  EXPECT_EQ(20u, Reader.GetPos());
  EXPECT_EQ("123", std::string(Reader.extract_field_number()));
  EXPECT_EQ("", std::string(Reader.extract_field_number()));
  EXPECT_EQ(23u, Reader.GetPos());
  EXPECT_EQ("", std::string(Reader.GetCallCargo()));
  // Line feeds are passed, and nothing else.
  read("\n\n\nM\x84\n");
  Reader.SkipNewLines();
  EXPECT_EQ(3u, Reader.GetPos());
  Reader.SkipNewLines();
  EXPECT_EQ(3u, Reader.GetPos());
  // The slot holds the built-in's code, then a blank at the end of the text.
  ASSERT_NE(nullptr, Reader.GetCompiledToken());
  EXPECT_EQ('\x84', *Reader.GetOneChar());
  Reader.SkipNewLines();
  EXPECT_EQ(6u, Reader.GetPos());
  EXPECT_EQ(nullptr, Reader.GetCompiledToken());
  EXPECT_EQ(' ', *Reader.GetOneChar());
}

TEST(Token, SpellingAndSetters) {
  TToken token(nullptr, 0, 0, ' ');
  EXPECT_EQ("", token.GetSpelling());
  token.SetOriginal("while");
  token.SetTokenID('B');
  token.SetTokenType(14);
  token.SetCompiled('B');
  EXPECT_EQ("while|66|14|B", token.GetSpelling() + "|" + std::to_string(token.GetTokenID()) + "|" +
                                 std::to_string(token.GetTokenType()) + "|" + token.GetCompiled());
  token.SetOriginal(nullptr);
  EXPECT_EQ("", token.GetSpelling());
}

// A slot copies no further than the text's end, whatever length it is given
// (the sanitizer build sees a read past it), and never past its own size.
TEST(Cargo, CopiesStopAtTheTextsEndAndTheSlotsSize) {
  std::unique_ptr<char[]> text(new char[3]{'a', 'b', '\0'});
  TCargo cargo(8);
  cargo.SetCargoString(text.get(), 100);
  EXPECT_STREQ("ab", cargo.GetCargoAddress());
  const std::string longer(cargo.GetCargoSize() + 5, 'x');
  cargo.SetCargoString(longer.c_str(), longer.size());
  EXPECT_EQ(longer.substr(0, cargo.GetCargoSize() - 1), cargo.GetCargoAddress());
  cargo.SetCargoString("abcdefghij", 3);
  EXPECT_STREQ("abc", cargo.GetCargoAddress());
}
