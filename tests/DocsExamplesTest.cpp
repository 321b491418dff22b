// The pages a host developer reads: every QUELT example of docs/quelt.md
// compiles as the page says, on the metafile the page describes, built with
// the row cycle of docs/metafile.md; and a run goes as those pages, the
// README and the header tell it.
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "AuthoringTestSupport.h"

namespace {

const std::string kQueltPage = std::string(QUELT_DOCS_DIR) + "/quelt.md";

// Fence tags: an edit's logic that compiles cleanly, logic whose compile
// reports the lines of the report block that follows it, and that block.
const char* const kClean = "quelt";
const char* const kReported = "quelt-report";
const char* const kReport = "report";

// A fenced block of a page: its tag, its lines and the line of its fence.
struct Block {
  std::string tag;
  Rows lines;
  int line = 0;
  std::string text() const {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
  }
};

std::vector<Block> fenced_blocks(const std::string& path) {
  std::ifstream page(path);
  EXPECT_TRUE(page.is_open()) << "cannot read " << path;
  std::vector<Block> blocks;
  bool inside = false;
  int number = 0;
  for (std::string line; std::getline(page, line);) {
    ++number;
    if (line.compare(0, 3, "```") == 0) {
      if (!inside) blocks.push_back(Block{line.substr(3), {}, number});
      inside = !inside;
    } else if (inside) {
      blocks.back().lines.push_back(line);
    }
  }
  EXPECT_FALSE(inside) << path << ": a block is not closed";
  return blocks;
}

// The examples' metafile: the page's fields with their start in layout CASE,
// its messages and its lookup tables with the columns that carry an index.
struct Field {
  const char* number;
  const char* name;
  const char* length;
  const char* type;
  int start;
};
const Field kFields[] = {
    {"220", "Sex", "1", "S ", 1},           {"230", "Age at Diagnosis", "3", "S ", 2},
    {"240", "Date of Birth", "8", "D1", 5}, {"390", "Date of Diagnosis", "8", "D1", 13},
    {"400", "Primary Site", "4", "S ", 21}, {"80", "State at Diagnosis", "2", "S ", 25},
    {"100", "Postal Code", "5", "S ", 27},
};
const char* const kMessages[][2] = {
    {"1001", "%F1 (%V1) is not a valid code"}, {"1002", "%F1 (%V1) is out of range"},
    {"1003", "%F1 %V1 is %D1"},                {"1004", "%F2 is before %F1"},
    {"1005", "%F1 (%V1) is not a known state"}, {"1006", "%F1 %V1 does not agree with %F2 %V2"},
};
struct Column {
  const char* name;
  int length;
  bool indexed;
};
struct LookupTable {
  const char* name;
  std::vector<Column> columns;
};
const LookupTable kLookupTables[] = {
    {"STATES", {{"CODE", 2, true}, {"NAME", 30, false}}},
    {"AGEBANDS", {{"LOW", 3, true}, {"BAND", 10, false}}},
    {"POSTAL", {{"STATE", 2, true}, {"ZIP", 5, true}, {"CITY", 30, false}}},
};

// A record of layout CASE: sex 4, age 62, born 14 March 1958, diagnosed 11
// June 2020, site C509, New York, postal code 10001.
const char* const kCaseRecord = "4062195803142020061 C509NY10001";

class DocsExamples : public MetafileTest {
 protected:
  void SetUp() override {
    int layout = insert_row(h(), "RL_Layouts", {{"LayoutTag", "CASE"}, {"LayoutName", "Case record"}});
    ASSERT_GT(layout, 0);
    for (const Field& field : kFields) {
      int pkey = insert_row(h(), "RL_Fields",
                            {{"FieldNumber", field.number}, {"FieldName", field.name}, {"LocalName", field.name},
                             {"FieldLength", field.length}, {"DataType", field.type}});
      ASSERT_GT(pkey, 0) << field.name;
      ASSERT_EQ(0, Qb_AddLayoutsPivot(h(), layout, pkey, field.start)) << field.name;
    }
    for (const auto& message : kMessages) {
      messageKeys[message[0]] = insert_row(h(), "RL_Messages", {{"MessageNumber", message[0]}, {"Message", message[1]}});
      ASSERT_GT(messageKeys[message[0]], 0);
    }
    for (const LookupTable& table : kLookupTables) {
      ASSERT_EQ(0, Qb_DefineTableStructure(h(), table.name, 0));
      for (const Column& column : table.columns)
        ASSERT_EQ(0, Qb_AddColumnDef(h(), column.name, nullptr, 0, column.length, 1, 0, nullptr, nullptr, nullptr,
                                     nullptr, column.indexed ? 1 : 0));
      int pkey = 0;
      ASSERT_EQ(0, Qb_CreateTable(h(), &pkey)) << table.name;
    }
  }

  // Every message of compiling the source: "error: " or "warning: " and the
  // text as the readers give it, errors first.
  Rows compile_report(const std::string& source) {
    int errors = -1, warnings = -1;
    if (Qb_CheckSyntax(h(), source.c_str(), &errors, &warnings) != 0) return engine_errors(h());
    Rows report;
    read_messages("error: ", errors, Qb_GetSyntaxError, report);
    read_messages("warning: ", warnings, Qb_GetSyntaxWarning, report);
    return report;
  }

  void read_messages(const std::string& kind, int count, int (*reader)(int, int, int*, char*, int), Rows& report) {
    for (int i = 0; i < count; ++i) {
      char text[512] = "";
      int line = 0;
      EXPECT_EQ(0, reader(h(), i, &line, text, sizeof text - 1));
      report.push_back(kind + text);
    }
  }

  // Stores an edit with that logic and default message through the row
  // cycle, compiles it and puts it into edit set kSet, made anew.
  void add_edit(const char* tag, const char* logic, const char* messageNumber) {
    std::string message = std::to_string(messageKeys[messageNumber]);
    int edit = insert_row(h(), "RL_Edits",
                          {{"EditTag", tag}, {"EditName", tag}, {"MessagePKey", message.c_str()}, {"EditLogic", logic}});
    ASSERT_GT(edit, 0);
    ASSERT_EQ(0, Edit_RecompileEditLogic(h(), tag));
    int set = insert_row(h(), "RL_EditSets", {{"EditSetTag", kSet}, {"EditSetName", "Incoming cases"}});
    ASSERT_EQ(0, Qb_AddEditSetsPivot(h(), set, edit));
  }

  // The messages of a run of the set over the record, then "failed" and the count.
  Rows run(const char* set, const char* layout, const char* record) {
    Rows messages;
    int failed = -1;
    EXPECT_EQ(0, Edit_RunEdits(h(), set, layout, record, 0, &failed, &messages, collector<MessageCallback>()));
    messages.push_back("failed " + std::to_string(failed));
    return messages;
  }

  // The summary's rows of the set over the layout, every edit included.
  Rows summary(const char* layout) {
    Rows rows;
    int totals[5];
    EXPECT_EQ(0, Edit_GetRunEditsSummary(h(), kSet, layout, 1, &totals[0], &totals[1], &totals[2], &totals[3],
                                         &totals[4], &rows, collector<RunSummaryCallback>()));
    return rows;
  }

  // The raw value of a field of layout CASE in its current record.
  std::string field_value(int fieldNumber) {
    char name[64], display[64], type[4], text[16];
    int key = 0, start = 0, length = 0;
    if (Edit_FieldDataByNumber(h(), "CASE", fieldNumber, &key, &start, &length, name, sizeof name, display,
                               sizeof display, type, sizeof type, text, sizeof text) != 0)
      return "<refused>";
    return text;
  }

  static constexpr const char* kSet = "INCOMING";
  std::map<std::string, int> messageKeys;
};

}  // namespace

TEST_F(DocsExamples, EveryQueltExampleCompilesAsThePageSays) {
  std::vector<Block> blocks = fenced_blocks(kQueltPage);
  int clean = 0, reported = 0;
  for (size_t i = 0; i < blocks.size(); ++i) {
    const Block& block = blocks[i];
    SCOPED_TRACE(kQueltPage + ":" + std::to_string(block.line));
    if (block.tag == kClean) {
      ++clean;
      EXPECT_EQ(Rows{}, compile_report(block.text()));
    } else if (block.tag == kReported) {
      ++reported;
      bool followed = i + 1 < blocks.size() && blocks[i + 1].tag == kReport;
      EXPECT_TRUE(followed) << "a " << kReported << " block is followed by a " << kReport << " block";
      if (followed) {
        EXPECT_EQ(blocks[i + 1].lines, compile_report(block.text()));
      }
    }
    EXPECT_EQ(Rows{}, engine_errors(h()));
  }
  // A page that lost its examples, or a renamed fence, shows none.
  EXPECT_GT(clean, 0) << "no " << kClean << " blocks in " << kQueltPage;
  EXPECT_GT(reported, 0) << "no " << kReported << " blocks in " << kQueltPage;
}

// The run that the README tells: an edit made through the row cycle fails a
// record, and a layout tag the metafile lacks loads a layout without fields,
// so the record passes and the summary counts the edit under notInLayout.
TEST_F(DocsExamples, ARunAndAnUnknownLayout) {
  add_edit("SEX", "if (inlist(#S\"Sex\", \"1,2,9\")) return PASS;\nreturn FAIL;", "1001");
  ASSERT_EQ(0, Edit_LoadEditSet(h(), kSet, "CASE"));
  EXPECT_EQ((Rows{"SEX|SEX|NONE|E|Sex (4) is not a valid code", "failed 1"}), run(kSet, "CASE", kCaseRecord));
  EXPECT_EQ((Rows{"SEX|SEX|NONE|1|0|0|1|0|0|0|0"}), summary("CASE"));

  ASSERT_EQ(0, Edit_LoadEditSet(h(), kSet, "NOSUCH"));
  EXPECT_EQ((Rows{"failed 0"}), run(kSet, "NOSUCH", kCaseRecord));
  EXPECT_EQ((Rows{"SEX|SEX|NONE|0|0|0|0|0|1|0|0"}), summary("NOSUCH"));
  // An edit-set tag the metafile lacks loads a set without edits.
  ASSERT_EQ(0, Edit_LoadEditSet(h(), "NOSET", "CASE"));
  EXPECT_EQ((Rows{"failed 0"}), run("NOSET", "CASE", kCaseRecord));
}

// A field past the end of the longest record seen on the handle reads as
// empty; a shorter record after a longer one is padded with blanks.
TEST_F(DocsExamples, AShortRecordsFieldsAsTheHeaderSays) {
  const int kPostalCode = 100;
  ASSERT_EQ(0, Edit_UpdateRecordByTag(h(), "CASE", "1062"));
  EXPECT_EQ("", field_value(kPostalCode));
  ASSERT_EQ(0, Edit_UpdateRecordByTag(h(), "CASE", kCaseRecord));
  EXPECT_EQ("10001", field_value(kPostalCode));
  ASSERT_EQ(0, Edit_UpdateRecordByTag(h(), "CASE", "1062"));
  EXPECT_EQ("     ", field_value(kPostalCode));
}
